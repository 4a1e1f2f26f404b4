"""Scaling choices of the scorecard on German credit: min-max scaling puts the
lowest and highest possible scores at the ends of the range, a separate base
score scores as the spread intercept does, every choice scores alike after
JSON, pickle and SQL, and what rounding costs in AUC."""

import functools
import json
import math
import pickle

import numpy as np
import pandas as pd
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl
from sql_engines import ENGINES

pytest.importorskip("sklearn")
from sklearn.metrics import roc_auc_score

CREDIT = pd.read_csv(ROOT / "examples" / "data" / "germancredit.csv")
TARGET = "creditability"
SCALINGS = {
    "pdo, spread": {},
    "pdo, separate, whole points": {"intercept_points": "separate", "rounding": 0},
    "min-max, spread": {"score_range": (300, 850)},
    "min-max, separate, whole points": {
        "score_range": (0, 1000),
        "intercept_points": "separate",
        "rounding": 0,
    },
}

SCALING_FIELDS = ("score_range", "intercept_points", "base_points")


@functools.cache
def card(scaling):
    return tl.Scorecard(event="bad", **SCALINGS[scaling]).fit(CREDIT, TARGET)


def extreme_scores(c):
    base = c.base_points if c.intercept_points == "separate" else 0.0
    return base + sum(c.points[v].min() for v in c.variables), base + sum(
        c.points[v].max() for v in c.variables
    )


@pytest.mark.parametrize("scaling", ["min-max, spread", "min-max, separate, whole points"])
def test_min_max_scaling_spans_the_range_and_keeps_the_order(scaling):
    c = card(scaling)
    low, high = c.score_range
    got = extreme_scores(c)
    # Whole points move each end by at most half a point per term.
    slack = 1e-9 if c.rounding is None else 0.5 * (len(c.variables) + 1)
    assert got == pytest.approx((low, high), abs=slack)
    # The same model as the pdo card: its score is an increasing linear
    # function of the pdo card's (before any rounding).
    pdo = card("pdo, spread")
    if c.rounding is None:
        slope, shift = np.polyfit(pdo.score(CREDIT), c.score(CREDIT), 1)
        assert slope > 0
        np.testing.assert_allclose(c.score(CREDIT), slope * pdo.score(CREDIT) + shift, rtol=1e-12)


def test_a_separate_base_score_scores_as_the_spread_intercept():
    spread = card("pdo, spread")
    separate = tl.Scorecard(spread.binning, intercept_points="separate").set_model(
        spread.variables, spread.coefficients, spread.intercept
    )
    assert separate.base_points == spread.offset - spread.factor * spread.intercept
    np.testing.assert_allclose(separate.score(CREDIT), spread.score(CREDIT), rtol=1e-12)
    # Each variable's points move by its share of the base, the same for every bin.
    share = separate.base_points / len(spread.variables)
    for v in spread.variables:
        np.testing.assert_allclose(separate.points[v] + share, spread.points[v], rtol=1e-12)
    assert "base score: " in str(separate)


@ENGINES
@pytest.mark.parametrize("scaling", list(SCALINGS))
def test_every_scaling_scores_alike_after_json_pickle_and_sql(scaling, dialect, run):
    c = card(scaling)
    want = c.score(CREDIT)
    for restored in (tl.from_json(c.to_json()), pickle.loads(pickle.dumps(c))):
        np.testing.assert_array_equal(restored.score(CREDIT), want)
        assert str(restored) == str(c)
    got = run(c.to_sql("applicants", dialect=dialect), CREDIT)
    np.testing.assert_array_equal(got["score"].to_numpy(), want)


def test_a_card_pickled_before_the_scaling_choices_loads_as_pdo_and_spread():
    c = card("pdo, spread")
    state = {k: v for k, v in c.__getstate__().items() if k not in SCALING_FIELDS}
    old = tl.Scorecard.__new__(tl.Scorecard)
    old.__setstate__(state)
    np.testing.assert_array_equal(old.score(CREDIT), c.score(CREDIT))


def test_rounding_effect_is_the_auc_of_each_score():
    c = card("pdo, spread")
    effect = tl.rounding_effect(c, CREDIT, TARGET)
    bad = (CREDIT[TARGET] == "bad").to_numpy()
    exact = c.score(CREDIT)
    rounded = sum(np.round(c.variable_points(CREDIT)[v]) for v in c.variables)
    assert effect.auc == pytest.approx(roc_auc_score(bad, -exact), abs=1e-12)
    assert effect.auc_rounded == pytest.approx(roc_auc_score(bad, -rounded), abs=1e-12)
    assert effect.auc_change == effect.auc_rounded - effect.auc
    assert effect.largest_shift == pytest.approx(np.max(np.abs(rounded - exact)), abs=1e-9)
    assert effect.largest_shift <= 0.5 * len(c.variables)
    assert str(effect).startswith("points rounded to 0 decimals: AUC ")


@pytest.mark.parametrize(
    "options, message",
    [
        ({"score_range": (850, 300)}, "score_range must have low < high, not (850, 300)"),
        ({"score_range": 600}, "score_range must be a pair (low, high), not 600"),
        ({"score_range": (0, math.inf)}, "score_range[1] must be a finite number, not inf"),
        (
            {"intercept_points": "base"},
            "intercept_points must be 'spread' or 'separate', not 'base'",
        ),
    ],
)
def test_bad_scaling_is_refused(options, message):
    with pytest.raises((TypeError, ValueError)) as caught:
        tl.Scorecard(**options)
    assert str(caught.value) == message


def test_a_card_without_spread_and_a_bad_rounding_are_refused():
    flat = tl.Scorecard(card("pdo, spread").binning, score_range=(0, 1))
    with pytest.raises(ValueError, match=r"^min-max scaling needs scores that differ: every"):
        flat.set_model(card("pdo, spread").variables[:1], [0.0], 0.3)
    with pytest.raises(ValueError, match=r"^decimals must be a whole number from 0 to 15, not -1$"):
        tl.rounding_effect(card("pdo, spread"), CREDIT, TARGET, decimals=-1)


def test_a_document_whose_base_score_was_changed_is_refused():
    doc = json.loads(card("pdo, separate, whole points").to_json())
    doc["base_points"] = (float.fromhex(doc["base_points"]) + 1.0).hex()
    with pytest.raises(
        tl.DocumentError, match="field 'base_points' is not what the intercept gives"
    ):
        tl.from_json(json.dumps(doc))
