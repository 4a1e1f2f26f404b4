"""TableBinning: a whole table at once, from each input library, its ranking,
selection, transform by column name, bad input, and the German credit check."""

import itertools
import pathlib
import pickle
import re
import sys

import numpy as np
import pytest
from package_under_test import tessaline as tl

pandas = pytest.importorskip("pandas")
GERMAN = pathlib.Path(__file__).resolve().parents[2] / "examples/data/germancredit.csv"


def frame(n=3000, seed=5):
    rng = np.random.default_rng(seed)
    grade = rng.choice(list("ABCD"), size=n)
    income = rng.normal(size=n)
    noise = rng.normal(size=n)
    logit = np.select([grade == "A", grade == "B", grade == "C"], [-2.0, -1.0, 0.0], 1.0) - income
    bad = (rng.random(n) < 1 / (1 + np.exp(-logit))).astype(int)
    income[rng.random(n) < 0.05] = np.nan
    return {"grade": grade, "income": income, "noise": noise, "const": np.ones(n)}, bad


@pytest.mark.parametrize("library", ["dict", "pandas", "polars", "pyarrow"])
def test_every_library_gives_the_same_ranking_and_transform(library):
    data, bad = frame()
    convert = {
        "dict": lambda d: d,
        "pandas": pandas.DataFrame,
        "polars": lambda d: pytest.importorskip("polars").DataFrame(d),
        "pyarrow": lambda d: pytest.importorskip("pyarrow").table(d),
    }[library]
    binning = tl.TableBinning(n_jobs=2).fit(convert(data), bad)
    ranked = [row.column for row in binning.summary]
    assert ranked[:2] == ["grade", "income"] and binning.selected == ["grade", "income"]
    assert binning.skipped == {"const": "a single value (1)"}
    assert binning.tables["grade"].kind == "categorical"
    row = binning.summary[1]
    assert row.missing_share == pytest.approx(np.isnan(data["income"]).mean())
    woe = binning.tables["income"].transform(data["income"], output="woe")
    assert row.gini == pytest.approx(tl.gini(woe, bad).gini, abs=1e-12)
    # Columns are matched by name, in any order.
    shuffled = convert({k: data[k] for k in reversed(list(data))})
    out = binning.transform(shuffled, output="index")
    np.testing.assert_array_equal(
        np.asarray(out["income"]), binning.tables["income"].transform(data["income"])
    )
    labels = binning.transform(convert(data), output="label")
    assert set(np.asarray(labels["grade"]).tolist()) <= set(binning.tables["grade"].labels)


def test_column_options_and_selection_rules():
    data, bad = frame()
    data["income"] = np.where(np.arange(bad.size) % 10 == 0, -999.0, data["income"])
    binning = tl.TableBinning(
        top_n=1,
        columns={
            "income": {"special_values": [-999]},
            "noise": {"method": "quantile", "n_bins": 4},
        },
    )
    binning.fit(pandas.DataFrame({**data, "bad": bad}), "bad")
    assert binning.selected == ["grade"]
    assert binning.tables["income"].special_values == (-999.0,)
    assert binning.tables["noise"].method == "quantile"
    assert "grade" in str(binning) and binning.summary_frame()["column"].iloc[0] == "grade"


@pytest.mark.parametrize("progress, drawn", [(True, True), (None, False), (False, False)])
def test_a_progress_bar_counts_the_columns_on_request_or_on_a_terminal(capsys, progress, drawn):
    data, bad = frame(n=300)
    tl.TableBinning(progress=progress, n_jobs=1).fit(data, bad)
    err = capsys.readouterr().err
    assert ("\rbinning [" + "#" * 30 + "] 100% 4/4 const" in err) == drawn and (err == "") != drawn


def test_a_low_default_sample_gets_bins_of_five_events_and_notes_thin_rows():
    rng = np.random.default_rng(3)
    x = rng.normal(size=4000)
    bad = (rng.random(4000) < 0.02 * np.exp(0.8 * x) / 1.4).astype(int)
    x[rng.random(4000) < 0.85] = np.nan  # mostly missing, the rest thin in events
    few = np.where(np.arange(4000) < 40, 1.0, np.nan)  # missing but for 40 rows
    fitted = tl.TableBinning(max_missing_share=0.9, min_iv=0.0).fit({"x": x, "few": few}, bad)
    rows = fitted.tables["x"].to_frame()
    assert (rows["c1"][:-1] >= 5).all() and rows["c1"].sum() == bad.sum()
    by_name = {r.column: r for r in fitted.summary}
    assert by_name["few"].note.startswith("fewer than 5 events or non-events in (-inf, +inf)")
    assert by_name["few"].missing_share == 0.99 and not by_name["few"].keep


