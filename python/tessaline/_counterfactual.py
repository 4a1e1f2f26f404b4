"""The counterfactual of one decision: the smallest change of an applicant's
actionable variables that brings the score to a cut-off.

A scorecard's score is a sum of points, one per variable, fixed by the bin the
applicant's value falls in; so a change that matters is a move of some
variables to other bins. The analyst says which variables may change and in
which direction (``"up"``: to higher intervals, ``"down"``: to lower ones,
``"any"``); every other variable keeps its bin. Among the moves whose score
reaches `cutoff` (score >= cutoff), the smallest is the one with

1. the fewest variables changed, then
2. the fewest bin steps in all (a move from interval i to interval j is
   |i - j| steps; a move between sets of categories, or out of a special or
   missing value, is one step), then
3. the most points gained (the highest new score).

The search is exact over the bins, not sampled: a dynamic programme over the
variables keeps, for each count of changed variables and of steps, the most
points that can be gained, so it finds the smallest change whenever one
exists; the new score is then summed exactly as `Scorecard.score` sums it.
A move only goes to an interval or set of categories the binning has (never
to a special value or to missing). When no move reaches the cut-off the
result says so (``reached`` is False, no changes).
"""

from __future__ import annotations

from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any, Literal

import numpy as np

from ._core import checks
from ._scorecard import Scorecard

Direction = Literal["up", "down", "any"]


@dataclass(frozen=True)
class BinChange:
    """One variable moved: from its bin to another (labels and row indices of
    its binning table), and the points that gains (negative: loses)."""

    variable: str
    from_bin: str
    to_bin: str
    from_row: int
    to_row: int
    points_gained: float


@dataclass(frozen=True)
class Counterfactual:
    """The smallest change that brings an applicant's score to `cutoff`:
    ``changes`` in the card's order of variables, the score before and after,
    and the size of the change (variables changed, bin steps). ``reached`` is
    False when no allowed change reaches the cut-off (then ``changes`` is
    empty and ``new_score`` is ``score``)."""

    cutoff: float
    score: float
    new_score: float
    reached: bool
    changes: tuple[BinChange, ...]
    variables_changed: int
    bin_steps: int

    def __str__(self) -> str:
        if not self.reached:
            return f"no allowed change brings the score {self.score:.2f} to {self.cutoff:g}"
        if not self.changes:
            return f"the score {self.score:.2f} already reaches {self.cutoff:g}"
        moves = "; ".join(
            f"{c.variable}: {c.from_bin} -> {c.to_bin} ({c.points_gained:+.2f})"
            for c in self.changes
        )
        return (
            f"score {self.score:.2f} -> {self.new_score:.2f} (cut-off {self.cutoff:g}) with "
            f"{self.variables_changed} variables, {self.bin_steps} bin steps: {moves}"
        )


# (variables changed, bin steps) -> (points gained, {variable position: row})
_State = dict[tuple[int, int], tuple[float, dict[int, int]]]


def _one_row(applicant: Any) -> Any:
    """A mapping of scalars (or a pandas Series, one row of a frame) as a
    one-row table; a table must have one row."""
    if type(applicant).__name__ == "Series" and hasattr(applicant, "to_dict"):
        applicant = applicant.to_dict()
    if isinstance(applicant, Mapping):
        applicant = {
            k: v if isinstance(v, list | tuple | np.ndarray) else [v] for k, v in applicant.items()
        }
    return applicant


def _moves(card: Scorecard, name: str, row: int, direction: Direction) -> list[tuple[int, int]]:
    """(row, steps) of every bin variable `name` may move to from `row`."""
    assert card.binning is not None
    table = card.binning.tables[name]
    points = card.points[name]
    targets = [b for b in range(table.n_bins) if b != row and not np.isnan(points[b])]
    ordered = table.kind == "numeric" and 0 <= row < table.n_bins
    if direction != "any":
        if table.kind != "numeric":
            raise ValueError(
                f"{name!r} is categorical: its bins have no order, so it can only move 'any'"
            )
        if not ordered:
            return []  # a special or missing value is neither below nor above an interval
        targets = [b for b in targets if (b > row) == (direction == "up")]
    return [(b, abs(b - row) if ordered else 1) for b in targets]


