"""Optimal binning of a numeric variable: fine quantile pre-bins grouped into
the contiguous bins of largest information value under an analyst's limits
(number of bins, share, events and non-events per bin, trend of the event
rate). The grouping is exact: a dynamic programme in the core library."""

from __future__ import annotations

import math
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass, replace
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._core import checks, native
from .._core.arrays import FloatArray, Labels, as_float_array, column_name, labelled_rows
from .._woe import weight_of_evidence
from . import weights as weighting
from .basis import numeric_basis
from .binning_table import BinningTable
from .options import LIMITS, check_bin_count, check_options, check_representative, class_limits
from .significance import IvTest, iv_significance
from .special import checked_special_values, is_special, special_counts, with_special_counts

# The non-events and events of each row of a table outside the search (the
# missing-value row, the special values), which share the table's IV.
Outside = tuple[npt.ArrayLike, npt.ArrayLike]
NOTHING_OUTSIDE: Outside = ((), ())

Trend = Literal["auto", "auto_all", "ascending", "descending", "peak", "valley", "none"]

# Limits an analyst can defend to a validator without tuning: at most 8 bins,
# each with at least 5% of the rows and at least 5 events and 5 non-events
# (the share grows with the sample; the counts keep a small or low-default
# sample from WoE that rests on two or three events; a column holding fewer
# is one bin), and an event rate that rises or falls across the bins,
# whichever holds more information.
DEFAULT_MAX_BINS = 8
DEFAULT_MIN_BIN_SHARE = 0.05
DEFAULT_N_PREBINS = 20
# The limits a table keeps for a re-optimisation around an analyst's fixed
# cuts: its fit's, or these for a table fitted without limits.
LIMIT_DEFAULTS: dict[str, Any] = {
    "max_bins": DEFAULT_MAX_BINS,
    "min_bin_share": DEFAULT_MIN_BIN_SHARE,
    "min_events": None,
    "min_non_events": None,
    "trend": "auto",
    "n_prebins": DEFAULT_N_PREBINS,
}

# The shapes "auto_all" chooses among, the monotone ones first (kept on a tie).
SHAPES = ("ascending", "descending", "peak", "valley")
# Under "auto", a peak or valley whose IV exceeds the monotone grouping's by
# this share, and by at least a weak predictor's IV, is noted on the table
# (metadata "shape_note").
SHAPE_GAIN = 0.25
SHAPE_MIN_GAIN = 0.02


def best_grouping(
    c0: npt.NDArray[np.float64],
    c1: npt.NDArray[np.float64],
    *,
    label: str,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_events: float | None = None,
    min_non_events: float | None = None,
    trend: Trend = "auto",
    note_shapes: bool = False,
    max_pvalue: float = 1.0,
    fixed_starts: npt.ArrayLike = (),
    outside: Outside = NOTHING_OUTSIDE,
    found: Found | None = None,
) -> dict[str, Any]:
    """The contiguous grouping of largest IV of ordered pre-bins under the
    limits: the core's search, or for "auto_all" the shape whose table has
    the largest IV. A limit of events (non-events) left as None is
    `DEFAULT_MIN_CLASS_COUNT`, or the column's total when smaller. With
    `note_shapes` under "auto", the result's "shape_note" names a peak or
    valley that fits much better (else it is ''). Shapes are compared by the
    IV of the whole table, the rows `outside` the search included, as the
    table reports it. `label` begins the error when no grouping meets the
    limits. `found`: a search already made of these pre-bins (with other
    columns', `search_columns`), read in place of the same search. The
    result's "observed_firsts" holds what the test of the search reads of it
    (`observed_firsts`)."""
    events, non_events = class_limits(c0, c1, min_events, min_non_events)

    def search(shapes: Sequence[str]) -> list[dict[str, Any]]:
        asked = Search(max_bins, min_bin_share, events, non_events, tuple(shapes), max_pvalue)
        if found is not None and found[0] == asked and np.size(fixed_starts) == 0:
            return [dict(grouping) for grouping in found[1]]
        return native.optimal_groupings(
            c0,
            c1,
            max_bins,
            min_bin_share,
            events,
            non_events,
            shapes,
            max_pvalue,
            fixed_starts,
        )

    noting = note_shapes and trend == "auto"
    table = TableIV(c0, c1, outside) if noting or trend == "auto_all" else None
    results = search(first_trends(trend, note_shapes))
    if trend == "auto_all":
        assert table is not None
        met = [r for r in results if not r["message"]]
        best = max(met, key=table.iv) if met else results[0]
    else:
        best, *unshaped = results
    if best["message"]:
        raise ValueError(f"{label}: {best['message']}")
    best["observed_firsts"] = observed_firsts(results, trend)
    best["shape_note"] = ""
    if not noting:
        return best
    assert table is not None
    best_iv = table.iv(best)

    def much_better(iv: float) -> bool:
        return iv > best_iv * (1 + SHAPE_GAIN) and iv - best_iv >= SHAPE_MIN_GAIN

    if not unshaped[0]["message"] and much_better(table.bound(unshaped[0]["iv"])):
        shaped = [(table.iv(r), r) for r in search(SHAPES[2:]) if not r["message"]]
        if better := max((s for s in shaped if much_better(s[0])), default=None, key=_first):
            best["shape_note"] = (
                f"a {better[1]['trend']} fits better (IV {better[0]:.4f} "
                f"against {best_iv:.4f}): trend='auto_all'"
            )
    return best


