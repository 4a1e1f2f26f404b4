"""Keeping a fitted binning and scoring with it elsewhere: pickle and copies,
JSON documents, SQL run in SQLite and DuckDB, and scikit-learn's conventions.
Every round trip must give `transform`'s output bit for bit."""

import copy
import json
import pathlib
import pickle
import subprocess
import sys
import warnings

import numpy as np
import pandas as pd
import pytest
from package_under_test import ROOT, subprocess_env
from package_under_test import tessaline as tl
from sql_engines import ENGINES

from tessaline._core import pickle_state as state
from tessaline._earlier_paths import EARLIER_PATHS

DocumentError = tl.DocumentError

GERMAN = ROOT / "examples" / "data" / "germancredit.csv"


def random_frame(n=3000, seed=5):
    """Numeric and categorical columns with missing values, infinities, ties
    and special codes."""
    rng = np.random.default_rng(seed)
    x = rng.normal(size=n)
    frame = pd.DataFrame(
        {
            "score": np.where(rng.random(n) < 0.05, np.nan, x),
            "amount": np.round(rng.lognormal(7, 1, n), -2),
            "code": np.where(rng.random(n) < 0.1, -999.0, rng.integers(0, 40, n).astype(float)),
            "region": rng.choice(
                ["north", "south", "east", "west", "isle", None],
                n,
                p=[0.3, 0.3, 0.2, 0.15, 0.03, 0.02],
            ),
        }
    )
    frame.loc[:9, "score"] = np.inf
    frame.loc[10:19, "score"] = -np.inf
    y = (rng.random(n) < 1 / (1 + np.exp(-x - (frame["region"] == "north")))).astype(int)
    return frame, y


def scoring_frame(frame):
    """The frame with a category never seen in training and a tiny shift."""
    scored = frame.copy()
    scored.loc[0:4, "region"] = "atlantis"
    return scored


@pytest.fixture(scope="module")
def fitted():
    german = pd.read_csv(GERMAN)
    frame, y = random_frame()
    return [
        (
            tl.TableBinning(event="bad").fit(german, "creditability"),
            german.drop(columns="creditability"),
        ),
        (tl.TableBinning(special_values={"code": [-999]}).fit(frame, y), scoring_frame(frame)),
    ]


def assert_same_outputs(original, restored, frame, outputs=("woe", "index", "label")):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", tl.UnseenCategoryWarning)
        for output in outputs:
            want, got = (
                original.transform(frame, output=output),
                restored.transform(frame, output=output),
            )
            assert list(want) == list(got)
            for name in want:
                np.testing.assert_array_equal(
                    np.asarray(got[name]), np.asarray(want[name]), strict=True
                )


@pytest.mark.parametrize(
    "roundtrip",
    [
        lambda o: pickle.loads(pickle.dumps(o)),
        copy.deepcopy,
        copy.copy,
        lambda o: tl.TableBinning.from_json(o.to_json()),
    ],
    ids=["pickle", "deepcopy", "copy", "json"],
)
def test_a_kept_table_binning_transforms_as_the_original(fitted, roundtrip):
    for original, frame in fitted:
        restored = roundtrip(original)
        assert str(restored) == str(original) and restored.selected == original.selected
        assert_same_outputs(original, restored, frame)
        for name, table in original.tables.items():
            again = tl.BinningTable.from_json(table.to_json())
            assert str(again) == str(table) and again["woe"].flags.writeable is False
            assert restored.tables[name].metadata == table.metadata


