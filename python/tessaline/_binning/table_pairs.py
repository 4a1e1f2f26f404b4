"""Pairs of columns binned as grids inside a whole-table binning.

A pair ("income", "age") is binned by `grid_binning` on the rows of the
table and becomes one more variable, named "income × age", whose WoE is
that of each row's cell. Its single columns stay in the table: whether the
pair, its columns or both earn a place is for the selection and the card to
decide. The grid's options (`PAIR_OPTIONS`) are the table's `pair_options`,
overridden by a pair's own dict: ``("income", "age", {"max_bins_x": 3})``.

The IV of a grid is the largest the search finds, so it is tested as a
column's is: the same grid search run on the rows with their targets dealt
at random must reach the observed IV in at most the level's share of the
draws, stopped by the same rules (`tessaline._binning.significance`). Each
draw is a whole grid fit, so a pair costs more draws' time than a column,
and the pre-bins are searched again each time: the null holds everything
the search chose."""

from __future__ import annotations

import functools
import math
import os
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from .._core import frames, native, threads
from .._core.arrays import FloatArray, as_float_array
from .grid import grid_binning
from .grid_table import GridBinningTable
from .significance import IvTest
from .stopping import stop_rule

# The options of `grid_binning` a pair may carry.
PAIR_OPTIONS = ("max_bins_x", "max_bins_y", "min_cell_share", "trend_x", "trend_y", "n_prebins")
# A cell resting on fewer events (or non-events) than this is noted.
FEW_EVIDENCE = 5


@dataclass(frozen=True)
class Pair:
    """Two columns binned together, with the grid options of their own."""

    x: str
    y: str
    options: Mapping[str, Any] = field(default_factory=dict)

    @property
    def name(self) -> str:
        return pair_name(self.x, self.y)


def pair_name(x: str, y: str) -> str:
    """The variable a pair makes: "income × age"."""
    return f"{x} × {y}"


def checked_pairs(pairs: Any, table_options: Mapping[str, Any]) -> tuple[Pair, ...]:
    """The pairs `pairs` names, each (x, y) or (x, y, {grid options}), with
    the table-wide `table_options` under their own: two distinct columns,
    each pair once, options among `PAIR_OPTIONS`."""
    _check_options(table_options, "pair_options")
    if isinstance(pairs, (str, bytes)) or not isinstance(pairs, Sequence):
        raise TypeError(
            f"pairs must be a list of (column, column) tuples, not {type(pairs).__name__}"
        )
    out: list[Pair] = []
    for entry in pairs:
        if (
            isinstance(entry, (str, bytes))
            or not isinstance(entry, Sequence)
            or len(entry) not in (2, 3)
            or not all(isinstance(n, str) for n in entry[:2])
            or (len(entry) == 3 and not isinstance(entry[2], Mapping))
        ):
            raise ValueError(
                f"a pair must be (column, column) or (column, column, {{grid options}}), "
                f"not {entry!r}"
            )
        x, y = entry[0], entry[1]
        if x == y:
            raise ValueError(f"the pair ({x!r}, {y!r}) names the same column twice")
        own = dict(entry[2]) if len(entry) == 3 else {}
        _check_options(own, f"the pair ({x!r}, {y!r})")
        pair = Pair(x, y, {**table_options, **own})
        if any({p.x, p.y} == {x, y} for p in out):
            raise ValueError(f"the pair ({x!r}, {y!r}) is named twice")
        out.append(pair)
    return tuple(out)


def _check_options(options: Any, where: str) -> None:
    if not isinstance(options, Mapping):
        raise TypeError(f"{where}: grid options must be a dict, not {type(options).__name__}")
    unknown = sorted(set(options) - set(PAIR_OPTIONS))
    if unknown:
        raise ValueError(
            f"{where}: unknown grid option(s) {', '.join(unknown)}; "
            f"options are {', '.join(PAIR_OPTIONS)}"
        )


def check_pair_columns(
    pairs: Sequence[Pair], names: Sequence[str], not_binned: Sequence[str | None]
) -> None:
    """Every column a pair names must be a column of the data, and neither
    the target nor the weights (`not_binned`); a pair's name must not be a
    column's."""
    for p in pairs:
        absent = [n for n in (p.x, p.y) if n not in names]
        if absent:
            raise ValueError(
                f"pairs names column(s) not in the data: {', '.join(map(repr, absent))}; "
                f"the columns are {', '.join(names)}"
            )
        held = [n for n in (p.x, p.y) if n in not_binned]
        if held:
            raise ValueError(f"the pair ({p.x!r}, {p.y!r}) names the target or weight {held[0]!r}")
        if p.name in names:
            raise ValueError(f"the pair ({p.x!r}, {p.y!r}) is named as the column {p.name!r}")


def fit_pair(
    pair: Pair,
    data: Any,
    flags: FloatArray,
    specials: tuple[Sequence[float], Sequence[float]],
    test: IvTest | None,
    n_jobs: int | None = None,
) -> GridBinningTable:
    """The grid of one pair of the table `data` against the event flags
    `flags`, its IV tested with `test` when given (metadata "iv_pvalue" and
    "iv_draws"). A column holding one of its special values (`specials`) is
    refused: the grid would file those codes as numbers among the others."""
    columns = frames.columns(data, [pair.x, pair.y])
    x, y = columns[pair.x], columns[pair.y]
    for name, values, codes in ((pair.x, x, specials[0]), (pair.y, y, specials[1])):
        if len(codes) and not frames.is_categorical(values):
            held = np.isin(as_float_array(values), np.asarray(codes, dtype=np.float64))
            if held.any():
                raise ValueError(
                    f"the pair ({pair.x!r}, {pair.y!r}): column {name!r} holds special "
                    "values, which a grid does not set apart; leave it out of pairs "
                    "or recode them as missing"
                )
    try:
        grid = grid_binning(x, y, flags, name_x=pair.x, name_y=pair.y, **pair.options)
    except (TypeError, ValueError) as error:
        raise type(error)(f"the pair ({pair.x!r}, {pair.y!r}): {error}") from None
    if test is None:
        return grid
    grid.metadata.update(
        _iv_permutation_test(x, y, flags, pair, grid.information_value, test, n_jobs)
    )
    return grid


