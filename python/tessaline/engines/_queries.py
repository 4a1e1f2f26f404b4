"""The SQL an engine runs to count a table: the target read as event flags
(1.0, 0.0, NULL), one GROUP BY per column joined by UNION ALL into one
aggregate query, and the merging of a column's values into cells of about
equal rows (the approximate mode), all in the engine's own dialect."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any

from .._core import checks
from .._core.categories import category_name
from .._counting import BOOLEAN, CATEGORY, ColumnType
from .._formats.sql import identifier
from ._dialects import Dialect

# The position of the row that counts the target's values that are not 0/1,
# and of the one that counts the weights refused (missing, negative, infinite).
NOT_BINARY = -1
BAD_WEIGHT = -2


def event_flag(
    d: Dialect, target: str, kind: str, event: Any = None, cut: float | None = None
) -> str:
    return f"CAST({_flag(d, target, kind, event, cut)} AS {d.double})"


def _flag(d: Dialect, target: str, kind: str, event: Any, cut: float | None) -> str:
    """The target as 1.0 (event), 0.0 or NULL (missing): rows equal to
    `event` (as the local encoding names it), rows above `cut`, or a 0/1 or
    boolean target as it is."""
    y = identifier(target)
    if event is not None:
        if kind == BOOLEAN:
            named = f"CASE WHEN {y} THEN 'True' ELSE 'False' END"
            return (
                f"CASE WHEN {y} IS NULL THEN NULL WHEN {named} = {d.string(category_name(event))} "
                "THEN 1.0 ELSE 0.0 END"
            )
        if kind == CATEGORY or not checks.is_number(event):
            value, wanted = d.as_text(y), d.string(category_name(event))
        else:
            value, wanted = d.number(y), d.literal(float(event))
        known = f"{y} IS NULL" if kind == CATEGORY else f"{d.number(y)} IS NULL"
        return f"CASE WHEN {known} THEN NULL WHEN {value} = {wanted} THEN 1.0 ELSE 0.0 END"
    if kind == BOOLEAN:
        return f"CASE WHEN {y} THEN 1.0 WHEN NOT {y} THEN 0.0 END"
    if cut is not None:
        return (
            f"CASE WHEN {d.number(y)} IS NULL THEN NULL WHEN {d.number(y)} > "
            f"{d.literal(cut)} THEN 1.0 ELSE 0.0 END"
        )
    return d.number(y)


def grouped_query(
    d: Dialect,
    source: str,
    columns: Sequence[str],
    types: Mapping[str, ColumnType],
    categorical: Sequence[str],
    flag: str,
    weight: str | None = None,
) -> str:
    """One aggregate query for every column: its groups (c, x, s) with
    their rows n, rows of known target and events, and one row (c = -1)
    counting the rows whose flag is neither 0 nor 1. With `weight` (the
    weight column, a double), the groups are (c, x, s, w) of the rows of
    positive weight, and one row (c = -2) counts the weights refused."""
    if weight is not None:
        return _weighted_query(d, source, columns, types, categorical, flag, weight)
    arms = []
    for i, name in enumerate(columns):
        column = identifier(name)
        x, s = (
            d.category(column, types[name]) if name in categorical else (d.number(column), "NULL")
        )
        arms.append(
            f"SELECT {i} AS c, CAST({x} AS {d.double}) AS x, CAST({s} AS {d.text}) AS s, "
            f"count(*) AS n, count({flag}) AS known, sum({flag}) AS ones "
            f"FROM {source} GROUP BY 2, 3"
        )
    arms.append(
        f"SELECT {NOT_BINARY}, NULL, NULL, count(*), 0, 0 FROM {source} "
        f"WHERE {flag} NOT IN (0.0, 1.0)"
    )
    return "\nUNION ALL ".join(arms)


def _weighted_query(
    d: Dialect,
    source: str,
    columns: Sequence[str],
    types: Mapping[str, ColumnType],
    categorical: Sequence[str],
    flag: str,
    weight: str,
) -> str:
    """`grouped_query` with a weight column: each distinct weight of a value
    is a group of its own, so that the engine adds no weights (its sums of
    doubles would depend on the order of the rows); the client multiplies
    and adds them exactly."""
    w = f"CAST({weight} AS {d.double})"
    arms = []
    for i, name in enumerate(columns):
        column = identifier(name)
        x, s = (
            d.category(column, types[name]) if name in categorical else (d.number(column), "NULL")
        )
        arms.append(
            f"SELECT {i} AS c, CAST({x} AS {d.double}) AS x, CAST({s} AS {d.text}) AS s, "
            f"{w} AS w, count(*) AS n, count({flag}) AS known, sum({flag}) AS ones "
            f"FROM {source} WHERE {w} > 0 GROUP BY 2, 3, 4"
        )
    refused = f"{w} IS NULL OR {w} < 0 OR {w} = {d.literal(float('inf'))}"
    arms.append(
        f"SELECT {NOT_BINARY}, NULL, NULL, NULL, count(*), 0, 0 FROM {source} "
        f"WHERE {flag} NOT IN (0.0, 1.0)"
    )
    arms.append(
        f"SELECT {BAD_WEIGHT}, NULL, NULL, NULL, count(*), 0, 0 FROM {source} WHERE {refused}"
    )
    return "\nUNION ALL ".join(arms)


def refused_weight_query(d: Dialect, source: str, weight: str, raw: str) -> str:
    """The first weight refused, as the engine holds it."""
    w = f"CAST({weight} AS {d.double})"
    refused = f"{w} IS NULL OR {w} < 0 OR {w} = {d.literal(float('inf'))}"
    return f"SELECT {raw} FROM {source} WHERE {refused} LIMIT 1"


def _weighted_cells(d: Dialect, groups: str, mergeable: str, cells: int) -> str:
    """`cells_query` of weighted groups."""
    # The records before a value: those up to it, less its own (of every weight).
    before = (
        "(sum(n) OVER (PARTITION BY c ORDER BY x RANGE BETWEEN UNBOUNDED PRECEDING "
        "AND CURRENT ROW) - sum(n) OVER (PARTITION BY c, x))"
    )
    cell = d.floor_division(f"{before} * {cells}", "sum(n) OVER (PARTITION BY c)")
    return (
        f"SELECT c, x, s, w, n, known, ones FROM {groups} WHERE c >= 0 AND NOT {mergeable}\n"
        f"UNION ALL SELECT c, top, NULL, w, sum(n), sum(known), sum(ones) FROM "
        f"(SELECT c, w, n, known, ones, max(x) OVER (PARTITION BY c, cell) AS top FROM "
        f"(SELECT c, x, w, n, known, ones, {cell} AS cell FROM {groups} WHERE {mergeable}) "
        f"AS cells) AS tops GROUP BY c, top, w"
    )


def distinct_query(d: Dialect, groups: str) -> str:
    """The distinct values (or categories) of every counted column."""
    return f"SELECT c, count(x) + count(s) FROM {groups} WHERE c >= 0 GROUP BY c"


def cells_query(
    d: Dialect,
    groups: str,
    specials: Mapping[int, Sequence[float]],
    cells: int,
    weighted: bool = False,
) -> str:
    """The groups with the finite values (special values aside) of the
    columns numbered in `specials` merged into `cells` cells: in ascending
    order of value, a value whose rows start at or after a fraction k / cells
    of the column's rows, and before (k + 1) / cells, is in cell k, which
    takes its largest value and the sum of its counts. Counts stay exact.
    `weighted` groups (c, x, s, w) are cut by their records, a value's groups
    of every weight in one cell, and stay apart by weight."""
    tests = []
    for index, values in specials.items():
        kept = f" AND x NOT IN ({', '.join(d.literal(v) for v in values)})" if values else ""
        tests.append(f"c = {index}{kept}")
    infinite = ", ".join(d.literal(v) for v in (float("inf"), float("-inf")))
    mergeable = f"(({' OR '.join(tests)}) AND x IS NOT NULL AND x NOT IN ({infinite}))"
    before = (
        "COALESCE(sum(n) OVER (PARTITION BY c ORDER BY x ROWS BETWEEN UNBOUNDED PRECEDING "
        "AND 1 PRECEDING), 0)"
    )
    cell = d.floor_division(f"{before} * {cells}", "sum(n) OVER (PARTITION BY c)")
    if weighted:
        return _weighted_cells(d, groups, mergeable, cells)
    return (
        f"SELECT c, x, s, n, known, ones FROM {groups} WHERE NOT {mergeable}\n"
        f"UNION ALL SELECT c, max(x), NULL, sum(n), sum(known), sum(ones) FROM "
        f"(SELECT c, x, n, known, ones, {cell} AS cell FROM {groups} WHERE {mergeable}) "
        f"AS merged GROUP BY c, cell"
    )
