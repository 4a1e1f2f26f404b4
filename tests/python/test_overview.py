"""The data overview of local tables: worked values, the quantiles, mean
and deviation against independent computations, and one overview from
every kind of table."""

import math
import statistics

import numpy as np
import pandas as pd
import pytest
from package_under_test import tessaline as tl

from tessaline._column_profile import PERCENTILES, TargetCounts


def small():
    return pd.DataFrame(
        {
            "income": [1.0, 2.0, np.nan, 4.0, 4.0, np.inf, -0.0],
            "region": ["n", "s", None, "n", "s", "e", "e"],
            "owner": [True, False, True, True, False, True, False],
            "grade": pd.Categorical(["a", "b", "a", None, "b", "b", "a"]),
            "bad": [0, 1, 1, 0, np.nan, 1, 0],
        }
    )


def test_worked_example():
    ov = tl.overview(small(), "bad")
    income, region = ov["income"], ov["region"]
    assert [p.kind for p in ov.columns] == ["numeric", "text", "boolean", "categorical"]
    assert (income.rows, income.missing, income.distinct, income.infinite) == (7, 1, 5, 1)
    # Finite values 0 1 2 4 4: ties in the top go to the smaller value.
    assert income.top == ((4.0, 2), (0.0, 1), (1.0, 1), (2.0, 1), (math.inf, 1))
    assert income.quantiles[0] == 0.0 and income.quantiles[4] == 2.0 and income.quantiles[8] == 4.0
    assert income.mean == 11 / 5
    # The row of missing income has an event; of the present rows of known
    # target (the fifth has none) two of five are events.
    assert (income.missing_event_rate, income.present_event_rate, income.events) == (1.0, 0.4, 3)
    assert region.top == (("e", 2), ("n", 2), ("s", 2)) and region.distinct == 3
    assert math.isnan(ov["owner"].missing_event_rate) and ov["grade"].missing == 1


def test_statistics_against_independent_computations():
    rng = np.random.default_rng(7)
    x = rng.lognormal(size=5000).round(3)
    x[rng.random(x.size) < 0.05] = np.nan
    p = tl.overview({"x": x})["x"]
    finite = x[np.isfinite(x)]
    np.testing.assert_array_equal(p.quantiles, np.percentile(finite, PERCENTILES))
    assert p.mean == math.fsum(finite) / finite.size
    assert p.std == pytest.approx(statistics.stdev(finite.tolist()), rel=1e-14)
    values, counts = np.unique(finite, return_counts=True)
    order = np.lexsort((values, -counts))[:5]
    assert p.top == tuple(zip(values[order].tolist(), counts[order].tolist()))
    assert p.distinct == values.size


@pytest.mark.parametrize("library", ["polars", "pyarrow", "dict"])
def test_every_kind_of_table_gives_one_overview(library):
    frame = small()
    expected = tl.overview(frame, "bad").to_dict()
    if library == "polars":
        pl = pytest.importorskip("polars")
        data = pl.from_pandas(frame)
    elif library == "pyarrow":
        data = pytest.importorskip("pyarrow").Table.from_pandas(frame, preserve_index=False)
    else:
        data = {name: frame[name] for name in frame.columns}
    assert tl.overview(data, "bad").to_dict() == expected


def test_dates_count_rows_missing_and_distinct():
    days = pd.to_datetime(["2024-01-01", None, "2024-01-02", "2024-01-01"])
    p = tl.overview({"opened": days})["opened"]
    assert (p.kind, p.rows, p.missing, p.distinct, p.top) == ("date", 4, 1, 2, ())


@pytest.mark.parametrize("kind", ["pandas", "polars", "arrow"])
def test_to_frame_has_one_row_per_column(kind):
    table = tl.overview(small(), "bad").to_frame(kind=kind)
    names = table.column_names if kind == "arrow" else list(table.columns)
    assert table.shape[0] == 4 and "event_rate_missing" in names


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: tl.overview(small(), top=-1), "top must be a whole number of values, at least 0"),
        (lambda: tl.overview(small(), columns=["nope"]), "column(s) not in the table: 'nope'"),
        (lambda: tl.overview({"x": [1.0, 2.0]}, [0, 1, 1]), "column 'x' has 2 rows, the target 3"),
    ],
)
def test_errors(call, message):
    with pytest.raises(ValueError) as error:
        call()
    assert message in str(error.value)


def test_html_shows_the_printed_rows_escaped():
    page = tl.overview({"<b>": np.array([1.0, 2.0])}).to_html()
    assert "<th>column</th>" in page and "&lt;b&gt;" in page and "<b>" not in page


def test_a_numeric_target_is_read_above_its_threshold():
    loss = np.array([0.0, 5.0, np.nan, 12.0, 3.0, 20.0])
    x = np.array([1.0, np.nan, 2.0, np.nan, 3.0, 4.0])
    p = tl.overview({"x": x}, loss, value=4.0)["x"]
    # Events: losses above 4 (5, 12, 20); the third row's target is unknown.
    assert p.target == TargetCounts(2, 2, 3, 1) and p.events == 3
