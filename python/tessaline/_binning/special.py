"""Special values: codes such as -999 kept out of a variable's search, each
with a row of its own after the intervals and before the missing-value row."""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core.arrays import FloatArray
from .columns import SUMMARY_COLUMNS


def checked_special_values(values: Sequence[float]) -> tuple[float, ...]:
    """Special values as distinct finite floats, in the order given."""
    specials: list[float] = []
    for value in values:
        number = float(value)
        if not math.isfinite(number):
            raise ValueError(f"special values must be finite numbers, not {value!r}")
        if number not in specials:
            specials.append(number)
    return tuple(specials)


def is_special(values: FloatArray, specials: Sequence[float]) -> npt.NDArray[np.bool_] | None:
    """Which of `values` equal one of `specials` (NaN never does), or None when
    there are no special values to look for: a column without them is then
    searched as it is, not copied."""
    if not len(specials):
        return None
    return np.isin(values, np.asarray(specials, dtype=np.float64))


def with_special_rows(
    summary: Mapping[str, Any], xs: FloatArray, flags: FloatArray, specials: Sequence[float]
) -> dict[str, npt.NDArray[Any]]:
    """The summary's intervals, one row per special value (its rows of `xs`
    with their event flags), then the summary's missing-value row; the shares
    are recounted over all rows."""
    return with_special_counts(summary, specials, *special_counts(xs, flags, specials))


def special_counts(
    xs: FloatArray,
    flags: FloatArray,
    specials: Sequence[float],
    weights: FloatArray | None = None,
) -> tuple[list[Any], list[Any]]:
    """The non-events and events of each special value among the rows `xs`
    (sums of their `weights` when given)."""

    def of(v: float, flag: float) -> Any:
        at = (xs == v) & (flags == flag)
        return int(np.sum(at)) if weights is None else float(np.sum(weights[at]))

    return [of(v, 0.0) for v in specials], [of(v, 1.0) for v in specials]


def with_special_counts(
    summary: Mapping[str, Any],
    specials: Sequence[float],
    c0: Sequence[Any],
    c1: Sequence[Any],
    rows: Sequence[int] | None = None,
) -> dict[str, npt.NDArray[Any]]:
    """`with_special_rows` from the non-events `c0` and events `c1` of each
    special value (weights, with their records `rows`, in a weighted summary)."""
    left = np.asarray(summary["left"])
    n_intervals = int(np.sum(~np.isnan(left)))
    added = {
        "left": list(specials),
        "right": list(specials),
        "count": [a + b for a, b in zip(c0, c1)],
        "c0": c0,
        "c1": c1,
        "event_rate": [b / (a + b) if a + b else 0.0 for a, b in zip(c0, c1)],
        "representative": list(specials),
    }
    keys = list(SUMMARY_COLUMNS)
    if "rows" in summary:
        added["rows"] = list(rows or [0] * len(specials))
        keys.append("rows")
    out: dict[str, npt.NDArray[Any]] = {}
    for key in keys:
        if key == "percentage":
            continue
        column = np.asarray(summary[key])
        out[key] = np.concatenate(
            (column[:n_intervals], np.asarray(added[key], dtype=column.dtype), column[n_intervals:])
        )
    total = out["count"].sum()
    out["percentage"] = out["count"] / total if total else np.zeros(len(out["count"]))
    return {key: out[key] for key in keys}
