"""A weight column fitted inside DuckDB, SQLite and PostgreSQL equals the
local weighted fit of the same rows, bit for bit; bad weight columns are
refused naming the column and a value."""

import math

import numpy as np
import pytest
import sql_engines
from random_tables import TABLE_OPTIONS, cell_maxima, options_for, random_frame
from sql_engines import ENGINES

import tessaline as tl
from tessaline import engines
from tessaline._counting import summed_weights

_loaded = {}


@pytest.fixture(scope="module", autouse=True)
def close_loaded():
    yield
    for connection, _ in _loaded.values():
        connection.close()


@pytest.fixture
def weighted(request, dialect):
    """(connection, the frame as the engine holds it), weights 0 to 3 in "w"."""
    if dialect not in _loaded:
        server = request.getfixturevalue("postgres") if dialect == "postgresql" else None
        frame = random_frame(6_000, seed=11)
        frame["w"] = np.random.default_rng(2).integers(0, 4, len(frame)).astype(float)
        _loaded[dialect] = sql_engines.loaded_in(dialect, server, "weighted", frame)
    yield _loaded[dialect]


@ENGINES
@pytest.mark.parametrize("options", TABLE_OPTIONS)
def test_integer_weights_give_the_local_weighted_fit(weighted, options):
    connection, frame = weighted
    options = options_for(options, frame.drop(columns="w"), "y")
    local = tl.TableBinning(**options).fit(frame, "y", sample_weight="w")
    remote = engines.fit(
        tl.TableBinning(**options), connection, "applicants", "y", sample_weight="w"
    )
    assert remote.to_dict() == local.to_dict()


@ENGINES
def test_cells_are_cut_by_the_records_of_positive_weight(weighted):
    connection, frame = weighted
    options = {"exclude": ["x0", "x1", "grade", "flag", "code"], "special_values": [-999.0]}
    remote = engines.fit(
        tl.TableBinning(**options),
        connection,
        "applicants",
        "y",
        max_distinct=40,
        approximate=25,
        sample_weight="w",
    )
    kept = frame[frame["w"] > 0]
    cells = cell_maxima(kept["x2"].to_numpy(), 25, [-999.0])
    local = tl.TableBinning(**options).fit(kept.assign(x2=cells), "y", sample_weight="w")
    assert remote.to_dict() == local.to_dict()


def test_the_weights_of_a_value_are_its_exact_sum_rounded_once():
    w = [0.1, 0.7, 1e16, 3.0, 0.1]
    groups = summed_weights(
        {
            "c": [0, 0, 0, 0, 1],
            "x": [2.0, 2.0, 2.0, -0.0, None],
            "s": [None] * 5,
            "w": w,
            "n": [3, 1, 1, 2, 1],
            "known": [3, 1, 1, 1, 1],
            "ones": [1, 0, None, 1, 1],
        }
    )
    assert groups["x"][:2] == [-0.0, 2.0] and groups["n"] == [2, 5, 1]
    assert list(groups["w"]) == [6.0, math.fsum([0.1] * 3 + [0.7, 1e16]), 0.1]
    assert list(groups["w0"]) == [0.0, math.fsum([0.1] * 2 + [0.7, 1e16]), 0.0]
    assert list(groups["w1"]) == [3.0, 0.1, 0.1]


@ENGINES
@pytest.mark.parametrize(
    ("weights", "message"),
    [
        ("absent", "sample_weight names no column of the table: 'absent'"),
        ("grade", "sample_weight column 'grade' must hold numbers, not"),
        ("-2", "'v' must hold finite non-negative weights: a row holds -2.0"),
        ("NULL", "'v' must hold finite non-negative weights: a row holds missing \\(NULL\\)"),
        ("0", "sample_weight is zero for every row: there is nothing to count"),
    ],
)
def test_bad_weight_columns_are_refused(weighted, weights, message):
    connection, _ = weighted
    query = (
        f"SELECT x0, y, grade, CASE WHEN x0 > 0 THEN {weights} ELSE 1.5 END AS v FROM applicants"
        if weights in ("-2", "NULL")
        else "SELECT x0, y, grade, 0.0 AS v FROM applicants"
    )
    name = "v" if weights in ("-2", "NULL", "0") else weights
    with pytest.raises(ValueError, match=message):
        engines.fit(tl.TableBinning(), connection, query, "y", sample_weight=name)


@pytest.mark.parametrize("options", TABLE_OPTIONS)
def test_fractional_weights_give_one_fit_whatever_the_order_batches_or_engine(options):
    """Each value's weight is its exact sum rounded once, in every path."""
    duckdb = pytest.importorskip("duckdb")
    frame = random_frame(3_000, seed=5)
    rng = np.random.default_rng(6)
    frame["w"] = np.where(rng.random(len(frame)) < 0.05, 0.0, rng.random(len(frame)) * 2.5)
    options = options_for(options, frame.drop(columns="w"), "y")
    whole = tl.TableBinning(**options).fit(frame, "y", sample_weight="w").to_dict()
    shuffled = frame.sample(frac=1.0, random_state=1).reset_index(drop=True)
    assert tl.TableBinning(**options).fit(shuffled, "y", sample_weight="w").to_dict() == whole
    batched = tl.TableBinning(**options)
    for part in np.array_split(np.arange(len(shuffled)), 4):
        batched.partial_fit(shuffled.iloc[part], "y", sample_weight="w")
    assert batched.to_dict() == whole
    connection = duckdb.connect()
    connection.register("rows", shuffled)
    connection.execute("CREATE TABLE applicants AS SELECT * FROM rows")
    remote = engines.fit(
        tl.TableBinning(**options), connection, "applicants", "y", sample_weight="w"
    )
    assert remote.to_dict() == whole
