"""Variable selection on WoE columns against statsmodels and SciPy, and the
stepwise scorecard on German credit: held-out AUC on five stratified splits."""

import re

import numpy as np
import pytest
import statsmodels.api as sm
from package_under_test import ROOT
from package_under_test import tessaline as tl
from scipy import stats
from statsmodels.stats.outliers_influence import variance_inflation_factor

from tessaline.report._dataset import read_dataset

CREDIT = read_dataset(ROOT / "examples" / "data" / "germancredit.csv", "creditability", "bad")
BINNING = tl.TableBinning().fit({**CREDIT.numeric, **CREDIT.categorical}, CREDIT.target)
WOE = {
    k: np.asarray(v, float)
    for k, v in BINNING.transform(
        {**CREDIT.numeric, **CREDIT.categorical}, output="woe", columns=BINNING.selected
    ).items()
}
NAMES = sorted(WOE)[:6]


def test_logistic_fit_equals_statsmodels():
    fit = tl.logistic_fit({n: WOE[n] for n in NAMES}, CREDIT.target)
    x = sm.add_constant(np.column_stack([WOE[n] for n in NAMES]))
    ref = sm.Logit(CREDIT.target, x).fit(disp=0, tol=1e-14, maxiter=100)
    for ours, theirs in (
        (fit.coefficients, ref.params),
        (fit.std_errors, ref.bse),
        (fit.pvalues, ref.pvalues),
    ):
        np.testing.assert_allclose(ours, theirs, rtol=1e-9)
    assert (fit.log_likelihood, fit.aic, fit.bic) == pytest.approx(
        (ref.llf, ref.aic, ref.bic), rel=1e-10
    )
    assert fit.contradicting == tuple(n for n, b in zip(NAMES, ref.params[1:]) if b <= 0)


def test_weights_fit_and_select_as_the_rows_repeated():
    w = np.random.default_rng(6).integers(0, 4, CREDIT.target.size)
    y, repeated_y = CREDIT.target, np.repeat(CREDIT.target, w)
    got = tl.logistic_fit({n: WOE[n] for n in NAMES}, y, sample_weight=w)
    want = tl.logistic_fit({n: np.repeat(WOE[n], w) for n in NAMES}, repeated_y)
    for field in ("coefficients", "std_errors", "pvalues"):
        np.testing.assert_allclose(getattr(got, field), getattr(want, field), rtol=1e-9)
    assert (got.log_likelihood, got.bic, got.n_rows) == pytest.approx(
        (want.log_likelihood, want.bic, want.n_rows), rel=1e-12
    )
    steps = tl.stepwise(WOE, y, sample_weight=w).steps
    repeated = tl.stepwise({n: np.repeat(v, w) for n, v in WOE.items()}, repeated_y).steps
    assert [(s.action, s.variable) for s in steps] == [(s.action, s.variable) for s in repeated]
    assert [s.aic for s in steps] == pytest.approx([s.aic for s in repeated], rel=1e-12)


def test_vif_and_correlations_equal_statsmodels_and_scipy():
    columns = {n: WOE[n] for n in NAMES}
    x = sm.add_constant(np.column_stack(list(columns.values())))
    got = tl.vif(columns)
    for j, n in enumerate(NAMES):
        assert got[n] == pytest.approx(variance_inflation_factor(x, j + 1), rel=1e-10)
    for method, reference in (("pearson", stats.pearsonr), ("spearman", stats.spearmanr)):
        names, matrix = tl.correlation(columns, method=method)
        assert names == tuple(NAMES)
        want = reference(columns[NAMES[0]], columns[NAMES[1]]).statistic
        assert matrix[0, 1] == pytest.approx(want, rel=1e-10)


@pytest.mark.parametrize(
    "bad, message",
    [
        ([1.0, np.nan, 2.0, 0.0], "vif: column 'b' holds 1 missing or infinite value(s); "),
        ([3.0, 3.0, 3.0, 3.0], "vif: column 'b' is constant, so its variance inflation "),
    ],
)
def test_vif_names_a_column_it_cannot_use(bad, message):
    with pytest.raises(ValueError, match="^" + re.escape(message)):
        tl.vif({"a": [1.0, 2.0, 4.0, 3.0], "b": bad, "c": [0.0, 1.0, 1.0, 3.0]})


@pytest.mark.parametrize("direction", ["forward", "backward", "both"])
@pytest.mark.parametrize("criterion", ["aic", "bic", "pvalue"])
def test_every_step_improves_and_the_steps_rebuild_the_selection(direction, criterion):
    result = tl.stepwise(WOE, CREDIT.target, direction=direction, criterion=criterion)
    chosen = set(WOE) if direction == "backward" else set()
    for step in result.steps:
        chosen = chosen | {step.variable} if step.action == "add" else chosen - {step.variable}
    assert chosen == set(result.selected)
    if criterion != "pvalue":
        values = [getattr(s, criterion) for s in result.steps]
        assert values == sorted(values, reverse=True)
    else:
        assert result.model.pvalues[1:].max() <= 0.10 or direction == "forward"
    assert "selection by" in str(result)


