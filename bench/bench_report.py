"""The report command on a CSV file of 1e6 rows x 21 columns (about 250 MB:
16 numeric columns with nine significant digits, 4 of categories, a 0/1
target), as an analyst runs it, against pandas on the same file: each step in
a fresh process, timed, with its peak resident size.

- reading: tessaline's reader (read_dataset) against pandas.read_csv alone,
  the median of ROUNDS alternating runs of each (target: at most READ_TARGET
  times its time, and no more than its peak memory);
- the whole report, from reading to the terminal report, against
  pandas.read_csv followed by optbinning's BinningProcess on the frame.

    python bench/bench_report.py [--rows 1000000] [--no-peer]

Exits with status 1, after a line saying so, when the reader misses its
target. In bench/run.py (`make bench`) it adds the reader's row to the table
and its gate to the others.
"""

from __future__ import annotations

import argparse
import pathlib
import re
import statistics
import subprocess
import sys
import tempfile

import numpy as np
from common import Row

ROWS = 1_000_000
ROUNDS = 3
READ_TARGET = 2.0  # the reader's time over pandas.read_csv's
READ_MEMORY_TARGET = 1.0  # its peak memory over pandas.read_csv's


def write_file(path: pathlib.Path, n: int, seed: int = 0) -> None:
    import pyarrow as pa
    import pyarrow.csv as pacsv

    rng = np.random.default_rng(seed)
    columns = {f"num{j}": np.round(rng.normal(50, 20, n), 6) * 1.0001 for j in range(16)}
    names = np.array(["alpha", "beta", "gamma", "delta", "epsilon", "zeta"])
    columns.update({f"cat{j}": rng.choice(names, n) for j in range(4)})
    columns["default"] = (rng.random(n) < 0.2 + 0.002 * np.clip(columns["num0"], 0, 100)).astype(
        int
    )
    pacsv.write_csv(pa.table(columns), path)


# Starts the measured interpreter and reports its time and peak. A child's
# peak resident size (ru_maxrss) starts at its parent's size when it forks, so
# the measured process is started by this small launcher, never by the
# benchmark itself, which holds the data it wrote (or, under bench/run.py,
# every earlier benchmark's arrays).
_LAUNCHER = """
import os, subprocess, sys, time
begin = time.perf_counter()
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
_, status, usage = os.wait4(child.pid, 0)
print(time.perf_counter() - begin, usage.ru_maxrss, os.waitstatus_to_exitcode(status))
"""


def measured(code: str, *args: str) -> tuple[float, float]:
    """Wall time (s) and peak resident size (MB) of a fresh interpreter
    running `code` (its standard output dropped)."""
    command = [sys.executable, *(["-c", code] if code else []), *args]
    launched = subprocess.run(
        [sys.executable, "-c", _LAUNCHER, *command], capture_output=True, text=True, check=True
    )
    spent, peak, status = launched.stdout.split()
    if int(status):
        raise RuntimeError(f"the measured process failed ({status}): {code or args}")
    return float(spent), int(peak) / 1024


PANDAS_READ = "import pandas, sys; pandas.read_csv(sys.argv[1])"
OURS_READ = (
    "import sys; from tessaline.report._dataset import read_dataset; "
    "read_dataset(sys.argv[1], 'default')"
)
PEER_REPORT = (
    "import pandas, sys; from optbinning import BinningProcess; "
    "f = pandas.read_csv(sys.argv[1]); y = f.pop('default'); "
    "BinningProcess(list(f.columns), categorical_variables=[c for c in f.columns "
    "if c.startswith('cat')]).fit(f, y)"
)


def read_rounds(file: str, rounds: int = ROUNDS) -> tuple[tuple[float, float], ...]:
    """Median wall time and peak memory of pandas.read_csv and of
    read_dataset on `file`, run alternately (a load that passes the shared
    machine meets both)."""
    runs: dict[str, list[tuple[float, float]]] = {PANDAS_READ: [], OURS_READ: []}
    for _ in range(rounds):
        for code, times in runs.items():
            times.append(measured(code, file))
    return tuple(
        (statistics.median(t for t, _ in times), statistics.median(m for _, m in times))
        for times in runs.values()
    )


def reader_row(n: int, theirs: tuple[float, float], ours: tuple[float, float]) -> Row:
    return Row(
        "read_dataset (CSV, 21 columns)",
        n,
        "pandas.read_csv",
        ours[0],
        theirs[0],
        READ_TARGET,
        note=f"fresh processes, median of {ROUNDS}; peak {ours[1]:.0f} MB vs {theirs[1]:.0f} MB",
    )


def run(sizes: list[int]) -> list[Row]:
    """The reader's row at the file's own size, 1e6 rows (the sizes of the
    other benchmarks do not apply)."""
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp) / "wide.csv"
        write_file(path, ROWS)
        theirs, ours = read_rounds(str(path))
    return [reader_row(ROWS, theirs, ours)]


def missed_targets(rows: list[Row]) -> list[str]:
    """The reader's misses, each as a line to print (none when it is within)."""
    failures = []
    for r in rows:
        if r.met == "NO":
            failures.append(
                f"FAIL: the reader takes {r.ratio:.2f}x pandas.read_csv's time, "
                f"above {READ_TARGET:g}x"
            )
        ours, theirs = (float(m) for m in re.findall(r"([0-9.]+) MB", r.note))
        if ours > theirs * READ_MEMORY_TARGET:
            failures.append(
                f"FAIL: the reader peaks at {ours:.0f} MB, above pandas.read_csv's {theirs:.0f} MB"
            )
    return failures


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=ROWS)
    parser.add_argument("--no-peer", action="store_true", help="leave BinningProcess out")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp) / "wide.csv"
        write_file(path, args.rows)
        file = str(path)
        theirs_read, ours_read = read_rounds(file)
        ours_report = measured("", "-m", "tessaline", "report", file, "--target", "default")
        lines = [
            (f"pandas.read_csv (median of {ROUNDS})", theirs_read),
            (f"tessaline read_dataset (median of {ROUNDS})", ours_read),
            ("tessaline report (read, fit, print)", ours_report),
        ]
        if not args.no_peer:
            lines.append(("pandas.read_csv + BinningProcess", measured(PEER_REPORT, file)))
        print(f"report on {path.stat().st_size / 1e6:.0f} MB ({args.rows:,} rows x 21 columns)")
        for name, (spent, peak) in lines:
            print(f"{name:<42} {spent:>7.2f} s {peak:>8.0f} MB peak")
    row = reader_row(args.rows, theirs_read, ours_read)
    print(
        f"reading: {row.ratio:.2f}x pandas.read_csv's time (target <= {READ_TARGET:g}x), "
        f"{ours_read[1] / theirs_read[1]:.2f}x its peak memory (target <= {READ_MEMORY_TARGET:g}x)"
    )
    if len(lines) == 4:
        speedup = lines[3][1][0] / ours_report[0]
        print(
            f"whole report: {speedup:.1f}x faster than read_csv + BinningProcess, "
            f"{ours_report[1] / lines[3][1][1]:.2f}x its peak memory"
        )
    failures = missed_targets([row])
    if failures:
        print(*failures, sep="\n")
        sys.exit(1)
    print("ok: the reader within its targets")


if __name__ == "__main__":
    main()