def observed_firsts(
    groupings: Sequence[Mapping[str, Any]], trend: Trend
) -> list[npt.NDArray[np.int64]]:
    """What the test of a search (`iv_significance`) reads of the search
    made first (`first_trends`): the first pre-bin of every group of each
    shape the test searches (all four for "auto_all", else the trend's
    own), none where no grouping met the limits."""
    tested = groupings[: len(SHAPES) if trend == "auto_all" else 1]
    return [np.asarray(() if g["message"] else g["first"], dtype=np.int64).ravel() for g in tested]


def _first(pair: tuple[float, Any]) -> float:
    return pair[0]


def first_trends(trend: Trend, note_shapes: bool) -> tuple[str, ...]:
    """The trends `best_grouping` searches first, in one pass: every shape
    for "auto_all"; with a note of shapes under "auto", no trend at all
    beside it, which bounds a peak's and a valley's IV from above (the same
    limits, one condition fewer): the note's first question."""
    if trend == "auto_all":
        return SHAPES
    return (trend, "none") if note_shapes and trend == "auto" else (trend,)


@dataclass(frozen=True)
class Search:
    """The arguments of one search of a column's pre-bins: the limits of
    every group (the least events and non-events resolved by
    `class_limits`), the trends searched in one pass and the greatest
    p-value between neighbours."""

    max_bins: int
    min_bin_share: float
    min_events: float
    min_non_events: float
    trends: tuple[str, ...]
    max_pvalue: float


# A search and the groupings it found, one per trend.
Found = tuple[Search, list[dict[str, Any]]]


class TableIV:
    """The IV of the table a grouping of pre-bins (non-events `c0`, events
    `c1`) makes with the rows `outside` the search, and a bound on it from
    the IV of the pre-bins alone."""

    def __init__(self, c0: npt.NDArray[np.float64], c1: npt.NDArray[np.float64], outside: Outside):
        self.c0, self.c1 = c0, c1
        self.out0, self.out1 = (np.asarray(v, dtype=np.float64).ravel() for v in outside)
        # The intervals' shares of the table's non-events and events.
        total0, total1 = float(c0.sum()), float(c1.sum())
        self.beta = total0 / (total0 + float(self.out0.sum())) if total0 else 1.0
        self.alpha = total1 / (total1 + float(self.out1.sum())) if total1 else 1.0
        # The outside rows' terms depend on the totals only, not on the grouping.
        terms = weight_of_evidence(
            np.concatenate(([total0], self.out0)), np.concatenate(([total1], self.out1))
        )[1]
        self.outside_iv = float(terms[1:].sum())

    def iv(self, grouping: Mapping[str, Any]) -> float:
        first = np.asarray(grouping["first"], dtype=np.intp)
        return weight_of_evidence(
            np.concatenate((np.add.reduceat(self.c0, first), self.out0)),
            np.concatenate((np.add.reduceat(self.c1, first), self.out1)),
        )[2]

    def bound(self, intervals_iv: float) -> float:
        """The largest table IV of a grouping whose intervals alone have at
        most `intervals_iv`: with p, q the intervals' shares of their own
        events and non-events, a, b their shares of the table's, the
        intervals' terms add to a KL(p|q) + b KL(q|p) + (a - b) ln(a / b)."""
        a, b = self.alpha, self.beta
        return max(a, b) * intervals_iv + (a - b) * math.log(a / b) + self.outside_iv


