"""Exact binning inside SQL engines: DuckDB (tables, and Parquet or CSV
files larger than memory), SQLite and PostgreSQL (through psycopg).

The engine reads the table and the client holds only counts by distinct
value (or category), with their rows, rows of known target and events,
which the native core bins as `TableBinning.fit` bins the rows. Categories
are grouped in the engine. Numbers take the cheapest exact route of each
engine: DuckDB hands their values over through Arrow and PostgreSQL by one
binary COPY, in one pass for all of them, and the core counts each batch
(`stream`, `copied`); SQLite groups them in one aggregate query::

    import duckdb, tessaline as tl
    from tessaline import engines
    binning = engines.fit(tl.TableBinning(event="bad"), duckdb.connect("credit.db"),
                          "applicants", "creditability")
    binning = engines.fit_files(tl.TableBinning(), "loans/*.parquet", "default")

`monitor` and `monitor_files` monitor a card period by period the same
way: one query grouped by period counts what the measures read.

Exact, bit for bit, against the local fit of the same rows as the engine
holds them, with the exceptions of the Spark layer: 0.0 and -0.0 are one
value (a cut point or representative that is a zero may differ in sign),
and ``representative="mean"`` adds the values in ascending order. Text,
booleans and enums are categories (named as locally: booleans True and
False), numbers are numbers, dates and times are skipped. In SQLite, where
a column's type is that of its values, a column holding any text holds
categories, and in a column of numbers NULL alone is missing; in DuckDB and
PostgreSQL, NULL and NaN are both missing values.

With a weight column (`sample_weight="w"`), the engine groups the rows of
each value by distinct weight and the client adds count times weight
exactly, rounded once per value, as the local fit sums the rows of a value:
any weights give the local weighted fit bit for bit.

Client memory is bounded by the distinct values and one batch of rows: a
column with more than `max_distinct` distinct values (counted as the batches
come, or in the engine, the grouped rows waiting in a temporary table) is an
error that names it, or with
``approximate=K`` has its values merged into K cells of about n/K rows in
the engine: counts stay exact, cut points can only fall at the end of a cell.
The counts reach the client a chunk of rows at a time and are kept as
arrays, about 100 bytes per distinct value until the fit is done; files
read by `fit_files` hold them to its `memory_limit` as well.
"""

from __future__ import annotations

import contextlib
import numbers
import os
import uuid
from collections.abc import Iterator, Mapping, Sequence
from typing import Any

from .._binning.column_counts import CategoryCounts, ColumnCounts
from .._binning.weights import NO_PERCENTILE
from .._core.categories import category_name
from .._core.checks import NO_WEIGHT
from .._core.dependencies import require
from .._core.target import check_threshold, not_binary
from .._counting import (
    BOOLEAN,
    DEFAULT_MAX_DISTINCT,
    NUMBER,
    ColumnType,
    check_target_distinct,
    counts_from_groups,
    fit_planned,
    not_zero_one,
    over_max_distinct,
    plan_columns,
    summed_weights,
    target_threshold,
)
from .._data_overview import DataOverview
from .._formats.sql import identifier
from .._multiclass_table_binning import MulticlassTableBinning
from .._table_binning import TableBinning, check_classes
from ..exceptions import TargetError
from ._copied import copied_counts
from ._dialects import Dialect, dialect_of
from ._fetch import fetched_counts, has_arrow
from ._memory import Limits, merged_within, size_in_bytes
from ._monitor_queries import monitor, monitor_files
from ._multiclass import fit_multiclass
from ._profiles import BATCH_COLUMNS, DEFAULT_TOP, profiled
from ._queries import (
    BAD_WEIGHT,
    NOT_BINARY,
    cells_query,
    distinct_query,
    event_flag,
    grouped_query,
    refused_weight_query,
)
from ._stream import CountsToCome, streamed_counts

__all__ = [
    "DEFAULT_MAX_DISTINCT",
    "count_columns",
    "fit",
    "fit_files",
    "monitor",
    "monitor_files",
    "overview",
    "overview_files",
]

# Distinct target values read to name them in an error message.
_NAMED_VALUES = 10_000


def source_of(source: str) -> str:
    """A FROM item: a query (SELECT or WITH ...) as a subquery, else a table name."""
    head = source.lstrip()[:6].upper()
    if head.startswith(("SELECT", "WITH ")) or head.startswith("("):
        return f"({source}) AS source"
    return identifier(source)


