"""A target of k classes counted by an engine (DuckDB, SQLite, PostgreSQL,
Spark): the engine groups the rows of every column by value (or category)
and by the target's value, and the client turns those groups into each
column's rows per value and class, exactly what the local pass counts from
the rows. The classes are named and ordered as locally: a numeric target's
values in ascending order, named as categories are ("0", "1", "2.5"), any
other target's names in name order.

The grouped rows are one row per (column, value, target value): the
column's position `c`, its value as a double `x` (NaN: missing) or its
category as text `s` (None: missing), the target as a double `tx` or as
text `ts` (NaN and None: missing), and the rows `n`."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from ._binning.multiclass import ClassCounts
from ._core.arrays import TIMES_REFUSED
from ._core.categories import category_name
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


def too_many_classes(target: str, found: int) -> ValueError:
    return ValueError(
        f"the target {target!r} holds {found} distinct values, more than {MAX_CLASSES} "
        "classes: a multiclass target holds a few classes (a continuous one is binned "
        'with target="continuous")'
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
) -> dict[str, Any]:
    """The rows per distinct value and class of groups of `rows` rows each."""
    labelled = labels >= 0
    present = labelled & ~missing
    distinct, at = np.unique(value[present], return_inverse=True)
    counts = np.zeros((distinct.size, k), dtype=np.int64)
    np.add.at(counts, (at, labels[present]), rows[present])
    missing_rows = np.zeros(k, dtype=np.int64)
    np.add.at(missing_rows, labels[labelled & missing], rows[labelled & missing])
    return {
        "value": distinct.astype(np.float64),
        "counts": counts,
        "missing": missing_rows,
        "n_missing_target": int(rows[~labelled].sum()),
    }


def class_counts_from_groups(
    groups: Mapping[str, Any],
    columns: Sequence[str],
    types: Mapping[str, ColumnType],
    categorical: Sequence[str],
    target_type: ColumnType,
) -> tuple[list[str], dict[str, ClassCounts]]:
    """The classes and every column's counts by value and class from the
    grouped rows (`groups` maps c, x, s, tx, ts and n to sequences)."""
    c = np.asarray(groups["c"], dtype=np.int64)
    x = np.array([np.nan if v is None else v for v in groups["x"]], dtype=np.float64)
    tx = np.array([np.nan if v is None else v for v in groups["tx"]], dtype=np.float64)
    texts, target_texts = list(groups["s"]), list(groups["ts"])
    rows = np.asarray(groups["n"], dtype=np.int64)
    labels, classes = target_classes(tx, target_texts, target_type)
    if len(classes) < 2:
        raise ValueError(f"the target must hold two classes or more, not {classes}")
    out: dict[str, ClassCounts] = {}
    for i, name in enumerate(columns):
        mine = c == i
        if name in categorical:
            named = category_names([t for t, m in zip(texts, mine) if m], x[mine], types[name])
            names = sorted({n for n in named if n is not None})
            position = {n: j for j, n in enumerate(names)}
            codes = np.array([-1 if n is None else position[n] for n in named], dtype=np.int64)
            counts = _table(codes, labels[mine], rows[mine], codes < 0, len(classes))
            out[name] = ClassCounts(counts, names)
        else:
            # 0.0 and -0.0 are one value, written 0.0, as the local count writes it.
            values = x[mine] + 0.0
            out[name] = ClassCounts(
                _table(values, labels[mine], rows[mine], np.isnan(values), len(classes))
            )
    return classes, out
