"""Monitoring a scorecard period by period on German credit with injected
drift: the lights flag exactly the injected changes, per-period AUC and
DeLong intervals agree with independent computations, and a saved state
grows by next months' counts to the same result as reading all rows."""

import copy
import json
import math

import numpy as np
import pandas as pd
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl

pytest.importorskip("sklearn")
from sklearn.metrics import roc_auc_score

CREDIT = pd.read_csv(ROOT / "examples" / "data" / "germancredit.csv")
TARGET = "creditability"
MONTHS = pd.date_range("2024-01-01", periods=6, freq="MS")


@pytest.fixture(scope="module")
def card():
    return tl.Scorecard(event="bad").fit(CREDIT, TARGET)


def drifted_months(card):
    """Six months of 300 applicants drawn from the development data, with
    March's durations tripled, April's credit amounts 40% missing, May's
    outcomes drawn at random at a 45% default rate, June's not known yet."""
    rng = np.random.default_rng(7)
    months = []
    for i, start in enumerate(MONTHS):
        rows = CREDIT.sample(300, replace=True, random_state=100 + i).reset_index(drop=True)
        rows["opened"] = start + pd.to_timedelta(rng.integers(0, 28, len(rows)), unit="D")
        months.append(rows)
    months[2]["duration_in_month"] *= 3
    months[3]["credit_amount"] = months[3]["credit_amount"].astype(float)
    months[3].loc[rng.random(300) < 0.4, "credit_amount"] = np.nan
    months[4][TARGET] = np.where(rng.random(300) < 0.45, "bad", "good")
    months[5][TARGET] = None
    return months


@pytest.fixture(scope="module")
def monitored(card):
    data = pd.concat(drifted_months(card), ignore_index=True)
    return data, tl.monitor(
        card, data, period="opened", frequency="month", target=TARGET, reference=CREDIT
    )


def test_the_lights_flag_exactly_the_injected_drift(card, monitored):
    data, result = monitored
    assert result.periods == tuple(str(m)[:7] for m in MONTHS)
    # The caller's rows are read, never changed.
    pd.testing.assert_frame_equal(data, pd.concat(drifted_months(card), ignore_index=True))
    flagged = {(a.measure, a.subject, a.period) for a in result.flagged()}
    assert flagged == {
        ("csi", "duration_in_month", "2024-03"),
        ("score psi", "score", "2024-03"),  # longer durations cost points
        ("csi", "credit_amount", "2024-04"),
        ("auc", "score", "2024-05"),
        ("calibration", "score", "2024-05"),
    }
    june = [a.light for a in result.alerts if a.period == "2024-06" and a.measure != "csi"]
    assert june == ["green", "n/a", "n/a"]  # stable, and no outcome known yet


def test_points_shifts_add_up_to_the_mean_score_change(card, monitored):
    data, result = monitored
    march = {
        c.shift.variable: c.points_shift
        for c in result.characteristics
        if c.shift.period == "2024-03"
    }
    assert min(march, key=march.get) == "duration_in_month"
    rows = data[data["opened"].dt.month == 3]
    change = card.score(rows).mean() - card.score(CREDIT).mean()
    assert sum(march.values()) == pytest.approx(change, abs=1e-9)


def delong_interval(score, y, z=1.959963984540054):
    """DeLong's normal interval of AUC from the rows' placements, in the
    direction where a lower score is riskier."""
    events, non_events = -score[y == 1], -score[y == 0]
    psi = (events[:, None] > non_events[None, :]) + 0.5 * (events[:, None] == non_events[None, :])
    auc = psi.mean()
    v10, v01 = psi.mean(axis=1), psi.mean(axis=0)
    se = math.sqrt(v10.var(ddof=1) / events.size + v01.var(ddof=1) / non_events.size)
    return max(auc - z * se, 0.0), min(auc + z * se, 1.0)


def test_period_auc_and_delong_interval_agree_with_independent_computations(card, monitored):
    data, result = monitored
    for perf, month in zip(result.performance[:5], MONTHS):
        rows = data[data["opened"].dt.to_period("M") == month.to_period("M")]
        y = (rows[TARGET] == "bad").to_numpy(int)
        score = card.score(rows)
        assert perf.auc == pytest.approx(roc_auc_score(y, -score), abs=1e-15)
        assert perf.auc_ci == pytest.approx(delong_interval(score, y), abs=1e-12)
        assert (perf.rows, perf.known, perf.events) == (300, 300, y.sum())
    assert (result.performance[5].known, result.performance[5].rows) == (0, 300)


