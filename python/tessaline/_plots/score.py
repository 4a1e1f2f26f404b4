"""Charts of a score's performance, drawn as analysts read them: flagging
from the riskiest score on, so that a useful score bends above the diagonal."""

from __future__ import annotations

from typing import TYPE_CHECKING

import numpy as np

from .._core.protocols import ScoreCurves
from .binning import CURVE_COLOUR, LINE_COLOUR, new_axes, tidy

if TYPE_CHECKING:
    from matplotlib.axes import Axes


def _diagonal(ax: Axes) -> None:
    """The curve of a score without power."""
    ax.plot([0.0, 1.0], [0.0, 1.0], color="#999999", linestyle="--", linewidth=1)


def _unit_square(ax: Axes, xlabel: str, ylabel: str, title: str) -> None:
    ax.set_xlim(0.0, 1.0)
    ax.set_ylim(0.0, 1.0)
    ax.set_aspect("equal")
    ax.set_xlabel(xlabel)
    ax.set_ylabel(ylabel)
    ax.set_title(title, fontsize=10)
    tidy(ax)


def plot_roc(result: ScoreCurves, ax: Axes | None = None) -> Axes:
    """Share of events flagged against share of non-events flagged."""
    ax = new_axes(ax)
    x = np.concatenate(([0.0], result.flagged_non_events))
    y = np.concatenate(([0.0], result.flagged_events))
    _diagonal(ax)
    ax.plot(x, y, color=CURVE_COLOUR, linewidth=2)
    _unit_square(
        ax,
        "non-events flagged (false positive rate)",
        "events flagged (true positive rate)",
        f"ROC: AUC {result.auc:.3f}",
    )
    return ax


def plot_cap(result: ScoreCurves, ax: Axes | None = None) -> Axes:
    """Share of events captured against share of all rows flagged, with the
    curve of a perfect score (every event flagged first)."""
    ax = new_axes(ax)
    p = result.event_share
    flagged = result.flagged_events * p + result.flagged_non_events * (1.0 - p)
    x = np.concatenate(([0.0], flagged))
    y = np.concatenate(([0.0], result.flagged_events))
    _diagonal(ax)
    ax.plot([0.0, p, 1.0], [0.0, 1.0, 1.0], color="#7f8c8d", linewidth=1, label="perfect")
    ax.plot(x, y, color=CURVE_COLOUR, linewidth=2, label="score")
    ax.legend(loc="lower right", fontsize=8)
    _unit_square(
        ax,
        "share of rows flagged",
        "share of events captured",
        f"CAP: accuracy ratio {result.gini:.3f}",
    )
    return ax


def plot_ks(result: ScoreCurves, ax: Axes | None = None) -> Axes:
    """The two cumulative shares against the score, riskiest first, with the
    largest gap marked."""
    ax = new_axes(ax)
    ax.step(result.scores, result.flagged_events, where="post", color=LINE_COLOUR, label="events")
    ax.step(
        result.scores,
        result.flagged_non_events,
        where="post",
        color=CURVE_COLOUR,
        label="non-events",
    )
    at = int(np.argmax(np.abs(result.flagged_events - result.flagged_non_events)))
    ax.vlines(
        result.scores[at],
        result.flagged_non_events[at],
        result.flagged_events[at],
        color="#333333",
        linestyle=":",
    )
    ax.set_xlabel("score")
    ax.set_ylabel("cumulative share flagged")
    ax.set_ylim(0.0, 1.0)
    ax.legend(loc="lower right", fontsize=8)
    ax.set_title(f"KS {result.ks:.3f} at {result.ks_score:g}", fontsize=10)
    tidy(ax)
    return ax
