"""The options of the binning rules, checked before the native search reads
them: each group in the order the search reads its arguments, so that of two
bad options the caller hears of the one the search would have met first.
`OPTION_CHECKS` checks any option by name, as a whole-table binning holds them."""

from __future__ import annotations

from collections.abc import Callable, Mapping
from typing import Any

import numpy as np

from .._core import checks
from .._core.arrays import FloatArray

REPRESENTATIVES = ("median", "mean")
RANGES = ("full", "quantile", "iqr")
# The least events and non-events of a bin of an optimal search when not given.
DEFAULT_MIN_CLASS_COUNT = 5
TRENDS = ("auto", "auto_all", "ascending", "descending", "peak", "valley", "none")


# Bins asked for beyond the rows given can only stay empty: a count of bins
# is refused above this many and above the rows, before anything is
# allocated for them.
FEW_BINS = 1000


def check_bin_count(name: str, value: Any, rows: int | Callable[[], int]) -> int:
    """`value` as the number of bins `name`, a whole number from 1 to the
    rows given (or `FEW_BINS` on fewer rows). `rows` may be a function that
    counts them, called only for more than `FEW_BINS` bins."""
    number = checks.whole_number(name, value, 1)
    if number <= FEW_BINS:
        return number
    limit = max(int(rows() if callable(rows) else rows), FEW_BINS)
    if number > limit:
        raise ValueError(
            f"{name} must be at most {limit} (one bin per row given, or {FEW_BINS} on fewer "
            f"rows), not {number}"
        )
    return number


def check_representative(representative: Any) -> None:
    checks.one_of("representative", representative, REPRESENTATIVES)


def check_minobs(minobs: Any) -> None:
    if minobs is not None:
        checks.whole_number("minobs", minobs, 0)


# Every option of a whole-table binning that reaches a search, by name.
OPTION_CHECKS: dict[str, Callable[[Any], Any]] = {
    "representative": check_representative,
    "n_bins": lambda v: checks.whole_number("n_bins", v, 1),
    "minobs": check_minobs,
    "monotonicity": lambda v: checks.whole_number("monotonicity", v, 0, 3),
    "mono_dir": lambda v: checks.whole_number("mono_dir", v, -1, 1),
    "alpha_pos": lambda v: checks.real_number("alpha_pos", v, 0),
    "beta_struct": lambda v: checks.real_number("beta_struct", v, 0),
    "max_bins": lambda v: checks.whole_number("max_bins", v, 1),
    "trend": lambda v: checks.one_of("trend", v, TRENDS),
    "min_bin_share": lambda v: checks.real_number("min_bin_share", v, 0, 1),
    "min_events": lambda v: v is None or checks.real_number("min_events", v, 0),
    "min_non_events": lambda v: v is None or checks.real_number("min_non_events", v, 0),
    "max_pvalue": lambda v: v is None or checks.real_number("max_pvalue", v, 0, 1),
}
# The options of the MDLP search and the limits of optimal binning, in the
# order their searches read them.
SEARCH = ("minobs", "monotonicity", "mono_dir", "alpha_pos", "beta_struct")
LIMITS = ("max_bins", "trend", "min_bin_share", "min_events", "min_non_events")


def check_options(names: tuple[str, ...], options: Mapping[str, Any]) -> None:
    """The options `names` (SEARCH, LIMITS) as `options` holds them, in that
    order; an option it does not hold keeps its default."""
    for name in names:
        if name in options:
            OPTION_CHECKS[name](options[name])


def check_search(
    minobs: Any, monotonicity: Any, mono_dir: Any, alpha_pos: Any, beta_struct: Any
) -> None:
    """The options of the MDLP search, in the order the search reads them."""
    values = (minobs, monotonicity, mono_dir, alpha_pos, beta_struct)
    check_options(SEARCH, dict(zip(SEARCH, values)))


def check_rule(
    method: str,
    values: FloatArray,
    *,
    n_bins: Any,
    range: Any = "full",
    lower_quantile: Any = 0.0,
    upper_quantile: Any = 1.0,
    k: Any = 0.0,
) -> None:
    """The options of the "quantile" or "equal_width" rule, and the `values`
    it is to cut, which must hold a finite one."""
    if method == "equal_width":
        checks.one_of("range", range, RANGES)
    check_bin_count("n_bins", n_bins, values.size)
    if not np.isfinite(values).any():
        raise ValueError("x holds no finite value to cut into bins")
    if method == "equal_width" and range == "quantile":
        low = checks.real_number("lower_quantile", lower_quantile, 0, 1)
        high = checks.real_number("upper_quantile", upper_quantile, 0, 1)
        if not low < high:
            raise ValueError(
                f"lower_quantile must be below upper_quantile, not "
                f"{lower_quantile!r} and {upper_quantile!r}"
            )
    elif method == "equal_width" and range == "iqr":
        checks.real_number("k", k, 0)


def check_named(options: Mapping[str, Any], where: str = "") -> None:
    """Every option of `options` that `OPTION_CHECKS` knows; `where` begins
    the message (the column whose options they are)."""
    for name, value in options.items():
        if name in OPTION_CHECKS:
            try:
                OPTION_CHECKS[name](value)
            except (TypeError, ValueError) as error:
                raise type(error)(f"{where}{error}") from None


def class_limits(
    c0: FloatArray, c1: FloatArray, min_events: float | None, min_non_events: float | None
) -> tuple[float, float]:
    """The least events and non-events of a bin: as given, or when None
    `DEFAULT_MIN_CLASS_COUNT`, or the column's total when smaller (a column
    of fewer events is one bin, not an error)."""
    return (
        min(DEFAULT_MIN_CLASS_COUNT, float(c1.sum())) if min_events is None else float(min_events),
        min(DEFAULT_MIN_CLASS_COUNT, float(c0.sum()))
        if min_non_events is None
        else float(min_non_events),
    )
