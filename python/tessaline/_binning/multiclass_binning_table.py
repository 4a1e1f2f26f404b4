"""The binning table of one variable against a target of k classes (current,
delinquent, default, prepaid): per bin the rows of each class, and each
class weighed against the rest as a binary target's event (its WoE and
IV); the table's multiclass IV and Jensen-Shannon divergence. Its transform
gives each value its bin's WoE of every class (or of one)."""

from __future__ import annotations

import math
import types
from collections.abc import Mapping, Sequence
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._core import checks, native, printing
from .._core.arrays import FloatArray, IntArray
from .._core.placement import MISSING_SLOT
from .._core.result_frames import FrameKind, columns_frame
from .._formats import document, sql
from ..exceptions import DocumentError
from . import bin_rows
from .bin_rows import BinRows, frozen

MULTICLASS_SCHEMA = document.MULTICLASS_SCHEMA
# What `transform(output=...)` gives: the WoE of each class, the index or label.
OUTPUTS = ("woe", "index", "label")
# The bin of a category training did not see, apart from a missing one.
UNSEEN = -2
# The columns of one value per row, then those of one value per row and class.
ROW_COLUMNS = ("left", "right", "count", "share", "iv", "js")
CLASS_COLUMNS = ("class_count", "woe", "class_iv")


