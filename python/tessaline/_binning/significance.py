"""Whether the information value a search found is more than the same search
finds where the target is independent of the column.

A search for the bins of largest IV always finds some: on pure noise the best
of many groupings still shows a difference of event rates. A chi-square test
of those bins treats them as fixed in advance, so its p-value is too small
for noise and too strict for a weak real column alike. The honest reference
is the search itself run on noise: keep each pre-bin's rows (and the missing
and special-value rows), deal the events among them at random (a
multivariate hypergeometric draw), search again under the same limits and
trend, and count how often that IV reaches the observed one:
p = (1 + reached) / (1 + draws).

Draws stop as soon as the answer is clear: at checkpoints (10 draws, then a
quarter more each time) the count reached is held against bounds that put
the p-value on one side of the level with 99% certainty whatever it is
(`tessaline._binning.stopping`): the bounds leave a binomial count at the
level's rate at most a 1% chance in all of falling beyond them, and a count
reached falls with the p-value, so a test that stops is on the side of the
level its exact p-value lies on with probability at least 0.99. Stopping
above also needs at least 10 reached. At level 0.05 a column that noise
never reaches stops after 109 draws, one of p-value 0.02 or 0.1 after some
560 or 350 on average, one of 0.2 after some 60; a column within about 0.01
of the level usually gets every draw. Each draw deals the events
over the pre-bins' counts, not the rows, and searches them only when it
could reach: the fit of the event rates pooled to follow the trend
(isotonic regression's pools) has the largest IV of any grouping that
follows it, so a draw whose pooled fit falls short needs no search, and on
noise nearly none does. Nor does a draw whose pooled fit (the ends the
limits force pooled first), its pools run together into the best groups that
meet the limits, already reaches: it is a grouping the search could pick,
so the pick's sum is at least its own, and the pick's IV over the table's
totals at least that sum times the smaller of the searched rows' shares of
the events and non-events, plus the IV of the rows outside the search. The
draws are the same for a seed on every platform.

A column whose IV is far beyond noise needs no draw at all: the null
search's IV is at most the IV of the unmerged rows, whose scaled law tends
to chi-square, and when the Chernoff bound of that tail is below a
thousandth of the level (every row expecting at least 5 of each class) the
test reports that bound as its p-value after 0 draws. The margin covers the
approximation; the 109 draws with none reaching that settle such a column
at level 0.05 would cost the bulk of a large fit's time and say less.

A test that draws long (a column near the level) deals its draws between
two checkpoints on several threads, each from where the generator would
stand after the tables before its share; a share whose start proves wrong
(a table took other calls than the one before) is dealt again, so the draws
are the very ones dealt one by one: the p-value does not depend on the
number of threads."""

from __future__ import annotations

import zlib
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import native
from .options import class_limits
from .stopping import stop_rule

# The share of the level below which the chi-square bound of the p-value
# settles the test without draws.
SURE_SHARE = 1e-3


@dataclass(frozen=True)
class TestThreads:
    """The threads a test draws on: `count` of its own, and, drawing on one,
    those its pool leaves idle (`spare`, a `SpareThreads` the pool lends to:
    `tessaline._core.threads.run_in_threads`); the result is the same for
    any number."""

    count: int = 1
    spare: Any = None


@dataclass(frozen=True)
class IvTest:
    """The permutation test a search runs: at most `draws` tables, from the
    generator's `seed`, at the `level` the selection reads, which decides
    when the draws may stop, dealt and searched on `threads`."""

    draws: int
    seed: int
    level: float = 1.0
    threads: TestThreads = TestThreads()


def column_test(
    draws: int, random_state: int, name: str, level: float, threads: TestThreads = TestThreads()
) -> IvTest:
    """The test of the column `name` at `level`: its own seed, from
    `random_state` and the name, so a column's draws do not depend on the
    other columns; a long one's draws go to `threads`."""
    seed = (random_state << 32 ^ zlib.crc32(name.encode())) % 2**64
    return IvTest(draws, seed, level, threads)


def iv_significance(
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    outside: tuple[npt.ArrayLike, npt.ArrayLike],
    test: IvTest | None,
    *,
    rate_order: bool,
    max_bins: int,
    min_bin_share: float,
    min_events: float | None,
    min_non_events: float | None,
    trend: str,
    max_pvalue: float | None,
    observed_firsts: Sequence[npt.ArrayLike] | None = None,
) -> dict[str, Any]:
    """The table metadata of the test of the search over the pre-bins (`c0`,
    `c1`; in event-rate order first with `rate_order`) beside the rows
    `outside` it: "iv_pvalue" and "iv_draws"; none without a test or for
    weights that are not whole counts, which no permutation of rows gives.
    `observed_firsts`: the groupings that very search found on these
    pre-bins (the first pre-bin of each group, one grouping per shape the
    test searches, none where no grouping met the limits), used as given in
    place of searching them again."""
    if test is None:
        return {}
    counts = [np.asarray(v, dtype=np.float64).ravel() for v in (c0, c1, *outside)]
    if not all(np.array_equal(v, np.floor(v)) for v in counts):
        return {}
    events, non_events = class_limits(counts[0], counts[1], min_events, min_non_events)
    rule = stop_rule(test.level, test.draws)
    result = native.iv_permutation_test(
        *(v.astype(np.int64) for v in counts),
        max_bins=max_bins,
        min_bin_share=min_bin_share,
        min_events=events,
        min_non_events=non_events,
        trend=trend,
        max_pvalue=1.0 if max_pvalue is None else float(max_pvalue),
        max_draws=test.draws,
        checks=np.asarray(rule.checks, dtype=np.int64),
        below=np.asarray(rule.below, dtype=np.int64),
        above=np.asarray(rule.above, dtype=np.int64),
        sure_pvalue=SURE_SHARE * test.level,
        seed=test.seed,
        rate_order=rate_order,
        threads=test.threads.count,
        spare=test.threads.spare,
        observed_firsts=None
        if observed_firsts is None
        else [np.asarray(f, dtype=np.int64) for f in observed_firsts],
    )
    return {"iv_pvalue": float(result["pvalue"]), "iv_draws": int(result["draws"])}
