"""Supervised binning of a categorical variable: categories ordered by event
rate, the rare ones pooled, then the MDLP search over that order, so that each
bin is a set of categories."""

from __future__ import annotations

import bisect
from collections.abc import Mapping
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._core import categories, checks, native
from .._core.arrays import FloatArray, column_name
from .basis import category_basis
from .binning_table import BinningTable
from .numeric import default_minobs
from .optimal import DEFAULT_MAX_BINS, DEFAULT_MIN_BIN_SHARE, best_grouping
from .options import LIMITS, check_options, check_search
from .significance import IvTest, iv_significance
from .weights import NO_PERCENTILE, category_counters, event_flags

# The limits of the optimal grouping of categories that an option leaves out.
SEARCH_DEFAULTS: dict[str, Any] = {
    "max_bins": DEFAULT_MAX_BINS,
    "min_bin_share": DEFAULT_MIN_BIN_SHARE,
    "min_events": None,
    "min_non_events": None,
    "trend": "auto",
    "max_pvalue": None,
}

# The MDLP options of `categorical_binning` as they are when not given.
MDLP_DEFAULTS = {
    "minobs": None,
    "monotonicity": 0,
    "mono_dir": 0,
    "alpha_pos": 1.0,
    "beta_struct": 1.0,
    "force_first_split": False,
}
# Share of the labelled rows below which a category joins the pooled group.
DEFAULT_MIN_CATEGORY_SHARE = 0.01


def categorical_binning(
    x: Any,
    y: Any,
    *,
    event: Any = None,
    value: float | None = None,
    percentile: float | None = None,
    min_share: float = DEFAULT_MIN_CATEGORY_SHARE,
    minobs: int | None = None,
    monotonicity: int = 0,
    mono_dir: int = 0,
    alpha_pos: float = 1.0,
    beta_struct: float = 1.0,
    force_first_split: bool = False,
    name: str | None = None,
    method: Literal["mdlp", "optimal"] = "optimal",
    limits: Mapping[str, Any] | None = None,
    sample_weight: Any = None,
) -> BinningTable:
    """Bin the categories of `x` (strings, booleans, integer codes, a pandas
    ``category``, a pyarrow or polars column) against the target `y` (read as
    in `mdlp_binning`: 0/1, booleans, `event`, or a threshold).

    By default (``method="optimal"``, as `TableBinning` bins categories) the
    groups in event-rate order are grouped exactly as in `optimal_binning`,
    under `limits` (keys max_bins, min_bin_share, min_events, min_non_events,
    trend; its defaults). With ``method="mdlp"`` the MDLP search (its
    parameters `minobs`, `monotonicity`, `mono_dir`, `alpha_pos`,
    `beta_struct`, `force_first_split` as in `mdlp_binning`, which only it
    reads) cuts that order into bins instead.

    Categories holding less than `min_share` of the rows with a known target
    are pooled into one group, labelled "other (pooled: ...)", which no real
    category (one named "other" included) joins. The groups are ordered by
    ascending event rate, equal rates by name, and cut into bins, each a set
    of categories. Missing values keep their own last row.

    At `transform`, a pooled category, and one never seen in training, goes to
    the bin of the pooled group when training had one, otherwise to the
    missing-value row (index -1 and its WoE); with no such row either it gets
    index -1 and WoE 0, with an `UnseenCategoryWarning`.

    With `sample_weight` (one finite, non-negative weight per row) every row
    counts by its weight: `min_share`, the limits and `minobs` are read in
    weight, and a category whose rows all weigh 0 is as if unseen.
    """
    search = {
        "minobs": minobs,
        "monotonicity": monotonicity,
        "mono_dir": mono_dir,
        "alpha_pos": alpha_pos,
        "beta_struct": beta_struct,
        "force_first_split": force_first_split,
    }
    given = [k for k, v in search.items() if v != MDLP_DEFAULTS[k]]
    if method == "optimal" and given:
        raise ValueError(
            f"{', '.join(given)} apply to method='mdlp' only; the optimal grouping "
            f"reads limits={{...}} ({', '.join(LIMITS)})"
        )
    if method == "mdlp" and limits:
        raise ValueError("limits apply to method='optimal' only")
    if sample_weight is not None and percentile is not None:
        raise ValueError(NO_PERCENTILE)
    return categorical_codes(
        categories.encode(x),
        event_flags(y, sample_weight, event=event, value=value, percentile=percentile),
        min_share=min_share,
        minobs=minobs,
        monotonicity=monotonicity,
        mono_dir=mono_dir,
        alpha_pos=alpha_pos,
        beta_struct=beta_struct,
        force_first_split=force_first_split,
        name=name if name is not None else column_name(x),
        method=method,
        limits=limits,
        sample_weight=sample_weight,
    )


