"""Bins as Spark column expressions, as the local `transform` gives them."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._binning.binning_table import BinningTable
from .._core import checks
from .._core.placement import MISSING_SLOT, number_rules
from ._counting import column_of, spark_functions

# What a column's expression gives: the bin index, the WoE or the bin label.
OUTPUTS = ("index", "woe", "label")


def bin_index(
    name: str,
    splits: npt.ArrayLike,
    special_values: Sequence[float] = (),
    special_start: int | None = None,
) -> Any:
    """The bin of each value of a column as a Spark expression: the number of
    cut points strictly below it (a value equal to a cut point falls in the
    lower bin), `special_start` + j (default: one past the last interval) for
    the j-th special value, -1 for NULL and NaN."""
    F = spark_functions()
    x = column_of(name).cast("double")
    cuts = [float(c) for c in np.asarray(splits, dtype=np.float64)]
    first_special = len(cuts) + 1 if special_start is None else special_start
    rules = number_rules(cuts, special_values, first_special)
    # The interval of a value is the number of cut points below it: one sum,
    # not a branch per cut point.
    index = sum(
        (F.when(x > r.value, 1).otherwise(0) for r in rules if r.test == "at_most"), F.lit(0)
    )
    tests = {"missing": lambda _: x.isNull() | F.isnan(x), "equal": lambda v: x == v}
    expression = F  # F.when starts the chain, the column's when goes on with it
    for rule in rules:
        if rule.test in tests:
            expression = expression.when(tests[rule.test](rule.value), rule.slot)
    return expression.otherwise(index).cast("long")


def category_index(table: BinningTable, name: str, type_name: str) -> Any:
    """The bin of each category of a column as a Spark expression, as the
    local transform gives it: a category's own bin; a pooled or unseen one
    the bin of the pooled group when training had one, else -1; -1 for a
    missing category (NULL, or NaN in a column of floats)."""
    F = spark_functions()
    bins = table.category_bins()
    column = column_of(name)
    numeric = type_name in ("float", "double", "decimal")
    key = column.cast("double") if numeric else column.cast("string")
    expression = F.when(key.isNull() | F.isnan(key) if numeric else key.isNull(), MISSING_SLOT)
    for category, b in bins.bin_of.items():
        value = _spark_value(category, type_name)
        if value is not None:
            expression = expression.when(key == F.lit(value), b)
    return expression.otherwise(bins.other).cast("long")


def _spark_value(category: str, type_name: str) -> Any:
    """The value of a column of this Spark type that the local encoding names
    `category` (None when no value does)."""
    if type_name in ("float", "double", "decimal"):
        try:
            return float(category)
        except ValueError:
            return None
    if type_name == "boolean":
        return {"True": "true", "False": "false"}.get(category)
    return category


def transform_column(
    table: BinningTable,
    name: str,
    output: Literal["index", "woe", "label"] = "index",
    type_name: str | None = None,
) -> Any:
    """`table.transform` of a Spark column as a column expression (index as
    long, WoE as double, the bin label as string), right-closed bins, special
    values and categories as locally. A categorical table needs `type_name`,
    the column's Spark type (``df.schema[name].dataType.typeName()``), since a
    category's text depends on it ("true" for True, "2.0" for 2)."""
    checks.output_choice(output, OUTPUTS)
    F = spark_functions()
    if table.kind == "categorical":
        if type_name is None:
            raise ValueError(
                f"transform_column of the categorical table {name!r} needs its "
                f"column's type: type_name=df.schema[{name!r}].dataType.typeName()"
            )
        index = category_index(table, name, type_name)
    else:
        index = bin_index(name, table.splits, table.special_values, special_start=table.n_bins)
    if output == "index":
        return index
    if output == "label":
        labels = table.labels + ["missing"]
        slot = F.when(index < 0, len(labels)).otherwise(index + 1).cast("int")
        return F.element_at(F.array(*[F.lit(v) for v in labels]), slot)
    intervals, specials, missing = table.woe_by_index()
    # One slot per interval, then one per special value; index -1 reads the
    # missing-value WoE.
    lookup = [float(w) for w in np.concatenate((intervals, specials))]
    slot = (
        index + 1
        if not len(specials)
        else F.when(index >= table.n_bins, index - table.n_bins + len(intervals)).otherwise(index)
        + 1
    )
    return (
        F.when(index < 0, F.lit(missing))
        .otherwise(F.element_at(F.array(*[F.lit(v) for v in lookup]), slot.cast("int")))
        .cast("double")
    )
