"""An analyst's edits of a fitted table: cut points set, added, removed or
moved, bins merged or split, cut points fixed with the others re-optimised,
categories moved between bins, special values added or removed. Every edit
returns a new table, rebuilt from the counts the table keeps (no pass over
the rows) and equal bit for bit to a fresh fit with the resulting cut points
or groups, with the edit appended to its log. An edit is first resolved into
a `step` by cut points and category names, which is what replays on another
fit of the same column."""

from __future__ import annotations

import math
import warnings
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Self, TypedDict, Unpack

import numpy as np
import numpy.typing as npt

from .._core import checks, native, printing
from .._core.categories import OTHER
from ..exceptions import EditError, EmptyBinWarning, TrendWarning
from . import basis as edit_basis
from .basis import (
    EditBasis,
    group_summary,
    interval_summary,
    with_value,
    without_value,
)
from .edit_log import (
    MONOTONE,
    NAME_STEPS,
    NUMBER_STEPS,
    OPERATIONS,
    Edit,
    chained,
    table_digest,
    trend_of,
)
from .options import LIMITS, check_options, class_limits

if TYPE_CHECKING:
    from .._core.arrays import FloatArray

# Up to this many distinct values, a re-optimisation around fixed cuts
# considers a cut after every one of them; beyond, the quantile pre-bins.
EXACT_PREBINS = 200


class Note(TypedDict, total=False):
    """What an analyst records with an edit: why, who and when (any text)."""

    reason: str | None
    author: str | None
    time: str | None


