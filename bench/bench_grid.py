"""Two-variable binning against optbinning's OptimalBinning2D on the same
data, in one process.

1. Quality: pairs of German credit's numeric columns, and a synthetic pair
   of 1e5 rows, binned by `tl.grid_binning` (its default: rectangles made by
   cuts, at most 5 x 5 of them) and by the peer, first with no least share
   of a cell (the peer's default), then with 2% of the rows per cell (ours)
   and per bin (the peer's); prints both IVs (each as its library reports
   it; both follow the same formula), the ratio ours/theirs (target: at
   least 1 under both), the partition ours chose and whether it was proved
   optimal, and the IV of our product grid beside it. The peer's bins are
   any rectangles of its pre-bin grid, so under a least share a product grid
   that must join whole rows or columns falls behind it; rectangles do not.
2. Speed: the synthetic pair timed by both, under each share (target:
   tessaline faster).

    python bench/bench_grid.py [--rows 100000]

In bench/run.py (run()): the synthetic pair at the smallest size against the
peer, timed under both shares, with the IV ratio of every pair under both
as a gate (`missed_targets`).
"""

from __future__ import annotations

import argparse
import pathlib
import warnings

import numpy as np
from common import Row, median_time, missed_ratios, unavailable

import tessaline as tl
from tessaline.report._dataset import read_dataset

ROOT = pathlib.Path(__file__).resolve().parents[1]
# The least shares of a cell compared: none (the peer's default) and 2%.
SHARES = (0.0, 0.02)
PEER = "optbinning OptimalBinning2D"
# Ours / theirs: at most this time, at least this IV.
TIME_TARGET = 1.0
IV_TARGET = 1.0
PAIRS = [
    ("duration_in_month", "credit_amount"),
    ("age_in_years", "credit_amount"),
    ("duration_in_month", "age_in_years"),
]


def synthetic(n: int) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """A balance and a utilisation whose risk rises with both, and more
    where they meet."""
    rng = np.random.default_rng(0)
    x = np.round(rng.lognormal(8, 1, n), 2)
    u = np.round(np.clip(rng.beta(2, 3, n) + 0.05 * np.log(x / 3000), 0, 1.2), 3)
    logit = -3 + 0.4 * np.log(x / 3000) + 2.5 * u + 1.5 * (u > 0.6) * (x > 5000)
    return x, u, (rng.random(n) < 1 / (1 + np.exp(-logit))).astype(float)


def ours(
    x: np.ndarray, y: np.ndarray, target: np.ndarray, share: float, method: str = "rectangles"
) -> tl.GridBinningTable:
    return tl.grid_binning(x, y, target, min_cell_share=share, method=method)


def peer_iv(x: np.ndarray, y: np.ndarray, target: np.ndarray, share: float) -> float:
    from optbinning import OptimalBinning2D

    model = OptimalBinning2D(min_bin_size=share or None)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        model.fit(x, y, target)
    return float(model.binning_table.build()["IV"].iloc[-1])


def german_pairs() -> list[tuple[str, np.ndarray, np.ndarray, np.ndarray]]:
    credit = read_dataset(ROOT / "examples" / "data" / "germancredit.csv", "creditability", "bad")
    return [(f"{a} x {b}", credit.numeric[a], credit.numeric[b], credit.target) for a, b in PAIRS]


def quality(rows: int) -> list[str]:
    """Prints both IVs per pair; the pairs below IV_TARGET as FAIL lines."""
    cases = [*german_pairs(), (f"synthetic ({rows:,} rows)", *synthetic(rows))]
    misses = []
    for share in SHARES:
        print(f"least share of a cell {share:.0%}")
        print(
            f"{'pair':42s} {'tessaline':>9s} {PEER:>27s} {'ratio':>6s}  "
            f"{'partition':>15s} proved  {'product grid':>12s}"
        )
        for label, x, y, target in cases:
            table = ours(x, y, target, share)
            grid = ours(x, y, target, share, "grid")
            theirs = peer_iv(x, y, target, share)
            ratio = table.information_value / theirs
            inner = table.regions[: table.axis_x.n_bins, : table.axis_y.n_bins]
            cells = f"{np.unique(inner).size} {table.metadata['method']}"
            print(
                f"{label:42s} {table.information_value:9.4f} {theirs:27.4f} {ratio:6.3f}  "
                f"{cells:>15s} {table.metadata['exact']!s:6s}  {grid.information_value:12.4f}"
            )
            if ratio < IV_TARGET:
                misses.append(
                    f"FAIL: grid_binning IV {ratio:.3f} of the {PEER}'s on {label} "
                    f"at a least share of {share:.0%}"
                )
    return misses


_IV_MISSES: list[str] = []


def run(sizes: list[int]) -> list[Row]:
    """The synthetic pair at the smallest size against the peer, timed once
    each after a warm-up; the IV of every pair checked on the way."""
    n = min(sizes)
    try:
        _IV_MISSES[:] = quality(n)
    except ImportError:
        return [unavailable("grid_binning", n, PEER, TIME_TARGET, "not installed")]
    x, y, target = synthetic(n)
    rows = []
    for share in SHARES:
        mine = median_time(lambda: ours(x, y, target, share), 5)
        theirs = median_time(lambda: peer_iv(x, y, target, share), 1)
        name = "grid_binning" if share == 0 else f"grid_binning, {share:.0%} per cell"
        rows.append(Row(name, n, PEER, mine, theirs, TIME_TARGET))
    return rows


def missed_targets(rows: list[Row]) -> list[str]:
    return [*_IV_MISSES, *missed_ratios(rows, 0)]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=100_000)
    args = parser.parse_args()
    rows = run([args.rows])
    for row in rows:
        ratio = "-" if row.ratio is None else f"{row.ratio:.4f}"
        print(f"{row.function}: {row.ours} s against {row.theirs} s, ratio {ratio}")
    failures = missed_targets(rows)
    print(*failures or ["all targets met"], sep="\n")


if __name__ == "__main__":
    main()
