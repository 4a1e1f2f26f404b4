"""mdlp_full_raw against the stable sort of x, and against a Python MDLP binner."""
from __future__ import annotations

import numpy as np

import _tessaline as tl
from common import Row, compare, median_time, print_table, repeats_for, sizes_from_args
from data import score_and_target


def _mdlp_full_raw(x, y):
    return lambda: tl.mdlp_full_raw(x, y, 0, 0, 0, 1.0, 1.0, False)


def run(sizes: list[int]) -> list[Row]:
    rows = []
    for n in sizes:
        x, y = score_and_target(n, missing=0.01)
        rows.append(compare("mdlp_full_raw", n, "numpy.argsort(kind='stable')",
                            _mdlp_full_raw(x, y), lambda: np.argsort(x, kind="stable"),
                            target=0.5 if n >= 10_000_000 else 1.5))
    n = 1_000_000
    if n in sizes:
        x, y = score_and_target(n)
        try:
            from optbinning import MDLP
        except ImportError:
            rows.append(Row("mdlp_full_raw", n, "optbinning.MDLP", None, None,
                            note="not installable here"))
        else:
            ours = median_time(_mdlp_full_raw(x, y), repeats_for(n))
            theirs = median_time(lambda: MDLP().fit(x, y.astype(int)), 3)
            rows.append(Row("mdlp_full_raw", n, "optbinning.MDLP", ours, theirs, target=1 / 50))
    return rows


if __name__ == "__main__":
    print_table(run(sizes_from_args()))
