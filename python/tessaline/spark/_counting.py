"""Counting in Spark: every column of a table grouped by value (or category
text) with its rows, rows of known target and events, in one pass, the
distinct values counted in Spark before anything reaches the driver."""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from typing import Any, Literal

import numpy as np

from .._binning.column_counts import CategoryCounts, ColumnCounts
from .._core import native
from .._core.checks import NO_WEIGHT
from .._core.dependencies import require
from .._core.target import SHOWN_VALUES, not_binary
from .._counting import (
    BOOLEAN,
    CATEGORY,
    DEFAULT_MAX_DISTINCT,
    NUMBER,
    OTHER,
    TIME,
    ColumnType,
    check_target_distinct,
    counts_from_groups,
    not_zero_one,
    over_max_distinct,
    target_threshold,
)
from ..exceptions import TargetError
from . import _weighted_counting as weighted

Counting = Literal["dataframe", "arrow"]
# The prepared target and its check, as columns of the counted frame.
_FLAG, _NOT_BINARY = "__tessaline_y", "__tessaline_not_binary"


def spark_functions() -> Any:
    return require("pyspark.sql.functions", "tessaline.spark")


def column_of(name: str) -> Any:
    """The Spark column named `name`, taken literally: a dot or a backtick in
    it is part of the name, not a field access or a quote."""
    return spark_functions().col("`" + name.replace("`", "``") + "`")


def _target_values(df: Any, target: str) -> list[str]:
    """The first distinct values of a target as text, ascending, as many as
    an error message names."""
    F = spark_functions()
    text = column_of(target).cast("string").alias("v")
    rows = (
        df.select(text)
        .where(F.col("v").isNotNull())
        .distinct()
        .orderBy("v")
        .limit(SHOWN_VALUES + 1)
        .collect()
    )
    return [row["v"] for row in rows]


def event_flags(df: Any, target: str, event: Any = None) -> Any:
    """The target as a Spark column of 1.0 (event), 0.0 and NULL (missing):
    rows equal to `event`, or a 0/1 or boolean target as it is; a target of
    text without `event` is an error naming its values, as locally."""
    F = spark_functions()
    y = column_of(target)
    if event is None and not is_numeric(df, target):
        raise not_binary(_target_values(df, target))
    if event is not None:
        known = (
            y.isNotNull() & ~F.isnan(y.cast("double")) if is_numeric(df, target) else y.isNotNull()
        )
        return F.when(known, F.when(y == F.lit(event), 1.0).otherwise(0.0))
    yd = y.cast("double")
    return F.when(yd.isNotNull() & ~F.isnan(yd), yd)


def spark_type(df: Any, name: str) -> str:
    return str(df.schema[name].dataType.typeName())


def is_numeric(df: Any, name: str) -> bool:
    types = require("pyspark.sql.types", "tessaline.spark")

    return isinstance(df.schema[name].dataType, (types.NumericType, types.BooleanType))


def holds_categories(df: Any, name: str) -> bool:
    """Whether a column's values are categories by their type (strings, booleans)."""
    return spark_type(df, name) in ("string", "boolean", "char", "varchar")


def holds_times(df: Any, name: str) -> bool:
    """Whether a column holds dates, times or durations, which are not
    binned (their numbers depend on their unit), as locally."""
    types = require("pyspark.sql.types", "tessaline.spark")

    return isinstance(
        df.schema[name].dataType,
        (
            types.DateType,
            types.TimestampType,
            types.TimestampNTZType,
            types.DayTimeIntervalType,
        ),
    )


def column_type(df: Any, name: str) -> ColumnType:
    """A column's kind by its Spark type."""
    types = require("pyspark.sql.types", "tessaline.spark")

    data_type, type_name = df.schema[name].dataType, spark_type(df, name)
    if holds_times(df, name):
        return ColumnType(TIME, type_name)
    if type_name == "boolean":
        return ColumnType(BOOLEAN, type_name)
    if holds_categories(df, name):
        return ColumnType(CATEGORY, type_name)
    if isinstance(data_type, types.NumericType):
        return ColumnType(NUMBER, type_name, integral=isinstance(data_type, types.IntegralType))
    return ColumnType(OTHER, type_name)


