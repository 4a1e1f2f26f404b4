"""What the page shows, as JSON-ready dicts built from the package's own
tables: the ranking of the columns, one column's rows, chart and edit log.
Every number is the package's (counts, event rates, and the printed cells
of `BinningTable.rows`); the page only draws and lays them out."""

from __future__ import annotations

import itertools
import math
from typing import Any

import numpy as np

from .._binning.bin_rows import pooled_label
from .._binning.binning_table import BinningTable
from .._binning.edit_log import EDIT_HEADER, trend_of
from .._core import printing
from .._table_binning import TableBinning

# The most cut points the page offers inside one bin for a click or a drag
# (evenly spread over the bin's distinct values); a typed value may be any.
CANDIDATES_PER_BIN = 48


def summary_view(binning: TableBinning) -> list[dict[str, Any]]:
    """The columns by descending information value, as the summary ranks
    them: IV, Gini and bins as printed, whether the selection keeps the
    column and whether it was edited; skipped columns last, with the reason."""
    return [
        {
            "column": row.column,
            "kind": row.kind,
            "iv": printing.fixed(row.iv, 4),
            "gini": printing.fixed(row.gini, 3),
            "bins": row.bins,
            "keep": row.keep,
            "edited": row.column in binning.tables and bool(binning.tables[row.column].edits),
            "skipped": row.reason,
            "note": row.note,
        }
        for row in binning.summary
    ]


def _finite(value: float) -> float | None:
    return float(value) if math.isfinite(value) else None


def candidate_cuts(table: BinningTable) -> list[list[dict[str, Any]]]:
    """Per bin of a numeric table, the cut points a click or a drag may
    choose inside it: its distinct values but the largest (a cut there would
    leave the upper part empty), at most `CANDIDATES_PER_BIN` of them."""
    if table.basis is None or table.basis.not_kept:
        return [[] for _ in range(table.n_bins)]
    values = table.basis.value
    values = values[np.isfinite(values)]
    edges = np.concatenate(([-math.inf], table.splits, [math.inf]))
    per_bin = []
    for lo, hi in itertools.pairwise(edges):
        inside = values[(values > lo) & (values <= hi)][:-1]
        if inside.size > CANDIDATES_PER_BIN:
            picks = np.linspace(0, inside.size - 1, CANDIDATES_PER_BIN).round().astype(np.intp)
            inside = inside[np.unique(picks)]
        per_bin.append([{"value": float(v), "text": printing.number(float(v))} for v in inside])
    return per_bin


def column_view(table: BinningTable) -> dict[str, Any]:
    """One column's table: its title, header and printed rows, the numbers
    of its chart (each row's count and event rate), its cut points or groups
    of categories, and its edit log."""
    n_bins = table.n_bins
    counts = np.asarray(table["count"])
    rates = np.asarray(table["event_rate"])
    cells = table.rows()
    kinds = ["bin"] * n_bins + ["special"] * len(table.special_values)
    kinds += ["missing"] * int(table.has_missing_row)
    view: dict[str, Any] = {
        "column": table.name,
        "kind": table.kind,
        "title": table.title(),
        "iv": printing.fixed(table.information_value, 4),
        "gini": printing.fixed(table.gini, 3),
        "trend": trend_of(rates[:n_bins]),
        "n_bins": n_bins,
        "header": list(table.header),
        "rows": cells,
        "bars": [
            {
                "label": label,
                "row": kind,
                "count": float(count) if table.weighted else int(count),
                "event_rate": _finite(rate),
                "share": row[3],
                "event_rate_text": row[6],
                "woe": row[7],
            }
            for label, kind, count, rate, row in zip(table.labels, kinds, counts, rates, cells)
        ],
        "log_header": list(EDIT_HEADER),
        "log": [edit.cells() for edit in table.edits],
    }
    if table.bin_categories is None:
        view["cuts"] = [
            {"value": float(c), "text": printing.number(float(c))} for c in table.splits
        ]
        view["candidates"] = candidate_cuts(table)
        view["special_values"] = [
            {"value": v, "text": printing.number(v)} for v in table.special_values
        ]
    else:
        view["groups"] = [
            {
                "categories": list(names),
                "pooled": pooled_label(table.pooled_categories) if b == table.pooled_bin else None,
            }
            for b, names in enumerate(table.bin_categories)
        ]
        view["pooled_categories"] = list(table.pooled_categories)
    return view
