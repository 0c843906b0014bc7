"""Client of the market-data history server: replies as pandas DataFrames."""

from .client import Client, Rows
from .errors import (BadRequest, HistDataError, IncompleteReply, NotFound, ProtocolError,
                     ServerBusy, ServerError)

__all__ = ["Client", "Rows", "HistDataError", "ServerError", "NotFound", "BadRequest",
           "ServerBusy", "IncompleteReply", "ProtocolError"]
