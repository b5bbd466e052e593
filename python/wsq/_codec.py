"""encode(), decode() and info(): whole images in memory, through the C interface."""
from __future__ import annotations

import ctypes
import operator
from ctypes import byref, c_size_t, c_void_p
from collections.abc import Callable, Iterator
from dataclasses import dataclass
from typing import Union

import numpy

from . import _native
from ._errors import WsqValueError, argument_error, check
from ._native import lib

#: Anything that exposes bytes through the buffer protocol: bytes, bytearray, memoryview, mmap,
#: a numpy array.
Bytes = Union[bytes, bytearray, memoryview, numpy.ndarray]


@dataclass(frozen=True)
class Info:
    """The header facts of one WSQ stream, as its segments state them."""

    width: int                          #: X, samples per line
    height: int                         #: Y, lines
    black: int                          #: A, the scanner's black calibration
    white: int                          #: B, the scanner's white calibration
    midpoint: float                     #: M of the pixel normalisation
    rescale: float                      #: R of the pixel normalisation
    encoder: int                        #: Ev, the encoder's parameterization number
    software: int                       #: Sf, the encoder's software number
    filter_lengths: tuple[int, int]     #: L0 and L1 of the transform table
    center: float                       #: C, the bin center
    huffman_tables: tuple[int, ...]     #: numbers of the Huffman tables defined
    restart_interval: int               #: 0 without a restart interval segment
    block_tables: tuple[int, ...]       #: the Huffman table of each entropy-coded block
    block_bytes: tuple[int, ...]        #: coded bytes of each block as stored
    comments: tuple[bytes, ...]         #: the comment segments' text, in stream order
    stream_bytes: int                   #: length of the stream, Start- to End-Of-Image
    bits_per_pixel: float               #: stream_bytes * 8 / (width * height)


def encode(image: numpy.ndarray, bitrate: float = 0.75, comment: str | bytes | None = None,
           black: int = 0, white: int = 255, threads: int = 1, deep: str = "refuse") -> bytes:
    """Compresses an 8-bit gray image into one WSQ stream.

    image    a 2-D uint8 array of height rows by width pixels, 0 black (or anything numpy
             takes as one: a memoryview with a shape, a Pillow "L" image, a list of lists);
             a uint16 array is a deep image (see deep); integers of another type are taken
             when all lie in 0 to 255, and refused, naming the range found, otherwise; width
             and height 32 to 32767, at least 81 x 81 (or 49 wide and 145 high)
    bitrate  the nominal bits per pixel the coder steers to
    comment  text of a comment segment (str is stored as UTF-8), at most 65533 bytes and no
             NUL; None writes none
    black, white  the scanner calibrations A and B stored in the frame header, 0 to 255
    threads  threads sharing the work of the one image (0: one per core); the bytes are the
             same for any number
    deep     what becomes of a deep (16-bit) image, as in every binding: "refuse" it, naming
             this option, or "scale" its values to 0-255, v x 255 / 65535 rounded

    The bytes are those the wsq1 program writes for the same pixels and settings. Raises
    WsqValueError for a bad argument, an image too small or flat, or a bit rate the coder
    cannot honour; WsqMemoryError when memory runs out. The interpreter lock is released
    while the library works.
    """
    pixels = _gray_pixels(image, deep)
    height, width = (_int32(n, "image dimension") for n in pixels.shape)
    options = _options(_native.EncodeOptions, lib.wsq_encode_defaults, bitrate=bitrate,
                       black=black, white=white, comment=_comment_bytes(comment),
                       threads=threads)
    stream, size, error = c_void_p(), c_size_t(), _native.Error()
    check(lib.wsq_encode(byref(stream), byref(size), byref(error), pixels.ctypes.data,
                         pixels.nbytes, width, height, byref(options)), error)
    try:
        return ctypes.string_at(stream.value, size.value)
    finally:
        lib.wsq_free(stream)


def decode(data: Bytes, threads: int = 1,
           reduce: int = 1) -> numpy.ndarray | list[numpy.ndarray]:
    """Rebuilds the pixels of WSQ data: a uint8 array of height rows by width pixels.

    Data holding several streams back to back (as wsq1 writes them) gives a list of arrays,
    one a stream, decoded in order. Raises WsqValueError for the first flaw of data, its
    offset counted from the start of data (wsq.h, Verdicts); WsqMemoryError when memory runs
    out. Threads (0: one per core) share the work of each stream; the pixels are the same for
    any number. Reduce 2, 4 or 8 gives a preview at that fraction of each dimension, rounded
    up, in a fraction of the time (wsq.h, "Reduced decoding"); other values than 1 raise
    WsqValueError. The interpreter lock is released while the library works.
    """
    stream = _byte_array(data)
    options = _options(_native.DecodeOptions, lib.wsq_decode_defaults, threads=threads,
                       reduce=reduce)
    images = [_decode_stream(stream, offset, facts, options)
              for offset, facts in _streams(stream)]
    return images[0] if len(images) == 1 else images


def info(data: Bytes) -> Info | list[Info]:
    """The header facts of WSQ data, read without decoding: an Info, or a list of them when
    data holds several streams back to back. Raises WsqValueError for a flawed stream."""
    stream = _byte_array(data)
    facts = [_info(stream, offset, found) for offset, found in _streams(stream)]
    return facts[0] if len(facts) == 1 else facts