def _rows(connection: Any, query: str) -> list[tuple[Any, ...]]:
    return list(connection.execute(query).fetchall())


def _target_names(
    connection: Any, d: Dialect, source: str, target: str, kind: ColumnType
) -> list[str]:
    """The distinct values of the target as the local encoding names them, ascending."""
    y = identifier(target)
    value = d.as_text(y) if kind.kind != NUMBER or kind.integral else d.number(y)
    found = _rows(
        connection,
        f"SELECT DISTINCT {value} FROM {source} WHERE {value} IS NOT NULL LIMIT {_NAMED_VALUES}",
    )
    names = {category_name(v) for (v,) in found}
    if kind.kind == BOOLEAN:
        names = {"True" if n.lower() in ("true", "1", "t") else "False" for n in names}
    return sorted(names)


def _flag(
    connection: Any,
    d: Dialect,
    source: str,
    target: str,
    kind: ColumnType,
    event: Any,
    value: float | None,
    percentile: float | None,
    max_distinct: int,
) -> str:
    """The event flag of the target as the local fit reads it: rows equal to
    `event`, a 0/1 or boolean target, or a numeric target above a threshold."""
    if event is not None or kind.kind == BOOLEAN:
        return event_flag(d, target, kind.kind, event)
    if kind.kind != NUMBER:
        raise not_binary(_target_names(connection, d, source, target, kind))
    y = d.number(identifier(target))
    if (value is None and percentile is None) or not _rows(
        connection, f"SELECT 1 FROM {source} WHERE {y} NOT IN (0.0, 1.0) LIMIT 1"
    ):
        return event_flag(d, target, kind.kind)
    counted = []
    if value is None:
        # Counted in the engine before any value is read, to bound what is read.
        check_threshold(value, percentile)
        ((distinct,),) = _rows(connection, f"SELECT count(DISTINCT {y}) FROM {source}")
        check_target_distinct(target, distinct, max_distinct)
        counted = _rows(
            connection, f"SELECT {y}, count(*) FROM {source} WHERE {y} IS NOT NULL GROUP BY 1"
        )
    cut = target_threshold(
        [v for v, _ in counted], [n for _, n in counted], target, value, percentile, max_distinct
    )
    return event_flag(d, target, kind.kind, cut=cut)


def count_columns(
    connection: Any,
    source: str,
    columns: Sequence[str],
    target: str,
    *,
    categorical: Sequence[str] = (),
    special_values: Mapping[str, Sequence[float]] | None = None,
    event: Any = None,
    value: float | None = None,
    percentile: float | None = None,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    approximate: int | None = None,
    types: Mapping[str, ColumnType] | None = None,
    sample_weight: str | None = None,
    client_memory: int | None = None,
) -> dict[str, ColumnCounts | CategoryCounts]:
    """The merged counts of every column of `columns` against the target,
    read from `source` (a table name, a query, or a FROM item the engine
    reads) as the module's description says: the columns of `categorical`
    by category, the others by value. The target is read as `TableBinning` reads it with
    `event`, `value` and `percentile`. `max_distinct` and `approximate` as
    in the module's description. `sample_weight` names a column of weights,
    as in `fit`. `client_memory` bounds the bytes the counts take in the
    client: with `approximate`, the columns with the most values are merged
    into cells until they fit, else a fit beyond it is an error."""
    counted = _count_columns(
        connection,
        source,
        columns,
        target,
        categorical=categorical,
        special_values=special_values,
        event=event,
        value=value,
        percentile=percentile,
        max_distinct=max_distinct,
        approximate=approximate,
        types=types,
        sample_weight=sample_weight,
        client_memory=client_memory,
        to_come=False,
    )
    return {name: c() if isinstance(c, CountsToCome) else c for name, c in counted.items()}


