"""The public names: each public package's ``__all__`` exactly, so that a
name added or dropped is a decision seen in review, and every name in it
importable."""

import importlib

import pytest
from package_under_test import tessaline  # noqa: F401

PUBLIC = {
    "tessaline": [
        "Alert", "AucComparison", "AugmentedSample", "BinAnalysis", "BinChange", "BinShift",
        "BinningTable", "Calibration", "CalibrationTable", "CharacteristicShift", "ColumnProfile",
        "ColumnSummary",
        "ContinuousBinningTable", "ContinuousColumnSummary", "ContinuousTableBinning",
        "Counterfactual", "DataOverview", "Decision", "DocumentError", "EditError", "EmptyBinWarning",
        "FewEventsWarning", "GainsTable", "GiniResult", "InferredBand", "LogisticFit",
        "Counterfactual", "Decision", "DocumentError", "EditError", "EmptyBinWarning",
        "FewEventsWarning", "GainsTable", "GiniResult", "GridBinningTable", "InferredBand", "LogisticFit",
        "MDLPDiscretizer", "MissingDependencyError", "MonitorState", "MonitoringResult",
        "MulticlassBinningTable", "MulticlassColumnSummary", "MulticlassTableBinning",
        "NotFittedError", "PSIResult", "PeriodCalibration", "PeriodPerformance", "RoundingEffect",
        "ScorePerformance", "Scorecard", "Selection", "StabilityReport", "StateError",
        "StepwiseLogistic", "Studio", "TableBinning", "TargetError", "Thresholds", "TrendWarning",
        "UnseenCategoryWarning", "UnseenValueWarning", "__version__", "calibration",
        "categorical_binning", "compare_auc", "continuous_binning", "correlation",
        "counterfactual", "custom_binning", "datasets", "equal_width_binning", "from_json",
        "gini", "grouped_binning", "keep_reference", "logistic_fit", "mdlp_binning", "monitor", "optimal_binning",
        "overview",
        "gini", "grid_binning", "grid_binning_from_counts", "grouped_binning", "keep_reference", "logistic_fit", "mdlp_binning", "monitor", "optimal_binning",
        "gini", "grouped_binning", "keep_reference", "logistic_fit", "mdlp_binning", "monitor",
        "multiclass_binning", "multiclass_binning_from_counts", "optimal_binning",
        "psi", "quantile_binning", "reject_inference", "rounding_effect", "score_performance",
        "stability", "stepwise", "studio", "vif", "weight_of_evidence",
    ],
    "tessaline.binning": [
        "BinningTable", "ContinuousBinningTable", "GridBinningTable", "categorical_binning",
        "continuous_binning", "custom_binning", "equal_width_binning", "grid_binning",
        "grid_binning_from_counts", "grouped_binning", "mdlp_binning",
        "optimal_binning", "quantile_binning",
        "BinningTable", "ContinuousBinningTable", "MulticlassBinningTable", "categorical_binning",
        "continuous_binning", "custom_binning", "equal_width_binning", "grouped_binning",
        "mdlp_binning", "multiclass_binning", "multiclass_binning_from_counts", "optimal_binning",
        "quantile_binning",
    ],
    "tessaline.engines": [
        "DEFAULT_MAX_DISTINCT", "count_columns", "fit", "fit_files", "monitor", "monitor_files",
        "overview", "overview_files",
    ],
    "tessaline.monitor_periods": [
        "Alert", "CharacteristicShift", "MonitorState", "MonitoringResult", "PeriodCalibration",
        "PeriodPerformance", "Thresholds", "keep_reference", "monitor",
    ],
    "tessaline.plots": [
        "plot_binning", "plot_cap", "plot_continuous_binning", "plot_ks", "plot_lorenz",
        "plot_roc",
    ],
    "tessaline.report": ["main"],
    "tessaline.spark": [
        "DEFAULT_MAX_DISTINCT", "bin_index", "categorical_binning", "continuous_binning",
        "count_columns", "fit", "fit_continuous", "fit_table", "gini", "mdlp_binning", "monitor",
        "optimal_binning", "psi", "quantile_binning", "threshold_flags", "transform",
        "transform_column",
    ],
    "tessaline.studio": ["Studio", "studio"],
}  # fmt: skip


@pytest.mark.parametrize("name", sorted(PUBLIC))
def test_the_public_names_are_exactly_these(name):
    module = importlib.import_module(name)
    assert sorted(module.__all__) == PUBLIC[name]
    missing = [n for n in module.__all__ if not hasattr(module, n)]
    assert missing == []
