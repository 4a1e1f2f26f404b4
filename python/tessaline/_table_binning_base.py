"""What binning every column of a table against one target does whatever the
target: the options per column, the columns a fit bins, the tables kept and
the columns skipped, the selection, transform's choice of columns, and the
document's summary, options and tables. `TableBinning` (a binary target) and
`ContinuousTableBinning` add their measure, selection rules and outputs."""

from __future__ import annotations

import inspect
import math
from collections.abc import Callable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, ClassVar, Self

from ._core import checks, frames
from ._core.pickle_state import PlainState
from ._core.result_frames import FrameKind, rows_frame
from ._formats import document, sql
from .exceptions import DocumentError, NotFittedError

if TYPE_CHECKING:
    pass


def check_column_options(columns: Mapping[str, Mapping[str, Any]], allowed: frozenset[str]) -> None:
    """Every option of `columns=` must be one a column may carry."""
    for name, options in columns.items():
        unknown = sorted(set(options) - allowed)
        if unknown:
            raise ValueError(
                f"unknown option(s) {', '.join(unknown)} for column {name!r}; "
                f"options are {', '.join(sorted(allowed))}"
            )


def ranked_by(tables: Mapping[str, Any], measure: Callable[[Any], float]) -> list[tuple[str, Any]]:
    """The tables by descending `measure`, NaN last, ties by column name."""

    def key(item: tuple[str, Any]) -> tuple[float, str]:
        value = measure(item[1])
        return (-value if not math.isnan(value) else math.inf, item[0])

    return sorted(tables.items(), key=key)


def kept_and_skipped(
    results: Mapping[str, Any], kind: type
) -> tuple[dict[str, Any], dict[str, str]]:
    """The tables (of `kind`) and the skipped columns with their reason of a
    fit's results by column; a fit with no table is an error."""
    tables = {n: r for n, r in results.items() if isinstance(r, kind)}
    skipped = {n: r for n, r in results.items() if isinstance(r, str)}
    if not tables:
        raise ValueError(
            "no column could be binned: " + "; ".join(f"{n}: {r}" for n, r in skipped.items())
        )
    return tables, skipped


def check_filed(
    tables: Mapping[str, Any], skipped: Mapping[str, str], fitted: Sequence[str], where: str
) -> None:
    """The binned and the skipped columns of a document: distinct columns of the data."""
    if not set(tables) | set(skipped) <= set(fitted) or set(tables) & set(skipped):
        raise DocumentError(
            f"{where}: fields 'tables' and 'skipped' must name distinct columns of 'fitted_columns'"
        )


def check_named_columns(
    binning: TableBinningBase, names: Sequence[str], arguments: Mapping[str, Any]
) -> None:
    """The columns the options name (`columns`, `categorical`, `exclude`) and
    the arguments given as a column's name (the target, the weights) must
    be columns of the data."""
    for option, named in (
        ("columns", binning.column_options),
        ("categorical", binning.categorical),
        ("exclude", binning.exclude),
    ):
        absent = [str(n) for n in named if str(n) not in names]
        if absent:
            raise ValueError(
                f"{option} names column(s) not in the data: {', '.join(map(repr, absent))}"
            )
    for option, value in arguments.items():
        if isinstance(value, str) and value not in names:
            raise ValueError(f"{option} names no column of the data: {value!r}")


def same_summary(
    written: Sequence[Any],
    summary: Sequence[Any],
    fields: Sequence[str],
    floats: Sequence[str],
    where: str,
) -> bool:
    """Whether a document's summary rows (their `floats` exact) are the
    ranked `summary`, NaN equal to NaN."""
    rows = [
        {
            f: document.from_exact(row[f], f"{where} summary.{f}") if f in floats else row[f]
            for f in fields
        }
        for row in written
    ]

    def same(a: Any, b: Any) -> bool:
        return a == b or (isinstance(a, float) and isinstance(b, float) and a != a and b != b)

    return len(rows) == len(summary) and all(
        same(w[f], getattr(r, f)) for w, r in zip(rows, summary) for f in fields
    )


