"""Shared by the tests: the bundled images and the paths that CMake passes in the environment
(WSQ_TEST_DATA, WSQ1, WSQ_LAYOUT, and those of the installation test)."""
from __future__ import annotations

import csv
import os
import subprocess
from pathlib import Path

import numpy
import pytest

DATA = Path(os.environ["WSQ_TEST_DATA"])


def _manifest() -> dict[str, tuple[int, int]]:
    """Width and height of each bundled raw image, by name."""
    with open(DATA / "MANIFEST.tsv", newline="") as file:
        return {row["name"]: (int(row["width"]), int(row["height"]))
                for row in csv.DictReader(file, delimiter="\t")}


IMAGES = _manifest()


def raw_image(name: str) -> numpy.ndarray:
    """The pixels of the bundled image name.raw, height rows by width."""
    width, height = IMAGES[name]
    return numpy.fromfile(DATA / f"{name}.raw", dtype=numpy.uint8).reshape(height, width)


def wsq1(pixels: numpy.ndarray, *options: str) -> bytes:
    """The stream that the wsq1 program writes for the pixels with the options."""
    height, width = pixels.shape
    result = subprocess.run([os.environ["WSQ1"], f"-r{width},{height}", *options, "-"],
                            input=pixels.tobytes(), capture_output=True, check=True)
    return result.stdout


@pytest.fixture(scope="session")
def fingerprint() -> numpy.ndarray:
    """A bundled image, 388 x 374."""
    return raw_image("fvc02db1_102_1")
