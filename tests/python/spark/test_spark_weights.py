"""A weight column over Spark gives the local weighted tables bit for bit
(integer weights: the rows repeated), whatever the partitioning; bad weight
columns are refused naming the column and a value."""

import math
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

from random_tables import cell_maxima

from tessaline import spark as tls
from tessaline._binning.column_counts import KEPT

SPECIAL = -9.0


@pytest.fixture(scope="module")
def rows():
    """Quarters with missing, infinite and special values, -0.0 beside 0.0,
    a target with missing rows, categories with rare and missing ones,
    booleans, integer weights 0 to 3."""
    rng = np.random.default_rng(5)
    n = 3000
    x = rng.integers(0, 60, n) / 4.0
    x[rng.random(n) < 0.05] = np.nan
    x[rng.random(n) < 0.02] = np.inf
    x[rng.random(n) < 0.04] = SPECIAL
    x[rng.random(n) < 0.01] = -0.0
    y = (rng.random(n) < 0.15 + 0.04 * np.nan_to_num(x, posinf=15) / 4).astype(float)
    y[rng.random(n) < 0.03] = np.nan
    grade = np.array(list("ABCDEFG") + ["rare"], dtype=object)[
        np.minimum(rng.geometric(0.3, n) - 1, 7)
    ]
    grade[rng.random(n) < 0.05] = None
    w = rng.integers(0, 4, n).astype(float)
    owner = rng.random(n) < 0.3
    return pd.DataFrame({"x": x, "grade": grade, "owner": owner, "y": y, "w": w})


@pytest.mark.parametrize("counting", ["dataframe", "arrow"])
@pytest.mark.parametrize(
    "options",
    [
        {"method": "optimal"},
        {"method": "optimal", "representative": "mean"},
        {"method": "mdlp"},
        {"method": "quantile", "n_bins": 7},
        {"method": "equal_width", "n_bins": 6},
    ],
)
def test_integer_weights_give_the_local_weighted_fit(spark, rows, options, counting):
    binning = tl.TableBinning(special_values=[SPECIAL], min_iv=0, **options)
    local = binning.fit(rows, "y", sample_weight="w").to_json()
    df = spark.createDataFrame(rows).repartition(5)
    remote = tl.TableBinning(special_values=[SPECIAL], min_iv=0, **options)
    assert tls.fit(remote, df, "y", sample_weight="w", counting=counting).to_json() == local
    frame = rows[["x", "y", "w"]]
    function = {"optimal": tls.optimal_binning, "mdlp": tls.mdlp_binning}.get(options["method"])
    if function is not None:
        table = function(df, "x", "y", sample_weight="w", special_values=[SPECIAL])
        expected = getattr(tl, f"{options['method']}_binning")(
            frame.x, frame.y, sample_weight=frame.w, special_values=[SPECIAL]
        )
        assert table.to_dict() == expected.to_dict()


def test_categories_thresholds_and_cells(spark, rows):
    df = spark.createDataFrame(rows).repartition(4)
    table = tls.categorical_binning(df, "grade", "y", sample_weight="w", min_share=0.04)
    local = tl.categorical_binning(rows.grade, rows.y, sample_weight=rows.w, min_share=0.04)
    assert table.to_dict() == {**local.to_dict(), "name": "grade"}
    # A thresholded target reads its threshold as given.
    scaled = rows.assign(y=rows.y * 2 + 0.25)
    binning = tl.TableBinning(value=1.0, exclude=["grade"])
    expected = binning.fit(scaled, "y", sample_weight="w").to_json()
    remote = tls.fit(
        tl.TableBinning(value=1.0, exclude=["grade"]),
        spark.createDataFrame(scaled),
        "y",
        sample_weight="w",
    )
    assert remote.to_json() == expected
    # Cells are cut by the records of positive weight; their weights stay exact.
    cells = tls.quantile_binning(
        df, "x", "y", sample_weight="w", max_distinct=10, approximate=6, n_bins=4
    )
    kept = rows[rows.w > 0]
    merged = cell_maxima(kept.x.to_numpy(), 6, [])
    expected = tl.quantile_binning(merged, kept.y, sample_weight=kept.w, n_bins=4, name="x")
    assert cells.to_dict() == expected.to_dict()


def test_fractional_weights_add_up_exactly_whatever_the_partitioning(spark, rows):
    w = np.random.default_rng(1).uniform(0, 2, len(rows))
    frame = rows.assign(w=w)
    fits = {
        tls.fit(
            tl.TableBinning(special_values=[SPECIAL]),
            spark.createDataFrame(frame).repartition(parts),
            "y",
            sample_weight="w",
        ).to_json()
        for parts in (1, 3, 8)
    }
    assert len(fits) == 1
    # Each value's weight of each class is the exact sum rounded once.
    counts = tls.count_columns(spark.createDataFrame(frame), ["x"], "y", sample_weight="w")
    merged = counts["x"].values([KEPT])
    for value, c0, c1 in zip(merged["value"], merged["c0"], merged["c1"]):
        at = frame.x == value
        assert (c0, c1) == (math.fsum(w[at & (frame.y == 0)]), math.fsum(w[at & (frame.y == 1)]))


@pytest.mark.parametrize(
    ("weights", "message"),
    [
        ("absent", "sample_weight names no column of the DataFrame: 'absent'"),
        ("grade", "sample_weight column 'grade' must hold numbers, not string"),
        (-1.0, "'w' must hold finite non-negative weights: a row holds -1.0"),
        (np.nan, "'w' must hold finite non-negative weights: a row holds missing \\(NULL\\)"),
        (np.inf, "'w' must hold finite non-negative weights: a row holds inf"),
        (0.0, "sample_weight is zero for every row: there is nothing to count"),
    ],
)
def test_bad_weight_columns_are_refused(spark, rows, weights, message):
    frame = rows.head(50).copy()
    if isinstance(weights, float):
        frame["w"] = 0.0 if weights == 0.0 else np.where(np.arange(50) == 7, weights, 1.0)
        weights = "w"
    df = spark.createDataFrame(frame)
    with pytest.raises(ValueError, match=message):
        tls.fit(tl.TableBinning(), df, "y", sample_weight=weights)


def test_a_percentile_threshold_is_refused_with_weights(spark, rows):
    with pytest.raises(ValueError, match="percentile= reads the target's rows unweighted"):
        tls.fit(
            tl.TableBinning(percentile=50),
            spark.createDataFrame(rows.head(20)),
            "y",
            sample_weight="w",
        )
