"""python3 -m wsq on image files, its failures, and the package as cmake --install lays it out."""
from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import numpy
import pytest
from PIL import Image

import wsq
from conftest import DATA, raw_image, wsq1
from wsq.__main__ import main


def run(capsys: pytest.CaptureFixture, *arguments: str) -> tuple[int, str, str]:
    """The command's status, standard output and standard error for the arguments, run in this
    process (the installed package's test runs it as python3 -m wsq)."""
    status = main(list(arguments))
    printed = capsys.readouterr()
    return status, printed.out, printed.err


@pytest.mark.parametrize("extension", [".png", ".tif", ".pgm"])
def test_encode_and_decode_image_files(tmp_path, capsys, extension):
    """An image file encodes with its own dimensions to the bytes of wsq1 on its pixels, and
    decodes to the format its extension names, holding the pixels of wsq.decode."""
    pixels = raw_image("sd04_f0001_01_crop437x391")
    Image.fromarray(pixels).save(tmp_path / f"in{extension}")
    assert run(capsys, "encode", str(tmp_path / f"in{extension}"), str(tmp_path / "out.wsq"),
               "--bitrate", "1.5", "--comment", "from a file") == (0, "", "")
    stream = (tmp_path / "out.wsq").read_bytes()
    assert stream == wsq1(pixels, "-Z1.5", "-cfrom a file")
    assert run(capsys, "decode", str(tmp_path / "out.wsq"),
               str(tmp_path / f"back{extension}")) == (0, "", "")
    with Image.open(tmp_path / f"back{extension}") as image:
        assert numpy.array_equal(numpy.asarray(image), wsq.decode(stream))
    assert sorted(os.listdir(tmp_path)) == sorted([f"in{extension}", "out.wsq",
                                                   f"back{extension}"])


def test_info_and_files_of_several_streams(tmp_path, capsys):
    """A file of two streams decodes to OUT-1 and OUT-2; info prints each stream's facts."""
    both = tmp_path / "both.wsq"
    both.write_bytes(wsq.encode(raw_image("mcc_sample_1_1"), comment="one\\two")
                     + wsq.encode(raw_image("fvc02db1_102_1")))
    assert run(capsys, "decode", str(both), str(tmp_path / "x.png"))[0] == 0
    with Image.open(tmp_path / "x-1.png") as first, Image.open(tmp_path / "x-2.png") as second:
        assert (first.size, second.size) == ((256, 364), (388, 374))
    shown = run(capsys, "info", str(both))[1]
    assert "stream: 2 of 2\nwidth: 388\nheight: 374\n" in shown
    assert "comment: one\\x5Ctwo\n" in shown


def test_standard_streams_raw_pixels_and_what_unwsq_prints(tmp_path, capsys):
    """"-" is standard input and output (decoded as PGM, or as --format says); .raw holds the
    pixels alone; info labels and prints A, B, M, R as unwsq --info does; --version names the
    version."""
    def command(*arguments: str, given: bytes = b"") -> bytes:
        done = subprocess.run([sys.executable, "-m", "wsq", *arguments], input=given,
                              capture_output=True, check=True)
        return done.stdout

    pixels = raw_image("fvc02db1_102_1")
    Image.fromarray(pixels).save(tmp_path / "in.png")
    stream = command("encode", "-", "-", given=(tmp_path / "in.png").read_bytes())
    assert stream == wsq1(pixels)
    decoded = wsq.decode(stream)
    assert command("decode", "-", "-", "--format", "raw", given=stream) == decoded.tobytes()
    assert command("decode", "-", "-", given=stream).startswith(b"P5\n388 374\n255\n")
    (tmp_path / "in.wsq").write_bytes(stream)
    assert run(capsys, "decode", str(tmp_path / "in.wsq"), str(tmp_path / "out.raw"))[0] == 0
    assert (tmp_path / "out.raw").read_bytes() == decoded.tobytes()
    shown = run(capsys, "info", str(DATA / "wsq-original.wsq"))[1]
    assert "A: 0\nB: 255\nM: 215.54\nR: 1.2074\nEv: 0\nSf: 0\n" in shown and "C: 0.44\n" in shown
    assert command("--version") == f"python3 -m wsq {wsq.version()}\n".encode()


