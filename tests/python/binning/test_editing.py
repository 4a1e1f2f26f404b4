"""Edits of a fitted table: each equals, bit for bit, a fresh fit on the rows
with the resulting cut points or groups; cuts fixed by the analyst with the
rest re-optimised equal the best of every admissible cut set; what cannot
be made is an EditError that says why."""

import itertools
import warnings

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from package_under_test import tessaline as tl

from tessaline._binning import basis

# Random edits break trends often; the warning is tested once, on its own.
pytestmark = [
    pytest.mark.filterwarnings("ignore::tessaline.exceptions.TrendWarning"),
    pytest.mark.filterwarnings("ignore::tessaline.exceptions.EmptyBinWarning"),
]

NUMERIC_FITS = {
    "optimal": lambda x, y, s, **w: tl.optimal_binning(
        x, y, special_values=s, min_bin_share=0.02, **w
    ),
    "quantile": lambda x, y, s, **w: tl.quantile_binning(x, y, n_bins=4, special_values=s, **w),
    "mdlp": lambda x, y, s, **w: tl.mdlp_binning(x, y, special_values=s, minobs=3, **w),
    "custom": lambda x, y, s, **w: tl.custom_binning(
        x, y, [5.0], special_values=s, representative="mean", **w
    ),
}


def weights(weighted, seed, n):
    """No weights, or fractional ones (zeros among them) for `sample_weight`."""
    w = np.random.default_rng(seed + 1).integers(0, 5, n) * 0.3
    return {"sample_weight": w} if weighted else {}


def plain(table):
    """A table's document without what tells how it was made (fit, search, edits)."""
    doc = table.to_dict()
    for key in ("method", "metadata", "split_log", "edits", "version"):
        doc.pop(key, None)
    return doc


def sample(seed, n=400):
    rng = np.random.default_rng(seed)
    x = rng.integers(0, 12, n).astype(float)
    x[rng.random(n) < 0.08] = -999.0
    x[rng.random(n) < 0.05] = np.nan
    x[rng.random(n) < 0.02] = np.inf
    y = (rng.random(n) < 0.15 + 0.05 * np.nan_to_num(x, posinf=12) % 7 / 7).astype(float)
    y[rng.random(n) < 0.03] = np.nan
    return x, y


def numeric_edit(draw, table):
    """One edit that applies to `table`, drawn at random."""
    cuts = [float(c) for c in table.splits]
    free = [v + 0.5 for v in range(-1, 12) if v + 0.5 not in cuts]
    codes = [v for v in (-999.0, 3.0, 7.0) if v not in table.special_values]
    choices = ["add_cut", "with_cuts"] + ["remove_cut", "move_cut"] * bool(cuts)
    choices += ["add_special"] * bool(codes)
    choices += ["merge"] * (table.n_bins > 1) + ["remove_special"] * bool(table.special_values)
    match draw(st.sampled_from(choices)):
        case "add_cut":
            return table.add_cut(draw(st.sampled_from(free)))
        case "remove_cut":
            return table.remove_cut(draw(st.sampled_from(cuts)))
        case "move_cut":
            return table.move_cut(draw(st.sampled_from(cuts)), draw(st.sampled_from(free)))
        case "merge":
            first = draw(st.integers(0, table.n_bins - 2))
            return table.merge(first, draw(st.integers(first + 1, table.n_bins - 1)))
        case "with_cuts":
            return table.with_cuts(sorted(draw(st.sets(st.sampled_from(free + cuts), max_size=5))))
        case "add_special":
            return table.add_special(draw(st.sampled_from(codes)))
        case _:
            return table.remove_special(draw(st.sampled_from(table.special_values)))


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    st.data(),
    st.sampled_from(sorted(NUMERIC_FITS)),
    st.integers(0, 2**16),
    st.sampled_from([(), (-999.0,)]),
    st.booleans(),
)
def test_numeric_edits_equal_a_fresh_fit_at_their_cut_points(data, fit, seed, specials, weighted):
    x, y = sample(seed)
    w = weights(weighted, seed, x.size)
    table = NUMERIC_FITS[fit](x, y, specials, **w)
    representative = "mean" if fit == "custom" else "median"
    for step in range(data.draw(st.integers(1, 5))):
        table = numeric_edit(data.draw, table)
        fresh = tl.custom_binning(
            x,
            y,
            table.splits,
            special_values=table.special_values,
            representative=representative,
            **w,
        )
        assert plain(table) == plain(fresh)
        assert len(table.edits) == step + 1 and table.edits[-1].after["bins"] == table.n_bins
    assert tl.BinningTable.from_json(table.to_json()).edits == table.edits


