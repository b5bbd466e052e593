"""The WSQ format in Pillow: open, save, frames, colour input, flawed files."""
from __future__ import annotations

import io

import numpy
import pytest
from PIL import Image

import wsq
from conftest import DATA
from wsq.__main__ import main


def test_open_and_save_round_trip(tmp_path):
    """A WSQ file opens as an 8-bit gray image with its comment; saving with a bit rate writes
    the bytes of wsq.encode, and opening them again gives the pixels of wsq.decode."""
    with Image.open(DATA / "wsq-original.wsq") as image:
        assert (image.format, image.mode, image.size) == ("WSQ", "L", (832, 768))
        assert b"PIX_WIDTH 832\n" in image.info["comment"]
        pixels = numpy.asarray(image)
    assert numpy.array_equal(pixels, wsq.decode((DATA / "wsq-original.wsq").read_bytes()))
    Image.fromarray(pixels).save(tmp_path / "x.wsq", bitrate=2.25, comment="again")
    stream = (tmp_path / "x.wsq").read_bytes()
    assert stream == wsq.encode(pixels, bitrate=2.25, comment="again")
    with Image.open(tmp_path / "x.wsq") as again:
        assert numpy.array_equal(numpy.asarray(again), wsq.decode(stream))


def test_colour_images_are_saved_in_gray():
    """An RGB image is coded as its conversion to "L"."""
    colour = Image.open(DATA / "wsq-converted.png").convert("RGB")
    colour.putpixel((10, 10), (255, 0, 0))
    written = io.BytesIO()
    colour.save(written, format="WSQ")
    assert written.getvalue() == wsq.encode(numpy.asarray(colour.convert("L")))


def test_streams_back_to_back_are_frames(tmp_path):
    """save_all writes every frame as a stream; each opens as a frame of its own."""
    first = Image.open(DATA / "wsq-converted.png")
    second = first.crop((100, 100, 500, 400))
    first.save(tmp_path / "two.wsq", save_all=True, append_images=[second], bitrate=1.5)
    with Image.open(tmp_path / "two.wsq") as image:
        assert (image.n_frames, image.is_animated, image.size) == (2, True, (832, 768))
        image.seek(1)
        assert image.tell() == 1 and image.size == (400, 300)
        expected = wsq.decode(wsq.encode(numpy.asarray(second), bitrate=1.5))
        assert numpy.array_equal(numpy.asarray(image), expected)
        with pytest.raises(EOFError):
            image.seek(2)


def test_draft_and_thumbnail_decode_a_reduced_size(monkeypatch):
    """draft() picks the largest of 1/2, 1/4 and 1/8 that keeps the size asked, as for JPEG, and
    the frame loads as decode(reduce=...) gives it; thumbnail() goes through it, decoding at
    1/2 for 128 x 128 (it asks for twice the size)."""
    data = (DATA / "wsq-original.wsq").read_bytes()
    with Image.open(io.BytesIO(data)) as image:
        assert image.draft("L", (200, 190)) == ("L", (0, 0, 208, 192))
        assert image.size == (208, 192)
        assert numpy.array_equal(numpy.asarray(image), wsq.decode(data, reduce=4))
    reductions = []
    decode = wsq._pillow.decode
    monkeypatch.setattr(wsq._pillow, "decode",
                        lambda data, reduce: reductions.append(reduce) or decode(data, reduce=reduce))
    with Image.open(io.BytesIO(data)) as image:
        image.thumbnail((128, 128))
        assert image.size == (128, 118) and reductions == [2]


def test_three_frames_load_in_turn_and_save_again(tmp_path):
    """As in Pillow's TIFF and GIF, the file stays open until close(): every frame loads after
    another has, and save_all of an opened file writes its frames again."""
    sizes = [(832, 768), (400, 300), (200, 500)]
    scan = Image.open(DATA / "wsq-converted.png")
    frames = [scan.crop((0, 0) + size) for size in sizes]
    frames[0].save(tmp_path / "three.wsq", save_all=True, append_images=frames[1:])
    streams = wsq.decode((tmp_path / "three.wsq").read_bytes())
    image = Image.open(tmp_path / "three.wsq")
    for number, pixels in enumerate(streams):
        image.seek(number)
        image.load()
        assert numpy.array_equal(numpy.asarray(image), pixels)
    image.close()
    Image.open(tmp_path / "three.wsq").save(tmp_path / "again.wsq", save_all=True)
    again = wsq.info((tmp_path / "again.wsq").read_bytes())
    assert [(stream.width, stream.height) for stream in again] == sizes


def test_deep_images_are_refused_or_scaled_and_float_ones_refused(tmp_path, capsys):
    """16-bit images (I;16, and I as a 16-bit PNG opens) are refused as wsq.encode() refuses a
    uint16 array, by save() and by the command, or scaled with deep="scale"; float images are
    refused: converting either to "L" would clip them to white."""
    pixels = numpy.asarray(Image.open(DATA / "wsq-converted.png"))
    expected = wsq.encode(pixels)
    Image.fromarray(pixels.astype(numpy.uint16) * 257).save(tmp_path / "deep.png")
    for image in (Image.fromarray(pixels.astype(numpy.uint16) * 257),
                  Image.open(tmp_path / "deep.png")):
        with pytest.raises(wsq.WsqValueError, match="has 16 bits a sample.*deep"):
            image.save(io.BytesIO(), format="WSQ")
        scaled = io.BytesIO()
        image.save(scaled, format="WSQ", deep="scale")
        assert scaled.getvalue() == expected
    with pytest.raises(wsq.WsqValueError, match="an F image holds floating-point values"):
        Image.fromarray(pixels.astype(numpy.float32) / 255).save(io.BytesIO(), format="WSQ")
    assert main(["encode", str(tmp_path / "deep.png"), str(tmp_path / "deep.wsq")]) == 1
    assert 'set the option deep to "scale"' in capsys.readouterr().err
    assert not (tmp_path / "deep.wsq").exists()
    assert main(["encode", str(tmp_path / "deep.png"), str(tmp_path / "deep.wsq"),
                 "--deep", "scale"]) == 0
    assert (tmp_path / "deep.wsq").read_bytes() == expected


def test_a_flawed_file_raises_the_codec_error():
    """Opening a cut stream raises the codec's error, with the offset of the flaw."""
    cut = (DATA / "wsq-original.wsq").read_bytes()[:5000]
    with pytest.raises(wsq.WsqValueError) as raised:
        Image.open(io.BytesIO(cut))
    assert raised.value.status == wsq.Status.TRUNCATED
