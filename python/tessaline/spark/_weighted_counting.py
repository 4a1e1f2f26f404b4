"""Counting in Spark with a weight column, in the same pass as the counts.

Each partition sums its rows of positive weight by distinct value (or
category) of every column with the native kernel, keeping the exact
partials of three sums per value: the weight of its rows, of its
non-events and of its events; beside them the records of positive weight
(rows, rows of known target, events). Spark gathers the partials of each
value; the driver adds them exactly and rounds once. A value's weight is
therefore the exact sum of its rows' weights rounded once, whatever the
partitioning: integer weights (and any weights whose sums a double holds
exactly) give the local weighted table bit for bit, which is that of the
rows repeated. Rows of weight 0 are as if absent. A weight that is
missing, negative, NaN or infinite is counted in the pass and refused on
the driver, which then looks for the first such value to name it."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import numpy as np

from .._core import native
from .._core.dependencies import require

# One record per column (c), value (x; NaN for a category and for missing
# values) and category (s) and part: 0 all rows, 1 the non-events, 2 the
# events; n counts the records of the part, w holds the exact partials of
# their weights. The record of c = -1 carries the rows whose target flag is
# not 0/1 (bad) and those whose weight is refused (bad_weight).
SCHEMA = "c int, x double, s string, part int, n long, w array<double>, bad long, bad_weight long"
NOT_BINARY_ROW = -1


def _parts_of_column(
    pa: Any, index: int, x: Any, names: list[Any] | None, flags: Any, w: Any
) -> Any:
    """The records of one column of a chunk (rows of positive weight only)."""
    for part, rows in enumerate((np.ones(x.size, bool), flags == 0.0, flags == 1.0)):
        c = native.count_continuous_partials(x[rows], np.zeros(int(rows.sum())), w[rows])
        kept = c["rows"] > 0
        value = c["value"][kept]
        size = int(kept.sum())
        partials = pa.ListArray.from_arrays(
            pa.array(c["weight_offset"], pa.int32()), pa.array(c["weight_terms"], pa.float64())
        ).filter(pa.array(kept))
        text = (
            pa.array([None if v != v else names[int(v)] for v in value.tolist()], pa.string())
            if names is not None
            else pa.nulls(size, pa.string())
        )
        yield pa.RecordBatch.from_pydict(
            {
                "c": np.full(size, index, dtype=np.int32),
                "x": np.full(size, np.nan) if names is not None else value,
                "s": text,
                "part": np.full(size, part, dtype=np.int32),
                "n": c["rows"][kept].astype(np.int64),
                "w": partials,
                "bad": np.zeros(size, np.int64),
                "bad_weight": np.zeros(size, np.int64),
            },
            schema=_arrow_schema(pa),
        )


def _arrow_schema(pa: Any) -> Any:
    return pa.schema(
        [
            ("c", pa.int32()),
            ("x", pa.float64()),
            ("s", pa.string()),
            ("part", pa.int32()),
            ("n", pa.int64()),
            ("w", pa.list_(pa.float64())),
            ("bad", pa.int64()),
            ("bad_weight", pa.int64()),
        ]
    )


# Rows counted at once: each value's partials then stand for many rows
# (fewer terms to gather), while the worker's memory stays bounded.
CHUNK_ROWS = 1_000_000


def partition_counter(indices: Sequence[int], categorical: Sequence[bool]) -> Any:
    """The mapInArrow function counting a partition's rows (flag, not-binary
    check, weight, x<i>...) chunk by chunk."""

    def count_partition(batches: Any) -> Any:
        pa = require("pyarrow", "tessaline.spark")

        chunk: list[Any] = []
        rows = 0
        for batch in batches:
            chunk.append(batch)
            rows += batch.num_rows
            if rows >= CHUNK_ROWS:
                yield from _counted_chunk(pa, pa.Table.from_batches(chunk), indices, categorical)
                chunk, rows = [], 0
        if chunk:
            yield from _counted_chunk(pa, pa.Table.from_batches(chunk), indices, categorical)

    return count_partition


def _counted_chunk(pa: Any, table: Any, indices: Sequence[int], categorical: Sequence[bool]) -> Any:
    """The records of a chunk of rows: the check row, then every column's."""

    def numbers(i: int) -> Any:
        return table.column(i).to_numpy(zero_copy_only=False).astype(np.float64)

    flags, w = numbers(0), numbers(2)
    not_binary = int(np.nansum(numbers(1)))
    refused = ~(np.isfinite(w) & (w >= 0.0))
    present = ~refused & (w > 0.0)
    yield pa.RecordBatch.from_pydict(
        {
            "c": [NOT_BINARY_ROW],
            "x": [np.nan],
            "s": [None],
            "part": [0],
            "n": [0],
            "w": [[]],
            "bad": [not_binary],
            "bad_weight": [int(refused.sum())],
        },
        schema=_arrow_schema(pa),
    )
    for position, (index, kind) in enumerate(zip(indices, categorical)):
        names = None
        if kind:
            encoded = table.column(3 + position).combine_chunks().dictionary_encode()
            names = encoded.dictionary.to_pylist()
            codes = encoded.indices.fill_null(-1).to_numpy(zero_copy_only=False)
            x = np.where(codes < 0, np.nan, codes.astype(np.float64))
        else:
            x = numbers(3 + position)
        yield from _parts_of_column(pa, index, x[present], names, flags[present], w[present])


