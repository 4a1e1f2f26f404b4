"""MulticlassTableBinning: every column of a table binned against one target
of k classes (current, delinquent, default, prepaid), numeric and
categorical alike, ranked by the multiclass information value of its bins.
It is what ``TableBinning(target="multiclass")`` makes."""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from functools import partial
from typing import Any, ClassVar, Literal

import numpy as np
import numpy.typing as npt

from ._binning.multiclass import (
    DEFAULT_MIN_CLASS_COUNT,
    DEFAULT_N_PREBINS,
    ClassCounts,
    class_labels,
    class_values,
    multiclass_binning_from_counts,
    multiclass_category_table,
    weighed_classes,
)
from ._binning.multiclass_binning_table import OUTPUTS, MulticlassBinningTable
from ._binning.optimal import DEFAULT_MAX_BINS, DEFAULT_MIN_BIN_SHARE
from ._core import categories, checks, frames, printing, threads
from ._core.arrays import FloatArray, as_float_array
from ._formats import document, sql
from ._table_binning_base import (
    OwnTargetTableBinning,
    check_named_columns,
    kept_and_skipped,
    ranked_by,
)
from .exceptions import DocumentError

MULTICLASS_TABLE_SCHEMA = document.MULTICLASS_TABLE_SCHEMA
LIMITS = (
    "max_bins",
    "min_bin_share",
    "min_class_count",
    "trend",
    "objective",
    "n_prebins",
    "order_class",
)
# Options a column may carry in `columns=`.
COLUMN_OPTIONS = frozenset({"categorical", "special_values", *LIMITS})
SUMMARY_FIELDS = ("column", "kind", "iv", "js", "bins", "missing_share", "keep", "reason")


def check_classes(classes: Sequence[str]) -> None:
    """A target of fewer than two classes is refused."""
    if len(classes) < 2:
        raise ValueError(f"the target must hold two classes or more, not {list(classes)}")


@dataclass(frozen=True)
class MulticlassColumnSummary:
    """One column: the multiclass IV and Jensen-Shannon divergence of its
    bins, its bins (special and missing-value rows not counted), the share
    of the rows whose value is missing, whether the selection keeps it, and
    why a column was not binned."""

    column: str
    kind: str
    iv: float
    js: float
    bins: int
    missing_share: float
    keep: bool
    reason: str = ""


