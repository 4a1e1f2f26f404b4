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

Exact, bit for bit, against the local `TableBinning`, `mdlp_binning`,
`optimal_binning`, `quantile_binning`, `equal_width_binning`,
`categorical_binning`, `gini` and `psi` on the same rows, with two
exceptions: 0.0 and -0.0 are one value (a cut point or representative that is
a zero may differ in sign), and the ``representative="mean"``, which the
local summary adds in input order and which is added here in ascending order
of the values.

Driver memory is bounded: the distinct values of every column are counted in
Spark first, and a column with more than `max_distinct` of them is an error
that names it (round the column, e.g. ``F.round(c, 4)``, and bin that).
"""
from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

import _tessaline

from . import _native
from ._categories import category_name
from ._target import TargetError
from .binning import (
    OTHER,
    BinningTable,
    checked_special_values,
    default_minobs,
    with_special_rows,
)
from .categorical import categorical_table
from .diagnostics import GiniResult, PSIResult
from .optimal import DEFAULT_N_PREBINS, optimal_cuts
from .table import LIMITS, TableBinning

DEFAULT_MAX_DISTINCT = 20_000_000

# What a row of one column is, for the counters of the local preprocessing:
# x finite / missing (NULL or NaN) / infinite / a special value, crossed with
# whether its target is known.
KEPT, MISSING_X, MISSING_Y, MISSING_BOTH, INF_KNOWN, INF_MISSING_Y, SPECIAL, SPECIAL_MISSING_Y = \
    range(8)
_NO_SPLITS = np.empty(0, dtype=np.float64)
# The prepared target and its check, as columns of the counted frame.
_FLAG, _NOT_BINARY = "__tessaline_y", "__tessaline_not_binary"


def _functions() -> Any:
    from pyspark.sql import functions

    return functions


def event_flags(df: Any, target: str, event: Any = None) -> Any:
    """The target as a Spark column of 1.0 (event), 0.0 and NULL (missing):
    rows equal to `event`, or a 0/1 or boolean target as it is."""
    F = _functions()
    y = F.col(target)
    if event is not None:
        known = y.isNotNull() & ~F.isnan(y.cast("double")) if _is_numeric(df, target) \
            else y.isNotNull()
        return F.when(known, F.when(y == F.lit(event), 1.0).otherwise(0.0))
    yd = y.cast("double")
    return F.when(yd.isNotNull() & ~F.isnan(yd), yd)


def _type_name(df: Any, name: str) -> str:
    return str(df.schema[name].dataType.typeName())


def _is_numeric(df: Any, name: str) -> bool:
    from pyspark.sql.types import BooleanType, NumericType

    return isinstance(df.schema[name].dataType, (NumericType, BooleanType))


def _holds_categories(df: Any, name: str) -> bool:
    """Whether a column's values are categories by their type (strings, booleans)."""
    return _type_name(df, name) in ("string", "boolean", "char", "varchar")


class ColumnCounts:
    """The merged counts of one numeric column: rows per kind, with their
    events, and the (value, c0, c1) of the rows whose value and target are known.

    Spark groups the rows of a column by value only (NULL and NaN are values
    there, and 0.0 and -0.0 one); what kind a group is follows from its value,
    which keeps the per-row work in Spark down to the grouping itself."""

    def __init__(self, value: npt.NDArray[np.float64], rows: npt.NDArray[np.int64],
                 known: npt.NDArray[np.int64], ones: npt.NDArray[np.int64],
                 special_values: Sequence[float] = ()) -> None:
        missing = np.isnan(value)
        special = ~missing & np.isin(value, np.asarray(special_values, dtype=np.float64))
        infinite = np.isinf(value) & ~special
        finite = ~(missing | special | infinite)
        unknown = rows - known
        self.rows = np.zeros(8, dtype=np.int64)
        self.events = np.zeros(8, dtype=np.int64)
        for group, with_y, without_y in ((finite, KEPT, MISSING_Y), (missing, MISSING_X, MISSING_BOTH),
                                         (infinite, INF_KNOWN, INF_MISSING_Y),
                                         (special, SPECIAL, SPECIAL_MISSING_Y)):
            self.rows[with_y] = known[group].sum()
            self.rows[without_y] = unknown[group].sum()
            self.events[with_y] = ones[group].sum()
        self._groups = {KEPT: finite, INF_KNOWN: infinite, SPECIAL: special}
        self._value, self._known, self._ones = value, known, ones
        self.finite_values = np.sort(value[finite & (rows > 0)])

    def values(self, kinds: Sequence[int]) -> dict[str, npt.NDArray[Any]]:
        """The merged (value, c0, c1) of the rows of these kinds (KEPT,
        INF_KNOWN, SPECIAL) with a known target, ascending."""
        keep = np.logical_or.reduce([self._groups[k] for k in kinds]) & (self._known > 0)
        c1 = self._ones[keep]
        return _native.merge_value_counts(self._value[keep], self._known[keep] - c1, c1)

    @property
    def missing(self) -> tuple[int, int]:
        """Non-events and events of the rows whose value is missing."""
        return int(self.rows[MISSING_X] - self.events[MISSING_X]), int(self.events[MISSING_X])


