"""Counting in Spark: every column of a table grouped by value (or category
text) with its rows, rows of known target and events, in one pass, the
distinct values counted in Spark before anything reaches the driver."""
from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np

from .. import _native
from .._categories import category_name
from .._target import TargetError
from ..counted import CategoryCounts, ColumnCounts, category_counts

DEFAULT_MAX_DISTINCT = 20_000_000
# The prepared target and its check, as columns of the counted frame.
_FLAG, _NOT_BINARY = "__tessaline_y", "__tessaline_not_binary"


def spark_functions() -> Any:
    from pyspark.sql import functions

    return functions


def event_flags(df: Any, target: str, event: Any = None) -> Any:
    """The target as a Spark column of 1.0 (event), 0.0 and NULL (missing):
    rows equal to `event`, or a 0/1 or boolean target as it is."""
    F = spark_functions()
    y = F.col(target)
    if event is not None:
        known = y.isNotNull() & ~F.isnan(y.cast("double")) if is_numeric(df, target) \
            else y.isNotNull()
        return F.when(known, F.when(y == F.lit(event), 1.0).otherwise(0.0))
    yd = y.cast("double")
    return F.when(yd.isNotNull() & ~F.isnan(yd), yd)


def spark_type(df: Any, name: str) -> str:
    return str(df.schema[name].dataType.typeName())


def is_numeric(df: Any, name: str) -> bool:
    from pyspark.sql.types import BooleanType, NumericType

    return isinstance(df.schema[name].dataType, (NumericType, BooleanType))


def holds_categories(df: Any, name: str) -> bool:
    """Whether a column's values are categories by their type (strings, booleans)."""
    return spark_type(df, name) in ("string", "boolean", "char", "varchar")


def _category_names(texts: Sequence[str | None], type_name: str) -> list[str | None]:
    """The local name of each category Spark gives as text (None: missing):
    booleans print as Python's, and integral floats as integers."""
    if type_name == "boolean":
        return [None if t is None else "True" if t == "true" else "False" for t in texts]
    if type_name in ("float", "double", "decimal"):
        return [None if t is None else category_name(float(t)) for t in texts]
    return list(texts)


def threshold_flags(df: Any, target: str, *, value: float | None = None,
                    percentile: float | None = None,
                    max_distinct: int = DEFAULT_MAX_DISTINCT) -> Any:
    """A numeric target as a Spark column of event flags, as locally: a 0/1
    target as it is; any other with 1.0 above (strictly) the threshold
    `value`, or the linear-interpolation `percentile` (0 to 100) of its
    finite values, which a first pass counts per distinct target value. A
    first check looks for one row that is neither 0 nor 1."""
    F = spark_functions()
    if not is_numeric(df, target):
        raise TargetError(f"the target {target!r} is not numeric: give event= (the value of an "
                          "event) instead of a threshold")
    y = F.col(target).cast("double")
    known = y.isNotNull() & ~F.isnan(y)
    # A 0/1 target is used as it is, whatever the threshold: one row that is
    # neither ends the check.
    if not df.where(known & ~y.isin(0.0, 1.0)).limit(1).collect():
        return F.when(known, y)
    if value is not None:
        cut = float(value)
    else:
        assert percentile is not None
        if not 0.0 <= percentile <= 100.0:
            raise TargetError(f"percentile must be between 0 and 100, not {percentile!r}")
        cut = _target_percentile(df, target, y.alias("y"), known, percentile, max_distinct)
    return F.when(known, (y > F.lit(cut)).cast("double"))


def _target_percentile(df: Any, target: str, y: Any, known: Any, percentile: float,
                       max_distinct: int) -> float:
    """The `percentile` of the finite target values, from their counts per
    distinct value, which are counted in Spark before they are collected."""
    counted = df.select(y).where(known).groupBy("y").count().persist()
    try:
        distinct = counted.count()
        if distinct > max_distinct:
            raise ValueError(f"the target {target!r} has {distinct} distinct values, more than "
                             f"max_distinct={max_distinct}: give the threshold as value=")
        table = counted.toArrow()
    finally:
        counted.unpersist()
    values = table.column("y").to_numpy(zero_copy_only=False).astype(np.float64)
    order = np.argsort(values)
    return _native.percentile_from_counts(
        values[order], table.column("count").to_numpy().astype(np.int64)[order], percentile)


def _prepared(df: Any, flag: Any) -> Any:
    """`df` with the event flag and its 0/1 check as columns, so that Spark
    evaluates them once per row rather than once per counted column."""
    F = spark_functions()
    return df.select("*", flag.alias(_FLAG), (~flag.isin(0.0, 1.0)).cast("int").alias(_NOT_BINARY))


def _entry(index: int, name: str, type_name: str, as_categories: bool) -> Any:
    """The (column, value, category, label, check) entry of one column of a
    row: numbers in `x`, categories as text in `s` (NaN a missing category)."""
    F = spark_functions()
    column = F.col(name)
    if as_categories:
        text = F.when(~F.isnan(column), column.cast("string")) \
            if type_name in ("float", "double") else column.cast("string")
        x, s = F.lit(None).cast("double"), text
    else:
        x, s = column.cast("double"), F.lit(None).cast("string")
    # The target is checked once per row, with the first column.
    check = F.col(_NOT_BINARY) if index == 0 else F.lit(None).cast("int")
    return F.struct(F.lit(index).alias("c"), x.alias("x"), s.alias("s"), F.col(_FLAG).alias("y"),
                    check.alias("b"))


