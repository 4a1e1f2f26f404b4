"""Weight of evidence and information value of the rows of a binning table.

Conventions (the event is the class labelled 1, e.g. a bad loan):

    event share      e_i = c1_i / C1        C1 = sum of c1 over all rows
    non-event share  n_i = c0_i / C0        C0 = sum of c0 over all rows
    WoE_i = ln(e_i / n_i)
    IV_i  = (e_i - n_i) * WoE_i
    IV    = sum of IV_i over all rows (the missing-value row included)

A positive WoE marks a row riskier than the whole population (its event rate is
above the overall one), so WoE rises with the event rate.

Empty classes: a row with events but no non-events (or the reverse) would have
an infinite WoE. In such a row the zero count is replaced by 0.5 in both its
WoE and its IV term (e.g. e_i = 0.5 / C1 when c1_i = 0); the totals C0 and C1
stay the counted ones, and rows holding both classes are not smoothed at all.
A row without any record has WoE 0 and IV 0. When the whole table holds only
one class (C0 = 0 or C1 = 0) WoE and IV are undefined: every value is NaN.

Every IV_i is >= 0, since (a - b) * ln(a / b) >= 0 for positive a and b.
"""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

# Count standing in for an empty class of a row, in both WoE and IV.
EMPTY_CLASS_COUNT = 0.5


def weight_of_evidence(
    c0: npt.ArrayLike, c1: npt.ArrayLike
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], float]:
    """WoE and IV of each row, and the total IV, from the per-row counts of
    non-events `c0` and events `c1` (see the module docstring for the formula)."""
    non_events = np.asarray(c0, dtype=np.float64).ravel()
    events = np.asarray(c1, dtype=np.float64).ravel()
    total_non_events = float(non_events.sum())
    total_events = float(events.sum())
    if total_non_events == 0.0 or total_events == 0.0:
        undefined = np.full(non_events.shape, np.nan)
        return undefined, undefined.copy(), float("nan")
    event_share = np.where(events > 0, events, EMPTY_CLASS_COUNT) / total_events
    non_event_share = np.where(non_events > 0, non_events, EMPTY_CLASS_COUNT) / total_non_events
    woe = np.log(event_share / non_event_share)
    iv = (event_share - non_event_share) * woe
    empty = (non_events + events) == 0
    woe[empty] = 0.0
    iv[empty] = 0.0
    return woe, iv, float(sum(iv.tolist()))


def iv_strength(iv: float) -> str:
    """The usual reading of an information value in credit scoring."""
    if iv != iv:
        return "undefined"
    if iv < 0.02:
        return "not predictive"
    if iv < 0.1:
        return "weak"
    if iv < 0.3:
        return "medium"
    if iv < 0.5:
        return "strong"
    return "very strong (check for leakage)"
