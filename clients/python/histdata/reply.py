"""Reads a reply's lines in order and keeps what is not data: the symbol's
names, the record count and ERROR texts. Data lines are handed on as they
come; the end of the reply is checked against the mode's closing rule, so a
reply that stopped early raises instead of passing for a short answer."""

from .errors import IncompleteReply, ProtocolError, error_for
from .layouts import COUNT, SINGLE

RESTART = None  # handed on in place of a line when the server began the reply again

_CRLF = b"\r\n"
_BARE_NOT_FOUND = b"ERROR|Record not found.|"


class Reply:
    def __init__(self, layout, lines, encoding="utf-8"):
        self.layout = layout
        self.encoding = encoding
        self.names = {}
        self.record_count = None
        self.messages = []
        self._lines = lines

    def _text(self, raw):
        return raw.decode(self.encoding, "replace")

    def batches(self, size):
        """Yields the data lines (bytes, CR LF included) in lists of up to
        `size`, or RESTART when the server began the reply again; raises at
        the end when the reply is not whole."""
        layout = self.layout
        prefix = layout.kind + b"|"
        restart = prefix + b"0|" if layout.retries else None
        seen = 0  # data lines before `batch`
        batch = []
        closed = False
        # Only the kind of a data line is looked at here; the consumers check
        # its framing a batch at a time. A full batch waits for the next data
        # line, so that the reply's last line is still held at the end.
        for line in self._lines:
            if line.startswith(prefix):
                if restart and line.startswith(restart) and (seen or batch):
                    seen, batch = 0, []
                    yield RESTART
                if len(batch) >= size:
                    if closed:
                        raise ProtocolError(f"data after the end of the reply: {batch[0]!r}")
                    yield batch
                    seen += len(batch)
                    batch = []
                batch.append(line)
                continue
            if batch:
                if closed:
                    raise ProtocolError(f"data after the end of the reply: {batch[0]!r}")
                yield batch
                seen += len(batch)
                batch = []
            if closed:
                raise ProtocolError(f"a line after the end of the reply: {line!r}")
            if not line.endswith(_CRLF):
                if layout.bare_error and line == _BARE_NOT_FOUND:
                    self.messages.append("Record not found.")
                    closed = True
                    continue
                raise IncompleteReply(f"the reply ends inside a line: {line!r}")
            parts = line[:-2].split(b"|")
            if len(parts) < 3 or parts[-1] != b"":
                raise ProtocolError(f"not a reply line: {line!r}")
            if parts[0] == b"NOTE" and parts[1] in (b"ENAME", b"CNAME"):
                if seen:
                    if not layout.retries:
                        raise ProtocolError(f"names after data lines: {line!r}")
                    seen = 0
                    yield RESTART
                self.names[parts[1].decode().lower()] = self._text(b"|".join(parts[2:-1]))
            elif parts[0] == b"NOTE" and parts[1] == b"RECORDCOUNT" and len(parts) == 4:
                if layout.closing == SINGLE:
                    raise ProtocolError(f"a record count in a mode {layout.mode} reply")
                try:
                    count = int(parts[2])
                except ValueError:
                    raise ProtocolError(f"bad record count: {line!r}") from None
                if count != seen:
                    raise ProtocolError(f"the record count says {count}, the reply held {seen} lines")
                self.record_count = count
                closed = True
            elif parts[0] == b"ERROR" and len(parts) == 3:
                self.messages.append(self._text(parts[1]))
            else:
                raise ProtocolError(f"unexpected line: {line!r}")
        if batch:
            if not batch[-1].endswith(_CRLF):
                raise IncompleteReply(f"the reply ends inside a line: {batch[-1]!r}")
            if closed:
                raise ProtocolError(f"data after the end of the reply: {batch[0]!r}")
            yield batch
            seen += len(batch)
        self._finish(seen)

    def _finish(self, seen):
        layout = self.layout
        if self.messages and not seen:
            raise error_for(self.messages)
        if layout.closing == COUNT and self.record_count is None:
            raise IncompleteReply(
                f"the mode {layout.mode} reply ended after {seen} data lines without its record count")
        if layout.closing == SINGLE and seen != 1:
            if seen == 0:
                raise IncompleteReply("the reply ended without its tick or error line")
            raise ProtocolError(f"{seen} tick lines where one was expected")
