"""How well a score separates events from non-events: AUC and Gini, the KS
statistic of the score, and a gains table by score band.

Scores come in two directions. A scorecard's points are higher for lower
risk (``higher_is="good"``, the default here); a probability of default is
higher for higher risk (``higher_is="bad"``, the default of `gini`). Every
figure here is given in the score's stated direction (the sign of AUC and
Gini is the package's one, in `tessaline._core.score_direction`), so a
useful score has AUC above 0.5, Gini above 0 and its ROC and CAP curves
above the diagonal, and the gains table lists the riskiest band first;
`gini` of the same score in the same direction gives the same AUC and Gini.

The KS statistic is the largest gap between the cumulative distributions of
the score among events and among non-events, taken over the score's distinct
values: KS = max_s |F_event(s) - F_non_event(s)|, with F(s) the share of the
class scoring at or below s. (The KS of `psi` compares two samples of one
variable instead.)

Uncertainty: the AUC's standard error is DeLong's (the variance of each row's
placement among the other class, per class), and its confidence interval the
normal one, AUC ± z * se, kept within [0, 1]; Gini's interval is 2 × AUC's - 1.
Two scores of the same rows are compared with DeLong's test of the difference
of their correlated AUCs (`compare_auc`). The KS p-value is the asymptotic one
of the two-sample test of the scores of events against those of non-events:
Kolmogorov's limit law at sqrt(n1 n0 / (n1 + n0)) × KS.

Sample weights: with `sample_weight` every row counts by its weight, so AUC,
Gini, KS, the score bands (quantiles where a row of weight w stands for w
rows) and the gains table's counts (sums of weights) are those of the
weighted rows; whole weights give exactly what repeating each row that many
times gives. The standard error, both confidence intervals and the KS
p-value are then NaN: they read every row as one independent observation,
which a weight (a sampling or reject-inference weight, say) does not make
it, and no weighted DeLong estimate is standard.

DeLong's estimate needs two rows of each class, and it is 0 when each
class's placements are all alike (a score that separates the classes
perfectly, or does not vary): no normal interval or test follows from it,
so the standard error's interval (or the comparison's z, p-value and
interval) is NaN, and ``note`` says why. Two scores whose every row ranks
alike still compare as equal (z 0, p-value 1).
"""

from __future__ import annotations

import math
from collections.abc import Mapping
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from ._core import checks, distributions, native, printing, target
from ._core.arrays import FloatArray, PlainColumnTable, as_float_array
from ._core.score_direction import HigherIs, checked_direction, directed_auc
from ._plots import score as plots

if TYPE_CHECKING:
    from matplotlib.axes import Axes

GAINS_COLUMNS = (
    "band",
    "min_score",
    "max_score",
    "count",
    "non_events",
    "events",
    "event_rate",
    "cumulative_share",
    "cumulative_events",
    "cumulative_non_events",
    "ks",
    "lift",
    "cumulative_lift",
)
DEFAULT_BANDS = 10


def _score(value: float) -> str:
    """A score as printed: five significant digits (513.65 points, 0.034512)."""
    return format(value, ".5g")


class GainsTable(PlainColumnTable):
    """The score in bands of about equal size (deciles by default; tied
    scores stay in one band), riskiest band first. Per band: its score range,
    counts, event rate; the cumulative shares of all rows, of events and of
    non-events down to this band; their gap (``ks``); ``lift``, the band's
    event rate over the overall one, and ``cumulative_lift``, the same for
    all bands down to this one. With sample weights the counts are sums of
    weights, and ``rows`` the rows (of positive weight) of each band."""

    __slots__ = ()
    _length_column = "band"

    def __str__(self) -> str:
        c = self._columns
        rows = [
            [
                str(int(c["band"][i])),
                _score(float(c["min_score"][i])),
                _score(float(c["max_score"][i])),
                printing.count(c["count"][i]),
                printing.count(c["events"][i]),
                printing.percent(float(c["event_rate"][i])),
                printing.percent(float(c["cumulative_events"][i])),
                printing.percent(float(c["cumulative_non_events"][i])),
                printing.fixed(float(c["ks"][i]), 3),
                printing.fixed(float(c["lift"][i]), 2),
                printing.fixed(float(c["cumulative_lift"][i]), 2),
            ]
            for i in range(len(self))
        ]
        return printing.text_table(
            (
                "band",
                "from",
                "to",
                "count",
                "events",
                "event rate",
                "cum events",
                "cum non-events",
                "KS",
                "lift",
                "cum lift",
            ),
            rows,
        )


