"""The body of a CSV file streamed through Arrow's reader into the report's
columns: each number column written straight into one float64 array as its
record batches come, the other columns kept as Arrow text. A file is read
in two halves on two threads, each half from a line break on: Arrow's
streaming reader parses on one thread, and its reader of a whole table
spends twice the work to find where rows end when a quoted cell may hold a
line break. A half ends with a closing line of empty cells, which only a
half that ends between rows reads as a row of its own."""

from __future__ import annotations

import io
import os
from collections.abc import Callable
from concurrent.futures import ThreadPoolExecutor
from typing import Any

import numpy as np

from .._core.dependencies import require
from . import _arrow_arrays as arrow_arrays

# A half must hold at least this many bytes for two threads to pay.
SPLIT_FROM_BYTES = 16 << 20
# How far past the middle of the body a line break is looked for.
_BREAK_SEARCH = 1 << 20

OpenBatches = Callable[[Any], Any]  # a source to Arrow's stream of record batches


class Gathered:
    """The columns of a stream of record batches: the `numeric` ones in
    float64 arrays (grown by doubling, in place where the allocator can), the
    others as lists of Arrow text chunks; so no number column is held twice."""

    def __init__(self, n_columns: int, numeric: set[int], capacity: int) -> None:
        self.n_rows = 0
        self.capacity = max(capacity, 1)
        self.floats = {j: np.empty(self.capacity) for j in sorted(numeric)}
        self.nulls = dict.fromkeys(self.floats, 0)
        self.texts: dict[int, list[Any]] = {j: [] for j in range(n_columns) if j not in numeric}
        self.last: Any = None  # the last batch that holds a row

    def add(self, batch: Any) -> None:
        n, k = self.n_rows, batch.num_rows
        if k == 0:
            return
        if n + k > self.capacity:
            self.capacity = max(2 * self.capacity, n + k)
            for values in self.floats.values():
                values.resize(self.capacity, refcheck=False)
        for j, values in self.floats.items():
            column = batch.column(j)
            values[n : n + k] = arrow_arrays.float_values(column)
            self.nulls[j] += column.null_count
        for j, chunks in self.texts.items():
            chunks.append(batch.column(j))
        self.n_rows, self.last = n + k, batch

    def closed(self, n_columns: int) -> bool:
        """Whether the last row read is the closing line (a quote left open
        swallows it), and every NaN read is a missing cell's: Arrow reads
        '-nan' as NaN, which the standard reader takes for text."""
        last = self.last
        if last is None:
            return False
        if any(last.column(j)[-1].as_py() not in ("", None) for j in range(n_columns)):
            return False
        return all(
            np.count_nonzero(np.isnan(values[: self.n_rows])) == self.nulls[j]
            for j, values in self.floats.items()
        )


def gathered(batches: Any, n_columns: int, numeric: set[int], capacity: int) -> Gathered | None:
    """The stream's columns, or None when it does not end with the closing line."""
    columns = Gathered(n_columns, numeric, capacity)
    for batch in batches:
        columns.add(batch)
    return columns if columns.closed(n_columns) else None


def joined(parts: list[Gathered], n_columns: int) -> tuple[int, list[Any]]:
    """The number of rows and every column of consecutive parts, each
    without its closing line: the number columns as float64 arrays (NaN for
    a missing cell; a column without a present cell as text, all None), the
    others as Arrow text."""
    pa = require("pyarrow", "the report's CSV reading")

    rows = [part.n_rows - 1 for part in parts]
    n = sum(rows)
    first = parts[0]
    columns: list[Any] = [None] * n_columns
    for j, values in first.floats.items():
        if sum(part.nulls[j] for part in parts) - len(parts) == n:  # no cell present
            columns[j] = np.full(n, None, dtype=object)
            continue
        values.resize(n, refcheck=False)  # the first part's closing row goes
        start = rows[0]
        for part, k in zip(parts[1:], rows[1:]):
            values[start : start + k] = part.floats[j][:k]
            part.floats[j] = np.empty(0)  # the part's array goes once copied
            start += k
        columns[j] = values
    for j in first.texts:
        chunks = [
            chunk
            for part, k in zip(parts, rows)
            for chunk in pa.chunked_array(part.texts[j], pa.string()).slice(0, k).chunks
        ]
        columns[j] = pa.chunked_array(chunks, pa.string())
    return n, columns


class FilePart(io.RawIOBase):
    """Bytes [start, end) of a file read at offsets, never through the
    file's position (which the other half's reader shares), then `closing`."""

    def __init__(self, fd: int, start: int, end: int, closing: bytes) -> None:
        super().__init__()
        self.fd, self.position, self.end, self.closing = fd, start, end, closing

    def readable(self) -> bool:
        return True

    def read(self, size: int = -1) -> bytes:
        if self.position < self.end:
            wanted = self.end - self.position if size < 0 else min(size, self.end - self.position)
            chunk = os.pread(self.fd, wanted, self.position)
            if chunk:
                self.position += len(chunk)
                return chunk
            self.position = self.end  # the file was cut short since its size was taken
        chunk, self.closing = self.closing, b""
        return chunk


def _line_start_after(fd: int, position: int, end: int) -> int | None:
    """Where the line after the first line feed at or past `position` begins
    (None when there is none within reach): a '\\r\\n' pair stays whole."""
    window = os.pread(fd, min(_BREAK_SEARCH, end - position), position)
    at = window.find(b"\n")
    return None if at < 0 else position + at + 1


def _threads() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on every system
        return os.cpu_count() or 1


def read_in_halves(
    fd: int,
    body_start: int,
    closing: bytes,
    open_batches: OpenBatches,
    n_columns: int,
    numeric: set[int],
    rows_hint: int,
) -> tuple[int, list[Any]] | None:
    """The columns of the file's body read in two halves at once, or None
    when that does not pay (a short file, one processor) or does not hold:
    the middle line break lies inside a quoted cell, or a half cannot be read
    as the standard reader does (the caller then reads the body whole)."""
    pa = require("pyarrow", "the report's CSV reading")

    size = os.fstat(fd).st_size
    if size - body_start < 2 * SPLIT_FROM_BYTES or _threads() < 2:
        return None
    middle = _line_start_after(fd, body_start + (size - body_start) // 2, size)
    if middle is None or middle >= size:
        return None
    halves = [FilePart(fd, body_start, middle, closing), FilePart(fd, middle, size, closing)]

    def read(half: FilePart, capacity: int) -> Gathered | None:
        try:
            batches = open_batches(pa.PythonFile(half, mode="r"))
            return gathered(batches, n_columns, numeric, capacity)
        except pa.ArrowInvalid:
            return None

    # The first half's arrays have room for every row from the start: the
    # second half's rows are copied into pages not touched yet (and advised
    # as huge pages, as NumPy advises a large array's), not into pages that a
    # reallocation adds one by one.
    with ThreadPoolExecutor(2) as pool:
        parts = list(pool.map(read, halves, [rows_hint, rows_hint // 2 + 1024]))
    if parts[0] is None or parts[1] is None:
        return None
    return joined([parts[0], parts[1]], n_columns)
