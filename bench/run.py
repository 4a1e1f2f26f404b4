"""Runs every benchmark of this folder and prints one table against the peers,
then the checks that have no peer (scale, threads, memory).

    python bench/run.py            # 1e5, 1e6 and 1e7 rows
    python bench/run.py --quick    # 1e5 and 1e6 rows, under two minutes
    python bench/run.py --markdown # the same tables in Markdown
    python bench/run.py --quick --only table counting   # two scripts, and the checks

Every run also writes its tables, with the date and the machine, to
bench/results.json, which the documentation's performance page shows (a run
of some scripts replaces the rows of theirs).

A script may enforce its own targets (`missed_targets(rows)`: the counting
kernel against a sort, the whole-table fit against the floor and against
BinningProcess, the fits from rows against a sort, the report's CSV reader
against pandas.read_csv, ten partial_fit batches against one fit, weighted
fits against the unweighted one, continuous_binning against
ContinuousOptimalBinning, the fits inside DuckDB and PostgreSQL against each
engine's own count query and against reading the table into pandas); each
one missed is printed as a FAIL line at the end, and the run exits with
status 1; so does every check of scale, threads and memory that is not met
(checks.py).
"""

from __future__ import annotations

import datetime
import importlib
import os
import pathlib
import platform
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).parent))

import checks
import numpy as np
import results
from common import TABLE_HEADER, parse_args, print_table, sizes_for, table_lines


def cpu_model() -> str:
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def main() -> None:
    args = parse_args()
    sizes = sizes_for(args.quick)
    start = time.perf_counter()
    machine = (
        f"{os.cpu_count()} cores, {cpu_model()}, "
        f"Python {platform.python_version()}, NumPy {np.__version__}"
    )
    today = datetime.date.today().isoformat()
    print(f"tessaline benchmarks, {'quick' if args.quick else 'full'} run of {today}: {machine}")
    print()
    rows = []
    failures: list[str] = []
    scripts = sorted(pathlib.Path(__file__).parent.glob("bench_*.py"))
    if args.only:
        scripts = [p for p in scripts if p.stem.removeprefix("bench_") in args.only]
    for path in scripts:
        module = importlib.import_module(path.stem)
        # The scripts without run() (quality against a peer, Spark) are run
        # on their own; the report's adds its reader against pandas.read_csv.
        if hasattr(module, "run"):
            measured = module.run(sizes)
            rows.extend(measured)
            # The gates: a script's enforced targets, each missed one a line.
            if hasattr(module, "missed_targets"):
                failures.extend(module.missed_targets(measured))
    print_table(rows, args.markdown)
    print()
    print(
        "ratio = tessaline median time / peer median time, both timed in the same process on "
        "the same arrays\n(one warm-up, then 25 repetitions at 1e5 rows, 9 at 1e6 and 3 at 1e7); "
        "target = the largest acceptable ratio, stated for 1e7 rows (optbinning: 1e6)\n"
        "and shown against the smaller sizes too. Against the fastest sort (bench_counting, "
        "bench_table): the fastest repetition of each."
    )
    print()
    measured_checks = checks.run(rows, sizes)
    checks.print_checks(measured_checks, args.markdown)
    failures.extend(checks.failures(measured_checks))
    print()
    tables = [
        results.table("Against the peers", TABLE_HEADER, table_lines(rows)),
        results.table("Scale, threads and memory", checks.HEADER, checks.lines(measured_checks)),
    ]
    results.write(
        results.PATH,
        date=today,
        machine=machine,
        quick=args.quick,
        tables=results.merged(results.PATH, tables) if args.only else tables,
    )
    print(f"finished in {time.perf_counter() - start:.0f} s")
    report_failures(failures)


def report_failures(failures: list[str]) -> None:
    for line in failures:
        print(line)
    if failures:
        sys.exit(1)


if __name__ == "__main__":
    main()
