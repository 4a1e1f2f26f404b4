"""Reject inference on German credit with the riskiest 30% rejected: the
inferred outcomes of every method against independent computations (the
estimator's own probabilities, bands cut by NumPy), the augmented sample's
layout, and misuse."""

import numpy as np
import pandas as pd
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl

pytest.importorskip("sklearn")

CREDIT = pd.read_csv(ROOT / "examples" / "data" / "germancredit.csv")
TARGET = "creditability"


@pytest.fixture(scope="module")
def policy():
    """The card of the accepted, the accepted rows and the rejected ones."""
    score = tl.Scorecard(event="bad").fit(CREDIT, TARGET).score(CREDIT)
    rejected = score <= np.quantile(score, 0.3)
    accepted = CREDIT[~rejected]
    card = tl.Scorecard(event="bad").fit(accepted, TARGET)
    return card, accepted, CREDIT[rejected].drop(columns=TARGET)


def bands_of(accepted_scores, scores, n_bands=10):
    """Band of each score among equal-count bands of the accepted scores (a
    score equal to a cut falls in the lower band), by NumPy alone."""
    cuts = np.unique(np.quantile(accepted_scores, np.arange(1, n_bands) / n_bands))
    return np.searchsorted(cuts, scores, side="left")


def estimated_bad_rate(card, rows):
    """The fitted estimator's own probability of a bad for each row."""
    woe = card.binning.transform(rows, columns=card.variables)
    return card.estimator.predict_proba(np.column_stack([woe[v] for v in card.variables]))[:, 1]


def test_fuzzy_weights_are_the_estimators_probabilities(policy):
    card, accepted, rejected = policy
    sample = tl.reject_inference(card, accepted, TARGET, rejected, "fuzzy", inflation=1.5)
    n, m = len(accepted), len(rejected)
    p = estimated_bad_rate(card, rejected)
    np.testing.assert_allclose(sample.sample_weight[n : n + m], np.minimum(1, 1.5 * p), rtol=1e-12)
    np.testing.assert_allclose(
        sample.sample_weight[n + m :], 1 - np.minimum(1, 1.5 * p), rtol=1e-12
    )
    # Accepted rows first, as they were, then each reject as a bad and a good.
    np.testing.assert_array_equal(
        sample.y, np.r_[(accepted[TARGET] == "bad"), np.ones(m), np.zeros(m)]
    )
    np.testing.assert_array_equal(sample.sample_weight[:n], np.ones(n))
    np.testing.assert_array_equal(sample.rejected, np.r_[np.zeros(n), np.ones(2 * m)].astype(bool))
    assert list(sample.data["purpose"]) == [*accepted.purpose, *rejected.purpose, *rejected.purpose]
    assert TARGET not in sample.data


def test_parcelling_gives_each_reject_its_bands_bad_rate(policy):
    card, accepted, rejected = policy
    sample = tl.reject_inference(card, accepted, TARGET, rejected, "parcelling")
    accepted_scores, scores = card.score(accepted), card.score(rejected)
    bad = (accepted[TARGET] == "bad").to_numpy()
    band = bands_of(accepted_scores, accepted_scores)
    reject_band = bands_of(accepted_scores, scores)
    rates = np.array([bad[band == b].mean() for b in range(band.max() + 1)])
    n, m = len(accepted), len(rejected)
    np.testing.assert_allclose(sample.sample_weight[n : n + m], rates[reject_band], rtol=1e-12)
    assert [b.accepted for b in sample.bands] == np.bincount(band).tolist()
    assert [b.rejected for b in sample.bands] == np.bincount(
        reject_band, minlength=len(rates)
    ).tolist()
    np.testing.assert_allclose([b.accepted_bad_rate for b in sample.bands], rates, rtol=1e-12)
    # Every reject of a band gets the band's rate: the inferred rate is it.
    for b in sample.bands:
        if b.rejected:
            assert b.inferred_bad_rate == pytest.approx(b.accepted_bad_rate, rel=1e-12)
    assert str(sample).startswith("Reject inference (parcelling):\nscore band")


def test_a_hard_cutoff_makes_the_rejects_at_or_below_it_bad(policy):
    card, accepted, rejected = policy
    scores = card.score(rejected)
    n = len(accepted)
    given = tl.reject_inference(card, accepted, TARGET, rejected, "hard_cutoff", cutoff=500.0)
    np.testing.assert_array_equal(given.y[n:], scores <= 500.0)
    np.testing.assert_array_equal(given.sample_weight, np.ones(n + len(rejected)))
    # Without a cut-off, as many rejects are bad as the card expects.
    chosen = tl.reject_inference(card, accepted, TARGET, rejected, "hard_cutoff")
    expected = round(float(np.sum(estimated_bad_rate(card, rejected))))
    assert chosen.cutoff == np.sort(scores)[expected - 1]
    assert np.sum(chosen.y[n:]) == np.sum(scores <= chosen.cutoff) >= expected


@pytest.mark.parametrize(
    "options, message",
    [
        (
            {"method": "random"},
            "method must be one of hard_cutoff, fuzzy, parcelling, not 'random'",
        ),
        ({"inflation": 0.5}, "inflation must be a finite number of at least 1, not 0.5"),
        ({"n_bands": 0}, "n_bands must be a whole number of at least 1, not 0"),
    ],
)
def test_misuse_is_refused(policy, options, message):
    card, accepted, rejected = policy
    with pytest.raises(ValueError) as caught:
        tl.reject_inference(card, accepted, TARGET, rejected, **options)
    assert str(caught.value) == message


def test_rejects_without_the_cards_columns_are_refused(policy):
    card, accepted, rejected = policy
    unused = [c for c in rejected.columns if c not in card.variables][:2]
    with pytest.raises(ValueError) as caught:
        tl.reject_inference(card, accepted, TARGET, rejected.drop(columns=unused))
    assert str(caught.value) == f"the rejected rows lack the column(s) {unused[0]!r}, {unused[1]!r}"
