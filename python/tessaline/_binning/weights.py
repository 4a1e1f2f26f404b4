"""Binning with sample weights: every row counts by its weight (a down-sampled
class weighted back up, a rejected applicant split into a weighted good and a
weighted bad). Weights are frequency weights: a row of integer weight w counts
exactly as w copies of it, and a row of weight 0 as if it were absent, so it
sets no range, quantile or category. The rows are summed by value (or
category) in the core, and every table is built from those sums by the core's
counts path; the table's ``count``, ``c0`` and ``c1`` are weights (floats) and
its ``rows`` the records behind them.

Every weight of a value (or category, or table row) is the exact sum of its
rows' weights rounded once, so a fit does not depend on the order of the
rows, on batches (``partial_fit``) or on the engine that summed them. Since
weights count rows, weights lighter than half a row on average (shares
summing to 1, say) are refused, as are weights whose sum a double cannot
hold: multiply or divide them by a common factor.

A quantile of weighted rows reads the total weight W as a number of rows: the
position of quantile p is (W - 1) * p, interpolated linearly between the
values at its floor and ceiling, the value at position t being the first
whose cumulative weight exceeds t. Integer weights give exactly the positions
of the rows repeated, and the medians (``representative="median"``) follow
the same rule; the mean is the sum of value times weight over the weight."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass, replace
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import checks, native, target
from .._core.arrays import FloatArray
from .basis import EditBasis, numeric_basis
from .binning_table import BinningTable
from .options import check_representative
from .special import checked_special_values, is_special, with_special_counts

Counts = dict[str, npt.NDArray[Any]]
# A percentile of the target would be read over its rows, not their weights:
# a weighted fit asks for the threshold itself.
NO_PERCENTILE = (
    "percentile= reads the target's rows unweighted: with sample_weight give the "
    "threshold itself (value=)"
)


def event_flags(y: Any, sample_weight: Any, **reading: Any) -> FloatArray:
    """`target.event_flags` of `y` (read with `reading`: event, value); with
    `event`, a target whose events all weigh 0 is refused as one without the
    event, since rows of weight 0 are as if absent."""
    flags = target.event_flags(y, **reading)
    if reading.get("event") is None:
        return flags
    weights = checks.sample_weights(sample_weight, flags.size)
    if weights is not None and not (flags[weights > 0.0] == 1.0).any():
        # The error of the target without those rows.
        target.event_flags(np.asarray(y, dtype=object)[weights > 0.0], **reading)
    return flags


def labels_of(flags: FloatArray) -> npt.NDArray[np.int32]:
    """0/1 event flags (no NaN) as int32 labels."""
    return flags.astype(np.int32)


def kept(mask: npt.NDArray[np.bool_], *arrays: FloatArray) -> tuple[FloatArray, ...]:
    """The rows of `mask` of each array: the arrays themselves where it keeps
    every row, which spares a copy of each."""
    if mask.all():
        return arrays
    return tuple(a[mask] for a in arrays)


def weighted_counts(xs: FloatArray, flags: FloatArray, weights: FloatArray) -> Counts:
    """(value, c0, c1, rows) of the rows of known target by ascending value:
    the weights of each class and the records; NaN values and zero weights left
    out."""
    xs, flags, weights = kept(~np.isnan(flags), xs, flags, weights)
    return native.count_values_weighted(xs, labels_of(flags), weights)


def finite_part(counts: Mapping[str, npt.NDArray[Any]]) -> Counts:
    """The counts of the finite values."""
    finite = np.isfinite(counts["value"])
    return {key: np.asarray(column)[finite] for key, column in counts.items()}


def with_weighted_specials(
    summary: Mapping[str, Any],
    xs: FloatArray,
    flags: FloatArray,
    weights: FloatArray,
    specials: Sequence[float],
) -> dict[str, npt.NDArray[Any]]:
    """The summary with one row per special value, from the weights of its rows."""
    counted = weighted_counts(xs, flags, weights)
    at = {float(v): j for j, v in enumerate(counted["value"])}

    def of(key: str, v: float, empty: Any) -> Any:
        return counted[key][at[v]].item() if v in at else empty

    return with_special_counts(
        summary,
        specials,
        [of("c0", v, 0.0) for v in specials],
        [of("c1", v, 0.0) for v in specials],
        rows=[of("rows", v, 0) for v in specials],
    )


def kind_weights(
    w_rows: FloatArray, w0: FloatArray, w1: FloatArray, group: npt.NDArray[np.bool_]
) -> tuple[float, float]:
    """The weight of the rows of known target and of those of missing target
    in the groups `group` (values or categories), from the weights of each
    group's rows, non-events and events. Every path (rows, batches, engines)
    has these per-group sums alike, so the row counters read them alone."""
    labelled = native.exact_sum(np.concatenate((w0[group], w1[group])))
    return labelled, max(native.exact_sum(w_rows[group]) - labelled, 0.0)


def category_counters(
    w_rows: FloatArray, w0: FloatArray, w1: FloatArray, present: npt.NDArray[np.bool_]
) -> dict[str, Any]:
    """The row counters of a categorical table from the weights of each
    category's rows, non-events and events (`present`: not the missing one)."""
    used, missing_y = kind_weights(w_rows, w0, w1, present)
    missing_x, missing_both = kind_weights(w_rows, w0, w1, ~present)
    return {
        "n_input": native.exact_sum([used, missing_x, missing_y, missing_both]),
        "n_used": used,
        "n_missing_x": missing_x,
        "n_missing_y": missing_y,
        "n_missing_both": missing_both,
        "n_non_finite": 0,
        "target_was_binary": True,
        "threshold": 0.0,
    }