@dataclass(frozen=True)
class ScorePerformance:
    """AUC, Gini and KS of a score in its own direction (see the module), the
    score at which the KS gap is largest, the gains table, and the curve
    behind the plots: ``flagged_non_events`` and ``flagged_events``, the
    shares of each class at or beyond each distinct score, riskiest first."""

    auc: float
    gini: float
    ks: float
    ks_score: float
    higher_is: str
    gains: GainsTable
    scores: FloatArray
    flagged_non_events: FloatArray
    flagged_events: FloatArray
    event_share: float
    auc_se: float = math.nan
    auc_ci: tuple[float, float] = (math.nan, math.nan)
    confidence: float = 0.95
    ks_pvalue: float = math.nan
    note: str = ""

    @property
    def gini_ci(self) -> tuple[float, float]:
        """The confidence interval of Gini, from AUC's."""
        return 2.0 * self.auc_ci[0] - 1.0, 2.0 * self.auc_ci[1] - 1.0

    def __str__(self) -> str:
        level = f"{self.confidence:.0%}"
        gini_lo, gini_hi = self.gini_ci
        return (
            f"AUC {self.auc:.4f} ({level} CI {self.auc_ci[0]:.4f}-{self.auc_ci[1]:.4f}), "
            f"Gini {self.gini:.4f} ({level} CI {gini_lo:.4f}-{gini_hi:.4f}), "
            f"KS {self.ks:.4f} at score {_score(self.ks_score)} (p {self.ks_pvalue:.3g}) "
            f"(higher score is {self.higher_is})\n"
            + (f"({self.note})\n" if self.note else "")
            + str(self.gains)
        )

    def plot_roc(self, ax: Axes | None = None) -> Axes:
        return plots.plot_roc(self, ax)

    def plot_cap(self, ax: Axes | None = None) -> Axes:
        return plots.plot_cap(self, ax)

    def plot_ks(self, ax: Axes | None = None) -> Axes:
        return plots.plot_ks(self, ax)


@dataclass(frozen=True)
class AucComparison:
    """DeLong's test that two scores of the same rows have equal AUCs: the
    AUCs, their difference (a - b) with its standard error and confidence
    interval, the z statistic and its two-sided p-value (NaN, with the
    reason in ``note``, where DeLong's estimate gives no test)."""

    auc_a: float
    auc_b: float
    difference: float
    se: float
    ci: tuple[float, float]
    z: float
    pvalue: float
    confidence: float
    note: str = ""

    def __str__(self) -> str:
        return (
            f"AUC {self.auc_a:.4f} against {self.auc_b:.4f}: difference "
            f"{self.difference:+.4f} ({self.confidence:.0%} CI {self.ci[0]:+.4f} to "
            f"{self.ci[1]:+.4f}), z {self.z:.3f}, p-value {self.pvalue:.3g}"
            + (f" ({self.note})" if self.note else "")
        )


def _normal_interval(centre: float, se: float, confidence: float) -> tuple[float, float]:
    half = distributions.normal_quantile(0.5 + confidence / 2.0) * se
    return centre - half, centre + half


def _no_delong_test(se: float, labels: npt.NDArray[np.int32]) -> str:
    """Why DeLong's standard error `se` gives no interval or test ('' when it does)."""
    if se > 0:
        return ""
    if math.isnan(se):
        events = int(np.count_nonzero(labels))
        return (
            "DeLong's standard error needs at least two events and two non-events: "
            f"{events} event(s) and {labels.size - events} non-event(s) given"
        )
    return (
        "DeLong's standard error is 0 (each class's rows are placed alike: a score "
        "separates the classes perfectly or does not vary), so it gives no interval"
    )


