"""WSQ gray-scale fingerprint image compression for numpy arrays, Pillow and image files.

    import wsq
    stream = wsq.encode(pixels, bitrate=0.75)   # 2-D uint8 array -> bytes of a WSQ stream
    pixels = wsq.decode(stream)                 # -> 2-D uint8 array (a list for several streams)
    facts = wsq.info(stream)                    # header facts, without decoding

Failures raise WsqValueError (bad data or arguments) or WsqMemoryError, both WsqError with the
library's status, the byte offset of the flaw and a message. The library works with the
interpreter lock released, so threads encode and decode in parallel.

With Pillow installed, importing wsq registers the format WSQ: Image.open() reads WSQ files as
8-bit gray images and Image.save() writes them (options bitrate, comment, black, white).
`python3 -m wsq` converts image files; wsq.cluster converts directory trees with Dask;
wsq.transaction reads, checks, edits and writes transaction files (.an2, .eft, .int).
"""
import importlib.util

from ._codec import Bytes, Info, decode, encode, info, version
from ._errors import Status, WsqError, WsqMemoryError, WsqValueError

__all__ = ["Bytes", "Info", "Status", "WsqError", "WsqMemoryError", "WsqValueError", "decode",
           "encode", "info", "version"]
__version__ = version()

if importlib.util.find_spec("PIL") is not None:
    from . import _pillow  # noqa: F401  (registers the format with Pillow)
