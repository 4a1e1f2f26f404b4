"""psi and gini: the native numbers in small result objects, their printing and
their charts."""

import math

import numpy as np
import pytest
from package_under_test import tessaline as tl

import _tessaline as t


def test_psi_is_the_native_comparison_and_takes_a_tables_cuts():
    result = tl.psi([1.0, 2.0, 3.0, 4.0], [1.0, 1.0, 1.0, 4.0], [2.5])
    native = t.compare_distributions_native([1.0, 2.0, 3.0, 4.0], [1.0, 1.0, 1.0, 4.0], [2.5])
    assert (result.psi, result.ks) == (native["psi"], native["ks"])
    for key, values in result.columns.items():
        np.testing.assert_array_equal(values, native[key], strict=True)
    assert result.labels == ["(-inf, 2.5]", "(2.5, +inf)"]
    rng = np.random.default_rng(1)
    reference, current = rng.normal(size=3000), rng.normal(0.3, 1.0, size=2000)
    current[:40] = np.nan
    table = tl.quantile_binning(
        reference, (reference + rng.normal(size=3000) > 0.5) * 1.0, n_bins=5
    )
    result = tl.psi(reference, current, table, epsilon=1e-6)
    assert (
        result.psi == t.compare_distributions_native(reference, current, table.splits, 1e-6)["psi"]
    )
    np.testing.assert_array_equal(result.splits, table.splits)
    assert len(result) == table.n_bins + 1 and result.labels[-1] == "missing"
    assert result["count_current"][-1] == 40


@pytest.mark.parametrize(
    "empty_bins, want",
    [
        # Shares 1/2, 1/2 against 1, 0: the empty bin's share floored at 1e-12 ...
        ("floor", 0.5 * math.log(2) + 0.5 * math.log(0.5 / 1e-12)),
        # ... or counted as half a row of two, a share of 1/4.
        ("half", 0.75 * math.log(2)),
    ],
)
def test_an_empty_bin_counts_by_the_rule_asked(empty_bins, want):
    result = tl.psi([1.0, 4.0], [1.0, 1.0], [2.5], empty_bins=empty_bins)
    assert result.psi == pytest.approx(want, rel=1e-15)
    assert result.psi == math.fsum(result["psi_bin"])
    assert result.ks == 0.5 and result["count_current"].tolist() == [2, 0]


def test_psi_prints_its_reading():
    assert str(tl.psi([1.0, 2.0, 3.0], [1.0, 2.0, 3.0], [2.0])).startswith(
        "PSI 0.0000 (stable), KS 0.0000"
    )
    shifted = tl.psi([1.0, 2.0, 3.0, 4.0], [4.0, 4.0, 4.0, 4.0], [2.5])
    assert "significant shift" in str(shifted) and "significant shift" in repr(shifted)


def test_gini_is_the_native_lorenz_curve():
    result = tl.gini([1.0, 2.0, 3.0, 4.0], [0, 1, 0, 1])
    native = t.lorenz_curve_native([1.0, 2.0, 3.0, 4.0], [0, 1, 0, 1])
    assert (result.gini, result.auc) == (native["gini"], native["auc"])
    for key, values in result.curve.items():
        np.testing.assert_array_equal(values, native[key], strict=True)
    assert str(result) == (
        "Gini +0.5000 (AUC 0.7500) over 4 distinct score values (higher score is bad)"
    )
    assert str(tl.gini([4.0, 3.0, 2.0, 1.0], [0, 1, 0, 1])) == (
        "Gini -0.5000 (AUC 0.2500) over 4 distinct score values (higher score is bad); "
        "negative: events score on the good side, and read with higher_is='good' the Gini "
        "is +0.5000"
    )


@pytest.mark.parametrize("higher_is, sign", [("bad", 1.0), ("good", -1.0)])
@pytest.mark.parametrize("weighted", [False, True])
def test_gini_and_score_performance_agree_in_the_direction_they_are_given(
    higher_is, sign, weighted
):
    # Events score higher: a positive Gini read as "bad", its opposite as "good".
    score = [0.1, 0.4, 0.35, 0.8, 0.2, 0.9, 0.5, 0.65]
    y = [0, 0, 1, 1, 0, 1, 0, 1]
    w = [1.0, 2.0, 1.0, 3.0, 1.0, 1.0, 2.0, 1.0] if weighted else None
    result = tl.gini(score, y, higher_is=higher_is, sample_weight=w)
    performance = tl.score_performance(score, y, higher_is=higher_is, sample_weight=w)
    assert (result.gini, result.auc) == (performance.gini, performance.auc)
    assert result.gini * sign > 0 and result.higher_is == higher_is
    assert f"(higher score is {higher_is})" in str(result)


def test_gini_leaves_out_missing_targets():
    assert tl.gini([1.0, 2.0, 3.0, 4.0, 5.0], [0, 0, np.nan, 1, 1]).gini == 1.0


def test_charts():
    pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure

    table = tl.custom_binning(
        [1.0, 2.0, 3.0, 4.0, 5.0, np.nan], [0, 0, 1, 0, 1, 1], [2.5], name="age"
    )
    ax = table.plot(ax=Figure().subplots())
    assert [bar.get_height() for bar in ax.patches] == table["count"].tolist()
    rates = next(a for a in ax.figure.axes if a is not ax).get_lines()[0]
    assert rates.get_ydata().tolist() == pytest.approx((100 * table["event_rate"]).tolist())
    assert [x.get_text() for x in ax.get_xticklabels()] == table.labels
    assert ax.get_title().startswith("age: IV ")
    # The Lorenz curve starts at the origin.
    ax = tl.gini([1.0, 2.0, 3.0, 4.0], [0, 1, 0, 1]).plot(ax=Figure().subplots())
    assert ax.get_lines()[1].get_xdata().tolist() == [0.0, 0.5, 0.5, 1.0, 1.0]
    assert ax.get_lines()[1].get_ydata().tolist() == [0.0, 0.0, 0.5, 0.5, 1.0]
    assert ax.get_title() == "Lorenz curve: Gini +0.500"