def test_every_result_object_pickles_and_copies(fitted):
    joblib = pytest.importorskip("joblib")
    table = fitted[1][0].tables["score"]
    frame, y = random_frame()
    objects = [
        table,
        tl.psi(frame["score"], frame["score"] + 0.1, table),
        tl.gini(frame["score"], y),
        tl.MDLPDiscretizer(),
        tl.TableBinning(),
        tl.MDLPDiscretizer(output="woe").fit(frame[["amount", "code"]], y),
    ]
    pipeline = (
        pytest.importorskip("sklearn.pipeline")
        .make_pipeline(
            tl.MDLPDiscretizer(output="woe"),
            pytest.importorskip("sklearn.linear_model").LogisticRegression(),
        )
        .fit(frame[["amount", "code"]], y)
    )
    assert np.array_equal(
        pickle.loads(pickle.dumps(pipeline)).predict_proba(frame[["amount", "code"]]),
        pipeline.predict_proba(frame[["amount", "code"]]),
    )
    for obj in objects:
        for restored in (pickle.loads(pickle.dumps(obj)), copy.deepcopy(obj)):
            assert repr(restored) == repr(obj) and str(restored) == str(obj)
        path = pathlib.Path(pytest.importorskip("tempfile").mkdtemp()) / "model.joblib"
        joblib.dump(obj, path)
        assert repr(joblib.load(path)) == repr(obj)
    restored = pickle.loads(pickle.dumps(objects[1]))
    assert restored.columns["psi_bin"].flags.writeable is False and restored.psi == objects[1].psi
    np.testing.assert_array_equal(
        pickle.loads(pickle.dumps(objects[-1])).transform(frame[["amount", "code"]]),
        objects[-1].transform(frame[["amount", "code"]]),
    )


def test_a_pickle_naming_the_modules_earlier_paths_loads_in_a_new_interpreter(fitted, monkeypatch):
    binning = fitted[1][0]
    frame, _ = random_frame(400)
    continuous = tl.TableBinning(target="continuous").fit(
        frame[["score", "region"]], frame["amount"]
    )
    objects = [binning, continuous, binning.tables["score"].analysis()]
    counts = np.array([3, 2])
    objects.append(
        tl._binning.column_counts.category_counts(["a", "b"], counts, counts, counts - 1)
    )
    earlier = {current: path for path, current in EARLIER_PATHS.items()}
    classes = {type(o) for o in objects} | {tl.BinningTable, tl.ContinuousBinningTable}
    for cls in classes:
        monkeypatch.setattr(cls, "__module__", earlier[cls.__module__])
    pickled = pickle.dumps(objects)
    monkeypatch.undo()
    assert all(earlier[cls.__module__].encode() in pickled for cls in classes)
    loads = "import pickle, sys; print([repr(o) for o in pickle.loads(sys.stdin.buffer.read())])"
    run = subprocess.run(
        [sys.executable, "-c", loads], input=pickled, capture_output=True, env=subprocess_env()
    )
    assert run.stdout.decode().strip() == str([repr(o) for o in objects]), run.stderr.decode()


@pytest.mark.parametrize(
    "make",
    [
        lambda b: b.tables["code"],
        lambda b: b,
        lambda b: tl.Scorecard(b).set_model(["score"], [-1.0], 0.0),
        lambda b: tl.MDLPDiscretizer(),
    ],
    ids=["BinningTable", "TableBinning", "Scorecard", "MDLPDiscretizer"],
)
def test_a_pickle_of_another_layout_is_refused(fitted, make, monkeypatch):
    obj = make(fitted[1][0])
    monkeypatch.setattr(state, "STATE_VERSION", 2)
    foreign = pickle.dumps(obj)
    monkeypatch.undo()
    # Nested objects load first: a TableBinning's tables refuse before it does.
    with pytest.raises(
        tl.StateError,
        match=r"cannot load this [A-Za-z]+: it was pickled by another "
        r"tessaline release \(state layout 2, this release reads 1\)",
    ):
        pickle.loads(foreign)
    # A state of this layout written before it carried its number still loads;
    # one lacking a field (other than one added since, which loads with its
    # default) names it.
    older = {k: v for k, v in obj.__getstate__().items() if k != state.VERSION_KEY}
    type(obj).__new__(type(obj)).__setstate__(older)
    added = {*getattr(obj, "_state_defaults", ()), *getattr(obj, "_slot_defaults", ())}
    field = min(set(older) - added)
    with pytest.raises(
        tl.StateError, match=f"state layout no, this release reads 1; lacks {field}\\)"
    ):
        type(obj).__new__(type(obj)).__setstate__({k: v for k, v in older.items() if k != field})


def test_an_unfitted_table_binning_keeps_its_options_in_json():
    options = {
        "method": "quantile",
        "n_bins": 5,
        "special_values": {"age": [-1.0]},
        "columns": {"age": {"method": "mdlp"}},
        "top_n": 3,
    }
    restored = tl.TableBinning.from_json(tl.TableBinning(**options).to_json())
    assert {k: restored.get_options()[k] for k in options} == options