def _iv_permutation_test(
    x: Any,
    y: Any,
    flags: FloatArray,
    pair: Pair,
    observed: float,
    test: IvTest,
    n_jobs: int | None,
) -> dict[str, Any]:
    """How often the grid search on the rows with their known targets dealt at
    random reaches the IV `observed`: p = (1 + reached) / (1 + draws), the
    draws stopped as a column's are once the answer is clear. The searches
    run `n_jobs` at a time (they release the interpreter lock), the deals
    made and the draws read in order: the same p-value on any thread count."""
    rng = np.random.default_rng(test.seed)
    known = ~np.isnan(flags)
    batch = max(1, n_jobs or os.cpu_count() or 1)
    rule = stop_rule(test.level, test.draws)
    reached = draws = check = 0

    def null_iv(dealt: FloatArray) -> float:
        return grid_binning(x, y, dealt, **pair.options).information_value

    while draws < test.draws:
        deals: list[Callable[[], Any]] = []
        for _ in range(min(batch, test.draws - draws)):
            dealt = flags.copy()
            dealt[known] = rng.permutation(flags[known])
            deals.append(functools.partial(null_iv, dealt))
        for null in threads.run_in_threads(deals, n_jobs):
            draws += 1
            reached += int(null >= observed)
            if check < len(rule.checks) and draws == rule.checks[check]:
                if rule.stops(check, reached):
                    return {"iv_pvalue": (1 + reached) / (1 + draws), "iv_draws": draws}
                check += 1
    return {"iv_pvalue": (1 + reached) / (1 + draws), "iv_draws": draws}


# -- what the summary reads of a grid -------------------------------------------
def cell_counts(grid: GridBinningTable) -> tuple[FloatArray, FloatArray]:
    """Non-events and events of every cell, missing row and column included."""
    return grid.c0.ravel(), grid.c1.ravel()


def missing_share(grid: GridBinningTable) -> float:
    """The share of rows whose x or y is missing (the last row and column)."""
    rows = grid.c0 + grid.c1
    total = float(rows.sum())
    return float(rows[-1].sum() + rows[:-1, -1].sum()) / total if total else math.nan


def searched_cells(grid: GridBinningTable) -> int:
    """The bins of a pair as its summary counts them: the rectangles (the
    cells of a product grid) of the rows with both values, missing and
    special rows left out as a column's are."""
    inner = grid.regions[: grid.axis_x.n_bins, : grid.axis_y.n_bins]
    return int(np.unique(inner).size)


def grid_gini(grid: GridBinningTable) -> float:
    """Gini of the cells' WoE on the training rows, from the counts: cells
    of equal WoE are one score value, ties count one half."""
    c0, c1 = cell_counts(grid)
    if c0.sum() == 0 or c1.sum() == 0:
        return math.nan
    merged = native.merge_value_counts(grid.woe.ravel(), c0, c1)
    return float(native.lorenz_from_counts(merged)["gini"])


def grid_note(grid: GridBinningTable) -> str:
    """The cells whose WoE rests on fewer than `FEW_EVIDENCE` events or
    non-events, if any."""
    c0, c1 = cell_counts(grid)
    few = int(np.count_nonzero((c0 + c1 > 0) & (np.minimum(c0, c1) < FEW_EVIDENCE)))
    return f"fewer than {FEW_EVIDENCE} events or non-events in {few} cell(s)" if few else ""


def cell_labels(grid: GridBinningTable) -> list[str]:
    """The label of every cell of `cells()`, in the order of the index
    `transform` gives: "(-inf, 3] × (2, 5]"."""
    cells = grid.cells()
    return [f"{a} × {b}" for a, b in zip(cells["x"], cells["y"])]


def indexed_woe(grid: GridBinningTable) -> FloatArray:
    """The WoE of each index `transform(output="index")` gives, as
    `cells()` lists them: what a card's points of a pair are read from."""
    return np.asarray(grid.cells()["woe"], dtype=np.float64)


def scored(grid: GridBinningTable, data: Any, output: str) -> Any:
    """A pair's column of `data` as `transform` gives it: the WoE, flat index
    or label ("label" of a table reads "bin" of a grid) of each row's cell."""
    columns = frames.columns(data, [str(grid.name_x), str(grid.name_y)])
    x, y = columns[str(grid.name_x)], columns[str(grid.name_y)]
    if output == "label":
        return np.asarray(grid.transform(x, y, output="bin"), dtype=object)
    return grid.transform(x, y, output="woe" if output == "woe" else "index")


def refuse_pairs(pair_tables: Mapping[str, Any], names: Sequence[str], where: str) -> None:
    """Refuse a pair among `names` where only single columns are scored yet."""
    pairs = [n for n in names if n in pair_tables]
    if pairs:
        raise ValueError(
            f"{where} scores single columns, not yet the pair {pairs[0]!r}: "
            "score or monitor a card with pairs in memory, or in SQL with to_sql"
        )
