"""A `MulticlassTableBinning` fitted over a Spark DataFrame in one pass:
every row becomes one entry per column (its value or category and the
target's value), Spark counts the entries of each (column, value, target
value) across the partitions, and the driver builds each column's rows per
value and class from those counts and bins them as the local fit bins the
rows: bit for bit the same tables. With sample weights, the rows of each
distinct weight are counted apart and the driver adds count times weight
exactly, rounded once per value and class, as the local fit sums them."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np

from .._core.checks import NO_WEIGHT
from .._counting import BOOLEAN, NUMBER, ColumnType, over_max_distinct
from .._multiclass_counting import (
    MAX_CLASSES,
    class_counts_from_groups,
    plan_class_columns,
    too_many_classes,
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
    keys = ["c", "x", "s", "tx", "ts"]
    if sample_weight is not None:
        checked_weight_column(df, sample_weight)
        w = column_of(sample_weight).cast("double")
        refused = w.isNull() | F.isnan(w) | (w < 0.0) | w.isin(np.inf, -np.inf)
        if df.where(refused).limit(1).count():
            raise ValueError(refused_weight(df, sample_weight, column_of(sample_weight)))
        # Rows of weight 0 are as if absent; each distinct weight is a group of its own.
        with_target = with_target.withColumn("w", w).where(F.col("w") > 0.0)
        keys.append("w")
    found = (
        with_target.select("tx", "ts")
        .where(F.col("tx").isNotNull() & ~F.isnan("tx") | F.col("ts").isNotNull())
        .distinct()
        .limit(MAX_CLASSES + 1)
        .count()
    )
    if found > MAX_CLASSES:
        raise too_many_classes(y, found)
    counted: dict[str, Any] = {}
    classes: list[str] = []
    if columns:
        entries = [
            _entry(i, n, types[n], n in categorical, keys[3:]) for i, n in enumerate(columns)
        ]
        grouped = (
            with_target.select(F.explode(F.array(*entries)).alias("e"))
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
            rows = grouped.collect()
        finally:
            grouped.unpersist()
        if sample_weight is not None and not rows:
            raise ValueError(NO_WEIGHT)
        groups: Mapping[str, Sequence[Any]] = {key: [r[key] for r in rows] for key in [*keys, "n"]}
        classes, counted = class_counts_from_groups(groups, columns, types, categorical, types[y])
    return binning.fit_counts(counted, classes, list(df.columns), plan.skipped, plan.wanted)
