"""PostgreSQL's grouped counts of numeric columns read by one binary COPY
straight into NumPy: every field of a grouped row is made fixed-width (a
missing value is NaN, a NULL sum of flags 0), so a block of the stream is
an array of records as it comes, with no Python object per row; and the
groups stream to the client as the server makes them, without a
temporary table written and read again. The client counts the distinct
values of each column as they come: past `max_distinct` or the memory
given, it keeps no more and says so, and the grouped route of the
temporary table then applies its limits."""

from __future__ import annotations

from collections.abc import Iterator, Mapping, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from ..binning.counts import ColumnCounts
from ..counting import ColumnType, not_zero_one
from .dialects import Dialect
from .memory import Limits
from .queries import NOT_BINARY, grouped_query

# A row of the COPY: its field count, then each field's length and bytes.
_RECORD = np.dtype(
    [("fields", ">i2"), ("c_length", ">i4"), ("c", ">i4"), ("x_length", ">i4"), ("x", ">f8")]
    + [("n_length", ">i4"), ("n", ">i8"), ("known_length", ">i4"), ("known", ">i8")]
    + [("ones_length", ">i4"), ("ones", ">f8")]
)
# The signature, flags and extension length before the first row.
_HEADER = 19
# Bytes of the COPY read into records at once (about 70,000 rows).
BLOCK_BYTES = 1 << 22


def _blocks(copy: Any) -> Iterator[bytes]:
    """The data of a COPY joined into blocks of about `BLOCK_BYTES`."""
    parts, held = [], 0
    for data in copy:
        parts.append(data)
        held += len(data)
        if held >= BLOCK_BYTES:
            yield b"".join(parts)
            parts, held = [], 0
    if parts:
        yield b"".join(parts)


def copied_counts(
    connection: Any,
    d: Dialect,
    source: str,
    columns: Sequence[str],
    types: Mapping[str, ColumnType],
    target: str,
    flag: str,
    specials: Mapping[str, Sequence[float]],
    limits: Limits,
) -> dict[str, ColumnCounts] | None:
    """The counts of the numeric `columns` of `source` against the event
    `flag`, grouped by the server and read by binary COPY; None when they
    hold more distinct values than `limits` allow."""
    grouped = grouped_query(d, source, columns, types, [], flag)
    query = (
        "COPY (SELECT c::int4, COALESCE(x, 'NaN')::float8, n::int8, known::int8, "
        f"COALESCE(ones, 0)::float8 FROM ({grouped}) AS g) TO STDOUT (FORMAT BINARY)"
    )
    parts: list[list[npt.NDArray[Any]]] | None = [[] for _ in columns]
    distinct = np.zeros(len(columns), dtype=np.int64)
    refused = 0
    pending, header = bytearray(), True
    with connection.cursor().copy(query) as copy:
        # libpq hands a COPY over a row at a time: read in blocks of rows.
        for block in _blocks(copy):
            pending += block
            if header:
                del pending[: _HEADER + int.from_bytes(pending[15:19], "big")]
                header = False
            whole = len(pending) // _RECORD.itemsize * _RECORD.itemsize
            records = np.frombuffer(bytes(pending[:whole]), dtype=_RECORD)
            del pending[:whole]
            refused += int(records["n"][records["c"] == NOT_BINARY].sum())
            kept = records[records["c"] >= 0]
            distinct += np.bincount(kept["c"][~np.isnan(kept["x"])], minlength=len(columns)).astype(
                np.int64
            )
            if limits.exceeded(distinct.tolist()):
                # Read to its end, so that the connection is free for the grouped route.
                parts = None
            if parts is not None:
                for i in np.unique(kept["c"]).tolist():
                    parts[i].append(kept[kept["c"] == i])
    if refused:
        raise not_zero_one(target)
    if parts is None:
        return None
    out = {}
    for name, part in zip(columns, parts):
        rows = np.concatenate(part) if part else np.zeros(0, dtype=_RECORD)
        out[name] = ColumnCounts(
            rows["x"].astype(np.float64),
            rows["n"].astype(np.int64),
            rows["known"].astype(np.int64),
            rows["ones"].astype(np.int64),
            specials.get(name, ()),
        )
    return out
