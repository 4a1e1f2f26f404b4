"""PostgreSQL's numeric columns read by one binary COPY of their values
straight into NumPy, for the client to count (`stream.counted_batches`):
every field is a double, NaN where the value is missing or the target
unknown, so a block of the stream is an array of fixed-width records as it
comes, with no Python object per row; and the server scans the table once
for all the columns instead of grouping it once per column."""

from __future__ import annotations

from collections.abc import Iterator, Mapping, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from .._binning.column_counts import ColumnCounts
from .._formats.sql import identifier
from ._dialects import Dialect
from ._memory import Limits
from ._stream import CountsToCome, batch_rows, counted_batches

# The signature, flags and extension length before the first row.
_HEADER = 19
# Bytes of the COPY joined at most before they are read into records.
BLOCK_BYTES = 1 << 22


def _record(fields: int) -> np.dtype[Any]:
    """A row of the COPY: its field count, then each double's length and bytes."""
    parts = [("fields", ">i2")]
    for i in range(fields):
        parts += [(f"length{i}", ">i4"), (f"v{i}", ">f8")]
    return np.dtype(parts)


def _records(
    copy: Any, record: np.dtype[Any], rows: int
) -> Iterator[tuple[npt.NDArray[Any], bool]]:
    """The rows of a binary COPY as records, at least `rows` at a time
    (libpq hands them over one by one) and the last ones as they come, each
    with whether they are the last."""
    pending, parts, held, header = bytearray(), [], 0, True
    wanted = min(rows * record.itemsize, BLOCK_BYTES)
    for data in copy:
        parts.append(data)
        held += len(data)
        if held < wanted:
            continue
        pending += b"".join(parts)
        parts, held = [], 0
        if header:
            del pending[: _HEADER + int.from_bytes(pending[15:19], "big")]
            header = False
        whole = len(pending) // record.itemsize * record.itemsize
        yield np.frombuffer(bytes(pending[:whole]), dtype=record), False
        del pending[:whole]
    pending += b"".join(parts)
    if header and pending:
        del pending[: _HEADER + int.from_bytes(pending[15:19], "big")]
    # What is left after the rows is the trailer, two bytes.
    whole = len(pending) // record.itemsize * record.itemsize
    yield np.frombuffer(bytes(pending[:whole]), record), True


def copied_counts(
    connection: Any,
    d: Dialect,
    source: str,
    columns: Sequence[str],
    target: str,
    flag: str,
    specials: Mapping[str, Sequence[float]],
    limits: Limits,
    to_come: bool = False,
) -> dict[str, ColumnCounts | CountsToCome] | None:
    """The counts of the numeric `columns` of `source` against the event
    `flag`, as `counted_batches` gives them (`to_come` as there), from one
    binary COPY of their values."""
    nan = f"CAST('NaN' AS {d.double})"
    values = ", ".join(f"COALESCE({d.number(identifier(name))}, {nan})" for name in columns)
    query = f"SELECT COALESCE({flag}, {nan}), {values} FROM {source}"
    record = _record(len(columns) + 1)
    with connection.cursor().copy(f"COPY ({query}) TO STDOUT (FORMAT BINARY)") as copy:
        batches = (
            (
                rows["v0"].astype(np.float64),
                [rows[f"v{i + 1}"].astype(np.float64) for i in range(len(columns))],
                last,
            )
            for rows, last in _records(copy, record, batch_rows(limits, len(columns)))
        )
        return counted_batches(batches, columns, target, specials, limits, to_come)