def document(fitted):
    return json.loads(fitted[1][0].tables["score"].to_json())


@pytest.fixture(scope="module")
def documents(fitted):
    """A numeric and a categorical table, a table binning and a scorecard, as documents."""
    binning = fitted[1][0]
    names = ["score", "region"]
    card = tl.Scorecard(binning, rounding=1).set_model(names, [-0.75, -1.25], 0.5)
    return {
        "numeric": binning.tables["score"].to_json(),
        "categorical": binning.tables["region"].to_json(),
        "table": binning.to_json(),
        "card": card.to_json(),
    }


def setting(path, value):
    """A change of a document that sets the field at `path` (keys and indices) to `value`."""

    def change(doc):
        for key in path[:-1]:
            doc = doc[key]
        doc[path[-1]] = value(doc[path[-1]]) if callable(value) else value

    return change


def nudged(text):
    """A hexadecimal float moved by a millionth."""
    return (float.fromhex(text) + 1e-6).hex()


@pytest.mark.parametrize(
    "kind, change, message",
    [
        (
            "numeric",
            setting(["rows", "right", 0], "1.5"),
            "rows.right: '1.5' is not a hexadecimal float",
        ),
        (
            "numeric",
            setting(["splits", 0], lambda t: " " + t),
            "splits: ' -0x.*' is not a hexadecimal float",
        ),
        (
            "numeric",
            setting(["rows", "woe", 0], "0x1p+99999999"),
            "is beyond the range of a double",
        ),
        (
            "numeric",
            lambda d: d["splits"].reverse(),
            "field 'splits' must hold finite cut points in increasing",
        ),
        (
            "numeric",
            lambda d: d["splits"].insert(0, d["splits"][0]),
            "field 'splits' must hold finite cut",
        ),
        ("numeric", setting(["splits", 6], "inf"), "field 'splits' must hold finite cut"),
        ("numeric", setting(["rows", "left", 0], "nan"), "rows.left and rows.right do not match"),
        (
            "numeric",
            setting(["special_values"], ["nan"]),
            "field 'special_values' must hold distinct finite",
        ),
        (
            "numeric",
            setting(["rows", "woe", 2], "inf"),
            "rows.woe is not what the rows' counts give",
        ),
        (
            "numeric",
            setting(["rows", "iv", 2], nudged),
            "rows.iv is not what the rows' counts give",
        ),
        (
            "numeric",
            setting(["information_value"], nudged),
            "'information_value' is not the sum of rows.iv",
        ),
        ("numeric", setting(["bin_categories"], [["north"]]), "field 'kind' must be 'numeric'"),
        (
            "numeric",
            setting(["has_missing_row"], "false"),
            "field 'has_missing_row' must be a bool",
        ),
        ("numeric", setting(["rows", "c1", 0], 2**70), "must hold counts"),
        (
            "numeric",
            setting(["rows", "count", 0], lambda c: c + 1),
            "rows.count must be rows.c0 \\+ rows.c1",
        ),
        (
            "numeric",
            setting(["split_log"], {"gain": [[1], [1, 2]]}),
            "tessaline.binning: .*inhomogeneous",
        ),
        (
            "categorical",
            lambda d: d["bin_categories"][0].append("north"),
            "must name each category once",
        ),
        (
            "categorical",
            lambda d: d["bin_categories"].pop(),
            "must name each category once, in 3 bin",
        ),
        (
            "categorical",
            setting(["pooled_categories"], ["west"]),
            "field 'pooled_categories' must name",
        ),
        (
            "table",
            lambda d: d["tables"].update(score=d["tables"]["amount"]),
            "the table filed under 'score' bins the column 'amount'",
        ),
        ("table", setting(["summary", 0, "keep"], "false"), "field 'keep' must be a bool"),
        (
            "table",
            lambda d: d["summary"].append(d["summary"][0]),
            "field 'summary' must have one row per",
        ),
        (
            "table",
            setting(["fitted_columns"], ["score", "score"]),
            "field 'fitted_columns' must hold distinct",
        ),
        (
            "card",
            setting(["points", "score", 0], nudged),
            "points.score are not what the coefficients give",
        ),
        (
            "card",
            setting(["variables"], ["score", "score"]),
            "field 'variables' must hold distinct names",
        ),
        ("card", setting(["pdo"], "20"), "pdo: '20' is not a hexadecimal float"),
        ("card", setting(["pdo"], "-0x1p+0"), "pdo must be a finite number above 0, not -1.0"),
        (
            "card",
            setting(["offset"], nudged),
            "field 'offset' is not what pdo, base_score and base_odds give",
        ),
        ("card", setting(["selected"], "false"), "field 'selected' must be a bool"),
        ("card", setting(["rounding"], 10**30), "field 'rounding' must be null or an integer"),
    ],
)
def test_a_document_no_fit_writes_is_refused(documents, kind, change, message):
    doc = json.loads(documents[kind])
    change(doc)
    with pytest.raises(DocumentError, match=message):
        tl.from_json(json.dumps(doc))