def _risk_order(scores: FloatArray, higher_is: str) -> FloatArray:
    """Scores turned so that an event is expected to score higher."""
    return -scores if higher_is == "good" else scores


def compare_auc(
    score_a: npt.ArrayLike,
    score_b: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    higher_is: HigherIs = "good",
    confidence: float = 0.95,
) -> AucComparison:
    """DeLong's test of equal AUCs of two scores of the same rows against the
    0/1 target `y`, both scores in the direction `higher_is`. Rows where
    either score or the target is missing are left out."""
    checked_direction(higher_is)
    checks.real_number("confidence", confidence, 0, 1)
    a, b, ys = (as_float_array(v) for v in (score_a, score_b, y))
    checks.same_length(("score_a", a), ("score_b", b), ("y", ys))
    kept = ~(np.isnan(a) | np.isnan(b) | np.isnan(ys))
    scores, labels = target.scored_labels(a[kept], ys[kept])
    both = np.vstack([_risk_order(scores, higher_is), _risk_order(b[kept], higher_is)])
    fitted = native.delong_auc(both, labels)
    auc, cov = fitted["auc"], fitted["covariance"]
    difference = float(auc[0] - auc[1])
    variance = float(cov[0, 0] + cov[1, 1] - 2.0 * cov[0, 1])
    se = math.sqrt(max(variance, 0.0)) if not math.isnan(variance) else math.nan
    note = _no_delong_test(se, labels)
    if se == 0 and difference == 0:
        # Scores that rank every row alike: no difference to test.
        z, pvalue, ci, note = 0.0, 1.0, (0.0, 0.0), ""
    elif note:
        z = pvalue = math.nan
        ci = (math.nan, math.nan)
    else:
        z = difference / se
        pvalue = 2.0 * distributions.normal_sf(abs(z))
        ci = _normal_interval(difference, se, confidence)
    return AucComparison(
        auc_a=float(auc[0]),
        auc_b=float(auc[1]),
        difference=difference,
        se=se,
        ci=ci,
        z=z,
        pvalue=pvalue,
        confidence=confidence,
        note=note,
    )


def score_performance(
    score: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    higher_is: HigherIs = "good",
    n_bands: int = DEFAULT_BANDS,
    confidence: float = 0.95,
    sample_weight: npt.ArrayLike | None = None,
) -> ScorePerformance:
    """AUC, Gini, KS and the gains table of `score` against the 0/1 target `y`
    (1 = event), with DeLong's confidence interval of AUC and Gini at level
    `confidence` and the KS p-value. Rows with a missing score or target are
    left out; the rest must hold both classes (else a `TargetError`). With
    `sample_weight` each row counts by its weight, and the intervals and the
    p-value are NaN (see the module)."""
    checked_direction(higher_is)
    scores, labels, weights = target.scored_rows(score, y, sample_weight)
    checks.whole_number("n_bands", n_bands, 1)
    checks.real_number("confidence", confidence, 0, 1)
    weighed = None if weights is None else native.count_values_weighted(scores, labels, weights)
    curve = (
        native.lorenz_curve(scores, labels)
        if weighed is None
        else native.lorenz_from_counts(weighed)
    )
    values = np.asarray(curve["value"])
    below0 = np.asarray(curve["cumulative_non_event"])
    below1 = np.asarray(curve["cumulative_event"])
    gap = np.abs(below1 - below0)
    at = int(np.argmax(gap)) if gap.size else 0
    good = higher_is == "good"
    auc = directed_auc(float(curve["auc"]), higher_is)
    # Flagging from the riskiest score on: the lowest scores first for a
    # score where higher is good, the highest first otherwise.
    if good:
        flagged0, flagged1, order = below0, below1, values
    else:
        flagged0 = np.concatenate(([1.0], 1.0 - below0[:-1]))[::-1]
        flagged1 = np.concatenate(([1.0], 1.0 - below1[:-1]))[::-1]
        order = values[::-1]
    ks = float(gap[at])
    n_events: float
    n_rows: float
    if weighed is None:
        n_events, n_rows = int(np.sum(labels == 1)), labels.size
        fitted = native.delong_auc(_risk_order(scores, higher_is)[np.newaxis, :], labels)
        se = math.sqrt(float(fitted["covariance"][0, 0]))
        note = _no_delong_test(se, labels)
        low, high = (math.nan, math.nan) if note else _normal_interval(auc, se, confidence)
        ks_pvalue = distributions.kolmogorov_sf(
            math.sqrt(n_events * (n_rows - n_events) / n_rows) * ks
        )
    else:
        # Weights summed in score order, as the curve sums them.
        n_events = float(np.cumsum(weighed["c1"])[-1])
        n_rows = n_events + float(np.cumsum(weighed["c0"])[-1])
        se = low = high = ks_pvalue = math.nan
        note = "weighted rows: no standard error, interval or KS p-value"
    return ScorePerformance(
        auc=auc,
        gini=2.0 * auc - 1.0,
        ks=ks,
        ks_score=float(values[at]) if gap.size else math.nan,
        higher_is=higher_is,
        gains=gains_table(scores, labels, good, n_bands, weights, weighed),
        scores=order,
        flagged_non_events=flagged0,
        flagged_events=flagged1,
        event_share=n_events / n_rows,
        auc_se=se,
        auc_ci=(max(low, 0.0), min(high, 1.0)) if weighed is None else (math.nan, math.nan),
        confidence=confidence,
        ks_pvalue=ks_pvalue,
        note=note,
    )


