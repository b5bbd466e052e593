"""wsq.encode, wsq.decode and wsq.info against wsq1, a third-party stream and hostile input."""
from __future__ import annotations

import csv
import ctypes
import os
import pickle
import subprocess
import sys
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy
import pytest
from PIL import Image

import wsq
from wsq import Status, _native
from conftest import DATA, IMAGES, raw_image, wsq1


def test_structures_match_the_c_layout():
    """The ctypes structures have the sizes and field offsets that a C compiler gives wsq.h's:
    a field added to or moved in the header without the binding fails here."""
    printed = subprocess.run([os.environ["WSQ_LAYOUT"]], capture_output=True, text=True,
                             check=True).stdout
    expected = dict(line.split() for line in printed.splitlines())
    structures = {"wsq_error": _native.Error, "wsq_encode_options": _native.EncodeOptions,
                  "wsq_decode_options": _native.DecodeOptions, "wsq_info": _native.Info,
                  "wsq_record": _native.Record, "wsq_field": _native.Field,
                  "wsq_image_entry": _native.ImageEntry}
    actual = {}
    for name, structure in structures.items():
        actual[name] = str(ctypes.sizeof(structure))
        for field, _ in structure._fields_:
            actual[f"{name}.{field}"] = str(getattr(structure, field).offset)
    assert actual == expected


def test_the_librarys_colour_rule_is_pillows():
    """wsq_gray_from_color, which the other bindings use, gives Pillow's "L" of RGB and RGBA,
    so that a colour image becomes the same stream from every language."""
    rgba = numpy.random.default_rng(7).integers(0, 256, (64, 64, 4), dtype=numpy.uint8)
    for channels, mode in ((3, "RGB"), (4, "RGBA")):
        color = numpy.ascontiguousarray(rgba[..., :channels])
        gray = numpy.empty((64, 64), numpy.uint8)
        assert _native.lib.wsq_gray_from_color(gray.ctypes.data, color.ctypes.data, gray.size,
                                               channels) == Status.OK
        assert (gray == numpy.asarray(Image.fromarray(color, mode).convert("L"))).all()
    assert _native.lib.wsq_gray_from_color(gray.ctypes.data, rgba.ctypes.data, 1, 2) == \
        Status.ARGUMENT


@pytest.mark.parametrize("name", sorted(IMAGES))
def test_encode_gives_the_bytes_of_wsq1(name):
    """Every bundled image, with the defaults and with every setting changed."""
    pixels = raw_image(name)
    assert wsq.encode(pixels) == wsq1(pixels)
    assert (wsq.encode(pixels, bitrate=1.5, comment="scan 7", black=12, white=243)
            == wsq1(pixels, "-Z1.5", "-cscan 7", "-S12,243"))


def test_decode_matches_a_third_party_decoding():
    """A stream from another encoder decodes within one gray level of another decoder's pixels,
    and its header facts are read as stored."""
    stream = (DATA / "wsq-original.wsq").read_bytes()
    expected = numpy.asarray(Image.open(DATA / "wsq-converted.png"), dtype=numpy.int16)
    pixels = wsq.decode(stream)
    assert pixels.dtype == numpy.uint8 and pixels.shape == (768, 832)
    assert numpy.abs(pixels.astype(numpy.int16) - expected).max() <= 1
    facts = wsq.info(stream)
    assert (facts.width, facts.height, facts.stream_bytes) == (832, 768, len(stream))
    assert b"PIX_WIDTH 832\n" in facts.comments[0]
    assert facts.bits_per_pixel == pytest.approx(len(stream) * 8 / (832 * 768))


