"""The direction of a score, and so the sign of every AUC and Gini reported.

A score is read in the direction its caller states: ``higher_is="bad"`` for
a score that rises with risk (a probability of default, a weight of
evidence), ``higher_is="good"`` for one that falls as risk rises (a
scorecard's points). AUC is the probability that an event scores on the bad
side of a non-event, ties counting one half, and Gini = 2 * AUC - 1: a score
that ranks the rows the way its direction says has a positive Gini, and the
same score read the other way round the opposite Gini. Every function that
reports a Gini of a score takes ``higher_is`` and prints it with the result;
`gini` reads ``"bad"`` unless told otherwise (its Lorenz curve gathers the
rows from the lowest score up), `score_performance` and the scorecard's
measures ``"good"`` (points)."""

from __future__ import annotations

from typing import Literal

from . import checks

HigherIs = Literal["good", "bad"]
HIGHER_IS = ("good", "bad")


def checked_direction(higher_is: str) -> str:
    return checks.one_of("higher_is", higher_is, HIGHER_IS)


def directed_auc(auc_higher_bad: float, higher_is: str) -> float:
    """The AUC of a score read in the direction `higher_is`, from its AUC read
    with a higher score as the riskier."""
    return 1.0 - auc_higher_bad if higher_is == "good" else auc_higher_bad
