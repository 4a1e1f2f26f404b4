"""The records of a monitoring result: per period and measure, and the whole."""

from __future__ import annotations

import pathlib
from dataclasses import asdict, dataclass
from typing import Any

from .._calibration import CalibrationTable
from .._core import checks, printing
from .._core.result_frames import FrameKind, rows_frame
from .._monitoring import BinShift
from .alerts import AMBER, RED, Alert, Thresholds


@dataclass(frozen=True)
class CharacteristicShift:
    """One variable in one period: its bins against the reference (shares,
    CSI) and the points shift, Σ (period share - reference share) × points
    over its bins, the change of the mean score this variable brings (NaN
    without points)."""

    shift: BinShift
    points_shift: float


@dataclass(frozen=True)
class PeriodPerformance:
    """How the score separates outcomes in one period: rows, rows whose
    outcome is known, events and their rate, AUC and Gini with DeLong's
    interval, KS, and the change of AUC from the reference's with the
    z statistic and two-sided p-value of the two independent samples
    (NaN, with the reason in ``change_note``, where the change cannot be
    tested)."""

    period: str
    rows: float  # whole rows, or sums of their weights
    known: float
    events: float
    bad_rate: float
    auc: float
    auc_ci: tuple[float, float]
    gini: float
    gini_ci: tuple[float, float]
    ks: float
    auc_change: float
    change_z: float
    change_pvalue: float
    change_note: str = ""


@dataclass(frozen=True)
class PeriodCalibration:
    """Observed against predicted default rate in one period: per score band
    (``table``, with the Jeffreys test), overall with its Jeffreys p-value,
    and the Brier score."""

    period: str
    table: CalibrationTable | None
    observed: float
    predicted: float
    jeffreys_pvalue: float
    brier: float


def _flat(row: dict[str, Any]) -> dict[str, Any]:
    """A record's intervals as two columns each: ``auc_ci`` as ``auc_ci_low``
    and ``auc_ci_high``."""
    out: dict[str, Any] = {}
    for key, value in row.items():
        if isinstance(value, tuple):
            out[f"{key}_low"], out[f"{key}_high"] = value
        else:
            out[key] = value
    return out


FRAME_PARTS = ("alerts", "stability", "characteristics", "performance", "calibration")


@dataclass(frozen=True)
class MonitoringResult:
    """Monitoring of a model period by period against a reference: score
    stability (one `BinShift` per period, empty for a binning without a
    score), characteristic analysis, performance and calibration (only
    periods with known outcomes of both classes), the lights and the
    thresholds they were read with, the `state` of counts to add the
    next periods to, and the reference's own performance (None without a
    score)."""

    periods: tuple[str, ...]
    reference: str
    stability: tuple[BinShift, ...]
    characteristics: tuple[CharacteristicShift, ...]
    performance: tuple[PeriodPerformance, ...]
    calibration: tuple[PeriodCalibration, ...]
    alerts: tuple[Alert, ...]
    thresholds: Thresholds
    state: Any  # the MonitorState the result was computed from
    reference_performance: PeriodPerformance | None = None

    def flagged(self) -> list[Alert]:
        """The alerts that are amber or red."""
        return [a for a in self.alerts if a.light in (AMBER, RED)]

    def to_frame(self, part: str = "alerts", kind: FrameKind = "pandas") -> Any:
        """One part of the result as a DataFrame of `kind` ("pandas", "polars"
        or "arrow"): "alerts" (one row per measure, subject and period),
        "stability", "characteristics" (one row per variable and period),
        "performance" or "calibration" (one row per period)."""
        checks.one_of("part", part, FRAME_PARTS)
        rows: list[dict[str, Any]]
        if part == "alerts":
            rows = [asdict(a) for a in self.alerts]
        elif part == "stability":
            rows = [
                {"period": s.period, "psi": s.psi, "reading": s.reading} for s in self.stability
            ]
        elif part == "characteristics":
            rows = [
                {
                    "variable": c.shift.variable,
                    "period": c.shift.period,
                    "csi": c.shift.psi,
                    "reading": c.shift.reading,
                    "points_shift": c.points_shift,
                }
                for c in self.characteristics
            ]
        elif part == "performance":
            rows = [_flat(asdict(p)) for p in self.performance]
        else:
            rows = [{k: v for k, v in asdict(c).items() if k != "table"} for c in self.calibration]
        return rows_frame(rows, None, kind, "MonitoringResult.to_frame")

    def to_html(
        self,
        path: str | pathlib.Path | None = None,
        *,
        title: str = "Monitoring",
        workbook: str | pathlib.Path | None = None,
    ) -> str:
        """The monitoring page: one self-contained HTML page (no script, no
        outside resource) with the lights, the Gini of every period against
        the reference's, the PSI and CSI heat map and the calibration of
        every period; written to `path` when given, and its tables to the
        Excel `workbook` when given (needs openpyxl). The page of
        ``python -m tessaline monitor``."""
        # The page is drawn a layer above the result: this is only a door.
        from ..report._monitor_page import monitoring_page

        return monitoring_page(self, title=title, path=path, workbook=workbook)

    def __str__(self) -> str:
        lights = {(a.measure, a.subject, a.period): a.light for a in self.alerts}
        subjects = list(dict.fromkeys((a.measure, a.subject) for a in self.alerts))
        rows = [
            [f"{m} {s}" if m == "csi" else m] + [lights.get((m, s, p), "") for p in self.periods]
            for m, s in subjects
        ]
        return (
            f"Monitoring against {self.reference}, thresholds {self.thresholds}\n"
            + printing.text_table(("measure", *self.periods), rows, (0,))
        )
