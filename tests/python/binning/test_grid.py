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


def worked_table():
    # Four cells of 50 rows: 10, 20, 30 and 40 events.
    x = np.repeat([1.0, 1.0, 2.0, 2.0], 50)
    y = np.repeat([1.0, 2.0, 1.0, 2.0], 50)
    events = np.concatenate([np.arange(50) < k for k in (10, 20, 30, 40)]).astype(float)
    return tl.grid_binning(x, y, events, name_x="a", name_y="b")


def test_worked_example():
    table = worked_table()
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


def test_worked_example_of_rectangles():
    # Six cells of 50 rows, two risky ones on a diagonal: 4 rectangles part
    # the risky from the safe exactly; 2 x 2 intervals cannot.
    events = {(1, 1): 5, (2, 1): 5, (3, 1): 40, (1, 2): 40, (2, 2): 5, (3, 2): 5}
    x, y = (np.repeat([key[k] for key in events], 50).astype(float) for k in (0, 1))
    target = np.concatenate([np.arange(50) < v for v in events.values()]).astype(float)
    table = tl.grid_binning(x, y, target, max_bins_x=2, max_bins_y=2, name_x="a", name_y="b")
    # Safe: 10 of the 100 events beside 90 of the 200 others; risky: 40 beside 10.
    assert table.information_value == 0.7 * math.log(36)
    assert (
        tl.grid_binning(x, y, target, max_bins_x=2, max_bins_y=2, method="grid").information_value
        < 1.61
    )
    assert table.regions[:3, :2].tolist() == [[0, 1], [0, 3], [5, 3]]
    assert table.woe[0, 0] == math.log(0.1 / 0.45) and table.woe[0, 1] == math.log(0.4 / 0.05)
    assert table.transform([2, 2], [1, 2], output="bin").tolist() == [
        "(-inf, 2] × (-inf, 1]",
        "(1, +inf) × (1, +inf)",
    ]
    assert str(table).splitlines()[0] == (
        "grid binning of 'a' by 'b': 3 x 2 bins in 4 rectangles, IV 2.5085 (optimum)"
    )


