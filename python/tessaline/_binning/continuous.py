"""Optimal binning against a continuous target (loss given default, exposure,
a balance): fine weighted quantile pre-bins (or categories in ascending
order of their mean) grouped into the contiguous bins whose means explain
most of the target's variance, under an analyst's limits. The grouping is
exact: a dynamic programme in the core library."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._core import categories, checks, frames, native
from .._core.arrays import FloatArray, as_float_array, column_name
from .continuous_binning_table import BASE_COLUMNS, ContinuousBinningTable
from .optimal import DEFAULT_MAX_BINS, DEFAULT_MIN_BIN_SHARE
from .special import checked_special_values, is_special

ContinuousTrend = Literal["auto", "ascending", "descending", "peak", "valley", "none"]
CONTINUOUS_TRENDS = ("auto", "ascending", "descending", "peak", "valley", "none")
# Quantile pre-bins of a column of many distinct values.
DEFAULT_N_PREBINS = 50
# Least rows of a bin when not given: any bin holding rows.
DEFAULT_MIN_ROWS = 1
# A column of at most this many distinct values is searched over every cut
# between them (the optimum over all binnings under the limits), which the
# search does in a few milliseconds; a column of more over quantile pre-bins.
EXACT_VALUES = 500
# The most pre-bins asked for.
MAX_PREBINS = 1_000_000
# The most states the core's search keeps (one per group, bin count and phase).
MAX_STATES = 2**24
# Under "auto", a peak or valley that explains this share more of the
# searched rows' variance than the monotone bins, and at least this much more
# of it (R²), is noted on the table (metadata "shape_note").
SHAPE_GAIN = 0.25
SHAPE_MIN_GAIN = 0.005


def searches_every_cut(n_values: int, max_bins: int, trend: str) -> bool:
    """Whether a column of `n_values` distinct values is searched over every
    cut: few enough values, and a search over them within the core's states."""
    layers = max_bins if max_bins < n_values else 1
    phases = 2 if trend in ("peak", "valley") else 1
    return (
        n_values <= EXACT_VALUES and n_values * (n_values + 1) // 2 * layers * phases <= MAX_STATES
    )


def continuous_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    sample_weight: npt.ArrayLike | None = None,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_rows: int = DEFAULT_MIN_ROWS,
    trend: ContinuousTrend = "auto",
    n_prebins: int = DEFAULT_N_PREBINS,
    special_values: Sequence[float] = (),
    categorical: bool | None = None,
    name: str | None = None,
    max_pvalue: float | None = None,
) -> ContinuousBinningTable:
    """Bin `x` against the continuous target `y` (a loss, an amount) into at
    most `max_bins` bins whose means explain most of the target's variance.

    The bins maximise the between-bin sum of squares
    ``sum_b W_b (mean_b - mean)^2`` (W_b the bin's weight, mean_b its
    weighted mean of y, mean the overall one), which is the table's
    ``between_ss``; over the total sum of squares it is ``r_squared``. The
    search starts from `n_prebins` weighted quantile pre-bins of `x` and
    groups neighbours exactly; a column of at most 500 distinct values is
    searched over every cut between them (unless `max_bins` is so large that
    the search would not fit in memory), so that its bins are the best of
    all binnings under the limits. Every bin holds at least `min_bin_share` of
    the searched weight and `min_rows` rows (counted as rows, whatever their
    weight); `trend` asks the bin means to
    be "ascending", "descending", with one "peak" or "valley", "none" for
    no shape, or "auto" for the better of ascending and descending.
    `max_pvalue` (none when None) bounds the p-value of Welch's test of
    equal means between neighbouring bins (weights counting as rows), so
    that neighbours whose means do not differ significantly are merged;
    ``table.analysis()`` reports those tests.

    `sample_weight` gives each row a finite non-negative weight (a row of
    integer weight k counts as k copies of it; a row of weight 0 is left
    out). Rows whose target is missing (NaN) are left out; rows whose `x` is
    missing and the `special_values` (codes such as -999) have rows of their
    own outside the limits. Strings, booleans and pandas or polars
    categories (or any column with ``categorical=True``) are binned as
    categories, in ascending order of their mean target. `transform` gives
    each value its bin's mean. For a binary target use `optimal_binning`.
    """
    xs_name = name if name is not None else column_name(x)
    ys = as_float_array(y)
    if categorical is None:
        categorical = frames.is_categorical(x)
    if categorical:
        return continuous_categories(
            categories.encode(x),
            ys,
            sample_weight,
            name=xs_name,
            max_bins=max_bins,
            min_bin_share=min_bin_share,
            min_rows=min_rows,
            trend=trend,
            max_pvalue=max_pvalue,
        )
    return continuous_rows(
        as_float_array(x),
        ys,
        sample_weight,
        name=xs_name,
        max_bins=max_bins,
        min_bin_share=min_bin_share,
        min_rows=min_rows,
        trend=trend,
        n_prebins=n_prebins,
        special_values=special_values,
        max_pvalue=max_pvalue,
    )


