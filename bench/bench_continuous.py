"""Continuous optimal binning against optbinning's ContinuousOptimalBinning
under the same limits, in one process.

Real continuous targets: scikit-learn's bundled diabetes data (disease
progression one year on, against each of its ten measurements) and German
credit's credit amount (against the applicant's duration, age and the other
numeric columns). Each column is binned by `tl.continuous_binning` and by the
peer with at most 8 bins, 5% of the rows per bin and a mean rising or falling
(the better direction); both binnings are then scored alike, on the rows,
by their between-bin sum of squares and R² (its share of the total). Prints
both, whether tessaline's criterion is at least the peer's, and the time
ratio over all columns. Then one synthetic column of `--rows` rows (a loss
against a balance, weighted quantile pre-bins there) timed against the peer.

    python bench/bench_continuous.py [--repeat 3] [--rows 1000000]

In bench/run.py (run()): the synthetic column at each size against the
peer, at least PEER_SPEEDUP times faster from 1e6 rows on, and its
between-bin sum of squares at least the peer's at every size (the row's
note gives both R²; a shortfall fails the run).
"""

from __future__ import annotations

import argparse
import pathlib
import time

import numpy as np
from common import Row, median_time, missed_ratios, unavailable

import tessaline as tl
from tessaline.report._dataset import read_dataset

ROOT = pathlib.Path(__file__).resolve().parents[1]
MAX_BINS, MIN_SHARE = 8, 0.05
PEER_SPEEDUP = 10.0
ENFORCED_FROM_ROWS = 1_000_000
PEER = "optbinning ContinuousOptimalBinning"


def synthetic(n: int) -> tuple[np.ndarray, np.ndarray]:
    """A loss against a balance: about as many distinct values as rows."""
    rng = np.random.default_rng(0)
    x = np.round(rng.lognormal(8, 1, n), 2)
    return x, np.clip(0.4 - 0.03 * np.log(x) + rng.normal(0, 0.2, n), 0, 1)


def run(sizes: list[int]) -> list[Row]:
    """tl.continuous_binning against the peer at each size; the peer timed once."""
    rows = []
    for n in sizes:
        x, y = synthetic(n)
        fitted: dict[str, object] = {}
        ours = median_time(
            lambda: fitted.update(
                ours=tl.continuous_binning(x, y, max_bins=MAX_BINS, min_bin_share=MIN_SHARE)
            ),
            3 if n >= ENFORCED_FROM_ROWS else 7,
        )
        try:
            # Warmed up on a few rows: its import and compilation are no fit.
            peer(x[:10_000], y[:10_000])
            theirs = median_time(lambda: fitted.update(theirs=peer(x, y)), 1, warmup=0)
        except ImportError:
            rows.append(
                unavailable("continuous_binning", n, PEER, 1 / PEER_SPEEDUP, "not installed")
            )
            continue
        note = criterion_note(fitted["ours"], fitted["theirs"], x, y)
        rows.append(Row("continuous_binning", n, PEER, ours, theirs, 1 / PEER_SPEEDUP, note))
    return rows


SHORTFALL = "below the peer's"


def criterion_note(table, model, x: np.ndarray, y: np.ndarray) -> str:  # type: ignore[no-untyped-def]
    """Both binnings' R² on the rows (between-bin over total sum of squares),
    and whether ours falls short of the peer's."""
    total = float(np.sum((y - y.mean()) ** 2))
    ours = between_ss(table.transform(x, output="index"), y)
    theirs = between_ss(np.asarray(model.transform(x, metric="indices")), y)
    verdict = "at least the peer's" if ours >= theirs * (1 - 1e-12) else SHORTFALL
    return f"R² {ours / total:.4f} vs {theirs / total:.4f}, {verdict}"


def missed_targets(rows: list[Row]) -> list[str]:
    """What misses its target from ENFORCED_FROM_ROWS on, as lines to print,
    and every size whose between-bin sum of squares falls short of the peer's."""
    return missed_ratios(rows, ENFORCED_FROM_ROWS) + [
        f"FAIL: continuous_binning at {r.rows:,} rows: {r.note}"
        for r in rows
        if r.note.endswith(SHORTFALL)
    ]


