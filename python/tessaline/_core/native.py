"""The one door to the native code: every call into `_tessaline` (its
fixed table of seventeen functions) and `tessaline._native` (the package's
own kernels) goes through here, with its arguments named, so that no other
module passes eight positional arguments or knows which module holds a
kernel."""

from __future__ import annotations

import sys
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

import _tessaline

try:
    from .. import _native
except ImportError:  # a bare build tree (the sanitizer's) has the module beside _tessaline
    import _native  # type: ignore[import-not-found, no-redef, unused-ignore]

    sys.modules[__package__.rpartition(".")[0] + "._native"] = _native

FloatArray = npt.NDArray[np.float64]
IntArray = npt.NDArray[np.int64]
Counts = dict[str, Any]
CountsIn = Mapping[str, Any]

NO_SPLITS = np.empty(0, dtype=np.float64)
NO_SPLITS.setflags(write=False)


# -- _tessaline's functions, on rows ---------------------------------------------------
def mdlp_full_raw(
    x: FloatArray,
    y: FloatArray,
    *,
    minobs: int,
    monotonicity: int,
    mono_dir: int,
    alpha_pos: float,
    beta_struct: float,
    force_first_split: bool,
    value: float | None,
    percentile: float,
    representative: str,
) -> Mapping[str, Any]:
    """Preprocessing, MDLP search and summary of `x` against `y` in one call."""
    result: Mapping[str, Any] = _tessaline.mdlp_full_raw(
        x,
        y,
        minobs,
        monotonicity,
        mono_dir,
        alpha_pos,
        beta_struct,
        force_first_split,
        value,
        percentile,
        representative,
    )
    return result


def binning_splits(
    x: FloatArray,
    *,
    method: str,
    n_bins: int = 10,
    range: str = "full",
    lower_quantile: float = 0.0,
    upper_quantile: float = 1.0,
    k: float = 0.0,
    custom_splits: npt.ArrayLike = NO_SPLITS,
) -> FloatArray:
    """Cut points of `x` by an unsupervised rule ("quantile", "equal_width", "custom")."""
    return _tessaline.binning_splits(
        x, method, n_bins, range, lower_quantile, upper_quantile, k, custom_splits
    )


def binning_transform(x: FloatArray, splits: npt.ArrayLike) -> IntArray:
    """The interval index of every value (-1 for a missing one)."""
    return _tessaline.binning_transform(x, splits)


def summary_binary(
    x: FloatArray, labels: npt.NDArray[np.int32], splits: npt.ArrayLike, representative: str
) -> Mapping[str, Any]:
    """Per-interval counts, event rates and representatives of 0/1 labelled rows."""
    result: Mapping[str, Any] = _tessaline.binning_summary_binary(x, labels, splits, representative)
    return result


def compare_distributions(
    reference: FloatArray, current: FloatArray, splits: npt.ArrayLike, epsilon: float
) -> Mapping[str, Any]:
    """PSI and KS of two samples over the cut points."""
    result: Mapping[str, Any] = _tessaline.compare_distributions_native(
        reference, current, splits, epsilon
    )
    return result


def lorenz_curve(scores: FloatArray, labels: npt.NDArray[np.int32]) -> Mapping[str, Any]:
    """Lorenz curve, AUC and Gini of scores against 0/1 labels."""
    result: Mapping[str, Any] = _tessaline.lorenz_curve_native(scores, labels)
    return result


# -- the package's kernels: counting and searching on counts -------------------------
def count_values(x: FloatArray, labels: npt.NDArray[np.int32]) -> Counts:
    """(value, c0, c1) of labelled rows, by ascending value."""
    counts: Counts = _native.count_values(x, labels)
    return counts


def count_values_at_most(
    x: FloatArray, labels: npt.NDArray[np.int32], max_values: int
) -> Counts | None:
    """`count_values` of labelled rows of at most `max_values` distinct
    values, found without sorting the rows; None when they hold more."""
    counts: Counts | None = _native.count_values_at_most(x, labels, max_values)
    return counts