def categorical_codes(
    encoded: categories.Encoded,
    flags: FloatArray,
    *,
    name: str | None,
    min_share: float = DEFAULT_MIN_CATEGORY_SHARE,
    minobs: int | None = None,
    monotonicity: int = 0,
    mono_dir: int = 0,
    alpha_pos: float = 1.0,
    beta_struct: float = 1.0,
    force_first_split: bool = False,
    method: Literal["mdlp", "optimal"] = "optimal",
    limits: Mapping[str, Any] | None = None,
    sample_weight: Any = None,
    iv_test: IvTest | None = None,
) -> BinningTable:
    """`categorical_binning` of encoded categories against event flags;
    with `iv_test`, the table's metadata holds the test of its IV."""
    checks.same_length(("x", encoded.codes), ("y", flags))
    weights = checks.sample_weights(sample_weight, encoded.codes.size)
    names = encoded.names
    if weights is None:
        counts = native.count_categories(encoded.codes, flags, len(encoded.names))
        rows = None
    else:
        counts = native.count_categories_weighted(
            encoded.codes,
            flags,
            weights,
            len(encoded.names),
            every=True,
            kinds=checks.weight_kinds_of(sample_weight),
        )
        # Rows of weight 0 are as if absent: they name no category either.
        names, counts = _held(names, counts)
        rows = (counts["rows"], counts["missing_rows"])
    return categorical_table(
        names,
        counts["c0"],
        counts["c1"],
        counts["missing_c0"],
        counts["missing_c1"],
        _weighted_counters(counts)
        if weights is not None
        else _counts_of(encoded.codes, flags, counts),
        rows=rows,
        min_share=min_share,
        minobs=minobs,
        monotonicity=monotonicity,
        mono_dir=mono_dir,
        alpha_pos=alpha_pos,
        beta_struct=beta_struct,
        force_first_split=force_first_split,
        name=name,
        method=method,
        limits=limits,
        iv_test=iv_test,
    )


def _held(names: list[str], counts: dict[str, Any]) -> tuple[list[str], dict[str, Any]]:
    """The categories of `names` that some row of positive weight holds (those
    whose rows weigh more than 0), with their weighted `counts`."""
    held = counts["every"] > 0.0
    if held.all():
        return names, counts
    by_category = ("c0", "c1", "rows", "every")
    kept = {key: v[held] if key in by_category else v for key, v in counts.items()}
    return [name for name, h in zip(names, held, strict=True) if h], kept