class MulticlassTableBinning(OwnTargetTableBinning):
    """Bin every column of a pandas or polars DataFrame, a pyarrow Table or a
    dict of arrays against one target of k classes (`multiclass_binning` per
    column, maximising its `objective` under the limits `max_bins`,
    `min_bin_share`, `min_class_count`, `trend`, `n_prebins` and, for
    categories, `order_class`). Strings, booleans and categories, and the columns named
    in `categorical`, are binned as categories; `special_values` is a list
    of codes for every numeric column or a dict of lists per column;
    `columns` holds per-column options (keys among `COLUMN_OPTIONS`);
    `exclude` names columns to leave out.

    The columns are ranked by multiclass IV; the selection keeps those with
    an IV of at least `min_iv` and a share of missing values of at most
    `max_missing_share` (no limit when None), at most `top_n` of them. A
    column that cannot be binned is left out with its reason in `skipped`
    when `skip_unusable`.
    """

    SUMMARY_FIELDS = SUMMARY_FIELDS
    SCHEMA = MULTICLASS_TABLE_SCHEMA
    TABLE_CLASS = MulticlassBinningTable
    SUMMARY_FLOATS = ("iv", "js", "missing_share")

    def __init__(
        self,
        *,
        target: Literal["multiclass"] = "multiclass",
        categorical: Sequence[str] = (),
        special_values: Sequence[float] | Mapping[str, Sequence[float]] = (),
        columns: Mapping[str, Mapping[str, Any]] | None = None,
        exclude: Sequence[str] = (),
        max_bins: int = DEFAULT_MAX_BINS,
        min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
        min_class_count: int = DEFAULT_MIN_CLASS_COUNT,
        trend: str | Mapping[str, str] = "none",
        objective: Literal["iv", "js"] = "iv",
        n_prebins: int = DEFAULT_N_PREBINS,
        order_class: str | None = None,
        min_iv: float = 0.02,
        top_n: int | None = None,
        max_missing_share: float | None = None,
        n_jobs: int | None = None,
        skip_unusable: bool = True,
    ) -> None:
        checks.one_of("target", target, ("multiclass",))
        checks.whole_number("max_bins", max_bins, 1)
        checks.real_number("min_bin_share", min_bin_share, 0, 1)
        checks.whole_number("min_class_count", min_class_count, 0)
        checks.one_of("objective", objective, ("iv", "js"))
        checks.real_number("min_iv", min_iv, 0)
        self.keep_shared_options(
            categorical=categorical,
            special_values=special_values,
            columns=columns,
            column_options=COLUMN_OPTIONS,
            exclude=exclude,
            top_n=top_n,
            max_missing_share=max_missing_share,
            n_jobs=n_jobs,
            skip_unusable=skip_unusable,
        )
        self.target = target
        self.max_bins, self.min_bin_share = max_bins, min_bin_share
        self.min_class_count, self.trend, self.n_prebins = min_class_count, trend, n_prebins
        self.order_class, self.objective, self.min_iv = order_class, objective, min_iv
        self.tables: dict[str, MulticlassBinningTable]
        self.summary: list[MulticlassColumnSummary]
        self.classes: list[str] = []

    _state_defaults: ClassVar[dict[str, Any]] = {}

    # -- fitting ---------------------------------------------------------------
    def _column(
        self,
        name: str,
        values: Any,
        labels: npt.NDArray[np.int32],
        classes: list[str],
        weights: FloatArray | None,
    ) -> MulticlassBinningTable | str:
        """One column's table from its rows, or why it cannot be binned."""
        try:
            if self.is_categorical(name, frames.is_categorical(values)):
                encoded = categories.encode(values)
                codes = np.where(encoded.codes < 0, np.nan, encoded.codes.astype(np.float64))
                counts = class_values(codes, labels, len(classes), weights)
                return self._table(name, ClassCounts(counts, list(encoded.names)), classes)
            counts = class_values(as_float_array(values), labels, len(classes), weights)
        except (ValueError, TypeError) as error:
            if not self.skip_unusable:
                raise
            return str(error)
        return self._table(name, ClassCounts(counts), classes)

    def _table(
        self, name: str, counted: ClassCounts, classes: list[str]
    ) -> MulticlassBinningTable | str:
        """One column's table from its rows counted by value (or category)
        and class, or why it cannot be binned."""
        options = self.column_options.get(name, {})
        limits = {key: options.get(key, getattr(self, key)) for key in LIMITS}
        try:
            if counted.names is not None:
                return multiclass_category_table(
                    counted.names, counted.counts, classes, name=name, **limits
                )
            del limits["order_class"]
            return multiclass_binning_from_counts(
                counted.counts, classes, name=name, special_values=self.specials_of(name), **limits
            )
        except (ValueError, TypeError) as error:
            if not self.skip_unusable:
                raise
            return str(error)

    def fit(self, data: Any, y: Any, sample_weight: Any = None) -> MulticlassTableBinning:
        """Bin every column of `data` (but the target's, the weights' and the
        excluded ones) against the target `y` of k classes, an array or the
        name of a column of `data`. With `sample_weight` (an array or a
        column of `data`), every row counts by its weight, as in
        `multiclass_binning`: whole weights give exactly the fit of the rows
        repeated."""
        names = frames.column_names(data)
        check_named_columns(self, names, {"y": y, "sample_weight": sample_weight})
        target_name = frames.target_name(data, y)
        labels, classes = class_labels(
            y if target_name is None else frames.column(data, target_name)
        )
        weights, weight_name = frames.weights_of(data, sample_weight, labels.size)
        labels, classes = weighed_classes(labels, classes, weights)
        check_classes(classes)
        columns = self.columns_to_bin(data, names, (target_name, weight_name), labels.size)
        wanted = list(columns)
        results = threads.run_in_threads(
            [
                partial(self._column, n, values, labels, classes, weights)
                for n, values in columns.items()
            ],
            self.n_jobs,
        )
        return self._fitted(dict(zip(wanted, results)), classes, names)

    def fit_counts(
        self,
        counted: Mapping[str, ClassCounts],
        classes: Sequence[str],
        columns: Sequence[str],
        skipped: Mapping[str, str],
        order: Sequence[str],
    ) -> MulticlassTableBinning:
        """The fit from every column's rows counted by value (or category)
        and class, as an engine's grouped counts give them: `columns` are
        the table's columns, `skipped` those not counted with the reason,
        `order` the binned columns in the table's order."""
        classes = list(classes)
        if counted:
            check_classes(classes)
        results: dict[str, MulticlassBinningTable | str] = {}
        for name in order:
            results[name] = (
                skipped[name] if name in skipped else self._table(name, counted[name], classes)
            )
        return self._fitted(results, classes, columns)

    def _fitted(
        self,
        results: Mapping[str, MulticlassBinningTable | str],
        classes: list[str],
        columns: Sequence[str],
    ) -> MulticlassTableBinning:
        tables, skipped = kept_and_skipped(dict(results), MulticlassBinningTable)
        self.tables, self.skipped, self.fitted_columns = tables, skipped, list(columns)
        self.classes = classes
        self.summary = self._ranked()
        return self

    def _ranked(self) -> list[MulticlassColumnSummary]:
        rows: list[MulticlassColumnSummary] = []
        for name, table in ranked_by(self.tables, lambda table: table.information_value):
            iv = table.information_value
            missing = float(table["share"][-1]) if table.has_missing_row else 0.0
            keep = self.kept(iv, missing, self.min_iv, rows)
            rows.append(
                MulticlassColumnSummary(
                    name, table.kind, iv, table.js_divergence, table.n_bins, missing, keep
                )
            )
        rows += [
            MulticlassColumnSummary(name, "-", math.nan, math.nan, 0, math.nan, False, reason)
            for name, reason in self.skipped.items()
        ]
        return rows

    # -- reading ---------------------------------------------------------------
    def __str__(self) -> str:
        rows = [
            [
                r.column,
                r.kind,
                printing.fixed(r.iv, 4),
                printing.fixed(r.js, 4),
                str(r.bins),
                printing.percent(r.missing_share) if r.reason == "" else "-",
                "keep" if r.keep else "drop",
                r.reason,
            ]
            for r in self.summary
        ]
        return printing.text_table(
            ("column", "kind", "IV", "JS", "bins", "missing", "selection", "skipped because"),
            rows,
            (0, 1, 6, 7),
        )

    # -- using -----------------------------------------------------------------
    def transform(
        self,
        data: Any,
        output: Literal["woe", "index", "label"] = "woe",
        target_class: Any = None,
        selected: bool = False,
        columns: Sequence[str] | None = None,
    ) -> Any:
        """Each binned column of `data` as its bin index (int64, -1 for
        missing), bin label, or WoE: of the class `target_class` under the
        column's name, or of every class as one column per class named
        "<column>_<class>". Only the selected columns with `selected=True`,
        or the binned columns named in `columns`. A pandas or polars
        DataFrame gives one back, any other table a dict of arrays."""
        checks.output_choice(output, OUTPUTS)
        out: dict[str, Any] = {}
        for name, values in self.selected_columns(data, selected, columns):
            table = self.tables[name]
            result = table.transform(values, output=output, target_class=target_class)
            if output == "woe" and target_class is None:
                for j, c in enumerate(table.classes):
                    out[f"{name}_{c}"] = np.ascontiguousarray(result[:, j])
            else:
                out[name] = result
        return frames.like_input(data, out)

    def fit_transform(self, data: Any, y: Any, sample_weight: Any = None) -> Any:
        self.fit(data, y, sample_weight)
        return self.transform(data, columns=list(self.tables))

    def to_sql(
        self,
        source: str,
        *,
        target_class: Any,
        output: Literal["woe", "index"] = "woe",
        dialect: sql.Dialect = "duckdb",
        selected: bool = False,
        keep: Sequence[str] = (),
    ) -> str:
        """A SELECT over the table `source` giving every binned column (the
        selected ones with `selected=True`) as ``transform(output=output,
        target_class=target_class)`` does, under its own name, after the
        columns of `keep` passed through."""
        return self.select(
            source,
            selected,
            keep,
            lambda n: self.tables[n].to_sql(
                n, target_class=target_class, output=output, dialect=dialect
            ),
        )

    # -- documents -------------------------------------------------------------
    def _document_fields(self) -> dict[str, Any]:
        return {"classes": list(self.classes)}

    def _read_fields(self, doc: Mapping[str, Any], where: str) -> None:
        self.classes = document.names(doc, "classes", where)
        if any(list(t.classes) != self.classes for t in self.tables.values()):
            raise DocumentError(f"{where}: a table's classes are not the binning's")