@pytest.mark.parametrize(
    "data, y, message",
    [
        ({"a": np.array([])}, np.array([]), "no row with a known target"),
        ({"a": np.arange(4.0)}, np.ones(4), "the target has one class only"),
        (
            {"a": np.full(4, np.nan), "b": np.ones(4)},
            np.array([0, 1, 0, 1]),
            "no column could be binned: a: all values missing; b: a single value",
        ),
        ({"a": np.arange(4.0)}, np.arange(4), r"values found: 0, 1, 2, 3"),
    ],
)
def test_bad_tables_are_clear_errors(data, y, message):
    with pytest.raises(ValueError, match=message):
        tl.TableBinning().fit(data, y)


@pytest.mark.parametrize(
    "option, value",
    [
        ("columns", {"agee": {"max_bins": 3}}),
        ("categorical", ["agee"]),
        ("exclude", ["agee"]),
        ("special_values", {"agee": [-999]}),
    ],
)
def test_an_option_for_a_column_not_in_the_data_is_an_error(option, value):
    with pytest.raises(
        ValueError,
        match=f"^{option} names column.s. not in the data: 'agee'; the columns are age, y$",
    ):
        tl.TableBinning(**{option: value}).fit({"age": np.arange(8.0), "y": np.arange(8) % 2}, "y")


def test_transform_names_missing_and_extra_columns():
    data, bad = frame()
    binning = tl.TableBinning().fit(data, bad)
    with pytest.raises(ValueError, match="column\\(s\\) missing from the data: income"):
        binning.transform({"grade": data["grade"], "noise": data["noise"]})
    with pytest.raises(ValueError, match="column\\(s\\) not seen in fit: extra"):
        binning.transform({**data, "extra": data["noise"]})


def test_german_credit_all_attributes_reach_the_auc_of_the_peers():
    sklearn = pytest.importorskip("sklearn")  # noqa: F841
    from sklearn.linear_model import LogisticRegression
    from sklearn.metrics import roc_auc_score
    from sklearn.model_selection import train_test_split

    credit = pandas.read_csv(GERMAN)
    bad = (credit.pop("creditability") == "bad").to_numpy().astype(int)
    whole = tl.TableBinning(event=1).fit(credit, bad)
    assert (
        len(whole.tables) == 20 and whole.summary[0].column == "status_of_existing_checking_account"
    )
    aucs = []
    for seed in range(5):
        train, test, y_train, y_test = train_test_split(
            credit, bad, test_size=0.3, stratify=bad, random_state=seed
        )
        binning = tl.TableBinning().fit(train, y_train)
        model = LogisticRegression(max_iter=1000).fit(binning.transform(train), y_train)
        aucs.append(roc_auc_score(y_test, model.predict_proba(binning.transform(test))[:, 1]))
    assert np.mean(aucs) >= 0.75


def test_edits_keep_the_summary_fresh_and_replay_after_a_refit_on_a_shifted_sample():
    data, bad = frame()
    binning = tl.TableBinning(method="quantile", n_bins=5).fit(data, bad)
    dropped = float(binning.tables["income"].splits[0])
    binning.edit("income", "remove_cut", dropped, reason="thin bin", author="ana", time="t0")
    binning.edit("income", binning.tables["income"].add_cut(0.25))
    binning.edit("grade", "merge", 0, 1, reason="similar risk")
    income = binning.tables["income"]
    row = next(r for r in binning.summary if r.column == "income")
    assert (row.iv, row.gini, row.bins) == (income.information_value, income.gini, income.n_bins)
    assert tl.from_json(binning.to_json()).edits == binning.edits
    # A year on: other rows, incomes shifted. The earlier model's log is made again.
    later, bad_later = frame(seed=6)
    later["income"] = later["income"] + 0.1
    fresh = tl.TableBinning(method="quantile", n_bins=5).fit(later, bad_later)
    refit = binning.fit(later, bad_later, edits=binning)  # its own log, read before the refit
    assert refit.not_replayed == {
        "income": [
            f"edit 1 (remove_cut) no longer applies: {dropped:.10g} is not a cut point of this table"
        ]
    }
    assert list(refit.tables["income"].splits) == sorted([*fresh.tables["income"].splits, 0.25])
    assert refit.tables["grade"].n_bins == fresh.tables["grade"].n_bins - 1
    assert [(e.reason, e.author) for e in refit.edits["grade"]] == [("similar risk", None)]


