"""The report command on a CSV file of 1e6 rows x 21 columns (about 250 MB:
16 numeric columns with nine significant digits, 4 of categories, a 0/1
target), as an analyst runs it: one process, from reading to the terminal
report. Prints the file size, the time and the share of it spent reading
(target: at most 10 s with pyarrow installed).

    python bench/bench_report.py [--rows 1000000]
"""

from __future__ import annotations

import argparse
import pathlib
import subprocess
import sys
import tempfile
import time

import numpy as np


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


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=1_000_000)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp) / "wide.csv"
        write_file(path, args.rows)
        begin = time.perf_counter()
        subprocess.run(
            [
                sys.executable,
                "-c",
                "from tessaline.report.dataset import read_dataset; "
                f"read_dataset({str(path)!r}, 'default')",
            ],
            check=True,
        )
        read = time.perf_counter() - begin
        begin = time.perf_counter()
        subprocess.run(
            [sys.executable, "-m", "tessaline", "report", str(path), "--target", "default"],
            check=True,
            stdout=subprocess.DEVNULL,
        )
        total = time.perf_counter() - begin
        print(
            f"report on {path.stat().st_size / 1e6:.0f} MB ({args.rows} rows x 21 columns): "
            f"{total:.1f} s (reading alone {read:.1f} s; target at most 10 s)"
        )


if __name__ == "__main__":
    main()
