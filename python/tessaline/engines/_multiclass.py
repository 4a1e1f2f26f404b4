"""A `MulticlassTableBinning` fitted inside an engine: the engine finds the
target's distinct values, which the client names and numbers as classes as
the local fit does; one aggregate query then groups the rows of every
column by value (or category) and class, the groups waiting in a temporary
table while their number is checked; the client builds each column's rows
per value and class from them and bins them as the local fit bins the rows:
bit for bit the same tables."""

from __future__ import annotations

import contextlib
import uuid
from collections.abc import Callable, Iterator, Mapping, Sequence
from typing import Any

import numpy as np

from .._core.checks import NO_WEIGHT
from .._counting import BOOLEAN, CATEGORY, NUMBER, ColumnType, over_max_distinct
from .._formats.sql import identifier
from .._multiclass_counting import (
    MAX_CLASSES,
    checked_classes,
    class_counts_from_groups,
    doubles,
    plan_class_columns,
)
from ._dialects import Dialect
from ._fetch import ARROW_ROWS, CHUNK_ROWS, has_arrow
from ._memory import merged_within

# The class code of each row, as the grouped query's FROM item names it.
_CLASS = "tessaline_class"


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


def class_code(
    d: Dialect,
    target: tuple[str, str],
    found: Sequence[tuple[Any, Any]],
    codes: Sequence[int],
) -> str:
    """The class code of a row (-1: a missing target) from the distinct
    target values `found` (double, text) and their codes."""
    tx, ts = target
    arms = [
        f"WHEN {ts} = {d.string(text)} THEN {code}"
        if text is not None
        else f"WHEN {tx} = {d.literal(float(value))} THEN {code}"
        for (value, text), code in zip(found, codes)
        if code >= 0
    ]
    return f"CASE {' '.join(arms)} ELSE -1 END"


def class_grouped_query(
    d: Dialect,
    source: str,
    columns: Sequence[str],
    types: Mapping[str, ColumnType],
    categorical: Sequence[str],
    code: str,
    weight: str | None = None,
) -> str:
    """One aggregate query for every column: its groups (c, x, s, k) of a
    value (or category) and a class code, with their rows n. With `weight`
    (the weight column, a double), the groups are (c, x, s, k, w) of the
    rows of positive weight, so that the engine adds no weights (its sums of
    doubles would depend on the order of the rows)."""
    coded = f"(SELECT *, {code} AS {_CLASS} FROM {source}) AS coded"
    if weight is None:
        return "\nUNION ALL ".join(
            f"SELECT {i} AS c, CAST({x} AS {d.double}) AS x, CAST({s} AS {d.text}) AS s, "
            f"{_CLASS} AS k, count(*) AS n FROM {coded} GROUP BY 2, 3, 4"
            for i, (x, s) in enumerate(_values(d, columns, types, categorical))
        )
    w = f"CAST({weight} AS {d.double})"
    return "\nUNION ALL ".join(
        f"SELECT {i} AS c, CAST({x} AS {d.double}) AS x, CAST({s} AS {d.text}) AS s, "
        f"{_CLASS} AS k, {w} AS w, count(*) AS n FROM {coded} WHERE {w} > 0 "
        "GROUP BY 2, 3, 4, 5"
        for i, (x, s) in enumerate(_values(d, columns, types, categorical))
    )


def _checked_weights(
    connection: Any, d: Dialect, source: str, weight: str, refused: Callable[[], Exception]
) -> None:
    """Weights the local fit refuses (missing, negative, infinite; none
    above 0) are refused first, as there."""
    w = f"CAST({weight} AS {d.double})"
    bad = f"{w} IS NULL OR {w} < 0 OR {w} = {d.literal(float('inf'))}"
    ((n_bad, n_positive, n_rows),) = connection.execute(
        f"SELECT sum(CASE WHEN {bad} THEN 1 ELSE 0 END), "
        f"sum(CASE WHEN {w} > 0 THEN 1 ELSE 0 END), count(*) FROM {source}"
    ).fetchall()
    if n_bad:
        raise refused()
    if n_rows and not n_positive:
        raise ValueError(NO_WEIGHT)


