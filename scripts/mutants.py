#!/usr/bin/env python3
"""Mutation score of `make test` over seeded source mutants of core/src.

Each mutant changes one operator or constant of one line of core/src
(relational, arithmetic, logical, integer constant). The mutants are drawn
with a fixed seed from every candidate site, so two runs on the same core
sources try the same mutants, and two test suites can be compared mutant by
mutant. Every mutant is built and tested in a scratch clone of the chosen
revision, never in the working tree:

    scripts/mutants.py [--rev HEAD] [--count 40] [--seed 0] [--timeout 900]

A mutant is killed when `make test` fails or runs past the timeout; a mutant
that does not compile is stillborn and left out of the score. The run ends
with the share killed and writes one line per mutant to
build/mutants/<rev>.tsv (site, change, outcome).
"""

from __future__ import annotations

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent.parent

# Binary operators are matched with a space on each side, the house style,
# which keeps template brackets, shifts, pointers and unary minus out.
SWAPS = {
    " < ": " <= ",
    " <= ": " < ",
    " > ": " >= ",
    " >= ": " > ",
    " == ": " != ",
    " != ": " == ",
    " + ": " - ",
    " - ": " + ",
    " * ": " / ",
    " / ": " * ",
    " && ": " || ",
    " || ": " && ",
}
OPERATOR = re.compile("|".join(re.escape(op) for op in sorted(SWAPS, key=len, reverse=True)))
# A whole decimal integer literal: not part of a name, a float, a hex or a suffix.
INTEGER = re.compile(r"(?<![\w.])\d+(?![\w.'])")


@dataclass(frozen=True)
class Mutant:
    path: str  # relative to the repository root
    line: int  # 1-based
    column: int  # 0-based offset of the change in the line
    old: str
    new: str

    def describe(self) -> str:
        return f"{self.path}:{self.line}  {self.old.strip()!r} -> {self.new.strip()!r}"


def code_mask(line: str, in_block: bool) -> tuple[str, bool]:
    """The line with comments and string/char literals blanked, and whether a
    block comment is still open at its end."""
    out = []
    i, n = 0, len(line)
    while i < n:
        if in_block:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (n - i))
                return "".join(out), True
            out.append(" " * (end + 2 - i))
            i, in_block = end + 2, False
        elif line.startswith("//", i):
            out.append(" " * (n - i))
            break
        elif line.startswith("/*", i):
            in_block = True
        elif line[i] in "\"'":
            quote, j = line[i], i + 1
            while j < n and line[j] != quote:
                j += 2 if line[j] == "\\" else 1
            out.append(" " * (min(j, n - 1) + 1 - i))
            i = j + 1
        else:
            out.append(line[i])
            i += 1
    return "".join(out), in_block


def candidate_sites(root: Path) -> list[Mutant]:
    sites = []
    for path in sorted((root / "core" / "src").glob("*.[ch]pp")):
        rel = str(path.relative_to(root))
        in_block = False
        for number, raw in enumerate(path.read_text().splitlines(), 1):
            code, in_block = code_mask(raw, in_block)
            if code.lstrip().startswith("#") or "static_assert" in code:
                continue
            for m in OPERATOR.finditer(code):
                sites.append(Mutant(rel, number, m.start(), m.group(), SWAPS[m.group()]))
            for m in INTEGER.finditer(code):
                value = int(m.group())
                new = "1" if value == 0 else "0" if value == 1 else str(value + 1)
                sites.append(Mutant(rel, number, m.start(), m.group(), new))
    return sites


def apply(root: Path, mutant: Mutant) -> str:
    """Writes the mutant into the clone and returns the file's original text."""
    path = root / mutant.path
    original = path.read_text()
    lines = original.splitlines(keepends=True)
    line = lines[mutant.line - 1]
    assert line[mutant.column : mutant.column + len(mutant.old)] == mutant.old
    lines[mutant.line - 1] = (
        line[: mutant.column] + mutant.new + line[mutant.column + len(mutant.old) :]
    )
    path.write_text("".join(lines))
    return original