# The quantile pre-bins are joined by the cut points that best separate the
# classes (greedy Gini splits into at most this many parts of at least this
# share of the searched rows): few pre-bins, so the exact search stays cheap at
# any size, that still hold the cuts where the event rate turns.
CLASS_PARTS = 64
CLASS_PART_SHARE = 0.01


def _prebin_options(n_prebins: int) -> dict[str, Any]:
    """The options of the default binning's pre-bins of weighted counts."""
    return {
        "n_prebins": n_prebins,
        "max_class_parts": CLASS_PARTS,
        "min_class_share": CLASS_PART_SHARE,
    }


def _prebins(counts: Mapping[str, npt.NDArray[Any]], n_prebins: int) -> npt.NDArray[np.float64]:
    """Quantile cut points of the searched rows counted by value joined by the
    cut points that best separate the classes (taken for both classes alike,
    so swapping the classes gives the same pre-bins)."""
    quantiles = native.quantile_splits(counts, n_prebins)
    informative = native.class_split_cuts(counts, CLASS_PARTS, CLASS_PART_SHARE)
    return np.unique(np.concatenate([quantiles, informative]))


def _check_limits(
    max_bins: int,
    min_bin_share: float,
    min_events: float | None,
    min_non_events: float | None,
    trend: Trend,
    n_prebins: int,
    max_pvalue: float | None,
    rows: int | Callable[[], int],
) -> None:
    check_bin_count("n_prebins", n_prebins, rows)
    if max_pvalue is not None:
        checks.real_number("max_pvalue", max_pvalue, 0, 1)
    check_options(
        LIMITS,
        {
            "max_bins": max_bins,
            "trend": trend,
            "min_bin_share": min_bin_share,
            "min_events": min_events,
            "min_non_events": min_non_events,
        },
    )


def optimal_cuts(
    counts: Mapping[str, npt.NDArray[Any]],
    *,
    label: str | None,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_events: float | None = None,
    min_non_events: float | None = None,
    trend: Trend = "auto",
    n_prebins: int = DEFAULT_N_PREBINS,
    max_pvalue: float | None = None,
    outside: Outside = NOTHING_OUTSIDE,
    iv_test: IvTest | None = None,
    weighted_prebins: Mapping[str, Any] | None = None,
) -> tuple[npt.NDArray[np.float64], dict[str, Any]]:
    """The cut points of the optimal grouping and the table's metadata, from
    the searched rows counted by value (`counts`: value ascending, c0, c1;
    infinite values included) and the rows of the table `outside` them; with
    `iv_test`, the metadata holds the test of the search's IV.
    `weighted_prebins`: the pre-bins of weighted `counts`, made with them."""
    limits = (max_bins, min_bin_share, min_events, min_non_events, trend)

    # The rows, summed only where a count of pre-bins above FEW_BINS needs them.
    def rows() -> int:
        if "rows" in counts:
            return int(np.sum(counts["rows"]))
        return int(np.sum(counts["c0"])) + int(np.sum(counts["c1"]))

    _check_limits(*limits, n_prebins, max_pvalue, rows)
    if weighted_prebins is not None:
        per_prebin = weighted_prebins
    elif "rows" in counts:
        # Weighted: the pre-bins read in place in one native call.
        per_prebin = native.prebins_from_weighted_counts(counts, **_prebin_options(n_prebins))
    else:
        per_prebin = native.prebin_summary(counts, _prebins(counts, n_prebins))
    return _grouped_cuts(counts["value"], per_prebin, label, *limits, max_pvalue, outside, iv_test)


