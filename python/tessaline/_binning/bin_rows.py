"""What the table of one variable holds whatever its target: one row per
interval of the cut points (or per set of categories), then one per special
value, then one for the missing values when there are any; the labels of
those rows, the row of each new value, the printout, and the fields of the
table's document that place its rows."""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from typing import Any, ClassVar

import numpy as np
import numpy.typing as npt

from .._core import categories, native, printing
from .._core.arrays import ColumnTable, FloatArray, IntArray, as_float_array
from .._core.categories import OTHER
from .._core.placement import CategoryBins, category_bins
from .._formats import document
from ..exceptions import DocumentError


def frozen(values: Any) -> npt.NDArray[Any]:
    """A read-only copy of `values`."""
    array = np.array(values, copy=True)
    array.setflags(write=False)
    return array


class BinRows(ColumnTable):
    """The rows of one variable's bins, and what reads them; a subclass adds
    the statistics of its target, its transform and its document."""

    __slots__ = (
        "_columns",
        "_splits",
        "method",
        "name",
        "metadata",
        "kind",
        "special_values",
        "_bin_categories",
    )
    _length_column = "count"
    _slot_defaults: ClassVar[dict[str, Any]] = {}
    # A table that pools no categories.
    pooled_categories: tuple[str, ...] = ()
    pooled_bin: int | None = None
    # The schema of the table's document, its printed header and the header's
    # left-aligned columns (numbers are right-aligned).
    SCHEMA: ClassVar[str]
    HEADER: ClassVar[tuple[str, ...]]
    TEXT_COLUMNS = (1,)

    def _place_rows(
        self,
        columns: Mapping[str, npt.NDArray[Any]],
        *,
        method: str,
        name: str | None,
        metadata: Mapping[str, Any] | None,
        special_values: Sequence[float],
        bin_categories: Sequence[tuple[str, ...]] | None,
    ) -> None:
        """Keep the read-only `columns` and what places their rows."""
        self._columns = columns
        self.kind = "numeric" if bin_categories is None else "categorical"
        self.special_values = tuple(float(v) for v in special_values)
        self._bin_categories = None if bin_categories is None else tuple(bin_categories)
        # The cut points are the finite right edges of the intervals: the last
        # one ends at +inf, the special and missing-value rows follow.
        right = columns["right"]
        intervals = right[: len(right) - len(self.special_values) - int(self.has_missing_row)]
        self._splits = frozen(intervals[np.isfinite(intervals)].astype(np.float64))
        self.method = method
        self.name = name
        self.metadata = None if metadata is None else dict(metadata)

    # -- reading ---------------------------------------------------------------
    @property
    def splits(self) -> FloatArray:
        """The cut points t1 < ... < tk (a value equal to a cut falls in the lower bin)."""
        return self._splits

    @property
    def has_missing_row(self) -> bool:
        """Whether the last row holds the records whose value is missing."""
        left = self._columns["left"]
        return len(left) > 0 and math.isnan(float(left[-1]))

    @property
    def n_bins(self) -> int:
        """Number of intervals or sets of categories (special and missing-value
        rows not counted)."""
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
            bins = [
                ", ".join(
                    names
                    + ((pooled_label(self.pooled_categories),) if b == self.pooled_bin else ())
                )
                for b, names in enumerate(self._bin_categories)
            ]
        else:
            bins = [
                printing.interval(float(lo), float(hi))
                for lo, hi in zip(
                    self._columns["left"][: self.n_bins], self._columns["right"][: self.n_bins]
                )
            ]
        specials = [f"special {printing.number(v)}" for v in self.special_values]
        return bins + specials + (["missing"] if self.has_missing_row else [])

    # -- using -----------------------------------------------------------------
    def category_bins(self) -> CategoryBins:
        """Where each category of a categorical table goes."""
        assert self._bin_categories is not None
        return category_bins(self._bin_categories, self.pooled_categories, self.pooled_bin)

    def _value_index(self, x: npt.ArrayLike) -> tuple[FloatArray, IntArray]:
        """The values of a numeric column as float64, and the row of each: its
        interval (from 0), n_bins + j for the j-th special value, -1 when missing."""
        xs = as_float_array(x)
        index = native.binning_transform(xs, self._splits)
        for j, special in enumerate(self.special_values):
            index[xs == special] = self.n_bins + j
        return xs, index

    def _category_codes(
        self, x: Any, unseen: int | None = None
    ) -> tuple[categories.Encoded, IntArray]:
        """The categories of a column encoded, and the bin of each of its
        category names (a name the table does not place: `unseen`, by default
        the bin of any other name)."""
        encoded = categories.encode(x)
        bins = self.category_bins()
        bin_of, other = bins.bin_of, bins.other if unseen is None else unseen
        return encoded, np.array([bin_of.get(n, other) for n in encoded.names], dtype=np.int64)

    # -- documents -------------------------------------------------------------
    def to_json(self, indent: int | None = None) -> str:
        """The table as a JSON document (floats as exact hexadecimal strings)
        from which `from_json` rebuilds it bit for bit."""
        return document.dumps(self.to_dict(), indent)

    def to_dict(self) -> dict[str, Any]:
        raise NotImplementedError

    def _document_rows(self, integers: Sequence[str]) -> dict[str, Any]:
        """The rows of the document: the labels, then every column, those of
        `integers` as integers and the others as exact floats."""
        rows: dict[str, Any] = {"label": self.labels}
        for key in self._columns:
            column = np.asarray(self[key])
            rows[key] = (
                [int(v) for v in column] if key in integers else [document.exact(v) for v in column]
            )
        return rows

    @classmethod
    def from_json(cls, text: str | bytes) -> Any:
        """The table a document of `to_json` describes; a document of another
        kind, of a newer version, or malformed raises `DocumentError`."""
        return cls.from_dict(document.parse(text))

    @classmethod
    def from_dict(cls, doc: Any, where: str | None = None) -> Any:
        """The table a document's dict describes, exactly as it was written. A
        document that no fit writes (cut points out of order, a category in
        two bins, columns that its counts do not give...) raises `DocumentError`."""
        document.check_header(doc, cls.SCHEMA)
        where = cls.SCHEMA if where is None else where
        with document.reading(where):
            return cls._from_checked_dict(doc, where)

    @classmethod
    def _from_checked_dict(cls, doc: Mapping[str, Any], where: str) -> Any:
        raise NotImplementedError

    # -- printing --------------------------------------------------------------
    def title(self) -> str:
        what = f"'{self.name}'" if self.name is not None else "variable"
        specials = len(self.special_values)
        return (
            f"{self.method} binning of {'categorical ' if self._bin_categories else ''}"
            f"{what}{self._title_target()}: {self.n_bins} bin{'s' if self.n_bins != 1 else ''}"
            f"{f' + {specials} special' if specials else ''}"
            f"{' + missing' if self.has_missing_row else ''}, {self._title_measures()}"
        )

    def _title_target(self) -> str:
        """What the title says of the target, after the variable."""
        return ""

    def _title_measures(self) -> str:
        """The title's last words: the table's measures of the target."""
        raise NotImplementedError

    def _printed_header(self) -> tuple[str, ...]:
        return self.HEADER

    @property
    def header(self) -> tuple[str, ...]:
        """The printed header: `HEADER`, with "categories" for a categorical table."""
        header = self._printed_header()
        if self._bin_categories is None:
            return header
        return tuple("categories" if h == "interval" else h for h in header)

    def rows(self) -> list[list[str]]:
        """The printed cells of each row (the header is `header`)."""
        raise NotImplementedError

    def __str__(self) -> str:
        return (
            self.title() + "\n" + printing.text_table(self.header, self.rows(), self.TEXT_COLUMNS)
        )

    def __repr__(self) -> str:
        return f"<{type(self).__name__} {self.title()}>"


