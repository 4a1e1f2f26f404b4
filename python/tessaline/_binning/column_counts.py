"""Binning tables rebuilt from merged counts: for each column, the rows of
each class at each distinct value (or category) and the rows set aside
(missing or infinite values, special values, missing targets). Counts taken
over parts of a data set and summed give these tables exactly as the local
functions give them from the rows; an engine (Spark) only has to count. No
numerics here: the cut rules, searches and summaries are the core's."""

from __future__ import annotations

import functools
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from typing import Any, Literal, cast

import numpy as np
import numpy.typing as npt

from .._core import checks, native
from .basis import numeric_basis
from .binning_table import BinningTable
from .categorical import categorical_table
from .numeric import default_minobs
from .optimal import DEFAULT_N_PREBINS, LIMIT_DEFAULTS, counted_cuts, optimal_cuts
from .options import check_bin_count, check_search
from .significance import IvTest
from .special import checked_special_values, is_special, with_special_counts
from .weights import category_counters, kind_weights

# What a row of one column is, for the counters of the local preprocessing:
# x finite / missing (NULL or NaN) / infinite / a special value, crossed with
# whether its target is known.
KEPT, MISSING_X, MISSING_Y, MISSING_BOTH, INF_KNOWN, INF_MISSING_Y, SPECIAL, SPECIAL_MISSING_Y = (
    range(8)
)
CountArray = npt.NDArray[np.int64]


def _whole(counts: Any, what: str) -> CountArray:
    """`counts` as int64, refused when a count is not a whole number (a
    float count would otherwise be truncated toward zero)."""
    array = np.ravel(np.asarray(counts))
    if array.dtype.kind in "iub":
        # Never written to: int64 counts are read where they are.
        return array.astype(np.int64, copy=False)
    if array.dtype.kind == "f":
        whole = np.isfinite(array) & (array == np.round(array)) & (np.abs(array) < 2.0**63)
        if whole.all():
            return array.astype(np.int64)
        raise ValueError(f"{what} must be whole numbers, not {float(array[~whole][0])!r}")
    raise TypeError(f"{what} must be whole numbers, not {array.dtype} values")


def checked_counts(
    size: int, rows: Any, known: Any, ones: Any, group: Callable[[int], str]
) -> tuple[CountArray, CountArray, CountArray]:
    """The rows, rows of known target and events of `size` groups as int64,
    refused unless 0 <= events <= known rows <= rows in every group;
    `group(i)` names the i-th group in the message."""
    checked = [
        _whole(c, what)
        for c, what in ((rows, "rows"), (known, "rows of known target"), (ones, "events"))
    ]
    lengths = [len(c) for c in checked]
    if lengths != [size] * 3:
        raise ValueError(
            f"every group needs its rows, rows of known target and events: "
            f"{size} groups, counts of lengths {', '.join(map(str, lengths))}"
        )
    rows64, known64, ones64 = checked
    for bad, message in (
        (rows64 < 0, "{r} rows"),
        (known64 < 0, "{k} rows of known target"),
        (ones64 < 0, "{e} events"),
        (known64 > rows64, "{k} rows of known target among {r} rows"),
        (ones64 > known64, "{e} events among {k} rows of known target"),
    ):
        if bad.any():
            i = int(np.argmax(bad))
            text = message.format(r=rows64[i], k=known64[i], e=ones64[i])
            raise ValueError(f"the counts of {group(i)} are impossible: {text}")
    return rows64, known64, ones64


def checked_weights(
    size: int, weights: Sequence[Any], group: Callable[[int], str], records: int
) -> tuple[npt.NDArray[np.float64], ...]:
    """The weights of all rows, of the non-events and of the events of `size`
    groups as float64, refused unless finite and not negative and, over the
    `records` rows behind them, counting rows."""
    if len(weights) != 3:
        raise ValueError(
            "weights must be the weight of the rows, of the non-events and of the events"
        )
    checked = tuple(np.ravel(np.asarray(w, dtype=np.float64)) for w in weights)
    if [len(w) for w in checked] != [size] * 3:
        raise ValueError(f"every group needs its three weights: {size} groups")
    for w in checked:
        bad = ~(np.isfinite(w) & (w >= 0.0))
        if bad.any():
            i = int(np.argmax(bad))
            raise ValueError(
                f"the weights of {group(i)} must be finite and non-negative, not {float(w[i])!r}"
            )
    checks.counting_rows(native.exact_sum(checked[0]), records)
    return checked