def checked_rows(
    n_rows: int, ys: FloatArray, sample_weight: npt.ArrayLike | None
) -> FloatArray | None:
    """The weights as float64 (None without), once the target and the
    weights are of the column's length and hold what they may: a finite
    target or NaN, finite non-negative weights."""
    checks.same_length(("x", np.empty(n_rows)), ("y", ys))
    bad = np.flatnonzero(np.isinf(ys))
    if bad.size:
        raise ValueError(
            "y must hold finite numbers or missing values (NaN): "
            f"row {bad[0]} holds {float(ys[bad[0]])!r}"
        )
    return checks.sample_weights(sample_weight, n_rows)


def _check_limits(
    max_bins: Any,
    min_bin_share: Any,
    min_rows: Any,
    trend: Any,
    n_prebins: Any = 1,
    max_pvalue: Any = None,
) -> None:
    checks.whole_number("max_bins", max_bins, 1)
    checks.real_number("min_bin_share", min_bin_share, 0, 1)
    checks.whole_number("min_rows", min_rows, 0)
    checks.one_of("trend", trend, CONTINUOUS_TRENDS)
    # More pre-bins than this is more than the search can take (4096) anyway.
    checks.whole_number("n_prebins", n_prebins, 1, MAX_PREBINS)
    if max_pvalue is not None:
        checks.real_number("max_pvalue", max_pvalue, 0, 1)


def _groupings(
    prebins: dict[str, Any],
    *,
    label: str,
    max_bins: int,
    min_bin_share: float,
    min_rows: int,
    trends: Sequence[str],
    max_pvalue: float | None,
) -> list[dict[str, Any]]:
    """The best grouping of the pre-bins under each of the `trends`."""
    found = native.continuous_grouping(
        np.asarray(prebins["weight"], dtype=np.float64),
        np.asarray(prebins["sum"], dtype=np.float64),
        np.asarray(prebins["rows"], dtype=np.float64),
        max_bins=max_bins,
        min_bin_share=min_bin_share,
        min_rows=float(min_rows),
        trends=trends,
        max_pvalue=1.0 if max_pvalue is None else float(max_pvalue),
        sum_sq_dev=np.asarray(prebins["sum_sq_dev"], dtype=np.float64),
    )
    for best in found:
        if best["message"]:
            raise ValueError(f"continuous binning of {label}: {best['message']}")
    return found


def _best_grouping(
    prebins: dict[str, Any], *, trend: str, **limits: Any
) -> tuple[dict[str, Any], str]:
    """The best grouping under `trend` and, under "auto", the note of a peak
    or valley whose bins explain much more of the searched rows' variance
    (its R² and how to ask for it), or ''. No trend at all bounds both from
    above, costs less to search and is searched in the same pass."""
    if trend != "auto":
        return _groupings(prebins, trends=(trend,), **limits)[0], ""
    best, unshaped = _groupings(prebins, trends=("auto", "none"), **limits)
    total = float(native.continuous_columns(prebins)["total_ss"])
    if not total > 0:
        return best, ""
    r2 = best["between_ss"] / total

    def much_better(other: float) -> bool:
        return bool(other > r2 * (1 + SHAPE_GAIN) and other - r2 >= SHAPE_MIN_GAIN)

    if not much_better(float(unshaped["between_ss"]) / total):
        return best, ""
    shapes = ("peak", "valley")
    found = _groupings(prebins, trends=shapes, **limits)
    shaped = max((float(r["between_ss"]) / total, t) for r, t in zip(found, shapes))
    if not much_better(shaped[0]):
        return best, ""
    note = f"a {shaped[1]} fits better (R² {shaped[0]:.4f} against {r2:.4f}): trend='{shaped[1]}'"
    return best, note


