"""The binning table of one variable against a continuous target (a loss, an
amount): per bin the rows, their weight, the sum, mean, standard deviation,
least and greatest value of the target and the deviation of the bin's mean
from the overall mean; its transform gives each value its bin's mean."""

from __future__ import annotations

import math
import types
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any, ClassVar, Literal

import numpy as np
import numpy.typing as npt

from .._core import categories, native, printing
from .._core.arrays import ColumnTable, FloatArray, as_float_array
from .._core.result_frames import FrameKind, columns_frame
from ..exceptions import DocumentError
from ..formats import document, sql
from ..plots.binning import plot_continuous_binning
from .table import _check_edges, frozen

if TYPE_CHECKING:
    from matplotlib.axes import Axes

CONTINUOUS_SCHEMA = document.CONTINUOUS_SCHEMA
# The sums a table is built from, then the columns the core derives from them.
BASE_COLUMNS = ("left", "right", "count", "weight", "sum", "sum_sq", "sum_sq_dev", "min", "max")
DERIVED_COLUMNS = ("share", "mean", "std", "mean_deviation")
COLUMNS = (
    "left",
    "right",
    "count",
    "weight",
    "share",
    "sum",
    "sum_sq",
    "sum_sq_dev",
    "mean",
    "std",
    "min",
    "max",
    "mean_deviation",
)


def _deviations_from_sum_sq(columns: Mapping[str, FloatArray]) -> FloatArray:
    """The squared deviations of a document written before tables carried
    them, as its std and R² were worked out then: sum_sq - sum * mean, at
    least 0, so that it reads back as it was written."""
    weight, total, sum_sq = columns["weight"], columns["sum"], columns["sum_sq"]
    with np.errstate(divide="ignore", invalid="ignore"):
        spread = np.maximum(sum_sq - total * (total / weight), 0.0)
    return np.where(weight > 0, spread, 0.0)


