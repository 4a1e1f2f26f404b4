"""What rounding a scorecard's points costs: the AUC of the score with exact
points and with points rounded to `decimals`, on the same rows.

Rounding moves each row's score by at most half a step per variable (and the
base), so it rarely reorders applicants; it does tie some, and a tie between
a good and a bad counts half in AUC. The change is usually a few parts in ten
thousand; a validator still wants it shown, not assumed.
"""

from __future__ import annotations

import copy
from dataclasses import dataclass
from typing import Any

import numpy as np

from ._scorecard import Scorecard


@dataclass(frozen=True)
class RoundingEffect:
    """The AUC of a card's score with exact and with rounded points on the
    same rows, their difference (``auc_rounded - auc``), and the largest
    move of any row's score."""

    decimals: int
    auc: float
    auc_rounded: float
    auc_change: float
    largest_shift: float

    def __str__(self) -> str:
        return (
            f"points rounded to {self.decimals} decimals: AUC {self.auc:.6f} -> "
            f"{self.auc_rounded:.6f} ({self.auc_change:+.6f}), scores moved by at most "
            f"{self.largest_shift:.4g}"
        )


def _rescaled(card: Scorecard, decimals: int | None) -> Scorecard:
    """The card with its points rounded to `decimals` (None: exact)."""
    other = copy.copy(card)
    other.rounding = decimals
    return other.set_model(card.variables, card.coefficients, card.intercept)


def rounding_effect(
    card: Scorecard, data: Any, y: Any, decimals: int = 0, sample_weight: Any = None
) -> RoundingEffect:
    """The effect on AUC of rounding the fitted `card`'s points (and base
    score) to `decimals` (0: whole points), on `data` against `y`, each row
    counted by its `sample_weight` when given. The card itself is unchanged;
    its own `rounding` does not matter."""
    if isinstance(decimals, bool) or not isinstance(decimals, int) or not 0 <= decimals <= 15:
        raise ValueError(f"decimals must be a whole number from 0 to 15, not {decimals!r}")
    exact, rounded = _rescaled(card, None), _rescaled(card, decimals)
    before = exact.performance(data, y, sample_weight=sample_weight).auc
    after = rounded.performance(data, y, sample_weight=sample_weight).auc
    shift = np.abs(rounded.score(data) - exact.score(data))
    return RoundingEffect(decimals, before, after, after - before, float(np.nanmax(shift)))