def threshold_flags(
    df: Any,
    target: str,
    *,
    value: float | None = None,
    percentile: float | None = None,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
) -> Any:
    """A numeric target as a Spark column of event flags, as locally: a 0/1
    target as it is; any other with 1.0 above (strictly) the threshold
    `value`, or the linear-interpolation `percentile` (0 to 100) of its
    finite values (see `target_cut`)."""
    cut = target_cut(df, target, value=value, percentile=percentile, max_distinct=max_distinct)
    return cut_flags(target, cut)


def target_cut(
    df: Any,
    target: str,
    *,
    value: float | None = None,
    percentile: float | None = None,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
) -> float | None:
    """The threshold of a numeric target: None for a 0/1 target, used as it
    is whatever the threshold (a first check looks for one row that is
    neither 0 nor 1); else `value`, or the `percentile` of its finite values,
    which a first pass counts per distinct target value."""
    F = spark_functions()
    if not is_numeric(df, target):
        raise TargetError(
            f"the target {target!r} is not numeric: give event= (the value of an "
            "event) instead of a threshold"
        )
    y = column_of(target).cast("double")
    known = y.isNotNull() & ~F.isnan(y)
    if not df.where(known & ~y.isin(0.0, 1.0)).limit(1).collect():
        return None
    if value is not None:
        return float(value)
    assert percentile is not None
    if not 0.0 <= percentile <= 100.0:
        raise TargetError(f"percentile must be between 0 and 100, not {percentile!r}")
    return _target_percentile(df, target, y.alias("y"), known, percentile, max_distinct)


def cut_flags(target: str, cut: float | None) -> Any:
    """The event flags of the numeric `target`: 1.0 above (strictly) `cut`,
    or the 0/1 target as it is when `cut` is None; NULL where it is missing."""
    F = spark_functions()
    y = column_of(target).cast("double")
    known = y.isNotNull() & ~F.isnan(y)
    return F.when(known, y if cut is None else (y > F.lit(cut)).cast("double"))


def _target_percentile(
    df: Any, target: str, y: Any, known: Any, percentile: float, max_distinct: int
) -> float:
    """The `percentile` of the finite target values, from their counts per
    distinct value, which are counted in Spark before they are collected."""
    counted = df.select(y).where(known).groupBy("y").count().persist()
    try:
        check_target_distinct(target, counted.count(), max_distinct)
        table = counted.toArrow()
    finally:
        counted.unpersist()
    return target_threshold(
        table.column("y").to_numpy(zero_copy_only=False),
        table.column("count").to_numpy(),
        target,
        None,
        percentile,
        max_distinct,
    )


def _prepared(df: Any, flag: Any) -> Any:
    """`df` with the event flag and its 0/1 check as columns, so that Spark
    evaluates them once per row rather than once per counted column."""
    return df.select("*", flag.alias(_FLAG), (~flag.isin(0.0, 1.0)).cast("int").alias(_NOT_BINARY))


def _category_text(name: str, type_name: str) -> Any:
    """A column read as categories: its text (NaN a missing category)."""
    F = spark_functions()
    column = column_of(name)
    if type_name in ("float", "double"):
        return F.when(~F.isnan(column), column.cast("string"))
    return column.cast("string")


def _entry(index: int, name: str, type_name: str, as_categories: bool, checks: bool) -> Any:
    """The (column, value, category, label, check) entry of one column of a
    row: numbers in `x`, categories as text in `s` (NaN a missing category);
    the 0/1 check of the target rides with one column only (`checks`)."""
    F = spark_functions()
    column = column_of(name)
    if as_categories:
        x, s = F.lit(None).cast("double"), _category_text(name, type_name)
    else:
        x, s = column.cast("double"), F.lit(None).cast("string")
    check = F.col(_NOT_BINARY) if checks else F.lit(None).cast("int")
    return F.struct(
        F.lit(index).alias("c"),
        x.alias("x"),
        s.alias("s"),
        F.col(_FLAG).alias("y"),
        check.alias("b"),
    )