@dataclass(frozen=True)
class CategoryCounts:
    """The merged counts of one categorical column by category name, as the
    local encoding names them (ascending)."""
    names: list[str]
    c0: npt.NDArray[np.int64]
    c1: npt.NDArray[np.int64]
    missing_c0: int
    missing_c1: int
    counters: dict[str, Any]


def _category_names(texts: Sequence[str], type_name: str) -> list[str]:
    """The local name of each category Spark gives as text: booleans print
    as Python's, and integral floats as integers."""
    if type_name == "boolean":
        return ["True" if t == "true" else "False" for t in texts]
    if type_name in ("float", "double", "decimal"):
        return [category_name(float(t)) for t in texts]
    return list(texts)


def category_counts(texts: npt.NDArray[Any], rows: npt.NDArray[np.int64],
                    known: npt.NDArray[np.int64], ones: npt.NDArray[np.int64],
                    type_name: str) -> CategoryCounts:
    """The counts of one categorical column from its groups (text None for a
    missing category), categories whose names coincide merged."""
    present = np.array([t is not None for t in texts], dtype=bool)
    names_per_group = _category_names([t for t in texts if t is not None], type_name)
    names = sorted(set(names_per_group))
    code = np.array([names.index(n) for n in names_per_group], dtype=np.int64)
    labelled0 = known - ones

    def per_name(counts: npt.NDArray[np.int64]) -> npt.NDArray[np.int64]:
        return np.bincount(code, weights=counts[present], minlength=len(names)).astype(np.int64)

    unknown = rows - known
    counters = {
        "n_input": int(rows.sum()), "n_used": int(known[present].sum()),
        "n_missing_x": int(known[~present].sum()), "n_missing_y": int(unknown[present].sum()),
        "n_missing_both": int(unknown[~present].sum()), "n_non_finite": 0,
        "target_was_binary": True, "threshold": 0.0,
    }
    return CategoryCounts(names, per_name(labelled0), per_name(ones),
                          int(labelled0[~present].sum()), int(ones[~present].sum()), counters)


def threshold_flags(df: Any, target: str, *, value: float | None = None,
                    percentile: float | None = None,
                    max_distinct: int = DEFAULT_MAX_DISTINCT) -> Any:
    """A numeric target as a Spark column of event flags, as locally: a 0/1
    target as it is; any other with 1.0 above (strictly) the threshold
    `value`, or the linear-interpolation `percentile` (0 to 100) of its
    finite values, which a first pass counts per distinct target value."""
    F = _functions()
    if not _is_numeric(df, target):
        raise TargetError(f"the target {target!r} is not numeric: give event= (the value of an "
                          "event) instead of a threshold")
    y = F.col(target).cast("double")
    known = y.isNotNull() & ~F.isnan(y)
    counted = df.select(y.alias("y")).where(known).groupBy("y").count().persist()
    try:
        distinct = counted.count()
        if distinct > max_distinct:
            raise ValueError(f"the target {target!r} has {distinct} distinct values, more than "
                             f"max_distinct={max_distinct}: give the threshold as value=")
        table = counted.toArrow()
    finally:
        counted.unpersist()
    values = table.column("y").to_numpy(zero_copy_only=False).astype(np.float64)
    if np.isin(values, (0.0, 1.0)).all():
        return F.when(known, y)
    if value is None and percentile is not None and not 0.0 <= percentile <= 100.0:
        raise TargetError(f"percentile must be between 0 and 100, not {percentile!r}")
    order = np.argsort(values)
    cut = float(value) if value is not None else _native.percentile_from_counts(
        values[order], table.column("count").to_numpy().astype(np.int64)[order], percentile)
    return F.when(known, (y > F.lit(cut)).cast("double"))