def _count_columns(
    connection: Any,
    source: str,
    columns: Sequence[str],
    target: str,
    *,
    categorical: Sequence[str],
    special_values: Mapping[str, Sequence[float]] | None,
    event: Any,
    value: float | None,
    percentile: float | None,
    max_distinct: int,
    approximate: int | None,
    types: Mapping[str, ColumnType] | None,
    sample_weight: str | None,
    client_memory: int | None,
    to_come: bool,
) -> dict[str, ColumnCounts | CategoryCounts | CountsToCome]:
    """`count_columns`; with `to_come`, the numbers streamed out may come as
    `CountsToCome`, whose last batch each column counts when it is binned."""
    d = dialect_of(connection)
    types = dict(types) if types is not None else d.column_types(connection, source)
    absent = [name for name in [target, *columns] if name not in types]
    if absent:
        raise ValueError(f"column(s) not in the table: {', '.join(map(repr, absent))}")
    weight = None
    if sample_weight is not None:
        weight = _weight_column(d, types, sample_weight, percentile)
    flag = _flag(
        connection, d, source, target, types[target], event, value, percentile, max_distinct
    )
    specials = special_values or {}
    counted: dict[str, ColumnCounts | CategoryCounts | CountsToCome] = {}
    rest = list(columns)
    numeric = [name for name in columns if name not in categorical]
    limits = Limits(max_distinct, client_memory)
    # Numbers stream out where the engine can hand them over as arrays;
    # weighted rows are grouped by weight in the engine.
    route = {"postgresql": copied_counts, "duckdb": streamed_counts}.get(d.name)
    if d.name == "duckdb" and not has_arrow():
        route = None
    streamed = None
    if weight is None and numeric and route is not None:
        streamed = route(connection, d, source, numeric, target, flag, specials, limits, to_come)
    if streamed is not None:
        counted, rest = dict(streamed), [name for name in columns if name in categorical]
    if rest:
        counted |= _grouped_counts(
            connection,
            d,
            source,
            rest,
            target,
            types,
            categorical,
            specials,
            flag,
            weight,
            sample_weight,
            max_distinct,
            approximate,
            client_memory,
        )
    counted = {name: counted[name] for name in columns}
    if event is not None and counted and next(iter(counted.values())).labelled()[1] == 0:
        wanted = category_name(event)
        names = _target_names(connection, d, source, target, types[target])
        if wanted not in names:
            raise TargetError(
                f"no row of the target holds the event value {wanted!r} "
                f"(values found: {', '.join(names[:10])}"
                f"{', ...' if len(names) > 10 else ''})"
            )
    return counted


def _grouped_counts(
    connection: Any,
    d: Dialect,
    source: str,
    columns: Sequence[str],
    target: str,
    types: Mapping[str, ColumnType],
    categorical: Sequence[str],
    specials: Mapping[str, Sequence[float]],
    flag: str,
    weight: str | None,
    sample_weight: str | None,
    max_distinct: int,
    approximate: int | None,
    client_memory: int | None,
) -> dict[str, ColumnCounts | CategoryCounts]:
    """The counts of `columns` grouped in the engine by value (or category),
    the groups kept in a temporary table while their number is checked."""
    groups = f"tessaline_groups_{uuid.uuid4().hex}"
    connection.execute(
        f"CREATE TEMPORARY TABLE {groups} AS "
        + grouped_query(d, source, columns, types, categorical, flag, weight)
    )
    try:
        ((bad,),) = _rows(connection, f"SELECT n FROM {groups} WHERE c = {NOT_BINARY}")
        if bad:
            raise not_zero_one(target)
        if weight is not None:
            ((refused,),) = _rows(connection, f"SELECT n FROM {groups} WHERE c = {BAD_WEIGHT}")
            if refused:
                raise _refused(connection, d, source, sample_weight, weight)
        distinct = {int(c): int(k) for c, k in _rows(connection, distinct_query(d, groups))}
        over = over_max_distinct(
            columns,
            distinct,
            categorical,
            max_distinct,
            approximate,
            lambda name: f"round({identifier(name)}, 4)",
        )
        if client_memory is not None:
            over = merged_within(columns, distinct, categorical, over, approximate, client_memory)
        query = (
            cells_query(
                d,
                groups,
                {i: specials.get(columns[i], ()) for i in over},
                approximate,
                weighted=weight is not None,
            )
            if over and approximate
            else f"SELECT c, x, s, n, known, ones FROM {groups} WHERE c >= 0"
            if weight is None
            else f"SELECT c, x, s, w, n, known, ones FROM {groups} WHERE c >= 0"
        )
        if weight is None:
            counted = fetched_counts(connection, query, columns, types, categorical, specials)
        else:
            found = _rows(connection, query)
    except BaseException:
        # A failed statement may have ended the transaction, and the table with it.
        with contextlib.suppress(Exception):
            connection.execute(f"DROP TABLE IF EXISTS {groups}")
        raise
    connection.execute(f"DROP TABLE {groups}")
    if weight is not None:
        keys = ("c", "x", "s", "w", "n", "known", "ones")
        grouped = summed_weights(dict(zip(keys, zip(*found) if found else [()] * len(keys))))
        if not sum(n for c, n in zip(grouped["c"], grouped["n"]) if c == 0):
            raise ValueError(NO_WEIGHT)
        counted = counts_from_groups(grouped, columns, types, categorical, specials)
    return counted


