"""
Binning in Spark
================

The same binning from a Spark DataFrame: Spark sums the counts per value,
the native core bins them on the driver, and the tables equal the local ones
bit for bit. The WoE columns are plain Spark expressions.
"""

# %%
import os
import sys

os.environ.setdefault("PYSPARK_PYTHON", sys.executable)

from pyspark.sql import SparkSession

import tessaline as tl
from tessaline import spark as tls

spark = (
    SparkSession.builder.master("local[2]")
    .config("spark.ui.showConsoleProgress", "false")
    .config("spark.sql.shuffle.partitions", "3")
    .getOrCreate()
)
spark.sparkContext.setLogLevel("ERROR")
credit = tl.datasets.german_credit()
df = spark.createDataFrame(credit)
binning = tls.fit(tl.TableBinning(event="bad"), df, "creditability")
local = tl.TableBinning(event="bad").fit(credit, "creditability")
print("Spark's binning equals the local one:", binning.to_dict() == local.to_dict())

# %%
scored = tls.transform(binning, df, output="woe")
columns = ["duration_in_month", "credit_amount", "age_in_years"]
print(scored.select(*columns).toPandas().head().round(4))

# %%
binning.tables["credit_amount"].plot()

# %%
spark.stop()