@pytest.mark.parametrize(
    "edit, message",
    [
        (
            lambda b: b.edit("nope", "merge", 0, 1),
            "column 'nope' is not binned; binned columns are ",
        ),
        (lambda b: b.edit("income", "squash"), "operation must be one of with_cuts, add_cut, "),
        (lambda b: b.edit("income", b.tables["grade"]), "an edited table for 'income' must bin "),
    ],
)
def test_an_edit_of_a_table_binning_that_cannot_be_made_says_why(edit, message):
    data, bad = frame()
    with pytest.raises(ValueError, match=message):
        edit(tl.TableBinning().fit(data, bad))


def test_edits_given_as_operations_replay_and_name_what_does_not_apply():
    data, bad = frame()
    edits = {
        "income": [("add_cut", 0.25, {"reason": "round"}), ("squash",)],
        "gone": [("merge", 0, 1)],
    }
    binning = tl.TableBinning().fit(data, bad, edits=edits)
    assert 0.25 in binning.tables["income"].splits
    assert binning.edits["income"][0].reason == "round"
    assert binning.not_replayed == {
        "income": [
            "edit 2 (squash) no longer applies: an edit is an Edit of a log or a tuple "
            "of an operation (with_cuts, add_cut, remove_cut, move_cut, merge, split, "
            "move, send_unseen_to, add_special, remove_special) and its arguments, not "
            "('squash',)"
        ],
        "gone": ["the column is not binned in this fit"],
    }


def batch_frame(seed, n=400):
    """Ties, NaN, infinities and a special code; rare and missing
    categories, integer codes; a text target with missing values."""
    rng = np.random.default_rng(seed)
    x = rng.integers(0, 30, n) * 0.5
    for share, value in ((0.05, np.nan), (0.02, np.inf), (0.02, -np.inf), (0.05, -999.0)):
        x[rng.random(n) < share] = value
    grade = rng.choice(["A", "B", "C", "rare"], n, p=[0.4, 0.3, 0.28, 0.02]).astype(object)
    grade[rng.random(n) < 0.05] = None
    y = np.where(
        rng.random(n) < 1 / (1 + np.exp(-np.nan_to_num(x, posinf=9, neginf=-9) / 5 + 1)),
        "bad",
        "good",
    ).astype(object)
    y[rng.random(n) < 0.03] = None
    return pandas.DataFrame(
        {
            "x": x,
            "z": np.round(rng.normal(size=n), 2) + 0.0,
            "grade": grade,
            "code": rng.integers(1, 5, n),
            "y": y,
        }
    )


hypothesis = pytest.importorskip("hypothesis")
st = hypothesis.strategies


@hypothesis.settings(max_examples=20, deadline=None)
@hypothesis.given(
    seed=st.integers(0, 2**32 - 1),
    cuts=st.lists(st.integers(0, 400), min_size=8, max_size=8),
    missing_at=st.integers(0, 9),
    method=st.sampled_from(["optimal", "mdlp", "quantile", "equal_width"]),
)
def test_partial_fit_over_batches_equals_one_fit(seed, cuts, missing_at, method):
    rows = batch_frame(seed)
    bounds = [0, *sorted(cuts), len(rows)]
    parts = [rows.iloc[a:b] for a, b in itertools.pairwise(bounds)]
    missing = pandas.DataFrame(
        {"x": [np.nan] * 5, "z": np.nan, "grade": None, "code": np.nan, "y": None}
    )
    parts.insert(missing_at, missing)  # ten batches, some empty, one of missing values only
    options = {
        "event": "bad",
        "method": method,
        "categorical": ["code"],
        "special_values": {"x": [-999.0]},
    }
    batched = tl.TableBinning(**options)
    for part in parts:
        assert batched.partial_fit(part, "y") is batched
    whole = tl.TableBinning(**options).fit(pandas.concat(parts, ignore_index=True), "y")
    assert batched.to_dict() == whole.to_dict()
    # A fit starts over.
    assert batched.fit(rows, "y").to_dict() == tl.TableBinning(**options).fit(rows, "y").to_dict()


