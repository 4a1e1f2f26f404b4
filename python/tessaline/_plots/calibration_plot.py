"""The calibration chart: observed against predicted default rate per grade,
with the diagonal of perfect calibration."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Protocol

import numpy as np
import numpy.typing as npt

from .binning import CURVE_COLOUR, new_axes, tidy

if TYPE_CHECKING:
    from matplotlib.axes import Axes


class GradeColumns(Protocol):
    """A table of grades read by column name."""

    def __getitem__(self, column: str) -> npt.NDArray[Any]: ...


def plot_calibration(table: GradeColumns, ax: Axes | None = None) -> Axes:
    """One marker per grade at (mean predicted PD, observed default rate)."""
    ax = new_axes(ax)
    predicted, observed = np.asarray(table["predicted"]), np.asarray(table["observed"])
    top = float(max(predicted.max(initial=0.0), observed.max(initial=0.0))) * 1.05 or 1.0
    ax.plot([0.0, top], [0.0, top], color="#999999", linestyle="--", linewidth=1)
    ax.plot(predicted, observed, color=CURVE_COLOUR, marker="o", linewidth=1.5)
    for grade, x, y in zip(table["grade"], predicted, observed):
        ax.annotate(str(grade), (x, y), textcoords="offset points", xytext=(4, -10), fontsize=8)
    ax.set_xlabel("predicted default rate (mean PD)")
    ax.set_ylabel("observed default rate")
    ax.set_title("Calibration per grade", fontsize=10)
    tidy(ax)
    return ax
