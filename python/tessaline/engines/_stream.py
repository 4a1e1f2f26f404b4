"""Numeric columns counted in the client from their values, streamed out of
the engine in one pass for all of them (from an in-process DuckDB through
Arrow, which hands its vectors over without copying them; from PostgreSQL
by a binary COPY): the core counts a column of many distinct values at the
cost of about one sort, less than the engine's own GROUP BY of those
values (three to four times less in DuckDB; in PostgreSQL one scan of the
table replaces one per column). Each batch is counted
on its own and the counts of a column are merged as they grow, so the
client holds a batch and every column's distinct values, never the rows.

The values are read as the grouped query reads them (NaN and NULL
missing), the target as its event flags (1.0, 0.0, NULL for unknown), so
the counts are those of the grouped rows, bit for bit. A stream that would
hold more distinct values than the caller allows stops and says so: the
grouped route then counts those columns in the engine and applies its
limits (an error that names the column, or ``approximate`` cells)."""

from __future__ import annotations

import contextlib
import functools
import threading
from collections.abc import Iterator, Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from .._binning.column_counts import ColumnCounts
from .._binning.optimal import CLASS_PART_SHARE, CLASS_PARTS, DEFAULT_N_PREBINS
from .._core import native
from .._core.dependencies import require
from .._core.threads import run_in_threads
from .._counting import not_zero_one
from .._formats.sql import identifier
from ._dialects import Dialect
from ._memory import Limits

# Rows of one batch; fewer when a memory limit is given, so that a batch
# (8 bytes a value, read and copied) takes at most an eighth of it, and
# without one, so that a batch of many columns takes at most BATCH_BYTES.
BATCH_ROWS = 1 << 20
BATCH_BYTES = 1 << 28
_SMALLEST_BATCH = 1 << 14
# Distinct values of a batch counted without a sort: a column of more gives
# up after hashing about this many values.
FEW_VALUES = 4096


@dataclass
class _Column:
    """The counts of one column so far: merged (value, c0, c1) of the rows
    of known target, the values of the rows of unknown target, the rows of
    missing value, and the parts of the latest batches not yet merged."""

    known: dict[str, npt.NDArray[Any]] = field(default_factory=dict)
    unknown: dict[str, npt.NDArray[Any]] = field(default_factory=dict)
    pending: list[dict[str, npt.NDArray[Any]]] = field(default_factory=list)
    pending_unknown: list[dict[str, npt.NDArray[Any]]] = field(default_factory=list)
    missing: list[int] = field(default_factory=lambda: [0, 0, 0])  # rows, known, events
    # The index and default pre-bins of the first batch's counts of the rows
    # of known target, as the rows' own fit makes them (None past it).
    prebinned: dict[str, Any] | None = None
    batches: int = 0
    # Whether a batch held more than FEW_VALUES values: the next are sorted.
    many: bool = False

    def held(self) -> int:
        """Distinct values held, merged or pending (an upper bound)."""
        parts = [self.known, self.unknown, *self.pending, *self.pending_unknown]
        return sum(len(p["value"]) for p in parts if p)


def _merged(parts: Sequence[dict[str, npt.NDArray[Any]]]) -> dict[str, npt.NDArray[Any]]:
    """One count of the parts, each counted apart (ascending, distinct
    values): merged in one pass over them, as runs, without a sort."""
    kept = [p for p in parts if p]
    if len(kept) <= 1:
        return kept[0] if kept else {}
    runs = []
    for part in kept:
        rows = part["c0"] + part["c1"]
        runs.append((part["value"], rows, rows, part["c1"]))
    value, _, rows, c1 = native.merge_count_runs(runs)
    return {"value": value, "c0": rows - c1, "c1": c1}


def _settle(column: _Column, every: bool = False) -> None:
    """Merges the pending parts once they hold as many values as the merged
    counts (each value is then merged a number of times that grows with the
    log of the batches only), or `every` time."""
    for merged, pending in (("known", "pending"), ("unknown", "pending_unknown")):
        parts = getattr(column, pending)
        waiting = sum(len(p["value"]) for p in parts)
        if parts and (every or waiting >= len(getattr(column, merged).get("value", ()))):
            setattr(column, merged, _merged([getattr(column, merged), *parts]))
            setattr(column, pending, [])


