"""Where the modules of earlier versions live now.

A pickle names each class by the path of the module that defines it. The
package's internal modules have since moved (they carry a leading underscore,
so that what is public is what ``__all__`` lists), and some were renamed; their
earlier paths still lead to them, so what was pickled before loads and
``from tessaline.binning import BinningTable`` still runs. Modules the package
has already imported are registered at once; the others load on first use.
A registered earlier path is never set as an attribute of its package: several
(``tessaline.calibration``, ``tessaline.studio``, ...) are also the names of
public functions, which must stay what ``tessaline.calibration`` is.
"""

from __future__ import annotations

import importlib
import importlib.abc
import importlib.machinery
import importlib.util
import sys
from types import ModuleType

EARLIER_PATHS = {
    "tessaline.binning": "tessaline._binning",
    "tessaline.binning.analysis": "tessaline._binning.bin_analysis",
    "tessaline.binning.basis": "tessaline._binning.basis",
    "tessaline.binning.batches": "tessaline._binning.batches",
    "tessaline.binning.bin_analysis": "tessaline._binning.bin_analysis",
    "tessaline.binning.bin_rows": "tessaline._binning.bin_rows",
    "tessaline.binning.binning_table": "tessaline._binning.binning_table",
    "tessaline.binning.categorical": "tessaline._binning.categorical",
    "tessaline.binning.column_counts": "tessaline._binning.column_counts",
    "tessaline.binning.columns": "tessaline._binning.columns",
    "tessaline.binning.continuous": "tessaline._binning.continuous",
    "tessaline.binning.continuous_analysis": "tessaline._binning.continuous_analysis",
    "tessaline.binning.continuous_binning_table": "tessaline._binning.continuous_binning_table",
    "tessaline.binning.continuous_table": "tessaline._binning.continuous_binning_table",
    "tessaline.binning.counts": "tessaline._binning.column_counts",
    "tessaline.binning.edit_log": "tessaline._binning.edit_log",
    "tessaline.binning.editing": "tessaline._binning.editing",
    "tessaline.binning.grouped": "tessaline._binning.grouped",
    "tessaline.binning.numeric": "tessaline._binning.numeric",
    "tessaline.binning.optimal": "tessaline._binning.optimal",
    "tessaline.binning.options": "tessaline._binning.options",
    "tessaline.binning.rare": "tessaline._binning.rare",
    "tessaline.binning.special": "tessaline._binning.special",
    "tessaline.binning.table": "tessaline._binning.binning_table",
    "tessaline.binning.weights": "tessaline._binning.weights",
    "tessaline.calibration": "tessaline._calibration",
    "tessaline.continuous_table": "tessaline._continuous_table_binning",
    "tessaline.continuous_table_binning": "tessaline._continuous_table_binning",
    "tessaline.counterfactual": "tessaline._counterfactual",
    "tessaline.counting": "tessaline._counting",
    "tessaline.diagnostics": "tessaline._diagnostics",
    "tessaline.discretizer": "tessaline._discretizer",
    "tessaline.engines.copied": "tessaline.engines._copied",
    "tessaline.engines.dialects": "tessaline.engines._dialects",
    "tessaline.engines.fetch": "tessaline.engines._fetch",
    "tessaline.engines.memory": "tessaline.engines._memory",
    "tessaline.engines.monitor_queries": "tessaline.engines._monitor_queries",
    "tessaline.engines.queries": "tessaline.engines._queries",
    "tessaline.engines.stream": "tessaline.engines._stream",
    "tessaline.formats": "tessaline._formats",
    "tessaline.formats.document": "tessaline._formats.document",
    "tessaline.formats.html_table": "tessaline._formats.html_table",
    "tessaline.formats.pmml": "tessaline._formats.pmml",
    "tessaline.formats.sql": "tessaline._formats.sql",
    "tessaline.monitor_periods": "tessaline._monitor_periods",
    "tessaline.monitor_periods.alerts": "tessaline._monitor_periods.alerts",
    "tessaline.monitor_periods.counts": "tessaline._monitor_periods.counts",
    "tessaline.monitor_periods.measures": "tessaline._monitor_periods.measures",
    "tessaline.monitor_periods.period_groups": "tessaline._monitor_periods.period_groups",
    "tessaline.monitor_periods.periods": "tessaline._monitor_periods.periods",
    "tessaline.monitor_periods.result": "tessaline._monitor_periods.result",
    "tessaline.monitor_periods.sources": "tessaline._monitor_periods.sources",
    "tessaline.monitor_periods.state": "tessaline._monitor_periods.state",
    "tessaline.monitoring": "tessaline._monitoring",
    "tessaline.performance": "tessaline._performance",
    "tessaline.plots": "tessaline._plots",
    "tessaline.plots.binning": "tessaline._plots.binning",
    "tessaline.plots.calibration_plot": "tessaline._plots.calibration_plot",
    "tessaline.plots.score": "tessaline._plots.score",
    "tessaline.reject_inference": "tessaline._reject_inference",
    "tessaline.report.analysis": "tessaline.report._analysis",
    "tessaline.report.arrow_arrays": "tessaline.report._arrow_arrays",
    "tessaline.report.arrow_stream": "tessaline.report._arrow_stream",
    "tessaline.report.cells": "tessaline.report._cells",
    "tessaline.report.command": "tessaline.report._command",
    "tessaline.report.dataset": "tessaline.report._dataset",
    "tessaline.report.html_report": "tessaline.report._html_report",
    "tessaline.report.model": "tessaline.report._model",
    "tessaline.report.monitor_command": "tessaline.report._monitor_command",
    "tessaline.report.monitor_page": "tessaline.report._monitor_page",
    "tessaline.report.samples": "tessaline.report._samples",
    "tessaline.rounding": "tessaline._rounding",
    "tessaline.score_scaling": "tessaline._score_scaling",
    "tessaline.scorecard": "tessaline._scorecard",
    "tessaline.selection": "tessaline._selection",
    "tessaline.serialize": "tessaline._serialize",
    "tessaline.studio": "tessaline._studio",
    "tessaline.studio.api": "tessaline._studio.api",
    "tessaline.studio.handover": "tessaline._studio.handover",
    "tessaline.studio.launch": "tessaline._studio.launch",
    "tessaline.studio.server": "tessaline._studio.server",
    "tessaline.studio.session": "tessaline._studio.session",
    "tessaline.studio.studio_command": "tessaline._studio.studio_command",
    "tessaline.studio.views": "tessaline._studio.views",
    "tessaline.table": "tessaline._table_binning",
    "tessaline.table_binning": "tessaline._table_binning",
    "tessaline.table_binning_base": "tessaline._table_binning_base",
    "tessaline.woe": "tessaline._woe",
}


class _EarlierPathFinder(importlib.abc.MetaPathFinder, importlib.abc.Loader):
    """Answers an earlier path with the module that lives at its new one."""

    def find_spec(
        self, fullname: str, path: object = None, target: object = None
    ) -> importlib.machinery.ModuleSpec | None:
        if fullname not in EARLIER_PATHS:
            return None
        return importlib.util.spec_from_loader(fullname, self)

    def create_module(self, found: importlib.machinery.ModuleSpec) -> ModuleType:
        return importlib.import_module(EARLIER_PATHS[found.name])

    def exec_module(self, module: ModuleType) -> None:
        """The module ran when it was imported under its current name."""


def install() -> None:
    """Register the earlier paths of the modules already imported, and
    answer the rest on demand (first in line: an earlier path inside a moved
    package would otherwise load a second copy of its module)."""
    for earlier, current in EARLIER_PATHS.items():
        if current in sys.modules:
            sys.modules.setdefault(earlier, sys.modules[current])
    if not any(isinstance(finder, _EarlierPathFinder) for finder in sys.meta_path):
        sys.meta_path.insert(0, _EarlierPathFinder())
