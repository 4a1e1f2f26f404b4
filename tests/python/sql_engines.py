"""The SQL engines the exported expressions and the pushed-down fits run in:
SQLite (the standard library) and DuckDB in-process, and a throwaway
PostgreSQL server (Debian's postgresql package) started once per session in
a temporary directory as an unprivileged user, reached on a local socket.
Each loads a pandas frame as the table "applicants"."""

import glob
import os
import shutil
import sqlite3
import subprocess
import tempfile

import numpy as np
import pandas as pd
import pytest

ENGINE_NAMES = ["sqlite", "duckdb", "postgresql"]
ENGINES = pytest.mark.parametrize("dialect", ENGINE_NAMES)


def connect(dialect, server=None):
    if dialect == "sqlite":
        return sqlite3.connect(":memory:")
    if dialect == "duckdb":
        return pytest.importorskip("duckdb").connect()
    return server.connect()


def _pg_type(values):
    kind = values.dtype.kind
    if kind == "b" or (
        kind == "O" and values.dropna().map(type).eq(bool).all() and values.notna().any()
    ):
        return "BOOLEAN"
    return {"f": "DOUBLE PRECISION", "i": "BIGINT", "u": "BIGINT"}.get(kind, "TEXT")


def _pg_value(v, row, kind):
    # NaN of every other row of a column of doubles goes in as NULL, the
    # rest as PostgreSQL's NaN, so that both missing values are read.
    if (
        v is None
        or v is pd.NA
        or (isinstance(v, float) and v != v and (row % 2 == 0 or kind != "DOUBLE PRECISION"))
    ):
        return None
    return v.item() if isinstance(v, np.generic) else v


def load(connection, dialect, frame):
    """`frame` as the table "applicants" of the engine."""
    if dialect == "sqlite":
        frame.to_sql("applicants", connection, index=False, if_exists="replace")
    elif dialect == "duckdb":
        connection.execute("DROP TABLE IF EXISTS applicants")
        connection.register("loaded", frame)
        connection.execute("CREATE TABLE applicants AS SELECT * FROM loaded")
        connection.unregister("loaded")
    else:
        # A heap keeps no order of insertion: the view gives the rows in the frame's.
        connection.execute("DROP VIEW IF EXISTS applicants; DROP TABLE IF EXISTS loaded")
        names = ", ".join(f'"{name}"' for name in frame.columns)
        kinds = [_pg_type(frame[name]) for name in frame.columns]
        connection.execute(
            "CREATE TABLE loaded (row_number BIGINT, "
            + ", ".join(f'"{name}" {kind}' for name, kind in zip(frame.columns, kinds))
            + ")"
        )
        columns = [frame[name].astype(object).tolist() for name in frame.columns]
        with connection.cursor().copy(f"COPY loaded (row_number, {names}) FROM STDIN") as copy:
            for row, values in enumerate(zip(*columns)):
                copy.write_row([row, *(_pg_value(v, row, k) for v, k in zip(values, kinds))])
        connection.execute(
            f"CREATE VIEW applicants AS SELECT {names} FROM loaded ORDER BY row_number"
        )
    return connection


def loaded_in(dialect, server, schema, frame):
    """(connection, the frame as the engine holds it): `frame` loaded on a
    new connection, in a schema of its own on the PostgreSQL server (one
    server holds every module's data); SQLite holds booleans as the integers
    1 and 0, so what it holds is read back, to bin what it holds."""
    connection = connect(dialect, server)
    if dialect == "postgresql":
        connection.execute(f"CREATE SCHEMA {schema}; SET search_path TO {schema}")
    load(connection, dialect, frame)
    if dialect == "sqlite":
        frame = pd.read_sql("SELECT * FROM applicants", connection)
    return connection, frame


def query_frame(connection, query):
    """The result of a query as a frame, NULL as NaN in columns of numbers."""
    cursor = connection.execute(query)
    names = [d[0] for d in cursor.description]
    rows = cursor.fetchall()
    columns = list(zip(*rows)) if rows else [()] * len(names)
    out = {}
    for name, values in zip(names, columns):
        if all(v is None or isinstance(v, (int, float)) for v in values):
            values = [np.nan if v is None else float(v) for v in values]
        out[name] = values
    return pd.DataFrame(out)


class PostgresServer:
    """A PostgreSQL server of its own data directory and socket, run as
    `nobody` when the tests run as root (initdb refuses root)."""

    def __init__(self):
        found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
        if not found:
            pytest.skip("PostgreSQL is not installed (Debian package postgresql)")
        self.bin = os.path.dirname(found[-1])
        root = os.geteuid() == 0
        # Under /tmp as root, where the unprivileged user can reach it whatever TMPDIR is.
        self.dir = tempfile.mkdtemp(prefix="tessaline-pg-", dir="/tmp" if root else None)
        self.as_user = []
        if root:
            shutil.chown(self.dir, "nobody")
            self.as_user = ["runuser", "-u", "nobody", "--"]
        data = os.path.join(self.dir, "data")
        self._run(
            "initdb",
            "-D",
            data,
            "-U",
            "tessaline",
            "--auth=trust",
            "-E",
            "UTF8",
            "--locale=C.UTF-8",
        )
        self._run(
            "pg_ctl",
            "-D",
            data,
            "-l",
            os.path.join(self.dir, "log"),
            "-w",
            "-o",
            f"-k {self.dir} -c listen_addresses='' -c fsync=off -c full_page_writes=off",
            "start",
        )

    def _run(self, program, *args):
        # The server is not ours to check: the sanitizer runtime preloaded for
        # the instrumented module stays out of it (it hangs there), and a
        # server that does not start fails the tests instead of stalling them.
        env = {
            k: v
            for k, v in os.environ.items()
            if k != "LD_PRELOAD" and not k.endswith("SAN_OPTIONS")
        }
        subprocess.run(
            [*self.as_user, os.path.join(self.bin, program), *args],
            check=True,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
            cwd=self.dir,
            env=env,
            timeout=300,
        )

    def connect(self):
        psycopg = pytest.importorskip("psycopg")
        return psycopg.connect(host=self.dir, user="tessaline", dbname="postgres", autocommit=True)

    def stop(self):
        self._run("pg_ctl", "-D", os.path.join(self.dir, "data"), "-m", "fast", "-w", "stop")
        shutil.rmtree(self.dir, ignore_errors=True)