def pooled_label(pooled: Sequence[str], shown: int = 3) -> str:
    """The label of the pooled group: 'other (pooled: a, b, c, ...)'."""
    if not pooled:
        # A bin the analyst sent unseen categories to, nothing pooled in it.
        return f"{OTHER} (unseen)"
    more = ", ..." if len(pooled) > shown else ""
    return f"{OTHER} (pooled: {', '.join(pooled[:shown])}{more})"


# -- reading a document ------------------------------------------------------
def document_kind(doc: Mapping[str, Any], where: str) -> Any:
    """The sets of categories of a document (None for a numeric table), once
    its kind says whether it has them."""
    kind = document.field(doc, "kind", str, where)
    bins = doc.get("bin_categories")
    if kind not in ("numeric", "categorical") or (bins is None) != (kind == "numeric"):
        raise DocumentError(
            f"{where}: field 'kind' must be 'numeric' (without "
            "'bin_categories') or 'categorical' (with them)"
        )
    return bins


def document_name(doc: Mapping[str, Any], where: str) -> str | None:
    """The name of the variable of a document."""
    name = doc.get("name")
    if name is not None and not isinstance(name, str):
        raise DocumentError(f"{where}: field 'name' must be a string or null")
    return name


def document_metadata(doc: Mapping[str, Any]) -> dict[str, Any] | None:
    metadata = doc.get("metadata")
    return metadata if isinstance(metadata, dict) else None


