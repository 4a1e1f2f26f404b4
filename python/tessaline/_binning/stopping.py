"""When a permutation test's draws may stop: the counts of null IVs reaching
the observed one that put its p-value on one side of the level, sure to
`SURE` whatever the p-value.

The draws look at the count only at checkpoints, `FIRST_CHECK` draws and then
`CHECK_GROWTH` times more each time, up to the last draw. A checkpoint of n
draws stops "below the level" when at most `below` of them reached, and
"above" when at least `above` did, where each bound leaves at most its share
of 1 - SURE to a binomial count of n draws whose rate is the level itself.
The "above" bounds share it evenly. The "below" bounds spend half of it at
the first checkpoint where none reaching could stop, so that a real column
noise never reaches, the commonest case, stops there, and split the other
half among the later ones. A count of reached draws falls as the p-value
does, so for any p-value above the level every "below" bound is at least as
unlikely, and the union of the checkpoints puts the chance of stopping on
the wrong side at most 1 - SURE; the same holds for "above" and a p-value at
or below the level. Stopping "above" also needs at least `STOP_AFTER`
reached, which only makes it rarer, and each bound agrees with the p-value
the test reports: (1 + reached) / (1 + draws) is at most the level when it
stops below and more than it when it stops above.

The tails are summed from the binomial's weights relative to its mode, by
products and quotients only (no exp, log or library distribution), so the
bounds of a level are the same on every platform; the test of a sum against
its share leaves a relative margin far wider than the sum's rounding."""

from __future__ import annotations

import functools
import math
from dataclasses import dataclass
from fractions import Fraction

# The chance, at least, that a test which stops does so on the side of the
# level its exact p-value lies on.
SURE = 0.99
# The first checkpoint, and the growth of the draws from one to the next.
FIRST_CHECK = 10
CHECK_GROWTH = 1.25
# Null IVs reaching the observed one below which the draws never stop above
# the level: a p-value read from fewer is coarse.
STOP_AFTER = 10
# Relative weights below this are left out of the tails: far below any share.
_NEGLIGIBLE = 1e-300


@dataclass(frozen=True)
class StopRule:
    """At `checks[j]` draws, the draws stop once at most `below[j]` (p below
    the level; -1: never) or at least `above[j]` (above it) reached."""

    checks: tuple[int, ...]
    below: tuple[int, ...]
    above: tuple[int, ...]

    def stops(self, check: int, reached: int) -> bool:
        """Whether `reached` at the checkpoint `check` settles the test."""
        return reached <= self.below[check] or reached >= self.above[check]


def tail_bounds(n: int, rate: float, share: float) -> tuple[int, int]:
    """Of a binomial count X of `n` draws at `rate`: the largest r with
    P(X <= r) at most `share` (-1: none) and the smallest with P(X >= r) at
    most `share` (n + 1: none), from the weights relative to the mode's,
    where they are not negligible."""
    if rate >= 1.0:
        return n - 1, n + 1
    if rate <= 0.0:
        return -1, 1
    odds = rate / (1.0 - rate)
    mode = min(int((n + 1) * rate), n)
    right, weight = [], 1.0
    for k in range(mode, n):
        weight = weight * ((n - k) * odds) / (k + 1)
        if weight < _NEGLIGIBLE:
            break
        right.append(weight)
    left, weight = [], 1.0
    for k in range(mode, 0, -1):
        weight = weight * k / ((n - k + 1) * odds)
        if weight < _NEGLIGIBLE:
            break
        left.append(weight)
    weights = [*reversed(left), 1.0, *right]  # counts mode - len(left) on
    total = math.fsum(weights)
    # Counts past the weights kept have tails far below any share.
    low, running = mode - len(left) - 1, 0.0
    for w in weights:
        running += w
        if running / total > share:
            break
        low += 1
    high, running = mode + len(right) + 1, 0.0
    for w in reversed(weights):
        running += w
        if running / total > share:
            break
        high -= 1
    return low, high


def checkpoints(max_draws: int) -> list[int]:
    """The draw counts at which the rule looks, before the last draw."""
    checks, n = [], FIRST_CHECK
    while n < max_draws:
        checks.append(n)
        n = max(n + 1, math.ceil(n * CHECK_GROWTH))
    return checks


def below_shares(level: float, checks: list[int], chance: float) -> list[float]:
    """The chance each checkpoint's "below" bound may spend: half of
    `chance` at the first checkpoint where none reaching could stop with
    it, the other half split among the later ones, none before."""
    first = next(
        (j for j, n in enumerate(checks) if tail_bounds(n, level, chance / 2)[0] >= 0),
        len(checks),
    )
    if first == len(checks):
        return [0.0] * first
    later = len(checks) - first - 1
    return [0.0] * first + [chance / 2] + [chance / 2 / max(later, 1)] * later


@functools.lru_cache(maxsize=64)
def stop_rule(level: float, max_draws: int) -> StopRule:
    """The bounds of a test at `level` of at most `max_draws` draws."""
    checks = checkpoints(max_draws)
    # The margin covers the sums' rounding, some n ulps at most.
    chance = (1.0 - SURE) * (1.0 - 1e-9)
    above_share = chance / max(len(checks), 1)
    exact = Fraction(level)
    below, above = [], []
    for n, below_share in zip(checks, below_shares(level, checks, chance), strict=True):
        low = tail_bounds(n, level, below_share)[0] if below_share > 0 else -1
        high = tail_bounds(n, level, above_share)[1]
        # (1 + reached) / (1 + n) <= level exactly when reached <= this.
        reported = math.floor(exact * (1 + n)) - 1
        below.append(min(low, reported))
        above.append(max(high, STOP_AFTER, reported + 1))
    return StopRule(tuple(checks), tuple(below), tuple(above))
