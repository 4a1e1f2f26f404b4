"""TableBinning(target="continuous"): every column against a continuous target."""

import pickle

import numpy as np
import pandas as pd
import pytest
from sql_engines import ENGINES

import tessaline as tl


@pytest.fixture(scope="module")
def data():
    rng = np.random.default_rng(5)
    n = 800
    frame = pd.DataFrame(
        {
            "age": rng.integers(18, 80, n).astype(float),
            "grade": rng.choice(["A", "B", "C", "D"], n),
            "noise": rng.normal(size=n),
            "empty": np.full(n, np.nan),
            "exposure": rng.integers(1, 4, n).astype(float),
        }
    )
    frame.loc[:30, "age"] = np.nan
    frame["loss"] = (
        0.01 * frame["age"].fillna(40) + frame["grade"].map({"A": 0, "B": 0.2, "C": 0.5, "D": 1})
    ) + rng.normal(0, 0.2, n)
    binning = tl.TableBinning(target="continuous", max_bins=4, min_r2=0.05)
    return frame, binning.fit(frame, "loss", sample_weight="exposure")


def test_columns_are_binned_alone_and_ranked_by_r_squared(data):
    frame, binning = data
    assert isinstance(binning, tl.ContinuousTableBinning)
    assert [(r.column, r.keep) for r in binning.summary] == [
        ("grade", True),
        ("age", True),
        ("noise", False),
        ("empty", False),
    ]
    assert binning.skipped == {
        "empty": "continuous binning of empty: no row with a known value, target and weight"
    }
    alone = tl.continuous_binning(frame.age, frame.loss, sample_weight=frame.exposure, max_bins=4)
    assert binning.tables["age"].to_json() == alone.to_json()
    assert binning.summary[1].r2 == alone.r_squared


def test_json_and_pickle_keep_the_binning_exactly(data):
    frame, binning = data
    for copy in (tl.from_json(binning.to_json()), pickle.loads(pickle.dumps(binning))):
        assert copy.to_json() == binning.to_json()
        pd.testing.assert_frame_equal(copy.transform(frame), binning.transform(frame))


@ENGINES
def test_sql_gives_what_transform_gives(data, dialect, run):
    frame, binning = data
    for output in ("mean", "index"):
        got = run(binning.to_sql("applicants", output=output, dialect=dialect), frame)
        want = binning.transform(frame, output=output)
        for name in want:
            np.testing.assert_array_equal(
                got[name].to_numpy(dtype=np.float64), want[name].to_numpy(dtype=np.float64)
            )


def test_a_misspelt_column_is_named(data):
    frame, _ = data
    with pytest.raises(ValueError, match=r"^sample_weight names no column of the data: 'exposur'$"):
        tl.TableBinning(target="continuous").fit(frame, "loss", sample_weight="exposur")


@pytest.mark.parametrize("output", ["woe", 1])
def test_an_output_it_does_not_give_is_named_as_its_tables_name_it(data, output):
    frame, binning = data
    message = f"output must be 'mean', 'index' or 'label', not {output!r}"
    for transform, values in (
        (binning.transform, frame),
        (binning.tables["age"].transform, frame.age),
    ):
        with pytest.raises(ValueError) as raised:
            transform(values, output=output)
        assert str(raised.value) == message
