"""The analysis a validator reads beside a binning table of a continuous
target: whether each bin's mean differs significantly from its neighbour's.

The test between neighbours is Welch's t-test of equal means from each bin's
weight W (weights counting as rows), mean and sum of squared deviations D:
the variance of a bin's mean is s^2 / W with s^2 = D / (W - 1), the degrees
of freedom are Welch-Satterthwaite's, the p-value two-sided; the same test
`max_pvalue` of continuous binning limits. A bin of weight 1 or less has no
variance to estimate and gives p 1. Only the intervals (or sets of
categories) are tested in order; special and missing-value rows have no
neighbours.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from .._core import native, printing
from .bin_analysis import NeighbourTest, largest_pvalue, tests_table


@dataclass(frozen=True)
class NeighbourMeanTest(NeighbourTest):
    """Welch's test of equal means between bin `first` and the next one:
    its t statistic, p-value and degrees of freedom `df`."""

    df: float


@dataclass(frozen=True)
class ContinuousBinAnalysis:
    """Tests between neighbouring bins (see the module); `max_pvalue` is
    the largest p-value between neighbours (NaN with fewer than two bins)."""

    tests: tuple[NeighbourMeanTest, ...]

    @property
    def max_pvalue(self) -> float:
        return largest_pvalue(self.tests)

    def __str__(self) -> str:
        return tests_table(
            self.tests,
            ("t", "df"),
            lambda t: [printing.fixed(t.statistic, 3), printing.fixed(t.df, 1)],
        )


def continuous_bin_analysis(
    weight: npt.ArrayLike,
    mean: npt.ArrayLike,
    sum_sq_dev: npt.ArrayLike,
    n_bins: int,
    labels: Sequence[str],
) -> ContinuousBinAnalysis:
    """The analysis of a table whose rows hold `weight`, `mean` and
    `sum_sq_dev`, the first `n_bins` of them its ordered bins, labelled
    `labels`."""
    tested = native.neighbour_mean_tests(
        *(np.asarray(column, dtype=np.float64)[:n_bins] for column in (weight, mean, sum_sq_dev))
    )
    return ContinuousBinAnalysis(
        tuple(
            NeighbourMeanTest(i, (labels[i], labels[i + 1]), float(s), float(p), float(d))
            for i, (s, d, p) in enumerate(zip(tested["statistic"], tested["df"], tested["pvalue"]))
        )
    )
