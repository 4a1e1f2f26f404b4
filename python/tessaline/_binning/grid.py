"""Two-variable binning: the cells of two variables (numeric, or one or both
categorical) against a binary target with the largest information value.

Two kinds of partition are searched, both from pre-bins of each variable
(`tessaline._binning.grid_prebins`). A product grid: x is cut into
intervals (or its categories into groups), y likewise, and every x interval
crossed with every y interval is a cell, so each variable's cut points read
the same in every row and column. Rectangles: the grid of pre-bins cut in
two along either variable, each part again, and so on, so that a dense
region keeps fine cuts that a sparse one need not carry (see
`grid_binning`). Rows whose x is missing form one more row of the grid,
rows whose y is missing one more column (their cell of both is the last),
and each special value of either variable a row or column of its own before
the missing one; they are counted and scored but stay outside the limits
and the search.

Rows and counts take one path: a fit from rows is a fit of one entry (x, y,
c0, c1) per row, its values counted by the counting kernel, which gives what
merging those entries gives, so both make the same table to the bit."""

from __future__ import annotations

from collections.abc import Callable, Mapping, Sequence
from dataclasses import replace
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._core import checks, native
from .._core.arrays import FloatArray, as_float_array, column_name
from .._core.native import Counts
from .._core.target import event_flags
from .grid_axis import GridAxis
from .grid_prebins import (
    Mask,
    Prebins,
    Variable,
    category_prebins,
    numeric_prebins,
    read_variable,
)
from .grid_table import GridBinningTable
from .special import checked_special_values, is_special

GridTrend = Literal["none", "ascending", "descending", "auto"]
TRENDS = ("none", "ascending", "descending", "auto")
GridMethod = Literal["rectangles", "grid"]
METHODS = ("rectangles", "grid")

