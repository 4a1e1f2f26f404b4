"""Two-variable binning: the grid of two variables (numeric, or one or both
categorical) against a binary target with the largest information value of
its cells.

The grid is a product grid: x is cut into intervals (or its categories into
groups), y likewise, and every x interval crossed with every y interval is a
cell, so each variable's cut points read the same in every row and column of
the grid. The search starts from pre-bins of each variable
(`tessaline._binning.grid_prebins`) and groups neighbours of both axes at
once (see `grid_binning`). Rows whose x is missing form one more row of the
grid, rows whose y is missing one more column (their cell of both is the
last); they are counted and scored but stay outside the limits and the
search.

Rows and counts take one path: a fit from rows is a fit of one entry (x, y,
c0, c1) per row, its values counted by the counting kernel, which gives what
merging those entries gives, so both make the same table to the bit."""

from __future__ import annotations

from collections.abc import Callable, Mapping
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._core import checks, native
from .._core.arrays import FloatArray, as_float_array, column_name
from .._core.native import Counts
from .._core.target import event_flags
from .grid_prebins import (
    Mask,
    Prebins,
    Variable,
    category_prebins,
    numeric_prebins,
    read_variable,
)
from .grid_table import GridBinningTable

GridTrend = Literal["none", "ascending", "descending", "auto"]
TRENDS = ("none", "ascending", "descending", "auto")

# A grid an analyst can read at a glance, with cells large enough to carry a
# WoE: at most 5 intervals per variable, 2% of the searched rows per cell (20
# rows in a thousand: a grid of 25 cells cannot give each the 5% a bin of one
# variable gets), from 10 quantile pre-bins per variable and the cuts below
# (few enough that the search tries every grouping of one axis, and so proves
# its optimum).
DEFAULT_MAX_BINS = 5
DEFAULT_MIN_CELL_SHARE = 0.02
DEFAULT_N_PREBINS = 10
# More intervals than this per variable make a grid no one reads, and a
# search that grows with their number.
MOST_BINS = 20


def grid_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    target: npt.ArrayLike,
    *,
    max_bins_x: int = DEFAULT_MAX_BINS,
    max_bins_y: int = DEFAULT_MAX_BINS,
    min_cell_share: float = DEFAULT_MIN_CELL_SHARE,
    trend_x: GridTrend = "none",
    trend_y: GridTrend = "none",
    n_prebins: int = DEFAULT_N_PREBINS,
    name_x: str | None = None,
    name_y: str | None = None,
    event: Any = None,
) -> GridBinningTable:
    """Bin the pair (`x`, `y`) against `target` (0/1, booleans, or the rows
    equal to `event`) into the product grid of largest information value.

    Each numeric variable starts from `n_prebins` quantile pre-bins of the
    rows where both are present, joined by up to 4 cut points that best
    separate the classes along that variable (splits by the largest fall in
    Gini impurity, each part at least 5% of those rows); a categorical one
    (text, booleans, pandas ``category``) from its categories ordered by
    event rate, so that its groups gather categories of like risk (a
    category unseen in training is scored as a missing value). The search
    groups neighbouring pre-bins of x into at most `max_bins_x` intervals
    and of y into at most `max_bins_y`, every cell holding at least
    `min_cell_share` of those rows (and at least one).
    `trend_x` asks the WoE to rise ("ascending") or fall ("descending")
    strictly from each x interval to the next in every column of the grid,
    "auto" for whichever of the two gives more IV, "none" for no condition;
    `trend_y` the same along y in every row.

    The search tries every grouping of the variable with fewer of them and,
    for each, finds the best grouping of the other exactly, so the grid is
    the optimum over all product grids of the pre-bins
    (``metadata["exact"]`` is True). When both variables have more than
    4096 groupings, it finds the best grid of as few x (or y) intervals as
    that many groupings allow, then alternates between the two variables
    from there, each step exact, and stops at a grid that neither step
    improves: a local optimum, and ``metadata["exact"]`` is False. Rows
    whose target is missing are left out."""
    xv, yv = read_variable(x), read_variable(y)
    flags = event_flags(target, event=event)
    checks.same_length(("x", np.empty(xv.size)), ("y", np.empty(yv.size)), ("target", flags))
    limits = _checked_limits(max_bins_x, max_bins_y, min_cell_share, trend_x, trend_y, n_prebins)
    known = ~np.isnan(flags)
    if not known.all():
        xv, yv, flags = xv.kept(known), yv.kept(known), flags[known]
    labels = flags.astype(np.int32)

    # The counting kernel gives what merging one count per row gives.
    def by_value(values: FloatArray, rows: Mask) -> Counts:
        return native.count_values(values[rows], labels[rows])

    return _fit(
        xv,
        yv,
        (1.0 - flags, flags),
        by_value,
        limits,
        name_x if name_x is not None else column_name(x),
        name_y if name_y is not None else column_name(y),
    )