class ColumnCounts:
    """The merged counts of one numeric column: rows per kind, with their
    events, and the (value, c0, c1) of the rows whose value and target are known.

    Spark groups the rows of a column by value only (NULL and NaN are values
    there, and 0.0 and -0.0 one); what kind a group is follows from its value,
    which keeps the per-row work in Spark down to the grouping itself.

    With sample weights, `weights` holds per group the weight of its rows, of
    its non-events and of its events (sums of a weight column), and `rows`,
    `known` and `ones` count the records of positive weight only (rows of
    weight 0 are as if absent: filter them out before grouping); the tables
    are then those of `sample_weight`. Counts that the core made from rows
    (`counted_here`: int64 arrays of one entry per value, 0 <= events <=
    known rows <= rows) are sound as they come and not checked again."""

    def __init__(
        self,
        value: npt.NDArray[np.float64],
        rows: npt.NDArray[np.int64],
        known: npt.NDArray[np.int64],
        ones: npt.NDArray[np.int64],
        special_values: Sequence[float] = (),
        weights: Sequence[Any] | None = None,
        *,
        counted_here: bool = False,
    ) -> None:
        value = np.ravel(np.asarray(value, dtype=np.float64))
        if not counted_here:
            rows, known, ones = checked_counts(
                len(value), rows, known, ones, lambda i: f"the value {float(value[i])!r}"
            )
        self.weighted = weights is not None
        if weights is not None:
            w_rows, w0, w1 = checked_weights(
                len(value), weights, lambda i: f"the value {float(value[i])!r}", int(rows.sum())
            )
            self._w0, self._w1 = w0, w1
            # Weights per kind of row, as `rows` and `events` count them.
            self.weight = np.zeros(8, dtype=np.float64)
            self.weight_events = np.zeros(8, dtype=np.float64)
        missing = np.isnan(value)
        flagged = is_special(value, special_values)
        special = np.zeros(value.size, dtype=bool) if flagged is None else ~missing & flagged
        infinite = np.isinf(value) & ~special
        finite = ~(missing | special | infinite)
        self.rows = np.zeros(8, dtype=np.int64)
        self.events = np.zeros(8, dtype=np.int64)
        kinds = (
            (finite, KEPT, MISSING_Y),
            (missing, MISSING_X, MISSING_BOTH),
            (infinite, INF_KNOWN, INF_MISSING_Y),
            (special, SPECIAL, SPECIAL_MISSING_Y),
        )
        # The values set aside are few: theirs are read by position, and the
        # finite values' counts are what is left of the column's totals.
        self.rows[[KEPT, MISSING_Y]] = known.sum(), rows.sum() - known.sum()
        self.events[KEPT] = ones.sum()
        for group, with_y, without_y in kinds[1:]:
            at = np.flatnonzero(group)
            self.rows[[with_y, without_y]] = known[at].sum(), rows[at].sum() - known[at].sum()
            self.events[with_y] = ones[at].sum()
            self.rows[[KEPT, MISSING_Y]] -= self.rows[[with_y, without_y]]
            self.events[KEPT] -= self.events[with_y]
        for group, with_y, without_y in kinds if weights is not None else ():
            self.weight[[with_y, without_y]] = kind_weights(w_rows, w0, w1, group)
            self.weight_events[with_y] = native.exact_sum(w1[group])
        self._groups = {KEPT: finite, INF_KNOWN: infinite, SPECIAL: special}
        # The index and default pre-bins of the searched counts (`values([KEPT,
        # INF_KNOWN])`, merged as given), when whoever counted the rows made them.
        self.prebinned: Mapping[str, Any] | None = None
        self._value, self._known, self._ones = value, known, ones
        # As given, for the same groups with other values (`with_values`).
        self._group_rows, self._weights = rows, weights
        self.special_values = tuple(special_values)
        finite_values = value[finite & (rows > 0)]
        # Counts merged before come in order: a read, not a sort.
        ascending = bool(np.all(finite_values[1:] >= finite_values[:-1]))
        finite_values = finite_values if ascending else np.sort(finite_values)
        # The smallest and largest finite value held by rows (None: no such value).
        self.finite_range: tuple[float, float] | None = (
            (finite_values[0], finite_values[-1]) if finite_values.size else None
        )

    def values(self, kinds: Sequence[int]) -> dict[str, npt.NDArray[Any]]:
        """The merged (value, c0, c1) of the rows of these kinds (KEPT,
        INF_KNOWN, SPECIAL) with a known target, ascending."""
        if self.weighted:
            keep = np.logical_or.reduce([self._groups[k] for k in kinds]) & (self._known > 0)
            keep &= (self._w0 + self._w1) > 0.0
            return native.merge_weighted_counts(
                self._value[keep], self._w0[keep], self._w1[keep], self._known[keep]
            )
        # Counts merged before (batches, an engine's sorted groups) are taken
        # as they are by the merge, which reads whether they already are one.
        return native.merge_value_counts(*self.unmerged(kinds))

    @property
    def group_values(self) -> npt.NDArray[np.float64]:
        """The value of each group, as given."""
        return self._value

    def groups_of(self, kind: int) -> dict[str, npt.NDArray[Any]]:
        """The value and rows of known target of the groups of a kind
        (KEPT, INF_KNOWN, SPECIAL) that hold such rows, as given (unmerged)."""
        keep = self._groups[kind] & (self._known > 0)
        return {"value": self._value[keep], "known": self._known[keep]}

    def with_values(self, value: npt.NDArray[np.float64]) -> ColumnCounts:
        """The same groups, each with its value replaced (one per group)."""
        return ColumnCounts(
            value, self._group_rows, self._known, self._ones, self.special_values, self._weights
        )

    def unmerged(
        self, kinds: Sequence[int]
    ) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.int64], npt.NDArray[np.int64]]:
        """The groups' (value, c0, c1) behind `values` (rows, not weights),
        before their merge: a value may repeat, in any order."""
        keep = np.logical_or.reduce([self._groups[k] for k in kinds]) & (self._known > 0)
        c1 = self._ones[keep]
        return self._value[keep], self._known[keep] - c1, c1

    @property
    def missing(self) -> tuple[Any, Any]:
        """Non-events and events of the rows whose value is missing (weights
        when weighted)."""
        if self.weighted:
            w1 = float(self.weight_events[MISSING_X])
            return float(self._w0[np.isnan(self._value)].sum()), w1
        return int(self.rows[MISSING_X] - self.events[MISSING_X]), int(self.events[MISSING_X])

    @property
    def missing_rows(self) -> int:
        """Records of known target whose value is missing."""
        return int(self.rows[MISSING_X])

    def labelled(self) -> tuple[int, int]:
        """Rows of known target and events among them, over the whole column."""
        with_y = [KEPT, MISSING_X, INF_KNOWN, SPECIAL]
        return int(self.rows[with_y].sum()), int(self.events[with_y].sum())

    def unusable(self) -> str:
        """Why the column cannot be binned ('' when it can), as for its rows."""
        if self.finite_range is None:
            return "all values missing"
        low, high = self.finite_range
        single = low == high and not self.rows[MISSING_X]
        return f"a single value ({low:g})" if single else ""


