"""The C interface of libwsq (wsq.h and transaction.h) as ctypes declarations.

The shared library lies beside this module. ctypes releases the interpreter lock around
every call into it, so threads encode and decode in parallel. The structures mirror the headers
field for field; the tests compare their layout with the one a C compiler gives. The option
structures are filled by the library's defaults calls, given their size as declared here.
"""
from __future__ import annotations

import ctypes
from ctypes import POINTER, c_char, c_char_p, c_double, c_float, c_int, c_int32, c_size_t
from ctypes import c_uint32, c_void_p
from pathlib import Path

INT32_RANGE = range(-(2**31), 2**31)


class Error(ctypes.Structure):
    """wsq_error: where and why a call failed."""

    _fields_ = [("status", c_int32), ("offset", c_size_t), ("message", c_char * 200)]


class EncodeOptions(ctypes.Structure):
    """wsq_encode_options: the settings of wsq_encode()."""

    _fields_ = [("size", c_size_t), ("bitrate", c_double), ("black", c_int32), ("white", c_int32),
                ("comment", c_char_p), ("threads", c_int32)]


class DecodeOptions(ctypes.Structure):
    """wsq_decode_options: the settings of the decoding functions."""

    _fields_ = [("size", c_size_t), ("max_pixels", c_size_t), ("threads", c_int32),
                ("reduce", c_int32)]


class Info(ctypes.Structure):
    """wsq_info: the facts of one stream."""

    _fields_ = [("width", c_int32), ("height", c_int32), ("black", c_int32), ("white", c_int32),
                ("midpoint", c_float), ("rescale", c_float), ("encoder", c_int32),
                ("software", c_int32), ("filter_lengths", c_int32 * 2), ("center", c_float),
                ("tables", c_uint32), ("restart_interval", c_int32), ("blocks", c_int32),
                ("block_table", c_int32 * 3), ("block_bytes", c_size_t * 3),
                ("comments", c_uint32), ("stream_bytes", c_size_t)]


class Record(ctypes.Structure):
    """wsq_record: one logical record of a transaction."""

    _fields_ = [("type", c_int32), ("idc", c_int32), ("tagged", c_int32), ("fields", c_uint32),
                ("offset", c_size_t), ("length", c_size_t)]


class Field(ctypes.Structure):
    """wsq_field: one field of a tagged record."""

    _fields_ = [("number", c_int32), ("subfields", c_uint32), ("tag_offset", c_size_t),
                ("offset", c_size_t), ("length", c_size_t)]


class ImageEntry(ctypes.Structure):
    """wsq_image_entry: one image record of a transaction."""

    _fields_ = [("record", c_size_t), ("type", c_int32), ("idc", c_int32),
                ("positions", c_int32 * 6), ("position_count", c_int32),
                ("impression", c_int32), ("compression", c_int32),
                ("compression_name", c_char * 16), ("width", c_int32), ("height", c_int32),
                ("bits_per_pixel", c_int32), ("ppi", c_int32), ("data_offset", c_size_t),
                ("data_length", c_size_t)]


def _load() -> ctypes.CDLL:
    """Opens the library beside this module and declares the prototypes of its functions."""
    library = ctypes.CDLL(str(Path(__file__).with_name("libwsq.so")))
    prototypes = {
        "wsq_strerror": (c_char_p, [c_int]),
        "wsq_encode_defaults": (None, [POINTER(EncodeOptions), c_size_t]),
        "wsq_encode": (c_int, [POINTER(c_void_p), POINTER(c_size_t), POINTER(Error), c_void_p,
                               c_size_t, c_int32, c_int32, POINTER(EncodeOptions)]),
        "wsq_decode_defaults": (None, [POINTER(DecodeOptions), c_size_t]),
        "wsq_decode_into": (c_int, [c_void_p, c_size_t, POINTER(Info), POINTER(Error), c_void_p,
                                    c_size_t, POINTER(DecodeOptions)]),
        "wsq_read_info": (c_int, [POINTER(Info), POINTER(Error), c_void_p, c_size_t]),
        "wsq_comment": (c_int, [POINTER(c_void_p), POINTER(c_size_t), POINTER(Error), c_void_p,
                                c_size_t, c_uint32]),
        "wsq_gray_from_color": (c_int, [c_void_p, c_void_p, c_size_t, c_int32]),
        "wsq_free": (None, [c_void_p]),
        "wsq_version": (c_char_p, []),
        "wsq_transaction_read": (c_int, [POINTER(c_void_p), POINTER(Error), c_void_p, c_size_t]),
        "wsq_transaction_read_tolerant": (c_int, [POINTER(c_void_p), POINTER(Error), c_void_p,
                                                  c_size_t]),
        "wsq_transaction_warning": (c_int, [c_void_p, POINTER(Error)]),
        "wsq_transaction_free": (None, [c_void_p]),
        "wsq_transaction_write": (c_int, [POINTER(c_void_p), POINTER(c_size_t), POINTER(Error),
                                          c_void_p]),
        "wsq_transaction_record_count": (c_size_t, [c_void_p]),
        "wsq_transaction_record": (c_int, [c_void_p, c_size_t, POINTER(Record)]),
        "wsq_transaction_field": (c_int, [c_void_p, c_size_t, c_size_t, POINTER(Field)]),
        "wsq_transaction_bytes": (c_void_p, [c_void_p, POINTER(c_size_t)]),
        "wsq_transaction_image_count": (c_size_t, [c_void_p]),
        "wsq_transaction_image": (c_int, [c_void_p, c_size_t, POINTER(ImageEntry)]),
        "wsq_transaction_check": (c_int, [c_void_p, POINTER(Error)]),
        "wsq_transaction_check_all": (c_int, [c_void_p, POINTER(Error), c_size_t,
                                              POINTER(c_size_t)]),
        "wsq_transaction_replace_image": (c_int, [c_void_p, c_size_t, c_void_p, c_size_t,
                                                  POINTER(Error)]),
        "wsq_transaction_set_field": (c_int, [c_void_p, c_size_t, c_int32, c_void_p, c_size_t,
                                              POINTER(Error)]),
        "wsq_transaction_insert_binary": (c_int, [c_void_p, c_size_t, c_int32, c_void_p,
                                                  c_size_t, POINTER(Error)]),
        "wsq_transaction_insert_tagged": (c_int, [c_void_p, c_size_t, c_int32, c_int32,
                                                  POINTER(Error)]),
        "wsq_transaction_remove": (c_int, [c_void_p, c_size_t, POINTER(Error)]),
    }
    for name, (result, arguments) in prototypes.items():
        function = getattr(library, name)
        function.restype, function.argtypes = result, arguments
    return library


lib = _load()