def test_raw_samples_encode_with_their_size(tmp_path, capsys):
    """--size WxH reads raw samples, as wsq1 -rW,H does."""
    raw = str(DATA / "fvc02db1_102_1.raw")
    assert run(capsys, "encode", raw, str(tmp_path / "o.wsq"), "--size", "388x374") == (0, "", "")
    assert (tmp_path / "o.wsq").read_bytes() == wsq1(raw_image("fvc02db1_102_1"))


def test_failures_name_the_file_and_leave_no_output(tmp_path, capsys):
    """Each failure prints "wsq: FILE: reason", ends with status 1 and writes nothing."""
    cut = tmp_path / "cut.wsq"
    cut.write_bytes((DATA / "wsq-original.wsq").read_bytes()[:5000])
    raw = str(DATA / "mcc_sample_1_1.raw")
    small = tmp_path / "small.png"
    Image.fromarray(raw_image("mcc_sample_1_1")[:40, :40]).save(small)
    cases = [
        (("encode", str(tmp_path / "missing.png"), str(tmp_path / "o.wsq")),
         "missing.png: No such file or directory"),
        (("encode", raw, str(tmp_path / "o.wsq")),
         "mcc_sample_1_1.raw: raw samples have no size of their own: give it, --size"),
        (("encode", raw, str(tmp_path / "o.wsq"), "--size", "256x365"),
         "mcc_sample_1_1.raw: 93184 bytes, not the 93440 of a raw image of 256 x 365"),
        (("encode", str(DATA / "wsq-converted.png"), str(tmp_path / "no" / "o.wsq")),
         f"wsq-converted.png: {tmp_path}/no/o.wsq: No such file or directory"),
        (("encode", str(small), str(tmp_path / "o.wsq")), "small.png: image cannot be coded"),
        (("encode", str(small), str(tmp_path / "o.png")),
         f"small.png: {tmp_path}/o.png would hold WSQ bytes under the extension of PNG files"),
        (("decode", str(cut), str(tmp_path / "o.png")), "cut.wsq: truncated stream at byte"),
        (("decode", str(DATA / "wsq-original.wsq"), str(tmp_path / "o.xyz")),
         "wsq-original.wsq: no image format that Pillow writes has the extension '.xyz'"),
        (("info", str(cut)), "cut.wsq: truncated stream at byte"),
    ]
    for arguments, message in cases:
        status, _, error = run(capsys, *arguments)
        assert status == 1 and error.startswith("wsq: ") and error.count("\n") == 1, error
        assert message in error, error
    assert sorted(os.listdir(tmp_path)) == ["cut.wsq", "small.png"]


def test_the_installed_package_runs(tmp_path):
    """cmake --install lays the package out where PYTHONPATH (or, from /usr/local, Debian's
    interpreter) finds it, with its library."""
    subprocess.run([os.environ["CMAKE_COMMAND"], "--install", os.environ["WSQ_BUILD_DIR"],
                    "--component", "python", "--prefix", str(tmp_path)],
                   check=True, capture_output=True)
    installed = tmp_path / os.environ["WSQ_PYTHON_INSTALL_DIR"]
    env = dict(os.environ, PYTHONPATH=str(installed))
    result = subprocess.run([sys.executable, "-m", "wsq", "info", str(DATA / "wsq-original.wsq")],
                            capture_output=True, text=True, env=env, cwd=tmp_path)
    assert result.returncode == 0 and "width: 832" in result.stdout, result.stderr
    assert sorted(path.name for path in (installed / "wsq").iterdir()) == sorted(
        [path.name for path in Path(wsq.__file__).parent.iterdir() if path.name != "__pycache__"])
