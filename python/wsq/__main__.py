"""python3 -m wsq: image files to WSQ files and back.

    python3 -m wsq encode IN OUT [--bitrate R] [--comment TEXT] [--deep scale] [--size WxH]
    python3 -m wsq decode IN OUT [--format FORMAT]
    python3 -m wsq info FILE...
    python3 -m wsq --version

encode reads any image Pillow reads (PNG, PGM, TIFF, BMP, JPEG, ...) with its own dimensions,
or with --size raw 8-bit samples of that width and height (as wsq1 -rW,H reads them; a file of
another length is refused), and refuses an OUT whose extension names another format (.png,
.raw); decode writes the format
that OUT's extension names, one Pillow writes or .raw, headerless pixels (a file of n streams
gives OUT-1 to OUT-n); info prints each stream's header facts, A, B, M, R, Ev, Sf and C
labelled and printed as unwsq --info does.
"-" is standard input, or standard output, which decode writes as PGM or as --format says
(pgm, png, tif, raw, ...). Outputs appear only when complete. A failure prints
"wsq: FILE: what went wrong" and the status is 1.
"""
from __future__ import annotations

import argparse
import dataclasses
import re
import sys

from . import _codec, files


def main(argv: list[str] | None = None) -> int:
    """Runs the command line argv (sys.argv[1:] by default); returns the exit status."""
    arguments = _parser().parse_args(argv)
    status = 0
    for name in arguments.inputs:
        try:
            arguments.run(name, arguments)
        except Exception as error:  # reported by file name, as every failure of one file
            print(f"wsq: {name}: {files.reason(error, name)}", file=sys.stderr)
            status = 1
    return status


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python3 -m wsq", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version",
                        version=f"%(prog)s {_codec.version()}")
    commands = parser.add_subparsers(required=True, metavar="COMMAND")
    encode = commands.add_parser("encode", help="an image file to a WSQ file")
    encode.add_argument("inputs", nargs=1, metavar="IN")
    encode.add_argument("output", metavar="OUT")
    encode.add_argument("--bitrate", type=float, default=0.75,
                        help="nominal bits per pixel (default 0.75)")
    encode.add_argument("--comment", help="text of a comment segment")
    encode.add_argument("--deep", choices=("refuse", "scale"), default="refuse",
                        help="a 16-bit image: refuse it (default), or scale its values to 0-255")
    encode.add_argument("--size", type=_size, metavar="WxH",
                        help="IN holds raw 8-bit samples, width x height bytes")
    encode.set_defaults(run=_encode)
    decode = commands.add_parser("decode", help="a WSQ file to an image file")
    decode.add_argument("inputs", nargs=1, metavar="IN")
    decode.add_argument("output", metavar="OUT", help="its extension chooses the format")
    decode.add_argument("--format", help="the format of standard output, OUT -: pgm (default), "
                                         "png, tif, raw, ...")
    decode.set_defaults(run=_decode)
    info = commands.add_parser("info", help="the header facts of WSQ files")
    info.add_argument("inputs", nargs="+", metavar="FILE")
    info.set_defaults(run=_info)
    return parser


def _size(text: str) -> tuple[int, int]:
    """WIDTHxHEIGHT as (width, height)."""
    match = re.fullmatch(r"([1-9][0-9]*)x([1-9][0-9]*)", text)
    if not match:
        raise argparse.ArgumentTypeError(f"'{text}' is no WIDTHxHEIGHT, such as 500x500")
    return int(match[1]), int(match[2])


def _encode(name: str, arguments: argparse.Namespace) -> None:
    files.encode_file(name, arguments.output, arguments.bitrate, arguments.comment,
                      arguments.deep, arguments.size)


def _decode(name: str, arguments: argparse.Namespace) -> None:
    files.decode_file(name, arguments.output, arguments.format)


def _info(name: str, arguments: argparse.Namespace) -> None:
    facts = _codec.info(files.read(name))
    streams = facts if isinstance(facts, list) else [facts]
    for number, stream in enumerate(streams, 1):
        print(f"file: {name}\nstream: {number} of {len(streams)}")
        _print_facts(stream)


#: The facts that unwsq --info labels with the format's letters, labelled alike.
_LETTERS = {"black": "A", "white": "B", "midpoint": "M", "rescale": "R", "encoder": "Ev",
            "software": "Sf", "center": "C"}


def _print_facts(stream: _codec.Info) -> None:
    """One line a fact, one a comment, then an empty line; numbers stored in a few digits (M, R,
    C) in as many, as unwsq --info prints them."""
    for field in dataclasses.fields(stream):
        value, label = getattr(stream, field.name), _LETTERS.get(field.name, field.name)
        if field.name == "comments":
            for text in value:
                print(f"comment: {_escaped(text)}")
        elif isinstance(value, tuple):
            print(f"{label}: {' '.join(map(str, value))}")
        elif isinstance(value, float):
            print(f"{label}: {value:g}")
        else:
            print(f"{label}: {value}")
    print()


def _escaped(text: bytes) -> str:
    """A comment as one printable line: a line break becomes \\n, the backslash and other bytes
    outside printable ASCII \\xHH (as unwsq --info shows them)."""
    return "".join(chr(c) if 0x20 <= c < 0x7F and c != 0x5C else "\\n" if c == 0x0A
                   else f"\\x{c:02X}" for c in text)


if __name__ == "__main__":
    sys.exit(main())
