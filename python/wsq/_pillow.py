"""The WSQ format for Pillow, registered when wsq is imported.

Image.open() gives an 8-bit gray ("L") image; a file of several streams back to back, as wsq1
writes them, gives one frame a stream (seek, n_frames), and the file stays open until close(),
as with Pillow's TIFF and GIF. draft() decodes the frame at 1/2, 1/4 or 1/8 of its size, as for
JPEG, so that Image.thumbnail() decodes only what it needs. Image.save() converts other modes of
8 bits a channel to "L" as Image.convert("L") does, takes 16-bit images (I;16, and I, Pillow's
mode for 16-bit PNG and PGM files) as wsq.encode() takes uint16 arrays, refuses floating-point
ones (F: converting would clip them), and takes the options of wsq.encode(): bitrate, comment,
black, white, deep; save_all=True writes every frame, a stream each, back to back.
"""
from __future__ import annotations

import itertools
from typing import IO

import numpy
from PIL import Image, ImageFile, ImageSequence

from ._codec import decode, encode, info, reduced
from ._errors import argument_error

FORMAT = "WSQ"
ENCODE_OPTIONS = ("bitrate", "comment", "black", "white", "threads", "deep")


def _accept(prefix: bytes) -> bool:
    """Whether the file starts with a Start-Of-Image marker."""
    return prefix[:2] == b"\xff\xa0"


class WsqImageFile(ImageFile.ImageFile):
    """A WSQ file: one 8-bit gray frame a stream. info["comment"] holds the first comment."""

    format = FORMAT
    format_description = "WSQ fingerprint image"
    # The file stays open after a frame is loaded, kept as _fp, so that seek()
    # can load the others (as in Pillow's TIFF and GIF); close() closes it.
    _close_exclusive_fp_after_loading = False

    def _open(self) -> None:
        self._fp = self.fp
        facts = info(self.fp.read())
        self._streams = facts if isinstance(facts, list) else [facts]
        self._offsets = list(itertools.accumulate(s.stream_bytes for s in self._streams[:-1]))
        self._offsets.insert(0, 0)
        self.n_frames = len(self._streams)
        self.is_animated = self.n_frames > 1
        _set_mode(self, "L")
        self._select(0)

    def seek(self, frame: int) -> None:
        """Moves to the image of stream number frame, from 0."""
        if self._seek_check(frame):
            self._select(frame)

    def draft(self, mode: str | None, size: tuple[int, int] | None):
        """Makes the frame load at the largest reduction (1/2, 1/4 or 1/8) that is still at
        least size, as JPEG does; mode stays "L". Returns the mode and the box of the whole
        frame within the reduced one, or None when nothing changes or the frame is loaded."""
        if len(self.tile) != 1 or not size:
            return None
        stream = self._streams[self._frame]
        scale = min(stream.width // size[0], stream.height // size[1])
        reduce = next((r for r in (8, 4, 2) if scale >= r), 1)
        self._select(self._frame, reduce)
        return self.mode, (0, 0, stream.width / reduce, stream.height / reduce)

    def tell(self) -> int:
        """The number of the current frame."""
        return self._frame

    def _select(self, frame: int, reduce: int = 1) -> None:
        """Makes frame the current one, at 1/reduce: its size, comment and the tile that
        decodes it."""
        stream = self._streams[frame]
        self.fp = self._fp
        self._frame = frame
        self._size = (reduced(stream.width, reduce), reduced(stream.height, reduce))
        self.info = {"comment": stream.comments[0]} if stream.comments else {}
        self.tile = [(FORMAT, (0, 0) + self.size, self._offsets[frame],
                      (stream.stream_bytes, reduce))]


class WsqDecoder(ImageFile.PyDecoder):
    """Decodes one stream of the given length from the file's current position, at 1/reduce."""

    _pulls_fd = True

    def decode(self, buffer: bytes) -> tuple[int, int]:
        length, reduce = self.args
        self.set_as_raw(decode(self.fd.read(length), reduce=reduce).tobytes())
        return -1, 0


def _set_mode(image: Image.Image, mode: str) -> None:
    """Sets the mode of an image being opened: Pillow 10.1 made mode a read-only property."""
    if isinstance(getattr(type(image), "mode", None), property):
        image._mode = mode
    else:
        image.mode = mode


def _encoded(image: Image.Image, settings: dict) -> bytes:
    """One stream of the image in gray, coded with the WSQ options among settings. A 16-bit
    image is coded as its uint16 array; a floating-point one is refused: converting it to "L"
    would clip its values."""
    if image.mode == "F":
        raise argument_error(
            "an F image holds floating-point values, which converting to \"L\" would clip: "
            "scale them to 0 to 255 explicitly first")
    kept = image.mode == "L" or image.mode.startswith("I")
    pixels = numpy.asarray(image if kept else image.convert("L"))
    if image.mode == "I" and pixels.size and 0 <= pixels.min() and pixels.max() <= 65535:
        pixels = pixels.astype(numpy.uint16)
    options = {name: settings[name] for name in ENCODE_OPTIONS if name in settings}
    return encode(pixels, **options)


def _save(image: Image.Image, fp: IO[bytes], filename: str | bytes) -> None:
    """Image.save(): the current frame as one stream."""
    fp.write(_encoded(image, image.encoderinfo))


def _save_all(image: Image.Image, fp: IO[bytes], filename: str | bytes) -> None:
    """Image.save(save_all=True): every frame, then those of append_images, back to back."""
    current = image.tell()
    extra = image.encoderinfo.get("append_images", ())
    try:
        for frame in itertools.chain(ImageSequence.Iterator(image), extra):
            fp.write(_encoded(frame, image.encoderinfo))
    finally:
        image.seek(current)


Image.register_open(FORMAT, WsqImageFile, _accept)
Image.register_decoder(FORMAT, WsqDecoder)
Image.register_save(FORMAT, _save)
Image.register_save_all(FORMAT, _save_all)
Image.register_extension(FORMAT, ".wsq")