def test_a_saved_state_grows_by_next_months_to_the_result_of_all_rows(card, monitored):
    _, whole = monitored
    months = drifted_months(card)
    first = tl.monitor(
        card,
        pd.concat(months[:3]),
        period="opened",
        frequency="month",
        target=TARGET,
        reference=CREDIT,
    )
    state = tl.MonitorState.from_json(first.state.to_json())
    # April arrives in two batches, June before May; counts add up, months keep time order.
    for batch in (months[3][:120], months[5], months[3][120:], months[4]):
        state = state.add(card, batch, period="opened", frequency="month", target=TARGET)
    grown = state.result()
    # A state's development counts stand for the development rows.
    again = tl.monitor(card, months[0], period="opened", frequency="month", reference=state)
    assert again.stability[0].psi == whole.stability[0].psi
    for part in ("alerts", "characteristics", "performance", "calibration"):
        pd.testing.assert_frame_equal(grown.to_frame(part), whole.to_frame(part), check_exact=True)


def test_calibration_by_band_is_that_of_the_rows_probabilities(card, monitored):
    data, result = monitored
    rows = data[data["opened"].dt.month == 5]
    score = card.score(rows)
    pd_of_rows = 1 / (1 + np.exp((score - card.offset) / card.factor))
    band = np.searchsorted(result.state.layout.score_cuts, score) + 1
    expected = tl.calibration(pd_of_rows, rows[TARGET] == "bad", grades=band)
    may = result.calibration[4]
    for column in ("grade", "count", "events", "observed", "jeffreys_pvalue"):
        np.testing.assert_allclose(may.table[column], expected.table[column], rtol=1e-12)
    assert may.brier == pytest.approx(expected.brier, rel=1e-12)


def test_the_analyst_s_thresholds_set_the_lights(card, monitored):
    _, result = monitored
    strict = tl.Thresholds(csi=(0.01, 0.02), auc_pvalue=(0.5, 0.4))
    relit = result.state.result(strict)
    assert relit.thresholds == strict and "csi=(0.01, 0.02)" in str(relit)
    march = {a.subject: a.light for a in relit.alerts if a.period == "2024-03"}
    assert march["duration_in_month"] == "red" and "amber" in march.values()


def test_quarters_and_a_reference_period(card, monitored):
    data, _ = monitored
    result = tl.monitor(
        card,
        data,
        period="opened",
        frequency="quarter",
        target=TARGET,
        reference_period="2024-Q1",
    )
    assert result.periods == ("2024-Q1", "2024-Q2") and result.reference == "2024-Q1"
    assert result.stability[0].psi == 0.0 and result.performance[0].auc_change == 0.0


@pytest.mark.parametrize(
    ("labels", "order"),
    [
        (["Mar 2024", "Jan 2024", "Feb 2024"], ("Jan 2024", "Feb 2024", "Mar 2024")),
        (["north", "south", "east"], ("north", "south", "east")),
        ([2023, 2021, 2022], ("2021", "2022", "2023")),
    ],
)
def test_a_binning_is_monitored_for_its_distributions_in_period_order(labels, order):
    binning = tl.TableBinning(event="bad").fit(CREDIT, TARGET)
    data = CREDIT.assign(batch=np.resize(labels, len(CREDIT)))
    result = tl.monitor(binning, data, period="batch", reference=CREDIT)
    assert result.periods == order
    assert result.stability == () and result.performance == () and result.calibration == ()
    frame = result.to_frame("characteristics")
    assert len(frame) == 3 * len(binning.tables) and frame["points_shift"].isna().all()
    assert {a.measure for a in result.alerts} == {"csi"} and not result.flagged()


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (
            lambda c, d: tl.monitor(c, d, period="opened"),
            ValueError,
            "give either reference (the development sample) or reference_period",
        ),
        (
            lambda c, d: tl.monitor(c, d, period="opened", reference_period="May"),
            ValueError,
            "reference_period 'May' is none of the periods: ",
        ),
        (
            lambda c, d: tl.monitor(c, d, period="when", reference=d),
            ValueError,
            "period names no column of the data: 'when'",
        ),
        (
            lambda c, d: tl.monitor(c, d, period=TARGET, frequency="month", reference=d),
            ValueError,
            "the period column must hold dates to be bucketed by month or quarter",
        ),
        (
            lambda c, d: tl.monitor(
                c, d.assign(opened=pd.NaT), period="opened", frequency="month", reference=d
            ),
            ValueError,
            "the period column has rows without a date",
        ),
        (
            lambda c, d: tl.monitor(c, d, period="opened", reference=d).to_frame("bins"),
            ValueError,
            "part must be",
        ),
        (
            lambda c, d: tl.Thresholds(psi=(0.25, 0.1)),
            ValueError,
            "the red threshold of psi must be above the amber one, not (0.25, 0.1)",
        ),
        (
            lambda c, d: tl.MonitorState.from_json("[1, 2"),
            tl.DocumentError,
            "not a monitoring state document: ",
        ),
        (
            lambda c, d: tl.MonitorState.from_json('{"kind": "card"}'),
            tl.DocumentError,
            "not a monitoring state of version 1: kind 'card', version None",
        ),
        (
            lambda c, d: tl.monitor(c, d, period="opened", reference=d).state.add(
                tl.Scorecard(event="bad", pdo=40).fit(CREDIT, TARGET), d, period="opened"
            ),
            ValueError,
            "the model bins or scores otherwise than the one the monitoring state",
        ),
        (
            lambda c, d: tl.keep_reference(c.binning, d),
            TypeError,
            "card must be a fitted Scorecard, not ",
        ),
        (
            lambda c, d: tl.Scorecard.from_json(
                c.to_json().replace('"binning":', '"monitor_reference": 1, "binning":', 1)
            ),
            tl.DocumentError,
            "tessaline.scorecard: field 'monitor_reference' must be null or an object",
        ),
        (
            lambda c, d: tl.monitor(
                c,
                d,
                period="opened",
                reference=tl.monitor(c, d, period="opened", reference=d).state,
                weight="w",
            ),
            ValueError,
            "the reference counts are weighted by None, not 'w': monitor with the same weight",
        ),
    ],
)
def test_bad_input_is_a_clear_error(card, monitored, call, error, message):
    with pytest.raises(error) as raised:
        call(card, monitored[0])
    assert str(raised.value).startswith(message)


