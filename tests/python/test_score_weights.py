"""Scores and samples weighted by rows: whole weights give the bits of the rows
repeated (weight 0: left out), fractional ones the pairwise weighted AUC, and
bad weights are refused naming the row."""

import math

import numpy as np
import pytest
from package_under_test import tessaline as tl


def weighted_rows(seed, n, ties):
    rng = np.random.default_rng(seed)
    y = (rng.uniform(size=n) < 0.3).astype(float)
    score = rng.normal(size=n) - y
    score = np.round(score, 1) if ties else score
    score[:4] = [-0.0, 0.0, np.nan, 0.0]
    y[4] = np.nan
    return score, y, rng.integers(0, 4, size=n)


@pytest.mark.parametrize("seed, n, ties", [(0, 60, True), (1, 3000, False), (2, 800, True)])
@pytest.mark.parametrize("higher_is", ["good", "bad"])
def test_whole_weights_score_as_the_rows_repeated(seed, n, ties, higher_is):
    score, y, w = weighted_rows(seed, n, ties)
    got = tl.score_performance(score, y, higher_is=higher_is, n_bands=7, sample_weight=w)
    want = tl.score_performance(
        np.repeat(score, w), np.repeat(y, w), higher_is=higher_is, n_bands=7
    )
    for field in ("auc", "gini", "ks", "ks_score", "event_share"):
        assert getattr(got, field) == getattr(want, field)
    for field in ("scores", "flagged_non_events", "flagged_events"):
        np.testing.assert_array_equal(getattr(got, field), getattr(want, field))
    for key, values in want.gains.columns.items():
        np.testing.assert_array_equal(got.gains[key], values)
    # The records behind each band's weight.
    band = np.digitize(score, np.unique(got.gains["max_score"])[:-1], right=True)
    kept = ~np.isnan(score) & ~np.isnan(y) & (w > 0)
    assert sorted(got.gains["rows"]) == sorted(np.bincount(band[kept]))
    # No row is an independent observation under weights: no interval, no p-value.
    assert all(map(math.isnan, (got.auc_se, *got.auc_ci, *got.gini_ci, got.ks_pvalue)))
    g, h = tl.gini(score, y, sample_weight=w), tl.gini(np.repeat(score, w), np.repeat(y, w))
    assert (g.gini, g.auc) == (h.gini, h.auc)
    for key, values in h.curve.items():
        np.testing.assert_array_equal(g.curve[key], values, strict=True)


def test_fractional_weights_give_the_pairwise_weighted_auc():
    score, y, _ = weighted_rows(3, 400, True)
    w = np.random.default_rng(3).uniform(0.0, 2.5, size=score.size)
    kept = ~np.isnan(score) & ~np.isnan(y)
    s, c, v = score[kept], y[kept], w[kept]
    e, n = c == 1, c == 0
    above = (s[e][:, None] > s[n][None, :]) + 0.5 * (s[e][:, None] == s[n][None, :])
    want = (v[e][:, None] * v[n][None, :] * above).sum() / (v[e].sum() * v[n].sum())
    assert tl.gini(score, y, sample_weight=w).auc == pytest.approx(want, rel=1e-12)
    result = tl.score_performance(score, y, higher_is="bad", sample_weight=w)
    assert result.auc == pytest.approx(want, rel=1e-12)
    assert result.gains["count"].sum() == pytest.approx(v.sum(), rel=1e-12)


@pytest.mark.parametrize("empty_bins", ["floor", "half"])
def test_psi_of_whole_weights_is_the_psi_of_the_rows_repeated(empty_bins):
    rng = np.random.default_rng(5)
    reference, current = rng.normal(size=500), rng.normal(0.4, 1.0, size=300)
    current[:7] = np.nan
    cuts = [-1.0, 0.0, 0.5, 3.5]  # the last bin is empty in the repeated reference
    w_ref = rng.integers(0, 3, size=500) * (reference <= 3.5)
    for w_cur, repeat in ((rng.integers(0, 3, size=300), True), (None, False)):
        got = tl.psi(reference, current, cuts, empty_bins=empty_bins, sample_weight=(w_ref, w_cur))
        cur = np.repeat(current, w_cur) if repeat else current
        want = tl.psi(np.repeat(reference, w_ref), cur, cuts, empty_bins=empty_bins)
        assert (got.psi, got.ks) == (want.psi, want.ks)
        for key, values in want.columns.items():
            np.testing.assert_array_equal(got[key], values)
        np.testing.assert_array_equal(
            got["rows_reference"][:4], np.histogram(reference[w_ref > 0], [-np.inf, *cuts])[0]
        )


@pytest.mark.parametrize(
    "weights, error, message",
    [
        (
            [1.0, 1.0, 1.0],
            ValueError,
            "sample_weight must hold one weight per row: 3 weights for 4 rows",
        ),
        (
            [1.0, -1.0, 1.0, 1.0],
            ValueError,
            "sample_weight must be finite and non-negative: row 1 is -1.0",
        ),
        (
            [1.0, 1.0, np.nan, 1.0],
            ValueError,
            "sample_weight must be finite and non-negative: row 2 is nan",
        ),
        (
            [1.0, 1.0, 1.0, np.inf],
            ValueError,
            "sample_weight must be finite and non-negative: row 3 is inf",
        ),
        (["a", "b", "c", "d"], TypeError, "sample_weight must be numbers, not"),
        # Events of weight 0 are no events.
        (
            [1.0, 0.0, 1.0, 0.0],
            tl.TargetError,
            r"y must hold both events \(1\) and non-events \(0\) among the rows with a score, not only non-events \(0\)",
        ),
    ],
)
@pytest.mark.parametrize("score", [tl.gini, tl.score_performance])
def test_bad_weights_are_refused_naming_the_row(score, weights, error, message):
    with pytest.raises(error, match="^" + message):
        score([1.0, 2.0, 3.0, 4.0], [0, 1, 0, 1], sample_weight=weights)


def test_bad_psi_weights_name_the_sample():
    with pytest.raises(
        TypeError, match=r"^sample_weight must be a pair \(weights of the reference"
    ):
        tl.psi([1.0, 2.0], [1.0, 2.0, 3.0], [1.5], sample_weight=[1.0, 1.0])
    with pytest.raises(
        ValueError,
        match=r"^sample_weight must hold one weight per row: 2 weights for 3 rows \(the current sample\)$",
    ):
        tl.psi([1.0, 2.0], [1.0, 2.0, 3.0], [1.5], sample_weight=(None, [1.0, 1.0]))
    with pytest.raises(
        ValueError,
        match=r"^sample_weight is zero for every row: there is nothing to count \(the reference sample\)$",
    ):
        tl.psi([1.0, 2.0], [1.0, 2.0, 3.0], [1.5], sample_weight=([0.0, 0.0], None))
