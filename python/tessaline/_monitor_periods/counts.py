"""The counts a monitoring result is computed from, per period: rows per
score band and per bin of every variable (all rows, the target known or
not), and the labelled rows per distinct score (non-events c0, events c1).
Counts of one period add up across batches, so next month's rows join a
saved state without the history being read again; every statistic of the
result (PSI, CSI, AUC with DeLong's interval, KS, calibration) is a
function of these counts."""

from __future__ import annotations

import math
import warnings
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import frames, native, printing, target
from .._monitoring import SCORE, _bin_counts, _bin_labels, _weights
from .._scorecard import Scorecard
from .._table_binning import TableBinning
from ..exceptions import UnseenCategoryWarning, UnseenValueWarning

IntArray = npt.NDArray[np.int64]
# Rows counted whole (int64), or sums of their weights (float64).
CountArray = npt.NDArray[Any]


@dataclass(frozen=True)
class PeriodCounts:
    """The counts of one period (or of the reference sample): ``bands``,
    rows per score band, missing score last (empty without a score);
    ``bins[name]``, rows per row of the variable's binning table, missing
    last; ``value``/``c0``/``c1``, the labelled rows per distinct score;
    ``unknown``, the rows whose outcome is not known yet. Weighted counts
    (``weighted``) hold sums of the rows' weights instead, and ``n`` the
    rows behind each distinct score."""

    bands: CountArray
    bins: dict[str, CountArray]
    value: npt.NDArray[np.float64] = field(default_factory=lambda: np.empty(0))
    c0: CountArray = field(default_factory=lambda: np.empty(0, dtype=np.int64))
    c1: CountArray = field(default_factory=lambda: np.empty(0, dtype=np.int64))
    unknown: float = 0
    n: IntArray | None = None

    @property
    def weighted(self) -> bool:
        return self.n is not None

    @property
    def rows(self) -> float:
        first = self.bands if self.bands.size else next(iter(self.bins.values()))
        return total(first)

    def plus(self, other: PeriodCounts) -> PeriodCounts:
        """The counts of both batches of rows."""
        value, c0, c1 = (
            np.concatenate([getattr(self, k), getattr(other, k)]) for k in ("value", "c0", "c1")
        )
        n = None
        if self.n is not None and other.n is not None:
            rows = np.concatenate([self.n, other.n])
            merged = native.merge_weighted_counts(value, c0, c1, rows)
            n = np.asarray(merged["rows"], dtype=np.int64)
        else:
            merged = native.merge_value_counts(value, c0, c1)
        dtype = self.c0.dtype
        return PeriodCounts(
            self.bands + other.bands,
            {k: v + other.bins[k] for k, v in self.bins.items()},
            np.asarray(merged["value"], dtype=np.float64),
            np.asarray(merged["c0"], dtype=dtype),
            np.asarray(merged["c1"], dtype=dtype),
            self.unknown + other.unknown,
            n,
        )

    def to_dict(self) -> dict[str, Any]:
        weighted = {} if self.n is None else {"n": self.n.tolist()}
        return {
            "bands": self.bands.tolist(),
            "bins": {k: v.tolist() for k, v in self.bins.items()},
            "value": self.value.tolist(),
            "c0": self.c0.tolist(),
            "c1": self.c1.tolist(),
            "unknown": self.unknown,
        } | weighted

    @classmethod
    def from_dict(cls, doc: dict[str, Any]) -> PeriodCounts:
        # Weighted counts are sums of weights; the others whole rows.
        dtype = np.float64 if "n" in doc else np.int64
        return cls(
            np.asarray(doc["bands"], dtype=dtype),
            {k: np.asarray(v, dtype=dtype) for k, v in doc["bins"].items()},
            np.asarray(doc["value"], dtype=np.float64),
            np.asarray(doc["c0"], dtype=dtype),
            np.asarray(doc["c1"], dtype=dtype),
            float(doc["unknown"]) if "n" in doc else int(doc["unknown"]),
            np.asarray(doc["n"], dtype=np.int64) if "n" in doc else None,
        )


def total(counts: npt.NDArray[Any]) -> float:
    """The sum of counts: whole rows as an int, weights as a float."""
    return int(counts.sum()) if counts.dtype.kind in "iu" else float(counts.sum())


