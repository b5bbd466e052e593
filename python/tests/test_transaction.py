"""wsq.transaction on transactions built here from the bundled prints: records, fields and
images with their facts and pixels, the verdicts, replacing an image and writing."""
from __future__ import annotations

import numpy
import pytest

import wsq
from wsq import Status, transaction
from wsq._native import lib
from conftest import raw_image

GS, RS, US, FS = b"\x1d", b"\x1e", b"\x1f", b"\x1c"


def tagged(kind: int, *fields: tuple[str, bytes | str]) -> bytes:
    """A tagged record of the fields after LEN, its LEN counting its own digits."""
    rest = b"".join(GS + f"{kind}.{tag}:".encode() + (v.encode() if isinstance(v, str) else v)
                    for tag, v in fields) + FS
    head = f"{kind}.001:".encode()
    length = len(head) + len(rest)
    while len(head) + len(str(length)) + len(rest) != length:
        length = len(head) + len(str(length)) + len(rest)
    return head + str(length).encode() + rest


def type4(idc: int, position: int, width: int, height: int, compression: int,
          data: bytes) -> bytes:
    """A Type-4 record: live-scan rolled, one finger position, ISR 0."""
    return ((18 + len(data)).to_bytes(4, "big") + bytes([idc, 1, position]) + b"\xff" * 5 +
            b"\0" + width.to_bytes(2, "big") + height.to_bytes(2, "big") + bytes([compression]) +
            data)


def type14(idc: int, position: int, stream: bytes, width: int, height: int) -> bytes:
    return tagged(14, ("002", str(idc)), ("003", "1"), ("004", "SRC1"), ("005", "20240131"),
                  ("006", str(width)), ("007", str(height)), ("008", "1"), ("009", "500"),
                  ("010", "500"), ("011", "WSQ20"), ("012", "8"), ("013", str(position)),
                  ("999", stream))


def build(records: list[tuple[int, int, bytes]], version: str = "0500") -> bytes:
    """Type-1 listing the (type, IDC, bytes) records, then those records."""
    cnt = f"1{US.decode()}{len(records)}" + "".join(
        f"{RS.decode()}{kind}{US.decode()}{idc}" for kind, idc, _ in records)
    type1 = tagged(1, ("002", version), ("003", cnt), ("004", "CAR"), ("005", "20240131"),
                   ("007", "DAI1"), ("008", "ORI1"), ("009", "TCN1"), ("011", "19.69"),
                   ("012", "19.69"))
    return type1 + b"".join(data for _, _, data in records)


@pytest.fixture(scope="module")
def prints():
    """Two crops of a bundled print, their WSQ streams, and a transaction holding them beside
    a Type-2 record and an uncompressed print: Type-4 and Type-14 side by side."""
    print_ = raw_image("sd04_f0001_01")
    crops = [numpy.ascontiguousarray(print_[32:224, 16 + 160 * k:176 + 160 * k]) for k in (0, 1)]
    streams = [wsq.encode(crop) for crop in crops]
    small = numpy.ascontiguousarray(print_[:40, :50])
    data = build([(2, 0, tagged(2, ("002", "0"), ("018", f"DOE{US.decode()}JOHN{RS.decode()}X"))),
                  (4, 1, type4(1, 2, 160, 192, 1, streams[0])),
                  (14, 2, type14(2, 7, streams[1], 160, 192)),
                  (4, 3, type4(3, 1, 50, 40, 0, small.tobytes()))])
    return crops, streams, small, data


def test_records_fields_and_images_with_their_facts_and_pixels(prints):
    crops, streams, small, data = prints
    tx = transaction.read(data)
    assert tx.bytes() == data
    assert [(r.type, r.idc, r.tagged) for r in tx.records] == [
        (1, None, True), (2, 0, True), (4, 1, False), (14, 2, True), (4, 3, False)]
    assert sum(r.length for r in tx.records) == len(data)
    assert [(f.number, f.subfields) for f in tx.fields(1)][2] == (18, ((b"DOE", b"JOHN"), (b"X",)))
    assert tx.fields(3)[-1] == transaction.Field(999, streams[1], ((streams[1],),))
    with pytest.raises(wsq.WsqValueError, match="binary record"):
        tx.fields(2)

    first, second, raw = tx.images
    assert (first.record, first.type, first.idc, first.positions, first.impression,
            first.compression_name, first.width, first.height) == (2, 4, 1, (2,), 1, "WSQ20", 160, 192)
    assert (second.type, second.positions, second.ppi, second.bits_per_pixel) == (14, (7,), 500, 8)
    assert (raw.compression, raw.compression_name, raw.width, raw.height) == (0, "NONE", 50, 40)
    assert data[first.data_offset:first.data_offset + first.data_length] == streams[0]
    assert tx.data(second) == streams[1]
    assert (tx.pixels(first) == wsq.decode(streams[0])).all()
    assert (tx.pixels(1, reduce=8) == wsq.decode(streams[1], reduce=8)).all()
    assert (tx.pixels(raw) == small).all() and (tx.pixels(raw, reduce=4) == small[::4, ::4]).all()


