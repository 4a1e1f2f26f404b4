"""
DuckDB on Parquet files
=======================

Files larger than memory are binned where they are: an in-process DuckDB
held to a memory limit counts each column by value, and only those counts
reach Python. Here the German credit data, copied forty times into eight
Parquet files.
"""

# %%
import pathlib
import tempfile

import duckdb
import pandas as pd

import tessaline as tl
from tessaline import engines

credit = tl.datasets.german_credit()
folder = pathlib.Path(tempfile.mkdtemp())
for part in range(8):
    pd.concat([credit] * 5).to_parquet(folder / f"part-{part}.parquet")

binning = engines.fit_files(
    tl.TableBinning(event="bad"), str(folder / "*.parquet"), "creditability", memory_limit="256MB"
)
print(binning.summary_frame()[["column", "iv", "bins"]].head(6).round(4).to_string(index=False))

# %%
# Scored in the engine too, with the same WoE as transform.
db = duckdb.connect()
db.execute(f"CREATE VIEW loans AS SELECT * FROM read_parquet('{folder}/*.parquet')")
woe = db.sql(binning.to_sql("loans", dialect="duckdb")).df()
print(woe.shape)
binning.tables["duration_in_month"].plot()
