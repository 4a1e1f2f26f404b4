"""Binning tables: the intervals of one variable against a binary target, with
counts, event rates, weight of evidence and information value.

`mdlp_binning` finds the cut points with the supervised MDLP search;
`quantile_binning`, `equal_width_binning` and `custom_binning` take them from
the unsupervised rules. All four return a `BinningTable`.
"""
from __future__ import annotations

import math
import types
from collections.abc import Mapping
from typing import TYPE_CHECKING, Any, Literal, overload

import numpy as np
import numpy.typing as npt

import _tessaline

from . import _format
from ._arrays import (
    ColumnTable,
    FloatArray,
    IntArray,
    as_float_array,
    column_name,
    labelled_rows,
)
from .woe import iv_strength, weight_of_evidence

if TYPE_CHECKING:
    import pandas
    from matplotlib.axes import Axes

# Columns of a table, in order: the native per-bin summary, then the evidence.
SUMMARY_COLUMNS = (
    "left", "right", "count", "percentage", "c0", "c1", "event_rate", "representative",
)
COLUMNS = (*SUMMARY_COLUMNS, "woe", "iv")

# Share of the rows that each side of an MDLP cut must exceed when `minobs`
# is not given.
DEFAULT_MIN_SHARE = 0.05

_NO_SPLITS = np.empty(0, dtype=np.float64)


def _frozen(values: Any) -> npt.NDArray[Any]:
    array = np.array(values, copy=True)
    array.setflags(write=False)
    return array


