"""Min-max scaling of a scorecard: the factor and offset that put the lowest
score any applicant can get at the low end of a range and the highest at the
high end.

A card scores ``offset - factor * u`` where ``u = b0 + sum_j b_j * WoE_j`` is
the model's log-odds of a bad. Each variable's term ranges over its bins'
WoE, so ``u`` ranges from ``u_min = b0 + sum_j min_i b_j * WoE_ij`` (the
safest applicant) to ``u_max`` (the riskiest). The line through
``(u_min, high)`` and ``(u_max, low)`` gives::

    factor = (high - low) / (u_max - u_min)
    offset = high + factor * u_min

so higher points still mean lower risk, and every possible score lies in
``[low, high]`` (up to the rounding of the sums; exactly when the points are
rounded to a grid the ends lie on).
"""

from __future__ import annotations

from collections.abc import Sequence

import numpy as np

from ._core import checks
from ._core.arrays import FloatArray


def score_range(value: Sequence[float]) -> tuple[float, float]:
    """`value` as a checked (low, high) pair of finite numbers, low < high."""
    if isinstance(value, str | bytes) or not isinstance(value, Sequence) or len(value) != 2:
        raise TypeError(f"score_range must be a pair (low, high), not {value!r}")
    low = checks.real_number("score_range[0]", value[0])
    high = checks.real_number("score_range[1]", value[1])
    if not low < high:
        raise ValueError(f"score_range must have low < high, not ({low:g}, {high:g})")
    return low, high


def minmax_scaling(
    bounds: tuple[float, float],
    coefficients: FloatArray,
    intercept: float,
    woe: Sequence[FloatArray],
) -> tuple[float, float]:
    """The factor and offset mapping the card's possible scores onto
    `bounds`, from each variable's coefficient and the WoE of its rows."""
    low, high = bounds
    terms = [b * np.asarray(w, dtype=np.float64) for b, w in zip(coefficients, woe)]
    terms = [t[~np.isnan(t)] for t in terms]
    if any(t.size == 0 for t in terms):
        raise ValueError("a variable of the card has no WoE to scale by")
    u_min = intercept + sum(float(t.min()) for t in terms)
    u_max = intercept + sum(float(t.max()) for t in terms)
    if not u_max > u_min:
        raise ValueError(
            "min-max scaling needs scores that differ: every applicant gets the same "
            "log-odds, so no range can be spread over them"
        )
    factor = (high - low) / (u_max - u_min)
    return factor, high + factor * u_min
