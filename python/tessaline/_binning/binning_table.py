"""The binning table of one variable: its rows (intervals, sets of
categories, special values, missing values) with counts, event rates,
weight of evidence and information value, its transform, and its document."""

from __future__ import annotations

import math
import types
import warnings
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any, ClassVar, Literal, overload

import numpy as np
import numpy.typing as npt

from .._core import checks, native, printing
from .._core.arrays import FloatArray, IntArray
from .._core.categories import OTHER
from .._core.placement import MISSING_SLOT
from .._core.result_frames import FrameKind, columns_frame
from .._formats import document, sql
from .._formats.html_table import binning_table_html
from .._plots.binning import plot_binning
from .._woe import iv_strength, weight_of_evidence
from ..exceptions import DocumentError, UnseenCategoryWarning, UnseenValueWarning
from .basis import EditBasis
from .bin_analysis import BinAnalysis, bin_analysis
from .bin_rows import (
    BinRows,
    check_edges,
    document_kind,
    document_metadata,
    document_name,
    frozen,
    row_floats,
    row_values,
)
from .columns import SUMMARY_COLUMNS
from .edit_log import (
    Edit,
    check_log,
    edit_dict,
    edits_from_list,
    log_text,
    log_version,
    trend_of,
)
from .editing import EditableTable, measures

if TYPE_CHECKING:
    from matplotlib.axes import Axes

# Columns of a row written as integers in a document; the others are floats.
INTEGER_COLUMNS = ("count", "c0", "c1")
# How far, in units in the last place, a document's WoE and IV may be from
# what its counts give here (another machine's logarithm may round apart).
EVIDENCE_ULPS = 8
# The largest count a document may hold: every count is exact in a double.
MAX_COUNT = 2**53
# What `transform(unseen=...)` accepts beside a number.
UNSEEN_CHOICES = ("zero", "riskiest")
# What `transform(output=...)` gives: the row's index or its WoE.
OUTPUTS = ("index", "woe")
Unseen = Literal["zero", "riskiest"] | float