def test_partial_fit_reads_between_batches_as_a_fit_of_the_rows_so_far():
    rows = batch_frame(3, n=900)
    batched = tl.TableBinning(event="bad", categorical=["code"])
    for part in np.array_split(np.arange(len(rows)), 3):
        batched.partial_fit(rows.iloc[part], "y")
        so_far = tl.TableBinning(event="bad", categorical=["code"]).fit(rows[: part[-1] + 1], "y")
        # A pickle taken before any read holds the fit, as a read gives it.
        assert pickle.loads(pickle.dumps(batched)).to_dict() == so_far.to_dict()
        assert batched.to_dict() == so_far.to_dict()


def test_partial_fit_leaves_the_search_and_its_errors_to_the_first_read():
    rows = batch_frame(1).assign(empty=np.nan)
    binning = tl.TableBinning(event="bad", skip_unusable=False)
    assert binning.partial_fit(rows, "y") is binning
    for _ in range(2):  # a failed read leaves the batches to read again
        with pytest.raises(ValueError, match=r"^binning: x no contiene valores finitos$"):
            _ = binning.summary


@pytest.mark.parametrize(
    "options, second, message",
    [
        (
            {"percentile": 50},
            None,
            r"partial_fit reads each batch's target alone: give a 0/1 target or "
            r"event=, not a threshold \(value=, percentile=\)",
        ),
        (
            {},
            lambda d: d.drop(columns="z"),
            "a batch must have the columns of the first one "
            r"\(x, z, grade, code, y\), not x, grade, code, y",
        ),
        (
            {},
            lambda d: d.assign(x=d["x"].astype(str)),
            "column 'x' holds categories in this batch, not as in the first one",
        ),
    ],
)
def test_partial_fit_refuses_what_batches_cannot_give(options, second, message):
    rows = batch_frame(1).assign(y=lambda d: (d["y"] == "bad").astype(float))
    binning = tl.TableBinning(**options)
    with pytest.raises(ValueError, match=message):
        binning.partial_fit(rows, "y")
        binning.partial_fit(second(rows), "y")


def test_the_selection_drops_columns_whose_bins_are_not_significant():
    data, bad = frame()
    binning = tl.TableBinning(min_iv=0.0, max_chi2_pvalue=0.01).fit(data, bad)
    c0, c1 = binning.tables["noise"]["c0"], binning.tables["noise"]["c1"]
    _, df, pvalue = tl._selection.bins_chi_square(c0, c1)
    assert binning.selected == ["grade", "income"] and pvalue > 0.01
    assert binning.selection_report == [
        tl.Decision(
            "noise",
            "significance",
            pvalue,
            0.01,
            detail=f"chi-square of its bins against the target on {df} df",
        )
    ]
    assert "selection:\n  noise: drop by significance (0.01333; limit 0.01)" in str(binning)
    unguarded = tl.TableBinning(min_iv=0.0).fit(data, bad)
    assert unguarded.selected == ["grade", "income", "noise"] and not unguarded.selection_report


def test_the_default_drops_a_column_whose_iv_the_search_finds_as_often_in_noise():
    data, bad = frame(seed=4)
    binning = tl.TableBinning(min_iv=0.0, n_jobs=2).fit(data, bad)
    tested = {
        n: (t.metadata["iv_pvalue"], t.metadata["iv_draws"]) for n, t in binning.tables.items()
    }
    # Grade's four large groups put its chi-square bound far below the level:
    # no draw. Income's pre-bins are too small for the bound; none of 87
    # draws reaching it puts p below 0.06 for sure (the first checkpoint that
    # may), as 22 of 137 reaching it put noise's above (20 would do).
    assert tested["grade"][0] < 1e-100 and tested["grade"][1] == 0
    assert tested["income"] == (1 / 88, 87)
    pvalue, draws = tested["noise"]
    assert (pvalue, draws) == (23 / 138, 137)
    iv = binning.tables["noise"].information_value
    assert binning.selected == ["grade", "income"]
    assert binning.selection_report == [
        tl.Decision(
            "noise",
            "iv_significance",
            pvalue,
            0.06,
            detail=f"IV {iv:.3f} not significant: permutation p 0.17 > 0.06 (137 draws)",
        )
    ]
    assert tl.TableBinning.from_json(binning.to_json()).selection_report == binning.selection_report
    # The same draws on one thread, each test made with its table, as on two,
    # where a numeric column's test runs apart while the tables are built
    # (its special values outside the search too); none when the rule is off.
    one_thread = tl.TableBinning(min_iv=0.0, n_jobs=1).fit(data, bad)
    assert one_thread.to_dict()["tables"] == binning.to_dict()["tables"]
    coded = {**data, "noise": np.where(np.arange(bad.size) % 9 == 0, -1.0, data["noise"])}
    specials = [
        tl.TableBinning(min_iv=0.0, n_jobs=n, special_values={"noise": [-1.0]}).fit(coded, bad)
        for n in (1, 2)
    ]
    assert specials[0].to_dict()["tables"] == specials[1].to_dict()["tables"]
    off = tl.TableBinning(min_iv=0.0, max_iv_pvalue=None).fit(data, bad)
    assert off.selected == ["grade", "income", "noise"]
    assert "iv_pvalue" not in off.tables["noise"].metadata
    # A document written before the rule keeps the selection it was written with.
    older = off.to_dict()
    del older["options"]["max_iv_pvalue"], older["options"]["iv_permutations"]
    del older["options"]["random_state"]
    assert tl.TableBinning.from_dict(older).selected == off.selected


