"""The data overview of a table inside an engine: every column grouped by
value (or category) with its rows, rows of known target and events, by the
fit's own aggregate query, a batch of columns per query; the client builds
each column's profile from those groups as the local overview builds it
from the rows, so both agree bit for bit."""

from __future__ import annotations

import contextlib
import uuid
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from .._column_profile import (
    DEFAULT_TOP,
    ColumnProfile,
    TargetCounts,
    category_profile,
    date_profile,
    numeric_profile,
)
from .._core import native
from .._counting import (
    BOOLEAN,
    CATEGORY,
    DEFAULT_MAX_DISTINCT,
    NUMBER,
    TIME,
    ColumnType,
    category_names,
    not_zero_one,
    over_max_distinct,
)
from .._data_overview import DataOverview
from .._formats.sql import identifier
from ._dialects import Dialect
from ._fetch import _chunks
from ._queries import NOT_BINARY, distinct_query, grouped_query

# Columns counted by one aggregate query.
BATCH_COLUMNS = 64


def _kind(column: ColumnType) -> str | None:
    """The overview's kind of an engine's column (None: not profiled)."""
    if column.kind == NUMBER:
        return "numeric"
    if column.kind == BOOLEAN:
        return "boolean"
    if column.kind == TIME:
        return "date"
    if column.kind == CATEGORY:
        return "categorical" if column.name.upper().startswith("ENUM") else "text"
    return None


def _groups(
    connection: Any,
    d: Dialect,
    source: str,
    columns: Sequence[str],
    types: Mapping[str, ColumnType],
    categorical: Sequence[str],
    flag: str,
    target: str | None,
    max_distinct: int,
) -> list[tuple[npt.NDArray[Any], ...]]:
    """Per column its groups (x, s, n, known, ones), the groups kept in a
    temporary table while their number is checked."""
    groups = f"tessaline_overview_{uuid.uuid4().hex}"
    connection.execute(
        f"CREATE TEMPORARY TABLE {groups} AS "
        + grouped_query(d, source, columns, types, categorical, flag)
    )
    try:
        ((bad,),) = connection.execute(f"SELECT n FROM {groups} WHERE c = {NOT_BINARY}").fetchall()
        if bad and target is not None:
            raise not_zero_one(target)
        distinct = {
            int(c): int(k) for c, k in connection.execute(distinct_query(d, groups)).fetchall()
        }
        over_max_distinct(
            columns,
            distinct,
            categorical,
            max_distinct,
            None,
            lambda n: f"round({identifier(n)}, 4)",
        )
        parts: list[list[tuple[Any, ...]]] = [[] for _ in columns]
        query = f"SELECT c, x, s, n, known, ones FROM {groups} WHERE c >= 0"
        for c, x, s_, n, known, ones in _chunks(connection, query):
            for i in np.unique(c).tolist():
                mine = c == i
                texts = (
                    [None] * int(mine.sum())
                    if s_ is None
                    else [s for s, m in zip(s_, mine.tolist()) if m]
                )
                parts[i].append((x[mine], texts, n[mine], known[mine], ones[mine]))
    except BaseException:
        with contextlib.suppress(Exception):
            connection.execute(f"DROP TABLE IF EXISTS {groups}")
        raise
    connection.execute(f"DROP TABLE {groups}")
    out = []
    for p in parts:
        x, n, known, ones = (
            np.concatenate([q[k] for q in p]) if p else np.zeros(0, dtype)
            for k, dtype in ((0, np.float64), (2, np.int64), (3, np.int64), (4, np.int64))
        )
        out.append((x, [t for q in p for t in q[1]], n, known, ones))
    return out


def _target_counts(
    missing: npt.NDArray[np.bool_], known: npt.NDArray[np.int64], ones: npt.NDArray[np.int64]
) -> TargetCounts:
    return TargetCounts(
        int(known[missing].sum()),
        int(ones[missing].sum()),
        int(known[~missing].sum()),
        int(ones[~missing].sum()),
    )


def _profile(
    name: str,
    kind: str,
    column: ColumnType,
    groups: tuple[Any, ...],
    with_target: bool,
    top: int,
) -> ColumnProfile:
    """A column's profile from its groups, as the local overview counts its rows."""
    x, texts, n, known, ones = groups
    if kind == "numeric":
        missing = np.isnan(x)
        merged = native.merge_value_counts(
            x[~missing], n[~missing], np.zeros(int((~missing).sum()))
        )
        target = _target_counts(missing, known, ones) if with_target else None
        return numeric_profile(
            name, merged["value"], merged["c0"], int(n[missing].sum()), target, top
        )
    names = category_names(texts, x, column)
    missing = np.array([v is None for v in names], dtype=bool)
    target = _target_counts(missing, known, ones) if with_target else None
    if kind == "date":
        return date_profile(
            name, int(n.sum()), int(n[missing].sum()), int((~missing).sum()), target
        )
    present = sorted({v for v in names if v is not None})
    position = {v: i for i, v in enumerate(present)}
    count = np.zeros(len(present), dtype=np.int64)
    np.add.at(count, [position[v] for v in names if v is not None], n[~missing])
    return category_profile(name, kind, present, count, int(n[missing].sum()), target, top)


def profiled(
    connection: Any,
    d: Dialect,
    source: str,
    types: Mapping[str, ColumnType],
    wanted: Sequence[str],
    target: str | None,
    flag: str,
    *,
    top: int = DEFAULT_TOP,
    max_distinct: int = DEFAULT_MAX_DISTINCT,
    batch_columns: int = BATCH_COLUMNS,
) -> DataOverview:
    """The overview of the columns `wanted` of `source`, the target read by
    `flag` (an event flag, or a NULL double without a target), grouped
    `batch_columns` columns per query."""
    if not isinstance(top, int) or isinstance(top, bool) or top < 0:
        raise ValueError(f"top must be a whole number of values, at least 0, not {top!r}")
    if batch_columns < 1:
        raise ValueError(f"batch_columns must be at least 1, not {batch_columns!r}")
    kinds = {n: _kind(types[n]) for n in wanted}
    skipped = {n: f"a column of {types[n].name} values" for n, k in kinds.items() if k is None}
    counted = [n for n in wanted if kinds[n] is not None]
    profiles: dict[str, ColumnProfile] = {}
    for start in range(0, len(counted), batch_columns):
        batch = counted[start : start + batch_columns]
        categorical = [n for n in batch if kinds[n] != "numeric"]
        grouped = _groups(
            connection, d, source, batch, types, categorical, flag, target, max_distinct
        )
        for name, groups in zip(batch, grouped):
            kind = kinds[name]
            assert kind is not None
            profiles[name] = _profile(name, kind, types[name], groups, target is not None, top)
    return DataOverview([profiles[n] for n in counted], target, skipped)
