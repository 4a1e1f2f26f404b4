"""The SQL expression that scores a pair of columns by the cells of a
two-variable binning, giving what its `transform` gives, bit for bit: each
column becomes the CASE expression of its interval (each special value to
its own index after them, a missing value to the last; a category in no
group too), the two make the flat cell index x * columns + y, and the WoE,
or the cell's rectangle, is looked up by that index. The rules of each
column, the literals and the dialects are those of `tessaline._formats.sql`."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Protocol

import numpy as np
import numpy.typing as npt

from .._core.arrays import FloatArray
from . import sql


class GridAxisLike(Protocol):
    """One variable of a grid: its cut points, or the categories of each group."""

    @property
    def cuts(self) -> FloatArray: ...
    @property
    def groups(self) -> tuple[tuple[str, ...], ...] | None: ...
    @property
    def specials(self) -> tuple[float, ...]: ...
    @property
    def n_bins(self) -> int: ...
    @property
    def n_slots(self) -> int: ...


@dataclass(frozen=True)
class _Column:
    """One variable's intervals or groups, as the CASE of a column reads them."""

    splits: FloatArray
    bin_categories: tuple[tuple[str, ...], ...] | None
    special_values: tuple[float, ...] = ()
    pooled_categories: tuple[str, ...] = ()
    pooled_bin: None = None


def _axis_index(axis: GridAxisLike, column: str, dialect: sql.Dialect) -> str:
    """The interval or group of the column, then the index of each special
    value; the last index for a missing value or a category in no group."""
    last = axis.n_slots - 1
    read = _Column(axis.cuts, axis.groups, axis.specials)
    return sql.case(read, column, [str(i) for i in range(last)], str(last), dialect)  # type: ignore[arg-type]


def grid_sql(
    axis_x: GridAxisLike,
    axis_y: GridAxisLike,
    woe: FloatArray,
    column_x: str,
    column_y: str,
    output: str,
    dialect: sql.Dialect,
    regions: npt.NDArray[np.int64] | None = None,
) -> str:
    """The expression of `output` ("woe" or "index") for the columns
    `column_x` and `column_y` (names, quoted here); `regions` numbers the
    rectangle of each cell (None: each cell its own, numbered by its index)."""
    sql._checked(dialect, output)
    x = _axis_index(axis_x, sql.identifier(column_x), dialect)
    y = _axis_index(axis_y, sql.identifier(column_y), dialect)
    index = f"({x}) * {axis_y.n_slots} + ({y})"
    if output == "index":
        if regions is None:
            return index
        numbers = np.asarray(regions).ravel()
        branches = " ".join(f"WHEN {i} THEN {r}" for i, r in enumerate(numbers.tolist()))
        return f"CASE {index} {branches} END"
    values = np.asarray(woe).ravel()
    branches = " ".join(f"WHEN {i} THEN {sql.number(w, dialect)}" for i, w in enumerate(values))
    return f"CASE {index} {branches} END"
