"""TableBinning: a whole table at once, from each input library, its ranking,
selection, transform by column name, bad input, and the German credit check."""
import pathlib

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
    convert = {"dict": lambda d: d, "pandas": pandas.DataFrame,
               "polars": lambda d: pytest.importorskip("polars").DataFrame(d),
               "pyarrow": lambda d: pytest.importorskip("pyarrow").table(d)}[library]
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
    np.testing.assert_array_equal(np.asarray(out["income"]),
                                  binning.tables["income"].transform(data["income"]))
    labels = binning.transform(convert(data), output="label")
    assert set(np.asarray(labels["grade"]).tolist()) <= set(binning.tables["grade"].labels)


def test_column_options_and_selection_rules():
    data, bad = frame()
    data["income"] = np.where(np.arange(bad.size) % 10 == 0, -999.0, data["income"])
    binning = tl.TableBinning(top_n=1, columns={"income": {"special_values": [-999]},
                                                "noise": {"method": "quantile", "n_bins": 4}})
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


@pytest.mark.parametrize("data, y, message", [
    ({"a": np.array([])}, np.array([]), "no row with a known target"),
    ({"a": np.arange(4.0)}, np.ones(4), "the target has one class only"),
    ({"a": np.full(4, np.nan), "b": np.ones(4)}, np.array([0, 1, 0, 1]),
     "no column could be binned: a: all values missing; b: a single value"),
    ({"a": np.arange(4.0)}, np.arange(4), r"values found: 0, 1, 2, 3"),
])
def test_bad_tables_are_clear_errors(data, y, message):
    with pytest.raises(ValueError, match=message):
        tl.TableBinning().fit(data, y)


@pytest.mark.parametrize("option, value", [
    ("columns", {"agee": {"max_bins": 3}}), ("categorical", ["agee"]), ("exclude", ["agee"]),
    ("special_values", {"agee": [-999]}),
])
def test_an_option_for_a_column_not_in_the_data_is_an_error(option, value):
    with pytest.raises(ValueError, match=f"^{option} names column.s. not in the data: 'agee'; "
                       "the columns are age, y$"):
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
    assert len(whole.tables) == 20 and whole.summary[0].column == \
        "status_of_existing_checking_account"
    aucs = []
    for seed in range(5):
        train, test, y_train, y_test = train_test_split(credit, bad, test_size=0.3,
                                                        stratify=bad, random_state=seed)
        binning = tl.TableBinning().fit(train, y_train)
        model = LogisticRegression(max_iter=1000).fit(binning.transform(train), y_train)
        aucs.append(roc_auc_score(y_test, model.predict_proba(binning.transform(test))[:, 1]))
    assert np.mean(aucs) >= 0.75
