"""The binning of one variable against a binary target, from its rows or
from counts merged elsewhere: numeric (MDLP, optimal, quantile, equal width,
custom cut points) and categorical, each giving a `BinningTable`; and two
variables at once, `grid_binning`, giving a `GridBinningTable`."""

from .binning_table import BinningTable
from .categorical import categorical_binning
from .continuous import continuous_binning
from .continuous_binning_table import ContinuousBinningTable
from .grid import grid_binning, grid_binning_from_counts
from .grid_table import GridBinningTable
from .grouped import grouped_binning
from .multiclass import multiclass_binning, multiclass_binning_from_counts
from .multiclass_binning_table import MulticlassBinningTable
from .numeric import custom_binning, equal_width_binning, mdlp_binning, quantile_binning
from .optimal import optimal_binning

__all__ = [
    "BinningTable",
    "ContinuousBinningTable",
    "GridBinningTable",
    "MulticlassBinningTable",
    "categorical_binning",
    "continuous_binning",
    "custom_binning",
    "equal_width_binning",
    "grid_binning",
    "grid_binning_from_counts",
    "grouped_binning",
    "mdlp_binning",
    "multiclass_binning",
    "multiclass_binning_from_counts",
    "optimal_binning",
    "quantile_binning",
]
