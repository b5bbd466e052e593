"""The Python package wsq for pip: its modules (python/wsq) and, beside them in the wheel, the
shared libwsq they call through ctypes, built by the project's CMake for the interpreter that
runs this (pip install ., with CMake, a C++17 compiler and libpng-dev at hand)."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

ROOT = Path(__file__).resolve().parent


def version() -> str:
    """The version that wsq.h states."""
    header = (ROOT / "src" / "wsq.h").read_text()
    return ".".join(re.search(rf"#define WSQ_VERSION_{part} (\d+)", header).group(1)
                    for part in ("MAJOR", "MINOR", "PATCH"))


class BuildWithLibrary(build_py):
    """Lays out the modules, then builds the library with CMake (the target wsq_python, tests
    and benchmarks off) and puts it beside them."""

    def run(self) -> None:
        super().run()
        build_dir = Path(self.get_finalized_command("build").build_temp) / "cmake"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir),
                        "-DCMAKE_BUILD_TYPE=Release", f"-DWSQ_PYTHON={sys.executable}",
                        "-DWSQ_BUILD_TESTS=OFF", "-DWSQ_BUILD_BENCH=OFF"], check=True)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "wsq_python",
                        "--parallel", str(os.cpu_count() or 1)], check=True)
        shutil.copy2(build_dir / "python" / "wsq" / "libwsq.so",
                     Path(self.build_lib) / "wsq" / "libwsq.so")


class BinaryDistribution(Distribution):
    """A wheel for one platform: it carries a compiled library."""

    def has_ext_modules(self) -> bool:
        return True


setup(
    name="wsq",
    version=version(),
    description="WSQ fingerprint image compression for numpy arrays, Pillow and image files",
    python_requires=">=3.10",
    install_requires=["numpy"],
    extras_require={"pillow": ["Pillow"], "cluster": ["distributed"]},
    packages=["wsq"],
    package_dir={"": "python"},
    package_data={"wsq": ["py.typed"]},
    cmdclass={"build_py": BuildWithLibrary},
    distclass=BinaryDistribution,
    options={"build": {"build_base": "build/pip"}},
)
