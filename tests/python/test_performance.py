"""Discrimination with uncertainty: DeLong's standard error and test against a
direct implementation of the published formula (every event against every
non-event), the KS p-value against SciPy's Kolmogorov law."""

import math

import numpy as np
import pytest
from package_under_test import tessaline as tl
from scipy import stats


def direct_delong(scores, y):
    """AUCs and covariance from the pairwise kernel psi(X, Y) = [X > Y] + [X = Y] / 2."""
    events, non_events = scores[:, y == 1], scores[:, y == 0]
    psi = [
        (e[:, None] > n[None, :]) + 0.5 * (e[:, None] == n[None, :])
        for e, n in zip(events, non_events)
    ]
    v10 = np.array([p.mean(axis=1) for p in psi])
    v01 = np.array([p.mean(axis=0) for p in psi])
    return v10.mean(axis=1), (
        np.atleast_2d(np.cov(v10)) / v10.shape[1] + np.atleast_2d(np.cov(v01)) / v01.shape[1]
    )


def sample(seed, n, ties):
    rng = np.random.default_rng(seed)
    y = (rng.uniform(size=n) < 0.3).astype(float)
    a = rng.normal(size=n) - y
    b = 0.6 * a + rng.normal(size=n) - 0.5 * y
    return (np.round(a, 1), np.round(b, 1), y) if ties else (a, b, y)


@pytest.mark.parametrize("seed, n, ties", [(0, 60, False), (1, 500, True), (2, 2000, False)])
@pytest.mark.parametrize("higher_is", ["good", "bad"])
def test_interval_and_ks_pvalue(seed, n, ties, higher_is):
    a, _, y = sample(seed, n, ties)
    score = a if higher_is == "good" else -a
    result = tl.score_performance(score, y, higher_is=higher_is, confidence=0.9)
    auc, cov = direct_delong(-a[None, :], y)
    se = math.sqrt(cov[0, 0])
    assert result.auc == pytest.approx(auc[0], rel=1e-12)
    assert result.auc_se == pytest.approx(se, rel=1e-10)
    z = stats.norm.ppf(0.95)
    assert result.auc_ci == pytest.approx((result.auc - z * se, result.auc + z * se), rel=1e-10)
    assert result.gini_ci == pytest.approx(tuple(2 * c - 1 for c in result.auc_ci), rel=1e-12)
    events, non_events = a[y == 1], a[y == 0]
    d = stats.ks_2samp(events, non_events).statistic
    en = events.size * non_events.size / n
    assert result.ks == pytest.approx(d, rel=1e-12)
    assert result.ks_pvalue == pytest.approx(stats.kstwobign.sf(math.sqrt(en) * d), rel=1e-10)
    assert "CI" in str(result)


@pytest.mark.parametrize("seed, n, ties", [(3, 80, True), (4, 1500, False)])
def test_delong_comparison_of_two_scores(seed, n, ties):
    a, b, y = sample(seed, n, ties)
    b[5] = np.nan  # a row missing in one score leaves both
    kept = ~np.isnan(b)
    result = tl.compare_auc(a, b, y, higher_is="good")
    auc, cov = direct_delong(-np.vstack([a[kept], b[kept]]), y[kept])
    se = math.sqrt(cov[0, 0] + cov[1, 1] - 2 * cov[0, 1])
    assert (result.auc_a, result.auc_b) == pytest.approx(tuple(auc), rel=1e-12)
    assert result.se == pytest.approx(se, rel=1e-10)
    assert result.z == pytest.approx((auc[0] - auc[1]) / se, rel=1e-10)
    assert result.pvalue == pytest.approx(2 * stats.norm.sf(abs(result.z)), rel=1e-10)
    same = tl.compare_auc(a, a, y)
    assert (same.difference, same.z, same.pvalue) == (0.0, 0.0, 1.0)


ONE_EVENT = "DeLong's standard error needs at least two events and two non-events: "
ZERO_SE = "DeLong's standard error is 0 ("


@pytest.mark.parametrize(
    "a, b, y, difference, note",
    [
        ([1, 2, 3, 4, 5], [2, 1, 3, 5, 4], [1, 0, 0, 0, 0], 0.25, ONE_EVENT + "1 event(s) and 4"),
        # A perfect score against a constant one: each class placed alike.
        ([1, 2, 3, 4], [1, 1, 1, 1], [1, 1, 0, 0], 0.5, ZERO_SE),
    ],
)
def test_compare_auc_gives_no_test_where_delong_gives_none(a, b, y, difference, note):
    result = tl.compare_auc(a, b, y)
    assert result.difference == difference and result.note.startswith(note)
    assert all(math.isnan(v) for v in (result.z, result.pvalue, *result.ci))
    assert result.note in str(result)


@pytest.mark.parametrize(
    "score, y, note",
    [([1, 2, 3, 4, 5], [1, 0, 0, 0, 0], ONE_EVENT), ([1, 2, 3, 4], [1, 1, 0, 0], ZERO_SE)],
)
def test_score_performance_gives_no_interval_where_delong_gives_none(score, y, note):
    result = tl.score_performance(score, y)
    assert result.auc == 1.0 and all(math.isnan(c) for c in result.auc_ci)
    assert result.note.startswith(note) and result.note in str(result)


def test_bad_confidence_is_refused():
    with pytest.raises(ValueError, match=r"^confidence must be a number from 0 to 1, not 2$"):
        tl.score_performance([1.0, 2.0], [0, 1], confidence=2)
