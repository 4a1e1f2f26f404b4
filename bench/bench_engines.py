"""Fitting where the data live against the engine's own count query and
against reading the table into pandas first.

The gate (the default, and `run` for bench/run.py): a table of GATE_ROWS
rows x 20 numeric columns, 10 of them of many distinct values (amounts,
scores and balances: at least 1e5 each) and 10 of a few hundred levels at
most, and a 0/1 target, in DuckDB and in a throwaway PostgreSQL server (as
the tests start one; skipped with the reason when no server is installed).
`engines.fit` is timed, interleaved with each of its two peers, against
the engine's GROUP BY value, target of every column fetched as arrays
(DuckDB: Arrow; PostgreSQL: binary COPY into NumPy), target COUNT_TARGET,
and against reading the table into pandas + `TableBinning.fit`, target
LOCAL_TARGET. The quick run of bench/run.py uses QUICK_ROWS rows, with the
same targets; a missed one is a FAIL line there. In DuckDB the fit without
the permutation test of the IVs (most of both fits' processor time, and no
part of the count query's work) is timed against the count query too,
without a target: what the pushdown itself costs.

`--files`: the measurements below, each in a process of its own.

DuckDB: a Parquet dataset of ROWS rows x 10 columns (8 numeric columns of a
few hundred to a few thousand levels with missing values, a text category,
an integer code) and a 0/1 target, written in row groups so that writing
it needs little memory; `tessaline.engines.fit_files` (DuckDB holding at
most 1 GB) against `pandas.read_parquet` + `TableBinning.fit`, each in a
process of its own, so that each peak RSS is that process's alone.

PostgreSQL: a table of PG_ROWS rows of the same shape generated inside a
throwaway server (as the tests start one); `engines.fit` in the database
against reading the table into pandas (psycopg) + `TableBinning.fit`.

Both print time and peak RSS and tessaline's ratios over the pandas path.

`--parts`: the gate's DuckDB fit and its local peer taken apart in one
process, each part's median wall and CPU time (all threads) over
alternating repetitions: the query's Arrow stream alone, the counts
(query, stream and counting), the tables from the counts with and without
the test of significance, the whole fit; reading into pandas, the local fit
with and without the test. On a shared machine the CPU times say more.

`--distinct N`: only the reading of the grouped counts of N distinct values
(two numeric columns, from DuckDB) into the client, as arrays a chunk at a
time against all rows at once as tuples; time and traced peak of each, in
one run, with their ratios.
The default sizes suit a shared laptop; `--full` is 1e8 rows (peak RSS must
stay under 2 GB through DuckDB; the pandas path runs at `--pandas-rows`, the
largest size that fits) and 1e7 rows in PostgreSQL.

    .venv/bin/python bench/bench_engines.py            # the gate at 1e6 rows
    .venv/bin/python bench/bench_engines.py --rows 200000
    .venv/bin/python bench/bench_engines.py --files    # 5e6 rows, 1e6 in PostgreSQL
    .venv/bin/python bench/bench_engines.py --files --full --pandas-rows 20000000
    .venv/bin/python bench/bench_engines.py --distinct 2000000
    .venv/bin/python bench/bench_engines.py --parts --rows 1000000
"""

from __future__ import annotations

import argparse
import glob
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

from common import Row, back_to_back, print_table, unavailable

N_NUMERIC = 8
CHUNK = 2_000_000

GATE_ROWS = 1_000_000
QUICK_ROWS = 200_000
COUNT_TARGET = 1.5
LOCAL_TARGET = 1.0
FUNCTION = "engines.fit, 20 columns (10 of >= 1e5 values)"
# The same fit without the permutation test of each column's IV, which
# takes most of both routes' processor time and which the count query
# does not do: the engine's own share (counts, pre-bins, search) alone.
UNTESTED = "engines.fit, no IV test, 20 columns (10 of >= 1e5 values)"


