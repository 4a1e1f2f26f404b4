"""Checks without a peer: scale, threads and memory. Each one not met fails
the run (`failures`).

- Scale: for the functions whose work grows linearly with the rows, the
  processor time per row (taken from the peer table's own timings) rises by
  at most 25% over its value at the smallest size. A time per row that falls
  is a fixed cost spread over more rows, not a fault of scale. Processor
  time, not wall time: on a virtual machine the wall clock of a call on a
  million rows also counts the host reclaiming memory and other sessions'
  turns on the cores (lorenz_curve_native measured 60 ns per row of wall
  time and 25 of processor time at 1e6 rows on a loaded machine, 21 of both
  at 1e5), which are no property of the code; none of these functions starts
  threads, so its processor time is its work. A function that sorts its
  rows (lorenz_curve_native) grows as a sort does, by log n and by the
  caches the rows outgrow: its time per row may rise by 25% over what
  NumPy's sort of as many doubles rises by on the same machine in the same
  run (a sort's time per row rose 20% from 1e5 to 1e6 rows on one machine,
  43% on another). The MDLP pipelines are left
  out: besides the sort, their split search visits every candidate
  once per level of the split tree, and the tree deepens as the rows grow.
- Threads: eight columns of 1e6 rows binned (quantile cut points, bin indices
  and the binary summary, functions that release the interpreter lock) from a
  ThreadPoolExecutor(2) run at least 1.7 times faster than the same calls in
  a loop, or, where the machine's other sessions leave less than a second
  core, at least 75% of the speed-up that NumPy's sort of the same columns
  (which also releases the lock) gets from two threads in the same rounds:
  no check can ask threads for more than the cores give.
- Memory: one call of mdlp_full_raw in a fresh interpreter raises the peak
  resident size by at most 48 bytes per input row, beyond the input arrays.
"""

from __future__ import annotations

import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass

import numpy as np
from common import Row, format_markdown, format_table
from data import score_and_target

import _tessaline as t

SCALE_TOLERANCE = 0.25
# (function, peer) rows of the peer table whose work is linear in the rows.
LINEAR_ROWS = [
    ("binning_transform (20 cuts)", "numpy.searchsorted + NaN mask"),
    ("binning_splits quantile (10 bins)", "numpy.quantile"),
    ("binning_splits equal_width (10 bins)", "KBinsDiscretizer uniform"),
    ("binning_summary_binary (10 bins)", "pandas.cut + groupby"),
    ("compare_distributions_native", "numpy searchsorted+bincount"),
    ("lorenz_curve_native", "sklearn roc_auc_score"),
]
# Of those, the functions that sort their rows: held to a sort's growth.
SORTING_ROWS = {"lorenz_curve_native"}
SORT_REPEATS = 11

THREAD_COLUMNS = 8
THREAD_ROWS = 1_000_000
THREAD_TARGET = 1.7
THREAD_SHARE_OF_REFERENCE = 0.75
MEMORY_TARGET = 48.0  # bytes per input row


@dataclass
class Check:
    name: str
    measured: str
    limit: str
    met: bool | None
    note: str = ""


def sort_growth(sizes: list[int]) -> dict[int, float]:
    """NumPy's sort of n random doubles: its least processor time per row
    at each size over that at the smallest, on this machine now."""
    rng = np.random.default_rng(11)
    per_row = {}
    for n in sizes:
        values = rng.normal(size=n)
        np.sort(values)  # the first call also pays for fresh pages
        spent = []
        for _ in range(SORT_REPEATS):
            start = time.process_time()
            np.sort(values)
            spent.append(time.process_time() - start)
        per_row[n] = min(spent) / n
    return {n: per_row[n] / per_row[sizes[0]] for n in sizes}


def scale_checks(rows: list[Row]) -> list[Check]:
    checks = []
    for function, peer in LINEAR_ROWS:
        per_row = {
            r.rows: r.ours_cpu / r.rows
            for r in rows
            if r.function == function and r.peer == peer and r.ours_cpu is not None
        }
        if len(per_row) < 2:
            continue
        sizes = sorted(per_row)
        reference = per_row[sizes[0]]
        # The growth allowed at each size: none but the tolerance for linear
        # work, a sort's own growth for a function that sorts.
        allowed = sort_growth(sizes) if function in SORTING_ROWS else dict.fromkeys(sizes, 1.0)
        worst = max(per_row[n] / reference / allowed[n] - 1.0 for n in sizes[1:])
        shown = " / ".join(f"{per_row[n] * 1e9:.2f}" for n in sizes)
        sizes_shown = " / ".join(f"{n:.0e}".replace("+0", "") for n in sizes)
        smallest = f"{sizes[0]:.0e}".replace("+0", "")
        checks.append(
            Check(
                f"processor time per row, {function}",
                f"{shown} ns at {sizes_shown} rows (worst {worst:+.0%}"
                + (", over a sort's growth)" if function in SORTING_ROWS else ")"),
                f"at most +{SCALE_TOLERANCE:.0%} over {smallest}"
                + (" and a sort's growth" if function in SORTING_ROWS else ""),
                worst <= SCALE_TOLERANCE,
            )
        )
    return checks


