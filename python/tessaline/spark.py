"""Exact binning over Spark DataFrames, with the same results as the local API.

Every result of this package is a function of counts that add up across
partitions: per column, the rows of each class at each distinct value, plus
the rows set aside (missing or infinite values). Spark sums those counts by
key in one pass over the table for all columns; the driver collects them and
the native core rebuilds the boundary table, the split search, the quantile
cut points and the summaries from them. No numerics are computed here.

    from tessaline import spark as tls
    tables = tls.fit_table(df, "creditability", event="bad", method="mdlp")
    df = df.withColumn("duration_bin", tls.transform_column(tables["duration"], "duration"))

Exact, bit for bit, against `mdlp_binning`, `quantile_binning`, `gini` and
`psi` on the same rows, with two exceptions: 0.0 and -0.0 are one value (a
cut point or representative that is a zero may differ in sign), and the
``representative="mean"`` of `quantile_binning`, which the local summary adds
in input order and which is added here in ascending order of the values.

Driver memory is bounded: the distinct values of every column are counted in
Spark first, and a column with more than `max_distinct` of them is an error
that names it (round the column, e.g. ``F.round(c, 4)``, and bin that).
"""
from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from . import _native
from ._target import TargetError
from .binning import (
    BinningTable,
    checked_special_values,
    default_minobs,
    with_special_rows,
)
from .diagnostics import GiniResult, PSIResult

DEFAULT_MAX_DISTINCT = 20_000_000

# What a row of one column is, for the counters of the local preprocessing:
# x finite / missing (NULL or NaN) / infinite / a special value, crossed with
# whether its target is known.
KEPT, MISSING_X, MISSING_Y, MISSING_BOTH, INF_KNOWN, INF_MISSING_Y, SPECIAL, SPECIAL_MISSING_Y = \
    range(8)


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


def _is_numeric(df: Any, name: str) -> bool:
    from pyspark.sql.types import BooleanType, NumericType

    return isinstance(df.schema[name].dataType, (NumericType, BooleanType))