def test_verdicts_and_refusals_carry_status_offset_and_message(prints):
    _, streams, _, data = prints
    assert transaction.read(data).check() == transaction.Verdict(Status.OK, 0, "")
    # The Type-4's width stated as 161: its WSQ frame says 160.
    stated = build([(4, 1, type4(1, 2, 161, 192, 1, streams[0]))])
    verdict = transaction.read(stated).check()
    assert not verdict.valid and verdict.status == Status.HLL_VLL_MISMATCH
    assert str(verdict).startswith(f"hll-vll-mismatch at byte {verdict.offset}: ")
    with pytest.raises(wsq.WsqValueError) as refused:
        transaction.read(data[:-1])
    assert refused.value.status == Status.LEN_PAST_END and refused.value.offset > 0
    # A last FS missing is read when tolerated, and is the transaction's warning.
    whole = build([(14, 2, type14(2, 7, streams[1], 160, 192))])
    tolerated = transaction.read(whole[:-1], tolerant=True)
    assert tolerated.bytes() == whole and tolerated.warning.status == Status.FS_MISSING
    assert transaction.read(whole, tolerant=True).warning.valid
    # A flaw inside a print's stream is reported at its place in the file.
    flawed = bytearray(data)
    image = transaction.read(data).images[0]
    flawed[image.data_offset:image.data_offset + 2] = b"\0\0"
    with pytest.raises(wsq.WsqValueError) as refused:
        transaction.read(bytes(flawed)).pixels(0)
    assert refused.value.offset == image.data_offset
    with pytest.raises(wsq.WsqValueError, match="record 1") as refused:
        transaction.read(data).replace(1, streams[0])
    assert refused.value.status == Status.ARGUMENT


def test_replacing_prints_and_writing(prints, tmp_path):
    crops, streams, small, data = prints
    with transaction.read(data) as tx:
        tx.replace(2, crops[1][:100, :120], bitrate=2.25)
        tx.replace(3, streams[0])
        tx.set_field(1, 18, "ROE\x1fJANE")
        assert tx.check().valid
        assert tx.data(0) == wsq.encode(crops[1][:100, :120], bitrate=2.25)
        assert (tx.images[0].width, tx.images[0].height) == (120, 100)
        assert tx.data(1) == streams[0] and tx.fields(1)[2].subfields == ((b"ROE", b"JANE"),)
        tx.write_file(tmp_path / "out.eft")
        assert (tmp_path / "out.eft").read_bytes() == tx.bytes() != data
    reread = transaction.read_file(tmp_path / "out.eft")
    assert (reread.pixels(2) == small).all() and reread.check().valid


def test_inserting_and_removing_records_and_the_first_flaw_of_every_record(prints):
    crops, streams, small, data = prints
    tx = transaction.read(data)
    tx.insert_binary(2, 4, b"\0" * 4 + type4(5, 3, 50, 40, 0, small.tobytes())[4:])  # LEN set here
    tx.insert_tagged(6, 10, 6)
    tx.remove(1)
    assert [(r.type, r.idc) for r in tx.records] == [
        (1, None), (4, 5), (4, 1), (14, 2), (4, 3), (10, 6)]
    assert [f.number for f in tx.fields(5)] == [1, 2]
    assert (tx.pixels(0) == small).all() and tx.check().valid and tx.check_all() == ()
    was = tx.bytes()
    with pytest.raises(wsq.WsqValueError, match="^bad argument: a Type-10 record with IDC 6 is"):
        tx.insert_tagged(1, 10, 6)
    with pytest.raises(wsq.WsqValueError, match="Type-5"):
        tx.insert_binary(1, 5, was[:18])
    with pytest.raises(wsq.WsqValueError, match="no record 6") as refused:
        tx.remove(6)
    assert refused.value.status == Status.ARGUMENT and tx.bytes() == was
    # Width 161 where the stream says 160, and one byte of pixels short: a flaw in each record.
    flawed = transaction.read(build([(4, 1, type4(1, 2, 161, 192, 1, streams[0])),
                                     (2, 0, tagged(2, ("002", "0"))),
                                     (4, 2, type4(2, 2, 50, 40, 0, small.tobytes()[1:]))]))
    flaws = flawed.check_all()
    assert [flaw.status for flaw in flaws] == [Status.HLL_VLL_MISMATCH, Status.RAW_SIZE_MISMATCH]
    assert flaws[0] == flawed.check()
    # Status lists the flaws the library names, under their short names, and no more are named.
    named = [status for status in Status if status >= Status.BAD_TAG]
    assert [lib.wsq_strerror(status).decode() for status in named] == [
        status.name.lower().replace("_", "-") for status in named]
    assert lib.wsq_strerror(Status.BAD_VALUE + 1) == b"unknown status"
