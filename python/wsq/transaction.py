"""Transaction files (.an2, .eft, .int): their records, fields and images, checked, edited and
written back, through the library's transaction layer (transaction.h).

    from wsq import transaction
    tx = transaction.read_file("booking.eft")      # or transaction.read(data)
    print(tx.check())                              # "valid", or the first flaw and its offset
    for image in tx.images:                        # facts: positions, width, height, ppi, ...
        pixels = tx.pixels(image)                  # 2-D uint8 array (WSQ or uncompressed)
    tx.replace(tx.images[0].record, new_pixels, bitrate=0.75)  # or a ready WSQ stream
    tx.write_file("booking-new.eft")               # every LEN and CNT recomputed

A transaction read and written without edits gives back its bytes unchanged. A file that
cannot be read as records raises WsqValueError with the flaw's status (Status.LEN_MISMATCH,
...), its byte offset and a message; check() gives the verdict on the rest without raising.
The object holds the library's copy of the bytes: release it with close() or a with block
(or leave it to the garbage collector). Reading calls may come from any number of threads at
once; an edit needs the object alone.
"""
from __future__ import annotations

import ctypes
from ctypes import byref, c_size_t, c_void_p
from dataclasses import dataclass

import numpy

from . import _native
from ._codec import Bytes, _int32, decode, encode
from ._errors import Status, WsqError, _known, argument_error, check, failure, located
from ._native import lib
from ._output import PathLike, write

#: The compression codes of image records (the library's wsq_compression).
NONE, WSQ = 0, 1

_RS, _US = b"\x1e", b"\x1f"  # the separators of subfields and of items in a field's value


@dataclass(frozen=True)
class Record:
    """A logical record: its type, the IDC CNT lists for it (None for Type-1), whether it is
    tagged (text fields) or binary (Types 3-8), and where its bytes lie."""

    type: int
    idc: int | None
    tagged: bool
    offset: int
    length: int


@dataclass(frozen=True)
class Field:
    """A field of a tagged record: its number (the N of "T.N:"), its value's bytes and those
    split into subfields of items. Field 999's value is binary data: one subfield of one item."""

    number: int
    value: bytes
    subfields: tuple[tuple[bytes, ...], ...]


@dataclass(frozen=True)
class Image:
    """An image record's facts, as the record declares them (None where it declares nothing)."""

    record: int                  #: index of its record in Transaction.records
    type: int                    #: record type (4, 14, ...)
    idc: int
    positions: tuple[int, ...]   #: finger or palm positions, the most probable first
    impression: int | None       #: impression type code
    compression: int | None      #: compression code (NONE, WSQ, ...); None when not in the table
    compression_name: str        #: "WSQ20", "NONE", ..., or the label as stored; "" when none
    width: int | None
    height: int | None
    bits_per_pixel: int | None
    ppi: int | None              #: pixels per inch, rounded
    data_offset: int             #: the image data's first byte in the transaction
    data_length: int


@dataclass(frozen=True)
class Verdict:
    """What check() found: Status.OK, or the first flaw's status, byte offset and message."""

    status: int
    offset: int
    message: str

    @property
    def valid(self) -> bool:
        return self.status == Status.OK

    def __str__(self) -> str:
        if self.valid:
            return "valid"
        name = lib.wsq_strerror(self.status).decode()
        where = f" at byte {self.offset}" if located(self.status) else ""
        return f"{name}{where}: {self.message}"


def read(data: Bytes, tolerant: bool = False) -> Transaction:
    """Reads a transaction from its bytes (bytes, bytearray, memoryview, numpy array). tolerant
    accepts what no edition allows but files are reported to hold (a LEN with leading zeros, a
    last FS missing, CR, LF or NUL after the last record, labels in lower case): the first such
    thing is then the transaction's warning."""
    return Transaction(data, tolerant)


def read_file(path: PathLike, tolerant: bool = False) -> Transaction:
    """Reads the transaction file at path, as read() does."""
    with open(path, "rb") as file:
        return Transaction(file.read(), tolerant)