def count_columns(df: Any, columns: Sequence[str], target: str, *, event: Any = None,
                  flag: Any = None,
                  categorical: Sequence[str] = (),
                  special_values: Mapping[str, Sequence[float]] | None = None,
                  max_distinct: int = DEFAULT_MAX_DISTINCT, approximate: int | None = None,
                  ) -> dict[str, ColumnCounts | CategoryCounts]:
    """The merged counts of every column against the target, in one pass:
    the columns of `categorical` by category, the others by value, against
    the rows equal to `event`, a 0/1 target, or the event `flag` given (as
    `threshold_flags` makes it); a numeric
    column with more than `max_distinct` values is an error, or with
    `approximate` its values are merged into that many cells."""
    F = spark_functions()
    prepared = _prepared(df, event_flags(df, target, event) if flag is None else flag)
    types = {name: spark_type(df, name) for name in columns}
    entries = [_entry(i, name, types[name], name in categorical) for i, name in enumerate(columns)]
    exploded = prepared.select(F.explode(F.array(*entries)).alias("e")).select("e.*")
    grouped = exploded.groupBy("c", "x", "s").agg(
        F.count(F.lit(1)).alias("n"), F.count("y").alias("known"), F.sum("y").alias("ones"),
        F.sum("b").alias("bad"))
    # Kept in Spark while the distinct values are counted there, so that the
    # grouping runs once and nothing comes to the driver before the count.
    grouped = grouped.persist()
    try:
        x, s = F.col("x"), F.col("s")
        counted = grouped.groupBy("c").agg(
            F.count(F.when(~F.isnan(x), x)).alias("values"), F.count(s).alias("categories"))
        distinct = {r["c"]: r["values"] + r["categories"] for r in counted.collect()}
        over = [i for i in range(len(columns)) if distinct.get(i, 0) > max_distinct]
        for i in over:
            if approximate is None or columns[i] in categorical:
                name = columns[i]
                raise ValueError(
                    f"column {name!r} has {distinct[i]} distinct values, more than "
                    f"max_distinct={max_distinct} can bring to the driver: round it "
                    f"(for example F.round({name!r}, 4)) and bin the rounded column, or give "
                    f"approximate=K to merge its values into K cells")
        if over:
            assert approximate is not None
            specials = special_values or {}
            table = _merged_into_cells(grouped, {i: specials.get(columns[i], ()) for i in over},
                                       approximate).toArrow()
        else:
            table = grouped.toArrow()
    finally:
        grouped.unpersist()
    if int(np.nansum(table.column("bad").to_numpy(zero_copy_only=False))) > 0:
        raise TargetError(f"the target {target!r} is not 0/1: give event= (the value of an event)")
    c = table.column("c").to_numpy()
    # NULL comes as NaN, and a NULL sum (no known target) as 0.
    value = table.column("x").to_numpy(zero_copy_only=False).astype(np.float64)
    texts = table.column("s").to_pylist()
    rows = table.column("n").to_numpy().astype(np.int64)
    known = table.column("known").to_numpy().astype(np.int64)
    ones = np.nan_to_num(table.column("ones").to_numpy(zero_copy_only=False)).astype(np.int64)
    specials = special_values or {}
    out: dict[str, ColumnCounts | CategoryCounts] = {}
    for i, name in enumerate(columns):
        mine = c == i
        out[name] = category_counts(
            _category_names([t for t, m in zip(texts, mine) if m], types[name]),
            rows[mine], known[mine], ones[mine]) if name in categorical else \
            ColumnCounts(value[mine], rows[mine], known[mine], ones[mine], specials.get(name, ()))
    return out


def _merged_into_cells(grouped: Any, specials: Mapping[int, Sequence[float]], cells: int) -> Any:
    """The groups of the columns numbered in `specials` with their finite
    values (special values aside) merged into `cells` cells of about equal
    rows: in ascending order of value, a value whose rows start after a
    fraction k / cells of the column's rows, and before (k + 1) / cells, is in
    cell k, which takes its largest value and the sum of its counts. Counts
    stay exact; cut points can only fall at the end of a cell."""
    from pyspark.sql import Window

    F = spark_functions()
    if cells < 1:
        raise ValueError(f"approximate must be a number of cells, at least 1, not {cells!r}")
    x, c = F.col("x"), F.col("c")
    mergeable = F.lit(False)
    for index, values in specials.items():
        ordinary = ~x.isin(*values) if len(values) else F.lit(True)
        mergeable = mergeable | ((c == index) & ordinary)
    mergeable = mergeable & x.isNotNull() & ~F.isnan(x) & ~x.isin(math.inf, -math.inf)
    ordered = Window.partitionBy("c").orderBy("x")
    before = F.coalesce(F.sum("n").over(ordered.rowsBetween(Window.unboundedPreceding, -1)),
                        F.lit(0))
    cell = F.floor(before * cells / F.sum("n").over(Window.partitionBy("c")))
    merged = grouped.filter(mergeable).withColumn("cell", cell).groupBy("c", "cell").agg(
        F.max("x").alias("x"), F.lit(None).cast("string").alias("s"), F.sum("n").alias("n"),
        F.sum("known").alias("known"), F.sum("ones").alias("ones"), F.sum("bad").alias("bad"))
    kept = grouped.filter(~mergeable)
    return kept.unionByName(merged.select(*kept.columns))
