#!/usr/bin/env python3
"""Runs the command-line cases of case files and checks what each one does.

A case file reads as a transcript. `$ COMMAND` begins a case (lines `> ...`
continue it); bash runs it in a fresh directory holding the fixtures: the
files of the data directory (linked), and those that the file's `% COMMAND`
lines make once per run. The lines after it, up to a blank line, are what
the case does, in this order:

  1> TEXT           a line of standard output
  2> TEXT           a line of standard error
  + NAME <...>      a file the case made or replaced; `+ NAME/`: a directory
  - NAME            a fixture it removed
  [N]               its exit status, unless 0

Bytes that are not text show as <SIZE bytes, sha256 FIRST-16-HEX-DIGITS>, a
PNG file as its 8-bit gray pixels (read here again, every chunk checked), text without a last newline ends in
" (no eol)". What varies between builds is replaced: the three banner lines
of wsq1 by <banner>, the line number of an assertion report by LINE.
Lines beginning with # are comments.

A case may run, besides the programs and the usual tools: `needs TOOL...`,
which skips the case unless every TOOL is installed; `not_on PLATFORM...`,
which skips it on those platforms (--platform: windows, aarch64, ...), a
comment above it telling why it cannot hold there; `also COMMAND`, which
keeps the exit status of the command before (`wsq1 ...; also cat out.wsq`);
`image KIND WIDTH HEIGHT [VALUE]`, which writes a raw 8-bit image: noise,
ramp (a diagonal ramp), wave (a faint fine wave and one white pixel) or flat
(every pixel VALUE); `transaction VER RECORD...`, which writes a transaction
file of version VER whose records after Type-1 are each TYPE:IDC (a Type-2),
4:IDC:FILE or 14:IDC:FILE (a print of finger IDC holding the WSQ stream
FILE), or 4:IDC:FILE:WxH (FILE's raw pixels); and "$PYTHON", the interpreter
running this file.

--update (or WSQ_UPDATE_CASES=1) rewrites the expectations from what the
programs do now, for review with git diff.
"""
import argparse
import concurrent.futures
import difflib
import hashlib
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

VARYING = [
    (re.compile(r">>>WSQ Encoder One image compression<<< +Sf=55297\n"
                r"Reference: IAFIS-IC-0110v2, 16 February 1993, as amended\.\nwsq1 \S+\n"), "<banner>\n"),
    (re.compile(r"\b(\w+\.cpp):\d+: failed assertion"), r"\1:LINE: failed assertion"),
]
PREAMBLE = ('needs() { for t; do command -v "$t" >/dev/null || exit 77; done; }\n'
            'not_on() { for p; do [ "$p" != "$WSQ_PLATFORM" ] || exit 77; done; }\n'
            'also() { local status=$?; "$@"; return $status; }\n'
            'image() { "$PYTHON" "%s" --image "$@"; }\n'
            'transaction() { "$PYTHON" "%s" --transaction "$@"; }\n' % ((os.path.abspath(__file__),) * 2))
SKIPPED = 77


class Case:
    def __init__(self, line, command):
        self.line, self.command, self.expected = line, command, []


def parse(path):
    """The file as its lines and cases in order, and its setup commands."""
    items, setup = [], []
    lines = open(path, encoding="utf-8").read().splitlines()
    i = 0
    while i < len(lines):
        if not lines[i].startswith("$ "):
            if lines[i].startswith("% "):
                setup.append(lines[i][2:])
            items.append(lines[i])
            i += 1
            continue
        case = Case(i + 1, [lines[i][2:]])
        for i in range(i + 1, len(lines) + 1):
            if i == len(lines) or not lines[i].startswith("> "):
                break
            case.command.append(lines[i][2:])
        for i in range(i, len(lines) + 1):
            if i == len(lines) or not lines[i].strip() or lines[i][0] in "#$%":
                break
            case.expected.append(lines[i])
        items.append(case)
    return items, setup


def digest(data):
    return hashlib.sha256(data).hexdigest()[:16]