def _stack(*parts: dict[str, Any]) -> dict[str, Any]:
    """Rows of sums one after another, each part a dict of columns."""
    return {key: np.concatenate([np.asarray(p[key]) for p in parts]) for key in BASE_COLUMNS}


def _missing_row(counts: dict[str, Any]) -> dict[str, Any]:
    """The missing-value row (none when no row's value is missing)."""
    missing = counts["missing"]
    kept = int(missing["rows"][0]) > 0
    return {
        "left": [np.nan] * kept,
        "right": [np.nan] * kept,
        **{k: np.asarray(missing["rows" if k == "count" else k])[:kept] for k in BASE_COLUMNS[2:]},
    }


def _tested(max_pvalue: float | None) -> dict[str, float]:
    """The limit between neighbours, when there is one, as the table keeps it."""
    return {} if max_pvalue is None else {"max_pvalue": float(max_pvalue)}


def _left_out(counts: dict[str, Any]) -> dict[str, int]:
    return {
        "n_missing_target": int(counts["n_missing_target"]),
        "n_zero_weight": int(counts["n_zero_weight"]),
    }


def continuous_rows(
    xs: FloatArray,
    ys: FloatArray,
    sample_weight: npt.ArrayLike | None,
    *,
    name: str | None,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_rows: int = DEFAULT_MIN_ROWS,
    trend: str = "auto",
    n_prebins: int = DEFAULT_N_PREBINS,
    special_values: Sequence[float] = (),
    max_pvalue: float | None = None,
) -> ContinuousBinningTable:
    """`continuous_binning` of float64 values."""
    ws = checked_rows(xs.size, ys, sample_weight)
    _check_limits(max_bins, min_bin_share, min_rows, trend, n_prebins, max_pvalue)
    return continuous_counts_table(
        native.count_continuous(xs, ys, ws),
        name=name,
        max_bins=max_bins,
        min_bin_share=min_bin_share,
        min_rows=min_rows,
        trend=trend,
        n_prebins=n_prebins,
        special_values=special_values,
        max_pvalue=max_pvalue,
    )


# The columns of rows summed by value, as `native.count_continuous` gives them.
VALUE_COLUMNS = ("value", "rows", "weight", "sum", "sum_sq", "sum_sq_dev", "min", "max")


def continuous_counts_table(
    counts: dict[str, Any],
    *,
    name: str | None,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_rows: int = DEFAULT_MIN_ROWS,
    trend: str = "auto",
    n_prebins: int = DEFAULT_N_PREBINS,
    special_values: Sequence[float] = (),
    max_pvalue: float | None = None,
) -> ContinuousBinningTable:
    """The table of a numeric column from its rows summed by value (all of
    them: the special values' rows are taken out here), as a local pass or
    an engine's merged counts give them."""
    _check_limits(max_bins, min_bin_share, min_rows, trend, n_prebins, max_pvalue)
    specials = checked_special_values(special_values)
    special = is_special(np.asarray(counts["value"]), specials)
    searched = {
        key: np.asarray(counts[key])[slice(None) if special is None else ~special]
        for key in VALUE_COLUMNS
    }
    values = searched["value"]
    if values.size == 0:
        raise ValueError(
            f"continuous binning of {name or 'x'}: no row with a known value, target and weight"
        )
    if searches_every_cut(values.size, max_bins, trend):
        prebin_cuts = values[:-1][np.isfinite(values[:-1])]
    else:
        prebin_cuts = native.weighted_quantile_cuts(searched, n_prebins)
    prebins = native.continuous_interval_stats(searched, prebin_cuts)
    limits: dict[str, Any] = {
        "label": name or "x",
        "max_bins": max_bins,
        "min_bin_share": min_bin_share,
        "min_rows": min_rows,
        "max_pvalue": max_pvalue,
    }
    best, note = _best_grouping(prebins, trend=trend, **limits)
    # A group ends at its last pre-bin, whose right edge (a value of x) is its cut.
    cuts = prebin_cuts[best["last"][:-1]]
    intervals = native.continuous_interval_stats(searched, cuts)
    intervals["left"] = np.concatenate(([-np.inf], cuts))
    intervals["right"] = np.concatenate((cuts, [np.inf]))
    intervals["count"] = intervals["rows"]
    special_rows: dict[str, list[Any]] = {key: [] for key in BASE_COLUMNS}
    every = np.asarray(counts["value"])
    for value in specials:
        position = int(np.searchsorted(every, value))
        i = position if position < every.size and every[position] == value else None
        special_rows["left"].append(value)
        special_rows["right"].append(value)
        for key in BASE_COLUMNS[2:]:
            empty = np.nan if key in ("min", "max") else 0
            source = "rows" if key == "count" else key
            special_rows[key].append(empty if i is None else counts[source][i])
    return ContinuousBinningTable(
        _stack(intervals, special_rows, _missing_row(counts)),
        method="optimal",
        name=name,
        metadata={
            "trend": best["trend"],
            "n_prebins": int(prebin_cuts.size) + 1,
            **_tested(max_pvalue),
            **({"shape_note": note} if note else {}),
            **_left_out(counts),
        },
        special_values=specials,
    )


