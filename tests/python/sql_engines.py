"""The two SQL engines the exported expressions are run in: SQLite (the
standard library) and DuckDB, each loading a pandas frame as the table
"applicants" and returning the query's result as a frame."""
import sqlite3

import pandas as pd
import pytest


def run_sqlite(query, frame):
    connection = sqlite3.connect(":memory:")
    frame.to_sql("applicants", connection, index=False)
    return pd.read_sql(query, connection)


def run_duckdb(query, frame):
    duckdb = pytest.importorskip("duckdb")
    connection = duckdb.connect()
    connection.register("scored", frame)
    connection.execute("CREATE TABLE applicants AS SELECT * FROM scored")
    return connection.execute(query).df()


ENGINES = pytest.mark.parametrize("dialect, run", [("sqlite", run_sqlite), ("duckdb", run_duckdb)])