def _prepared(df: Any, flag: Any) -> Any:
    """`df` with the event flag and its 0/1 check as columns, so that Spark
    evaluates them once per row rather than once per counted column."""
    F = _functions()
    return df.select("*", flag.alias(_FLAG), (~flag.isin(0.0, 1.0)).cast("int").alias(_NOT_BINARY))


def _entry(index: int, name: str, type_name: str, as_categories: bool) -> Any:
    """The (column, value, category, label, check) entry of one column of a
    row: numbers in `x`, categories as text in `s` (NaN a missing category)."""
    F = _functions()
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
    F = _functions()
    prepared = _prepared(df, event_flags(df, target, event) if flag is None else flag)
    types = {name: _type_name(df, name) for name in columns}
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
    texts = np.array(table.column("s").to_pylist(), dtype=object)
    rows = table.column("n").to_numpy().astype(np.int64)
    known = table.column("known").to_numpy().astype(np.int64)
    ones = np.nan_to_num(table.column("ones").to_numpy(zero_copy_only=False)).astype(np.int64)
    specials = special_values or {}
    out: dict[str, ColumnCounts | CategoryCounts] = {}
    for i, name in enumerate(columns):
        mine = c == i
        out[name] = category_counts(texts[mine], rows[mine], known[mine], ones[mine], types[name]) \
            if name in categorical else \
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

    F = _functions()
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


def _with_specials(summary: Mapping[str, Any], counts: ColumnCounts,
                   specials: list[float]) -> Mapping[str, Any]:
    """The summary with the rows of the special values, few by nature, given
    as values with their flags."""
    special = counts.values([SPECIAL])
    xs = np.repeat(np.concatenate((special["value"], special["value"])),
                   np.concatenate((special["c0"], special["c1"])))
    flags = np.repeat(np.concatenate((np.zeros(len(special["c0"])), np.ones(len(special["c1"])))),
                      np.concatenate((special["c0"], special["c1"])))
    return with_special_rows(summary, xs, flags, specials)


def mdlp_table(counts: ColumnCounts, name: str, *, minobs: int | None = None,
               monotonicity: int = 0, mono_dir: int = 0, alpha_pos: float = 1.0,
               beta_struct: float = 1.0, force_first_split: bool = False,
               special_values: Sequence[float] = (),
               representative: Literal["median", "mean"] = "median") -> BinningTable:
    """The `mdlp_binning` table of one column from its merged counts."""
    rows, events = counts.rows, counts.events
    searched = rows[:SPECIAL]
    counters = {
        "missing_count": int(rows[MISSING_X]), "missing_c0": int(rows[MISSING_X] - events[MISSING_X]),
        "missing_c1": int(events[MISSING_X]), "n_input": int(searched.sum()),
        "n_used": int(rows[KEPT]), "n_missing_x": int(rows[MISSING_X]),
        "n_missing_y": int(rows[MISSING_Y]), "n_missing_both": int(rows[MISSING_BOTH]),
        "n_non_finite": int(rows[INF_KNOWN] + rows[INF_MISSING_Y]),
        "target_was_binary": True, "threshold": 0.0,
    }
    if minobs is None:
        minobs = default_minobs(int(rows.sum()))
    kept = counts.values([KEPT])
    result = _native.mdlp_full_from_counts(
        kept["value"], kept["c0"], kept["c1"], counters, minobs, monotonicity, mono_dir,
        alpha_pos, beta_struct, force_first_split, representative)
    summary: Mapping[str, Any] = result["summary"]
    metadata: dict[str, Any] = dict(result["metadata"])
    specials = checked_special_values(special_values)
    if specials:
        summary = _with_specials(summary, counts, specials)
        metadata["n_special"] = int(rows[SPECIAL] + rows[SPECIAL_MISSING_Y])
    return BinningTable(summary, method="mdlp", name=name, metadata=metadata,
                        split_log=result["mdlp"], special_values=specials)


