"""ContinuousTableBinning: every column of a table binned against one
continuous target (a loss, an amount), numeric and categorical alike, ranked
by R², the share of the target's variance its bins explain. It is what
``TableBinning(target="continuous")`` makes."""

from __future__ import annotations

import math
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from functools import partial
from typing import Any, ClassVar, Literal

import numpy as np

from ._binning.continuous import (
    CONTINUOUS_TRENDS,
    DEFAULT_MIN_ROWS,
    DEFAULT_N_PREBINS,
    MAX_PREBINS,
    ContinuousTrend,
    checked_rows,
    continuous_categories,
    continuous_category_table,
    continuous_counts_table,
    continuous_rows,
)
from ._binning.continuous_binning_table import OUTPUTS, ContinuousBinningTable
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

CONTINUOUS_TABLE_SCHEMA = document.CONTINUOUS_TABLE_SCHEMA
# Options a column may carry in `columns=`.
COLUMN_OPTIONS = frozenset(
    {
        "categorical",
        "special_values",
        "max_bins",
        "min_bin_share",
        "min_rows",
        "trend",
        "n_prebins",
        "max_pvalue",
    }
)
LIMITS = ("max_bins", "min_bin_share", "min_rows", "trend", "n_prebins", "max_pvalue")
SUMMARY_FIELDS = ("column", "kind", "r2", "bins", "missing_share", "keep", "reason")


@dataclass(frozen=True)
class ContinuousColumnSummary:
    """One column: R² of its bins (the share of the target's variance their
    means explain), its bins (special and missing-value rows not counted),
    the share of the weight whose value is missing, whether the selection
    keeps it, and why a column was not binned."""

    column: str
    kind: str
    r2: float
    bins: int
    missing_share: float
    keep: bool
    reason: str = ""