@dataclass(frozen=True)
class Layout:
    """What the counts are laid out by, fixed when monitoring starts: the
    variables with their bin labels and (for a scorecard) points per bin,
    the score band cut points and the scaling that turns a score into a
    probability of default."""

    variables: tuple[str, ...]
    labels: dict[str, tuple[str, ...]]
    points: dict[str, tuple[float, ...]] | None
    score_cuts: tuple[float, ...] | None
    factor: float = math.nan
    offset: float = math.nan
    weight: str | None = None  # the column of the rows' weights

    @property
    def band_labels(self) -> tuple[str, ...]:
        if self.score_cuts is None:
            return ()
        edges = [-math.inf, *self.score_cuts, math.inf]
        return (
            *(printing.interval(edges[i], edges[i + 1]) for i in range(len(edges) - 1)),
            "missing",
        )

    def default_rate(self, score: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
        """The probability of default a score stands for: its odds of a good
        are exp((score - offset) / factor)."""
        out: npt.NDArray[np.float64] = 1.0 / (1.0 + np.exp((score - self.offset) / self.factor))
        return out

    def to_dict(self) -> dict[str, Any]:
        return {
            "variables": list(self.variables),
            "labels": {k: list(v) for k, v in self.labels.items()},
            "points": None if self.points is None else {k: list(v) for k, v in self.points.items()},
            "score_cuts": None if self.score_cuts is None else list(self.score_cuts),
            "factor": self.factor,
            "offset": self.offset,
        } | ({} if self.weight is None else {"weight": self.weight})

    @classmethod
    def from_dict(cls, doc: dict[str, Any]) -> Layout:
        points, cuts = doc["points"], doc["score_cuts"]
        return cls(
            tuple(doc["variables"]),
            {k: tuple(v) for k, v in doc["labels"].items()},
            None if points is None else {k: tuple(map(float, v)) for k, v in points.items()},
            None if cuts is None else tuple(map(float, cuts)),
            float(doc["factor"]),
            float(doc["offset"]),
            doc.get("weight"),
        )


def fitted_binning(model: Scorecard | TableBinning) -> TableBinning:
    binning = model.binning if isinstance(model, Scorecard) else model
    if not isinstance(model, (Scorecard, TableBinning)):
        raise TypeError(f"model must be a fitted Scorecard or TableBinning, not {model!r}")
    if (
        binning is None
        or not binning.tables
        or (isinstance(model, Scorecard) and not model.variables)
    ):
        raise ValueError("the model is not fitted: fit it before monitoring")
    return binning


def slot_points(card: Scorecard, name: str) -> tuple[float, ...]:
    """The points of every bin of a variable, missing values last: a table
    without a row for them gives them WoE 0, so the points of WoE 0."""
    points = [float(p) for p in card.points[name]]
    if len(points) < len(_bin_labels(fitted_binning(card), name)):
        points.append(float(card.points_of(name, [0.0])[0]))
    return tuple(points)


def layout_of(
    model: Scorecard | TableBinning,
    reference: Any,
    score_bands: int,
    cuts: tuple[float, ...] | None = None,
    weight: str | None = None,
) -> Layout:
    """The layout of monitoring `model`, the score bands being the
    `score_bands` quantiles of the scores of the `reference` rows (each
    counting by its `weight`), or the band `cuts` found already."""
    binning = fitted_binning(model)
    if not isinstance(model, Scorecard):
        names = tuple(binning.tables)
        return Layout(names, {n: _bin_labels(binning, n) for n in names}, None, None, weight=weight)
    names = tuple(model.variables)
    if cuts is None:
        scores = model.score(reference)
        weights = _weights(reference, weight)
        kept = np.isfinite(scores) if weights is None else np.isfinite(scores) & (weights > 0)
        if not kept.any():
            raise ValueError("the reference sample has no row with a score to cut into bands")
        if weights is None:
            cuts = tuple(native.binning_splits(scores[kept], method="quantile", n_bins=score_bands))
        else:
            counted = native.count_values_weighted(
                scores[kept], np.zeros(int(kept.sum()), dtype=np.int32), weights[kept]
            )
            cuts = tuple(native.quantile_splits(counted, score_bands))
    return Layout(
        names,
        {n: _bin_labels(binning, n) for n in names},
        {n: slot_points(model, n) for n in names},
        tuple(float(c) for c in cuts),
        float(model.factor),
        float(model.offset),
        weight,
    )


def check_layout(model: Scorecard | TableBinning, layout: Layout) -> None:
    """That `model` bins and scores as it did when monitoring started."""
    binning = fitted_binning(model)
    names = tuple(model.variables) if isinstance(model, Scorecard) else tuple(binning.tables)
    same = names == layout.variables and all(
        _bin_labels(binning, n) == layout.labels[n] for n in names
    )
    if same and layout.points is not None:
        same = isinstance(model, Scorecard) and all(
            slot_points(model, n) == layout.points[n] for n in names
        )
    if not same:
        raise ValueError(
            "the model bins or scores otherwise than the one the monitoring state was "
            "started with: start a new state for it"
        )


def count_period(
    model: Scorecard | TableBinning, layout: Layout, data: Any, y: Any
) -> PeriodCounts:
    """The counts of the rows `data` with their target `y` (None: no
    outcome known), read with the binning's event."""
    binning = fitted_binning(model)
    # Values the binning did not see (missing ones among them) are what
    # monitoring counts and shows bin by bin, not a warning.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UnseenValueWarning)
        warnings.simplefilter("ignore", UnseenCategoryWarning)
        weights = _weights(data, layout.weight)
        bins = {n: _bin_counts(binning, n, data, weights) for n in layout.variables}
        if layout.score_cuts is None:
            return PeriodCounts(np.empty(0, dtype=np.int64), bins)
        assert isinstance(model, Scorecard)
        score = model.score(data)
    band = native.binning_transform(score, np.asarray(layout.score_cuts))
    n_bands = len(layout.score_cuts) + 2
    slot = np.where(band < 0, n_bands - 1, band)
    if weights is not None:
        return weighted_counts(slot, n_bands, bins, score, weights, flags_of(binning, data, y))
    bands = np.bincount(slot, minlength=n_bands)
    if y is None:
        return PeriodCounts(bands.astype(np.int64), bins, unknown=frames.length(score))
    flags = flags_of(binning, data, y)
    assert flags is not None
    known = ~np.isnan(flags) & np.isfinite(score)
    counts = native.count_values(score[known], flags[known].astype(np.int32))
    return PeriodCounts(
        bands.astype(np.int64),
        bins,
        np.asarray(counts["value"], dtype=np.float64),
        np.asarray(counts["c0"], dtype=np.int64),
        np.asarray(counts["c1"], dtype=np.int64),
        int(np.count_nonzero(~known)),
    )


def flags_of(binning: TableBinning, data: Any, y: Any) -> npt.NDArray[np.float64] | None:
    """The event flags of the rows (None without a target), read with the
    binning's event."""
    if y is None:
        return None
    name = frames.target_name(data, y)
    return target.event_flags(
        y if name is None else frames.column(data, name),
        event=binning.event,
        value=binning.value,
        percentile=binning.percentile,
        event_in_rows=False,
    )


def weighted_counts(
    slot: IntArray,
    n_bands: int,
    bins: dict[str, Any],
    score: npt.NDArray[np.float64],
    weights: npt.NDArray[np.float64],
    flags: npt.NDArray[np.float64] | None,
) -> PeriodCounts:
    """The counts of weighted rows: sums of their weights per band, bin and
    distinct labelled score."""
    bands = np.bincount(slot, weights=weights, minlength=n_bands)
    known = np.zeros(score.size, dtype=bool)
    if flags is not None:
        known = ~np.isnan(flags) & np.isfinite(score) & (weights > 0)
    counted = native.count_values_weighted(
        score[known],
        np.zeros(0, dtype=np.int32) if flags is None else flags[known].astype(np.int32),
        weights[known],
    )
    return PeriodCounts(
        bands,
        bins,
        np.asarray(counted["value"], dtype=np.float64),
        np.asarray(counted["c0"], dtype=np.float64),
        np.asarray(counted["c1"], dtype=np.float64),
        float(weights[~known].sum()),
        np.asarray(counted["rows"], dtype=np.int64),
    )


__all__ = ["SCORE", "Layout", "PeriodCounts", "check_layout", "count_period", "layout_of"]
