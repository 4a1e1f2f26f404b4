"""Monitoring a model over time: the population stability index of its score
and of every variable (the characteristic stability index, CSI) between a
reference sample and each period of later data, with the expected and actual
counts of every bin.

The PSI is that of `tl.psi` (formula and the two rules for a bin empty in
one sample in `tessaline._diagnostics`): by default the core's, a share below
1e-12 raised to it inside the logarithm; with ``empty_bins="half"`` an empty
bin counted as half a row. The usual reading: below 0.1 stable, below 0.25 a
moderate shift, above a significant one. Special values and missing values
are bins like the intervals: a variable whose rows fall in one and the same
bin in the reference and in every period cannot shift between bins and is
reported as "not monitored", never as stable; one binned into a single
interval whose rows go missing in a period shifts like any other.

The bins of a variable are its binning table's rows (intervals or sets of
categories, special values) and one for missing values; the bins of the
score are its deciles in the reference sample (right-closed, ties kept
together).

Sample weights: with ``sample_weight="w"``, the column "w" of every sample
(the reference and each period) weighs its rows, so expected and actual
counts are sums of weights and the score's deciles are those of the weighted
reference scores; whole weights give exactly what repeating the rows gives.
"""

from __future__ import annotations

import datetime
import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from ._binning.table_pairs import cell_labels
from ._core import checks, frames, native, printing
from ._core.arrays import as_float_array
from ._core.result_frames import FrameKind, rows_frame
from ._diagnostics import EMPTY_BINS, EmptyBins, binned_psi, psi_reading
from ._scorecard import Scorecard
from ._table_binning import TableBinning

NOT_MONITORED = "not monitored (one bin)"
SCORE = "score"


@dataclass(frozen=True)
class BinShift:
    """The bins of one variable in the reference sample and in one period."""

    variable: str
    period: str
    labels: tuple[str, ...]
    expected: npt.NDArray[np.int64] | npt.NDArray[np.float64]
    actual: npt.NDArray[np.int64] | npt.NDArray[np.float64]
    psi_bin: npt.NDArray[np.float64]
    psi: float
    reading: str

    def __str__(self) -> str:
        e_total = self.expected.sum() if self.expected.sum() > 0 else 1
        a_total = self.actual.sum() if self.actual.sum() > 0 else 1
        rows = [
            [
                label,
                printing.count(e),
                printing.count(a),
                printing.percent(e / e_total),
                printing.percent(a / a_total),
                printing.fixed(float(p), 4),
            ]
            for label, e, a, p in zip(self.labels, self.expected, self.actual, self.psi_bin)
        ]
        return (
            f"{self.variable}, period {self.period}: PSI {printing.fixed(self.psi, 4)} "
            f"({self.reading})\n"
            + printing.text_table(
                ("bin", "expected", "actual", "exp share", "act share", "PSI"), rows, (0,)
            )
        )


@dataclass(frozen=True)
class StabilityReport:
    """The PSI of the score (for a scorecard) and of every variable in every
    period: ``shifts`` holds one `BinShift` per (variable, period), the score
    first, periods in their order."""

    periods: tuple[str, ...]
    variables: tuple[str, ...]
    shifts: tuple[BinShift, ...]

    def shift(self, variable: str, period: Any) -> BinShift:
        for item in self.shifts:
            if item.variable == variable and item.period == str(period):
                return item
        raise KeyError(f"no variable {variable!r} in period {period!r}")

    def to_frame(self, kind: FrameKind = "pandas") -> Any:
        """One row per (variable, period): PSI and its reading, as a DataFrame
        of `kind` ("pandas", "polars" or "arrow")."""
        return rows_frame(
            [(s.variable, s.period, s.psi, s.reading) for s in self.shifts],
            ("variable", "period", "psi", "reading"),
            kind,
            "StabilityReport.to_frame",
        )

    def __str__(self) -> str:
        rows = []
        for variable in self.variables:
            cells = [self.shift(variable, p) for p in self.periods]
            rows.append(
                [variable]
                + [printing.fixed(c.psi, 4) if c.reading != NOT_MONITORED else "-" for c in cells]
                + [worst_reading(cells)]
            )
        return "PSI by period\n" + printing.text_table(
            ("variable", *self.periods, "worst"), rows, (0, len(self.periods) + 1)
        )


