"""The package's own checks of its arguments, made before any native call so
that a caller reads what is wrong in English, under the argument's own name
and with the value given. (The native module's messages are Spanish and name
its internals.) A value of the wrong kind is a TypeError, a value out of its
range a ValueError; each check returns the value in the form the native call
takes."""

from __future__ import annotations

import math
import numbers
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from . import native
from .arrays import as_float_array

# Values of an array named in a message, at most.
SHOWN_VALUES = 10


def shown(values: npt.ArrayLike) -> str:
    """The first values of an array as a message names them."""
    values = np.ravel(values).tolist()
    items = [
        format(float(v), "g") if isinstance(v, numbers.Real) else repr(v)
        for v in values[:SHOWN_VALUES]
    ]
    return "[" + ", ".join(items) + (", ...]" if len(values) > SHOWN_VALUES else "]")


def _range(minimum: float | None, maximum: float | None) -> str:
    if minimum is not None and maximum is not None:
        return f" from {minimum:g} to {maximum:g}"
    if minimum is not None:
        return f" of at least {minimum:g}"
    return "" if maximum is None else f" of at most {maximum:g}"


def is_number(value: Any) -> bool:
    """A real number of Python or NumPy; a bool is not one."""
    return isinstance(value, numbers.Real) and not isinstance(value, (bool, np.bool_))


def whole_number(
    name: str, value: Any, minimum: int | None = None, maximum: int | None = None
) -> int:
    """`value` as an int, when it is an integer (not a bool, not a float) in range."""
    message = f"{name} must be a whole number{_range(minimum, maximum)}, not {value!r}"
    if not isinstance(value, numbers.Integral) or isinstance(value, (bool, np.bool_)):
        raise TypeError(message)
    number = int(value)
    if (minimum is not None and number < minimum) or (maximum is not None and number > maximum):
        raise ValueError(message)
    return number


def real_number(
    name: str,
    value: Any,
    minimum: float | None = None,
    maximum: float | None = None,
    *,
    above: float | None = None,
) -> float:
    """`value` as a float, when it is a finite number in range (`above`: strictly)."""
    bounded = minimum is not None and maximum is not None
    limits = f" above {above:g}" if above is not None else _range(minimum, maximum)
    message = f"{name} must be a{'' if bounded else ' finite'} number{limits}, not {value!r}"
    if not is_number(value):
        raise TypeError(message)
    number = float(value)
    if (
        not math.isfinite(number)
        or (minimum is not None and number < minimum)
        or (maximum is not None and number > maximum)
        or (above is not None and not number > above)
    ):
        raise ValueError(message)
    return number


def one_of(name: str, value: Any, choices: Sequence[str]) -> str:
    """`value` when it is one of the strings `choices`."""
    if isinstance(value, str) and value in choices:
        return value  # the message is built only for a refusal: checks run per column
    quoted = [repr(c) for c in choices]
    allowed = " or ".join(quoted) if len(quoted) == 2 else "one of " + ", ".join(quoted)
    message = f"{name} must be {allowed}, not {value!r}"
    raise (ValueError if isinstance(value, str) else TypeError)(message)


def output_choice(output: Any, allowed: Sequence[str]) -> str:
    """`output` when it is one of the outputs `allowed` of a transform or an
    export, named in the message in the order given."""
    if isinstance(output, str) and output in allowed:
        return output
    names = [repr(a) for a in allowed]
    raise ValueError(f"output must be {', '.join(names[:-1])} or {names[-1]}, not {output!r}")


def same_length(*named: tuple[str, Any]) -> None:
    """Arrays (name, array) that must hold as many values each."""
    sizes = [np.size(array) for _, array in named]
    if len(set(sizes)) > 1:
        names = " and ".join(n for n, _ in named)
        raise ValueError(
            f"{names} must be the same length, not {' and '.join(str(s) for s in sizes)}"
        )


def cut_points(name: str, values: npt.ArrayLike) -> npt.NDArray[np.float64]:
    """Cut points as given, when they are a flat sequence of finite, strictly
    increasing numbers (a single number is one cut point)."""
    try:
        array = np.asarray(values, dtype=np.float64)
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be numbers, not {values!r}") from None
    if array.ndim > 1:
        raise ValueError(f"{name} must be one-dimensional, not of shape {array.shape}")
    array = np.ravel(array)
    if not np.isfinite(array).all() or bool((np.diff(array) <= 0).any()):
        raise ValueError(f"{name} must be finite and strictly increasing, not {shown(array)}")
    return array


# Weights of zero alone: every row is as if absent. Said alike whether the
# rows are weighed here or counted by an engine.
NO_WEIGHT = "sample_weight is zero for every row: there is nothing to count"


