"""Optimal binning against a target of k classes (current, delinquent,
default, prepaid): pre-bins of the values (or the categories in order of one
class's rate) grouped into the contiguous bins of largest multiclass
information value, the sum over the classes of each class's IV against the
rest, under an analyst's limits. The grouping is exact: the same dynamic
programme in the core library as the binary search."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import categories, checks, frames, native
from .._core.arrays import FloatArray, as_float_array, column_name
from .._core.dependencies import installed
from .continuous import MAX_PREBINS, MAX_STATES
from .multiclass_binning_table import MulticlassBinningTable, row_totals, whole_rows
from .optimal import DEFAULT_MAX_BINS, DEFAULT_MIN_BIN_SHARE
from .special import checked_special_values, is_special

# The trends of a class's rate: with one class constrained any of them,
# with several each "ascending", "descending" or "none".
MULTICLASS_TRENDS = ("auto", "ascending", "descending", "peak", "valley", "none")
# A column of at most this many distinct values is searched over every cut
# between them (the optimum over all binnings under the limits), in a tenth
# of a second; a column of more over quantile pre-bins, in milliseconds.
EXACT_VALUES = 1000
DEFAULT_N_PREBINS = 200
# With the rates of several classes constrained the search joins every pair
# of neighbouring groups, a cube of the pre-bins: at most this many then.
MAX_PAIRED_PREBINS = 50
DEFAULT_MIN_CLASS_COUNT = 0
# What the search maximises: the multiclass IV or the Jensen-Shannon divergence.
OBJECTIVES = ("iv", "js")


@dataclass(frozen=True)
class ClassCounts:
    """One column's rows by value and class, as `native.count_class_values`
    gives them ("value", "counts", "missing", "n_missing_target"); for a
    column of categories, `names` are its categories in name order and a
    value is a category's position among them (None for a numeric column)."""

    counts: Mapping[str, Any]
    names: list[str] | None = None


def class_labels(y: Any) -> tuple[npt.NDArray[np.int32], list[str]]:
    """Each row's class code (-1 for a missing target) and the class names:
    numbers in ascending order named as categories are ("0", "1", "2.5"),
    other labels in ascending order of their names."""
    pandas = installed("pandas")
    if isinstance(y, np.ndarray) and y.dtype.kind == "U" and pandas is not None:
        # A NumPy array of text holds no missing label: pandas hashes its
        # strings, several times faster than sorting them, and the few
        # classes are then put in name order.
        raw, uniques = pandas.factorize(y.ravel())
        names = [str(u) for u in uniques]
        order = np.argsort(names, kind="stable")
        position = np.empty(order.size, dtype=np.int32)
        position[order] = np.arange(order.size, dtype=np.int32)
        return position[raw], [names[i] for i in order]
    if frames.is_categorical(y):
        encoded = categories.encode(y)
        return encoded.codes.astype(np.int32), list(encoded.names)
    ys = as_float_array(y)
    known = ~np.isnan(ys)
    values, codes = np.unique(ys[known], return_inverse=True)
    labels = np.full(ys.size, -1, dtype=np.int32)
    labels[known] = codes
    return labels, [categories.category_name(v) for v in values]


def weighed_classes(
    labels: npt.NDArray[np.int32], classes: list[str], weights: FloatArray | None
) -> tuple[npt.NDArray[np.int32], list[str]]:
    """The class codes and classes of the rows of positive weight: a class
    whose rows all weigh 0 is absent, as its rows are."""
    if weights is None:
        return labels, classes
    present = np.zeros(len(classes) + 1, dtype=bool)
    present[labels[weights > 0.0] + 1] = True
    present[0] = True
    if present.all():
        return labels, classes
    code = np.cumsum(present) - 2
    code[~present] = -1
    return code[labels + 1].astype(np.int32), [c for c, p in zip(classes, present[1:]) if p]