class ContinuousTableBinning(OwnTargetTableBinning):
    """Bin every column of a pandas or polars DataFrame, a pyarrow Table or a
    dict of arrays against one continuous target (`continuous_binning` per
    column, under the limits `max_bins`, `min_bin_share`, `min_rows`,
    `trend`, `n_prebins` and `max_pvalue`). Strings, booleans and categories, and the
    columns named in `categorical`, are binned as categories;
    `special_values` is a list of codes for every numeric column or a dict
    of lists per column; `columns` holds per-column options (keys among
    `COLUMN_OPTIONS`); `exclude` names columns to leave out.

    The columns are ranked by R²; the selection keeps those with R² of at
    least `min_r2` and a share of missing values of at most
    `max_missing_share` (no limit when None), at most `top_n` of them. A
    column that cannot be binned is left out with its reason in `skipped`
    when `skip_unusable`. `fit` takes `sample_weight`, one weight per row.
    """

    SUMMARY_FIELDS = SUMMARY_FIELDS
    SCHEMA = CONTINUOUS_TABLE_SCHEMA
    TABLE_CLASS = ContinuousBinningTable
    SUMMARY_FLOATS = ("r2", "missing_share")

    def __init__(
        self,
        *,
        target: Literal["continuous"] = "continuous",
        categorical: Sequence[str] = (),
        special_values: Sequence[float] | Mapping[str, Sequence[float]] = (),
        columns: Mapping[str, Mapping[str, Any]] | None = None,
        exclude: Sequence[str] = (),
        max_bins: int = DEFAULT_MAX_BINS,
        min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
        min_rows: int = DEFAULT_MIN_ROWS,
        trend: ContinuousTrend = "auto",
        n_prebins: int = DEFAULT_N_PREBINS,
        max_pvalue: float | None = None,
        min_r2: float = 0.01,
        top_n: int | None = None,
        max_missing_share: float | None = None,
        n_jobs: int | None = None,
        skip_unusable: bool = True,
    ) -> None:
        checks.one_of("target", target, ("continuous",))
        checks.whole_number("max_bins", max_bins, 1)
        checks.real_number("min_bin_share", min_bin_share, 0, 1)
        checks.whole_number("min_rows", min_rows, 0)
        checks.one_of("trend", trend, CONTINUOUS_TRENDS)
        checks.whole_number("n_prebins", n_prebins, 1, MAX_PREBINS)
        if max_pvalue is not None:
            checks.real_number("max_pvalue", max_pvalue, 0, 1)
        checks.real_number("min_r2", min_r2, 0, 1)
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
        self.max_bins, self.min_bin_share, self.min_rows = max_bins, min_bin_share, min_rows
        self.trend, self.n_prebins, self.max_pvalue = trend, n_prebins, max_pvalue
        self.min_r2 = min_r2
        self.tables: dict[str, ContinuousBinningTable]
        self.summary: list[ContinuousColumnSummary]

    # A binning pickled before the test between neighbours had none.
    _state_defaults: ClassVar[dict[str, Any]] = {"max_pvalue": None}

    # -- fitting ---------------------------------------------------------------
    def _options(self, name: str) -> dict[str, Any]:
        options = self.column_options.get(name, {})
        return {
            "special_values": self.specials_of(name),
            **{key: options.get(key, getattr(self, key)) for key in LIMITS},
        }

    def _table_or_reason(
        self, name: str, build: Callable[[dict[str, Any]], ContinuousBinningTable]
    ) -> ContinuousBinningTable | str:
        """One column's table, or why it cannot be binned."""
        try:
            return build(self._options(name))
        except (ValueError, TypeError) as error:
            if not self.skip_unusable:
                raise
            return str(error)

    def _column(
        self, name: str, values: Any, ys: FloatArray, ws: FloatArray | None
    ) -> ContinuousBinningTable | str:
        """One column's table from its rows, or why it cannot be binned."""

        def build(options: dict[str, Any]) -> ContinuousBinningTable:
            if self.is_categorical(name, frames.is_categorical(values)):
                del options["special_values"], options["n_prebins"]
                return continuous_categories(
                    categories.encode(values), ys, ws, name=name, **options
                )
            return continuous_rows(as_float_array(values), ys, ws, name=name, **options)

        return self._table_or_reason(name, build)

    def fit_counts(
        self,
        counts: Mapping[str, tuple[Sequence[str] | None, dict[str, Any]]],
        fitted_columns: Sequence[str],
        skipped: Mapping[str, str] | None = None,
    ) -> ContinuousTableBinning:
        """Fit from every column's rows summed by value (or category) by an
        engine: per column its category names (None for numbers) and counts
        as `continuous_binning` sums them; the same options, checks and skip
        rules as `fit`. `fitted_columns` are the data's column names,
        `skipped` the columns the engine could not count, with the reason."""
        results: dict[str, ContinuousBinningTable | str] = {}
        for name, (names, summed) in counts.items():

            def build(
                options: dict[str, Any], names: Any = names, summed: Any = summed, name: str = name
            ) -> ContinuousBinningTable:
                if names is not None:
                    del options["special_values"], options["n_prebins"]
                    return continuous_category_table(names, summed, name=name, **options)
                return continuous_counts_table(summed, name=name, **options)

            results[name] = self._table_or_reason(name, build)
        results.update(skipped or {})
        return self._keep([n for n in fitted_columns if n in results], results, fitted_columns)

    def _keep(
        self,
        order: Sequence[str],
        results: Mapping[str, ContinuousBinningTable | str],
        fitted_columns: Sequence[str],
    ) -> ContinuousTableBinning:
        tables, skipped = kept_and_skipped({n: results[n] for n in order}, ContinuousBinningTable)
        self.tables, self.skipped = tables, skipped
        self.fitted_columns = list(fitted_columns)
        self.summary = self._ranked()
        return self

    def fit(self, data: Any, y: Any, sample_weight: Any = None) -> ContinuousTableBinning:
        """Bin every column of `data` (but the target's and the excluded ones)
        against the continuous target `y`, an array or the name of a column
        of `data`, each row weighted by `sample_weight` (an array or a column
        name; default 1)."""
        names = frames.column_names(data)
        check_named_columns(self, names, {"y": y, "sample_weight": sample_weight})
        target_name = frames.target_name(data, y)
        ys = as_float_array(y if target_name is None else frames.column(data, target_name))
        sample_weight, weight_name = frames.weight_column(data, sample_weight)
        ws = checked_rows(ys.size, ys, sample_weight)
        if not np.any(~np.isnan(ys) & (True if ws is None else ws > 0)):
            raise ValueError("the table has no row with a known target and a positive weight")
        columns = self.columns_to_bin(data, names, (target_name, weight_name), ys.size)
        wanted = list(columns)
        results = threads.run_in_threads(
            [partial(self._column, n, values, ys, ws) for n, values in columns.items()],
            self.n_jobs,
        )
        return self._keep(wanted, dict(zip(wanted, results)), names)

    def _ranked(self) -> list[ContinuousColumnSummary]:
        rows: list[ContinuousColumnSummary] = []
        for name, table in ranked_by(self.tables, lambda table: table.r_squared):
            r2 = table.r_squared
            missing = float(table["share"][-1]) if table.has_missing_row else 0.0
            keep = self.kept(r2, missing, self.min_r2, rows)
            rows.append(ContinuousColumnSummary(name, table.kind, r2, table.n_bins, missing, keep))
        rows += [
            ContinuousColumnSummary(name, "-", math.nan, 0, math.nan, False, reason)
            for name, reason in self.skipped.items()
        ]
        return rows

    # -- reading ---------------------------------------------------------------
    def __str__(self) -> str:
        rows = [
            [
                r.column,
                r.kind,
                printing.fixed(r.r2, 4),
                str(r.bins),
                printing.percent(r.missing_share) if r.reason == "" else "-",
                "keep" if r.keep else "drop",
                r.reason,
                _shape_note(self.tables.get(r.column)),
            ]
            for r in self.summary
        ]
        return printing.text_table(
            ("column", "kind", "R²", "bins", "missing", "selection", "skipped because", "note"),
            rows,
            (0, 1, 5, 6, 7),
        )

    # -- using -----------------------------------------------------------------
    def transform(
        self,
        data: Any,
        output: Literal["mean", "index", "label"] = "mean",
        selected: bool = False,
        columns: Sequence[str] | None = None,
    ) -> Any:
        """Each binned column of `data` as its bin mean (float64), bin index
        (int64, -1 for missing) or bin label; only the selected columns with
        `selected=True`, or the binned columns named in `columns`. A pandas
        or polars DataFrame gives one back, any other table a dict of arrays."""
        checks.output_choice(output, OUTPUTS)
        out: dict[str, Any] = {}
        for name, values in self.selected_columns(data, selected, columns):
            out[name] = self.tables[name].transform(values, output=output)
        return frames.like_input(data, out)

    def fit_transform(self, data: Any, y: Any, sample_weight: Any = None) -> Any:
        self.fit(data, y, sample_weight)
        return self.transform(data, columns=list(self.tables))

    def to_sql(
        self,
        source: str,
        *,
        output: Literal["mean", "index"] = "mean",
        dialect: sql.Dialect = "duckdb",
        selected: bool = False,
        keep: Sequence[str] = (),
    ) -> str:
        """A SELECT over the table `source` giving every binned column (the
        selected ones with `selected=True`) as `transform` does, under its
        own name, after the columns of `keep` passed through."""
        return self.select(
            source,
            selected,
            keep,
            lambda n: self.tables[n].to_sql(n, output=output, dialect=dialect),
        )


def _shape_note(table: ContinuousBinningTable | None) -> str:
    """A better shape of the column's means than its trend ('' when none)."""
    return str(((table.metadata or {}) if table else {}).get("shape_note", ""))
