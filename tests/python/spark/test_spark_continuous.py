"""A continuous binning over Spark equals the local one of the same rows."""

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


@pytest.mark.parametrize("weighted", [False, True])
def test_spark_gives_the_local_table_bit_for_bit(spark, weighted):
    rng = np.random.default_rng(2)
    n = 3000
    frame = pd.DataFrame(
        {
            # Many values (quantile pre-bins), -0.0 beside 0.0, missing and special ones.
            "x": np.round(rng.normal(0, 3, n), 2),
            "y": rng.gamma(2.0, 1.0, n) / 3,
            "w": rng.uniform(0, 2, n).round(3),
        }
    )
    frame.loc[:40, "x"] = np.nan
    frame.loc[41:80, "x"] = -1.0
    frame.loc[81:90, "x"] = -0.0
    frame.loc[91:100, "y"] = np.nan
    frame.loc[101:110, "w"] = 0.0
    weights = "w" if weighted else None
    options = {"special_values": [-1], "max_bins": 6, "n_prebins": 40}
    local = tl.continuous_binning(
        frame.x, frame.y, sample_weight=frame.w if weighted else None, **options
    )
    df = spark.createDataFrame(frame).repartition(7)
    remote = tls.continuous_binning(df, "x", "y", sample_weight=weights, **options)
    assert remote.to_json() == local.to_json()


def test_bad_weights_are_refused(spark):
    df = spark.createDataFrame(pd.DataFrame({"x": [1.0, 2.0], "y": [1.0, 2.0], "w": [1.0, -1.0]}))
    with pytest.raises(ValueError, match="1 row\\(s\\) of 'w' hold a negative"):
        tls.continuous_binning(df, "x", "y", sample_weight="w")


def test_a_whole_table_over_spark_is_the_local_fit(spark):
    rng = np.random.default_rng(4)
    n = 2000
    frame = pd.DataFrame(
        {
            "amount": np.round(rng.lognormal(7, 1, n), -1),
            "region": rng.choice(["north", "south", "east", None], n),
            "owner": rng.random(n) < 0.3,
            "w": rng.integers(0, 3, n).astype(float),
        }
    )
    frame["loss"] = np.log(frame.amount) / 10 + (frame.region == "east") + rng.normal(0, 0.1, n)
    df = spark.createDataFrame(frame).repartition(4)
    local = tl.TableBinning(target="continuous", max_bins=5).fit(frame, "loss", sample_weight="w")
    remote = tls.fit_continuous(
        tl.TableBinning(target="continuous", max_bins=5), df, "loss", sample_weight="w"
    )
    assert remote.to_json() == local.to_json()
    # tls.fit sends a continuous binning here, unweighted.
    unweighted = tl.TableBinning(target="continuous", exclude=["w"])
    assert tls.fit(unweighted, df, "loss").to_json() == unweighted.fit(frame, "loss").to_json()
