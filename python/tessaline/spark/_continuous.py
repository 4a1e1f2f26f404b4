"""Columns of a Spark DataFrame counted against a continuous target in one
pass: each partition sums its rows by distinct value (or category) of every
column with the native kernel, keeping the exact partials of the sums of w,
w*y and w*y^2; Spark gathers the partials of each value; the driver adds
them exactly (the core rounds each value's sums once, and works out each
value's sum of squared deviations from the same partials). The sums are
therefore those of one local pass over the same rows, bit for bit, whatever
the partitioning."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np

from .._core import native
from .._core.dependencies import require

# One record per column (c), value (x; 0.0 for a category) and category (s;
# NULL for a number); a missing value is x NaN with s NULL. min and max are
# NULL for a value without rows.
_SCHEMA = (
    "c int, x double, s string, rows long, min double, max double, w array<double>, "
    "s_terms array<double>, q array<double>, n_target long, n_zero long, bad_weight long, "
    "bad_target long"
)
_TERMS = (("w", "weight"), ("s_terms", "sum"), ("q", "sum_sq"))
_LEFT_OUT = ("n_target", "n_zero", "bad_weight", "bad_target")


def _counted_column(
    pa: Any, index: int, column: Any, categorical: bool, y: Any, w: Any, bad: Any
) -> Any:
    """The record batch of one column of a batch of rows."""
    names: list[Any] = []
    if categorical:
        encoded = column.dictionary_encode()
        names = encoded.dictionary.to_pylist()
        codes = encoded.indices.fill_null(-1).to_numpy(zero_copy_only=False)
        x = np.where(codes < 0, np.nan, codes.astype(np.float64))
    else:
        x = column.to_numpy(zero_copy_only=False).astype(np.float64)
    kept = ~(bad["weight"] | bad["target"])
    c = native.count_continuous_partials(x[kept], y[kept], None if w is None else w[kept])
    size = len(c["value"])
    value = c["value"]
    columns: dict[str, Any] = {
        "c": np.full(size, index, dtype=np.int32),
        "x": np.where(np.isnan(value), np.nan, 0.0) if categorical else value,
        "s": pa.array(
            [names[int(v)] if categorical and v == v else None for v in value], pa.string()
        ),
        "rows": c["rows"],
        "min": pa.array(c["min"], mask=c["rows"] == 0),
        "max": pa.array(c["max"], mask=c["rows"] == 0),
    }
    for short, name in _TERMS:
        columns[short] = pa.ListArray.from_arrays(
            pa.array(c[f"{name}_offset"], pa.int32()), pa.array(c[f"{name}_terms"], pa.float64())
        )
    # The rows left out ride on the column's last record, its missing values'.
    for key, count in zip(
        _LEFT_OUT,
        (
            c["n_missing_target"],
            c["n_zero_weight"],
            int(bad["weight"].sum()),
            int(bad["target"].sum()),
        ),
    ):
        counts = np.zeros(size, np.int64)
        counts[-1] = count
        columns[key] = counts
    return pa.RecordBatch.from_pydict(columns)


def _partition_counter(categorical: Sequence[bool], weighted: bool) -> Any:
    """The mapInArrow function counting a partition's rows (y, [w,] x0, x1, ...)."""

    def count_partition(batches: Any) -> Any:
        pa = require("pyarrow", "tessaline.spark")

        first = 2 if weighted else 1
        for batch in batches:
            y = batch.column(0).to_numpy(zero_copy_only=False).astype(np.float64)
            w = (
                batch.column(1).to_numpy(zero_copy_only=False).astype(np.float64)
                if weighted
                else None
            )
            # Rows the local checks refuse are counted and left out; the driver refuses them.
            bad = {
                "weight": np.zeros(y.size, bool) if w is None else ~(np.isfinite(w) & (w >= 0)),
                "target": np.isinf(y),
            }
            for index, kind in enumerate(categorical):
                yield _counted_column(pa, index, batch.column(first + index), kind, y, w, bad)

    return count_partition


