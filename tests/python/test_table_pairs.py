"""Pairs of columns binned as grids inside the whole-table binning and scored
by the card: a constructed interaction that neither column carries alone
is selected and lifts the card's held-out AUC; transform, documents,
pickles and SQL give the pair as the grid does; and the errors."""

import json
import pickle

import numpy as np
import pandas as pd
import pytest
from package_under_test import tessaline as tl
from sql_engines import ENGINES, load

from tessaline import engines
from tessaline.report import model_report

pytest.importorskip("sklearn")

PAIR = "income × age"


def xor_frame(n, seed):
    """Risk rises where income is above 50 or age above 44, but not both:
    each column alone is flat, the pair is not. Debt adds a little risk of
    its own; the region is noise."""
    rng = np.random.default_rng(seed)
    income = np.round(rng.uniform(0, 100, n), 1)
    age = rng.integers(18, 71, n).astype(float)
    debt = np.round(rng.uniform(0, 1, n), 3)
    region = rng.choice(["north", "south", "east"], n)
    logit = -2.2 + 2.0 * ((income > 50) ^ (age > 44)) + 1.2 * debt
    bad = (rng.random(n) < 1 / (1 + np.exp(-logit))).astype(int)
    income[rng.random(n) < 0.02] = np.nan
    return pd.DataFrame({"income": income, "age": age, "debt": debt, "region": region, "bad": bad})


TRAIN, HELD_OUT = xor_frame(4000, 1), xor_frame(4000, 2)


def binning(**options):
    return tl.TableBinning(pairs=[("income", "age")], **options)


@pytest.fixture(scope="module")
def fitted():
    return binning().fit(TRAIN, "bad")


@pytest.fixture(scope="module")
def card(fitted):
    return tl.Scorecard(fitted).fit(TRAIN, "bad")


def test_the_pair_is_selected_where_its_columns_are_not_and_lifts_the_card(fitted, card):
    rows = {r.column: r for r in fitted.summary}
    assert rows[PAIR].kind == "pair" and rows[PAIR].keep
    assert fitted.selected == [PAIR, "debt"]
    # The single columns hold no signal of their own: dropped by IV or by
    # the permutation test; the pair's IV is far beyond either.
    dropped = {d.column: d.rule for d in fitted.selection_report if d.rule != "rare_group"}
    assert set(dropped) == {"income", "age", "region"}
    assert rows[PAIR].iv > 20 * max(rows["income"].iv, rows["age"].iv)
    grid = fitted.pair_tables[PAIR]
    # None of its null grids reaches it: below the level for sure after 87.
    assert (grid.metadata["iv_pvalue"], grid.metadata["iv_draws"]) == (1 / 88, 87)
    # Its cuts find the interaction's corners.
    assert np.abs(grid.cuts_x - 50).min() < 1 and np.abs(grid.cuts_y - 44).min() <= 1
    # Its bins are the rectangles of the rows holding both values.
    assert rows[PAIR].bins == 25 < grid.axis_x.n_bins * grid.axis_y.n_bins
    assert rows[PAIR].missing_share == pytest.approx(TRAIN["income"].isna().mean())
    # The card with the pair beats the card of the same table without it.
    without = tl.Scorecard(tl.TableBinning()).fit(TRAIN, "bad")
    assert card.variables == [PAIR, "debt"] and without.variables == ["debt"]
    auc_with = card.performance(HELD_OUT, "bad").auc
    auc_without = without.performance(HELD_OUT, "bad").auc
    assert auc_with - auc_without > 0.15, (auc_with, auc_without)


def test_a_pair_of_noise_passes_the_iv_rule_but_not_the_permutation_test():
    noise = tl.TableBinning(pairs=[("income", "region")]).fit(TRAIN, "bad")
    (row,) = [r for r in noise.summary if r.kind == "pair"]
    (decision,) = [d for d in noise.selection_report if d.column == "income × region"]
    assert row.iv > noise.min_iv and not row.keep
    # 10 of 28 dealt draws reach its IV (at a checkpoint): p = (1 + 10) / (1 + 28).
    assert (decision.rule, decision.value) == ("iv_significance", 11 / 29)


def test_the_pair_meets_the_rules_of_the_columns():
    credit = tl.datasets.german_credit()
    ruled = tl.TableBinning(
        event="bad",
        pairs=[("duration_in_month", "age_in_years", {"max_bins_x": 4, "max_bins_y": 3})],
        max_correlation=0.6,
        top_n=5,
        max_iv_pvalue=None,
    ).fit(credit, "creditability")
    first = {d.column: str(d) for d in ruled.selection_report[:2]}
    assert first == {
        "duration_in_month": "duration_in_month: drop by correlation (0.6713; limit 0.6): "
        "with duration_in_month × age_in_years",
        "credit_amount": "credit_amount: drop by top_n (6; limit 5)",
    }
    strict = binning(min_iv=0.95, max_iv_pvalue=None).fit(TRAIN, "bad")
    assert str(strict.selection_report[0]) == "income × age: drop by iv (0.9262; limit 0.95)"


def test_transform_gives_the_pair_as_its_grid_does(fitted):
    grid = fitted.pair_tables[PAIR]
    data = HELD_OUT.drop(columns="bad")
    woe = fitted.transform(data, selected=True)
    assert list(woe) == [PAIR, "debt"]
    np.testing.assert_array_equal(woe[PAIR], grid.transform(data["income"], data["age"]))
    assert list(fitted.transform(data)) == ["income", "age", "debt", "region", PAIR]
    index = fitted.transform(data, output="index", columns=[PAIR])[PAIR]
    np.testing.assert_array_equal(index, grid.transform(data["income"], data["age"], "index"))
    label = fitted.transform(data.head(2), output="label", columns=[PAIR])[PAIR]
    assert label.tolist() == grid.transform(data["income"][:2], data["age"][:2], "bin").tolist()


