"""wsq.cluster: a directory tree to WSQ and back on a local Dask cluster of two workers."""
from __future__ import annotations

import numpy
from distributed import Client, LocalCluster
from PIL import Image

import wsq
from conftest import raw_image
from wsq.cluster import decode_tree, encode_tree


def test_a_tree_round_trips_on_two_workers(tmp_path, capsys):
    """Every image of a tree is coded under its relative name as wsq.encode codes it, a file
    that fails is reported by name without stopping the others, Dask's progress bar follows the
    tasks and a summary counts them; the streams decode back to an image tree."""
    scans, coded, decoded = tmp_path / "scans", tmp_path / "coded", tmp_path / "decoded"
    sources = {"a/b/one.png": "mcc_sample_1_1", "a/two.TIF": "fvc02db1_102_1",
               "three.pgm": "fvc04db3_101_1_crop299x479"}
    for name, image in sources.items():
        (scans / name).parent.mkdir(parents=True, exist_ok=True)
        Image.fromarray(raw_image(image)).save(scans / name)
    (scans / "a" / "broken.png").write_bytes(b"not an image")
    (scans / "notes.txt").write_text("not listed")
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        summary = encode_tree(client, scans, coded, bitrate=1.5)
        assert list(summary.failures) == ["a/broken.png"]
        assert "cannot identify image" in summary.failures["a/broken.png"]
        assert str(summary).startswith("4 files: 3 written, 1 failed, ")
        assert "| 100% Completed |" in capsys.readouterr().out
        back = decode_tree(client, coded, decoded, suffix=".png", show_progress=False)
        assert back.failures == {}
        assert capsys.readouterr().out == ""
    for name, image in sources.items():
        stream = (coded / name).with_suffix(".wsq").read_bytes()
        assert stream == wsq.encode(raw_image(image), bitrate=1.5)
        with Image.open((decoded / name).with_suffix(".png")) as back:
            assert numpy.array_equal(numpy.asarray(back), wsq.decode(stream))
    assert sorted(p.relative_to(coded).as_posix() for p in coded.rglob("*") if p.is_file()) == [
        "a/b/one.wsq", "a/two.wsq", "three.wsq"]