def test_reduced_decoding_gives_the_sizes_of_the_library(fingerprint):
    """decode(reduce=...) gives each dimension divided and rounded up, the pixels that unwsq
    --scale writes."""
    stream = wsq.encode(fingerprint[:373, :387])
    for reduce in (1, 2, 4, 8):
        preview = wsq.decode(stream, reduce=reduce)
        assert preview.shape == (-(-373 // reduce), -(-387 // reduce))
    scaled = subprocess.run([os.environ["WSQ_UNWSQ"], "--scale", "1/8", "-f", "raw", "-o", "-"],
                            input=stream, capture_output=True, check=True).stdout
    assert scaled == preview.tobytes()


def test_inputs_of_every_kind_and_streams_back_to_back(fingerprint):
    """Any buffer holding bytes decodes; a cropped (strided) array encodes as its copy; several
    streams give lists, each stream's facts its own."""
    crop = fingerprint[20:300, 10:350]
    first = wsq.encode(crop, comment=b"first")
    assert first == wsq.encode(crop.copy(), comment="first")
    second = wsq.encode(fingerprint, bitrate=2.25)
    both = first + second
    for data in (both, bytearray(both), memoryview(both), numpy.frombuffer(both, numpy.uint8)):
        images = wsq.decode(data)
        assert [image.shape for image in images] == [crop.shape, fingerprint.shape]
    facts = wsq.info(both)
    assert [f.stream_bytes for f in facts] == [len(first), len(second)]
    assert [f.comments for f in facts] == [(b"first",), ()]
    assert numpy.array_equal(wsq.decode(second), images[1])


def test_integers_of_any_type_within_0_to_255_encode(fingerprint):
    """Integers whose values all lie in 0 to 255 give the stream of their uint8 copy (a list of
    lists is int64 to numpy); others are refused, naming the range found, never clipped."""
    expected = wsq.encode(fingerprint)
    for pixels in (fingerprint.astype(numpy.int64), fingerprint.astype(numpy.int16),
                   fingerprint.tolist()):
        assert wsq.encode(pixels) == expected
    wide = fingerprint.astype(numpy.int32)
    wide[0, 0], wide[1, 1] = -3, 300
    with pytest.raises(wsq.WsqValueError, match="values lie in -3 to 300, not in 0 to 255"):
        wsq.encode(wide)


#: What every binding says of a 16-bit image given without deep="scale".
DEEP_REFUSAL = ('the image has 16 bits a sample, and WSQ codes 8: set the option deep to "scale" '
                'to scale its values to 0-255 (v x 255 / 65535, rounded)')


def test_deep_images_are_refused_unless_scaling_is_asked_for(fingerprint):
    """A uint16 array, whatever its values, is refused with the words of every binding, or
    with deep="scale" coded as its values x 255 / 65535, rounded half up."""
    expected = wsq.encode(fingerprint)
    for offset in (-128, 128):  # the farthest values from v x 257 that scale to v
        deep = (fingerprint.astype(numpy.int32) * 257 + offset).clip(0, 65535)
        deep = deep.astype(numpy.uint16)
        assert wsq.encode(deep.astype(">u2"), deep="scale") == expected
    for pixels in (deep, fingerprint.astype(numpy.uint16)):
        with pytest.raises(wsq.WsqValueError) as refused:
            wsq.encode(pixels)
        assert refused.value.message == DEEP_REFUSAL
    with pytest.raises(wsq.WsqValueError, match='deep must be "refuse" or "scale"'):
        wsq.encode(fingerprint, deep="shift")


@pytest.mark.parametrize("call, status, offset", [
    (lambda s: wsq.decode(b""), Status.NOT_WSQ, 0),
    (lambda s: wsq.decode(s[:3000]), Status.TRUNCATED, None),
    (lambda s: wsq.info(s + b"junk"), Status.TRAILING, "end"),
    (lambda s: wsq.decode(s + s[:3000]), Status.TRUNCATED, "second"),
    (lambda s: wsq.decode(s, reduce=3), Status.ARGUMENT, 0),
    (lambda s: wsq.encode(numpy.full((100, 100), 256, numpy.uint16)), Status.ARGUMENT, 0),
    (lambda s: wsq.encode(numpy.zeros((100, 100), numpy.float32)), Status.ARGUMENT, 0),
    (lambda s: wsq.encode(numpy.zeros(10000, numpy.uint8)), Status.ARGUMENT, 0),
    (lambda s: wsq.encode(numpy.zeros((20, 100), numpy.uint8)), Status.ARGUMENT, 0),
    (lambda s: wsq.encode(raw_image("mcc_sample_1_1")[:60, :60]), Status.IMAGE, 0),
    (lambda s: wsq.encode(numpy.full((100, 100), 7, numpy.uint8)), Status.IMAGE, 0),
    (lambda s: wsq.encode(raw_image("mcc_sample_1_1"), bitrate=0), Status.BITRATE, 0),
    (lambda s: wsq.encode(raw_image("mcc_sample_1_1"), bitrate=float("nan")), Status.BITRATE, 0),
    (lambda s: wsq.encode(raw_image("mcc_sample_1_1"), black=256), Status.ARGUMENT, 0),
    (lambda s: wsq.encode(raw_image("mcc_sample_1_1"), white=2**32 + 255), Status.ARGUMENT, 0),
    (lambda s: wsq.encode(raw_image("mcc_sample_1_1"), comment="a\0b"), Status.ARGUMENT, 0),
    (lambda s: wsq.encode(raw_image("mcc_sample_1_1"), comment="x" * 65534), Status.ARGUMENT, 0),
])
def test_every_failure_raises_a_value_error_with_the_facts(fingerprint, call, status, offset):
    """Bad data and bad arguments raise WsqValueError, a ValueError carrying the status, the
    offset in the whole input, and a message; the exception survives pickling (Dask)."""
    stream = wsq.encode(fingerprint)
    with pytest.raises(wsq.WsqValueError) as raised:
        call(stream)
    error = raised.value
    assert isinstance(error, ValueError) and error.status == status and error.message
    if offset == "end":
        assert error.offset == len(stream)
    elif offset == "second":
        assert error.offset > len(stream)
    elif offset is not None:
        assert error.offset == offset
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), copy.status, copy.offset, str(copy)) == (
        type(error), error.status, error.offset, str(error))