def search_limits(
    max_bins: int,
    min_bin_share: float,
    min_events: float | None,
    min_non_events: float | None,
    trend: Trend,
) -> dict[str, Any]:
    """The limits of a search by name, as `best_grouping` takes them."""
    return {
        "max_bins": max_bins,
        "min_bin_share": min_bin_share,
        "min_events": min_events,
        "min_non_events": min_non_events,
        "trend": trend,
    }


def counted_cuts(
    value: npt.NDArray[np.float64],
    c0: npt.NDArray[np.int64],
    c1: npt.NDArray[np.int64],
    *,
    label: str | None,
    n_prebins: int = DEFAULT_N_PREBINS,
    outside: Outside = NOTHING_OUTSIDE,
    prebinned: Mapping[str, Any] | None = None,
    iv_test: IvTest | None = None,
    **limits: Any,
) -> tuple[dict[str, Any], npt.NDArray[np.float64], dict[str, Any]]:
    """`optimal_cuts` (the same `limits`) of searched rows counted by value
    but not yet merged (rows, not weights): merged, indexed and pre-binned
    in one native call, as the rows' own counts are, so that the later
    steps read them through the index (`native.median_summary_of_counted`)
    too. `prebinned`: the index ("index_c0", "index_c1") and pre-bins
    ("prebins", of `n_prebins`) of the same counts, made when they were
    counted, which then come merged. Returns the merged counts with their
    index, the cut points and the metadata."""
    unknown = set(limits) - {"max_pvalue", *LIMIT_DEFAULTS}
    if unknown:
        raise TypeError(f"counted_cuts() got unexpected keyword arguments: {sorted(unknown)}")
    max_bins, min_bin_share, min_events, min_non_events, trend = (
        limits.get(key, LIMIT_DEFAULTS[key])
        for key in ("max_bins", "min_bin_share", "min_events", "min_non_events", "trend")
    )
    searched = (max_bins, min_bin_share, min_events, min_non_events, trend)
    max_pvalue = limits.get("max_pvalue")
    _check_limits(*searched, n_prebins, max_pvalue, int(np.sum(c0)) + int(np.sum(c1)))
    counted = (
        {**prebinned, "value": value, "c0": c0, "c1": c1}
        if prebinned is not None
        else native.prebins_from_counts(
            value,
            c0,
            c1,
            n_prebins=n_prebins,
            max_class_parts=CLASS_PARTS,
            min_class_share=CLASS_PART_SHARE,
        )
    )
    cuts, metadata = _grouped_cuts(
        counted["value"], counted["prebins"], label, *searched, max_pvalue, outside, iv_test
    )
    return counted, cuts, metadata


def _grouped_cuts(
    value: npt.NDArray[np.float64],
    per_prebin: Mapping[str, Any],
    label: str | None,
    max_bins: int,
    min_bin_share: float,
    min_events: float | None,
    min_non_events: float | None,
    trend: Trend,
    max_pvalue: float | None,
    outside: Outside,
    iv_test: IvTest | None = None,
    found: Found | None = None,
    tested: Callable[[], Mapping[str, Any]] | None = None,
) -> tuple[npt.NDArray[np.float64], dict[str, Any]]:
    """The cut points and metadata of the optimal grouping of the pre-bins
    (`per_prebin`, their summary) of the searched distinct values `value`;
    `found`, the first search of those pre-bins when already made;
    `tested`, what gives the metadata of the test of `iv_test` run on
    another thread (`searched_significance`), read in its place."""
    intervals, c0, c1 = _interval_counts(per_prebin)
    limits = search_limits(max_bins, min_bin_share, min_events, min_non_events, trend)
    best = best_grouping(
        c0,
        c1,
        label=f"optimal binning of {label or 'x'}",
        **limits,
        note_shapes=True,
        max_pvalue=_searched_pvalue(max_pvalue),
        outside=outside,
        found=found,
    )
    # A group ends at its last pre-bin, whose right end is the group's cut point.
    cuts = np.asarray(per_prebin["right"])[intervals][best["last"][:-1]]
    # A quantile falls between two values; the largest value at or below it
    # parts the rows the same way and reads as the data does ("(6, 11]").
    cuts = value[np.searchsorted(value, cuts, side="right") - 1]
    metadata: dict[str, Any] = {"trend": best["trend"], "n_prebins": int(intervals.sum())}
    if max_pvalue is not None:
        metadata["max_pvalue"] = float(max_pvalue)
    if best["shape_note"]:
        metadata["shape_note"] = best["shape_note"]
    metadata.update(
        tested()
        if tested is not None
        else _significance(c0, c1, outside, iv_test, limits, max_pvalue, best["observed_firsts"])
    )
    return cuts, metadata


