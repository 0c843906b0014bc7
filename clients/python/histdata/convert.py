"""Field texts to values: one row at a time for streaming, and a batch of
lines at a time through pandas' C reader for DataFrames. Both paths hold a
line to the same rules (framing, field count, record numbers, dates and
times), so a row and a DataFrame show the same values."""

import io
from collections import namedtuple
from datetime import date, datetime, time

import numpy as np
import pandas as pd

from .errors import ProtocolError

_NS_PER_S = 1_000_000_000


def parse_date(text):
    """date of "2026/12/7" or "2026/12/07"."""
    y, m, d = text.split("/")
    return date(int(y), int(m), int(d))


def parse_time(text):
    """time of "09:30:00" (hours, minutes and optional seconds)."""
    parts = [int(p) for p in text.split(":")]
    if not 2 <= len(parts) <= 3:
        raise ValueError(text)
    return time(*parts)


def parse_stamp(text):
    """datetime of a stored date, with the time of day after a blank when it
    is not midnight."""
    day, _, clock = text.partition(" ")
    return datetime.combine(parse_date(day), parse_time(clock) if clock else time())


def _framed(line):
    return line.endswith(b"|\r\n") and line.count(b"\r") == 1 and line.count(b"\n") == 1


def _int(text):
    """The whole number of a field that the DataFrame reads as int64, which
    takes "7.0" or "7." for 7 as well."""
    try:
        return int(text)
    except ValueError:
        value = float(text)
        if not value.is_integer():
            raise
        return int(value)


def _number(text):
    return float(text) if text else None


def _whole(text):
    """An int when the text is a whole number, else the float (or None)."""
    if not text:
        return None
    value = float(text)
    return int(value) if value.is_integer() else value


_ROW_TYPES = {}


def row_type(layout):
    if layout.mode not in _ROW_TYPES:
        _ROW_TYPES[layout.mode] = namedtuple(f"Mode{layout.mode}Row", [layout.index] + layout.columns)
    return _ROW_TYPES[layout.mode]


def row(layout, line):
    """One data line (bytes, CR LF included) as a named tuple; the record
    number is returned beside it."""
    if not _framed(line):
        raise ProtocolError(f"a data line not ended by |CR LF: {line!r}")
    _check_chars((line,), line, layout)
    parts = line[:-3].split(b"|")
    if len(parts) != layout.pipes:
        raise ProtocolError(f"expected {layout.pipes - 2} fields: {line!r}")
    try:
        parts = [p.decode("ascii") for p in parts]
        number = _int(parts[1])
        values = parts[2:]
        if layout.index == "date":
            out = [parse_stamp(values[0])]
            rest = zip(layout.fields[1:], values[1:])
        else:
            y, m, d = map(_int, values[0].split("/"))
            hh, mm, ss = map(_int, values[1].split(":"))
            out = [datetime(y, m, d, hh, mm, ss)]
            rest = zip(layout.fields[2:], values[2:])
        if layout.dashes:
            out += _grid_values(values[2:])
        else:
            for (_, kind), text in rest:
                out.append(_whole(text) if kind == "int" else _number(text))
    except (ValueError, OverflowError):
        raise ProtocolError(f"bad field in {line!r}") from None
    return number, row_type(layout)(*out)


def _grid_values(texts):
    """Open, high, low, close and volume of a grid line. An empty slot has
    "-" (or nothing) for all five; a price line's "-" volume is none traded."""
    prices = [None if t in ("", "-") else float(t) for t in texts[:4]]
    no_volume = texts[4] in ("", "-")
    if None in prices:
        if any(p is not None for p in prices) or not no_volume:
            raise ValueError(texts)
        return prices + [None]
    return prices + [0 if no_volume else _whole(texts[4])]


# -- DataFrames

