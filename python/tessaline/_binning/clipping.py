"""Outliers clipped at fit time: each numeric column's values pulled into
bounds found on the fitted rows (two quantiles, or the quartiles widened by
a factor of their range), or given per column. Special values and missing
values are left as they are; infinite values are pulled in like any other.

The bounds are found on the finite values (special values aside) of the
rows of known target, from their counts by distinct value, so that a fit
from the rows and a fit from an engine's counts find the same bounds. The
quantiles are those of the overview: linear interpolation at position
(n - 1) p among the values sorted."""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import checks, native
from ..exceptions import DocumentError
from .column_counts import KEPT, ColumnCounts
from .special import is_special

FloatArray = npt.NDArray[np.float64]
IQR_FACTOR = 1.5
_FORMS = (
    "clip must be None, two quantiles such as (0.01, 0.99), 'iqr' or ('iqr', factor), "
    "or a dict of (low, high) bounds by column"
)


@dataclass(frozen=True)
class ClipRule:
    """How the bounds are found: two quantiles (shares from 0 to 1), the
    quartiles widened by `factor` times their range, or `bounds` given by
    column (a side None is open; a column not named is not clipped)."""

    quantiles: tuple[float, float] | None = None
    factor: float | None = None
    bounds: Mapping[str, tuple[float, float]] | None = None


def clip_rule(clip: Any) -> ClipRule | None:
    """The rule of the `clip` option, refused with a message when malformed."""
    if clip is None:
        return None
    if isinstance(clip, str):
        clip = (clip,)
    if isinstance(clip, Mapping):
        return ClipRule(bounds={str(k): _bounds(k, v) for k, v in clip.items()})
    if not isinstance(clip, (list, tuple)) or not clip:
        raise ValueError(f"{_FORMS}, not {clip!r}")
    if clip[0] == "iqr":
        if len(clip) > 2:
            raise ValueError(f"{_FORMS}, not {clip!r}")
        factor = clip[1] if len(clip) == 2 else IQR_FACTOR
        checks.real_number("the factor of clip='iqr'", factor, 0)
        return ClipRule(factor=float(factor))
    if len(clip) != 2 or not all(checks.is_number(q) for q in clip):
        raise ValueError(f"{_FORMS}, not {clip!r}")
    low, high = (float(q) for q in clip)
    if not 0.0 <= low < high <= 1.0:
        raise ValueError(
            f"the quantiles of clip must satisfy 0 <= low < high <= 1, not ({low!r}, {high!r})"
        )
    return ClipRule(quantiles=(low, high))


def _bounds(name: Any, pair: Any) -> tuple[float, float]:
    if not isinstance(pair, (list, tuple)) or len(pair) != 2:
        raise ValueError(f"clip[{name!r}] must be a (low, high) pair, not {pair!r}")
    low, high = (
        -math.inf if pair[0] is None else pair[0],
        math.inf if pair[1] is None else pair[1],
    )
    if not (checks.is_number(low) and checks.is_number(high)) or not float(low) <= float(high):
        raise ValueError(f"clip[{name!r}] must be numbers with low <= high, not {pair!r}")
    return float(low), float(high)


def found_bounds(
    rule: ClipRule, name: str, value: FloatArray, rows: npt.NDArray[np.int64]
) -> tuple[float, float] | None:
    """The bounds of the column `name` under `rule`, from its finite values
    counted by distinct value (ascending); None when it is not clipped."""
    if rule.bounds is not None:
        return rule.bounds.get(name)
    if rule.quantiles is not None:
        percentiles = tuple(100.0 * q for q in rule.quantiles)
    else:
        percentiles = (25.0, 75.0)
    found = native.value_profile(value, rows, percentiles, 0)["quantiles"]
    low, high = float(found[0]), float(found[1])
    if math.isnan(low):
        return None
    if rule.factor is not None:
        spread = high - low
        low, high = low - rule.factor * spread, high + rule.factor * spread
    return low, high


def bounds_of_rows(
    rule: ClipRule,
    name: str,
    x: FloatArray,
    counted: npt.NDArray[np.bool_],
    specials: Sequence[float],
) -> tuple[float, float] | None:
    """`found_bounds` of the rows `counted` (those of known target) of `x`."""
    if rule.bounds is not None:
        return rule.bounds.get(name)
    special = is_special(x, specials)
    keep = counted & np.isfinite(x) & (True if special is None else ~special)
    kept = x[keep]
    counts = native.count_values(kept, np.zeros(kept.size, dtype=np.int32))
    return found_bounds(rule, name, counts["value"], counts["c0"])


def bounds_of_counts(rule: ClipRule, name: str, counts: ColumnCounts) -> tuple[float, float] | None:
    """`found_bounds` of a column's merged counts, from its rows of known target."""
    if rule.bounds is not None:
        return rule.bounds.get(name)
    kept = counts.groups_of(KEPT)
    merged = native.merge_value_counts(kept["value"], kept["known"], np.zeros_like(kept["known"]))
    return found_bounds(rule, name, merged["value"], merged["c0"])


def clipped(x: FloatArray, bounds: tuple[float, float], specials: Sequence[float]) -> FloatArray:
    """A copy of `x` with every value but the special and missing ones
    pulled into `bounds` (NaN stays NaN)."""
    out = np.clip(x, bounds[0], bounds[1])
    special = is_special(x, specials)
    if special is not None:
        out[special] = x[special]
    return out


def clipped_counts(counts: ColumnCounts, bounds: tuple[float, float]) -> ColumnCounts:
    """The counts of a column whose values were clipped to `bounds` before counting."""
    return counts.with_values(clipped(counts.group_values, bounds, counts.special_values))


def bounds_field(
    bounds: Mapping[str, tuple[float, float]], tables: Mapping[str, Any]
) -> dict[str, Any]:
    """The document's optional field of the bounds, in the tables' order (an
    open side as null), or nothing when no column was clipped."""
    kept = {
        name: [None if math.isinf(b) else b for b in bounds[name]]
        for name in tables
        if name in bounds
    }
    return {"clip_bounds": kept} if kept else {}


def bounds_read(
    doc: Mapping[str, Any], tables: Mapping[str, Any], where: str
) -> dict[str, tuple[float, float]]:
    """The bounds of a document's optional field (none in one written
    before clipping existed); a malformed field raises `DocumentError`."""
    field = doc.get("clip_bounds", {})
    if not isinstance(field, Mapping):
        raise DocumentError(f"{where}: field 'clip_bounds' must map columns to (low, high)")
    out = {}
    for name, pair in field.items():
        try:
            out[str(name)] = _bounds(name, pair)
        except ValueError as error:
            raise DocumentError(f"{where}: field 'clip_bounds': {error}") from None
        if name not in tables:
            raise DocumentError(f"{where}: field 'clip_bounds' names {name!r}, which has no table")
    return out
