"""What the report says of a data set: every column binned and scored,
ranked by information value, and the lines that introduce it; shared by the
terminal text and the HTML page."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

from .._binning.binning_table import BinningTable
from .._binning.options import DEFAULT_MIN_CLASS_COUNT
from .._core import printing
from .._core.progress import Progress
from .._diagnostics import GiniResult, gini
from .._performance import ScorePerformance
from .._scorecard import Scorecard
from .._table_binning import TableBinning, column_note
from .._woe import iv_strength
from ..exceptions import DataError
from ._dataset import Dataset


@dataclass
class ColumnReport:
    name: str
    table: BinningTable | None
    gini_binned: GiniResult | None  # the column's WoE as a score
    # The Gini of the column's values as a score: the number alone, since its
    # Lorenz curve holds a point per distinct value (24 MB for a column of
    # 1e6 amounts), and a report of many columns would keep them all.
    gini_raw: float | None
    error: str | None = None  # why the column could not be binned

    @property
    def information_value(self) -> float:
        return math.nan if self.table is None else self.table.information_value


def _gini_or_none(score: np.ndarray, target: np.ndarray) -> GiniResult | None:
    try:
        return gini(score, target)
    except ValueError:
        return None  # a single class among the scored rows: no Gini


def columns_of(dataset: Dataset) -> dict[str, np.ndarray]:
    return {**dataset.numeric, **dataset.categorical}


def analyse(
    dataset: Dataset,
    progress: Progress | None = None,
    special_values: Sequence[float] = (),
    edits: TableBinning | None = None,
) -> tuple[list[ColumnReport], TableBinning | None]:
    """Every column's report, highest information value first (columns
    without one last, in file order), and the fitted binning (None when no
    column could be binned); `special_values` are kept out of every numeric
    column's search, in rows of their own, and the edit logs of `edits` (an
    earlier model) are made again on its tables."""
    columns = columns_of(dataset)
    fitted: TableBinning | None = None
    try:
        fitted = TableBinning(special_values=special_values).fit(
            columns,
            dataset.target,
            on_column=progress.step if progress is not None else None,
            edits=edits,
        )
        tables, skipped = fitted.tables, fitted.skipped
    except ValueError as error:
        tables, skipped = {}, {n: str(error) for n in columns}
    reports = []
    for name in columns:
        if progress is not None:
            progress.step(name)
        if name not in tables:
            reports.append(ColumnReport(name, None, None, None, error=skipped.get(name)))
            continue
        x = columns[name]
        woe = tables[name].transform(x, output="woe")
        raw_result = _gini_or_none(x, dataset.target) if name in dataset.numeric else None
        raw = None if raw_result is None else raw_result.gini
        reports.append(ColumnReport(name, tables[name], _gini_or_none(woe, dataset.target), raw))
    return sorted(
        reports,
        key=lambda r: -r.information_value if not math.isnan(r.information_value) else math.inf,
    ), fitted


def fit_scorecard(dataset: Dataset, binning: TableBinning | None) -> Scorecard:
    """The default scorecard on the report's binning (its selected columns)."""
    if binning is None:
        raise DataError("no column could be binned, so there is no scorecard")
    try:
        return Scorecard(binning).fit(columns_of(dataset), dataset.target)
    except (ImportError, ValueError) as error:
        raise DataError(f"the scorecard could not be fitted: {error}") from error


def render_scorecard_text(card: Scorecard, performance: ScorePerformance) -> str:
    return (
        f"Scorecard\n{card}\n\nPerformance of the score on the rows it was fitted on: "
        f"{performance}\n"
    )


def gini_text(result: GiniResult | float | None) -> str:
    if result is None:
        return "-"
    return f"{result if isinstance(result, float) else result.gini:+.3f}"


def limits_text(binning: TableBinning) -> str:
    """The limits every bin of `binning`'s optimal grouping meets, as they
    are applied: a limit of events or non-events left unset is the default
    count, or the column's total when that is smaller."""
    events, non_events = (
        DEFAULT_MIN_CLASS_COUNT if n is None else n
        for n in (binning.min_events, binning.min_non_events)
    )
    return (
        f"at most {binning.max_bins} bins, each with {binning.min_bin_share:.0%} of the rows "
        f"and at least {events:g} events and {non_events:g} non-events (a column with fewer "
        f"is one bin), "
        + (
            "event rate rising or falling"
            if binning.trend == "auto"
            else f"trend {binning.trend!r}"
        )
    )


def describe(dataset: Dataset) -> list[str]:
    """The lines that introduce a report."""
    known = dataset.target[~np.isnan(dataset.target)]
    events = int(known.sum())
    categorical = len(dataset.categorical)
    lines = [
        f"{dataset.n_rows} rows; target '{dataset.target_name}' with event "
        f"'{dataset.event}': {events} events of {known.size} "
        f"({events / known.size:.1%})"
        if known.size
        else "no known target value",
        f"{len(dataset.numeric)} numeric column{'s' if len(dataset.numeric) != 1 else ''}"
        + (
            f" and {categorical} column{'s' if categorical != 1 else ''} of categories"
            if categorical
            else ""
        )
        + " read",
        f"Optimal binning: {limits_text(TableBinning())}; Gini (bins) scores each row by its "
        "bin's WoE, Gini (raw) by the column's value, a higher score read as riskier",
    ]
    lines.extend(
        f"'{name}': {count} row{'s' if count != 1 else ''} dropped as non-finite "
        f"(inf, or beyond the float range)"
        for name, count in dataset.non_finite.items()
    )
    if known.size < dataset.n_rows:
        lines.append(f"{dataset.n_rows - known.size} rows without a target value are left out")
    return lines


RANKING_HEADER = ("#", "column", "bins", "IV", "strength", "Gini (bins)", "Gini (raw)", "note")
RANKING_TEXT_COLUMNS = (1, 4, 7)


def ranking_rows(reports: Sequence[ColumnReport]) -> list[list[str]]:
    rows = []
    for i, r in enumerate(reports, start=1):
        if r.table is None:
            rows.append([str(i), r.name, "-", "-", "failed", "-", "-", ""])
            continue
        iv = r.table.information_value
        rows.append(
            [
                str(i),
                r.name,
                str(r.table.n_bins),
                printing.fixed(iv, 4),
                iv_strength(iv),
                gini_text(r.gini_binned),
                gini_text(r.gini_raw),
                column_note(r.table),
            ]
        )
    return rows