class EditableTable:
    """The edits of `BinningTable`; each returns a new table."""

    __slots__ = ()
    # What the table holds (see BinningTable).
    kind: str
    name: str | None
    basis: EditBasis | None
    edits: tuple[Edit, ...]
    special_values: tuple[float, ...]
    pooled_categories: tuple[str, ...]
    pooled_bin: int | None

    @property
    def splits(self) -> FloatArray:
        raise NotImplementedError

    @property
    def bin_categories(self) -> tuple[tuple[str, ...], ...] | None:
        raise NotImplementedError

    @property
    def n_bins(self) -> int:
        raise NotImplementedError

    @property
    def has_missing_row(self) -> bool:
        raise NotImplementedError

    @property
    def weighted(self) -> bool:
        raise NotImplementedError

    @property
    def information_value(self) -> float:
        raise NotImplementedError

    @property
    def gini(self) -> float:
        raise NotImplementedError

    def __getitem__(self, column: str) -> npt.NDArray[Any]:
        raise NotImplementedError

    def to_dict(self) -> dict[str, Any]:
        raise NotImplementedError

    def _rebuilt(
        self,
        summary: Mapping[str, Any],
        *,
        special_values: Sequence[float],
        bin_categories: Sequence[tuple[str, ...]] | None,
        pooled_categories: Sequence[str],
        pooled_bin: int | None,
        basis: EditBasis,
        edits: tuple[Edit, ...],
    ) -> Self:
        raise NotImplementedError

    # -- numeric ---------------------------------------------------------------
    def with_cuts(
        self,
        cuts: npt.ArrayLike,
        *,
        fixed: bool = False,
        limits: Mapping[str, Any] | None = None,
        **note: Unpack[Note],
    ) -> Self:
        """The table at the cut points `cuts` (finite, increasing). With
        ``fixed=True`` the cuts are kept and the other cuts re-optimised
        around them under the table's limits (those of its fit, or
        `limits`: max_bins, min_bin_share, min_events, min_non_events, trend);
        a fixed cut that breaks a limit is an `EditError` naming the limit."""
        given = [float(c) for c in checks.cut_points("cuts", cuts)]
        if fixed:
            step: dict[str, Any] = {"fix_cuts": given, "limits": dict(limits or {})}
        else:
            step = {"set_cuts": given}
        return self._edit(
            "with_cuts", {"cuts": given, "fixed": fixed, "limits": dict(limits or {})}, step, note
        )

    def add_cut(self, value: float, **note: Unpack[Note]) -> Self:
        """The table with one more cut point at `value`."""
        return self._edit("add_cut", {"value": value}, {"add_cuts": [float(value)]}, note)

    def remove_cut(self, value: float, **note: Unpack[Note]) -> Self:
        """The table without the cut point `value`: its two bins merged."""
        return self._edit("remove_cut", {"value": value}, {"remove_cuts": [float(value)]}, note)

    def move_cut(self, old: float, new: float, **note: Unpack[Note]) -> Self:
        """The table with the cut point `old` moved to `new`."""
        return self._edit(
            "move_cut",
            {"old": old, "new": new},
            {"remove_cuts": [float(old)], "add_cuts": [float(new)]},
            note,
        )

    def merge(self, first: int, second: int, **note: Unpack[Note]) -> Self:
        """The table with bins `first` and `second` (numbers as printed) as one:
        for a numeric table, neighbours (every bin between them joins too);
        for a categorical one, any two bins."""
        a, b = (self._bin_number(i) for i in (first, second))
        if a == b:
            raise EditError(f"merge needs two different bins, not {first} twice")
        arguments = {"first": first, "second": second}
        if self.bin_categories is None:
            lo, hi = sorted((a, b))
            return self._edit(
                "merge", arguments, {"remove_cuts": [float(c) for c in self.splits[lo:hi]]}, note
            )
        return self._edit("merge", arguments, {"merge": [self._bin_key(a), self._bin_key(b)]}, note)

    def split(self, bin: int, at: float | Iterable[str], **note: Unpack[Note]) -> Self:
        """Bin `bin` in two: for a numeric table at the value `at` inside it
        (a new cut point); for a categorical one, the categories `at` taken
        out into a bin of their own."""
        b = self._bin_number(bin)
        if self.bin_categories is None:
            value = checks.real_number("at", at)
            lo = -math.inf if b == 0 else float(self.splits[b - 1])
            hi = math.inf if b == len(self.splits) else float(self.splits[b])
            if not lo < value < hi:
                raise EditError(
                    f"split: {value!r} is not inside bin {bin} {printing.interval(lo, hi)}"
                )
            return self._edit("split", {"bin": bin, "at": value}, {"add_cuts": [value]}, note)
        if not isinstance(at, (str, Iterable)):
            raise EditError(f"split: name the categories to take out of bin {bin}, not {at!r}")
        names = [at] if isinstance(at, str) else sorted(at)
        outside = [n for n in names if n not in self.bin_categories[b]]
        if outside or not names:
            raise EditError(
                f"split: bin {bin} does not hold {', '.join(map(repr, outside))}"
                if outside
                else "split: name the categories to take out"
            )
        return self._edit("split", {"bin": bin, "at": names}, {"split": names}, note)

    # -- categorical -----------------------------------------------------------
    def move(self, category: str, to: int | None, **note: Unpack[Note]) -> Self:
        """The table with `category` (one of a bin, or a pooled one) in bin
        `to` (a number as printed), or in a bin of its own with ``to=None``."""
        self._categories("move")
        target = None if to is None else self._bin_key(self._bin_number(to))
        return self._edit(
            "move", {"category": category, "to": to}, {"move": category, "to": target}, note
        )

    def send_unseen_to(self, bin: int, **note: Unpack[Note]) -> Self:
        """The table whose bin `bin` takes the categories not seen in training
        (and the pooled ones, which `transform` treats alike): the pooled
        group moves there, and `pooled_bin` is that bin."""
        self._categories("send_unseen_to")
        return self._edit(
            "send_unseen_to",
            {"bin": bin},
            {"unseen_with": self._bin_key(self._bin_number(bin))},
            note,
        )

    # -- special values --------------------------------------------------------
    def add_special(self, code: float, **note: Unpack[Note]) -> Self:
        """The table with `code` a special value: its rows leave the intervals
        for a row of their own."""
        return self._edit("add_special", {"code": code}, {"add_special": float(code)}, note)

    def remove_special(self, code: float, **note: Unpack[Note]) -> Self:
        """The table without the special value `code`: its rows go back to
        the interval holding it."""
        return self._edit("remove_special", {"code": code}, {"remove_special": float(code)}, note)

    # -- replay ----------------------------------------------------------------
    def replay(self, edits: Sequence[Edit | tuple[Any, ...]]) -> tuple[Self, list[str]]:
        """The table with `edits` made again in order, and what no longer
        applies: one message per edit left out. An edit is one of an earlier
        fit's log (its step is made again, with its reason, author and time)
        or a tuple of an operation's name and its arguments, a dict of
        keyword arguments last when wanted (``("merge", 2, 3)``,
        ``("with_cuts", [600, 1200], {"fixed": True})``)."""
        table, missed = self, []
        for i, edit in enumerate(edits):
            try:
                table = table._replayed(edit)
            except (EditError, ValueError, TypeError) as error:
                name = edit.operation if isinstance(edit, Edit) else edit[0]
                missed.append(f"edit {i + 1} ({name}) no longer applies: {error}")
        return table, missed

    def _replayed(self, edit: Edit | tuple[Any, ...]) -> Self:
        if isinstance(edit, Edit):
            return self._edit(
                edit.operation,
                edit.arguments,
                edit.step,
                Note(reason=edit.reason, author=edit.author, time=edit.time),
            )
        if not (isinstance(edit, tuple) and edit and edit[0] in OPERATIONS):
            raise EditError(
                f"an edit is an Edit of a log or a tuple of an operation "
                f"({', '.join(OPERATIONS)}) and its arguments, not {edit!r}"
            )
        name, *args = edit
        kwargs = args.pop() if args and isinstance(args[-1], dict) else {}
        table: Self = getattr(self, name)(*args, **kwargs)
        return table

    # -- the machinery ---------------------------------------------------------
    def _bin_number(self, number: int) -> int:
        if (
            isinstance(number, bool)
            or not isinstance(number, (int, np.integer))
            or not 0 <= number < self.n_bins
        ):
            raise EditError(f"bin numbers run from 0 to {self.n_bins - 1}, not {number!r}")
        return int(number)

    def _bin_key(self, b: int) -> str:
        """A category that names bin `b` in a step: its first one, or for the
        bin of the pooled group alone its first pooled category."""
        names = self._categories("this edit")[b]
        return names[0] if names else self.pooled_categories[0]

    def _categories(self, what: str) -> tuple[tuple[str, ...], ...]:
        if self.bin_categories is None:
            raise EditError(f"{what} moves categories: this table bins numbers")
        return self.bin_categories

    def _edit(
        self, operation: str, arguments: Mapping[str, Any], step: Mapping[str, Any], note: Note
    ) -> Self:
        """The table after `step`, with the edit appended to its log; a
        monotone event rate that the edit breaks is reported with a
        `TrendWarning`."""
        if self.basis is None:
            raise EditError(
                "this table keeps no counts to edit from (it was read from a "
                "document or pickled without them): fit it again, and replay its "
                "log with TableBinning.fit(..., edits=...)"
            )
        if self.basis.not_kept:
            raise EditError(
                f"this table's column has more than {edit_basis.MAX_KEPT_VALUES} distinct values, "
                "the most a table keeps counts of for edits: "
                "round the values, or fit custom_binning with the cut points wanted"
            )
        summary, fields = _stepped(self, self.basis, step)
        unlogged = self._rebuilt(summary, edits=(), **fields)
        _warn_emptied(self, unlogged, operation)
        trend = trend_of(unlogged["event_rate"][: unlogged.n_bins])
        edit = Edit(
            operation,
            dict(arguments),
            dict(step),
            note.get("reason"),
            note.get("author"),
            note.get("time"),
            measures(self),
            measures(unlogged),
            trend,
            table_digest(unlogged.to_dict()),
        )
        edit = chained(edit, self.edits[-1] if self.edits else None)
        if not edit.monotone and trend_of(self["event_rate"][: self.n_bins]) in MONOTONE:
            of = f" of {self.name!r}" if self.name is not None else ""
            warnings.warn(
                f"after {operation} the event rate over the bins{of} is {trend}, no "
                "longer monotone",
                TrendWarning,
                stacklevel=3,
            )
        return self._rebuilt(summary, edits=(*self.edits, edit), **fields)


