"""Unsupervised binning against NumPy, pandas and scikit-learn.

- binning_transform with 20 cut points vs numpy.searchsorted(side="left")
  plus the NaN mask;
- binning_splits "quantile" (10 bins) vs numpy.quantile (method="linear") of
  the finite values, the filtering of the finite values included on both
  sides, and vs KBinsDiscretizer(strategy="quantile");
- binning_splits "equal_width" (10 bins, full range) vs
  KBinsDiscretizer(strategy="uniform");
- binning_summary_binary (10 bins, median representative) vs the same table
  built with pandas.cut and a groupby.

x is normal with 1% NaN; y is 0/1 with a 20% event rate. KBinsDiscretizer
refuses NaN, so its rows use the finite values only, on both sides; it fits on
every row (subsample=None), as the exact cut points need.
"""

from __future__ import annotations

import pathlib
import sys

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).parent))

from common import Row, compare, print_table, sizes_from_args, unavailable

import _tessaline as t

TRANSFORM_TARGET = 0.5
QUANTILE_TARGET = 0.7
SUMMARY_TARGET = 0.2
N_CUTS = 20
N_BINS = 10


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
    table = (
        frame.groupby("bin", observed=False)
        .agg(count=("y", "size"), c1=("y", "sum"), representative=("x", "median"))
        .reset_index(drop=True)
    )
    missing = np.isnan(x)
    if missing.any():
        table.loc[len(table)] = [int(missing.sum()), int(y[missing].sum()), np.nan]
    table["percentage"] = table["count"] / len(x)
    table["c0"] = table["count"] - table["c1"]
    table["event_rate"] = (table["c1"] / table["count"]).fillna(0.0)
    return table


def splits(x: np.ndarray, method: str) -> np.ndarray:
    return t.binning_splits(x, method, N_BINS, "full", 0.0, 1.0, 1.5, np.empty(0))


def _kbins_rows(n: int, finite: np.ndarray) -> list[Row]:
    labels = {
        "quantile": "binning_splits quantile (10 bins)",
        "uniform": "binning_splits equal_width (10 bins)",
    }
    try:
        from sklearn.preprocessing import KBinsDiscretizer
    except ImportError:
        return [
            unavailable(label, n, f"KBinsDiscretizer {s}", None, "scikit-learn not installable")
            for s, label in labels.items()
        ]
    column = finite.reshape(-1, 1)
    rows = []
    for strategy, label in labels.items():
        extra = {"quantile_method": "linear"} if strategy == "quantile" else {}
        peer = KBinsDiscretizer(
            n_bins=N_BINS, encode="ordinal", strategy=strategy, subsample=None, **extra
        )
        method = "quantile" if strategy == "quantile" else "equal_width"
        ours_cuts = splits(finite, method)
        theirs_cuts = peer.fit(column).bin_edges_[0][1:-1]
        assert np.allclose(ours_cuts, theirs_cuts, rtol=1e-12, atol=1e-12)
        rows.append(
            compare(
                label,
                n,
                f"KBinsDiscretizer {strategy}",
                lambda: splits(finite, method),
                lambda: peer.fit(column),
            )
        )
    return rows


def run(sizes: list[int]) -> list[Row]:
    rows: list[Row] = []
    for n in sizes:
        x, y = sample(n)
        finite = x[np.isfinite(x)]
        cuts = np.quantile(finite, np.arange(1, N_CUTS + 1) / (N_CUTS + 1))
        assert np.array_equal(t.binning_transform(x, cuts), numpy_transform(x, cuts))
        rows.append(
            compare(
                f"binning_transform ({N_CUTS} cuts)",
                n,
                "numpy.searchsorted + NaN mask",
                lambda: t.binning_transform(x, cuts),
                lambda: numpy_transform(x, cuts),
                TRANSFORM_TARGET,
            )
        )
        assert np.allclose(
            splits(x, "quantile"), numpy_quantile_cuts(x, N_BINS), rtol=1e-12, atol=1e-12
        )
        rows.append(
            compare(
                "binning_splits quantile (10 bins)",
                n,
                "numpy.quantile",
                lambda: splits(x, "quantile"),
                lambda: numpy_quantile_cuts(x, N_BINS),
                QUANTILE_TARGET,
            )
        )
        rows += _kbins_rows(n, finite)
        cuts10 = np.quantile(finite, np.arange(1, N_BINS) / N_BINS)
        try:
            import pandas  # noqa: F401
        except ImportError:
            rows.append(
                unavailable(
                    "binning_summary_binary (10 bins)",
                    n,
                    "pandas.cut + groupby",
                    SUMMARY_TARGET,
                    "pandas not installable",
                )
            )
            continue
        rows.append(
            compare(
                "binning_summary_binary (10 bins)",
                n,
                "pandas.cut + groupby",
                lambda: t.binning_summary_binary(x, y, cuts10),
                lambda: pandas_summary(x, y, cuts10),
                SUMMARY_TARGET,
            )
        )
    return rows


if __name__ == "__main__":
    print_table(run(sizes_from_args()))