def grouped(
    prepared: Any,
    flag: Any,
    weight: Any,
    columns: Sequence[Any],
    categorical: Sequence[bool],
) -> Any:
    """The groups (c, x, s) of every column with the records n, rows of
    known target and events, and the partials w, w0 and w1 of the weights of
    all rows, the non-events and the events; `flag` is the event flag of
    `prepared` and its 0/1 check, `columns` are Spark columns (the categories
    cast to text)."""
    F = require("pyspark.sql.functions", "tessaline.spark")

    # Named by position: a column's own name may be one of the counted records'.
    counted = prepared.select(
        *(f.alias(f"__flag{i}") for i, f in enumerate(flag)),
        weight.cast("double").alias("__weight"),
        *(column.alias(f"__x{i}") for i, column in enumerate(columns)),
    ).mapInArrow(partition_counter(range(len(columns)), categorical), SCHEMA)
    part = F.col("part")

    def records(*parts: int) -> Any:
        return F.coalesce(F.sum(F.when(part.isin(*parts), F.col("n"))), F.lit(0))

    def partials(wanted: int | None) -> Any:
        kept = F.col("w") if wanted is None else F.when(part == wanted, F.col("w"))
        return F.flatten(F.collect_list(kept))

    return counted.groupBy("c", "x", "s").agg(
        records(0).alias("n"),
        records(1, 2).alias("known"),
        records(2).alias("ones"),
        partials(0).alias("w"),
        partials(1).alias("w0"),
        partials(2).alias("w1"),
        F.sum("bad").alias("bad"),
        F.sum("bad_weight").alias("bad_weight"),
    )


def summed(table: Any) -> dict[str, np.ndarray]:
    """The weights w, w0 and w1 of each group of an Arrow table of grouped
    rows: the exact sum of its partials, rounded once."""
    pa = require("pyarrow", "tessaline.spark")
    pc = require("pyarrow.compute", "tessaline.spark")

    out = {}
    for key in ("w", "w0", "w1"):
        lists = table.column(key).combine_chunks()
        if isinstance(lists, pa.ChunkedArray):
            lists = lists.combine_chunks()
        lengths = pc.list_value_length(lists).fill_null(0).to_numpy(zero_copy_only=False)
        offsets = np.concatenate(([0], np.cumsum(lengths))).astype(np.int64)
        terms = pc.list_flatten(lists).to_numpy(zero_copy_only=False)
        out[key] = native.exact_sums(terms.astype(np.float64), offsets)
    return out


def refused_weight(df: Any, weight: str, column: Any) -> str:
    """The error naming the weight column and a value of it that is refused."""
    F = require("pyspark.sql.functions", "tessaline.spark")

    w = column.cast("double")
    refused = w.isNull() | F.isnan(w) | (w < 0.0) | w.isin(np.inf, -np.inf)
    found = df.select(w.alias("w")).where(refused).limit(1).collect()
    value = found[0]["w"] if found else None
    shown = "missing (NULL)" if value is None else repr(float(value))
    return (
        f"sample_weight column {weight!r} must hold finite non-negative weights: "
        f"a row holds {shown}"
    )


def checked_weight_column(df: Any, weight: str) -> None:
    """A weight column must exist and hold numbers."""
    types = require("pyspark.sql.types", "tessaline.spark")

    if weight not in df.columns:
        raise ValueError(f"sample_weight names no column of the DataFrame: {weight!r}")
    kind = df.schema[weight].dataType
    if not isinstance(kind, types.NumericType):
        raise ValueError(
            f"sample_weight column {weight!r} must hold numbers, not {kind.typeName()}"
        )