class BinningTable(ColumnTable):
    """The binning of one variable against a binary target.

    One row per interval (-inf, t1], (t1, t2], ..., (tk, +inf), closed on the
    right, then one row for the records whose value is missing when there are
    any. Columns, read with ``table["name"]`` or ``table.columns``:

    - ``left``, ``right``: interval edges (NaN for the missing-value row);
    - ``count``, ``percentage``: records in the row and their share of all rows;
    - ``c0``, ``c1``: non-events (target 0) and events (target 1);
    - ``event_rate``: c1 / count;
    - ``representative``: median (or mean) of the variable in the row;
    - ``woe``, ``iv``: weight of evidence and information value of the row.

    Weight of evidence and information value, with C0 and C1 the table's
    total non-events and events::

        WoE_i = ln((c1_i / C1) / (c0_i / C0))
        IV_i  = (c1_i / C1 - c0_i / C0) * WoE_i,     IV = sum of IV_i

    A positive WoE means riskier than the whole population. An empty class in a
    row (c0_i = 0 or c1_i = 0) is counted as 0.5 in that row's WoE and IV term;
    the totals stay the counted ones. A row without records has WoE 0 and IV 0;
    a table holding a single class has NaN WoE and IV. The missing-value row
    takes part like any other row.
    """

    __slots__ = ("_columns", "_splits", "_iv", "method", "name", "metadata", "split_log")
    _length_column = "count"

    def __init__(
        self,
        summary: Mapping[str, Any],
        *,
        method: str,
        name: str | None = None,
        metadata: Mapping[str, Any] | None = None,
        split_log: Mapping[str, Any] | None = None,
    ) -> None:
        columns = {key: _frozen(summary[key]) for key in SUMMARY_COLUMNS}
        woe, iv, total = weight_of_evidence(columns["c0"], columns["c1"])
        columns["woe"] = _frozen(woe)
        columns["iv"] = _frozen(iv)
        right = columns["right"]
        self._columns = types.MappingProxyType(columns)
        # The cut points are the finite right edges: the last interval ends at
        # +inf and the missing-value row at NaN.
        self._splits = _frozen(right[np.isfinite(right)].astype(np.float64))
        self._iv = total
        self.method = method
        self.name = name
        self.metadata = None if metadata is None else dict(metadata)
        self.split_log = (
            None if split_log is None
            else types.MappingProxyType({k: _frozen(v) for k, v in split_log.items()})
        )

    # -- reading ---------------------------------------------------------------
    @property
    def splits(self) -> FloatArray:
        """The cut points t1 < ... < tk (a value equal to a cut falls in the lower bin)."""
        return self._splits

    @property
    def information_value(self) -> float:
        """Total information value: the sum of the rows' IV (NaN for a single-class table)."""
        return self._iv

    @property
    def has_missing_row(self) -> bool:
        """Whether the last row holds the records whose value is missing."""
        left = self._columns["left"]
        return len(left) > 0 and math.isnan(float(left[-1]))

    @property
    def n_bins(self) -> int:
        """Number of intervals (the missing-value row not counted)."""
        return len(self) - int(self.has_missing_row)

    @property
    def labels(self) -> list[str]:
        """'(-inf, 2.5]', ..., '(7, +inf)', 'missing': one label per row."""
        return [
            _format.interval(float(lo), float(hi))
            for lo, hi in zip(self._columns["left"], self._columns["right"])
        ]

    # -- using -----------------------------------------------------------------
    @overload
    def transform(self, x: npt.ArrayLike, output: Literal["index"] = "index") -> IntArray: ...
    @overload
    def transform(self, x: npt.ArrayLike, output: Literal["woe"]) -> FloatArray: ...

    def transform(
        self, x: npt.ArrayLike, output: Literal["index", "woe"] = "index"
    ) -> FloatArray | IntArray:
        """Bin new values with this table's cut points.

        ``output="index"`` gives each value's interval number (0 for the first
        interval, -1 for a missing value), as an int64 array.
        ``output="woe"`` gives each value's weight of evidence as float64: a
        missing value gets the missing-value row's WoE, or 0 (no evidence) when
        the table has no such row.
        """
        if output not in ("index", "woe"):
            raise ValueError(f"output must be 'index' or 'woe', not {output!r}")
        index = _tessaline.binning_transform(as_float_array(x), self._splits)
        if output == "index":
            return index
        # One slot per interval, then one for missing values, which index -1
        # reaches directly.
        slots = len(self._splits) + 1
        lookup = np.full(slots + 1, np.nan)
        known = min(self.n_bins, slots)
        woe = self._columns["woe"]
        lookup[:known] = woe[:known]
        if self.has_missing_row:
            lookup[-1] = woe[-1]
        elif not math.isnan(self._iv):
            lookup[-1] = 0.0
        return lookup[index]

    def to_frame(self) -> pandas.DataFrame:
        """The table as a pandas DataFrame: a ``bin`` label column, then every column."""
        try:
            import pandas
        except ImportError as error:
            raise ImportError(
                "BinningTable.to_frame needs pandas: pip install 'tessaline[pandas]'"
            ) from error
        frame = pandas.DataFrame({key: np.array(v) for key, v in self._columns.items()})
        frame.insert(0, "bin", self.labels)
        return frame

    def plot(self, ax: Axes | None = None) -> Axes:
        """Counts per bin as bars and the event rate as a line (needs matplotlib)."""
        from .plots import plot_binning

        return plot_binning(self, ax=ax)

    # -- printing --------------------------------------------------------------
    def title(self) -> str:
        what = f"'{self.name}'" if self.name is not None else "variable"
        return (f"{self.method} binning of {what}: {self.n_bins} bin"
                f"{'s' if self.n_bins != 1 else ''}"
                f"{' + missing' if self.has_missing_row else ''}, "
                f"IV {_format.fixed(self._iv, 4)} ({iv_strength(self._iv)})")

    def rows(self) -> list[list[str]]:
        """The printed cells of each row (the header is `HEADER`)."""
        c = self._columns
        return [
            [
                str(i), label, str(int(c["count"][i])), _format.percent(float(c["percentage"][i])),
                str(int(c["c0"][i])), str(int(c["c1"][i])), _format.percent(float(c["event_rate"][i])),
                _format.fixed(float(c["woe"][i]), 3), _format.fixed(float(c["iv"][i]), 4),
                "-" if math.isnan(float(c["representative"][i]))
                else _format.number(float(c["representative"][i])),
            ]
            for i, label in enumerate(self.labels)
        ]

    HEADER = ("#", "interval", "count", "share", "non-events", "events", "event rate",
              "WoE", "IV", "representative")
    TEXT_COLUMNS = (1,)  # left-aligned; numbers are right-aligned

    def __str__(self) -> str:
        return self.title() + "\n" + _format.text_table(self.HEADER, self.rows(), self.TEXT_COLUMNS)

    def __repr__(self) -> str:
        return f"<BinningTable {self.title()}>"

    def _repr_html_(self) -> str:
        from ._html import binning_table_html

        return binning_table_html(self)


def default_minobs(n_rows: int) -> int:
    """`minobs` when none is given: 5% of the rows, rounded down."""
    return int(DEFAULT_MIN_SHARE * n_rows)


