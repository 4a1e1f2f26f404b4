"""tessaline's exact fit over Spark against Spark's own work on the same data.

On `local[2]`, for a table of 20 numeric columns (ties, missing values) and a
0/1 target generated and cached in Spark, times: the MDLP tables of every
column (`tessaline.spark.fit_table`), Spark's groupBy count of the same
columns by value (the least work any exact method needs), and Spark ML's
QuantileDiscretizer fit (approximate quantiles, 10 buckets). Prints the
median of the repetitions and tessaline's time over each peer's, for both
ways of counting: Spark's own aggregation (counting="dataframe") and the
native per-partition kernel through mapInArrow (counting="arrow").

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
        columns.append(
            F.when(F.rand(seed=100 + j) < 0.02, F.lit(float("nan"))).otherwise(x).alias(f"x{j}")
        )
    df = df.select(*columns)
    # Events more likely where x0 is high.
    event = F.rand(seed=999) < 1 / (1 + F.exp(-F.col("x0") / 3))
    return df.select(*df.columns, event.cast("double").alias("y")).cache()


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

    spark = (
        SparkSession.builder.master("local[2]")
        .config("spark.ui.enabled", "false")
        .config("spark.sql.shuffle.partitions", "4")
        .config("spark.driver.memory", "4g")
        .getOrCreate()
    )
    spark.sparkContext.setLogLevel("ERROR")
    names = [f"x{j}" for j in range(N_COLUMNS)]
    print(
        f"{'rows':>10} {'dataframe s':>12} {'arrow s':>8} {'groupBy s':>10} {'QD s':>7} "
        f"{'df/groupBy':>11} {'df/QD':>6} {'arrow/groupBy':>14} {'arrow/QD':>9}"
    )
    for rows in args.rows:
        df = frame(spark, rows)
        df.count()
        ours = timed(lambda: tls.fit_table(df, "y", names, method="mdlp"), args.repeat)

        # A new plan each time: Spark would otherwise reuse the shuffle of the
        # previous run of the same DataFrame and skip the counting.
        def by_value():
            return (
                df.select(
                    F.explode(
                        F.array(
                            *[
                                F.struct(F.lit(j).alias("c"), F.col(n).alias("x"))
                                for j, n in enumerate(names)
                            ]
                        )
                    ).alias("e")
                )
                .select("e.*")
                .groupBy("c", "x")
                .count()
                .collect()
            )

        grouped = timed(by_value, args.repeat)
        arrow = timed(
            lambda: tls.fit_table(df, "y", names, method="mdlp", counting="arrow"), args.repeat
        )
        discretizer = QuantileDiscretizer(
            numBuckets=10, inputCols=names, outputCols=[n + "_q" for n in names]
        )
        quantile = timed(lambda: discretizer.fit(df), args.repeat)
        print(
            f"{rows:>10} {ours:>12.2f} {arrow:>8.2f} {grouped:>10.2f} {quantile:>7.2f} "
            f"{ours / grouped:>11.2f} {ours / quantile:>6.2f} {arrow / grouped:>14.2f} "
            f"{arrow / quantile:>9.2f}",
            flush=True,
        )
        df.unpersist()
    spark.stop()


if __name__ == "__main__":
    main()