def counted_prebins(
    x: FloatArray,
    labels: npt.NDArray[np.int32],
    *,
    n_prebins: int,
    max_class_parts: int,
    min_class_share: float,
) -> Counts:
    """`count_values` of the rows labelled 0 or 1, under "prebins" the summary
    of the pre-bins of the default binning (see `binning.optimal`), under
    "missing_c0" and "missing_c1" the rows of each class whose x is NaN, and
    under "index_c0" and "index_c1" the rows of each class before every 64th
    value (for `median_summary_of_counted`), and under "negative_zero" whether
    some x was -0.0 (counted as 0.0)."""
    counts: Counts = _native.counted_prebins(x, labels, n_prebins, max_class_parts, min_class_share)
    return counts


def counted_prebins_columns(
    xs: Sequence[FloatArray],
    labels: Sequence[npt.NDArray[np.int32]],
    *,
    n_prebins: int,
    max_class_parts: int,
    min_class_share: float,
    n_threads: int,
) -> list[Counts]:
    """`counted_prebins` of each column `xs[i]` with its `labels[i]`, in
    their order, on up to `n_threads` threads with the interpreter lock
    released once for all of them."""
    counted: list[Counts] = _native.counted_prebins_columns(
        list(xs), list(labels), n_prebins, max_class_parts, min_class_share, n_threads
    )
    return counted


def prebins_from_counts(
    value: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    *,
    n_prebins: int,
    max_class_parts: int,
    min_class_share: float,
) -> Counts:
    """`counted_prebins` of rows counted elsewhere: the counts merged as
    `merge_value_counts` merges them, their index and "prebins" (no row
    missing, no sign of a zero known)."""
    counts: Counts = _native.prebins_from_counts(
        value, c0, c1, n_prebins, max_class_parts, min_class_share
    )
    return counts


def merge_value_counts(value: npt.ArrayLike, c0: npt.ArrayLike, c1: npt.ArrayLike) -> Counts:
    """Counts of the same value added up, by ascending value."""
    counts: Counts = _native.merge_value_counts(value, c0, c1)
    return counts


def class_split_cuts(counts: CountsIn, max_parts: int, min_share: float) -> FloatArray:
    """Up to `max_parts` - 1 cut points that best separate the classes behind
    the counts (of rows or weights), each part at least `min_share` of them."""
    return _native.class_split_cuts(
        counts["value"], counts["c0"], counts["c1"], max_parts, min_share
    )


def quantile_splits(counts: CountsIn, n_bins: int) -> FloatArray:
    """Quantile cut points of rows counted by value (or weighted: counts with "rows")."""
    if "rows" in counts:
        return _native.quantile_splits_from_weighted_counts(
            counts["value"], counts["c0"], counts["c1"], counts["rows"], n_bins
        )
    return _native.quantile_splits_from_counts(counts["value"], counts["c0"], counts["c1"], n_bins)


# -- sample weights: counts as sums of weights, with the records behind them -------
def count_values_weighted(
    x: FloatArray, labels: npt.NDArray[np.int32], weights: FloatArray
) -> Counts:
    """(value, c0, c1, rows) of labelled weighted rows by ascending value: the
    weights of each class and the records of positive weight."""
    counts: Counts = _native.count_values_weighted(x, labels, weights)
    return counts


def weight_kinds(weights: FloatArray) -> Any:
    """The kinds of `weights` (all 1, whole, least and largest), found once
    for the counts of any columns of their rows (`kinds=`)."""
    return _native.weight_kinds(weights)


def count_column_weighted(
    x: FloatArray,
    flags: FloatArray,
    weights: FloatArray,
    prebins: Mapping[str, Any] | None = None,
    kinds: Any = None,
) -> Counts:
    """`count_values_weighted` of the rows of known target (`flags` 0 or 1,
    NaN unknown) with, under "missing_c0", "missing_c1" and "missing_rows",
    the weight of each class and the records of those whose x is NaN. With
    `prebins` (the options of `prebins_from_weighted_counts`), under
    "prebins" those pre-bins of the counts, made while they are at hand,
    where they can be made (else `prebins_from_weighted_counts` says why).
    `kinds`: those of weights whose rows hold these (`weight_kinds`). Whole
    weights of at most 4 come with the index of their counts ("index_c0",
    "index_c1", "index_rows"), for `indexed_weighted_summary`."""
    counts: Counts = _native.count_column_weighted(
        x, flags, weights, **(prebins or {}), kinds=kinds
    )
    return counts