class TableBinningBase(PlainState):
    """Every column of a table binned against one target: the options they
    share, and the fit's tables, skipped columns and ranked summary."""

    # The fields of a summary row, and the constructor's arguments that the
    # options of a document leave out.
    SUMMARY_FIELDS: ClassVar[tuple[str, ...]]
    _unwritten_options: ClassVar[tuple[str, ...]] = ()
    tables: dict[str, Any]
    skipped: dict[str, str]
    summary: list[Any]
    column_options: dict[str, dict[str, Any]]
    categorical: tuple[str, ...]
    special_values: Sequence[float] | Mapping[str, Sequence[float]]
    exclude: tuple[str, ...]

    # -- fitting ---------------------------------------------------------------
    def is_categorical(self, name: str, holds_categories: bool) -> bool:
        """Whether the column `name` is binned as categories, when its values
        are categories (strings, booleans) by their type or not."""
        default = name in self.categorical or holds_categories
        return bool(self.column_options.get(name, {}).get("categorical", default))

    def specials_of(self, name: str) -> Any:
        """The special values of the column `name`: its own option, else the
        table's list or its entry in the table's dict."""
        specials = self.special_values
        if isinstance(specials, Mapping):
            specials = specials.get(name, ())
        return self.column_options.get(name, {}).get("special_values", specials)

    def columns_to_bin(
        self,
        data: Any,
        names: Sequence[str],
        skipped_names: tuple[str | None, str | None],
        n_rows: int,
    ) -> dict[str, Any]:
        """The columns of `data` a fit bins, by name: all but the target's and
        the weights' (`skipped_names`) and the excluded ones, each as long as
        the target."""
        wanted = [n for n in names if n not in skipped_names and n not in self.exclude]
        if not wanted:
            raise ValueError("the table has no column to bin")
        columns = frames.columns(data, wanted)
        for n, values in columns.items():
            if frames.length(values) != n_rows:
                raise ValueError(
                    f"column {n!r} has {frames.length(values)} rows, the target {n_rows}"
                )
        return columns

    # -- reading ---------------------------------------------------------------
    @property
    def selected(self) -> list[str]:
        """The columns the selection keeps, in the summary's order (by
        descending IV, or R² for a continuous target)."""
        return [row.column for row in self.summary if row.keep]

    def get_options(self) -> dict[str, Any]:
        """The constructor's arguments as this object holds them."""
        stored = {"columns": "column_options"}
        return {
            name: getattr(self, stored.get(name, name))
            for name in inspect.signature(type(self).__init__).parameters
            if name not in ("self", *self._unwritten_options)
        }

    def summary_frame(self, kind: FrameKind = "pandas") -> Any:
        """The summary as a DataFrame of `kind` ("pandas", "polars" or
        "arrow"), one row per column, in its order."""
        return rows_frame(
            [[getattr(r, f) for f in self.SUMMARY_FIELDS] for r in self.summary],
            self.SUMMARY_FIELDS,
            kind,
            "summary_frame",
        )

    def _repr_options(self) -> str:
        """The options `repr` shows beside the class name."""
        return ""

    def __repr__(self) -> str:
        head = f"<{type(self).__name__}{self._repr_options()}"
        if not self.tables:
            return f"{head}, not fitted>"
        return (
            f"{head}: {len(self.tables)} columns binned, "
            f"{len(self.selected)} kept, {len(self.skipped)} skipped>"
        )

    # -- using -----------------------------------------------------------------
    def check_fitted(self) -> None:
        if not self.tables:
            raise NotFittedError(
                f"This {type(self).__name__} is not fitted yet: call fit before transform"
            )

    def columns_to_transform(
        self, data: Any, selected: bool, columns: Sequence[str] | None
    ) -> list[str]:
        """The binned columns `transform` gives: the selected ones with
        `selected`, else those `columns` names, else every one; each must
        be a column of `data`."""
        wanted = self.selected if selected else list(self.tables)
        if columns is not None:
            unknown = [n for n in columns if n not in self.tables]
            if unknown:
                raise ValueError(f"column(s) not binned: {', '.join(unknown)}")
            wanted = list(columns)
        present = set(frames.column_names(data))
        absent = [n for n in wanted if n not in present]
        if absent:
            raise ValueError(f"column(s) missing from the data: {', '.join(absent)}")
        return wanted

    # -- documents -------------------------------------------------------------
    def to_json(self, indent: int | None = None) -> str:
        """The options and, once fitted, the summary and every column's table
        as one JSON document with exact floats (see `BinningTable.to_json`)."""
        return document.dumps(self.to_dict(), indent)

    def to_dict(self) -> dict[str, Any]:
        raise NotImplementedError

    def _summary_dicts(self) -> list[dict[str, Any]]:
        """The summary as a document holds it, floats exact."""
        return [
            {
                field: (
                    document.exact(getattr(row, field))
                    if isinstance(getattr(row, field), float)
                    else getattr(row, field)
                )
                for field in self.SUMMARY_FIELDS
            }
            for row in self.summary
        ]

    @classmethod
    def from_json(cls, text: str | bytes) -> Any:
        """The whole-table binning a document of `to_json` describes; its
        `transform` gives what the original's gave, without training data."""
        return cls.from_dict(document.parse(text))

    @classmethod
    def from_dict(cls, doc: Any) -> Any:
        raise NotImplementedError

    @classmethod
    def _from_options(cls, options: Mapping[str, Any], where: str) -> Self:
        """The unfitted binning of a document's options."""
        try:
            return cls(**options)
        except (TypeError, ValueError) as error:
            raise DocumentError(f"{where}: options not accepted: {error}") from None