def _significance(
    c0: npt.NDArray[np.float64],
    c1: npt.NDArray[np.float64],
    outside: Outside,
    iv_test: IvTest | None,
    limits: Mapping[str, Any],
    max_pvalue: float | None,
    observed: Sequence[npt.NDArray[np.int64]] | None = None,
) -> dict[str, Any]:
    """The test of the search over the pre-bins (`c0`, `c1`) beside the
    rows `outside` it, under the search's `limits`; `observed`, what the
    test reads of that search when already made (`observed_firsts`)."""
    return iv_significance(
        c0,
        c1,
        (outside[0], outside[1]),
        iv_test,
        rate_order=False,
        max_pvalue=max_pvalue,
        observed_firsts=observed,
        **limits,
    )


def searched_significance(
    xs: FloatArray,
    flags: FloatArray,
    prepared: SearchedRows,
    *,
    iv_test: IvTest,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_events: float | None = None,
    min_non_events: float | None = None,
    trend: Trend = "auto",
    max_pvalue: float | None = None,
    special_values: Sequence[float] = (),
    **_: Any,
) -> dict[str, Any]:
    """The metadata of the test `iv_test` that `optimal_rows` (the same
    options) writes on the table of a counted column (`count_searched`),
    made apart from the table: the test reads only the pre-bins and the rows
    outside them, so it can run on another thread while tables are built.
    The search the table reads (`search_columns`), when it is the one the
    test makes, is read in place of making it again."""
    assert prepared.counted is not None
    specials = checked_special_values(special_values)
    outside = _searched_outside(xs, flags, prepared.counted, prepared.special_rows, specials)[0]
    c0, c1 = _interval_counts(prepared.counted["prebins"])[1:]
    limits = search_limits(max_bins, min_bin_share, min_events, min_non_events, trend)
    found, observed = prepared.found, None
    if found is not None and found[0] == first_search(c0, c1, limits, max_pvalue):
        observed = observed_firsts(found[1], trend)
    return _significance(c0, c1, outside, iv_test, limits, max_pvalue, observed)


def _searched_outside(
    xs: FloatArray,
    flags: FloatArray,
    counted: Mapping[str, Any],
    special_rows: npt.NDArray[np.bool_] | None,
    specials: tuple[float, ...],
) -> tuple[Outside, list[Any], list[Any]]:
    """The rows of a counted column outside the search (`_outside`): its
    missing values (`counted`) and its `special_rows`, with the non-events
    and events of each special value."""
    special_c0, special_c1 = (
        special_counts(xs[special_rows], flags[special_rows], specials)
        if special_rows is not None
        else ([], [])
    )
    missing = (counted["missing_c0"], counted["missing_c1"])
    return _outside(missing, special_c0, special_c1), special_c0, special_c1