def prebins_from_weighted_counts(
    counts: CountsIn, *, n_prebins: int, max_class_parts: int, min_class_share: float
) -> dict[str, Any]:
    """The pre-bins of the default binning (see `binning.optimal`) of merged
    weighted counts: "left", "right", "c0" and "c1" per interval, as the
    quantile cuts, the class split cuts and the summary over both give them."""
    prebins: dict[str, Any] = _native.prebins_from_weighted_counts(
        counts["value"],
        counts["c0"],
        counts["c1"],
        counts["rows"],
        n_prebins,
        max_class_parts,
        min_class_share,
    )
    return prebins


def merge_weighted_counts(
    value: npt.ArrayLike, c0: npt.ArrayLike, c1: npt.ArrayLike, rows: npt.ArrayLike
) -> Counts:
    """Weighted counts of the same value added up, by ascending value."""
    counts: Counts = _native.merge_weighted_value_counts(
        np.asarray(value, dtype=np.float64),
        np.asarray(c0, dtype=np.float64),
        np.asarray(c1, dtype=np.float64),
        rows,
    )
    return counts


def equal_width_splits_weighted(
    counts: CountsIn,
    *,
    n_bins: int,
    range: str,
    lower_quantile: float,
    upper_quantile: float,
    k: float,
) -> FloatArray:
    """Equal-width cut points over the range of weighted rows (weighted quantiles
    for the "quantile" and "iqr" ranges)."""
    return _native.equal_width_splits_from_weighted_counts(
        counts["value"],
        counts["c0"],
        counts["c1"],
        counts["rows"],
        n_bins,
        range,
        lower_quantile,
        upper_quantile,
        k,
    )


def mdlp_splits_weighted(
    counts: CountsIn,
    *,
    minobs: int,
    monotonicity: int,
    mono_dir: int,
    alpha_pos: float,
    beta_struct: float,
    force_first_split: bool,
) -> dict[str, Any]:
    """The MDLP split log of weighted counts of finite values."""
    result: dict[str, Any] = _native.mdlp_splits_from_weighted_counts(
        counts["value"],
        counts["c0"],
        counts["c1"],
        counts["rows"],
        minobs,
        monotonicity,
        mono_dir,
        alpha_pos,
        beta_struct,
        force_first_split,
    )
    return result


def count_categories_weighted(
    codes: IntArray,
    flags: FloatArray,
    weights: FloatArray,
    n_categories: int,
    every: bool = False,
    kinds: Any = None,
) -> Counts:
    """Weights of non-events and events per category code and of the missing
    category, with the records of positive weight; with `every`, also the
    weight of all rows of each code ("every") and of the missing one
    ("missing_every"), target known or not, in the same pass. `kinds` as
    for `count_column_weighted`."""
    counts: Counts = _native.count_categories_weighted(
        codes, flags, weights, n_categories, every=every, kinds=kinds
    )
    return counts


def percentile(value: npt.ArrayLike, count: npt.ArrayLike, q: float) -> float:
    """The linear percentile `q` (0 to 100) of values counted by value."""
    return float(_native.percentile_from_counts(value, count, q))


def weighted_columns(counts: CountsIn) -> tuple[Any, Any, Any, Any]:
    """The value, c0, c1 and rows columns of weighted counts, in that order."""
    return counts["value"], counts["c0"], counts["c1"], counts["rows"]


def summary_from_counts(
    counts: CountsIn,
    *,
    missing_c0: float,
    missing_c1: float,
    splits: npt.ArrayLike,
    representative: str,
    missing_rows: int = 0,
) -> dict[str, Any]:
    """`summary_binary` of rows counted by value, with the missing-value row's
    counts; of weighted counts (with "rows") the weighted summary, whose
    count, c0 and c1 are weights and "rows" the records (`missing_rows` those
    of the missing-value row)."""
    if "rows" in counts:
        weighted: dict[str, Any] = _native.summary_binary_from_weighted_counts(
            *weighted_columns(counts),
            float(missing_c0),
            float(missing_c1),
            missing_rows,
            splits,
            representative,
        )
        return weighted
    result: dict[str, Any] = _native.summary_binary_from_counts(
        counts["value"],
        counts["c0"],
        counts["c1"],
        int(missing_c0),
        int(missing_c1),
        splits,
        representative,
    )
    return result


