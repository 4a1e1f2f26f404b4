"""The public names: each public module's ``__all__`` exactly, so that a
name added or dropped is a decision seen in review, and every name in it
importable; every other module carries a leading underscore in its path."""

import importlib
import pathlib

import pytest
from package_under_test import tessaline

PUBLIC = {
    "tessaline": [
        "Alert", "AucComparison", "AugmentedSample", "BinAnalysis", "BinChange", "BinShift",
        "BinningTable", "Calibration", "CalibrationTable", "CharacteristicShift", "ColumnProfile",
        "ColumnSummary", "ContinuousBinningTable", "ContinuousColumnSummary",
        "ContinuousTableBinning", "Counterfactual", "DataOverview", "Decision", "DocumentError",
        "EditError", "EmptyBinWarning", "FewEventsWarning", "GainsTable", "GiniResult",
        "GridBinningTable", "InferredBand", "LogisticFit", "MDLPDiscretizer",
        "MissingDependencyError", "MonitorState", "MonitoringResult", "MulticlassBinningTable",
        "MulticlassColumnSummary", "MulticlassTableBinning", "NotFittedError", "PSIResult",
        "PeriodCalibration", "PeriodPerformance", "RoundingEffect", "ScorePerformance", "Scorecard",
        "Selection", "StabilityReport", "StateError", "StepwiseLogistic", "Studio", "TableBinning",
        "TargetError", "Thresholds", "TrendWarning", "UnseenCategoryWarning", "UnseenValueWarning",
        "__version__", "calibration", "categorical_binning", "compare_auc", "continuous_binning",
        "correlation", "counterfactual", "custom_binning", "datasets", "equal_width_binning",
        "from_json", "gini", "grid_binning", "grid_binning_from_counts", "grouped_binning",
        "keep_reference", "logistic_fit", "mdlp_binning", "monitor", "multiclass_binning",
        "multiclass_binning_from_counts", "optimal_binning", "overview", "psi", "quantile_binning",
        "reject_inference", "rounding_effect", "score_performance", "stability", "stepwise",
        "studio", "vif", "weight_of_evidence"
    ],
    "tessaline.datasets": ["german_credit"],
    "tessaline.engines": [
        "DEFAULT_MAX_DISTINCT", "count_columns", "fit", "fit_files", "monitor", "monitor_files",
        "overview", "overview_files"
    ],
    "tessaline.exceptions": [
        "DataError", "DocumentError", "EditError", "EmptyBinWarning", "FewEventsWarning",
        "MissingDependencyError", "NotFittedError", "StateError", "TargetError", "TrendWarning",
        "UnseenCategoryWarning", "UnseenValueWarning"
    ],
    "tessaline.report": ["main", "model_report"],
    "tessaline.spark": [
        "DEFAULT_MAX_DISTINCT", "bin_index", "categorical_binning", "continuous_binning",
        "count_columns", "fit", "fit_continuous", "fit_table", "gini", "mdlp_binning", "monitor",
        "optimal_binning", "psi", "quantile_binning", "threshold_flags", "transform",
        "transform_column"
    ],
}  # fmt: skip


@pytest.mark.parametrize("name", sorted(PUBLIC))
def test_the_public_names_are_exactly_these(name):
    module = importlib.import_module(name)
    assert sorted(module.__all__) == PUBLIC[name]
    missing = [n for n in module.__all__ if not hasattr(module, n)]
    assert missing == []


def test_every_module_outside_the_public_ones_is_marked_private():
    package = pathlib.Path(tessaline.__file__).parent
    paths = [p.relative_to(package.parent).with_suffix("") for p in package.rglob("*.py")]
    dotted = {".".join(p.parts).removesuffix(".__init__") for p in paths}
    unmarked = {m for m in dotted if not any(part.startswith("_") for part in m.split("."))}
    assert unmarked == set(PUBLIC)
