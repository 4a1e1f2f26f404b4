"""Monitoring where the data live: the periods of a SQL table, of Parquet
or CSV files, or of a Spark DataFrame counted there (see `engine_counts`
and `spark_counts`), against the development sample, its counts kept in a
`MonitorState` or a card's document, or one of the periods."""

from __future__ import annotations

import os
from collections.abc import Callable
from typing import Any

from .._core import checks
from ..scorecard import Scorecard
from ..table import TableBinning
from .alerts import Thresholds
from .counts import Layout, PeriodCounts, check_layout, count_period, layout_of
from .periods import Frequency
from .result import MonitoringResult
from .state import DEVELOPMENT, MonitorState

# Counts every period of the data: (layout or None, reference_period) ->
# the layout (that of the reference period when none is given) and the
# counts of every period in time order.
Counter = Callable[[Layout | None, str | None], tuple[Layout, dict[str, PeriodCounts]]]


def monitored(
    model: Scorecard | TableBinning,
    count: Counter,
    *,
    target: Any,
    reference: Any,
    reference_period: str | None,
    score_bands: int,
    thresholds: Thresholds | None,
) -> MonitoringResult:
    """The result of the periods `count` gives against the reference."""
    if (reference is None) == (reference_period is None):
        raise ValueError("give either reference (the development sample) or reference_period")
    checks.whole_number("score_bands", score_bands, 1)
    if reference_period is not None:
        layout, periods = count(None, str(reference_period))
        state = MonitorState(layout, str(reference_period), periods[str(reference_period)])
    elif isinstance(reference, MonitorState):
        check_layout(model, reference.layout)
        state = MonitorState(reference.layout, reference.reference_label, reference.reference)
        layout, periods = count(reference.layout, None)
    else:
        layout = layout_of(model, reference, score_bands)
        state = MonitorState(layout, DEVELOPMENT, count_period(model, layout, reference, target))
        layout, periods = count(layout, None)
    return MonitorState(state.layout, state.reference_label, state.reference, periods).result(
        thresholds
    )


def monitor_table(
    model: Scorecard | TableBinning,
    connection: Any,
    source: str,
    *,
    period: str,
    target: str | None = None,
    reference: Any = None,
    reference_period: str | None = None,
    frequency: Frequency | None = None,
    score_bands: int = 10,
    thresholds: Thresholds | None = None,
) -> MonitoringResult:
    """`monitor` of the table (or query) `source` of a DuckDB, sqlite3 or
    psycopg `connection`, counted in the engine with one aggregate query
    grouped by period: the same result as `monitor` of the same rows read
    into a frame, bit for bit. Periods whose labels name no date are in
    ascending order of their text (a table keeps no order of its rows)."""
    from .engine_counts import engine_periods

    def count(layout: Layout | None, reference_period: str | None) -> Any:
        return engine_periods(
            model,
            connection,
            source,
            period=period,
            target=target,
            frequency=frequency,
            layout=layout,
            reference_period=reference_period,
            score_bands=score_bands,
        )

    return monitored(
        model,
        count,
        target=target,
        reference=reference,
        reference_period=reference_period,
        score_bands=score_bands,
        thresholds=thresholds,
    )


def monitor_files(
    model: Scorecard | TableBinning,
    path: str | os.PathLike[str],
    *,
    period: str,
    target: str | None = None,
    reference: Any = None,
    reference_period: str | None = None,
    frequency: Frequency | None = None,
    score_bands: int = 10,
    thresholds: Thresholds | None = None,
    memory_limit: str = "1GB",
) -> MonitoringResult:
    """`monitor_table` of the Parquet or CSV file(s) at `path` (a glob reads
    many), read by an in-process DuckDB holding at most `memory_limit`."""
    import duckdb

    text = os.fspath(path)
    reader = "read_csv" if text.lower().endswith((".csv", ".csv.gz", ".tsv")) else "read_parquet"
    connection = duckdb.connect(config={"memory_limit": memory_limit})
    try:
        quoted = "'" + text.replace("'", "''") + "'"
        return monitor_table(
            model,
            connection,
            f"SELECT * FROM {reader}({quoted})",
            period=period,
            target=target,
            reference=reference,
            reference_period=reference_period,
            frequency=frequency,
            score_bands=score_bands,
            thresholds=thresholds,
        )
    finally:
        connection.close()


__all__ = ["monitor_files", "monitor_table", "monitored"]