def unsupervised_table(counts: ColumnCounts, name: str, *,
                       method: Literal["quantile", "equal_width"] = "quantile", n_bins: int = 10,
                       representative: Literal["median", "mean"] = "median") -> BinningTable:
    """The `quantile_binning` or `equal_width_binning` table of one column
    from its merged counts (the rows of special values are rows like others)."""
    values = counts.values([KEPT, INF_KNOWN, SPECIAL])
    if method == "quantile":
        splits = _native.quantile_splits_from_counts(values["value"], values["c0"],
                                                     values["c1"], n_bins)
    else:
        # Equal widths depend on the smallest and largest finite value only,
        # which the distinct values hold.
        splits = _tessaline.binning_splits(values["value"], "equal_width", n_bins, "full", 0.0,
                                           1.0, 0.0, _NO_SPLITS)
    summary = _native.summary_binary_from_counts(values["value"], values["c0"], values["c1"],
                                                 *counts.missing, splits, representative)
    return BinningTable(summary, method=method, name=name)


def optimal_table(counts: ColumnCounts, name: str, *, special_values: Sequence[float] = (),
                  representative: Literal["median", "mean"] = "median",
                  n_prebins: int = DEFAULT_N_PREBINS, **limits: Any) -> BinningTable:
    """The `optimal_binning` table of one column from its merged counts."""
    searched = counts.values([KEPT, INF_KNOWN])
    n_rows = int(counts.rows[KEPT] + counts.rows[INF_KNOWN] + counts.rows[MISSING_X])
    cuts, metadata = optimal_cuts(searched, n_rows, label=name, n_prebins=n_prebins, **limits)
    summary: Mapping[str, Any] = _native.summary_binary_from_counts(
        searched["value"], searched["c0"], searched["c1"], *counts.missing, cuts, representative)
    specials = checked_special_values(special_values)
    if specials:
        summary = _with_specials(summary, counts, specials)
    return BinningTable(summary, method="optimal", name=name, metadata=metadata,
                        special_values=specials)


def category_table(counts: CategoryCounts, name: str, **options: Any) -> BinningTable:
    """The `categorical_binning` table of one column from its merged counts."""
    return categorical_table(counts.names, counts.c0, counts.c1, counts.missing_c0,
                             counts.missing_c1, counts.counters, name=name, **options)


def numeric_table(counts: ColumnCounts, name: str, method: str, **options: Any) -> BinningTable:
    """The table of `method` ("mdlp", "optimal", "quantile", "equal_width")
    of one column from its merged counts, with that method's options."""
    if method == "mdlp":
        return mdlp_table(counts, name, **options)
    if method == "optimal":
        return optimal_table(counts, name, **options)
    if method in ("quantile", "equal_width"):
        return unsupervised_table(counts, name, method=method, **options)
    raise ValueError(f"method must be one of mdlp, optimal, quantile, equal_width, not {method!r}")


def _specials_per_column(special_values: Sequence[float] | Mapping[str, Sequence[float]],
                         columns: Sequence[str]) -> dict[str, list[float]]:
    per_column = special_values if isinstance(special_values, Mapping) \
        else {name: special_values for name in columns}
    return {name: checked_special_values(per_column.get(name, ())) for name in columns}


