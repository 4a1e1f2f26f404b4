"""Outliers clipped at fit time: a clipped fit is the fit of the rows
clipped beforehand, from rows and from an engine's counts alike; the
bounds are found as stated and kept in the document; scoring the raw
values (transform, SQL) gives what scoring the clipped ones gives."""

import json

import numpy as np
import pandas as pd
import pytest
import sql_engines
from package_under_test import tessaline as tl
from sql_engines import ENGINES

from tessaline import engines

SPECIAL = -999.0


def credit(n=4000, seed=5):
    rng = np.random.default_rng(seed)
    income = rng.lognormal(3, 1.2, n)
    income[:40] = np.nan
    income[40:45] = np.inf
    income[45:60] = SPECIAL
    frame = pd.DataFrame(
        {
            "income": income,
            "age": rng.normal(40, 12, n).round(),
            "region": rng.choice(list("abc"), n),
        }
    )
    odds = np.log(np.abs(income) + 1) - 3 + (frame.age.to_numpy() - 40) / 20
    bad = (rng.random(n) < 1 / (1 + np.exp(-np.nan_to_num(odds)))).astype(float)
    bad[:400:9] = np.nan
    return frame.assign(bad=bad)


def clipped_beforehand(frame, bounds):
    out = frame.copy()
    for name, (low, high) in bounds.items():
        x = out[name].to_numpy()
        out[name] = np.where(x == SPECIAL, x, np.clip(x, low, high))
    return out


def binning(method, clip=None):
    return tl.TableBinning(method=method, clip=clip, special_values=[SPECIAL], min_iv=0.0)


@pytest.mark.parametrize("method", ["optimal", "mdlp", "quantile", "equal_width"])
@pytest.mark.parametrize("clip", [(0.05, 0.95), ("iqr", 1.5), {"income": (5.0, None)}])
def test_a_clipped_fit_is_the_fit_of_clipped_rows(method, clip):
    frame = credit()
    fitted = binning(method, clip).fit(frame, "bad")
    plain = binning(method).fit(clipped_beforehand(frame, fitted.clip_bounds), "bad")
    assert set(fitted.clip_bounds) == ({"income"} if isinstance(clip, dict) else {"income", "age"})
    assert {n: t.to_dict() for n, t in fitted.tables.items()} == {
        n: t.to_dict() for n, t in plain.tables.items()
    }
    # The outer bins are open, so raw values fall where their clipped ones do.
    raw = fitted.transform(frame.drop(columns="bad"), output="index")
    clipped = fitted.transform(
        clipped_beforehand(frame, fitted.clip_bounds).drop(columns="bad"), output="index"
    )
    for name in raw:
        np.testing.assert_array_equal(raw[name], clipped[name])


def test_bounds_are_the_quantiles_of_the_rows_of_known_target():
    frame = credit()
    bounds = binning("quantile", ("iqr", 2.0)).fit(frame, "bad").clip_bounds
    x = frame.income.to_numpy()
    counted = x[~np.isnan(frame.bad.to_numpy()) & np.isfinite(x) & (x != SPECIAL)]
    q1, q3 = np.percentile(counted, [25, 75])
    assert bounds["income"] == (q1 - 2.0 * (q3 - q1), q3 + 2.0 * (q3 - q1))
    share = binning("quantile", (0.01, 0.99)).fit(frame, "bad").clip_bounds["income"]
    assert share == tuple(np.percentile(counted, [1.0, 99.0]))


def test_the_document_keeps_the_bounds_and_older_ones_load():
    frame = credit()
    fitted = binning("optimal", {"income": (None, 50.0)}).fit(frame, "bad")
    doc = json.loads(fitted.to_json())
    assert doc["clip_bounds"] == {"income": [None, 50.0]}
    assert tl.TableBinning.from_json(json.dumps(doc)).clip_bounds == {"income": (-np.inf, 50.0)}
    del doc["clip_bounds"]
    assert tl.TableBinning.from_dict(doc).clip_bounds == {}
    doc["clip_bounds"] = {"age": [1.0, 0.0]}
    with pytest.raises(tl.DocumentError, match="must be numbers with low <= high"):
        tl.TableBinning.from_dict(doc)


@ENGINES
def test_an_engine_fit_clips_as_the_local_fit(engine, dialect):
    frame = credit()
    sql_engines.load(engine, dialect, frame)
    local = binning("optimal", (0.05, 0.95)).fit(frame, "bad")
    counted = engines.fit(binning("optimal", (0.05, 0.95)), engine, "applicants", "bad")
    assert counted.clip_bounds == local.clip_bounds
    assert counted.to_dict()["tables"] == local.to_dict()["tables"]


@ENGINES
def test_sql_of_a_clipped_fit_scores_the_raw_values_as_transform(dialect, run):
    frame = credit().drop(columns="bad")
    fitted = binning("optimal", (0.1, 0.9)).fit(credit(), "bad")
    want = fitted.transform(frame)
    got = run(fitted.to_sql("applicants", dialect=dialect), frame)
    for name in want:
        np.testing.assert_array_equal(got[name].to_numpy(dtype=np.float64), want[name])


@pytest.mark.parametrize(
    ("clip", "message"),
    [
        ((0.9, 0.1), "the quantiles of clip must satisfy 0 <= low < high <= 1"),
        ("winsor", "clip must be None, two quantiles such as (0.01, 0.99)"),
        (("iqr", -1.0), "the factor of clip='iqr'"),
        ({"income": (3.0,)}, "clip['income'] must be a (low, high) pair"),
    ],
)
def test_a_malformed_clip_is_refused(clip, message):
    with pytest.raises(ValueError) as error:
        tl.TableBinning(clip=clip)
    assert message in str(error.value)


def test_a_weighted_engine_fit_clips_as_the_local_fit():
    duckdb = pytest.importorskip("duckdb")
    frame = credit().assign(w=np.tile([0.0, 1.0, 2.5, 3.0], 1000))
    connection = duckdb.connect()
    sql_engines.load(connection, "duckdb", frame)
    local = binning("quantile", (0.05, 0.95)).fit(frame, "bad", sample_weight="w")
    counted = engines.fit(
        binning("quantile", (0.05, 0.95)), connection, "applicants", "bad", sample_weight="w"
    )
    assert counted.clip_bounds == local.clip_bounds
    assert counted.to_dict()["tables"] == local.to_dict()["tables"]


def test_partial_fit_clips_as_one_fit():
    frame = credit()
    batched = binning("optimal", (0.05, 0.95))
    for rows in np.array_split(np.arange(len(frame)), 3):
        part = frame.iloc[rows]
        batched.partial_fit(part.drop(columns="bad"), part.bad.to_numpy())
    whole = binning("optimal", (0.05, 0.95)).fit(frame, "bad")
    assert batched.clip_bounds == whole.clip_bounds
    assert batched.to_dict()["tables"] == whole.to_dict()["tables"]