def value_weights(
    xs: FloatArray, flags: FloatArray, weights: FloatArray
) -> tuple[FloatArray, FloatArray, FloatArray, FloatArray]:
    """Per distinct value (NaN last, as one value) the weight of its rows, of
    its non-events and of its events, each an exact sum rounded once."""
    missing = np.isnan(xs)
    every = native.count_values_weighted(
        xs[~missing], np.zeros(int((~missing).sum()), dtype=np.int32), weights[~missing]
    )
    value = every["value"]
    known = ~missing & ~np.isnan(flags)
    labelled = native.count_values_weighted(xs[known], labels_of(flags[known]), weights[known])
    at = np.searchsorted(value, labelled["value"])
    w0, w1 = np.zeros(value.size), np.zeros(value.size)
    w0[at], w1[at] = labelled["c0"], labelled["c1"]

    def of_missing(mask: npt.NDArray[np.bool_]) -> float:
        return native.exact_sum(weights[missing & mask])

    return (
        np.append(value, np.nan),
        np.append(every["c0"], of_missing(np.ones(xs.size, dtype=bool))),
        np.append(w0, of_missing(flags == 0.0)),
        np.append(w1, of_missing(flags == 1.0)),
    )


def counters(xs: FloatArray, flags: FloatArray, weights: FloatArray) -> dict[str, Any]:
    """The row counters of an MDLP table, each the weight of its rows."""
    value, w_rows, w0, w1 = value_weights(xs, flags, weights)
    missing, infinite = np.isnan(value), np.isinf(value)
    used, missing_y = kind_weights(w_rows, w0, w1, ~missing & ~infinite)
    missing_x, missing_both = kind_weights(w_rows, w0, w1, missing)
    known_inf, unknown_inf = kind_weights(w_rows, w0, w1, infinite)
    kinds = [used, missing_x, missing_y, missing_both, known_inf, unknown_inf]
    return {
        "n_input": native.exact_sum(kinds),
        "n_used": used,
        "n_missing_x": missing_x,
        "n_missing_y": missing_y,
        "n_missing_both": missing_both,
        "n_non_finite": known_inf + unknown_inf,
        "target_was_binary": True,
        "threshold": 0.0,
    }


@dataclass(frozen=True, eq=False)
class WeightedRows:
    """The rows of positive weight of one column, split into the searched ones
    and those of the special values, with the searched rows summed: `counts`
    by value (infinite values included), and the weights and records of the
    rows whose value is missing; `prebins`, when asked and possible, the
    pre-bins of the default binning of `counts`; `index`, where the count
    made one, the index of `counts` that their median summary reads."""

    xs: FloatArray
    flags: FloatArray
    weights: FloatArray
    is_special: npt.NDArray[np.bool_]
    specials: tuple[float, ...]
    counts: Counts
    missing: tuple[float, float, int]
    prebins: Mapping[str, Any] | None = None
    index: tuple[Any, Any, Any] | None = None

    @property
    def total(self) -> float:
        """The weight of every row given (those of weight 0 add nothing),
        summed only where a search reads it."""
        return native.exact_sum(self.weights)

    def searched(self) -> tuple[FloatArray, FloatArray, FloatArray]:
        """Values, flags and weights of the searched rows."""
        keep = ~self.is_special
        return self.xs[keep], self.flags[keep], self.weights[keep]

    def special(self) -> tuple[FloatArray, FloatArray, FloatArray]:
        """Values, flags and weights of the rows of special values (none,
        without a look at the rows, where no special value was given)."""
        if not self.specials:
            return self.xs[:0], self.flags[:0], self.weights[:0]
        return self.xs[self.is_special], self.flags[self.is_special], self.weights[self.is_special]


