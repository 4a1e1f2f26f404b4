"""The binning table of one variable against a continuous target (a loss, an
amount): per bin the rows, their weight, the sum, mean, standard deviation,
least and greatest value of the target and the deviation of the bin's mean
from the overall mean; its transform gives each value its bin's mean."""

from __future__ import annotations

import math
import types
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any, Literal

import numpy as np
import numpy.typing as npt

from .._core import checks, native, printing
from .._core.arrays import FloatArray
from .._core.placement import MISSING_SLOT
from .._core.result_frames import FrameKind, columns_frame
from .._formats import document, sql
from .._plots.binning import plot_continuous_binning
from ..exceptions import DocumentError
from . import bin_rows
from .bin_rows import BinRows, frozen
from .continuous_analysis import ContinuousBinAnalysis, continuous_bin_analysis

if TYPE_CHECKING:
    from matplotlib.axes import Axes

CONTINUOUS_SCHEMA = document.CONTINUOUS_SCHEMA
# What `transform(output=...)` gives: the row's mean, index or label.
OUTPUTS = ("mean", "index", "label")
# The bin of a category training did not see, apart from a missing one.
UNSEEN = -2
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


class ContinuousBinningTable(BinRows):
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

    __slots__ = ("_totals",)
    SCHEMA = CONTINUOUS_SCHEMA

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
        self._place_rows(
            types.MappingProxyType(
                {key: frozen(columns[key] if key in columns else derived[key]) for key in COLUMNS}
            ),
            method=method,
            name=name,
            metadata=metadata,
            special_values=special_values,
            bin_categories=bin_categories,
        )
        if bin_categories is not None:
            # Bins of categories have no cut points.
            self._splits = frozen(np.empty(0))

    # -- reading ---------------------------------------------------------------
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

    def analysis(self) -> ContinuousBinAnalysis:
        """Welch's tests of equal means between neighbouring bins (see
        `tessaline._binning.continuous_analysis`)."""
        c = self._columns
        return continuous_bin_analysis(
            c["weight"], c["mean"], c["sum_sq_dev"], self.n_bins, self.labels
        )

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
        checks.output_choice(output, OUTPUTS)
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
            # An unseen category reads the overall mean, a missing one the
            # missing value's: the lookup's last two slots.
            encoded, bins = self._category_codes(x, UNSEEN)
            index = np.append(bins, MISSING_SLOT)[encoded.codes]  # code -1: missing
            if output == "index":
                return np.where(index == UNSEEN, MISSING_SLOT, index)
            lookup = np.concatenate((intervals, [overall, missing]))
            means: npt.NDArray[Any] = lookup[index]
            return means
        index = self._value_index(x)[1]
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
    def to_dict(self) -> dict[str, Any]:
        rows = self._document_rows(("count",))
        return {
            **document.header(CONTINUOUS_SCHEMA),
            **document.bins_fields(self),
            "r_squared": document.exact(self.r_squared),
            "rows": rows,
            "metadata": document.plain(self.metadata),
        }

    @classmethod
    def _from_checked_dict(cls, doc: Mapping[str, Any], where: str) -> ContinuousBinningTable:
        rows = document.field(doc, "rows", dict, where)
        n_rows = len(document.field(rows, "count", list, f"{where} rows"))
        columns: dict[str, npt.NDArray[Any]] = {}
        for key in COLUMNS:
            if key == "sum_sq_dev" and key not in rows:
                continue
            values = bin_rows.row_values(rows, key, n_rows, where)
            if key == "count":
                if not all(type(v) is int and 0 <= v <= 2**53 for v in values):
                    raise DocumentError(f"{where}: rows.count must hold counts of rows")
                columns[key] = np.array(values, dtype=np.int64)
            else:
                columns[key] = bin_rows.row_floats(values, key, where)
        if "sum_sq_dev" not in columns:
            columns["sum_sq_dev"] = _deviations_from_sum_sq(columns)
        bins = bin_rows.document_kind(doc, where)
        specials = document.floats(doc, "special_values", where)
        splits = document.floats(doc, "splits", where)
        has_missing_row = document.flag(doc, "has_missing_row", where)
        if bins is None:
            bin_rows.check_edges(columns, splits, specials, has_missing_row, where)
        else:
            bin_rows.check_category_bins(bins, n_rows, has_missing_row, specials, splits, where)
        table = cls(
            columns,
            method=document.field(doc, "method", str, where),
            name=bin_rows.document_name(doc, where),
            metadata=bin_rows.document_metadata(doc),
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

    def _title_target(self) -> str:
        return " against a continuous target"

    def _title_measures(self) -> str:
        return f"mean {printing.number(self.overall_mean)}, R² {printing.fixed(self.r_squared, 4)}"

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
