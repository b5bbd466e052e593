#!/usr/bin/env python3
"""Mutation testing: how many single-point faults in src/*.cpp the tests catch.

Every candidate fault is found by scanning the sources; a fixed sample of them
(--count, drawn with --seed) is applied one at a time to a private copy of the
repository, which is rebuilt incrementally (Release, -j2) and tested with
ctest, stopping at the first failing test. A mutant is "killed" when a test
fails or runs past --timeout, "survived" when every test passes, and "invalid"
when it does not compile (not counted in the kill rate).

Faults, each at one place of the code proper. Comments, string and character
literals and preprocessor lines are left alone, and so are the arguments of
WSQ_ASSERT: they check the caller's contract, which no correct use breaks,
and their text is also the failure report.
  comparison  < <=, > >=, == != swapped
  constant    an integer literal one more or one less
  statement   an assignment, increment or call statement dropped
  fma         std::fma(a, b, c) -> std::fma(a, c, b), and so for fused_multiply_add
  logic       && ||
  sign        binary + -, += -=

Each place of the code has the same chance of being drawn; a constant's
place then gets one of its two faults. The same tree and seed always give
the same mutants.

  python3 tools/mutate.py --list                       # the sample, without running it
  python3 tools/mutate.py --report build/mutants.tsv   # the measurement (hours: about a minute a mutant)
  python3 tools/mutate.py --from 61 --report rest.tsv  # the same sample from its 61st mutant on
"""
from __future__ import annotations

import argparse
import contextlib
import itertools
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Iterator, List, Optional, TextIO, Tuple

REPO = Path(__file__).resolve().parent.parent

# A test process may not map more than this: a mutant that allocates without
# bound fails its test instead of exhausting a shared machine.
TEST_ADDRESS_SPACE = 8 << 30

STATEMENT_KEYWORDS = {
    "break", "case", "class", "continue", "default", "delete", "do", "else", "enum", "for",
    "goto", "if", "namespace", "return", "static_assert", "struct", "switch", "template",
    "throw", "typedef", "union", "using", "while", "WSQ_ASSERT",
}


@dataclass(frozen=True)
class Mutant:
    file: str  # relative to the repository
    line: int
    column: int
    start: int  # offsets into the file's text
    end: int
    replacement: str
    operator: str
    original: str

    def change(self) -> str:
        """The edit on one line, long code shortened."""
        def brief(code: str) -> str:
            code = " ".join(code.split())
            return code if len(code) <= 60 else code[:57] + "..."
        return f"{brief(self.original)} -> {brief(self.replacement)}"

    def place(self) -> str:
        return f"{self.file}:{self.line}:{self.column}"


# ---- Finding the candidates -------------------------------------------------

def blank(text: str, start: int, end: int) -> str:
    """text with [start, end) turned into spaces, newlines kept."""
    return text[:start] + re.sub(r"[^\n]", " ", text[start:end]) + text[end:]


def closing_paren(text: str, open_at: int) -> int:
    """Offset of the parenthesis that closes the one at open_at, or -1."""
    depth = 0
    for i in range(open_at, len(text)):
        if text[i] in "([{":
            depth += 1
        elif text[i] in ")]}":
            depth -= 1
            if depth == 0:
                return i
    return -1


def code_only(text: str) -> str:
    """text with everything that is not code to mutate blanked out, so that
    offsets into the result are offsets into text."""
    out = list(text)
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if text.startswith("//", i) or (line_start and c == "#"):
            end = i
            while end < n and text[end] != "\n":  # a backslash continues the line
                end += 2 if text.startswith("\\\n", end) else 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
        elif c in "\"'":
            end = i + 1
            while end < n and text[end] != c:
                end += 2 if text[end] == "\\" else 1
            i += 1  # the quotes stay: the literal is still one
        else:
            line_start = c == "\n" or (line_start and c.isspace())
            i += 1
            continue
        for k in range(i, min(end, n)):
            if out[k] != "\n":
                out[k] = " "
        i = end + (1 if c in "\"'" else 0)
        line_start = False
    masked = "".join(out)
    for match in re.finditer(r"\bWSQ_ASSERT\s*\(", masked):
        close = closing_paren(masked, match.end() - 1)
        if close > 0:
            masked = blank(masked, match.end(), close)
    return masked