def class_values(
    x: FloatArray, labels: npt.NDArray[np.int32], k: int, weights: FloatArray | None = None
) -> dict[str, Any]:
    """`native.count_class_values` of the rows, each counting by its weight
    when `weights` are given: per distinct value and class the exact sum of
    its rows' weights, rounded once (a row of weight 0 as if absent), the
    weights of the rows whose value is missing per class, and the weight of
    those whose target is missing. Whole weights count rows: the counts are
    then integers, those of the rows repeated."""
    if weights is None:
        return native.count_class_values(x, labels, k)
    positive = weights > 0.0
    known = positive & (labels >= 0)
    searched = known & ~np.isnan(x)

    def summed(rows: npt.NDArray[np.bool_]) -> dict[str, Any]:
        return native.count_values_weighted(
            x[rows], np.zeros(int(rows.sum()), dtype=np.int32), weights[rows]
        )

    # Each class's rows summed by value on their own; the values are their union.
    parts = [summed(searched & (labels == c)) for c in range(k)]
    value = np.unique(np.concatenate([part["value"] for part in parts]))
    counts = np.zeros((value.size, k))
    for c, part in enumerate(parts):
        counts[np.searchsorted(value, part["value"]), c] = part["c0"]
    missing = [native.exact_sum(weights[known & np.isnan(x) & (labels == c)]) for c in range(k)]
    out = {
        "value": value,
        "counts": counts,
        "missing": np.array(missing),
        "n_missing_target": native.exact_sum(weights[positive & (labels < 0)]),
    }
    return as_rows(out)


def as_rows(counts: dict[str, Any]) -> dict[str, Any]:
    """Counts of weights as counts of rows (int64) where every one of them
    is a whole number: whole weights count rows."""
    if all(whole_rows(np.asarray(counts[k])) for k in ("counts", "missing")):
        counts["counts"] = np.asarray(counts["counts"]).astype(np.int64)
        counts["missing"] = np.asarray(counts["missing"]).astype(np.int64)
    return counts


def interval_counts(
    value: npt.ArrayLike, counts: npt.NDArray[Any], cuts: npt.ArrayLike
) -> npt.NDArray[Any]:
    """The rows of each class per interval of the ascending cut points (a
    value equal to a cut falls in the lower interval); of weights, each the
    exact sum of its values' weights, rounded once."""
    if counts.dtype.kind == "i":
        return native.class_interval_counts(value, counts, cuts)
    bins = np.searchsorted(np.asarray(cuts, dtype=np.float64), value, side="left")
    offsets = np.searchsorted(bins, np.arange(np.size(cuts) + 2), side="left")
    return np.column_stack(
        [
            native.exact_sums(np.ascontiguousarray(counts[:, c]), offsets)
            for c in range(counts.shape[1])
        ]
    ).reshape(np.size(cuts) + 1, counts.shape[1])


def _counts_of(counts: Mapping[str, Any], key: str, k: int) -> npt.NDArray[Any]:
    """A table of counts as given: rows (int64), or weights (float64) where
    they are no whole numbers."""
    table = np.asarray(counts.get(key, np.zeros(k, dtype=np.int64)))
    if table.dtype.kind == "f":
        if not (np.isfinite(table).all() and (table >= 0).all()):
            raise ValueError(f"{key} must be finite and not negative: rows or sums of weights")
        if not whole_rows(table):
            return table.astype(np.float64)
    return table.astype(np.int64)


def checked_trends(trend: Any, classes: Sequence[str]) -> list[str]:
    """One trend per class ([] when none is constrained): a string for every
    class, or a mapping of class names to trends (the others "none")."""
    if isinstance(trend, Mapping):
        unknown = [str(c) for c in trend if str(c) not in classes]
        if unknown:
            raise ValueError(f"trend names no class {', '.join(map(repr, unknown))}")
        by_class = {str(c): checks.one_of("trend", t, MULTICLASS_TRENDS) for c, t in trend.items()}
        trends = [by_class.get(c, "none") for c in classes]
    else:
        trends = [checks.one_of("trend", trend, MULTICLASS_TRENDS)] * len(classes)
    return [] if all(t == "none" for t in trends) else trends


