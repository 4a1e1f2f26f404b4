"""Monitoring a fitted model period by period: `monitor` counts the rows of
every period (and of the reference) into a `MonitorState`, whose `result`
computes the measures and lights; `MonitorState.add` adds the next periods'
rows to a saved state without reading the history again, and
`to_json`/`from_json` keep it as a JSON document."""

from __future__ import annotations

import json
from dataclasses import dataclass, field, replace
from typing import Any

import numpy as np

from .._core import checks
from .._monitoring import _chronological
from .._scorecard import Scorecard
from .._table_binning import TableBinning
from ..exceptions import DocumentError
from . import measures
from .alerts import Thresholds, alerts_of
from .counts import Layout, PeriodCounts, check_layout, count_period, layout_of
from .periods import Frequency, period_labels
from .result import MonitoringResult

DOCUMENT_KIND = "tessaline.monitor_state"
DOCUMENT_VERSION = 1
DEVELOPMENT = "development"


@dataclass(frozen=True)
class MonitorState:
    """The counts of the reference (``reference_label``: "development" or a
    period's label) and of every period, in time order, laid out by
    ``layout``."""

    layout: Layout
    reference_label: str
    reference: PeriodCounts
    periods: dict[str, PeriodCounts] = field(default_factory=dict)

    def add(
        self,
        model: Scorecard | TableBinning,
        data: Any,
        *,
        period: str,
        target: Any = None,
        frequency: Frequency | None = None,
    ) -> MonitorState:
        """A state with the rows of `data` added to their periods' counts (a
        new period joins the others in time order, see `monitor`). `model`
        must be the one the state was started with."""
        check_layout(model, self.layout)
        periods = dict(self.periods)
        for label, rows in period_labels(data, period, frequency):
            counts = count_period(model, self.layout, rows, target)
            periods[label] = periods[label].plus(counts) if label in periods else counts
        ordered = {label: periods[label] for label in _chronological(list(periods))}
        return MonitorState(self.layout, self.reference_label, self.reference, ordered)

    def result(self, thresholds: Thresholds | None = None) -> MonitoringResult:
        """The measures and lights of every period (see `MonitoringResult`)."""
        thresholds = Thresholds() if thresholds is None else thresholds
        if not isinstance(thresholds, Thresholds):
            raise TypeError(f"thresholds must be a Thresholds, not {thresholds!r}")
        layout, ref = self.layout, self.reference
        scored = layout.score_cuts is not None
        stability = (
            tuple(measures.score_stability(layout, ref, p, c) for p, c in self.periods.items())
            if scored
            else ()
        )
        characteristics = []
        for name in layout.variables:
            together = ref.bins[name] + sum(c.bins[name] for c in self.periods.values())
            monitored = bool(np.count_nonzero(together) > 1)
            characteristics += [
                measures.characteristic(layout, name, ref, p, c, monitored)
                for p, c in self.periods.items()
            ]
        performance, calibration = [], []
        reference_performance = None
        if scored:
            ref_fit = measures.fitted_performance(ref)
            reference_performance = measures.period_performance(
                self.reference_label, ref, ref_fit, None
            )
            for p, c in self.periods.items():
                fit = measures.fitted_performance(c)
                performance.append(measures.period_performance(p, c, fit, ref_fit))
                calibration.append(measures.period_calibration(layout, p, c))
        alerts = alerts_of(
            stability,
            [c.shift for c in characteristics],
            [(p.period, p.auc_change, p.change_pvalue) for p in performance],
            [(c.period, c.jeffreys_pvalue) for c in calibration],
            thresholds,
        )
        return MonitoringResult(
            tuple(self.periods),
            self.reference_label,
            stability,
            tuple(characteristics),
            tuple(performance),
            tuple(calibration),
            alerts,
            thresholds,
            self,
            reference_performance,
        )

    def to_dict(self) -> dict[str, Any]:
        return {
            "kind": DOCUMENT_KIND,
            "version": DOCUMENT_VERSION,
            "layout": self.layout.to_dict(),
            "reference_label": self.reference_label,
            "reference": self.reference.to_dict(),
            "periods": [[p, c.to_dict()] for p, c in self.periods.items()],
        }

    def to_json(self, indent: int | None = None) -> str:
        return json.dumps(self.to_dict(), indent=indent)

    @classmethod
    def from_json(cls, text: str | bytes) -> MonitorState:
        try:
            doc = json.loads(text)
        except ValueError as error:
            raise DocumentError(f"not a monitoring state document: {error}") from None
        return cls.from_dict(doc)

    @classmethod
    def from_dict(cls, doc: Any) -> MonitorState:
        try:
            if doc.get("kind") != DOCUMENT_KIND or doc.get("version") != DOCUMENT_VERSION:
                raise DocumentError(
                    f"not a monitoring state of version {DOCUMENT_VERSION}: "
                    f"kind {doc.get('kind')!r}, version {doc.get('version')!r}"
                )
            return cls(
                Layout.from_dict(doc["layout"]),
                str(doc["reference_label"]),
                PeriodCounts.from_dict(doc["reference"]),
                {str(p): PeriodCounts.from_dict(c) for p, c in doc["periods"]},
            )
        except (ValueError, KeyError, TypeError, AttributeError) as error:
            if isinstance(error, DocumentError):
                raise
            raise DocumentError(f"not a monitoring state document: {error}") from None


