"""Binning against a target of k classes: the table from rows, from counts
of parts, from its document and in SQL gives one result; each class's WoE
is a binary target's WoE of that class against the rest."""

import math
import pickle

import numpy as np
import pandas as pd
import pytest
from sql_engines import ENGINES

import tessaline as tl
from tessaline.exceptions import DocumentError

STATES = np.array(["current", "default", "delinquent", "prepaid"])


def _loans(n, seed=5):
    """Loans whose state depends on a score, a region and noise."""
    rng = np.random.default_rng(seed)
    score = np.round(rng.normal(600, 60, n), 0)
    region = rng.choice(np.array(["north", "south", "east", "west"], dtype=object), n)
    risk = (620 - score) / 40 + (region == "east") + rng.normal(0, 1, n)
    state = np.select([risk > 1.5, risk > 0.7, risk < -1.2], [1, 2, 3], 0)
    score[:30], score[30:45] = np.nan, -1
    region[45:60] = None
    return score, region, STATES[state]


@pytest.fixture(scope="module")
def tables():
    score, region, state = _loans(3000)
    return {
        "numeric": (tl.multiclass_binning(score, state, special_values=[-1], name="x"), score),
        "categorical": (tl.multiclass_binning(region, state, name="x"), region),
    }


def test_each_class_weighs_against_the_rest_as_a_binary_event(tables):
    table, score = tables["numeric"]
    _, _, state = _loans(3000)
    assert table.classes == tuple(STATES)
    for j, name in enumerate(table.classes):
        binary = tl.custom_binning(
            score, (state == name).astype(float), table.splits, special_values=[-1]
        )
        binary_woe = binary.transform(score, output="woe")
        np.testing.assert_array_equal(table.transform(score, target_class=name), binary_woe)
        np.testing.assert_array_equal(table.transform(score)[:, j], binary_woe)
    assert table.information_value == sum(table["iv"])


def test_counts_of_parts_give_the_table_of_the_rows(tables):
    table, score = tables["numeric"]
    _, _, state = _loans(3000)
    labels = np.searchsorted(STATES, state).astype(np.int32)
    parts = [tl._core.native.count_class_values(score[i::3], labels[i::3], 4) for i in range(3)]
    value = np.unique(np.concatenate([p["value"] for p in parts]))
    counts = np.zeros((value.size, 4), dtype=np.int64)
    for p in parts:
        np.add.at(counts, np.searchsorted(value, p["value"]), p["counts"])
    merged = {"value": value, "counts": counts, "missing": sum(p["missing"] for p in parts)}
    again = tl.multiclass_binning_from_counts(merged, STATES, name="x", special_values=[-1])
    assert again.to_json() == table.to_json()


@pytest.mark.parametrize("kind", ["numeric", "categorical"])
def test_json_and_pickle_keep_the_table_exactly(tables, kind):
    table, x = tables[kind]
    for copy in (tl.from_json(table.to_json()), pickle.loads(pickle.dumps(table))):
        assert copy.to_json() == table.to_json()
        np.testing.assert_array_equal(copy.transform(x), table.transform(x))
    doc = table.to_dict()
    doc["rows"]["woe"][0][1] = (float.fromhex(doc["rows"]["woe"][0][1]) + 1).hex()
    with pytest.raises(DocumentError, match=r"rows\.woe is not what the rows' counts give"):
        tl.MulticlassBinningTable.from_dict(doc)


def test_unseen_and_missing_categories(tables):
    table, _ = tables["categorical"]
    got = table.transform(np.array(["north", "mars", None], dtype=object))
    np.testing.assert_array_equal(got[1], np.zeros(4))
    np.testing.assert_array_equal(got[2], table["woe"][-1])
    assert list(table.transform(np.array(["mars", None], dtype=object), output="label")) == [
        "missing",
        "missing",
    ]