def _grouped(
    prepared: Any,
    columns: Sequence[str],
    types: Mapping[str, str],
    categorical: Sequence[str],
    counting: Counting,
) -> Any:
    """Every column's groups (c, x, s) with their rows n, rows of known
    target, events and rows failing the 0/1 check."""
    F = spark_functions()
    if counting not in ("dataframe", "arrow"):
        raise ValueError(f"counting must be 'dataframe' or 'arrow', not {counting!r}")
    by_kernel = [
        i for i, name in enumerate(columns) if counting == "arrow" and name not in categorical
    ]
    by_rows = [i for i in range(len(columns)) if i not in by_kernel]
    parts = []
    if by_rows:
        entries = [
            _entry(
                i,
                columns[i],
                types[columns[i]],
                columns[i] in categorical,
                checks=i == by_rows[0] and not by_kernel,
            )
            for i in by_rows
        ]
        exploded = prepared.select(F.explode(F.array(*entries)).alias("e")).select("e.*")
        parts.append(
            exploded.groupBy("c", "x", "s").agg(
                F.count(F.lit(1)).alias("n"),
                F.count("y").alias("known"),
                F.sum("y").alias("ones"),
                F.sum("b").alias("bad"),
            )
        )
    if by_kernel:
        fields = [column_of(columns[i]).cast("double").alias(f"x{i}") for i in by_kernel]
        counted = prepared.select(*fields, _FLAG, _NOT_BINARY).mapInArrow(
            _partition_counter(by_kernel), _KERNEL_SCHEMA
        )
        parts.append(
            counted.groupBy("c", "x", "s").agg(
                F.sum("n").alias("n"),
                F.sum("known").alias("known"),
                F.sum("ones").cast("double").alias("ones"),
                F.sum("bad").alias("bad"),
            )
        )
    return parts[0] if len(parts) == 1 else parts[0].unionByName(parts[1])


# Rows a partition's kernel counts at once: enough for each count to merge
# many rows, few enough to bound the worker's memory.
_KERNEL_CHUNK_ROWS = 1_000_000
_KERNEL_SCHEMA = "c int, x double, s string, n long, known long, ones long, bad long"


def _partition_counter(indices: Sequence[int]) -> Any:
    """The mapInArrow function that counts the columns x<i> of a partition
    by distinct value, chunk by chunk, with the native kernel."""

    def count_partition(batches: Any) -> Any:
        pa = require("pyarrow", "tessaline.spark")

        chunk: list[Any] = []
        rows = 0
        for batch in batches:
            chunk.append(batch)
            rows += batch.num_rows
            if rows >= _KERNEL_CHUNK_ROWS:
                yield from _counted_chunk(pa.Table.from_batches(chunk), indices)
                chunk, rows = [], 0
        if chunk:
            yield from _counted_chunk(pa.Table.from_batches(chunk), indices)

    return count_partition


