"""Charts of binning tables and scores (matplotlib, an optional extra,
imported only when a chart is drawn). Functions over small protocols:
nothing here imports a model class."""

from .binning import plot_binning, plot_continuous_binning, plot_lorenz
from .score import plot_cap, plot_ks, plot_roc

__all__ = [
    "plot_binning",
    "plot_cap",
    "plot_continuous_binning",
    "plot_ks",
    "plot_lorenz",
    "plot_roc",
]