def _target_values(
    connection: Any,
    d: Dialect,
    source: str,
    target: tuple[str, str],
    weight: str | None,
) -> list[tuple[Any, Any]]:
    """The target's distinct values (double, text) among the rows of positive
    weight, at most one more than a set of classes may hold."""
    tx, ts = target
    kept = f"({tx} IS NOT NULL OR {ts} IS NOT NULL)"
    if weight is not None:
        kept += f" AND CAST({weight} AS {d.double}) > 0"
    return list(
        connection.execute(
            f"SELECT DISTINCT CAST({tx} AS {d.double}), CAST({ts} AS {d.text}) FROM {source} "
            f"WHERE {kept} LIMIT {MAX_CLASSES + 1}"
        ).fetchall()
    )


def _chunks(connection: Any, query: str, keys: Sequence[str]) -> Iterator[dict[str, Any]]:
    """The grouped rows by key, a chunk at a time: from DuckDB as Arrow
    batches (numbers as arrays, NULL as NaN), from other engines as tuples."""
    if type(connection).__module__.split(".")[0] in ("duckdb", "_duckdb") and has_arrow():
        with connection.sql(query).to_arrow_reader(ARROW_ROWS) as reader:
            for batch in reader:
                yield {
                    key: _texts(batch.column(j))
                    if key == "s"
                    else batch.column(j).to_numpy(zero_copy_only=False)
                    for j, key in enumerate(keys)
                }
        return
    cursor = connection.execute(query)
    while chunk := cursor.fetchmany(CHUNK_ROWS):
        yield dict(zip(keys, zip(*chunk)))


def _texts(column: Any) -> Any:
    """An Arrow column of texts as objects: None throughout (the column of
    a number) without reading it."""
    if column.null_count == len(column):
        return np.full(len(column), None, dtype=object)
    return column.to_pylist()


def _fetched(connection: Any, query: str, keys: Sequence[str]) -> dict[str, Any]:
    """The grouped rows as arrays by key (the texts as objects)."""
    parts: dict[str, list[Any]] = {key: [] for key in keys}
    for chunk in _chunks(connection, query, keys):
        for key in keys:
            parts[key].append(chunk[key])
    out: dict[str, Any] = {}
    for key, chunks in parts.items():
        if key == "s":
            out[key] = np.concatenate(
                [np.asarray(c, dtype=object) for c in chunks] or [np.zeros(0, object)]
            )
        elif key == "x":
            out[key] = np.concatenate([doubles(c) for c in chunks] or [np.zeros(0)])
        else:
            out[key] = np.concatenate(
                [np.asarray(c, dtype=np.float64 if key == "w" else np.int64) for c in chunks]
                or [np.zeros(0)]
            )
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
    if weight is not None and refused is not None:
        _checked_weights(connection, d, source, weight, refused)
    found = _target_values(connection, d, source, target, weight)
    codes, classes = checked_classes(y, [v for v, _ in found], [t for _, t in found], types[y])
    counted: dict[str, Any] = {}
    if columns:
        groups = f"tessaline_groups_{uuid.uuid4().hex}"
        code = class_code(d, target, found, codes.tolist())
        connection.execute(
            f"CREATE TEMPORARY TABLE {groups} AS "
            + class_grouped_query(d, source, columns, types, categorical, code, weight)
        )
        keys = ("c", "x", "s", "k", *(("w",) if weight else ()), "n")
        try:
            sizes = connection.execute(
                f"SELECT c, count(*) FROM {groups} WHERE c >= 0 GROUP BY c"
            ).fetchall()
            # A column has no more distinct values than groups: only those of
            # more groups than max_distinct have theirs counted.
            distinct = {int(c): int(n) for c, n in sizes}
            if max(distinct.values(), default=0) > max_distinct:
                distinct = {
                    int(c): int(n)
                    for c, n in connection.execute(
                        f"SELECT c, count(DISTINCT x) + count(DISTINCT s) FROM {groups} "
                        "WHERE c >= 0 GROUP BY c"
                    ).fetchall()
                }
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
                    {int(c): int(n) for c, n in sizes},
                    categorical,
                    [],
                    None,
                    client_memory,
                )
            # In order of value, which spares the client a sort of them.
            grouped = _fetched(
                connection,
                f"SELECT {', '.join(keys)} FROM {groups} ORDER BY c, x, s",
                keys,
            )
        except BaseException:
            # A failed statement may have ended the transaction, and the table with it.
            with contextlib.suppress(Exception):
                connection.execute(f"DROP TABLE IF EXISTS {groups}")
            raise
        connection.execute(f"DROP TABLE {groups}")
        counted = class_counts_from_groups(grouped, columns, types, categorical, len(classes))
    return binning.fit_counts(counted, classes, [*types], plan.skipped, plan.wanted)