def fit_table(df: Any, target: str, columns: Sequence[str] | None = None, *, event: Any = None,
              value: float | None = None, percentile: float | None = None,
              method: Literal["mdlp", "optimal", "quantile", "equal_width"] = "mdlp",
              special_values: Sequence[float] | Mapping[str, Sequence[float]] = (),
              max_distinct: int = DEFAULT_MAX_DISTINCT, approximate: int | None = None,
              **options: Any) -> dict[str, BinningTable]:
    """One table per numeric column of the Spark DataFrame `df` (default:
    every numeric column but the target) against `target`, with one pass over
    the data: `method` "mdlp", "optimal", "quantile" or "equal_width", with
    the options of that local function. The target is read as locally:
    rows equal to `event`, a 0/1 target, or a numeric target above a
    threshold `value` or `percentile`. `special_values` is a list for every
    column or a dict of lists per column (MDLP and optimal only).

    A column with more than `max_distinct` distinct values is an error, unless
    `approximate` gives a number of cells K: its values are then merged into K
    cells of about n/K rows each (a cell is its largest value), so that cut
    points can only fall at the end of a cell, while every count of the
    resulting bins stays exact."""
    if columns is None:
        columns = [f.name for f in df.schema.fields if f.name != target and _is_numeric(df, f.name)]
    specials = _specials_per_column(special_values, columns)
    if method in ("quantile", "equal_width") and any(specials.values()):
        raise ValueError("special values are kept apart by the MDLP and optimal tables only")
    counted = count_columns(df, columns, target, event=event,
                            flag=_flag(df, target, event, value, percentile, max_distinct),
                            special_values=specials, max_distinct=max_distinct,
                            approximate=approximate)
    if method in ("mdlp", "optimal"):
        return {name: numeric_table(counted[name], name, method, special_values=specials[name],
                                    **options) for name in columns}
    return {name: numeric_table(counted[name], name, method, **options) for name in columns}


def _flag(df: Any, target: str, event: Any, value: float | None, percentile: float | None,
          max_distinct: int) -> Any:
    """The event flags of a thresholded target, None for the others."""
    if event is not None or (value is None and percentile is None):
        return None
    return threshold_flags(df, target, value=value, percentile=percentile,
                           max_distinct=max_distinct)


def mdlp_binning(df: Any, x: str, y: str, *, event: Any = None,
                 max_distinct: int = DEFAULT_MAX_DISTINCT, **options: Any) -> BinningTable:
    """`tessaline.mdlp_binning` of the column `x` against `y` of a Spark DataFrame."""
    return fit_table(df, y, [x], event=event, max_distinct=max_distinct, **options)[x]


def optimal_binning(df: Any, x: str, y: str, *, event: Any = None,
                    max_distinct: int = DEFAULT_MAX_DISTINCT, **options: Any) -> BinningTable:
    """`tessaline.optimal_binning` of the column `x` against `y` of a Spark DataFrame."""
    return fit_table(df, y, [x], event=event, method="optimal", max_distinct=max_distinct,
                     **options)[x]


def quantile_binning(df: Any, x: str, y: str, *, n_bins: int = 10, event: Any = None,
                     representative: Literal["median", "mean"] = "median",
                     max_distinct: int = DEFAULT_MAX_DISTINCT,
                     approximate: int | None = None) -> BinningTable:
    """`tessaline.quantile_binning` of the column `x` against `y` of a Spark DataFrame."""
    return fit_table(df, y, [x], event=event, method="quantile", n_bins=n_bins,
                     representative=representative, max_distinct=max_distinct,
                     approximate=approximate)[x]


def categorical_binning(df: Any, x: str, y: str, *, event: Any = None,
                        max_distinct: int = DEFAULT_MAX_DISTINCT, **options: Any) -> BinningTable:
    """`tessaline.categorical_binning` of the column `x` against `y` of a Spark DataFrame."""
    counts = count_columns(df, [x], y, event=event, categorical=[x], max_distinct=max_distinct)[x]
    assert isinstance(counts, CategoryCounts)
    return category_table(counts, x, **options)


def _unusable(counts: ColumnCounts | CategoryCounts) -> str:
    """Why a column cannot be binned ('' when it can), as the local table says."""
    if isinstance(counts, CategoryCounts):
        if not counts.names:
            return "all values missing"
        return f"a single value ({counts.names[0]!r})" if len(counts.names) == 1 else ""
    finite = counts.finite_values
    if finite.size == 0:
        return "all values missing"
    return f"a single value ({finite[0]:g})" if finite[0] == finite[-1] else ""


def _column_table(binning: TableBinning, name: str, counts: ColumnCounts | CategoryCounts,
                  options: Mapping[str, Any]) -> BinningTable:
    """One column's table under the whole-table options, as `TableBinning` fits it."""
    search = {key: options[key] for key in ("minobs", "monotonicity", "mono_dir", "alpha_pos",
                                            "beta_struct", "force_first_split")}
    limits = {key: options[key] for key in LIMITS}
    method = options["method"]
    if isinstance(counts, CategoryCounts):
        return category_table(counts, name, min_share=options["min_share"],
                              method="optimal" if method == "optimal" else "mdlp",
                              limits=limits, **search)
    if method == "optimal":
        return optimal_table(counts, name, special_values=options["special_values"],
                             representative=binning.representative, **limits)
    if method == "mdlp":
        return mdlp_table(counts, name, special_values=options["special_values"],
                          representative=binning.representative, **search)
    return numeric_table(counts, name, method, n_bins=options["n_bins"])