# A grid an analyst can read at a glance, with cells large enough to carry a
# WoE: at most 5 intervals per variable, 2% of the searched rows per cell (20
# rows in a thousand: a grid of 25 cells cannot give each the 5% a bin of one
# variable gets), from 10 quantile pre-bins per variable and the cuts below
# (few enough that the search tries every grouping of one axis, and so proves
# its optimum).
DEFAULT_MAX_BINS = 5
DEFAULT_MIN_CELL_SHARE = 0.02
DEFAULT_N_PREBINS = 10
# The limits both searches of the cells read, by the names they take.
SEARCH_LIMITS = ("max_bins_x", "max_bins_y", "min_cell_share", "trend_x", "trend_y")
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
    method: GridMethod = "rectangles",
    special_values_x: Sequence[float] = (),
    special_values_y: Sequence[float] = (),
    name_x: str | None = None,
    name_y: str | None = None,
    event: Any = None,
) -> GridBinningTable:
    """Bin the pair (`x`, `y`) against `target` (0/1, booleans, or the rows
    equal to `event`) into the rectangles, or the product grid, of largest
    information value.

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

    `method="rectangles"` (the default) partitions the grid of pre-bins into
    at most `max_bins_x` × `max_bins_y` rectangles, each holding at least
    `min_cell_share` of the rows: any partition that cutting the whole in
    two along a pre-bin boundary of either variable, then each part, and so
    on, makes, searched exactly. Every product grid within the limits is one
    of them, so its IV is never below the best product grid's; where the
    rows are dense it keeps cuts that a product grid would have to carry
    through sparse rows too. Under a trend along x alone the partitions are
    stripes: y cut into at most `max_bins_y` intervals and each stripe cut
    along x into at most `max_bins_x` rectangles whose WoE follows the trend
    strictly from each to the next (along y alone, the same swapped); a
    product grid under that trend is such a partition too. Under trends
    along both, or with more pre-bins than the rectangle search affords
    (beyond about 20 per variable, more under a least share), the product
    grid is searched;
    ``metadata["method"]`` says which was. `method="grid"` asks for the
    product grid: the same cut points in every row and column.

    `special_values_x` (codes such as -999 of a numeric x) each get a row of
    their own after the intervals and before the missing row, and
    `special_values_y` a column of their own; they stay outside the search
    and its limits as missing values do, however few their rows.

    The product grid search tries every grouping of the variable with fewer
    of them and, for each, finds the best grouping of the other exactly, so
    the grid is the optimum over all product grids of the pre-bins
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
    limits |= _checked_search(method, special_values_x, special_values_y, xv, yv)
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
    method: GridMethod = "rectangles",
    special_values_x: Sequence[float] = (),
    special_values_y: Sequence[float] = (),
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
    limits |= _checked_search(method, special_values_x, special_values_y, xv, yv)

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
    specials_x, specials_y = limits["special_values_x"], limits["special_values_y"]
    searched = ~(xv.missing | yv.missing)
    for v, specials in ((xv, specials_x), (yv, specials_y)):
        special = is_special(v.numbers, specials) if v.numbers is not None else None
        if special is not None:
            searched &= ~special
    if not searched.any():
        beside = " outside their special values" if specials_x or specials_y else ""
        raise ValueError(f"grid_binning: no row holds both x and y{beside}")

    def prebins(v: Variable) -> Prebins:
        if v.numbers is None:
            return category_prebins(v, searched, counts)
        return numeric_prebins(
            v.numbers, searched, by_value(v.numbers, searched), limits["n_prebins"]
        )

    px, py = prebins(xv), prebins(yv)
    prebin_cells = [
        _cell_counts(px.index, py.index, py.count, c[searched], px.count * py.count) for c in counts
    ]
    # Both searches read the same cells under the same limits.
    search: dict[str, Any] = {
        "n_x": px.count,
        "n_y": py.count,
        **{k: limits[k] for k in SEARCH_LIMITS},
    }
    if limits["method"] == "rectangles" and "none" in (limits["trend_x"], limits["trend_y"]):
        found = native.grid_rectangles(*prebin_cells, **search)
        if found["exact"]:
            return _rectangles_table(xv, yv, px, py, found, counts, limits, name_x, name_y)
        if found["message"].startswith("the rows hold a single class"):
            raise ValueError(f"grid_binning: {found['message']}")
    grid = native.grid_binning(*prebin_cells, **search)
    if grid["message"]:
        raise ValueError(f"grid_binning: {grid['message']}")
    axis_x = _with_specials(px.axis(grid["x_starts"]), specials_x)
    axis_y = _with_specials(py.axis(grid["y_starts"]), specials_y)
    table_c0, table_c1 = _table_counts(xv, yv, axis_x, axis_y, counts)
    # The trends met ("auto" resolved) in place of those asked for.
    metadata = {
        **_shown_limits(limits),
        "method": "grid",
        "exact": bool(grid["exact"]),
        "trend_x": grid["trend_x"],
        "trend_y": grid["trend_y"],
        "n_prebins_x": px.count,
        "n_prebins_y": py.count,
    }
    return GridBinningTable(
        axis_x, axis_y, table_c0, table_c1, name_x=name_x, name_y=name_y, metadata=metadata
    )


def _rectangles_table(
    xv: Variable,
    yv: Variable,
    px: Prebins,
    py: Prebins,
    found: Mapping[str, Any],
    counts: tuple[FloatArray, FloatArray],
    limits: Mapping[str, Any],
    name_x: str | None,
    name_y: str | None,
) -> GridBinningTable:
    """The table of the rectangles `found` (pre-bins, first and last of each
    axis): its grid cut at every boundary some rectangle has, each cell
    numbered by the rectangle holding it."""
    starts_x, starts_y = (np.unique(found[k]) for k in ("x_first", "y_first"))
    axis_x = _with_specials(px.axis(starts_x), limits["special_values_x"])
    axis_y = _with_specials(py.axis(starts_y), limits["special_values_y"])
    table_c0, table_c1 = _table_counts(xv, yv, axis_x, axis_y, counts)
    shape = (axis_x.n_slots, axis_y.n_slots)
    regions = np.full(shape, -1, dtype=np.int64)
    # Each rectangle's cells: the groups its first and last pre-bins fall in.
    for k, (a, b, c, d) in enumerate(
        zip(
            *(np.asarray(found[key]).tolist() for key in ("x_first", "x_last", "y_first", "y_last"))
        )
    ):
        i0, i1 = (int(np.searchsorted(starts_x, p, side="right")) - 1 for p in (a, b))
        j0, j1 = (int(np.searchsorted(starts_y, p, side="right")) - 1 for p in (c, d))
        regions[i0 : i1 + 1, j0 : j1 + 1] = k
    outside = regions < 0
    regions[outside] = np.arange(int(outside.sum())) + len(found["x_first"])
    # Numbered in order of their first cell, row by row.
    flat = regions.ravel()
    _, first = np.unique(flat, return_index=True)
    renumber = np.empty(first.size, dtype=np.int64)
    renumber[np.argsort(first, kind="stable")] = np.arange(first.size)
    # Rectangles that make a product grid are one: its cells, numbered as such.
    product = len(found["x_first"]) == axis_x.n_bins * axis_y.n_bins
    metadata = {
        **_shown_limits(limits),
        "method": "rectangles",
        "exact": True,
        "trend_x": found["trend_x"],
        "trend_y": found["trend_y"],
        "n_prebins_x": px.count,
        "n_prebins_y": py.count,
    }
    return GridBinningTable(
        axis_x,
        axis_y,
        table_c0,
        table_c1,
        name_x=name_x,
        name_y=name_y,
        metadata=metadata,
        regions=None if product else renumber[regions],
    )


def _with_specials(axis: GridAxis, specials: tuple[float, ...]) -> GridAxis:
    return replace(axis, specials=specials) if specials else axis


def _table_counts(
    xv: Variable,
    yv: Variable,
    axis_x: GridAxis,
    axis_y: GridAxis,
    counts: tuple[FloatArray, FloatArray],
) -> tuple[FloatArray, FloatArray]:
    ix, iy = xv.index_on(axis_x), yv.index_on(axis_y)
    shape = (axis_x.n_slots, axis_y.n_slots)
    return tuple(  # type: ignore[return-value]
        _cell_counts(ix, iy, shape[1], c, shape[0] * shape[1]).reshape(shape) for c in counts
    )


def _shown_limits(limits: Mapping[str, Any]) -> dict[str, Any]:
    """The limits a table's metadata records: special values only when given
    (they are the axes' own), so that a fit without them reads as before."""
    shown = dict(limits)
    for key in ("special_values_x", "special_values_y"):
        if shown[key]:
            shown[key] = list(shown[key])
        else:
            del shown[key]
    return shown


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


def _checked_search(
    method: Any, special_values_x: Any, special_values_y: Any, xv: Variable, yv: Variable
) -> dict[str, Any]:
    out: dict[str, Any] = {"method": checks.one_of("method", method, METHODS)}
    for axis, values, v in (("x", special_values_x, xv), ("y", special_values_y, yv)):
        specials = checked_special_values(values)
        if specials and v.numbers is None:
            raise ValueError(
                f"grid_binning: special_values_{axis} are codes of a numeric {axis}, "
                f"but {axis} is categorical"
            )
        out[f"special_values_{axis}"] = specials
    return out


def _cell_counts(
    px: npt.NDArray[np.int64], py: npt.NDArray[np.int64], ny: int, counts: FloatArray, cells: int
) -> FloatArray:
    """The counts summed by cell px * ny + py (sums of whole numbers: exact in
    any order)."""
    return np.bincount(px * ny + py, weights=counts, minlength=cells).astype(np.float64)
