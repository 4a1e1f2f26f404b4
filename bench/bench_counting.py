"""Counting rows by distinct value against one sort of the column.

The default binning of a numeric column (`tessaline.optimal_binning`) first
counts the rows of each class at each distinct value, then works on those
counts. Ordering the column is the least any such count must pay, so NumPy's
fastest sort on this CPU of the same column is the floor (see
fastest_sort.py): `_native.count_values` should cost at most COUNT_TARGET
sorts, and the whole default fit, counting included, at most OPTIMAL_TARGET
sorts. Continuous data: a score with nearly as many distinct
values as rows, the costliest case for counting.

    python bench/bench_counting.py [--quick]

Exits with status 1, after a line saying so, when either misses its target at
1e6 rows or more (below that, fixed per-call costs dominate both sides and
the ratio is shown only).
"""

from __future__ import annotations

from collections.abc import Callable

import numpy as np
from common import Row, repeats_for, report_sorts, sizes_from_args
from data import score_and_target
from fastest_sort import against_fastest_floor

import tessaline
from tessaline import _native

# Targets at which a count or a fit made twice as slow fails: at 1e6 rows
# they measure about 2.1 and 2.7 of the fastest sorts of the column.
COUNT_TARGET = 3.0
OPTIMAL_TARGET = 4.0
ENFORCED_FROM_ROWS = 1_000_000


def interleaved(function: str, n: int, ours: Callable[[], object], target: float) -> Row:
    ours_time, floor_time = against_fastest_floor(
        ours,
        ("data", "score_and_target", (n,), {}),
        ("fastest_sort", "first_sorted", (), {}),
        repeats_for(n),
    )
    return Row(function, n, "fastest numpy.sort", ours_time, floor_time, target)


def run(sizes: list[int]) -> list[Row]:
    rows = []
    for n in sizes:
        x, y = score_and_target(n)
        labels = y.astype(np.int32)
        rows.append(
            interleaved("count_values", n, lambda: _native.count_values(x, labels), COUNT_TARGET)
        )
        rows.append(
            interleaved(
                "optimal_binning", n, lambda: tessaline.optimal_binning(x, y), OPTIMAL_TARGET
            )
        )
    return rows


def missed_targets(rows: list[Row]) -> list[str]:
    """What misses its target, a line each (none when all are met)."""
    return [
        f"FAIL: {r.function} costs {r.ratio:.2f} sorts of the column at "
        f"{r.rows:,} rows, above the target of {r.target:g}"
        for r in rows
        if r.rows >= ENFORCED_FROM_ROWS and r.met == "NO"
    ]


def main() -> None:
    rows = run(sizes_from_args())
    report_sorts(
        rows,
        missed_targets(rows),
        f"ok: count_values and optimal_binning within {COUNT_TARGET:g} and "
        f"{OPTIMAL_TARGET:g} sorts of the column from {ENFORCED_FROM_ROWS:,} rows on",
    )


if __name__ == "__main__":
    main()
