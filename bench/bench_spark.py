"""tessaline's exact fit over Spark against Spark's own work on the same data.

On `local[2]`, for a table of 20 numeric columns (ties, missing values) and a
0/1 target generated and cached in Spark, times: the MDLP tables of every
column (`tessaline.spark.fit_table`), Spark's groupBy count of the same
columns by value (the least work any exact method needs), and Spark ML's
QuantileDiscretizer fit (approximate quantiles, 10 buckets). Prints the
median of the repetitions and tessaline's time over each peer's, and the time
of the other way to count, a per-partition C++ kernel (the core's
count_values) through mapInArrow merged by a groupBy, which moves every row
to a Python worker through Arrow first.

    .venv/bin/python bench/bench_spark.py --rows 1000000 10000000
"""
from __future__ import annotations

import argparse
import os
import statistics
import sys
import time

N_COLUMNS = 20


def frame(spark, rows):
    from pyspark.sql import functions as F

    df = spark.range(rows)
    columns = []
    for j in range(N_COLUMNS):
        # Half the columns with a few hundred levels, half with thousands.
        scale = 0.5 if j % 2 else 0.01
        x = F.round(F.randn(seed=j) * 3 / scale) * scale
        columns.append(F.when(F.rand(seed=100 + j) < 0.02, F.lit(float("nan"))).otherwise(x)
                       .alias(f"x{j}"))
    df = df.select(*columns)
    # Events more likely where x0 is high.
    event = F.rand(seed=999) < 1 / (1 + F.exp(-F.col("x0") / 3))
    return df.select(*df.columns, event.cast("double").alias("y")).cache()


def counted_per_partition(names):
    """A per-partition kernel for mapInArrow: each column's rows counted by
    distinct value and class by the core (count_values), one partition at a
    time; Spark then sums the partitions' counts by value."""
    def kernel(batches):
        import numpy as np
        import pyarrow as pa

        from tessaline import _native

        columns = {}
        for batch in batches:
            for name in [*names, "y"]:
                columns.setdefault(name, []).append(
                    batch.column(name).to_numpy(zero_copy_only=False))
        if not columns:
            return
        y = np.concatenate(columns["y"])
        labels = np.nan_to_num(y).astype(np.int32)
        for j, name in enumerate(names):
            x = np.concatenate(columns[name])
            known = ~np.isnan(y)
            counts = _native.count_values(x[known], labels[known])
            yield pa.RecordBatch.from_pydict({
                "c": np.full(len(counts["value"]), j, dtype=np.int32), "x": counts["value"],
                "c0": counts["c0"], "c1": counts["c1"]})
    return kernel


def timed(fn, repeat):
    fn()  # warm-up
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, nargs="+", default=[1_000_000])
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    from pyspark.ml.feature import QuantileDiscretizer
    from pyspark.sql import SparkSession
    from pyspark.sql import functions as F

    from tessaline import spark as tls

    spark = (SparkSession.builder.master("local[2]").config("spark.ui.enabled", "false")
             .config("spark.sql.shuffle.partitions", "4")
             .config("spark.driver.memory", "4g").getOrCreate())
    spark.sparkContext.setLogLevel("ERROR")
    names = [f"x{j}" for j in range(N_COLUMNS)]
    print(f"{'rows':>10} {'tessaline s':>12} {'groupBy s':>10} {'QD s':>8} "
          f"{'/groupBy':>9} {'/QD':>6} {'mapInArrow s':>13}")
    for rows in args.rows:
        df = frame(spark, rows)
        df.count()
        ours = timed(lambda: tls.fit_table(df, "y", names, method="mdlp"), args.repeat)
        # A new plan each time: Spark would otherwise reuse the shuffle of the
        # previous run of the same DataFrame and skip the counting.
        def by_value():
            return df.select(F.explode(F.array(*[
                F.struct(F.lit(j).alias("c"), F.col(n).alias("x")) for j, n in enumerate(names)
            ])).alias("e")).select("e.*").groupBy("c", "x").count().collect()
        grouped = timed(by_value, args.repeat)
        kernel = counted_per_partition(names)

        def through_arrow():
            return df.select(*names, "y").mapInArrow(
                kernel, "c int, x double, c0 long, c1 long").groupBy("c", "x").agg(
                F.sum("c0"), F.sum("c1")).toArrow()
        arrow = timed(through_arrow, args.repeat)
        discretizer = QuantileDiscretizer(numBuckets=10, inputCols=names,
                                          outputCols=[n + "_q" for n in names])
        quantile = timed(lambda: discretizer.fit(df), args.repeat)
        print(f"{rows:>10} {ours:>12.2f} {grouped:>10.2f} {quantile:>8.2f} "
              f"{ours / grouped:>9.2f} {ours / quantile:>6.2f} {arrow:>13.2f}", flush=True)
        df.unpersist()
    spark.stop()


if __name__ == "__main__":
    main()
