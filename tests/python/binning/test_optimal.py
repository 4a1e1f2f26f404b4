"""Optimal binning in the package: the limits met on real columns, the same
bins with the classes swapped, and errors that name what cannot be met."""

import numpy as np
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl

from tessaline._binning.optimal import TableIV
from tessaline._core import native
from tessaline._woe import weight_of_evidence
from tessaline.report._dataset import read_dataset

CREDIT = read_dataset(ROOT / "examples" / "data" / "germancredit.csv", "creditability", "bad")


@pytest.mark.parametrize("name", sorted(CREDIT.numeric))
@pytest.mark.parametrize("trend", ["auto", "peak", "none"])
def test_german_credit_bins_meet_their_limits_whichever_class_is_the_event(name, trend):
    x, y = CREDIT.numeric[name], CREDIT.target
    table = tl.optimal_binning(x, y, max_bins=5, min_bin_share=0.1, trend=trend)
    rows = table.to_frame()
    assert 1 <= table.n_bins <= 5 and table.method == "optimal"
    # By default every bin holds at least 5 events and 5 non-events.
    assert (rows["percentage"] >= 0.1).all() and (rows["c0"] >= 5).all() and (rows["c1"] >= 5).all()
    steps = np.sign(np.diff(rows["event_rate"]))
    if trend == "auto":
        assert abs(steps.sum()) == len(steps)  # strictly monotone
    # Swapping the classes mirrors the event rate: a peak becomes a valley.
    mirrored = {"peak": "valley"}.get(trend, trend)
    swapped = tl.optimal_binning(x, 1.0 - y, max_bins=5, min_bin_share=0.1, trend=mirrored)
    assert np.array_equal(swapped.splits, table.splits)


def test_auto_notes_a_much_better_valley_that_auto_all_chooses():
    x, y = CREDIT.numeric["credit_amount"], CREDIT.target
    auto, every = (tl.optimal_binning(x, y, trend=t) for t in ("auto", "auto_all"))
    assert auto.metadata["trend"] == "ascending" and every.metadata["trend"] == "valley"
    assert_noted(auto, every)
    assert "shape_note" not in every.metadata and every.information_value > 0.24
    fitted = tl.TableBinning().fit({"credit_amount": x, "age": CREDIT.numeric["age_in_years"]}, y)
    assert fitted.summary[0].note == auto.metadata["shape_note"]
    assert "a valley fits better" in str(fitted)


@pytest.mark.parametrize("weighted", [False, True])
def test_the_noted_ivs_are_those_of_the_tables_with_their_missing_and_special_rows(weighted):
    x, y = CREDIT.numeric["credit_amount"].copy(), CREDIT.target
    x[CREDIT.numeric["age_in_years"] < 25] = np.nan
    x[CREDIT.numeric["duration_in_month"] > 40] = -1.0
    options = {"special_values": [-1.0], "sample_weight": np.ones(x.size) if weighted else None}
    auto, every = (tl.optimal_binning(x, y, trend=t, **options) for t in ("auto", "auto_all"))
    assert auto.metadata["trend"] == "ascending" and every.metadata["trend"] == "valley"
    assert_noted(auto, every)


def assert_noted(auto, every):
    assert auto.metadata["shape_note"] == (
        f"a valley fits better (IV {every.information_value:.4f} against "
        f"{auto.information_value:.4f}): trend='auto_all'"
    )


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (
            {"min_events": 301},
            "optimal binning of x: the column holds fewer events than min_events",
        ),
        ({"min_non_events": 701}, "fewer non-events than min_non_events"),
        ({"trend": "up"}, "trend"),
    ],
)
def test_unmet_limits_are_named(kwargs, message):
    with pytest.raises(ValueError, match=message):
        tl.optimal_binning(CREDIT.numeric["age_in_years"], CREDIT.target, **kwargs)


def test_categories_are_grouped_optimally_in_event_rate_order():
    table = tl.categorical_binning(
        CREDIT.categorical["purpose"],
        CREDIT.target,
        method="optimal",
        limits={"max_bins": 4, "min_bin_share": 0.1},
    )
    rows = table.to_frame()
    assert table.method == "optimal" and table.n_bins <= 4 and (rows["percentage"] >= 0.1).all()
    assert (np.diff(rows["event_rate"]) > 0).all()
    assert sorted(c for names in table.bin_categories for c in names) == sorted(
        {c for c in CREDIT.categorical["purpose"] if c is not None} - set(table.pooled_categories)
    )


def test_the_whole_table_passes_its_limits_to_every_column():
    columns = {**CREDIT.numeric, **CREDIT.categorical}
    fitted = tl.TableBinning(
        max_bins=3, min_bin_share=0.2, columns={"age_in_years": {"max_bins": 2}}
    ).fit(columns, CREDIT.target)
    for name, table in fitted.tables.items():
        assert table.n_bins <= (2 if name == "age_in_years" else 3), name
        assert (table["percentage"][: table.n_bins] >= 0.2).all(), name