class Transaction:
    """A transaction in the library's hands: records, fields and images, check, edits, bytes."""

    def __init__(self, data: Bytes, tolerant: bool = False) -> None:
        source = numpy.frombuffer(data, dtype=numpy.uint8)
        handle, error = c_void_p(), _native.Error()
        reader = lib.wsq_transaction_read_tolerant if tolerant else lib.wsq_transaction_read
        check(reader(byref(handle), byref(error), source.ctypes.data, source.size), error)
        self._handle = handle

    def close(self) -> None:
        """Releases the library's copy; the object cannot be used after."""
        lib.wsq_transaction_free(self._handle)
        self._handle = None

    def __enter__(self) -> Transaction:
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None):
            self.close()

    @property
    def records(self) -> tuple[Record, ...]:
        """The records in file order, Type-1 first."""
        count = lib.wsq_transaction_record_count(self._live())
        return tuple(self._record(index) for index in range(count))

    @property
    def images(self) -> tuple[Image, ...]:
        """One entry per image record, in file order."""
        count = lib.wsq_transaction_image_count(self._live())
        return tuple(self._image(index) for index in range(count))

    def fields(self, record: int) -> tuple[Field, ...]:
        """The fields of tagged record record (an index into records), in its order."""
        found = _native.Record()
        self._call(lib.wsq_transaction_record, record, byref(found))
        if not found.tagged:
            raise argument_error(f"record {record} is a binary record, without fields")
        return tuple(self._field(record, index) for index in range(found.fields))

    def data(self, image: Image | int) -> bytes:
        """The image's data as stored (a WSQ stream, uncompressed pixels, ...)."""
        entry = self._entry(image)
        return self._slice(entry.data_offset, entry.data_length)

    def pixels(self, image: Image | int, reduce: int = 1) -> numpy.ndarray:
        """The image's pixels as a uint8 array of height rows by width: its WSQ stream decoded
        (reduce 2, 4 or 8 gives a preview, as wsq.decode does), or its uncompressed 8-bit data
        (every reduce-th pixel). Other compressions raise WsqValueError; a flaw in the data
        does too, its offset counted from the transaction's start."""
        entry = self._entry(image)
        data = self.data(entry)
        try:
            if entry.compression == WSQ:
                return _one_image(decode(data, reduce=reduce))
            if entry.compression == NONE and entry.bits_per_pixel == 8:
                return _uncompressed(data, entry)[::_reduction(reduce), ::reduce].copy()
        except WsqError as error:
            raise failure(error.status, entry.data_offset + error.offset, error.message) from None
        raise argument_error(f"the image of record {entry.record} is {_compression_words(entry)}: "
                             f"only WSQ and uncompressed 8-bit images are decoded; data() gives "
                             f"its bytes")

    def check(self) -> Verdict:
        """The verdict on the transaction: valid, or its first flaw in file order."""
        error = _native.Error()
        return _verdict(lib.wsq_transaction_check(self._live(), byref(error)), error)

    def check_all(self) -> tuple[Verdict, ...]:
        """The verdict on each record with a flaw, its first, in file order; () for a valid
        transaction."""
        count = c_size_t()
        lib.wsq_transaction_check_all(self._live(), None, 0, byref(count))
        flaws = (_native.Error * count.value)()
        lib.wsq_transaction_check_all(self._live(), flaws, count.value, byref(count))
        return tuple(_verdict(flaw.status, flaw) for flaw in flaws)

    @property
    def warning(self) -> Verdict:
        """What a tolerant reading tolerated first, as the flaw it would have been (its status,
        offset and message); valid when nothing was."""
        warning = _native.Error()
        self._call(lib.wsq_transaction_warning, byref(warning))
        return _verdict(warning.status, warning)

    def replace(self, record: int, image: numpy.ndarray | Bytes, bitrate: float = 0.75,
                **settings) -> None:
        """Puts a new image in record record (a Type-4, or a tagged print record of Types 13 to
        16 or 19): a numpy array of pixels is encoded at bitrate with the settings of
        wsq.encode() (comment, black, white, deep); bytes are taken as a ready WSQ stream.
        Width, height, compression fields and lengths follow."""
        stream = encode(image, bitrate=bitrate, **settings) if isinstance(
            image, numpy.ndarray) else image
        source = numpy.frombuffer(stream, dtype=numpy.uint8)
        self._edit(lib.wsq_transaction_replace_image, record, source.ctypes.data, source.size)

    def set_field(self, record: int, number: int, value: bytes | str) -> None:
        """Sets field number of tagged record record to value (str is stored as UTF-8; RS and
        US separate subfields and items), inserting it in number order when missing; b""
        removes it. LEN follows; CNT follows a new IDC."""
        text = value.encode() if isinstance(value, str) else bytes(value)
        self._edit(lib.wsq_transaction_set_field, record, _int32(number, "field number"), text,
                   len(text))

    def insert_binary(self, record: int, type: int, data: Bytes) -> None:
        """Inserts a binary record of type 4, 7 or 8 as record record (1 to len(records): before
        the record there, or last): data is the whole record, its first four bytes (LEN) set to
        its length, its IDC its fifth byte, which no record of its type may have. CNT gains its
        entry."""
        source = numpy.frombuffer(data, dtype=numpy.uint8)
        self._edit(lib.wsq_transaction_insert_binary, record, _int32(type, "record type"),
                   source.ctypes.data, source.size)

    def insert_tagged(self, record: int, type: int, idc: int) -> None:
        """Inserts a tagged record of type 2 or 9 to 99 as record record (1 to len(records)),
        holding its LEN and its IDC idc (0 to 99, unused in its type) alone: set_field() gives
        it the rest. CNT gains its entry."""
        self._edit(lib.wsq_transaction_insert_tagged, record, _int32(type, "record type"),
                   _int32(idc, "IDC"))

    def remove(self, record: int) -> None:
        """Removes record record (1 to len(records) - 1: Type-1 stays) and its CNT entry;
        records linked to it by IDC stay as they are."""
        self._edit(lib.wsq_transaction_remove, record)

    def bytes(self) -> bytes:
        """The transaction's bytes as they stand: every LEN and the CNT agree with the records."""
        return self._slice(0, None)

    def write_file(self, path: PathLike) -> None:
        """Writes bytes() to path ("-": standard output), under its name only once complete."""
        write(path, self.bytes())

    def _live(self) -> int:
        if not self._handle:
            raise argument_error("the transaction is closed")
        return self._handle

    def _call(self, function, *arguments) -> None:
        """Calls a function of the library on the transaction that reports only ARGUMENT."""
        if function(self._live(), *arguments) != Status.OK:
            raise argument_error(f"no such {function.__name__.rsplit('_', 1)[-1]}: "
                                 f"{', '.join(map(str, arguments[:-1]))}")

    def _edit(self, function, *arguments) -> None:
        error = _native.Error()
        check(function(self._live(), *arguments, byref(error)), error)

    def _record(self, index: int) -> Record:
        found = _native.Record()
        self._call(lib.wsq_transaction_record, index, byref(found))
        return Record(found.type, None if found.idc < 0 else found.idc, bool(found.tagged),
                      found.offset, found.length)

    def _field(self, record: int, index: int) -> Field:
        found = _native.Field()
        self._call(lib.wsq_transaction_field, record, index, byref(found))
        value = self._slice(found.offset, found.length)
        # Split here in one pass: the library finds each item from the field's start.
        subfields = ((value,),) if found.number == 999 else tuple(
            tuple(subfield.split(_US)) for subfield in value.split(_RS))
        return Field(found.number, value, subfields)

    def _slice(self, offset: int, length: int | None) -> bytes:
        """length bytes of the transaction from offset (None: to its end), copied."""
        size = c_size_t()
        start = lib.wsq_transaction_bytes(self._live(), byref(size))
        return ctypes.string_at(start + offset, size.value - offset if length is None else length)

    def _image(self, index: int) -> Image:
        found = _native.ImageEntry()
        self._call(lib.wsq_transaction_image, index, byref(found))
        declared = lambda value: None if value < 0 else value  # noqa: E731
        return Image(record=found.record, type=found.type, idc=found.idc,
                     positions=tuple(found.positions[:found.position_count]),
                     impression=declared(found.impression),
                     compression=declared(found.compression),
                     compression_name=found.compression_name.decode(errors="replace"),
                     width=declared(found.width), height=declared(found.height),
                     bits_per_pixel=declared(found.bits_per_pixel), ppi=found.ppi or None,
                     data_offset=found.data_offset, data_length=found.data_length)

    def _entry(self, image: Image | int) -> Image:
        """The current entry of an image given by its entry or its index in images."""
        return self._image(image) if isinstance(image, int) else self._image(
            self._index_of(image))

    def _index_of(self, image: Image) -> int:
        for index, entry in enumerate(self.images):
            if entry.record == image.record:
                return index
        raise argument_error(f"record {image.record} holds no image")