def gains_table(
    scores: FloatArray,
    labels: npt.NDArray[np.int32],
    higher_is_good: bool,
    n_bands: int,
    weights: FloatArray | None = None,
    weighed: Mapping[str, FloatArray] | None = None,
) -> GainsTable:
    """The gains table of labelled, non-missing scores (see `GainsTable`),
    with the rows' positive `weights` and the scores `weighed` by
    `native.weigh_scores` when weighted."""
    if weights is None or weighed is None:
        splits = native.binning_splits(scores, method="quantile", n_bins=n_bands)
    else:
        splits = native.quantile_splits(weighed, n_bands)
    band = native.binning_transform(scores, splits)
    n = len(splits) + 1
    count: npt.NDArray[Any]
    events: npt.NDArray[Any]
    if weights is None:
        count = np.bincount(band, minlength=n)
        events = np.bincount(band, weights=(labels == 1), minlength=n).astype(np.int64)
    else:
        count = np.bincount(band, weights=weights, minlength=n)
        events = np.bincount(band, weights=np.where(labels == 1, weights, 0.0), minlength=n)
    low = np.full(n, np.inf)
    high = np.full(n, -np.inf)
    np.minimum.at(low, band, scores)
    np.maximum.at(high, band, scores)
    order = np.arange(n) if higher_is_good else np.arange(n)[::-1]
    kept = order[count[order] > 0]
    count, events, low, high = count[kept], events[kept], low[kept], high[kept]
    rows = {} if weights is None else {"rows": np.bincount(band, minlength=n)[kept]}
    non_events = count - events
    # Sums in band order, as the cumulative columns add them up.
    total, total_events = np.cumsum(count)[-1], np.cumsum(events)[-1]
    total_non_events = total - total_events
    rate = events / count
    overall = total_events / total if total else math.nan
    cum_share = np.cumsum(count) / total
    cum_events = np.cumsum(events) / total_events if total_events else np.full(kept.size, math.nan)
    cum_non = (
        np.cumsum(non_events) / total_non_events
        if total_non_events
        else np.full(kept.size, math.nan)
    )
    return GainsTable(
        {
            "band": np.arange(1, kept.size + 1),
            "min_score": low,
            "max_score": high,
            "count": count,
            "non_events": non_events,
            "events": events,
            "event_rate": rate,
            "cumulative_share": cum_share,
            "cumulative_events": cum_events,
            "cumulative_non_events": cum_non,
            "ks": np.abs(cum_events - cum_non),
            "lift": rate / overall,
            "cumulative_lift": (np.cumsum(events) / np.cumsum(count)) / overall,
            **rows,
        }
    )
