"""Two-variable binning: the grid of two numeric variables against a binary
target with the largest information value of its cells.

The grid is a product grid: x is cut into intervals, y is cut into
intervals, and every x interval crossed with every y interval is a cell, so
each variable's cut points read the same in every row and column of the
grid. The search starts from quantile pre-bins of each variable and groups
neighbours of both axes at once (see `grid_binning`). Rows whose x is
missing form one more row of the grid, rows whose y is missing one more
column (their cell of both is the last); they are counted and scored but
stay outside the limits and the search.

Rows and counts go through one path: a fit from rows counts each row as one
entry (x, y, c0, c1) and takes the path of `grid_binning_from_counts`, so
both give the same table to the bit."""

from __future__ import annotations

from collections.abc import Callable, Mapping
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._core import checks, native
from .._core.arrays import FloatArray, as_float_array, column_name
from .._core.native import Counts
from .._core.target import event_flags
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
# The quantile pre-bins of each variable are joined by the cut points that
# best separate the classes along it alone (greedy Gini splits into at most
# this many parts of at least this share of the searched rows), so that the
# search can place a cut where the event rate turns between two quantiles.
CLASS_PARTS = 5
CLASS_PART_SHARE = 0.05


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

    Each variable starts from `n_prebins` quantile pre-bins of the rows where
    both are present, joined by up to 4 cut points that best separate the
    classes along that variable (splits by the largest fall in Gini
    impurity, each part at least 5% of those rows). The search groups
    neighbouring pre-bins of x into at most `max_bins_x` intervals and of y
    into at most `max_bins_y`, every
    cell holding at least `min_cell_share` of those rows (and at least one).
    `trend_x` asks the WoE to rise ("ascending") or fall ("descending")
    strictly from each x interval to the next in every column of the grid,
    "auto" for whichever of the two gives more IV, "none" for no condition;
    `trend_y` the same along y in every row.

    The search tries every grouping of the variable with fewer of them and,
    for each, finds the best grouping of the other exactly, so the grid is
    the optimum over all product grids of the pre-bins
    (``metadata["exact"]`` is True). When that variable has more than 4096
    groupings, it alternates between the two variables instead, each step
    exact, and stops at a grid that neither step improves: a local optimum,
    and ``metadata["exact"]`` is False. Rows whose target is missing are left
    out."""
    xs, ys = as_float_array(x), as_float_array(y)
    flags = event_flags(target, event=event)
    checks.same_length(("x", xs), ("y", ys), ("target", flags))
    limits = _checked_limits(max_bins_x, max_bins_y, min_cell_share, trend_x, trend_y, n_prebins)
    known = ~np.isnan(flags)
    if not known.all():
        xs, ys, flags = xs[known], ys[known], flags[known]
    labels = flags.astype(np.int32)

    # The counting kernel gives what merging one count per row gives.
    def by_value(values: FloatArray, rows: npt.NDArray[np.bool_]) -> Counts:
        return native.count_values(values[rows], labels[rows])

    return _fit(
        xs,
        ys,
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
    for a missing one), as a GROUP BY x, y of a database gives them. Entries
    of the same pair may repeat; the table is the one the rows give."""
    xs, ys = as_float_array(x), as_float_array(y)
    counts0, counts1 = as_float_array(c0), as_float_array(c1)
    checks.same_length(("x", xs), ("y", ys), ("c0", counts0), ("c1", counts1))
    limits = _checked_limits(max_bins_x, max_bins_y, min_cell_share, trend_x, trend_y, n_prebins)

    def by_value(values: FloatArray, rows: npt.NDArray[np.bool_]) -> Counts:
        return native.merge_value_counts(values[rows], counts0[rows], counts1[rows])

    return _fit(xs, ys, (counts0, counts1), by_value, limits, name_x, name_y)


