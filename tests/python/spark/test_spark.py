"""Tables, diagnostics and bin expressions over Spark equal the local API."""

import copy
import os
import shutil

import numpy as np
import pandas as pd
import pytest

import tessaline as tl

pyspark = pytest.importorskip("pyspark")
if shutil.which("java") is None and not os.environ.get("JAVA_HOME"):
    pytest.skip("Spark needs Java", allow_module_level=True)
if "asan" in os.environ.get("LD_PRELOAD", ""):
    # The sanitizer runtime preloaded for the instrumented module would be
    # loaded into the JVM too, which does not start under it; the counts the
    # Spark layer merges come from native code checked by the other tests.
    pytest.skip("Spark does not run under the sanitizer runtime", allow_module_level=True)

from package_under_test import ROOT  # noqa: E402
from pyspark.sql import functions as F  # noqa: E402
from random_tables import TABLE_OPTIONS, options_for, random_frame  # noqa: E402

from tessaline import spark as tls  # noqa: E402

GERMAN = os.path.join(ROOT, "examples", "data", "germancredit.csv")


def spark_frame(spark, pdf):
    df = spark.createDataFrame(pdf).repartition(5)
    # NULL and NaN are both missing values.
    return df.select(
        *[
            F.when(F.col("id") % 97 == 0, None).otherwise(F.col(c)).alias(c)
            if c.startswith("x")
            else F.col(c)
            for c in df.columns
        ]
    )


def local_frame(pdf):
    out = pdf.copy()
    for c in out.columns:
        if c.startswith("x"):
            out.loc[out["id"] % 97 == 0, c] = np.nan
    return out


@pytest.fixture(scope="session")
def frames(spark):
    german = pd.read_csv(GERMAN).assign(id=lambda d: np.arange(len(d)))
    pdf = random_frame(100_000, seed=7, with_id=True)
    return {
        "german": (
            german,
            spark.createDataFrame(german),
            "creditability",
            "bad",
            ["duration_in_month", "credit_amount", "age_in_years"],
        ),
        "random": (local_frame(pdf), spark_frame(spark, pdf), "y", None, ["x0", "x1", "x2"]),
    }


def same_binning(local, remote):
    assert list(local.tables) == list(remote.tables) and local.skipped == remote.skipped
    for name, table in local.tables.items():
        same_table(table, remote.tables[name])
    assert [r.column for r in local.summary] == [r.column for r in remote.summary]


@pytest.mark.parametrize("data", ["german", "random"])
@pytest.mark.parametrize("options", TABLE_OPTIONS)
def test_the_whole_table_fits_and_transforms_as_locally(frames, data, options):
    pdf, df, target, event, _ = frames[data]
    options = options_for(options, pdf, target)
    local = tl.TableBinning(event=event, exclude=["id"], **options).fit(pdf, target)
    remote = tls.fit(tl.TableBinning(event=event, exclude=["id"], **options), df, target)
    same_binning(local, remote)
    if options["method"] == "optimal":  # the counts on the driver edit and replay alike
        edited = copy.deepcopy(local)
        edited.edit(next(n for n, t in edited.tables.items() if t.n_bins > 1), "merge", 0, 1)
        replayed = tls.fit(
            tl.TableBinning(event=event, exclude=["id"], **options), df, target, edits=edited
        )
        same_binning(edited, replayed)
        assert replayed.edits == edited.edits
    if "grade" in pdf:
        # A category never seen in training, in every 50th row.
        unseen = pdf["id"] % 50 == 0
        pdf = pdf.assign(grade=pdf["grade"].where(~unseen, "Z"))
        df = df.withColumn("grade", F.when(F.col("id") % 50 == 0, "Z").otherwise(F.col("grade")))
    for output in ("woe", "index", "label"):
        rows = tls.transform(remote, df, output).toPandas().sort_values("id")
        expected = local.transform(pdf.drop(columns=[target]), output)
        for name in local.tables:
            np.testing.assert_array_equal(
                rows[name].to_numpy(), expected[name].to_numpy(), err_msg=f"{name} {output}"
            )


def same_table(local, remote):
    assert list(local.columns) == list(remote.columns)
    for key in local.columns:
        np.testing.assert_array_equal(local[key], remote[key], err_msg=key, strict=True)
    assert local.metadata == remote.metadata and local.special_values == remote.special_values


