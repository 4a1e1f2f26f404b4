"""A `MulticlassTableBinning` fitted inside an engine: one aggregate query
groups the rows of every column by value (or category) and by the target's
value, the groups wait in a temporary table while their number is checked,
and the client builds each column's rows per value and class from them,
then bins them as the local fit bins the rows: bit for bit the same tables."""

from __future__ import annotations

import contextlib
import uuid
from collections.abc import Mapping, Sequence
from typing import Any

from .._counting import BOOLEAN, CATEGORY, NUMBER, ColumnType, over_max_distinct
from .._formats.sql import identifier
from .._multiclass_counting import (
    MAX_CLASSES,
    class_counts_from_groups,
    plan_class_columns,
    too_many_classes,
)
from ._dialects import Dialect
from ._fetch import CHUNK_ROWS
from ._memory import merged_within

_KEYS = ("c", "x", "s", "tx", "ts", "n")


def target_expressions(d: Dialect, target: str, kind: ColumnType) -> tuple[str, str]:
    """The target as (double, text): a number as a double, a boolean as the
    text True or False, any other category as its text."""
    y = identifier(target)
    if kind.kind == NUMBER:
        return d.number(y), "NULL"
    if kind.kind == BOOLEAN:
        return "NULL", f"CASE WHEN {y} THEN 'True' WHEN NOT {y} THEN 'False' END"
    if kind.kind == CATEGORY:
        return d.category(y, kind)
    raise ValueError(
        f"the target {target!r} is a column of {kind.name} values: a multiclass target "
        "holds numbers or categories"
    )


def class_grouped_query(
    d: Dialect,
    source: str,
    columns: Sequence[str],
    types: Mapping[str, ColumnType],
    categorical: Sequence[str],
    target: tuple[str, str],
) -> str:
    """One aggregate query for every column: its groups (c, x, s, tx, ts)
    of a value (or category) and a target value, with their rows n."""
    tx, ts = target
    arms = []
    for i, name in enumerate(columns):
        column = identifier(name)
        x, s = (
            d.category(column, types[name]) if name in categorical else (d.number(column), "NULL")
        )
        arms.append(
            f"SELECT {i} AS c, CAST({x} AS {d.double}) AS x, CAST({s} AS {d.text}) AS s, "
            f"CAST({tx} AS {d.double}) AS tx, CAST({ts} AS {d.text}) AS ts, count(*) AS n "
            f"FROM {source} GROUP BY 2, 3, 4, 5"
        )
    return "\nUNION ALL ".join(arms)


def _checked_classes(
    connection: Any, d: Dialect, source: str, y: str, target: tuple[str, str]
) -> None:
    """A target of more distinct values than a set of classes holds is
    refused before any column is grouped by it."""
    tx, ts = target
    query = (
        f"SELECT count(*) FROM (SELECT DISTINCT CAST({tx} AS {d.double}) AS tx, "
        f"CAST({ts} AS {d.text}) AS ts FROM {source} WHERE {tx} IS NOT NULL OR {ts} IS NOT NULL "
        f"LIMIT {MAX_CLASSES + 1}) AS found"
    )
    ((found,),) = connection.execute(query).fetchall()
    if found > MAX_CLASSES:
        raise too_many_classes(y, int(found))


def _fetched(connection: Any, query: str) -> dict[str, list[Any]]:
    """The grouped rows as lists by key, read `CHUNK_ROWS` rows at a time."""
    out: dict[str, list[Any]] = {key: [] for key in _KEYS}
    cursor = connection.execute(query)
    while chunk := cursor.fetchmany(CHUNK_ROWS):
        for key, values in zip(_KEYS, zip(*chunk)):
            out[key].extend(values)
    return out


def fit_multiclass(
    binning: Any,
    connection: Any,
    d: Dialect,
    source: str,
    y: str,
    types: Mapping[str, ColumnType],
    *,
    max_distinct: int,
    approximate: int | None,
    sample_weight: str | None,
    client_memory: int | None,
) -> Any:
    """`binning` (a `MulticlassTableBinning`) fitted on the rows of `source`
    against its column `y`, as `engines.fit` describes."""
    if sample_weight is not None:
        raise ValueError(
            "sample_weight is not available in an engine's multiclass fit: fit the weighted "
            "rows locally (MulticlassTableBinning.fit with sample_weight=)"
        )
    if approximate is not None:
        raise ValueError(
            "approximate= is not available for a multiclass target, whose values are "
            "counted exactly: round the columns with too many values instead"
        )
    plan = plan_class_columns(binning, list(types), types, y)
    columns, categorical = plan.counted, plan.categorical
    target = target_expressions(d, y, types[y])
    _checked_classes(connection, d, source, y, target)
    counted: dict[str, Any] = {}
    classes: list[str] = []
    if columns:
        groups = f"tessaline_groups_{uuid.uuid4().hex}"
        connection.execute(
            f"CREATE TEMPORARY TABLE {groups} AS "
            + class_grouped_query(d, source, columns, types, categorical, target)
        )
        try:
            found = connection.execute(
                f"SELECT c, count(DISTINCT x) + count(DISTINCT s), count(*) FROM {groups} "
                "GROUP BY c"
            ).fetchall()
            distinct = {int(c): int(k) for c, k, _ in found}
            over_max_distinct(
                columns,
                distinct,
                categorical,
                max_distinct,
                None,
                lambda name: f"round({identifier(name)}, 4)",
            )
            if client_memory is not None:
                # Each group of a value and a class costs the client about a value's room.
                merged_within(
                    columns,
                    {int(c): int(n) for c, _, n in found},
                    categorical,
                    [],
                    None,
                    client_memory,
                )
            grouped = _fetched(connection, f"SELECT c, x, s, tx, ts, n FROM {groups}")
        except BaseException:
            # A failed statement may have ended the transaction, and the table with it.
            with contextlib.suppress(Exception):
                connection.execute(f"DROP TABLE IF EXISTS {groups}")
            raise
        connection.execute(f"DROP TABLE {groups}")
        classes, counted = class_counts_from_groups(grouped, columns, types, categorical, types[y])
    return binning.fit_counts(counted, classes, list(types), plan.skipped, plan.wanted)
