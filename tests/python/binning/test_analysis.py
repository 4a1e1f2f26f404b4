"""Between-bin analysis: each neighbour test equals SciPy's chi-square test of
the 2 x 2 table, the spread statistics their definitions, and optimal
binning under `max_pvalue` keeps no neighbours the test cannot tell apart."""

import numpy as np
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl
from scipy.spatial.distance import jensenshannon
from scipy.stats import chi2_contingency

from tessaline.report._dataset import read_dataset

CREDIT = read_dataset(ROOT / "examples" / "data" / "germancredit.csv", "creditability", "bad")


@pytest.mark.parametrize("name", sorted(CREDIT.numeric))
def test_analysis_of_german_credit_tables_equals_scipy(name):
    table = tl.optimal_binning(
        CREDIT.numeric[name], CREDIT.target, max_bins=6, min_bin_share=0.05, trend="none"
    )
    result = table.analysis()
    c0, c1 = np.asarray(table["c0"], float), np.asarray(table["c1"], float)
    assert len(result.tests) == table.n_bins - 1
    for t in result.tests:
        i = t.first
        chi2, p, _, _ = chi2_contingency([[c0[i], c1[i]], [c0[i + 1], c1[i + 1]]], correction=False)
        assert t.statistic == pytest.approx(chi2, rel=1e-10)
        assert t.pvalue == pytest.approx(p, rel=1e-10)
        assert t.labels == (table.labels[i], table.labels[i + 1])
    e, n, share = c1 / c1.sum(), c0 / c0.sum(), (c0 + c1) / (c0 + c1).sum()
    assert result.js_divergence == pytest.approx(jensenshannon(e, n) ** 2, rel=1e-10)
    assert result.hellinger**2 == pytest.approx(1 - np.sum(np.sqrt(e * n)), rel=1e-10)
    assert result.hhi == pytest.approx(np.sum(share**2), rel=1e-12)
    assert "Jensen-Shannon" in str(result) and "p-value" in str(result)


@pytest.mark.parametrize("name", ["age_in_years", "credit_amount", "duration_in_month"])
@pytest.mark.parametrize("max_pvalue", [0.01, 0.05, 0.2])
def test_max_pvalue_leaves_no_indistinct_neighbours_and_costs_iv(name, max_pvalue):
    x, y = CREDIT.numeric[name], CREDIT.target
    free = tl.optimal_binning(x, y, trend="none", min_bin_share=0.02)
    limited = tl.optimal_binning(x, y, trend="none", min_bin_share=0.02, max_pvalue=max_pvalue)
    assert limited.analysis().max_pvalue <= max_pvalue or limited.n_bins == 1
    assert limited.information_value <= free.information_value
    assert limited.metadata["max_pvalue"] == max_pvalue


def test_no_limit_and_a_limit_of_one_give_identical_bins():
    x, y = CREDIT.numeric["credit_amount"], CREDIT.target
    plain = tl.optimal_binning(x, y)
    assert "max_pvalue" not in plain.metadata
    one = tl.optimal_binning(x, y, max_pvalue=1.0)
    assert np.array_equal(plain.splits, one.splits)
    assert plain.information_value == one.information_value


@pytest.mark.parametrize("bad, error", [(-0.1, ValueError), (1.5, ValueError), ("a", TypeError)])
def test_max_pvalue_must_be_a_probability(bad, error):
    with pytest.raises(error, match=r"^max_pvalue must be a number from 0 to 1, not "):
        tl.optimal_binning(CREDIT.numeric["age_in_years"], CREDIT.target, max_pvalue=bad)
