"""What a reply of each request mode holds: the data line's kind and fields,
and which line closes a whole reply."""

from dataclasses import dataclass

# Field kinds: "date" (y/m/d or yyyy/mm/dd), "stamp" (a date with an optional
# time after a blank), "time" (hh:nn:ss), "price" and "float" (decimal text,
# empty when the store held none), "int" (a size or volume: whole numbers,
# kept as floats when one is not), "volume" (as "int", or "-" for none).

# Closing rules.
COUNT = "count"        # a NOTE|RECORDCOUNT| line ends every reply with data
OPTIONAL = "optional"  # the line comes only when the request was served as
                       # mode 4 (bars of under a minute), and then must match
SINGLE = "single"      # exactly one data line or an error; no count line


@dataclass(frozen=True)
class Layout:
    mode: int
    kind: bytes
    fields: tuple          # (name, field kind) after the record number
    closing: str
    bare_error: bool = False   # the final "ERROR|Record not found.|" comes without CR LF
    dashes: bool = False       # empty slots as lines of "-" fields
    retries: bool = False      # the server may write the reply again after a store error

    @property
    def index(self):
        return "date" if self.fields[0][1] == "stamp" else "time"

    @property
    def columns(self):
        return [n for n, k in self.fields if k not in ("date", "time", "stamp")]

    @property
    def pipes(self):
        return len(self.fields) + 2


_TICK = (("date", "date"), ("time", "time"), ("bid", "price"), ("offer", "price"),
         ("price", "price"), ("bid_size", "int"), ("offer_size", "int"), ("volume", "int"))
_BAR = (("date", "date"), ("time", "time"), ("open", "price"), ("high", "price"),
        ("low", "price"), ("close", "price"), ("volume", "int"))

LAYOUTS = {
    0: Layout(0, b"TICK", _TICK, COUNT),
    1: Layout(1, b"TICK", (("date", "stamp"), ("high", "price"), ("low", "price"),
                           ("close", "price"), ("volume", "int"), ("turnover", "float")),
              COUNT, bare_error=True, retries=True),
    2: Layout(2, b"TICK", _TICK, SINGLE, bare_error=True),
    3: Layout(3, b"TICK", _TICK, COUNT),
    4: Layout(4, b"TICK", _BAR, COUNT),
    5: Layout(5, b"TICK", _BAR, OPTIONAL),
    6: Layout(6, b"INTERVAL", _BAR[:-1] + (("volume", "volume"),), COUNT, dashes=True),
}