def comparison_sites(code: str) -> Iterator[Tuple[int, int, str]]:
    # Written with a space on both sides, which tells them from template
    # brackets, shifts and arrows.
    swap = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
    for m in re.finditer(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)", code):
        yield m.start(), m.end(), swap[m.group()]


def constant_sites(code: str) -> Iterator[Tuple[int, int, str]]:
    for m in re.finditer(r"(?<![\w.])(0[xX][0-9A-Fa-f]+|\d+)(?=[uUlL]*(?![\w.]))", code):
        if re.search(r"[\d.][eE][+-]$", code[max(0, m.start() - 3):m.start()]):
            continue  # the exponent of a floating-point literal
        digits = m.group()
        value = int(digits, 0) if digits[:2].lower() == "0x" else int(digits)
        for changed in (value + 1, value - 1) if value else (1,):
            if digits[:2].lower() == "0x":
                text = digits[:2] + format(changed, "X" if digits[2:].isupper() else "x")
            else:
                text = str(changed)
            yield m.start(), m.end(), text


def is_declaration(target: str) -> bool:
    """Whether the left side of an = declares (two words: "int x", "T *p")."""
    target = re.sub(r"\[[^\]]*\]|\([^)]*\)", "", target).strip()
    return re.search(r"[\w>*&]\s+[\w*&]", target) is not None


def statement_kind(statement: str) -> Optional[str]:
    """"assignment", "increment" or "call" for a simple statement, else None."""
    word = re.match(r"\w*", statement).group()
    if word in STATEMENT_KEYWORDS or re.search(r"=\s*(delete|default)\s*;$", statement):
        return None
    if re.fullmatch(r"(\+\+|--)[\w.>\[\]-]+;|[\w.>\[\]-]+(\+\+|--);", statement):
        return "increment"
    assign = re.search(r"(?<![=!<>])(?:[-+*/%&|^]|<<|>>)?=(?!=)", statement)
    if assign and statement.count("(", 0, assign.start()) == statement.count(")", 0, assign.start()):
        return None if is_declaration(statement[:assign.start()]) else "assignment"
    call = re.match(r"[A-Za-z_][\w:.>-]*\s*\(", statement)
    if call and closing_paren(statement, call.end() - 1) == len(statement.rstrip(";").rstrip()) - 1:
        return "call"
    return None


def statement_sites(code: str) -> Iterator[Tuple[int, int, str]]:
    # A statement that begins its line after the end of another statement,
    # a brace, a condition or a label; it becomes an empty block, its lines
    # kept so that every __LINE__ after it stays the same.
    for m in re.finditer(r"^[ \t]*(?=[\w+*(-])", code, re.MULTILINE):
        start = m.end()
        before = code[max(0, m.start() - 200):m.start()].rstrip()
        if not before or not (before[-1] in ";{}):" or re.search(r"\b(else|do)$", before)):
            continue
        end = statement_end(code, start)
        if end and statement_kind(code[start:end]):
            yield start, end, "{}" + "\n" * code.count("\n", start, end)


def statement_end(code: str, start: int) -> int:
    """Offset just past the ; that ends the statement at start, or 0 when a
    brace comes first (a block, a function, a lambda)."""
    depth = 0
    for i in range(start, len(code)):
        if code[i] in "([":
            depth += 1
        elif code[i] in ")]":
            depth -= 1
        elif depth == 0 and code[i] in "{}":
            return 0
        elif depth == 0 and code[i] == ";":
            return i + 1
    return 0


def argument_spans(code: str, open_at: int, close_at: int) -> List[Tuple[int, int]]:
    """The comma-separated arguments between two parentheses, without the
    space around them."""
    spans, start, depth = [], open_at + 1, 0
    for i in range(open_at + 1, close_at + 1):
        if code[i] in "([{":
            depth += 1
        elif code[i] in ")]}" and i < close_at:
            depth -= 1
        elif depth == 0 and (code[i] == "," or i == close_at):
            spans.append((start, i))
            start = i + 1
    return [strip_span(code, a, b) for a, b in spans]