def mdlp_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    minobs: int | None = None,
    monotonicity: int = 0,
    mono_dir: int = 0,
    alpha_pos: float = 1.0,
    beta_struct: float = 1.0,
    force_first_split: bool = False,
    value: float | None = None,
    percentile: float = 50.0,
    representative: Literal["median", "mean"] = "median",
    name: str | None = None,
) -> BinningTable:
    """Supervised binning of `x` against the target `y` by the MDLP split search.

    `y` is 0/1 (1 = event), or a numeric target turned into 0/1 at the fixed
    threshold `value` or at its `percentile` (an event is strictly above the
    threshold). Rows whose `y` is missing, or whose `x` or `y` is infinite, are
    left out; rows whose `x` alone is missing form the last row of the table.

    Each side of a cut must hold more than `minobs` records (default: 5% of the
    rows given, rounded down). `monotonicity` (0 to 3) with `mono_dir` (+1 or
    -1) can require the event rate to rise or fall across each cut;
    `alpha_pos` and `beta_struct` weigh the two cost terms of the stopping
    rule; `force_first_split` keeps the best first cut even when the rule
    rejects it. `representative` ("median" or "mean") summarises `x` per row.

    The table's columns are those of `_tessaline.mdlp_full_raw`'s summary, plus
    ``woe`` and ``iv`` (formula in `BinningTable`); ``table.metadata`` holds its
    preprocessing counters and ``table.split_log`` the log of the search.
    Errors of the native module are raised unchanged.
    """
    xs = as_float_array(x)
    ys = as_float_array(y)
    if minobs is None:
        minobs = default_minobs(xs.size)
    result = _tessaline.mdlp_full_raw(
        xs, ys, minobs, monotonicity, mono_dir, alpha_pos, beta_struct, force_first_split,
        value, percentile, representative,
    )
    return BinningTable(
        result["summary"], method="mdlp", name=name if name is not None else column_name(x),
        metadata=result["metadata"], split_log=result["mdlp"],
    )


def _unsupervised(
    x: npt.ArrayLike, y: npt.ArrayLike, method: str, n_bins: int, range: str,
    lower_quantile: float, upper_quantile: float, k: float, custom_splits: npt.ArrayLike,
    representative: str, name: str | None,
) -> BinningTable:
    xs, labels = labelled_rows(x, y)
    if xs.size != labels.size:
        # Let the summary report the length mismatch before any cut point is sought.
        _tessaline.binning_summary_binary(xs, labels, _NO_SPLITS, representative)
    splits = _tessaline.binning_splits(
        xs, method, n_bins, range, lower_quantile, upper_quantile, k, custom_splits
    )
    summary = _tessaline.binning_summary_binary(xs, labels, splits, representative)
    return BinningTable(summary, method=method, name=name if name is not None else column_name(x))


def quantile_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    n_bins: int = 10,
    representative: Literal["median", "mean"] = "median",
    name: str | None = None,
) -> BinningTable:
    """Binning of `x` at its quantiles i / n_bins (repeated cut points collapse,
    so ties give fewer bins), summarised against the 0/1 target `y`.

    Rows whose `y` is missing are left out, also from the quantiles; any other
    `y` than 0 and 1 is an error of the native summary. Errors of the native
    module are raised unchanged.
    """
    return _unsupervised(x, y, "quantile", n_bins, "full", 0.0, 1.0, 0.0, _NO_SPLITS,
                         representative, name)


def equal_width_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    n_bins: int = 10,
    range: Literal["full", "quantile", "iqr"] = "full",
    lower_quantile: float = 0.05,
    upper_quantile: float = 0.95,
    k: float = 1.5,
    representative: Literal["median", "mean"] = "median",
    name: str | None = None,
) -> BinningTable:
    """Binning of `x` into `n_bins` intervals of equal width, summarised against
    the 0/1 target `y`.

    The width spreads over the finite range of `x` (``range="full"``), between
    two of its quantiles (``"quantile"``, with `lower_quantile` and
    `upper_quantile`), or over the quartiles widened by `k` interquartile ranges
    (``"iqr"``); values beyond fall in the first or last interval. Rows whose
    `y` is missing are left out. Errors of the native module are raised unchanged.
    """
    return _unsupervised(x, y, "equal_width", n_bins, range, lower_quantile, upper_quantile, k,
                         _NO_SPLITS, representative, name)


def custom_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    splits: npt.ArrayLike,
    *,
    representative: Literal["median", "mean"] = "median",
    name: str | None = None,
) -> BinningTable:
    """Binning of `x` at the given cut points (finite and strictly increasing),
    summarised against the 0/1 target `y`. Rows whose `y` is missing are left
    out. Errors of the native module are raised unchanged.
    """
    return _unsupervised(x, y, "custom", 0, "full", 0.0, 1.0, 0.0,
                         as_float_array(splits) if np.ndim(splits) <= 1 else splits,
                         representative, name)
