"""Monitoring a card in DuckDB: ROWS rows x 24 monthly periods x 20 variables
(numbers of a few dozen levels, a tenth of a few missing) with a 0/1 target
whose tenth is not known yet, held in an in-process DuckDB table.

`tessaline.engines.monitor` (one query grouped by period: the card's points,
the (score, flag) and bin groups, then the measures in the client) against
the floor of that work in DuckDB alone, a plain ``GROUP BY period, band`` of
the card's SQL score, and against the local route, `tessaline.monitor` of
the same rows already in a pandas frame. The card has whole points
(``rounding=0``), as deployed cards do, so scores take a few hundred values.

    .venv/bin/python bench/run.py --quick   # 1e6 rows, among the others
    .venv/bin/python bench/bench_monitor.py [--quick]
"""

from __future__ import annotations

import sys

import numpy as np
from common import Row, median_time, parse_args, print_table

PERIODS = 24
VARIABLES = 20


def applicants(rows: int, seed: int = 0):
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
    columns["month"] = rng.integers(0, PERIODS, rows) + 202400
    y = (rng.random(rows) < 1 / (1 + np.exp(-signal))).astype(np.float64)
    y[rng.random(rows) < 0.1] = np.nan
    columns["y"] = y
    return pd.DataFrame(columns)


def run(sizes: list[int]) -> list[Row]:
    try:
        import duckdb
        import pandas  # noqa: F401
        import sklearn  # noqa: F401
    except ImportError as error:
        return [Row("engines.monitor", sizes[-1], "DuckDB GROUP BY", None, None, note=str(error))]
    import tessaline as tl
    from tessaline import engines

    rows = sizes[-1]
    development = applicants(50_000, seed=1).drop(columns="month")
    card = tl.Scorecard(tl.TableBinning(method="quantile", n_bins=5), rounding=0)
    card.fit(development.dropna(subset=["y"]), "y")
    tl.keep_reference(card, development, target="y")
    frame = applicants(rows)
    connection = duckdb.connect()
    connection.register("frame", frame)
    connection.execute("CREATE TABLE loans AS SELECT * FROM frame")
    connection.unregister("frame")
    cuts = tl.MonitorState.from_dict(card.monitor_reference).layout.score_cuts
    band = "CASE WHEN score IS NULL THEN -1 " + " ".join(
        f"WHEN score <= {c!r} THEN {i}" for i, c in enumerate(cuts)
    )
    floor = (
        f"SELECT month, {band} ELSE {len(cuts)} END AS band, count(*) "
        f"FROM ({card.to_sql('loans', keep=['month'])}) GROUP BY 1, 2"
    )
    options = {"period": "month", "target": "y"}
    ours = median_time(lambda: engines.monitor(card, connection, "loans", **options), 3)
    plain = median_time(lambda: connection.execute(floor).fetchall(), 3)
    local = median_time(lambda: tl.monitor(card, frame, **options), 1)
    connection.close()
    shape = f"{PERIODS} periods x {VARIABLES} variables"
    return [
        Row("engines.monitor", rows, "DuckDB GROUP BY period, band", ours, plain, note=shape),
        Row("engines.monitor", rows, "tessaline.monitor (local)", ours, local, note=shape),
    ]


if __name__ == "__main__":
    args = parse_args()
    print_table(run([1_000_000] if args.quick else [10_000_000]))
    sys.exit(0)
