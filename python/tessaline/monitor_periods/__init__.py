"""Monitoring a deployed model period by period from mergeable counts."""

from .result import (
    Alert,
    CharacteristicShift,
    MonitoringResult,
    PeriodCalibration,
    PeriodPerformance,
    Thresholds,
)
from .state import MonitorState, monitor

__all__ = [
    "Alert",
    "CharacteristicShift",
    "MonitorState",
    "MonitoringResult",
    "PeriodCalibration",
    "PeriodPerformance",
    "Thresholds",
    "monitor",
]