class MulticlassBinningTable(BinRows):
    """The binning of one variable against a target of k classes.

    One row per interval (-inf, t1], ..., (tk, +inf), closed on the right
    (or per set of categories, ``bin_categories``), then one per special
    value, then one for the rows whose value is missing when there are any.
    ``classes`` names the classes in column order. Columns, read with
    ``table["name"]``:

    - ``left``, ``right``: interval edges (NaN for the missing-value row);
    - ``count``: rows; ``share``: rows over the table's rows;
    - ``class_count`` (rows x classes): the rows of each class (int64; with
      sample weights that are not all whole numbers, float64 sums of the
      weights, each value's exact and rounded once);
    - ``woe`` (rows x classes): ln(share of the class's rows / share of the
      other classes' rows), positive where the class is more frequent than
      over the whole table; a class without rows in a row counts 0.5 there,
      a row without rows has WoE 0;
    - ``class_iv`` (rows x classes): (share of the class's rows - share of
      the others') * woe, the binary IV of the class against the rest;
    - ``iv``: the row's class IVs summed; ``js``: the row's term of the
      Jensen-Shannon divergence of the classes' distributions.

    ``information_value`` (the multiclass IV, which the bins maximise) sums
    ``iv``; ``class_information_value`` gives each class's IV against the
    rest; ``js_divergence`` sums ``js``: the divergence of the classes'
    distributions over the rows weighted by the classes' shares, which is
    the mutual information of bin and class, in nats.
    """

    __slots__ = ("classes", "_totals")
    SCHEMA = MULTICLASS_SCHEMA

    def __init__(
        self,
        left: npt.ArrayLike,
        right: npt.ArrayLike,
        class_count: npt.ArrayLike,
        *,
        classes: Sequence[str],
        method: str,
        name: str | None = None,
        metadata: Mapping[str, Any] | None = None,
        special_values: Sequence[float] = (),
        bin_categories: Sequence[tuple[str, ...]] | None = None,
    ) -> None:
        counts = class_counts(class_count)
        if counts.ndim != 2 or counts.shape[1] != len(classes) or len(classes) < 2:
            raise ValueError("class_count must hold one column per class, of two classes or more")
        measures = native.multiclass_columns(counts)
        self.classes = tuple(str(c) for c in classes)
        self._totals: Mapping[str, Any] = types.MappingProxyType(
            {
                "iv": float(measures["iv_total"]),
                "js": float(measures["js_total"]),
                "class_iv": frozen(measures["class_iv"]),
            }
        )
        columns = {
            "left": np.asarray(left, dtype=np.float64),
            "right": np.asarray(right, dtype=np.float64),
            "count": row_totals(counts),
            "share": measures["share"],
            "class_count": counts,
            "woe": measures["woe"],
            "class_iv": measures["iv"],
            "iv": measures["row_iv"],
            "js": measures["js"],
        }
        self._place_rows(
            types.MappingProxyType({key: frozen(v) for key, v in columns.items()}),
            method=method,
            name=name,
            metadata=metadata,
            special_values=special_values,
            bin_categories=bin_categories,
        )
        if bin_categories is not None:
            self._splits = frozen(np.empty(0))

    # -- reading ---------------------------------------------------------------
    @property
    def information_value(self) -> float:
        """The multiclass IV: every class's IV against the rest, summed."""
        return float(self._totals["iv"])

    @property
    def class_information_value(self) -> dict[str, float]:
        """Each class's IV against the rest, by class."""
        return {c: float(v) for c, v in zip(self.classes, self._totals["class_iv"])}

    @property
    def js_divergence(self) -> float:
        """The Jensen-Shannon divergence of the classes' distributions over
        the rows, weighted by the classes' shares (nats)."""
        return float(self._totals["js"])

    def class_position(self, target_class: Any) -> int:
        """The column of the class named `target_class`."""
        name = str(target_class)
        if name not in self.classes:
            raise ValueError(
                f"target_class must be one of the classes {', '.join(self.classes)}, "
                f"not {target_class!r}"
            )
        return self.classes.index(name)

    # -- using -----------------------------------------------------------------
    def woe_by_index(self) -> tuple[FloatArray, FloatArray, FloatArray, FloatArray]:
        """The WoE of every class (a row of k) `transform` gives each interval
        index (or bin), each special value, a missing value (0 without a
        missing-value row) and an unseen category (0)."""
        woe = np.asarray(self._columns["woe"])
        k = len(self.classes)
        nothing = np.zeros(k)
        missing = woe[-1] if self.has_missing_row else nothing
        specials = woe[self.n_bins : self.n_bins + len(self.special_values)]
        return woe[: self.n_bins], specials, missing, nothing

    def _index(self, x: npt.ArrayLike) -> IntArray:
        """Each value's row: interval or bin from 0, then the special values;
        -1 for a missing value, UNSEEN for a category not seen in training."""
        if self._bin_categories is None:
            return self._value_index(x)[1]
        encoded, bins = self._category_codes(x, UNSEEN)
        index: IntArray = np.append(bins, MISSING_SLOT)[encoded.codes]
        return index

    def transform(
        self,
        x: npt.ArrayLike,
        output: Literal["woe", "index", "label"] = "woe",
        target_class: Any = None,
    ) -> npt.NDArray[Any]:
        """Each value's WoE of every class (float64, one column per class in
        the order of ``classes``), of the class `target_class` only (one
        value per row), its row index (int64: intervals or bins from 0, then
        the special values; -1 for a missing value or an unseen category)
        or its row label ("missing" for index -1). A missing value without
        a missing-value row and an unseen category get WoE 0."""
        checks.output_choice(output, OUTPUTS)
        index = self._index(x)
        if output != "woe":
            index = np.where(index == UNSEEN, MISSING_SLOT, index)
            if output == "index":
                return index
            # Index -1 reads the last label, "missing".
            named: npt.NDArray[Any] = np.array(self.labels + ["missing"], dtype=object)[index]
            return named
        intervals, specials, missing, unseen = self.woe_by_index()
        rows = (intervals, unseen, missing)
        if self._bin_categories is None:
            rows = (intervals, specials, missing)
        lookup = np.vstack(rows)
        woe: FloatArray = lookup[index]  # -1 reads the missing row, -2 an unseen category
        if target_class is not None:
            return np.ascontiguousarray(woe[:, self.class_position(target_class)])
        return woe

    def to_sql(
        self,
        column: str | None = None,
        *,
        target_class: Any = None,
        output: Literal["woe", "index"] = "woe",
        dialect: Literal["duckdb", "sqlite", "postgresql"] = "duckdb",
    ) -> str:
        """An SQL CASE expression giving what ``transform(output=output,
        target_class=target_class)`` gives for the column `column` (default:
        the table's name), in DuckDB, SQLite or PostgreSQL: the WoE of one
        class, so one expression per class, or the row index."""
        if output == "woe" and target_class is None:
            raise ValueError("give the class whose WoE the expression scores: target_class=...")
        position = None if target_class is None else self.class_position(target_class)
        return sql.multiclass_binning_sql(self, column, position, output=output, dialect=dialect)

    # -- documents -------------------------------------------------------------
    def to_dict(self) -> dict[str, Any]:
        c = self._columns
        written = int if c["class_count"].dtype.kind == "i" else document.exact
        rows: dict[str, Any] = {"label": self.labels, "count": [written(v) for v in c["count"]]}
        rows["class_count"] = [[written(v) for v in row] for row in c["class_count"]]
        for key in ("share", "iv", "js"):
            rows[key] = [document.exact(v) for v in c[key]]
        for key in ("woe", "class_iv"):
            rows[key] = [[document.exact(v) for v in row] for row in c[key]]
        return {
            **document.header(MULTICLASS_SCHEMA),
            **document.bins_fields(self),
            "classes": list(self.classes),
            "left": [document.exact(v) for v in c["left"]],
            "right": [document.exact(v) for v in c["right"]],
            "information_value": document.exact(self.information_value),
            "js_divergence": document.exact(self.js_divergence),
            "rows": rows,
            "metadata": document.plain(self.metadata),
        }

    @classmethod
    def _from_checked_dict(cls, doc: Mapping[str, Any], where: str) -> MulticlassBinningTable:
        classes = document.names(doc, "classes", where)
        if len(classes) < 2 or len(set(classes)) != len(classes):
            raise DocumentError(
                f"{where}: field 'classes' must name two classes or more, each once"
            )
        rows = document.field(doc, "rows", dict, where)
        written = bin_rows.row_values(
            rows, "class_count", len(document.field(rows, "count", list, f"{where} rows")), where
        )
        if not all(
            isinstance(row, list)
            and len(row) == len(classes)
            and all((type(v) is int and 0 <= v <= 2**53) or isinstance(v, str) for v in row)
            for row in written
        ):
            raise DocumentError(f"{where}: rows.class_count must hold a count of rows per class")
        # Weighted rows are written as their weights, hexadecimal floats.
        field = f"{where} rows.class_count"
        numbers = [
            [v if type(v) is int else document.from_exact(v, field) for v in row] for row in written
        ]
        counts = np.array(numbers, dtype=np.float64 if weighted(numbers) else np.int64)
        counts = counts.reshape(len(written), len(classes))
        if not (np.isfinite(counts).all() and (counts >= 0).all()):
            raise DocumentError(f"{where}: rows.class_count must hold a count of rows per class")
        left = bin_rows.row_floats(document.field(doc, "left", list, where), "left", where)
        right = bin_rows.row_floats(document.field(doc, "right", list, where), "right", where)
        bins = bin_rows.document_kind(doc, where)
        specials = document.floats(doc, "special_values", where)
        splits = document.floats(doc, "splits", where)
        has_missing_row = document.flag(doc, "has_missing_row", where)
        if bins is None:
            edges = {"left": left, "right": right}
            bin_rows.check_edges(edges, splits, specials, has_missing_row, where)
        else:
            bin_rows.check_category_bins(
                bins, len(counts), has_missing_row, specials, splits, where
            )
        table = cls(
            left,
            right,
            counts,
            classes=classes,
            method=document.field(doc, "method", str, where),
            name=bin_rows.document_name(doc, where),
            metadata=bin_rows.document_metadata(doc),
            special_values=specials,
            bin_categories=None if bins is None else [tuple(b) for b in bins],
        )
        # Every other column is a correctly rounded function of the counts,
        # so a document's columns are exactly what its counts give here.
        for key in ("share", "iv", "js", "woe", "class_iv"):
            shape = table[key].shape
            values = np.array(bin_rows.row_values(rows, key, len(counts), where), dtype=object)
            read = np.array(
                [document.from_exact(v, f"{where} rows.{key}") for v in values.ravel()],
                dtype=np.float64,
            )
            if read.size != table[key].size or not np.array_equal(
                read.reshape(shape), table[key], equal_nan=True
            ):
                raise DocumentError(f"{where}: rows.{key} is not what the rows' counts give")
        for key, value in (
            ("information_value", table.information_value),
            ("js_divergence", table.js_divergence),
        ):
            read_value = document.from_exact(document.field(doc, key, str, where), key)
            if not (read_value == value or (math.isnan(read_value) and math.isnan(value))):
                raise DocumentError(f"{where}: field {key!r} is not what the rows' counts give")
        return table

    def to_frame(self, kind: FrameKind = "pandas") -> Any:
        """The table as a DataFrame of `kind` ("pandas", "polars" or "arrow"):
        a ``bin`` label column, the row columns, then ``count_<class>``,
        ``woe_<class>`` and ``iv_<class>`` per class."""
        c = self._columns
        columns: dict[str, Any] = {"bin": self.labels}
        columns.update({key: c[key] for key in ROW_COLUMNS})
        for key, prefix in zip(CLASS_COLUMNS, ("count", "woe", "iv")):
            for j, name in enumerate(self.classes):
                columns[f"{prefix}_{name}"] = np.ascontiguousarray(c[key][:, j])
        return columns_frame(columns, kind, "MulticlassBinningTable.to_frame")

    # -- printing --------------------------------------------------------------
    def _printed_header(self) -> tuple[str, ...]:
        woes = tuple(f"woe {c}" for c in self.classes)
        return ("#", "interval", "count", "share", *woes, "iv", "js")

    def _title_target(self) -> str:
        return f" against {len(self.classes)} classes"

    def _title_measures(self) -> str:
        return (
            f"IV {printing.fixed(self.information_value, 4)}, "
            f"JS {printing.fixed(self.js_divergence, 4)}"
        )

    def rows(self) -> list[list[str]]:
        c = self._columns
        return [
            [
                str(i),
                label,
                printing.count(c["count"][i]),
                printing.percent(float(c["share"][i])),
                *(printing.fixed(float(v), 4) for v in c["woe"][i]),
                printing.fixed(float(c["iv"][i]), 4),
                printing.fixed(float(c["js"][i]), 4),
            ]
            for i, label in enumerate(self.labels)
        ]