def strip_span(code: str, start: int, end: int) -> Tuple[int, int]:
    while start < end and code[start].isspace():
        start += 1
    while end > start and code[end - 1].isspace():
        end -= 1
    return start, end


def fma_sites(code: str, text: str) -> Iterator[Tuple[int, int, str]]:
    for m in re.finditer(r"\b(?:std::fma|fused_multiply_add)\s*\(", code):
        args = argument_spans(code, m.end() - 1, closing_paren(code, m.end() - 1))
        if len(args) == 3:
            (b0, b1), (c0, c1) = args[1], args[2]
            yield b0, c1, text[c0:c1] + text[b1:c0] + text[b0:b1]


def logic_sites(code: str) -> Iterator[Tuple[int, int, str]]:
    for m in re.finditer(r"(?<=\s)(&&|\|\|)(?=\s)", code):
        yield m.start(), m.end(), "||" if m.group() == "&&" else "&&"


def sign_sites(code: str) -> Iterator[Tuple[int, int, str]]:
    # Binary only: a space on both sides, as the code writes them.
    swap = {"+": "-", "-": "+", "+=": "-=", "-=": "+="}
    for m in re.finditer(r"(?<=\s)([-+]=?)(?=\s)", code):
        yield m.start(), m.end(), swap[m.group()]


def mutants_of(root: Path, path: Path) -> List[Mutant]:
    text = path.read_text()
    code = code_only(text)
    relative = path.relative_to(root).as_posix()
    sites = {
        "comparison": comparison_sites(code),
        "constant": constant_sites(code),
        "statement": statement_sites(code),
        "fma": fma_sites(code, text),
        "logic": logic_sites(code),
        "sign": sign_sites(code),
    }
    found = [Mutant(relative, text.count("\n", 0, start) + 1, start - text.rfind("\n", 0, start),
                    start, end, replacement, operator, text[start:end])
             for operator, spans in sites.items() for start, end, replacement in spans]
    return sorted(found, key=lambda mutant: (mutant.start, mutant.operator, mutant.replacement))


def sites_of(mutants: List[Mutant]) -> List[List[Mutant]]:
    """The mutants grouped by place: a constant has two (one more, one less)."""
    return [list(group) for _, group in
            itertools.groupby(mutants, key=lambda mutant: (mutant.file, mutant.start, mutant.operator))]


def source_files(root: Path, only: Optional[str]) -> List[Path]:
    files = sorted(root.glob("src/*.cpp"))
    if only is None:
        return files
    chosen = [f for f in files if only in (f.name, f.relative_to(root).as_posix())]
    if not chosen:
        names = ", ".join(f.relative_to(root).as_posix() for f in files)
        sys.exit(f"mutate: --only {only}: not one of the sources ({names})")
    return chosen


def sample(root: Path, only: Optional[str], count: int, seed: int) -> Tuple[List[List[Mutant]], List[Mutant]]:
    """The candidate sites in root's sources, and count of them drawn with
    seed, one mutant each, in file order. Sites are drawn rather than
    mutants so that each place of the code has the same chance."""
    sites = [site for path in source_files(root, only) for site in sites_of(mutants_of(root, path))]
    draw = random.Random(seed)
    chosen = [draw.choice(site) for site in draw.sample(sites, min(count, len(sites)))]
    return sites, sorted(chosen, key=lambda mutant: (mutant.file, mutant.start))


# ---- Running them ------------------------------------------------------------

def run(command: List[str], **options) -> subprocess.CompletedProcess:
    """command's status and output; on an interrupt, it and every process it
    started (compilers, tests) are ended before the interrupt goes on."""
    with subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, start_new_session=True,
                          **options) as process:
        try:
            output, _ = process.communicate()
        except BaseException:
            # Terminated, not killed: ninja ends the compilers it runs in
            # process groups of their own.
            with contextlib.suppress(ProcessLookupError):
                os.killpg(process.pid, signal.SIGTERM)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
            raise
    return subprocess.CompletedProcess(command, process.returncode, output)


def limit_address_space() -> None:
    resource.setrlimit(resource.RLIMIT_AS, (TEST_ADDRESS_SPACE, TEST_ADDRESS_SPACE))