@pytest.mark.parametrize(
    "text",
    [
        "[" * 100_000 + "]" * 100_000,
        '{"schema": "tessaline.binning", "version": 1' + "0" * 5000 + "}",
    ],
    ids=["nested", "huge-integer"],
)
def test_a_text_json_cannot_hold_is_a_document_error(text):
    with pytest.raises(DocumentError, match="not valid JSON"):
        tl.from_json(text)


@pytest.mark.parametrize(
    "change, message",
    [
        (
            lambda d: d.update(schema="tessaline.table_binning"),
            "not a 'tessaline.binning' document \\(schema 'tessaline.table_binning'\\)",
        ),
        (lambda d: d.update(version=4), "version 4 is newer than this tessaline reads \\(3\\)"),
        (lambda d: d.update(version=2), "a version 2 document must hold its edit log"),
        (lambda d: d.update(edits=[]), "only a document of version 2 or later holds an edit log"),
        (lambda d: d.update(version="1"), "version must be a positive integer"),
        (lambda d: d.pop("rows"), "missing field 'rows'"),
        (lambda d: d["rows"]["woe"].pop(), "row column 'woe' has 8 values, 'count' has 9"),
        (lambda d: d["rows"]["right"].__setitem__(0, 0.5), "expected a hexadecimal float string"),
        (lambda d: d["rows"]["right"].__setitem__(0, "half"), "'half' is not a hexadecimal float"),
        (lambda d: d["rows"]["c0"].__setitem__(0, -1), "must hold counts"),
        (
            lambda d: d.update(splits=["0x1p+0"]),
            "rows.left and rows.right do not match the cut points",
        ),
    ],
)
def test_a_malformed_document_is_a_clear_error(fitted, change, message):
    doc = document(fitted)
    change(doc)
    with pytest.raises(DocumentError, match=message):
        tl.BinningTable.from_json(json.dumps(doc))


def test_an_unknown_text_is_not_read():
    with pytest.raises(DocumentError, match="not valid JSON"):
        tl.TableBinning.from_json("{")
    with pytest.raises(DocumentError, match="not a tessaline document \\(schema None\\)"):
        tl.from_json("[1, 2]")


@ENGINES
@pytest.mark.parametrize("output", ["woe", "index"])
def test_sql_scores_as_transform_does(fitted, dialect, run, output):
    for binning, frame in fitted:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", tl.UnseenCategoryWarning)
            want = binning.transform(frame, output=output)
        got = run(binning.to_sql("applicants", output=output, dialect=dialect), frame)
        assert list(got) == list(want)
        for name in want:
            # NULL comes back as NaN (WoE) or None (index); transform's NaN WoE is NULL.
            np.testing.assert_array_equal(
                got[name].to_numpy(dtype=np.float64), np.asarray(want[name], dtype=np.float64)
            )


@ENGINES
@pytest.mark.parametrize(
    "values, fit",
    [
        (
            np.array([True, False, True, True] * 25),
            lambda x, y: tl.categorical_binning(x, y, method="mdlp", force_first_split=True),
        ),
        # Integers beyond the doubles' exact ones, cut at doubles there.
        (
            np.array([2**60 + k for k in range(-400, 800, 9)], dtype=np.int64),
            lambda x, y: tl.custom_binning(
                x, y, [2.0**60 - 256, 2.0**60, 2.0**60 + 512], special_values=[2.0**60 + 256]
            ),
        ),
    ],
    ids=["boolean", "integers-near-2^60"],
)
def test_sql_reads_a_column_as_transform_does(dialect, run, values, fit):
    table = fit(values, np.arange(values.size) % 3 == 0)
    for output in ("woe", "index"):
        got = run(
            f"SELECT {table.to_sql('x', output=output, dialect=dialect)} AS x FROM applicants",
            pd.DataFrame({"x": values}),
        )
        np.testing.assert_array_equal(
            got["x"].to_numpy(dtype=np.float64),
            table.transform(values, output=output).astype(np.float64),
        )