def _fit(
    xs: FloatArray,
    ys: FloatArray,
    counts: tuple[FloatArray, FloatArray],
    by_value: Callable[[FloatArray, npt.NDArray[np.bool_]], Counts],
    limits: Mapping[str, Any],
    name_x: str | None,
    name_y: str | None,
) -> GridBinningTable:
    """The table of entries (xs, ys) of non-events and events `counts`;
    `by_value(values, rows)` counts the values of the rows chosen by value."""
    searched = ~(np.isnan(xs) | np.isnan(ys))
    if not searched.any():
        raise ValueError("grid_binning: no row holds both x and y")
    axis_x = _prebins(by_value(xs, searched), limits["n_prebins"])
    axis_y = _prebins(by_value(ys, searched), limits["n_prebins"])
    px = native.binning_transform(xs[searched], axis_x["cuts"])
    py = native.binning_transform(ys[searched], axis_y["cuts"])
    nx, ny = axis_x["cuts"].size + 1, axis_y["cuts"].size + 1
    grid = native.grid_binning(
        *(_cell_counts(px, py, ny, c[searched], nx * ny) for c in counts),
        n_x=nx,
        n_y=ny,
        max_bins_x=limits["max_bins_x"],
        max_bins_y=limits["max_bins_y"],
        min_cell_share=limits["min_cell_share"],
        trend_x=limits["trend_x"],
        trend_y=limits["trend_y"],
    )
    if grid["message"]:
        raise ValueError(f"grid_binning: {grid['message']}")
    cuts_x = _group_cuts(axis_x, grid["x_starts"])
    cuts_y = _group_cuts(axis_y, grid["y_starts"])
    table_c0, table_c1 = (_table_counts(xs, ys, cuts_x, cuts_y, c) for c in counts)
    # The trends met ("auto" resolved) in place of those asked for.
    metadata = {
        **limits,
        "exact": bool(grid["exact"]),
        "trend_x": grid["trend_x"],
        "trend_y": grid["trend_y"],
        "n_prebins_x": nx,
        "n_prebins_y": ny,
    }
    return GridBinningTable(
        cuts_x, cuts_y, table_c0, table_c1, name_x=name_x, name_y=name_y, metadata=metadata
    )


def _checked_limits(
    max_bins_x: Any,
    max_bins_y: Any,
    min_cell_share: Any,
    trend_x: Any,
    trend_y: Any,
    n_prebins: Any,
) -> dict[str, Any]:
    return {
        "max_bins_x": checks.whole_number("max_bins_x", max_bins_x, 1),
        "max_bins_y": checks.whole_number("max_bins_y", max_bins_y, 1),
        "min_cell_share": checks.real_number("min_cell_share", min_cell_share, 0, 1),
        "trend_x": checks.one_of("trend_x", trend_x, TRENDS),
        "trend_y": checks.one_of("trend_y", trend_y, TRENDS),
        "n_prebins": checks.whole_number("n_prebins", n_prebins, 1, 64),
    }


def _prebins(counts: Counts, n_prebins: int) -> dict[str, FloatArray]:
    """The pre-bins' cut points of one variable's searched rows (quantiles
    joined by the cuts that best separate the classes, the same for both
    classes alike) and its distinct values (ascending), which the chosen cut
    points are read from."""
    quantiles = native.quantile_splits(counts, n_prebins)
    informative = native.class_split_cuts(counts, CLASS_PARTS, CLASS_PART_SHARE)
    return {"cuts": np.unique(np.concatenate([quantiles, informative])), "value": counts["value"]}


def _cell_counts(
    px: npt.NDArray[np.int64], py: npt.NDArray[np.int64], ny: int, counts: FloatArray, cells: int
) -> FloatArray:
    """The counts summed by cell px * ny + py (sums of whole numbers: exact in
    any order)."""
    return np.bincount(px * ny + py, weights=counts, minlength=cells).astype(np.float64)


def _group_cuts(axis: Mapping[str, FloatArray], starts: npt.NDArray[np.int64]) -> FloatArray:
    """The cut points between the chosen groups of pre-bins. A quantile falls
    between two values; the largest value at or below it parts the rows the
    same way and reads as the data does."""
    cuts = axis["cuts"][np.asarray(starts[1:], dtype=np.intp) - 1]
    value = axis["value"]
    return np.asarray(value[np.searchsorted(value, cuts, side="right") - 1], dtype=np.float64)


def _table_counts(
    xs: FloatArray, ys: FloatArray, cuts_x: FloatArray, cuts_y: FloatArray, counts: FloatArray
) -> FloatArray:
    """The counts of every cell of the table, the missing row and column included."""
    ix, iy = native.binning_transform(xs, cuts_x), native.binning_transform(ys, cuts_y)
    rows, cols = cuts_x.size + 2, cuts_y.size + 2
    ix = np.where(ix < 0, rows - 1, ix)
    iy = np.where(iy < 0, cols - 1, iy)
    return _cell_counts(ix, iy, cols, counts, rows * cols).reshape(rows, cols)