class SearchedCounts(ColumnCounts):
    """The counts of a numeric column without special values or weights as
    the search reads them, made where the column's counts were held (the
    merged groups never written): its numbers of known target counted by
    value (`read`: "value" ascending with 0.0 for either zero, "c0", "c1",
    their "index_c0", "index_c1" and "prebins", None when no search can
    read them), its rows, rows of known target and events of the finite,
    missing and infinite values ("totals"), and its smallest and largest
    finite value held by rows ("low", "high"). The rows of unknown target
    are known by kind only, not by value: no other values replace these
    (`with_values`, as clipping would)."""

    def __init__(self, read: Mapping[str, Any]) -> None:
        self.weighted = False
        self.special_values = ()
        self.rows = np.zeros(8, dtype=np.int64)
        self.events = np.zeros(8, dtype=np.int64)
        totals = np.asarray(read["totals"], dtype=np.int64)
        kinds = ((KEPT, MISSING_Y), (MISSING_X, MISSING_BOTH), (INF_KNOWN, INF_MISSING_Y))
        for (rows, known, ones), (with_y, without_y) in zip(totals, kinds):
            self.rows[[with_y, without_y]] = known, rows - known
            self.events[with_y] = ones
        self._value, self._ones = read["value"], read["c1"]
        self._c0 = read["c0"]
        self.finite_range = None if read["low"] is None else (read["low"], read["high"])
        self.prebinned = (
            None
            if read["prebins"] is None
            else {
                key: read[key] for key in ("value", "c0", "c1", "index_c0", "index_c1", "prebins")
            }
        )

    def unmerged(
        self, kinds: Sequence[int]
    ) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.int64], npt.NDArray[np.int64]]:
        """The searched counts of `kinds`, a stretch of them where it can be
        (views, no pass over the entries): they are merged, ascending and all
        of known target, so the infinite values sit at either end and the
        finite ones between; there are no special values."""
        kept, infinite = KEPT in kinds, INF_KNOWN in kinds
        if kept == infinite:
            stretch = slice(None) if kept else slice(0)
        elif kept:
            low = int(np.searchsorted(self._value, -np.inf, side="right"))
            high = int(np.searchsorted(self._value, np.inf, side="left"))
            stretch = slice(low, high)
        else:
            return super().unmerged(kinds)
        return self._value[stretch], self._c0[stretch], self._ones[stretch]

    @functools.cached_property
    def _known(self) -> npt.NDArray[np.int64]:  # type: ignore[override]
        known: npt.NDArray[np.int64] = self._c0 + self._ones
        return known

    @functools.cached_property
    def _groups(self) -> dict[int, npt.NDArray[np.bool_]]:  # type: ignore[override]
        infinite = np.isinf(self._value)
        return {KEPT: ~infinite, INF_KNOWN: infinite, SPECIAL: np.zeros(infinite.size, dtype=bool)}