def _interval_counts(
    per_prebin: Mapping[str, Any],
) -> tuple[npt.NDArray[np.bool_], npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """Which pre-bins of a summary are intervals (the others: its rows of
    missing and special values), and their non-events and events."""
    intervals = ~np.isnan(np.asarray(per_prebin["left"]))
    c0 = np.asarray(per_prebin["c0"], dtype=np.float64)[intervals]
    c1 = np.asarray(per_prebin["c1"], dtype=np.float64)[intervals]
    return intervals, c0, c1


def first_search(
    c0: npt.NDArray[np.float64],
    c1: npt.NDArray[np.float64],
    limits: Mapping[str, Any],
    max_pvalue: float | None,
) -> Search:
    """The search `search_columns` makes first of a column's pre-bins (`c0`,
    `c1`) under `limits` (`search_limits`): the one its test may read."""
    events, non_events = class_limits(c0, c1, limits["min_events"], limits["min_non_events"])
    return Search(
        limits["max_bins"],
        limits["min_bin_share"],
        events,
        non_events,
        first_trends(limits["trend"], note_shapes=True),
        _searched_pvalue(max_pvalue),
    )


def _searched_pvalue(max_pvalue: float | None) -> float:
    """The search's greatest p-value between neighbours: 1 sets no limit."""
    return 1.0 if max_pvalue is None else float(max_pvalue)


def _searched_summary(
    searched_x: FloatArray,
    labels: npt.NDArray[np.int32],
    counted: Mapping[str, Any],
    cuts: npt.NDArray[np.float64],
    representative: str,
) -> Any:
    """The summary of the searched rows over the cut points. A median is read
    from their counts (`counted`, with its rows of missing value), which give
    the rows' bits but for the sign of a zero: a table with a zero median of
    rows holding -0.0, and one of means (which the rows add in their own
    order), is read from the rows. Without -0.0 among the rows a zero median
    is 0.0 either way, so a column of many zeros (counts of arrears, say) is
    not read twice."""
    if representative == "median":
        summary = native.median_summary_of_counted(counted, cuts)
        if not (counted["negative_zero"] and (np.asarray(summary["representative"]) == 0.0).any()):
            return summary
    return native.summary_binary(searched_x, labels, cuts, representative)


def optimal_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_events: float | None = None,
    min_non_events: float | None = None,
    trend: Trend = "auto",
    n_prebins: int = DEFAULT_N_PREBINS,
    max_pvalue: float | None = None,
    special_values: Sequence[float] = (),
    representative: Literal["median", "mean"] = "median",
    name: str | None = None,
    event: Any = None,
    sample_weight: npt.ArrayLike | None = None,
    target: Literal["binary"] = "binary",
) -> BinningTable:
    """Bin `x` against the target `y` (0/1, booleans, or the rows equal to
    `event`) into at most `max_bins` intervals of largest information value.
    A continuous target (a loss, an amount) is binned by
    `continuous_binning(x, y, ...)`; ``target="continuous"`` here says so.

    The search starts from pre-bins of the searched rows: `n_prebins`
    quantiles joined by up to 63 cut points that best separate the classes
    (splits by the largest fall in Gini impurity, each part at least 1% of
    the rows; the same for both classes, so swapping them gives the same
    bins), and groups neighbours exactly. Every bin holds at least
    `min_bin_share` of the searched rows, `min_events` events and
    `min_non_events` non-events (by default 5 each, or the column's total
    when smaller); `trend` asks the event rate to be "ascending",
    "descending", with one "peak" or "valley", "none" for no shape, "auto"
    for the better of ascending and descending, or "auto_all" for the best of
    those four. Under "auto", a peak or valley with a quarter more IV is
    noted in ``metadata["shape_note"]`` (and the whole table's summary). With
    `max_pvalue`, no two neighbouring bins may have a p-value of the
    chi-square test of equal event rates above it (see
    `BinningTable.analysis`): the grouping is the best one under that limit
    too. Rows whose
    `x` is missing and the `special_values` (codes such as -999) stay outside
    the limits, as rows of their own; rows whose target is missing are left
    out. When no grouping meets the limits, the ValueError says which one.

    With `sample_weight` (one finite, non-negative weight per row) every row
    counts by its weight (see `tessaline._binning.weights`): the pre-bins are
    weighted quantiles, and `min_bin_share`, `min_events` and
    `min_non_events` are read in weight.
    """
    if target != "binary":
        raise ValueError(
            f"optimal_binning bins a binary target (target='binary'), not target={target!r}: "
            "bin a continuous target with continuous_binning(x, y, ...)"
        )
    return optimal_rows(
        as_float_array(x),
        weighting.event_flags(y, sample_weight, event=event),
        name=name if name is not None else column_name(x),
        max_bins=max_bins,
        min_bin_share=min_bin_share,
        min_events=min_events,
        min_non_events=min_non_events,
        trend=trend,
        n_prebins=n_prebins,
        max_pvalue=max_pvalue,
        special_values=special_values,
        representative=representative,
        sample_weight=sample_weight,
    )


def _special_counts(rows: weighting.WeightedRows) -> Any:
    """`special_counts` of the weighted rows of special values."""
    xs, flags, weights = rows.special()
    return special_counts(xs, flags, rows.specials, weights)