def categorical_table(
    names: list[str],
    c0: npt.NDArray[Any],
    c1: npt.NDArray[Any],
    missing_c0: float,
    missing_c1: float,
    counters: Mapping[str, Any],
    *,
    rows: tuple[npt.NDArray[np.int64], int] | None = None,
    min_share: float = DEFAULT_MIN_CATEGORY_SHARE,
    minobs: int | None = None,
    monotonicity: int = 0,
    mono_dir: int = 0,
    alpha_pos: float = 1.0,
    beta_struct: float = 1.0,
    force_first_split: bool = False,
    name: str | None = None,
    method: Literal["mdlp", "optimal"] = "optimal",
    limits: Mapping[str, Any] | None = None,
    iv_test: IvTest | None = None,
) -> BinningTable:
    """The table of `categorical_binning` from the non-events `c0` and events
    `c1` of each category of `names` (ascending), the labelled rows whose
    category is missing, and the row counters of the column (`n_input` is
    every row, whose number sets the default `minobs`). With `rows` (the
    records of each category and of the missing category) the counts are
    weights, and so is the table's. With `iv_test` (the optimal grouping),
    the metadata holds the test of the grouping's IV."""
    if not (checks.is_number(min_share) and 0.0 <= min_share < 1.0):
        raise ValueError(f"min_share must be at least 0 and below 1, not {min_share!r}")
    checks.one_of("method", method, ("mdlp", "optimal"))
    if method == "optimal":
        # The test between neighbouring groups bounds the grouping as it does intervals.
        known = (*LIMITS, "max_pvalue")
        unknown = sorted(set(limits or {}) - set(known))
        if unknown:
            raise ValueError(
                f"unknown limit(s) {', '.join(unknown)}; limits are {', '.join(known)}"
            )
        check_options(known, limits or {})
    else:
        check_search(minobs, monotonicity, mono_dir, alpha_pos, beta_struct)
    weighted = rows is not None
    dtype = np.float64 if weighted else np.int64
    labelled = (c0.sum() + c1.sum()) + missing_c0 + missing_c1
    held = c0 + c1
    pooled = (held > 0) & (held < min_share * labelled)
    # A group is a category's name, or None for the pooled group, which no
    # category can be: it sorts by name as "other", after a real "other".
    # The names are distinct, so they sort as plain strings and the pooled
    # group goes in after every name up to "other" (a table may hold
    # hundreds of categories: no key is built per name).
    own = np.flatnonzero((held > 0) & ~pooled)
    kept = [names[i] for i in own.tolist()]
    named = sorted(kept)
    groups: list[str | None] = list(named)
    if pooled.any():
        groups.insert(bisect.bisect_right(named, categories.OTHER), None)
    position = {g: i for i, g in enumerate(groups)}
    group_of_code = np.full(len(names), -1, dtype=np.int64)
    group_of_code[own] = [position[n] for n in kept]
    if pooled.any():
        group_of_code[pooled] = position[None]
    grouped = group_of_code >= 0

    def per_group(counts: npt.NDArray[Any], kind: type) -> npt.NDArray[Any]:
        return np.bincount(
            group_of_code[grouped], weights=counts[grouped], minlength=len(groups)
        ).astype(kind)

    g0, g1 = per_group(c0, dtype), per_group(c1, dtype)
    g_rows = per_group(rows[0], np.int64) if rows is not None else None
    order = native.event_rate_order(g0, g1)
    intervals: Mapping[str, Any]
    split_log: Mapping[str, Any] | None
    significance: dict[str, Any] = {}
    if method == "optimal":
        intervals, split_log = _optimal_groups(g0[order], g1[order], dict(limits or {})), None
        searched = {**SEARCH_DEFAULTS, **(limits or {})}
        significance = iv_significance(
            g0, g1, ([missing_c0], [missing_c1]), iv_test, rate_order=True, **searched
        )
    else:
        if minobs is None:
            minobs = default_minobs(counters["n_input"])
        intervals, split_log = _mdlp_groups(
            g0[order],
            g1[order],
            minobs,
            monotonicity,
            mono_dir,
            alpha_pos,
            beta_struct,
            force_first_split,
        )
    if g_rows is not None and rows is not None:
        # The records of each bin: the groups between its edges, in rate order.
        right = np.asarray(intervals["right"])
        last = np.where(np.isfinite(right), np.floor(right), len(order) - 1).astype(np.int64)
        bin_rows = np.add.reduceat(g_rows[order], np.r_[0, last[:-1] + 1]) if last.size else last
        intervals = {**intervals, "rows": bin_rows.astype(np.int64)}
    summary = _summary(intervals, missing_c0, missing_c1, rows[1] if rows is not None else None)
    left, right = np.asarray(summary["left"]), np.asarray(summary["right"])
    in_rate_order = [groups[g] for g in order]
    bins = [
        in_rate_order[
            int(np.floor(lo)) + 1 if np.isfinite(lo) else 0 : int(np.floor(hi)) + 1
            if np.isfinite(hi)
            else len(order)
        ]
        for lo, hi in zip(left, right)
        if not np.isnan(lo)
    ]
    pooled_bin = next((b for b, members in enumerate(bins) if None in members), None)
    return BinningTable(
        summary,
        method=method,
        name=name,
        metadata={**counters, "n_categories": len(names), **significance},
        split_log=split_log,
        bin_categories=[tuple(g for g in members if g is not None) for members in bins],
        pooled_categories=[n for n, p in zip(names, pooled) if p],
        pooled_bin=pooled_bin,
        basis=category_basis(names, c0, c1, rows[0] if rows is not None else None),
    )


