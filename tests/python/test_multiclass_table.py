"""TableBinning(target="multiclass"): every column against a target of k classes."""

import pickle

import numpy as np
import pandas as pd
import pytest
from sql_engines import ENGINES

import tessaline as tl

STATES = np.array(["current", "default", "delinquent", "prepaid"])


@pytest.fixture(scope="module")
def data():
    rng = np.random.default_rng(8)
    n = 3000
    frame = pd.DataFrame(
        {
            "score": np.round(rng.normal(600, 60, n)),
            "region": rng.choice(["north", "south", "east", "west"], n),
            "noise": rng.normal(size=n),
            "empty": np.full(n, np.nan),
        }
    )
    risk = (620 - frame["score"]) / 40 + (frame["region"] == "east") + rng.normal(0, 1, n)
    frame["state"] = STATES[np.select([risk > 1.5, risk > 0.7, risk < -1.2], [1, 2, 3], 0)]
    binning = tl.TableBinning(target="multiclass", min_iv=0.2, columns={"score": {"max_bins": 5}})
    return frame, binning.fit(frame, "state")


def test_columns_are_binned_alone_and_ranked_by_multiclass_iv(data):
    frame, binning = data
    assert isinstance(binning, tl.MulticlassTableBinning)
    assert [(r.column, r.keep) for r in binning.summary] == [
        ("score", True),
        ("region", True),
        ("noise", False),
        ("empty", False),
    ]
    assert binning.skipped == {
        "empty": "multiclass binning of empty: no row with a known value and target"
    }
    alone = tl.multiclass_binning(frame.score, frame.state, max_bins=5)
    assert binning.tables["score"].to_json() == alone.to_json()
    assert binning.summary[0].js == alone.js_divergence
    out = binning.transform(frame, selected=True)
    assert list(out.columns) == [f"{c}_{s}" for c in ("score", "region") for s in STATES]
    np.testing.assert_array_equal(out["score_default"], alone.transform(frame.score)[:, 1])


def test_json_and_pickle_keep_the_binning_exactly(data):
    frame, binning = data
    for copy in (tl.from_json(binning.to_json()), pickle.loads(pickle.dumps(binning))):
        assert copy.to_json() == binning.to_json()
        pd.testing.assert_frame_equal(copy.transform(frame), binning.transform(frame))
    doc = binning.to_dict()
    doc["classes"] = doc["classes"][::-1]
    with pytest.raises(tl.DocumentError, match="a table's classes are not the binning's"):
        tl.MulticlassTableBinning.from_dict(doc)


@pytest.mark.parametrize("kind", ["polars", "arrow"])
def test_other_frames_give_the_same_columns(data, kind):
    frame, binning = data
    pytest.importorskip("polars" if kind == "polars" else "pyarrow")
    import pyarrow as pa

    other = (
        pa.Table.from_pandas(frame) if kind == "arrow" else __import__("polars").from_pandas(frame)
    )
    got = binning.transform(other, output="index", columns=["region"])
    np.testing.assert_array_equal(
        np.asarray(got["region"]), binning.tables["region"].transform(frame.region, output="index")
    )


@ENGINES
def test_sql_gives_what_transform_gives(data, dialect, run):
    frame, binning = data
    for output, target_class in (("woe", "delinquent"), ("index", None)):
        got = run(
            binning.to_sql("applicants", target_class=target_class, output=output, dialect=dialect),
            frame,
        )
        want = binning.transform(frame, output=output, target_class=target_class)
        for name in want:
            np.testing.assert_array_equal(
                got[name].to_numpy(dtype=np.float64), want[name].to_numpy(dtype=np.float64)
            )


def test_a_column_option_it_does_not_know_is_named():
    with pytest.raises(ValueError, match=r"unknown option\(s\) min_events for column 'x'"):
        tl.TableBinning(target="multiclass", columns={"x": {"min_events": 5}})


def test_whole_weights_give_the_fit_of_the_rows_repeated(data):
    frame, _ = data
    frame = frame.drop(columns="empty")
    weights = np.random.default_rng(3).integers(0, 4, len(frame)).astype(float)
    options = {"target": "multiclass", "columns": {"score": {"max_bins": 5}}}
    weighted = tl.TableBinning(**options).fit(frame.assign(w=weights), "state", sample_weight="w")
    repeated = frame.iloc[np.repeat(np.arange(len(frame)), weights.astype(int))]
    alone = tl.TableBinning(**options).fit(repeated, "state").to_dict()
    assert weighted.fitted_columns == [*alone.pop("fitted_columns"), "w"]
    assert {k: v for k, v in weighted.to_dict().items() if k != "fitted_columns"} == alone
    fractional = weights + 0.25
    table = (
        tl.TableBinning(**options).fit(frame, "state", sample_weight=fractional).tables["region"]
    )
    assert (
        table.to_json()
        == tl.multiclass_binning(
            frame.region, frame.state, sample_weight=fractional, name="region"
        ).to_json()
    )
