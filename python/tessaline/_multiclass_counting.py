"""A target of k classes counted by an engine (DuckDB, SQLite, PostgreSQL,
Spark): the engine groups the rows of every column by value (or category)
and by the target's value (and by the weight, if any), and the client turns those groups into each
column's rows per value and class, exactly what the local pass counts from
the rows. The classes are named and ordered as locally: a numeric target's
values in ascending order, named as categories are ("0", "1", "2.5"), any
other target's names in name order.

The engine first finds the target's distinct values, which the client
names and numbers as classes; the engine then reads each row's class by a
CASE on those values. The grouped rows are one row per (column, value,
class): the column's position `c`, its value as a double `x` (NaN:
missing) or its category as text `s` (None: missing), the class code `k`
(-1: a missing target), and the rows `n`; with sample weights,
the rows' weight `w` too (a group per distinct positive weight): the client
adds count times weight exactly, rounded once per value and class, as the
local fit sums the rows' weights."""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from ._binning.multiclass import ClassCounts, as_rows
from ._core import checks, native
from ._core.arrays import TIMES_REFUSED
from ._core.categories import category_name
from ._core.checks import NO_WEIGHT
from ._counting import BOOLEAN, CATEGORY, NUMBER, TIME, ColumnType, category_names

# A target of more distinct values than this is no set of classes (a
# continuous target given by mistake): it is refused before its groups,
# columns times classes, reach the client.
MAX_CLASSES = 1000


@dataclass(frozen=True)
class ClassPlan:
    """The columns a multiclass fit counts: `wanted` in their order, those
    counted as categories, and those no engine bins with the reason."""

    wanted: list[str]
    categorical: list[str]
    skipped: dict[str, str]

    @property
    def counted(self) -> list[str]:
        return [n for n in self.wanted if n not in self.skipped]


def plan_class_columns(
    binning: Any, columns: Sequence[str], types: Mapping[str, ColumnType], target: str
) -> ClassPlan:
    """Which columns `binning` (a `MulticlassTableBinning`) bins, as what, by
    the engine's types: text and booleans are categories, numbers are
    numbers unless the binning's options make them categories; dates and
    times are skipped as locally."""
    wanted = [n for n in columns if n != target and n not in binning.exclude]
    if not wanted:
        raise ValueError("the table has no column to bin")
    categorical, skipped = [], {}
    for name in wanted:
        kind = types[name].kind
        if kind == TIME:
            skipped[name] = TIMES_REFUSED
        elif kind not in (NUMBER, CATEGORY, BOOLEAN):
            what = types[name].name
            skipped[name] = f"a column of {what} values is neither numbers nor categories"
        elif binning.is_categorical(name, kind in (CATEGORY, BOOLEAN)):
            categorical.append(name)
    return ClassPlan(wanted, categorical, skipped)


def too_many_classes(target: str) -> ValueError:
    return ValueError(
        f"the target {target!r} holds more than {MAX_CLASSES} distinct values: a multiclass "
        'target holds a few classes (a continuous one is binned with target="continuous")'
    )


def target_classes(
    tx: npt.NDArray[np.float64], ts: Sequence[str | None], kind: ColumnType
) -> tuple[npt.NDArray[np.int32], list[str]]:
    """Each group's class code (-1: a missing target) and the classes in the
    local order, from the target's double `tx` or text `ts` of each group."""
    if kind.kind == NUMBER:
        known = ~np.isnan(tx)
        # 0.0 and -0.0 are one class, named "0".
        values, codes = np.unique(tx[known] + 0.0, return_inverse=True)
        labels = np.full(tx.size, -1, dtype=np.int32)
        labels[known] = codes
        return labels, [category_name(float(v)) for v in values]
    names = category_names(ts, tx, kind)
    classes = sorted({n for n in names if n is not None})
    position = {n: i for i, n in enumerate(classes)}
    return np.array([-1 if n is None else position[n] for n in names], dtype=np.int32), classes


def _table(
    value: npt.NDArray[np.int64] | npt.NDArray[np.float64],
    labels: npt.NDArray[np.int32],
    rows: npt.NDArray[np.int64],
    missing: npt.NDArray[np.bool_],
    k: int,
    weights: npt.NDArray[np.float64] | None,
) -> dict[str, Any]:
    """The rows per distinct value and class of groups of `rows` rows each;
    with `weights`, each group's rows of one weight, and the counts are the
    weights, each cell's the exact sum of its rows' weights rounded once."""
    labelled = labels >= 0
    present = labelled & ~missing
    distinct, at = _distinct(value[present])
    if weights is None:
        # Sums of whole counts below 2^53: exact in doubles.
        cells = at * k + labels[present]
        counts = np.bincount(cells, rows[present], distinct.size * k).astype(np.int64)
        counts = counts.reshape(distinct.size, k)
        held = labelled & missing
        missing_rows = np.bincount(labels[held], rows[held], k).astype(np.int64)
        return {
            "value": distinct.astype(np.float64),
            "counts": counts,
            "missing": missing_rows,
            "n_missing_target": int(rows[~labelled].sum()),
        }
    # Cells: value x class, then the missing values' classes, then the
    # missing target; each group adds n * w, split exactly into two doubles.
    cell = np.full(value.size, distinct.size * k + k, dtype=np.int64)
    cell[present] = at * k + labels[present]
    cell[labelled & missing] = distinct.size * k + labels[labelled & missing]
    order = np.argsort(cell, kind="stable")
    sums = native.exact_sums(
        exact_products(rows[order], weights[order]),
        np.concatenate(
            ([0], np.cumsum(2 * np.bincount(cell, minlength=distinct.size * k + k + 1)))
        ),
    )
    return as_rows(
        {
            "value": distinct.astype(np.float64),
            "counts": sums[: distinct.size * k].reshape(distinct.size, k),
            "missing": sums[distinct.size * k : -1],
            "n_missing_target": float(sums[-1]),
        }
    )