class Columns:
    """Typed columns gathered batch by batch."""

    def __init__(self, layout):
        self.layout = layout
        self.stamps = []
        self.values = {n: [] for n in layout.columns}
        self.count = 0

    def clear(self):
        self.__init__(self.layout)

    def add(self, lines):
        """Converts a batch of data lines; checks their framing, their field
        count and their record numbers, which must run on from the last
        batch."""
        layout = self.layout
        if not lines:
            return
        body = b"".join(lines)
        n = len(lines)
        bars = _check_framing(lines, body, layout.pipes)
        _check_chars(lines, body, layout)
        split = layout.index == "time"
        if split:
            # Dates and times become numeric fields of their own, which the
            # C reader reads without making a text object per field.
            _check_date_time(np.frombuffer(body, np.uint8), bars, n, layout.pipes)
            body = body.translate(_DATE_TIME_SPLIT)
            kinds = [np.int64] * 7 + [np.float64] * (len(layout.fields) - 2)
        else:
            kinds = [np.int64, object] + [np.float64] * (len(layout.fields) - 1)
        width = len(kinds) + 2
        # pandas' fast decimal reader ("high") is off by one unit in the
        # last place for some numbers of 14 or more digits; its exact one
        # ("round_trip") costs twice as much. Only batches with a field that
        # long, which replies seldom hold, are read by the exact one.
        widest = int(np.diff(bars).max()) - 1
        precision = "round_trip" if widest >= _LONG_FIELD else "high"
        try:
            frame = pd.read_csv(io.BytesIO(body), sep="|", header=None, engine="c",
                                names=range(width), usecols=range(1, width - 1),
                                dtype=dict(enumerate(kinds, start=1)),
                                na_values=["", "-"] if layout.dashes else [""],
                                keep_default_na=False, float_precision=precision)
        except (ValueError, TypeError, OverflowError) as e:
            raise ProtocolError(f"bad field in a batch of data lines: {e}") from None
        cols = [frame[i].to_numpy() for i in range(1, width - 1)]
        numbers = cols[0]
        due = np.arange(self.count, self.count + n)
        if not np.array_equal(numbers, due):
            at = int(np.argmax(numbers != due))
            raise ProtocolError(f"record number {numbers[at]} where {due[at]} was due")
        self.count += n
        if split:
            self.stamps.append(_stamps_ns(*cols[1:7]))
            values = cols[7:]
        else:
            self.stamps.append(_texts_ns(frame[2], parse_stamp))
            values = cols[2:]
        for name, v in zip(layout.columns, values):
            self.values[name].append(v)

    def frame(self):
        layout = self.layout
        index = pd.DatetimeIndex(_concat(self.stamps, np.int64).view("datetime64[ns]"),
                                 name=layout.index)
        data = {}
        for name, kind in layout.fields:
            if name not in self.values:
                continue
            v = _concat(self.values[name], np.float64)
            if kind == "int":
                data[name] = _ints(v)
            elif kind == "volume":
                data[name] = _grid_volume(v, data["open"])
            else:
                data[name] = v
        if layout.dashes:
            _check_dashes(data)
        return pd.DataFrame(data, index=index)


def _concat(parts, dtype):
    return np.concatenate(parts) if parts else np.empty(0, dtype)


def _whole_numbers(v):
    """Whether every value of v is a whole number that int64 holds (NaN
    aside)."""
    with np.errstate(invalid="ignore"):
        return bool(((np.floor(v) == v) & (np.abs(v) < 2.0 ** 63) | np.isnan(v)).all())


def _ints(v):
    """int64 when every value is whole and present; otherwise the floats, so
    that nothing is lost."""
    return v.astype(np.int64) if _whole_numbers(v) and not np.isnan(v).any() else v


def _grid_volume(v, opens):
    """A price line's "-" volume is none traded (0); a dash line has none
    (NA, or NaN when a volume is not a whole number and the column stays
    float)."""
    if (np.isnan(opens) & ~np.isnan(v)).any():
        raise ProtocolError("a bar line with a volume but no opening price")
    v = np.where(np.isnan(v) & ~np.isnan(opens), 0.0, v)
    if not _whole_numbers(v):
        return v
    return pd.array(np.where(np.isnan(v), None, v), dtype="Int64") if np.isnan(v).any() \
        else v.astype(np.int64)


def _check_dashes(data):
    prices = np.vstack([data[n] for n in ("open", "high", "low", "close")])
    gaps = np.isnan(prices)
    if not (gaps.all(axis=0) == gaps.any(axis=0)).all():
        raise ProtocolError("a bar line with some prices missing")


_DATE_TIME_SPLIT = bytes.maketrans(b"/:", b"||")

# What each byte of a data line is to _check_chars: a digit or "." (1), a
# separator (0), a blank (s), anything else (!), letters included.
_MARKS = bytes(ord("1") if c in b"0123456789." else ord("0") if c in b"-|/:\r\n"
               else ord("s") if c == ord(" ") else ord("!") for c in range(256))
