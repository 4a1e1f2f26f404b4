"""Unsupervised binning against NumPy and pandas.

- binning_transform vs numpy.searchsorted(side="left") plus the NaN mask;
- binning_splits "quantile" vs numpy.quantile (method="linear") of the finite
  values, the filtering of the finite values included on both sides;
- binning_summary_binary (median representative) vs the same table built
  with pandas.cut and a groupby.

x is normal with 1% NaN; y is 0/1 with a 20% event rate.
"""
from __future__ import annotations

import pathlib
import sys

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).parent))

from common import Row, compare, print_table, sizes_from_args  # noqa: E402

import _tessaline as t  # noqa: E402

TRANSFORM_TARGET = 0.7
QUANTILE_TARGET = 1.0
SUMMARY_TARGET = 0.3


def sample(n: int) -> tuple[np.ndarray, np.ndarray]:
    rng = np.random.default_rng(12345)
    x = rng.normal(0.0, 1.0, n)
    x[rng.random(n) < 0.01] = np.nan
    y = (rng.random(n) < 0.2).astype(np.int32)
    return x, y


def numpy_transform(x: np.ndarray, cuts: np.ndarray) -> np.ndarray:
    bins = np.searchsorted(cuts, x, side="left")
    bins[np.isnan(x)] = -1
    return bins


def numpy_quantile_cuts(x: np.ndarray, n_bins: int) -> np.ndarray:
    finite = x[np.isfinite(x)]
    return np.quantile(finite, np.arange(1, n_bins) / n_bins, method="linear")


def pandas_summary(x: np.ndarray, y: np.ndarray, cuts: np.ndarray):
    import pandas as pd

    edges = np.concatenate([[-np.inf], cuts, [np.inf]])
    frame = pd.DataFrame({"bin": pd.cut(x, edges, right=True), "x": x, "y": y})
    table = frame.groupby("bin", observed=False).agg(
        count=("y", "size"), c1=("y", "sum"), representative=("x", "median")
    ).reset_index(drop=True)
    missing = np.isnan(x)
    if missing.any():
        table.loc[len(table)] = [int(missing.sum()), int(y[missing].sum()), np.nan]
    table["percentage"] = table["count"] / len(x)
    table["c0"] = table["count"] - table["c1"]
    table["event_rate"] = (table["c1"] / table["count"]).fillna(0.0)
    return table


def run(sizes: list[int]) -> list[Row]:
    rows: list[Row] = []
    for n in sizes:
        x, y = sample(n)
        for m in (10, 100):
            cuts = np.quantile(x[np.isfinite(x)], np.arange(1, m + 1) / (m + 1))
            rows.append(compare(f"binning_transform ({m} cuts)", n, "numpy.searchsorted",
                                lambda: t.binning_transform(x, cuts),
                                lambda: numpy_transform(x, cuts), TRANSFORM_TARGET))
        for n_bins in (10, 100):
            rows.append(compare(f"binning_splits quantile ({n_bins} bins)", n, "numpy.quantile",
                                lambda: t.binning_splits(x, "quantile", n_bins, "full", 0.0,
                                                         1.0, 1.5, np.empty(0)),
                                lambda: numpy_quantile_cuts(x, n_bins), QUANTILE_TARGET))
        cuts = np.quantile(x[np.isfinite(x)], np.arange(1, 10) / 10)
        rows.append(compare("binning_summary_binary (10 bins)", n, "pandas.cut+groupby",
                            lambda: t.binning_summary_binary(x, y, cuts),
                            lambda: pandas_summary(x, y, cuts), SUMMARY_TARGET))
    return rows


if __name__ == "__main__":
    print_table(run(sizes_from_args()))
