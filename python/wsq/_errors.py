"""The library's statuses and the exceptions that carry them."""
from __future__ import annotations

import enum

from . import _native


class Status(enum.IntEnum):
    """What a call of the library did (wsq_status in wsq.h). 1 to 11 tell what is wrong with a
    stream, 12 that memory ran out, 13 to 15 what the encoder refused."""

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


class WsqError(Exception):
    """A failure of the codec: the library's status, the byte offset of the flaw in the input
    (decoding; 0 otherwise) and a message in words. Raised as WsqValueError or WsqMemoryError."""

    def __init__(self, status: int, offset: int, message: str) -> None:
        self.status = _known(status)
        self.offset = offset
        self.message = message
        name = _native.lib.wsq_strerror(status).decode()
        where = f" at byte {offset}" if Status.NOT_WSQ <= status <= Status.LIMIT else ""
        super().__init__(f"{name}{where}: {message}")

    def __reduce__(self):
        """Pickles by the three facts, so the exception crosses to other processes (Dask)."""
        return type(self), (int(self.status), self.offset, self.message)


class WsqValueError(WsqError, ValueError):
    """Bad data (a flawed or hostile stream, an image the format cannot code) or a bad argument."""


class WsqMemoryError(WsqError, MemoryError):
    """The codec's working memory could not be allocated."""


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