def categorical_edit(draw, table):
    bins = table.bin_categories
    names = [n for b in bins for n in b] + list(table.pooled_categories)
    n = table.n_bins

    # A bin's last category may leave it only when pooled rows stay there.
    def keeps_rows(i):
        return i == table.pooled_bin and bool(table.pooled_categories)

    movable = [
        name
        for name in names
        if not any(b == (name,) and not keeps_rows(i) for i, b in enumerate(bins))
    ]
    splittable = [i for i, b in enumerate(bins) if len(b) > 1 or (b and keeps_rows(i))]
    choices = (
        ["move"] * bool(movable)
        + ["split"] * bool(splittable)
        + ["merge", "send_unseen_to"] * (n > 1)
    )
    match draw(st.sampled_from(choices)):
        case "move":
            name = draw(st.sampled_from(movable))
            targets = [i for i, b in enumerate(bins) if name not in b]
            return table.move(name, draw(st.sampled_from([None, *targets])))
        case "split":
            b = draw(st.sampled_from(splittable))
            most = len(bins[b]) - (0 if keeps_rows(b) else 1)
            return table.split(
                b, draw(st.sets(st.sampled_from(bins[b]), min_size=1, max_size=most))
            )
        case "merge":
            a, b = draw(st.permutations(range(n)))[:2]
            return table.merge(a, b)
        case _:
            free = [i for i in range(n) if i != table.pooled_bin]
            return table.send_unseen_to(draw(st.sampled_from(free)))


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.data(), st.integers(0, 2**16), st.booleans())
def test_categorical_edits_equal_a_fresh_fit_with_their_groups(data, seed, weighted):
    rng = np.random.default_rng(seed)
    x = rng.choice(
        np.array(list("ABCDEFG") + [None], dtype=object),
        300,
        p=[0.3, 0.2, 0.2, 0.1, 0.1, 0.04, 0.03, 0.03],
    )
    y = (rng.random(300) < np.array([ord(c or "D") % 5 / 6 for c in x])).astype(float)
    w = weights(weighted, seed, x.size)
    table = tl.categorical_binning(x, y, min_share=0.05, method="mdlp", minobs=5, **w)
    for _ in range(data.draw(st.integers(1, 5))):
        table = categorical_edit(data.draw, table)
        fresh = tl.grouped_binning(x, y, table.bin_categories, pooled_group=table.pooled_bin, **w)
        assert plain(table) == plain(fresh)
    assert tl.BinningTable.from_json(table.to_json()).edits == table.edits


# -- cuts fixed by the analyst, the rest re-optimised ------------------------------
def admissible(x, y, cuts, limits):
    """The IV of the intervals at `cuts` when they meet `limits`, else None."""
    table = tl.custom_binning(x, y, cuts)
    c0, c1 = table["c0"][: table.n_bins], table["c1"][: table.n_bins]
    rows, rates = c0 + c1, table["event_rate"][: table.n_bins]
    steps = np.sign(np.diff(rates))
    trend = limits["trend"]
    if (
        (rows == 0).any()
        or (rows / rows.sum() < limits["min_bin_share"]).any()
        or (c1 < limits["min_events"]).any()
        or (c0 < limits["min_non_events"]).any()
        or table.n_bins > limits["max_bins"]
        or (trend == "ascending" and (steps <= 0).any())
        or (trend == "descending" and (steps >= 0).any())
    ):
        return None
    return tl.weight_of_evidence(c0, c1)[2]


