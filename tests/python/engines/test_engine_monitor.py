"""Monitoring counted in SQLite, DuckDB, PostgreSQL and Parquet files gives
the local result bit for bit: the same counts (so the same state document)
and the same measures and lights."""

import copy

import monitor_months
import pytest
import sql_engines
from monitor_months import CREDIT, TARGET
from package_under_test import tessaline as tl
from sql_engines import ENGINES

from tessaline.engines import monitor as monitor_table
from tessaline.engines import monitor_files


@pytest.fixture(scope="module")
def card():
    return tl.Scorecard(event="bad").fit(CREDIT, TARGET)


@pytest.fixture(scope="module")
def months():
    return monitor_months.months()


@ENGINES
@pytest.mark.parametrize(
    "options",
    [
        {"frequency": "month", "target": TARGET, "reference": CREDIT},
        {"frequency": "quarter", "target": TARGET, "reference_period": "2024-Q2"},
        {"period": "batch", "reference_period": "3"},
    ],
)
def test_a_table_monitored_in_the_engine_is_monitored_as_locally(
    request, dialect, card, months, options
):
    server = request.getfixturevalue("postgres") if dialect == "postgresql" else None
    connection = sql_engines.load(sql_engines.connect(dialect, server), dialect, months)
    options = {"period": "opened", **options}
    try:
        remote = monitor_table(card, connection, "applicants", **options)
    finally:
        connection.close()
    monitor_months.same_result(remote, tl.monitor(card, months, **options))


@pytest.mark.parametrize("dialect", ["sqlite", "duckdb"])
def test_weighted_development_counts_are_compared_with_every_row_counted_once(
    dialect, card, months
):
    """The kept counts are sums of the development rows' weights; a period's
    rows count once each, in the engine as locally."""
    development = CREDIT.assign(w=1.0 + (CREDIT.index % 7) / 3)
    kept = tl.keep_reference(copy.deepcopy(card), development, target=TARGET, weight="w")
    connection = sql_engines.load(sql_engines.connect(dialect), dialect, months)
    options = {"period": "opened", "frequency": "month", "target": TARGET}
    try:
        remote = monitor_table(kept, connection, "applicants", **options)
    finally:
        connection.close()
    local = tl.monitor(kept, months, **options)
    monitor_months.same_result(remote, local)
    whole = tl.monitor(card, months, reference=CREDIT, **options).state.periods
    for label, counts in local.state.periods.items():
        assert {**counts.to_dict(), "bands": []} == {**whole[label].to_dict(), "bands": []}
    assert local.state.reference.bands.sum() == pytest.approx(development["w"].sum())


def test_a_binning_s_distributions_are_monitored_as_locally(months):
    duckdb = pytest.importorskip("duckdb")
    binning = tl.TableBinning(event="bad").fit(CREDIT, TARGET)
    connection = duckdb.connect()
    connection.register("applicants", months)
    options = {"period": "batch", "reference": CREDIT}
    remote = monitor_table(binning, connection, "applicants", **options)
    monitor_months.same_result(remote, tl.monitor(binning, months, **options))


def test_parquet_files_are_monitored_as_locally(tmp_path, card, months):
    months.iloc[:700].to_parquet(tmp_path / "a.parquet")
    months.iloc[700:].to_parquet(tmp_path / "b.parquet")
    options = {"period": "opened", "frequency": "month", "target": TARGET, "reference": CREDIT}
    remote = monitor_files(card, tmp_path / "*.parquet", **options)
    monitor_months.same_result(remote, tl.monitor(card, months, **options))


@pytest.mark.parametrize(
    ("read", "options", "message"),
    [
        ({}, {"period": "when"}, "column(s) not in the table: 'when'"),
        ({}, {"target": "outcome"}, "target names no column of the table: 'outcome'"),
        (
            {"event": None, "percentile": 50.0},
            {"target": "credit_amount"},
            "a target read at a percentile is read by each period's rows locally",
        ),
        (
            {"event": None},
            {"target": "installment_rate_in_percentage_of_disposable_income"},
            "the target 'installment_rate_in_percentage_of_disposable_income' is not 0/1",
        ),
        ({}, {"frequency": "week"}, "frequency must be 'month' or 'quarter', not 'week'"),
    ],
)
def test_what_the_engine_cannot_count_is_a_clear_error(card, months, read, options, message):
    duckdb = pytest.importorskip("duckdb")
    card = copy.deepcopy(card)
    vars(card.binning).update(read)
    connection = duckdb.connect()
    connection.register("applicants", months.drop(columns="batch"))
    options = {"period": "opened", "frequency": "month", "reference_period": "2024-01", **options}
    with pytest.raises((ValueError, tl.TargetError)) as raised:
        monitor_table(card, connection, "applicants", **options)
    assert str(raised.value).startswith(message)
