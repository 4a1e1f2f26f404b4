"""What an edit of a fitted table needs of the rows it was built from, so that
it never reads them again: the labelled rows counted by distinct value (or
category), and the rows of a table rebuilt from those counts with other cut
points, groups or special values. A table rebuilt here is, bit for bit, the
one a fresh fit with the same cut points (`custom_binning`) or groups
(`grouped_binning`) gives on the rows: the counts path of the core rebuilds
every summary exactly. No numerics here: the summaries are the core's."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import native
from .._core.categories import OTHER
from .special import with_special_counts

Counts = dict[str, npt.NDArray[Any]]
# The most distinct values whose counts a table keeps (24 bytes each, so a few
# megabytes per column, in memory and in a pickle); a column of more, such as
# an unrounded score, keeps none and cannot be edited.
MAX_KEPT_VALUES = 200_000


@dataclass(frozen=True, eq=False)  # arrays: compared by what they hold, not by ==
class EditBasis:
    """The labelled rows of a table outside its special-value and
    missing-value rows (those rows' counts are the table's own): for a numeric
    table (value, c0, c1) by ascending distinct value, infinite values
    included; for a categorical one the (c0, c1) of each category of `names`
    (ascending), the pooled ones included. `representative` is how the rows
    of an interval were summarised; `limits` are the limits of the fit's
    search, which a re-optimisation around fixed cuts keeps. A table fitted
    with sample weights keeps weights in c0 and c1 (floats) and the records
    behind them in `rows`."""

    c0: npt.NDArray[Any]
    c1: npt.NDArray[Any]
    value: npt.NDArray[np.float64] = field(default_factory=lambda: np.empty(0))
    names: tuple[str, ...] = ()
    representative: str = "median"
    limits: Mapping[str, Any] = field(default_factory=dict)
    # Of a column whose counts were not kept, its distinct values or (when
    # counted from rows, which stops past the limit) MAX_KEPT_VALUES + 1: more
    # than the limit either way; 0 when they were kept.
    not_kept: int = 0
    rows: npt.NDArray[np.int64] | None = None

    @property
    def counts(self) -> Counts:
        counts = {"value": self.value, "c0": self.c0, "c1": self.c1}
        return counts if self.rows is None else {**counts, "rows": self.rows}


def numeric_basis(
    counts: Mapping[str, Any],
    representative: str,
    limits: Mapping[str, Any] | None = None,
    owned: bool = False,
) -> EditBasis:
    """The basis of a numeric table from its searched rows counted by value;
    `owned` counts (arrays nothing else holds, fresh from the core) are kept
    as they are, read-only, others are copied."""
    distinct = len(counts["value"])
    if distinct > MAX_KEPT_VALUES:
        return EditBasis(c0=_frozen((), np.int64), c1=_frozen((), np.int64), not_kept=distinct)
    dtype = np.int64 if "rows" not in counts else np.float64
    keep = _held if owned else _frozen
    return EditBasis(
        c0=keep(counts["c0"], dtype),
        c1=keep(counts["c1"], dtype),
        value=keep(counts["value"], np.float64),
        representative=representative,
        limits=dict(limits or {}),
        rows=_frozen(counts["rows"], np.int64) if "rows" in counts else None,
    )


def rows_basis(
    x: npt.NDArray[np.float64],
    labels: npt.NDArray[np.int32],
    representative: str,
    limits: Mapping[str, Any] | None = None,
) -> EditBasis:
    """The basis of a numeric table from its searched rows with their labels.
    They are counted only when they hold few enough distinct values to be
    kept, which a column of mostly distinct values shows long before a sort
    of all its rows would: the fit's own work stays the only pass that costs."""
    counts = native.count_values_at_most(x, labels, MAX_KEPT_VALUES)
    if counts is None:
        empty = _frozen((), np.int64)
        return EditBasis(c0=empty, c1=empty, not_kept=MAX_KEPT_VALUES + 1)
    return numeric_basis(counts, representative, limits)


