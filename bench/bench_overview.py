"""The data overview of a wide table against the analyst's pandas route:
per column ``describe()`` (with the same percentiles), ``nunique()`` and
``value_counts()`` (its top five), on the same frame, timed back to back.

The table has 100 columns: 40 of continuous numbers (as many distinct
values as rows, 5% missing), 30 of integers of few values, 20 of text
categories (missing among them) and 10 of booleans. The target is enforced
from 1e6 rows: the overview at most OVERVIEW_TARGET times the pandas route
(at least twice as fast).

    python bench/bench_overview.py [--quick]
"""

from __future__ import annotations

import numpy as np
import pandas as pd
from common import Row, back_to_back, missed_ratios, report, sizes_from_args

import tessaline as tl

OVERVIEW_TARGET = 0.5
ENFORCED_FROM_ROWS = 1_000_000
PERCENTILES = [0.01, 0.05, 0.25, 0.5, 0.75, 0.95, 0.99]


def wide_frame(n: int, seed: int = 0) -> pd.DataFrame:
    rng = np.random.default_rng(seed)
    columns: dict[str, object] = {}
    for j in range(40):
        x = rng.lognormal(8, 1, n)
        x[rng.random(n) < 0.05] = np.nan
        columns[f"amount{j}"] = x
    for j in range(30):
        columns[f"count{j}"] = rng.integers(0, 12, n)
    words = np.array(["car", "home", "tv", "repairs", "education", "business", "other"], object)
    for j in range(20):
        text = words[rng.integers(0, words.size, n)]
        text[rng.random(n) < 0.02] = None
        columns[f"purpose{j}"] = text
    for j in range(10):
        columns[f"flag{j}"] = rng.random(n) < 0.3
    return pd.DataFrame(columns)


def pandas_route(frame: pd.DataFrame) -> list[object]:
    out: list[object] = []
    for name in frame.columns:
        column = frame[name]
        out.append((column.describe(percentiles=PERCENTILES), column.nunique()))
        out.append(column.value_counts().head(5))
    return out


def run(sizes: list[int]) -> list[Row]:
    rows = []
    for n in sizes:
        frame = wide_frame(n)
        repeat = 3 if n >= ENFORCED_FROM_ROWS else 5
        ours, theirs = back_to_back(lambda: tl.overview(frame), lambda: pandas_route(frame), repeat)
        rows.append(
            Row(
                "overview, 100 columns",
                n,
                "pandas describe+nunique+value_counts",
                ours,
                theirs,
                OVERVIEW_TARGET,
            )
        )
    return rows


def missed_targets(rows: list[Row]) -> list[str]:
    """What misses its target from ENFORCED_FROM_ROWS on, as lines to print."""
    return missed_ratios(rows, ENFORCED_FROM_ROWS)


def main() -> None:
    rows = run(sizes_from_args())
    for r in rows:
        if r.ratio is not None:
            print(f"overview at {r.rows:,} rows: {1 / r.ratio:.1f} times faster than pandas")
    report(rows, missed_targets(rows), "ok: at least twice as fast as pandas from 1e6 rows on")


if __name__ == "__main__":
    main()
