"""DeLong's covariance of the AUCs of two scores on the same rows against the
fast published algorithm in NumPy and SciPy (midranks of each class and of
all rows by scipy.stats.rankdata, three sorts per score), both in one
process on the same arrays. tessaline sorts each score once in the core and
reads every row's placement from the class counts around its tie group.

The scores are rounded to 3 decimals, so ties are common, as in points.
"""

from __future__ import annotations

import pathlib
import sys

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).parent))

from common import Row, compare, print_table, sizes_from_args, unavailable

from tessaline._core import native

DELONG_TARGET = 1.0


def scipy_delong(scores: np.ndarray, y: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    from scipy.stats import rankdata

    events, non_events = scores[:, y == 1], scores[:, y == 0]
    m, n = events.shape[1], non_events.shape[1]
    tz = rankdata(np.hstack([events, non_events]), axis=1)
    tx, ty = rankdata(events, axis=1), rankdata(non_events, axis=1)
    v10 = (tz[:, :m] - tx) / n
    v01 = 1.0 - (tz[:, m:] - ty) / m
    return v10.mean(axis=1), np.cov(v10) / m + np.cov(v01) / n


def run(sizes: list[int]) -> list[Row]:
    rng = np.random.default_rng(20261208)
    rows: list[Row] = []
    for n in sizes:
        try:
            import scipy  # noqa: F401
        except ImportError:
            rows.append(
                unavailable(
                    "delong_auc (2 scores)",
                    n,
                    "scipy rankdata DeLong",
                    DELONG_TARGET,
                    "scipy not installable",
                )
            )
            continue
        y = (rng.random(n) < 0.2).astype(np.int32)
        a = rng.normal(size=n) + y
        scores = np.round(np.vstack([a, 0.7 * a + rng.normal(size=n)]), 3)
        ours = native.delong_auc(scores, y)
        auc, cov = scipy_delong(scores, y)
        assert np.allclose(ours["auc"], auc, rtol=1e-12) and np.allclose(
            ours["covariance"], cov, rtol=1e-9
        ), (ours, auc, cov)
        rows.append(
            compare(
                "delong_auc (2 scores)",
                n,
                "scipy rankdata DeLong",
                lambda: native.delong_auc(scores, y),
                lambda: scipy_delong(scores, y),
                target=DELONG_TARGET,
            )
        )
    return rows


if __name__ == "__main__":
    print_table(run(sizes_from_args()))