def _check_limits(
    max_bins: Any, min_bin_share: Any, min_class_count: Any, objective: Any, n_prebins: Any = 1
) -> None:
    checks.one_of("objective", objective, OBJECTIVES)
    checks.whole_number("max_bins", max_bins, 1)
    checks.real_number("min_bin_share", min_bin_share, 0, 1)
    checks.whole_number("min_class_count", min_class_count, 0)
    checks.whole_number("n_prebins", n_prebins, 1, MAX_PREBINS)


def _grouping(prebins: npt.NDArray[np.int64], label: str, **limits: Any) -> dict[str, Any]:
    best = native.multiclass_grouping(prebins, **limits)
    if best["message"]:
        raise ValueError(f"multiclass binning of {label}: {best['message']}")
    return best


def _classes(counts: Mapping[str, Any], classes: Sequence[str]) -> list[str]:
    names = [str(c) for c in classes]
    k = np.asarray(counts["counts"]).shape[1]
    if len(names) != k or len(set(names)) != k or k < 2:
        raise ValueError(
            f"the target must hold two classes or more, named once each: found {k} ({names})"
        )
    return names


def multiclass_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_class_count: int = DEFAULT_MIN_CLASS_COUNT,
    trend: str | Mapping[Any, str] = "none",
    objective: str = "iv",
    n_prebins: int = DEFAULT_N_PREBINS,
    special_values: Sequence[float] = (),
    categorical: bool | None = None,
    order_class: Any = None,
    name: str | None = None,
    sample_weight: npt.ArrayLike | None = None,
) -> MulticlassBinningTable:
    """Bin `x` against the target `y` of k classes into at most `max_bins`
    bins of largest multiclass information value.

    Each class is weighed against the rest as a binary target's event, and
    the bins maximise the sum of those k information values (the table's
    ``information_value``; with two classes it is twice the binary IV and
    the bins are the binary search's), or with ``objective="js"`` the
    Jensen-Shannon divergence of the classes' distributions over the bins
    (``js_divergence``); the table reports both. The search groups
    neighbouring pre-bins exactly: a column of at most 1,000 distinct values
    is searched over every cut between them, one of more over `n_prebins`
    quantile pre-bins. Every bin
    holds at least `min_bin_share` of the searched rows and
    `min_class_count` rows of every class. `trend` constrains the classes'
    rates across the bins: a mapping of class names to "ascending",
    "descending" or "none" (one class may also take "peak", "valley" or
    "auto", the better of ascending and descending), or one trend for every
    class; "none" constrains none. With several classes constrained the
    column is searched over at most 50 quantile pre-bins.

    The classes are the distinct values of `y` (numbers in ascending order,
    named as "0", "1", ...; labels in name order); a missing target (NaN,
    None) leaves its row out. Rows whose `x` is missing and the
    `special_values` have rows of their own outside the limits. Strings,
    booleans and categories (or any column with ``categorical=True``) are
    binned as categories, in ascending order of the rate of `order_class`
    (default: the class with a trend when one has, else the last class),
    equal rates in name order. `transform` gives each value its bin's WoE
    of every class.

    With `sample_weight` every row counts by its weight (finite, not
    negative; a row of weight 0 as if absent): the table's counts are each
    the exact sum of their rows' weights, rounded once, and whole weights
    count rows, so that a row of weight 3 gives exactly the table of three
    copies of it. The limits read weights as rows.
    """
    xs_name = name if name is not None else column_name(x)
    labels, classes = class_labels(y)
    checks.same_length(("x", np.empty(frames.length(x))), ("y", labels))
    weights = checks.sample_weights(sample_weight, labels.size)
    labels, classes = weighed_classes(labels, classes, weights)
    if categorical is None:
        categorical = frames.is_categorical(x)
    limits: dict[str, Any] = {
        "max_bins": max_bins,
        "min_bin_share": min_bin_share,
        "min_class_count": min_class_count,
        "trend": trend,
        "objective": objective,
    }
    if categorical:
        encoded = categories.encode(x)
        codes = np.where(encoded.codes < 0, np.nan, encoded.codes.astype(np.float64))
        counts = class_values(codes, labels, len(classes), weights)
        return multiclass_category_table(
            encoded.names, counts, classes, name=xs_name, order_class=order_class, **limits
        )
    counts = class_values(as_float_array(x), labels, len(classes), weights)
    return multiclass_binning_from_counts(
        counts,
        classes,
        name=xs_name,
        n_prebins=n_prebins,
        special_values=special_values,
        **limits,
    )