def _counted_chunk(table: Any, indices: Sequence[int]) -> Any:
    """One record batch per column of the chunk: its finite and infinite
    values with rows of known target and events, the rows whose target is
    unknown per value, and one row for the missing values (NULL and NaN),
    which also carries the chunk's count of rows failing the 0/1 check."""
    pa = require("pyarrow", "tessaline.spark")

    y = table.column(_FLAG).to_numpy(zero_copy_only=False).astype(np.float64)
    known = ~np.isnan(y)
    # Non-binary flags are reported by the check; any non-zero one counts as an event here.
    labels = (y[known] != 0.0).astype(np.int32)
    not_binary = int(np.nansum(table.column(_NOT_BINARY).to_numpy(zero_copy_only=False)))
    for position, index in enumerate(indices):
        x = table.column(f"x{index}").to_numpy(zero_copy_only=False).astype(np.float64)
        with_y = native.count_values(x[known], labels)
        unknown_x = x[~known]
        without_y = native.count_values(unknown_x, np.zeros(unknown_x.size, dtype=np.int32))
        missing = np.isnan(x[known])
        n_missing = int(missing.sum() + np.isnan(unknown_x).sum())
        labelled = with_y["c0"] + with_y["c1"]
        size = len(with_y["value"]) + len(without_y["value"]) + 1
        yield pa.RecordBatch.from_pydict(
            {
                "c": np.full(size, index, dtype=np.int32),
                "x": np.concatenate((with_y["value"], without_y["value"], [np.nan])),
                "s": pa.nulls(size, pa.string()),
                "n": np.concatenate((labelled, without_y["c0"], [n_missing])).astype(np.int64),
                "known": np.concatenate(
                    (labelled, np.zeros(len(without_y["value"])), [missing.sum()])
                ).astype(np.int64),
                "ones": np.concatenate(
                    (with_y["c1"], np.zeros(len(without_y["value"])), [labels[missing].sum()])
                ).astype(np.int64),
                "bad": np.r_[np.zeros(size - 1), not_binary if position == 0 else 0].astype(
                    np.int64
                ),
            },
            schema=pa.schema(
                [
                    ("c", pa.int32()),
                    ("x", pa.float64()),
                    ("s", pa.string()),
                    ("n", pa.int64()),
                    ("known", pa.int64()),
                    ("ones", pa.int64()),
                    ("bad", pa.int64()),
                ]
            ),
        )


def count_columns(
    df: Any,
    columns: Sequence[str],
    target: str,
    *,
    event: Any = None,
    flag: Any = None,
    categorical: Sequence[str] = (),
    special_values: Mapping[str, Sequence[float]] | None = None,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    approximate: int | None = None,
    counting: Counting = "dataframe",
    sample_weight: str | None = None,
) -> dict[str, ColumnCounts | CategoryCounts]:
    """The merged counts of every column against the target, in one pass:
    the columns of `categorical` by category, the others by value, against
    the rows equal to `event`, a 0/1 target, or the event `flag` given (as
    `threshold_flags` makes it). A numeric column with more than
    `max_distinct` values is an error, or with `approximate` its values are
    merged into that many cells. `counting` "dataframe" groups the rows with
    Spark's own aggregation; "arrow" counts the numeric columns of each
    partition with the native kernel through mapInArrow (faster, and needs
    tessaline on the executors), then sums the partitions' counts in Spark.
    With `sample_weight` (the name of a column of weights) every row counts by
    its weight: the kernel counts every column on the executors, whatever
    `counting` says (see `_weighted_counting` for the exact sums)."""
    F = spark_functions()
    absent = [name for name in [target, *columns] if name not in df.columns]
    if absent:
        raise ValueError(f"column(s) not in the DataFrame: {', '.join(map(repr, absent))}")
    if sample_weight is not None:
        weighted.checked_weight_column(df, sample_weight)
    prepared = _prepared(df, event_flags(df, target, event) if flag is None else flag)
    types = {name: spark_type(df, name) for name in columns}
    if sample_weight is None:
        grouped = _grouped(prepared, columns, types, categorical, counting)
    else:
        grouped = weighted.grouped(
            prepared,
            (F.col(_FLAG), F.col(_NOT_BINARY)),
            column_of(sample_weight),
            [
                _category_text(n, types[n]) if n in categorical else column_of(n).cast("double")
                for n in columns
            ],
            [n in categorical for n in columns],
        )
    # Kept in Spark while the distinct values are counted there, so that the
    # grouping runs once and nothing comes to the driver before the count.
    grouped = grouped.persist()
    try:
        x, s = F.col("x"), F.col("s")
        counted = grouped.groupBy("c").agg(
            F.count(F.when(~F.isnan(x), x)).alias("values"), F.count(s).alias("categories")
        )
        distinct = {r["c"]: r["values"] + r["categories"] for r in counted.collect()}
        over = over_max_distinct(
            columns,
            distinct,
            categorical,
            max_distinct,
            approximate,
            lambda name: f"F.round({name!r}, 4)",
        )
        specials = special_values or {}
        if over:
            assert approximate is not None
            table = _merged_into_cells(
                grouped, {i: specials.get(columns[i], ()) for i in over}, approximate
            ).toArrow()
        else:
            table = grouped.toArrow()
    finally:
        grouped.unpersist()
    if int(np.nansum(table.column("bad").to_numpy(zero_copy_only=False))) > 0:
        raise not_zero_one(target)
    if sample_weight is not None:
        # In one order whatever the partitioning, for the sums over groups.
        table = table.sort_by([("c", "ascending"), ("x", "ascending"), ("s", "ascending")])
    # NULL comes as NaN, and a NULL sum (no known target) as 0.
    groups = {
        key: table.column(key).to_pylist()
        if key == "s"
        else table.column(key).to_numpy(zero_copy_only=False)
        for key in ("c", "x", "s", "n", "known", "ones")
    }
    if sample_weight is not None:
        if int(np.nansum(table.column("bad_weight").to_numpy(zero_copy_only=False))) > 0:
            raise ValueError(weighted.refused_weight(df, sample_weight, column_of(sample_weight)))
        if not np.asarray(groups["n"])[np.asarray(groups["c"]) == 0].sum():
            raise ValueError(NO_WEIGHT)
        groups.update(weighted.summed(table))
    return counts_from_groups(
        groups, columns, {n: column_type(df, n) for n in columns}, categorical, specials
    )