def write_parquet(path: str, rows: int) -> None:
    import numpy as np
    import pyarrow as pa
    import pyarrow.parquet as pq

    rng = np.random.default_rng(0)
    writer = None
    for start in range(0, rows, CHUNK):
        n = min(CHUNK, rows - start)
        columns = {}
        for j in range(N_NUMERIC):
            scale = 0.5 if j % 2 else 0.01
            x = np.round(rng.normal(size=n) * 3 / scale) * scale
            x[rng.random(n) < 0.02] = np.nan
            columns[f"x{j}"] = x
        columns["grade"] = np.array(list("ABCDEFG"))[rng.integers(0, 7, n)]
        columns["code"] = rng.integers(1, 20, n)
        columns["y"] = (rng.random(n) < 1 / (1 + np.exp(-np.nan_to_num(columns["x0"]) / 3))).astype(
            np.float64
        )
        table = pa.table(columns)
        writer = writer or pq.ParquetWriter(path, table.schema)
        writer.write_table(table, row_group_size=500_000)
    assert writer is not None
    writer.close()


def binning():
    import tessaline as tl

    return tl.TableBinning(method="mdlp", categorical=["code"])


def child(mode: str, where: str, rows: int) -> None:
    """One measured fit; prints its seconds and the process's peak RSS (MB)."""
    from tessaline import engines

    start = time.perf_counter()
    if mode == "duckdb":
        engines.fit_files(binning(), where, "y", memory_limit="1GB")
    elif mode == "parquet-pandas":
        import pyarrow.parquet as pq

        frame = pq.ParquetFile(where).iter_batches(batch_size=rows)
        binning().fit(next(frame).to_pandas(), "y")
    else:
        import psycopg

        with psycopg.connect(where, autocommit=True) as connection:
            if mode == "postgresql":
                engines.fit(binning(), connection, "loans", "y")
            else:
                import pandas as pd

                cursor = connection.execute("SELECT * FROM loans")
                frame = pd.DataFrame(cursor.fetchall(), columns=[d[0] for d in cursor.description])
                binning().fit(frame, "y")
    seconds = time.perf_counter() - start
    print(json.dumps({"seconds": seconds, "peak_mb": peak_rss_mb()}))


def peak_rss_mb() -> float:
    """This process's peak resident memory since it started its program
    (VmHWM: getrusage's maximum would count the parent's pages of the fork)."""
    with open("/proc/self/status") as status:
        line = next(line for line in status if line.startswith("VmHWM:"))
    return int(line.split()[1]) / 1024


