"""Multiclass optimal binning against optbinning's MulticlassOptimalBinning
under the same limits, in one process.

Realistic loans of four states (current, delinquent, default, prepaid)
drawn from a score, an income, a utilisation and an age, each column binned
by `tl.multiclass_binning` and by the peer with at most 8 bins, at least 5%
of the rows per bin and no trend (the peer's pre-bins hold at least 5% of
the rows each, so its bins do: its own limit on the bins' size fails with
the installed solver). Both binnings are then scored alike, on the rows, by
the Jensen-Shannon divergence of the classes' distributions over the bins
weighted by the classes' shares (the mutual information of bin and class)
and by the multiclass IV (each class's IV against the rest, summed), both
computed here with NumPy from each binning's bin index of every row; ours
maximising the divergence (objective="js") and the IV (the default). Prints
the ratios ours/theirs (at least 1) and the time ratio of the default fit.

    python bench/bench_multiclass.py [--rows 100000 1000000]
    python bench/bench_multiclass.py --engine   # in DuckDB vs pandas; weights vs repeated rows

In bench/run.py (run()): the four columns at each size against the peer;
the gates are a time ratio of at most 1 and a divergence at least the
peer's on every column.
"""

from __future__ import annotations

import argparse

import numpy as np
from common import Row, median_time, missed_ratios, unavailable

import tessaline as tl

MAX_BINS, MIN_SHARE = 8, 0.05
PEER = "optbinning MulticlassOptimalBinning"
# The largest acceptable time ratio ours / theirs, at every size.
TARGET = 1.0
STATES = np.array(["current", "delinquent", "default", "prepaid"])


def loans(n: int, seed: int = 0) -> tuple[dict[str, np.ndarray], np.ndarray]:
    """Loans and their states: risk rises with utilisation and falls with
    the score, income and age; prepayment rises with income."""
    rng = np.random.default_rng(seed)
    columns = {
        "score": np.round(rng.normal(640, 70, n)),
        "income": np.round(rng.lognormal(10.5, 0.6, n), -2),
        "utilisation": np.round(rng.beta(2, 3, n), 3),
        "age": rng.integers(19, 80, n).astype(np.float64),
    }
    risk = (
        (640 - columns["score"]) / 50
        + 3 * columns["utilisation"]
        - (columns["age"] - 45) / 40
        + rng.logistic(0, 1, n)
    )
    prepay = np.log(columns["income"]) - 10.5 + rng.logistic(0, 0.7, n)
    state = np.select([risk > 3.5, risk > 2.2, prepay > 1.0], [2, 1, 3], 0)
    return columns, STATES[state]


def divergences(index: np.ndarray, state: np.ndarray) -> tuple[float, float]:
    """The Jensen-Shannon divergence (nats) and the multiclass IV of any
    binning, from the bin index of each row, a zero count counting 0.5 in
    the IV as both libraries do."""
    _, bins = np.unique(index, return_inverse=True)
    _, classes = np.unique(state, return_inverse=True)
    counts = np.zeros((bins.max() + 1, classes.max() + 1))
    np.add.at(counts, (bins, classes), 1)
    total, rows, all_rows = counts.sum(axis=0), counts.sum(axis=1, keepdims=True), counts.sum()
    with np.errstate(divide="ignore", invalid="ignore"):
        js = np.where(counts > 0, counts / all_rows * np.log(counts / total / (rows / all_rows)), 0)
    event = np.where(counts > 0, counts, 0.5) / total
    rest = np.where(rows - counts > 0, rows - counts, 0.5) / (all_rows - total)
    iv = (event - rest) * np.log(event / rest)
    return float(js.sum()), float(iv.sum())


def ours(x: np.ndarray, state: np.ndarray, objective: str = "iv") -> tl.MulticlassBinningTable:
    return tl.multiclass_binning(
        x, state, max_bins=MAX_BINS, min_bin_share=MIN_SHARE, objective=objective
    )


def peer(x: np.ndarray, state: np.ndarray):  # type: ignore[no-untyped-def]
    from optbinning import MulticlassOptimalBinning

    model = MulticlassOptimalBinning(
        max_n_bins=MAX_BINS, min_prebin_size=MIN_SHARE, monotonic_trend=None
    )
    return model.fit(x, state)


