"""grid_binning: the table of a two-variable binning from rows and from
counts, its scoring by transform, JSON and SQL, and its errors."""

import math

import numpy as np
import pandas as pd
import pytest
import sql_engines
from package_under_test import tessaline as tl

from tessaline.exceptions import DocumentError


def pair_rows(n, seed, y_kind="numeric"):
    """Two correlated numbers with ties, NaN and infinities (or y as
    categories, None missing), and a 0/1 target likelier where both are high."""
    rng = np.random.default_rng(seed)
    x = np.round(rng.normal(size=n), 1)
    y = np.round(0.5 * x + rng.normal(size=n), 1)
    target = (rng.random(n) < 1 / (1 + np.exp(1.5 - x - y))).astype(float)
    x[rng.random(n) < 0.05], y[rng.random(n) < 0.05] = np.nan, np.nan
    x[:2], y[2:4] = [np.inf, -np.inf], [-np.inf, np.inf]
    if y_kind == "categorical":
        names = np.array(["low", "mid", "high", "top", "o'brien", None], dtype=object)
        y = names[np.where(np.isnan(y), 5, np.digitize(y, [-1, 0, 1, 1.5]))]
    return x, y, target


def test_worked_example():
    # Four cells of 50 rows: 10, 20, 30 and 40 events.
    x = np.repeat([1.0, 1.0, 2.0, 2.0], 50)
    y = np.repeat([1.0, 2.0, 1.0, 2.0], 50)
    events = np.concatenate([np.arange(50) < k for k in (10, 20, 30, 40)]).astype(float)
    table = tl.grid_binning(x, y, events, name_x="a", name_y="b")
    assert table.cuts_x.tolist() == [1.0] and table.cuts_y.tolist() == [1.0]
    assert table.c1.tolist() == [[10, 20, 0], [30, 40, 0], [0, 0, 0]]
    assert table.woe[0, 0] == math.log((10 / 100) / (40 / 100))
    assert table.woe[2, 2] == 0.0 and table.metadata["exact"]
    assert table.transform([1, 3, np.nan], [2, np.nan, 1], output="index").tolist() == [1, 5, 6]
    assert table.transform([1], [2], output="bin").tolist() == ["(-inf, 1] × (1, +inf)"]
    assert str(table).splitlines()[:4] == [
        "grid binning of 'a' by 'b': 2 x 2 bins, IV 0.9129 (optimum)",
        "WoE",
        "a \\ b      (-inf, 1]  (1, +inf)",
        "---------  ---------  ---------",
    ]


@pytest.mark.parametrize("y_kind", ["numeric", "categorical"])
def test_rows_counts_and_json_give_one_table(y_kind):
    x, y, target = pair_rows(3000, 1, y_kind)
    table = tl.grid_binning(x, y, target, trend_x="auto", min_cell_share=0.03)
    frame = pd.DataFrame({"x": x, "y": y, "t": target})
    pairs = frame.groupby(["x", "y"], dropna=False).t.agg(["count", "sum"]).reset_index()
    from_counts = tl.grid_binning_from_counts(
        pairs.x,
        pairs.y.to_numpy(),
        pairs["count"] - pairs["sum"],
        pairs["sum"],
        trend_x="auto",
        min_cell_share=0.03,
    )
    read = tl.from_json(table.to_json())
    for other in (from_counts, read):
        assert other.groups_y == table.groups_y
        for key in ("cuts_x", "cuts_y", "c0", "c1", "woe", "iv"):
            assert getattr(other, key).tobytes() == getattr(table, key).tobytes()
    assert read.information_value == table.information_value
    rows = table.c0 + table.c1
    searched = rows[:-1, :-1]
    assert searched.min() >= 0.03 * searched.sum()
    steps = np.diff(table.woe[:-1, :-1], axis=0)
    assert (steps > 0).all() if table.metadata["trend_x"] == "ascending" else (steps < 0).all()
    if y_kind == "categorical":
        # Each group gathers categories of neighbouring event rates; an
        # unseen one goes where a missing value goes.
        assert sorted(n for g in table.groups_y for n in g) == sorted(
            ["low", "mid", "high", "top", "o'brien"]
        )
        cols = table.c0.shape[1]
        index = table.transform([0.0, 0.0], ["unseen", None], output="index")
        assert index[0] == index[1] and index[0] % cols == cols - 1


@sql_engines.ENGINES
@pytest.mark.parametrize("y_kind", ["numeric", "categorical"])
def test_sql_scores_as_transform(run, dialect, y_kind):
    x, y, target = pair_rows(2000, 2, y_kind)
    table = tl.grid_binning(x, y, target, name_x="income", name_y="debt")
    new_y = y.copy()
    new_y[-1] = "unseen" if y_kind == "categorical" else 7.5
    frame = pd.DataFrame({"income": x, "debt": new_y})
    query = (
        f"SELECT {table.to_sql(dialect=dialect)} AS woe, "
        f"{table.to_sql(dialect=dialect, output='index')} AS idx FROM applicants"
    )
    got = run(query, frame)
    assert got["woe"].to_numpy().tobytes() == table.transform(x, new_y).tobytes()
    assert got["idx"].tolist() == table.transform(x, new_y, output="index").tolist()


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (
            lambda: tl.grid_binning([1, 2], [1], [0, 1]),
            ValueError,
            "x and y and target must be the same length, not 2 and 1 and 2",
        ),
        (
            lambda: tl.grid_binning([1, 2], [1, 2], [1, 1]),
            ValueError,
            "grid_binning: the rows hold a single class, so their information value is undefined",
        ),
        (
            lambda: tl.grid_binning([np.nan, 2], [1, np.nan], [0, 1]),
            ValueError,
            "grid_binning: no row holds both x and y",
        ),
        (
            lambda: tl.grid_binning([1, 2], [1, 2], [0, 1], trend_y="peak"),
            ValueError,
            "trend_y must be one of 'none', 'ascending', 'descending', 'auto', not 'peak'",
        ),
        (
            lambda: tl.grid_binning([1, 2], [1, 2], [0, 1], max_bins_x=0),
            ValueError,
            "max_bins_x must be a whole number of at least 1, not 0",
        ),
    ],
)
def test_errors_name_the_fault(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert str(raised.value) == message


def test_a_document_its_counts_do_not_give_is_refused():
    x, y, target = pair_rows(500, 3)
    doc = tl.grid_binning(x, y, target).to_dict()
    doc["c1"][0][0] += 1
    with pytest.raises(DocumentError, match="information_value is not the one its counts give"):
        tl.GridBinningTable.from_dict(doc)
