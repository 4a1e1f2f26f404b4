"""Calibration of every period score band by score band: rows, events,
observed and predicted default rate, and the Jeffreys interval of the
observed rate, for the page's small charts and the workbook's table."""

from __future__ import annotations

import math
from dataclasses import dataclass

from .._calibration import jeffreys_interval
from .._monitor_periods import MonitoringResult


@dataclass(frozen=True)
class BandCalibration:
    """One score band of one period: its label and position among the
    bands (0 the lowest scores), rows, events, the observed and predicted
    default rates, the 95% Jeffreys interval of the observed rate (NaN for
    weighted rows, which are not independent observations) and the Jeffreys
    p-value."""

    period: str
    band: str
    position: int
    rows: float
    events: float
    observed: float
    predicted: float
    interval: tuple[float, float]
    jeffreys_pvalue: float


def band_calibration(result: MonitoringResult) -> dict[str, list[BandCalibration]]:
    """The bands of every period with a calibration table, by period."""
    labels = result.state.layout.band_labels
    out: dict[str, list[BandCalibration]] = {}
    for c in result.calibration:
        if c.table is None:
            continue
        weighted = result.state.periods[c.period].weighted
        t = c.table
        out[c.period] = [
            BandCalibration(
                c.period,
                labels[int(t["grade"][i]) - 1],
                int(t["grade"][i]) - 1,
                float(t["count"][i]),
                float(t["events"][i]),
                float(t["observed"][i]),
                float(t["predicted"][i]),
                (math.nan, math.nan)
                if weighted
                else jeffreys_interval(float(t["events"][i]), float(t["count"][i])),
                float(t["jeffreys_pvalue"][i]),
            )
            for i in range(len(t))
        ]
    return out


__all__ = ["BandCalibration", "band_calibration"]
