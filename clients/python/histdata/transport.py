"""HTTP/1.1 GET over a plain socket, handing the body on line by line as it
arrives. The server sends one chunk per reply line; decoding the chunked
framing here, in large reads, costs far less per line than the standard
library's HTTP client, and a body that breaks off (a short chunk, a missing
last chunk, a closed connection) is told apart from one that ended."""

import socket
from urllib.parse import quote, urlsplit

from .errors import HistDataError, IncompleteReply, ProtocolError, ServerBusy

_READ = 1 << 16
_MAX_HEAD = 1 << 16


def split_url(url):
    """(host, port, path) of an http:// URL."""
    parts = urlsplit(url)
    if parts.scheme != "http" or not parts.hostname:
        raise ValueError(f"not an http:// URL: {url!r}")
    return parts.hostname, parts.port or 80, parts.path or "/"


def query_string(params):
    return "&".join(f"{k}={quote(str(v), safe='/:')}" for k, v in params.items())


class Connection:
    """One request and its reply. `lines()` yields the body's lines, each with
    its line end; a last piece without one is yielded as it is."""

    def __init__(self, url, params, timeout):
        host, port, path = split_url(url)
        self._sock = socket.create_connection((host, port), timeout=timeout)
        self._buf = b""
        self._pos = 0
        try:
            target = path + ("?" + query_string(params) if params else "")
            self._sock.sendall(
                f"GET {target} HTTP/1.1\r\nHost: {host}:{port}\r\n"
                "Accept-Encoding: identity\r\nConnection: close\r\n\r\n".encode("ascii"))
            self._read_head()
        except BaseException:
            self.close()
            raise

    def close(self):
        if self._sock is not None:
            self._sock.close()
            self._sock = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- reading

    def _more(self, what):
        """Appends the next read to the unread part; raises at end of stream."""
        data = self._sock.recv(_READ)
        if not data:
            raise IncompleteReply(f"the connection closed {what}")
        self._buf = self._buf[self._pos:] + data
        self._pos = 0

    def _read_head(self):
        while True:
            end = self._buf.find(b"\r\n\r\n")
            if end >= 0:
                break
            if len(self._buf) > _MAX_HEAD:
                raise ProtocolError("reply head too long")
            self._more("before the reply head was whole")
        head = self._buf[:end].decode("latin-1").split("\r\n")
        self._pos = end + 4
        status = head[0].split(" ", 2)
        if len(status) < 2 or not status[0].startswith("HTTP/") or not _decimal(status[1]):
            raise ProtocolError(f"not an HTTP status line: {head[0]!r}")
        self.status = int(status[1])
        self.reason = status[2] if len(status) > 2 else ""
        self.headers = {}
        for h in head[1:]:
            name, _, value = h.partition(":")
            self.headers[name.strip().lower()] = value.strip()
        if self.status in (500, 503):
            raise ServerBusy(self.status, self.reason or self._short_body())
        if self.status != 200:
            raise HistDataError(f"HTTP {self.status} {self.reason}")

    def _short_body(self):
        try:
            self._sock.settimeout(1)
            while len(self._buf) - self._pos < 4096:
                self._more("")
        except (OSError, IncompleteReply):
            pass
        return self._buf[self._pos:self._pos + 4096].decode("latin-1").strip()

    def lines(self):
        if self.headers.get("transfer-encoding", "").lower() == "chunked":
            return self._chunk_lines()
        if "content-length" in self.headers:
            length = self.headers["content-length"]
            if not _decimal(length):
                raise ProtocolError(f"bad Content-Length {length!r}")
            pieces = self._sized(int(length))
        else:
            pieces = self._until_close()
        return _split_lines(pieces)

    def _line_end(self, what):
        """Index of the next CR LF in the buffer, reading until there is one."""
        j = self._buf.find(b"\r\n", self._pos)
        while j < 0:
            self._more(what)
            j = self._buf.find(b"\r\n", self._pos)
        return j

    def _chunk_lines(self):
        # The buffer and position live in locals while whole chunks are at
        # hand; they go back to the object only to read more. A chunk that
        # is one whole line (as the server sends them) is a line as it is.
        buf, pos = self._buf, self._pos
        pending = b""
        while True:
            j = buf.find(b"\r\n", pos)
            if j < 0:
                self._pos = pos
                self._more("inside a chunk size line")
                buf, pos = self._buf, self._pos
                continue
            size = _chunk_size(buf[pos:j])
            start = j + 2
            end = start + size
            if end + 2 > len(buf):
                self._pos = pos  # the size line is read again with the rest
                self._more(f"inside a chunk of {size} bytes")
                buf, pos = self._buf, self._pos
                continue
            if size == 0:
                self._pos = start
                self._trailer()
                if pending:
                    yield pending
                return
            if buf[end:end + 2] != b"\r\n":
                raise ProtocolError("chunk data longer than its size")
            pos = end + 2
            if not pending and buf.find(b"\n", start, end) == end - 1:
                yield buf[start:end]
            else:
                *whole, pending = (pending + buf[start:end]).split(b"\n")
                for line in whole:
                    yield line + b"\n"

    def _trailer(self):
        while True:
            j = self._line_end("inside the chunked trailer")
            line_empty = j == self._pos
            self._pos = j + 2
            if line_empty:
                return

    def _sized(self, length):
        left = length
        while left > 0:
            if self._pos >= len(self._buf):
                self._more(f"{left} bytes before the declared length")
            piece = self._buf[self._pos:self._pos + left]
            self._pos += len(piece)
            left -= len(piece)
            yield piece

    def _until_close(self):
        if self._pos < len(self._buf):
            yield self._buf[self._pos:]
        while True:
            data = self._sock.recv(_READ)
            if not data:
                return
            yield data


def _decimal(text):
    """Whether a head's number is plain ASCII digits (str.isdigit also takes
    other scripts' digits, which int() refuses)."""
    return text.isascii() and text.isdigit()


def _chunk_size(text):
    """The size of a chunk size line: hex digits, maybe then ";" and an
    extension. int() alone would also take a sign, blanks and "_", and a
    negative size would send the reader back over what it has read."""
    digits = text if text.isalnum() else text.split(b";", 1)[0].rstrip(b" \t")
    if digits.isalnum():
        try:
            return int(digits, 16)
        except ValueError:
            pass
    raise ProtocolError(f"bad chunk size {text!r}")


def _split_lines(pieces):
    """Lines of the body. A piece that is exactly one line (how the server
    sends them) passes through as it is."""
    pending = b""
    for piece in pieces:
        if not pending and piece.endswith(b"\n") and piece.find(b"\n") == len(piece) - 1:
            yield piece
            continue
        pending += piece
        start = 0
        while True:
            j = pending.find(b"\n", start)
            if j < 0:
                break
            yield pending[start:j + 1]
            start = j + 1
        pending = pending[start:]
    if pending:
        yield pending
