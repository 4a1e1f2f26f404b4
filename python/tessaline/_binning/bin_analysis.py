"""The analysis a validator reads beside a binning table: whether each bin's
event rate differs significantly from its neighbour's, and how far apart the
events and the non-events are spread over the rows (Jensen-Shannon
divergence, Hellinger distance) and how concentrated the rows are in a few
bins (the Herfindahl-Hirschman index of the row shares).

The test between neighbours is Pearson's chi-square test of the 2 x 2 table
of the two bins' non-events and events (one degree of freedom, no continuity
correction), the same test `max_pvalue` of optimal binning limits. Only the
intervals (or sets of categories) are tested in order; special and
missing-value rows have no neighbours. The divergences compare the share of
the events in each row with the share of the non-events, every row taken::

    JS = (KL(e || m) + KL(n || m)) / 2,  m = (e + n) / 2   (natural logarithm)
    Hellinger = sqrt(sum((sqrt(e_i) - sqrt(n_i))^2) / 2)
    HHI = sum(s_i^2),  s_i the row's share of all rows
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import Protocol

import numpy as np
import numpy.typing as npt

from .._core import native, printing


@dataclass(frozen=True)
class NeighbourTest:
    """The test of equal event rates between bin `first` and the next one."""

    first: int
    labels: tuple[str, str]
    statistic: float
    pvalue: float


@dataclass(frozen=True)
class BinAnalysis:
    """Tests between neighbouring bins and the table's spread statistics (see
    the module); `max_pvalue` is the largest p-value between neighbours
    (NaN with fewer than two bins)."""

    tests: tuple[NeighbourTest, ...]
    js_divergence: float
    hellinger: float
    hhi: float
    hhi_normalised: float

    @property
    def max_pvalue(self) -> float:
        return largest_pvalue(self.tests)

    def __str__(self) -> str:
        table = tests_table(self.tests, ("chi-square",), lambda t: [printing.fixed(t.statistic, 3)])
        return (
            f"Jensen-Shannon {self.js_divergence:.4f}, Hellinger {self.hellinger:.4f}, "
            f"HHI {self.hhi:.4f} (normalised {self.hhi_normalised:.4f})\n" + table
        )


def _pvalue(p: float) -> str:
    return f"{p:.3g}" if p < 0.001 else f"{p:.4f}"


class Tested(Protocol):
    """A test between bin `first` and the next one."""

    @property
    def first(self) -> int: ...
    @property
    def labels(self) -> tuple[str, str]: ...
    @property
    def pvalue(self) -> float: ...


def largest_pvalue(tests: Sequence[Tested]) -> float:
    """The largest p-value between neighbours (NaN with no test)."""
    return max((t.pvalue for t in tests), default=math.nan)


def tests_table[T: Tested](
    tests: Sequence[T], header: Sequence[str], cells: Callable[[T], list[str]]
) -> str:
    """The tests as text, one row each: the bins, their labels, the test's
    own `cells` under `header`, and its p-value."""
    rows = [
        [
            f"{t.first} | {t.first + 1}",
            f"{t.labels[0]} | {t.labels[1]}",
            *cells(t),
            _pvalue(t.pvalue),
        ]
        for t in tests
    ]
    return printing.text_table(("bins", "intervals", *header, "p-value"), rows, (0, 1))


def _shares(counts: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    total = float(counts.sum())
    return counts / total if total > 0 else np.full(counts.size, math.nan)


def _relative_entropy(p: npt.NDArray[np.float64], q: npt.NDArray[np.float64]) -> float:
    held = p > 0
    return float(np.sum(p[held] * np.log(p[held] / q[held])))


def bin_analysis(
    c0: npt.ArrayLike, c1: npt.ArrayLike, n_bins: int, labels: Sequence[str]
) -> BinAnalysis:
    """The analysis of a table whose rows hold `c0` non-events and `c1`
    events, the first `n_bins` of them its ordered bins, labelled `labels`."""
    non_events = np.asarray(c0, dtype=np.float64)
    events = np.asarray(c1, dtype=np.float64)
    tested = native.neighbour_rate_tests(non_events[:n_bins], events[:n_bins])
    tests = tuple(
        NeighbourTest(i, (labels[i], labels[i + 1]), float(s), float(p))
        for i, (s, p) in enumerate(zip(tested["statistic"], tested["pvalue"]))
    )
    e, n = _shares(events), _shares(non_events)
    middle = (e + n) / 2
    shares = _shares(events + non_events)
    hhi = float(np.sum(shares**2))
    k = shares.size
    return BinAnalysis(
        tests=tests,
        js_divergence=(_relative_entropy(e, middle) + _relative_entropy(n, middle)) / 2,
        hellinger=math.sqrt(float(np.sum((np.sqrt(e) - np.sqrt(n)) ** 2)) / 2),
        hhi=hhi,
        hhi_normalised=(hhi - 1 / k) / (1 - 1 / k) if k > 1 else math.nan,
    )
