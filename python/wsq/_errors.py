"""The library's statuses and the exceptions that carry them."""
from __future__ import annotations

import enum

from . import _native


class Status(enum.IntEnum):
    """What a call of the library did (wsq_status in wsq.h). 1 to 11 tell what is wrong with a
    stream, 12 that memory ran out, 13 to 15 what the encoder refused, 32 to 49 the flaws of a
    transaction file (wsq_transaction_status in transaction.h)."""

    OK = 0
    NOT_WSQ = 1
    TRUNCATED = 2
    MARKER = 3
    SEGMENT = 4
    FRAME = 5
    TRANSFORM = 6
    QUANTIZATION = 7
    HUFFMAN = 8
    BLOCK = 9
    TRAILING = 10
    LIMIT = 11
    MEMORY = 12
    ARGUMENT = 13
    IMAGE = 14
    BITRATE = 15
    BAD_TAG = 32
    LEN_NOT_FIRST = 33
    LEN_NOT_NUMERIC = 34
    LEN_PAST_END = 35
    FS_MISSING = 36
    LEN_MISMATCH = 37
    BINARY_LEN_SHORT = 38
    CNT_MALFORMED = 39
    CNT_COUNT = 40
    TRAILING_BYTES = 41
    CNT_MISMATCH = 42
    IDC_DUPLICATE = 43
    MANDATORY_MISSING = 44
    CGA_UNKNOWN = 45
    HLL_VLL_MISMATCH = 46
    WSQ_BAD = 47
    RAW_SIZE_MISMATCH = 48
    BAD_VALUE = 49


class WsqError(Exception):
    """A failure of the codec: the library's status, the byte offset of the flaw in the input
    (decoding and reading a transaction; 0 otherwise) and a message in words. Raised as WsqValueError or WsqMemoryError."""

    def __init__(self, status: int, offset: int, message: str) -> None:
        self.status = _known(status)
        self.offset = offset
        self.message = message
        name = _native.lib.wsq_strerror(status).decode()
        where = f" at byte {offset}" if located(status) else ""
        super().__init__(f"{name}{where}: {message}")

    def __reduce__(self):
        """Pickles by the three facts, so the exception crosses to other processes (Dask)."""
        return type(self), (int(self.status), self.offset, self.message)


class WsqValueError(WsqError, ValueError):
    """Bad data (a flawed or hostile stream, an image the format cannot code) or a bad argument."""


class WsqMemoryError(WsqError, MemoryError):
    """The codec's working memory could not be allocated."""


def located(status: int) -> bool:
    """Whether the status is a flaw at a place in the input (a stream's or a transaction's)."""
    return Status.NOT_WSQ <= status <= Status.LIMIT or Status.BAD_TAG <= status <= Status.BAD_VALUE


def _known(status: int) -> int:
    """The status as a Status member; a value added to the library later stays a plain int."""
    try:
        return Status(status)
    except ValueError:
        return status


def failure(status: int, offset: int, message: str) -> WsqError:
    """The exception for a failed call: WsqMemoryError for memory, WsqValueError otherwise."""
    kind = WsqMemoryError if status == Status.MEMORY else WsqValueError
    return kind(status, offset, message)


def check(status: int, error: _native.Error, base: int = 0) -> None:
    """Raises the failure that a call reported in error, its offset counted from base."""
    if status != Status.OK:
        raise failure(status, base + error.offset, error.message.decode(errors="replace"))


def argument_error(message: str) -> WsqValueError:
    """A bad argument found before calling the library, reported as the library reports its own."""
    return WsqValueError(Status.ARGUMENT, 0, message)