def continuous_categories(
    encoded: categories.Encoded,
    ys: FloatArray,
    sample_weight: npt.ArrayLike | None,
    *,
    name: str | None,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_rows: int = DEFAULT_MIN_ROWS,
    trend: str = "auto",
    max_pvalue: float | None = None,
    **_: Any,
) -> ContinuousBinningTable:
    """`continuous_binning` of encoded categories: the categories in
    ascending order of their mean (equal means in name order) are the
    pre-bins of the same search; a bin's edges are its positions in that
    order, cut halfway between two categories."""
    ws = checked_rows(encoded.codes.size, ys, sample_weight)
    codes = np.where(encoded.codes < 0, np.nan, encoded.codes.astype(np.float64))
    return continuous_category_table(
        encoded.names,
        native.count_continuous(codes, ys, ws),
        name=name,
        max_bins=max_bins,
        min_bin_share=min_bin_share,
        min_rows=min_rows,
        trend=trend,
        max_pvalue=max_pvalue,
    )


def continuous_category_table(
    names: Sequence[str],
    counts: dict[str, Any],
    *,
    name: str | None,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_rows: int = DEFAULT_MIN_ROWS,
    trend: str = "auto",
    max_pvalue: float | None = None,
    **_: Any,
) -> ContinuousBinningTable:
    """The table of a categorical column from its rows summed by category
    (`counts`: value i is the position of its category in `names`, the
    missing category as the missing value), as a local pass or an engine's
    merged counts give them."""
    _check_limits(max_bins, min_bin_share, min_rows, trend, max_pvalue=max_pvalue)
    k = counts["value"].size
    if k == 0:
        raise ValueError(
            f"continuous binning of {name or 'x'}: no row with a known value, target and weight"
        )
    order = np.argsort(native.continuous_columns(counts)["mean"], kind="stable")
    ranked = {key: np.asarray(counts[key])[order] for key in VALUE_COLUMNS[1:]}
    ranked["value"] = np.arange(k, dtype=np.float64)
    (best,) = _groupings(
        ranked,
        label=name or "x",
        max_bins=max_bins,
        min_bin_share=min_bin_share,
        min_rows=min_rows,
        trends=(trend,),
        max_pvalue=max_pvalue,
    )
    first, last = best["first"], best["last"]
    cuts = last[:-1] + 0.5
    intervals = native.continuous_interval_stats(ranked, cuts)
    intervals["left"] = np.where(first > 0, first - 0.5, -np.inf)
    intervals["right"] = np.where(last < k - 1, last + 0.5, np.inf)
    intervals["count"] = intervals["rows"]
    missing = _missing_row(counts)
    ranked_names = [names[int(counts["value"][i])] for i in order]
    bins = [tuple(ranked_names[a : b + 1]) for a, b in zip(first, last)]
    return ContinuousBinningTable(
        _stack(intervals, missing),
        method="optimal",
        name=name,
        metadata={"trend": best["trend"], **_tested(max_pvalue), **_left_out(counts)},
        bin_categories=bins,
    )