class _Room:
    """Arrays of doubles kept from one column's batch to the next, and from
    fit to fit, for the Arrow columns of several chunks (DuckDB's row
    groups): joined by Arrow, each took twice as long as a copy of its
    chunks into an array written before. At most KEEP are kept."""

    KEEP = 2

    def __init__(self) -> None:
        self._free: list[npt.NDArray[np.float64]] = []
        self._lock = threading.Lock()

    @contextlib.contextmanager
    def doubles(self, values: Any) -> Iterator[npt.NDArray[np.float64]]:
        """`values` (an array, or Arrow's column) as an array of doubles,
        while the block lasts: the array must not outlive it."""
        chunks = getattr(values, "chunks", None)
        if chunks is None or len(chunks) < 2:
            yield np.asarray(values, dtype=np.float64)
            return
        size = len(values)
        with self._lock:
            room = next((r for r in self._free if r.size >= size), None)
            if room is not None:
                self._free.remove(room)
        if room is None:
            room = np.empty(size)
        at = 0
        for chunk in chunks:
            part = np.asarray(chunk, dtype=np.float64)
            room[at : at + part.size] = part
            at += part.size
        try:
            yield room[:size]
        finally:
            with self._lock:
                if len(self._free) < self.KEEP:
                    self._free.append(room)


_ROOM = _Room()


def _count_batch(values: Any, labels: Any, column: _Column) -> None:
    """Counts one batch of a column (an array of doubles, or Arrow's column
    of them, read here in the column's own thread): `labels` are the 0/1
    labels of the rows of known target and their mask (None when every
    row's is known)."""
    with _ROOM.doubles(values) as x:
        _count_doubles(x, labels, column)


def _count_doubles(x: npt.NDArray[np.float64], labels: Any, column: _Column) -> None:
    """`_count_batch` of the batch's values as doubles (read only here)."""
    known_labels, mask = labels
    if mask is not None:
        unknown_x = x[~mask]
        x = x[mask]
        column.pending_unknown.append(
            native.count_values(unknown_x, np.zeros(unknown_x.size, dtype=np.int32))
        )
        missing_unknown = int(np.isnan(unknown_x).sum())
        column.missing[0] += missing_unknown
    column.batches += 1
    column.prebinned = None
    # A column of few values is counted in a hash table, without a sort;
    # one of many takes the pre-bins of its first batch from the sort's
    # counts in passing (a column of many batches leaves them unused).
    few = None if column.many else native.count_values_at_most(x, known_labels, FEW_VALUES)
    column.many = few is None
    if few is None and column.batches == 1:
        counted = native.counted_prebins(
            x,
            known_labels,
            n_prebins=DEFAULT_N_PREBINS,
            max_class_parts=CLASS_PARTS,
            min_class_share=CLASS_PART_SHARE,
        )
        missing_c0, missing_c1 = int(counted["missing_c0"]), int(counted["missing_c1"])
        # The index and pre-bins only: the counts are kept once, below.
        column.prebinned = {k: counted[k] for k in ("index_c0", "index_c1", "prebins")}
        counted = {key: counted[key] for key in ("value", "c0", "c1")}
    else:
        counted = few if few is not None else native.count_values(x, known_labels)
        nan = np.isnan(x)
        missing_c1 = int(np.count_nonzero(known_labels[nan])) if nan.any() else 0
        missing_c0 = int(np.count_nonzero(nan)) - missing_c1
    column.pending.append(counted)
    column.missing[0] += missing_c0 + missing_c1
    column.missing[1] += missing_c0 + missing_c1
    column.missing[2] += missing_c1
    _settle(column)


def _labels(flag: npt.NDArray[np.float64], target: str) -> tuple[npt.NDArray[np.int32], Any]:
    """The 0/1 labels of the rows of known target, and their mask (None when
    every row's target is known); a flag other than 0 and 1 is an error."""
    unknown = np.isnan(flag)
    mask = None if not unknown.any() else ~unknown
    known = flag if mask is None else flag[mask]
    if ((known != 0.0) & (known != 1.0)).any():
        raise not_zero_one(target)
    return known.astype(np.int32), mask