def category_basis(names: Sequence[str], c0: Any, c1: Any, rows: Any = None) -> EditBasis:
    """The basis of a categorical table from the counts of each category
    (weights, with the records `rows`, of a weighted table)."""
    dtype = np.int64 if rows is None else np.float64
    return EditBasis(
        c0=_frozen(c0, dtype),
        c1=_frozen(c1, dtype),
        names=tuple(names),
        rows=None if rows is None else _frozen(rows, np.int64),
    )


def _frozen(values: Any, dtype: type) -> npt.NDArray[Any]:
    array: npt.NDArray[Any] = np.array(values, dtype=dtype)
    array.setflags(write=False)
    return array


def _held(values: Any, dtype: type) -> npt.NDArray[Any]:
    """`values` themselves, read-only, when they are an array of `dtype`."""
    array: npt.NDArray[Any] = np.asarray(values, dtype=dtype)
    array.setflags(write=False)
    return array


# -- numeric tables ------------------------------------------------------------------
def without_value(basis: EditBasis, code: float) -> tuple[EditBasis, tuple[Any, ...]]:
    """The basis without the rows of `code`, and their non-events and events
    (and records, of a weighted basis)."""
    at = basis.value == code
    kept = {k: v[~at] for k, v in basis.counts.items()}
    held = [basis.c0, basis.c1] + ([] if basis.rows is None else [basis.rows])
    taken = tuple(c[at].sum().item() for c in held)
    return numeric_basis(kept, basis.representative, basis.limits), taken


def with_value(basis: EditBasis, code: float, c0: Any, c1: Any, rows: int = 0) -> EditBasis:
    """The basis with `c0` non-events and `c1` events more at `code` (and
    `rows` records, of a weighted basis)."""
    if c0 + c1 == 0:
        return basis
    value, a, b = (
        np.append(x, v) for x, v in ((basis.value, code), (basis.c0, c0), (basis.c1, c1))
    )
    if basis.rows is None:
        merged = native.merge_value_counts(value, a, b)
    else:
        merged = native.merge_weighted_counts(value, a, b, np.append(basis.rows, rows))
    return numeric_basis(merged, basis.representative, basis.limits)


def interval_summary(
    basis: EditBasis,
    cuts: npt.ArrayLike,
    specials: Sequence[float],
    special_counts: Sequence[tuple[Any, ...]],
    missing: tuple[Any, ...],
) -> dict[str, npt.NDArray[Any]]:
    """The rows of a numeric table at `cuts`: the intervals, one row per
    special value with its counts, then the missing-value row. Of a weighted
    basis, each count is (non-events, events, records)."""
    summary = native.summary_from_counts(
        basis.counts,
        missing_c0=missing[0],
        missing_c1=missing[1],
        missing_rows=missing[2] if basis.rows is not None else 0,
        splits=np.asarray(cuts, dtype=np.float64),
        representative=basis.representative,
    )
    if not specials:
        return summary
    return with_special_counts(
        summary,
        specials,
        [c[0] for c in special_counts],
        [c[1] for c in special_counts],
        None if basis.rows is None else [c[2] for c in special_counts],
    )