_LONG_FIELD = 13  # characters


def _check_chars(lines, body, layout):
    """Refuses what no field the server writes may hold: a letter past the
    line's kind (an exponent among them), a sign other than "-", a blank
    outside a daily line's date. Within these bounds Python's float() and
    pandas' reader take the same texts."""
    marks = body.translate(_MARKS)
    odd = marks.count(b"!") if len(marks) < 1 << 16 else \
        np.count_nonzero(np.frombuffer(marks, np.uint8) == ord("!"))
    if odd != len(lines) * len(layout.kind):
        raise ProtocolError(f"a data line with a character no field holds: {_first_odd(lines)!r}")
    if b"s" in marks:
        if layout.index == "time" or any(l.count(b" ") != l.split(b"|", 3)[2].count(b" ")
                                         for l in lines):
            raise ProtocolError(f"a blank outside the date of a data line: {_first_odd(lines)!r}")


def _first_odd(lines):
    return next((l for l in lines if l.translate(_MARKS).count(b"!") > len(l.split(b"|", 1)[0])
                 or b" " in l), lines[0])


def _check_framing(lines, body, pipes):
    """Each line of the batch ends in |CR LF, holds no other CR or LF and
    has the layout's number of pipes. Answers the places of the pipes."""
    a = np.frombuffer(body, np.uint8)
    ends = np.flatnonzero(a == 10)
    n = len(lines)
    if len(ends) != n or ends[0] < 2 or np.count_nonzero(a == 13) != n \
            or not (a[ends - 1] == 13).all() or not (a[ends - 2] == 124).all():
        bad = next(l for l in lines if not _framed(l))
        raise ProtocolError(f"a data line not ended by |CR LF: {bad!r}")
    # With the right count over the batch, every line has its own when each
    # line's last pipe, the one before its CR LF, is where the count puts it.
    bars = np.flatnonzero(a == 124)
    if len(bars) != n * pipes or not (bars[pipes - 1::pipes] == ends - 2).all():
        bad = next(l for l in lines if l.count(b"|") != pipes)
        raise ProtocolError(f"expected {pipes - 2} fields: {bad!r}")
    return bars


def _check_date_time(a, bars, n, pipes):
    """Each line's two "/" are in its date field and its two ":" in its time
    field: split at them, fields moved across would be read as others."""
    slashes, colons = np.flatnonzero(a == ord("/")), np.flatnonzero(a == ord(":"))
    if len(slashes) != 2 * n or len(colons) != 2 * n \
            or not ((slashes[0::2] > bars[1::pipes]) & (slashes[1::2] < bars[2::pipes])
                    & (colons[0::2] > bars[2::pipes]) & (colons[1::2] < bars[3::pipes])).all():
        raise ProtocolError("a data line whose date or time is not y/m/d and h:n:s")


def _texts_ns(column, parse):
    """ns since the epoch of each datetime text of a column: each distinct
    text is read once."""
    codes, uniques = pd.factorize(column.to_numpy())
    if (codes < 0).any():
        raise ProtocolError("a data line without its date")
    try:
        table = np.array([pd.Timestamp(parse(t)).value for t in uniques], dtype=np.int64)
    except (ValueError, OverflowError) as e:
        raise ProtocolError(f"bad date: {e}") from None
    return table[codes]


def _stamps_ns(y, m, d, hh, mm, ss):
    """ns since the epoch of dates and times given as whole-number parts."""
    # Years as far as pandas' nanosecond timestamps reach.
    if not ((m >= 1) & (m <= 12) & (d >= 1) & (d <= 31) & (y >= 1678) & (y <= 2261)).all() \
            or not ((hh >= 0) & (hh < 24) & (mm >= 0) & (mm < 60) & (ss >= 0) & (ss < 60)).all():
        raise ProtocolError("a date or time out of range")
    months = (y - 1970) * 12 + (m - 1)
    days = months.astype("datetime64[M]").astype("datetime64[D]") + (d - 1)
    if ((days.astype("datetime64[M]") - months.astype("datetime64[M]")) != np.timedelta64(0, "M")).any():
        raise ProtocolError("a day past the end of its month")
    seconds = days.astype(np.int64) * 86400 + hh * 3600 + mm * 60 + ss
    return seconds * _NS_PER_S
