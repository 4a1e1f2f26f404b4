"""Sample weights against optbinning's `sample_weight`, in one process.

German credit with the goods down-sampled 1 in 3 and weighted 3 (the bads
kept, weight 1): every column is binned by `tl.optimal_binning` /
`tl.categorical_binning` with `sample_weight` and by optbinning's
`OptimalBinning` with its `sample_weight`, each under the same limits (at most
8 bins, 5% of the weight per bin, event rate rising or falling). Printed per
column: the IV of the full sample, the weighted IV of the down-sample and
their difference, for both libraries side by side.

A down-sample is a sample: its bins and IV move with the rows drawn, by far
more than 2% on a column whose IV rests on a few dozen goods, and a search
on fewer rows finds more information than there is (the mean weighted IV of
many down-samples lies above the full sample's, for both libraries alike). So
the figures are given for one down-sample (seed 0) and as the mean over
SAMPLES down-samples. The 2% target is then counted for both libraries
alike (columns of at least a weak IV, 0.02, whose mean weighted IV is within
2% of the full sample's), and the two libraries' weighted IVs are set side
by side: they differ where their searches do (pre-bins), not by the
weighting. That integer weights give exactly the tables of the rows repeated
is shown by the tests. The time ratio is tessaline's time over optbinning's
for the same weighted fits.

    python bench/bench_weights.py [--samples 20]

In bench/run.py (run()): the weighted fits of bench_table's credit frame cut
to 6 columns (weights all 1, whole weights, fractional weights) against the
unweighted fit, each pair timed back to back, every one within WEIGHT_TARGET
times the unweighted fit from 1e6 rows on.
"""

from __future__ import annotations

import argparse
import time

import numpy as np
import pandas as pd
from bench_table import credit_frame
from common import Row, back_to_back, missed_ratios

import tessaline as tl

MAX_BINS, MIN_SHARE, TOLERANCE, WEAK = 8, 0.05, 0.02, 0.02
WEIGHT_TARGET = 1.5
ENFORCED_FROM_ROWS = 1_000_000


def weight_sets(n: int) -> dict[str, np.ndarray]:
    rng = np.random.default_rng(1)
    return {
        "weights all 1": np.ones(n),
        "whole weights": rng.integers(1, 4, n).astype(np.float64),
        "fractional weights": rng.random(n) + 0.5,
    }


def run(sizes: list[int]) -> list[Row]:
    """The weighted fits against the unweighted one at each size."""
    rows = []
    for n in sizes:
        frame, y = credit_frame(n, n_numeric=4, n_categorical=2)
        # Medians of seven: of three, one slow call of either moved the ratio by a third.
        repeat = 7 if n >= ENFORCED_FROM_ROWS else 9
        for label, w in weight_sets(n).items():
            weighted, plain = back_to_back(
                lambda w=w: tl.TableBinning(min_iv=0.0).fit(frame, y, sample_weight=w),
                lambda: tl.TableBinning(min_iv=0.0).fit(frame, y),
                repeat,
            )
            rows.append(
                Row(f"TableBinning, {label}", n, "unweighted fit", weighted, plain, WEIGHT_TARGET)
            )
    return rows


def missed_targets(rows: list[Row]) -> list[str]:
    """What misses its target from ENFORCED_FROM_ROWS on, as lines to print."""
    return missed_ratios(rows, ENFORCED_FROM_ROWS)


def ours(x: pd.Series, y: np.ndarray, w: np.ndarray | None) -> float:
    limits = {"max_bins": MAX_BINS, "min_bin_share": MIN_SHARE, "trend": "auto"}
    if x.dtype.kind in "if":
        return tl.optimal_binning(x, y, sample_weight=w, **limits).information_value
    table = tl.categorical_binning(x.astype(str), y, sample_weight=w, limits=limits)
    return table.information_value


def theirs(x: pd.Series, y: np.ndarray, w: np.ndarray | None) -> float:
    from optbinning import OptimalBinning

    numeric = x.dtype.kind in "if"
    model = OptimalBinning(
        dtype="numerical" if numeric else "categorical",
        max_n_bins=MAX_BINS,
        min_bin_size=MIN_SHARE,
        monotonic_trend="auto_asc_desc",
    )
    model.fit(x.to_numpy() if numeric else x.astype(str).to_numpy(), y, sample_weight=w)
    return float(model.binning_table.build()["IV"].iloc[-1])


