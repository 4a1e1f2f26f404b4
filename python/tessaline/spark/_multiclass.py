"""A `MulticlassTableBinning` fitted over a Spark DataFrame: Spark finds
the target's distinct values, which the driver names and numbers as classes
as the local fit does; in one pass every row then becomes one entry per
column (its value or category and its class), Spark counts the entries of
each (column, value, class) across the partitions, and the driver builds
each column's rows per value and class from those counts and bins them as
the local fit bins the rows: bit for bit the same tables. With sample
weights, the rows of each distinct weight are counted apart and the driver
adds count times weight exactly, rounded once per value and class, as the
local fit sums them."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import numpy as np

from .._core.checks import NO_WEIGHT
from .._counting import BOOLEAN, NUMBER, ColumnType, over_max_distinct
from .._multiclass_counting import (
    MAX_CLASSES,
    checked_classes,
    class_counts_from_groups,
    plan_class_columns,
)
from ._counting import _category_text, column_of, column_type, spark_functions
from ._weighted_counting import checked_weight_column, refused_weight


def _target(y: str, kind: ColumnType) -> tuple[Any, Any]:
    """The target as (double, text): a number as a double, any other value
    (a boolean, a category) as its text."""
    F = spark_functions()
    if kind.kind == NUMBER:
        return column_of(y).cast("double"), F.lit(None).cast("string")
    if kind.kind == BOOLEAN:
        return F.lit(None).cast("double"), column_of(y).cast("string")
    if kind.kind == "category":
        return F.lit(None).cast("double"), _category_text(y, kind.name)
    raise ValueError(
        f"the target {y!r} is a column of {kind.name} values: a multiclass target "
        "holds numbers or categories"
    )


def _entry(
    index: int, name: str, kind: ColumnType, as_categories: bool, rest: Sequence[str]
) -> Any:
    F = spark_functions()
    if as_categories:
        x, s = F.lit(None).cast("double"), _category_text(name, kind.name)
    else:
        x, s = column_of(name).cast("double"), F.lit(None).cast("string")
    return F.struct(F.lit(index).alias("c"), x.alias("x"), s.alias("s"), *map(F.col, rest))


def _class_code(found: Sequence[Any], codes: Sequence[int]) -> Any:
    """The class code of a row (-1: a missing target) from the distinct
    target values `found` (tx, ts) and their codes."""
    F = spark_functions()
    code = F.lit(-1)
    for (value, text), c in zip(found, codes):
        if c >= 0:
            test = F.col("ts") == F.lit(text) if text is not None else F.col("tx") == F.lit(value)
            code = F.when(test, F.lit(c)).otherwise(code)
    return code


def _checked_weights(df: Any, sample_weight: str) -> Any:
    """The weight column as a double, once the weights the local fit refuses
    (missing, negative, infinite; none above 0) are refused as there."""
    F = spark_functions()
    checked_weight_column(df, sample_weight)
    w = column_of(sample_weight).cast("double")
    refused = w.isNull() | F.isnan(w) | (w < 0.0) | w.isin(np.inf, -np.inf)
    n_bad, n_positive, n_rows = df.agg(
        F.sum(refused.cast("long")), F.sum((w > 0.0).cast("long")), F.count(F.lit(1))
    ).first()
    if n_bad:
        raise ValueError(refused_weight(df, sample_weight, column_of(sample_weight)))
    if n_rows and not n_positive:
        raise ValueError(NO_WEIGHT)
    return w


def fit_multiclass(
    binning: Any, df: Any, y: str, *, sample_weight: str | None, max_distinct: int
) -> Any:
    """`binning` (a `MulticlassTableBinning`) fitted on the rows of `df`
    against its column `y`, as `tessaline.spark.fit` describes."""
    F = spark_functions()
    types = {n: column_type(df, n) for n in df.columns}
    plan = plan_class_columns(binning, [n for n in df.columns if n != sample_weight], types, y)
    columns, categorical = plan.counted, plan.categorical
    tx, ts = _target(y, types[y])
    with_target = df.select("*", tx.alias("tx"), ts.alias("ts"))
    keys = ["c", "x", "s", "k"]
    if sample_weight is not None:
        # Rows of weight 0 are as if absent; each distinct weight is a group of its own.
        w = _checked_weights(df, sample_weight)
        with_target = with_target.withColumn("w", w).where(F.col("w") > 0.0)
        keys.append("w")
    found = [
        (r["tx"], r["ts"])
        for r in with_target.select("tx", "ts")
        .where(F.col("tx").isNotNull() & ~F.isnan("tx") | F.col("ts").isNotNull())
        .distinct()
        .limit(MAX_CLASSES + 1)
        .collect()
    ]
    codes, classes = checked_classes(y, [v for v, _ in found], [t for _, t in found], types[y])
    counted: dict[str, Any] = {}
    if columns:
        coded = with_target.withColumn("k", _class_code(found, codes.tolist()))
        entries = [
            _entry(i, n, types[n], n in categorical, keys[3:]) for i, n in enumerate(columns)
        ]
        grouped = (
            coded.select(F.explode(F.array(*entries)).alias("e"))
            .select("e.*")
            .groupBy(*keys)
            .agg(F.count(F.lit(1)).alias("n"))
            .persist()
        )
        try:
            distinct = {
                int(r["c"]): int(r["k"])
                for r in grouped.groupBy("c")
                .agg((F.countDistinct("x") + F.countDistinct("s")).alias("k"))
                .collect()
            }
            over_max_distinct(
                columns, distinct, categorical, max_distinct, None, lambda n: f"F.round({n!r}, 4)"
            )
            table = grouped.toArrow()
        finally:
            grouped.unpersist()
        groups = {
            key: table.column(key).to_pylist()
            if key == "s"
            else table.column(key).to_numpy(zero_copy_only=False)
            for key in [*keys, "n"]
        }
        counted = class_counts_from_groups(groups, columns, types, categorical, len(classes))
    return binning.fit_counts(counted, classes, list(df.columns), plan.skipped, plan.wanted)
