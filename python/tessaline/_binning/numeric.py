"""Binning a numeric variable from its rows: `mdlp_binning` finds the cut
points with the supervised MDLP search; `quantile_binning`,
`equal_width_binning` and `custom_binning` take them from the unsupervised
rules. All four return a `BinningTable`."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._core import checks, native, target
from .._core.arrays import FloatArray, as_float_array, column_name, labelled_rows
from . import weights as weighting
from .basis import rows_basis
from .binning_table import BinningTable
from .optimal import LIMIT_DEFAULTS
from .options import check_representative, check_rule, check_search
from .special import checked_special_values, is_special, with_special_rows

# Share of the rows that each side of an MDLP cut must exceed when `minobs`
# is not given.
DEFAULT_MIN_SHARE = 0.05


def default_minobs(n_rows: float) -> int:
    """`minobs` when none is given: 5% of the rows (or of their weight), rounded down."""
    return int(DEFAULT_MIN_SHARE * n_rows)


def mdlp_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    minobs: int | None = None,
    monotonicity: int = 0,
    mono_dir: int = 0,
    alpha_pos: float = 1.0,
    beta_struct: float = 1.0,
    force_first_split: bool = False,
    event: Any = None,
    value: float | None = None,
    percentile: float | None = None,
    special_values: Sequence[float] = (),
    representative: Literal["median", "mean"] = "median",
    name: str | None = None,
    sample_weight: npt.ArrayLike | None = None,
) -> BinningTable:
    """Supervised binning of `x` against the target `y` by the MDLP split search.

    `y` is 0/1 or boolean (1 = event); with `event`, rows of `y` equal to it
    are events and other present values non-events (``event="bad"``); a
    numeric target is turned into 0/1 at the fixed threshold `value` or at its
    `percentile` (an event is strictly above the threshold). Any other target
    is an error naming the distinct values found. Rows whose `y` is missing, or
    whose `x` or `y` is infinite, are left out; rows whose `x` alone is missing
    form the last row of the table. Values listed in `special_values` (codes
    such as -999) are kept out of the search and get a row each, before the
    missing-value row; the shares of all rows are then taken over all of them.

    Each side of a cut must hold more than `minobs` records (default: 5% of the
    rows given, rounded down). `monotonicity` (0 to 3) with `mono_dir` (+1 or
    -1) can require the event rate to rise or fall across each cut;
    `alpha_pos` and `beta_struct` weigh the two cost terms of the stopping
    rule (the cost of naming the cut's position and of describing the two
    sides): a cut is kept when its information gain exceeds the weighted
    cost, so raising either makes cuts rarer and bins fewer and wider, and
    lowering it (toward 0) lets more cuts through, down to the `minobs` limit;
    `force_first_split` keeps the best first cut even when the rule rejects it.
    `representative` ("median" or "mean") summarises `x` per row.

    The table's columns are those of the native MDLP summary, plus
    ``woe`` and ``iv`` (formula in `BinningTable`); ``table.metadata`` holds its
    preprocessing counters and ``table.split_log`` the log of the search.

    `sample_weight` (one finite, non-negative weight per row) counts each row
    by its weight (see `tessaline._binning.weights`): the entropies and the
    stopping rule read weights (N is the total weight), `minobs` is a weight
    (default 5% of the total weight), and the counters of ``metadata`` are
    weights. A threshold then needs `value`, not `percentile`.
    """
    xs = as_float_array(x)
    if sample_weight is not None and percentile is not None:
        raise ValueError(weighting.NO_PERCENTILE)
    if sample_weight is not None and value is not None and _binary(y):
        value = None  # a 0/1 target is read as it is: no threshold to report
    if (
        sample_weight is None
        and event is None
        and not special_values
        and (value is not None or percentile is not None)
        and target.is_numeric(y)
    ):
        # The native pipeline binarises at the threshold and reports it.
        ys = as_float_array(y)
    else:
        ys = weighting.event_flags(
            y, sample_weight, event=event, value=value, percentile=percentile
        )
    return mdlp_rows(
        xs,
        ys,
        name=name if name is not None else column_name(x),
        minobs=minobs,
        monotonicity=monotonicity,
        mono_dir=mono_dir,
        alpha_pos=alpha_pos,
        beta_struct=beta_struct,
        force_first_split=force_first_split,
        value=value,
        percentile=percentile,
        special_values=special_values,
        representative=representative,
        sample_weight=sample_weight,
    )


def _binary(y: npt.ArrayLike) -> bool:
    """Whether a target holds 0/1 (or booleans, or values of no number) only."""
    if not target.is_numeric(y):
        return True
    known = as_float_array(y)
    known = known[~np.isnan(known)]
    return bool(np.all((known == 0.0) | (known == 1.0)))


def mdlp_rows(
    xs: FloatArray,
    ys: FloatArray,
    *,
    name: str | None,
    minobs: int | None = None,
    monotonicity: int = 0,
    mono_dir: int = 0,
    alpha_pos: float = 1.0,
    beta_struct: float = 1.0,
    force_first_split: bool = False,
    value: float | None = None,
    percentile: float | None = None,
    special_values: Sequence[float] = (),
    representative: str = "median",
    sample_weight: npt.ArrayLike | None = None,
) -> BinningTable:
    """`mdlp_binning` of float64 values against event flags (or a numeric
    target with its threshold)."""
    checks.same_length(("x", xs), ("y", ys))
    check_search(minobs, monotonicity, mono_dir, alpha_pos, beta_struct)
    target.check_threshold(value, percentile)
    check_representative(representative)
    weights = checks.sample_weights(sample_weight, xs.size)
    if weights is not None:
        return _weighted_mdlp(
            weighting.weighted_rows(
                xs,
                ys,
                weights,
                special_values,
                sample_weight,
            ),
            name=name,
            minobs=minobs,
            monotonicity=monotonicity,
            mono_dir=mono_dir,
            alpha_pos=alpha_pos,
            beta_struct=beta_struct,
            force_first_split=force_first_split,
            representative=representative,
            threshold=value,
        )
    specials = checked_special_values(special_values)
    if minobs is None:
        minobs = default_minobs(xs.size)
    special = is_special(xs, specials)
    searched = (xs, ys) if special is None else (xs[~special], ys[~special])
    result = native.mdlp_full_raw(
        *searched,
        minobs=minobs,
        monotonicity=monotonicity,
        mono_dir=mono_dir,
        alpha_pos=alpha_pos,
        beta_struct=beta_struct,
        force_first_split=force_first_split,
        value=value,
        percentile=50.0 if percentile is None else percentile,
        representative=representative,
    )
    summary: Mapping[str, Any] = result["summary"]
    metadata: dict[str, Any] = dict(result["metadata"])
    if special is not None:
        summary = with_special_rows(summary, xs[special], ys[special], specials)
        metadata["n_special"] = int(special.sum())
    # A numeric target binarised by the native pipeline has no flags to count.
    basis = (
        None
        if value is not None or percentile is not None
        else rows_basis(*labelled_rows(*searched), representative, LIMIT_DEFAULTS)
    )
    return BinningTable(
        summary,
        method="mdlp",
        name=name,
        metadata=metadata,
        split_log=result["mdlp"],
        special_values=specials,
        basis=basis,
    )


def _weighted_mdlp(
    rows: weighting.WeightedRows,
    *,
    name: str | None,
    minobs: int | None,
    monotonicity: int,
    mono_dir: int,
    alpha_pos: float,
    beta_struct: float,
    force_first_split: bool,
    representative: str,
    threshold: float | None = None,
) -> BinningTable:
    """`mdlp_rows` of weighted rows: the search on the weights of the finite
    values, the table from the weights at its cuts; `threshold`, when the
    flags were read at one from a numeric target."""
    split_log = native.mdlp_splits_weighted(
        weighting.finite_part(rows.counts),
        minobs=default_minobs(rows.total) if minobs is None else minobs,
        monotonicity=monotonicity,
        mono_dir=mono_dir,
        alpha_pos=alpha_pos,
        beta_struct=beta_struct,
        force_first_split=force_first_split,
    )
    found = np.asarray(split_log["found"], dtype=bool)
    metadata = weighting.counters(*rows.searched())
    if threshold is not None:
        metadata.update(target_was_binary=False, threshold=float(threshold))
    if rows.specials:
        special = rows.is_special
        _, w_rows, w0, w1 = weighting.value_weights(
            rows.xs[special], rows.flags[special], rows.weights[special]
        )
        metadata["n_special"] = sum(weighting.kind_weights(w_rows, w0, w1, w_rows >= 0.0))
    return weighting.weighted_binning(
        rows,
        np.unique(np.asarray(split_log["pto"])[found]),
        method="mdlp",
        name=name,
        representative=representative,
        metadata=metadata,
        split_log=split_log,
        finite_only=True,
        limits=LIMIT_DEFAULTS,
    )


def unsupervised_rows(
    xs: FloatArray,
    flags: FloatArray,
    *,
    name: str | None,
    method: str,
    n_bins: int = 10,
    range: str = "full",
    lower_quantile: float = 0.0,
    upper_quantile: float = 1.0,
    k: float = 0.0,
    custom_splits: npt.ArrayLike = native.NO_SPLITS,
    special_values: Sequence[float] = (),
    representative: str = "median",
    sample_weight: npt.ArrayLike | None = None,
) -> BinningTable:
    """The table of cut points from an unsupervised rule ("quantile",
    "equal_width", "custom") of float64 values against event flags; the
    special values are kept out of the cut points and get a row each. With
    `sample_weight`, quantiles are weighted and equal widths span the rows of
    positive weight (see `tessaline._binning.weights`)."""
    checks.same_length(("x", xs), ("y", flags))
    if method == "custom":
        custom_splits = checks.cut_points("splits", custom_splits)
    weights = checks.sample_weights(sample_weight, xs.size)
    if weights is not None:
        return _weighted_unsupervised(
            weighting.weighted_rows(
                xs,
                flags,
                weights,
                special_values,
                sample_weight,
            ),
            name=name,
            method=method,
            n_bins=n_bins,
            range=range,
            lower_quantile=lower_quantile,
            upper_quantile=upper_quantile,
            k=k,
            custom_splits=custom_splits,
            representative=representative,
        )
    specials = checked_special_values(special_values)
    special = is_special(xs, specials)
    searched, labels = labelled_rows(
        *((xs, flags) if special is None else (xs[~special], flags[~special]))
    )
    if method != "custom":
        check_rule(
            method,
            searched,
            n_bins=n_bins,
            range=range,
            lower_quantile=lower_quantile,
            upper_quantile=upper_quantile,
            k=k,
        )
    check_representative(representative)
    splits = native.binning_splits(
        searched,
        method=method,
        n_bins=n_bins,
        range=range,
        lower_quantile=lower_quantile,
        upper_quantile=upper_quantile,
        k=k,
        custom_splits=custom_splits,
    )
    summary: Mapping[str, Any] = native.summary_binary(searched, labels, splits, representative)
    if special is not None:
        summary = with_special_rows(summary, xs[special], flags[special], specials)
    return BinningTable(
        summary,
        method=method,
        name=name,
        special_values=specials,
        basis=rows_basis(searched, labels, representative, LIMIT_DEFAULTS),
    )


def _weighted_unsupervised(
    rows: weighting.WeightedRows,
    *,
    name: str | None,
    method: str,
    n_bins: int,
    range: str,
    lower_quantile: float,
    upper_quantile: float,
    k: float,
    custom_splits: npt.ArrayLike,
    representative: str,
) -> BinningTable:
    """`unsupervised_rows` of weighted rows."""
    if method != "custom":
        sx, sf, _ = rows.searched()
        check_rule(
            method,
            sx[~np.isnan(sf)],
            n_bins=n_bins,
            range=range,
            lower_quantile=lower_quantile,
            upper_quantile=upper_quantile,
            k=k,
        )
    check_representative(representative)
    if method == "quantile":
        cuts = native.quantile_splits(rows.counts, n_bins)
    elif method == "equal_width":
        cuts = native.equal_width_splits_weighted(
            rows.counts,
            n_bins=n_bins,
            range=range,
            lower_quantile=lower_quantile,
            upper_quantile=upper_quantile,
            k=k,
        )
    else:
        cuts = np.asarray(custom_splits, dtype=np.float64)
    return weighting.weighted_binning(
        rows, cuts, method=method, name=name, representative=representative, limits=LIMIT_DEFAULTS
    )


def _unsupervised(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    name: str | None,
    event: Any,
    sample_weight: npt.ArrayLike | None = None,
    **rule: Any,
) -> BinningTable:
    return unsupervised_rows(
        as_float_array(x),
        weighting.event_flags(y, sample_weight, event=event),
        name=name if name is not None else column_name(x),
        sample_weight=sample_weight,
        **rule,
    )


def quantile_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    n_bins: int = 10,
    special_values: Sequence[float] = (),
    representative: Literal["median", "mean"] = "median",
    name: str | None = None,
    event: Any = None,
    sample_weight: npt.ArrayLike | None = None,
) -> BinningTable:
    """Binning of `x` at its quantiles i / n_bins (repeated cut points collapse,
    so ties give fewer bins), summarised against the 0/1 target `y` (or the
    rows equal to `event`, as in `mdlp_binning`).

    Rows whose `y` is missing are left out, also from the quantiles; any other
    `y` than 0 and 1 (without `event`) is a `TargetError` naming the values
    found. `special_values` (codes such as -999) are kept out of the quantiles
    and get a row each, before the missing-value row. With `sample_weight`
    (one finite, non-negative weight per row) the quantiles are weighted
    (see `tessaline._binning.weights`) and the table's counts are weights.
    """
    return _unsupervised(
        x,
        y,
        name,
        event,
        sample_weight,
        method="quantile",
        n_bins=n_bins,
        special_values=special_values,
        representative=representative,
    )


def equal_width_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    n_bins: int = 10,
    range: Literal["full", "quantile", "iqr"] = "full",
    lower_quantile: float = 0.05,
    upper_quantile: float = 0.95,
    k: float = 1.5,
    special_values: Sequence[float] = (),
    representative: Literal["median", "mean"] = "median",
    name: str | None = None,
    event: Any = None,
    sample_weight: npt.ArrayLike | None = None,
) -> BinningTable:
    """Binning of `x` into `n_bins` intervals of equal width, summarised against
    the 0/1 target `y`.

    The width spreads over the finite range of `x` (``range="full"``), between
    two of its quantiles (``"quantile"``, with `lower_quantile` and
    `upper_quantile`), or over the quartiles widened by `k` interquartile ranges
    (``"iqr"``); values beyond fall in the first or last interval. Rows whose
    `y` is missing are left out; `special_values` are kept out of the range and
    get a row each. With `sample_weight` the rows of weight 0 set no range,
    the quantiles of the "quantile" and "iqr" ranges are weighted, and the
    table's counts are weights.
    """
    return _unsupervised(
        x,
        y,
        name,
        event,
        sample_weight,
        method="equal_width",
        n_bins=n_bins,
        range=range,
        lower_quantile=lower_quantile,
        upper_quantile=upper_quantile,
        k=k,
        special_values=special_values,
        representative=representative,
    )


def custom_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    splits: npt.ArrayLike,
    *,
    special_values: Sequence[float] = (),
    representative: Literal["median", "mean"] = "median",
    name: str | None = None,
    event: Any = None,
    sample_weight: npt.ArrayLike | None = None,
) -> BinningTable:
    """Binning of `x` at the given cut points (finite and strictly increasing),
    summarised against the 0/1 target `y`. Rows whose `y` is missing are left
    out; `special_values` get a row each instead of falling in an interval.
    With `sample_weight` the table's counts are weights.
    """
    return _unsupervised(
        x,
        y,
        name,
        event,
        sample_weight,
        method="custom",
        custom_splits=splits,
        special_values=special_values,
        representative=representative,
    )