@ENGINES
@pytest.mark.parametrize("kind", ["numeric", "categorical"])
def test_sql_gives_what_transform_gives(tables, dialect, run, kind):
    table, x = tables[kind]
    values = np.append(x, np.array(["mars"], dtype=object) if kind == "categorical" else 1e9)
    queries = {c: table.to_sql(target_class=c, dialect=dialect) for c in table.classes}
    queries["index"] = table.to_sql(output="index", dialect=dialect)
    got = run(
        "SELECT " + ", ".join(f'{q} AS "{c}"' for c, q in queries.items()) + " FROM applicants",
        pd.DataFrame({"x": values}),
    )
    for c in table.classes:
        np.testing.assert_array_equal(
            got[c].to_numpy(dtype=np.float64), table.transform(values, target_class=c)
        )
    np.testing.assert_array_equal(got["index"], table.transform(values, output="index"))


def test_a_trend_per_class_holds_across_the_bins():
    score, _, state = _loans(3000)
    table = tl.multiclass_binning(
        score, state, trend={"default": "descending", "prepaid": "ascending"}, max_bins=6
    )
    rates = table["class_count"][: table.n_bins] / table["count"][: table.n_bins, None]
    assert np.all(np.diff(rates[:, 1]) < 0) and np.all(np.diff(rates[:, 3]) > 0)
    assert table.metadata["trends"] == {"default": "descending", "prepaid": "ascending"}


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda x, y: tl.multiclass_binning(x, np.zeros(x.size)), "two classes or more"),
        (
            lambda x, y: tl.multiclass_binning(x, y, trend={"paid": "ascending"}),
            "trend names no class 'paid'",
        ),
        (
            lambda x, y: tl.multiclass_binning(
                x, y, trend={"default": "peak", "current": "ascending"}
            ),
            "when several classes follow a trend, each must be ascending or descending",
        ),
        (
            lambda x, y: tl.multiclass_binning(x, y, min_class_count=10**6),
            "a class holds fewer rows than min_class_count",
        ),
        (lambda x, y: tl.multiclass_binning(x[:10], y), "same length"),
        (
            lambda x, y: tl.multiclass_binning(x, y, objective="gini"),
            "objective must be 'iv' or 'js'",
        ),
    ],
)
def test_bad_arguments_are_named(call, message):
    score, _, state = _loans(300)
    with pytest.raises(ValueError, match=message):
        call(score, state)


def test_categories_are_ordered_by_the_rate_of_one_class():
    # Rates of "b": w 0, x 1/2, y 0, z 1/2: equal rates in name order, and
    # neighbours of equal rates in one bin (as many bins, less IV, otherwise).
    x = np.array(list("xxyyyyzzww"), dtype=object)
    y = np.array(list("abacaaabac"), dtype=object)
    table = tl.multiclass_binning(x, y, max_bins=4, min_bin_share=0, order_class="b")
    assert table.bin_categories == (("w", "y"), ("x", "z"))
    np.testing.assert_array_equal(table["class_count"], [[4, 0, 2], [2, 2, 0]])


@pytest.mark.parametrize("seed", range(4))
def test_every_bin_meets_the_limits(seed):
    rng = np.random.default_rng(seed)
    x = rng.integers(0, 300, 2000).astype(float)
    y = rng.choice(["a", "b", "c"], 2000, p=[0.6, 0.3, 0.1])
    limits = {"max_bins": 1 + seed * 2, "min_bin_share": 0.08, "min_class_count": 5}
    table = tl.multiclass_binning(x, y, **limits, objective=["iv", "js"][seed % 2])
    assert table.n_bins <= limits["max_bins"]
    assert np.all(table["share"] >= 0.08) and np.all(table["class_count"] >= 5)
    assert table.metadata["objective"] == ["iv", "js"][seed % 2]


@pytest.mark.parametrize("trend", ["auto", "peak"])
def test_one_class_may_take_any_trend(trend):
    score, _, state = _loans(3000)
    table = tl.multiclass_binning(score, state, trend={"prepaid": trend}, max_bins=5)
    rate = table["class_count"][: table.n_bins, 3] / table["count"][: table.n_bins]
    steps = np.sign(np.diff(rate))
    assert np.all(steps != 0) and np.count_nonzero(np.diff(steps)) <= 1
    if trend == "auto":
        assert table.metadata["trends"] == {"prepaid": "ascending"} and np.all(steps > 0)


