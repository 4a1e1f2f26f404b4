"""When a permutation test's draws stop: bounds that are the exact edges of
their binomial tails, and a chance of stopping on the wrong side of the level
at most 1 - SURE, whatever the p-value."""

import math
from fractions import Fraction

import numpy as np
import pytest
from package_under_test import tessaline  # noqa: F401

from tessaline._binning.stopping import SURE, stop_rule


def exact_lower_tail(n, rate, r):
    rate = Fraction(rate)
    return sum(math.comb(n, k) * rate**k * (1 - rate) ** (n - k) for k in range(r + 1))


def wrong_side_chance(p, level, max_draws):
    """The chance that draws reaching at rate `p` stop on the side of `level`
    that `p` is not on, by the binomial recursion draw by draw."""
    rule = stop_rule(level, max_draws)
    counts = np.zeros(max_draws + 2)
    counts[0] = 1.0
    reached = np.arange(max_draws + 2)
    wrong, check = 0.0, 0
    for n in range(1, rule.checks[-1] + 1):
        counts[1:] = counts[1:] * (1 - p) + counts[:-1] * p
        counts[0] *= 1 - p
        if n == rule.checks[check]:
            below = reached <= rule.below[check]
            above = reached >= rule.above[check]
            wrong += counts[above if p <= level else below].sum()
            counts[below | above] = 0.0
            check += 1
    return wrong


def test_a_column_of_known_p_stops_at_the_first_checkpoint_its_count_crosses():
    rule = stop_rule(0.05, 4999)
    assert rule.checks[:6] == (10, 13, 17, 22, 28, 35) and rule.checks[-1] < 4999
    # None reaching stops at 109 draws, the first checkpoint where half the
    # chance allows it (p <= 1/110); ten reaching in ten draws, at the first.
    first = next(j for j, b in enumerate(rule.below) if b >= 0)
    assert rule.checks[first] == 109 and rule.below[first] == 0 and rule.above[0] == 10
    # Each bound is the edge of its share of the tail, in exact arithmetic.
    later = (1 - SURE) / 2 / (len(rule.checks) - first - 1)
    for j, share in ((first, (1 - SURE) / 2), (first + 5, later), (20, later)):
        n, low = rule.checks[j], rule.below[j]
        assert exact_lower_tail(n, 0.05, low) <= share < exact_lower_tail(n, 0.05, low + 1)
        # The p-value reported agrees with the side the draws stop on.
        assert (1 + low) / (1 + n) <= 0.05 < (1 + rule.above[j]) / (1 + n)


@pytest.mark.parametrize("level", [0.01, 0.06, 0.2])
def test_the_draws_stop_on_the_wrong_side_of_the_level_rarely_whatever_p(level):
    for p in (level * 0.8, level * 0.97, level, level * 1.03, level * 1.25):
        assert wrong_side_chance(p, level, 4999) <= 1 - SURE
