"""Files written whole: under their name only once complete, written beside it and renamed into
place; the name "-" stands for standard output."""
from __future__ import annotations

import contextlib
import os
import sys
from collections.abc import Iterator
from pathlib import Path

PathLike = str | os.PathLike


def write(target: PathLike, data: bytes) -> None:
    """Writes the file whole (or standard output for "-"), under its name only once
    complete."""
    if os.fspath(target) == "-":
        sys.stdout.buffer.write(data)
        sys.stdout.buffer.flush()
        return
    with staged(Path(target)) as temporary:
        temporary.write_bytes(data)


@contextlib.contextmanager
def staged(target: Path) -> Iterator[Path]:
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
