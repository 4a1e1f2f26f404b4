"""Monitoring a deployed model period by period from mergeable counts."""

from .alerts import Alert, Thresholds
from .result import (
    CharacteristicShift,
    MonitoringResult,
    PeriodCalibration,
    PeriodPerformance,
)
from .state import MonitorState, keep_reference, monitor

__all__ = [
    "Alert",
    "CharacteristicShift",
    "MonitorState",
    "MonitoringResult",
    "PeriodCalibration",
    "PeriodPerformance",
    "Thresholds",
    "keep_reference",
    "monitor",
]