def indexed_weighted_summary(
    counts: CountsIn,
    index: tuple[Any, Any, Any],
    *,
    missing_c0: float,
    missing_c1: float,
    missing_rows: int,
    splits: npt.ArrayLike,
) -> dict[str, Any]:
    """`summary_from_counts` (median) of weighted counts as
    `count_column_weighted` gave them with their index ("index_c0",
    "index_c1", "index_rows", in that order), read through it."""
    summary: dict[str, Any] = _native.summary_binary_from_indexed_weighted_counts(
        *weighted_columns(counts),
        *index,
        float(missing_c0),
        float(missing_c1),
        missing_rows,
        splits,
    )
    return summary


def prebin_summary(counts: CountsIn, splits: npt.ArrayLike) -> dict[str, Any]:
    """`summary_from_counts` of pre-bins, whose rows by class are all that is
    read of them: with medians, which read the counts once, where a mean from
    counts adds every row's value (as many additions as rows)."""
    return summary_from_counts(
        counts, missing_c0=0, missing_c1=0, splits=splits, representative="median"
    )


def median_summary_of_counted(counted: CountsIn, splits: npt.ArrayLike) -> dict[str, Any]:
    """`summary_from_counts` with medians of what `counted_prebins` gave (its
    counts, missing rows and index), read through the index: no pass over
    the counts, which are not checked again."""
    result: dict[str, Any] = _native.summary_binary_from_indexed_counts(
        counted["value"],
        counted["c0"],
        counted["c1"],
        counted["index_c0"],
        counted["index_c1"],
        int(counted["missing_c0"]),
        int(counted["missing_c1"]),
        splits,
    )
    return result


def mdlp_from_counts(
    counts: CountsIn,
    counters: Mapping[str, Any],
    *,
    minobs: int,
    monotonicity: int,
    mono_dir: int,
    alpha_pos: float,
    beta_struct: float,
    force_first_split: bool,
    representative: str,
) -> dict[str, Any]:
    """`mdlp_full_raw` of rows counted by value, with the column's row counters."""
    result: dict[str, Any] = _native.mdlp_full_from_counts(
        counts["value"],
        counts["c0"],
        counts["c1"],
        dict(counters),
        minobs,
        monotonicity,
        mono_dir,
        alpha_pos,
        beta_struct,
        force_first_split,
        representative,
    )
    return result


def optimal_groupings(
    c0: FloatArray,
    c1: FloatArray,
    max_bins: int,
    min_bin_share: float,
    min_events: float,
    min_non_events: float,
    trends: Sequence[str],
    max_pvalue: float = 1.0,
    fixed_starts: npt.ArrayLike = (),
) -> list[dict[str, Any]]:
    """The contiguous grouping of largest IV of pre-bins under the limits
    (neighbouring groups' p-value of equal event rates at most `max_pvalue`),
    a group beginning at each of the `fixed_starts` pre-bins, under each of
    the `trends` (searched in one pass over the same groups, cheaper than a
    search per trend); when none meets them, "message" names the limit and
    "broken_segment" the segment between fixed starts that breaks it."""
    result: list[dict[str, Any]] = _native.optimal_binnings(
        c0,
        c1,
        max_bins,
        min_bin_share,
        min_events,
        min_non_events,
        list(trends),
        max_pvalue,
        np.asarray(fixed_starts, dtype=np.int64),
    )
    return result


def optimal_groupings_columns(
    c0s: Sequence[FloatArray],
    c1s: Sequence[FloatArray],
    searches: Sequence[Any],
    n_threads: int,
) -> list[list[dict[str, Any]]]:
    """`optimal_groupings` of the pre-bins of each column (`c0s[i]`,
    `c1s[i]`) under its `searches[i]` (limits, trends and greatest p-value
    between neighbours, no fixed start), in their order, on up to
    `n_threads` threads with the interpreter lock released once for all of
    them."""
    found: list[list[dict[str, Any]]] = _native.optimal_binnings_columns(
        list(c0s),
        list(c1s),
        [s.max_bins for s in searches],
        [s.min_bin_share for s in searches],
        [s.min_events for s in searches],
        [s.min_non_events for s in searches],
        [list(s.trends) for s in searches],
        [s.max_pvalue for s in searches],
        n_threads,
    )
    return found


