"""The target as analysts hold it turned into event flags: 1.0 for an event,
0.0 for a non-event, NaN for a missing target (those rows are left out and
counted by the binning)."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from ..exceptions import TargetError
from . import categories, checks, native
from .arrays import FloatArray, as_float_array, dtype_of, holds_decimals

# Distinct values named in an error message, at most.
SHOWN_VALUES = 10


def _shown(names: list[str]) -> str:
    more = ", ..." if len(names) > SHOWN_VALUES else ""
    return ", ".join(names[:SHOWN_VALUES]) + more


def is_numeric(y: Any) -> bool:
    dtype = dtype_of(y)
    if dtype is None:
        dtype = np.asarray(y).dtype
    kind = getattr(dtype, "kind", None)
    if kind is not None:
        return kind in "iuf"
    # pandas nullable, polars and pyarrow dtypes.
    text = str(dtype).lower()
    return text.startswith(("int", "uint", "float", "double", "decimal"))


def _is_boolean(y: Any) -> bool:
    dtype = getattr(y, "dtype", None)
    if dtype is None:
        dtype = getattr(y, "type", None)
    if dtype is None:
        dtype = np.asarray(y).dtype
    return getattr(dtype, "kind", None) == "b" or str(dtype).lower() in ("boolean", "bool")


def _holds_only_numbers(y: Any) -> bool:
    """Whether `y` is a NumPy array of Python objects that are all numbers
    (or None), as a target read into an object column often is."""
    if not isinstance(y, np.ndarray) or y.dtype.kind != "O":
        return False
    return all(v is None or isinstance(v, (int, float, np.number)) for v in y.ravel().tolist())


def _event_of_value(y: Any, event: Any, in_rows: bool = True) -> FloatArray:
    encoded = categories.encode(y)
    wanted = categories.category_name(event)
    if wanted not in encoded.names and in_rows:
        raise TargetError(
            f"no row of the target holds the event value {wanted!r} "
            f"(values found: {_shown(encoded.names)})"
        )
    table = np.array([name == wanted for name in encoded.names], dtype=np.float64)
    return native.lookup(encoded.codes, table, np.nan)


def check_threshold(value: Any, percentile: Any) -> None:
    """The threshold of a numeric target, `value` or `percentile` (0 to 100),
    when given, is a number."""
    if value is not None and not checks.is_number(value):
        raise TargetError(f"value must be a number (the threshold of the target), not {value!r}")
    if percentile is not None and not (checks.is_number(percentile) and 0.0 <= percentile <= 100.0):
        raise TargetError(f"percentile must be between 0 and 100, not {percentile!r}")


def threshold(ys: FloatArray, value: float | None, percentile: float | None) -> float:
    """The threshold of a numeric target: `value`, or the linear-interpolation
    `percentile` (0 to 100) of its finite values."""
    check_threshold(value, percentile)
    if value is not None:
        return float(value)
    assert percentile is not None
    finite = ys[np.isfinite(ys)]
    return float(np.percentile(finite, percentile)) if finite.size else 0.0


def event_flags(
    y: Any,
    *,
    event: Any = None,
    value: float | None = None,
    percentile: float | None = None,
    event_in_rows: bool = True,
) -> FloatArray:
    """1.0 / 0.0 / NaN per row of `y`.

    With `event`, rows equal to it are events and other present values
    non-events (strings, categories, numbers alike). Booleans are taken as
    they are (True is the event). A numeric 0/1 target is used as it is; any
    other numeric target needs a threshold, `value` or `percentile`, above
    which (strictly) a row is an event. Anything else is an error that names
    the distinct values found, and so are rows without the `event` value,
    unless `event_in_rows` is False (a batch of rows may hold none)."""
    if event is not None:
        return _event_of_value(y, event, event_in_rows)
    if _holds_only_numbers(y) or holds_decimals(y):
        y = as_float_array(y)
    if _is_boolean(y) or is_numeric(y):
        ys = as_float_array(y)
        if native.is_binary_target(ys):
            return ys
        if value is not None or percentile is not None:
            cut = threshold(ys, value, percentile)
            return np.where(np.isnan(ys), np.nan, (ys > cut).astype(np.float64))
    raise not_binary(categories.encode(y).names)


def not_binary(names: list[str]) -> TargetError:
    """The error for a target that is not 0/1 and was given no way to read
    it, naming its distinct values (`names`, ascending; the first
    `SHOWN_VALUES` + 1 are enough)."""
    if not names:
        return TargetError("the target has no value")
    return TargetError(
        f"the target is not 0/1 (values found: {_shown(names)}): give event= "
        "(the value of an event), or value= or percentile= (a threshold of a "
        "numeric target)"
    )


def scored_labels(score: Any, y: Any) -> tuple[FloatArray, npt.NDArray[np.int32]]:
    """`score` as float64 and the 0/1 target `y` as int32 labels, without the
    rows whose score or target is missing: the rows a Lorenz curve reads,
    which must be of both classes."""
    scores, labels, _ = scored_rows(score, y)
    return scores, labels


def scored_rows(
    score: Any, y: Any, sample_weight: Any = None
) -> tuple[FloatArray, npt.NDArray[np.int32], FloatArray | None]:
    """`scored_labels` with the rows' weights (None without `sample_weight`):
    rows of weight 0 are left out too, so a class whose rows all weigh 0 is
    the same error as a class without rows."""
    scores, ys = as_float_array(score), as_float_array(y)
    checks.same_length(("score", scores), ("y", ys))
    weights = checks.sample_weights(sample_weight, scores.size)
    kept = ~np.isnan(scores) & ~np.isnan(ys)
    if weights is not None:
        kept &= weights > 0.0
        weights = weights[kept]
    scores, ys = scores[kept], ys[kept]
    if not np.all((ys == 0.0) | (ys == 1.0)):
        raise TargetError(
            f"y must hold only 0 and 1 (1 = event), not {checks.shown(np.unique(ys))}"
        )
    events = int(np.count_nonzero(ys))
    if events in (0, ys.size):
        held = "no row" if ys.size == 0 else "only events (1)" if events else "only non-events (0)"
        raise TargetError(
            f"y must hold both events (1) and non-events (0) among the rows with "
            f"a score, not {held}"
        )
    return scores, ys.astype(np.int32), weights
