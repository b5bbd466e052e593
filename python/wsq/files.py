"""Image files to WSQ files and back. An output file appears under its name only once it is
complete: it is written beside its final name and renamed into place. The name "-" stands for
standard input or standard output."""
from __future__ import annotations

import io
import os
import sys
from pathlib import Path

import numpy
from PIL import Image

from ._codec import decode, encode
from ._output import PathLike, write as _write

#: The format of headerless 8-bit pixels, row after row (unwsq -f raw), extension .raw.
RAW = "RAW"
#: Formats whose images may follow one another on standard output.
STREAMABLE = (RAW, "PPM")


def encode_file(source: PathLike, target: PathLike, bitrate: float = 0.75,
                comment: str | bytes | None = None, deep: str = "refuse",
                size: tuple[int, int] | None = None) -> None:
    """Encodes an image file that Pillow reads (PNG, PGM, TIFF, BMP, JPEG, ...) with its own
    dimensions into the WSQ file target, converted to gray as Image.convert("L") does (a 16-bit
    image is refused, or scaled with deep="scale", as by wsq.encode()). Each frame of a
    multi-frame file (a TIFF of several pages) becomes a stream, back to back. With size,
    (width, height), source holds raw 8-bit samples instead, as wsq1 -rW,H reads them, and must
    hold exactly width x height bytes. A target whose extension names another format (.png,
    .raw) is refused before anything is read."""
    _refuse_other_format(target)
    if size is not None:
        _write(target, encode(raw_pixels(read(source), size), bitrate=bitrate, comment=comment))
        return
    if Path(source).suffix.lower() == ".raw":
        raise ValueError("raw samples have no size of their own: give it, --size WIDTHxHEIGHT")
    stream = io.BytesIO()
    with Image.open(_source(source)) as image:
        image.save(stream, format="WSQ", save_all=True, bitrate=bitrate, comment=comment,
                   deep=deep)
    _write(target, stream.getvalue())


def decode_file(source: PathLike, target: PathLike, image_format: str | None = None) -> list[Path]:
    """Decodes the WSQ file source into target, in the format that its extension names: one
    that Pillow writes, or .raw; a file of n streams gives target-1 to target-n (x-1.png)
    instead. Standard output ("-") takes image_format (a format name or an extension, PGM by
    default), several images one after another in PGM or raw only. Returns the names
    written."""
    target = Path(target)
    stdout = os.fspath(target) == "-"
    image_format = writable_format(image_format or (".pgm" if stdout else target.suffix))
    images = decode(read(source))
    images = images if isinstance(images, list) else [images]
    if stdout:
        if len(images) > 1 and image_format not in STREAMABLE:
            raise ValueError(f"{len(images)} images cannot go to standard output as one "
                             f"{image_format} file: choose PGM or raw")
        _write(target, b"".join(_image_bytes(pixels, image_format) for pixels in images))
        return [target]
    targets = [target] if len(images) == 1 else [
        target.with_stem(f"{target.stem}-{number}") for number in range(1, len(images) + 1)]
    for pixels, name in zip(images, targets):
        _write(name, _image_bytes(pixels, image_format))
    return targets


def raw_pixels(data: bytes, size: tuple[int, int]) -> numpy.ndarray:
    """The pixels of raw samples of size (width, height), row after row. Data of another length
    is refused, both sizes named: a short file is not completed, nor a long one cut."""
    width, height = size
    if len(data) != width * height:
        raise ValueError(f"{len(data)} bytes, not the {width * height} of a raw image of "
                         f"{width} x {height}")
    return numpy.frombuffer(data, numpy.uint8).reshape(height, width)


def writable_format(suffix: str) -> str:
    """The format that writes files with the extension suffix (".png", or "png"): a Pillow
    format, or RAW."""
    suffix = "." + suffix.lower().lstrip(".")
    image_format = RAW if suffix == ".raw" else Image.registered_extensions().get(suffix)
    if image_format != RAW and image_format not in Image.SAVE:
        raise ValueError(f"no image format that Pillow writes has the extension '{suffix}'")
    return image_format


def reason(error: Exception, source: PathLike) -> str:
    """What went wrong with source, in words: the system's text for a failed file operation
    (with the name of its file when that is not source), the message otherwise."""
    if isinstance(error, OSError) and error.strerror:
        other = error.filename is not None and os.fspath(error.filename) != os.fspath(source)
        return f"{error.filename}: {error.strerror}" if other else error.strerror
    return str(error) or type(error).__name__


def _refuse_other_format(target: PathLike) -> None:
    """Refuses a name for a WSQ file whose extension says it holds another format."""
    suffix = Path(target).suffix.lower()
    named = RAW if suffix == ".raw" else Image.registered_extensions().get(suffix)
    if named not in (None, "WSQ"):
        raise ValueError(f"{os.fspath(target)} would hold WSQ bytes under the extension of "
                         f"{named} files: name it .wsq")


def _image_bytes(pixels, image_format: str) -> bytes:
    """The bytes of a file of the pixels in the format."""
    if image_format == RAW:
        return pixels.tobytes()
    written = io.BytesIO()
    Image.fromarray(pixels).save(written, format=image_format)
    return written.getvalue()


def _source(source: PathLike) -> PathLike | io.BytesIO:
    """Something Image.open() reads: the file, or standard input's bytes for "-"."""
    return io.BytesIO(read(source)) if os.fspath(source) == "-" else source


def read(source: PathLike) -> bytes:
    """The bytes of the file, or of standard input for "-"."""
    return sys.stdin.buffer.read() if os.fspath(source) == "-" else Path(source).read_bytes()
