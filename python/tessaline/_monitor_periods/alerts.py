"""The records of a monitoring result and its traffic lights.

Every measure of every period gets a light: "green", "amber" or "red" by
the thresholds the analyst sets (`Thresholds`, stated in the result), or
"n/a" where the period cannot say (no known outcome, a single class). PSI
of the score and CSI of a variable: amber from the first threshold, red
from the second (0.10 and 0.25 by default). AUC: amber or red when it fell
from the reference's and the p-value of the change is below the first or
the second level (0.05, 0.01). Calibration: the same levels for the
Jeffreys p-value of the whole period, small when more defaults came than
its rows' probabilities of default predict."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import asdict, dataclass

from .._core import checks
from .._monitoring import BinShift

GREEN, AMBER, RED, NONE = "green", "amber", "red", "n/a"


@dataclass(frozen=True)
class Thresholds:
    """Where the lights turn amber and red: PSI of the score and CSI of a
    variable from (amber, red) upwards, the p-values of the AUC change and
    of the calibration test from (amber, red) downwards."""

    psi: tuple[float, float] = (0.10, 0.25)
    csi: tuple[float, float] = (0.10, 0.25)
    auc_pvalue: tuple[float, float] = (0.05, 0.01)
    calibration_pvalue: tuple[float, float] = (0.05, 0.01)

    def __post_init__(self) -> None:
        for name, (amber, red) in asdict(self).items():
            checks.real_number(f"{name} threshold", amber, 0)
            checks.real_number(f"{name} threshold", red, 0)
            rising = name in ("psi", "csi")
            if (red < amber) if rising else (red > amber):
                raise ValueError(
                    f"the red threshold of {name} must be "
                    f"{'above' if rising else 'below'} the amber one, not {(amber, red)}"
                )


def rising_light(value: float, levels: tuple[float, float]) -> str:
    if math.isnan(value):
        return NONE
    return RED if value >= levels[1] else AMBER if value >= levels[0] else GREEN


def falling_light(pvalue: float, levels: tuple[float, float]) -> str:
    if math.isnan(pvalue):
        return NONE
    return RED if pvalue < levels[1] else AMBER if pvalue < levels[0] else GREEN


@dataclass(frozen=True)
class Alert:
    """The light of one measure ("score psi", "csi", "auc", "calibration")
    of one subject (the score or a variable) in one period, with its value
    (a PSI, CSI or p-value)."""

    measure: str
    subject: str
    period: str
    value: float
    light: str


def alerts_of(
    stability: Sequence[BinShift],
    characteristics: Sequence[BinShift],
    changes: Sequence[tuple[str, float, float]],
    calibration: Sequence[tuple[str, float]],
    thresholds: Thresholds,
) -> tuple[Alert, ...]:
    """The lights of the score's PSI, of every variable's CSI, of the AUC
    change ((period, change, p-value)) and of calibration ((period, Jeffreys
    p-value)), period by period."""
    out = [
        Alert("score psi", "score", s.period, s.psi, rising_light(s.psi, thresholds.psi))
        for s in stability
    ]
    out += [
        Alert("csi", s.variable, s.period, s.psi, rising_light(s.psi, thresholds.csi))
        for s in characteristics
    ]
    # Only a fall of AUC is an alert: a period that separates better is not.
    out += [
        Alert(
            "auc",
            "score",
            p,
            pvalue,
            falling_light(pvalue if change < 0 else 1.0, thresholds.auc_pvalue)
            if not math.isnan(pvalue)
            else NONE,
        )
        for p, change, pvalue in changes
    ]
    out += [
        Alert(
            "calibration", "score", p, pvalue, falling_light(pvalue, thresholds.calibration_pvalue)
        )
        for p, pvalue in calibration
    ]
    return tuple(out)