class BinningTable(BinRows, EditableTable):
    """The binning of one variable against a binary target.

    One row per interval (-inf, t1], (t1, t2], ..., (tk, +inf), closed on the
    right, then one row for the records whose value is missing when there are
    any. Columns, read with ``table["name"]`` or ``table.columns``:

    - ``left``, ``right``: interval edges (NaN for the missing-value row);
    - ``count``, ``percentage``: records in the row and their share of all rows;
    - ``c0``, ``c1``: non-events (target 0) and events (target 1);
    - ``rows`` (fitted with ``sample_weight`` only): the records in the row,
      as integers, while ``count``, ``c0`` and ``c1`` are then the sums of the
      rows' weights (floats), and shares, event rates, WoE and IV are read
      from those weights (records of weight 0 are left out altogether);
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
    the minimum share were pooled into one group, whose members are
    ``pooled_categories``, in the bin ``pooled_bin`` (None without pooling);
    its label reads "other (pooled: ...)". The group has no name among
    ``bin_categories``, so a real category named "other" stays apart.

    A table keeps the counts it was built from (``basis``), so that an
    analyst's edit (`merge`, `split`, `with_cuts`, `add_cut`, `remove_cut`,
    `move_cut`, `move`, `send_unseen_to`, `add_special`, `remove_special`)
    gives a new table without reading the rows again; ``edits`` is the log of
    the edits that made it, which its document and printout carry.
    """

    __slots__ = ("_iv", "split_log", "pooled_categories", "pooled_bin", "basis", "edits")
    SCHEMA = document.BINNING_SCHEMA
    _slot_defaults: ClassVar[dict[str, Any]] = {"basis": None, "edits": ()}

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
        pooled_bin: int | None = None,
        basis: EditBasis | None = None,
        edits: Sequence[Edit] = (),
    ) -> None:
        columns = {key: frozen(summary[key]) for key in weighted_columns(summary)}
        self.basis = basis
        self.edits = tuple(edits)
        self.pooled_categories = tuple(pooled_categories)
        self.pooled_bin = pooled_bin
        woe, iv, total = weight_of_evidence(columns["c0"], columns["c1"])
        columns["woe"] = frozen(woe)
        columns["iv"] = frozen(iv)
        self._place_rows(
            types.MappingProxyType(columns),
            method=method,
            name=name,
            metadata=metadata,
            special_values=special_values,
            bin_categories=bin_categories,
        )
        self._iv = total
        self.split_log = (
            None
            if split_log is None
            else types.MappingProxyType({k: frozen(v) for k, v in split_log.items()})
        )

    # -- reading ---------------------------------------------------------------
    @property
    def weighted(self) -> bool:
        """Whether the table was fitted with sample weights (it then has ``rows``)."""
        return "rows" in self._columns

    @property
    def information_value(self) -> float:
        """Total information value: the sum of the rows' IV (NaN for a single-class table)."""
        return self._iv

    @property
    def gini(self) -> float:
        """Gini of the WoE score on the table's own rows, from its counts (the
        core's Lorenz curve): rows of equal WoE are one score value, ties
        count one half; NaN for a single-class table."""
        woe = np.asarray(self._columns["woe"])
        c0, c1 = np.asarray(self._columns["c0"]), np.asarray(self._columns["c1"])
        if c0.sum() == 0 or c1.sum() == 0 or np.isnan(woe).any():
            return math.nan
        if self.weighted:
            merged = native.merge_weighted_counts(woe, c0, c1, self._columns["rows"])
        else:
            merged = native.merge_value_counts(woe, c0, c1)
        return float(native.lorenz_from_counts(merged)["gini"])

    def _rebuilt(
        self,
        summary: Mapping[str, Any],
        *,
        special_values: Sequence[float],
        bin_categories: Sequence[tuple[str, ...]] | None,
        pooled_categories: Sequence[str],
        pooled_bin: int | None,
        basis: EditBasis,
        edits: tuple[Edit, ...],
    ) -> BinningTable:
        """An edit's table: this one's method, name and fit counters with new
        rows (the search's log no longer describes them)."""
        return BinningTable(
            summary,
            method=self.method,
            name=self.name,
            metadata=self.metadata,
            special_values=special_values,
            bin_categories=bin_categories,
            pooled_categories=pooled_categories,
            pooled_bin=pooled_bin,
            basis=basis,
            edits=edits,
        )

    def analysis(self) -> BinAnalysis:
        """Tests of equal event rates between neighbouring bins, and the
        Jensen-Shannon, Hellinger and Herfindahl-Hirschman statistics of the
        table (see `tessaline._binning.bin_analysis`)."""
        return bin_analysis(self._columns["c0"], self._columns["c1"], self.n_bins, self.labels)

    # -- using -----------------------------------------------------------------
    @overload
    def transform(
        self, x: npt.ArrayLike, output: Literal["index"] = "index", unseen: Unseen = "zero"
    ) -> IntArray: ...
    @overload
    def transform(
        self, x: npt.ArrayLike, output: Literal["woe"], unseen: Unseen = "zero"
    ) -> FloatArray: ...

    def transform(
        self,
        x: npt.ArrayLike,
        output: Literal["index", "woe"] = "index",
        unseen: Unseen = "zero",
    ) -> FloatArray | IntArray:
        """Bin new values with this table's cut points.

        ``output="index"`` gives each value's interval number (0 for the first
        interval, -1 for a missing value), as an int64 array.
        ``output="woe"`` gives each value's weight of evidence as float64: a
        missing value gets the missing-value row's WoE.

        A value that falls in no row training saw (a missing value when the
        table has no missing-value row, a special value training had no row
        of, a category never seen with nowhere to go) gets the WoE `unseen`
        chooses, with an `UnseenValueWarning`: "zero" (no evidence, the
        default), "riskiest" (the largest WoE of a row with records: the
        conservative choice), or a number. It is an option of the transform,
        not stored in the table: `to_sql` and Spark give "zero".
        """
        checks.output_choice(output, OUTPUTS)
        fill = self.unseen_woe(unseen)
        if self._bin_categories is not None:
            index = self._category_index(x, fill if output == "woe" else None)
        else:
            index = self._value_index(x)[1]
        if output == "index":
            return index
        if self._bin_categories is None:
            self._warn_unseen(index, fill)
        intervals, specials, missing = self.woe_by_index(unseen)
        # One slot per interval, then one per special value, then one for
        # missing values, which index -1 reaches directly.
        lookup = np.concatenate((intervals, specials, [missing]))
        if len(specials):
            index = np.where(index >= self.n_bins, index - self.n_bins + len(intervals), index)
        return lookup[index]

    def woe_by_index(self, unseen: Unseen = "zero") -> tuple[FloatArray, FloatArray, float]:
        """The WoE `transform` gives for each interval index (one per interval
        of the cut points, NaN for one the table has no row for), for each
        special value, and for a missing value: the missing-value row's, or
        what `unseen` chooses when the table has none and is not
        single-class; a special value without records in training gets what
        `unseen` chooses too."""
        woe = np.asarray(self._columns["woe"])
        fill = self.unseen_woe(unseen)
        slots = len(self._splits) + 1
        known = min(self.n_bins, slots)
        intervals = np.full(slots, np.nan)
        intervals[:known] = woe[:known]
        special_rows = slice(self.n_bins, self.n_bins + len(self.special_values))
        specials = woe[special_rows].copy()
        if not math.isnan(self._iv):
            specials[np.asarray(self._columns["count"])[special_rows] == 0] = fill
        if self.has_missing_row:
            missing = float(woe[-1])
        else:
            missing = math.nan if math.isnan(self._iv) else fill
        return intervals, specials, missing

    def unseen_woe(self, unseen: Unseen) -> float:
        """The WoE `unseen` gives a value that falls in no row seen in training."""
        if isinstance(unseen, str) and unseen in UNSEEN_CHOICES:
            if unseen == "zero":
                return 0.0
            counted = np.asarray(self._columns["count"]) > 0
            return float(np.max(np.asarray(self._columns["woe"])[counted], initial=0.0))
        if (
            isinstance(unseen, (int, float))
            and not isinstance(unseen, bool)
            and math.isfinite(unseen)
        ):
            return float(unseen)
        raise ValueError(f"unseen must be 'zero', 'riskiest' or a finite number, not {unseen!r}")

    def _warn_unseen(self, index: IntArray, fill: float) -> None:
        """Warn when values of a numeric column fall in no row seen in training."""
        if math.isnan(self._iv):
            return
        counts = np.asarray(self._columns["count"])
        empty = [
            self.n_bins + j for j in range(len(self.special_values)) if counts[self.n_bins + j] == 0
        ]
        what = [
            f"special {printing.number(self.special_values[b - self.n_bins])}"
            for b in empty
            if (index == b).any()
        ]
        if not self.has_missing_row and (index < 0).any():
            what.append("missing")
        if what:
            warnings.warn(
                f"values not seen in training ({', '.join(what)}) of {self.title()!r} get WoE "
                f"{printing.number(fill)}; transform(..., unseen='riskiest') gives them the "
                "riskiest row's",
                UnseenValueWarning,
                stacklevel=3,
            )

    def _category_index(self, x: Any, fill: float | None = None) -> IntArray:
        """The bin of each category: its own bin when it was seen in training;
        a pooled or unseen category goes to the bin of the pooled group when
        training had one, else to the missing-value row (index -1)."""
        encoded, table = self._category_codes(x)
        unseen = [repr(n) for n, b in zip(encoded.names, table) if b == MISSING_SLOT]
        if (encoded.codes < 0).any():
            unseen.append("missing")
        if fill is not None and unseen and not self.has_missing_row and not math.isnan(self._iv):
            warnings.warn(
                f"categories not seen in training ({', '.join(unseen[:5])}"
                f"{', ...' if len(unseen) > 5 else ''}) fall in no bin of {self.title()!r}: "
                f"index -1 and WoE {printing.number(fill)}; transform(..., unseen='riskiest') "
                "gives them the riskiest bin's",
                UnseenCategoryWarning,
                stacklevel=3,
            )
        return native.lookup_int(encoded.codes, table, MISSING_SLOT)

    def to_sql(
        self,
        column: str | None = None,
        *,
        output: Literal["woe", "index"] = "woe",
        dialect: Literal["duckdb", "sqlite", "postgresql"] = "duckdb",
    ) -> str:
        """An SQL CASE expression that scores the column `column` (default: the
        table's name) in DuckDB or SQLite exactly as `transform` does; NaN WoE
        is NULL. See `tessaline._formats.sql` for the rules it follows."""
        return sql.binning_sql(self, column, output=output, dialect=dialect)

    def to_dict(self) -> dict[str, Any]:
        """The table's document (see `to_json`) as a JSON-ready dict."""
        rows = self._document_rows(("rows",) if self.weighted else INTEGER_COLUMNS)
        version = log_version(self.edits)
        chained = version == document.CHAINED
        log = {"edits": [edit_dict(e, chained) for e in self.edits]} if self.edits else {}
        return {
            **document.header(document.BINNING_SCHEMA, version),
            **document.bins_fields(self),
            "pooled_categories": list(self.pooled_categories),
            "pooled_bin": self.pooled_bin,
            "information_value": document.exact(self.information_value),
            "rows": rows,
            "metadata": document.plain(self.metadata),
            "split_log": document.plain(dict(self.split_log))
            if self.split_log is not None
            else None,
            **log,
        }

    @classmethod
    def _from_checked_dict(cls, doc: Mapping[str, Any], where: str) -> BinningTable:
        columns = _row_columns(document.field(doc, "rows", dict, where), where)
        bins = document_kind(doc, where)
        pooled = document.names(doc, "pooled_categories", where)
        specials = document.floats(doc, "special_values", where)
        splits = document.floats(doc, "splits", where)
        has_missing_row = document.flag(doc, "has_missing_row", where)
        check_edges(columns, splits, specials, has_missing_row, where)
        pooled_bin = None
        if bins is not None:
            bins, pooled_bin = _pooled_bin(doc, bins, pooled, where)
            _check_categories(bins, pooled, pooled_bin, specials, len(splits) + 1, where)
        elif pooled or doc.get("pooled_bin") is not None:
            raise DocumentError(
                f"{where}: field 'pooled_categories' must be empty in a numeric table"
            )
        split_log = doc.get("split_log")
        edits = document.edit_log(doc, where)
        table = cls(
            {key: columns[key] for key in weighted_columns(columns)},
            method=document.field(doc, "method", str, where),
            name=document_name(doc, where),
            metadata=document_metadata(doc),
            split_log={k: np.asarray(v) for k, v in split_log.items()}
            if isinstance(split_log, dict)
            else None,
            special_values=specials,
            bin_categories=None if bins is None else [tuple(b) for b in bins],
            pooled_categories=pooled,
            pooled_bin=pooled_bin,
            edits=()
            if edits is None
            else edits_from_list(edits, where, doc["version"] >= document.CHAINED),
        )
        # The WoE and IV written are the ones the table scored with: keep them
        # rather than recompute (a logarithm may round differently elsewhere),
        # once they are known to be what the counts give.
        information_value = document.from_exact(
            document.field(doc, "information_value", str, where), f"{where} information_value"
        )
        for key in ("woe", "iv"):
            if not document.within_ulps(columns[key], table[key], EVIDENCE_ULPS):
                raise DocumentError(f"{where}: rows.{key} is not what the rows' counts give")
        if not document.within_ulps(
            information_value, table.information_value, EVIDENCE_ULPS * (len(table) + 1)
        ):
            raise DocumentError(f"{where}: field 'information_value' is not the sum of rows.iv")
        evidence = dict(table.columns)
        for key in ("woe", "iv"):
            columns[key].setflags(write=False)
            evidence[key] = columns[key]
        object.__setattr__(table, "_columns", types.MappingProxyType(evidence))
        object.__setattr__(table, "_iv", information_value)
        if table.edits:
            check_log(
                table.edits,
                bins is None,
                table.to_dict(),
                measures(table),
                trend_of(table["event_rate"][: table.n_bins]),
                where,
            )
        return table

    def to_frame(self, kind: FrameKind = "pandas") -> Any:
        """The table as a DataFrame of `kind` ("pandas", "polars" or "arrow"):
        a ``bin`` label column, then every column."""
        return columns_frame({"bin": self.labels, **self._columns}, kind, "BinningTable.to_frame")

    def plot(self, ax: Axes | None = None) -> Axes:
        """Counts per bin as bars and the event rate as a line (needs matplotlib)."""
        return plot_binning(self, ax=ax)

    # -- printing --------------------------------------------------------------
    def _title_measures(self) -> str:
        return f"IV {printing.fixed(self._iv, 4)} ({iv_strength(self._iv)})"

    def _printed_header(self) -> tuple[str, ...]:
        return self.HEADER + (("records",) if self.weighted else ())

    def rows(self) -> list[list[str]]:
        c = self._columns
        return [
            [
                str(i),
                label,
                weight_cell(float(c["count"][i])) if self.weighted else str(int(c["count"][i])),
                printing.percent(float(c["percentage"][i])),
                *(
                    [weight_cell(float(c[key][i])) for key in ("c0", "c1")]
                    if self.weighted
                    else [str(int(c["c0"][i])), str(int(c["c1"][i]))]
                ),
                printing.percent(float(c["event_rate"][i])),
                printing.fixed(float(c["woe"][i]), 3),
                printing.fixed(float(c["iv"][i]), 4),
                "-"
                if math.isnan(float(c["representative"][i]))
                else printing.number(float(c["representative"][i])),
                # The records of a weighted table, last: the other cells keep
                # their places for every reader of them.
                *([str(int(c["rows"][i]))] if self.weighted else []),
            ]
            for i, label in enumerate(self.labels)
        ]

    HEADER = (
        "#",
        "interval",
        "count",
        "share",
        "non-events",
        "events",
        "event rate",
        "WoE",
        "IV",
        "representative",
    )

    def __str__(self) -> str:
        return super().__str__() + ("\n" + log_text(self.edits) if self.edits else "")

    def _repr_html_(self) -> str:
        return binning_table_html(self)