def test_an_auc_change_without_spread_is_not_tested():
    from tessaline._monitor_periods import measures
    from tessaline._monitor_periods.counts import PeriodCounts

    def perfectly_separated(c0, c1):
        return PeriodCounts(np.array([10]), {}, np.array([1.0, 2.0]), np.array(c0), np.array(c1))

    ref, now = perfectly_separated([0, 5], [5, 0]), perfectly_separated([5, 0], [0, 5])
    fits = measures.fitted_performance(now), measures.fitted_performance(ref)
    perf = measures.period_performance("p", now, *fits)
    assert perf.auc_change == -1.0
    assert math.isnan(perf.change_z) and math.isnan(perf.change_pvalue)
    assert perf.change_note.startswith("no test of the AUC change: its standard error is 0")


def test_a_card_keeps_its_development_counts_in_its_document(card, monitored):
    data, whole = monitored
    document = tl.keep_reference(copy.deepcopy(card), CREDIT, target=TARGET).to_json()
    loaded = tl.Scorecard.from_json(document)
    again = tl.monitor(loaded, data, period="opened", frequency="month", target=TARGET)
    assert again.state.to_json() == whole.state.to_json()
    # A document written before the card kept counts loads, and needs a reference.
    older = json.loads(document)
    del older["monitor_reference"]
    with pytest.raises(ValueError, match=r"the card keeps no development counts"):
        tl.monitor(tl.Scorecard.from_json(json.dumps(older)), data, period="opened")


def test_whole_weights_count_as_the_rows_repeated(card, monitored):
    data, _ = monitored
    rng = np.random.default_rng(3)
    w, ref_w = rng.integers(1, 4, len(data)), rng.integers(1, 4, len(CREDIT))
    options = {"period": "opened", "frequency": "month", "target": TARGET}
    weighted = tl.monitor(
        card, data.assign(w=w), reference=CREDIT.assign(w=ref_w), weight="w", **options
    )
    repeated = tl.monitor(
        card,
        data.loc[data.index.repeat(w)],
        reference=CREDIT.loc[CREDIT.index.repeat(ref_w)],
        **options,
    )
    for part in ("stability", "characteristics", "calibration"):
        pd.testing.assert_frame_equal(weighted.to_frame(part), repeated.to_frame(part), rtol=1e-12)
    both = weighted.to_frame("performance").merge(repeated.to_frame("performance"), on="period")
    np.testing.assert_allclose(both["auc_x"], both["auc_y"], rtol=1e-12)
    assert both["events_x"].tolist() == both["events_y"].tolist()
    assert weighted.performance[0].change_note.startswith("no test of the AUC change: weighted")
    # Weighted counts keep their sums through the state's document, and add up.
    early = data["opened"] < "2024-04-01"
    first = tl.monitor(
        card,
        data[early].assign(w=w[early]),
        reference=CREDIT.assign(w=ref_w),
        weight="w",
        **options,
    )
    state = tl.MonitorState.from_json(first.state.to_json())
    for half in (data[~early].iloc[::2], data[~early].iloc[1::2]):
        state = state.add(card, half.assign(w=w[half.index]), **options)
    for part in ("characteristics", "calibration"):
        pd.testing.assert_frame_equal(
            state.result().to_frame(part), weighted.to_frame(part), rtol=1e-12
        )


@pytest.mark.parametrize("fitted", ["card", "binning"])
def test_the_monitor_method_is_the_function(card, monitored, fitted):
    data, _ = monitored
    model = card if fitted == "card" else card.binning
    options = {"period": "opened", "frequency": "month", "target": TARGET, "reference": CREDIT}
    method, function = model.monitor(data, **options), tl.monitor(model, data, **options)
    assert method.state.to_json() == function.state.to_json()
    assert str(method) == str(function)
