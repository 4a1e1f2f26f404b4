"""Monitoring a Spark DataFrame gives the local result bit for bit."""

import os
import shutil

import pytest

import tessaline as tl

pyspark = pytest.importorskip("pyspark")
if shutil.which("java") is None and not os.environ.get("JAVA_HOME"):
    pytest.skip("Spark needs Java", allow_module_level=True)
if "asan" in os.environ.get("LD_PRELOAD", ""):
    pytest.skip("Spark does not run under the sanitizer runtime", allow_module_level=True)

import monitor_months  # noqa: E402
from monitor_months import CREDIT, TARGET  # noqa: E402

from tessaline import spark as tls  # noqa: E402


@pytest.mark.parametrize(
    "options",
    [
        {"period": "opened", "frequency": "month", "target": TARGET, "reference": CREDIT},
        {"period": "batch", "reference_period": "3"},
    ],
)
def test_a_spark_frame_is_monitored_as_locally(spark, options):
    card = tl.Scorecard(event="bad").fit(CREDIT, TARGET)
    months = monitor_months.months()
    df = spark.createDataFrame(months).repartition(4)
    monitor_months.same_result(
        tls.monitor(card, df, **options), tl.monitor(card, months, **options)
    )