def grid_binning(
    c0: FloatArray,
    c1: FloatArray,
    *,
    n_x: int,
    n_y: int,
    max_bins_x: int,
    max_bins_y: int,
    min_cell_share: float,
    trend_x: str,
    trend_y: str,
) -> dict[str, Any]:
    """The product grid of largest IV of the pre-bin cells (c0, c1: n_x * n_y
    counts, x major): the first pre-bin of each group of either axis, the
    trends met, the IV and whether the optimum is proved; "message" says why
    no grid was found."""
    result: dict[str, Any] = _native.grid_binning(
        c0, c1, n_x, n_y, max_bins_x, max_bins_y, min_cell_share, trend_x, trend_y
    )
    return result


def grid_rectangles(
    c0: FloatArray,
    c1: FloatArray,
    *,
    n_x: int,
    n_y: int,
    max_bins_x: int,
    max_bins_y: int,
    min_cell_share: float,
    trend_x: str,
    trend_y: str,
) -> dict[str, Any]:
    """The partition of the pre-bin cells (c0, c1: n_x * n_y counts, x
    major) into at most max_bins_x * max_bins_y rectangles, made by cuts of
    whole rectangles (stripes under a trend along one axis), of largest IV:
    each one's first and last pre-bin of either axis, the trends met, the
    IV; "message" says why none was found."""
    result: dict[str, Any] = _native.grid_rectangles(
        c0, c1, n_x, n_y, max_bins_x, max_bins_y, min_cell_share, trend_x, trend_y
    )
    return result


def lorenz_from_counts(counts: CountsIn) -> dict[str, Any]:
    """`lorenz_curve` of scores counted by value (or weighted: counts with "rows")."""
    if "rows" in counts:
        weighted: dict[str, Any] = _native.lorenz_curve_from_weighted_counts(
            counts["value"], counts["c0"], counts["c1"], counts["rows"]
        )
        return weighted
    result: dict[str, Any] = _native.lorenz_curve_from_counts(
        counts["value"], counts["c0"], counts["c1"]
    )
    return result


def compare_from_counts(
    reference: npt.ArrayLike, current: npt.ArrayLike, splits: npt.ArrayLike, epsilon: float
) -> dict[str, Any]:
    """`compare_distributions` of two samples counted per bin."""
    result: dict[str, Any] = _native.compare_distributions_from_counts(
        reference, current, splits, epsilon
    )
    return result


# -- sample weights: sums of weights as doubles --------------------------------------
def weigh_into_bins(values: FloatArray, weights: FloatArray, splits: npt.ArrayLike) -> FloatArray:
    """The weight of the values in each interval of the cut points, then of the missing ones."""
    return _native.weigh_into_bins(values, weights, splits)


def compare_from_weights(
    reference: npt.ArrayLike, current: npt.ArrayLike, splits: npt.ArrayLike, epsilon: float
) -> dict[str, Any]:
    """`compare_distributions` of two samples weighed per bin (the counts are weights)."""
    result: dict[str, Any] = _native.compare_distributions_from_weights(
        reference, current, splits, epsilon
    )
    return result


# -- categories --------------------------------------------------------------------
def count_categories(codes: IntArray, flags: FloatArray, n_categories: int) -> Counts:
    """Non-events and events per category code, and of the missing category."""
    counts: Counts = _native.count_categories(codes, flags, n_categories)
    return counts


def event_rate_order(c0: npt.ArrayLike, c1: npt.ArrayLike) -> IntArray:
    """Groups by ascending event rate (equal rates in their given order), of
    rows or (float counts) of weights."""
    a, b = np.asarray(c0), np.asarray(c1)
    if a.dtype.kind == "f" or b.dtype.kind == "f":
        return _native.event_rate_order_weighted(a, b)
    return _native.event_rate_order(a, b)


def is_binary_target(ys: FloatArray) -> bool:
    """Whether every value of `ys` that is not NaN is 0 or 1 (one pass)."""
    return _native.is_binary_target(ys)


def target_labels(
    ys: FloatArray,
) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.bool_] | None]:
    """int32 labels of the rows of `ys` that are not NaN (-1 for a value other
    than 0 and 1), and which rows those are (None when all are)."""
    return _native.target_labels(ys)


def lookup(codes: IntArray, table: FloatArray, missing: float) -> FloatArray:
    """table[code] for every code, `missing` for code -1."""
    return _native.lookup_codes(codes, table, missing)


