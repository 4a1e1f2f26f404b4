"""The edit log travels with the model: through JSON (version 3 documents,
whose records are chained by digests, read strictly; version 2 logs without
digests load unverified; version 1 documents still load) and pickle, and in
print."""

import copy
import hashlib
import json
import pathlib
import pickle

import numpy as np
import pytest
from package_under_test import tessaline as tl

from tessaline._binning import edit_log

pytestmark = pytest.mark.filterwarnings("ignore::tessaline.exceptions.TrendWarning")
BEFORE_EDITS = pathlib.Path(__file__).with_name("written_before_edits.json")


@pytest.fixture(scope="module")
def fitted():
    rng = np.random.default_rng(4)
    x = rng.integers(0, 40, 2000).astype(float)
    x[:50] = -999.0
    y = (rng.random(2000) < 0.1 + x.clip(0) / 80).astype(float)
    return tl.optimal_binning(x, y, special_values=[-999], name="age")


@pytest.fixture(scope="module")
def edited(fitted):
    return (
        fitted.merge(1, 2, reason="similar risk", author="ana", time="2026-12-08T10:00Z")
        .with_cuts([10.5, 20.5], fixed=True, author="ana")
        .remove_special(-999, reason="code retired")
    )


def test_the_log_survives_json_and_pickle(edited):
    restored = tl.BinningTable.from_json(edited.to_json())
    assert restored.edits == edited.edits and restored.to_dict() == edited.to_dict()
    assert json.loads(edited.to_json())["version"] == 3
    unpickled = pickle.loads(pickle.dumps(edited))
    assert unpickled.edits == edited.edits
    # The pickle keeps the counts: it can be edited further, the document cannot.
    assert unpickled.add_cut(30.5).to_dict() == edited.add_cut(30.5).to_dict()
    assert [e.step for e in edited.edits] == [
        {"remove_cuts": [float(edited.edits[0].step["remove_cuts"][0])]},
        {"fix_cuts": [10.5, 20.5], "limits": {}},
        {"remove_special": -999.0},
    ]


def test_a_document_written_before_edits_still_loads():
    binning = tl.from_json(BEFORE_EDITS.read_text())
    # Written again, it holds what it held and the fields added since, empty.
    # It was selected without the significance rule, and keeps its columns.
    written = json.loads(BEFORE_EDITS.read_text())
    guards = dict.fromkeys(["max_pvalue", "max_chi2_pvalue", "max_correlation", "max_vif"])
    written["options"].update(max_missing_share=None, progress=None, clip=None, **guards)
    written["options"].update(max_iv_pvalue=None, iv_permutations=4999, random_state=0)
    written.update(written_by=f"tessaline {tl.__version__}", selection=[])
    for row in written["summary"]:
        row["note"] = ""
    for table in written["tables"].values():
        table.update(pooled_bin=None, written_by=f"tessaline {tl.__version__}")
    assert binning.edits == {} and binning.to_dict() == written
    assert all(t.edits == () and t.basis is None for t in binning.tables.values())


def test_an_older_pickle_without_counts_loads_and_says_it_cannot_be_edited(edited):
    state = edited.__getstate__()
    del state["basis"], state["edits"]
    older = tl.BinningTable.__new__(tl.BinningTable)
    older.__setstate__(state)
    assert older.edits == () and older.to_dict()["rows"] == edited.to_dict()["rows"]
    with pytest.raises(tl.EditError, match="this table keeps no counts to edit from"):
        older.add_cut(1.5)


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda d: d.pop("edits"), "a version 3 document must hold its edit log"),
        (lambda d: d.update(edits={}), "field 'edits' must be a list of edits"),
        (lambda d: d["edits"][0].pop("time"), "edit 1: an edit must be an object with the fields"),
        (
            lambda d: d["edits"][1].update(author=3),
            "edit 2: field 'author' must be a string or null",
        ),
        (lambda d: d["edits"][0].update(trend="up"), "edit 1: field 'trend' must be one of flat, "),
        (lambda d: d["edits"][0].update(step={"cut": 1}), "edit 1: field 'step' must hold some of"),
        (lambda d: d["edits"][0]["step"].update(remove_cuts=[1.5]), "expected a hexadecimal float"),
        (
            lambda d: d["edits"][2]["before"].update(bins="7"),
            "edit 3: field 'before' must hold iv, ",
        ),
        (lambda d: d["edits"][0]["after"].update(iv="1.0"), "'1.0' is not a hexadecimal float"),
    ],
)
def test_a_malformed_edit_log_is_refused(edited, change, message):
    doc = copy.deepcopy(edited.to_dict())
    change(doc)
    with pytest.raises(tl.DocumentError, match=message):
        tl.BinningTable.from_dict(doc)


