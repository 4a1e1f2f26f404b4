"""PostgreSQL's numeric columns read by one binary COPY of their values
straight into NumPy, for the client to count (`stream.counted_batches`):
every field is a double, NaN where the value is missing or the target
unknown, so a block of the stream is an array of fixed-width records as it
comes, with no Python object per row; and the server scans the table once
for all the columns instead of grouping it once per column."""

from __future__ import annotations

import itertools
from collections.abc import Iterator, Mapping, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from .._binning.column_counts import ColumnCounts
from .._formats.sql import identifier
from ._dialects import Dialect
from ._memory import Limits
from ._stream import CountsToCome, batch_rows, counted_batches, gathered

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


def _records(copy: Any, record: np.dtype[Any]) -> Iterator[npt.NDArray[Any]]:
    """The rows of a binary COPY as records, about BLOCK_BYTES of them at a
    time: libpq hands them over one by one, each a record (the header comes
    before the first, the trailer after the last), so they are joined a
    block at a time without a step of Python per row."""
    rows = iter(copy)
    pending, header = bytearray(), True
    while True:
        block = b"".join(itertools.islice(rows, max(1, BLOCK_BYTES // record.itemsize)))
        if not block:
            break
        pending += block
        if header and len(pending) >= _HEADER:
            del pending[: _HEADER + int.from_bytes(pending[15:19], "big")]
            header = False
        # Bytes past the whole records wait for the next block; the
        # trailer's two bytes are what is left at the end.
        whole = len(pending) // record.itemsize * record.itemsize
        if whole:
            yield np.frombuffer(bytes(pending[:whole]), dtype=record)
            del pending[:whole]


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
    width = len(columns) + 1
    with connection.cursor().copy(f"COPY ({query}) TO STDOUT (FORMAT BINARY)") as copy:
        # The blocks of records gathered into batches of the rows the limits
        # allow, each counted in one go instead of merged block by block.
        blocks = ([rows[f"v{i}"] for i in range(width)] for rows in _records(copy, record))
        batches = (
            (parts[0], parts[1:], last)
            for parts, last in gathered(blocks, batch_rows(limits, len(columns)), width)
        )
        return counted_batches(batches, columns, target, specials, limits, to_come)