@pytest.mark.parametrize(
    "kind, limits",
    [
        ("continuous", {}),
        ("ties", {}),
        # Counts of arrears, mostly zero: bins whose median is zero, read
        # from the counts alone, and the same with half the zeros -0.0.
        ("zeros", {}),
        ("signed zeros", {}),
        # A bin of one row holding -0.0: the rows keep its sign, the counts do not.
        ("lone zero", {"min_bin_share": 0, "min_events": 0, "min_non_events": 0, "trend": "none"}),
    ],
)
@pytest.mark.parametrize("representative", ["median", "mean"])
def test_rows_read_from_counts_equal_a_pass_over_the_rows(kind, limits, representative):
    # The table's rows come from the column's counts; a pass over the rows of
    # known target with the same cut points gives the same bits, the sign of
    # a zero median and the input order of a mean included.
    import _tessaline

    rng = np.random.default_rng(5)
    if kind == "lone zero":
        x, y = np.array([-0.0, 1, 1, 2, 2, 3, 3]), np.array([1, 0, 0, 1, 1, 0, 0.0])
    else:
        n = 30_000
        if kind == "continuous":
            x = rng.normal(size=n)
        elif kind == "ties":
            x = rng.integers(-3, 4, size=n) * 0.5
        else:
            x = rng.poisson(0.4, size=n).astype(float)
            if kind == "signed zeros":
                x[(x == 0) & (rng.random(n) < 0.5)] = -0.0
        x[rng.random(n) < 0.03] = np.nan
        x[rng.random(n) < 0.01] = np.inf
        y = (rng.random(n) < 0.25 + 0.1 * np.tanh(np.nan_to_num(x, posinf=1))).astype(float)
        y[rng.random(n) < 0.02] = np.nan
    table = tl.optimal_binning(x, y, representative=representative, **limits)
    known = ~np.isnan(y)
    rows = _tessaline.binning_summary_binary(
        x[known], y[known].astype(np.int32), table.splits, representative
    )
    for column in ("left", "right", "count", "c0", "c1", "percentage", "representative"):
        assert np.asarray(table[column]).tobytes() == np.asarray(rows[column]).tobytes(), column
    assert (np.asarray(table["representative"]) == 0.0).any() or "zeros" not in kind


@pytest.mark.parametrize("seed", range(4))
def test_the_shapes_are_bounded_by_the_ivs_of_their_intervals(seed):
    # Rows outside the search change every interval's share; a grouping's
    # table IV stays below the bound read from its intervals' own IV.
    rng = np.random.default_rng(seed)
    c0, c1 = (rng.integers(1, 60, 12).astype(np.float64) for _ in range(2))
    table = TableIV(c0, c1, (rng.integers(0, 300, 3), rng.integers(0, 90, 3)))
    for _ in range(50):
        first = np.r_[0, np.sort(rng.choice(np.arange(1, 12), rng.integers(0, 8), replace=False))]
        grouped = (np.add.reduceat(c, first) for c in (c0, c1))
        alone = weight_of_evidence(*grouped)[2]
        assert table.iv({"first": first}) <= table.bound(alone) + 1e-12


@pytest.mark.parametrize("trend", ["auto", "auto_all", "descending"])
@pytest.mark.parametrize("n_jobs", [1, 2])
def test_the_test_reads_the_fits_own_search_as_its_own_search_would_find_it(
    monkeypatch, trend, n_jobs
):
    # Weak columns near the level, so that the draws run long.
    rng = np.random.default_rng(4)
    x = {name: v + rng.normal(0, 40 * v.std(), v.size) for name, v in CREDIT.numeric.items()}
    x["credit_amount"][CREDIT.numeric["age_in_years"] < 25] = np.nan
    options = {"trend": trend, "iv_permutations": 400, "n_jobs": n_jobs, "min_iv": 0.0}
    given = []
    test = native.iv_permutation_test

    def searching(*args, observed_firsts=None, **kwargs):
        given.append(observed_firsts is not None)
        return test(*args, **kwargs)

    read = tl.TableBinning(**options).fit(x, CREDIT.target)
    monkeypatch.setattr(native, "iv_permutation_test", searching)
    searched = tl.TableBinning(**options).fit(x, CREDIT.target)
    assert given and all(given)
    assert read.to_json() == searched.to_json()


@pytest.mark.parametrize(
    "firsts, message",
    [
        (["first"], "each observed grouping must be an array of integers"),
        ([[-1]], "an observed grouping must start at pre-bin 0 and rise below"),
        ([[0], [0]], "observed_firsts must hold one grouping per shape searched"),
    ],
)
def test_malformed_observed_groupings_are_refused(firsts, message):
    arguments = {
        "max_bins": 4,
        "min_bin_share": 0.0,
        "min_events": 1.0,
        "min_non_events": 1.0,
        "trend": "ascending",
        "max_pvalue": 1.0,
        "max_draws": 10,
        "checks": [],
        "below": [],
        "above": [],
        "sure_pvalue": 0.0,
        "seed": 0,
        "rate_order": False,
    }
    with pytest.raises(ValueError, match=message):
        native.iv_permutation_test(
            [5, 6, 7], [1, 2, 3], [], [], observed_firsts=firsts, **arguments
        )
