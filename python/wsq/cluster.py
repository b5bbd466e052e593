"""Directory trees of images to WSQ and back on a Dask cluster (dask.distributed).

Each file is one task: tree/a/b.png becomes out/a/b.wsq on whichever worker runs it, through
wsq.files, so every output appears only when complete. A file that fails is reported by its
relative name with the reason, and the others go on. The workers read and write the trees
themselves: on a real cluster they must share the file system and have wsq importable.

    from dask.distributed import Client, LocalCluster
    from wsq.cluster import encode_tree

    with LocalCluster(n_workers=2, threads_per_worker=1) as cluster, Client(cluster) as client:
        failures = encode_tree(client, "scans", "wsq", bitrate=0.75)
    for name, why in failures.items():
        print(f"{name}: {why}")

For a running cluster, Client("tcp://scheduler:8786") in place of the LocalCluster.
"""
from __future__ import annotations

from collections.abc import Callable, Iterable
from pathlib import Path

from distributed import Client

from . import files

#: The extensions encode_tree() takes as images by default.
IMAGE_SUFFIXES = (".png", ".tif", ".tiff", ".pgm", ".pnm", ".bmp", ".jpg", ".jpeg")


def encode_tree(client: Client, source: files.PathLike, target: files.PathLike, *,
                suffixes: Iterable[str] = IMAGE_SUFFIXES, bitrate: float = 0.75,
                comment: str | bytes | None = None) -> dict[str, str]:
    """Encodes every image under source whose extension is one of suffixes (any case) into
    target, keeping its relative name with the extension .wsq, with the settings of
    wsq.encode(). Returns the failures: relative name -> reason."""
    settings = {"bitrate": bitrate, "comment": comment}
    return _convert_tree(client, files.encode_file, source, target, suffixes, ".wsq", settings)


def decode_tree(client: Client, source: files.PathLike, target: files.PathLike, *,
                suffix: str = ".png") -> dict[str, str]:
    """Decodes every .wsq file under source into target, keeping its relative name with the
    extension suffix, which chooses the format. Returns the failures: relative name -> reason."""
    files.writable_format(suffix)
    return _convert_tree(client, files.decode_file, source, target, (".wsq",), suffix, {})


def _convert_tree(client: Client, convert: Callable, source: files.PathLike,
                  target: files.PathLike, suffixes: Iterable[str], new_suffix: str,
                  settings: dict) -> dict[str, str]:
    names = _relative_names(Path(source), suffixes)
    futures = client.map(_convert_one, names, convert=convert, source=Path(source),
                         target=Path(target), new_suffix=new_suffix, settings=settings,
                         pure=False)
    reasons = client.gather(futures)
    return {str(name): why for name, why in zip(names, reasons) if why is not None}


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
