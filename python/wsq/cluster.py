"""Directory trees of images to WSQ and back on a Dask cluster (dask.distributed).

Each file is one task: tree/a/b.png becomes out/a/b.wsq on whichever worker runs it, through
wsq.files, so every output appears only when complete. A file that fails is reported by its
relative name with the reason, and the others go on. Dask's own progress display follows the
tasks (a bar in a console, a widget in a notebook), and the call returns a Summary: the files,
the failures by name and the time. The workers read and write the trees themselves: on a real
cluster they must share the file system and have wsq importable.

    from dask.distributed import Client, LocalCluster
    from wsq.cluster import encode_tree

    with LocalCluster(n_workers=2, threads_per_worker=1) as cluster, Client(cluster) as client:
        summary = encode_tree(client, "scans", "wsq", bitrate=0.75)
    for name, why in summary.failures.items():
        print(f"{name}: {why}")
    print(summary)  # 1000 files: 998 written, 2 failed, 12.3 s

For a running cluster, Client("tcp://scheduler:8786") in place of the LocalCluster.
"""
from __future__ import annotations

import time
from collections.abc import Callable, Iterable
from dataclasses import dataclass
from pathlib import Path

from distributed import Client, progress

from . import files

#: The extensions encode_tree() takes as images by default.
IMAGE_SUFFIXES = (".png", ".tif", ".tiff", ".pgm", ".pnm", ".bmp", ".jpg", ".jpeg")


@dataclass(frozen=True)
class Summary:
    """What a tree's conversion did: the files it found, those that failed (relative name ->
    reason) and the seconds it took; str() gives it on one line."""
    files: int
    failures: dict[str, str]
    seconds: float

    @property
    def written(self) -> int:
        return self.files - len(self.failures)

    def __str__(self) -> str:
        return (f"{self.files} files: {self.written} written, {len(self.failures)} failed, "
                f"{self.seconds:.1f} s")


def encode_tree(client: Client, source: files.PathLike, target: files.PathLike, *,
                suffixes: Iterable[str] = IMAGE_SUFFIXES, bitrate: float = 0.75,
                comment: str | bytes | None = None, show_progress: bool = True) -> Summary:
    """Encodes every image under source whose extension is one of suffixes (any case) into
    target, keeping its relative name with the extension .wsq, with the settings of
    wsq.encode(); Dask's progress display follows it unless show_progress is false."""
    settings = {"bitrate": bitrate, "comment": comment}
    return _convert_tree(client, files.encode_file, source, target, suffixes, ".wsq", settings,
                         show_progress)


def decode_tree(client: Client, source: files.PathLike, target: files.PathLike, *,
                suffix: str = ".png", show_progress: bool = True) -> Summary:
    """Decodes every .wsq file under source into target, keeping its relative name with the
    extension suffix, which chooses the format; Dask's progress display follows it unless
    show_progress is false."""
    files.writable_format(suffix)
    return _convert_tree(client, files.decode_file, source, target, (".wsq",), suffix, {},
                         show_progress)


def _convert_tree(client: Client, convert: Callable, source: files.PathLike,
                  target: files.PathLike, suffixes: Iterable[str], new_suffix: str,
                  settings: dict, show_progress: bool) -> Summary:
    started = time.monotonic()
    names = _relative_names(Path(source), suffixes)
    futures = client.map(_convert_one, names, convert=convert, source=Path(source),
                         target=Path(target), new_suffix=new_suffix, settings=settings,
                         pure=False)
    if show_progress and futures:
        progress(futures)
    reasons = client.gather(futures)
    failures = {str(name): why for name, why in zip(names, reasons) if why is not None}
    return Summary(len(names), failures, time.monotonic() - started)


def _relative_names(source: Path, suffixes: Iterable[str]) -> list[Path]:
    """The files under source with one of the suffixes, relative to it, in sorted order."""
    wanted = {suffix.lower() for suffix in suffixes}
    return sorted(path.relative_to(source) for path in source.rglob("*")
                  if path.suffix.lower() in wanted and path.is_file())


def _convert_one(name: Path, convert: Callable, source: Path, target: Path, new_suffix: str,
                 settings: dict) -> str | None:
    """One task: converts source/name into target/name with new_suffix, creating its folder.
    Returns None, or the reason it failed."""
    output = (target / name).with_suffix(new_suffix)
    try:
        output.parent.mkdir(parents=True, exist_ok=True)
        convert(source / name, output, **settings)
    except Exception as error:  # every failure of one file is reported, the others go on
        return files.reason(error, source / name)
    return None