@dataclass(frozen=True)
class CategoryCounts:
    """The merged counts of one categorical column by category name, as the
    local encoding names them (ascending)."""

    names: list[str]
    c0: npt.NDArray[Any]
    c1: npt.NDArray[Any]
    missing_c0: Any
    missing_c1: Any
    counters: dict[str, Any]
    # With sample weights (c0, c1 and the counters are then weights): the
    # records of each category and of the missing category.
    rows: npt.NDArray[np.int64] | None = None
    missing_rows: int = 0
    event_rows: int = 0

    def labelled(self) -> tuple[int, int]:
        """Rows of known target and events among them, over the whole column."""
        if self.rows is not None:
            # Records of positive weight: a class of weight 0 has none.
            return int(self.rows.sum()) + self.missing_rows, self.event_rows
        events = int(self.c1.sum()) + self.missing_c1
        return events + int(self.c0.sum()) + self.missing_c0, events

    def unusable(self) -> str:
        """Why the column cannot be binned ('' when it can), as for its rows."""
        if not self.names:
            return "all values missing"
        single = len(self.names) == 1 and not self.missing_c0 + self.missing_c1
        return f"a single value ({self.names[0]!r})" if single else ""


def category_counts(
    group_names: Sequence[str | None],
    rows: npt.NDArray[np.int64],
    known: npt.NDArray[np.int64],
    ones: npt.NDArray[np.int64],
    weights: Sequence[Any] | None = None,
) -> CategoryCounts:
    """The counts of one categorical column from its groups: each group's
    category name as the local encoding gives it (None for a missing
    category), its rows, rows of known target and events; groups of the same
    name are merged. `weights` is as for `ColumnCounts`."""
    group_names = list(group_names)
    rows, known, ones = checked_counts(
        len(group_names), rows, known, ones, lambda i: f"the category {group_names[i]!r}"
    )
    if weights is not None:
        return _weighted_category_counts(
            group_names,
            known,
            int(ones.sum()),
            checked_weights(
                len(group_names),
                weights,
                lambda i: f"the category {group_names[i]!r}",
                int(rows.sum()),
            ),
        )
    present = np.array([n is not None for n in group_names], dtype=bool)
    names_per_group = [n for n in group_names if n is not None]
    names = sorted(set(names_per_group))
    position = {name: i for i, name in enumerate(names)}
    code = np.array([position[n] for n in names_per_group], dtype=np.int64)
    labelled0 = known - ones

    def per_name(counts: npt.NDArray[np.int64]) -> npt.NDArray[np.int64]:
        merged = np.zeros(len(names), dtype=np.int64)
        np.add.at(merged, code, counts[present])
        return merged

    unknown = rows - known
    counters = {
        "n_input": int(rows.sum()),
        "n_used": int(known[present].sum()),
        "n_missing_x": int(known[~present].sum()),
        "n_missing_y": int(unknown[present].sum()),
        "n_missing_both": int(unknown[~present].sum()),
        "n_non_finite": 0,
        "target_was_binary": True,
        "threshold": 0.0,
    }
    return CategoryCounts(
        names,
        per_name(labelled0),
        per_name(ones),
        int(labelled0[~present].sum()),
        int(ones[~present].sum()),
        counters,
    )


