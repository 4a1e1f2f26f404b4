"""Counts of a table's rows that merge across batches: for each column, one
entry per distinct value (numbers, NaN for the missing ones) or category
name (None for the missing ones) with its rows, rows of known target and
events (with sample weights: the records of positive weight, and the exact
weight of the rows, of the non-events and of the events). Merging two batches adds
the counts of equal keys, so the memory held is that of the distinct values,
never of the rows, and the merged counts of every batch are those of all the
rows together."""

from __future__ import annotations

import functools
from collections.abc import Callable, Collection, Mapping
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import categories, native, threads
from .._core.arrays import FloatArray
from .column_counts import CategoryCounts, ColumnCounts, SearchedCounts, category_counts
from .optimal import CLASS_PART_SHARE, CLASS_PARTS, DEFAULT_N_PREBINS

Counts = npt.NDArray[np.int64]


@dataclass(frozen=True)
class ExactWeights:
    """Per key, the few partials whose exact sum is its weight: key i's are
    terms[offsets[i]:offsets[i + 1]]. Adding partials loses nothing, so the
    weights of all the batches are those of one pass over their rows,
    whatever the order or the split of the rows."""

    terms: FloatArray
    offsets: Counts

    def sums(self) -> FloatArray:
        """Each key's weight: its exact sum, rounded once."""
        return native.exact_sums(self.terms, self.offsets)


@dataclass(frozen=True)
class Groups:
    """One column's counts by key (float64 values, or an object array of
    category names), each key once; with weights, those of the rows, of the
    non-events and of the events."""

    keys: npt.NDArray[Any]
    rows: Counts
    known: Counts
    ones: Counts
    weights: tuple[ExactWeights, ExactWeights, ExactWeights] | None = None


def _regrouped(weights: ExactWeights, inverse: Counts, size: int) -> ExactWeights:
    """The partials of the groups of `weights` gathered by new key `inverse`
    (one per group) and reduced to the partials of each new key's sum."""
    lengths = np.diff(weights.offsets)
    order = np.argsort(inverse, kind="stable")
    starts, spans = weights.offsets[:-1][order], lengths[order]
    # Every term of the groups in their new order, group after group.
    shifted = np.repeat(starts - (np.cumsum(spans) - spans), spans)
    terms = weights.terms[np.arange(int(spans.sum()), dtype=np.int64) + shifted]
    counted = np.bincount(inverse, weights=lengths, minlength=size).astype(np.int64)
    offsets = np.concatenate(([0], np.cumsum(counted))).astype(np.int64)
    return ExactWeights(*native.exact_partials(terms, offsets))


def _grouping(keys: npt.NDArray[Any]) -> tuple[npt.NDArray[Any], Counts]:
    """The distinct keys (NaN one key, as None is) and each key's place among
    them. Numbers come out ascending; category names keep their first order
    (they are few)."""
    if keys.dtype == object:
        order: dict[Any, int] = {}
        inverse = np.array([order.setdefault(k, len(order)) for k in keys.tolist()], dtype=np.int64)
        return np.array(list(order), dtype=object), inverse
    ranked = np.argsort(keys, kind="stable")
    ordered = keys[ranked]
    starts = np.ones(ordered.size, dtype=bool)
    missing = np.isnan(ordered)
    starts[1:] = (ordered[1:] != ordered[:-1]) & ~(missing[1:] & missing[:-1])
    inverse = np.empty(ordered.size, dtype=np.int64)
    inverse[ranked] = np.cumsum(starts) - 1
    return ordered[starts], inverse


def _runs_grouping(runs: list[npt.NDArray[Any]]) -> tuple[npt.NDArray[Any], Counts]:
    """`_grouping` of the concatenated `runs`, each the distinct keys of one
    batch: numbers, ascending, are merged run by run (what was sorted is not
    sorted again)."""
    if runs[0].dtype == object:
        return _grouping(np.concatenate(runs))
    return native.merge_key_runs(runs)


