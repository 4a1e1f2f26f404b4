"""mdlp_full_raw against the stable sort of x, and against a Python MDLP binner.

The sort of the raw score is the least any supervised binning of unsorted data
must pay; the one-call pipeline, which sorts too, should cost at most half of
it. The MDLP class of the optbinning package is what a user would pick from
PyPI instead; it fits the same data and target at 1e6 rows, where tessaline
should be at least 10 times faster. Timed over its own repetitions the peer
takes about 0.2 s there, and NumPy's sort of the column alone about 0.03 of
that: a target of 1/50 would ask for less than one sort of x, which the
binning needs (its distinct values in order), so the peer's target is set
where a call made twice as slow fails it.
"""

from __future__ import annotations

import numpy as np
from common import Row, compare, median_time, print_table, repeats_for, sizes_from_args, unavailable
from data import score_and_target

import _tessaline as tl

SORT_TARGET = 0.5
PYTHON_MDLP_TARGET = 1 / 10
PYTHON_MDLP_ROWS = 1_000_000


def _mdlp_full_raw(x, y):
    return lambda: tl.mdlp_full_raw(x, y, 0, 0, 0, 1.0, 1.0, False)


def run(sizes: list[int]) -> list[Row]:
    rows = []
    for n in sizes:
        x, y = score_and_target(n, missing=0.01)
        rows.append(
            compare(
                "mdlp_full_raw",
                n,
                "numpy.argsort(stable)",
                _mdlp_full_raw(x, y),
                lambda: np.argsort(x, kind="stable"),
                target=SORT_TARGET,
            )
        )
    n = PYTHON_MDLP_ROWS
    if n in sizes:
        x, y = score_and_target(n)
        try:
            from optbinning import MDLP
        except ImportError as e:
            rows.append(
                unavailable(
                    "mdlp_full_raw",
                    n,
                    "optbinning.MDLP",
                    PYTHON_MDLP_TARGET,
                    f"not installable here: {e}",
                )
            )
        else:
            labels = y.astype(int)
            ours = median_time(_mdlp_full_raw(x, y), repeats_for(n))
            theirs = median_time(lambda: MDLP().fit(x, labels), 3)
            rows.append(
                Row("mdlp_full_raw", n, "optbinning.MDLP", ours, theirs, target=PYTHON_MDLP_TARGET)
            )
    return rows


if __name__ == "__main__":
    print_table(run(sizes_from_args()))
