"""Charts for the result objects. matplotlib is an optional extra
(pip install 'tessaline[plot]') and is imported only when a chart is drawn."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy as np

from .._core import printing
from .._core.dependencies import require
from .._core.protocols import ChartedTable, Curve

if TYPE_CHECKING:
    from matplotlib.axes import Axes

BAR_COLOUR = "#9db4cf"
LINE_COLOUR = "#c0392b"
CURVE_COLOUR = "#1f4e79"


def new_axes(ax: Axes | None) -> Axes:
    if ax is not None:
        return ax
    axes: Axes = require("matplotlib.pyplot", "plotting").subplots(figsize=(7, 3.6))[1]
    return axes


def tidy(ax: Axes) -> None:
    """Make room for the labels, unless the figure already has a layout engine."""
    figure = ax.get_figure(root=True)
    if figure is not None and figure.get_layout_engine() is None:
        figure.tight_layout()


def plot_binning(table: ChartedTable, ax: Axes | None = None) -> Axes:
    """Records per bin as bars (left axis) and the event rate as a line with
    markers (right axis), one position per row of the table, missing-value row
    included. Returns the bars' axes; the event rate's twin axes is attached."""
    ax = new_axes(ax)
    positions = np.arange(len(table))
    # A bin of many categories has a long label: the chart shows its start, the
    # table beside it the whole.
    labels = [label if len(label) <= 30 else label[:29] + "\u2026" for label in table.labels]
    ax.bar(positions, table["count"], color=BAR_COLOUR, width=0.7, label="records")
    ax.set_ylabel("records")
    ax.set_xticks(positions)
    rotate = len(labels) > 4 or max((len(s) for s in labels), default=0) > 14
    # Column names and category labels are shown as written: a '$' is not math.
    ax.set_xticklabels(
        labels,
        rotation=30 if rotate else 0,
        ha="right" if rotate else "center",
        fontsize=8,
        parse_math=False,
    )
    rate_axis: Any = ax.twinx()
    rate_axis.plot(
        positions, 100.0 * table["event_rate"], color=LINE_COLOUR, marker="o", label="event rate"
    )
    rate_axis.set_ylabel("event rate (%)", color=LINE_COLOUR)
    rate_axis.tick_params(axis="y", colors=LINE_COLOUR)
    rate_axis.set_ylim(bottom=0.0)
    what = printing.printable(table.name) if table.name is not None else "variable"
    ax.set_title(f"{what}: IV {table.information_value:.3f}", fontsize=10, parse_math=False)
    tidy(ax)
    return ax


def plot_lorenz(result: Curve, ax: Axes | None = None) -> Axes:
    """The Lorenz curve of a score (share of events against share of
    non-events at or below each score, from the origin), the diagonal of a
    score without power, and the Gini in the title."""
    ax = new_axes(ax)
    curve = result.curve
    non_events = np.concatenate(([0.0], curve["cumulative_non_event"]))
    events = np.concatenate(([0.0], curve["cumulative_event"]))
    ax.plot([0.0, 1.0], [0.0, 1.0], color="#999999", linestyle="--", linewidth=1)
    ax.plot(non_events, events, color=CURVE_COLOUR, linewidth=2)
    ax.fill_between(non_events, events, non_events, color=CURVE_COLOUR, alpha=0.12)
    ax.set_xlim(0.0, 1.0)
    ax.set_ylim(0.0, 1.0)
    ax.set_aspect("equal")
    ax.set_xlabel("share of non-events")
    ax.set_ylabel("share of events")
    ax.set_title(f"Lorenz curve: Gini {result.gini:+.3f}", fontsize=10)
    tidy(ax)
    return ax


def plot_continuous_binning(table: Any, ax: Axes | None = None) -> Axes:
    """The weight per bin as bars (left axis) and each bin's mean of the
    target as a line with markers (right axis), the overall mean dashed, one
    position per row of the table; R² in the title. Returns the bars' axes;
    the means' twin axes is attached."""
    ax = new_axes(ax)
    positions = np.arange(len(table))
    labels = [label if len(label) <= 30 else label[:29] + "\u2026" for label in table.labels]
    ax.bar(positions, table["weight"], color=BAR_COLOUR, width=0.7, label="weight")
    ax.set_ylabel("weight")
    ax.set_xticks(positions)
    rotate = len(labels) > 4 or max((len(s) for s in labels), default=0) > 14
    ax.set_xticklabels(
        labels,
        rotation=30 if rotate else 0,
        ha="right" if rotate else "center",
        fontsize=8,
        parse_math=False,
    )
    mean_axis: Any = ax.twinx()
    mean_axis.plot(positions, table["mean"], color=LINE_COLOUR, marker="o", label="mean")
    mean_axis.axhline(table.overall_mean, color=LINE_COLOUR, linestyle="--", linewidth=1)
    mean_axis.set_ylabel("mean of the target", color=LINE_COLOUR)
    mean_axis.tick_params(axis="y", colors=LINE_COLOUR)
    what = printing.printable(table.name) if table.name is not None else "variable"
    ax.set_title(f"{what}: R² {table.r_squared:.3f}", fontsize=10, parse_math=False)
    tidy(ax)
    return ax