def _weighted_category_counts(
    group_names: list[str | None],
    known: npt.NDArray[np.int64],
    event_rows: int,
    weights: tuple[npt.NDArray[np.float64], ...],
) -> CategoryCounts:
    """`category_counts` of weighted groups (records of positive weight)."""
    w_rows, w0, w1 = weights
    present = np.array([n is not None for n in group_names], dtype=bool)
    names = sorted({n for n in group_names if n is not None})
    position = {name: i for i, name in enumerate(names)}
    code = np.array([position[n] for n in group_names if n is not None], dtype=np.int64)

    def per_name(counts: npt.NDArray[Any]) -> npt.NDArray[Any]:
        merged = np.zeros(len(names), dtype=counts.dtype)
        np.add.at(merged, code, counts[present])
        return merged

    counters = category_counters(w_rows, w0, w1, present)
    return CategoryCounts(
        names,
        per_name(w0),
        per_name(w1),
        float(w0[~present].sum()),
        float(w1[~present].sum()),
        counters,
        rows=per_name(known),
        missing_rows=int(known[~present].sum()),
        event_rows=event_rows,
    )


def _with_specials(
    summary: Mapping[str, Any], counts: ColumnCounts, specials: Sequence[float]
) -> Mapping[str, Any]:
    """The summary with the rows of the special values, from their counts."""
    special = counts.values([SPECIAL])
    at = {float(v): j for j, v in enumerate(special["value"])}

    def of(key: str, v: float) -> Any:
        return special[key][at[v]].item() if v in at else special[key].dtype.type(0).item()

    rows = [of("rows", v) for v in specials] if counts.weighted else None
    return with_special_counts(
        summary, specials, [of("c0", v) for v in specials], [of("c1", v) for v in specials], rows
    )


def mdlp_table(
    counts: ColumnCounts,
    name: str,
    *,
    minobs: int | None = None,
    monotonicity: int = 0,
    mono_dir: int = 0,
    alpha_pos: float = 1.0,
    beta_struct: float = 1.0,
    force_first_split: bool = False,
    special_values: Sequence[float] = (),
    representative: Literal["median", "mean"] = "median",
) -> BinningTable:
    """The `mdlp_binning` table of one column from its merged counts."""
    if counts.weighted:
        return _weighted_mdlp_table(
            counts,
            name,
            minobs=minobs,
            monotonicity=monotonicity,
            mono_dir=mono_dir,
            alpha_pos=alpha_pos,
            beta_struct=beta_struct,
            force_first_split=force_first_split,
            special_values=special_values,
            representative=representative,
        )
    rows, events = counts.rows, counts.events
    searched = rows[:SPECIAL]
    counters = {
        "missing_count": int(rows[MISSING_X]),
        "missing_c0": int(rows[MISSING_X] - events[MISSING_X]),
        "missing_c1": int(events[MISSING_X]),
        "n_input": int(searched.sum()),
        "n_used": int(rows[KEPT]),
        "n_missing_x": int(rows[MISSING_X]),
        "n_missing_y": int(rows[MISSING_Y]),
        "n_missing_both": int(rows[MISSING_BOTH]),
        "n_non_finite": int(rows[INF_KNOWN] + rows[INF_MISSING_Y]),
        "target_was_binary": True,
        "threshold": 0.0,
    }
    if minobs is None:
        minobs = default_minobs(int(rows.sum()))
    kept = counts.values([KEPT])
    result = native.mdlp_from_counts(
        kept,
        counters,
        minobs=minobs,
        monotonicity=monotonicity,
        mono_dir=mono_dir,
        alpha_pos=alpha_pos,
        beta_struct=beta_struct,
        force_first_split=force_first_split,
        representative=representative,
    )
    summary: Mapping[str, Any] = result["summary"]
    metadata: dict[str, Any] = dict(result["metadata"])
    specials = checked_special_values(special_values)
    if specials:
        summary = _with_specials(summary, counts, specials)
        metadata["n_special"] = int(rows[SPECIAL] + rows[SPECIAL_MISSING_Y])
    return BinningTable(
        summary,
        method="mdlp",
        name=name,
        metadata=metadata,
        split_log=result["mdlp"],
        special_values=specials,
        basis=numeric_basis(counts.values([KEPT, INF_KNOWN]), representative, LIMIT_DEFAULTS),
    )


