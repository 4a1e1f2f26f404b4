"""Counts of a table's rows that merge across batches: for each column, one
entry per distinct value (numbers, NaN for the missing ones) or category
name (None for the missing ones) with its rows, rows of known target and
events (with sample weights: the records of positive weight, and the exact
weight of the rows, of the non-events and of the events). Merging two batches adds
the counts of equal keys, so the memory held is that of the distinct values,
never of the rows, and the merged counts of every batch are those of all the
rows together."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import categories, native
from .._core.arrays import FloatArray
from .column_counts import CategoryCounts, ColumnCounts, category_counts

Counts = npt.NDArray[np.int64]


@dataclass(frozen=True)
class ExactWeights:
    """Per key, the few partials whose exact sum is its weight: key i's are
    terms[offsets[i]:offsets[i + 1]]. Adding partials loses nothing, so the
    weights of all the batches are those of one pass over their rows,
    whatever the order or the split of the rows."""

    terms: FloatArray
    offsets: Counts

    def sums(self) -> FloatArray:
        """Each key's weight: its exact sum, rounded once."""
        return native.exact_sums(self.terms, self.offsets)


@dataclass(frozen=True)
class Groups:
    """One column's counts by key (float64 values, or an object array of
    category names), each key once; with weights, those of the rows, of the
    non-events and of the events."""

    keys: npt.NDArray[Any]
    rows: Counts
    known: Counts
    ones: Counts
    weights: tuple[ExactWeights, ExactWeights, ExactWeights] | None = None


def _regrouped(weights: ExactWeights, inverse: Counts, size: int) -> ExactWeights:
    """The partials of the groups of `weights` gathered by new key `inverse`
    (one per group) and reduced to the partials of each new key's sum."""
    lengths = np.diff(weights.offsets)
    order = np.argsort(inverse, kind="stable")
    starts, spans = weights.offsets[:-1][order], lengths[order]
    # Every term of the groups in their new order, group after group.
    shifted = np.repeat(starts - (np.cumsum(spans) - spans), spans)
    terms = weights.terms[np.arange(int(spans.sum()), dtype=np.int64) + shifted]
    counted = np.bincount(inverse, weights=lengths, minlength=size).astype(np.int64)
    offsets = np.concatenate(([0], np.cumsum(counted))).astype(np.int64)
    return ExactWeights(*native.exact_partials(terms, offsets))


def _grouping(keys: npt.NDArray[Any]) -> tuple[npt.NDArray[Any], Counts]:
    """The distinct keys (NaN one key, as None is) and each key's place among
    them. Numbers come out ascending: a stable sort merges the ascending runs
    of keys already grouped in one pass, so merging batches sorts nothing
    again. Category names keep their first order (they are few)."""
    if keys.dtype == object:
        order: dict[Any, int] = {}
        inverse = np.array([order.setdefault(k, len(order)) for k in keys.tolist()], dtype=np.int64)
        return np.array(list(order), dtype=object), inverse
    ranked = np.argsort(keys, kind="stable")
    ordered = keys[ranked]
    starts = np.ones(ordered.size, dtype=bool)
    missing = np.isnan(ordered)
    starts[1:] = (ordered[1:] != ordered[:-1]) & ~(missing[1:] & missing[:-1])
    inverse = np.empty(ordered.size, dtype=np.int64)
    inverse[ranked] = np.cumsum(starts) - 1
    return ordered[starts], inverse


def _summed(
    grouping: tuple[npt.NDArray[Any], Counts],
    rows: Counts,
    known: Counts,
    ones: Counts,
    weights: tuple[ExactWeights, ...] | None = None,
) -> Groups:
    """The counts of the entries of each key (`grouping`: the keys and each
    entry's place among them) added up, the weights exactly."""
    unique, inverse = grouping
    # Counts of rows add up exactly in doubles (below 2^53).
    sums = [
        np.bincount(inverse, weights=c, minlength=unique.size).astype(np.int64)
        for c in (rows, known, ones)
    ]
    summed = None
    if weights is not None:
        a, b, c = (_regrouped(w, inverse, unique.size) for w in weights)
        summed = (a, b, c)
    return Groups(unique, sums[0], sums[1], sums[2], weights=summed)


def _category_grouping(column: categories.Encoded) -> tuple[npt.NDArray[Any], Counts]:
    """The names present in a batch (None for a missing one) and each row's
    place among them, from the codes alone."""
    codes = column.codes.astype(np.int64) + 1
    present = np.flatnonzero(np.bincount(codes, minlength=len(column.names) + 1))
    names = np.array([None, *column.names], dtype=object)
    return names[present], np.searchsorted(present, codes)


def batch_groups(
    column: FloatArray | categories.Encoded, flags: FloatArray, weights: FloatArray | None = None
) -> Groups:
    """One batch's counts of a column, given as float64 values or encoded
    categories, against its event flags (1.0, 0.0, NaN for a missing target);
    with `weights` (checked), of the rows of positive weight."""
    summed = None
    if weights is not None:
        present = weights > 0.0
        if isinstance(column, categories.Encoded):
            column = categories.Encoded(column.codes[present], column.names)
        else:
            column = column[present]
        flags, weights = flags[present], weights[present]
        # Each row its own group of one term.
        each = np.arange(weights.size + 1, dtype=np.int64)
        summed = tuple(
            ExactWeights(w, each)
            for w in (weights, weights * (flags == 0.0), weights * (flags == 1.0))
        )
    if isinstance(column, categories.Encoded):
        grouping = _category_grouping(column)
    else:
        grouping = _grouping(column)
    known = (~np.isnan(flags)).astype(np.int64)
    ones = (flags == 1.0).astype(np.int64)
    return _summed(grouping, np.ones(flags.size, dtype=np.int64), known, ones, summed)


def _joined(a: ExactWeights, b: ExactWeights) -> ExactWeights:
    return ExactWeights(
        np.concatenate((a.terms, b.terms)),
        np.concatenate((a.offsets, b.offsets[1:] + a.terms.size)),
    )


def merged(a: Groups, b: Groups) -> Groups:
    if (a.weights is None) != (b.weights is None):
        raise ValueError("every batch needs sample_weight, or none")
    weights = None
    if a.weights is not None and b.weights is not None:
        weights = tuple(_joined(x, y) for x, y in zip(a.weights, b.weights))
    keys, rows, known, ones = (
        np.concatenate((x, y))
        for x, y in zip((a.keys, a.rows, a.known, a.ones), (b.keys, b.rows, b.known, b.ones))
    )
    return _summed(_grouping(keys), rows, known, ones, weights)


def column_counts(
    groups: Groups, categorical: bool, special_values: Any = ()
) -> ColumnCounts | CategoryCounts:
    """The merged counts a table is built from."""
    weights = None if groups.weights is None else [w.sums() for w in groups.weights]
    if categorical:
        return category_counts(list(groups.keys), groups.rows, groups.known, groups.ones, weights)
    return ColumnCounts(
        groups.keys.astype(np.float64),
        groups.rows,
        groups.known,
        groups.ones,
        special_values,
        weights,
    )


@dataclass
class Batches:
    """What `partial_fit` keeps between batches: the data's column names,
    the columns binned (True: as categories) with their merged counts, the
    columns skipped with the reason, and the target's rows of known value
    and events."""

    columns: list[str]
    categorical: dict[str, bool] = field(default_factory=dict)
    groups: dict[str, Groups] = field(default_factory=dict)
    skipped: dict[str, str] = field(default_factory=dict)
    known: int = 0
    events: int = 0