def reduced(length: int, reduce: int) -> int:
    """A width or height of a whole image at 1/reduce: divided and rounded up (any reduce
    above 0)."""
    return -(-length // reduce)


def version() -> str:
    """The version of the library in use, "MAJOR.MINOR.PATCH"."""
    return lib.wsq_version().decode()


def deep_refusal(bits: int) -> WsqValueError:
    """The refusal of a deep image, worded alike in every binding."""
    return argument_error(
        f"the image has {bits} bits a sample, and WSQ codes 8: set the option deep to "
        f"\"scale\" to scale its values to 0-255 (v x 255 / {(1 << bits) - 1}, rounded)")


def _gray_pixels(image: numpy.ndarray, deep: str) -> numpy.ndarray:
    """The image as a C-contiguous 2-D uint8 array (a copy only when it is not one already).
    A uint16 array is scaled as deep says; integers of another type are taken when every
    value lies in 0 to 255, never clipped."""
    if deep not in ("refuse", "scale"):
        raise argument_error(f"deep must be \"refuse\" or \"scale\", not {deep!r}")
    pixels = numpy.asarray(image)
    integers = numpy.issubdtype(pixels.dtype, numpy.integer)
    if pixels.ndim != 2 or not integers:
        raise argument_error(f"the image must be a 2-D array of uint8, not a {pixels.ndim}-D "
                             f"array of {pixels.dtype}")
    if pixels.dtype.kind == "u" and pixels.dtype.itemsize == 2:
        if deep == "refuse":
            raise deep_refusal(16)
        return ((pixels.astype(numpy.uint32) * 510 + 65535) // 131070).astype(numpy.uint8)
    if pixels.dtype != numpy.uint8 and pixels.size > 0:
        low, high = int(pixels.min()), int(pixels.max())
        if low < 0 or high > 255:
            raise argument_error(
                f"the image's values lie in {low} to {high}, not in 0 to 255: scale them to 8 "
                f"bits first")
    return numpy.ascontiguousarray(pixels, dtype=numpy.uint8)


def _int32(value: int, what: str) -> int:
    """An integer that a C int32_t holds as it is (ctypes would wrap larger ones silently)."""
    number = operator.index(value)
    if number not in _native.INT32_RANGE:
        raise argument_error(f"{what} {number} is out of range")
    return number


def _comment_bytes(comment: str | bytes | None) -> bytes | None:
    """The comment as the NUL-terminated text the library takes."""
    text = comment.encode() if isinstance(comment, str) else comment
    if text is not None and b"\0" in text:
        raise argument_error("a comment cannot hold a NUL byte")
    return text


def _options(kind: type[ctypes.Structure], defaults: Callable, **settings) -> ctypes.Structure:
    """A structure of settings: the library's defaults, then the given ones. Integer settings
    are range-checked, since ctypes would wrap them silently."""
    options = kind()
    defaults(byref(options), ctypes.sizeof(options))
    for name, value in settings.items():
        if dict(kind._fields_)[name] is ctypes.c_int32:
            value = _int32(value, name)
        setattr(options, name, value)
    return options


def _byte_array(data: Bytes) -> numpy.ndarray:
    """The bytes of data as a uint8 array, without copying them."""
    return numpy.frombuffer(data, dtype=numpy.uint8)


def _streams(stream: numpy.ndarray) -> Iterator[tuple[int, _native.Info]]:
    """The offset and the facts of each stream in data, in turn, its segments checked as
    decoding checks them: a caller that decodes each before taking the next refuses data for
    its first flaw (wsq.h, Verdicts)."""
    offset = 0
    while True:
        facts, error = _native.Info(), _native.Error()
        check(lib.wsq_read_info(byref(facts), byref(error), stream.ctypes.data + offset,
                                stream.size - offset), error, offset)
        yield offset, facts
        offset += facts.stream_bytes
        if offset == stream.size:
            return


def _decode_stream(stream: numpy.ndarray, offset: int, facts: _native.Info,
                   options: _native.DecodeOptions) -> numpy.ndarray:
    """Decodes the stream at offset straight into a new array of the size its facts and the
    reduction give."""
    pixels = numpy.empty((reduced(facts.height, options.reduce),
                          reduced(facts.width, options.reduce)), dtype=numpy.uint8)
    error = _native.Error()
    check(lib.wsq_decode_into(pixels.ctypes.data, pixels.nbytes, byref(_native.Info()),
                              byref(error), stream.ctypes.data + offset, stream.size - offset,
                              byref(options)), error, offset)
    return pixels


def _comments(stream: numpy.ndarray, offset: int, count: int) -> tuple[bytes, ...]:
    """The text of each comment segment of the stream at offset."""
    texts = []
    for index in range(count):
        text, length, error = c_void_p(), c_size_t(), _native.Error()
        check(lib.wsq_comment(byref(text), byref(length), byref(error),
                              stream.ctypes.data + offset, stream.size - offset, index),
              error, offset)
        texts.append(ctypes.string_at(text.value, length.value))
    return tuple(texts)


def _info(stream: numpy.ndarray, offset: int, facts: _native.Info) -> Info:
    """The plain Info of the stream at offset, from the library's structure."""
    blocks = range(facts.blocks)
    return Info(width=facts.width, height=facts.height, black=facts.black, white=facts.white,
                midpoint=facts.midpoint, rescale=facts.rescale, encoder=facts.encoder,
                software=facts.software, filter_lengths=tuple(facts.filter_lengths),
                center=facts.center,
                huffman_tables=_bits(facts.tables),
                restart_interval=facts.restart_interval,
                block_tables=tuple(facts.block_table[b] for b in blocks),
                block_bytes=tuple(facts.block_bytes[b] for b in blocks),
                comments=_comments(stream, offset, facts.comments),
                stream_bytes=facts.stream_bytes,
                bits_per_pixel=facts.stream_bytes * 8 / (facts.width * facts.height))


def _bits(mask: int) -> tuple[int, ...]:
    """The numbers of the bits set in mask, lowest first."""
    return tuple(bit for bit in range(mask.bit_length()) if mask >> bit & 1)