def test_the_printout_names_each_class():
    # Row 0 holds p, q and no r of the 3 p, 2 q and 2 r: WoE of p ln((1/3) / (1/4)),
    # of r ln((0.5/2) / (2/5)).
    x = np.array([1.0, 1, 2, 2, 3, 3, np.nan])
    y = np.array(["p", "q", "p", "r", "q", "r", "p"])
    table = tl.multiclass_binning(x, y, max_bins=2, min_bin_share=0, name="x")
    assert str(table).splitlines()[:4] == [
        "optimal binning of 'x' against 3 classes: 2 bins + missing, IV 1.5019, JS 0.2868",
        "#  interval   count  share    woe p    woe q    woe r      iv      js",
        "-  ---------  -----  -----  -------  -------  -------  ------  ------",
        "0  (-inf, 1]      2  28.6%   0.2877   0.9163  -0.4700  0.3694  0.1020",
    ]
    assert list(table.to_frame().columns[-3:]) == ["iv_p", "iv_q", "iv_r"]


@pytest.mark.parametrize(
    ("change", "message"),
    [
        (
            lambda d: d.update(classes=["a"]),
            "field 'classes' must name two classes or more",
        ),
        (
            lambda d: d["rows"]["class_count"][0].append(1),
            "rows.class_count must hold a count of rows per class",
        ),
        (
            lambda d: d.update(information_value=(1.5).hex()),
            "field 'information_value' is not what",
        ),
        (lambda d: d.update(splits=[]), "rows.left and rows.right do not match the cut points"),
    ],
)
def test_a_document_no_fit_writes_is_refused(tables, change, message):
    doc = tables["numeric"][0].to_dict()
    change(doc)
    with pytest.raises(DocumentError, match=message):
        tl.MulticlassBinningTable.from_dict(doc)


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (
            lambda n: n.count_class_values(np.ones(2), np.array([0, 3]), 3),
            "row 1 has a class code outside",
        ),
        (lambda n: n.class_interval_counts([2.0, 1.0], [[1, 0], [0, 1]], []), "values must ascend"),
        (lambda n: n.class_interval_counts([1.0], [[1, 0]], [2.0, 1.0]), "cut points must ascend"),
        (lambda n: n.multiclass_columns(np.ones(3)), "counts must be a 2-D array"),
        (lambda n: n.multiclass_columns([[1.0, -1.0]]), "counts must be finite and non-negative"),
        (
            lambda n: n.multiclass_grouping(
                [[1.0, 2.0]],
                max_bins=0,
                min_bin_share=0,
                min_class_count=0,
                trends=["none"],
                objective="iv",
            ),
            "give one trend per class, or none",
        ),
    ],
)
def test_the_kernels_refuse_what_they_cannot_read(call, message):
    with pytest.raises(ValueError, match=message):
        call(tl._core.native)


@pytest.mark.parametrize("seed", range(3))
def test_the_measures_agree_with_an_independent_computation(seed):
    rng = np.random.default_rng(seed)
    counts = rng.integers(0, 6, (5, 4)) * rng.integers(0, 2, (5, 4))
    counts[0] += 1  # every class holds rows
    table = tl.MulticlassBinningTable(
        [-np.inf, 1, 2, 3, 4], [1, 2, 3, 4, np.inf], counts, classes="abcd", method="custom"
    )
    n, total, rows = counts.sum(), counts.sum(axis=0), counts.sum(axis=1, keepdims=True)
    event = np.where(counts > 0, counts, 0.5) / total
    rest = np.where(rows - counts > 0, rows - counts, 0.5) / (n - total)
    woe = np.where(rows > 0, np.log(event / rest), 0)
    np.testing.assert_allclose(table["woe"], woe, rtol=1e-13)
    np.testing.assert_allclose(table.information_value, ((event - rest) * woe).sum(), rtol=1e-13)
    with np.errstate(divide="ignore", invalid="ignore"):
        js = np.where(counts > 0, counts / n * np.log(counts / total / (rows / n)), 0).sum()
    entropy = lambda p: -np.sum(p[p > 0] * np.log(p[p > 0]))  # noqa: E731
    mutual = entropy(total / n) - sum(
        r / n * entropy(c / r) for r, c in zip(rows[:, 0], counts) if r > 0
    )
    np.testing.assert_allclose([table.js_divergence] * 2, [js, mutual], rtol=1e-12)


