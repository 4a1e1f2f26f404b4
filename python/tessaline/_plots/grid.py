"""The heat map of a two-variable binning: the WoE of every cell, x intervals
down and y intervals across, each cell marked with its WoE and share, and
the edges of rectangles drawn where cells are gathered into them."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy as np

from .binning import new_axes, tidy

if TYPE_CHECKING:
    from matplotlib.axes import Axes


def plot_grid(table: Any, ax: Axes | None = None) -> Axes:
    """WoE by colour, centred on 0 (red riskier, blue safer), with each cell's
    WoE and share of the rows written in it."""
    ax = new_axes(ax)
    woe = np.asarray(table.woe)
    rows = np.asarray(table.c0) + np.asarray(table.c1)
    share = rows / rows.sum() if rows.sum() else rows
    finite = woe[np.isfinite(woe)]
    reach = float(np.abs(finite).max()) if finite.size else 1.0
    image = ax.imshow(woe, cmap="RdBu_r", vmin=-reach, vmax=reach, aspect="auto")
    for (i, j), value in np.ndenumerate(woe):
        ax.text(j, i, f"{value:.2f}\n{share[i, j]:.0%}", ha="center", va="center", fontsize=7)
    _rectangle_edges(ax, np.asarray(table.regions))
    ax.set_xticks(range(woe.shape[1]), table.labels_y, rotation=30, ha="right", fontsize=7)
    ax.set_yticks(range(woe.shape[0]), table.labels_x, fontsize=7)
    ax.set_xlabel(table.name_y or "y")
    ax.set_ylabel(table.name_x or "x")
    ax.figure.colorbar(image, ax=ax, label="WoE")
    tidy(ax)
    return ax


def _rectangle_edges(ax: Axes, regions: np.ndarray) -> None:
    """A line between every two neighbouring cells of different rectangles
    (none in a product grid, where every cell is its own)."""
    if np.unique(regions).size == regions.size:
        return
    xs: list[float] = []
    ys: list[float] = []
    for i, j in zip(*np.nonzero(regions[:, 1:] != regions[:, :-1])):
        xs += [j + 0.5, j + 0.5, np.nan]
        ys += [i - 0.5, i + 0.5, np.nan]
    for i, j in zip(*np.nonzero(regions[1:] != regions[:-1])):
        xs += [j - 0.5, j + 0.5, np.nan]
        ys += [i + 0.5, i + 0.5, np.nan]
    ax.plot(xs, ys, color="black", linewidth=1.5)