def worst_reading(cells: Sequence[BinShift]) -> str:
    """The reading of the largest PSI of a variable over its periods."""
    if all(c.reading == NOT_MONITORED for c in cells):
        return NOT_MONITORED
    return psi_reading(max(c.psi for c in cells if c.reading != NOT_MONITORED))


# How period labels written as text may name a month or a date.
DATE_FORMATS = (
    "%b",
    "%B",
    "%b %Y",
    "%B %Y",
    "%b-%Y",
    "%b-%y",
    "%Y-%m",
    "%Y-%m-%d",
    "%Y%m",
    "%Y/%m",
    "%Y/%m/%d",
    "%Y-%m-%dT%H:%M:%S",
)


def _is_table(data: Any) -> bool:
    """Whether `data` is a whole sample (a table), not one column of one."""
    if isinstance(data, Mapping):
        return True
    try:
        frames.column_names(data)
    except TypeError:
        return False
    return True


def _chronological(labels: list[Any]) -> list[Any]:
    """The period labels in time order: numbers and dates ascending, text
    that names months or dates ("Jan", "2024-01") by the time it names;
    any other labels keep the order in which they first appear."""
    if all(
        isinstance(v, (int, float, np.integer, np.floating)) and not isinstance(v, bool)
        for v in labels
    ) or all(isinstance(v, (datetime.date, np.datetime64)) for v in labels):
        return sorted(labels)
    if all(isinstance(v, str) for v in labels):
        for form in DATE_FORMATS:
            try:
                times = {v: datetime.datetime.strptime(v.strip(), form) for v in labels}
            except ValueError:
                continue
            return sorted(labels, key=times.__getitem__)
    return labels


def _periods(current: Any, period: str | None) -> list[tuple[str, Any]]:
    """(label, data) of every period: the groups of `current` by its column
    `period` in time order (see `_chronological`), or the tables of a list
    (1, 2, ...) or of a dict of tables; a dict of arrays is one sample."""
    if period is None:
        if isinstance(current, Mapping) and current and all(map(_is_table, current.values())):
            return [(str(k), v) for k, v in current.items()]
        if isinstance(current, (list, tuple)):
            return [(str(i + 1), v) for i, v in enumerate(current)]
        return [("1", current)]
    labels = np.asarray(frames.column(current, period), dtype=object)
    out = []
    for value in _chronological(list(dict.fromkeys(labels.tolist()))):
        rows = np.flatnonzero(labels == value)
        out.append((str(value), frames.take_rows(current, rows)))
    return out


def _bin_counts(
    binning: TableBinning, name: str, data: Any, weights: npt.NDArray[np.float64] | None
) -> npt.NDArray[Any]:
    """Rows of `data` per row of the variable's table, missing values last
    (sums of `weights` when given); the cells of a pair, missing ones included."""
    index = binning.transform(data, output="index", columns=[name])[name]
    if name in binning.pair_tables:
        cells = len(binning.pair_tables[name].cells()["woe"])
        if weights is not None:
            return np.bincount(index, weights=weights, minlength=cells)
        return np.bincount(index, minlength=cells).astype(np.int64)
    table = binning.tables[name]
    slots = table.n_bins + len(table.special_values) + 1
    index = np.where(np.asarray(index) < 0, slots - 1, index)
    if weights is not None:
        return np.bincount(index, weights=weights, minlength=slots)
    return np.bincount(index, minlength=slots).astype(np.int64)


def _weights(data: Any, sample_weight: str | None) -> npt.NDArray[np.float64] | None:
    """The weights of the rows of one sample: its column `sample_weight`."""
    if sample_weight is None:
        return None
    if not isinstance(sample_weight, str):
        raise TypeError(
            f"sample_weight must be the name of a weight column of every sample, not "
            f"{sample_weight!r}"
        )
    try:
        values = as_float_array(frames.column(data, sample_weight))
    except KeyError:
        raise ValueError(f"sample_weight names no column of a sample: {sample_weight!r}") from None
    return checks.sample_weights(values, values.size)


def _bin_labels(binning: TableBinning, name: str) -> tuple[str, ...]:
    if name in binning.pair_tables:
        return tuple(cell_labels(binning.pair_tables[name]))
    table = binning.tables[name]
    labels = table.labels[: table.n_bins + len(table.special_values)]
    return (*labels, "missing")


