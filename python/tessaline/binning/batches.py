"""Counts of a table's rows that merge across batches: for each column, one
entry per distinct value (numbers, NaN for the missing ones) or category
name (None for the missing ones) with its rows, rows of known target and
events (with sample weights: the records of positive weight, and the weight
of the rows, of the non-events and of the events). Merging two batches adds
the counts of equal keys, so the memory held is that of the distinct values,
never of the rows, and the merged counts of every batch are those of all the
rows together."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import categories
from .._core.arrays import FloatArray
from .counts import CategoryCounts, ColumnCounts, category_counts

Counts = npt.NDArray[np.int64]


@dataclass(frozen=True)
class Groups:
    """One column's counts by key (float64 values, or an object array of
    category names), each key once."""

    keys: npt.NDArray[Any]
    rows: Counts
    known: Counts
    ones: Counts
    weights: tuple[FloatArray, FloatArray, FloatArray] | None = None


def _summed(
    keys: npt.NDArray[Any],
    rows: Counts,
    known: Counts,
    ones: Counts,
    weights: tuple[FloatArray, ...] | None = None,
) -> Groups:
    """The counts of equal keys added up (NaN is one key, as None is), the
    weights in the order given."""
    if keys.dtype == object:
        order: dict[Any, int] = {}
        inverse = np.array([order.setdefault(k, len(order)) for k in keys.tolist()], dtype=np.int64)
        unique = np.array(list(order), dtype=object)
    else:
        unique, inverse = np.unique(keys, return_inverse=True)
    sums = [np.zeros(unique.size, dtype=np.int64) for _ in range(3)]
    for total, counts in zip(sums, (rows, known, ones)):
        np.add.at(total, inverse, counts)
    summed: tuple[FloatArray, FloatArray, FloatArray] | None = None
    if weights is not None:
        summed = (np.zeros(unique.size), np.zeros(unique.size), np.zeros(unique.size))
        for weight, w in zip(summed, weights):
            np.add.at(weight, inverse, w)
    return Groups(unique, sums[0], sums[1], sums[2], weights=summed)


def batch_groups(
    column: FloatArray | categories.Encoded, flags: FloatArray, weights: FloatArray | None = None
) -> Groups:
    """One batch's counts of a column, given as float64 values or encoded
    categories, against its event flags (1.0, 0.0, NaN for a missing target);
    with `weights` (checked), of the rows of positive weight."""
    if isinstance(column, categories.Encoded):
        keys = np.array([None, *column.names], dtype=object)[column.codes + 1]
    else:
        keys = column
    summed = None
    if weights is not None:
        present = weights > 0.0
        keys, flags, weights = keys[present], flags[present], weights[present]
        summed = (weights, weights * (flags == 0.0), weights * (flags == 1.0))
    known = (~np.isnan(flags)).astype(np.int64)
    ones = (flags == 1.0).astype(np.int64)
    return _summed(keys, np.ones(keys.size, dtype=np.int64), known, ones, summed)


def merged(a: Groups, b: Groups) -> Groups:
    if (a.weights is None) != (b.weights is None):
        raise ValueError("every batch needs sample_weight, or none")
    weights = None
    if a.weights is not None and b.weights is not None:
        weights = tuple(np.concatenate((x, y)) for x, y in zip(a.weights, b.weights))
    keys, rows, known, ones = (
        np.concatenate((x, y))
        for x, y in zip((a.keys, a.rows, a.known, a.ones), (b.keys, b.rows, b.known, b.ones))
    )
    return _summed(keys, rows, known, ones, weights)


def column_counts(
    groups: Groups, categorical: bool, special_values: Any = ()
) -> ColumnCounts | CategoryCounts:
    """The merged counts a table is built from."""
    if categorical:
        return category_counts(
            list(groups.keys), groups.rows, groups.known, groups.ones, groups.weights
        )
    return ColumnCounts(
        groups.keys.astype(np.float64),
        groups.rows,
        groups.known,
        groups.ones,
        special_values,
        groups.weights,
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