def _counts(column: _Column, specials: Sequence[float]) -> ColumnCounts:
    """The column's counts as the grouped rows give them: a group per value
    of known target, one per value of unknown target, and the missing rows."""
    _settle(column, every=True)
    known = column.known or native.count_values(np.zeros(0), np.zeros(0, dtype=np.int32))
    unknown = column.unknown or {"value": np.zeros(0), "c0": np.zeros(0, dtype=np.int64)}
    missing_rows, missing_known, missing_events = column.missing
    # Each array written once in place: a column of many values would
    # otherwise fault in fresh pages for every sum and concatenation.
    n, m = len(known["value"]), len(unknown["value"])
    value = np.empty(n + m + 1)
    value[:n], value[n:-1], value[-1] = known["value"], unknown["value"], np.nan
    rows_known = np.empty(n + m + 1, dtype=np.int64)
    np.add(known["c0"], known["c1"], out=rows_known[:n])
    rows_known[n:-1], rows_known[-1] = 0, missing_known
    rows = rows_known
    if m or missing_rows != missing_known:
        # Rows of unknown target: the rows differ from the rows of known target.
        rows = rows_known.copy()
        rows[n:-1], rows[-1] = unknown["c0"], missing_rows
    ones = np.empty(n + m + 1, dtype=np.int64)
    ones[:n], ones[n:-1], ones[-1] = known["c1"], 0, missing_events
    # Counted by the core from rows: sound as they come.
    counts = ColumnCounts(value, rows, rows_known, ones, specials, counted_here=True)
    if not specials and column.prebinned is not None:
        # Searched as counted: the finite and infinite values of known target,
        # merged, whose pre-bins come with them (no copy of them to merge).
        counts.prebinned = {**column.prebinned, **known}
    return counts