def _weight_column(
    d: Dialect,
    types: Mapping[str, ColumnType],
    sample_weight: str,
    percentile: float | None,
) -> str:
    """The weight column as a double (NULL where missing or not a number)."""
    if sample_weight not in types:
        raise ValueError(f"sample_weight names no column of the table: {sample_weight!r}")
    if types[sample_weight].kind != NUMBER:
        raise ValueError(
            f"sample_weight column {sample_weight!r} must hold numbers, "
            f"not {types[sample_weight].name}"
        )
    if percentile is not None:
        raise ValueError(NO_PERCENTILE)
    return d.number(identifier(sample_weight))


def _refused(connection: Any, d: Dialect, source: str, name: str, weight: str) -> ValueError:
    """The error naming the weight column and a weight it refuses."""
    found = _rows(connection, refused_weight_query(d, source, weight, identifier(name)))
    value = found[0][0] if found else None
    shown = (
        "missing (NULL)"
        if value is None
        else repr(float(value))
        if isinstance(value, numbers.Number)
        else repr(value)
    )
    return ValueError(
        f"sample_weight column {name!r} must hold finite non-negative weights: a row holds {shown}"
    )


def fit(
    binning: TableBinning,
    connection: Any,
    source: str,
    y: str,
    *,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    approximate: int | None = None,
    sample_weight: str | None = None,
    client_memory: int | None = None,
) -> TableBinning:
    """`binning.fit` of the table (or query) `source` of a DuckDB, sqlite3 or
    psycopg `connection` against its column `y`: every column but the
    target and the excluded ones, counted as `count_columns` counts them;
    returns `binning`, fitted as locally. `sample_weight` names a
    column of weights (finite, non-negative; 0 as if the row were absent),
    not binned, by which every row counts: the engine groups the rows of
    each value by distinct weight and the client adds count times weight
    exactly, rounded once per value, so any weights give the local
    ``sample_weight`` fit bit for bit (client memory grows with the
    distinct (value, weight) pairs, which max_distinct bounds).
    `client_memory` (bytes) bounds the client's counts, as for
    `count_columns`.

    A binning of a target of k classes (``TableBinning(target=
    "multiclass")``) is fitted the same way: the engine groups every column
    by value (or category) and class, and the client bins those counts as
    the local fit bins the rows, bit for bit, weighted or not (the rows of
    a value, class and weight grouped, their weights added exactly on the
    client); it takes no `approximate`."""
    d = dialect_of(connection)
    source = source_of(source)
    types = d.column_types(connection, source)
    if y not in types:
        raise ValueError(f"column(s) not in the table: {y!r}")
    if isinstance(binning, MulticlassTableBinning):
        weighting = None
        if sample_weight is not None:
            weight = _weight_column(d, types, sample_weight, None)
            weighting = (
                sample_weight,
                weight,
                lambda: _refused(connection, d, source, sample_weight, weight),
            )
        return fit_multiclass(  # type: ignore[no-any-return]
            binning,
            connection,
            d,
            source,
            y,
            types,
            max_distinct=max_distinct,
            approximate=approximate,
            weighting=weighting,
            client_memory=client_memory,
        )
    columns = [n for n in types if n != sample_weight]
    plan = plan_columns(binning, columns, types, y)
    # The tables of the numbers streamed out are built as each column's last
    # batch is counted, while the others are counted still.
    counted = _count_columns(
        connection,
        source,
        plan.counted,
        y,
        categorical=plan.categorical,
        special_values=plan.numeric,
        event=binning.event,
        value=binning.value,
        percentile=binning.percentile,
        max_distinct=max_distinct,
        approximate=approximate,
        types=types,
        sample_weight=sample_weight,
        client_memory=client_memory,
        to_come=True,
    )
    if counted:
        check_classes(*next(iter(counted.values())).labelled())
    return fit_planned(binning, list(types), plan, counted)