# Measured on these splits: the default card 0.7996, the stepwise card with
# the default card's penalised refit 0.7949 (unpenalised: 0.7932). AIC
# leaves out housing and property, whose p-values on entry are 0.2 to 0.4;
# held out they still add a little.
def test_stepwise_scorecard_holds_out_at_least_the_default_auc():
    # Every column the default card keeps earns its place on held-out rows
    # (removing any costs AUC), so the selection runs over every binned
    # column, weak ones included, by the p-values of a lenient entry and
    # removal, and keeps no more variables than the default card.
    import pandas as pd
    from sklearn.linear_model import LogisticRegression
    from sklearn.model_selection import train_test_split

    frame = pd.read_csv(ROOT / "examples" / "data" / "germancredit.csv")
    aucs = []
    for seed in range(5):
        train, test = train_test_split(
            frame, test_size=0.3, stratify=frame["creditability"], random_state=seed
        )
        # Against the selection by IV alone, which the stepwise one refines.
        plain = tl.Scorecard(tl.TableBinning(event="bad", max_iv_pvalue=None), event="bad").fit(
            train, "creditability"
        )
        stepwise = tl.StepwiseLogistic(
            criterion="pvalue",
            p_enter=0.3,
            p_remove=0.4,
            max_variables=len(plain.variables),
            refit=LogisticRegression(max_iter=1000),
        )
        card = tl.Scorecard(
            tl.TableBinning(event="bad", min_iv=0.0, max_iv_pvalue=None),
            estimator=stepwise,
            event="bad",
        ).fit(train, "creditability")
        aucs.append([c.performance(test, "creditability").auc for c in (card, plain)])
        assert not card.model_fit(train, "creditability").contradicting
        assert len(card.variables) <= len(plain.variables)
    ours, default = np.mean(aucs, axis=0)
    assert ours >= default, aucs


@pytest.mark.parametrize(
    "columns, message",
    [
        (
            {"a": [0.0, 1.0, 2.0, 3.0]},
            "the logistic regression on a does not converge: the columns separate the classes",
        ),
        (
            {"a": [1.0, 2.0, 3.0, 4.0], "b": [2.0, 4.0, 6.0, 8.0]},
            "the columns a, b and the intercept are linearly dependent",
        ),
    ],
)
def test_a_model_that_cannot_be_fitted_is_named(columns, message):
    with pytest.raises(ValueError, match=f"^{message}"):
        tl.logistic_fit(columns, [0, 0, 1, 1])


def test_a_stepwise_card_that_keeps_no_variable_says_so():
    with pytest.raises(ValueError, match=r"^the estimator kept no variable"):
        tl.Scorecard(BINNING, tl.StepwiseLogistic(criterion="pvalue", p_enter=1e-300)).fit(
            {**CREDIT.numeric, **CREDIT.categorical}, CREDIT.target
        )


@pytest.mark.parametrize(
    "c0, c1",
    [
        ([30, 20], [10, 20]),  # 16/3 on 1 df, as the core's test of two bins gives
        ([50, 0, 40, 7], [10, 0, 30, 3]),  # a row without records takes no part
        ([12, 80, 33, 5, 9], [7, 11, 20, 1, 6]),
    ],
)
def test_the_chi_square_of_the_bins_is_scipys(c0, c1):
    held = np.add(c0, c1) > 0
    ref = stats.chi2_contingency(np.column_stack([c0, c1])[held], correction=False)
    statistic, df, pvalue = tl._selection.bins_chi_square(c0, c1)
    assert df == ref.dof and statistic == pytest.approx(ref.statistic, rel=1e-12)
    assert pvalue == pytest.approx(ref.pvalue, rel=1e-9)


@pytest.mark.parametrize("c0, c1", [([5], [3]), ([5, 7], [0, 0]), ([0, 4], [0, 2])])
def test_a_table_of_one_row_or_one_class_is_no_evidence(c0, c1):
    assert tl._selection.bins_chi_square(c0, c1)[::2] == (0.0, 1.0)


def test_collinear_drops_leave_out_the_weaker_column_of_a_pair_and_the_largest_vif():
    rng = np.random.default_rng(3)
    a, b, c = rng.normal(size=(3, 2000))
    near_a = a + rng.normal(scale=0.1, size=2000)
    woe = {
        "a": a,
        "near_a": near_a,
        "b": b,
        "c": c,
        "sum": a + b + rng.normal(scale=0.1, size=2000),
    }
    by_correlation = tl._selection.collinear_drops(woe, 0.9, None)
    assert [(d.column, d.rule, d.detail) for d in by_correlation] == [
        ("near_a", "correlation", "with a")
    ]
    assert by_correlation[0].value == pytest.approx(abs(np.corrcoef(a, near_a)[0, 1]))
    without = {k: v for k, v in woe.items() if k != "near_a"}
    by_vif = tl._selection.collinear_drops(without, None, 10.0)
    assert [(d.column, d.rule) for d in by_vif] == [("sum", "vif")]
    assert by_vif[0].value == pytest.approx(tl.vif(without)["sum"])
    assert str(by_vif[0]).startswith("sum: drop by vif (")
