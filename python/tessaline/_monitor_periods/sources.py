"""Monitoring where the data live: the periods of a SQL table, of Parquet
or CSV files, or of a Spark DataFrame, counted there (`engines.monitor`,
`spark.monitor`), against the development sample, its counts kept in a
`MonitorState`, or one of the periods."""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import replace
from typing import Any

from .._core import checks
from .._scorecard import Scorecard
from .._table_binning import TableBinning
from .alerts import Thresholds
from .counts import Layout, PeriodCounts, check_layout, count_period, layout_of
from .result import MonitoringResult
from .state import DEVELOPMENT, MonitorState, resolved_reference

# Counts every period of the data: (layout or None, reference_period) ->
# the layout (that of the reference period when none is given) and the
# counts of every period in time order.
Counter = Callable[[Layout | None, str | None], tuple[Layout, dict[str, PeriodCounts]]]


def monitored(
    model: Scorecard | TableBinning,
    count: Counter,
    *,
    target: Any,
    reference: Any,
    reference_period: str | None,
    score_bands: int,
    thresholds: Thresholds | None,
) -> MonitoringResult:
    """The result of the periods `count` gives against the reference."""
    reference = resolved_reference(model, reference, reference_period)
    checks.whole_number("score_bands", score_bands, 1)
    if reference_period is not None:
        layout, periods = count(None, str(reference_period))
        state = MonitorState(layout, str(reference_period), periods[str(reference_period)])
    elif isinstance(reference, MonitorState):
        check_layout(model, reference.layout)
        # Where the data live every row of a period counts once; weighted
        # reference counts (sums of the development rows' weights) are
        # numbers its shares are read from like any others.
        unweighted = replace(reference.layout, weight=None)
        state = MonitorState(unweighted, reference.reference_label, reference.reference)
        layout, periods = count(unweighted, None)
    else:
        layout = layout_of(model, reference, score_bands)
        state = MonitorState(layout, DEVELOPMENT, count_period(model, layout, reference, target))
        layout, periods = count(layout, None)
    return MonitorState(state.layout, state.reference_label, state.reference, periods).result(
        thresholds
    )


__all__ = ["Counter", "monitored"]