def down_sample(bad: np.ndarray, seed: int) -> tuple[np.ndarray, np.ndarray]:
    """The rows kept (every bad, a third of the goods drawn at random) and their weights."""
    goods = np.flatnonzero(~bad)
    drawn = np.random.default_rng(seed).choice(goods, goods.size // 3, replace=False)
    kept = np.sort(np.concatenate((np.flatnonzero(bad), drawn)))
    return kept, np.where(bad[kept], 1.0, 3.0)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--samples", type=int, default=20)
    samples = parser.parse_args().samples
    data = tl.datasets.german_credit()
    y = (data.pop("creditability") == "bad").to_numpy().astype(float)
    bad = y == 1.0
    fits = {"tessaline": ours, "optbinning": theirs}
    full = {(lib, c): fit(data[c], y, None) for lib, fit in fits.items() for c in data.columns}
    first: dict[tuple[str, str], float] = {}
    sums = dict.fromkeys(full, 0.0)
    spent = dict.fromkeys(fits, 0.0)
    for seed in range(samples):
        kept, w = down_sample(bad, seed)
        sample = data.iloc[kept].reset_index(drop=True)
        for lib, fit in fits.items():
            start = time.perf_counter()
            ivs = {c: fit(sample[c], y[kept], w) for c in data.columns}
            spent[lib] += time.perf_counter() - start
            for c, iv in ivs.items():
                sums[(lib, c)] += iv
                if seed == 0:
                    first[(lib, c)] = iv

    def change(lib: str, c: str, iv: float) -> str:
        base = full[(lib, c)]
        return f"{(iv - base) / base:+7.1%}" if base else "      -"

    print(
        f"German credit, goods down-sampled 1 in 3 and weighted 3; weighted IV of one "
        f"down-sample and the mean of {samples}, against the full sample's IV"
    )
    print(
        f"{'column':<40} {'full':>7} {'seed 0':>7} {'chg':>7} {'mean':>7} {'chg':>7}"
        f" | {'full':>7} {'seed 0':>7} {'mean':>7} {'chg':>7}"
    )
    print(f"{'':<40} {'tessaline':^39} | {'optbinning':^31}")
    within = dict.fromkeys(fits, 0)
    for c in data.columns:
        cells = []
        for lib in fits:
            mean = sums[(lib, c)] / samples
            base = full[(lib, c)]
            within[lib] += int(base >= WEAK and abs(mean - base) <= TOLERANCE * base)
            if lib == "tessaline":
                cells.append(
                    f"{base:7.4f} {first[(lib, c)]:7.4f} {change(lib, c, first[(lib, c)])}"
                    f" {mean:7.4f} {change(lib, c, mean)}"
                )
            else:
                cells.append(
                    f"{base:7.4f} {first[(lib, c)]:7.4f} {mean:7.4f} {change(lib, c, mean)}"
                )
        print(f"{c[:40]:<40} {cells[0]} | {cells[1]}")
    weak = sum(full[("tessaline", c)] >= WEAK for c in data.columns)
    print(
        f"columns of IV >= {WEAK} whose mean weighted IV is within {TOLERANCE:.0%} of the "
        f"full-sample IV: tessaline {within['tessaline']} of {weak}, optbinning "
        f"{within['optbinning']} of {weak}"
    )
    gaps = [
        abs(sums[("tessaline", c)] - sums[("optbinning", c)]) / sums[("optbinning", c)]
        for c in data.columns
        if full[("optbinning", c)] >= WEAK
    ]
    print(
        f"tessaline's mean weighted IV against optbinning's: median difference "
        f"{np.median(gaps):.2%}, largest {max(gaps):.2%}"
    )
    ratio = spent["tessaline"] / spent["optbinning"]
    print(
        f"weighted fits of {len(data.columns)} columns x {samples} down-samples: tessaline "
        f"{spent['tessaline']:.2f} s, optbinning {spent['optbinning']:.2f} s, ratio {ratio:.3f}"
    )


if __name__ == "__main__":
    main()