def weight_cell(weight: float) -> str:
    """A sum of weights as printed: whole ones as integers, others to two decimals."""
    return str(int(weight)) if weight.is_integer() else printing.fixed(weight, 2)


def weighted_columns(summary: Mapping[str, Any]) -> tuple[str, ...]:
    """The summary columns a table keeps: ``rows`` after ``count`` when the
    summary is of weighted rows."""
    if "rows" not in summary:
        return SUMMARY_COLUMNS
    return tuple(k for c in SUMMARY_COLUMNS for k in ((c, "rows") if c == "count" else (c,)))


# -- reading a document ------------------------------------------------------
def _row_columns(rows: Mapping[str, Any], where: str) -> dict[str, npt.NDArray[Any]]:
    """The row columns of a document, each as long as 'count'; with a
    ``rows`` column, count, c0 and c1 are weights (finite, not negative)."""
    n_rows = len(document.field(rows, "count", list, f"{where} rows"))
    columns: dict[str, npt.NDArray[Any]] = {}
    weighted = "rows" in rows
    integers = ("rows",) if weighted else INTEGER_COLUMNS
    for key in (*weighted_columns(rows), "woe", "iv"):
        values = row_values(rows, key, n_rows, where)
        if key in integers:
            if not all(
                isinstance(v, int) and not isinstance(v, bool) and 0 <= v <= MAX_COUNT
                for v in values
            ):
                raise DocumentError(
                    f"{where}: row column {key!r} must hold counts (integers from 0 to 2**53)"
                )
            columns[key] = np.array(values, dtype=np.int64)
        else:
            columns[key] = row_floats(values, key, where)
    if weighted and not all(
        np.isfinite(columns[k]).all() and (columns[k] >= 0).all() for k in INTEGER_COLUMNS
    ):
        raise DocumentError(f"{where}: rows.count, c0 and c1 must be finite weights, not negative")
    if not np.array_equal(columns["count"], columns["c0"] + columns["c1"]):
        raise DocumentError(f"{where}: rows.count must be rows.c0 + rows.c1")
    return columns


