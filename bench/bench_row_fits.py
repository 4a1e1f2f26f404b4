"""The one-variable fits from rows against NumPy's default sort of the same
column, the least an exact fit must pay: `mdlp_binning`, `quantile_binning`,
`equal_width_binning` and `custom_binning` on a continuous score (every value
distinct, a 0/1 target drawn from logistic(score)).

Besides its own search, a fit keeps the rows' counts by value for later edits
when the column has few enough distinct values; a column of mostly distinct
values must not pay a second sort for counts it then drops (mdlp_binning once
took twice its pipeline's time, the unsupervised fits three times). From 1e6
rows on, a fit above its target (in sorts of the column) fails the run.

    python bench/bench_row_fits.py [--quick]
"""

from __future__ import annotations

import pathlib
import sys
from collections.abc import Callable

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).parent))

from common import Row, back_to_back, repeats_for, report_sorts, sizes_from_args

import tessaline as tl

ENFORCED_FROM_ROWS = 1_000_000
# Sorts of the column each fit may cost: the MDLP search sorts the rows
# itself and visits every candidate cut once per level of its split tree; the
# unsupervised rules select order statistics and count rows per bin.
TARGETS = {
    "mdlp_binning": 12.0,
    "quantile_binning": 5.0,
    "equal_width_binning": 5.0,
    "custom_binning": 5.0,
}


def continuous(n: int, seed: int = 7) -> tuple[np.ndarray, np.ndarray]:
    rng = np.random.default_rng(seed)
    x = rng.normal(0.0, 1000.0, n)
    y = (rng.random(n) < 1.0 / (1.0 + np.exp(-x / 1000.0))).astype(np.float64)
    return x, y


def interleaved(
    function: str, n: int, ours: Callable[[], object], floor: Callable[[], object]
) -> Row:
    ours_time, floor_time = back_to_back(ours, floor, repeats_for(n))
    return Row(
        function,
        n,
        "numpy.sort",
        ours_time,
        floor_time,
        TARGETS[function],
        note="continuous score",
    )


def run(sizes: list[int]) -> list[Row]:
    rows = []
    for n in sizes:
        x, y = continuous(n)
        cuts = np.quantile(x, [0.25, 0.5, 0.75])
        fits: dict[str, Callable[[], object]] = {
            "mdlp_binning": lambda: tl.mdlp_binning(x, y),
            "quantile_binning": lambda: tl.quantile_binning(x, y),
            "equal_width_binning": lambda: tl.equal_width_binning(x, y),
            "custom_binning": lambda: tl.custom_binning(x, y, cuts),
        }
        for function, fit in fits.items():
            rows.append(interleaved(function, n, fit, lambda: np.sort(x)))
    return rows


def missed_targets(rows: list[Row]) -> list[str]:
    """What misses its target from ENFORCED_FROM_ROWS on, as lines to print."""
    return [
        f"FAIL: {r.function} costs {r.ratio:.1f} sorts of the column at {r.rows:,} rows, "
        f"above its target of {r.target:g}"
        for r in rows
        if r.rows >= ENFORCED_FROM_ROWS and r.met == "NO"
    ]


def main() -> None:
    rows = run(sizes_from_args())
    report_sorts(
        rows,
        missed_targets(rows),
        f"ok: every fit from rows within its target from {ENFORCED_FROM_ROWS:,} rows on",
    )


if __name__ == "__main__":
    main()