def _weighted_mdlp_table(
    counts: ColumnCounts,
    name: str,
    *,
    minobs: int | None,
    monotonicity: int,
    mono_dir: int,
    alpha_pos: float,
    beta_struct: float,
    force_first_split: bool,
    special_values: Sequence[float],
    representative: Literal["median", "mean"],
) -> BinningTable:
    """`mdlp_table` of weighted counts: the search on the weights of the
    finite values, the table (and its counters) in weight."""
    check_search(minobs, monotonicity, mono_dir, alpha_pos, beta_struct)
    weight = counts.weight
    kept = counts.values([KEPT])
    split_log = native.mdlp_splits_weighted(
        kept,
        minobs=default_minobs(float(weight.sum())) if minobs is None else minobs,
        monotonicity=monotonicity,
        mono_dir=mono_dir,
        alpha_pos=alpha_pos,
        beta_struct=beta_struct,
        force_first_split=force_first_split,
    )
    found = np.asarray(split_log["found"], dtype=bool)
    missing_c0, missing_c1 = counts.missing
    summary: Mapping[str, Any] = native.summary_from_counts(
        kept,
        missing_c0=missing_c0,
        missing_c1=missing_c1,
        missing_rows=counts.missing_rows,
        splits=np.unique(np.asarray(split_log["pto"])[found]),
        representative=representative,
    )
    metadata: dict[str, Any] = {
        "n_input": native.exact_sum(weight[:SPECIAL]),
        "n_used": float(weight[KEPT]),
        "n_missing_x": float(weight[MISSING_X]),
        "n_missing_y": float(weight[MISSING_Y]),
        "n_missing_both": float(weight[MISSING_BOTH]),
        "n_non_finite": float(weight[INF_KNOWN] + weight[INF_MISSING_Y]),
        "target_was_binary": True,
        "threshold": 0.0,
    }
    specials = checked_special_values(special_values)
    if specials:
        summary = _with_specials(summary, counts, specials)
        metadata["n_special"] = float(weight[SPECIAL] + weight[SPECIAL_MISSING_Y])
    return BinningTable(
        summary,
        method="mdlp",
        name=name,
        metadata=metadata,
        split_log=split_log,
        special_values=specials,
        basis=numeric_basis(counts.values([KEPT, INF_KNOWN]), representative, LIMIT_DEFAULTS),
    )


def unsupervised_table(
    counts: ColumnCounts,
    name: str,
    *,
    method: Literal["quantile", "equal_width"] = "quantile",
    n_bins: int = 10,
    special_values: Sequence[float] = (),
    representative: Literal["median", "mean"] = "median",
) -> BinningTable:
    """The `quantile_binning` or `equal_width_binning` table of one column
    from its merged counts, the special values in rows of their own."""
    check_bin_count("n_bins", n_bins, int(counts.rows.sum()))
    specials = checked_special_values(special_values)
    values = counts.values([KEPT, INF_KNOWN] if specials else [KEPT, INF_KNOWN, SPECIAL])
    if method == "quantile":
        splits = native.quantile_splits(values, n_bins)
    else:
        # Equal widths depend on the smallest and largest finite value only,
        # which the distinct values hold.
        splits = native.binning_splits(values["value"], method="equal_width", n_bins=n_bins)
    missing_c0, missing_c1 = counts.missing
    summary: Mapping[str, Any] = native.summary_from_counts(
        values,
        missing_c0=missing_c0,
        missing_c1=missing_c1,
        missing_rows=counts.missing_rows,
        splits=splits,
        representative=representative,
    )
    if specials:
        summary = _with_specials(summary, counts, specials)
    return BinningTable(
        summary,
        method=method,
        name=name,
        special_values=specials,
        basis=numeric_basis(values, representative, LIMIT_DEFAULTS),
    )


