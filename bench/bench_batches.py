"""TableBinning.partial_fit over ten batches against one fit of the same rows,
in one process, the two timed back to back.

The table is bench_table's credit frame cut to 4 numeric columns of about
as many distinct values as rows and 2 categorical ones, so that the ten
batches, each followed by its fit, run in the quick run's time. The target
is enforced from 1e6 rows on what a user waits for: ten batches and the
first read of their fit, where the bins are searched, within BATCH_TARGET
times one fit (their result is that fit's, bit for bit: checked before the
timing). A first row, without a target, shows the batches alone.

    python bench/bench_batches.py [--quick]
"""

from __future__ import annotations

import numpy as np
from bench_table import credit_frame
from common import Row, back_to_back, missed_ratios, report, sizes_from_args

import tessaline as tl

BATCHES = 10
BATCH_TARGET = 1.5
ENFORCED_FROM_ROWS = 1_000_000
PARTIAL = "TableBinning.partial_fit x10"
READ = "partial_fit x10, then read"
ONE_FIT = "one fit of the rows"


def in_batches(frame, y: np.ndarray) -> tl.TableBinning:  # type: ignore[no-untyped-def]
    binning = tl.TableBinning(min_iv=0.0)
    for rows in np.array_split(np.arange(y.size), BATCHES):
        binning.partial_fit(frame.iloc[rows], y[rows])
    return binning


def read(binning: tl.TableBinning) -> tl.TableBinning:
    """The binning after the first read of its fit."""
    binning.tables  # noqa: B018 - the read searches the bins
    return binning


def documents(binning: tl.TableBinning) -> dict[str, str]:
    return {name: table.to_json() for name, table in binning.tables.items()}


def run(sizes: list[int]) -> list[Row]:
    rows = []
    for n in sizes:
        frame, y = credit_frame(n, n_numeric=4, n_categorical=2)
        # Medians of seven: of three, one slow call of either moved the ratio by a third.
        repeat = 7 if n >= ENFORCED_FROM_ROWS else 9

        def fit() -> tl.TableBinning:
            return tl.TableBinning(min_iv=0.0).fit(frame, y)

        if documents(in_batches(frame, y)) != documents(fit()):
            raise SystemExit(f"FAIL: the batches' tables differ from one fit's at {n:,} rows")
        ours, one = back_to_back(lambda: in_batches(frame, y), fit, repeat)
        rows.append(Row(PARTIAL, n, ONE_FIT, ours, one))
        ours, one = back_to_back(lambda: read(in_batches(frame, y)), fit, repeat)
        rows.append(Row(READ, n, ONE_FIT, ours, one, BATCH_TARGET))
    return rows


def missed_targets(rows: list[Row]) -> list[str]:
    """What misses its target from ENFORCED_FROM_ROWS on, as lines to print."""
    return missed_ratios(rows, ENFORCED_FROM_ROWS)


def main() -> None:
    rows = run(sizes_from_args())
    report(rows, missed_targets(rows), f"ok: within {BATCH_TARGET:g} fits from 1e6 rows on")


if __name__ == "__main__":
    main()
