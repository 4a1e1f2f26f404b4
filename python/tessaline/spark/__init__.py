"""Exact binning over Spark DataFrames, with the same results as the local API.

Every result of this package is a function of counts that add up across
partitions: per column, the rows of each class at each distinct value (or
category), plus the rows set aside (missing or infinite values, missing
targets). Spark sums those counts by key in one pass over the table for all
columns; the driver collects them and the native core rebuilds the boundary
table, the split searches, the quantile cut points and the summaries from
them. No numerics are computed here.

    from tessaline import spark as tls
    binning = tls.fit(tl.TableBinning(method="optimal"), df, "creditability")
    scored = tls.transform(binning, df)            # WoE columns, as Spark expressions
    table = tls.mdlp_binning(df, "duration", "creditability", event="bad")
    loss = tls.continuous_binning(df, "duration", "loss", sample_weight="w")  # continuous target

Exact, bit for bit, against the local `TableBinning`, `mdlp_binning`,
`optimal_binning`, `quantile_binning`, `equal_width_binning`,
`categorical_binning`, `gini` and `psi` on the same rows, with two
exceptions: 0.0 and -0.0 are one value (a cut point or representative that is
a zero may differ in sign), and the ``representative="mean"``, which the
local summary adds in input order and which is added here in ascending order
of the values.

With a weight column (`sample_weight="w"`), every row counts by its weight:
the native kernel sums each partition's weights by value as exact partials,
which the driver adds exactly and rounds once, so that integer weights give
the local weighted tables bit for bit, whatever the partitioning.

Driver memory is bounded: the distinct values of every column are counted in
Spark first, and a column with more than `max_distinct` of them is an error
that names it (round the column, e.g. ``F.round(c, 4)``, and bin that), or,
with ``approximate=K``, has its values merged into K cells of about n/K rows
in Spark: counts stay exact, cut points can only fall at the end of a cell.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._binning.binning_table import BinningTable
from .._binning.column_counts import INF_KNOWN, KEPT, CategoryCounts, ColumnCounts, category_table
from .._binning.continuous import continuous_category_table, continuous_counts_table
from .._binning.continuous_binning_table import ContinuousBinningTable
from .._binning.special import checked_special_values
from .._binning.table_pairs import refuse_pairs
from .._binning.weights import NO_PERCENTILE
from .._continuous_table_binning import ContinuousTableBinning
from .._core import native
from .._core.arrays import TIMES_REFUSED
from .._core.score_direction import HigherIs, checked_direction
from .._counting import DEFAULT_MAX_DISTINCT, fit_planned, plan_columns
from .._diagnostics import GiniResult, PSIResult
from .._multiclass_table_binning import MulticlassTableBinning
from .._table_binning import COUNT_BUILDERS, Edits, TableBinning
from ._continuous import continuous_counts
from ._counting import (
    Counting,
    column_type,
    count_columns,
    cut_flags,
    holds_categories,
    is_numeric,
    spark_functions,
    spark_type,
    target_cut,
    threshold_flags,
)
from ._expressions import bin_index, transform_column
from ._multiclass import fit_multiclass
from ._spark_monitor import monitor
from ._weights import weighed_scores, weight_per_bin

__all__ = [
    "DEFAULT_MAX_DISTINCT",
    "bin_index",
    "categorical_binning",
    "continuous_binning",
    "count_columns",
    "fit",
    "fit_continuous",
    "fit_table",
    "gini",
    "mdlp_binning",
    "monitor",
    "optimal_binning",
    "psi",
    "quantile_binning",
    "threshold_flags",
    "transform",
    "transform_column",
]


def _specials_per_column(
    special_values: Sequence[float] | Mapping[str, Sequence[float]], columns: Sequence[str]
) -> dict[str, tuple[float, ...]]:
    per_column = (
        special_values
        if isinstance(special_values, Mapping)
        else {name: special_values for name in columns}
    )
    return {name: checked_special_values(per_column.get(name, ())) for name in columns}


def fit_table(
    df: Any,
    target: str,
    columns: Sequence[str] | None = None,
    *,
    event: Any = None,
    value: float | None = None,
    percentile: float | None = None,
    method: Literal["mdlp", "optimal", "quantile", "equal_width"] = "mdlp",
    special_values: Sequence[float] | Mapping[str, Sequence[float]] = (),
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    approximate: int | None = None,
    counting: Counting = "dataframe",
    sample_weight: str | None = None,
    **options: Any,
) -> dict[str, BinningTable]:
    """One table per numeric column of the Spark DataFrame `df` (default:
    every numeric column but the target) against `target`, with one pass over
    the data: `method` "mdlp", "optimal", "quantile" or "equal_width", with
    the options of that local function. The target is read as locally:
    rows equal to `event`, a 0/1 target, or a numeric target above a
    threshold `value` or `percentile`. `special_values` is a list for every
    column or a dict of lists per column, each kept in rows of its own.

    A column with more than `max_distinct` distinct values is an error, unless
    `approximate` gives a number of cells K: its values are then merged into K
    cells of about n/K rows each (a cell is its largest value), so that cut
    points can only fall at the end of a cell, while every count of the
    resulting bins stays exact.

    `counting` "dataframe" (the default) counts with Spark's own aggregation;
    "arrow" counts each partition with the native kernel through mapInArrow,
    faster, where tessaline is installed on the executors; same results.

    `sample_weight` names a column of weights (finite, non-negative; 0 as if
    the row were absent): every row counts by its weight, summed in the same
    pass by the native kernel on the executors (whatever `counting` says),
    each value's weights added exactly and rounded once, so that integer
    weights give the local ``sample_weight`` table bit for bit."""
    if columns is None:
        columns = [
            f.name
            for f in df.schema.fields
            if f.name not in (target, sample_weight) and is_numeric(df, f.name)
        ]
    not_numbers = [name for name in columns if name in df.columns and not is_numeric(df, name)]
    if not_numbers:
        raise ValueError(
            f"column(s) {', '.join(map(repr, not_numbers))} hold no numbers: bin "
            "categories with categorical_binning, or a whole table with fit"
        )
    specials = _specials_per_column(special_values, columns)
    build = COUNT_BUILDERS.get(method)
    if build is None:
        raise ValueError(
            f"method must be one of mdlp, optimal, quantile, equal_width, not {method!r}"
        )
    flag, cut = _flag(df, target, event, value, percentile, max_distinct, sample_weight)
    counted = count_columns(
        df,
        columns,
        target,
        event=event,
        flag=flag,
        special_values=specials,
        max_distinct=max_distinct,
        approximate=approximate,
        counting=counting,
        sample_weight=sample_weight,
    )
    tables = {
        name: build(counted[name], name=name, special_values=specials[name], **options)
        for name in columns
    }
    for table in tables.values():
        # A table that keeps how its target was read (MDLP's) keeps the
        # threshold, as the local function's table does.
        if cut is not None and table.metadata is not None and "threshold" in table.metadata:
            table.metadata.update(target_was_binary=False, threshold=cut)
    return tables


def _flag(
    df: Any,
    target: str,
    event: Any,
    value: float | None,
    percentile: float | None,
    max_distinct: int,
    sample_weight: str | None = None,
) -> tuple[Any, float | None]:
    """The event flags of a thresholded target, None for the others, with
    the threshold (None for a 0/1 target, which is used as it is)."""
    if sample_weight is not None and percentile is not None:
        raise ValueError(NO_PERCENTILE)
    if event is not None or (value is None and percentile is None):
        return None, None
    cut = target_cut(df, target, value=value, percentile=percentile, max_distinct=max_distinct)
    return cut_flags(target, cut), cut


def mdlp_binning(
    df: Any,
    x: str,
    y: str,
    *,
    event: Any = None,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    **options: Any,
) -> BinningTable:
    """`tessaline.mdlp_binning` of the column `x` against `y` of a Spark DataFrame."""
    return fit_table(df, y, [x], event=event, max_distinct=max_distinct, **options)[x]


def optimal_binning(
    df: Any,
    x: str,
    y: str,
    *,
    event: Any = None,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    **options: Any,
) -> BinningTable:
    """`tessaline.optimal_binning` of the column `x` against `y` of a Spark DataFrame."""
    return fit_table(
        df, y, [x], event=event, method="optimal", max_distinct=max_distinct, **options
    )[x]


# Category names of numbers are the local ones only.
NUMBERS_AS_CATEGORIES = "numbers binned as categories are binned locally only"


def continuous_binning(
    df: Any,
    x: str,
    y: str,
    *,
    sample_weight: str | None = None,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    **options: Any,
) -> ContinuousBinningTable:
    """`tessaline.continuous_binning` of the column `x` against the
    continuous target `y` of a Spark DataFrame, each row weighted by the
    column `sample_weight` (default 1): the rows are summed by value (or
    category: a string or boolean column) in one pass, as exact partials
    added exactly on the driver, so the table is the local one of the same
    rows, bit for bit."""
    categorical = options.pop("categorical", None)
    if categorical is None:
        categorical = holds_categories(df, x)
    elif categorical and not holds_categories(df, x):
        raise ValueError(f"column {x!r}: {NUMBERS_AS_CATEGORIES}")
    names, counts = continuous_counts(df, {x: categorical}, y, sample_weight, max_distinct)[x]
    if names is not None:
        return continuous_category_table(names, counts, name=x, **options)
    return continuous_counts_table(counts, name=x, **options)


def fit_continuous(
    binning: ContinuousTableBinning,
    df: Any,
    y: str,
    *,
    sample_weight: str | None = None,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
) -> ContinuousTableBinning:
    """`binning.fit(df, y, sample_weight)` of a ``TableBinning(target=
    "continuous")`` over a Spark DataFrame, in one pass over the data: every
    column but the target, the weights and the excluded ones; string and
    boolean columns are categories, numbers are numbers; a column of dates,
    times or another type is skipped with the reason. Bit for bit the local fit."""
    wanted = [c for c in df.columns if c not in (y, sample_weight) and c not in binning.exclude]
    counted: dict[str, bool] = {}
    skipped: dict[str, str] = {}
    for name in wanted:
        kind = column_type(df, name)
        if kind.kind == "time":
            skipped[name] = TIMES_REFUSED
        elif kind.kind in ("category", "boolean") or is_numeric(df, name):
            counted[name] = binning.is_categorical(name, kind.kind in ("category", "boolean"))
            if counted[name] and kind.kind == "number":
                skipped[name] = NUMBERS_AS_CATEGORIES
                del counted[name]
        else:
            skipped[name] = f"a column of type {kind.name} holds neither numbers nor categories"
    counts = continuous_counts(df, counted, y, sample_weight, max_distinct) if counted else {}
    return binning.fit_counts(counts, df.columns, skipped)


def quantile_binning(
    df: Any,
    x: str,
    y: str,
    *,
    n_bins: int = 10,
    event: Any = None,
    representative: Literal["median", "mean"] = "median",
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    approximate: int | None = None,
    counting: Counting = "dataframe",
    sample_weight: str | None = None,
) -> BinningTable:
    """`tessaline.quantile_binning` of the column `x` against `y` of a Spark DataFrame."""
    return fit_table(
        df,
        y,
        [x],
        event=event,
        method="quantile",
        n_bins=n_bins,
        representative=representative,
        max_distinct=max_distinct,
        approximate=approximate,
        counting=counting,
        sample_weight=sample_weight,
    )[x]


def categorical_binning(
    df: Any,
    x: str,
    y: str,
    *,
    event: Any = None,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    sample_weight: str | None = None,
    **options: Any,
) -> BinningTable:
    """`tessaline.categorical_binning` of the column `x` against `y` of a
    Spark DataFrame, each row weighted by the column `sample_weight` as in `fit_table`."""
    counts = count_columns(
        df,
        [x],
        y,
        event=event,
        categorical=[x],
        max_distinct=max_distinct,
        sample_weight=sample_weight,
    )[x]
    assert isinstance(counts, CategoryCounts)
    return category_table(counts, x, **options)


def fit(
    binning: TableBinning,
    df: Any,
    y: str,
    *,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    approximate: int | None = None,
    counting: Counting = "dataframe",
    edits: Edits | TableBinning | None = None,
    sample_weight: str | None = None,
) -> TableBinning:
    """`binning.fit(df, y)` over a Spark DataFrame: every column of `df` but
    the target `y` (a column name) and the excluded ones, with one pass over
    the data; returns `binning`, fitted as locally. String and boolean
    columns are categories, the others numbers unless named in `categorical`.
    The target is read with `binning.event`, `value` and `percentile` as
    locally. `max_distinct`, `approximate` and `counting` as in `fit_table`;
    `edits` are made again on the tables as `TableBinning.fit` makes them
    (the counts are on the driver: no further pass). `sample_weight` names
    a column of weights, which is not binned, as in `fit_table`. A binning of
    a continuous target goes to `fit_continuous`. A binning of a target of k
    classes (``TableBinning(target="multiclass")``) is counted by (column,
    value, class) in one pass, summed across the partitions, and binned on
    the driver as locally, bit for bit, weighted or not."""
    if isinstance(binning, ContinuousTableBinning):
        return fit_continuous(  # type: ignore[return-value]
            binning, df, y, sample_weight=sample_weight, max_distinct=max_distinct
        )
    if isinstance(binning, MulticlassTableBinning):
        return fit_multiclass(  # type: ignore[no-any-return]
            binning, df, y, sample_weight=sample_weight, max_distinct=max_distinct
        )
    columns = [n for n in df.columns if n != sample_weight]
    plan = plan_columns(binning, columns, {n: column_type(df, n) for n in columns}, y)
    counted = count_columns(
        df,
        plan.counted,
        y,
        event=binning.event,
        flag=_flag(
            df, y, binning.event, binning.value, binning.percentile, max_distinct, sample_weight
        )[0],
        categorical=plan.categorical,
        special_values=plan.numeric,
        max_distinct=max_distinct,
        approximate=approximate,
        counting=counting,
        sample_weight=sample_weight,
    )
    return fit_planned(binning, df.columns, plan, counted, edits)


def gini(
    df: Any,
    score: str,
    y: str,
    *,
    event: Any = None,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    approximate: int | None = None,
    counting: Counting = "dataframe",
    sample_weight: str | None = None,
    higher_is: HigherIs = "bad",
) -> GiniResult:
    """`tessaline.gini` of the column `score` against `y` of a Spark DataFrame,
    read in the direction `higher_is` (`max_distinct`, `approximate` and
    `counting` as in `fit_table`), each row
    counted by its column `sample_weight` when given (summed by Spark per
    distinct score; `approximate` and `counting` do not apply)."""
    checked_direction(higher_is)
    if sample_weight is not None:
        weighed = weighed_scores(df, score, y, event, sample_weight, max_distinct)
        return GiniResult(native.lorenz_from_counts(weighed), higher_is)
    counts = count_columns(
        df,
        [score],
        y,
        event=event,
        max_distinct=max_distinct,
        approximate=approximate,
        counting=counting,
    )[score]
    assert isinstance(counts, ColumnCounts)
    values = counts.values([KEPT, INF_KNOWN])
    return GiniResult(native.lorenz_from_counts(values), higher_is)


def transform(
    binning: TableBinning,
    df: Any,
    output: Literal["woe", "index", "label"] = "woe",
    selected: bool = False,
) -> Any:
    """`binning.transform` over a Spark DataFrame: each binned column of `df`
    (the selected ones with `selected=True`) replaced by its WoE, bin index
    or label, computed by Spark; other columns pass through."""
    wanted = binning.selected if selected else list(binning.tables)
    refuse_pairs(binning.pair_tables, wanted, "transform on Spark")
    absent = [n for n in wanted if n not in df.columns]
    if absent:
        raise ValueError(f"column(s) missing from the data: {', '.join(absent)}")
    return df.withColumns(
        {n: transform_column(binning.tables[n], n, output, spark_type(df, n)) for n in wanted}
    )


def psi(
    reference: Any,
    current: Any,
    column: str,
    splits: npt.ArrayLike | BinningTable,
    *,
    epsilon: float = 1e-12,
    sample_weight: str | None = None,
) -> PSIResult:
    """`tessaline.psi` of one column of two Spark DataFrames over the cut
    points `splits` (or a `BinningTable`'s), each row counted by its column
    `sample_weight` (of both DataFrames) when given."""
    cuts = np.asarray(
        splits.splits if isinstance(splits, BinningTable) else splits, dtype=np.float64
    )
    # The missing-value slot is the last one, after the k + 1 bins.
    slot = (
        spark_functions()
        .when(bin_index(column, cuts) < 0, len(cuts) + 1)
        .otherwise(bin_index(column, cuts))
    )
    if sample_weight is not None:
        (ref, ref_rows), (cur, cur_rows) = (
            weight_per_bin(f, slot, sample_weight, len(cuts) + 2) for f in (reference, current)
        )
        result = native.compare_from_weights(ref, cur, cuts, epsilon)
        shown = len(result["psi_bin"])
        result.update(rows_reference=ref_rows[:shown], rows_current=cur_rows[:shown])
        return PSIResult(result, cuts)
    counts = []
    for frame in (reference, current):
        per_bin = np.zeros(len(cuts) + 2, dtype=np.int64)
        for row in frame.groupBy(slot.alias("b")).count().collect():
            per_bin[row["b"]] = row["count"]
        counts.append(per_bin)
    return PSIResult(native.compare_from_counts(counts[0], counts[1], cuts, epsilon), cuts)