class Workspace:
    """A private copy of the repository with its own build."""

    def __init__(self, root: Path, bench: bool, timeout: float):
        self.root = root
        self.build_dir = root / "build"
        self.bench = bench
        self.timeout = timeout

    def copy_tree(self) -> None:
        # Tracked and new files as they are now; ignored ones (builds) stay out.
        listed = run(["git", "-C", str(REPO), "ls-files", "-z", "--cached", "--others",
                      "--exclude-standard"])
        if listed.returncode != 0:
            sys.exit(f"mutate: cannot list the repository's files:\n{listed.stdout}")
        for name in filter(None, listed.stdout.split("\0")):
            source = REPO / name
            if source.is_file():
                (self.root / name).parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(source, self.root / name)

    def configure(self) -> subprocess.CompletedProcess:
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        bench = [] if self.bench else ["-DWSQ_BUILD_BENCH=OFF"]
        return run(["cmake", "-S", str(self.root), "-B", str(self.build_dir), *generator,
                    "-DCMAKE_BUILD_TYPE=Release", *bench])

    def build(self) -> subprocess.CompletedProcess:
        return run(["cmake", "--build", str(self.build_dir), "-j2"])

    def test(self, stop_on_failure: bool) -> subprocess.CompletedProcess:
        command = ["ctest", "--test-dir", str(self.build_dir), "--no-tests=error", "-j2",
                   "--timeout", str(self.timeout)]
        return run(command + ["--stop-on-failure"] * stop_on_failure,
                   preexec_fn=limit_address_space)

    def write(self, relative: str, text: str) -> None:
        (self.root / relative).write_text(text)


def first_failure(ctest_output: str) -> str:
    """The name of the first test that failed, and how, from ctest's report."""
    for line in ctest_output.splitlines():
        m = re.search(r"Test\s+#\d+: (\S+) \.*\**\s*(\w[^\d]*?)\s+[\d.]+ sec", line)
        if m and m.group(2) != "Passed":
            return f"{m.group(1)} ({m.group(2).strip()})"
    return "ctest failed"


def try_mutant(space: Workspace, mutant: Mutant, text: str) -> Tuple[str, str]:
    """(outcome, detail) of one mutant; the file is restored afterwards."""
    space.write(mutant.file, text[:mutant.start] + mutant.replacement + text[mutant.end:])
    try:
        if space.build().returncode != 0:
            return "invalid", "does not compile"
        tests = space.test(stop_on_failure=True)
        if tests.returncode != 0:
            return "killed", first_failure(tests.stdout)
        return "survived", ""
    finally:
        space.write(mutant.file, text)


def prepare(space: Workspace) -> float:
    """Copies, builds and tests the unmutated tree; seconds the tests took."""
    space.copy_tree()
    for step in (space.configure, space.build):
        done = step()
        if done.returncode != 0:
            sys.exit(f"mutate: the unmutated tree does not build:\n{done.stdout[-3000:]}")
    started = time.monotonic()
    tests = space.test(stop_on_failure=False)
    if tests.returncode != 0:
        sys.exit(f"mutate: the unmutated tree fails its tests, so no mutant could survive:\n"
                 f"{tests.stdout[-3000:]}")
    return time.monotonic() - started


def measure(mutants: List[Mutant], first: int, space: Workspace, report: Optional[TextIO],
            results: List[Tuple[Mutant, str]]) -> None:
    """Runs the sample's mutants from its first-th on, appending to results
    (and the report) as each ends."""
    if report:
        report.write("file\tline\tcolumn\toperator\tchange\toutcome\tdetail\tseconds\n")
    originals = {m.file: (space.root / m.file).read_text() for m in mutants}
    for number, mutant in enumerate(mutants[first - 1:], first):
        started = time.monotonic()
        outcome, detail = try_mutant(space, mutant, originals[mutant.file])
        seconds = time.monotonic() - started
        results.append((mutant, outcome))
        print(f"[{number:>3}/{len(mutants)}] {outcome:<8} {seconds:5.1f}s  {mutant.place()}  "
              f"{mutant.operator}: {mutant.change()}" + (f"  [{detail}]" if detail else ""),
              flush=True)
        if report:
            report.write("\t".join([mutant.file, str(mutant.line), str(mutant.column), mutant.operator,
                                     mutant.change(), outcome, detail, f"{seconds:.1f}"]) + "\n")
            report.flush()