def _optimal_groups(
    c0: npt.NDArray[np.int64], c1: npt.NDArray[np.int64], limits: dict[str, Any]
) -> dict[str, npt.NDArray[Any]]:
    """The optimal grouping of the categories in event-rate order, as the
    search's intervals over their positions (a cut halfway between two)."""
    best = best_grouping(
        c0.astype(np.float64), c1.astype(np.float64), label="optimal binning", **limits
    )
    first, last = best["first"], best["last"]
    g0 = np.array([c0[a : b + 1].sum() for a, b in zip(first, last)], dtype=c0.dtype)
    g1 = np.array([c1[a : b + 1].sum() for a, b in zip(first, last)], dtype=c1.dtype)
    return {
        "left": np.where(first > 0, first - 0.5, -np.inf),
        "right": np.where(last < c0.size - 1, last + 0.5, np.inf),
        "total": g0 + g1,
        "c0": g0,
        "c1": g1,
        "p1": g1 / np.maximum(g0 + g1, 1),
    }


def _mdlp_groups(
    c0: npt.NDArray[np.int64],
    c1: npt.NDArray[np.int64],
    minobs: int,
    monotonicity: int,
    mono_dir: int,
    alpha_pos: float,
    beta_struct: float,
    force_first_split: bool,
) -> tuple[dict[str, npt.NDArray[Any]], Mapping[str, Any]]:
    """The MDLP search over the groups in event-rate order, each group a
    value (its position) holding its non-events and events, and its split
    log; the intervals cut halfway between two positions. Float counts are
    weights, searched as such."""
    positions = np.arange(c0.size, dtype=np.float64)
    if c0.dtype.kind == "f":
        weighted = {"value": positions, "c0": c0, "c1": c1, "rows": np.ones(c0.size, np.int64)}
        log = native.mdlp_splits_weighted(
            weighted,
            minobs=minobs,
            monotonicity=monotonicity,
            mono_dir=mono_dir,
            alpha_pos=alpha_pos,
            beta_struct=beta_struct,
            force_first_split=force_first_split,
        )
        found = np.asarray(log["found"], dtype=bool)
        groups = native.summary_from_counts(
            weighted,
            missing_c0=0.0,
            missing_c1=0.0,
            splits=np.unique(np.asarray(log["pto"])[found]),
            representative="median",
        )
        return _intervals(groups), log
    n = int(c0.sum() + c1.sum())
    counters = {
        "missing_count": 0,
        "missing_c0": 0,
        "missing_c1": 0,
        "n_input": n,
        "n_used": n,
        "n_missing_x": 0,
        "n_missing_y": 0,
        "n_missing_both": 0,
        "n_non_finite": 0,
        "target_was_binary": True,
        "threshold": 0.0,
    }
    result = native.mdlp_from_counts(
        {"value": positions, "c0": c0, "c1": c1},
        counters,
        minobs=minobs,
        monotonicity=monotonicity,
        mono_dir=mono_dir,
        alpha_pos=alpha_pos,
        beta_struct=beta_struct,
        force_first_split=force_first_split,
        representative="median",
    )
    return _intervals(result["summary"]), result["mdlp"]


