"""Counting rows by distinct value against one sort of the column.

The default binning of a numeric column (`tessaline.optimal_binning`) first
counts the rows of each class at each distinct value, then works on those
counts. Ordering the column is the least any such count must pay, so NumPy's
default sort of the same column is the floor: `_native.count_values` should
cost about one sort (COUNT_TARGET), and the whole default fit, counting
included, at most OPTIMAL_TARGET sorts. Continuous data: a score with nearly
as many distinct values as rows, the costliest case for counting.

    python bench/bench_counting.py [--quick]

Exits with status 1, after a line saying so, when optimal_binning misses its
target at 1e6 rows or more (below that, fixed per-call costs dominate both
sides and the ratio is shown only).
"""

from __future__ import annotations

from collections.abc import Callable

import numpy as np
from common import Row, back_to_back, repeats_for, report_sorts, sizes_from_args
from data import score_and_target

import tessaline
from tessaline import _native

COUNT_TARGET = 1.5
OPTIMAL_TARGET = 3.0
ENFORCED_FROM_ROWS = 1_000_000


def interleaved(
    function: str, n: int, ours: Callable[[], object], floor: Callable[[], object], target: float
) -> Row:
    ours_time, floor_time = back_to_back(ours, floor, repeats_for(n))
    return Row(function, n, "numpy.sort", ours_time, floor_time, target)


def run(sizes: list[int]) -> list[Row]:
    rows = []
    for n in sizes:
        x, y = score_and_target(n)
        labels = y.astype(np.int32)
        floor = lambda: np.sort(x)  # noqa: E731
        rows.append(
            interleaved(
                "count_values", n, lambda: _native.count_values(x, labels), floor, COUNT_TARGET
            )
        )
        rows.append(
            interleaved(
                "optimal_binning", n, lambda: tessaline.optimal_binning(x, y), floor, OPTIMAL_TARGET
            )
        )
    return rows


def missed(rows: list[Row]) -> list[Row]:
    """The enforced rows whose ratio is above their target."""
    return [
        r
        for r in rows
        if r.function == "optimal_binning" and r.rows >= ENFORCED_FROM_ROWS and r.met == "NO"
    ]


def missed_targets(rows: list[Row]) -> list[str]:
    """What misses its target, as a line to print (none when all are met)."""
    failures = missed(rows)
    if not failures:
        return []
    worst = max(failures, key=lambda r: r.ratio or 0.0)
    return [
        f"FAIL: optimal_binning costs {worst.ratio:.2f} sorts of the column at "
        f"{worst.rows:,} rows, above the target of {OPTIMAL_TARGET:g}"
    ]


def main() -> None:
    rows = run(sizes_from_args())
    report_sorts(
        rows,
        missed_targets(rows),
        f"ok: optimal_binning within {OPTIMAL_TARGET:g} sorts of the column from "
        f"{ENFORCED_FROM_ROWS:,} rows on",
    )


if __name__ == "__main__":
    main()