def _pooled_bin(
    doc: Mapping[str, Any], bins: Any, pooled: list[str], where: str
) -> tuple[Any, int | None]:
    """The bins' real categories and the bin of the pooled group. A document
    written before the group had its own field names it "other" among the
    categories of its bin; that name is taken out of the bin."""
    if "pooled_bin" in doc:
        pooled_bin = doc["pooled_bin"]
        if pooled_bin is not None and not (
            type(pooled_bin) is int and 0 <= pooled_bin < max(len(bins), 1)
        ):
            raise DocumentError(f"{where}: field 'pooled_bin' must be null or the index of a bin")
        return bins, pooled_bin
    if not pooled or not isinstance(bins, list):
        return bins, None
    for b, names in enumerate(bins):
        if isinstance(names, list) and OTHER in names:
            return [
                [n for n in names if n != OTHER] if i == b else names
                for i, names in enumerate(bins)
            ], b
    return bins, None


def _check_categories(
    bins: Any,
    pooled: list[str],
    pooled_bin: int | None,
    specials: list[float],
    n_bins: int,
    where: str,
) -> None:
    """One list of categories per bin, each category in one bin only, none of
    them pooled, and no special value (categories are compared as names); the
    pooled group's bin whenever categories were pooled (an analyst may send
    unseen categories to a bin without them), and only that bin, holding
    pooled categories, may hold no category of its own."""
    if not (
        isinstance(bins, list)
        and all(
            isinstance(b, list)
            and (b or (i == pooled_bin and pooled))
            and all(isinstance(c, str) for c in b)
            for i, b in enumerate(bins)
        )
    ):
        raise DocumentError(f"{where}: field 'bin_categories' must be lists of category names")
    listed = [c for b in bins for c in b]
    if len(bins) != n_bins or len(set(listed)) != len(listed):
        raise DocumentError(
            f"{where}: field 'bin_categories' must name each category once, "
            f"in {n_bins} bin(s), one per row"
        )
    if set(pooled) & set(listed) or (pooled and pooled_bin is None):
        raise DocumentError(
            f"{where}: field 'pooled_categories' must name categories outside "
            "the bins, pooled in the bin 'pooled_bin'"
        )
    if specials:
        raise DocumentError(f"{where}: field 'special_values' must be empty in a categorical table")