def test_documents_and_pickles_keep_the_pairs(fitted, card):
    data = HELD_OUT.drop(columns="bad")
    for copy in (tl.from_json(fitted.to_json()), pickle.loads(pickle.dumps(fitted))):
        assert copy.summary == fitted.summary and copy.selected == fitted.selected
        pd.testing.assert_frame_equal(copy.transform(data), fitted.transform(data))
    restored = tl.from_json(card.to_json())
    np.testing.assert_array_equal(restored.score(data), card.score(data))
    assert restored.points_table() == card.points_table()
    # A binning without pairs writes the document it wrote before them.
    plain = json.loads(tl.TableBinning().fit(TRAIN, "bad").to_json())
    assert "pair_tables" not in plain and "pairs" not in plain["options"]
    # A document whose pair lost its grid is refused.
    doc = json.loads(fitted.to_json())
    del doc["pair_tables"]
    with pytest.raises(tl.DocumentError, match="one grid per pair"):
        tl.from_json(json.dumps(doc))


def test_the_points_of_a_pair_are_its_cells(card):
    grid = card.binning.pair_tables[PAIR]
    rows = card.points_table(PAIR)
    cells = grid.cells()
    assert [r[1] for r in rows] == [f"{a} × {b}" for a, b in zip(cells["x"], cells["y"])]
    np.testing.assert_array_equal([r[2] for r in rows], cells["woe"])
    data = HELD_OUT.drop(columns="bad")
    per_variable = card.variable_points(data)
    np.testing.assert_array_equal(
        per_variable[PAIR], card.points[PAIR][grid.transform(data["income"], data["age"], "index")]
    )
    np.testing.assert_array_equal(card.score(data), per_variable[PAIR] + per_variable["debt"])


@pytest.fixture(scope="module", params=["spread", "separate"])
def mixed_card(request):
    """A card of a numeric pair and a categorical one, every variable in."""
    pairs = [("income", "age"), ("region", "debt", {"max_bins_y": 3})]
    return tl.Scorecard(
        tl.TableBinning(pairs=pairs, max_iv_pvalue=None),
        selected=False,
        intercept_points=request.param,
    ).fit(TRAIN, "bad")


@ENGINES
def test_a_card_with_pairs_scores_alike_in_sql(mixed_card, dialect, run):
    data = HELD_OUT.drop(columns="bad")
    got = run(mixed_card.to_sql("applicants", dialect=dialect), data)
    assert list(got.columns) == [*mixed_card.variables, "score"]
    np.testing.assert_array_equal(got["score"].to_numpy(), mixed_card.score(data))
    woe = run(mixed_card.binning.to_sql("applicants", dialect=dialect), data)
    pd.testing.assert_frame_equal(
        woe, mixed_card.binning.transform(data), check_dtype=False, check_exact=True
    )


@pytest.mark.parametrize(
    "options, fit, message",
    [
        ({"pairs": [("income", "income")]}, {}, "names the same column twice"),
        ({"pairs": [("income", "age"), ("age", "income")]}, {}, "is named twice"),
        ({"pairs": [("income",)]}, {}, "a pair must be"),
        ({"pairs": [("income", "age", {"max_bins": 3})]}, {}, "unknown grid option.*max_bins_x"),
        ({"pairs": [("income", "wage")]}, {}, "pairs names column.*'wage'"),
        ({"pairs": [("income", "bad")]}, {}, "names the target or weight 'bad'"),
        ({"pairs": [("income", "age")], "pair_options": {"max_bins_x": 0}}, {}, "max_bins_x"),
        (
            {"pairs": [("income", "age")]},
            {"sample_weight": np.ones(4000)},
            "without\\s+sample_weight",
        ),
        (
            {"pairs": [("income", "age")], "special_values": {"age": [18]}},
            {},
            "column 'age' holds special values",
        ),
    ],
)
def test_bad_pairs_are_refused_with_a_clear_message(options, fit, message):
    with pytest.raises(ValueError, match=message):
        tl.TableBinning(**options).fit(TRAIN, "bad", **fit)


def test_pairs_need_rows_not_merged_counts():
    with pytest.raises(ValueError, match="pairs are binned as grids from the rows"):
        binning().partial_fit(TRAIN, "bad")


def test_the_report_and_monitoring_read_the_pairs_cells(card):
    html = model_report(card, (TRAIN, "bad"), test=(HELD_OUT, "bad"))
    assert f"<h3>{PAIR}</h3>" in html and "grid binning of &#x27;income&#x27;" in html
    report = tl.stability(card, TRAIN, HELD_OUT)
    shift = report.shift(PAIR, report.periods[0])
    assert shift.labels == tuple(points_labels(card))
    assert shift.expected.sum() == len(TRAIN) and shift.psi < 0.1


def points_labels(card):
    return [label for variable, label, _, _ in card.points_table(PAIR)]


def test_where_pairs_are_not_scored_yet_the_pair_is_named(card):
    with pytest.raises(ValueError, match="actionable names the pair 'income × age'"):
        tl.counterfactual(card, HELD_OUT.head(1), 700, {PAIR: "any"})
    duckdb = pytest.importorskip("duckdb")
    db = duckdb.connect()
    load(db, "duckdb", HELD_OUT.assign(month="2024-01"))
    with pytest.raises(ValueError, match="in a database scores single columns, not yet the pair"):
        engines.monitor(card, db, "applicants", period="month", reference=TRAIN)