def row_values(rows: Mapping[str, Any], key: str, n_rows: int, where: str) -> list[Any]:
    """The values of the row column `key` of a document, as many as its rows."""
    values: list[Any] = document.field(rows, key, list, f"{where} rows")
    if len(values) != n_rows:
        raise DocumentError(
            f"{where}: row column {key!r} has {len(values)} values, 'count' has {n_rows}"
        )
    return values


def row_floats(values: list[Any], key: str, where: str) -> FloatArray:
    """The exact floats of the row column `key` of a document."""
    return np.array(
        [document.from_exact(v, f"{where} rows.{key}") for v in values], dtype=np.float64
    )


def check_edges(
    columns: Mapping[str, npt.NDArray[Any]],
    splits: list[float],
    specials: list[float],
    has_missing_row: bool,
    where: str,
) -> None:
    """The rows' edges must be those a fit writes: the intervals of the cut
    points (finite and increasing), one row per special value (finite and
    distinct), then the missing-value row when there is one."""
    cuts = np.array(splits, dtype=np.float64)
    if not (np.isfinite(cuts).all() and (np.diff(cuts) > 0).all()):
        raise DocumentError(
            f"{where}: field 'splits' must hold finite cut points in increasing order, each once"
        )
    if not (all(math.isfinite(v) for v in specials) and len(set(specials)) == len(specials)):
        raise DocumentError(f"{where}: field 'special_values' must hold distinct finite values")
    missing = [math.nan] * int(has_missing_row)
    left = np.array([-math.inf, *splits, *specials, *missing])
    right = np.array([*splits, math.inf, *specials, *missing])
    if not (
        np.array_equal(columns["left"], left, equal_nan=True)
        and np.array_equal(columns["right"], right, equal_nan=True)
    ):
        raise DocumentError(
            f"{where}: rows.left and rows.right do not match the cut points, "
            "special values and missing-value row"
        )


def check_category_bins(
    bins: Any,
    n_rows: int,
    has_missing_row: bool,
    specials: list[float],
    splits: list[float],
    where: str,
) -> None:
    """The sets of categories of a document must name each category once,
    one bin per row but the missing-value row, without special values or
    cut points."""
    if not (
        isinstance(bins, list)
        and all(isinstance(b, list) and b and all(isinstance(c, str) for c in b) for b in bins)
        and len({c for b in bins for c in b}) == sum(len(b) for b in bins)
        and len(bins) == n_rows - int(has_missing_row)
        and not specials
        and not splits
    ):
        raise DocumentError(
            f"{where}: field 'bin_categories' must name each category once, one bin per row"
        )