def _merged_into_cells(grouped: Any, specials: Mapping[int, Sequence[float]], cells: int) -> Any:
    """The groups of the columns numbered in `specials` with their finite
    values (special values aside) merged into `cells` cells of about equal
    rows: in ascending order of value, a value whose rows start after a
    fraction k / cells of the column's rows, and before (k + 1) / cells, is in
    cell k, which takes its largest value and the sum of its counts. Counts
    stay exact; cut points can only fall at the end of a cell."""
    Window = require("pyspark.sql", "tessaline.spark").Window
    F = spark_functions()
    x, c = F.col("x"), F.col("c")
    mergeable = F.lit(False)
    for index, values in specials.items():
        ordinary = ~x.isin(*values) if len(values) else F.lit(True)
        mergeable = mergeable | ((c == index) & ordinary)
    mergeable = mergeable & x.isNotNull() & ~F.isnan(x) & ~x.isin(math.inf, -math.inf)
    ordered = Window.partitionBy("c").orderBy("x")
    before = F.coalesce(
        F.sum("n").over(ordered.rowsBetween(Window.unboundedPreceding, -1)), F.lit(0)
    )
    cell = F.floor(before * cells / F.sum("n").over(Window.partitionBy("c")))
    # With weights, the partials of the cell's values go together.
    partials = [F.flatten(F.collect_list(k)).alias(k) for k in ("w", "w0", "w1")]
    weighted_sums = [F.sum("bad_weight").alias("bad_weight"), *partials]
    merged = (
        grouped.filter(mergeable)
        .withColumn("cell", cell)
        .groupBy("c", "cell")
        .agg(
            F.max("x").alias("x"),
            F.lit(None).cast("string").alias("s"),
            F.sum("n").alias("n"),
            F.sum("known").alias("known"),
            F.sum("ones").alias("ones"),
            F.sum("bad").alias("bad"),
            *(weighted_sums if "w" in grouped.columns else []),
        )
    )
    kept = grouped.filter(~mergeable)
    return kept.unionByName(merged.select(*kept.columns))