class ColumnCounts:
    """The merged counts of one column: rows per kind, with their events, and
    the (value, c0, c1) of the rows whose value and target are known.

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

    def values(self, kinds: Sequence[int]) -> dict[str, npt.NDArray[Any]]:
        """The merged (value, c0, c1) of the rows of these kinds (KEPT,
        INF_KNOWN, SPECIAL) with a known target, ascending."""
        keep = np.logical_or.reduce([self._groups[k] for k in kinds]) & (self._known > 0)
        c1 = self._ones[keep]
        return _native.merge_value_counts(self._value[keep], self._known[keep] - c1, c1)


def count_columns(df: Any, columns: Sequence[str], target: str, *, event: Any = None,
                  special_values: Mapping[str, Sequence[float]] | None = None,
                  max_distinct: int = DEFAULT_MAX_DISTINCT) -> dict[str, ColumnCounts]:
    """The merged counts of every column against the target, in one pass."""
    F = _functions()
    flag = event_flags(df, target, event)
    entries = [F.struct(F.lit(i).alias("c"), F.col(name).cast("double").alias("x"), flag.alias("y"))
               for i, name in enumerate(columns)]
    exploded = df.select(F.explode(F.array(*entries)).alias("e")).select("e.*")
    grouped = exploded.groupBy("c", "x").agg(
        F.count(F.lit(1)).alias("n"), F.count("y").alias("known"), F.sum("y").alias("ones"),
        F.sum(F.when(~F.col("y").isin(0.0, 1.0), 1).otherwise(0)).alias("bad"))
    # Kept in Spark while the distinct values are counted there, so that the
    # grouping runs once and nothing comes to the driver before the count.
    grouped = grouped.persist()
    try:
        x = F.col("x")
        counted = grouped.groupBy("c").agg(F.count(F.when(~F.isnan(x), x)).alias("distinct"))
        distinct = {r["c"]: r["distinct"] for r in counted.collect()}
        for i, name in enumerate(columns):
            if distinct.get(i, 0) > max_distinct:
                raise ValueError(
                    f"column {name!r} has {distinct[i]} distinct values, more than "
                    f"max_distinct={max_distinct} can bring to the driver: round it "
                    f"(for example F.round({name!r}, 4)) and bin the rounded column")
        table = grouped.toArrow()
    finally:
        grouped.unpersist()
    if int(np.nansum(table.column("bad").to_numpy(zero_copy_only=False))) > 0:
        raise TargetError(f"the target {target!r} is not 0/1: give event= (the value of an event)")
    c = table.column("c").to_numpy()
    # NULL comes as NaN, and a NULL sum (no known target) as 0.
    value = table.column("x").to_numpy(zero_copy_only=False).astype(np.float64)
    rows = table.column("n").to_numpy().astype(np.int64)
    known = table.column("known").to_numpy().astype(np.int64)
    ones = np.nan_to_num(table.column("ones").to_numpy(zero_copy_only=False)).astype(np.int64)
    specials = special_values or {}
    return {name: ColumnCounts(value[c == i], rows[c == i], known[c == i], ones[c == i],
                               specials.get(name, ()))
            for i, name in enumerate(columns)}


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
        # The special rows as values with their flags, few by nature.
        special = counts.values([SPECIAL])
        xs = np.repeat(np.concatenate((special["value"], special["value"])),
                       np.concatenate((special["c0"], special["c1"])))
        flags = np.repeat(np.concatenate((np.zeros(len(special["c0"])), np.ones(len(special["c1"])))),
                          np.concatenate((special["c0"], special["c1"])))
        summary = with_special_rows(summary, xs, flags, specials)
        metadata["n_special"] = int(rows[SPECIAL] + rows[SPECIAL_MISSING_Y])
    return BinningTable(summary, method="mdlp", name=name, metadata=metadata,
                        split_log=result["mdlp"], special_values=specials)


def quantile_table(counts: ColumnCounts, name: str, *, n_bins: int = 10,
                   representative: Literal["median", "mean"] = "median") -> BinningTable:
    """The `quantile_binning` table of one column from its merged counts."""
    values = counts.values([KEPT, INF_KNOWN, SPECIAL])
    splits = _native.quantile_splits_from_counts(values["value"], values["c0"], values["c1"],
                                                 n_bins)
    missing_c1 = int(counts.events[MISSING_X])
    summary = _native.summary_binary_from_counts(
        values["value"], values["c0"], values["c1"], int(counts.rows[MISSING_X]) - missing_c1,
        missing_c1, splits, representative)
    return BinningTable(summary, method="quantile", name=name)


def fit_table(df: Any, target: str, columns: Sequence[str] | None = None, *, event: Any = None,
              method: Literal["mdlp", "quantile"] = "mdlp", n_bins: int = 10,
              special_values: Sequence[float] | Mapping[str, Sequence[float]] = (),
              max_distinct: int = DEFAULT_MAX_DISTINCT, **mdlp_options: Any,
              ) -> dict[str, BinningTable]:
    """One table per column of the Spark DataFrame `df` (default: every
    numeric column but the target) against `target`, with one pass over the
    data. `method` "mdlp" takes the options of `mdlp_binning`, "quantile"
    `n_bins`; `special_values` is a list for every column or a dict of lists
    per column."""
    if method not in ("mdlp", "quantile"):
        raise ValueError(f"method must be 'mdlp' or 'quantile' on Spark, not {method!r}")
    if columns is None:
        columns = [f.name for f in df.schema.fields if f.name != target and _is_numeric(df, f.name)]
    per_column = special_values if isinstance(special_values, Mapping) \
        else {name: special_values for name in columns}
    specials = {name: checked_special_values(per_column.get(name, ())) for name in columns}
    if method == "quantile" and any(specials.values()):
        raise ValueError("special values are kept apart by the MDLP tables only")
    counted = count_columns(df, columns, target, event=event, special_values=specials,
                            max_distinct=max_distinct)
    if method == "quantile":
        return {name: quantile_table(counted[name], name, n_bins=n_bins, **mdlp_options)
                for name in columns}
    return {name: mdlp_table(counted[name], name, special_values=specials[name], **mdlp_options)
            for name in columns}


def mdlp_binning(df: Any, x: str, y: str, *, event: Any = None,
                 special_values: Sequence[float] = (),
                 max_distinct: int = DEFAULT_MAX_DISTINCT, **options: Any) -> BinningTable:
    """`tessaline.mdlp_binning` of the column `x` against `y` of a Spark DataFrame."""
    return fit_table(df, y, [x], event=event, special_values=special_values,
                     max_distinct=max_distinct, **options)[x]


def quantile_binning(df: Any, x: str, y: str, *, n_bins: int = 10, event: Any = None,
                     representative: Literal["median", "mean"] = "median",
                     max_distinct: int = DEFAULT_MAX_DISTINCT) -> BinningTable:
    """`tessaline.quantile_binning` of the column `x` against `y` of a Spark DataFrame."""
    return fit_table(df, y, [x], event=event, method="quantile", n_bins=n_bins,
                     representative=representative, max_distinct=max_distinct)[x]


def gini(df: Any, score: str, y: str, *, event: Any = None,
         max_distinct: int = DEFAULT_MAX_DISTINCT) -> GiniResult:
    """`tessaline.gini` of the column `score` against `y` of a Spark DataFrame."""
    counts = count_columns(df, [score], y, event=event, max_distinct=max_distinct)[score]
    values = counts.values([KEPT, INF_KNOWN])
    return GiniResult(_native.lorenz_curve_from_counts(values["value"], values["c0"], values["c1"]))


def bin_index(name: str, splits: npt.ArrayLike, special_values: Sequence[float] = ()) -> Any:
    """The bin of each value of a column as a Spark expression: the number of
    cut points strictly below it (a value equal to a cut point falls in the
    lower bin), n_bins + j for the j-th special value, -1 for NULL and NaN."""
    F = _functions()
    x = F.col(name).cast("double")
    cuts = [float(c) for c in np.asarray(splits, dtype=np.float64)]
    index = sum((F.when(x > c, 1).otherwise(0) for c in cuts), F.lit(0))
    expression = F.when(x.isNull() | F.isnan(x), -1)
    for j, special in enumerate(special_values):
        expression = expression.when(x == special, len(cuts) + 1 + j)
    return expression.otherwise(index).cast("long")


def transform_column(table: BinningTable, name: str,
                     output: Literal["index", "woe"] = "index") -> Any:
    """`table.transform` of a Spark column as a column expression (index as
    long, WoE as double), right-closed bins as locally."""
    if output not in ("index", "woe"):
        raise ValueError(f"output must be 'index' or 'woe', not {output!r}")
    if table.kind != "numeric":
        raise ValueError("transform_column bins numeric tables; categorical tables are local only")
    index = bin_index(name, table.splits, table.special_values)
    if output == "index":
        return index
    F = _functions()
    # The WoE of each index as the local transform reads it: one per interval,
    # then per special value; index -1 the missing-value row's, else 0, or NaN
    # for a table of a single class.
    n_intervals = len(table.splits) + 1
    woe = table["woe"]
    lookup = [float(w) for w in woe[:n_intervals + len(table.special_values)]]
    if table.has_missing_row:
        missing = float(woe[-1])
    else:
        missing = 0.0 if not math.isnan(table.information_value) else math.nan
    values = F.array(*[F.lit(v) for v in lookup])
    return F.when(index < 0, F.lit(missing)).otherwise(F.element_at(values, (index + 1).cast("int"))) \
        .cast("double")


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