def fit(binning: TableBinning, df: Any, y: str, *,
        max_distinct: int = DEFAULT_MAX_DISTINCT, approximate: int | None = None) -> TableBinning:
    """`binning.fit(df, y)` over a Spark DataFrame: every column of `df` but
    the target `y` (a column name) and the excluded ones, with one pass over
    the data; returns `binning`, fitted as locally. String and boolean
    columns are categories, the others numbers unless named in `categorical`.
    The target is read with `binning.event`, `value` and `percentile` as
    locally. `max_distinct` and `approximate` as in `fit_table`."""
    wanted = [n for n in df.columns if n != y and n not in binning.exclude]
    if not wanted:
        raise ValueError("the table has no column to bin")
    options = {n: binning.options_of(n, _holds_categories(df, n)) for n in wanted}
    countable = [n for n in wanted if options[n]["categorical"] or _is_numeric(df, n)]
    skipped = {n: f"a column of {_type_name(df, n)} values is neither numbers nor categories"
               for n in wanted if n not in countable}
    counted = count_columns(
        df, countable, y, event=binning.event,
        flag=_flag(df, y, binning.event, binning.value, binning.percentile, max_distinct),
        categorical=[n for n in countable if options[n]["categorical"]],
        special_values={n: checked_special_values(options[n]["special_values"])
                        for n in countable if not options[n]["categorical"]},
        max_distinct=max_distinct, approximate=approximate)
    _check_classes(counted)
    tables: dict[str, BinningTable] = {}
    for name in countable:
        reason = _unusable(counted[name]) if binning.skip_unusable else ""
        if not reason:
            try:
                tables[name] = _column_table(binning, name, counted[name], options[name])
                continue
            except (ValueError, TypeError) as error:
                if not binning.skip_unusable:
                    raise
                reason = str(error)
        skipped[name] = reason
    if not tables:
        raise ValueError("no column could be binned: " + "; ".join(
            f"{n}: {r}" for n, r in skipped.items()))
    binning.restore(tables=tables, skipped={n: skipped[n] for n in wanted if n in skipped},
                    summary=None, fitted_columns=df.columns)
    return binning


def _check_classes(counted: Mapping[str, ColumnCounts | CategoryCounts]) -> None:
    """The errors of a target with no known row or a single class, read from
    any column's counts (every row of the table is in each)."""
    if not counted:
        return
    counts = next(iter(counted.values()))
    if isinstance(counts, CategoryCounts):
        events = int(counts.c1.sum()) + counts.missing_c1
        known = events + int(counts.c0.sum()) + counts.missing_c0
    else:
        with_y = [KEPT, MISSING_X, INF_KNOWN, SPECIAL]
        known, events = int(counts.rows[with_y].sum()), int(counts.events[with_y].sum())
    if known == 0:
        raise ValueError("the table has no row with a known target")
    if events in (0, known):
        raise ValueError(f"the target has one class only: every known row is "
                         f"{'an event' if events == known else 'a non-event'}")


def gini(df: Any, score: str, y: str, *, event: Any = None,
         max_distinct: int = DEFAULT_MAX_DISTINCT, approximate: int | None = None) -> GiniResult:
    """`tessaline.gini` of the column `score` against `y` of a Spark DataFrame
    (`max_distinct` and `approximate` as in `fit_table`)."""
    counts = count_columns(df, [score], y, event=event, max_distinct=max_distinct,
                           approximate=approximate)[score]
    assert isinstance(counts, ColumnCounts)
    values = counts.values([KEPT, INF_KNOWN])
    return GiniResult(_native.lorenz_curve_from_counts(values["value"], values["c0"], values["c1"]))