class ContinuousBinningTable(ColumnTable):
    """The binning of one variable against a continuous target.

    One row per interval (-inf, t1], (t1, t2], ..., (tk, +inf), closed on the
    right (or per set of categories, ``bin_categories``, in ascending order
    of their mean), then one row per special value, then one for the rows
    whose value is missing when there are any. Columns, read with
    ``table["name"]``:

    - ``left``, ``right``: interval edges (NaN for the missing-value row);
    - ``count``: rows; ``weight``: their summed weight (the rows' count
      without weights); ``share``: weight over the table's total weight;
    - ``sum``, ``sum_sq``: sums of w*y and w*y^2 of the target y;
    - ``sum_sq_dev``: the sum of w*(y - mean)^2, worked out from the exact
      sums of the rows (not from sum_sq, whose rounding leaves nothing of
      it for a target far from zero);
    - ``mean``: sum / weight; ``std``: the weighted standard deviation of y,
      sqrt(sum_sq_dev / weight) (population form: weights count rows);
    - ``min``, ``max``: least and greatest y in the row;
    - ``mean_deviation``: the row's mean minus the overall mean, which plays
      the part of the WoE of a binary target (positive: above average).

    A row without weight has NaN mean. ``r_squared`` is the share of the
    target's variance the bins explain, between_ss / total_ss, with
    ``between_ss`` = sum of weight * mean_deviation^2 over the rows.
    """

    __slots__ = (
        "_columns",
        "_splits",
        "_totals",
        "method",
        "name",
        "metadata",
        "kind",
        "special_values",
        "_bin_categories",
    )
    _length_column = "count"
    _slot_defaults: ClassVar[dict[str, Any]] = {}
    # A continuous table pools no categories.
    pooled_categories: tuple[str, ...] = ()
    pooled_bin = None

    def __init__(
        self,
        stats: Mapping[str, Any],
        *,
        method: str,
        name: str | None = None,
        metadata: Mapping[str, Any] | None = None,
        special_values: Sequence[float] = (),
        bin_categories: Sequence[tuple[str, ...]] | None = None,
    ) -> None:
        columns = {key: np.asarray(stats[key]) for key in BASE_COLUMNS}
        columns["count"] = columns["count"].astype(np.int64)
        derived = native.continuous_columns({**columns, "rows": columns["count"]})
        self._totals = types.MappingProxyType(
            {k: float(derived[k]) for k in ("overall_mean", "between_ss", "total_ss", "r2")}
        )
        self._columns = types.MappingProxyType(
            {key: frozen(columns[key] if key in columns else derived[key]) for key in COLUMNS}
        )
        self.kind = "numeric" if bin_categories is None else "categorical"
        self.special_values = tuple(float(v) for v in special_values)
        self._bin_categories = None if bin_categories is None else tuple(bin_categories)
        right = self._columns["right"]
        intervals = right[: len(right) - len(self.special_values) - int(self.has_missing_row)]
        self._splits = frozen(
            np.empty(0) if bin_categories is not None else intervals[np.isfinite(intervals)]
        )
        self.method = method
        self.name = name
        self.metadata = None if metadata is None else dict(metadata)

    # -- reading ---------------------------------------------------------------
    @property
    def splits(self) -> FloatArray:
        """The cut points t1 < ... < tk (a value equal to a cut falls in the lower bin)."""
        return self._splits

    @property
    def r_squared(self) -> float:
        """The share of the target's variance the rows' means explain (NaN: a constant target)."""
        return self._totals["r2"]

    @property
    def between_ss(self) -> float:
        """sum of weight * (mean - overall mean)^2 over the rows, which the bins maximise."""
        return self._totals["between_ss"]

    @property
    def total_ss(self) -> float:
        """sum of w * (y - overall mean)^2 over every row of the table."""
        return self._totals["total_ss"]

    @property
    def overall_mean(self) -> float:
        """The weighted mean of the target over every row of the table."""
        return self._totals["overall_mean"]

    @property
    def has_missing_row(self) -> bool:
        left = self._columns["left"]
        return len(left) > 0 and math.isnan(float(left[-1]))

    @property
    def n_bins(self) -> int:
        """Intervals or sets of categories (special and missing-value rows not counted)."""
        return len(self) - len(self.special_values) - int(self.has_missing_row)

    @property
    def bin_categories(self) -> tuple[tuple[str, ...], ...] | None:
        return self._bin_categories

    @property
    def labels(self) -> list[str]:
        """One label per row: '(-inf, 2.5]' or 'A, B', 'special -999', 'missing'."""
        if self._bin_categories is not None:
            bins = [", ".join(names) for names in self._bin_categories]
        else:
            c = self._columns
            bins = [
                printing.interval(float(lo), float(hi))
                for lo, hi in zip(c["left"][: self.n_bins], c["right"][: self.n_bins])
            ]
        specials = [f"special {printing.number(v)}" for v in self.special_values]
        return bins + specials + (["missing"] if self.has_missing_row else [])

    # -- using -----------------------------------------------------------------
    def means_by_index(self) -> tuple[FloatArray, FloatArray, float, float]:
        """The mean `transform` gives each interval index (or bin), each
        special value, a missing value and an unseen category: a row's mean,
        or the overall mean for a row without weight, a missing value when
        the table has no missing-value row, and an unseen category."""
        overall = self.overall_mean
        mean = np.asarray(self._columns["mean"])
        mean = np.where(np.isnan(mean), overall, mean)
        intervals = mean[: self.n_bins]
        specials = mean[self.n_bins : self.n_bins + len(self.special_values)]
        missing = float(mean[-1]) if self.has_missing_row else overall
        return intervals, specials, missing, overall

    def transform(
        self, x: npt.ArrayLike, output: Literal["mean", "index", "label"] = "mean"
    ) -> npt.NDArray[Any]:
        """Each value's bin mean (float64), bin index (int64: intervals or
        bins from 0, then the special values; -1 for a missing value or a
        category not seen in training) or bin label (its row's label,
        "missing" for index -1). A missing value gets the missing-value
        row's mean; a value in a row without weight, a missing value without
        such a row and an unseen category get the overall mean."""
        if output not in ("mean", "index", "label"):
            raise ValueError(f"output must be 'mean', 'index' or 'label', not {output!r}")
        if output == "label":
            labels: npt.NDArray[Any] = np.array(self.labels + ["missing"], dtype=object)
            index = self.transform(x, output="index")
            # Index -1 reads the missing-value row, which is last, or the extra "missing".
            if not self.has_missing_row:
                index = np.where(index < 0, len(labels) - 1, index)
            named: npt.NDArray[Any] = labels[index]
            return named
        intervals, specials, missing, overall = self.means_by_index()
        if self._bin_categories is not None:
            encoded = categories.encode(x)
            where = {name: b for b, names in enumerate(self._bin_categories) for name in names}
            bin_of = np.array([where.get(n, -2) for n in encoded.names] + [-1], dtype=np.int64)
            index = bin_of[encoded.codes]  # code -1 reads the last slot: missing
            if output == "index":
                return np.where(index == -2, -1, index)
            lookup = np.concatenate((intervals, [overall, missing]))
            return lookup[index]
        xs = as_float_array(x)
        index = native.binning_transform(xs, self._splits)
        for j, special in enumerate(self.special_values):
            index[xs == special] = self.n_bins + j
        if output == "index":
            return index
        return np.concatenate((intervals, specials, [missing]))[index]

    def to_sql(
        self,
        column: str | None = None,
        *,
        output: Literal["mean", "index"] = "mean",
        dialect: Literal["duckdb", "sqlite", "postgresql"] = "duckdb",
    ) -> str:
        """An SQL CASE expression giving what `transform` gives for the column
        `column` (default: the table's name), in DuckDB, SQLite or PostgreSQL."""
        return sql.continuous_binning_sql(self, column, output=output, dialect=dialect)

    # -- documents -------------------------------------------------------------
    def to_json(self, indent: int | None = None) -> str:
        """The table as a JSON document (floats as exact hexadecimal strings)
        from which `from_json` rebuilds it bit for bit."""
        return document.dumps(self.to_dict(), indent)

    def to_dict(self) -> dict[str, Any]:
        rows: dict[str, Any] = {"label": self.labels}
        for key in COLUMNS:
            column = np.asarray(self[key])
            rows[key] = (
                [int(v) for v in column] if key == "count" else [document.exact(v) for v in column]
            )
        return {
            **document.header(CONTINUOUS_SCHEMA),
            **document.bins_fields(self),
            "r_squared": document.exact(self.r_squared),
            "rows": rows,
            "metadata": document.plain(self.metadata),
        }

    @classmethod
    def from_json(cls, text: str | bytes) -> ContinuousBinningTable:
        return cls.from_dict(document.parse(text))

    @classmethod
    def from_dict(cls, doc: Any, where: str = CONTINUOUS_SCHEMA) -> ContinuousBinningTable:
        """The table a document's dict describes; one that no fit writes
        (edges that do not match, columns that its sums do not give) raises
        `DocumentError`."""
        document.check_header(doc, CONTINUOUS_SCHEMA)
        with document.reading(where):
            return cls._from_checked_dict(doc, where)

    @classmethod
    def _from_checked_dict(cls, doc: Mapping[str, Any], where: str) -> ContinuousBinningTable:
        rows = document.field(doc, "rows", dict, where)
        n_rows = len(document.field(rows, "count", list, f"{where} rows"))
        columns: dict[str, npt.NDArray[Any]] = {}
        for key in COLUMNS:
            if key == "sum_sq_dev" and key not in rows:
                continue
            values = document.field(rows, key, list, f"{where} rows")
            if len(values) != n_rows:
                raise DocumentError(
                    f"{where}: row column {key!r} has {len(values)} values, 'count' has {n_rows}"
                )
            if key == "count":
                if not all(type(v) is int and 0 <= v <= 2**53 for v in values):
                    raise DocumentError(f"{where}: rows.count must hold counts of rows")
                columns[key] = np.array(values, dtype=np.int64)
            else:
                columns[key] = np.array(
                    [document.from_exact(v, f"{where} rows.{key}") for v in values],
                    dtype=np.float64,
                )
        if "sum_sq_dev" not in columns:
            columns["sum_sq_dev"] = _deviations_from_sum_sq(columns)
        kind = document.field(doc, "kind", str, where)
        bins = doc.get("bin_categories")
        if kind not in ("numeric", "categorical") or (bins is None) != (kind == "numeric"):
            raise DocumentError(
                f"{where}: field 'kind' must be 'numeric' (without "
                "'bin_categories') or 'categorical' (with them)"
            )
        specials = document.floats(doc, "special_values", where)
        splits = document.floats(doc, "splits", where)
        has_missing_row = document.flag(doc, "has_missing_row", where)
        if bins is None:
            _check_edges(columns, splits, specials, has_missing_row, where)
        elif not (
            isinstance(bins, list)
            and all(isinstance(b, list) and b and all(isinstance(c, str) for c in b) for b in bins)
            and len({c for b in bins for c in b}) == sum(len(b) for b in bins)
            and len(bins) == n_rows - int(has_missing_row)
            and not specials
            and not splits
        ):
            raise DocumentError(
                f"{where}: field 'bin_categories' must name each category once, one bin per row"
            )
        name = doc.get("name")
        if name is not None and not isinstance(name, str):
            raise DocumentError(f"{where}: field 'name' must be a string or null")
        metadata = doc.get("metadata")
        table = cls(
            columns,
            method=document.field(doc, "method", str, where),
            name=name,
            metadata=metadata if isinstance(metadata, dict) else None,
            special_values=specials,
            bin_categories=None if bins is None else [tuple(b) for b in bins],
        )
        # Every derived column is a correctly rounded function of the sums, so
        # a document's columns are exactly what its sums give here.
        for key in DERIVED_COLUMNS:
            if not np.array_equal(columns[key], table[key], equal_nan=True):
                raise DocumentError(f"{where}: rows.{key} is not what the rows' sums give")
        r_squared = document.from_exact(
            document.field(doc, "r_squared", str, where), f"{where} r_squared"
        )
        if not (
            r_squared == table.r_squared or (math.isnan(r_squared) and math.isnan(table.r_squared))
        ):
            raise DocumentError(f"{where}: field 'r_squared' is not what the rows' sums give")
        return table

    def plot(self, ax: Axes | None = None) -> Axes:
        """The weight per bin as bars and the bin means as a line (needs matplotlib)."""
        return plot_continuous_binning(self, ax=ax)

    def to_frame(self, kind: FrameKind = "pandas") -> Any:
        """The table as a DataFrame of `kind` ("pandas", "polars" or "arrow"):
        a ``bin`` label column, then every column."""
        return columns_frame(
            {"bin": self.labels, **self._columns}, kind, "ContinuousBinningTable.to_frame"
        )

    # -- printing --------------------------------------------------------------
    HEADER = ("#", "interval", "count", "weight", "share", "mean", "std", "min", "max", "deviation")

    def title(self) -> str:
        what = f"'{self.name}'" if self.name is not None else "variable"
        specials = len(self.special_values)
        return (
            f"{self.method} binning of {'categorical ' if self._bin_categories else ''}"
            f"{what} against a continuous target: {self.n_bins} "
            f"bin{'s' if self.n_bins != 1 else ''}"
            f"{f' + {specials} special' if specials else ''}"
            f"{' + missing' if self.has_missing_row else ''}, "
            f"mean {printing.number(self.overall_mean)}, R² {printing.fixed(self.r_squared, 4)}"
        )

    def rows(self) -> list[list[str]]:
        c = self._columns

        def shown(key: str, i: int) -> str:
            value = float(c[key][i])
            return "-" if math.isnan(value) else printing.number(value)

        return [
            [
                str(i),
                label,
                str(int(c["count"][i])),
                shown("weight", i),
                printing.percent(float(c["share"][i])),
                *(shown(k, i) for k in ("mean", "std", "min", "max", "mean_deviation")),
            ]
            for i, label in enumerate(self.labels)
        ]

    def __str__(self) -> str:
        header: tuple[str, ...] = self.HEADER
        if self._bin_categories is not None:
            header = tuple("categories" if h == "interval" else h for h in header)
        return self.title() + "\n" + printing.text_table(header, self.rows(), (1,))

    def __repr__(self) -> str:
        return f"<ContinuousBinningTable {self.title()}>"