def _rows(card: Scorecard, data: Any) -> dict[str, int]:
    """The row of each variable's binning table that the applicant falls in."""
    assert card.binning is not None
    index = card.binning.transform(data, output="index", columns=card.variables)
    rows = {}
    for name in card.variables:
        i = int(np.asarray(index[name])[0])
        if name in card.binning.pair_tables:
            rows[name] = i  # the pair's cell, which holds every row
            continue
        table = card.binning.tables[name]
        if i < 0:
            i = len(table) - 1 if table.has_missing_row else -1
        rows[name] = i
    return rows


def counterfactual(
    card: Scorecard,
    applicant: Any,
    cutoff: float,
    actionable: Mapping[str, Direction],
) -> Counterfactual:
    """The smallest change of the `actionable` variables (name -> ``"up"``,
    ``"down"`` or ``"any"``) that brings the score of `applicant` (one row:
    a mapping of column to value, or a one-row table) to `cutoff` or above,
    on the fitted `card`. "Smallest" and the search are described in the
    module docstring."""
    cutoff = checks.real_number("cutoff", cutoff)
    for name, direction in actionable.items():
        if name not in card.variables:
            raise ValueError(f"actionable names {name!r}, which is not a variable of the card")
        if card.binning is not None and name in card.binning.pair_tables:
            raise ValueError(
                f"actionable names the pair {name!r}: a move of one cell of a grid changes "
                "two columns at once, which the search does not weigh; leave it out"
            )
        if direction not in ("up", "down", "any"):
            raise ValueError(
                f"the direction of {name!r} must be 'up', 'down' or 'any', not {direction!r}"
            )
    data = _one_row(applicant)
    per_variable = card.variable_points(data)
    n_rows = len(per_variable[card.variables[0]])
    if n_rows != 1:
        raise ValueError(f"counterfactual explains one applicant: give one row, not {n_rows}")
    current = [float(per_variable[name][0]) for name in card.variables]
    score = float(card.score(data)[0])
    rows = _rows(card, data)

    def summed(chosen: dict[int, int]) -> float:
        points = [
            float(card.points[name][chosen[j]]) if j in chosen else current[j]
            for j, name in enumerate(card.variables)
        ]
        total = points[0] if card.intercept_points == "spread" else card.base_points + points[0]
        for p in points[1:]:
            total += p
        return total

    if score >= cutoff:
        return Counterfactual(cutoff, score, score, True, (), 0, 0)
    states: _State = {(0, 0): (0.0, {})}
    for j, name in enumerate(card.variables):
        if name not in actionable:
            continue
        moves = _moves(card, name, rows[name], actionable[name])
        grown = dict(states)
        for (changed, steps), (gained, chosen) in states.items():
            for row, step in moves:
                key = (changed + 1, steps + step)
                value = gained + (float(card.points[name][row]) - current[j])
                if key not in grown or value > grown[key][0]:
                    grown[key] = (value, {**chosen, j: row})
        states = grown
    for key in sorted(states):
        chosen = states[key][1]
        new_score = summed(chosen)
        if chosen and new_score >= cutoff:
            return _result(card, cutoff, score, new_score, chosen, current, rows, key)
    return Counterfactual(cutoff, score, score, False, (), 0, 0)


def _result(
    card: Scorecard,
    cutoff: float,
    score: float,
    new_score: float,
    chosen: dict[int, int],
    current: list[float],
    rows: dict[str, int],
    size: tuple[int, int],
) -> Counterfactual:
    assert card.binning is not None
    changes = []
    for j in sorted(chosen):
        name = card.variables[j]
        labels = card.binning.tables[name].labels
        row = rows[name]
        changes.append(
            BinChange(
                name,
                labels[row] if row >= 0 else "missing",
                labels[chosen[j]],
                row,
                chosen[j],
                float(card.points[name][chosen[j]]) - current[j],
            )
        )
    return Counterfactual(cutoff, score, new_score, True, tuple(changes), size[0], size[1])
