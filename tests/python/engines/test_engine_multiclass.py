"""A target of k classes fitted inside DuckDB, SQLite and PostgreSQL equals
the local multiclass fit of the same rows, bit for bit; a target that holds
no set of classes is refused with the local fit's message."""

import numpy as np
import pandas as pd
import pytest
import sql_engines
from sql_engines import ENGINES

import tessaline as tl
from tessaline import engines

_loaded = {}


def _frame(n=4000, seed=5):
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame(
        {
            "score": np.round(rng.normal(size=n), 2),
            "age": rng.integers(18, 70, n),
            "region": rng.choice(["north", "south", "east", None], n),
            "owner": rng.choice([True, False], n),
            "state": rng.choice(["current", "late", "default"], n, p=[0.7, 0.2, 0.1]),
            "grade": rng.integers(0, 4, n),
            # Weights of a few distinct values, so that rows share them; some 0.
            "w": rng.choice([0.0, 0.5, 1.0, 1.1, 3.0], n),
        }
    )
    frame.loc[::17, "score"] = np.nan
    frame.loc[::29, "score"] = -0.0
    frame.loc[::23, "state"] = None
    # The last grade follows the score, so that the bins differ from noise.
    frame.loc[frame.score > 1.0, "grade"] = 3
    return frame


@pytest.fixture(scope="module", autouse=True)
def close_loaded():
    yield
    for connection, _ in _loaded.values():
        connection.close()


@pytest.fixture
def classes_table(request, dialect):
    """(connection, the frame as the engine holds it), loaded once per engine."""
    if dialect not in _loaded:
        server = request.getfixturevalue("postgres") if dialect == "postgresql" else None
        _loaded[dialect] = sql_engines.loaded_in(dialect, server, "classes", _frame())
    return _loaded[dialect]


@ENGINES
@pytest.mark.parametrize(
    ("target", "options"),
    [
        ("state", {}),
        ("grade", {"exclude": ["state"], "trend": {"3": "ascending"}, "max_bins": 4}),
        ("state", {"categorical": ["age"], "special_values": [0.0], "objective": "js"}),
        ("state", {"sample_weight": "w"}),
        ("grade", {"sample_weight": "w", "categorical": ["age"], "min_class_count": 3}),
    ],
)
def test_a_multiclass_table_fits_as_locally(classes_table, target, options):
    connection, frame = classes_table
    weight = options.pop("sample_weight", None)
    local = tl.TableBinning(target="multiclass", **options).fit(frame, target, weight)
    remote = engines.fit(
        tl.TableBinning(target="multiclass", **options),
        connection,
        "applicants",
        target,
        sample_weight=weight,
    )
    assert isinstance(remote, tl.MulticlassTableBinning)
    assert remote.classes == local.classes
    assert remote.to_json() == local.to_json()


def test_files_fit_a_multiclass_target_as_locally(tmp_path):
    frame = _frame(1500, seed=9)
    frame.to_parquet(tmp_path / "part.parquet")
    local = tl.TableBinning(target="multiclass").fit(frame, "state")
    remote = engines.fit_files(
        tl.TableBinning(target="multiclass"), tmp_path / "*.parquet", "state"
    )
    assert remote.to_json() == local.to_json()


@pytest.mark.parametrize(
    ("frame", "options", "message"),
    [
        (
            pd.DataFrame({"x": [1.0, 2.0, 3.0], "y": ["a", "a", None]}),
            {},
            r"the target must hold two classes or more, not \['a'\]",
        ),
        (
            pd.DataFrame({"x": np.arange(2000.0), "y": np.arange(2000.0) / 7}),
            {},
            r"the target 'y' holds more than 1000 distinct values",
        ),
        (
            pd.DataFrame({"x": [1.0, 2.0], "y": [0, 1], "w": [1.0, -2.0]}),
            {"sample_weight": "w"},
            "sample_weight column 'w' must hold finite non-negative weights: a row holds -2.0",
        ),
        (
            pd.DataFrame({"x": [1.0, 2.0], "y": [0, 1], "w": [0.0, 0.0]}),
            {"sample_weight": "w"},
            "sample_weight",
        ),
        (
            pd.DataFrame({"x": [1.0, 2.0], "y": [0, 1]}),
            {"approximate": 10},
            "approximate= is not available for a multiclass target",
        ),
        (
            pd.DataFrame({"x": [1.0, 2.0, 3.0], "y": [0, 1, 2]}),
            {"max_distinct": 2},
            "column 'x' has 3 distinct values, more than max_distinct=2",
        ),
    ],
)
def test_a_target_of_no_classes_is_refused(frame, options, message):
    duckdb = pytest.importorskip("duckdb")
    connection = sql_engines.load(duckdb.connect(), "duckdb", frame)
    local_refuses = options == {} and frame.y.nunique() < 2
    if local_refuses:
        with pytest.raises(ValueError, match=message):
            tl.TableBinning(target="multiclass").fit(frame, "y")
    with pytest.raises(ValueError, match=message):
        engines.fit(tl.TableBinning(target="multiclass"), connection, "applicants", "y", **options)