def _summed(
    grouping: tuple[npt.NDArray[Any], Counts],
    rows: Counts,
    known: Counts,
    ones: Counts,
    weights: tuple[ExactWeights, ...] | None = None,
) -> Groups:
    """The counts of the entries of each key (`grouping`: the keys and each
    entry's place among them) added up, the weights exactly."""
    unique, inverse = grouping
    # Counts of rows add up exactly in doubles (below 2^53).
    sums = [
        np.bincount(inverse, weights=c, minlength=unique.size).astype(np.int64)
        for c in (rows, known, ones)
    ]
    summed = None
    if weights is not None:
        a, b, c = (_regrouped(w, inverse, unique.size) for w in weights)
        summed = (a, b, c)
    return Groups(unique, sums[0], sums[1], sums[2], weights=summed)


def _category_grouping(column: categories.Encoded) -> tuple[npt.NDArray[Any], Counts]:
    """The names present in a batch (None for a missing one) and each row's
    place among them, from the codes alone."""
    codes = column.codes.astype(np.int64) + 1
    present = np.flatnonzero(np.bincount(codes, minlength=len(column.names) + 1))
    names = np.array([None, *column.names], dtype=object)
    return names[present], np.searchsorted(present, codes)


def target_kinds(flags: FloatArray) -> Counts:
    """Each row's kind of target for `_category_batch`, past the kinds of
    the missing name: 3 unknown, 4 non-event, 5 event. Made once per batch
    for all its categorical columns."""
    kinds: Counts = (flags == flags).astype(np.int64)
    kinds += flags == 1.0
    kinds += 3
    return kinds


def _category_batch(column: categories.Encoded, kinds: Counts) -> Groups:
    """One batch's counts of a categorical column without weights: the
    names present (None for a missing one, first) with their rows, rows of
    known target and events, in one count of each row's name and kind of
    target (`target_kinds`)."""
    kind = column.codes.astype(np.int64)
    kind *= 3
    kind += kinds
    by_kind = np.bincount(kind, minlength=3 * (len(column.names) + 1)).reshape(-1, 3)
    return _named_groups(column, by_kind.sum(axis=1), by_kind[:, 1] + by_kind[:, 2], by_kind[:, 2])


def _known_category_batch(column: categories.Encoded, flags: FloatArray) -> Groups:
    """`_category_batch` of a batch whose every row has a known target: the
    rows of each name are then those of known target, counted by the core
    in one pass."""
    counted = native.count_categories(column.codes, flags, len(column.names))
    ones = np.concatenate(([counted["missing_c1"]], counted["c1"])).astype(np.int64)
    rows = np.concatenate(([counted["missing_c0"]], counted["c0"])).astype(np.int64) + ones
    return _named_groups(column, rows, rows, ones)


def _named_groups(column: categories.Encoded, rows: Counts, known: Counts, ones: Counts) -> Groups:
    """The groups of the names a batch holds rows of (None, the missing
    name, first), from counts per name in that order."""
    present = np.flatnonzero(rows)
    names = np.array([None, *column.names], dtype=object)
    return Groups(names[present], rows[present], known[present], ones[present])


def _numeric_batch(xs: FloatArray, flags: FloatArray) -> Groups:
    """One batch's counts of a numeric column without weights, counted by
    value in the core as a fit counts its rows, the missing values last."""
    return Groups(*native.count_batch(xs, flags))


def batch_groups(
    column: FloatArray | categories.Encoded, flags: FloatArray, weights: FloatArray | None = None
) -> Groups:
    """One batch's counts of a column, given as float64 values or encoded
    categories, against its event flags (1.0, 0.0, NaN for a missing target);
    with `weights` (checked), of the rows of positive weight."""
    if weights is None:
        if isinstance(column, categories.Encoded):
            return _category_batch(column, target_kinds(flags))
        return _numeric_batch(column, flags)
    present = weights > 0.0
    if isinstance(column, categories.Encoded):
        column = categories.Encoded(column.codes[present], column.names)
    else:
        column = column[present]
    flags, weights = flags[present], weights[present]
    # Each row its own group of one term.
    each = np.arange(weights.size + 1, dtype=np.int64)
    summed = tuple(
        ExactWeights(w, each) for w in (weights, weights * (flags == 0.0), weights * (flags == 1.0))
    )
    if isinstance(column, categories.Encoded):
        grouping = _category_grouping(column)
    else:
        grouping = _grouping(column)
    known = (~np.isnan(flags)).astype(np.int64)
    ones = (flags == 1.0).astype(np.int64)
    return _summed(grouping, np.ones(flags.size, dtype=np.int64), known, ones, summed)


