"""An analyst's bin edit against refitting from the rows, in one process.

A table keeps its rows counted by distinct value, so an edit rebuilds it from
those counts: its time grows with the distinct values, not the rows. On N rows
of a score with a few hundred distinct values (plus a special code and
missing values), each edit is timed against the fit from the rows that gives
the same table (`custom_binning` at the edited cuts, `optimal_binning` for a
re-optimisation around a fixed cut); prints both times, the ratio (target:
the edit at most 1/100 of the refit at 1e7 rows) and the edit's time per
distinct value (target: well under a millisecond).

    python bench/bench_edits.py [--rows 10000000]
"""

from __future__ import annotations

import argparse
import warnings

import numpy as np
from common import FULL_SIZES, Row, compare, format_table, table_lines

import tessaline as tl

TARGET = 0.01


def score_rows(n: int, seed: int = 3) -> tuple[np.ndarray, np.ndarray]:
    rng = np.random.default_rng(seed)
    x = np.round(rng.normal(600, 80, n))
    y = (rng.random(n) < 1 / (1 + np.exp((x - 560) / 40))).astype(np.float64)
    x[rng.random(n) < 0.02] = -999.0
    x[rng.random(n) < 0.01] = np.nan
    return x, y


def run(sizes: list[int]) -> list[Row]:
    rows = []
    for n in sizes:
        x, y = score_rows(n)
        table = tl.optimal_binning(x, y, special_values=[-999])
        cut = float(table.splits[len(table.splits) // 2])
        merged = table.remove_cut(cut)
        fixed = table.with_cuts([600.5], fixed=True)
        cases = [
            (
                "edit: merge two bins",
                lambda: table.remove_cut(cut),
                lambda: tl.custom_binning(x, y, merged.splits, special_values=[-999]),
            ),
            (
                "edit: fixed cut, rest re-optimised",
                lambda: table.with_cuts([600.5], fixed=True),
                lambda: tl.optimal_binning(x, y, special_values=[-999]),
            ),
        ]
        for label, ours, theirs in cases:
            rows.append(
                compare(
                    label,
                    n,
                    "refit from rows",
                    ours,
                    theirs,
                    target=TARGET if n >= 10_000_000 else None,
                )
            )
        assert fixed.n_bins >= 1 and merged.n_bins == table.n_bins - 1
    return rows


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rows", type=int, default=FULL_SIZES[-1])
    n = parser.parse_args().rows
    warnings.simplefilter("ignore", tl.TrendWarning)
    rows = run([n])
    distinct = tl.optimal_binning(*score_rows(n), special_values=[-999]).basis.value.size
    print(
        format_table(
            ("function", "rows", "against", "edit", "refit", "ratio", "target", "met"),
            table_lines(rows),
        )
    )
    for row in rows:
        print(
            f"{row.function}: {row.ours * 1e6 / distinct:.2f} us per distinct value "
            f"({distinct} distinct values), {1 / row.ratio:.0f} times faster than the refit"
        )


if __name__ == "__main__":
    main()