def lookup_int(codes: IntArray, table: IntArray, missing: int) -> IntArray:
    """table[code] for every code, `missing` for code -1, as integers."""
    return _native.lookup_codes_int(codes, table, missing)


# -- validation statistics -----------------------------------------------------------
def neighbour_rate_tests(c0: npt.ArrayLike, c1: npt.ArrayLike) -> dict[str, FloatArray]:
    """Chi-square statistic and p-value of equal event rates, each bin against the next."""
    result: dict[str, FloatArray] = _native.neighbour_rate_tests(c0, c1)
    return result


def neighbour_mean_tests(
    weight: npt.ArrayLike, mean: npt.ArrayLike, sum_sq_dev: npt.ArrayLike
) -> dict[str, FloatArray]:
    """Welch's t statistic, degrees of freedom and p-value of equal means,
    each bin against the next."""
    result: dict[str, FloatArray] = _native.neighbour_mean_tests(weight, mean, sum_sq_dev)
    return result


def delong_auc(scores: FloatArray, labels: npt.NDArray[np.int32]) -> dict[str, Any]:
    """AUCs of the rows of a (k, n) score array and their DeLong covariance (k, k)."""
    result: dict[str, Any] = _native.delong_auc(scores, labels)
    return result


# -- continuous target ---------------------------------------------------------------
def count_continuous(
    x: FloatArray, y: FloatArray, sample_weight: FloatArray | None = None
) -> Counts:
    """Rows, weight, sums of w*y and w*y^2, the sum of w*(y - mean)^2
    ("sum_sq_dev"), least and greatest y by ascending distinct x (exact
    sums); "missing" the same for the rows whose x is NaN; the rows left out
    (target NaN, weight 0)."""
    counts: Counts = _native.count_continuous_values(x, y, sample_weight)
    return counts


def weighted_quantile_cuts(counts: CountsIn, n_bins: int) -> FloatArray:
    """Cut points of weighted quantile pre-bins of values summed by value."""
    return _native.weighted_quantile_cuts(counts["value"], counts["rows"], counts["weight"], n_bins)


def continuous_interval_stats(counts: CountsIn, splits: npt.ArrayLike) -> dict[str, Any]:
    """The sums of the rows of each interval of the cut points."""
    result: dict[str, Any] = _native.continuous_interval_stats(
        counts["value"],
        counts["rows"],
        counts["weight"],
        counts["sum"],
        counts["sum_sq"],
        counts["sum_sq_dev"],
        counts["min"],
        counts["max"],
        np.asarray(splits, dtype=np.float64),
    )
    return result


def continuous_columns(stats: CountsIn) -> dict[str, Any]:
    """Share, mean, standard deviation and deviation from the overall mean of
    each row of sums; the between-row and total sums of squares and R²."""
    result: dict[str, Any] = _native.continuous_columns(
        stats["rows"], stats["weight"], stats["sum"], stats["sum_sq"], stats["sum_sq_dev"]
    )
    return result


def continuous_grouping(
    weight: FloatArray,
    total: FloatArray,
    rows: FloatArray,
    *,
    max_bins: int,
    min_bin_share: float,
    min_rows: float,
    trends: Sequence[str],
    max_pvalue: float = 1.0,
    sum_sq_dev: FloatArray | None = None,
) -> list[dict[str, Any]]:
    """The contiguous grouping of pre-bins of largest between-group sum of
    squares under the limits, neighbours' means differing at most at
    `max_pvalue` (which needs the pre-bins' `sum_sq_dev`), under each of the
    `trends` (searched in one pass); "message" names the limit none meets."""
    deviations = np.empty(0) if sum_sq_dev is None else sum_sq_dev
    result: list[dict[str, Any]] = _native.continuous_binnings(
        weight, total, rows, max_bins, min_bin_share, min_rows, list(trends), max_pvalue, deviations
    )
    return result


def count_continuous_partials(
    x: FloatArray, y: FloatArray, sample_weight: FloatArray | None = None
) -> Counts:
    """`count_continuous` with, per value, the exact partials of its weight,
    sum and sum_sq ("<name>_terms" segmented by "<name>_offset"), the rows
    whose x is NaN last as value NaN: parts counted apart add up exactly."""
    counts: Counts = _native.count_continuous_partials(x, y, sample_weight)
    return counts


