"""Binning tables: the intervals of one variable against a binary target, with
counts, event rates, weight of evidence and information value.

`mdlp_binning` finds the cut points with the supervised MDLP search;
`quantile_binning`, `equal_width_binning` and `custom_binning` take them from
the unsupervised rules. All four return a `BinningTable`.
"""
from __future__ import annotations

import math
import types
import warnings
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any, Literal, overload

import numpy as np
import numpy.typing as npt

import _tessaline

from . import _format, _target
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

# Name of the group that pools the categories below the minimum share.
OTHER = "other"


class UnseenCategoryWarning(UserWarning):
    """A category met at transform falls in no bin of the table."""


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

    Special values (``special_values``, codes such as -999 kept out of the
    search) have one row each, after the intervals and before the missing-value
    row, with ``left`` = ``right`` = the value.

    A categorical table (``kind == "categorical"``) has one row per set of
    categories instead of an interval: ``bin_categories`` names the categories
    of each bin, in ascending event-rate order, and ``left``/``right`` are the
    bin's edges in that order (category positions 0, 1, ...). Categories below
    the minimum share were pooled into one group named "other", whose members
    are ``pooled_categories``.
    """

    __slots__ = ("_columns", "_splits", "_iv", "method", "name", "metadata", "split_log",
                 "kind", "special_values", "_bin_categories", "pooled_categories")
    _length_column = "count"

    def __init__(
        self,
        summary: Mapping[str, Any],
        *,
        method: str,
        name: str | None = None,
        metadata: Mapping[str, Any] | None = None,
        split_log: Mapping[str, Any] | None = None,
        special_values: Sequence[float] = (),
        bin_categories: Sequence[tuple[str, ...]] | None = None,
        pooled_categories: Sequence[str] = (),
    ) -> None:
        columns = {key: _frozen(summary[key]) for key in SUMMARY_COLUMNS}
        self.kind = "numeric" if bin_categories is None else "categorical"
        self.special_values = tuple(float(v) for v in special_values)
        self._bin_categories = None if bin_categories is None else tuple(bin_categories)
        self.pooled_categories = tuple(pooled_categories)
        woe, iv, total = weight_of_evidence(columns["c0"], columns["c1"])
        columns["woe"] = _frozen(woe)
        columns["iv"] = _frozen(iv)
        right = columns["right"]
        self._columns = types.MappingProxyType(columns)
        # The cut points are the finite right edges of the intervals: the last
        # one ends at +inf, the special and missing-value rows follow.
        intervals = right[:len(right) - len(self.special_values) - int(self.has_missing_row)]
        self._splits = _frozen(intervals[np.isfinite(intervals)].astype(np.float64))
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
        """Number of intervals or sets of categories (special and missing-value rows not counted)."""
        return len(self) - len(self.special_values) - int(self.has_missing_row)

    @property
    def bin_categories(self) -> tuple[tuple[str, ...], ...] | None:
        """The categories of each bin of a categorical table (None for a numeric one)."""
        return self._bin_categories

    @property
    def labels(self) -> list[str]:
        """'(-inf, 2.5]', ..., '(7, +inf)', 'special -999', 'missing' (or, for a
        categorical table, 'A, B', 'C', ...): one label per row."""
        if self._bin_categories is not None:
            bins = [", ".join(names) for names in self._bin_categories]
        else:
            bins = [_format.interval(float(lo), float(hi)) for lo, hi in
                    zip(self._columns["left"][:self.n_bins], self._columns["right"][:self.n_bins])]
        specials = [f"special {_format.number(v)}" for v in self.special_values]
        return bins + specials + (["missing"] if self.has_missing_row else [])

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
        if self._bin_categories is not None:
            index = self._category_index(x)
        else:
            xs = as_float_array(x)
            index = _tessaline.binning_transform(xs, self._splits)
            for j, special in enumerate(self.special_values):
                index[xs == special] = self.n_bins + j
        if output == "index":
            return index
        intervals, specials, missing = self.woe_by_index()
        # One slot per interval, then one per special value, then one for
        # missing values, which index -1 reaches directly.
        lookup = np.concatenate((intervals, specials, [missing]))
        if len(specials):
            index = np.where(index >= self.n_bins, index - self.n_bins + len(intervals), index)
        return lookup[index]

    def woe_by_index(self) -> tuple[FloatArray, FloatArray, float]:
        """The WoE `transform` gives for each interval index (one per interval
        of the cut points, NaN for one the table has no row for), for each
        special value, and for a missing value: the missing-value row's, or 0
        (no evidence) when the table has none and is not single-class."""
        woe = np.asarray(self._columns["woe"])
        slots = len(self._splits) + 1
        known = min(self.n_bins, slots)
        intervals = np.full(slots, np.nan)
        intervals[:known] = woe[:known]
        specials = woe[self.n_bins:self.n_bins + len(self.special_values)].copy()
        if self.has_missing_row:
            missing = float(woe[-1])
        else:
            missing = math.nan if math.isnan(self._iv) else 0.0
        return intervals, specials, missing

    def _category_index(self, x: Any) -> IntArray:
        """The bin of each category: its own bin when it was seen in training;
        a pooled or unseen category goes to the bin of the "other" group when
        training had one, else to the missing-value row (index -1)."""
        from . import _categories, _native

        assert self._bin_categories is not None
        encoded = _categories.encode(x)
        bin_of = {name: b for b, names in enumerate(self._bin_categories) for name in names}
        other = bin_of.get(OTHER, -1)
        pooled = set(self.pooled_categories)
        table = np.array(
            [other if name in pooled or name not in bin_of else bin_of[name]
             for name in encoded.names], dtype=np.int64)
        unseen = [n for n in encoded.names if n not in bin_of and n not in pooled]
        if unseen and other < 0 and not self.has_missing_row:
            warnings.warn(
                f"categories not seen in training ({', '.join(map(repr, unseen[:5]))}"
                f"{', ...' if len(unseen) > 5 else ''}) fall in no bin of {self.title()!r}: "
                "index -1 and WoE 0", UnseenCategoryWarning, stacklevel=3)
        return _native.lookup_codes_int(encoded.codes, table, -1)

    def to_json(self, indent: int | None = None) -> str:
        """The table as a JSON document (cut points, categories, special values,
        rows with their counts, WoE and IV as exact hexadecimal floats) from
        which `from_json` rebuilds a table that transforms bit for bit alike."""
        from .serialize import binning_to_dict, dumps

        return dumps(binning_to_dict(self), indent)

    def to_sql(self, column: str | None = None, *, output: Literal["woe", "index"] = "woe",
               dialect: Literal["duckdb", "sqlite"] = "duckdb") -> str:
        """An SQL CASE expression that scores the column `column` (default: the
        table's name) in DuckDB or SQLite exactly as `transform` does; NaN WoE
        is NULL. See `tessaline.sql` for the rules it follows."""
        from .sql import binning_sql

        return binning_sql(self, column, output=output, dialect=dialect)

    @classmethod
    def from_json(cls, text: str | bytes) -> BinningTable:
        """The table a document of `to_json` describes; a document of another
        kind, of a newer version, or malformed raises `DocumentError`."""
        from .serialize import BINNING_SCHEMA, read

        table: BinningTable = read(text, BINNING_SCHEMA)
        return table

    def to_frame(self) -> pandas.DataFrame:
        """The table as a pandas DataFrame: a ``bin`` label column, then every column."""
        try:
            import pandas
        except ImportError as error:
            raise ImportError(
                "BinningTable.to_frame needs pandas: pip install 'tessaline[pandas]'"
            ) from error
        frame = pandas.DataFrame({key: np.array(v) for key, v in self._columns.items()},
                                 copy=False)
        frame.insert(0, "bin", self.labels)
        return frame

    def plot(self, ax: Axes | None = None) -> Axes:
        """Counts per bin as bars and the event rate as a line (needs matplotlib)."""
        from .plots import plot_binning

        return plot_binning(self, ax=ax)

    # -- printing --------------------------------------------------------------
    def title(self) -> str:
        what = f"'{self.name}'" if self.name is not None else "variable"
        specials = len(self.special_values)
        return (f"{self.method} binning of {'categorical ' if self._bin_categories else ''}"
                f"{what}: {self.n_bins} bin{'s' if self.n_bins != 1 else ''}"
                f"{f' + {specials} special' if specials else ''}"
                f"{' + missing' if self.has_missing_row else ''}, "
                f"IV {_format.fixed(self._iv, 4)} ({iv_strength(self._iv)})")

    @property
    def header(self) -> tuple[str, ...]:
        """The printed header: `HEADER`, with "categories" for a categorical table."""
        if self._bin_categories is None:
            return self.HEADER
        return tuple("categories" if h == "interval" else h for h in self.HEADER)

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
        return self.title() + "\n" + _format.text_table(self.header, self.rows(), self.TEXT_COLUMNS)

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
    event: Any = None,
    value: float | None = None,
    percentile: float | None = None,
    special_values: Sequence[float] = (),
    representative: Literal["median", "mean"] = "median",
    name: str | None = None,
) -> BinningTable:
    """Supervised binning of `x` against the target `y` by the MDLP split search.

    `y` is 0/1 or boolean (1 = event); with `event`, rows of `y` equal to it
    are events and other present values non-events (``event="bad"``); a
    numeric target is turned into 0/1 at the fixed threshold `value` or at its
    `percentile` (an event is strictly above the threshold). Any other target
    is an error naming the distinct values found. Rows whose `y` is missing, or
    whose `x` or `y` is infinite, are left out; rows whose `x` alone is missing
    form the last row of the table. Values listed in `special_values` (codes
    such as -999) are kept out of the search and get a row each, before the
    missing-value row; the shares of all rows are then taken over all of them.

    Each side of a cut must hold more than `minobs` records (default: 5% of the
    rows given, rounded down). `monotonicity` (0 to 3) with `mono_dir` (+1 or
    -1) can require the event rate to rise or fall across each cut;
    `alpha_pos` and `beta_struct` weigh the two cost terms of the stopping
    rule (the cost of naming the cut's position and of describing the two
    sides): a cut is kept when its information gain exceeds the weighted
    cost, so raising either makes cuts rarer and bins fewer and wider, and
    lowering it (toward 0) lets more cuts through, down to the `minobs` limit; `force_first_split` keeps the best first cut even when the rule
    rejects it. `representative` ("median" or "mean") summarises `x` per row.

    The table's columns are those of `_tessaline.mdlp_full_raw`'s summary, plus
    ``woe`` and ``iv`` (formula in `BinningTable`); ``table.metadata`` holds its
    preprocessing counters and ``table.split_log`` the log of the search.
    Errors of the native module are raised unchanged.
    """
    xs = as_float_array(x)
    specials = checked_special_values(special_values)
    if event is None and not specials and (value is not None or percentile is not None) \
            and _target.is_numeric(y):
        # The native pipeline binarises at the threshold and reports it.
        ys = as_float_array(y)
    else:
        ys = _target.event_flags(y, event=event, value=value, percentile=percentile)
    if minobs is None:
        minobs = default_minobs(xs.size)
    is_special = np.isin(xs, specials) if specials and xs.size == ys.size else None
    searched = (xs, ys) if is_special is None else (xs[~is_special], ys[~is_special])
    result = _tessaline.mdlp_full_raw(
        *searched, minobs, monotonicity, mono_dir, alpha_pos, beta_struct, force_first_split,
        value, 50.0 if percentile is None else percentile, representative,
    )
    summary: Mapping[str, Any] = result["summary"]
    metadata: dict[str, Any] = dict(result["metadata"])
    if is_special is not None:
        summary = with_special_rows(summary, xs[is_special], ys[is_special], specials)
        metadata["n_special"] = int(is_special.sum())
    return BinningTable(
        summary, method="mdlp", name=name if name is not None else column_name(x),
        metadata=metadata, split_log=result["mdlp"], special_values=specials,
    )


def checked_special_values(values: Sequence[float]) -> tuple[float, ...]:
    """Special values as distinct finite floats, in the order given."""
    specials: list[float] = []
    for value in values:
        number = float(value)
        if not math.isfinite(number):
            raise ValueError(f"special values must be finite numbers, not {value!r}")
        if number not in specials:
            specials.append(number)
    return tuple(specials)


def with_special_rows(summary: Mapping[str, Any], xs: FloatArray, flags: FloatArray,
                      specials: Sequence[float]) -> dict[str, npt.NDArray[Any]]:
    """The summary's intervals, one row per special value (its rows of `xs`
    with their event flags), then the summary's missing-value row; the shares
    are recounted over all rows."""
    c0 = [int(np.sum((xs == v) & (flags == 0.0))) for v in specials]
    c1 = [int(np.sum((xs == v) & (flags == 1.0))) for v in specials]
    return with_special_counts(summary, specials, c0, c1)


def with_special_counts(summary: Mapping[str, Any], specials: Sequence[float],
                        c0: Sequence[int], c1: Sequence[int]) -> dict[str, npt.NDArray[Any]]:
    """`with_special_rows` from the non-events `c0` and events `c1` of each
    special value."""
    left = np.asarray(summary["left"])
    n_intervals = int(np.sum(~np.isnan(left)))
    rows = {
        "left": list(specials), "right": list(specials),
        "count": [a + b for a, b in zip(c0, c1)], "c0": c0, "c1": c1,
        "event_rate": [b / (a + b) if a + b else 0.0 for a, b in zip(c0, c1)],
        "representative": list(specials),
    }
    out: dict[str, npt.NDArray[Any]] = {}
    for key in SUMMARY_COLUMNS:
        if key == "percentage":
            continue
        column = np.asarray(summary[key])
        out[key] = np.concatenate((column[:n_intervals], np.asarray(rows[key], dtype=column.dtype),
                                   column[n_intervals:]))
    total = int(out["count"].sum())
    out["percentage"] = out["count"] / total if total else np.zeros(len(out["count"]))
    return {key: out[key] for key in SUMMARY_COLUMNS}


def _unsupervised(
    x: npt.ArrayLike, y: npt.ArrayLike, method: str, n_bins: int, range: str,
    lower_quantile: float, upper_quantile: float, k: float, custom_splits: npt.ArrayLike,
    representative: str, name: str | None, event: Any = None,
) -> BinningTable:
    # Without `event` a target other than 0/1 is left to the native summary,
    # whose message names the rule it breaks.
    xs, labels = labelled_rows(x, y if event is None else _target.event_flags(y, event=event))
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
    event: Any = None,
) -> BinningTable:
    """Binning of `x` at its quantiles i / n_bins (repeated cut points collapse,
    so ties give fewer bins), summarised against the 0/1 target `y` (or the
    rows equal to `event`, as in `mdlp_binning`).

    Rows whose `y` is missing are left out, also from the quantiles; any other
    `y` than 0 and 1 (without `event`) is an error of the native summary.
    Errors of the native module are raised unchanged.
    """
    return _unsupervised(x, y, "quantile", n_bins, "full", 0.0, 1.0, 0.0, _NO_SPLITS,
                         representative, name, event)


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
    event: Any = None,
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
                         _NO_SPLITS, representative, name, event)


def custom_binning(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    splits: npt.ArrayLike,
    *,
    representative: Literal["median", "mean"] = "median",
    name: str | None = None,
    event: Any = None,
) -> BinningTable:
    """Binning of `x` at the given cut points (finite and strictly increasing),
    summarised against the 0/1 target `y`. Rows whose `y` is missing are left
    out. Errors of the native module are raised unchanged.
    """
    return _unsupervised(x, y, "custom", 0, "full", 0.0, 1.0, 0.0,
                         as_float_array(splits) if np.ndim(splits) <= 1 else splits,
                         representative, name, event)
