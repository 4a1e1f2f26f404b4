"""What every engine that counts shares (Spark, DuckDB, SQLite, PostgreSQL):
which columns are numbers and which categories by the engine's types, the
guard on distinct values that keeps the client's memory bounded, the
percentile threshold of a numeric target from its counts, and the merged
counts of every column built from the engine's grouped rows. An engine only
writes the query that groups the rows; the binning is `TableBinning.fit_counts`.

The grouped rows of a table are one row per (column, value) and per
(column, category): the column's position `c`, the value as a double `x`
(NULL and NaN both missing) or the category as text `s`, the rows `n`, the
rows of known target `known` and the events among them `ones`."""

from __future__ import annotations

import math
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from ._binning.column_counts import CategoryCounts, ColumnCounts, category_counts
from ._binning.special import checked_special_values
from ._core import native
from ._core.arrays import TIMES_REFUSED
from ._core.categories import category_name
from ._core.target import check_threshold
from ._table_binning import CountedOnCall, Edits, TableBinning
from .exceptions import TargetError

DEFAULT_MAX_DISTINCT = 20_000_000
# What a column holds, by the engine's type: numbers, categories (text),
# booleans (categories named True and False, or 0/1 numbers), dates and
# times (never binned), or anything else.
NUMBER, CATEGORY, BOOLEAN, TIME, OTHER = "number", "category", "boolean", "time", "other"


@dataclass(frozen=True)
class ColumnType:
    """A column's kind (NUMBER, CATEGORY, BOOLEAN, TIME or OTHER), the
    engine's name of its type, and whether its numbers are integers (whose
    categories are named by their text, exactly)."""

    kind: str
    name: str
    integral: bool = False


@dataclass(frozen=True)
class ColumnPlan:
    """The columns of a table fit: `wanted` in their order, the ones counted
    as categories and as numbers (with their special values), and the ones
    no engine can bin with the reason."""

    wanted: list[str]
    categorical: list[str]
    numeric: dict[str, tuple[float, ...]]
    skipped: dict[str, str]

    @property
    def counted(self) -> list[str]:
        return [n for n in self.wanted if n not in self.skipped]


def plan_columns(
    binning: TableBinning, columns: Sequence[str], types: Mapping[str, ColumnType], target: str
) -> ColumnPlan:
    """Which columns of a table `binning.fit` counts, as what, by their types:
    text and booleans are categories, the others numbers unless the
    binning's options say otherwise, as the local fit decides."""
    wanted = [n for n in columns if n != target and n not in binning.exclude]
    if not wanted:
        raise ValueError("the table has no column to bin")
    categorical, numeric, skipped = [], {}, {}
    for name in wanted:
        kind = types[name].kind
        options = binning.options_of(name, kind in (CATEGORY, BOOLEAN))
        if options["categorical"]:
            categorical.append(name)
        elif kind in (NUMBER, BOOLEAN):
            numeric[name] = checked_special_values(options["special_values"])
        else:
            skipped[name] = (
                TIMES_REFUSED
                if kind == TIME
                else f"a column of {types[name].name} values is neither numbers nor categories"
            )
    return ColumnPlan(wanted, categorical, numeric, skipped)


def fit_planned(
    binning: TableBinning,
    columns: Sequence[str],
    plan: ColumnPlan,
    counted: Mapping[str, ColumnCounts | CategoryCounts | CountedOnCall],
    edits: Edits | TableBinning | None = None,
) -> TableBinning:
    """`binning` fitted from the counts of the planned columns (or the calls
    that count them), with `edits` made again on its tables (`TableBinning.fit`)."""
    return binning.fit_counts(
        counted, list(columns), skipped=plan.skipped, order=plan.wanted, edits=edits
    )


def over_max_distinct(
    columns: Sequence[str],
    distinct: Mapping[int, int],
    categorical: Sequence[str],
    max_distinct: int,
    approximate: int | None,
    rounded: Callable[[str], str],
) -> list[int]:
    """The positions of the numeric columns whose distinct values (by
    position in `distinct`) exceed `max_distinct`, to be merged into
    `approximate` cells; without it, or for a categorical column, such a
    column is an error that says how to round it (`rounded(name)`)."""
    if approximate is not None and approximate < 1:
        raise ValueError(f"approximate must be a number of cells, at least 1, not {approximate!r}")
    over = [i for i in range(len(columns)) if distinct.get(i, 0) > max_distinct]
    for i in over:
        if approximate is None or columns[i] in categorical:
            name = columns[i]
            raise ValueError(
                f"column {name!r} has {distinct[i]} distinct values, more than "
                f"max_distinct={max_distinct} can bring to the client: round it (for example "
                f"{rounded(name)}) and bin the rounded column, or give "
                f"approximate=K to merge its values into K cells"
            )
    return over


def check_target_distinct(target: str, distinct: int, max_distinct: int) -> None:
    """A target whose percentile would bring more than `max_distinct` values
    to the client is an error."""
    if distinct > max_distinct:
        raise ValueError(
            f"the target {target!r} has {distinct} distinct values, more than "
            f"max_distinct={max_distinct}: give the threshold as value="
        )


