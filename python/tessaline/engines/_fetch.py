"""The grouped counts of an engine read into the client a chunk of rows at
a time, kept as arrays per column: a distinct value costs the client its
numbers (a double and three counts), never a tuple of Python objects, which
takes ten times the room."""

from __future__ import annotations

from collections.abc import Iterator, Mapping, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from .._binning.column_counts import CategoryCounts, ColumnCounts
from .._core.dependencies import installed
from .._counting import ColumnType, counts_from_groups

# Rows fetched at once: the only ones the client holds as Python objects.
CHUNK_ROWS = 10_000
# Rows of an Arrow batch: columns of numbers, not objects.
ARROW_ROWS = 200_000


def _events(values: Sequence[Any]) -> npt.NDArray[np.int64]:
    """Sums of event flags as int64, a NULL sum (no flag known) as 0."""
    return np.nan_to_num(np.array(values, dtype=np.float64)).astype(np.int64)


def has_arrow() -> bool:
    """Whether pyarrow can be imported, for DuckDB to hand its results over."""
    return installed("pyarrow") is not None


def _chunks(connection: Any, query: str) -> Iterator[tuple[Any, ...]]:
    """The grouped rows (c, x, s, n, known, ones) as arrays, a chunk at a
    time: from DuckDB as Arrow batches, from other engines as tuples; the
    texts are None where a chunk holds none."""
    if type(connection).__module__.split(".")[0] in ("duckdb", "_duckdb") and has_arrow():
        with connection.sql(query).to_arrow_reader(ARROW_ROWS) as reader:
            for batch in reader:
                texts = batch.column(2)
                c, x, n, known, ones = (
                    batch.column(k).to_numpy(zero_copy_only=False) for k in (0, 1, 3, 4, 5)
                )
                yield (
                    c.astype(np.int64),
                    np.asarray(x, dtype=np.float64),
                    None if texts.null_count == len(texts) else texts.to_pylist(),
                    n.astype(np.int64),
                    known.astype(np.int64),
                    _events(ones),
                )
        return
    cursor = connection.execute(query)
    while chunk := cursor.fetchmany(CHUNK_ROWS):
        c_, x_, s_, n_, known_, ones_ = zip(*chunk)
        # NULL reads as NaN; PostgreSQL's sums of counts come as decimals.
        c, n, known = (np.array(v, dtype=np.int64) for v in (c_, n_, known_))
        yield c, np.array(x_, dtype=np.float64), s_, n, known, _events(ones_)


def fetched_counts(
    connection: Any,
    query: str,
    columns: Sequence[str],
    types: Mapping[str, ColumnType],
    categorical: Sequence[str],
    specials: Mapping[str, Sequence[float]],
) -> dict[str, ColumnCounts | CategoryCounts]:
    """Every column's merged counts from a query giving the grouped rows
    (c, x, s, n, known, ones) of `columns`, as `counts_from_groups` builds
    them, read `CHUNK_ROWS` rows at a time."""
    parts: list[list[tuple[npt.NDArray[Any], ...]]] = [[] for _ in columns]
    texts: list[list[str | None]] = [[] for _ in columns]
    for c, x, s_, n, known, ones in _chunks(connection, query):
        # Rows of c < 0 count the flags and weights refused: read before.
        for i in np.unique(c[c >= 0]).tolist():
            mine = c == i
            parts[i].append((x[mine], n[mine], known[mine], ones[mine]))
            if columns[i] in categorical:
                if s_ is None:
                    texts[i].extend([None] * int(mine.sum()))
                else:
                    texts[i].extend(s for s, m in zip(s_, mine.tolist()) if m)
    out: dict[str, ColumnCounts | CategoryCounts] = {}
    for i, name in enumerate(columns):
        x, n, known, ones = (
            np.concatenate([p[k] for p in parts[i]]) if parts[i] else np.zeros(0, dtype)
            for k, dtype in enumerate((np.float64, np.int64, np.int64, np.int64))
        )
        parts[i] = []
        if name in categorical:
            # Category names are Python strings anyway: the shared path reads them.
            groups = {"c": np.zeros(x.size), "x": x, "s": texts[i], "n": n}
            groups |= {"known": known, "ones": ones}
            out |= counts_from_groups(groups, [name], types, categorical, {})
        else:
            out[name] = ColumnCounts(x, n, known, ones, specials.get(name, ()))
    return out
