"""The measures of a monitoring result, each from the counts of its period
and of the reference (see `counts`). The labelled rows are laid out again
from their per-score counts, so AUC, its DeLong interval, KS and the
calibration tests are exactly those of the rows themselves."""

from __future__ import annotations

import math

import numpy as np
import numpy.typing as npt

from .._calibration import calibration
from .._core import distributions, native
from .._monitoring import SCORE, BinShift, _shift
from .._performance import ScorePerformance, score_performance
from ..exceptions import TargetError
from .counts import Layout, PeriodCounts, total
from .result import CharacteristicShift, PeriodCalibration, PeriodPerformance

NO_SPREAD = (
    "no test of the AUC change: its standard error is 0 (the period and the reference "
    "both separate their classes perfectly)"
)

NO_WEIGHTED_TEST = "no test of the AUC change: weighted rows have no DeLong interval"


def score_stability(layout: Layout, ref: PeriodCounts, label: str, now: PeriodCounts) -> BinShift:
    return _shift(SCORE, label, layout.band_labels, ref.bands, now.bands, True, "floor")


def characteristic(
    layout: Layout, name: str, ref: PeriodCounts, label: str, now: PeriodCounts, monitored: bool
) -> CharacteristicShift:
    shift = _shift(
        name, label, layout.labels[name], ref.bins[name], now.bins[name], monitored, "floor"
    )
    if layout.points is None or now.rows == 0:
        return CharacteristicShift(shift, math.nan)
    moved = now.bins[name] / now.bins[name].sum() - ref.bins[name] / ref.bins[name].sum()
    return CharacteristicShift(shift, float(np.dot(moved, np.asarray(layout.points[name]))))


def labelled_rows(
    counts: PeriodCounts,
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.float64] | None]:
    """The scores and 0/1 outcomes of the labelled rows, with their weights
    (None for rows counted whole): every row again, or of weighted counts
    one row per distinct score and outcome weighing their sum."""
    if counts.weighted:
        non_events, events = counts.c0 > 0, counts.c1 > 0
        scores = np.concatenate([counts.value[non_events], counts.value[events]])
        labels = np.concatenate([np.zeros(int(non_events.sum())), np.ones(int(events.sum()))])
        return scores, labels, np.concatenate([counts.c0[non_events], counts.c1[events]])
    scores = np.concatenate(
        [np.repeat(counts.value, counts.c0), np.repeat(counts.value, counts.c1)]
    )
    labels = np.concatenate([np.zeros(int(counts.c0.sum())), np.ones(int(counts.c1.sum()))])
    return scores, labels, None


def fitted_performance(counts: PeriodCounts) -> ScorePerformance | None:
    """The score's performance on the labelled rows; None without both classes."""
    scores, labels, weights = labelled_rows(counts)
    try:
        return score_performance(scores, labels, higher_is="good", sample_weight=weights)
    except TargetError:
        return None


def period_performance(
    label: str, counts: PeriodCounts, fitted: ScorePerformance | None, ref: ScorePerformance | None
) -> PeriodPerformance:
    known = total(counts.c0) + total(counts.c1)
    events = total(counts.c1)
    nan2 = (math.nan, math.nan)
    note = ""
    if fitted is None:
        auc = gini = ks = change = z = p = math.nan
        auc_ci = gini_ci = nan2
    else:
        auc, gini, ks = fitted.auc, fitted.gini, fitted.ks
        auc_ci, gini_ci = fitted.auc_ci, fitted.gini_ci
        change = z = p = math.nan
        if ref is not None:
            change = auc - ref.auc
            se = math.hypot(fitted.auc_se, ref.auc_se)
            # Both samples separating their classes perfectly leave the change
            # without a spread to be read against: no test, not a certain one.
            if se > 0:
                z = change / se
                p = 2.0 * distributions.normal_sf(abs(z))
            else:
                note = NO_SPREAD if se == 0 else NO_WEIGHTED_TEST
    return PeriodPerformance(
        label,
        counts.rows,
        known,
        events,
        events / known if known else math.nan,
        auc,
        auc_ci,
        gini,
        gini_ci,
        ks,
        change,
        z,
        p,
        note,
    )


def period_calibration(layout: Layout, label: str, counts: PeriodCounts) -> PeriodCalibration:
    """Observed against predicted default rate by score band and overall."""
    scores, labels, weights = labelled_rows(counts)
    if scores.size == 0:
        return PeriodCalibration(label, None, math.nan, math.nan, math.nan, math.nan)
    pd = layout.default_rate(scores)
    bands = native.binning_transform(scores, np.asarray(layout.score_cuts))
    w = np.ones(scores.size) if weights is None else weights
    n, d = (scores.size, int(labels.sum())) if weights is None else (w.sum(), w[labels == 1].sum())
    predicted = float(np.mean(pd)) if weights is None else float(np.average(pd, weights=w))
    brier = (pd - labels) ** 2
    fitted = calibration(pd, labels, grades=bands + 1, sample_weight=weights) if 0 < d < n else None
    return PeriodCalibration(
        label,
        None if fitted is None else fitted.table,
        float(d / n),
        predicted,
        distributions.beta_cdf(predicted, d + 0.5, n - d + 0.5),
        float(np.mean(brier)) if weights is None else float(np.average(brier, weights=w)),
    )