@pytest.mark.parametrize("data", ["german", "random"])
@pytest.mark.parametrize(
    "method, options",
    [
        ("mdlp", {}),
        ("mdlp", {"representative": "mean", "minobs": 50, "special_values": [-999.0]}),
        ("quantile", {"n_bins": 7}),
        ("equal_width", {"n_bins": 4}),
        ("optimal", {}),
        ("optimal", {"max_bins": 4, "trend": "peak", "special_values": [-999.0]}),
    ],
)
def test_tables_equal_the_local_ones(frames, data, method, options):
    pdf, df, target, event, columns = frames[data]
    tables = tls.fit_table(df, target, columns, event=event, method=method, **options)
    fit = getattr(tl, f"{method}_binning")
    for name in columns:
        same_table(fit(pdf[name], pdf[target], event=event, name=name, **options), tables[name])


def test_gini_psi_and_bin_expressions_equal_the_local_ones(frames):
    pdf, df, _, _, _ = frames["random"]
    local_gini = tl.gini(pdf["x1"], pdf["y"])
    remote_gini = tls.gini(df, "x1", "y")
    assert (remote_gini.gini, remote_gini.auc) == (local_gini.gini, local_gini.auc)
    table = tl.mdlp_binning(pdf["x2"], pdf["y"], special_values=[-999.0])
    half = pdf["id"] < 8000
    local_psi = tl.psi(pdf["x2"][half], pdf["x2"][~half], table)
    remote_psi = tls.psi(df.filter("id < 8000"), df.filter("id >= 8000"), "x2", table)
    assert remote_psi.psi == local_psi.psi and remote_psi.ks == local_psi.ks
    rows = (
        df.select(
            "id",
            tls.transform_column(table, "x2").alias("b"),
            tls.transform_column(table, "x2", "woe").alias("w"),
        )
        .toPandas()
        .sort_values("id")
    )
    np.testing.assert_array_equal(rows["b"], table.transform(pdf["x2"]))
    np.testing.assert_array_equal(rows["w"], table.transform(pdf["x2"], output="woe"))


def test_weighted_gini_and_psi_equal_the_local_ones(frames):
    pdf, df, _, _, _ = frames["random"]
    w, df = pdf["id"] % 4, df.withColumn("w", F.col("id") % 4)
    local_gini = tl.gini(pdf["x1"], pdf["y"], sample_weight=w)
    remote_gini = tls.gini(df, "x1", "y", sample_weight="w")
    assert (remote_gini.gini, remote_gini.auc) == (local_gini.gini, local_gini.auc)
    half = pdf["id"] < 8000
    cuts = [-1.0, 0.0, 2.5]
    local_psi = tl.psi(pdf["x2"][half], pdf["x2"][~half], cuts, sample_weight=(w[half], w[~half]))
    remote_psi = tls.psi(
        df.filter("id < 8000"), df.filter("id >= 8000"), "x2", cuts, sample_weight="w"
    )
    for k in ("count_reference", "rows_current", "proportion_current", "psi_bin"):
        np.testing.assert_array_equal(remote_psi[k], local_psi[k])
    assert remote_psi.psi == local_psi.psi and remote_psi.ks == local_psi.ks
    with pytest.raises(
        ValueError,
        match=r"^sample_weight must be finite and non-negative: a row of 'v' holds -1.0$",
    ):
        tls.gini(df.withColumn("v", F.col("w") - 1), "x1", "y", sample_weight="v")


def test_counting_through_arrow_gives_the_same_results(frames):
    pdf, df, _, _, _ = frames["random"]
    options = {"exclude": ["id"], "special_values": [-999.0], "categorical": ["code"]}
    local = tl.TableBinning(**options).fit(pdf, "y")
    same_binning(local, tls.fit(tl.TableBinning(**options), df, "y", counting="arrow"))
    assert tls.gini(df, "x1", "y", counting="arrow").gini == tl.gini(pdf["x1"], pdf["y"]).gini
    with pytest.raises(tl.TargetError, match="the target 'x0' is not 0/1"):
        tls.mdlp_binning(df, "x1", "x0", counting="arrow")


@pytest.mark.parametrize("threshold", [{"percentile": 60.0}, {"percentile": 0.0}, {"value": 1.5}])
def test_a_numeric_target_is_cut_at_its_threshold_as_locally(frames, threshold):
    pdf, df, _, _, _ = frames["random"]
    options = {"exclude": ["id", "y", "flag", "code"], "method": "mdlp", **threshold}
    local = tl.TableBinning(**options).fit(pdf, "x1")
    same_binning(local, tls.fit(tl.TableBinning(**options), df, "x1"))
    # The table of one column keeps the threshold it applied.
    read = ("target_was_binary", "threshold")
    one = tl.mdlp_binning(pdf["x2"], pdf["x1"], **threshold).metadata
    spark = tls.mdlp_binning(df, "x2", "x1", **threshold).metadata
    assert [spark[k] for k in read] == [one[k] for k in read]