def weighted_rows(
    xs: FloatArray,
    flags: FloatArray,
    weights: FloatArray,
    special_values: Sequence[float],
    given: Any,
    prebins: Mapping[str, Any] | None = None,
) -> WeightedRows:
    """The weighted rows of a column (`weights`, checked by the caller from
    the `sample_weight` it was `given`); rows of weight 0 are left out here,
    as if absent. `prebins`: the options of the default binning's pre-bins,
    made with the counts. Weights checked once for a fit
    (`checks.CheckedWeights`) bring their kinds, and whether each is above 0:
    then no row is left out and none is looked at to say so."""
    checks.same_length(("x", xs), ("y", flags))
    specials = checked_special_values(special_values)
    kinds = checks.weight_kinds_of(given)
    if not checks.every_weight_positive(given):
        xs, flags, weights = kept(weights > 0.0, xs, flags, weights)
    special = is_special(xs, specials)
    if special is None:
        special = np.zeros(xs.size, dtype=bool)
        sx, sf, sw = xs, flags, weights
    else:
        sx, sf, sw = kept(~special, xs, flags, weights)
    # The searched rows summed by value, and those whose value is missing, in one pass.
    counts = native.count_column_weighted(sx, sf, sw, prebins, kinds)
    missing = (
        float(counts.pop("missing_c0")),
        float(counts.pop("missing_c1")),
        int(counts.pop("missing_rows")),
    )
    made = counts.pop("prebins", None)
    index = (
        (counts.pop("index_c0"), counts.pop("index_c1"), counts.pop("index_rows"))
        if "index_c0" in counts
        else None
    )
    return WeightedRows(xs, flags, weights, special, specials, counts, missing, made, index)


def weighted_binning(
    rows: WeightedRows,
    cuts: npt.ArrayLike,
    *,
    method: str,
    name: str | None,
    representative: str,
    metadata: Mapping[str, Any] | None = None,
    split_log: Mapping[str, Any] | None = None,
    finite_only: bool = False,
    limits: Mapping[str, Any],
) -> BinningTable:
    """The table of the weighted rows at the cut points, the special values in
    rows of their own; `finite_only` leaves infinite values out (as MDLP does).
    The table keeps the weights of the searched rows for edits, with the
    `limits` a re-optimisation around fixed cuts reads."""
    check_representative(representative)
    counts = finite_part(rows.counts) if finite_only else rows.counts
    splits = np.asarray(cuts, dtype=np.float64)
    summary: Mapping[str, Any]
    if rows.index is not None and representative == "median" and not finite_only:
        # Read through the count's index: a few reads per bin.
        summary = native.indexed_weighted_summary(
            counts,
            rows.index,
            missing_c0=rows.missing[0],
            missing_c1=rows.missing[1],
            missing_rows=rows.missing[2],
            splits=splits,
        )
    else:
        summary = native.summary_from_counts(
            counts,
            missing_c0=rows.missing[0],
            missing_c1=rows.missing[1],
            missing_rows=rows.missing[2],
            splits=splits,
            representative=representative,
        )
    if rows.specials:
        special = rows.is_special
        summary = with_weighted_specials(
            summary, rows.xs[special], rows.flags[special], rows.weights[special], rows.specials
        )
    return BinningTable(
        summary,
        method=method,
        name=name,
        metadata=metadata,
        split_log=split_log,
        special_values=rows.specials,
        basis=numeric_basis(rows.counts, representative, limits),
    )


# The row counters that categorical tables (the first five) and numeric MDLP
# tables (all seven) read from weights, as floats.
WEIGHED_COUNTERS = (
    "n_input",
    "n_used",
    "n_missing_x",
    "n_missing_y",
    "n_missing_both",
    "n_non_finite",
    "n_special",
)


def _read_only(values: Any, dtype: type) -> npt.NDArray[Any]:
    array: npt.NDArray[Any] = np.array(values, dtype=dtype)
    array.setflags(write=False)
    return array


def _weighed_basis(basis: EditBasis | None) -> EditBasis | None:
    """The basis of rows as weights of 1: c0 and c1 as weights, each value's
    (or category's) records their sum. One whose counts were not kept stays
    as it is, as a weighted one does."""
    if basis is None or basis.not_kept:
        return basis
    c0, c1 = np.asarray(basis.c0), np.asarray(basis.c1)
    return replace(
        basis,
        c0=_read_only(c0, np.float64),
        c1=_read_only(c1, np.float64),
        rows=_read_only(c0 + c1, np.int64),
    )


def rows_as_weights(table: BinningTable) -> BinningTable:
    """The table a fit with every weight 1 gives, from the table of the same
    rows unweighted: count, c0 and c1 as weights (floats; a whole number up
    to 2**53 reads the same either way) with the records in ``rows``, the
    basis likewise, and the row counters of a categorical or MDLP table as
    weights. The
    weight of evidence is computed again from the weights, as a weighted fit
    computes it."""
    columns = table.columns
    summary = {key: columns[key] for key in columns if key not in ("woe", "iv")}
    summary["rows"] = np.asarray(columns["count"], dtype=np.int64)
    for key in ("count", "c0", "c1"):
        summary[key] = np.asarray(columns[key], dtype=np.float64)
    metadata = table.metadata
    weighed = (
        WEIGHED_COUNTERS[:5]
        if table.kind == "categorical"
        else WEIGHED_COUNTERS
        if table.method == "mdlp"
        else ()
    )
    if metadata is not None and weighed:
        metadata = {key: float(v) if key in weighed else v for key, v in metadata.items()}
    return BinningTable(
        summary,
        method=table.method,
        name=table.name,
        metadata=metadata,
        split_log=table.split_log,
        special_values=table.special_values,
        bin_categories=table.bin_categories,
        pooled_categories=table.pooled_categories,
        pooled_bin=table.pooled_bin,
        basis=_weighed_basis(table.basis),
        edits=table.edits,
    )