class OwnTargetTableBinning(TableBinningBase):
    """What the whole-table binnings of a target with tables of its own
    (continuous, multiclass) share: options with the column names as lists,
    the selection rule, the SELECT of every column, and the document (its
    schema `SCHEMA`, tables of `TABLE_CLASS`, summary fields whose values
    are exact floats in `SUMMARY_FLOATS`)."""

    SCHEMA: ClassVar[str]
    TABLE_CLASS: ClassVar[type]
    SUMMARY_FLOATS: ClassVar[tuple[str, ...]]
    top_n: int | None
    max_missing_share: float | None
    n_jobs: int | None
    skip_unusable: bool
    fitted_columns: list[str]

    def keep_shared_options(
        self,
        *,
        categorical: Sequence[str],
        special_values: Sequence[float] | Mapping[str, Sequence[float]],
        columns: Mapping[str, Mapping[str, Any]] | None,
        column_options: frozenset[str],
        exclude: Sequence[str],
        top_n: int | None,
        max_missing_share: float | None,
        n_jobs: int | None,
        skip_unusable: bool,
    ) -> None:
        """Check and keep the options every such binning takes, and start
        unfitted; `column_options` are the options a column may carry."""
        check_column_options(columns or {}, column_options)
        if top_n is not None:
            checks.whole_number("top_n", top_n, 1)
        if max_missing_share is not None:
            checks.real_number("max_missing_share", max_missing_share, 0, 1)
        self.categorical = tuple(categorical)
        self.special_values = special_values
        self.column_options = {k: dict(v) for k, v in (columns or {}).items()}
        self.exclude = tuple(exclude)
        self.top_n, self.max_missing_share = top_n, max_missing_share
        self.n_jobs, self.skip_unusable = n_jobs, skip_unusable
        self.tables, self.skipped, self.summary, self.fitted_columns = {}, {}, [], []

    def get_options(self) -> dict[str, Any]:
        """The constructor's arguments as this object holds them (the column
        names as lists)."""
        options = super().get_options()
        return {**options, "categorical": list(self.categorical), "exclude": list(self.exclude)}

    def kept(self, value: float, missing: float, minimum: float, rows: Sequence[Any]) -> bool:
        """Whether the selection keeps a column of measure `value` (at least
        `minimum`) and missing share `missing`, after the ranked `rows`."""
        return (
            not math.isnan(value)
            and value >= minimum
            and (self.max_missing_share is None or missing <= self.max_missing_share)
            and (self.top_n is None or sum(r.keep for r in rows) < self.top_n)
        )

    def selected_columns(self, data: Any, selected: bool, columns: Sequence[str] | None) -> Any:
        """The binned columns of `data` that `transform` gives, by name."""
        self.check_fitted()
        return frames.columns(data, self.columns_to_transform(data, selected, columns)).items()

    def select(
        self, source: str, selected: bool, keep: Sequence[str], expression: Callable[[str], str]
    ) -> str:
        """A SELECT over `source` of every binned column (the selected ones
        with `selected`) as `expression` scores it, after those of `keep`."""
        return sql.binned_select(
            source, self.selected if selected else list(self.tables), keep, expression
        )

    def _ranked(self) -> list[Any]:
        raise NotImplementedError

    def _document_fields(self) -> dict[str, Any]:
        """Fields of the document beside those every whole-table binning writes."""
        return {}

    def _read_fields(self, doc: Mapping[str, Any], where: str) -> None:
        """Read the fields `_document_fields` writes, once the tables are read."""

    def to_dict(self) -> dict[str, Any]:
        return {
            **document.header(self.SCHEMA),
            "options": document.plain(self.get_options()),
            **self._document_fields(),
            "fitted_columns": list(self.fitted_columns),
            "summary": self._summary_dicts(),
            "skipped": dict(self.skipped),
            "tables": {name: table.to_dict() for name, table in self.tables.items()},
        }

    @classmethod
    def from_dict(cls, doc: Any) -> Self:
        """The binning a document's dict describes; one that no fit writes
        raises `DocumentError`."""
        where = cls.SCHEMA
        document.check_header(doc, where)
        with document.reading(where):
            binning = cls._from_options(document.field(doc, "options", dict, where), where)
            tables = {
                name: cls.TABLE_CLASS.from_dict(t, f"{where} table {name!r}")  # type: ignore[attr-defined]
                for name, t in document.field(doc, "tables", dict, where).items()
            }
            if any(t.name != name for name, t in tables.items()):
                raise DocumentError(f"{where}: a table is filed under another column's name")
            skipped = document.field(doc, "skipped", dict, where)
            fitted = document.names(doc, "fitted_columns", where)
            check_filed(tables, skipped, fitted, where)
            binning.tables, binning.skipped, binning.fitted_columns = tables, dict(skipped), fitted
            binning._read_fields(doc, where)
            binning.summary = binning._ranked()
            if not same_summary(
                document.field(doc, "summary", list, where),
                binning.summary,
                cls.SUMMARY_FIELDS,
                cls.SUMMARY_FLOATS,
                where,
            ):
                raise DocumentError(f"{where}: field 'summary' is not what the tables give")
        return binning
