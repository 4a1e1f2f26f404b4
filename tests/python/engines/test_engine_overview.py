"""The data overview counted in SQLite, DuckDB, PostgreSQL and Parquet
files equals the local overview of the same rows, bit for bit."""

import numpy as np
import pandas as pd
import pytest
import sql_engines
from package_under_test import tessaline as tl
from sql_engines import ENGINES

from tessaline import engines


def table(dialect):
    rng = np.random.default_rng(3)
    n = 3000
    amount = rng.normal(1000, 300, n).round(1)
    amount[rng.random(n) < 0.08] = np.nan
    amount[:3] = [-0.0, np.inf, -np.inf]
    frame = pd.DataFrame(
        {
            "amount": amount,
            "term": rng.choice([12, 24, 36, 60], n),
            "purpose": rng.choice(["car", "home", "tv", None], n),
            "guarantor": rng.random(n) < 0.2,
            "bad": rng.integers(0, 2, n),
        }
    )
    # SQLite holds booleans as the numbers 0 and 1.
    return frame.astype({"guarantor": int}) if dialect == "sqlite" else frame


@ENGINES
@pytest.mark.parametrize("target", ["bad", None])
def test_engine_overview_equals_local(engine, dialect, target):
    frame = table(dialect)
    sql_engines.load(engine, dialect, frame)
    counted = engines.overview(engine, "applicants", target, batch_columns=2)
    local = tl.overview(frame, target)
    assert counted.to_dict() == local.to_dict()


@pytest.mark.parametrize("kind", ["parquet", "csv"])
def test_overview_files_equals_local(tmp_path, kind):
    frame = table("duckdb")
    path = tmp_path / f"loans.{kind}"
    frame.to_parquet(path) if kind == "parquet" else frame.to_csv(path, index=False)
    assert engines.overview_files(path, "bad").to_dict() == tl.overview(frame, "bad").to_dict()


def test_duckdb_dates_and_unprofiled_types():
    duckdb = pytest.importorskip("duckdb")
    connection = duckdb.connect()
    connection.execute(
        "CREATE TABLE t AS SELECT * FROM (VALUES (DATE '2024-01-01', [1], 0), "
        "(NULL, [2], 1), (DATE '2024-01-02', [3], 1), (DATE '2024-01-01', NULL, 0)) v(d, l, y)"
    )
    counted = engines.overview(connection, "t", "y")
    local = tl.overview(
        {"d": pd.to_datetime(["2024-01-01", None, "2024-01-02", "2024-01-01"])},
        np.array([0, 1, 1, 0]),
    )
    assert counted.to_dict()["columns"] == local.to_dict()["columns"]
    assert counted.skipped == {"l": "a column of INTEGER[] values"}


@pytest.mark.parametrize(
    ("options", "message"),
    [
        ({"target": "purpose"}, "the target is not 0/1 (values found: car, home, tv)"),
        ({"max_distinct": 100}, "column 'amount' has"),
        ({"batch_columns": 0}, "batch_columns must be at least 1, not 0"),
    ],
)
def test_engine_overview_errors(options, message):
    duckdb = pytest.importorskip("duckdb")
    connection = duckdb.connect()
    sql_engines.load(connection, "duckdb", table("duckdb"))
    options = {"target": "bad", **options}
    with pytest.raises(Exception) as error:
        engines.overview(connection, "applicants", options.pop("target"), **options)
    assert message in str(error.value)