def exact_sums(terms: npt.ArrayLike, offsets: npt.ArrayLike) -> FloatArray:
    """The exact sum, rounded once, of each segment terms[offsets[i]:offsets[i + 1]]."""
    sums: FloatArray = _native.exact_sums(
        np.asarray(terms, dtype=np.float64), np.asarray(offsets, dtype=np.int64)
    )
    return sums


def exact_sum(terms: npt.ArrayLike) -> float:
    """The exact sum of the terms, rounded once: the same in any order."""
    values = np.ravel(np.asarray(terms, dtype=np.float64))
    return float(exact_sums(values, np.array([0, values.size], dtype=np.int64))[0])


def exact_partials(
    terms: npt.ArrayLike, offsets: npt.ArrayLike
) -> tuple[FloatArray, npt.NDArray[np.int64]]:
    """Each segment terms[offsets[i]:offsets[i + 1]] as the few partials whose
    exact sum is its own (terms and offsets as given)."""
    out = _native.exact_partials(
        np.asarray(terms, dtype=np.float64), np.asarray(offsets, dtype=np.int64)
    )
    return out["terms"], out["offsets"]


def centred_square_sums(partials: Mapping[str, npt.ArrayLike]) -> FloatArray:
    """The sum of w*(y - mean)^2 of each value from the partials of its
    weight, sum and sum_sq ("<name>_terms", "<name>_offset"), several parts'
    partials of a value joined: that of one pass over the same rows."""
    names = ("weight", "sum", "sum_sq")
    sums: FloatArray = _native.centred_square_sums(
        *(
            np.asarray(partials[f"{name}_{part}"], dtype=dtype)
            for name in names
            for part, dtype in (("terms", np.float64), ("offset", np.int64))
        )
    )
    return sums


# -- the data overview ----------------------------------------------------------------
def value_profile(
    value: FloatArray, count: npt.ArrayLike, percentiles: tuple[float, ...], top: int
) -> dict[str, Any]:
    """Percentiles (0 to 100), mean and standard deviation of the finite
    values counted by distinct value (ascending), and the positions of the
    `top` values held by the most rows."""
    profile: dict[str, Any] = _native.value_profile(
        np.asarray(value, dtype=np.float64), count, list(percentiles), top
    )
    return profile


def top_positions(count: npt.ArrayLike, k: int) -> IntArray:
    """The positions of the `k` largest counts, largest first, ties by position."""
    positions: IntArray = _native.top_positions(count, k)
    return positions


# -- multiclass target -----------------------------------------------------------------
def count_class_values(x: FloatArray, labels: npt.NDArray[np.int32], k: int) -> Counts:
    """Rows by ascending distinct x and class ("counts": values x k), the
    rows whose x is NaN by class ("missing") and those of label -1 left out."""
    counts: Counts = _native.count_class_values(x, labels, k)
    return counts


def class_interval_counts(
    value: npt.ArrayLike, counts: npt.ArrayLike, splits: npt.ArrayLike
) -> IntArray:
    """Rows of each class per interval of the ascending cut points."""
    out: IntArray = _native.class_interval_counts(
        np.asarray(value, dtype=np.float64), counts, np.asarray(splits, dtype=np.float64)
    )
    return out


def multiclass_columns(counts: npt.ArrayLike) -> dict[str, Any]:
    """Share, WoE and IV of each class against the rest per row, the rows'
    IV and Jensen-Shannon terms, and their totals."""
    columns: dict[str, Any] = _native.multiclass_columns(np.asarray(counts, dtype=np.float64))
    return columns


def multiclass_grouping(
    counts: npt.ArrayLike,
    *,
    max_bins: int,
    min_bin_share: float,
    min_class_count: float,
    trends: list[str],
    objective: str,
) -> dict[str, Any]:
    """The grouping of ordered pre-bins (rows x classes) of largest
    multiclass IV or Jensen-Shannon divergence (`objective` "iv" or "js")
    under the limits; "message" names a limit none meets."""
    best: dict[str, Any] = _native.multiclass_binning(
        np.asarray(counts, dtype=np.float64),
        max_bins=max_bins,
        min_bin_share=min_bin_share,
        min_class_count=min_class_count,
        trends=trends,
        objective=objective,
    )
    return best


CountRunArrays = tuple[FloatArray, IntArray, IntArray, IntArray]