def multiclass_binning_from_counts(
    counts: Mapping[str, Any],
    classes: Sequence[Any],
    *,
    name: str | None = None,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_class_count: int = DEFAULT_MIN_CLASS_COUNT,
    trend: str | Mapping[Any, str] = "none",
    objective: str = "iv",
    n_prebins: int = DEFAULT_N_PREBINS,
    special_values: Sequence[float] = (),
) -> MulticlassBinningTable:
    """The table of a numeric column from its rows counted by value and
    class (all of them: the special values' rows are taken out here), as a
    local pass or merged counts of parts give them: `counts` holds "value"
    (ascending distinct values), "counts" (values x classes) and optionally
    "missing" (the rows whose value is missing, per class); `classes` names
    the classes in column order. Counts may be sums of weights (floats):
    whole ones are read as rows, others kept as weights, each bin's the
    exact sum of its values' rounded once."""
    _check_limits(max_bins, min_bin_share, min_class_count, objective, n_prebins)
    names = _classes(counts, classes)
    trends = checked_trends(trend, names)
    specials = checked_special_values(special_values)
    every = np.asarray(counts["value"], dtype=np.float64)
    table = _counts_of(counts, "counts", len(names))
    missing = _counts_of(counts, "missing", len(names))
    if table.dtype != missing.dtype:
        table, missing = table.astype(np.float64), missing.astype(np.float64)
    special = is_special(every, specials)
    kept = slice(None) if special is None else ~special
    values, searched = every[kept], table[kept]
    if values.size == 0:
        raise ValueError(
            f"multiclass binning of {name or 'x'}: no row with a known value and target"
        )
    paired = sum(t != "none" for t in trends) > 1
    layers = max_bins if max_bins < values.size else 1
    groups = values.size * (values.size + 1) // 2
    if not paired and values.size <= EXACT_VALUES and groups * layers <= MAX_STATES:
        prebin_cuts = values[:-1][np.isfinite(values[:-1])]
    else:
        rows = row_totals(searched)
        quantiles = {"value": values, "c0": rows, "c1": np.zeros_like(rows)}
        if rows.dtype.kind == "f":
            # Weights read as rows, the records behind them aside.
            quantiles["rows"] = np.ones(rows.size, dtype=np.int64)
        prebin_cuts = native.quantile_splits(
            quantiles, min(n_prebins, MAX_PAIRED_PREBINS) if paired else n_prebins
        )
    prebins = interval_counts(values, searched, prebin_cuts)
    best = _grouping(
        prebins,
        name or "x",
        max_bins=max_bins,
        min_bin_share=float(min_bin_share),
        min_class_count=float(min_class_count),
        trends=trends,
        objective=objective,
    )
    cuts = prebin_cuts[best["last"][:-1]]
    rows_of: list[npt.NDArray[Any]] = [interval_counts(values, searched, cuts)]
    for value in specials:
        position = int(np.searchsorted(every, value))
        found = position < every.size and every[position] == value
        rows_of.append(
            table[position : position + 1] if found else np.zeros((1, len(names)), table.dtype)
        )
    has_missing = bool(missing.sum() > 0)
    if has_missing:
        rows_of.append(missing.reshape(1, -1))
    nan = [np.nan] * has_missing
    return MulticlassBinningTable(
        [-np.inf, *cuts, *specials, *nan],
        [*cuts, np.inf, *specials, *nan],
        np.vstack(rows_of),
        classes=names,
        method="optimal",
        name=name,
        metadata=_metadata(best, names, counts, objective, n_prebins=int(prebin_cuts.size) + 1),
        special_values=specials,
    )