def optimal_rows(
    xs: FloatArray,
    flags: FloatArray,
    *,
    name: str | None,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_events: float | None = None,
    min_non_events: float | None = None,
    trend: Trend = "auto",
    n_prebins: int = DEFAULT_N_PREBINS,
    max_pvalue: float | None = None,
    special_values: Sequence[float] = (),
    representative: str = "median",
    sample_weight: npt.ArrayLike | None = None,
    target: Labels | None = None,
    iv_test: IvTest | None = None,
    prepared: SearchedRows | None = None,
    tested: Callable[[], Mapping[str, Any]] | None = None,
) -> BinningTable:
    """`optimal_binning` of float64 values against event flags; `target`,
    when given, holds the labels of those flags read once for many columns;
    with `iv_test`, the table's metadata holds the test of its IV (or what
    `tested` gives, when the test of the counted `prepared` rows runs apart:
    `searched_significance`); `prepared`, the searched rows of the same
    values (`searched_rows`), counted with many columns at once
    (`count_searched`) or not yet."""
    checks.same_length(("x", xs), ("y", flags))
    weights = checks.sample_weights(sample_weight, xs.size)
    if weights is not None:
        # The pre-bins made with the counts, for a count of pre-bins the
        # native call takes (any other is refused by the limits' check).
        asked = type(n_prebins) is int and n_prebins > 0
        rows = weighting.weighted_rows(
            xs,
            flags,
            weights,
            special_values,
            sample_weight,
            _prebin_options(n_prebins) if asked else None,
        )
        cuts, metadata = optimal_cuts(
            rows.counts,
            weighted_prebins=rows.prebins,
            label=name,
            max_bins=max_bins,
            min_bin_share=min_bin_share,
            min_events=min_events,
            min_non_events=min_non_events,
            trend=trend,
            n_prebins=n_prebins,
            max_pvalue=max_pvalue,
            iv_test=iv_test,
            outside=_outside(rows.missing[:2], *_special_counts(rows)),
        )
        return weighting.weighted_binning(
            rows,
            cuts,
            method="optimal",
            name=name,
            representative=representative,
            metadata=metadata,
            limits={
                "max_bins": max_bins,
                "min_bin_share": min_bin_share,
                "min_events": min_events,
                "min_non_events": min_non_events,
                "trend": trend,
                "n_prebins": n_prebins,
            },
        )
    specials = checked_special_values(special_values)
    prepared = searched_rows(xs, flags, specials, target) if prepared is None else prepared
    searched_x, labels, special_rows = prepared.x, prepared.labels, prepared.special_rows
    searched = (max_bins, min_bin_share, min_events, min_non_events, trend)
    _check_limits(*searched, n_prebins, max_pvalue, searched_x.size)
    # The counts and the pre-bins of `optimal_cuts` in one native call, or
    # in one for many columns (`count_searched`).
    counted = (
        prepared.counted
        if prepared.counted is not None and prepared.n_prebins == n_prebins
        else native.counted_prebins(
            searched_x,
            labels,
            n_prebins=n_prebins,
            max_class_parts=CLASS_PARTS,
            min_class_share=CLASS_PART_SHARE,
        )
    )
    counts = {key: counted[key] for key in ("value", "c0", "c1")}
    outside, special_c0, special_c1 = _searched_outside(xs, flags, counted, special_rows, specials)
    cuts, metadata = _grouped_cuts(
        counts["value"],
        counted["prebins"],
        name,
        *searched,
        max_pvalue,
        outside,
        iv_test,
        found=prepared.found if counted is prepared.counted else None,
        tested=tested if counted is prepared.counted else None,
    )
    limits = {**search_limits(*searched), "n_prebins": n_prebins}
    check_representative(representative)
    summary = _searched_summary(searched_x, labels, counted, cuts, representative)
    if special_rows is not None:
        summary = with_special_counts(summary, specials, special_c0, special_c1)
    return BinningTable(
        summary,
        method="optimal",
        name=name,
        metadata=metadata,
        special_values=specials,
        basis=numeric_basis(counts, representative, limits, owned=True),
    )


