"""Image files to WSQ files and back. An output file appears under its name only once it is
complete: it is written beside its final name and renamed into place."""
from __future__ import annotations

import contextlib
import os
from collections.abc import Iterator
from pathlib import Path

from PIL import Image

from ._codec import decode

PathLike = str | os.PathLike


def encode_file(source: PathLike, target: PathLike, bitrate: float = 0.75,
                comment: str | bytes | None = None) -> None:
    """Encodes an image file that Pillow reads (PNG, PGM, TIFF, BMP, JPEG, ...) with its own
    dimensions into the WSQ file target, converted to gray as Image.convert("L") does (an image
    of more than 8 bits a pixel is refused). Each frame of a multi-frame file (a TIFF of
    several pages) becomes a stream, back to back."""
    with Image.open(source) as image, _staged(Path(target)) as staged:
        image.save(staged, format="WSQ", save_all=True, bitrate=bitrate, comment=comment)


def decode_file(source: PathLike, target: PathLike) -> list[Path]:
    """Decodes the WSQ file source into target, in the format that Pillow writes for target's
    extension; a file of n streams gives target-1 to target-n (x-1.png) instead. Returns the
    names written."""
    target = Path(target)
    image_format = writable_format(target.suffix)
    images = decode(Path(source).read_bytes())
    images = images if isinstance(images, list) else [images]
    targets = [target] if len(images) == 1 else [
        target.with_stem(f"{target.stem}-{number}") for number in range(1, len(images) + 1)]
    for pixels, name in zip(images, targets):
        with _staged(name) as staged:
            Image.fromarray(pixels).save(staged, format=image_format)
    return targets


def writable_format(suffix: str) -> str:
    """The Pillow format that writes files with the extension suffix (".png")."""
    image_format = Image.registered_extensions().get(suffix.lower())
    if image_format not in Image.SAVE:
        raise ValueError(f"no image format that Pillow writes has the extension '{suffix}'")
    return image_format


def reason(error: Exception, source: PathLike) -> str:
    """What went wrong with source, in words: the system's text for a failed file operation
    (with the name of its file when that is not source), the message otherwise."""
    if isinstance(error, OSError) and error.strerror:
        other = error.filename is not None and os.fspath(error.filename) != os.fspath(source)
        return f"{error.filename}: {error.strerror}" if other else error.strerror
    return str(error) or type(error).__name__


@contextlib.contextmanager
def _staged(target: Path) -> Iterator[Path]:
    """A temporary name beside target to write to, renamed to target when the block ends
    without an exception and removed otherwise. Failures name target, not the temporary."""
    temporary = target.with_name(f"{target.name}.{os.getpid()}.tmp")
    try:
        yield temporary
        os.replace(temporary, target)
    except OSError as error:
        if error.filename == str(temporary):
            error.filename = str(target)
        raise
    finally:
        temporary.unlink(missing_ok=True)
