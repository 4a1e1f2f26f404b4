"""The SQL expression that scores a pair of columns by the cells of a
two-variable binning, giving what its `transform` gives, bit for bit: each
column becomes the CASE expression of its interval (a missing value to the
last), the two make the flat cell index x * columns + y, and the WoE is
looked up by that index. The rules of each column, the literals and the
dialects are those of `tessaline.formats.sql`."""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

from .._core.arrays import FloatArray
from . import sql


@dataclass(frozen=True)
class _Axis:
    """One variable's intervals, as the CASE of a numeric column reads them."""

    splits: FloatArray
    special_values: tuple[float, ...] = ()
    bin_categories: None = None
    pooled_categories: tuple[str, ...] = field(default=())
    pooled_bin: None = None


def _axis_index(cuts: FloatArray, column: str, dialect: sql.Dialect) -> str:
    bins = cuts.size + 1
    return sql.case(_Axis(cuts), column, [str(i) for i in range(bins)], str(bins), dialect)  # type: ignore[arg-type]


def grid_sql(
    cuts_x: FloatArray,
    cuts_y: FloatArray,
    woe: FloatArray,
    column_x: str,
    column_y: str,
    output: str,
    dialect: sql.Dialect,
) -> str:
    """The expression of `output` ("woe" or "index") for the columns
    `column_x` and `column_y` (names, quoted here)."""
    sql._checked(dialect, output)
    x = _axis_index(cuts_x, sql.identifier(column_x), dialect)
    y = _axis_index(cuts_y, sql.identifier(column_y), dialect)
    index = f"({x}) * {cuts_y.size + 2} + ({y})"
    if output == "index":
        return index
    values = np.asarray(woe).ravel()
    branches = " ".join(f"WHEN {i} THEN {sql.number(w, dialect)}" for i, w in enumerate(values))
    return f"CASE {index} {branches} END"