def continuous_counts(
    df: Any,
    columns: Mapping[str, bool],
    y: str,
    sample_weight: str | None,
    max_distinct: int,
) -> dict[str, tuple[list[str] | None, dict[str, Any]]]:
    """Each column of `columns` (name: whether it holds categories) summed
    by distinct value (category) against the target `y`, weighted by the
    column `sample_weight`: per column, its category names in ascending
    order (None for numbers) and the counts `native.count_continuous` gives
    for the same rows (a category's value: its position among the names).
    More than `max_distinct` distinct values in all (missing ones included)
    is an error, which keeps the driver's memory bounded."""
    F = require("pyspark.sql.functions", "tessaline.spark")

    names = list(columns)
    selected = [F.col(y).cast("double")]
    if sample_weight is not None:
        selected.append(F.col(sample_weight).cast("double"))
    for name in names:
        column = F.col(name)
        if columns[name]:
            # Booleans are named as they are locally.
            boolean = dict(df.dtypes)[name] == "boolean"
            selected.append(
                F.when(column.isNull(), None).when(column, "True").otherwise("False").alias(name)
                if boolean
                else column.cast("string")
            )
        else:
            selected.append(column.cast("double"))
    counted = df.select(*selected).mapInArrow(
        _partition_counter([columns[n] for n in names], sample_weight is not None), _SCHEMA
    )
    merged = (
        counted.groupBy("c", "x", "s")
        .agg(
            F.sum("rows").alias("rows"),
            F.min("min").alias("min"),
            F.max("max").alias("max"),
            *(F.flatten(F.collect_list(t)).alias(t) for t, _ in _TERMS),
            *(F.sum(k).alias(k) for k in _LEFT_OUT),
        )
        .limit(max_distinct + 1)
        .collect()
    )
    if len(merged) > max_distinct:
        raise ValueError(
            f"the columns have more than max_distinct={max_distinct} distinct values in all: "
            "round the numeric ones (F.round(c, 4), say) and bin those, or raise max_distinct"
        )
    bad_weight = sum(int(r["bad_weight"]) for r in merged if r["c"] == 0)
    if bad_weight:
        raise ValueError(
            f"sample_weight must hold finite non-negative weights: {bad_weight} row(s) of "
            f"{sample_weight!r} hold a negative, infinite, NaN or missing weight"
        )
    bad_target = sum(int(r["bad_target"]) for r in merged if r["c"] == 0)
    if bad_target:
        raise ValueError(
            f"y must hold finite numbers or missing values (NaN): {bad_target} row(s) of "
            f"{y!r} hold an infinite value"
        )
    return {
        name: _column_counts([r for r in merged if r["c"] == index], columns[name])
        for index, name in enumerate(names)
    }


def _column_counts(records: list[Any], categorical: bool) -> tuple[list[str] | None, Any]:
    """One column's names (None for numbers) and counts from its merged records."""
    known = [r for r in records if not np.isnan(r["x"])]
    missing = [r for r in records if np.isnan(r["x"])]
    known.sort(key=(lambda r: r["s"]) if categorical else (lambda r: r["x"]))
    ordered = known + missing
    sums = {}
    partials = {}
    for short, name in _TERMS:
        lists = [r[short] for r in ordered]
        offsets = np.concatenate(([0], np.cumsum([len(t) for t in lists]))).astype(np.int64)
        terms = np.fromiter((t for part in lists for t in part), dtype=np.float64)
        partials[f"{name}_terms"], partials[f"{name}_offset"] = terms, offsets
        sums[name] = native.exact_sums(terms, offsets)
    sums["sum_sq_dev"] = native.centred_square_sums(partials)

    def stats(rows: list[Any], at: slice) -> dict[str, Any]:
        return {
            "rows": np.array([int(r["rows"]) for r in rows], dtype=np.int64),
            **{name: sums[name][at] for name in sums},
            **{
                k: np.array([np.nan if r[k] is None else r[k] for r in rows], dtype=np.float64)
                for k in ("min", "max")
            },
        }

    n = len(known)
    none = {"rows": [0], "weight": [0.0], "sum": [0.0], "sum_sq": [0.0], "sum_sq_dev": [0.0]}
    counts = {
        "value": np.arange(n, dtype=np.float64)
        if categorical
        else np.array([r["x"] for r in known], dtype=np.float64),
        **stats(known, slice(0, n)),
        "missing": stats(missing, slice(n, None))
        if missing
        else {**none, "min": [np.nan], "max": [np.nan]},
        "n_missing_target": sum(int(r["n_target"]) for r in records),
        "n_zero_weight": sum(int(r["n_zero"]) for r in records),
    }
    return ([r["s"] for r in known] if categorical else None), counts