def _distinct(values: npt.NDArray[Any]) -> tuple[npt.NDArray[Any], npt.NDArray[np.int64]]:
    """The distinct values, ascending, and each value's position among them:
    in one pass where the engine gave them in order, else by sorting them."""
    if values.size < 2 or bool((values[1:] >= values[:-1]).all()):
        starts = np.empty(values.size, dtype=bool)
        starts[:1] = True
        np.not_equal(values[1:], values[:-1], out=starts[1:])
        return values[starts], np.cumsum(starts) - 1
    distinct, at = np.unique(values, return_inverse=True)
    return distinct, at.astype(np.int64)


def exact_products(rows: npt.NDArray[np.int64], weights: npt.NDArray[np.float64]) -> Any:
    """Each count times its weight as two doubles whose sum is the exact
    product, side by side, for an exact sum of them."""
    products = rows * weights
    errors = [
        math.fma(n, w, -p) for n, w, p in zip(rows.tolist(), weights.tolist(), products.tolist())
    ]
    return np.column_stack((products, np.array(errors, dtype=np.float64))).ravel()


def class_counts_from_groups(
    groups: Mapping[str, Any],
    columns: Sequence[str],
    types: Mapping[str, ColumnType],
    categorical: Sequence[str],
    k: int,
) -> dict[str, ClassCounts]:
    """Every column's counts by value and class from the grouped rows
    (`groups` maps c, x, s, the class code k (-1: a missing target), n and
    with weights w to sequences; x as a double, NULL or NaN where missing)
    of a target of `k` classes."""
    c = np.asarray(groups["c"], dtype=np.int64)
    x = doubles(groups["x"])
    texts = np.asarray(groups["s"], dtype=object)
    labels = np.asarray(groups["k"], dtype=np.int32)
    rows = np.asarray(groups["n"], dtype=np.int64)
    weights = np.asarray(groups["w"], dtype=np.float64) if "w" in groups else None
    if weights is not None:
        first = c == 0
        if not rows[first].sum():
            raise ValueError(NO_WEIGHT)
        total = native.exact_sum(exact_products(rows[first], weights[first]))
        checks.counting_rows(total, int(rows[first].sum()))
    out: dict[str, ClassCounts] = {}
    for i, name in enumerate(columns):
        mine = c == i
        if name in categorical:
            named = category_names(texts[mine].tolist(), x[mine], types[name])
            names = sorted({n for n in named if n is not None})
            position = {n: j for j, n in enumerate(names)}
            codes = np.array([-1 if n is None else position[n] for n in named], dtype=np.int64)
            counts = _table(codes, labels[mine], rows[mine], codes < 0, k, _of(weights, mine))
            out[name] = ClassCounts(counts, names)
        else:
            # 0.0 and -0.0 are one value, written 0.0, as the local count writes it.
            values = x[mine] + 0.0
            out[name] = ClassCounts(
                _table(values, labels[mine], rows[mine], np.isnan(values), k, _of(weights, mine))
            )
    return out


def doubles(values: Any) -> npt.NDArray[np.float64]:
    """Doubles of an engine, NULL (None) read as NaN."""
    if isinstance(values, np.ndarray):
        return values.astype(np.float64)
    return np.array([np.nan if v is None else v for v in values], dtype=np.float64)


def checked_classes(
    target: str, tx: Sequence[Any], ts: Sequence[str | None], kind: ColumnType
) -> tuple[npt.NDArray[np.int32], list[str]]:
    """The class code of each distinct target value an engine found (its
    double `tx` or text `ts`; at most MAX_CLASSES + 1 of them) and the
    classes: too many values, or fewer than two classes, are refused."""
    if len(tx) > MAX_CLASSES:
        raise too_many_classes(target)
    labels, classes = target_classes(doubles(tx), ts, kind)
    if len(classes) < 2:
        raise ValueError(f"the target must hold two classes or more, not {classes}")
    return labels, classes


def _of(weights: npt.NDArray[np.float64] | None, mine: npt.NDArray[np.bool_]) -> Any:
    return None if weights is None else weights[mine]