@pytest.mark.parametrize(
    "options, error, message",
    [
        ({"max_iv_pvalue": 1.5}, ValueError, "max_iv_pvalue must be a number from 0 to 1, not 1.5"),
        (
            {"iv_permutations": 0},
            ValueError,
            "iv_permutations must be a whole number of at least 1, not 0",
        ),
        (
            {"iv_permutations": 9.5},
            TypeError,
            "iv_permutations must be a whole number of at least 1, not 9.5",
        ),
        (
            {"random_state": -1},
            ValueError,
            "random_state must be a whole number of at least 0, not -1",
        ),
    ],
)
def test_the_permutation_test_refuses_bad_options(options, error, message):
    with pytest.raises(error, match=f"^{re.escape(message)}$"):
        tl.TableBinning(**options)


@pytest.mark.parametrize(
    "options", [{"max_pvalue": 0.01}, {"columns": {"income": {"max_pvalue": 0.01}}}]
)
def test_max_pvalue_bounds_the_tests_between_neighbouring_bins_table_wide_or_per_column(options):
    data, bad = frame()
    free = tl.TableBinning().fit(data, bad).tables["income"].analysis().max_pvalue
    bounded = tl.TableBinning(**options).fit(data, bad).tables["income"].analysis().max_pvalue
    assert bounded <= 0.01 < free


def test_a_rare_category_far_from_its_bin_is_noted_with_what_its_own_bin_would_give():
    rng = np.random.default_rng(11)
    grade = rng.choice(["a", "b", "rare"], p=[0.49, 0.49, 0.02], size=4000)
    bad = (rng.random(4000) < np.select([grade == "a", grade == "b"], [0.1, 0.14], 0.9)).astype(int)
    binning = tl.TableBinning().fit({"grade": grade}, bad)
    assert binning.tables["grade"].labels == ["a", "b, rare"]
    c0, c1 = ([np.sum((grade == g) & (bad == k)) for g in ("a", "b", "rare")] for k in (0, 1))
    [decision] = binning.selection_report
    text = (
        f"'rare' ({c0[2] + c1[2]} rows, event rate {c1[2] / (c0[2] + c1[2]):.1%}) merged into "
        f"'b, rare' (event rate {(c1[1] + c1[2]) / (c0[1] + c0[2] + c1[1] + c1[2]):.1%}), "
        f"p-value {decision.value:.3g}: a bin of its own would raise the IV from "
        f"{binning.tables['grade'].information_value:.4f} to {tl.weight_of_evidence(c0, c1)[2]:.4f} "
        f"(limits that allow it: min_bin_share <= {(c0[2] + c1[2]) / 4000:.4g}, "
        f"min_events <= {c1[2]}, min_non_events <= {c0[2]})"
    )
    assert (decision.rule, decision.action, decision.detail) == ("rare_group", "note", text)
    assert decision.value < 1e-3 and binning.summary[0].note == f"rare and extreme: {text}"
    # Limits that allow it give it its own bin, with the IV the note gave.
    limits = {"min_bin_share": 0.01, "min_non_events": c0[2]}
    alone = tl.TableBinning(**limits).fit({"grade": grade}, bad)
    assert alone.tables["grade"].labels == ["a", "b", "rare"] and not alone.selection_report
    assert alone.tables["grade"].information_value == tl.weight_of_evidence(c0, c1)[2]