def png_pixels(data):
    """The pixels of a whole 8-bit gray PNG file, unfiltered; None for anything else."""
    width, height, depth, color = struct.unpack(">IIBB", data[16:26])
    at, compressed, kind = 8, b"", b""
    try:
        while kind != b"IEND":
            length, kind = struct.unpack(">I4s", data[at:at + 8])
            body, crc = data[at + 8:at + 8 + length], data[at + 8 + length:at + 12 + length]
            if len(body) != length or crc != struct.pack(">I", zlib.crc32(data[at + 4:at + 8 + length])):
                return width, height, None
            compressed += body if kind == b"IDAT" else b""
            at += 12 + length
        raw = zlib.decompress(compressed)
    except (struct.error, zlib.error):
        return width, height, None
    if depth != 8 or color != 0 or at != len(data) or len(raw) != height * (width + 1):
        return width, height, None
    pixels, prior = bytearray(), bytearray(width)
    for y in range(height):
        kind, row = raw[y * (width + 1)], bytearray(raw[y * (width + 1) + 1:(y + 1) * (width + 1)])
        for x in range(width):
            a, b, c = row[x - 1] if x else 0, prior[x], prior[x - 1] if x else 0
            p = a + b - c
            paeth = a if abs(p - a) <= min(abs(p - b), abs(p - c)) else b if abs(p - b) <= abs(p - c) else c
            row[x] = (row[x] + (0, a, b, (a + b) // 2, paeth)[kind]) & 255
        pixels += row
        prior = row
    return width, height, bytes(pixels)


def summary(data):
    if data.startswith(b"\x89PNG\r\n\x1a\n"):
        width, height, pixels = png_pixels(data)
        return f"<png {width} x {height}, " + (f"8-bit gray pixels sha256 {digest(pixels)}>" if pixels
                                                 else "not a whole 8-bit gray image>")
    return f"<{len(data)} bytes" + (f", sha256 {digest(data)}>" if data else ">")


def shown(prefix, data):
    """Output as the lines of a transcript."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        text = None
    if text is None or re.search("[\x00-\x08\x0b-\x1f\x7f]", text):
        return [f"{prefix} {summary(data)}"] if data else []
    for pattern, replacement in VARYING:
        text = pattern.sub(replacement, text)
    lines = text.split("\n")
    last = lines.pop()
    return [f"{prefix} {line}" if line else prefix for line in lines] + \
        ([f"{prefix} {last} (no eol)"] if last else [])


def tree(top):
    """Every file and directory under top: relative name -> link target, or None."""
    entries = {}
    for where, dirs, files in os.walk(top):
        for name in dirs + files:
            path = os.path.join(where, name)
            link = os.path.islink(path)
            entries[os.path.relpath(path, top) + ("/" if name in dirs and not link else "")] = \
                os.readlink(path) if link else None
    return entries


def changes(case_dir, fixtures):
    """What the case made, replaced or removed, as lines of its transcript."""
    after, lines = tree(case_dir), []
    for name, target in sorted(after.items()):
        if name in fixtures and fixtures[name] == target:
            continue
        path = os.path.join(case_dir, name)
        if name.endswith("/"):
            if not any(other.startswith(name) and other != name for other in after):
                lines.append(f"+ {name}")
        elif target:
            lines.append(f"+ {name} -> {target}")
        else:
            with open(path, "rb") as file:
                lines.append(f"+ {name} {summary(file.read())}")
    return lines + [f"- {name}" for name in sorted(set(fixtures) - set(after))]


class Run:
    def __init__(self, root, data, env):
        self.root, self.data, self.env = root, data, env

    def make_fixtures(self, setup):
        self.fixtures_dir = os.path.join(self.root, "fixtures")
        shutil.copytree(self.data, self.fixtures_dir, copy_function=os.symlink)
        if setup:
            done = subprocess.run(["bash", "-ec", PREAMBLE + "\n".join(setup)], cwd=self.fixtures_dir,
                                  env=self.env, stdin=subprocess.DEVNULL, capture_output=True)
            if done.returncode != 0:
                sys.exit(f"the setup commands failed with status {done.returncode}:\n"
                         + done.stderr.decode(errors="replace"))
        self.fixtures = {}
        for name in tree(self.fixtures_dir):
            path = os.path.join(self.fixtures_dir, name)
            self.fixtures[name] = None if name.endswith("/") else os.path.realpath(path)
        self.stamps = self.fixture_stamps()

    def fixture_stamps(self):
        return {name: (os.stat(target).st_mtime_ns, os.stat(target).st_size)
                for name, target in self.fixtures.items() if target}

    def run(self, case):
        """The transcript of the case as it runs now; None when skipped."""
        case_dir = os.path.join(self.root, f"case{case.line}")
        shutil.copytree(self.fixtures_dir, case_dir,
                        copy_function=lambda source, name: os.symlink(os.path.realpath(source), name))
        try:
            done = subprocess.run(["bash", "-c", PREAMBLE + "\n".join(case.command)], cwd=case_dir,
                                  env=self.env, stdin=subprocess.DEVNULL, capture_output=True)
            if done.returncode == SKIPPED:
                return None
            return (shown("1>", done.stdout) + shown("2>", done.stderr) + changes(case_dir, self.fixtures)
                    + ([f"[{done.returncode}]"] if done.returncode else []))
        finally:
            shutil.rmtree(case_dir, ignore_errors=True)


def check(path, run, update, jobs, first=None):
    """Runs the cases of one file, or its first ones; returns the number that failed."""
    items, setup = parse(path)
    run.make_fixtures(setup)
    cases = [item for item in items if isinstance(item, Case)][:first]
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        outcomes = list(pool.map(run.run, cases))
    differ = skipped = 0
    for case, actual in zip(cases, outcomes):
        if actual is None:
            skipped += 1
        elif actual != case.expected:
            differ += 1
            if not update:
                print(f"{path}:{case.line}: case failed:\n$ " + "\n> ".join(case.command))
                sys.stdout.writelines(line + "\n" for line in difflib.unified_diff(
                    case.expected, actual, "expected", "actual", lineterm="", n=2))
            case.expected = actual
    for name, stamp in run.fixture_stamps().items():
        if stamp != run.stamps[name]:
            differ += 1
            print(f"{path}: a case wrote into the fixture {name}")
    if update:
        text = "".join(item + "\n" if isinstance(item, str) else
                       "\n".join(["$ " + item.command[0]] + ["> " + line for line in item.command[1:]]
                                 + item.expected) + "\n" for item in items)
        with open(path, "w", encoding="utf-8") as file:
            file.write(text)
        print(f"{path}: {differ} of {len(cases)} cases rewritten")
        return 0
    print(f"{path}: {len(cases) - differ - skipped} cases passed, {differ} failed, "
          f"{skipped} skipped (a tool they need is not installed, or they cannot hold on this platform)")
    return differ


def image(kind, width, height, value=0):
    """A raw 8-bit image, row after row."""
    size = width * height
    if kind == "noise":
        return b"".join(hashlib.sha256(b"%d" % i).digest() for i in range(size // 32 + 1))[:size]
    if kind == "ramp":
        return bytes((x + y) * 255 // (width + height - 2) for y in range(height) for x in range(width))
    if kind == "wave":
        row = bytes(math.floor(128.5 + 3 * math.sin(2 * math.pi * 0.375 * x + 1)) for x in range(width))
        return b"\xff" + (row * height)[1:]
    if kind == "flat":
        return bytes([value]) * size
    sys.exit(f"image: unknown kind {kind}: noise, ramp, wave or flat")


def tagged(kind, fields):
    """A tagged record of (number, value) fields after its length."""
    rest = b"".join(b"\x1d%d.%03d:" % (kind, number) + value for number, value in fields) + b"\x1c"
    length = 0
    while len(b"%d.001:%d" % (kind, length) + rest) != length:
        length = len(b"%d.001:%d" % (kind, length) + rest)
    return b"%d.001:%d" % (kind, length) + rest


def transaction(version, entries):
    """A transaction of the records that entries (TYPE:IDC[:FILE[:WxH]]) name."""
    records, listing = [], b""
    for entry in entries:
        kind, idc, *source = entry.split(":")
        kind, idc = int(kind), int(idc)
        listing += b"\x1e%d\x1f%d" % (kind, idc)
        if kind == 2:
            records.append(tagged(2, [(2, b"%d" % idc), (18, b"DOE,JOHN")]))
            continue
        with open(source[0], "rb") as f:
            data = f.read()
        if len(source) > 1:
            width, height = map(int, source[1].split("x"))
        else:
            at = 2  # the segments after Start-Of-Image, up to the frame header
            while data[at + 1] != 0xA2:
                at += 2 + int.from_bytes(data[at + 2:at + 4], "big")
            height, width = struct.unpack(">HH", data[at + 6:at + 10])
        if kind == 4:
            records.append(struct.pack(">IBBB5sBHHB", 18 + len(data), idc, 1, idc, b"\xff" * 5, 0, width, height,
                                       0 if len(source) > 1 else 1) + data)
        else:
            label = b"WSQ" if version < "0400" else b"WSQ20"
            records.append(tagged(kind, [(2, b"%d" % idc), (3, b"1"), (4, b"SRC1"), (5, b"20240131"),
                                         (6, b"%d" % width), (7, b"%d" % height), (8, b"1"), (9, b"500"),
                                         (10, b"500"), (11, label), (12, b"8"), (13, b"%d" % idc), (999, data)]))
    type1 = tagged(1, [(2, version.encode()), (3, b"1\x1f%d" % len(entries) + listing), (4, b"CAR"),
                       (5, b"20240131"), (7, b"DAI1"), (8, b"ORI1"), (9, b"TCN1"), (11, b"19.69"), (12, b"19.69")])
    return type1 + b"".join(records)


def add_program(name, path, emulator):
    """The program at path as name: a link to it, or a script that runs it through the emulator."""
    with open(path, "rb") as file:
        script = file.read(2) == b"#!"
    if not emulator or script:
        os.symlink(path, name)
        return
    with open(name, "w") as wrapper:
        wrapper.write(f'#!/bin/sh\nexec {emulator} "{path}" "$@"\n')
    os.chmod(name, 0o755)


def main():
    if sys.argv[1:2] == ["--image"]:
        sys.stdout.buffer.write(image(sys.argv[2], *map(int, sys.argv[3:])))
        return 0
    if sys.argv[1:2] == ["--transaction"]:
        sys.stdout.buffer.write(transaction(sys.argv[2], sys.argv[3:]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("files", nargs="+", metavar="FILE", help="case files")
    parser.add_argument("--data", required=True, help="the directory of fixture files")
    parser.add_argument("--program", action="append", default=[], metavar="NAME=PATH",
                        help="run PATH as NAME in the cases")
    parser.add_argument("--update", action="store_true", default=os.environ.get("WSQ_UPDATE_CASES") == "1",
                        help="rewrite the expectations from what the programs do now")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="cases run at once")
    parser.add_argument("--emulator", default="", metavar="COMMAND",
                        help="run the programs built for another machine through COMMAND (qemu-aarch64 -L ...)")
    parser.add_argument("--platform", default="", metavar="NAME",
                        help="the platform the programs are built for, which `not_on NAME` cases skip")
    parser.add_argument("--first", type=int, metavar="N",
                        help="run only the first N cases of each file (its basics: the quick tier)")
    args = parser.parse_args()
    root = tempfile.mkdtemp(prefix="wsq_cases.")
    try:
        bin_dir = os.path.join(root, "bin")
        os.mkdir(bin_dir)
        for program in args.program:
            name, path = program.split("=", 1)
            add_program(os.path.join(bin_dir, name), os.path.abspath(path), args.emulator)
        # wsqjob runs the programs that WSQ1 and UNWSQ name instead of those under test.
        env = {name: value for name, value in os.environ.items() if name not in ("WSQ1", "UNWSQ")}
        env.update(PATH=bin_dir + os.pathsep + env.get("PATH", "/usr/bin:/bin"), LC_ALL="C", PYTHON=sys.executable,
                   WSQ_PLATFORM=args.platform)
        failed = 0
        for path in args.files:
            run = Run(os.path.join(root, os.path.basename(path)), os.path.abspath(args.data), env)
            os.mkdir(run.root)
            failed += check(path, run, args.update, args.jobs, args.first)
        return 1 if failed else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