@pytest.mark.parametrize("seed", range(12))
def test_cuts_around_fixed_ones_are_the_best_admissible_set(seed):
    rng = np.random.default_rng(seed)
    x = rng.integers(0, 8, 80).astype(float)
    y = (rng.random(80) < 0.2 + 0.08 * x * (seed % 3 - 1) ** 2).astype(float)
    limits = {
        "max_bins": [8, 3, 4][seed % 3],
        "min_bin_share": [0.0, 0.1][seed % 2],
        "min_events": seed % 3,
        "min_non_events": 1,
        "trend": ["none", "ascending", "descending"][seed // 4],
    }
    fixed = sorted(rng.choice(np.arange(7.0), size=1 + seed % 2, replace=False))
    table = tl.custom_binning(x, y, [])
    best = max(
        (
            (iv, -len(cuts), cuts)
            for r in range(8)
            for cuts in itertools.combinations(np.arange(7.0), r)
            if set(fixed) <= set(cuts) and (iv := admissible(x, y, list(cuts), limits)) is not None
        ),
        default=None,
        key=lambda c: c[:2],
    )
    if best is None:
        with pytest.raises(tl.EditError, match="the fixed cuts break the limit"):
            table.with_cuts(fixed, fixed=True, limits=limits)
        return
    edited = table.with_cuts(fixed, fixed=True, limits=limits)
    iv = admissible(x, y, list(edited.splits), limits)
    assert set(fixed) <= set(edited.splits) and iv == pytest.approx(best[0], rel=1e-12)


@pytest.mark.parametrize(
    "limits, message",
    [
        (
            {"min_events": 3},
            "the fixed cuts break the limit min_events = 3: a fixed cut leaves a bin "
            "with fewer events than min_events \\(the bin \\(-inf, 0\\]\\)",
        ),
        ({"min_bin_share": 0.3}, "limit min_bin_share = 0.3: .* \\(the bin \\(-inf, 0\\]\\)"),
        ({"max_bins": 1}, "limit max_bins = 1: the fixed cuts make more bins than max_bins$"),
        (
            {"trend": "descending"},
            "limit trend = 'descending': no grouping around the fixed cuts follows the trend",
        ),
        ({"bins": 3}, "unknown limit\\(s\\) bins; limits are max_bins, "),
        ({"fixed": [0.0, 9.0]}, "the fixed cuts leave the bin \\(9, \\+inf\\) without rows$"),
        # Limits left to their default: 5 events, or the column's 4 non-events.
        (
            {"min_events": None, "min_non_events": None},
            "the fixed cuts break the limit min_events "
            "= 5: a fixed cut leaves a bin with fewer events than min_events \\(the bin \\(-inf, 0",
        ),
    ],
)
def test_a_fixed_cut_that_breaks_a_limit_names_it(limits, message):
    x = np.array([0, 0, 1, 1, 2, 2, 3, 3, 4, 4], dtype=float)
    y = np.array([0, 1, 0, 0, 0, 1, 1, 1, 1, 1], dtype=float)
    with pytest.raises(tl.EditError, match=message):
        # One event and one non-event a bin, unless the case says otherwise.
        rest = {
            "min_events": 1,
            "min_non_events": 1,
            **{k: v for k, v in limits.items() if k != "fixed"},
        }
        tl.custom_binning(x, y, [2.0]).with_cuts(
            limits.get("fixed", [0.0]), fixed=True, limits=rest
        )


def test_the_fit_limits_hold_around_fixed_cuts_and_a_broken_trend_is_reported():
    x, y = sample(7, 3000)
    table = tl.optimal_binning(x, y, max_bins=4, trend="ascending", special_values=[-999])
    edited = table.with_cuts([5.5], fixed=True)
    assert 5.5 in edited.splits and edited.n_bins <= 4 and edited.edits[-1].trend == "ascending"
    assert edited.special_values == (-999.0,)
    # Event rates 10%, 30%, 20%, 50% at the values 0 to 3.
    x = np.repeat(np.arange(4.0), 10)
    y = np.concatenate([np.arange(10) < k for k in (1, 3, 2, 5)]).astype(float)
    table = tl.custom_binning(x, y, [0.5, 1.5])
    with pytest.warns(
        tl.TrendWarning,
        match="after add_cut the event rate over the bins is irregular, no longer monotone",
    ):
        assert not table.add_cut(2.5).edits[-1].monotone


@pytest.mark.parametrize(
    "edit, message",
    [
        (lambda t: t.remove_cut(4.5), "4.5 is not a cut point of this table"),
        (lambda t: t.add_cut(5.0), "5 is already a cut point"),
        (lambda t: t.merge(0, 0), "merge needs two different bins, not 0 twice"),
        (lambda t: t.merge(0, 9), "bin numbers run from 0 to 1, not 9"),
        (lambda t: t.split(0, 7.0), "split: 7.0 is not inside bin 0 \\(-inf, 5\\]"),
        (lambda t: t.add_special(-999), "-999.0 is already a special value"),
        (lambda t: t.remove_special(3), "3.0 is not a special value of this table"),
        (lambda t: t.move("A", 0), "move moves categories: this table bins numbers"),
        (
            lambda t: tl.BinningTable.from_json(t.to_json()).add_cut(1),
            "this table keeps no counts to edit from",
        ),
    ],
)
def test_an_edit_that_cannot_be_made_says_why(edit, message):
    x, y = sample(3)
    with pytest.raises(tl.EditError, match=message):
        edit(NUMERIC_FITS["custom"](x, y, [-999.0]))


def test_an_edit_that_empties_a_bin_names_it():
    x, y = np.repeat([1.0, 2.0, 3.0], 20), np.tile([0.0, 1.0], 30)
    table = tl.custom_binning(x, y, [1.5], name="age")
    with pytest.warns(tl.EmptyBinWarning, match=r"^after with_cuts the bin \(1.5, 1.7\] of 'age' "):
        emptied = table.with_cuts([1.5, 1.7])
    assert emptied["count"].tolist() == [20, 0, 40] and emptied["woe"][1] == 0
    with warnings.catch_warnings():
        warnings.simplefilter("error", tl.EmptyBinWarning)
        emptied.add_cut(2.5)  # the bin was empty already


def test_a_column_of_too_many_values_keeps_no_counts(monkeypatch):
    monkeypatch.setattr(basis, "MAX_KEPT_VALUES", 5)
    with pytest.raises(
        tl.EditError,
        match="this table's column has more than 5 distinct values, the most "
        "a table keeps counts of for edits: round the values",
    ):
        tl.quantile_binning(*sample(3)).add_cut(1.5)


@pytest.mark.parametrize(
    "edit, message",
    [
        (lambda t: t.move("Z", 0), "no bin holds the category 'Z'"),
        (lambda t: t.split(0, ["C"]), "split: bin 0 does not hold 'C'"),
        (
            lambda t: t.send_unseen_to(0).send_unseen_to(0),
            "unseen categories already go to that bin",
        ),
        (lambda t: t.with_cuts([1.5]), "set_cuts does not apply to a categorical table"),
    ],
)
def test_a_categorical_edit_that_cannot_be_made_says_why(edit, message):
    x = np.array(list("AABBCCDD") * 10, dtype=object)
    y = np.array([0, 0, 0, 1, 0, 1, 1, 1] * 10, dtype=float)
    table = tl.grouped_binning(x, y, [["A", "B"], ["C", "D"]])
    with pytest.raises(tl.EditError, match=message):
        edit(table)


def test_unseen_categories_go_where_the_analyst_sends_them():
    x = np.array(list("AABBCCDD") * 10, dtype=object)
    y = np.array([0, 0, 0, 1, 0, 1, 1, 1] * 10, dtype=float)
    table = tl.grouped_binning(x, y, [["A"], ["B"], ["C", "D"]]).send_unseen_to(1)
    assert table.bin_categories == (("A",), ("B",), ("C", "D")) and table.pooled_bin == 1
    assert table.labels[1] == "B, other (unseen)"
    np.testing.assert_array_equal(table.transform(np.array(["Q", "C"], dtype=object)), [1, 2])
    restored = tl.BinningTable.from_json(table.to_json())
    assert restored.pooled_bin == 1 and restored.to_dict() == table.to_dict()