def keep_reference(
    card: Scorecard,
    development: Any,
    *,
    target: Any = None,
    score_bands: int = 10,
    weight: str | None = None,
) -> Scorecard:
    """Keep in `card` (and its JSON document) the monitoring counts of its
    `development` sample, with `target` the outcome column: monitoring the
    card without a reference, even loaded from its document, then measures
    every period against them as against the development rows. Returns the
    card."""
    if not isinstance(card, Scorecard):
        raise TypeError(f"card must be a fitted Scorecard, not {card!r}")
    checks.whole_number("score_bands", score_bands, 1)
    layout = layout_of(card, development, score_bands, weight=weight)
    counts = count_period(card, layout, development, target)
    card.monitor_reference = MonitorState(layout, DEVELOPMENT, counts).to_dict()
    return card


def resolved_reference(
    model: Scorecard | TableBinning, reference: Any, reference_period: str | None
) -> Any:
    """The reference given, or else (without a reference period) the
    development counts the card keeps."""
    if reference is not None or reference_period is not None:
        if reference is not None and reference_period is not None:
            raise ValueError("give either reference (the development sample) or reference_period")
        return reference
    kept = getattr(model, "monitor_reference", None)
    if kept is None:
        raise ValueError(
            "give either reference (the development sample) or reference_period "
            "(the card keeps no development counts: tl.keep_reference(card, development))"
        )
    return MonitorState.from_dict(kept)


def monitor(
    model: Scorecard | TableBinning,
    data: Any,
    *,
    period: str,
    target: Any = None,
    reference: Any = None,
    reference_period: str | None = None,
    frequency: Frequency | None = None,
    score_bands: int = 10,
    thresholds: Thresholds | None = None,
    weight: str | None = None,
) -> MonitoringResult:
    """Monitor a fitted `Scorecard` (or, for the distributions alone, a
    `TableBinning`) over the periods of `data`, the groups of its column
    `period` (dates bucketed by `frequency`, "month" or "quarter"; time
    order, text labels as given), against the `reference` sample (the
    development data, or a `MonitorState` holding its counts) or the period
    `reference_period` of `data`. `target`
    names the outcome column (its event read as the binning reads it): rows
    whose outcome is missing count for stability and are left out of
    performance and calibration. The score bands are the `score_bands`
    quantiles of the reference scores. Without a reference, a card measures
    against the development counts it keeps (see `keep_reference`).
    `weight` names a column of the rows' weights (of the reference too):
    every count is then a sum of weights, the score bands are weighted
    quantiles, and AUC has no DeLong interval (nor its change a test).
    Against weighted reference counts kept in a `MonitorState`, monitoring
    without `weight` counts every row of a period once. Weighted counts of
    a period added in batches may differ from those of
    all its rows at once in the last bits of their sums."""
    reference = resolved_reference(model, reference, reference_period)
    checks.whole_number("score_bands", score_bands, 1)
    if isinstance(reference, MonitorState):
        # The development sample's counts kept from an earlier run stand
        # for it: the card's reference travels without its rows.
        check_layout(model, reference.layout)
        # Without a weight every row of a period counts once, also against
        # weighted development counts (as where the data live); a weight
        # must be the one the reference was counted with.
        if weight is not None and weight != reference.layout.weight:
            raise ValueError(
                f"the reference counts are weighted by {reference.layout.weight!r}, "
                f"not {weight!r}: monitor with the same weight"
            )
        layout = replace(reference.layout, weight=weight)
        state = MonitorState(layout, reference.reference_label, reference.reference)
        return state.add(model, data, period=period, target=target, frequency=frequency).result(
            thresholds
        )
    periods = period_labels(data, period, frequency)
    if not periods:
        raise ValueError("the data hold no row to monitor")
    if reference is None:
        found = dict(periods)
        if str(reference_period) not in found:
            raise ValueError(
                f"reference_period {reference_period!r} is none of the periods: {', '.join(found)}"
            )
        reference = found[str(reference_period)]
    layout = layout_of(model, reference, score_bands, weight=weight)
    ref = count_period(model, layout, reference, target)
    label = DEVELOPMENT if reference_period is None else str(reference_period)
    state = MonitorState(layout, label, ref, {})
    state = state.add(model, data, period=period, target=target, frequency=frequency)
    return state.result(thresholds)
