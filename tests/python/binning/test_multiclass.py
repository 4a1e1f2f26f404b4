"""Binning against a target of k classes: the table from rows, from counts
of parts, from its document and in SQL gives one result; each class's WoE
is a binary target's WoE of that class against the rest."""

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


def test_the_whole_table_ranks_and_transforms_by_name():
    score, region, state = _loans(3000)
    noise = np.random.default_rng(1).normal(size=score.size)
    frame = pd.DataFrame({"score": score, "region": region, "noise": noise, "state": state})
    binning = tl.TableBinning(target="multiclass", special_values={"score": [-1]}, min_iv=0.2).fit(
        frame, "state"
    )
    assert isinstance(binning, tl.MulticlassTableBinning)
    assert [r.column for r in binning.summary] == ["score", "region", "noise"]
    assert binning.selected == ["score", "region"]
    alone = tl.multiclass_binning(region, state, name="region")
    assert binning.tables["region"].to_json() == alone.to_json()
    out = binning.transform(frame, selected=True)
    assert list(out.columns) == [f"{c}_{s}" for c in ("score", "region") for s in STATES]
    np.testing.assert_array_equal(out["region_default"], alone.transform(region)[:, 1])
    copy = tl.from_json(binning.to_json())
    assert copy.to_json() == binning.to_json()
    pd.testing.assert_frame_equal(
        copy.transform(frame, target_class="prepaid"),
        binning.transform(frame, target_class="prepaid"),
    )