def class_counts(class_count: npt.ArrayLike) -> npt.NDArray[Any]:
    """Rows per bin and class as int64, or as float64 where they are sums of
    weights that are not all whole numbers (whole weights count rows)."""
    counts = np.asarray(class_count)
    if counts.dtype.kind == "f" and not whole_rows(counts):
        return np.asarray(counts, dtype=np.float64)
    return np.asarray(counts, dtype=np.int64)


# Whole weights up to this count rows: an int64 holds them, and their sums, exactly.
MOST_ROWS = 2.0**53


def whole_rows(counts: npt.NDArray[Any]) -> bool:
    """Whether counts (of rows or weights) are all whole numbers of rows."""
    return bool(np.array_equal(counts, np.round(counts)) and (counts <= MOST_ROWS).all())


def row_totals(counts: npt.NDArray[Any]) -> npt.NDArray[Any]:
    """Each row's count over its classes: a sum of weights exact, rounded once."""
    if counts.dtype.kind == "i":
        return counts.sum(axis=1)
    n, k = counts.shape
    return native.exact_sums(np.ascontiguousarray(counts).ravel(), np.arange(0, n * k + 1, k))


def weighted(rows: Sequence[Sequence[float]]) -> bool:
    """Whether counts read from a document hold a weight that is no whole number."""
    return any(isinstance(v, float) and not v.is_integer() for row in rows for v in row)