def _verdicts() -> list[list[str]]:
    with open(DATA / "hostile" / "verdicts.tsv", newline="") as file:
        return list(csv.reader(file, delimiter="\t", quoting=csv.QUOTE_NONE))


@pytest.mark.parametrize("name, status, offset, message", _verdicts())
def test_a_hostile_stream_is_refused_for_its_first_flaw(name, status, offset, message):
    """Decoding, whole or reduced, refuses each hostile stream as every path does (two flaws in
    either order, two streams); the facts, when they refuse it, alike, except for the second
    of two streams, whose flaw they find past the first one's in coded data they do not read."""
    data = (DATA / "hostile" / name).read_bytes()
    verdict = (int(status), int(offset), message)
    for reduce in (1, 8):
        with pytest.raises(wsq.WsqValueError) as raised:
            wsq.decode(data, reduce=reduce)
        assert (raised.value.status, raised.value.offset, raised.value.message) == verdict
    try:
        wsq.info(data)
    except wsq.WsqValueError as error:
        if name != "flaws-in-two-streams.wsq":
            assert (error.status, error.offset, error.message) == verdict


def test_memory_running_out_raises_memory_error():
    """With the address space capped, a large image cannot get its working memory: MemoryError
    with the status, and the interpreter goes on."""
    script = """
import re, resource, numpy, wsq
image = numpy.random.default_rng(1).integers(0, 256, (4000, 4000), dtype=numpy.uint8)
with open("/proc/self/status") as status:
    used = int(re.search(r"VmSize:\\s*(\\d+) kB", status.read())[1]) * 1024
hard = resource.getrlimit(resource.RLIMIT_AS)[1]
resource.setrlimit(resource.RLIMIT_AS, (used + 2**27, hard))
try:
    wsq.encode(image)
except MemoryError as error:
    print(type(error).__name__, error.status.name)
"""
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert result.stdout.split() == ["WsqMemoryError", "MEMORY"], result.stderr


def test_threads_give_the_bytes_of_one(fingerprint):
    """Encoding and decoding from several threads at once, each call with threads of its own,
    gives what one thread gives."""
    streams = [wsq.encode(fingerprint, bitrate=b) for b in (0.5, 0.75, 1.5, 2.25)]
    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(lambda s: wsq.encode(fingerprint, bitrate=s, threads=2),
                             (0.5, 0.75, 1.5, 2.25) * 3)) == streams * 3
        decoded = list(pool.map(lambda s: wsq.decode(s, threads=3), streams * 3))
    for image, stream in zip(decoded, streams * 3):
        assert numpy.array_equal(image, wsq.decode(stream))


def test_the_interpreter_lock_is_released_while_coding(fingerprint):
    """Another thread runs while the library works. With a switch interval too long for the
    interpreter to preempt, a thread waiting for the lock gets it only from a call that gives
    it up: then it records that it ran before the encoding thread looks."""
    woken, ran = threading.Event(), []
    thread = threading.Thread(target=lambda: (woken.wait(), ran.append(True)))
    thread.start()
    interval = sys.getswitchinterval()
    sys.setswitchinterval(100)
    try:
        woken.set()
        for _ in range(20):
            wsq.encode(fingerprint)
            if ran:
                break
        ran_during_calls = bool(ran)
    finally:
        sys.setswitchinterval(interval)
    thread.join()
    assert ran_during_calls