@pytest.mark.parametrize("y_kind", ["numeric", "categorical"])
def test_rows_counts_and_json_give_one_table(y_kind):
    x, y, target = pair_rows(3000, 1, y_kind)
    table = tl.grid_binning(x, y, target, trend_x="auto", min_cell_share=0.03, method="grid")
    frame = pd.DataFrame({"x": x, "y": y, "t": target})
    pairs = frame.groupby(["x", "y"], dropna=False).t.agg(["count", "sum"]).reset_index()
    from_counts = tl.grid_binning_from_counts(
        pairs.x,
        pairs.y.to_numpy(),
        pairs["count"] - pairs["sum"],
        pairs["sum"],
        trend_x="auto",
        min_cell_share=0.03,
        method="grid",
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


def with_codes(x, y, seed):
    """x coded -1 (refused) and -2 (absent) on some rows, y coded 99."""
    rng = np.random.default_rng(seed)
    x, y = x.copy(), y.copy()
    x[rng.random(x.size) < 0.06] = -1.0
    x[rng.random(x.size) < 0.01] = -2.0
    y[rng.random(y.size) < 0.04] = 99.0
    return x, y


def test_rectangles_beat_the_product_grid_and_read_back_exactly():
    x, y, target = pair_rows(3000, 1)
    x, y = with_codes(x, y, 1)
    limits = {"min_cell_share": 0.03, "special_values_x": [-1, -2], "special_values_y": [99]}
    table = tl.grid_binning(x, y, target, **limits)
    grid = tl.grid_binning(x, y, target, method="grid", **limits)
    assert table.metadata["method"] == "rectangles" and table.title() == (
        "grid binning of x by y: 10 + 2 special + missing x 9 + 1 special + missing bins "
        "in 21 rectangles, IV 2.3445 (optimum)"
    )
    assert table.information_value > grid.information_value
    # Each rectangle of intervals within the limits; its WoE in all its cells.
    cells, searched = table.cells(), np.s_[:10, :9]
    rows, inner = cells["c0"] + cells["c1"], np.unique(table.regions[searched])
    assert inner.size == 21 and rows[inner].min() >= 0.03 * (table.c0 + table.c1)[searched].sum()
    assert (table.woe == cells["woe"][table.regions]).all()
    assert table.iv.sum() == pytest.approx(table.information_value, rel=1e-12)
    # The special rows and columns, and the missing ones, are cells of their own.
    assert table.labels_x[10:] == ["special -1", "special -2", "missing"]
    assert table.labels_y[9:] == ["special 99", "missing"]
    assert table.c1[10].sum() == target[x == -1].sum()
    assert table.transform([-2, 0.1], [99, 99], output="index").tolist() == [
        table.regions[11, 9],
        table.regions[table.axis_x.index([0.1])[0], 9],
    ]
    assert table.transform([-2], [99], output="bin").tolist() == ["special -2 × special 99"]
    frame = pd.DataFrame({"x": x, "y": y, "t": target})
    pairs = frame.groupby(["x", "y"], dropna=False).t.agg(["count", "sum"]).reset_index()
    from_counts = tl.grid_binning_from_counts(
        pairs.x, pairs.y, pairs["count"] - pairs["sum"], pairs["sum"], **limits
    )
    for other in (tl.from_json(table.to_json()), from_counts):
        for key in ("cuts_x", "cuts_y", "c0", "c1", "woe", "iv", "regions"):
            assert getattr(other, key).tobytes() == getattr(table, key).tobytes()
        assert other.information_value == table.information_value
        assert other.axis_x.specials == (-1.0, -2.0)


@sql_engines.ENGINES
@pytest.mark.parametrize("y_kind", ["numeric", "categorical", "rectangles"])
def test_sql_scores_as_transform(run, dialect, y_kind):
    x, y, target = pair_rows(2000, 2, "categorical" if y_kind == "categorical" else "numeric")
    limits = {"method": "grid"} if y_kind == "numeric" else {}
    if y_kind != "categorical":
        x, y = with_codes(x, y, 2)
        limits |= {"special_values_x": [-1, -2], "special_values_y": [99]}
    table = tl.grid_binning(x, y, target, name_x="income", name_y="debt", **limits)
    assert table.metadata["method"] == limits.get("method", "rectangles")
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
            lambda: tl.grid_binning([1, 2], [1, 2], [0, 1], max_bins_x=21),
            ValueError,
            "max_bins_x must be a whole number from 1 to 20, not 21",
        ),
        (
            lambda: tl.grid_binning([1, 2], [1, 2], [0, 1], method="trees"),
            ValueError,
            "method must be 'rectangles' or 'grid', not 'trees'",
        ),
        (
            lambda: tl.grid_binning([1, 2], ["a", "b"], [0, 1], special_values_y=[-1]),
            ValueError,
            "grid_binning: special_values_y are codes of a numeric y, but y is categorical",
        ),
        (
            lambda: tl.grid_binning([1, 2], [1, 2], [0, 1], special_values_x=[np.inf]),
            ValueError,
            "special values must be finite numbers, not inf",
        ),
        (
            lambda: tl.grid_binning([-1, 2], [1, 2], [0, 1], special_values_x=[-1, 2]),
            ValueError,
            "grid_binning: no row holds both x and y outside their special values",
        ),
        (
            lambda: tl.grid_binning(
                np.arange(200.0), [f"c{i}" for i in range(200)], np.arange(200) % 2
            ),
            ValueError,
            "grid_binning: a categorical variable holds 200 categories beside values of the other; "
            "at most 128 can be grouped (pool the rare ones first)",
        ),
    ],
)
def test_errors_name_the_fault(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert str(raised.value) == message


@pytest.mark.parametrize(
    ("change", "message"),
    [
        (
            lambda d: d.update(x={"cuts": ["0x1p+1", "0x1p+0"]}),
            "x: cut points must be finite and increasing",
        ),
        (
            lambda d: d.update(y={"groups": [["a"], ["a"]]}),
            "y: every category must be a name in one group only",
        ),
        (lambda d: d.update(x={"bins": []}), "x: expected {'cuts': [...]} or {'groups': [...]}"),
        (lambda d: d["c0"].pop(), ": c0 must be 3 rows of 3 counts"),
        (
            lambda d: d["x"].update(specials=["0x1p+0", "0x1p+0"]),
            "x: special values must be distinct finite numbers",
        ),
        (lambda d: d.update(regions=[[0, 1, 2], [1, 3, 4], [5, 6, 7]]), ": rectangle 1 of the"),
        (lambda d: d.update(regions=[[0, 2, 1], [3, 4, 5], [6, 7, 8]]), ": regions must number"),
        (lambda d: d.update(regions=[[0, 1, 2], [3, 4, 5], [6, 6, 7]]), ": a special-value or"),
        (lambda d: d["c1"][0].__setitem__(0, 1.5), ": c1 must hold non-negative integers"),
        (
            lambda d: d["c1"][0].__setitem__(0, 11),
            ": information_value is not the one its counts give",
        ),
    ],
)
def test_a_document_no_fit_writes_is_refused(change, message):
    doc = worked_table().to_dict()
    change(doc)
    with pytest.raises(DocumentError) as raised:
        tl.GridBinningTable.from_dict(doc)
    assert str(raised.value).startswith(
        f"tessaline.grid_binning{'' if message[0] == ':' else ' '}{message}"
    )


@pytest.mark.parametrize(
    ("counts", "message"),
    [
        (([1, -1], [0, 1]), "c0 must hold counts of rows (non-negative whole numbers), not -1.0"),
        (([1, 1], [0.5, 1]), "c1 must hold counts of rows (non-negative whole numbers), not 0.5"),
    ],
)
def test_counts_that_are_not_counts_of_rows_are_refused(counts, message):
    with pytest.raises(ValueError) as raised:
        tl.grid_binning_from_counts([1.0, 2.0], ["a", "b"], *counts)
    assert str(raised.value) == message


def test_many_pre_bins_give_a_local_optimum_and_leave_the_input_alone():
    x, y, target = pair_rows(4000, 4)
    before = [a.copy() for a in (x, y, target)]
    table = tl.grid_binning(x, y, target, n_prebins=40, max_bins_x=8, max_bins_y=8)
    assert not table.metadata["exact"] and table.title().endswith("(local optimum)")
    assert all(np.array_equal(a, b, equal_nan=True) for a, b in zip(before, (x, y, target)))


@pytest.mark.parametrize(("method", "edges"), [("grid", 0), ("rectangles", 1)])
def test_the_heat_map_marks_every_cell(method, edges):
    pytest.importorskip("matplotlib").use("Agg")
    table = tl.grid_binning(*pair_rows(1000, 5), method=method)
    ax = table.plot()
    low, high = ax.images[0].get_clim()
    assert len(ax.texts) == table.woe.size and low == -high == -np.abs(table.woe).max()
    # The rectangles' edges, drawn as one line.
    assert len(ax.lines) == edges


@pytest.mark.parametrize("library", ["pandas category", "polars", "pyarrow"])
def test_a_data_frame_library_column_gives_the_table_of_its_values(library):
    x, y, target = pair_rows(1500, 6, "categorical")
    if library == "pandas category":
        columns = pd.Series(x, name="x"), pd.Series(y, dtype="category", name="y")
    elif library == "polars":
        pl = pytest.importorskip("polars")
        columns = pl.Series("x", x, nan_to_null=False), pl.Series("y", y.tolist())
    else:
        pa = pytest.importorskip("pyarrow")
        columns = pa.array(x, from_pandas=False), pa.array(y.tolist())
    table = tl.grid_binning(*columns, target)
    plain = tl.grid_binning(x, y, target)
    assert table.groups_y == plain.groups_y and table.woe.tobytes() == plain.woe.tobytes()
    assert table.transform(*columns).tobytes() == plain.transform(x, y).tobytes()