def _warn_emptied(before: EditableTable, after: EditableTable, operation: str) -> None:
    """Warn of the intervals an edit leaves without rows (a cut point between
    two values no row lies between): those empty before it were warned of."""

    def empty(table: EditableTable) -> list[tuple[float, float]]:
        n = table.n_bins
        edges = zip(table["left"][:n], table["right"][:n], table["count"][:n])
        return [(float(lo), float(hi)) for lo, hi, count in edges if count == 0]

    if after.bin_categories is not None:
        return
    new = [e for e in empty(after) if e not in empty(before)]
    if new:
        of = f" of {after.name!r}" if after.name is not None else ""
        bins = ", ".join(printing.interval(lo, hi) for lo, hi in new)
        warnings.warn(
            f"after {operation} the bin{'s' if len(new) > 1 else ''} {bins}{of} "
            f"{'hold' if len(new) > 1 else 'holds'} no rows (WoE 0, IV 0)",
            EmptyBinWarning,
            stacklevel=4,
        )


def measures(table: EditableTable) -> dict[str, float]:
    """What an edit's log keeps of a table before and after it."""
    return {"iv": table.information_value, "gini": table.gini, "bins": table.n_bins}


def _stepped(
    table: EditableTable, basis: EditBasis, step: Mapping[str, Any]
) -> tuple[dict[str, Any], dict[str, Any]]:
    """The rows and the fields of the table after `step`."""
    # Each row's (non-events, events), and records of a weighted table.
    rows = [np.asarray(table[k]) for k in ("c0", "c1", "rows")[: 3 if table.weighted else 2]]
    missing = tuple(c[-1].item() if table.has_missing_row else 0 for c in rows)
    n = table.n_bins
    wrong = NAME_STEPS if table.bin_categories is None else NUMBER_STEPS
    if set(step) & set(wrong):
        raise EditError(
            f"{', '.join(sorted(set(step) & set(wrong)))} does not apply to a {table.kind} table"
        )
    if table.bin_categories is not None:
        groups: list[list[str | None]] = [list(b) for b in table.bin_categories]
        if table.pooled_bin is not None:
            groups[table.pooled_bin].append(None)
        bins, pooled = _regrouped(groups, table.pooled_categories, basis, step)
        records = None if basis.rows is None else (basis.rows, int(missing[2]))
        summary, ordered, pooled_bin = group_summary(
            basis.names, basis.c0, basis.c1, bins, pooled, (missing[0], missing[1]), records
        )
        return summary, {
            "special_values": (),
            "bin_categories": ordered,
            "pooled_categories": pooled,
            "pooled_bin": pooled_bin,
            "basis": basis,
        }
    specials = list(table.special_values)
    counts = [tuple(c[n + j].item() for c in rows) for j in range(len(specials))]
    if "add_special" in step:
        code = step["add_special"]
        if code in specials or not math.isfinite(code):
            raise EditError(
                f"{code!r} is already a special value"
                if code in specials
                else f"special values must be finite, not {code!r}"
            )
        basis, taken = without_value(basis, code)
        specials.append(code)
        counts.append(taken)
    if "remove_special" in step:
        code = step["remove_special"]
        if code not in specials:
            raise EditError(f"{code!r} is not a special value of this table")
        j = specials.index(code)
        basis = with_value(basis, code, *counts[j])
        del specials[j], counts[j]
    cuts = _cuts(table.splits, basis, step)
    return (
        interval_summary(basis, cuts, specials, counts, missing),
        {
            "special_values": specials,
            "bin_categories": None,
            "pooled_categories": (),
            "pooled_bin": None,
            "basis": basis,
        },
    )


