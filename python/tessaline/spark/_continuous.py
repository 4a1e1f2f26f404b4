"""A numeric column of a Spark DataFrame counted against a continuous target
in one pass: each partition sums its rows by distinct value with the native
kernel, keeping the exact partials of the sums of w, w*y and w*y^2; Spark
gathers the partials of each value; the driver adds them exactly (the core
rounds each value's sums once). The sums are therefore those of one local
pass over the same rows, bit for bit, whatever the partitioning."""

from __future__ import annotations

from typing import Any

import numpy as np

from .._core import native

# Columns of a partition's counts; min and max are NULL for a value without rows.
_SCHEMA = (
    "x double, rows long, min double, max double, w array<double>, s array<double>, "
    "q array<double>, n_target long, n_zero long, bad_weight long, bad_target long"
)
_TERMS = (("w", "weight"), ("s", "sum"), ("q", "sum_sq"))


def _partition_counter(weighted: bool) -> Any:
    """The mapInArrow function counting a partition's rows (x, y[, w])."""

    def count_partition(batches: Any) -> Any:
        import pyarrow as pa

        for batch in batches:
            x, y = (
                batch.column(i).to_numpy(zero_copy_only=False).astype(np.float64) for i in (0, 1)
            )
            w = (
                batch.column(2).to_numpy(zero_copy_only=False).astype(np.float64)
                if weighted
                else None
            )
            # Rows the local checks refuse are counted and left out; the driver refuses them.
            bad_weight = np.zeros(x.size, bool) if w is None else ~(np.isfinite(w) & (w >= 0))
            bad_target = np.isinf(y)
            kept = ~(bad_weight | bad_target)
            c = native.count_continuous_partials(x[kept], y[kept], None if w is None else w[kept])
            size = len(c["value"])
            extra = np.zeros(size, np.int64)
            columns: dict[str, Any] = {
                "x": c["value"],
                "rows": c["rows"],
                "min": pa.array(c["min"], mask=c["rows"] == 0),
                "max": pa.array(c["max"], mask=c["rows"] == 0),
            }
            for short, name in _TERMS:
                columns[short] = pa.ListArray.from_arrays(
                    pa.array(c[f"{name}_offset"], pa.int32()), pa.array(c[f"{name}_terms"])
                )
            # The rows left out ride on the last record, the missing values' one.
            for key, count in (
                ("n_target", c["n_missing_target"]),
                ("n_zero", c["n_zero_weight"]),
                ("bad_weight", int(bad_weight.sum())),
                ("bad_target", int(bad_target.sum())),
            ):
                column = extra.copy()
                column[-1] = count
                columns[key] = column
            yield pa.RecordBatch.from_pydict(columns)

    return count_partition


def continuous_counts(
    df: Any, x: str, y: str, sample_weight: str | None, max_distinct: int
) -> dict[str, Any]:
    """The rows of `df` summed by distinct value of `x` against the target
    `y` (weighted by the column `sample_weight`), as `native.count_continuous`
    gives them for the same rows; more than `max_distinct` distinct values
    (the missing value among them) is an error, which keeps the driver's
    memory bounded."""
    from pyspark.sql import functions as F

    columns = [F.col(x).cast("double"), F.col(y).cast("double")]
    if sample_weight is not None:
        columns.append(F.col(sample_weight).cast("double"))
    counted = df.select(*columns).mapInArrow(_partition_counter(sample_weight is not None), _SCHEMA)
    merged = (
        counted.groupBy("x")
        .agg(
            F.sum("rows").alias("rows"),
            F.min("min").alias("min"),
            F.max("max").alias("max"),
            *(F.flatten(F.collect_list(t)).alias(t) for t, _ in _TERMS),
            *(F.sum(k).alias(k) for k in ("n_target", "n_zero", "bad_weight", "bad_target")),
        )
        .limit(max_distinct + 1)
        .collect()
    )
    if len(merged) > max_distinct:
        raise ValueError(
            f"column {x!r} has more than {max_distinct} distinct values: round it "
            "(F.round(c, 4), say) and bin that, or raise max_distinct"
        )
    bad_weight = sum(int(r["bad_weight"]) for r in merged)
    if bad_weight:
        raise ValueError(
            f"sample_weight must hold finite non-negative weights: {bad_weight} row(s) of "
            f"{sample_weight!r} hold a negative, infinite, NaN or missing weight"
        )
    bad_target = sum(int(r["bad_target"]) for r in merged)
    if bad_target:
        raise ValueError(
            f"y must hold finite numbers or missing values (NaN): {bad_target} row(s) of "
            f"{y!r} hold an infinite value"
        )
    values = sorted((r for r in merged if not np.isnan(r["x"])), key=lambda r: r["x"])
    missing = [r for r in merged if np.isnan(r["x"])]
    ordered = values + missing
    sums = {}
    for short, name in _TERMS:
        lists = [r[short] for r in ordered]
        offsets = np.concatenate(([0], np.cumsum([len(t) for t in lists])))
        terms = np.fromiter((t for terms in lists for t in terms), dtype=np.float64)
        sums[name] = native.exact_sums(terms, offsets)

    def stats(rows: list[Any], at: slice) -> dict[str, Any]:
        return {
            "rows": np.array([int(r["rows"]) for r in rows], dtype=np.int64),
            **{name: sums[name][at] for _, name in _TERMS},
            **{
                k: np.array([np.nan if r[k] is None else r[k] for r in rows], dtype=np.float64)
                for k in ("min", "max")
            },
        }

    n = len(values)
    empty = {"rows": [0], "weight": [0.0], "sum": [0.0], "sum_sq": [0.0], "min": [np.nan]}
    return {
        "value": np.array([r["x"] for r in values], dtype=np.float64),
        **stats(values, slice(0, n)),
        "missing": stats(missing, slice(n, None)) if missing else {**empty, "max": [np.nan]},
        "n_missing_target": sum(int(r["n_target"]) for r in merged),
        "n_zero_weight": sum(int(r["n_zero"]) for r in merged),
    }