def test_limits_and_targets_are_errors_that_say_what_to_do(frames):
    _, df, _, _, _ = frames["random"]
    with pytest.raises(
        ValueError,
        match=r"column 'x1' has \d+ distinct values, more than "
        r"max_distinct=10 .*F.round\('x1', 4\).*approximate=K",
    ):
        tls.mdlp_binning(df, "x1", "y", max_distinct=10)
    with pytest.raises(tl.TargetError, match="the target 'x0' is not 0/1: give event="):
        tls.mdlp_binning(df, "x1", "x0")
    grade = tls.categorical_binning(df, "grade", "y")
    with pytest.raises(
        ValueError,
        match=r"transform_column of the categorical table 'grade' "
        r"needs its column's type: type_name=df.schema\['grade'\]",
    ):
        tls.transform_column(grade, "grade")
    with pytest.raises(ValueError, match=r"column\(s\) not in the DataFrame: 'z', 'age'"):
        tls.fit_table(df, "z", ["x1", "age"])
    with pytest.raises(
        ValueError,
        match=r"column\(s\) 'grade' hold no numbers: bin categories "
        "with categorical_binning",
    ):
        tls.fit_table(df, "y", ["x1", "grade"])
    with pytest.raises(tl.TargetError, match="percentile must be between 0 and 100, not 101"):
        tls.mdlp_binning(df, "x2", "x1", percentile=101)


def cell_maxima(x, cells, specials):
    """Each finite value that is not special replaced by the largest value of
    its cell: distinct values ascending, a value in cell floor(rows before it
    * cells / rows)."""
    ordinary = np.isfinite(x) & ~np.isin(x, specials)
    values, rows = np.unique(x[ordinary], return_counts=True)
    before = np.cumsum(rows) - rows
    cell = np.floor(before * cells / rows.sum())
    last = np.r_[cell[1:] != cell[:-1], True]
    largest = values[last][np.cumsum(np.r_[0, last[:-1]])]
    out = x.copy()
    out[ordinary] = largest[np.searchsorted(values, x[ordinary])]
    return out


@pytest.mark.parametrize("method", ["mdlp", "optimal", "quantile"])
def test_approximate_merges_values_into_cells_with_exact_counts(frames, method):
    pdf, df, _, _, _ = frames["random"]
    specials = [] if method == "quantile" else [-999.0]
    remote = tls.fit_table(
        df, "y", ["x2"], method=method, special_values=specials, max_distinct=40, approximate=25
    )["x2"]
    options = {"special_values": specials} if specials else {}
    x = cell_maxima(pdf["x2"].to_numpy(), 25, specials)
    same_table(getattr(tl, f"{method}_binning")(x, pdf["y"], name="x2", **options), remote)


def test_names_with_dots_and_backticks_decimals_and_text_targets_as_locally(spark, frames):
    german, df, target, _, _ = frames["german"]
    # A text target without event= names its values, as locally.
    with pytest.raises(tl.TargetError) as local:
        tl.mdlp_binning(german["duration_in_month"], german[target])
    with pytest.raises(tl.TargetError) as remote:
        tls.mdlp_binning(df, "duration_in_month", target)
    assert str(remote.value) == str(local.value) and "values found: bad, good" in str(local.value)
    # Names are names, whatever they hold; decimals are numbers.
    from decimal import Decimal

    pdf = pd.DataFrame(
        {
            "a.b": german["duration_in_month"].astype(float),
            "c`d": german["purpose"],
            "amount (€)": [Decimal(v) / 100 for v in german["credit_amount"]],
            "opened": pd.Timestamp("2020-01-01") + pd.to_timedelta(german["id"], "D"),
            "y.t": (german[target] == "bad").astype(float),
        }
    )
    sdf = spark.createDataFrame(pdf)
    assert spark_type(sdf, "amount (€)") == "decimal"
    local_fit = tl.TableBinning(min_iv=0).fit(pdf, "y.t")
    remote_fit = tls.fit(tl.TableBinning(min_iv=0), sdf, "y.t")
    same_binning(local_fit, remote_fit)
    assert list(local_fit.tables) == ["a.b", "c`d", "amount (€)"]
    assert "whose numbers depend on their unit" in remote_fit.skipped["opened"]
    rows = tls.transform(remote_fit, sdf, "woe").toPandas()
    expected = local_fit.transform(pdf.drop(columns=["y.t"]), "woe")
    assert rows["opened"].dtype.kind == "M"  # passed through
    for name in local_fit.tables:
        np.testing.assert_array_equal(
            rows[name].to_numpy(), expected[name].to_numpy(), err_msg=name
        )


def spark_type(df, name):
    return df.schema[name].dataType.typeName()