def _cuts(current: FloatArray, basis: EditBasis, step: Mapping[str, Any]) -> FloatArray:
    """The cut points after a numeric step."""
    cuts = [float(c) for c in current]
    if "set_cuts" in step:
        cuts = list(step["set_cuts"])
    if "fix_cuts" in step:
        return fixed_cut_optimum(basis, step["fix_cuts"], step.get("limits", {}))
    for value in step.get("remove_cuts", ()):
        if value not in cuts:
            raise EditError(f"{printing.number(value)} is not a cut point of this table")
        cuts.remove(value)
    for value in step.get("add_cuts", ()):
        if value in cuts:
            raise EditError(f"{printing.number(value)} is already a cut point")
        cuts.append(value)
    return checks.cut_points("cuts", sorted(cuts))


def fixed_cut_optimum(
    basis: EditBasis, fixed: Sequence[float], limits: Mapping[str, Any]
) -> FloatArray:
    """The cut points of largest information value that hold every `fixed`
    cut, under the fit's limits overridden by `limits`: the optimal grouping
    of pre-bins (a cut after every distinct value when they are few, else the
    fit's quantile pre-bins), each fixed cut starting a group."""
    unknown = sorted(set(limits) - set(LIMITS))
    if unknown:
        raise EditError(f"unknown limit(s) {', '.join(unknown)}; limits are {', '.join(LIMITS)}")
    checked = {**basis.limits, **limits}
    check_options(LIMITS, checked)
    value = basis.value
    finite = value[np.isfinite(value)]
    if len(finite) <= EXACT_PREBINS:
        candidates = finite[finite < value[-1]] if value.size else finite
    else:
        candidates = native.quantile_splits(basis.counts, int(checked["n_prebins"]))
    kept = np.asarray(fixed, dtype=np.float64)
    prebins = np.union1d(candidates, kept)
    per_prebin = native.prebin_summary(basis.counts, prebins)
    intervals = ~np.isnan(np.asarray(per_prebin["left"]))
    c0 = np.asarray(per_prebin["c0"], dtype=np.float64)[intervals]
    c1 = np.asarray(per_prebin["c1"], dtype=np.float64)[intervals]
    # Limits of events left to their default are resolved as the fit resolved
    # them (whole counts), and the messages name the values the search held.
    resolved = class_limits(c0, c1, checked["min_events"], checked["min_non_events"])
    for key, least in zip(("min_events", "min_non_events"), resolved):
        if checked[key] is None:
            checked[key] = int(least) if basis.rows is None else least
    (best,) = native.optimal_groupings(
        c0,
        c1,
        checked["max_bins"],
        checked["min_bin_share"],
        checked["min_events"],
        checked["min_non_events"],
        (checked["trend"],),
        fixed_starts=np.searchsorted(prebins, kept) + 1,
    )
    if best["message"]:
        rows = np.asarray(per_prebin["count"])[intervals]
        raise EditError(_broken(best, kept, checked, rows, np.searchsorted(prebins, kept) + 1))
    cuts = prebins[best["last"][:-1]]
    # A quantile falls between two values; the largest value at or below it
    # parts the rows alike. A fixed cut stays as the analyst gave it.
    snapped = value[np.searchsorted(value, cuts, side="right") - 1]
    chosen: FloatArray = np.where(np.isin(cuts, kept), cuts, snapped)
    return chosen