def _intervals(summary: Mapping[str, Any]) -> dict[str, npt.NDArray[Any]]:
    """The intervals of the search as `_summary` reads them."""
    return {
        "left": summary["left"],
        "right": summary["right"],
        "total": summary["count"],
        "c0": summary["c0"],
        "c1": summary["c1"],
        "p1": summary["event_rate"],
    }


def _summary(
    intervals: Mapping[str, Any],
    missing_c0: float,
    missing_c1: float,
    missing_rows: int | None = None,
) -> dict[str, npt.NDArray[Any]]:
    """The rows of a binning table from the search's intervals, closed by the
    missing-value row when there are such rows; shares over all labelled rows.
    With `missing_rows` (the records of the missing-value row; the intervals
    then hold "rows") the counts are weights."""
    dtype = np.int64 if missing_rows is None else np.float64
    missing = missing_c0 + missing_c1
    extra = 1 if missing else 0
    count = np.append(np.asarray(intervals["total"], dtype=dtype), [missing] * extra)
    total = count.sum()
    out = {
        "left": np.append(intervals["left"], [np.nan] * extra),
        "right": np.append(intervals["right"], [np.nan] * extra),
        "count": count,
        "percentage": count / total if total else np.zeros(count.size),
        "c0": np.append(np.asarray(intervals["c0"], dtype=dtype), [missing_c0] * extra),
        "c1": np.append(np.asarray(intervals["c1"], dtype=dtype), [missing_c1] * extra),
        "event_rate": np.append(intervals["p1"], [missing_c1 / missing] * extra if extra else []),
        # The representative of a bin of categories would be its position in
        # the event-rate order, which means nothing to a reader: left out.
        "representative": np.full(count.size, np.nan),
    }
    if missing_rows is not None:
        out["rows"] = np.append(intervals["rows"], [missing_rows] * extra).astype(np.int64)
    return out


def _weighted_counters(labelled: Mapping[str, Any]) -> dict[str, Any]:
    """`_counters` with weights, from the weights of each category's rows,
    non-events and events (the missing category last), as counts give them:
    `labelled` are the column's weighted counts by class with the weight of
    every row of each category ("every"), each category held by some row."""
    k = len(labelled["c0"])

    def of(key: str) -> FloatArray:
        return np.append(labelled[key], labelled[f"missing_{key}"])

    w_rows, w0, w1 = of("every"), of("c0"), of("c1")
    present = np.arange(k + 1) < k
    return category_counters(w_rows, w0, w1, present)


def _counters(codes: npt.NDArray[np.int64], flags: FloatArray) -> dict[str, Any]:
    """The row counters of a numeric table: rows used, missing value, missing
    target, both."""
    missing_x, missing_y = codes < 0, np.isnan(flags)

    def rows(mask: npt.NDArray[np.bool_]) -> Any:
        return int(np.sum(mask))

    return {
        "n_input": rows(np.ones(codes.size, dtype=bool)),
        "n_used": rows(~missing_x & ~missing_y),
        "n_missing_x": rows(missing_x & ~missing_y),
        "n_missing_y": rows(~missing_x & missing_y),
        "n_missing_both": rows(missing_x & missing_y),
        "n_non_finite": 0,
        "target_was_binary": True,
        "threshold": 0.0,
    }


def _counts_of(
    codes: npt.NDArray[np.int64], flags: FloatArray, counts: Mapping[str, Any]
) -> dict[str, Any]:
    """The row counters of an unweighted column (see `_counters`), read from
    its counts (`count_categories`): the rows are read again only to split
    the rows of missing target."""
    missing_x = int(counts["missing_c0"]) + int(counts["missing_c1"])
    missing_y = int(counts["n_missing_target"])
    both = int(np.count_nonzero((codes < 0) & np.isnan(flags))) if missing_y else 0
    return {
        **_counters(codes[:0], flags[:0]),
        "n_input": int(codes.size),
        "n_used": int(codes.size) - missing_x - missing_y,
        "n_missing_x": missing_x,
        "n_missing_y": missing_y - both,
        "n_missing_both": both,
    }
