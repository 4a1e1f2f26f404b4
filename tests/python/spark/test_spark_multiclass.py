"""A target of k classes fitted over Spark equals the local multiclass fit
of the same rows, bit for bit, whatever the partitioning."""

import os
import shutil

import numpy as np
import pandas as pd
import pytest

import tessaline as tl

pytest.importorskip("pyspark")
if shutil.which("java") is None and not os.environ.get("JAVA_HOME"):
    pytest.skip("Spark needs Java", allow_module_level=True)
if "asan" in os.environ.get("LD_PRELOAD", ""):
    pytest.skip("Spark does not run under the sanitizer runtime", allow_module_level=True)


from tessaline import spark as tls


def _frame(n=3000, seed=4):
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame(
        {
            "score": np.round(rng.normal(size=n), 2),
            "age": rng.integers(18, 70, n),
            "region": rng.choice(["north", "south", "east", None], n),
            "owner": rng.choice([True, False], n),
            "state": rng.choice(["current", "late", "default"], n, p=[0.7, 0.2, 0.1]),
            "grade": rng.integers(0, 4, n),
            "w": rng.choice([0.0, 0.5, 1.0, 1.1, 3.0], n),
        }
    )
    frame.loc[::17, "score"] = np.nan
    frame.loc[::29, "score"] = -0.0
    frame.loc[::23, "state"] = None
    frame.loc[frame.score > 1.0, "grade"] = 3
    return frame


@pytest.mark.parametrize(
    ("target", "options"),
    [
        ("state", {"special_values": [0.0]}),
        ("grade", {"exclude": ["state"], "categorical": ["age"], "objective": "js"}),
        ("state", {"sample_weight": "w", "categorical": ["age"]}),
    ],
)
def test_spark_gives_the_local_multiclass_fit_bit_for_bit(spark, target, options):
    frame = _frame()
    weight = options.pop("sample_weight", None)
    local = tl.TableBinning(target="multiclass", **options).fit(frame, target, weight)
    df = spark.createDataFrame(frame).repartition(5)
    remote = tls.fit(
        tl.TableBinning(target="multiclass", **options), df, target, sample_weight=weight
    )
    assert isinstance(remote, tl.MulticlassTableBinning)
    assert remote.to_json() == local.to_json()


@pytest.mark.parametrize(
    ("frame", "options", "message"),
    [
        (
            pd.DataFrame({"x": [1.0, 2.0], "y": ["a", "a"]}),
            {},
            r"the target must hold two classes or more, not \['a'\]",
        ),
        (
            pd.DataFrame({"x": np.arange(1200.0), "y": np.arange(1200.0) / 7}),
            {},
            r"the target 'y' holds more than 1000 distinct values",
        ),
        (
            pd.DataFrame({"x": [1.0, 2.0], "y": [0, 1], "w": [1.0, -2.0]}),
            {"sample_weight": "w"},
            "sample_weight column 'w' must hold finite non-negative weights: a row holds -2.0",
        ),
    ],
)
def test_a_target_of_no_classes_is_refused(spark, frame, options, message):
    with pytest.raises(ValueError, match=message):
        tls.fit(tl.TableBinning(target="multiclass"), spark.createDataFrame(frame), "y", **options)