def thread_check() -> Check:
    rng = np.random.default_rng(7)
    columns = [rng.normal(size=THREAD_ROWS) for _ in range(THREAD_COLUMNS)]
    y = (rng.random(THREAD_ROWS) < 0.2).astype(np.int32)
    no_custom = np.empty(0)

    def bin_column(x: np.ndarray) -> object:
        cuts = t.binning_splits(x, "quantile", 10, "full", 0.0, 1.0, 1.5, no_custom)
        bins = t.binning_transform(x, cuts)
        return bins, t.binning_summary_binary(x, y, cuts)

    # The ways alternate, so that a passing load on the machine weighs on
    # all alike; medians of seven rounds after one warm-up round.
    times: dict[tuple[bool, bool], list[float]] = {}
    with ThreadPoolExecutor(2) as pool:
        for round_ in range(8):
            for work in (bin_column, np.sort):
                for threaded in (False, True):
                    start = time.perf_counter()
                    if threaded:
                        list(pool.map(work, columns))
                    else:
                        for x in columns:
                            work(x)
                    if round_ > 0:
                        key = (work is bin_column, threaded)
                        times.setdefault(key, []).append(time.perf_counter() - start)
    median = {key: statistics.median(spent) for key, spent in times.items()}
    loop, threaded = median[True, False], median[True, True]
    speedup = loop / threaded
    reference = median[False, False] / median[False, True]
    limit = min(THREAD_TARGET, THREAD_SHARE_OF_REFERENCE * reference)
    return Check(
        f"{THREAD_COLUMNS} columns x {THREAD_ROWS:.0e} rows, ThreadPoolExecutor(2) vs loop".replace(
            "+0", ""
        ),
        f"{speedup:.2f}x faster ({loop * 1e3:.0f} ms -> {threaded * 1e3:.0f} ms)",
        f">= {limit:.2f}x",
        speedup >= limit,
        note=f"{os.cpu_count()} cores; numpy.sort {reference:.2f}x faster",
    )


# The inputs are read straight into their arrays, so that nothing before the
# call raises the peak above the resident size it starts from. The peak is
# the high-water mark of the probe's own memory (VmHWM, what ru_maxrss
# reports for a process that has not exec'd): ru_maxrss itself would carry
# the peak of the benchmark process that spawned the probe across the exec.
_MEMORY_PROBE = """
import sys
import numpy as np
import _tessaline as t
def peak():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
n = int(sys.argv[3])
x = np.empty(n)
y = np.empty(n)
for array, path in ((x, sys.argv[1]), (y, sys.argv[2])):
    with open(path, "rb", buffering=0) as f:
        view = memoryview(array).cast("B")
        done = 0
        while done < len(view):
            done += f.readinto(view[done:])
t.mdlp_full_raw(x[:1000], y[:1000], 0, 0, 0, 1.0, 1.0, False)
before = peak()
t.mdlp_full_raw(x, y, 0, 0, 0, 1.0, 1.0, False)
after = peak()
print(before * 1024, (after - before) * 1024)
"""


def memory_check(n: int) -> Check:
    """Peak extra resident size of one mdlp_full_raw call, measured in a fresh
    interpreter that holds nothing but the inputs (its peak resident size
    before and after the call)."""
    x, y = score_and_target(n, missing=0.01)
    module_dir = str(pathlib.Path(t.__file__).resolve().parent)
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in (module_dir, env.get("PYTHONPATH")) if p)
    with tempfile.TemporaryDirectory() as tmp:
        x_path, y_path = os.path.join(tmp, "x.bin"), os.path.join(tmp, "y.bin")
        x.tofile(x_path)
        y.tofile(y_path)
        del x, y
        out = subprocess.run(
            [sys.executable, "-c", _MEMORY_PROBE, x_path, y_path, str(n)],
            env=env,
            check=True,
            capture_output=True,
            text=True,
        ).stdout
    baseline, extra = (int(v) for v in out.split())
    per_row = extra / n
    return Check(
        f"peak extra memory, mdlp_full_raw at {n:.0e} rows".replace("+0", ""),
        f"{per_row:.1f} bytes per input row",
        f"<= {MEMORY_TARGET:g} bytes",
        per_row <= MEMORY_TARGET,
        note=f"fresh subprocess, peak resident size from {baseline / 2**20:.0f} MiB",
    )


def run(rows: list[Row], sizes: list[int]) -> list[Check]:
    return scale_checks(rows) + [thread_check(), memory_check(max(sizes))]


def failures(checks: list[Check]) -> list[str]:
    """A FAIL line for every check not met."""
    return [f"FAIL: {c.name}: {c.measured}, limit {c.limit}" for c in checks if c.met is False]


HEADER = ("check", "measured", "limit", "met")


def lines(checks: list[Check]) -> list[tuple[str, ...]]:
    return [
        (
            c.name,
            c.measured + (f" ({c.note})" if c.note else ""),
            c.limit,
            "-" if c.met is None else ("yes" if c.met else "NO"),
        )
        for c in checks
    ]


def print_checks(checks: list[Check], markdown: bool = False) -> None:
    render = format_markdown if markdown else format_table
    print(render(HEADER, lines(checks)))
