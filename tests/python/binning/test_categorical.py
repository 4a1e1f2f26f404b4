"""Categorical binning against a plain reference on hand-made tables, and the
targets as analysts hold them."""

import warnings

import numpy as np
import pytest
from package_under_test import tessaline as tl

# (category, rows, events): rates 0.1 B, 0.2 A and C (tie: by name), 0.5 D; the
# 1%-rare E and F pool into one group at rate 1/3.
CELLS = [("A", 300, 60), ("B", 200, 20), ("C", 300, 60), ("D", 180, 90), ("E", 10, 3), ("F", 10, 4)]


def hand_table(missing=20):
    x, y = [], []
    for name, rows, events in CELLS:
        x += [name] * rows
        y += [1] * events + [0] * (rows - events)
    x += [None] * missing
    y += [1] * (missing // 2) + [0] * (missing - missing // 2)
    return np.array(x, dtype=object), np.array(y)


def reference_order(x, y, min_share):
    names = sorted({v for v in x if v is not None})
    share = {n: np.mean(x == n) for n in names}
    pooled = [n for n in names if share[n] < min_share]
    group = {n: "other" if n in pooled else n for n in names}
    rates = {}
    for g in set(group.values()):
        rows = np.isin(x, [n for n in names if group[n] == g])
        rates[g] = y[rows].mean()
    return sorted(rates, key=lambda g: (rates[g], g)), pooled


@pytest.mark.parametrize("min_share", [0.0, 0.011, 0.25])
def test_bins_follow_the_event_rate_order_with_rare_categories_pooled(min_share):
    x, y = hand_table()
    table = tl.categorical_binning(
        x, y, method="mdlp", minobs=0, min_share=min_share, force_first_split=True
    )
    order, pooled = reference_order(x, y, min_share)
    assert [c for names in table.bin_categories for c in names] == [
        g for g in order if g != "other"
    ]
    assert list(table.pooled_categories) == pooled
    for b, names in enumerate(table.bin_categories):
        rows = np.isin(x, [*names, *(pooled if b == table.pooled_bin else [])])
        assert table["count"][b] == rows.sum() and table["c1"][b] == y[rows].sum()
    assert table.has_missing_row and table["count"][-1] == 20
    assert table.labels[-1] == "missing" and table.kind == "categorical"


def test_unseen_and_pooled_categories_go_to_the_other_bin_then_the_missing_row():
    x, y = hand_table()
    table = tl.categorical_binning(x, y, method="mdlp", minobs=0)
    other = table.pooled_bin
    assert table.transform(["E", "zzz", None, "A"]).tolist() == [
        other,
        other,
        -1,
        table.transform(["A"])[0],
    ]
    no_pool = tl.categorical_binning(x, y, method="mdlp", minobs=0, min_share=0.0)
    woe = no_pool.transform(["zzz", None], output="woe")
    assert no_pool.transform(["zzz"]).tolist() == [-1] and woe[0] == woe[1] == no_pool["woe"][-1]
    bare = tl.categorical_binning(x[:1000], y[:1000], method="mdlp", minobs=0, min_share=0.0)
    with pytest.warns(tl.UnseenCategoryWarning, match="'zzz'"):
        assert bare.transform(["zzz"], output="woe").tolist() == [0.0]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        bare.transform(["A"])


def test_a_real_category_named_other_stays_apart_from_the_pooled_group():
    x, y = hand_table()
    x[x == "B"] = "other"
    table = tl.categorical_binning(
        x,
        y,
        method="optimal",
        limits={"max_bins": 9, "min_bin_share": 0, "min_events": 0, "min_non_events": 0},
    )
    real = table.transform(["other"])[0]
    assert real != table.pooled_bin and table["count"][real] == 200
    assert table["count"][table.pooled_bin] == 20
    assert table.labels[table.pooled_bin] == "other (pooled: E, F)"
    # A document written before the pooled group had its own field names it
    # "other" among its bin's categories.
    old = tl.categorical_binning(*hand_table(), method="mdlp", minobs=0).to_dict()
    b = old.pop("pooled_bin")
    old["bin_categories"][b].append("other")
    assert tl.BinningTable.from_dict(old).transform(["E", "zzz"]).tolist() == [b, b]


@pytest.mark.parametrize(
    "make",
    [
        lambda x: __import__("pandas").Series(x, dtype="category"),
        lambda x: __import__("pyarrow").array(x.tolist()),
        lambda x: __import__("polars").Series(x.tolist()),
        lambda x: np.ma.masked_array(np.where(x == None, "A", x).astype(str), mask=x == None),  # noqa: E711
    ],
)
def test_input_libraries_give_the_same_table(make):
    x, y = hand_table()
    want = tl.categorical_binning(x, y, method="mdlp", minobs=0)
    got = tl.categorical_binning(make(x), y, method="mdlp", minobs=0)
    assert got.bin_categories == want.bin_categories
    np.testing.assert_array_equal(got["count"], want["count"])


X = np.repeat([1.0, 2.0, 3.0, 4.0], 50)
FLAGS = np.repeat([0, 0, 1, 1], 50)


@pytest.mark.parametrize(
    "y, kwargs",
    [
        (np.where(FLAGS == 1, "bad", "good"), {"event": "bad"}),
        (FLAGS.astype(bool), {}),
        (FLAGS + 1, {"event": 2}),
        (FLAGS.astype(object), {}),
        (np.where(FLAGS == 1, 2.5, 0.5), {"value": 1.0}),
        (
            __import__("pandas").Series(np.where(FLAGS == 1, "bad", "good"), dtype="category"),
            {"event": "bad"},
        ),
    ],
)
def test_targets_as_analysts_hold_them(y, kwargs):
    want = tl.mdlp_binning(X, FLAGS, minobs=0)
    got = tl.mdlp_binning(X, y, minobs=0, **kwargs)
    np.testing.assert_array_equal(got["c1"], want["c1"])
    np.testing.assert_array_equal(got.splits, want.splits)


@pytest.mark.parametrize(
    "y, kwargs, message",
    [
        (
            np.append(FLAGS[:-1], 2),
            {},
            r"the target is not 0/1 \(values found: 0, 1, 2\): give event=",
        ),
        (np.where(FLAGS == 1, "bad", "good"), {}, r"values found: bad, good\)"),
        (
            np.where(FLAGS == 1, "bad", "good"),
            {"event": "Bad"},
            "no row of the target holds the "
            r"event value 'Bad' \(values found: bad, good\)",
        ),
    ],
)
def test_a_target_that_is_not_0_1_is_an_error_naming_its_values(y, kwargs, message):
    with pytest.raises(tl.TargetError, match=message):
        tl.mdlp_binning(X, y, **kwargs)


@pytest.mark.parametrize("unseen", ["zero", "riskiest", -0.7])
def test_special_values_have_rows_of_their_own_out_of_the_search(unseen):
    x = np.where(np.arange(X.size) % 4 == 0, -999.0, X)
    table = tl.mdlp_binning(x, FLAGS, minobs=0, special_values=[-999, 999999])
    plain = tl.mdlp_binning(x[x != -999], FLAGS[x != -999], minobs=0)
    np.testing.assert_array_equal(table.splits, plain.splits)
    assert table.labels[-2:] == ["special -999", "special 999999"]
    assert table["count"][-2:].tolist() == [50, 0] and table["percentage"].sum() == 1.0
    special_woe = table["woe"][table.n_bins]
    # Values training never saw (a special value without rows, a missing
    # value without a row) warn and get the WoE `unseen` chooses.
    fill = {"zero": 0.0, "riskiest": max(table["woe"][table["count"] > 0])}.get(unseen, unseen)
    with pytest.warns(tl.UnseenValueWarning, match=r"\(special 999999, missing\) of .* get WoE"):
        assert table.transform(
            [-999.0, 999999.0, np.nan], output="woe", unseen=unseen
        ).tolist() == [special_woe, fill, fill]
    assert table.transform([-999.0, 999999.0]).tolist() == [table.n_bins, table.n_bins + 1]
