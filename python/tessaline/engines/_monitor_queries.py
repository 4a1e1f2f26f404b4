"""Monitoring counted inside a SQL engine (DuckDB, SQLite, PostgreSQL; and
Parquet or CSV files through DuckDB): one aggregate query over the whole
table, grouped by period, scores every row with the card's own SQL and
gives per period the rows of each (score, event flag) and of each bin of
every variable. Only those groups reach the client, which lays them out
as the local monitor lays out the rows (see `grouped`), so every measure
is the local one bit for bit.

Which statistics need more than bin counts: AUC, its DeLong interval, KS
and calibration read the labelled rows per distinct score (c0, c1), which
the query groups by the score itself; PSI and CSI read the band and bin
counts. The score bands of a reference period are the quantiles of its
scores, taken from its (score, rows) groups."""

from __future__ import annotations

import os
from typing import Any

from .._binning.table_pairs import refuse_pairs
from .._core import checks
from .._core.dependencies import require
from .._counting import DEFAULT_MAX_DISTINCT
from .._formats import sql
from .._formats.sql import identifier
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
from ._dialects import Dialect, dialect_of


def _month(d: Dialect, column: str) -> str:
    """The month of a date column counted from year 0, NULL without a date."""
    if d.name == "sqlite":
        return (
            f"(CAST(strftime('%Y', {column}) AS INTEGER) * 12 "
            f"+ CAST(strftime('%m', {column}) AS INTEGER) - 1)"
        )
    day = f"CAST({column} AS DATE)"
    return (
        f"(CAST(EXTRACT(year FROM {day}) AS BIGINT) * 12 "
        f"+ CAST(EXTRACT(month FROM {day}) AS BIGINT) - 1)"
    )


def grouped_query(
    model: Scorecard | TableBinning,
    layout: Layout,
    d: Dialect,
    source: str,
    period: str,
    flag: str,
    frequency: Frequency | None,
) -> str:
    """One query over `source` (a FROM item) giving (p, c, x, k, n): the
    rows n of each period p and score x and event flag k (c = -1), and of
    each bin index k of the c-th variable."""
    binning = fitted_binning(model)
    key = identifier(period) if frequency is None else _month(d, identifier(period))
    columns = [f"{key} AS p"] + [
        f"{sql.binning_sql(binning.tables[n], n, output='index', dialect=d.name)} AS b{i}"
        for i, n in enumerate(layout.variables)
    ]
    # (position, the columns grouped, the flag or bin index k) of each set of groups
    sets = [(str(i), f"b{i}", f"b{i}") for i in range(len(layout.variables))]
    if isinstance(model, Scorecard):
        score = sql.score_sum(model, sql.points_cases(model, d.name), d.name)
        columns += [f"{score} AS x", f"{flag} AS k"]
        sets.insert(0, (str(SCORE_GROUPS), "x, k", "k"))
    rows = f"WITH monitored AS (SELECT {', '.join(columns)} FROM {source})\n"
    if d.name == "sqlite":
        # SQLite has no grouping sets: one GROUP BY per set, joined.
        return rows + "\nUNION ALL\n".join(
            f"SELECT p, {c} AS c, CAST({'x' if c == str(SCORE_GROUPS) else 'NULL'} AS {d.double})"
            f" AS x, CAST({k} AS {d.double}) AS k, count(*) AS n FROM monitored GROUP BY p, {g}"
            for c, g, k in sets
        )
    # One pass over the rows for every set.
    first = [f"WHEN GROUPING({g.split(',')[0]}) = 0" for _, g, _ in sets]
    c = "CASE " + " ".join(f"{w} THEN {c}" for w, (c, _, _) in zip(first, sets)) + " END"
    k = "CASE " + " ".join(f"{w} THEN {k}" for w, (_, _, k) in zip(first, sets)) + " END"
    x = f"CAST(NULL AS {d.double})"
    if isinstance(model, Scorecard):
        x = f"CASE {first[0]} THEN CAST(x AS {d.double}) END"
    grouped = ", ".join(f"(p, {g})" for _, g, _ in sets)
    return rows + (
        f"SELECT p, {c} AS c, {x} AS x, CAST({k} AS {d.double}) AS k, count(*) AS n "
        f"FROM monitored GROUP BY GROUPING SETS ({grouped})"
    )


def _target_flag(
    connection: Any,
    d: Dialect,
    source: str,
    types: dict[str, Any],
    target: str | None,
    binning: TableBinning,
) -> str:
    from . import _flag

    if target is None:
        return f"CAST(NULL AS {d.double})"
    if binning.percentile is not None:
        raise ValueError(
            "a target read at a percentile is read by each period's rows locally: "
            "monitor in the engine a binning read with event= or value="
        )
    types = d.column_types(connection, source)
    if target not in types:
        raise ValueError(f"target names no column of the table: {target!r}")
    kind = types[target]
    return _flag(
        connection,
        d,
        source,
        target,
        kind,
        binning.event,
        binning.value,
        None,
        DEFAULT_MAX_DISTINCT,
    )


def engine_periods(
    model: Scorecard | TableBinning,
    connection: Any,
    source: str,
    *,
    period: str,
    target: str | None,
    frequency: Frequency | None,
    layout: Layout | None = None,
    reference_period: str | None = None,
    score_bands: int = 10,
) -> tuple[Layout, dict[str, PeriodCounts]]:
    """The layout and the counts of every period of the table (or query)
    `source`, in time order; without `layout`, it is that of the period
    `reference_period`'s scores."""
    from . import source_of

    d = dialect_of(connection)
    if frequency is not None:
        checks.one_of("frequency", frequency, FREQUENCIES)
    binning = fitted_binning(model)
    source = source_of(source)
    types = d.column_types(connection, source)
    # The bins and points do not depend on the bands: a layout without
    # them counts the groups the bands are then cut from.
    base = layout if layout is not None else layout_of(model, None, score_bands, cuts=())
    refuse_pairs(binning.pair_tables, base.variables, "monitoring in a database")
    absent = [n for n in (period, *base.variables) if n not in types]
    if absent:
        raise ValueError(f"column(s) not in the table: {', '.join(map(repr, absent))}")
    flag = _target_flag(connection, d, source, types, target, binning)
    query = grouped_query(model, base, d, source, period, flag, frequency)
    groups = grouped_periods(connection.execute(query).fetchall(), base, target)
    periods = labelled_periods(groups, frequency)
    return laid_out(model, layout, periods, reference_period, score_bands, target is not None)


def monitor(
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
    """`tessaline.monitor` of the table (or query) `source` of a DuckDB, sqlite3 or
    psycopg `connection`, counted in the engine with one aggregate query
    grouped by period: the same result as `monitor` of the same rows read
    into a frame, bit for bit. Periods whose labels name no date are in
    ascending order of their text (a table keeps no order of its rows)."""

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
    """`monitor` of the Parquet or CSV file(s) at `path` (a glob reads
    many), read by an in-process DuckDB holding at most `memory_limit`."""
    duckdb = require("duckdb", "monitor_files")
    text = os.fspath(path)
    reader = "read_csv" if text.lower().endswith((".csv", ".csv.gz", ".tsv")) else "read_parquet"
    connection = duckdb.connect(config={"memory_limit": memory_limit})
    try:
        quoted = "'" + text.replace("'", "''") + "'"
        return monitor(
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


__all__ = ["engine_periods", "grouped_query", "monitor", "monitor_files"]
