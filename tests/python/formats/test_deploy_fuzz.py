"""Random documents, as fits write them and corrupted: each one is either
refused with a DocumentError or gives a model that `transform`, SQLite and
DuckDB score alike, bit for bit, on hostile values."""

import json
import math
import sqlite3

import numpy as np
import pandas as pd
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from package_under_test import tessaline as tl

DUCKDB = pytest.importorskip("duckdb").connect()
pytestmark = pytest.mark.filterwarnings("ignore::tessaline.exceptions.UnseenValueWarning")

N_ROWS = 40
finite = st.floats(allow_nan=False, allow_infinity=False)
NUMBERS = [
    math.nan,
    math.inf,
    -math.inf,
    0.0,
    -0.0,
    5e-324,
    -5e-324,
    2.2250738585072014e-308,
    2.0**53,
    1.7976931348623157e308,
]
INTEGERS = [0, 7, -3, 2**53 + 1, -(2**53) - 1, 2**60 + 1, 2**63 - 1, -(2**63)]
NAMES = ["a", "b", "c", "other", "it's", "True", ""]
JUNK = st.one_of(
    st.floats().map(float.hex),
    st.floats().map(repr),
    st.integers(),
    st.integers(min_value=2**63),
    st.booleans(),
    st.none(),
    st.text(max_size=3),
    st.lists(st.integers(), max_size=2),
    st.just({}),
)


@st.composite
def tables(draw):
    """A table fitted on random rows: cut at random doubles with special
    values, or of categories (names, some of them rare, or booleans)."""
    y = np.array(draw(st.lists(st.booleans(), min_size=N_ROWS, max_size=N_ROWS)))
    kind = draw(st.sampled_from(["numeric", "names", "booleans"]))
    if kind == "numeric":
        cuts = sorted(set(draw(st.lists(finite, max_size=4))))
        specials = draw(st.lists(finite, max_size=2, unique=True))
        x = draw(
            st.lists(
                st.sampled_from(cuts + specials + [math.nan]) | finite,
                min_size=N_ROWS,
                max_size=N_ROWS,
            )
        )
        return tl.custom_binning(x, y, cuts, special_values=specials, name="x")
    values = st.booleans() if kind == "booleans" else st.sampled_from(NAMES) | st.none()
    x = np.array(draw(st.lists(values, min_size=N_ROWS, max_size=N_ROWS)), dtype=object)
    return tl.categorical_binning(
        x, y, min_share=0.1, method="mdlp", force_first_split=True, name="x"
    )


@st.composite
def models(draw):
    """A table, or a scorecard of one variable binned by such a table."""
    table = draw(tables())
    if draw(st.booleans()):
        return table
    binning = tl.TableBinning()
    binning.restore(tables={"x": table}, skipped={}, summary=None, fitted_columns=["x"])
    card = tl.Scorecard(binning, rounding=draw(st.none() | st.integers(0, 2)))
    return card.set_model(["x"], [draw(st.floats(-3, 3))], draw(st.floats(-3, 3)))


def corrupted(draw, doc):
    """`doc` with one field, at any depth, set to a hostile value."""
    paths, stack = [], [((), doc)]
    while stack:
        path, node = stack.pop()
        children = node.items() if isinstance(node, dict) else enumerate(node)
        for key, child in children:
            paths.append(path + (key,))
            if isinstance(child, (dict, list)):
                stack.append((path + (key,), child))
    *parents, last = draw(st.sampled_from(paths))
    node = doc
    for key in parents:
        node = node[key]
    node[last] = draw(JUNK)
    return doc


def probes(table):
    """Hostile values of each type an engine holds, and what `transform`
    reads in them (text in a numeric column is a missing value)."""
    if table.bin_categories is None:
        near = [
            v
            for c in [*table.splits, *table.special_values]
            for v in (math.nextafter(c, -math.inf), c, math.nextafter(c, math.inf))
        ]
        floats = np.array(NUMBERS + near)
        return {
            "DOUBLE": (floats, floats),
            "BIGINT": (np.array(INTEGERS), np.array(INTEGERS)),
            "BOOLEAN": (np.array([True, False]), np.array([True, False])),
            # Only SQLite holds text in a numeric column (DuckDB refuses to cast it).
            "TEXT": (np.array(["", "1.5e"], dtype=object), np.full(2, math.nan)),
        }
    names = {n for b in table.bin_categories for n in b} | set(table.pooled_categories)
    if names <= {"True", "False"}:
        return {"BOOLEAN": (np.array([True, False, None], dtype=object),) * 2}
    text = np.array(sorted(names | {"zz", "True"}) + [None], dtype=object)
    return {"VARCHAR": (text, text)}


def outputs(model):
    """Each output of the model: what it gives for values of "x", and its
    query over the table "applicants" in a dialect (the output last)."""
    if isinstance(model, tl.Scorecard):
        return [
            (
                lambda values: model.score({"x": values}),
                lambda dialect: model.to_sql("applicants", dialect=dialect),
            )
        ]
    return [
        (
            lambda values, o=o: model.transform(values, output=o),
            lambda dialect, o=o: (
                f"SELECT {model.to_sql('x', output=o, dialect=dialect)} FROM applicants"
            ),
        )
        for o in ("woe", "index")
    ]


def engine_scores(query, kind, held):
    """The query run over a column holding `held` in SQLite (a column of no
    declared type, each value in its own storage class) and in DuckDB (a
    column of its type), as float64 with NULL as NaN."""
    lite = sqlite3.connect(":memory:")
    lite.execute("CREATE TABLE applicants (x)")
    values = [v.item() if isinstance(v, np.generic) else v for v in held]
    lite.executemany("INSERT INTO applicants VALUES (?)", [(v,) for v in values])
    scores = [[row[-1] for row in lite.execute(query("sqlite"))]]
    if kind != "TEXT":
        DUCKDB.register("applicants", pd.DataFrame({"x": held}))
        scores.append([row[-1] for row in DUCKDB.execute(query("duckdb")).fetchall()])
    return [np.array([math.nan if v is None else v for v in s], dtype=np.float64) for s in scores]


def bits(values):
    values = np.asarray(values, dtype=np.float64)
    return np.where(np.isnan(values), np.nan, values).view(np.int64)


@settings(
    max_examples=150,
    deadline=None,
    derandomize=True,
    database=None,
    suppress_health_check=[HealthCheck.too_slow],
)
@given(model=models(), data=st.data())
def test_a_document_is_refused_or_scores_alike_everywhere(model, data):
    doc = model.to_dict()
    if data.draw(st.booleans()):
        doc = corrupted(data.draw, doc)
    try:
        model = tl.from_json(json.dumps(doc))
    except tl.DocumentError:
        return
    table = model.binning.tables["x"] if isinstance(model, tl.Scorecard) else model
    for kind, (held, read) in probes(table).items():
        for transform, query in outputs(model):
            for got in engine_scores(query, kind, held):
                np.testing.assert_array_equal(bits(got), bits(transform(read)))