def bin_index(name: str, splits: npt.ArrayLike, special_values: Sequence[float] = (),
              special_start: int | None = None) -> Any:
    """The bin of each value of a column as a Spark expression: the number of
    cut points strictly below it (a value equal to a cut point falls in the
    lower bin), `special_start` + j (default: one past the last interval) for
    the j-th special value, -1 for NULL and NaN."""
    F = _functions()
    x = F.col(name).cast("double")
    cuts = [float(c) for c in np.asarray(splits, dtype=np.float64)]
    index = sum((F.when(x > c, 1).otherwise(0) for c in cuts), F.lit(0))
    first_special = len(cuts) + 1 if special_start is None else special_start
    expression = F.when(x.isNull() | F.isnan(x), -1)
    for j, special in enumerate(special_values):
        expression = expression.when(x == special, first_special + j)
    return expression.otherwise(index).cast("long")


def category_index(table: BinningTable, name: str, type_name: str) -> Any:
    """The bin of each category of a column as a Spark expression, as the
    local transform gives it: a category's own bin; a pooled or unseen one
    the bin of the "other" group when training had one, else -1; -1 for a
    missing category (NULL, or NaN in a column of floats)."""
    F = _functions()
    assert table.bin_categories is not None
    bin_of = {n: b for b, names in enumerate(table.bin_categories) for n in names}
    other = bin_of.get(OTHER, -1)
    column = F.col(name)
    numeric = type_name in ("float", "double", "decimal")
    key = column.cast("double") if numeric else column.cast("string")
    expression = F.when(key.isNull() | F.isnan(key) if numeric else key.isNull(), -1)
    # Pooled and unseen categories are not in `bin_of`: they take `other`.
    for category, b in bin_of.items():
        value = _spark_value(category, type_name)
        if value is not None:
            expression = expression.when(key == F.lit(value), b)
    return expression.otherwise(other).cast("long")


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


def transform_column(table: BinningTable, name: str,
                     output: Literal["index", "woe", "label"] = "index",
                     type_name: str = "double") -> Any:
    """`table.transform` of a Spark column as a column expression (index as
    long, WoE as double, the bin label as string), right-closed bins, special
    values and categories as locally; `type_name` is the column's Spark type
    (``df.schema[name].dataType.typeName()``), which a categorical table reads."""
    if output not in ("index", "woe", "label"):
        raise ValueError(f"output must be 'index', 'woe' or 'label', not {output!r}")
    F = _functions()
    if table.kind == "categorical":
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
    slot = index + 1 if not len(specials) else \
        F.when(index >= table.n_bins, index - table.n_bins + len(intervals)).otherwise(index) + 1
    return F.when(index < 0, F.lit(missing)) \
        .otherwise(F.element_at(F.array(*[F.lit(v) for v in lookup]), slot.cast("int"))) \
        .cast("double")


def transform(binning: TableBinning, df: Any, output: Literal["woe", "index", "label"] = "woe",
              selected: bool = False) -> Any:
    """`binning.transform` over a Spark DataFrame: each binned column of `df`
    (the selected ones with `selected=True`) replaced by its WoE, bin index
    or label, computed by Spark; other columns pass through."""
    wanted = binning.selected if selected else list(binning.tables)
    absent = [n for n in wanted if n not in df.columns]
    if absent:
        raise ValueError(f"column(s) missing from the data: {', '.join(absent)}")
    return df.withColumns({n: transform_column(binning.tables[n], n, output, _type_name(df, n))
                           for n in wanted})


def psi(reference: Any, current: Any, column: str, splits: npt.ArrayLike | BinningTable, *,
        epsilon: float = 1e-12) -> PSIResult:
    """`tessaline.psi` of one column of two Spark DataFrames over the cut
    points `splits` (or a `BinningTable`'s)."""
    cuts = np.asarray(splits.splits if isinstance(splits, BinningTable) else splits,
                      dtype=np.float64)
    # The missing-value slot is the last one, after the k + 1 bins.
    slot = _functions().when(bin_index(column, cuts) < 0, len(cuts) + 1) \
        .otherwise(bin_index(column, cuts))
    counts = []
    for frame in (reference, current):
        per_bin = np.zeros(len(cuts) + 2, dtype=np.int64)
        for row in frame.groupBy(slot.alias("b")).count().collect():
            per_bin[row["b"]] = row["count"]
        counts.append(per_bin)
    return PSIResult(_native.compare_distributions_from_counts(counts[0], counts[1], cuts, epsilon),
                     cuts)