def _broken(
    best: Mapping[str, Any],
    fixed: npt.NDArray[np.float64],
    limits: Mapping[str, Any],
    rows: npt.NDArray[Any],
    starts: npt.NDArray[np.int64],
) -> str:
    """Which limit the fixed cuts break, and the bin (between two fixed cuts,
    of the pre-bins `starts` begin) that breaks it."""
    message = str(best["message"])
    limit = next(
        (
            k
            for k in ("min_bin_share", "min_non_events", "min_events", "max_bins", "trend")
            if k in message
        ),
        "trend",
    )
    if not limit.startswith("min_"):
        return f"the fixed cuts break the limit {limit} = {limits[limit]!r}: {message}"
    j = int(best["broken_segment"])
    bounds = np.concatenate(([0], starts, [rows.size]))
    lo = float(fixed[j - 1]) if j > 0 else -math.inf
    hi = float(fixed[j]) if j < fixed.size else math.inf
    if rows[bounds[j] : bounds[j + 1]].sum() == 0:
        return f"the fixed cuts leave the bin {printing.interval(lo, hi)} without rows"
    return (
        f"the fixed cuts break the limit {limit} = {limits[limit]!r}: {message} "
        f"(the bin {printing.interval(lo, hi)})"
    )


def _regrouped(
    groups: list[list[str | None]], pooled: Sequence[str], basis: EditBasis, step: Mapping[str, Any]
) -> tuple[list[list[str | None]], tuple[str, ...]]:
    """The bins (lists of groups: a category, or None for the pooled group)
    and the pooled categories after a categorical step. A category names the
    bin that holds it, a pooled one the bin of the pooled group."""
    pooled = tuple(pooled)

    def bin_of(name: str | None) -> int:
        group = None if name in pooled else name
        for i, b in enumerate(groups):
            if group in b:
                return i
        raise EditError(f"no bin holds the category {name!r}")

    def take(name: str) -> None:
        nonlocal pooled
        if name in pooled:
            # The last pooled category taken out ends the pooled group.
            pooled = tuple(p for p in pooled if p != name)
            if not pooled:
                groups[bin_of(None)].remove(None)
            return
        groups[bin_of(name)].remove(name)

    if "move" in step:
        name, to = step["move"], step["to"]
        target = None if to is None else bin_of(to)
        if target is not None and name in groups[target]:
            raise EditError(f"the category {name!r} is already in that bin")
        destination = groups[target] if target is not None else []
        take(name)
        destination.append(name)
        if target is None:
            groups.append(destination)
    if "merge" in step:
        a, b = (bin_of(n) for n in step["merge"])
        if a == b:
            raise EditError(f"{step['merge'][0]!r} and {step['merge'][1]!r} share a bin")
        groups[a] += groups[b]
        groups[b] = []
    if "split" in step:
        names = list(step["split"])
        for name in names:
            take(name)
        groups.append(names)
    if "unseen_with" in step:
        target_bin = groups[bin_of(step["unseen_with"])]
        if None in target_bin:
            raise EditError("unseen categories already go to that bin")
        if any(None in b for b in groups):
            groups[bin_of(None)].remove(None)
        target_bin.append(None)
    kept = [b for b in groups if b]
    empty = [b for b in kept if all(_rows(basis, g, pooled) == 0 for g in b)]
    if empty:
        raise EditError(
            f"the bin {', '.join(OTHER if g is None else g for g in empty[0])} would hold no rows"
        )
    return kept, pooled


def _rows(basis: EditBasis, group: str | None, pooled: Sequence[str]) -> float:
    names = list(pooled) if group is None else [group]
    at = [basis.names.index(n) for n in names]
    return float(basis.c0[at].sum() + basis.c1[at].sum())