def test_collinear_columns_are_dropped_by_the_selection_and_the_decision_is_kept():
    data, bad = frame()
    data["income_too"] = data["income"] + np.random.default_rng(2).normal(scale=0.05, size=bad.size)
    binning = tl.TableBinning(max_correlation=0.9, max_vif=5.0).fit(data, bad)
    weaker, stronger = sorted(
        ["income", "income_too"], key=lambda n: binning.tables[n].information_value
    )
    [decision] = [d for d in binning.selection_report if d.column.startswith("income")]
    assert (decision.column, decision.rule, decision.detail) == (
        weaker,
        "correlation",
        f"with {stronger}",
    )
    assert set(binning.selected) == {"grade", stronger}
    restored = tl.TableBinning.from_json(binning.to_json())
    assert restored.selection_report == binning.selection_report
    # An edit ranks again without the rows: the drop measured on them stays.
    assert set(binning.edit("grade", "merge", 0, 1).selected) == {"grade", stronger}


@pytest.mark.parametrize("n_jobs, column_per_call", [(1, True), (3, False)])
def test_columns_counted_together_bin_as_each_column_alone(n_jobs, column_per_call, monkeypatch):
    if column_per_call:
        monkeypatch.setattr(sys.modules[tl.TableBinning.__module__], "CALL_VALUES", 1)
    data, bad = frame()
    del data["const"]
    y = bad.astype(float)
    y[:40] = np.nan
    n = y.size
    # Finite only where the target is missing: no row to search, which the
    # columns counted together leave to the column's own turn.
    data["hidden"] = np.where(np.isnan(y), 1.0, np.nan)
    data["special"] = np.where(np.arange(n) % 7 == 0, -1.0, data["noise"])
    options = {"min_iv": 0.0, "max_iv_pvalue": None, "n_jobs": n_jobs}
    # Each column searched under limits of its own, those of the table or
    # limits refused (searched in its own turn, which raises).
    limits = {
        "income": {"trend": "auto_all", "max_pvalue": 0.3},
        "noise": {"min_events": 12, "max_bins": 3, "trend": "peak"},
        "special": {"special_values": [-1.0]},
    }
    binning = tl.TableBinning(columns=limits, **options).fit(data, y)
    assert binning.skipped == {"hidden": "binning: x no contiene valores finitos"}
    for name, own in limits.items():
        alone = tl.optimal_binning(data[name], y, name=name, **own)
        assert binning.tables[name].to_dict() == alone.to_dict()
    refused = {"noise": {"min_bin_share": 1.5}}
    with pytest.raises(ValueError, match=r"min_bin_share"):
        tl.TableBinning(columns=refused, skip_unusable=False, **options).fit(data, y)
    # Refused, each column raises its own error in column order.
    data["when"] = np.arange(n).astype("datetime64[D]")
    with pytest.raises(ValueError, match=r"^binning: x no contiene valores finitos$"):
        tl.TableBinning(skip_unusable=False, **options).fit(data, y)
    with pytest.raises(TypeError, match=r"^the column holds dates or times"):
        tl.TableBinning(skip_unusable=False, **options).fit({"when": data.pop("when"), **data}, y)


@pytest.mark.parametrize("route", ["rows", "weighted", "batches"])
@pytest.mark.parametrize(
    "names, threads_per_test", [(["income"], 2), (["grade", "income", "noise"], 1)]
)
def test_tests_of_columns_binned_side_by_side_share_the_fit_threads(
    route, names, threads_per_test, monkeypatch
):
    # Columns binned side by side on the fit's threads each test on their
    # share of them (a test on every thread of a pool already using every
    # thread only makes the threads take turns), and on the threads the pool
    # leaves idle once its columns run out.
    module = sys.modules[tl.TableBinning.__module__]
    drawn_on, column_test = [], module.column_test

    def recorded(*args):
        drawn_on.append((args[-1].count, type(args[-1].spare).__name__))
        return column_test(*args)

    monkeypatch.setattr(module, "column_test", recorded)
    data, bad = frame()
    data = {name: data[name] for name in names}
    binning = tl.TableBinning(min_iv=0.0, n_jobs=2)
    if route == "rows":
        binning.fit(data, bad)
    elif route == "weighted":
        binning.fit(data, bad, sample_weight=np.full(bad.size, 2.0))
    else:
        binning.partial_fit(data, bad)
        binning.tables  # noqa: B018 - the read of the batches fits the columns
    assert drawn_on and set(drawn_on) == {(threads_per_test, "SpareThreads")}
