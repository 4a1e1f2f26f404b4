"""Rows weighted by a column of a Spark DataFrame: the weights are checked and
summed by Spark per distinct score and class (or per bin), and the driver
hands the sums to the core as the local API hands it the rows' weights.

Spark adds a group's weights in an order of its own: whole weights give the
local result bit for bit, other weights up to the rounding of that order."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import native
from .._counting import not_zero_one
from ..exceptions import TargetError
from ._counting import column_of, event_flags, spark_functions


def weight_column(df: Any, name: str) -> Any:
    """The column `name` of weights as doubles, once Spark has found every
    row's weight finite and non-negative (a NULL is no weight either)."""
    if not isinstance(name, str):
        raise TypeError(f"sample_weight must be the name of a weight column, not {name!r}")
    if name not in df.columns:
        raise ValueError(f"sample_weight names no column of the DataFrame: {name!r}")
    F = spark_functions()
    w = column_of(name).cast("double")
    bad = w.isNull() | F.isnan(w) | (w < 0.0) | (w == float("inf"))
    found = df.select(w.alias("w")).where(bad).limit(1).collect()
    if found:
        raise ValueError(
            f"sample_weight must be finite and non-negative: a row of {name!r} holds "
            f"{found[0]['w']!r}"
        )
    return w


def weighed_scores(
    df: Any, score: str, target: str, event: Any, weight: str, max_distinct: int
) -> dict[str, npt.NDArray[np.float64]]:
    """The weights of the non-events and events of every distinct score of
    `df` (rows with a score, a known target and a positive weight), as
    `native.count_values_weighted` gives them from rows (its ``rows`` here
    count Spark's groups, which the Lorenz curve does not read)."""
    F = spark_functions()
    absent = [name for name in (score, target) if name not in df.columns]
    if absent:
        raise ValueError(f"column(s) not in the DataFrame: {', '.join(map(repr, absent))}")
    w = weight_column(df, weight)
    x = column_of(score).cast("double")
    rows = df.select(x.alias("x"), event_flags(df, target, event).alias("f"), w.alias("w")).where(
        F.col("x").isNotNull() & ~F.isnan("x") & F.col("f").isNotNull() & (F.col("w") > 0.0)
    )
    grouped = rows.groupBy("x", "f").agg(F.sum("w").alias("w"))
    # A score holds at most two groups: more than twice the limit of rows
    # means more distinct scores than the limit.
    collected = grouped.limit(2 * max_distinct + 1).collect()
    values = np.array([r["x"] for r in collected], dtype=np.float64)
    if np.unique(values).size > max_distinct:
        raise ValueError(
            f"column {score!r} has more than max_distinct={max_distinct} distinct values with "
            f"weight: round it (for example F.round({score!r}, 4)) and score the rounded column"
        )
    flags = np.array([r["f"] for r in collected], dtype=np.float64)
    if not np.all((flags == 0.0) | (flags == 1.0)):
        raise not_zero_one(target)
    sums = np.array([r["w"] for r in collected], dtype=np.float64)
    weighed = native.count_values_weighted(values, flags.astype(np.int32), sums)
    if not (weighed["c0"].sum() > 0 and weighed["c1"].sum() > 0):
        held = "only events (1)" if weighed["c1"].sum() > 0 else "only non-events (0)"
        raise TargetError(
            f"y must hold both events (1) and non-events (0) among the rows with "
            f"a score, not {'no row' if values.size == 0 else held}"
        )
    return weighed


def weight_per_bin(
    frame: Any, slot: Any, weight: str, slots: int
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.int64]]:
    """The weight of the rows of `frame` in each bin `slot` (0 to `slots` - 1)
    and the rows of positive weight there."""
    F = spark_functions()
    w = weight_column(frame, weight)
    sums, rows = np.zeros(slots), np.zeros(slots, dtype=np.int64)
    counted = frame.groupBy(slot.alias("b")).agg(
        F.sum(w).alias("w"), F.count(F.when(w > 0.0, w)).alias("r")
    )
    for row in counted.collect():
        sums[row["b"]], rows[row["b"]] = row["w"], row["r"]
    return sums, rows