def merge_key_runs(runs: list[FloatArray]) -> tuple[FloatArray, IntArray]:
    """The distinct keys of `runs` (each ascending and distinct, NaN last)
    and each entry's place among them, the runs taken one after the other."""
    ends = np.cumsum([run.size for run in runs], dtype=np.int64)
    out = _native.merge_key_runs(np.concatenate(runs), ends)
    return out["keys"], out["place"]


def count_batch(
    x: FloatArray, flags: FloatArray
) -> tuple[FloatArray, IntArray, IntArray, IntArray]:
    """One batch's rows counted by distinct x (ascending, NaN last as one
    key): rows, rows of known target (flag not NaN) and events (flag 1.0)."""
    out = _native.count_batch(x, flags)
    return out["keys"], out["rows"], out["known"], out["ones"]


def count_batch_columns(
    xs: Sequence[FloatArray], flags: Sequence[FloatArray], n_threads: int
) -> list[tuple[FloatArray, IntArray, IntArray, IntArray]]:
    """`count_batch` of each column `xs[i]` with its `flags[i]`, in their
    order, on up to `n_threads` threads with the interpreter lock released
    once for all of them."""
    out = _native.count_batch_columns(list(xs), list(flags), n_threads)
    return [(c["keys"], c["rows"], c["known"], c["ones"]) for c in out]


def merge_count_runs(
    runs: list[tuple[FloatArray, IntArray, IntArray, IntArray]],
) -> tuple[FloatArray, IntArray, IntArray, IntArray]:
    """The distinct keys of `runs` (each keys, ascending and distinct with
    NaN last, and their rows, rows of known target and events) with the
    counts of equal keys added."""
    keys, rows, known, ones = ([run[k] for run in runs] for k in range(4))
    out = _native.merge_count_runs(keys, rows, known, ones)
    return out["keys"], out["rows"], out["known"], out["ones"]


def merge_held_columns(
    columns: list[list[tuple[FloatArray, IntArray, IntArray, IntArray]]], *, n_threads: int
) -> list[tuple[FloatArray, IntArray, IntArray, IntArray]]:
    """`merge_count_runs` of each column's runs, on up to `n_threads`
    threads with the interpreter lock released once for all."""
    lists = [tuple([run[k] for run in runs] for k in range(4)) for runs in columns]
    out = _native.merge_held_columns(lists, n_threads)
    return [(groups["keys"], groups["rows"], groups["known"], groups["ones"]) for groups in out]


def read_held_columns(
    columns: list[tuple[list[CountRunArrays], list[tuple[FloatArray, FloatArray]]]],
    *,
    n_prebins: int,
    max_class_parts: int,
    min_class_share: float,
    n_threads: int,
) -> list[dict[str, Any]]:
    """What a fit reads of each held column (its runs of counts, as
    `merge_count_runs` takes them, and its batches' rows not counted yet, as
    values and event flags), its runs merged without writing their merged
    groups: "value", "c0", "c1" of the numbers of known target with
    "index_c0", "index_c1" and "prebins" (None when no search can read
    them), "totals" (rows, rows of known target and events of the finite,
    missing and infinite values) and the smallest and largest finite value
    ("low", "high", None without one); on up to `n_threads` threads with
    the interpreter lock released once for all."""
    lists: list[tuple[list[Any], ...]] = [
        (
            *([run[k] for run in runs] for k in range(4)),
            [x for x, _ in rows],
            [f for _, f in rows],
        )
        for runs, rows in columns
    ]
    out: list[dict[str, Any]] = _native.read_held_columns(
        lists, n_prebins, max_class_parts, min_class_share, n_threads
    )
    return out


# -- significance of a searched grouping ---------------------------------------------
def spare_threads() -> Any:
    """A count of the threads a pool leaves idle, which the permutation tests
    it runs may borrow (`iv_permutation_test`'s `spare`)."""
    return _native.SpareThreads()


def iv_permutation_test(
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    outside_c0: npt.ArrayLike,
    outside_c1: npt.ArrayLike,
    **options: Any,
) -> dict[str, Any]:
    """The permutation p-value of the IV of the best grouping of ordered
    pre-bins beside the rows outside the search (see `binning.significance`)."""
    result: dict[str, Any] = _native.iv_permutation_test(c0, c1, outside_c0, outside_c1, **options)
    return result