def between_ss(index: np.ndarray, y: np.ndarray) -> float:
    """sum over bins of n_b (mean_b - mean)^2 on the rows, for any binning."""
    mean = y.mean()
    return float(
        sum(np.sum(index == b) * (y[index == b].mean() - mean) ** 2 for b in np.unique(index))
    )


def peer(x: np.ndarray, y: np.ndarray):  # type: ignore[no-untyped-def]
    from optbinning import ContinuousOptimalBinning

    model = ContinuousOptimalBinning(
        dtype="numerical",
        max_n_bins=MAX_BINS,
        min_bin_size=MIN_SHARE,
        monotonic_trend="auto_asc_desc",
    )
    return model.fit(x, y)


def data_sets() -> list[tuple[str, dict[str, np.ndarray], np.ndarray]]:
    from sklearn.datasets import load_diabetes

    diabetes = load_diabetes()
    credit = read_dataset(ROOT / "examples" / "data" / "germancredit.csv", "creditability", "bad")
    amount = np.asarray(credit.numeric["credit_amount"], dtype=np.float64)
    others = {
        k: np.asarray(v, np.float64) for k, v in credit.numeric.items() if k != "credit_amount"
    }
    return [
        ("diabetes", dict(zip(diabetes.feature_names, diabetes.data.T)), diabetes.target),
        ("german credit amount", others, amount),
    ]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--rows", type=int, default=1_000_000)
    args = parser.parse_args()
    ok, ours_time, theirs_time = True, 0.0, 0.0
    print(
        f"{'target':22s} {'column':50s} {'tessaline SSB':>14s} {'optbinning SSB':>14s} "
        f"{'R² ours':>8s} {'R² peer':>8s}  at least"
    )
    for label, columns, y in data_sets():
        total = float(np.sum((y - y.mean()) ** 2))
        for name, x in columns.items():
            begin = time.perf_counter()
            for _ in range(args.repeat):
                table = tl.continuous_binning(
                    x, y, max_bins=MAX_BINS, min_bin_share=MIN_SHARE, trend="auto"
                )
            ours_time += time.perf_counter() - begin
            begin = time.perf_counter()
            for _ in range(args.repeat):
                model = peer(x, y)
            theirs_time += time.perf_counter() - begin
            ours = between_ss(table.transform(x, output="index"), y)
            theirs = between_ss(np.asarray(model.transform(x, metric="indices")), y)
            at_least = ours >= theirs * (1 - 1e-12)
            ok &= at_least
            print(
                f"{label:22s} {name:50s} {ours:14.6g} {theirs:14.6g} "
                f"{ours / total:8.4f} {theirs / total:8.4f}  {'yes' if at_least else 'NO'}"
            )
    print(f"tessaline's criterion at least optbinning's on every column: {ok}")
    print(
        f"time over all columns: tessaline {ours_time:.3f} s, optbinning {theirs_time:.3f} s, "
        f"{theirs_time / ours_time:.1f} times faster"
    )
    large(args.rows)


def large(n: int) -> None:
    x, y = synthetic(n)
    begin = time.perf_counter()
    table = tl.continuous_binning(x, y, max_bins=MAX_BINS, min_bin_share=MIN_SHARE)
    ours_time = time.perf_counter() - begin
    begin = time.perf_counter()
    model = peer(x, y)
    theirs_time = time.perf_counter() - begin
    total = float(np.sum((y - y.mean()) ** 2))
    ours = between_ss(table.transform(x, output="index"), y)
    theirs = between_ss(np.asarray(model.transform(x, metric="indices")), y)
    print(
        f"{n} rows, one column: R² tessaline {ours / total:.4f}, optbinning {theirs / total:.4f}; "
        f"tessaline {ours_time:.3f} s, optbinning {theirs_time:.3f} s, "
        f"{theirs_time / ours_time:.1f} times faster"
    )


if __name__ == "__main__":
    main()