@dataclass(frozen=True, eq=False)
class CheckedWeights:
    """Weights `sample_weights` accepted, handed to every column of a table
    so that none checks them again (a pass and an exact sum each); `present`
    marks the rows of positive weight, None when every row has one;
    `all_ones` says whether every weight is exactly 1 (the rows as they are),
    and `kinds` are the weights' kinds (`native.weight_kinds`) that every
    column's count reads instead of a pass of its own."""

    weights: npt.NDArray[np.float64]
    present: npt.NDArray[np.bool_] | None
    all_ones: bool = False
    kinds: Any = None


def checked_once(sample_weight: Any, n_rows: int) -> CheckedWeights | None:
    """`sample_weights` of `sample_weight`, marked for the columns of one
    fit; the kinds found by their check are kept."""
    checked = weights_and_kinds(sample_weight, n_rows)
    if checked is None:
        return None
    weights, kinds = checked
    if kinds.zeros:
        return CheckedWeights(weights, weights > 0.0, kinds=kinds)
    if kinds.all_ones:
        return CheckedWeights(weights, None, all_ones=True)
    return CheckedWeights(weights, None, kinds=kinds)


def weight_kinds_of(sample_weight: Any) -> Any:
    """The kinds settled for weights checked once for a fit, else None (each
    count then finds its own)."""
    return sample_weight.kinds if isinstance(sample_weight, CheckedWeights) else None


def every_weight_positive(sample_weight: Any) -> bool:
    """Whether weights checked once for a fit are each above 0: no column's
    rows then need a mask of the rows to keep."""
    return isinstance(sample_weight, CheckedWeights) and sample_weight.present is None


def sample_weights(sample_weight: Any, n_rows: int) -> npt.NDArray[np.float64] | None:
    """`sample_weight` as float64, one finite non-negative weight per row
    (None stays None); the message names the first row that is not."""
    if isinstance(sample_weight, CheckedWeights) and sample_weight.weights.size == n_rows:
        return sample_weight.weights
    checked = weights_and_kinds(sample_weight, n_rows)
    return None if checked is None else checked[0]


def weights_and_kinds(
    sample_weight: Any, n_rows: int
) -> tuple[npt.NDArray[np.float64], Any] | None:
    """`sample_weights` of `sample_weight` with their kinds
    (`native.weight_kinds`), whose one pass checks them."""
    if sample_weight is None:
        return None
    # pandas, polars and pyarrow columns alike; a missing weight is NaN.
    try:
        weights = as_float_array(sample_weight)
    except (TypeError, ValueError):
        raise TypeError(f"sample_weight must be numbers, not {shown(sample_weight)}") from None
    if weights.size != n_rows:
        raise ValueError(
            f"sample_weight must hold one weight per row: {weights.size} weights for {n_rows} rows"
        )
    try:
        kinds = native.weight_kinds(weights)
    except ValueError:
        bad = ~(np.isfinite(weights) & (weights >= 0.0))
        row = int(np.argmax(bad))
        raise ValueError(
            f"sample_weight must be finite and non-negative: row {row} is {float(weights[row])!r}"
        ) from None
    if weights.size and kinds.most == 0.0:
        raise ValueError(NO_WEIGHT)
    # Weights each of half a row or more, none so large that their total
    # could pass the largest double, keep the rule whatever they add up to:
    # the kinds' least and largest then stand in for the exact sum's slower
    # pass. (No weights, no rows: nothing to check.)
    if weights.size and not (
        not kinds.zeros and kinds.least >= LEAST_MEAN_WEIGHT and kinds.most < 1e307 / weights.size
    ):
        counting_rows(native.exact_sum(weights), int(np.count_nonzero(weights)))
    return weights, kinds


# Weights count rows; lighter than this many rows a record on average, they
# are on another scale (shares, probabilities) and refused.
LEAST_MEAN_WEIGHT = 0.5


def counting_rows(total: float, records: int) -> None:
    """Weights of `records` rows of positive weight adding up to `total` must
    count rows: the rules of the bins read counts of rows (the least events
    of a bin, half a row for a class a bin lacks, quantile positions, the
    MDLP stopping rule), which weights summing to 1, say, would wreck. A sum
    a double cannot hold would read as infinity."""
    if not math.isfinite(total):
        raise ValueError(
            "sample_weight adds up beyond the largest double: divide the weights by a common factor"
        )
    if records and total < LEAST_MEAN_WEIGHT * records:
        raise ValueError(
            f"sample_weight counts rows, but its {records} rows of positive weight weigh "
            f"{total:.6g} in all, less than half a row each: the bins' rules read counts of "
            f"rows (events per bin, quantiles, the MDLP stopping rule), so multiply the weights "
            f"by a common factor, such as {records} / {total:.6g}, to keep their proportions"
        )
