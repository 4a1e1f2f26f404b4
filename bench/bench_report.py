"""The report command on a CSV file of 1e6 rows x 21 columns (about 250 MB:
16 numeric columns with nine significant digits, 4 of categories, a 0/1
target), as an analyst runs it, against pandas on the same file: each step in
a fresh process, timed, with its peak resident size.

- reading: tessaline's reader (read_dataset) against pandas.read_csv alone
  (target: at most READ_TARGET times its time and its memory);
- the whole report, from reading to the terminal report, against
  pandas.read_csv followed by optbinning's BinningProcess on the frame.

    python bench/bench_report.py [--rows 1000000] [--no-peer]

Exits with status 1, after a line saying so, when the reader misses its target.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

import numpy as np

READ_TARGET = 2.0


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


def measured(code: str, *args: str) -> tuple[float, float]:
    """Wall time (s) and peak resident size (MB) of a fresh interpreter
    running `code` (its standard output dropped)."""
    begin = time.perf_counter()
    process = subprocess.Popen(
        [sys.executable, *(["-c", code] if code else []), *args], stdout=subprocess.DEVNULL
    )
    _, status, usage = os.wait4(process.pid, 0)
    spent = time.perf_counter() - begin
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode:
        raise RuntimeError(f"the measured process failed ({process.returncode}): {code or args}")
    return spent, usage.ru_maxrss / 1024


PANDAS_READ = "import pandas, sys; pandas.read_csv(sys.argv[1])"
OURS_READ = (
    "import sys; from tessaline.report.dataset import read_dataset; "
    "read_dataset(sys.argv[1], 'default')"
)
PEER_REPORT = (
    "import pandas, sys; from optbinning import BinningProcess; "
    "f = pandas.read_csv(sys.argv[1]); y = f.pop('default'); "
    "BinningProcess(list(f.columns), categorical_variables=[c for c in f.columns "
    "if c.startswith('cat')]).fit(f, y)"
)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--no-peer", action="store_true", help="leave BinningProcess out")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp) / "wide.csv"
        write_file(path, args.rows)
        file = str(path)
        theirs_read = measured(PANDAS_READ, file)
        ours_read = measured(OURS_READ, file)
        ours_report = measured("", "-m", "tessaline", "report", file, "--target", "default")
        lines = [
            ("pandas.read_csv", theirs_read),
            ("tessaline read_dataset", ours_read),
            ("tessaline report (read, fit, print)", ours_report),
        ]
        if not args.no_peer:
            lines.append(("pandas.read_csv + BinningProcess", measured(PEER_REPORT, file)))
        print(f"report on {path.stat().st_size / 1e6:.0f} MB ({args.rows:,} rows x 21 columns)")
        for name, (spent, peak) in lines:
            print(f"{name:<38} {spent:>7.2f} s {peak:>8.0f} MB peak")
    time_ratio = ours_read[0] / theirs_read[0]
    memory_ratio = ours_read[1] / theirs_read[1]
    print(
        f"reading: {time_ratio:.2f}x pandas.read_csv's time, {memory_ratio:.2f}x its peak memory "
        f"(target <= {READ_TARGET:g}x each)"
    )
    if len(lines) == 4:
        speedup = lines[3][1][0] / ours_report[0]
        print(f"whole report: {speedup:.1f}x faster than read_csv + BinningProcess")
    if time_ratio > READ_TARGET or memory_ratio > READ_TARGET:
        print(f"FAIL: the reader is above {READ_TARGET:g}x pandas.read_csv")
        sys.exit(1)
    print("ok: the reader within its target")


if __name__ == "__main__":
    main()
