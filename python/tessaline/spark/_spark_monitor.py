"""Monitoring a Spark DataFrame period by period: Spark scores every row
with the card's points as column expressions (added in the card's order,
as `Scorecard.score` adds them) and groups each period's rows by (score,
event flag) and by the bin of every variable; the client lays the groups
out as the local monitor does (see `monitor_periods.period_groups`), so the
result is the local one bit for bit."""

from __future__ import annotations

from typing import Any

import numpy as np

from .._binning.table_pairs import refuse_pairs
from .._core import checks
from .._monitor_periods.alerts import Thresholds
from .._monitor_periods.counts import Layout, PeriodCounts, fitted_binning, layout_of
from .._monitor_periods.period_groups import (
    SCORE_GROUPS,
    grouped_periods,
    labelled_periods,
    laid_out,
)
from .._monitor_periods.periods import FREQUENCIES, Frequency
from .._monitor_periods.result import MonitoringResult
from .._monitor_periods.sources import monitored
from .._scorecard import Scorecard
from .._table_binning import TableBinning
from ._counting import column_of, event_flags, spark_functions, spark_type, threshold_flags
from ._expressions import transform_column


def _points(card: Scorecard, name: str, index: Any) -> Any:
    """A variable's points from its bin index, the missing-value row's for -1."""
    F = spark_functions()
    assert card.binning is not None
    table = card.binning.tables[name]
    intervals, specials, missing = table.woe_by_index()
    points = card.points_of(name, np.concatenate((intervals, specials, [missing])))
    slot = F.when(index >= table.n_bins, index - table.n_bins + len(intervals)).otherwise(index)
    lookup = F.array(*[F.lit(float(p)) for p in points[:-1]])
    return (
        F.when(index < 0, F.lit(float(points[-1])))
        .otherwise(F.element_at(lookup, (slot + 1).cast("int")))
        .cast("double")
    )


def _flag(df: Any, target: str | None, binning: TableBinning) -> Any:
    F = spark_functions()
    if target is None:
        return F.lit(None).cast("double")
    if target not in df.columns:
        raise ValueError(f"target names no column of the data: {target!r}")
    if binning.percentile is not None:
        raise ValueError(
            "a target read at a percentile is read by each period's rows locally: "
            "monitor in Spark a binning read with event= or value="
        )
    if binning.event is None and binning.value is not None:
        return threshold_flags(df, target, value=binning.value)
    return event_flags(df, target, binning.event)


def spark_groups(
    model: Scorecard | TableBinning,
    layout: Layout,
    df: Any,
    period: str,
    target: str | None,
    frequency: Frequency | None,
) -> list[tuple[Any, int, Any, Any, int]]:
    """The rows (period key, group position, score, flag or bin index, rows)
    of `df`, counted by Spark."""
    F = spark_functions()
    binning = fitted_binning(model)
    absent = [n for n in (period, *layout.variables) if n not in df.columns]
    if absent:
        raise ValueError(f"column(s) missing from the data: {', '.join(map(repr, absent))}")
    key = column_of(period)
    if frequency is not None:
        day = key.cast("date")
        key = F.year(day).cast("long") * 12 + F.month(day).cast("long") - 1
    index = {
        n: transform_column(binning.tables[n], n, "index", spark_type(df, n))
        for n in layout.variables
    }
    columns = [key.alias("p")] + [index[n].alias(f"b{i}") for i, n in enumerate(layout.variables)]
    if isinstance(model, Scorecard):
        terms = [_points(model, n, index[n]) for n in layout.variables]
        score = (
            terms[0] if model.intercept_points == "spread" else F.lit(model.base_points) + terms[0]
        )
        for term in terms[1:]:
            score = score + term
        columns += [score.alias("x"), _flag(df, target, binning).alias("k")]
    rows = df.select(*columns).cache()
    try:
        out = []
        if isinstance(model, Scorecard):
            out += [
                (r["p"], SCORE_GROUPS, r["x"], r["k"], r["count"])
                for r in rows.groupBy("p", "x", "k").count().collect()
            ]
        for i in range(len(layout.variables)):
            out += [
                (r["p"], i, None, r[f"b{i}"], r["count"])
                for r in rows.groupBy("p", f"b{i}").count().collect()
            ]
        return out
    finally:
        rows.unpersist()


def monitor(
    model: Scorecard | TableBinning,
    df: Any,
    *,
    period: str,
    target: str | None = None,
    reference: Any = None,
    reference_period: str | None = None,
    frequency: Frequency | None = None,
    score_bands: int = 10,
    thresholds: Thresholds | None = None,
) -> MonitoringResult:
    """`tessaline.monitor` of a Spark DataFrame, counted by Spark: the same
    result as the local monitor of the same rows, bit for bit. Periods whose
    labels name no date are in ascending order of their text."""
    if frequency is not None:
        checks.one_of("frequency", frequency, FREQUENCIES)

    def count(layout: Layout | None, wanted: str | None) -> tuple[Layout, dict[str, PeriodCounts]]:
        base = layout if layout is not None else layout_of(model, None, score_bands, cuts=())
        refuse_pairs(fitted_binning(model).pair_tables, base.variables, "monitoring on Spark")
        groups = spark_groups(model, base, df, period, target, frequency)
        periods = labelled_periods(grouped_periods(groups, base, target), frequency)
        return laid_out(model, layout, periods, wanted, score_bands, target is not None)

    return monitored(
        model,
        count,
        target=target,
        reference=reference,
        reference_period=reference_period,
        score_bands=score_bands,
        thresholds=thresholds,
    )