def grid_binning_from_counts(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    *,
    max_bins_x: int = DEFAULT_MAX_BINS,
    max_bins_y: int = DEFAULT_MAX_BINS,
    min_cell_share: float = DEFAULT_MIN_CELL_SHARE,
    trend_x: GridTrend = "none",
    trend_y: GridTrend = "none",
    n_prebins: int = DEFAULT_N_PREBINS,
    name_x: str | None = None,
    name_y: str | None = None,
) -> GridBinningTable:
    """`grid_binning` of rows counted by pair: entry i stands for `c0[i]`
    non-events and `c1[i]` events whose values are `x[i]` and `y[i]` (NaN
    or None for a missing one; names for categories), as a GROUP BY x, y of
    a database gives them. Entries of the same pair may repeat; the table is
    the one the rows give."""
    xv, yv = read_variable(x), read_variable(y)
    counts0, counts1 = _counts(c0, "c0"), _counts(c1, "c1")
    checks.same_length(
        ("x", np.empty(xv.size)), ("y", np.empty(yv.size)), ("c0", counts0), ("c1", counts1)
    )
    limits = _checked_limits(max_bins_x, max_bins_y, min_cell_share, trend_x, trend_y, n_prebins)

    def by_value(values: FloatArray, rows: Mask) -> Counts:
        return native.merge_value_counts(values[rows], counts0[rows], counts1[rows])

    return _fit(xv, yv, (counts0, counts1), by_value, limits, name_x, name_y)


def _fit(
    xv: Variable,
    yv: Variable,
    counts: tuple[FloatArray, FloatArray],
    by_value: Callable[[FloatArray, Mask], Counts],
    limits: Mapping[str, Any],
    name_x: str | None,
    name_y: str | None,
) -> GridBinningTable:
    """The table of entries (xv, yv) of non-events and events `counts`;
    `by_value(numbers, rows)` counts the numbers of the rows chosen by value."""
    searched = ~(xv.missing | yv.missing)
    if not searched.any():
        raise ValueError("grid_binning: no row holds both x and y")

    def prebins(v: Variable) -> Prebins:
        if v.numbers is None:
            return category_prebins(v, searched, counts)
        return numeric_prebins(
            v.numbers, searched, by_value(v.numbers, searched), limits["n_prebins"]
        )

    px, py = prebins(xv), prebins(yv)
    grid = native.grid_binning(
        *(
            _cell_counts(px.index, py.index, py.count, c[searched], px.count * py.count)
            for c in counts
        ),
        n_x=px.count,
        n_y=py.count,
        max_bins_x=limits["max_bins_x"],
        max_bins_y=limits["max_bins_y"],
        min_cell_share=limits["min_cell_share"],
        trend_x=limits["trend_x"],
        trend_y=limits["trend_y"],
    )
    if grid["message"]:
        raise ValueError(f"grid_binning: {grid['message']}")
    axis_x, axis_y = px.axis(grid["x_starts"]), py.axis(grid["y_starts"])
    ix, iy = xv.index_on(axis_x), yv.index_on(axis_y)
    shape = (axis_x.n_bins + 1, axis_y.n_bins + 1)
    table_c0, table_c1 = (
        _cell_counts(ix, iy, shape[1], c, shape[0] * shape[1]).reshape(shape) for c in counts
    )
    # The trends met ("auto" resolved) in place of those asked for.
    metadata = {
        **limits,
        "exact": bool(grid["exact"]),
        "trend_x": grid["trend_x"],
        "trend_y": grid["trend_y"],
        "n_prebins_x": px.count,
        "n_prebins_y": py.count,
    }
    return GridBinningTable(
        axis_x, axis_y, table_c0, table_c1, name_x=name_x, name_y=name_y, metadata=metadata
    )


def _counts(values: npt.ArrayLike, name: str) -> FloatArray:
    """Counts of rows: finite, non-negative whole numbers (a fraction would
    be truncated where the categories are ordered by event rate)."""
    counts = as_float_array(values)
    bad = ~(np.isfinite(counts) & (counts >= 0) & (counts == np.round(counts)))
    if bad.any():
        raise ValueError(
            f"{name} must hold counts of rows (non-negative whole numbers), "
            f"not {float(counts[bad][0])!r}"
        )
    return counts


def _checked_limits(
    max_bins_x: Any,
    max_bins_y: Any,
    min_cell_share: Any,
    trend_x: Any,
    trend_y: Any,
    n_prebins: Any,
) -> dict[str, Any]:
    return {
        "max_bins_x": checks.whole_number("max_bins_x", max_bins_x, 1, MOST_BINS),
        "max_bins_y": checks.whole_number("max_bins_y", max_bins_y, 1, MOST_BINS),
        "min_cell_share": checks.real_number("min_cell_share", min_cell_share, 0, 1),
        "trend_x": checks.one_of("trend_x", trend_x, TRENDS),
        "trend_y": checks.one_of("trend_y", trend_y, TRENDS),
        "n_prebins": checks.whole_number("n_prebins", n_prebins, 1, 64),
    }


def _cell_counts(
    px: npt.NDArray[np.int64], py: npt.NDArray[np.int64], ny: int, counts: FloatArray, cells: int
) -> FloatArray:
    """The counts summed by cell px * ny + py (sums of whole numbers: exact in
    any order)."""
    return np.bincount(px * ny + py, weights=counts, minlength=cells).astype(np.float64)