@pytest.mark.parametrize("edit", [False, True])
def test_a_table_binning_document_is_of_the_version_of_its_tables_logs(edited, edit):
    binning = tl.from_json(BEFORE_EDITS.read_text())
    if edit:
        binning.edit("age", edited)
    doc = binning.to_dict()
    assert doc["version"] == 1 + 2 * edit and tl.TableBinning.from_dict(doc).edits == binning.edits
    doc["version"] = 2
    with pytest.raises(
        tl.DocumentError, match="a document's version is that of its tables' edit logs"
    ):
        tl.TableBinning.from_dict(doc)


def test_the_printed_table_ends_with_its_log(edited):
    lines = str(edited).splitlines()[-3:]
    assert lines[0].startswith("edit 1: merge(first=1, second=2): IV ")
    assert lines[0].endswith("event rate ascending; 2026-12-08T10:00Z ana; similar risk")
    assert lines[1].startswith("edit 2: with_cuts(cuts=[10.5, 20.5], fixed=True, limits={}): ")
    assert lines[2].endswith("Gini 0.392 -> 0.392, bins 8 -> 8, event rate ascending; code retired")


def hexed(value):
    return float(value).hex()


def rechained(doc):
    """`doc` with the digests of its records taken again over the records as
    they now stand: the forgery of one who knows how digests are taken."""
    previous = ""
    for record in doc["edits"]:
        del record["digest"]
        link = edit_log.canonical({**record, "previous": previous})
        record["digest"] = previous = hashlib.sha256(link).hexdigest()


@pytest.mark.parametrize(
    "forge, rechain, message",
    [
        (
            lambda d: d["edits"][1]["step"].update(fix_cuts=[hexed(10.5), hexed(30.5)]),
            True,
            r"edit 2: its step .* is not what with_cuts\(cuts=\[10.5, 20.5\], fixed=True, ",
        ),
        (lambda d: d["edits"].pop(1), True, "edit 2: its 'before' is not the 'after' of edit 1"),
        (lambda d: d["edits"].pop(), True, "edit 2: its 'after' and trend are not those of the"),
        (
            lambda d: d["edits"][2]["step"].update(add_cuts=[hexed(30.5)]),
            True,
            r"edit 3: its step .* is not what remove_special\(code=-999\) makes",
        ),
        (
            lambda d: d["edits"][0].update(operation="drop"),
            True,
            "edit 1: unknown operation 'drop'; operations are with_cuts, ",
        ),
        (
            lambda d: d["edits"][0]["arguments"].update(second=3),
            True,
            r"edit 1: its step .* is not what merge\(first=1, second=3\) makes",
        ),
        (
            lambda d: d["edits"][0]["after"].update(iv=hexed(0.9)),
            True,
            "edit 2: its 'before' is not the 'after' of edit 1",
        ),
        (
            lambda d: d["edits"][0]["before"].update(bins=d["edits"][0]["before"]["bins"] + 1),
            True,
            "edit 1: its step leaves 8 bins, not the 7 of its 'after'",
        ),
        (
            lambda d: d["edits"][2].update(trend="descending"),
            True,
            "edit 3: its 'after' and trend are not those of the document's table",
        ),
        (
            lambda d: d["edits"][0].update(reason="as the committee asked"),
            False,
            "edit 1: its digest is not that of its record after the edit before it",
        ),
        (lambda d: d["edits"].pop(0), False, "edit 1: its digest is not that of its record"),
        (
            lambda d: d.update(name="income"),
            False,
            "edit 3: the table it produced is not the document's table",
        ),
    ],
    ids=[
        "changed step",
        "deleted edit",
        "deleted last edit",
        "two operations in a step",
        "unknown operation",
        "arguments that make another step",
        "made-up IV",
        "made-up bins",
        "made-up trend",
        "changed reason",
        "deleted first edit",
        "changed table",
    ],
)
def test_a_forged_log_is_refused_naming_the_edit(edited, forge, rechain, message):
    doc = copy.deepcopy(edited.to_dict())
    forge(doc)
    if rechain:
        rechained(doc)
    with pytest.raises(tl.DocumentError, match=message):
        tl.BinningTable.from_dict(doc)


def test_a_log_written_without_digests_loads_unverified_and_a_replay_chains_it(fitted, edited):
    doc = copy.deepcopy(edited.to_dict())
    doc["version"] = 2
    for record in doc["edits"]:
        del record["table_digest"], record["digest"]
    older = tl.BinningTable.from_dict(doc)
    assert not any(e.verified for e in older.edits) and older.to_dict() == doc
    assert str(older).splitlines()[-4] == edit_log.UNVERIFIED
    # Made again on the rows it was made on, the log is the one written then.
    replayed, missed = fitted.replay(older.edits)
    assert missed == [] and replayed.to_dict() == edited.to_dict()
    doc["edits"][0]["arguments"]["first"] = 0
    with pytest.raises(tl.DocumentError, match=r"is not what merge\(first=0, second=2\) makes"):
        tl.BinningTable.from_dict(doc)
