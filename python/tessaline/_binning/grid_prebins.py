"""The pre-bins of one variable of a two-variable binning, and the axis that
a grouping of them makes.

A numeric variable's pre-bins are quantiles of the searched rows joined by
the cut points that best separate the classes along it alone; a grouping of
neighbours is an interval between two of those cut points (read as the
largest value at or below it, as the data show it). A categorical
variable's pre-bins are its categories ordered by event rate (equal rates in
name order), so a group of neighbours gathers categories of like risk."""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import native
from .._core.arrays import FloatArray, IntArray, as_float_array
from .._core.categories import encode
from .._core.frames import is_categorical
from .._core.native import Counts
from .grid_axis import GridAxis, numeric_axis

# The cut points that best separate the classes join the quantiles: greedy
# Gini splits into at most this many parts of at least this share of the
# searched rows, so that the search can cut where the event rate turns
# between two quantiles.
CLASS_PARTS = 5
CLASS_PART_SHARE = 0.05
# Categories of one variable that the search groups: the search's time and
# memory grow with the cube and the square of their number.
MOST_CATEGORIES = 128

Mask = npt.NDArray[np.bool_]


@dataclass(frozen=True)
class Variable:
    """One variable's values: numbers, or category codes (-1 missing) of `names`."""

    numbers: FloatArray | None
    codes: IntArray | None = None
    names: tuple[str, ...] = ()

    @property
    def size(self) -> int:
        return int(self.numbers.size if self.numbers is not None else self.codes.size)  # type: ignore[union-attr]

    @property
    def missing(self) -> Mask:
        if self.numbers is not None:
            return np.isnan(self.numbers)
        return np.asarray(self.codes) < 0

    def kept(self, rows: Mask) -> Variable:
        if self.numbers is not None:
            return Variable(self.numbers[rows])
        return Variable(None, np.asarray(self.codes)[rows], self.names)

    def index_on(self, axis: GridAxis) -> IntArray:
        """The interval or group of `axis` of every value (n_bins when missing)."""
        if self.numbers is not None:
            return axis.index_of_numbers(self.numbers)
        return axis.index_of_codes(np.asarray(self.codes), list(self.names))


def read_variable(values: Any) -> Variable:
    """Categories (text, booleans, pandas category...) by code, else numbers."""
    if is_categorical(values):
        encoded = encode(values)
        return Variable(None, encoded.codes, tuple(encoded.names))
    return Variable(as_float_array(values))


@dataclass(frozen=True)
class Prebins:
    """The pre-bin of every searched row, how many there are, and the axis
    that groups of them beginning at the given pre-bins make."""

    index: IntArray
    count: int
    axis: Callable[[IntArray], GridAxis]


def numeric_prebins(numbers: FloatArray, searched: Mask, counts: Counts, n_prebins: int) -> Prebins:
    """The pre-bins of searched numbers counted by value (`counts`)."""
    quantiles = native.quantile_splits(counts, n_prebins)
    informative = native.class_split_cuts(counts, CLASS_PARTS, CLASS_PART_SHARE)
    cuts = np.unique(np.concatenate([quantiles, informative]))
    value = counts["value"]

    def axis(starts: IntArray) -> GridAxis:
        chosen = cuts[np.asarray(starts[1:], dtype=np.intp) - 1]
        return numeric_axis(value[np.searchsorted(value, chosen, side="right") - 1])

    return Prebins(native.binning_transform(numbers[searched], cuts), cuts.size + 1, axis)


def category_prebins(
    variable: Variable, searched: Mask, counts: tuple[FloatArray, FloatArray]
) -> Prebins:
    """The categories of the searched rows (non-events and events `counts`
    per row) as pre-bins, by ascending event rate."""
    codes = np.asarray(variable.codes)[searched]
    by_code = [
        np.bincount(codes, weights=c[searched], minlength=len(variable.names)).astype(np.int64)
        for c in counts
    ]
    order = native.event_rate_order(*by_code)
    if order.size > MOST_CATEGORIES:
        raise ValueError(
            f"grid_binning: a categorical variable holds {order.size} categories beside values "
            f"of the other; at most {MOST_CATEGORIES} can be grouped (pool the rare ones first)"
        )
    rank = np.full(len(variable.names), -1, dtype=np.int64)
    rank[order] = np.arange(order.size)

    def axis(starts: IntArray) -> GridAxis:
        ends = [*np.asarray(starts[1:]).tolist(), order.size]
        groups = [
            tuple(variable.names[c] for c in sorted(order[s:e].tolist()))
            for s, e in zip(np.asarray(starts).tolist(), ends)
        ]
        return GridAxis(np.empty(0), tuple(groups))

    return Prebins(rank[codes], int(order.size), axis)
