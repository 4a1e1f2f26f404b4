"""Counterfactuals of single decisions, checked against brute force: every
combination of allowed bins is scored, and the smallest change (fewest
variables, then fewest bin steps, then most points) must be the one found,
with the score the card gives the changed applicant."""

import functools
import itertools

import numpy as np
import pytest
from package_under_test import tessaline as tl

pytest.importorskip("sklearn")


@functools.cache
def make_card(rounding):
    rng = np.random.default_rng(7)
    n = 4000
    x1, x2, x3 = rng.normal(size=n), rng.uniform(0, 10, n), rng.choice(list("abcd"), n)
    logit = -1 + 1.2 * x1 - 0.3 * x2 + (x3 == "a") - 0.8 * (x3 == "c")
    y = (rng.random(n) < 1 / (1 + np.exp(-logit))).astype(int)
    binning = tl.TableBinning(min_iv=0.0)
    return tl.Scorecard(binning, rounding=rounding).fit({"x1": x1, "x2": x2, "x3": x3}, y)


@pytest.fixture(scope="module", params=[0, None], ids=["whole points", "exact points"])
def card(request):
    return make_card(request.param)


def value_in(table, row):
    """A value that falls in row `row` of the table."""
    if table.kind == "categorical":
        return table.bin_categories[row][0]
    return table.splits[row] if row < len(table.splits) else table.splits[-1] + 1.0


def brute_force(card, applicant, cutoff, actionable):
    """(variables changed, bin steps, -new score) of the smallest change."""
    tables = card.binning.tables
    index = card.binning.transform(applicant, output="index", columns=card.variables)
    start = {v: int(index[v][0]) for v in card.variables}
    options = []
    for v in card.variables:
        numeric = tables[v].kind == "numeric"
        rows = [start[v]]
        for b in range(tables[v].n_bins):
            ok = {"any": True, "up": b > start[v], "down": b < start[v]}.get(actionable.get(v))
            if ok and b != start[v]:
                rows.append(b)
        options.append([(b, abs(b - start[v]) if numeric else int(b != start[v])) for b in rows])
    best = None
    for combo in itertools.product(*options):
        changed = {v: b for v, (b, _) in zip(card.variables, combo) if b != start[v]}
        moved = {**applicant, **{v: [value_in(tables[v], b)] for v, b in changed.items()}}
        score = float(card.score(moved)[0])
        if score >= cutoff:
            key = (len(changed), sum(s for _, s in combo), -score)
            best = key if best is None or key < best else best
    return best


APPLICANTS = [
    {"x1": [1.5], "x2": [8.0], "x3": ["a"]},
    {"x1": [0.2], "x2": [1.0], "x3": ["b"]},
    {"x1": [-2.0], "x2": [9.5], "x3": ["c"]},
]
ACTIONS = [
    {"x1": "down", "x2": "any", "x3": "any"},
    {"x1": "any", "x2": "up"},
    {"x3": "any"},
]


@pytest.mark.parametrize("applicant", APPLICANTS)
@pytest.mark.parametrize("actionable", ACTIONS)
def test_the_smallest_change_is_the_one_brute_force_finds(card, applicant, actionable):
    score = float(card.score(applicant)[0])
    for cutoff in (score - 1.0, score + 5.0, score + 40.0, score + 90.0, score + 500.0):
        got = tl.counterfactual(card, applicant, cutoff, actionable)
        want = brute_force(card, applicant, cutoff, actionable)
        assert got.score == score
        if want is None:
            assert (got.reached, got.changes, got.new_score) == (False, (), score)
            continue
        assert got.reached
        assert (got.variables_changed, got.bin_steps, -got.new_score) == want
        moved = {**applicant}
        for change in got.changes:
            assert change.variable in actionable
            assert card.binning.tables[change.variable].labels[change.to_row] == change.to_bin
            moved[change.variable] = [value_in(card.binning.tables[change.variable], change.to_row)]
        assert float(card.score(moved)[0]) == got.new_score


def test_a_worked_counterfactual_reads_as_the_analyst_wants():
    card = make_card(0)
    applicant = {"x1": 1.5, "x2": 8.0, "x3": "a"}
    got = tl.counterfactual(card, applicant, 560, {"x1": "down", "x2": "any", "x3": "any"})
    # One variable suffices: x3 to 'c' gains 48 points, short of 67; x1 down
    # four intervals gains 75, and no single move of x2 is enough.
    assert (got.score, got.new_score, got.variables_changed, got.bin_steps) == (493, 568, 1, 4)
    assert [(c.variable, c.from_row, c.to_row, c.points_gained) for c in got.changes] == [
        ("x1", 7, 3, 75.0)
    ]
    assert str(got) == (
        "score 493.00 -> 568.00 (cut-off 560) with 1 variables, 4 bin steps: "
        "x1: (1.344617046, +inf) -> (-0.477753276, -0.007358286291] (+75.00)"
    )


@pytest.mark.parametrize(
    "rows, actionable, message",
    [
        (1, {"x9": "up"}, "actionable names 'x9', which is not a variable of the card"),
        (1, {"x1": "left"}, "the direction of 'x1' must be 'up', 'down' or 'any', not 'left'"),
        (1, {"x3": "up"}, "'x3' is categorical: its bins have no order, so it can only move 'any'"),
        (2, {"x1": "up"}, "counterfactual explains one applicant: give one row, not 2"),
    ],
)
def test_misuse_is_refused(rows, actionable, message):
    applicant = {"x1": [0.0] * rows, "x2": [1.0] * rows, "x3": ["a"] * rows}
    with pytest.raises(ValueError) as caught:
        tl.counterfactual(make_card(0), applicant, 900, actionable)
    assert str(caught.value) == message