def _verdict(status: int, error: _native.Error) -> Verdict:
    message = error.message.decode(errors="replace") if status else ""
    return Verdict(_known(status), error.offset if status else 0, message)


def _one_image(decoded: numpy.ndarray | list[numpy.ndarray]) -> numpy.ndarray:
    if isinstance(decoded, list):
        raise argument_error(f"the image's data holds {len(decoded)} WSQ streams, not one")
    return decoded


def _uncompressed(data: bytes, entry: Image) -> numpy.ndarray:
    width, height = entry.width or 0, entry.height or 0
    if len(data) != width * height:
        raise failure(Status.RAW_SIZE_MISMATCH, 0, f"{len(data)} bytes of uncompressed data, "
                       f"not {width} x {height}")
    return numpy.frombuffer(data, dtype=numpy.uint8).reshape(height, width)


def _reduction(reduce: int) -> int:
    """reduce as the decoder takes it: 1, 2, 4 or 8."""
    if reduce not in (1, 2, 4, 8):
        raise argument_error(f"reduce {reduce}: give 1, 2, 4 or 8")
    return reduce


def _compression_words(entry: Image) -> str:
    if entry.bits_per_pixel not in (None, 8) and entry.compression == NONE:
        return f"uncompressed at {entry.bits_per_pixel} bits per pixel"
    return f"compressed as {entry.compression_name or 'undeclared'}"