def run(cmd: list[str], cwd: Path, timeout: float | None = None, env: dict | None = None) -> str:
    """'pass', 'fail' or 'timeout'; the whole process group is stopped on timeout."""
    with open(cwd / "build" / "mutant.log", "w") as log:
        proc = subprocess.Popen(
            cmd, cwd=cwd, stdout=log, stderr=subprocess.STDOUT, env=env, start_new_session=True
        )
        try:
            return "pass" if proc.wait(timeout=timeout) == 0 else "fail"
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            return "timeout"


def prepare_clone(rev: str) -> Path:
    sha = subprocess.check_output(["git", "rev-parse", "--short", rev], cwd=HERE, text=True).strip()
    clone = HERE / "build" / "mutants" / sha
    if not clone.exists():
        subprocess.check_call(["git", "clone", "-q", "--no-checkout", str(HERE), str(clone)])
        subprocess.check_call(["git", "checkout", "-q", sha], cwd=clone)
        # A copy of the prepared environment saves the downloads; `make test`
        # still checks it against requirements.txt.
        if (HERE / ".venv").is_dir():
            shutil.copytree(HERE / ".venv", clone / ".venv", symlinks=True)
            (clone / ".venv" / ".installed").unlink(missing_ok=True)
    (clone / "build").mkdir(exist_ok=True)
    return clone


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--rev", default="HEAD", help="revision whose core and tests are mutated (default HEAD)"
    )
    parser.add_argument(
        "--count", type=int, default=40, help="number of mutants drawn (default 40)"
    )
    parser.add_argument("--seed", type=int, default=0, help="seed of the draw (default 0)")
    parser.add_argument(
        "--timeout", type=float, default=900, help="seconds before a mutant counts as killed"
    )
    args = parser.parse_args()

    clone = prepare_clone(args.rev)
    sites = candidate_sites(clone)
    drawn = sorted(
        random.Random(args.seed).sample(sites, min(args.count, len(sites))),
        key=lambda m: (m.path, m.line, m.column),
    )
    print(
        f"{len(sites)} candidate sites in core/src; {len(drawn)} drawn with seed {args.seed}",
        flush=True,
    )

    make = ["make", "--no-print-directory", "test"]
    # Stop the Python suite at its first failure: one failure kills the mutant.
    env = dict(os.environ, PYTEST_ADDOPTS="-x -p no:cacheprovider")
    start = time.monotonic()
    if run(make, clone, env=env) != "pass":
        print(f"make test fails before any mutation: see {clone}/build/mutant.log")
        return 1
    print(
        f"unmutated make test passes ({time.monotonic() - start:.0f} s with the first build)",
        flush=True,
    )

    outcomes = []
    for i, mutant in enumerate(drawn, 1):
        original = apply(clone, mutant)
        try:
            built = run([str(clone / ".venv/bin/cmake"), "--build", "build/cpp", "-j2"], clone)
            outcome = (
                "stillborn"
                if built != "pass"
                else {"pass": "SURVIVED", "fail": "killed", "timeout": "killed (timeout)"}[
                    run(make, clone, args.timeout, env)
                ]
            )
        finally:
            (clone / mutant.path).write_text(original)
        outcomes.append((mutant, outcome))
        print(f"[{i:>3}/{len(drawn)}] {outcome:<16} {mutant.describe()}", flush=True)

    valid = [o for _, o in outcomes if o != "stillborn"]
    killed = sum(o.startswith("killed") for o in valid)
    report = HERE / "build" / "mutants" / f"{clone.name}.tsv"
    report.write_text(
        "".join(
            f"{m.path}:{m.line}:{m.column}\t{m.old.strip()} -> {m.new.strip()}\t{o}\n"
            for m, o in outcomes
        )
    )
    print(
        f"mutation score: {killed}/{len(valid)} killed = {100 * killed / max(len(valid), 1):.1f}% "
        f"({len(outcomes) - len(valid)} stillborn; {time.monotonic() - start:.0f} s); see {report}"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