@ENGINES
def test_sql_text_reads_as_written_under_every_setting(dialect, engine, run):
    # Backslashes are escapes in PostgreSQL's plain strings with this setting;
    # SQLite's statements cannot hold NUL, PostgreSQL's text not at all.
    names = ["back\\slash", "\\", "it\\'s", "a\x00b", "\x00", "plain"]
    if dialect == "postgresql":
        engine.execute("SET standard_conforming_strings = off")
        names = [n for n in names if "\x00" not in n]
    x = np.array(names * 30, dtype=object)
    table = tl.categorical_binning(x, np.arange(x.size) % 7 < np.arange(x.size) % 6, min_share=0.0)
    assert table.pooled_bin is None and len(table.bin_categories) > 1
    got = run(
        f"SELECT {table.to_sql('x', output='index', dialect=dialect)} AS x FROM applicants",
        pd.DataFrame({"x": x}),
    )
    np.testing.assert_array_equal(got["x"].to_numpy(dtype=np.int64), table.transform(x, "index"))
    if dialect == "postgresql":
        with pytest.raises(ValueError, match="the text 'a\\\\x00b' holds the character NUL"):
            tl.categorical_binning(
                np.array(["a\x00b", "c"] * 9, dtype=object), np.arange(18) % 2
            ).to_sql("x", dialect="postgresql")


def test_sqlite_sends_text_in_a_numeric_column_where_missing_values_go(fitted):
    import sqlite3

    table = fitted[1][0].tables["score"]
    connection = sqlite3.connect(":memory:")
    connection.execute("CREATE TABLE applicants (score INTEGER)")
    values = ["", 5, None, "abc", -2, b"\x00"]
    connection.executemany("INSERT INTO applicants VALUES (?)", [(v,) for v in values])
    got = [
        r[0] for r in connection.execute(f"SELECT {table.to_sql(dialect='sqlite')} FROM applicants")
    ]
    np.testing.assert_array_equal(
        got, table.transform([v if isinstance(v, int) else np.nan for v in values], output="woe")
    )


def test_sql_refuses_what_it_cannot_write(fitted):
    binning = fitted[0][0]
    with pytest.raises(
        ValueError, match="dialect must be one of duckdb, sqlite, postgresql, not 'oracle'"
    ):
        binning.to_sql("t", dialect="oracle")
    with pytest.raises(ValueError, match="output must be 'woe' or 'index', not 'label'"):
        binning.to_sql("t", output="label")


@pytest.mark.parametrize("output", ["index", "woe"])
def test_scikit_learn_estimator_checks_pass(output):
    pytest.importorskip("sklearn")
    from sklearn.utils.estimator_checks import check_estimator

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        results = check_estimator(tl.MDLPDiscretizer(output=output), on_fail=None)
    failed = [
        (r["check_name"], str(r["exception"])[:200]) for r in results if r["status"] == "failed"
    ]
    assert failed == []


def test_columns_are_matched_by_their_fitted_names():
    frame, y = random_frame()
    frame = frame[["score", "amount", "code"]]
    disc = tl.MDLPDiscretizer(output="woe").fit(frame, y).set_output(transform="pandas")
    out = disc.transform(frame[["code", "score", "amount"]].set_index(frame.index + 7))
    assert list(out.columns) == ["score", "amount", "code"] and out.index[0] == 7
    np.testing.assert_array_equal(
        out.to_numpy(), disc.set_output(transform="default").transform(frame)
    )
    with pytest.raises(
        ValueError, match="Feature names seen at fit time, yet now missing:\n- code\n"
    ):
        disc.transform(frame[["score", "amount"]])
    two = tl.MDLPDiscretizer().fit(frame, y + 1)
    assert two.classes_.tolist() == [1, 2]
    np.testing.assert_array_equal(
        two.transform(frame), tl.MDLPDiscretizer().fit(frame, y).transform(frame)
    )