def stability(
    model: Scorecard | TableBinning,
    reference: Any,
    current: Any,
    *,
    period: str | None = None,
    score_bands: int = 10,
    empty_bins: EmptyBins = "floor",
    sample_weight: str | None = None,
) -> StabilityReport:
    """The PSI of `model`'s score (a `Scorecard`) and of each of its
    variables (a scorecard's, or every binned column of a `TableBinning`)
    between the `reference` sample and every period of `current`: the groups
    of its column `period` in time order (numbers and dates ascending, months
    and dates written as text such as "Jan" or "2024-01" chronologically,
    other labels as they first appear), or the tables of a list or of a dict
    (a dict of arrays is one sample). The score's
    bins are its `score_bands` quantiles in the reference sample; a bin empty
    in one sample counts under `empty_bins`, "floor" or "half" (see the
    module). `sample_weight` names a column of weights present in every
    sample (see the module)."""
    for name, data in (("reference", reference), ("current", current)):
        if type(data).__name__ == "LazyFrame":
            raise TypeError(f"{name} is a polars LazyFrame: collect it first ({name}.collect())")
    checks.whole_number("score_bands", score_bands, 1)
    checks.one_of("empty_bins", empty_bins, EMPTY_BINS)
    binning = model.binning if isinstance(model, Scorecard) else model
    if binning is None or not binning.tables:
        raise ValueError("the model is not fitted: fit it before monitoring")
    variables = (
        list(model.variables)
        if isinstance(model, Scorecard)
        else [*binning.tables, *binning.pair_tables]
    )
    periods = _periods(current, period)
    if not periods:
        raise ValueError("no period to compare with the reference")
    reference_weights = _weights(reference, sample_weight)
    period_weights = [_weights(data, sample_weight) for _, data in periods]
    shifts: list[BinShift] = []
    if isinstance(model, Scorecard):
        reference_score = model.score(reference)
        finite = np.isfinite(reference_score)
        if reference_weights is not None:
            finite &= reference_weights > 0
        scored = reference_score[finite]
        if scored.size == 0:
            raise ValueError("the reference sample has no row with a score to cut into bands")
        if reference_weights is None:
            cuts = native.binning_splits(scored, method="quantile", n_bins=score_bands)
        else:
            weighed = native.count_values_weighted(
                scored, np.zeros(scored.size, dtype=np.int32), reference_weights[finite]
            )
            cuts = native.quantile_splits(weighed, score_bands)
        edges = [-math.inf, *cuts.tolist(), math.inf]
        labels = (
            *(printing.interval(edges[i], edges[i + 1]) for i in range(len(edges) - 1)),
            "missing",
        )

        def bands(
            score: npt.NDArray[np.float64], weights: npt.NDArray[np.float64] | None
        ) -> npt.NDArray[Any]:
            index = native.binning_transform(score, cuts)
            slot = np.where(index < 0, len(labels) - 1, index)
            return np.bincount(slot, weights=weights, minlength=len(labels))

        expected = bands(reference_score, reference_weights)
        for (label, data), weights in zip(periods, period_weights):
            actual = bands(model.score(data), weights)
            shifts.append(_shift(SCORE, label, labels, expected, actual, True, empty_bins))
    for name in variables:
        labels = _bin_labels(binning, name)
        expected = _bin_counts(binning, name, reference, reference_weights)
        actuals = [
            _bin_counts(binning, name, data, weights)
            for (_, data), weights in zip(periods, period_weights)
        ]
        monitored = bool(np.count_nonzero(expected + sum(actuals)) > 1)
        for (label, _), actual in zip(periods, actuals):
            shifts.append(_shift(name, label, labels, expected, actual, monitored, empty_bins))
    names = ([SCORE] if isinstance(model, Scorecard) else []) + variables
    return StabilityReport(tuple(p for p, _ in periods), tuple(names), tuple(shifts))


def _shift(
    variable: str,
    period: str,
    labels: tuple[str, ...],
    expected: npt.ArrayLike,
    actual: npt.ArrayLike,
    monitored: bool,
    empty_bins: EmptyBins,
) -> BinShift:
    e, a = np.asarray(expected), np.asarray(actual)
    terms, total = binned_psi(e, a, empty_bins=empty_bins)
    reading = psi_reading(total) if monitored else NOT_MONITORED
    return BinShift(
        variable, period, labels, e, a, terms, total if monitored else math.nan, reading
    )
