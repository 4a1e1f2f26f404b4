"""Runs every benchmark of this folder and prints one table against the peers,
then the checks that have no peer (scale, threads, memory).

    python bench/run.py            # 1e5, 1e6 and 1e7 rows
    python bench/run.py --quick    # 1e5 and 1e6 rows, under two minutes
    python bench/run.py --markdown # the same tables in Markdown
    python bench/run.py --quick --only table counting   # two scripts, and the checks
    python bench/run.py --quick --update-baseline       # on an idle machine: the ratios to hold

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

Every timed row is also held to the ratio a committed run measured on this
machine model (bench/baseline.json, see baseline.py): a row above 1.6 times
its baseline is timed again and, when still above, is a FAIL line too, so
that a path made twice as slow fails the run even where its target leaves
more slack. `--update-baseline` writes this run's ratios as the baseline of
this machine model instead of comparing them.
"""

from __future__ import annotations

import datetime
import importlib
import os
import pathlib
import platform
import sys
import time
from typing import Any

sys.path.insert(0, str(pathlib.Path(__file__).parent))

import baseline
import checks
import numpy as np
import results
from common import TABLE_HEADER, Row, parse_args, print_table, sizes_for, table_lines


def cpu_model() -> str:
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def vector_width() -> str:
    """The widest vector instructions the processor offers: a virtual
    machine may name different processors alike ("AMD EPYC"), and the
    kernels and NumPy's sorts take other paths with and without AVX-512."""
    try:
        with open("/proc/cpuinfo") as f:
            flags = next((line.split() for line in f if line.startswith("flags")), [])
    except OSError:
        flags = []
    for flag, name in (("avx512f", "AVX-512"), ("avx2", "AVX2")):
        if flag in flags:
            return name
    return "no AVX2"


def main() -> None:
    args = parse_args()
    sizes = sizes_for(args.quick)
    start = time.perf_counter()
    machine = (
        f"{os.cpu_count()} cores, {cpu_model()} ({vector_width()}), "
        f"Python {platform.python_version()}, NumPy {np.__version__}"
    )
    today = datetime.date.today().isoformat()
    print(f"tessaline benchmarks, {'quick' if args.quick else 'full'} run of {today}: {machine}")
    print()
    rows = []
    measured_by_script: list[tuple[Any, list[Row]]] = []
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
            measured_by_script.append((module, measured))
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
    model = machine_model()
    if args.update_baseline:
        document = baseline.updated(baseline.PATH, model, today, rows)
        baseline.write(baseline.PATH, document)
        print(f"baseline of {model} written to {baseline.PATH.name}")
    else:
        failures.extend(regressions(measured_by_script, sizes, model))
    print(f"finished in {time.perf_counter() - start:.0f} s")
    report_failures(failures)


def machine_model() -> str:
    """What the baseline is kept by: ratios move with the processor and with
    the cores the threaded paths get, not with the day's load."""
    return f"{cpu_model()} ({vector_width()}), {os.cpu_count()} cores"


def regressions(
    measured_by_script: list[tuple[Any, list[Row]]], sizes: list[int], model: str
) -> list[str]:
    """Each row against its baseline ratio; a script with a row above it is
    run once more and each row keeps the better of its two ratios."""
    ratios = baseline.load(baseline.PATH, model)
    if not ratios:
        print(f"no baseline of {model}: the ratios are not compared (see --update-baseline)")
        return []
    rows = [r for _, measured in measured_by_script for r in measured]
    compared = [r for r in rows if r.ratio is not None and baseline.row_key(r) in ratios]
    print(
        f"against the baseline of {model}: {len(compared)} rows compared, "
        f"limit {baseline.REGRESSION_FACTOR:g} times the baseline ratio"
    )
    for r in baseline.without_baseline(rows, ratios):
        print(f"  no baseline (not compared): {r.function} at {r.rows:,} rows against {r.peer}")
    lines = []
    for module, measured in measured_by_script:
        if baseline.regressed(measured, ratios):
            print(f"  {module.__name__}: above its baseline, timed again")
            measured = baseline.best_of(measured, module.run(sizes))
        lines.extend(baseline.fail_lines(measured, ratios))
    return lines


def report_failures(failures: list[str]) -> None:
    for line in failures:
        print(line)
    if failures:
        sys.exit(1)


if __name__ == "__main__":
    main()