def measured(mode: str, where: str, rows: int) -> dict[str, float]:
    out = subprocess.run(
        [sys.executable, __file__, "--child", mode, where, str(rows)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    return json.loads(out.strip().splitlines()[-1])


def report(
    title: str, ours: dict[str, float], theirs: dict[str, float], rows: int, peer_rows: int
) -> None:
    print(
        f"{title}: tessaline in the engine {ours['seconds']:.1f} s, {ours['peak_mb']:.0f} MB "
        f"peak ({rows:,} rows); read into pandas + fit {theirs['seconds']:.1f} s, "
        f"{theirs['peak_mb']:.0f} MB ({peer_rows:,} rows)"
    )
    per_row = ours["seconds"] / rows / (theirs["seconds"] / peer_rows)
    print(
        f"  ratios (engine / pandas): time per row {per_row:.2f}, "
        f"peak memory {ours['peak_mb'] / theirs['peak_mb']:.2f}"
    )


def postgres_table(server, rows: int) -> str:
    """The table "loans" generated inside the server; its connection string."""
    import psycopg

    numbers = ", ".join(
        f"CASE WHEN random() < 0.02 THEN NULL ELSE round((random() * 6 - 3) / {s})::float8 * {s} "
        f"END AS x{j}"
        for j, s in enumerate([0.01 if j % 2 == 0 else 0.5 for j in range(N_NUMERIC)])
    )
    where = f"host={server.dir} user=tessaline dbname=postgres"
    with psycopg.connect(where, autocommit=True) as connection:
        connection.execute(
            f"CREATE TABLE loans AS SELECT {numbers}, chr(65 + (random() * 6)::int) AS grade, "
            f"(random() * 18)::int + 1 AS code, (random() < 0.3)::int::float8 AS y "
            f"FROM generate_series(1, {rows})"
        )
        connection.execute("ANALYZE loans")
    return where


def distinct_fetch(n: int) -> None:
    """The grouped counts of `n` distinct values read as chunked arrays
    against one fetchall of tuples (the earlier reading), time and peak."""
    import tracemalloc

    import duckdb

    from tessaline._counting import NUMBER, ColumnType, counts_from_groups
    from tessaline.engines._fetch import fetched_counts

    connection = duckdb.connect()
    connection.execute(
        "CREATE TABLE g AS SELECT (i % 2)::BIGINT AS c, random() AS x, NULL::VARCHAR AS s, "
        f"3::BIGINT AS n, 2::BIGINT AS known, 1.0 AS ones FROM range({n}) t(i)"
    )
    query, columns = "SELECT * FROM g", ["a", "b"]
    types = dict.fromkeys(columns, ColumnType(NUMBER, "DOUBLE"))

    def tuples() -> None:
        keys = ("c", "x", "s", "n", "known", "ones")
        found = connection.execute(query).fetchall()
        counts_from_groups(dict(zip(keys, zip(*found))), columns, types, [], {})

    def arrays() -> None:
        fetched_counts(connection, query, columns, types, [], {})

    cost = {}
    for name, read in (("tuples", tuples), ("arrays", arrays)):
        # Timed untraced: tracing every allocation slows the tuples most.
        start = time.perf_counter()
        read()
        seconds = time.perf_counter() - start
        tracemalloc.start()
        read()
        cost[name] = (seconds, tracemalloc.get_traced_memory()[1] / 1e6)
        tracemalloc.stop()
    for name, (seconds, peak) in cost.items():
        print(f"{n:,} distinct values read as {name}: {seconds:.1f} s, {peak:.0f} MB traced peak")
    (t0, m0), (t1, m1) = cost["tuples"], cost["arrays"]
    print(f"  ratios (arrays / tuples): time {t1 / t0:.2f}, peak memory {m1 / m0:.2f}")


def gate_frame(rows: int):
    """20 numeric columns and a 0/1 target: m0-m9 of many distinct values
    (amounts in cents, scores to 3 decimals, balances to 1), f0-f9 of 10 to
    280 levels, 2% missing in each."""
    import numpy as np
    import pandas as pd

    rng = np.random.default_rng(0)
    columns = {}
    for j in range(10):
        x = [
            np.round(rng.lognormal(8, 1.2, rows), 2),
            np.round(rng.normal(600, 60, rows), 3),
            np.round(rng.normal(0, 1e4, rows), 1),
        ][j % 3]
        x[rng.random(rows) < 0.02] = np.nan
        columns[f"m{j}"] = x
    for j in range(10):
        x = rng.integers(0, 10 + 30 * j, rows).astype(np.float64)
        x[rng.random(rows) < 0.02] = np.nan
        columns[f"f{j}"] = x
    risk = (np.nan_to_num(columns["m1"], nan=600) - 600) / 60 + np.nan_to_num(columns["f3"]) / 50
    columns["y"] = (rng.random(rows) < 1 / (1 + np.exp(-risk))).astype(np.int64)
    return pd.DataFrame(columns)


def _fit(connection, **options):
    from tessaline import engines

    return lambda: engines.fit(tl_binning(**options), connection, "loans", "y")


def tl_binning(**options):
    import tessaline as tl

    return tl.TableBinning(**options)


def duckdb_rows(frame, repeat: int) -> list[Row]:
    import duckdb

    connection = duckdb.connect()
    connection.register("frame", frame)
    connection.execute("CREATE TABLE loans AS SELECT * FROM frame")
    connection.unregister("frame")
    columns = [c for c in frame.columns if c != "y"]

    def count_query() -> None:
        for c in columns:
            connection.sql(f"SELECT {c}, y, count(*) FROM loans GROUP BY {c}, y").to_arrow_table()

    def local() -> None:
        tl_binning().fit(connection.sql("SELECT * FROM loans").df(), "y")

    ours = _fit(connection)
    fit, counted = back_to_back(ours, count_query, repeat)
    fit_again, read = back_to_back(ours, local, repeat)
    untested = _fit(connection, max_iv_pvalue=None)
    untested_fit, counted_again = back_to_back(untested, count_query, repeat)
    n = len(frame)
    return [
        Row(FUNCTION, n, "DuckDB GROUP BY x, y to Arrow", fit, counted, COUNT_TARGET),
        Row(FUNCTION, n, "DuckDB to pandas + TableBinning.fit", fit_again, read, LOCAL_TARGET),
        Row(UNTESTED, n, "DuckDB GROUP BY x, y to Arrow", untested_fit, counted_again),
    ]


def duckdb_parts(rows: int, repeat: int) -> None:
    """Each part of the DuckDB fit and of the local route, wall and CPU."""
    import duckdb

    import tessaline as tl
    from tessaline import engines

    frame = gate_frame(rows)
    connection = duckdb.connect()
    connection.register("frame", frame)
    connection.execute("CREATE TABLE loans AS SELECT * FROM frame")
    connection.unregister("frame")
    columns = [c for c in frame.columns if c != "y"]
    stream = ", ".join(f"CAST({c} AS DOUBLE)" for c in [*columns, "y"])
    counts = engines.count_columns(connection, "loans", columns, "y")
    data = connection.sql("SELECT * FROM loans").df()

    def tables(test):
        return lambda: tl.TableBinning(max_iv_pvalue=test).fit_counts(counts, [*columns, "y"])

    parts = {
        "engine: query's Arrow stream": lambda: list(
            connection.sql(f"SELECT {stream} FROM loans").to_arrow_reader(1 << 20)
        ),
        "engine: counts (query, stream, counting)": lambda: engines.count_columns(
            connection, "loans", columns, "y"
        ),
        "engine: tables from counts, no test": tables(None),
        "engine: tables from counts with the test": tables(0.06),
        "engine: whole fit": lambda: engines.fit(tl.TableBinning(), connection, "loans", "y"),
        "local: read into pandas": lambda: connection.sql("SELECT * FROM loans").df(),
        "local: fit, no test": lambda: tl.TableBinning(max_iv_pvalue=None).fit(data, "y"),
        "local: fit with the test": lambda: tl.TableBinning().fit(data, "y"),
    }
    spent: dict[str, list[tuple[float, float]]] = {name: [] for name in parts}
    for k in range(repeat + 1):
        for name, part in parts.items():
            wall, cpu = time.perf_counter(), time.process_time()
            part()
            if k:  # the first round warms up
                spent[name].append((time.perf_counter() - wall, time.process_time() - cpu))
    print(f"{rows:,} rows, medians of {repeat}: wall and CPU (all threads) in ms")
    for name, times in spent.items():
        wall, cpu = (statistics.median(t[i] for t in times) * 1e3 for i in (0, 1))
        print(f"  {name:45s} {wall:9.1f} {cpu:9.1f}")


def copied_arrays(connection, query: str, dtype):
    """The rows of `query` (fixed-width columns, no NULL) read with a
    binary COPY straight into a NumPy record array."""
    import numpy as np

    data = bytearray()
    with connection.cursor().copy(f"COPY ({query}) TO STDOUT (FORMAT BINARY)") as copy:
        for block in copy:
            data += block
    # A 19-byte header, then the rows, then a 2-byte trailer.
    return np.frombuffer(data, dtype=dtype, offset=19, count=(len(data) - 21) // dtype.itemsize)


def postgresql_rows(frame, repeat: int) -> list[Row]:
    import io

    import numpy as np
    import pandas as pd

    n = len(frame)
    if not glob.glob("/usr/lib/postgresql/*/bin/initdb"):
        reason = "skipped: no PostgreSQL server installed (Debian package postgresql)"
        print(f"PostgreSQL {reason}")
        return [
            unavailable(FUNCTION, n, "PostgreSQL GROUP BY x, y", COUNT_TARGET, reason),
            unavailable(FUNCTION, n, "PostgreSQL to pandas", LOCAL_TARGET, reason),
        ]
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "python"))
    from sql_engines import PostgresServer

    server = PostgresServer()
    try:
        connection = server.connect()
        columns = [c for c in frame.columns if c != "y"]
        connection.execute(
            "CREATE TABLE loans (" + ", ".join(f"{c} float8" for c in columns) + ", y int)"
        )
        text = io.StringIO()
        frame.to_csv(text, index=False, header=False)
        with connection.cursor().copy("COPY loans FROM STDIN (FORMAT CSV)") as copy:
            copy.write(text.getvalue())
        connection.execute("ANALYZE loans")
        counted = np.dtype(
            [("f", ">i2"), ("l0", ">i4"), ("x", ">f8"), ("l1", ">i4"), ("y", ">i4")]
            + [("l2", ">i4"), ("n", ">i8")]
        )

        def count_query() -> None:
            for c in columns:
                query = f"SELECT COALESCE({c}, 'NaN'), y, count(*) FROM loans GROUP BY 1, 2"
                copied_arrays(connection, query, counted)

        def local() -> None:
            cursor = connection.execute("SELECT * FROM loans")
            names = [d[0] for d in cursor.description]
            tl_binning().fit(pd.DataFrame(cursor.fetchall(), columns=names), "y")

        ours = _fit(connection)
        fit, count = back_to_back(ours, count_query, repeat)
        fit_again, read = back_to_back(ours, local, repeat)
        connection.close()
    finally:
        server.stop()
    return [
        Row(FUNCTION, n, "PostgreSQL GROUP BY x, y by binary COPY", fit, count, COUNT_TARGET),
        Row(FUNCTION, n, "PostgreSQL to pandas + TableBinning.fit", fit_again, read, LOCAL_TARGET),
    ]


def gate_rows(rows: int) -> list[Row]:
    frame = gate_frame(rows)
    repeat = 3 if rows <= QUICK_ROWS else 1
    # DuckDB's calls take a fifth of a second: nine of each, as the median of
    # three moved by a tenth from run to run on this shared machine.
    return duckdb_rows(frame, 3 * repeat) + postgresql_rows(frame, repeat)


def run(sizes: list[int]) -> list[Row]:
    """The gate for bench/run.py: at QUICK_ROWS in the quick run (largest
    size 1e6), else at GATE_ROWS."""
    return gate_rows(QUICK_ROWS if max(sizes) <= 1_000_000 else GATE_ROWS)


def missed_targets(rows: list[Row]) -> list[str]:
    return [
        f"FAIL: {r.function} at {r.rows:,} rows takes {r.ratio:.2f} times {r.peer}, "
        f"above {r.target:g}"
        for r in rows
        if r.function == FUNCTION and r.met == "NO"
    ]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, help="default 5e6 (1e8 with --full)")
    parser.add_argument("--pandas-rows", type=int, help="default: --rows")
    parser.add_argument("--pg-rows", type=int, help="default 1e6 (1e7 with --full)")
    parser.add_argument("--full", action="store_true")
    parser.add_argument("--child", nargs=3)
    parser.add_argument("--distinct", type=int, help="only the reading of N distinct values")
    parser.add_argument("--files", action="store_true", help="Parquet and PostgreSQL, peak RSS")
    parser.add_argument("--parts", action="store_true", help="the DuckDB fit's parts timed")
    args = parser.parse_args()
    if args.parts:
        duckdb_parts(args.rows or QUICK_ROWS, 5)
        return
    if args.child:
        child(args.child[0], args.child[1], int(args.child[2]))
        return
    if args.distinct:
        distinct_fetch(args.distinct)
        return
    if not args.files:
        rows = gate_rows(args.rows or GATE_ROWS)
        print_table(rows)
        for line in missed_targets(rows):
            print(line)
        if missed_targets(rows):
            sys.exit(1)
        return
    rows = args.rows or (100_000_000 if args.full else 5_000_000)
    pg_rows = args.pg_rows or (10_000_000 if args.full else 1_000_000)
    peer_rows = min(args.pandas_rows or rows, rows)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "loans.parquet")
        write_parquet(path, rows)
        report(
            "DuckDB over Parquet",
            measured("duckdb", path, rows),
            measured("parquet-pandas", path, peer_rows),
            rows,
            peer_rows,
        )
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "python"))
    from sql_engines import PostgresServer

    server = PostgresServer()
    try:
        where = postgres_table(server, pg_rows)
        report(
            "PostgreSQL",
            measured("postgresql", where, pg_rows),
            measured("postgresql-pandas", where, pg_rows),
            pg_rows,
            pg_rows,
        )
    finally:
        server.stop()


if __name__ == "__main__":
    main()
