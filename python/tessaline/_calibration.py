"""Calibration per grade: whether the predicted probabilities of default
agree with the observed default rates, grade by grade and overall.

Per grade of N rows with D events and mean predicted PD p:

- the Jeffreys test: p-value = F(p) of the Beta(D + 1/2, N - D + 1/2)
  distribution, the posterior of the default rate under Jeffreys' prior, so a
  small p-value says the grade's PD is too low for its defaults (one-sided);
- the binomial test: p-value = P(X >= D) for X binomial of N trials at p,
  the same one-sided question without the prior.

Overall: the Hosmer-Lemeshow statistic sum over grades of
(D - N p)^2 / (N p (1 - p)), against a chi-square of G - 2 degrees of freedom
for G grades, and the Brier score, the mean of (PD - y)^2 over the rows. The
test needs at least three grades: with fewer its statistic and p-value are
NaN on 0 degrees of freedom, and ``note`` says so.

With sample weights every row counts by its weight: counts and events are
sums of weights, the predicted PD and the Brier score weighted means, and the
PD bands weighted quantiles (a row of weight w standing for w rows). The
tests are then NaN: they read every row as one independent observation,
which a weight does not make it.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from ._core import checks, distributions, native, printing, target
from ._core.arrays import PlainColumnTable, as_float_array
from ._plots import calibration_plot as plots

if TYPE_CHECKING:
    from matplotlib.axes import Axes

DEFAULT_GRADES = 10


class CalibrationTable(PlainColumnTable):
    """One row per grade: ``grade``, ``count``, ``events``, ``observed``
    (event rate), ``predicted`` (mean PD), ``jeffreys_pvalue`` and
    ``binomial_pvalue`` (see the module)."""

    __slots__ = ()
    _length_column = "grade"

    def __str__(self) -> str:
        c = self._columns
        rows = [
            [
                str(c["grade"][i]),
                printing.count(c["count"][i]),
                printing.count(c["events"][i]),
                printing.percent(float(c["observed"][i])),
                printing.percent(float(c["predicted"][i])),
                f"{float(c['jeffreys_pvalue'][i]):.4f}",
                f"{float(c['binomial_pvalue'][i]):.4f}",
            ]
            for i in range(len(self))
        ]
        return printing.text_table(
            ("grade", "count", "events", "observed", "predicted", "Jeffreys p", "binomial p"), rows
        )


@dataclass(frozen=True)
class Calibration:
    """The calibration table per grade, the Hosmer-Lemeshow test over the
    grades (NaN, with the reason in ``note``, with fewer than three grades
    or weighted rows) and the Brier score."""

    table: CalibrationTable
    hosmer_lemeshow: float
    hl_df: int
    hl_pvalue: float
    brier: float
    note: str = ""

    def hosmer_lemeshow_text(self) -> str:
        """The test in words: its statistic, df and p-value, or why there is none."""
        if self.note:
            return f"Hosmer-Lemeshow not given ({self.note})"
        return (
            f"Hosmer-Lemeshow {self.hosmer_lemeshow:.3f} on {self.hl_df} df "
            f"(p {self.hl_pvalue:.4f})"
        )

    def __str__(self) -> str:
        return f"{self.hosmer_lemeshow_text()}, Brier score {self.brier:.5f}\n" + str(self.table)

    def plot(self, ax: Axes | None = None) -> Axes:
        return plots.plot_calibration(self.table, ax)


def _quantile_grades(
    pd: npt.NDArray[np.float64], n_grades: int, weights: npt.NDArray[np.float64] | None
) -> npt.NDArray[Any]:
    """Grades 1, 2, ... of PD bands of about equal size (or weight), the safest first."""
    if weights is None:
        splits = native.binning_splits(pd, method="quantile", n_bins=n_grades)
    else:
        weighed = native.count_values_weighted(pd, np.zeros(pd.size, dtype=np.int32), weights)
        splits = native.quantile_splits(weighed, n_grades)
    return native.binning_transform(pd, splits) + 1


def calibration(
    pd: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    grades: npt.ArrayLike | None = None,
    n_grades: int = DEFAULT_GRADES,
    sample_weight: npt.ArrayLike | None = None,
) -> Calibration:
    """Observed against predicted default rates of the probabilities of
    default `pd` (each in [0, 1]) and the 0/1 target `y`, per grade: the
    given `grades` (one label per row: rating grades, score bands, bins) or
    `n_grades` PD bands of about equal size. Rows whose PD or target is
    missing are left out. With `sample_weight` each row counts by its weight
    (see the module)."""
    probabilities, labels, weights = target.scored_rows(pd, y, sample_weight)
    if np.any((probabilities < 0.0) | (probabilities > 1.0)):
        raise ValueError("pd must hold probabilities between 0 and 1")
    if grades is None:
        checks.whole_number("n_grades", n_grades, 1)
        grade = _quantile_grades(probabilities, n_grades, weights)
    else:
        given = np.asarray(grades)
        checks.same_length(("pd", as_float_array(pd)), ("grades", given))
        kept = ~np.isnan(as_float_array(pd)) & ~np.isnan(as_float_array(y))
        if weights is not None:
            kept &= np.asarray(checks.sample_weights(sample_weight, given.size)) > 0
        grade = given[kept]
    names, index = np.unique(grade, return_inverse=True)
    if weights is not None:
        return _weighted_calibration(names, index, probabilities, labels, weights)
    count = np.bincount(index, minlength=names.size)
    events = np.bincount(index, weights=labels, minlength=names.size).astype(np.int64)
    predicted = np.bincount(index, weights=probabilities, minlength=names.size) / count
    jeffreys = [
        distributions.beta_cdf(float(p), d + 0.5, n - d + 0.5)
        for p, d, n in zip(predicted, events, count)
    ]
    binomial = [
        distributions.binomial_sf(int(d), int(n), float(p))
        for p, d, n in zip(predicted, events, count)
    ]
    expected = count * predicted
    # A grade predicted at 0 or 1 adds nothing when it meets its prediction
    # exactly, and makes the statistic infinite otherwise.
    gap = (events - expected) ** 2
    spread = expected * (1.0 - predicted)
    with np.errstate(divide="ignore", invalid="ignore"):
        hl = float(np.sum(np.where(gap == 0.0, 0.0, gap / spread)))
    df = names.size - 2
    note = "" if df > 0 else f"the test needs at least 3 grades, {names.size} given"
    return Calibration(
        table=CalibrationTable(
            {
                "grade": names,
                "count": count,
                "events": events,
                "observed": events / count,
                "predicted": predicted,
                "jeffreys_pvalue": np.array(jeffreys),
                "binomial_pvalue": np.array(binomial),
            }
        ),
        hosmer_lemeshow=math.nan if note else hl,
        hl_df=max(df, 0),
        hl_pvalue=math.nan if note else distributions.chi2_sf(hl, df),
        brier=float(np.mean((probabilities - labels) ** 2)),
        note=note,
    )


def jeffreys_interval(events: float, count: float, level: float = 0.95) -> tuple[float, float]:
    """The equal-tailed Jeffreys interval of a default rate of `events` in
    `count` rows, the quantiles of Beta(D + 1/2, N - D + 1/2); its lower end
    is 0 without an event and its upper end 1 when every row is one, where
    the tail of the posterior would exclude the rate observed."""
    if count <= 0:
        return (math.nan, math.nan)
    tail = (1.0 - level) / 2.0
    a, b = events + 0.5, count - events + 0.5
    low = 0.0 if events <= 0 else distributions.beta_quantile(tail, a, b)
    high = 1.0 if events >= count else distributions.beta_quantile(1.0 - tail, a, b)
    return (low, high)


def _weighted_calibration(
    names: npt.NDArray[Any],
    index: npt.NDArray[np.intp],
    probabilities: npt.NDArray[np.float64],
    labels: npt.NDArray[np.int32],
    weights: npt.NDArray[np.float64],
) -> Calibration:
    """The calibration of weighted rows: sums and means of weights, no tests."""
    count = np.bincount(index, weights=weights, minlength=names.size)
    events = np.bincount(index, weights=weights * labels, minlength=names.size)
    none = np.full(names.size, math.nan)
    return Calibration(
        table=CalibrationTable(
            {
                "grade": names,
                "count": count,
                "events": events,
                "observed": events / count,
                "predicted": np.bincount(index, weights=weights * probabilities) / count,
                "jeffreys_pvalue": none,
                "binomial_pvalue": none.copy(),
            }
        ),
        hosmer_lemeshow=math.nan,
        hl_df=max(names.size - 2, 0),
        hl_pvalue=math.nan,
        brier=float(np.sum(weights * (probabilities - labels) ** 2) / np.sum(weights)),
        note="weighted rows: no tests",
    )