def target_threshold(
    values: npt.ArrayLike,
    rows: npt.ArrayLike,
    target: str,
    value: float | None,
    percentile: float | None,
    max_distinct: int,
) -> float:
    """The threshold of a numeric target: `value`, or the linear-interpolation
    `percentile` of its finite values, from their rows per distinct value."""
    check_threshold(value, percentile)
    if value is not None:
        return float(value)
    assert percentile is not None
    ys = np.asarray(values, dtype=np.float64)
    check_target_distinct(target, ys.size, max_distinct)
    order = np.argsort(ys)
    return native.percentile(ys[order], np.asarray(rows, dtype=np.int64)[order], percentile)


def category_names(
    texts: Sequence[str | None], x: npt.NDArray[np.float64], column: ColumnType
) -> list[str | None]:
    """The local name of each category of a column (None: missing), from
    its text `texts` or, where that is None, its double `x`: booleans as
    Python prints them, integral doubles as integers."""
    names: list[str | None] = []
    for t, v in zip(texts, x.tolist()):
        if t is None:
            names.append(None if v != v else category_name(float(v)))
        elif column.kind == BOOLEAN:
            names.append("True" if t.lower() in ("true", "1", "t") else "False")
        elif column.kind == NUMBER and not column.integral:
            names.append(category_name(float(t)))
        else:
            names.append(t)
    return names


def counts_from_groups(
    groups: Mapping[str, Any],
    columns: Sequence[str],
    types: Mapping[str, ColumnType],
    categorical: Sequence[str],
    specials: Mapping[str, Sequence[float]],
) -> dict[str, ColumnCounts | CategoryCounts]:
    """Every column's merged counts from the grouped rows (`groups` maps c,
    x, s, n, known and ones to sequences; NULL comes as NaN or None, a NULL
    sum of events as NaN or None). With sample weights, `groups` also maps w,
    w0 and w1 to the weights of each group's rows, non-events and events, and
    n, known and ones count its records of positive weight."""
    c = np.asarray(groups["c"], dtype=np.int64)
    x = (
        np.array([np.nan if v is None else v for v in groups["x"]], dtype=np.float64)
        if not isinstance(groups["x"], np.ndarray)
        else groups["x"].astype(np.float64)
    )
    texts = list(groups["s"])
    rows = np.asarray(groups["n"], dtype=np.int64)
    known = np.asarray(groups["known"], dtype=np.int64)
    ones = np.nan_to_num(
        np.array([np.nan if v is None else v for v in groups["ones"]], dtype=np.float64)
    ).astype(np.int64)
    weights = (
        [np.asarray(groups[k], dtype=np.float64) for k in ("w", "w0", "w1")]
        if "w" in groups
        else None
    )
    out: dict[str, ColumnCounts | CategoryCounts] = {}
    for i, name in enumerate(columns):
        mine = c == i
        mine_w = None if weights is None else [w[mine] for w in weights]
        if name in categorical:
            names = category_names([t for t, m in zip(texts, mine) if m], x[mine], types[name])
            out[name] = category_counts(names, rows[mine], known[mine], ones[mine], mine_w)
        else:
            out[name] = ColumnCounts(
                x[mine], rows[mine], known[mine], ones[mine], specials.get(name, ()), mine_w
            )
    return out


def summed_weights(groups: Mapping[str, Sequence[Any]]) -> dict[str, Any]:
    """The groups of an engine that groups by (c, x, s, w) (the rows of each
    distinct weight w of a value apart: n, known and ones), merged into one
    group per (c, x, s) with the weights w, w0 and w1 of its rows,
    non-events and events: each product of a count and a weight split
    exactly into two doubles, and each group's terms added exactly and
    rounded once, so that the weights do not depend on the engine's order
    of the rows. Groups come out ordered by (c, x, s)."""
    keyed: dict[tuple[Any, ...], list[Any]] = {}
    for c, x, s, w, n, known, ones in zip(
        *(groups[k] for k in ("c", "x", "s", "w", "n", "known", "ones"))
    ):
        x = np.nan if x is None else float(x)
        key = (int(c), x != x, 0.0 if x != x else x + 0.0, s is None, s or "")
        entry = keyed.setdefault(key, [c, x, s, 0, 0, 0, [], [], []])
        events = 0 if ones is None or ones != ones else int(ones)
        entry[3] += int(n)
        entry[4] += int(known)
        entry[5] += events
        for terms, count in zip(entry[6:], (int(n), int(known) - events, events)):
            product = count * float(w)
            terms.extend((product, math.fma(count, float(w), -product)))
    ordered = [keyed[k] for k in sorted(keyed)]
    out: dict[str, Any] = {
        key: [e[i] for e in ordered] for i, key in enumerate(("c", "x", "s", "n", "known", "ones"))
    }
    for i, key in enumerate(("w", "w0", "w1")):
        lists = [e[6 + i] for e in ordered]
        offsets = np.concatenate(([0], np.cumsum([len(t) for t in lists]))).astype(np.int64)
        terms = np.fromiter((t for part in lists for t in part), dtype=np.float64)
        out[key] = native.exact_sums(terms, offsets)
    return out


def not_zero_one(target: str) -> TargetError:
    return TargetError(f"the target {target!r} is not 0/1: give event= (the value of an event)")
