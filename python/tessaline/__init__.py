"""tessaline: binning, weight of evidence and score diagnostics for credit
scorecards, over the native module `_tessaline`.

    import tessaline as tl
    table = tl.mdlp_binning(x, y)          # a BinningTable
    print(table)                           # intervals, counts, event rates, WoE, IV
    woe = table.transform(x, output="woe")
    tl.gini(woe, y)                        # Gini of the binned variable

Binning: `mdlp_binning` (supervised), `optimal_binning` (largest IV under an
analyst's limits), `categorical_binning` (sets of categories),
`quantile_binning`, `equal_width_binning`, `custom_binning`, `grouped_binning`.
Two variables at once: `grid_binning` (the rectangles, or product grid, of largest IV).
Edits a validator can audit: `BinningTable.merge`, `split`, `with_cuts`, ...
and `TableBinning.edit`, each logged in the model's document.
A whole table: `TableBinning` (every column, ranked by IV, transform by name).
A continuous target (a loss, an amount): `continuous_binning` (bins whose means
explain most of its variance) and ``TableBinning(target="continuous")``.
A target of k classes: `multiclass_binning` (bins of largest multiclass IV) and
``TableBinning(target="multiclass")``.
Scorecard: `Scorecard` (points, score, reason codes; pdo or min-max scaling,
the intercept spread or a separate base score), `score_performance`
(AUC, Gini, KS, gains), `stability` (PSI of the score and every variable by period), `monitor`
(stability, characteristic analysis, performance, calibration and alerts by
period, kept as counts that next periods add to),
`rounding_effect` (what whole points cost in AUC), `counterfactual` (the smallest
change of actionable variables that reaches a cut-off), `reject_inference`
(hard cut-off, fuzzy and parcelling augmentation with the rejected applicants).
Validation: `BinningTable.analysis` (tests between bins), `compare_auc` (DeLong),
`calibration` (Jeffreys, binomial, Hosmer-Lemeshow, Brier), `stepwise`, `vif`,
`correlation`, `logistic_fit` (variable selection on WoE columns).
Keeping a fit: pickle, `to_json`/`from_json` (exact), `to_sql` (DuckDB, SQLite,
PostgreSQL), `to_pmml`. Diagnostics: `psi`, `gini`. Transformer: `MDLPDiscretizer`.
Data to try it on: `tl.datasets.german_credit()`.
Arguments are checked before any native call: a bad one is a TypeError or
ValueError (a TargetError for the target) that names it, in English.
Charts: `BinningTable.plot`, `GiniResult.plot` (matplotlib). Report:
``python -m tessaline report DATA.csv --target COLUMN``. Editing bins in a
browser page: `studio` (``python -m tessaline studio DATA.csv --target COLUMN``). Spark DataFrames:
`tessaline.spark` (the same tables, exactly, from counts summed in Spark).
"""

from . import _earlier_paths, datasets
from ._binning import (
    BinningTable,
    categorical_binning,
    custom_binning,
    equal_width_binning,
    grouped_binning,
    mdlp_binning,
    optimal_binning,
    quantile_binning,
)
from ._binning.bin_analysis import BinAnalysis
from ._binning.continuous import continuous_binning
from ._binning.continuous_binning_table import ContinuousBinningTable
from ._binning.grid import grid_binning, grid_binning_from_counts
from ._binning.grid_table import GridBinningTable
from ._binning.multiclass import multiclass_binning, multiclass_binning_from_counts
from ._binning.multiclass_binning_table import MulticlassBinningTable
from ._calibration import Calibration, CalibrationTable, calibration
from ._column_profile import ColumnProfile
from ._continuous_table_binning import ContinuousColumnSummary, ContinuousTableBinning
from ._counterfactual import BinChange, Counterfactual, counterfactual
from ._data_overview import DataOverview, overview
from ._diagnostics import GiniResult, PSIResult, gini, psi
from ._discretizer import MDLPDiscretizer
from ._monitor_periods import (
    Alert,
    CharacteristicShift,
    MonitoringResult,
    MonitorState,
    PeriodCalibration,
    PeriodPerformance,
    Thresholds,
    keep_reference,
    monitor,
)
from ._monitoring import BinShift, StabilityReport, stability
from ._multiclass_table_binning import MulticlassColumnSummary, MulticlassTableBinning
from ._performance import (
    AucComparison,
    GainsTable,
    ScorePerformance,
    compare_auc,
    score_performance,
)
from ._reject_inference import AugmentedSample, InferredBand, reject_inference
from ._rounding import RoundingEffect, rounding_effect
from ._scorecard import Scorecard
from ._selection import (
    Decision,
    LogisticFit,
    Selection,
    StepwiseLogistic,
    correlation,
    logistic_fit,
    stepwise,
    vif,
)
from ._serialize import from_json
from ._studio import Studio, studio
from ._table_binning import ColumnSummary, TableBinning
from ._version import __version__
from ._woe import weight_of_evidence
from .exceptions import (
    DocumentError,
    EditError,
    EmptyBinWarning,
    FewEventsWarning,
    MissingDependencyError,
    NotFittedError,
    StateError,
    TargetError,
    TrendWarning,
    UnseenCategoryWarning,
    UnseenValueWarning,
)

_earlier_paths.install()

__all__ = [
    "Alert",
    "AucComparison",
    "AugmentedSample",
    "BinAnalysis",
    "BinChange",
    "BinShift",
    "BinningTable",
    "Calibration",
    "CalibrationTable",
    "CharacteristicShift",
    "ColumnProfile",
    "ColumnSummary",
    "ContinuousBinningTable",
    "ContinuousColumnSummary",
    "ContinuousTableBinning",
    "Counterfactual",
    "DataOverview",
    "Decision",
    "DocumentError",
    "EditError",
    "EmptyBinWarning",
    "FewEventsWarning",
    "GainsTable",
    "GiniResult",
    "GridBinningTable",
    "InferredBand",
    "LogisticFit",
    "MDLPDiscretizer",
    "MissingDependencyError",
    "MonitorState",
    "MonitoringResult",
    "MulticlassBinningTable",
    "MulticlassColumnSummary",
    "MulticlassTableBinning",
    "NotFittedError",
    "PSIResult",
    "PeriodCalibration",
    "PeriodPerformance",
    "RoundingEffect",
    "ScorePerformance",
    "Scorecard",
    "Selection",
    "StabilityReport",
    "StateError",
    "StepwiseLogistic",
    "Studio",
    "TableBinning",
    "TargetError",
    "Thresholds",
    "TrendWarning",
    "UnseenCategoryWarning",
    "UnseenValueWarning",
    "__version__",
    "calibration",
    "categorical_binning",
    "compare_auc",
    "continuous_binning",
    "correlation",
    "counterfactual",
    "custom_binning",
    "datasets",
    "equal_width_binning",
    "from_json",
    "gini",
    "grid_binning",
    "grid_binning_from_counts",
    "grouped_binning",
    "keep_reference",
    "logistic_fit",
    "mdlp_binning",
    "monitor",
    "multiclass_binning",
    "multiclass_binning_from_counts",
    "optimal_binning",
    "overview",
    "psi",
    "quantile_binning",
    "reject_inference",
    "rounding_effect",
    "score_performance",
    "stability",
    "stepwise",
    "studio",
    "vif",
    "weight_of_evidence",
]