def _metadata(
    best: Mapping[str, Any],
    classes: Sequence[str],
    counts: Mapping[str, Any],
    objective: str,
    **more: Any,
) -> dict[str, Any]:
    """The objective, the trend each constrained class met, and the rows left out."""
    met = {c: t for c, t in zip(classes, best["trends"]) if t != "none"}
    return {
        "objective": objective,
        **({"trends": met} if met else {}),
        **more,
        "n_missing_target": _rows_or_weight(counts.get("n_missing_target", 0)),
    }


def _rows_or_weight(value: Any) -> int | float:
    """A count of rows as an int; a sum of weights that is no whole number as a float."""
    v = float(value)
    return int(v) if v.is_integer() else v


def multiclass_category_table(
    names: Sequence[str],
    counts: Mapping[str, Any],
    classes: Sequence[Any],
    *,
    name: str | None = None,
    max_bins: int = DEFAULT_MAX_BINS,
    min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
    min_class_count: int = DEFAULT_MIN_CLASS_COUNT,
    trend: str | Mapping[Any, str] = "none",
    objective: str = "iv",
    order_class: Any = None,
    **_: Any,
) -> MulticlassBinningTable:
    """The table of a categorical column from its rows counted by category
    and class (`counts`: value i is the position of its category in
    `names`; "missing" the rows of a missing category): the categories in
    ascending order of the rate of `order_class`, equal rates in name order,
    are the pre-bins of the same search; a bin's edges are its positions in
    that order, cut halfway between two categories."""
    _check_limits(max_bins, min_bin_share, min_class_count, objective)
    classes = _classes(counts, classes)
    trends = checked_trends(trend, classes)
    table = _counts_of(counts, "counts", len(classes))
    missing = _counts_of(counts, "missing", len(classes))
    if table.dtype != missing.dtype:
        table, missing = table.astype(np.float64), missing.astype(np.float64)
    if table.shape[0] == 0:
        raise ValueError(
            f"multiclass binning of {name or 'x'}: no row with a known value and target"
        )
    if sum(t != "none" for t in trends) > 1 and table.shape[0] > MAX_PAIRED_PREBINS:
        raise ValueError(
            f"multiclass binning of {name or 'x'}: with several classes following a trend a "
            f"column may hold at most {MAX_PAIRED_PREBINS} categories, not {table.shape[0]}"
        )
    if order_class is None:
        constrained = [j for j, t in enumerate(trends) if t != "none"]
        by = constrained[0] if len(constrained) == 1 else len(classes) - 1
    elif str(order_class) in classes:
        by = classes.index(str(order_class))
    else:
        raise ValueError(f"order_class must be one of the classes {', '.join(classes)}")
    order = native.event_rate_order(row_totals(np.delete(table, by, axis=1)), table[:, by])
    ranked = table[order]
    best = _grouping(
        ranked,
        name or "x",
        max_bins=max_bins,
        min_bin_share=float(min_bin_share),
        min_class_count=float(min_class_count),
        trends=trends,
        objective=objective,
    )
    first, last = best["first"], best["last"]
    k = ranked.shape[0]
    grouped = interval_counts(np.arange(k), ranked, last[:-1] + 0.5)
    has_missing = bool(missing.sum() > 0)
    ranked_names = [names[int(counts["value"][i])] for i in order]
    return MulticlassBinningTable(
        [*np.where(first > 0, first - 0.5, -np.inf), *[np.nan] * has_missing],
        [*np.where(last < k - 1, last + 0.5, np.inf), *[np.nan] * has_missing],
        np.vstack([grouped, missing.reshape(1, -1)[:has_missing]]),
        classes=classes,
        method="optimal",
        name=name,
        metadata={**_metadata(best, classes, counts, objective), "order_class": classes[by]},
        bin_categories=[tuple(ranked_names[a : b + 1]) for a, b in zip(first, last)],
    )
