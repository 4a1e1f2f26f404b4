"""Diagnostics against their peers: the Lorenz curve (with AUC and Gini)
against scikit-learn's AUC, unweighted and with sample weights, and the
distribution comparison with 10 cut points against the same PSI and KS
computed in NumPy from searchsorted + bincount."""

from __future__ import annotations

import pathlib
import sys

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).parent))

from common import Row, compare, print_table, sizes_from_args, unavailable

import _tessaline

N_CUTS = 10
EPSILON = 1e-12
LORENZ_TARGET = 0.3
COMPARE_TARGET = 0.7


def numpy_psi_ks(reference: np.ndarray, current: np.ndarray, splits: np.ndarray):
    """Per-bin counts, PSI and KS; NaN (which searchsorted puts past the last
    cut) is moved to a bin of its own."""
    k = splits.size

    def counts(values: np.ndarray) -> np.ndarray:
        c = np.bincount(np.searchsorted(splits, values, side="left"), minlength=k + 1)
        missing = np.count_nonzero(np.isnan(values))
        c[k] -= missing
        return np.append(c, missing)

    c_ref, c_cur = counts(reference), counts(current)
    if c_ref[-1] == 0 and c_cur[-1] == 0:
        c_ref, c_cur = c_ref[:-1], c_cur[:-1]
    p_ref = c_ref / reference.size
    p_cur = c_cur / current.size
    psi_bin = (p_ref - p_cur) * np.log(np.maximum(p_ref, EPSILON) / np.maximum(p_cur, EPSILON))
    ks = np.max(np.abs(np.cumsum(p_ref) - np.cumsum(p_cur)))
    return c_ref, c_cur, psi_bin, psi_bin.sum(), ks


def _lorenz_rows(n: int, rng: np.random.Generator) -> list[Row]:
    try:
        from sklearn.metrics import roc_auc_score
    except ImportError:
        return [
            unavailable(
                "lorenz_curve_native",
                n,
                "sklearn roc_auc_score",
                LORENZ_TARGET,
                "scikit-learn not installable",
            )
        ]
    y = (rng.random(n) < 0.1).astype(np.int32)
    # Continuous scores: nearly every value distinct, the costly case for a curve.
    x = rng.normal(size=n) + 0.8 * y
    ours = _tessaline.lorenz_curve_native(x, y)["auc"]
    theirs = roc_auc_score(y, x)
    assert abs(ours - theirs) < 1e-9, (ours, theirs)
    return [
        compare(
            "lorenz_curve_native",
            n,
            "sklearn roc_auc_score",
            lambda: _tessaline.lorenz_curve_native(x, y),
            lambda: roc_auc_score(y, x),
            target=LORENZ_TARGET,
        )
    ]


def _weighted_lorenz_rows(n: int, rng: np.random.Generator) -> list[Row]:
    try:
        from sklearn.metrics import roc_auc_score
    except ImportError:
        return []
    import tessaline as tl

    y = (rng.random(n) < 0.1).astype(np.int32)
    x = rng.normal(size=n) + 0.8 * y
    # Goods kept 1 in 3 and weighted 3, a share of rows of fractional weight.
    w = np.where(y == 1, 1.0, 3.0) * np.where(rng.random(n) < 0.2, 0.75, 1.0)
    ours = tl.gini(x, y, sample_weight=w).auc
    theirs = roc_auc_score(y, x, sample_weight=w)
    assert abs(ours - theirs) < 1e-9, (ours, theirs)
    return [
        compare(
            "tl.gini(sample_weight=)",
            n,
            "sklearn roc_auc_score(sample_weight=)",
            lambda: tl.gini(x, y, sample_weight=w),
            lambda: roc_auc_score(y, x, sample_weight=w),
            target=1.0,
        )
    ]


def _compare_rows(n: int, rng: np.random.Generator) -> list[Row]:
    reference = rng.normal(size=n)
    current = rng.normal(0.1, 1.1, size=n)
    splits = np.quantile(reference, np.linspace(0, 1, N_CUTS + 2)[1:-1])
    ours = _tessaline.compare_distributions_native(reference, current, splits)
    theirs = numpy_psi_ks(reference, current, splits)
    assert ours["count_current"].tolist() == theirs[1].tolist()
    assert abs(ours["psi"] - theirs[3]) < 1e-9
    return [
        compare(
            "compare_distributions_native",
            n,
            "numpy searchsorted+bincount",
            lambda: _tessaline.compare_distributions_native(reference, current, splits),
            lambda: numpy_psi_ks(reference, current, splits),
            target=COMPARE_TARGET,
        )
    ]


def run(sizes: list[int]) -> list[Row]:
    rng = np.random.default_rng(20240607)
    rows: list[Row] = []
    for n in sizes:
        rows += _lorenz_rows(n, rng)
        rows += _weighted_lorenz_rows(n, rng)
        rows += _compare_rows(n, rng)
    return rows


if __name__ == "__main__":
    print_table(run(sizes_from_args()))
