"""Exceptions raised by the client: each says what went wrong in the server's
own words where the server gave any."""


class HistDataError(Exception):
    """Base of every error of this package."""


class ServerError(HistDataError):
    """The server answered with ERROR lines; `messages` holds their texts."""

    def __init__(self, messages):
        self.messages = list(messages)
        super().__init__("; ".join(self.messages))


class NotFound(ServerError):
    """No data for the symbol, dates or times asked for."""


class BadRequest(ServerError):
    """The server refused a parameter (time, date, pairing, interval)."""


class ServerBusy(HistDataError):
    """The server turned the request away (all request modules busy, or no
    thread free); trying again later may succeed."""

    def __init__(self, status, message):
        self.status = status
        super().__init__(f"HTTP {status}: {message}")


class IncompleteReply(HistDataError):
    """The reply ended before it was whole: the connection or the chunked
    body broke, or the server stopped before the line that closes the reply."""


class ProtocolError(HistDataError):
    """A line that no reply of this kind may hold."""


_BAD_REQUEST = {
    "Invalid time format(yyyy/m/d).",
    "Invalid date format(yyyy/m/d).",
    "Invalid number of parameters.",
    "Invalid interval.",
}
_NOT_FOUND = {"No data for specified date", "Record not found."}


def error_for(messages):
    """The exception for a reply that held only these ERROR texts."""
    if any(m in _BAD_REQUEST for m in messages):
        return BadRequest(messages)
    if any(m in _NOT_FOUND for m in messages):
        return NotFound(messages)
    return ServerError(messages)
