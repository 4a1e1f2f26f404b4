"""A `MulticlassTableBinning` fitted inside an engine: one aggregate query
groups the rows of every column by value (or category) and by the target's
value, the groups wait in a temporary table while their number is checked,
and the client builds each column's rows per value and class from them,
then bins them as the local fit bins the rows: bit for bit the same tables."""

from __future__ import annotations

import contextlib
import uuid
from collections.abc import Callable, Mapping, Sequence
from typing import Any

from .._core.checks import NO_WEIGHT
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
from ._queries import BAD_WEIGHT


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
    weight: str | None = None,
) -> str:
    """One aggregate query for every column: its groups (c, x, s, tx, ts)
    of a value (or category) and a target value, with their rows n. With
    `weight` (the weight column, a double), the groups are (c, x, s, tx,
    ts, w) of the rows of positive weight, so that the engine adds no
    weights (its sums of doubles would depend on the order of the rows), and
    one row (c = BAD_WEIGHT) counts the weights refused."""
    tx, ts = target
    if weight is not None:
        w = f"CAST({weight} AS {d.double})"
        refused = f"{w} IS NULL OR {w} < 0 OR {w} = {d.literal(float('inf'))}"
        arms = [
            f"SELECT {i} AS c, CAST({x} AS {d.double}) AS x, CAST({s} AS {d.text}) AS s, "
            f"CAST({tx} AS {d.double}) AS tx, CAST({ts} AS {d.text}) AS ts, {w} AS w, "
            f"count(*) AS n FROM {source} WHERE {w} > 0 GROUP BY 2, 3, 4, 5, 6"
            for i, (x, s) in enumerate(_values(d, columns, types, categorical))
        ]
        arms.append(
            f"SELECT {BAD_WEIGHT}, NULL, NULL, NULL, NULL, NULL, count(*) FROM {source} "
            f"WHERE {refused}"
        )
        return "\nUNION ALL ".join(arms)
    arms = []
    for i, (x, s) in enumerate(_values(d, columns, types, categorical)):
        arms.append(
            f"SELECT {i} AS c, CAST({x} AS {d.double}) AS x, CAST({s} AS {d.text}) AS s, "
            f"CAST({tx} AS {d.double}) AS tx, CAST({ts} AS {d.text}) AS ts, count(*) AS n "
            f"FROM {source} GROUP BY 2, 3, 4, 5"
        )
    return "\nUNION ALL ".join(arms)


def _values(
    d: Dialect, columns: Sequence[str], types: Mapping[str, ColumnType], categorical: Sequence[str]
) -> list[tuple[str, str]]:
    """Each column as (double, text): a number, or a category's text."""
    return [
        d.category(identifier(name), types[name])
        if name in categorical
        else (d.number(identifier(name)), "NULL")
        for name in columns
    ]


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


def _fetched(connection: Any, query: str, keys: Sequence[str]) -> dict[str, list[Any]]:
    """The grouped rows as lists by key, read `CHUNK_ROWS` rows at a time."""
    out: dict[str, list[Any]] = {key: [] for key in keys}
    cursor = connection.execute(query)
    while chunk := cursor.fetchmany(CHUNK_ROWS):
        for key, values in zip(keys, zip(*chunk)):
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
    weighting: tuple[str, str, Callable[[], Exception]] | None,
    client_memory: int | None,
) -> Any:
    """`binning` (a `MulticlassTableBinning`) fitted on the rows of `source`
    against its column `y`, as `engines.fit` describes; `weighting` holds
    the weight column's name, its expression as a double and the error of
    a refused weight."""
    if approximate is not None:
        raise ValueError(
            "approximate= is not available for a multiclass target, whose values are "
            "counted exactly: round the columns with too many values instead"
        )
    name, weight, refused = weighting if weighting is not None else (None, None, None)
    plan = plan_class_columns(binning, [n for n in types if n != name], types, y)
    columns, categorical = plan.counted, plan.categorical
    target = target_expressions(d, y, types[y])
    _checked_classes(connection, d, source, y, target)
    counted: dict[str, Any] = {}
    classes: list[str] = []
    if columns:
        groups = f"tessaline_groups_{uuid.uuid4().hex}"
        connection.execute(
            f"CREATE TEMPORARY TABLE {groups} AS "
            + class_grouped_query(d, source, columns, types, categorical, target, weight)
        )
        keys = ("c", "x", "s", "tx", "ts", *(("w",) if weight else ()), "n")
        try:
            if refused is not None:
                ((bad,),) = connection.execute(
                    f"SELECT n FROM {groups} WHERE c = {BAD_WEIGHT}"
                ).fetchall()
                if bad:
                    raise refused()
            found = connection.execute(
                f"SELECT c, count(DISTINCT x) + count(DISTINCT s), count(*) FROM {groups} "
                "WHERE c >= 0 GROUP BY c"
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
            grouped = _fetched(
                connection, f"SELECT {', '.join(keys)} FROM {groups} WHERE c >= 0", keys
            )
        except BaseException:
            # A failed statement may have ended the transaction, and the table with it.
            with contextlib.suppress(Exception):
                connection.execute(f"DROP TABLE IF EXISTS {groups}")
            raise
        connection.execute(f"DROP TABLE {groups}")
        if weight is not None and not grouped["n"]:
            raise ValueError(NO_WEIGHT)
        classes, counted = class_counts_from_groups(grouped, columns, types, categorical, types[y])
    return binning.fit_counts(counted, classes, [*types], plan.skipped, plan.wanted)