def batch_rows(limits: Limits, columns: int) -> int:
    """Rows of a batch of `columns` values and a flag within the limits."""
    if limits.budget is None:
        return min(BATCH_ROWS, max(_SMALLEST_BATCH, BATCH_BYTES // (8 * (columns + 1))))
    return max(_SMALLEST_BATCH, min(BATCH_ROWS, limits.budget // (8 * 8 * (columns + 1))))


class CountsToCome:
    """A column's counts whose last batch is counted when they are first
    asked for, on the thread that asks (the one that bins the column, so
    that its table is built while other columns are still counted); the
    rows of known target and the events among them are known before."""

    def __init__(
        self,
        column: _Column,
        values: Any,
        labels: tuple[npt.NDArray[np.int32], Any],
        specials: Sequence[float],
        labelled: tuple[int, int],
    ) -> None:
        self._column, self._values, self._labels = column, values, labels
        self._specials, self._labelled = specials, labelled
        self._counted: ColumnCounts | None = None

    def labelled(self) -> tuple[int, int]:
        """Rows of known target and events among them, as the counts give them."""
        return self._labelled

    def __call__(self) -> ColumnCounts:
        if self._counted is None:
            # The batch is let go once counted: only the counts stay.
            values, self._values = self._values, None
            _count_batch(values, self._labels, self._column)
            self._counted = _counts(self._column, self._specials)
        return self._counted


def counted_batches(
    batches: Iterator[tuple[npt.NDArray[np.float64], list[npt.NDArray[np.float64]], bool]],
    columns: Sequence[str],
    target: str,
    specials: Mapping[str, Sequence[float]],
    limits: Limits,
    to_come: bool = False,
) -> dict[str, ColumnCounts | CountsToCome] | None:
    """The counts of `columns` from batches of (event flags, NaN where the
    target is unknown; the columns' values, NaN where missing; whether the
    batch is the last, known without reading a whole batch ahead); None when
    they hold more distinct values than `limits` allow. The batches are
    read to their end either way, which frees the engine's connection.
    With `to_come`, the last batch is left for each column's counts to
    count when first asked for (`CountsToCome`), when it cannot take any
    column beyond the limits."""
    counted: list[_Column] | None = [_Column() for _ in columns]
    known_rows = events = 0
    for flags, values, last in batches:
        if counted is None:
            continue
        labels = _labels(flags, target)
        known_rows += labels[0].size
        events += int(np.count_nonzero(labels[0]))
        # Every value of the batch new: the most it can add.
        if to_come and last and not limits.exceeded([c.held() + flags.size for c in counted]):
            return {
                name: CountsToCome(c, x, labels, specials.get(name, ()), (known_rows, events))
                for name, x, c in zip(columns, values, counted)
            }
        # The core counts with the interpreter lock released: a column a thread.
        run_in_threads(
            [functools.partial(_count_batch, x, labels, c) for x, c in zip(values, counted)],
            None,
        )
        if _over(counted, limits):
            counted = None
    if counted is None:
        return None
    tasks = [functools.partial(_counts, c, specials.get(n, ())) for n, c in zip(columns, counted)]
    return dict(zip(columns, run_in_threads(tasks, None)))


def streamed_counts(
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
    """The counts of the numeric `columns` of an in-process DuckDB's
    `source` against the event `flag` of the target, as `counted_batches`
    gives them (`to_come` as there), from one Arrow stream of their values."""
    # Missing values and unknown targets come as NaN rather than NULL: a
    # column without a validity bitmap is read as it is, not filled in.
    nan = f"CAST('NaN' AS {d.double})"
    values = ", ".join(
        f"COALESCE(CAST({identifier(name)} AS {d.double}), {nan}) AS c{i}"
        for i, name in enumerate(columns)
    )
    query = f"SELECT {values}, COALESCE({flag}, {nan}) AS flag FROM {source}"
    rows = batch_rows(limits, len(columns))
    with connection.sql(query).to_arrow_reader(rows) as reader:
        # Each column is read into an array on the thread that counts it.
        batches = (
            (
                table.column(len(columns)).to_numpy(),
                [table.column(i) for i in range(len(columns))],
                last,
            )
            for table, last in _tables(reader, rows)
        )
        return counted_batches(batches, columns, target, specials, limits, to_come)


def _tables(reader: Any, rows: int) -> Iterator[tuple[Any, bool]]:
    """The batches of `reader` gathered into tables of at least `rows` rows
    (the last may be shorter), each with whether it is the last: a batch of
    DuckDB holds a row group at most, and counting fewer rows at once would
    only add merges. A table is handed over once the batch after it comes.
    Its columns are joined in Arrow's own pool of memory, which keeps its
    pages from one batch (and fit) to the next."""
    pa = require("pyarrow", "fitting in DuckDB")
    batches, held = [], 0
    for batch in reader:
        if held >= rows:
            yield pa.Table.from_batches(batches), False
            batches, held = [], 0
        batches.append(batch)
        held += batch.num_rows
    if batches:
        yield pa.Table.from_batches(batches), True


def gathered(
    blocks: Iterator[Sequence[npt.NDArray[Any]]], rows: int, width: int
) -> Iterator[tuple[list[npt.NDArray[np.float64]], bool]]:
    """The `width` columns of `blocks` (each `width` arrays of as many
    numbers) gathered as doubles into arrays of `rows` rows (the last may be
    shorter), each with whether it is the last, known once the block after
    it comes. A batch is written once its rows are in, into arrays of its
    size (so a short table takes no room for more), kept and written over by
    the batches after a full one: what is handed over is read before the
    next is asked for. The blocks are let go once written."""
    batch: list[npt.NDArray[np.float64]] = []
    waiting: list[list[npt.NDArray[Any]]] = []
    held = 0

    def written() -> list[npt.NDArray[np.float64]]:
        nonlocal batch, waiting
        if not batch or batch[0].size < held:
            batch = [np.empty(held) for _ in range(width)]
        at = 0
        for parts in waiting:
            size = len(parts[0])
            for into, part in zip(batch, parts):
                into[at : at + size] = part
            at += size
        waiting = []
        return batch if batch[0].size == held else [part[:held] for part in batch]

    for block in blocks:
        size = len(block[0]) if width else 0
        start = 0
        while start < size:
            if held == rows:
                # Full, and more rows follow.
                yield written(), False
                held = 0
            taken = min(rows - held, size - start)
            waiting.append([part[start : start + taken] for part in block])
            held += taken
            start += taken
    if held:
        yield written(), True


def _over(counted: Sequence[_Column], limits: Limits) -> bool:
    """Whether the columns hold more distinct values than `limits` allow
    (the parts pending may repeat values: merged first when they seem to)."""
    if not limits.exceeded([c.held() for c in counted]):
        return False
    for column in counted:
        _settle(column, every=True)
    return limits.exceeded(
        [
            np.union1d(c.known.get("value", ()), c.unknown.get("value", ())).size
            if c.unknown
            else c.held()
            for c in counted
        ]
    )
