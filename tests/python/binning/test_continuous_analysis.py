"""Tests between the bins of a continuous target: each neighbour test equals
SciPy's Welch t-test from the bins' weight, mean and spread, and continuous
binning under `max_pvalue` keeps no neighbours the test cannot tell apart."""

import math

import numpy as np
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl
from scipy.stats import ttest_ind_from_stats

from tessaline.report._dataset import read_dataset

CREDIT = read_dataset(ROOT / "examples" / "data" / "germancredit.csv", "creditability", "bad")
AMOUNT = CREDIT.numeric["credit_amount"]


def assert_tests_equal_scipy(table):
    result = table.analysis()
    w, mean, dev = (np.asarray(table[k], float) for k in ("weight", "mean", "sum_sq_dev"))
    assert len(result.tests) == table.n_bins - 1
    for t in result.tests:
        a, b = t.first, t.first + 1
        want = ttest_ind_from_stats(
            mean[a], math.sqrt(dev[a] / (w[a] - 1)), w[a],
            mean[b], math.sqrt(dev[b] / (w[b] - 1)), w[b],
            equal_var=False,
        )  # fmt: skip
        assert t.statistic == pytest.approx(want.statistic, rel=1e-12)
        assert t.pvalue == pytest.approx(want.pvalue, rel=1e-9)
        assert t.labels == (table.labels[a], table.labels[b])
    return result


def test_neighbours_whose_means_do_not_differ_are_merged():
    # Low targets whose spread hides any difference of means between the
    # first three rows and the next five, then four far above.
    x = np.arange(1.0, 13.0)
    y = [0, 1, 0, 1, 1.4, 0.6, 1.8, 0.2, 10, 11, 10, 11]
    options = {"max_bins": 3, "min_bin_share": 0, "trend": "none"}
    free = tl.continuous_binning(x, y, **options)
    np.testing.assert_array_equal(free.splits, [3.0, 8.0])
    assert assert_tests_equal_scipy(free).tests[0].pvalue > 0.05
    tested = tl.continuous_binning(x, y, max_pvalue=0.05, **options)
    np.testing.assert_array_equal(tested.splits, [8.0])
    assert tested.metadata["max_pvalue"] == 0.05
    assert assert_tests_equal_scipy(tested).max_pvalue < 1e-6


@pytest.mark.parametrize("name", ["duration_in_month", "age_in_years"])
@pytest.mark.parametrize("max_pvalue", [0.01, 0.2])
def test_max_pvalue_leaves_no_indistinct_neighbours_and_costs_r_squared(name, max_pvalue):
    x = CREDIT.numeric[name]
    free = tl.continuous_binning(x, AMOUNT, trend="none", min_bin_share=0.02)
    limited = tl.continuous_binning(
        x, AMOUNT, trend="none", min_bin_share=0.02, max_pvalue=max_pvalue
    )
    tested = assert_tests_equal_scipy(limited)
    assert tested.max_pvalue <= max_pvalue or limited.n_bins == 1
    assert limited.between_ss <= free.between_ss
    # A limit of one is no limit.
    one = tl.continuous_binning(x, AMOUNT, trend="none", min_bin_share=0.02, max_pvalue=1.0)
    assert one.to_dict()["rows"] == free.to_dict()["rows"]


def test_the_table_binning_takes_the_limit_per_column():
    data = {name: CREDIT.numeric[name] for name in ("duration_in_month", "age_in_years")}
    binning = tl.TableBinning(
        target="continuous", max_pvalue=0.01, columns={"age_in_years": {"max_pvalue": 0.2}}
    ).fit({**data, "amount": AMOUNT}, "amount")
    for name, limit in (("duration_in_month", 0.01), ("age_in_years", 0.2)):
        alone = tl.continuous_binning(data[name], AMOUNT, max_pvalue=limit, name=name)
        assert binning.tables[name].to_json() == alone.to_json()
    assert tl.from_json(binning.to_json()).to_json() == binning.to_json()


@pytest.mark.parametrize(
    "call",
    [
        lambda bad: tl.continuous_binning([1, 2], [1, 2], max_pvalue=bad),
        lambda bad: tl.TableBinning(target="continuous", max_pvalue=bad),
    ],
)
@pytest.mark.parametrize("bad, error", [(1.5, ValueError), ("a", TypeError)])
def test_max_pvalue_must_be_a_probability(call, bad, error):
    with pytest.raises(error, match=r"^max_pvalue must be a number from 0 to 1, not "):
        call(bad)