def compared(n: int) -> tuple[list[Row], list[str]]:
    """Each column at `n` rows: its row of times, and a line for each column
    whose divergence falls short of the peer's."""
    columns, state = loans(n)
    rows, short = [], []
    for name, x in columns.items():
        repeat = 3 if n >= 1_000_000 else 5
        our_time = median_time(lambda: ours(x, state), repeat)
        try:
            peer(x[:10_000], state[:10_000])  # its import and compilation are no fit
            model = peer(x, state)
            their_time = median_time(lambda: peer(x, state), 1, warmup=0)
        except ImportError:
            rows.append(unavailable(f"multiclass_binning {name}", n, PEER, TARGET, "not installed"))
            continue
        js = divergences(ours(x, state, "js").transform(x, output="index"), state)[0]
        iv = divergences(ours(x, state).transform(x, output="index"), state)[1]
        their_js, their_iv = divergences(np.asarray(model.transform(x, metric="indices")), state)
        note = (
            f"JS {js:.5f} vs {their_js:.5f} ({js / their_js:.4f}), "
            f"IV {iv:.4f} vs {their_iv:.4f} ({iv / their_iv:.4f})"
        )
        rows.append(Row(f"multiclass_binning {name}", n, PEER, our_time, their_time, TARGET, note))
        for measure, mine, theirs in (("JS", js, their_js), ("IV", iv, their_iv)):
            if mine < theirs * (1 - 1e-12):
                short.append(
                    f"FAIL: multiclass_binning {name} at {n:,} rows: "
                    f"{measure} {mine:.6g} below the peer's {theirs:.6g}"
                )
    return rows, short


_SHORT: list[str] = []


def run(sizes: list[int]) -> list[Row]:
    rows = []
    for n in sizes:
        measured, short = compared(n)
        rows += measured
        _SHORT.extend(short)
    return rows


def missed_targets(rows: list[Row]) -> list[str]:
    """Time ratios above the target at any size, and divergences below the peer's."""
    return missed_ratios(rows, 0) + _SHORT


def engine_and_weights(n: int) -> None:
    """The whole table of loans fitted inside DuckDB against the pandas path
    (the table fetched into a DataFrame, then fitted locally), and a
    weighted fit (whole weights 1 to 3) against the fit of the rows
    repeated, each pair timed alternately in this process; both pairs give
    the same binning, which is checked."""
    import duckdb
    import pandas as pd

    from tessaline import engines

    columns, state = loans(n)
    frame = pd.DataFrame({**columns, "state": state})
    connection = duckdb.connect()
    connection.register("loaded", frame)
    connection.execute("CREATE TABLE loans AS SELECT * FROM loaded")
    connection.unregister("loaded")

    def in_engine() -> tl.MulticlassTableBinning:
        return engines.fit(tl.TableBinning(target="multiclass"), connection, "loans", "state")

    def through_pandas() -> tl.MulticlassTableBinning:
        fetched = connection.execute("SELECT * FROM loans").df()
        return tl.TableBinning(target="multiclass").fit(fetched, "state")

    assert in_engine().to_json() == through_pandas().to_json()
    engine_time, pandas_time = median_time(in_engine, 3), median_time(through_pandas, 3)
    print(
        f"engine fit {n:>9d} rows: DuckDB {engine_time:.3f}s, pandas path {pandas_time:.3f}s, "
        f"ratio {engine_time / pandas_time:.2f}"
    )
    weights = np.random.default_rng(1).integers(1, 4, n).astype(np.float64)
    repeated = frame.iloc[np.repeat(np.arange(n), weights.astype(int))]

    def weighted() -> tl.MulticlassTableBinning:
        return tl.TableBinning(target="multiclass").fit(frame, "state", sample_weight=weights)

    def of_repeated() -> tl.MulticlassTableBinning:
        return tl.TableBinning(target="multiclass").fit(repeated, "state")

    assert weighted().tables["score"].to_json() == of_repeated().tables["score"].to_json()
    weighted_time, repeated_time = median_time(weighted, 3), median_time(of_repeated, 3)
    print(
        f"weighted fit {n:>9d} rows: weights {weighted_time:.3f}s, rows repeated "
        f"({repeated.shape[0]:,}) {repeated_time:.3f}s, ratio {weighted_time / repeated_time:.2f}"
    )


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, nargs="+", default=[100_000, 1_000_000])
    parser.add_argument(
        "--engine", action="store_true", help="time the DuckDB and weighted fits instead"
    )
    args = parser.parse_args()
    if args.engine:
        for n in args.rows:
            engine_and_weights(n)
        return
    for n in args.rows:
        measured, short = compared(n)
        for row in measured:
            ratio = f"{row.ratio:.3f}" if row.ratio is not None else "n/a"
            print(f"{row.function:32s} {n:>9d} rows: ours/theirs time {ratio}; {row.note}")
        print("\n".join(short) or f"{n} rows: divergence at least the peer's on every column")


if __name__ == "__main__":
    main()
