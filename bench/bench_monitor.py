"""Monitoring a card over a Parquet file: ROWS rows x 24 monthly periods x 20
variables (numbers of a few dozen levels, a tenth of a few missing) with a
0/1 target whose tenth is not known yet, written by the benchmark into a
temporary directory in row groups of a million rows.

`tessaline.engines.monitor_files` (DuckDB reads the file and runs one query
grouped by period: the card's points, the (score, flag) and bin groups; the
measures in the client) against the local route, the rows pulled into
pandas (``read_parquet``) and `tessaline.monitor` of that frame; and against
the floor of the work in DuckDB alone, a plain ``GROUP BY period, band`` of
the card's SQL score over the same file. The card has whole points
(``rounding=0``), as deployed cards do, so scores take a few hundred values.

    .venv/bin/python bench/run.py --quick   # 1e6 rows, among the others
    .venv/bin/python bench/bench_monitor.py [--quick]   # 1e7 rows without --quick
"""

from __future__ import annotations

import pathlib
import sys
import tempfile

import numpy as np
from common import Row, median_time, parse_args, print_table

PERIODS = 24
VARIABLES = 20
CHUNK = 1_000_000


def applicants(rows: int, seed: int = 0, month: bool = True):
    import pandas as pd

    rng = np.random.default_rng(seed)
    columns = {}
    signal = np.zeros(rows)
    for j in range(VARIABLES):
        x = np.round(rng.normal(size=rows) * (5 + j), 0)
        signal += x / (5 + j) * (0.6 if j < 6 else 0.05)
        if j % 4 == 0:
            x[rng.random(rows) < 0.1] = np.nan
        columns[f"x{j}"] = x
    if month:
        columns["month"] = rng.integers(0, PERIODS, rows) + 202400
    y = (rng.random(rows) < 1 / (1 + np.exp(-signal))).astype(np.float64)
    y[rng.random(rows) < 0.1] = np.nan
    columns["y"] = y
    return pd.DataFrame(columns)


def write_parquet(path: pathlib.Path, rows: int) -> None:
    """`rows` applicants written a million at a time, never all in memory."""
    import pyarrow as pa
    import pyarrow.parquet as pq

    writer = None
    for seed, start in enumerate(range(0, rows, CHUNK)):
        table = pa.Table.from_pandas(
            applicants(min(CHUNK, rows - start), seed), preserve_index=False
        )
        writer = writer or pq.ParquetWriter(path, table.schema)
        writer.write_table(table)
    assert writer is not None
    writer.close()


def run(sizes: list[int]) -> list[Row]:
    try:
        import duckdb
        import pandas as pd
        import pyarrow  # noqa: F401
    except ImportError as error:
        return [
            Row("engines.monitor_files", sizes[-1], "pandas + monitor", None, None, note=str(error))
        ]
    import tessaline as tl
    from tessaline import engines

    rows = sizes[-1]
    development = applicants(50_000, seed=1_000, month=False)
    card = tl.Scorecard(tl.TableBinning(method="quantile", n_bins=5), rounding=0)
    card.fit(development.dropna(subset=["y"]), "y")
    tl.keep_reference(card, development, target="y")
    options = {"period": "month", "target": "y"}
    repeat = 3 if rows <= 1_000_000 else 1
    with tempfile.TemporaryDirectory() as folder:
        path = pathlib.Path(folder) / "loans.parquet"
        write_parquet(path, rows)

        def in_duckdb():
            return engines.monitor_files(card, path, **options)

        def in_pandas():
            return tl.monitor(card, pd.read_parquet(path), **options)

        assert str(in_duckdb()) == str(in_pandas())  # the same lights both ways
        ours = median_time(in_duckdb, repeat, warmup=0)
        local = median_time(in_pandas, repeat, warmup=0)
        connection = duckdb.connect()
        connection.execute(f"CREATE VIEW loans AS SELECT * FROM read_parquet('{path}')")
        cuts = tl.MonitorState.from_dict(card.monitor_reference).layout.score_cuts
        band = "CASE WHEN score IS NULL THEN -1 " + " ".join(
            f"WHEN score <= {c!r} THEN {i}" for i, c in enumerate(cuts)
        )
        floor = (
            f"SELECT month, {band} ELSE {len(cuts)} END AS band, count(*) "
            f"FROM ({card.to_sql('loans', keep=['month'])}) GROUP BY 1, 2"
        )
        plain = median_time(lambda: connection.execute(floor).fetchall(), repeat, warmup=0)
        connection.close()
    shape = f"Parquet, {PERIODS} periods x {VARIABLES} variables"
    return [
        Row(
            "engines.monitor_files",
            rows,
            "read_parquet + tessaline.monitor",
            ours,
            local,
            note=shape,
        ),
        Row("engines.monitor_files", rows, "DuckDB GROUP BY period, band", ours, plain, note=shape),
    ]


if __name__ == "__main__":
    args = parse_args()
    print_table(run([1_000_000] if args.quick else [10_000_000]))
    sys.exit(0)