def _joined(parts: list[ExactWeights]) -> ExactWeights:
    """The partials of every key of `parts`, one part after the other."""
    starts = np.cumsum([0] + [p.terms.size for p in parts[:-1]])
    return ExactWeights(
        np.concatenate([p.terms for p in parts]),
        np.concatenate([parts[0].offsets[:1], *(p.offsets[1:] + s for p, s in zip(parts, starts))]),
    )


def merged(parts: list[Groups]) -> Groups:
    """The counts of every batch in `parts` added up by key. Each part's
    numbers are ascending, so their keys merge run by run: what was sorted
    is not sorted again."""
    if len(parts) == 1:
        return parts[0]
    if parts[0].weights is None and parts[0].keys.dtype != object:
        # Counts of rows only: keys and counts merged together in the core.
        return Groups(*native.merge_count_runs([(p.keys, p.rows, p.known, p.ones) for p in parts]))
    weights = None
    if parts[0].weights is not None:
        weights = tuple(_joined([p.weights[k] for p in parts if p.weights]) for k in range(3))
    rows, known, ones = (
        np.concatenate([getattr(p, name) for p in parts]) for name in ("rows", "known", "ones")
    )
    return _summed(_runs_grouping([p.keys for p in parts]), rows, known, ones, weights)


def column_counts(
    groups: Groups | Mapping[str, Any], categorical: bool, special_values: Any = ()
) -> ColumnCounts | CategoryCounts:
    """The merged counts a table is built from: of a column's merged groups,
    or of what the search reads of a column read where it is held
    (`Batches.read_searched`)."""
    if not isinstance(groups, Groups):
        return SearchedCounts(groups)
    weights = None if groups.weights is None else [w.sums() for w in groups.weights]
    if categorical:
        return category_counts(list(groups.keys), groups.rows, groups.known, groups.ones, weights)
    return ColumnCounts(
        groups.keys,
        groups.rows,
        groups.known,
        groups.ones,
        special_values,
        weights,
        counted_here=True,
    )


# Batches whose counts are held apart before they are merged: up to
# SETTLE_FACTOR times the distinct values merged so far (at least
# SETTLE_FLOOR), so that memory stays within a few times the distinct values
# while each value is merged a few times only, whatever the number of batches.
# The rows of a numeric column without weights are held as they came, each
# row as one entry (its value and flag: no more than an entry of counts),
# and counted together when they outgrow that room or the fit is read: one
# count of many batches' rows costs what the count of each batch costs, and
# leaves the fewer, longer runs to merge. Their counted runs are merged only
# when the runs beside the longest outgrow that same room, or are more than
# MAX_RUNS: the longest run holds no more than the distinct values, so the
# bound stays, and the read, which merges every run at once, writes each
# entry once instead of once per merge between batches.
#
# The floor is shared out of HELD_ROWS rows held uncounted in all (some 256 MB
# of values) among the columns holding rows, where that gives each column
# more: counting a column's rows in one call at the read costs what one fit
# costs, while each count between batches leaves a run the read must merge
# again; a table of many columns keeps the floor, and its memory, as before.
SETTLE_FACTOR, SETTLE_FLOOR = 2, 1 << 16
HELD_ROWS = 1 << 25
MAX_RUNS = 8

Rows = tuple[FloatArray, FloatArray]