# -- categorical tables --------------------------------------------------------------
def group_summary(
    names: Sequence[str],
    c0: npt.NDArray[Any],
    c1: npt.NDArray[Any],
    bins: Sequence[Sequence[str | None]],
    pooled: Sequence[str],
    missing: tuple[Any, Any],
    records: tuple[npt.NDArray[np.int64], int] | None = None,
) -> tuple[dict[str, npt.NDArray[Any]], list[tuple[str, ...]], int | None]:
    """The rows of a categorical table whose bins hold the groups of `bins`:
    a category's name, or None for the pooled group (the `pooled`
    categories, and unseen ones at `transform`); the categories of each row;
    and the row of the pooled group (None without one). The groups are in
    ascending event-rate order, equal rates by name (the pooled group as
    "other", after a real "other"), each bin's groups in that order and the
    bins by ascending event rate, equal rates by their first group; a bin's
    edges are its positions in that order, cut halfway between two groups.
    With `records` (the records of each category and of the missing values)
    the counts are weights, and the rows get their records."""
    at = {name: i for i, name in enumerate(names)}
    pooled_at = [at[n] for n in pooled]
    dtype = np.int64 if records is None else np.float64
    held = [c0, c1] if records is None else [c0, c1, records[0]]

    def counts_of(group: str | None) -> tuple[Any, ...]:
        rows = pooled_at if group is None else [at[group]]
        return tuple(c[rows].sum().item() for c in held)

    groups = sorted({g for b in bins for g in b}, key=group_key)
    count = {g: counts_of(g) for g in groups}
    g0, g1 = (np.array([count[g][k] for g in groups], dtype=dtype) for k in (0, 1))
    rank = {groups[i]: r for r, i in enumerate(_rate_order(g0, g1))}
    members = sorted((sorted(b, key=rank.__getitem__) for b in bins), key=lambda b: rank[b[0]])
    b0, b1 = (np.array([sum(count[g][k] for g in b) for b in members], dtype=dtype) for k in (0, 1))
    order = _rate_order(b0, b1)
    ordered = [members[i] for i in order]
    sizes = np.array([len(b) for b in ordered], dtype=np.int64)
    last = np.cumsum(sizes) - 1
    first = last - sizes + 1
    intervals = {
        "left": np.where(first > 0, first - 0.5, -np.inf),
        "right": np.where(last < len(groups) - 1, last + 0.5, np.inf),
        "c0": b0[order],
        "c1": b1[order],
    }
    if records is not None:
        counted = np.array([sum(count[g][2] for g in b) for b in members], dtype=np.int64)
        intervals["rows"] = counted[order]
    pooled_bin = next((b for b, members in enumerate(ordered) if None in members), None)
    return (
        _with_missing(intervals, missing, None if records is None else records[1]),
        [tuple(g for g in b if g is not None) for b in ordered],
        pooled_bin,
    )


def group_key(group: str | None) -> tuple[str, int]:
    """The name order of groups: the pooled group (None) sorts as "other",
    after a real category of that name."""
    return (OTHER, 1) if group is None else (group, 0)


def _rate_order(c0: npt.NDArray[Any], c1: npt.NDArray[Any]) -> npt.NDArray[np.int64]:
    """Positions by ascending event rate, equal rates (and empty ones, last)
    in their given order."""
    held = native.event_rate_order(c0, c1)
    empty = np.flatnonzero((np.asarray(c0) + np.asarray(c1)) == 0)
    return np.concatenate((held, empty)).astype(np.int64)


def _with_missing(
    intervals: Mapping[str, Any], missing: tuple[Any, Any], missing_rows: int | None = None
) -> dict[str, npt.NDArray[Any]]:
    """The rows of a categorical table from its bins' edges and counts, closed
    by the missing-value row when there are such rows; shares over all rows.
    A bin's representative would be its position in the event-rate order,
    which means nothing to a reader: left out. With `missing_rows` the
    counts are weights and the intervals hold their "rows"."""
    extra = 1 if sum(missing) else 0
    dtype = np.int64 if missing_rows is None else np.float64
    c0 = np.append(np.asarray(intervals["c0"], dtype=dtype), [missing[0]] * extra)
    c1 = np.append(np.asarray(intervals["c1"], dtype=dtype), [missing[1]] * extra)
    count = c0 + c1
    total = count.sum()
    weighted = (
        {}
        if missing_rows is None
        else {"rows": np.append(intervals["rows"], [missing_rows] * extra).astype(np.int64)}
    )
    return {
        **weighted,
        "left": np.append(intervals["left"], [np.nan] * extra),
        "right": np.append(intervals["right"], [np.nan] * extra),
        "count": count,
        "percentage": count / total if total else np.zeros(count.size),
        "c0": c0,
        "c1": c1,
        "event_rate": c1 / np.maximum(count, 1),
        "representative": np.full(count.size, np.nan),
    }