def summarize(results: List[Tuple[Mutant, str]], seconds: float) -> None:
    if not results:
        print("No mutant was run.")
        return
    counts = {outcome: sum(1 for _, o in results if o == outcome)
              for outcome in ("killed", "survived", "invalid")}
    judged = counts["killed"] + counts["survived"]
    rate = f"{100.0 * counts['killed'] / judged:.1f}%" if judged else "n/a"
    print(f"\nkilled {counts['killed']}, survived {counts['survived']}, invalid {counts['invalid']}; "
          f"kill rate {rate} ({counts['killed']}/{judged})")
    print(f"{seconds:.0f} s for {len(results)} mutants, {seconds / len(results):.1f} s each")
    survivors = [mutant for mutant, outcome in results if outcome == "survived"]
    if survivors:
        print("\nSurvivors (faults no test notices):")
        for mutant in survivors:
            print(f"  {mutant.place()}  {mutant.operator}: {mutant.change()}")


def list_sample(sites: List[List[Mutant]], chosen: List[Mutant], seed: int) -> None:
    by_operator = {}
    for site in sites:
        by_operator[site[0].operator] = by_operator.get(site[0].operator, 0) + 1
    files = sorted({site[0].file for site in sites})
    print(f"{len(sites)} candidate sites in {', '.join(files)} ("
          + ", ".join(f"{op} {n}" for op, n in sorted(by_operator.items()))
          + f"); {len(chosen)} drawn with seed {seed}:")
    for number, mutant in enumerate(chosen, 1):
        print(f"{number:>4}  {mutant.place()}  {mutant.operator}: {mutant.change()}")


def positive(kind):
    def parse(value: str):
        number = kind(value)
        if number <= 0:
            raise argparse.ArgumentTypeError(f"must be positive: {value}")
        return number
    return parse


def main() -> None:
    parser = argparse.ArgumentParser(
        description="Measures how many seeded single-point faults in src/*.cpp the tests catch.")
    parser.add_argument("--count", type=positive(int), default=300, help="mutants to draw (300)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the draw (1)")
    parser.add_argument("--only", metavar="FILE", help="draw from this source only (src/wsq1.cpp)")
    parser.add_argument("--from", dest="first", type=positive(int), default=1, metavar="N",
                        help="start at the sample's Nth mutant, to resume a run (1)")
    parser.add_argument("--list", action="store_true", help="print the mutants, run nothing")
    parser.add_argument("--timeout", type=positive(float), default=30,
                        help="seconds a test may run before its mutant counts as killed (30)")
    parser.add_argument("--no-bench", dest="bench", action="store_false",
                        help="leave out the benchmarks and their two smoke tests (faster)")
    parser.add_argument("--report", type=Path, metavar="FILE", help="also write the results as TSV")
    args = parser.parse_args()

    if args.list:
        list_sample(*sample(REPO, args.only, args.count, args.seed), args.seed)
        return
    source_files(REPO, args.only)  # a wrong --only is refused before any work
    try:
        report = args.report.open("w") if args.report else None
    except OSError as error:
        sys.exit(f"mutate: --report: {error}")
    os.nice(10)
    started = time.monotonic()
    results: List[Tuple[Mutant, str]] = []
    interrupted = False
    try:
        with tempfile.TemporaryDirectory(prefix="wsq-mutate-") as root:
            space = Workspace(Path(root), args.bench, args.timeout)
            baseline = prepare(space)
            # Drawn from the copy: the tree may change while this runs.
            _, chosen = sample(space.root, args.only, args.count, args.seed)
            print(f"Unmutated tree built and tested ({baseline:.0f} s of tests) in "
                  f"{time.monotonic() - started:.0f} s; {len(chosen)} mutants follow.", flush=True)
            started = time.monotonic()
            measure(chosen, args.first, space, report, results)
    except KeyboardInterrupt:
        print("\nInterrupted: the results so far.")
        interrupted = True
    summarize(results, time.monotonic() - started)
    if interrupted:
        sys.exit(130)


if __name__ == "__main__":
    main()