def _joined_rows(rows: list[Rows], flags_joined: dict[tuple[int, ...], FloatArray]) -> Rows:
    """A column's held rows in one array of values and one of flags; the
    flags of the same batches joined once for every column that holds them
    (`flags_joined`)."""
    if len(rows) == 1:
        return rows[0]
    batches = tuple(id(f) for _, f in rows)
    if batches not in flags_joined:
        flags_joined[batches] = np.concatenate([f for _, f in rows])
    return np.concatenate([x for x, _ in rows]), flags_joined[batches]


@dataclass
class Batches:
    """What `partial_fit` keeps between batches: the data's column names,
    the columns binned (True: as categories) with their counts (merged,
    and the batches' since then) and the rows held uncounted, the columns
    skipped with the reason, and the target's rows of known value and
    events, and whether the batches are weighted. `unread` is set while the
    counts hold batches no fit has read yet."""

    columns: list[str]
    categorical: dict[str, bool] = field(default_factory=dict)
    groups: dict[str, list[Groups]] = field(default_factory=dict)
    skipped: dict[str, str] = field(default_factory=dict)
    known: int = 0
    events: int = 0
    weighted: bool | None = None
    unread: bool = False
    # The rows of the numeric columns without weights not counted yet:
    # copies of each batch's values with its event flags.
    rows: dict[str, list[Rows]] = field(default_factory=dict)

    def __setstate__(self, state: dict[str, Any]) -> None:
        # Pickled before rows were held: every batch already counted.
        self.__dict__.update({"rows": {}, **state})

    def add(
        self,
        columns: Mapping[str, FloatArray | categories.Encoded],
        flags: FloatArray,
        weights: FloatArray | None,
        n_jobs: int | None,
    ) -> None:
        """Hold one more batch of `columns` against its event `flags` (and
        `weights`, checked): the rows of numeric columns without weights as
        they came, the others' counts (weighted columns on `n_jobs`
        threads); then count and merge what a column holds once it outgrows
        its counts."""
        weighted = weights is not None
        if self.weighted not in (None, weighted):
            raise ValueError("every batch needs sample_weight, or none")
        self.weighted = weighted
        tasks: dict[str, Callable[[], Groups]] = {}
        # Copies: the caller's arrays may change after the call.
        own_flags = None
        kinds = None
        unknown: bool | None = None
        for name, column in columns.items():
            self.groups.setdefault(name, [])
            if weights is None and not isinstance(column, categories.Encoded):
                own_flags = np.array(flags, dtype=np.float64) if own_flags is None else own_flags
                self.rows.setdefault(name, []).append(
                    (np.array(column, dtype=np.float64), own_flags)
                )
            elif weights is None and isinstance(column, categories.Encoded):
                # One pass of the core, or a few of NumPy where some targets
                # are unknown: cheaper here than a thread's start.
                if unknown is None:
                    unknown = bool(np.isnan(flags).any())
                if not unknown:
                    self.groups[name].append(_known_category_batch(column, flags))
                    continue
                kinds = target_kinds(flags) if kinds is None else kinds
                self.groups[name].append(_category_batch(column, kinds))
            else:
                tasks[name] = functools.partial(batch_groups, column, flags, weights)
        counted = threads.run_in_threads(list(tasks.values()), n_jobs) if tasks else []
        for name, batch in zip(tasks, counted):
            self.groups[name].append(batch)
        floor = self._floor()
        outgrown = [name for name in self.groups if self._outgrown(name, floor)]
        self._count_rows(outgrown, n_jobs)
        self._merge([name for name in outgrown if self._outgrown(name, floor, MAX_RUNS)], n_jobs)

    def _outgrown(self, name: str, floor: int, max_runs: int | None = None) -> bool:
        """Whether a column holds more than its counts allow apart: beside
        its longest run (or `floor` rows, if more), the other runs and the
        rows held uncounted; or more than `max_runs` runs."""
        sizes = [g.keys.size for g in self.groups[name]]
        longest = max(sizes, default=0)
        waiting = sum(sizes) - longest + sum(x.size for x, _ in self.rows.get(name, []))
        too_many = max_runs is not None and len(sizes) > max_runs
        return too_many or waiting > SETTLE_FACTOR * max(longest, floor)

    def _floor(self) -> int:
        """The rows a column may hold uncounted beside its counts, over
        SETTLE_FACTOR: its share of HELD_ROWS, at least SETTLE_FLOOR."""
        holding = sum(1 for rows in self.rows.values() if rows)
        return max(SETTLE_FLOOR, HELD_ROWS // (SETTLE_FACTOR * max(1, holding)))

    def _numeric(self, name: str) -> bool:
        """Whether a column holds numbers (rows as they came, or counts)."""
        held = self.groups[name]
        return bool(self.rows.get(name)) or (bool(held) and held[0].keys.dtype != object)

    def merged_groups(
        self, n_jobs: int | None, searched: Collection[str] = ()
    ) -> dict[str, Groups | Mapping[str, Any]]:
        """Every column's counts over all the batches: of the `searched`
        numeric columns without weights, what their search reads
        (`read_searched`); the others' merged, those of the numeric columns
        without weights in one native call on `n_jobs` threads."""
        read = self.read_searched(searched, n_jobs)
        numeric = [
            name
            for name in self.groups
            if name not in read and not self.weighted and self._numeric(name)
        ]
        self._count_rows(numeric, n_jobs)
        merged = native.merge_held_columns(
            [[(g.keys, g.rows, g.known, g.ones) for g in self.groups[name]] for name in numeric],
            n_threads=threads.thread_count(n_jobs),
        )
        for name, groups in zip(numeric, merged):
            self.groups[name] = [Groups(*groups)]
        self._merge(
            [name for name, held in self.groups.items() if len(held) > 1 and name not in read],
            n_jobs,
        )
        return {name: read[name] if name in read else held[0] for name, held in self.groups.items()}

    def read_searched(self, names: Collection[str], n_jobs: int | None) -> dict[str, Any]:
        """What the search reads of the numeric columns `names` (without
        weights) over all the batches, as `native.read_held_columns` gives
        it, in one native call on `n_jobs` threads: each column's runs are
        merged, and its rows held uncounted counted, for the read alone, so
        that no merged groups are written; what is held stays as it was
        (within its bound), and later batches go on from there."""
        names = [name for name in names if not self.weighted and self._numeric(name)]
        read = native.read_held_columns(
            [
                (
                    [(g.keys, g.rows, g.known, g.ones) for g in self.groups[name]],
                    self.rows.get(name, []),
                )
                for name in names
            ],
            n_prebins=DEFAULT_N_PREBINS,
            max_class_parts=CLASS_PARTS,
            min_class_share=CLASS_PART_SHARE,
            n_threads=threads.thread_count(n_jobs),
        )
        return dict(zip(names, read))

    def _count_rows(self, names: list[str], n_jobs: int | None) -> None:
        """The rows that the columns `names` hold, counted by native calls on
        `n_jobs` threads, each column's as one more run of its counts. A
        call takes as many columns as threads: the copies that join a
        column's batches then hold a few columns' rows at once, not all the
        rows held (up to HELD_ROWS)."""
        waiting = [name for name in names if self.rows.get(name)]
        n_threads = threads.thread_count(n_jobs)
        flags_joined: dict[tuple[int, ...], FloatArray] = {}
        for start in range(0, len(waiting), n_threads):
            part = waiting[start : start + n_threads]
            joined = [_joined_rows(self.rows[name], flags_joined) for name in part]
            counted = native.count_batch_columns(
                [x for x, _ in joined], [f for _, f in joined], n_threads
            )
            del joined
            for name, run in zip(part, counted):
                self.groups[name].append(Groups(*run))
                self.rows[name] = []

    def _merge(self, names: list[str], n_jobs: int | None) -> None:
        self._count_rows(names, n_jobs)
        # The merges release the interpreter lock: columns in parallel.
        names = [name for name in names if len(self.groups[name]) > 1]
        tasks: list[Callable[[], Groups]] = [
            functools.partial(merged, self.groups[name]) for name in names
        ]
        for name, one in zip(names, threads.run_in_threads(tasks, n_jobs) if tasks else []):
            self.groups[name] = [one]