def fit_files(
    binning: TableBinning,
    path: str | os.PathLike[str],
    y: str,
    *,
    memory_limit: str = "1GB",
    threads: int | None = None,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    approximate: int | None = None,
    sample_weight: str | None = None,
) -> TableBinning:
    """`binning.fit` of the Parquet or CSV file(s) at `path` (a glob such as
    ``"loans/*.parquet"`` reads many) against their column `y`, read by an
    in-process DuckDB that holds at most `memory_limit` (it spills to a
    temporary directory beyond), on `threads` threads (default: all). The
    counts brought to the client are held to `memory_limit` too: a table
    with more distinct values than it can hold is an error, or with
    ``approximate=K`` has the values of its largest columns merged into K
    cells until they fit."""
    with _files_connection(path, memory_limit, threads, "fit_files") as (connection, files):
        client_memory = size_in_bytes(memory_limit)
        if client_memory is None:
            # A size DuckDB reads but written otherwise: its own reading of it.
            ((setting,),) = _rows(connection, "SELECT current_setting('memory_limit')")
            client_memory = size_in_bytes(setting)
        return fit(
            binning,
            connection,
            files,
            y,
            max_distinct=max_distinct,
            approximate=approximate,
            sample_weight=sample_weight,
            client_memory=client_memory,
        )


@contextlib.contextmanager
def _files_connection(
    path: str | os.PathLike[str], memory_limit: str, threads: int | None, needed_by: str
) -> Iterator[tuple[Any, str]]:
    """An in-process DuckDB of at most `memory_limit` on `threads` threads
    (default: all), with the query that reads the Parquet or CSV file(s) at
    `path`; closed on leaving."""
    duckdb = require("duckdb", needed_by)
    text = os.fspath(path)
    reader = "read_csv" if text.lower().endswith((".csv", ".csv.gz", ".tsv")) else "read_parquet"
    config: dict[str, str | bool | int | float | list[str]] = {"memory_limit": memory_limit}
    if threads:
        config["threads"] = threads
    connection = duckdb.connect(config=config)
    try:
        quoted = "'" + text.replace("'", "''") + "'"
        yield connection, f"SELECT * FROM {reader}({quoted})"
    finally:
        connection.close()


def overview(
    connection: Any,
    source: str,
    target: str | None = None,
    *,
    event: Any = None,
    value: float | None = None,
    percentile: float | None = None,
    columns: Sequence[str] | None = None,
    top: int = DEFAULT_TOP,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    batch_columns: int = BATCH_COLUMNS,
) -> DataOverview:
    """`tessaline.overview` of the table (or query) `source` of a DuckDB,
    sqlite3 or psycopg `connection` against its column `target` (read with
    `event`, `value` and `percentile` as `fit` reads it), bit for bit as the
    local overview of the same rows: the engine groups each column by value
    (or category) with the fit's aggregate query, `batch_columns` columns
    per query, and the client profiles the groups. Columns of other types
    than numbers, text, booleans and dates are listed in `skipped`; a column
    of more than `max_distinct` distinct values is an error, as for `fit`."""
    d = dialect_of(connection)
    source = source_of(source)
    types = d.column_types(connection, source)
    wanted = [n for n in types if n != target] if columns is None else list(columns)
    absent = [n for n in [*([] if target is None else [target]), *wanted] if n not in types]
    if absent:
        raise ValueError(f"column(s) not in the table: {', '.join(map(repr, absent))}")
    flag = f"CAST(NULL AS {d.double})"
    if target is not None:
        flag = _flag(
            connection, d, source, target, types[target], event, value, percentile, max_distinct
        )
    return profiled(
        connection,
        d,
        source,
        types,
        wanted,
        target,
        flag,
        top=top,
        max_distinct=max_distinct,
        batch_columns=batch_columns,
    )


def overview_files(
    path: str | os.PathLike[str],
    target: str | None = None,
    *,
    memory_limit: str = "1GB",
    threads: int | None = None,
    **options: Any,
) -> DataOverview:
    """`overview` of the Parquet or CSV file(s) at `path` (a glob reads
    many), read by an in-process DuckDB that holds at most `memory_limit`,
    on `threads` threads (default: all); `options` as for `overview`."""
    with _files_connection(path, memory_limit, threads, "overview_files") as (connection, files):
        return overview(connection, files, target, **options)
