"""The client: one method per request mode, each building the request from
Python dates, times and datetimes and answering a DataFrame, or with
stream=True an iterator of rows for replies too big to hold."""

from datetime import date, datetime, time, timedelta

from . import convert
from .layouts import LAYOUTS
from .reply import RESTART, Reply
from .errors import IncompleteReply, ProtocolError
from .transport import Connection

_BATCH = 1 << 15  # data lines converted at a time


def _date_text(d):
    return f"{d.year}/{d.month}/{d.day}"


def _time_text(t):
    return f"{t.hour:02d}:{t.minute:02d}:{t.second:02d}"


def window(start, end):
    """Request parameters of a start and an end: both datetimes (or dates,
    the end day taken whole), both times of day (today's, as the server
    takes them), or both None (the server's defaults: today, all day)."""
    if start is None and end is None:
        return {}
    if start is None or end is None:
        raise ValueError("give both start and end, or neither")
    if isinstance(start, time) and isinstance(end, time):
        return {"timeStart": _time_text(start), "timeOver": _time_text(end)}
    if isinstance(start, time) or isinstance(end, time):
        raise TypeError("start and end must both be times of day, or both dates or datetimes")
    if not isinstance(start, (date, datetime)) or not isinstance(end, (date, datetime)):
        raise TypeError("start and end must be dates, datetimes or times")
    if not isinstance(start, datetime):
        start = datetime.combine(start, time())
    if not isinstance(end, datetime):
        end = datetime.combine(end, time(23, 59, 59))
    return {"dateStart": _date_text(start), "dateOver": _date_text(end),
            "timeStart": _time_text(start), "timeOver": _time_text(end)}


def _seconds(interval):
    if isinstance(interval, timedelta):
        return int(interval.total_seconds())
    return int(interval)


class Client:
    """A history server at `url` (e.g. "http://host:8080/"); `timeout` in
    seconds applies to connecting and to each wait for reply bytes."""

    def __init__(self, url, timeout=30.0, encoding="utf-8"):
        self.url = url
        self.timeout = timeout
        self.encoding = encoding

    # -- one method per mode

    def ticks(self, symbol, start=None, end=None, *, stream=False):
        """Every tick from start to end (mode 0)."""
        return self.request(0, symbol, window(start, end), stream)

    def changes(self, symbol, start=None, end=None, *, days=0, stream=False):
        """Ticks whose price changed (mode 3); `days` > 0 starts that many
        trading days back from the end day."""
        return self.request(3, symbol, {**window(start, end), "DayCount": days}, stream)

    def latest(self, symbol):
        """The latest tick at least one hour old (mode 2), as one row."""
        return self.request(2, symbol, {}, False)

    def bars(self, symbol, interval, start=None, end=None, *, days=0, stream=False):
        """Bars of `interval` seconds (or a timedelta) built from the ticks
        (mode 4)."""
        params = {**window(start, end), "interval": _seconds(interval), "DayCount": days}
        return self.request(4, symbol, params, stream)

    def minute_bars(self, symbol, interval, start=None, end=None, *, back=0, stream=False):
        """Bars of whole minutes inside the trading sessions (mode 5), plus up
        to `back` bars from before start."""
        params = {**window(start, end), "interval": _seconds(interval), "BackCount": back}
        return self.request(5, symbol, params, stream)

    def grid(self, symbol, interval, start=None, end=None, *, days=0, stream=False):
        """One row per `interval` slot of each day from the start date to the
        end date (mode 6), the day's slots running from start's time of day
        to end's; empty slots are rows of NaN."""
        params = {**window(start, end), "interval": _seconds(interval), "DayCount": days}
        return self.request(6, symbol, params, stream)

    def daily(self, symbol, start, end, *, stream=False):
        """Daily high, low, close, volume and turnover (mode 1)."""
        if isinstance(start, datetime):
            start = start.date()
        if isinstance(end, datetime):
            end = end.date()
        params = {"dateStart": _date_text(start), "dateOver": _date_text(end)}
        return self.request(1, symbol, params, stream)

    # -- any mode

    def request(self, mode, symbol, params, stream=False):
        layout = LAYOUTS[mode]
        query = {"symbol": symbol, "mode": mode, **params}
        if stream:
            return Rows(self, layout, query)
        with Connection(self.url, query, self.timeout) as conn:
            df = read_frame(layout, conn.lines(), self.encoding)
        df.attrs["symbol"] = symbol
        return df


def read_frame(layout, lines, encoding="utf-8"):
    """The DataFrame of a reply's lines; converts them a batch at a time as
    they arrive, so at most one batch of raw lines is held."""
    reply = Reply(layout, lines, encoding)
    columns = convert.Columns(layout)
    for batch in reply.batches(_BATCH):
        if batch is RESTART:  # the server began again: keep the try that finished
            columns.clear()
        else:
            columns.add(batch)
    df = columns.frame()
    df.attrs.update(mode=layout.mode, ename=reply.names.get("ename"),
                    cname=reply.names.get("cname"), record_count=reply.record_count,
                    messages=reply.messages)
    return df


class Rows:
    """Iterator of a reply's rows as named tuples, read as they arrive. The
    names are in `names` once the first row is out. A reply found incomplete
    raises where that shows: at its end, after the rows before it."""

    def __init__(self, client, layout, query):
        self._conn = Connection(client.url, query, client.timeout)
        self._reply = Reply(layout, self._conn.lines(), client.encoding)
        self._rows = self._read(layout)

    @property
    def names(self):
        return self._reply.names

    @property
    def columns(self):
        return [self._reply.layout.index] + self._reply.layout.columns

    def _read(self, layout):
        expected = 0
        try:
            for batch in self._reply.batches(1):
                if batch is RESTART:
                    raise IncompleteReply(
                        "the server wrote the reply again after a store error; "
                        "rows already handed out were repeated")
                number, row = convert.row(layout, batch[0])
                if number != expected:
                    raise ProtocolError(f"record number {number} where {expected} was due")
                expected += 1
                yield row
        finally:
            self.close()

    def __iter__(self):
        return self

    def __next__(self):
        return next(self._rows)

    def close(self):
        self._conn.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._rows.close()
        self.close()
