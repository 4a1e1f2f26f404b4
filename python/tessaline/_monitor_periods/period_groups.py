"""The counts of a period from rows grouped where the data live: an engine
(SQL or Spark) groups each period's rows by (score, event flag) and by the
bin of every variable, and only those groups reach the client. The score
bands, the labelled rows per distinct score and the bins are then laid out
here exactly as `count_period` lays out the rows themselves, so the result
is bit for bit the local one."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import native
from .._counting import not_zero_one
from .._monitoring import _chronological
from .._scorecard import Scorecard
from .._table_binning import TableBinning
from .counts import IntArray, Layout, PeriodCounts, layout_of

FloatArray = npt.NDArray[np.float64]

# The group position of the (score, flag) groups; a variable's groups are
# at its position among the layout's variables.
SCORE_GROUPS = -1


@dataclass(frozen=True)
class GroupedPeriod:
    """One period's groups: ``score``/``flag``/``rows``, the rows per
    distinct (score, event flag), NaN for a missing score or an outcome not
    known; ``bins[name]``, rows per row of the variable's table, missing
    values last."""

    score: FloatArray
    flag: FloatArray
    rows: IntArray
    bins: dict[str, IntArray]


def grouped_periods(
    groups: Sequence[tuple[Any, int, Any, Any, int]], layout: Layout, target: str | None
) -> dict[Any, GroupedPeriod]:
    """The groups of every period from the rows (period key, group position,
    score, flag or bin index, rows) an engine gave, a bin index of -1 (no
    bin) counted as missing."""
    by_period: dict[Any, list[tuple[int, Any, Any, int]]] = {}
    for key, c, x, k, n in groups:
        by_period.setdefault(key, []).append((int(c), x, k, int(n)))
    out = {}
    for key, found in by_period.items():
        scored = [(x, k, n) for c, x, k, n in found if c == SCORE_GROUPS]
        score = np.array([np.nan if x is None else x for x, _, _ in scored], dtype=np.float64)
        flag = np.array([np.nan if k is None else k for _, k, _ in scored], dtype=np.float64)
        if target is not None and np.any(~np.isnan(flag) & (flag != 0.0) & (flag != 1.0)):
            raise not_zero_one(target)
        bins = {}
        for i, name in enumerate(layout.variables):
            slots = len(layout.labels[name])
            per_slot = np.zeros(slots, dtype=np.int64)
            for c, _, k, n in found:
                if c == i:
                    per_slot[slots - 1 if k is None or int(k) < 0 else int(k)] += n
            bins[name] = per_slot
        rows = np.array([n for _, _, n in scored], dtype=np.int64)
        out[key] = GroupedPeriod(score, flag, rows, bins)
    return out


def reference_cuts(groups: GroupedPeriod, score_bands: int) -> tuple[float, ...]:
    """The `score_bands` quantiles of a period's scores, as `layout_of`
    takes them from its rows: the distinct scores repeated by their rows
    (the quantile rule reads sorted rows, and so holds one double a row of
    this period in the client while it runs)."""
    finite = np.isfinite(groups.score)
    scores = np.sort(np.repeat(groups.score[finite], groups.rows[finite]))
    if scores.size == 0:
        raise ValueError("the reference sample has no row with a score to cut into bands")
    cuts = native.binning_splits(scores, method="quantile", n_bins=score_bands)
    return tuple(float(c) for c in cuts)


def period_counts(groups: GroupedPeriod, layout: Layout, labelled: bool) -> PeriodCounts:
    """The counts of a period from its groups (see `count_period`); with
    `labelled` False, no outcome is known."""
    if layout.score_cuts is None:
        return PeriodCounts(np.empty(0, dtype=np.int64), groups.bins)
    n_bands = len(layout.score_cuts) + 2
    band = native.binning_transform(groups.score, np.asarray(layout.score_cuts))
    bands = np.zeros(n_bands, dtype=np.int64)
    np.add.at(bands, np.where(band < 0, n_bands - 1, band), groups.rows)
    total = int(groups.rows.sum())
    if not labelled:
        return PeriodCounts(bands, groups.bins, unknown=total)
    known = ~np.isnan(groups.flag) & np.isfinite(groups.score)
    value, flag, rows = groups.score[known], groups.flag[known], groups.rows[known]
    merged = native.merge_value_counts(
        value, np.where(flag == 0.0, rows, 0), np.where(flag == 1.0, rows, 0)
    )
    c0 = np.asarray(merged["c0"], dtype=np.int64)
    c1 = np.asarray(merged["c1"], dtype=np.int64)
    return PeriodCounts(
        bands,
        groups.bins,
        np.asarray(merged["value"], dtype=np.float64),
        c0,
        c1,
        total - int(c0.sum() + c1.sum()),
    )


def month_label(month: int, frequency: str) -> str:
    """The label of a month counted from year 0 (year × 12 + month - 1), or
    of its quarter, as local monitoring names them ("2024-01", "2024-Q1")."""
    if frequency == "month":
        return f"{month // 12:04d}-{month % 12 + 1:02d}"
    quarter = (month - 1970 * 12) // 3
    return f"{1970 + quarter // 4}-Q{quarter % 4 + 1}"


def labelled_periods(
    groups: dict[Any, GroupedPeriod], frequency: str | None
) -> dict[str, GroupedPeriod]:
    """The groups of every period by its label, in time order: the months
    (or quarters, their months' groups together) of month keys, else the
    keys' text, in ascending order where it names no date (a table keeps no
    order of its rows to follow)."""
    if frequency is None:
        order = _chronological(sorted(groups, key=lambda v: (v is None, str(v))))
        return {str(k): groups[k] for k in order}
    if None in groups:
        raise ValueError("the period column has rows without a date")
    out: dict[str, GroupedPeriod] = {}
    for month, g in sorted(groups.items()):
        label = month_label(int(month), frequency)
        if label in out:
            was = out[label]
            g = GroupedPeriod(
                np.concatenate([was.score, g.score]),
                np.concatenate([was.flag, g.flag]),
                np.concatenate([was.rows, g.rows]),
                {k: v + g.bins[k] for k, v in was.bins.items()},
            )
        out[label] = g
    return out


def laid_out(
    model: Scorecard | TableBinning,
    layout: Layout | None,
    periods: dict[str, GroupedPeriod],
    reference_period: str | None,
    score_bands: int,
    labelled: bool,
) -> tuple[Layout, dict[str, PeriodCounts]]:
    """The layout (without one given, that of the bands of the period
    `reference_period`) and the counts of every period."""
    if layout is None:
        if str(reference_period) not in periods:
            raise ValueError(
                f"reference_period {reference_period!r} is none of the periods: "
                f"{', '.join(periods)}"
            )
        cuts = reference_cuts(periods[str(reference_period)], score_bands)
        layout = layout_of(model, None, score_bands, cuts=cuts)
    return layout, {k: period_counts(g, layout, labelled) for k, g in periods.items()}


__all__ = [
    "GroupedPeriod",
    "grouped_periods",
    "labelled_periods",
    "laid_out",
    "month_label",
    "period_counts",
    "reference_cuts",
]