def optimal_table(
    counts: ColumnCounts,
    name: str,
    *,
    special_values: Sequence[float] = (),
    representative: Literal["median", "mean"] = "median",
    n_prebins: int = DEFAULT_N_PREBINS,
    iv_test: IvTest | None = None,
    **limits: Any,
) -> BinningTable:
    """The `optimal_binning` table of one column from its merged counts."""
    missing_c0, missing_c1 = counts.missing
    special = counts.values([SPECIAL])
    outside = ([missing_c0, *special["c0"]], [missing_c1, *special["c1"]])
    fit_limits = {**LIMIT_DEFAULTS, **limits, "n_prebins": n_prebins}
    summary: Mapping[str, Any]
    counted: dict[str, Any] = {}
    if counts.weighted:
        searched = counts.values([KEPT, INF_KNOWN])
        cuts, metadata = optimal_cuts(
            searched, label=name, n_prebins=n_prebins, outside=outside, iv_test=iv_test, **limits
        )
    else:
        # The merge, its index and the pre-bins in one native call, the
        # median read through the index: the steps of the rows' own fit.
        prebinned = counts.prebinned if n_prebins == DEFAULT_N_PREBINS else None
        # Pre-bins made with their counts come with them, already merged.
        unmerged = (
            (prebinned["value"], prebinned["c0"], prebinned["c1"])
            if prebinned is not None and "value" in prebinned
            else counts.unmerged([KEPT, INF_KNOWN])
        )
        counted, cuts, metadata = counted_cuts(
            *unmerged,
            prebinned=prebinned,
            iv_test=iv_test,
            label=name,
            n_prebins=n_prebins,
            outside=outside,
            **limits,
        )
        searched = {key: counted[key] for key in ("value", "c0", "c1")}
    if not counts.weighted and representative == "median":
        summary = native.median_summary_of_counted(
            {**counted, "missing_c0": missing_c0, "missing_c1": missing_c1}, cuts
        )
    else:
        summary = native.summary_from_counts(
            searched,
            missing_c0=missing_c0,
            missing_c1=missing_c1,
            missing_rows=counts.missing_rows,
            splits=cuts,
            representative=representative,
        )
    specials = checked_special_values(special_values)
    if specials:
        summary = _with_specials(summary, counts, specials)
    return BinningTable(
        summary,
        method="optimal",
        name=name,
        metadata=metadata,
        special_values=specials,
        # Fresh from the core and held by nothing else: kept as they are.
        basis=numeric_basis(searched, representative, fit_limits, owned=not counts.weighted),
    )


def category_table(counts: CategoryCounts, name: str, **options: Any) -> BinningTable:
    """The `categorical_binning` table of one column from its merged counts."""
    return categorical_table(
        counts.names,
        counts.c0,
        counts.c1,
        counts.missing_c0,
        counts.missing_c1,
        counts.counters,
        rows=None if counts.rows is None else (counts.rows, counts.missing_rows),
        name=name,
        **options,
    )


def numeric_table(counts: ColumnCounts, name: str, method: str, **options: Any) -> BinningTable:
    """The table of `method` ("mdlp", "optimal", "quantile", "equal_width")
    of one column from its merged counts, with that method's options."""
    if method == "mdlp":
        return mdlp_table(counts, name, **options)
    if method == "optimal":
        return optimal_table(counts, name, **options)
    if method in ("quantile", "equal_width"):
        return unsupervised_table(
            counts, name, method=cast(Literal["quantile", "equal_width"], method), **options
        )
    raise ValueError(f"method must be one of mdlp, optimal, quantile, equal_width, not {method!r}")
