"""psi and gini: the native numbers in small result objects, their printing and
their charts."""
import numpy as np
import pytest

import _tessaline
from package_under_test import tessaline as tl


def test_psi_equals_the_native_comparison_on_the_worked_example():
    result = tl.psi([1.0, 2.0, 3.0, 4.0], [1.0, 1.0, 1.0, 4.0], [2.5])
    native = _tessaline.compare_distributions_native([1.0, 2.0, 3.0, 4.0], [1.0, 1.0, 1.0, 4.0],
                                                     [2.5])
    assert result.psi == native["psi"] == pytest.approx(0.274653, abs=1e-6)
    assert result.ks == native["ks"] == 0.25
    for key, values in result.columns.items():
        np.testing.assert_array_equal(values, native[key], strict=True)
    assert result.labels == ["(-inf, 2.5]", "(2.5, +inf)"]


def test_psi_takes_a_binning_tables_cuts_and_a_missing_row():
    rng = np.random.default_rng(1)
    reference = rng.normal(size=3000)
    current = rng.normal(0.3, 1.0, size=2000)
    current[:40] = np.nan
    y = (reference + rng.normal(size=3000) > 0.5).astype(float)
    table = tl.quantile_binning(reference, y, n_bins=5)
    result = tl.psi(reference, current, table, epsilon=1e-6)
    native = _tessaline.compare_distributions_native(reference, current, table.splits, 1e-6)
    assert result.psi == native["psi"]
    np.testing.assert_array_equal(result.splits, table.splits)
    assert len(result) == table.n_bins + 1 and result.labels[-1] == "missing"
    assert result["count_current"][-1] == 40


def test_psi_prints_its_reading():
    same = tl.psi([1.0, 2.0, 3.0], [1.0, 2.0, 3.0], [2.0])
    assert str(same).startswith("PSI 0.0000 (stable), KS 0.0000")
    shifted = tl.psi([1.0, 2.0, 3.0, 4.0], [4.0, 4.0, 4.0, 4.0], [2.5])
    assert "significant shift" in str(shifted) and "significant shift" in repr(shifted)


def test_psi_errors_are_the_native_ones():
    with pytest.raises(ValueError, match="^compare_distributions: muestras vacías o epsilon inválido$"):
        tl.psi([], [1.0], [0.5])
    with pytest.raises(ValueError, match="^compare_distributions: splits deben ser finitos, "
                                         "crecientes y únicos$"):
        tl.psi([1.0], [1.0], [2.0, 1.0])


def test_gini_equals_the_native_lorenz_curve():
    score = [1.0, 2.0, 3.0, 4.0]
    result = tl.gini(score, [0, 1, 0, 1])
    assert (result.gini, result.auc) == (0.5, 0.75)
    native = _tessaline.lorenz_curve_native(score, [0, 1, 0, 1])
    for key, values in result.curve.items():
        np.testing.assert_array_equal(values, native[key], strict=True)
    assert str(result) == "Gini +0.5000 (AUC 0.7500) over 4 distinct score values"


def test_gini_leaves_out_missing_targets_and_rejects_other_labels():
    score = [1.0, 2.0, 3.0, 4.0, 5.0]
    assert tl.gini(score, [0, 0, np.nan, 1, 1]).gini == 1.0
    with pytest.raises(ValueError, match="^lorenz_curve: y debe contener solo 0 y 1$"):
        tl.gini(score, [0, 0, 0.5, 1, 1])
    with pytest.raises(ValueError, match="^lorenz_curve: se necesitan ambas clases$"):
        tl.gini(score, [1, 1, 1, 1, 1])
    with pytest.raises(ValueError, match="^lorenz_curve: x e y deben tener la misma longitud$"):
        tl.gini(score, [0, 1])


def test_gini_agrees_with_pairwise_counting():
    rng = np.random.default_rng(5)
    score = rng.integers(0, 20, 300).astype(float)
    y = (rng.random(300) < 0.2 + score / 40).astype(float)
    events, non_events = score[y == 1], score[y == 0]
    wins = (events[:, None] > non_events[None, :]).sum() + 0.5 * (
        events[:, None] == non_events[None, :]).sum()
    auc = wins / (events.size * non_events.size)
    assert tl.gini(score, y).auc == pytest.approx(auc, rel=1e-12)


# -- charts ----------------------------------------------------------------------------

def test_binning_chart_shows_counts_and_event_rates():
    pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure

    x = np.array([1.0, 2.0, 3.0, 4.0, 5.0, np.nan])
    table = tl.custom_binning(x, [0, 0, 1, 0, 1, 1], [2.5], name="age")
    ax = table.plot(ax=Figure().subplots())
    assert [bar.get_height() for bar in ax.patches] == table["count"].tolist()
    rate_axis = [a for a in ax.figure.axes if a is not ax][0]
    line = rate_axis.get_lines()[0]
    assert line.get_ydata().tolist() == pytest.approx((100 * table["event_rate"]).tolist())
    assert [t.get_text() for t in ax.get_xticklabels()] == table.labels
    assert ax.get_title().startswith("age: IV ")


def test_lorenz_chart_starts_at_the_origin_and_names_the_gini():
    pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure

    result = tl.gini([1.0, 2.0, 3.0, 4.0], [0, 1, 0, 1])
    ax = result.plot(ax=Figure().subplots())
    curve = ax.get_lines()[1]
    assert curve.get_xdata().tolist() == [0.0, 0.5, 0.5, 1.0, 1.0]
    assert curve.get_ydata().tolist() == [0.0, 0.0, 0.5, 0.5, 1.0]
    assert ax.get_title() == "Lorenz curve: Gini +0.500"
