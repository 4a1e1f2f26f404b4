"""Calibration per grade against SciPy and scikit-learn: the Jeffreys test
is the Beta posterior's distribution function at the grade's PD, the
binomial test SciPy's one-sided one, Hosmer-Lemeshow the chi-square tail."""

import math

import numpy as np
import pytest
from package_under_test import tessaline as tl
from scipy import stats
from sklearn.metrics import brier_score_loss


def sample(seed, n):
    rng = np.random.default_rng(seed)
    pd = 1 / (1 + np.exp(-rng.normal(-2.5, 1.0, n)))
    y = (rng.uniform(size=n) < pd * 1.2).astype(float)  # a PD a little too low
    return pd, y


@pytest.mark.parametrize("seed, n, grades", [(0, 3000, None), (1, 800, "letters"), (2, 500, 4)])
def test_tests_per_grade_equal_scipy(seed, n, grades):
    pd, y = sample(seed, n)
    y[3] = np.nan  # left out
    given = (
        np.array(list("ABCDE"))[np.digitize(pd, [0.03, 0.06, 0.1, 0.2])]
        if grades == "letters"
        else None
    )
    result = tl.calibration(pd, y, grades=given, n_grades=grades if isinstance(grades, int) else 10)
    kept = ~np.isnan(y)
    table = result.table
    assert table["count"].sum() == kept.sum() and table["events"].sum() == np.nansum(y)
    hl = 0.0
    for i in range(len(table)):
        n_g, d, p = int(table["count"][i]), int(table["events"][i]), table["predicted"][i]
        want = stats.beta.cdf(p, d + 0.5, n_g - d + 0.5)
        assert table["jeffreys_pvalue"][i] == pytest.approx(want, rel=1e-10)
        binomial = stats.binomtest(d, n_g, p, alternative="greater").pvalue
        assert table["binomial_pvalue"][i] == pytest.approx(binomial, rel=1e-10)
        hl += (d - n_g * p) ** 2 / (n_g * p * (1 - p))
    assert result.hosmer_lemeshow == pytest.approx(hl, rel=1e-12)
    assert result.hl_df == len(table) - 2
    assert result.hl_pvalue == pytest.approx(stats.chi2.sf(hl, len(table) - 2), rel=1e-10)
    assert result.brier == pytest.approx(brier_score_loss(y[kept], pd[kept]), rel=1e-12)
    if grades == "letters":
        assert list(table["grade"]) == sorted(set(given[kept]))
    assert "Hosmer-Lemeshow" in str(result)


@pytest.mark.parametrize("grades", [None, "letters"])
def test_whole_weights_calibrate_as_the_rows_repeated(grades):
    pd, y = sample(3, 1200)
    w = np.random.default_rng(3).integers(0, 4, pd.size)
    given = np.array(list("ABC"))[np.digitize(pd, [0.05, 0.1])] if grades else None
    got = tl.calibration(pd, y, grades=given, sample_weight=w)
    want = tl.calibration(
        np.repeat(pd, w), np.repeat(y, w), grades=None if given is None else np.repeat(given, w)
    )
    for key in ("grade", "count", "events", "observed"):
        np.testing.assert_array_equal(got.table[key], want.table[key])
    np.testing.assert_allclose(got.table["predicted"], want.table["predicted"], rtol=1e-12)
    assert got.brier == pytest.approx(want.brier, rel=1e-12) and np.isnan(got.hl_pvalue)
    assert (
        np.isnan(got.table["jeffreys_pvalue"]).all()
        and np.isnan(got.table["binomial_pvalue"]).all()
    )


@pytest.mark.parametrize("grades", [[1, 1, 1, 1], [1, 1, 2, 2]])
def test_hosmer_lemeshow_needs_three_grades(grades):
    result = tl.calibration([0.1, 0.2, 0.3, 0.4], [0, 1, 0, 1], grades=grades)
    given = len(set(grades))
    assert math.isnan(result.hosmer_lemeshow) and math.isnan(result.hl_pvalue)
    assert result.hl_df == 0
    assert result.note == f"the test needs at least 3 grades, {given} given"
    assert str(result).startswith(f"Hosmer-Lemeshow not given ({result.note}), Brier")


def test_a_grade_predicted_at_zero_that_meets_it_adds_nothing():
    result = tl.calibration(
        [0.0, 0.0, 0.5, 0.5, 0.2, 0.2], [0, 0, 1, 0, 0, 1], grades=[1, 1, 2, 2, 3, 3]
    )
    assert result.hosmer_lemeshow == pytest.approx(0.0 + 0.0 + (1 - 0.4) ** 2 / (0.4 * 0.8))
    assert result.table["jeffreys_pvalue"][0] == 0.0


def test_probabilities_outside_the_unit_interval_are_refused():
    with pytest.raises(ValueError, match=r"^pd must hold probabilities between 0 and 1$"):
        tl.calibration([0.2, 1.5], [0, 1])


@pytest.mark.parametrize(
    ("events", "count"), [(0, 10), (3, 40), (37, 40), (40, 40), (1, 1), (250, 2000)]
)
def test_jeffreys_interval_equals_scipy_s_beta_quantiles(events, count):
    from tessaline._calibration import jeffreys_interval

    low, high = jeffreys_interval(events, count)
    a, b = events + 0.5, count - events + 0.5
    assert low == (0.0 if events == 0 else pytest.approx(stats.beta.ppf(0.025, a, b), rel=1e-12))
    assert high == (
        1.0 if events == count else pytest.approx(stats.beta.ppf(0.975, a, b), rel=1e-12)
    )