def test_rows_without_a_target_and_an_absent_special_value():
    x = np.array([1.0, 2, 3, 4, 5, 6])
    y = np.array(["a", "b", None, "a", "b", "c"], dtype=object)
    table = tl.multiclass_binning(x, y, min_bin_share=0, special_values=[-9])
    assert table.classes == ("a", "b", "c") and table.metadata["n_missing_target"] == 1
    np.testing.assert_array_equal(table["class_count"][-1], [0, 0, 0])
    np.testing.assert_array_equal(table["woe"][-1], [0, 0, 0])
    assert table.transform([-9.0], output="label")[0] == "special -9"


def _weights(n, seed):
    """Whole weights 0 to 3 (every 'prepaid' loan of weight 0), and fractional ones."""
    rng = np.random.default_rng(seed)
    return rng.integers(0, 4, n).astype(float), rng.uniform(0, 3, n).round(3)


@pytest.mark.parametrize(
    ("kind", "options"),
    [
        ("numeric", {"special_values": [-1]}),
        ("numeric", {"n_prebins": 20, "trend": {"default": "ascending"}}),
        ("categorical", {"min_class_count": 5}),
    ],
)
def test_whole_weights_give_the_table_of_the_rows_repeated(kind, options):
    score, region, state = _loans(2000, seed=8)
    x = score if kind == "numeric" else region
    whole, _ = _weights(x.size, 1)
    whole[state == "prepaid"] = 0.0
    repeated = np.repeat(np.arange(x.size), whole.astype(int))
    weighted = tl.multiclass_binning(x, state, sample_weight=whole, name="x", **options)
    assert weighted.classes == ("current", "default", "delinquent")
    alone = tl.multiclass_binning(x[repeated], state[repeated], name="x", **options)
    assert weighted.to_json() == alone.to_json()


@pytest.mark.parametrize("kind", ["numeric", "categorical"])
def test_fractional_weights_are_summed_exactly_per_bin_and_class(kind):
    score, region, state = _loans(2000, seed=9)
    x = score if kind == "numeric" else region
    _, fractional = _weights(x.size, 2)
    table = tl.multiclass_binning(x, state, sample_weight=fractional, name="x")
    index = table.transform(x, output="index")
    values = np.array([str(v) for v in x])

    def summed(rows):
        # Each value's weights summed exactly, then the values' sums.
        by_value = {}
        for value, weight in zip(values[rows], fractional[rows]):
            by_value.setdefault(value, []).append(weight)
        return math.fsum(math.fsum(w) for w in by_value.values())

    # The bins, then the row of the missing values (index -1).
    for row, i in enumerate([*range(table.n_bins), -1]):
        expected = [summed((index == i) & (state == c)) for c in table.classes]
        assert table["class_count"][row].tolist() == expected
    assert table.to_json() == tl.MulticlassBinningTable.from_json(table.to_json()).to_json()
    order = np.random.default_rng(0).permutation(x.size)
    shuffled = tl.multiclass_binning(
        x[order], state[order], sample_weight=fractional[order], name="x"
    )
    assert shuffled.to_json() == table.to_json()


@pytest.mark.parametrize(
    ("weights", "error", "message"),
    [
        (
            [1.0, -1.0, 1.0],
            ValueError,
            "sample_weight must be finite and non-negative: row 1 is -1.0",
        ),
        (
            [1.0, 1.0],
            ValueError,
            "sample_weight must hold one weight per row: 2 weights for 3 rows",
        ),
        ([0.0, 0.0, 0.0], ValueError, "sample_weight"),
    ],
)
def test_bad_weights_are_refused(weights, error, message):
    with pytest.raises(error, match=message):
        tl.multiclass_binning([1.0, 2.0, 3.0], ["a", "b", "a"], sample_weight=weights)


def test_counts_of_weights_beyond_whole_rows_stay_weights():
    counts = {"value": np.array([1.0, 2.0]), "counts": np.array([[1e20, 3.0], [2.0, 1e20]])}
    table = tl.multiclass_binning_from_counts(counts, ["a", "b"], max_bins=2)
    assert table["class_count"].dtype == np.float64
    assert table["class_count"].tolist() == [[1e20, 3.0], [2.0, 1e20]]
    with pytest.raises(ValueError, match="counts must be finite and not negative"):
        tl.multiclass_binning_from_counts({**counts, "counts": -counts["counts"]}, ["a", "b"])
