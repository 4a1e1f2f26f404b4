"""tessaline: binning, weight of evidence and score diagnostics for credit
scorecards, over the native module `_tessaline`.

    import tessaline as tl
    table = tl.mdlp_binning(x, y)          # a BinningTable
    print(table)                           # intervals, counts, event rates, WoE, IV
    woe = table.transform(x, output="woe")
    tl.gini(woe, y)                        # Gini of the binned variable

Binning: `mdlp_binning` (supervised), `quantile_binning`, `equal_width_binning`,
`custom_binning`. Diagnostics: `psi`, `gini`. Transformer: `MDLPDiscretizer`.
Charts: `BinningTable.plot`, `GiniResult.plot` (matplotlib). Report:
``python -m tessaline report DATA.csv --target COLUMN``.
"""
from .binning import (
    BinningTable,
    custom_binning,
    equal_width_binning,
    mdlp_binning,
    quantile_binning,
)
from .diagnostics import GiniResult, PSIResult, gini, psi
from .discretizer import MDLPDiscretizer, NotFittedError
from .woe import weight_of_evidence

__all__ = [
    "BinningTable",
    "GiniResult",
    "MDLPDiscretizer",
    "NotFittedError",
    "PSIResult",
    "custom_binning",
    "equal_width_binning",
    "gini",
    "mdlp_binning",
    "psi",
    "quantile_binning",
    "weight_of_evidence",
]