@dataclass(frozen=True)
class SearchedRows:
    """The rows of a column that the search counts (those of known target
    and no special value) with their labels, which rows hold a special value
    (None without special values), and their counts by value with the
    pre-bins of `n_prebins` quantiles once counted (`count_searched`), and
    the first search of those pre-bins once made (`search_columns`)."""

    x: FloatArray
    labels: npt.NDArray[np.int32]
    special_rows: npt.NDArray[np.bool_] | None
    counted: Mapping[str, Any] | None = None
    n_prebins: int = DEFAULT_N_PREBINS
    found: Found | None = None


def searched_rows(
    xs: FloatArray, flags: FloatArray, specials: Sequence[float], target: Labels | None = None
) -> SearchedRows:
    """The rows of `xs` that the search counts, against the event flags
    `flags` (whose labels `target` holds when read once for many columns),
    the `specials` (checked) left out."""
    special_rows = is_special(xs, specials)
    if special_rows is None and target is not None:
        return SearchedRows(target.rows(xs), target.labels, None)
    searched_x, labels = labelled_rows(
        *((xs, flags) if special_rows is None else (xs[~special_rows], flags[~special_rows]))
    )
    return SearchedRows(searched_x, labels, special_rows)


def count_searched(
    columns: Sequence[SearchedRows], n_threads: int, n_prebins: int = DEFAULT_N_PREBINS
) -> list[SearchedRows]:
    """The searched rows of many columns with their counts and pre-bins, made
    in one native call on up to `n_threads` threads: what each column's own
    call would give, without a call, a release of the interpreter lock and
    a wait to take it back per column."""
    counted = native.counted_prebins_columns(
        [c.x for c in columns],
        [c.labels for c in columns],
        n_prebins=n_prebins,
        max_class_parts=CLASS_PARTS,
        min_class_share=CLASS_PART_SHARE,
        n_threads=n_threads,
    )
    return [replace(c, counted=k, n_prebins=n_prebins) for c, k in zip(columns, counted)]


def search_columns(
    columns: Sequence[SearchedRows], options: Sequence[Mapping[str, Any]], n_threads: int
) -> list[SearchedRows]:
    """The counted columns (`count_searched`) with the first search of
    their pre-bins, as `optimal_rows` with the `options` of each would make
    it, made in one native call on up to `n_threads` threads. A column whose
    options its own call refuses, or whose pre-bins were counted for another
    count of pre-bins, is left to search in its turn."""
    searched: list[int] = []
    asked: list[Search] = []
    c0s: list[npt.NDArray[np.float64]] = []
    c1s: list[npt.NDArray[np.float64]] = []
    for i, (column, o) in enumerate(zip(columns, options)):
        limits = search_limits(
            o.get("max_bins", DEFAULT_MAX_BINS),
            o.get("min_bin_share", DEFAULT_MIN_BIN_SHARE),
            o.get("min_events"),
            o.get("min_non_events"),
            o.get("trend", "auto"),
        )
        n_prebins, max_pvalue = o.get("n_prebins", DEFAULT_N_PREBINS), o.get("max_pvalue")
        if column.counted is None or column.n_prebins != n_prebins:
            continue
        try:
            _check_limits(
                limits["max_bins"],
                limits["min_bin_share"],
                limits["min_events"],
                limits["min_non_events"],
                limits["trend"],
                n_prebins,
                max_pvalue,
                column.x.size,
            )
        except (ValueError, TypeError):
            continue
        _, c0, c1 = _interval_counts(column.counted["prebins"])
        searched.append(i)
        asked.append(first_search(c0, c1, limits, max_pvalue))
        c0s.append(c0)
        c1s.append(c1)
    if not searched:
        return list(columns)
    found = native.optimal_groupings_columns(c0s, c1s, asked, n_threads)
    out = list(columns)
    for i, search, groupings in zip(searched, asked, found):
        out[i] = replace(columns[i], found=(search, groupings))
    return out


def _outside(
    missing: Sequence[float], special_c0: Sequence[Any], special_c1: Sequence[Any]
) -> Outside:
    """The rows of a table outside the search: missing values, then specials."""
    return [float(missing[0]), *special_c0], [float(missing[1]), *special_c1]
