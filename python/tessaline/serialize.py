"""JSON documents of fitted binnings, to keep a model and score with it later
without the training data.

Every float that decides a result (cut points, special values, the columns
of each row, WoE and IV) is written as a hexadecimal float string
(``float.hex``: "0x1.8000000000000p+1" is 3.0, "-inf", "nan"), which names
the double exactly and is read back bit for bit in any language (C's
``strtod``, Java's ``Double.parseDouble``, Python's ``float.fromhex``).
Counts are JSON integers. The preprocessing counters and the log of the
search, which are for reading only, are plain JSON with missing numbers as
null. Each document names its schema and version; a reader refuses a schema
it does not know or a version newer than its own.
"""
from __future__ import annotations

import json
import math
import types
from collections.abc import Callable, Mapping
from typing import TYPE_CHECKING, Any

import numpy as np

from .binning import COLUMNS, SUMMARY_COLUMNS, BinningTable

if TYPE_CHECKING:
    from .scorecard import Scorecard
    from .table import TableBinning

BINNING_SCHEMA = "tessaline.binning"
TABLE_SCHEMA = "tessaline.table_binning"
SCORECARD_SCHEMA = "tessaline.scorecard"
VERSION = 1

# Columns of a row written as integers; the others are floats.
INTEGER_COLUMNS = ("count", "c0", "c1")


class DocumentError(ValueError):
    """A JSON document that is not a readable tessaline binning."""


# -- values ------------------------------------------------------------------
def exact(value: float) -> str:
    """A double as its hexadecimal float string."""
    return float(value).hex()


def from_exact(text: Any, where: str) -> float:
    if not isinstance(text, str):
        raise DocumentError(f"{where}: expected a hexadecimal float string, got {text!r}")
    try:
        return float.fromhex(text)
    except ValueError:
        raise DocumentError(f"{where}: {text!r} is not a hexadecimal float") from None


def plain(value: Any) -> Any:
    """A reading-only value as plain JSON: NumPy scalars and arrays unwrapped,
    non-finite floats as null."""
    if isinstance(value, np.ndarray):
        return [plain(v) for v in value.tolist()]
    if isinstance(value, np.generic):
        value = value.item()
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, Mapping):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    return value


def _field(doc: Mapping[str, Any], key: str, kind: type, where: str) -> Any:
    if key not in doc:
        raise DocumentError(f"{where}: missing field {key!r}")
    if not isinstance(doc[key], kind):
        raise DocumentError(f"{where}: field {key!r} must be a {kind.__name__}, "
                            f"not {type(doc[key]).__name__}")
    return doc[key]


def _check_header(doc: Any, schema: str) -> None:
    if not isinstance(doc, Mapping):
        raise DocumentError(f"expected a JSON object, got {type(doc).__name__}")
    found = doc.get("schema")
    if found != schema:
        raise DocumentError(f"not a {schema!r} document (schema {found!r})")
    version = doc.get("version")
    if not isinstance(version, int) or isinstance(version, bool) or version < 1:
        raise DocumentError(f"{schema}: version must be a positive integer, not {version!r}")
    if version > VERSION:
        raise DocumentError(f"{schema} version {version} is newer than this tessaline reads "
                            f"({VERSION}): upgrade tessaline to read it")


def _parse(text: str | bytes) -> Any:
    try:
        return json.loads(text)
    except (json.JSONDecodeError, UnicodeDecodeError) as error:
        raise DocumentError(f"not valid JSON: {error}") from None


def dumps(doc: Mapping[str, Any], indent: int | None) -> str:
    return json.dumps(doc, indent=indent, allow_nan=False, ensure_ascii=False)


# -- one binning table -----------------------------------------------------------
def binning_to_dict(table: BinningTable) -> dict[str, Any]:
    """The document of one binning table."""
    rows: dict[str, Any] = {"label": table.labels}
    for key in COLUMNS:
        column = np.asarray(table[key])
        rows[key] = ([int(v) for v in column] if key in INTEGER_COLUMNS
                     else [exact(v) for v in column])
    return {
        "schema": BINNING_SCHEMA, "version": VERSION,
        "name": table.name, "method": table.method, "kind": table.kind,
        "splits": [exact(v) for v in table.splits],
        "special_values": [exact(v) for v in table.special_values],
        "has_missing_row": table.has_missing_row,
        "bin_categories": None if table.bin_categories is None
        else [list(names) for names in table.bin_categories],
        "pooled_categories": list(table.pooled_categories),
        "information_value": exact(table.information_value),
        "rows": rows,
        "metadata": plain(table.metadata),
        "split_log": plain(dict(table.split_log)) if table.split_log is not None else None,
    }


def binning_from_dict(doc: Any, where: str = BINNING_SCHEMA) -> BinningTable:
    """The binning table a document describes, exactly as it was written."""
    _check_header(doc, BINNING_SCHEMA)
    rows = _field(doc, "rows", dict, where)
    n_rows = len(_field(rows, "count", list, f"{where} rows"))
    columns: dict[str, np.ndarray] = {}
    for key in COLUMNS:
        values = _field(rows, key, list, f"{where} rows")
        if len(values) != n_rows:
            raise DocumentError(f"{where}: row column {key!r} has {len(values)} values, "
                                f"'count' has {n_rows}")
        if key in INTEGER_COLUMNS:
            if not all(isinstance(v, int) and not isinstance(v, bool) and v >= 0 for v in values):
                raise DocumentError(f"{where}: row column {key!r} must hold counts (integers >= 0)")
            columns[key] = np.array(values, dtype=np.int64)
        else:
            columns[key] = np.array([from_exact(v, f"{where} rows.{key}") for v in values],
                                    dtype=np.float64)
    categories = doc.get("bin_categories")
    if categories is not None and not (
            isinstance(categories, list)
            and all(isinstance(b, list) and all(isinstance(c, str) for c in b) for b in categories)):
        raise DocumentError(f"{where}: 'bin_categories' must be lists of category names")
    pooled = _field(doc, "pooled_categories", list, where)
    specials = [from_exact(v, f"{where} special_values")
                for v in _field(doc, "special_values", list, where)]
    metadata = doc.get("metadata")
    split_log = doc.get("split_log")
    name = doc.get("name")
    table = BinningTable(
        {key: columns[key] for key in SUMMARY_COLUMNS},
        method=_field(doc, "method", str, where),
        name=None if name is None else str(name),
        metadata=metadata if isinstance(metadata, dict) else None,
        split_log={k: np.asarray(v) for k, v in split_log.items()}
        if isinstance(split_log, dict) else None,
        special_values=specials,
        bin_categories=None if categories is None else [tuple(b) for b in categories],
        pooled_categories=[str(c) for c in pooled],
    )
    splits = [from_exact(v, f"{where} splits") for v in _field(doc, "splits", list, where)]
    if (not np.array_equal(table.splits, np.array(splits, dtype=np.float64))
            or table.has_missing_row != bool(doc.get("has_missing_row"))):
        raise DocumentError(f"{where}: the cut points or the missing-value row do not match "
                            "the rows")
    # The WoE and IV written are the ones the table scored with: keep them
    # rather than recompute (a logarithm may round differently elsewhere).
    evidence = dict(table.columns)
    for key in ("woe", "iv"):
        columns[key].setflags(write=False)
        evidence[key] = columns[key]
    object.__setattr__(table, "_columns", types.MappingProxyType(evidence))
    object.__setattr__(table, "_iv", from_exact(_field(doc, "information_value", str, where),
                                                f"{where} information_value"))
    return table


# -- the whole table -----------------------------------------------------------
def table_binning_to_dict(binning: TableBinning) -> dict[str, Any]:
    """The document of a whole-table binning, fitted or not: its options, and
    when fitted its summary, its skipped columns and each column's table."""
    from .table import SUMMARY_FIELDS

    options = plain(binning.get_options())
    try:
        json.dumps(options, allow_nan=False)
    except (TypeError, ValueError) as error:
        raise TypeError(f"the options of this TableBinning cannot be written as JSON: {error}"
                        ) from None
    summary = [{field: (exact(getattr(row, field))
                        if isinstance(getattr(row, field), float) else getattr(row, field))
                for field in SUMMARY_FIELDS} for row in binning.summary]
    return {
        "schema": TABLE_SCHEMA, "version": VERSION,
        "options": options,
        "fitted_columns": list(binning.fitted_columns),
        "summary": summary,
        "skipped": dict(binning.skipped),
        "tables": {name: binning_to_dict(table) for name, table in binning.tables.items()},
    }


def table_binning_from_dict(doc: Any) -> TableBinning:
    """The whole-table binning a document describes."""
    from .table import SUMMARY_FIELDS, ColumnSummary, TableBinning

    _check_header(doc, TABLE_SCHEMA)
    options = _field(doc, "options", dict, TABLE_SCHEMA)
    try:
        binning = TableBinning(**options)
    except (TypeError, ValueError) as error:
        raise DocumentError(f"{TABLE_SCHEMA}: options not accepted: {error}") from None
    tables = _field(doc, "tables", dict, TABLE_SCHEMA)
    rows = []
    for row in _field(doc, "summary", list, TABLE_SCHEMA):
        if not isinstance(row, dict) or set(row) != set(SUMMARY_FIELDS):
            raise DocumentError(f"{TABLE_SCHEMA}: a summary row must have the fields "
                                f"{', '.join(SUMMARY_FIELDS)}")
        floats = {f: from_exact(row[f], f"{TABLE_SCHEMA} summary.{f}")
                  for f in ("iv", "gini", "missing_share")}
        rows.append(ColumnSummary(**{**row, **floats}))
    binning.restore(
        tables={str(name): binning_from_dict(table, f"{TABLE_SCHEMA} table {name!r}")
                for name, table in tables.items()},
        skipped={str(k): str(v) for k, v in _field(doc, "skipped", dict, TABLE_SCHEMA).items()},
        summary=rows,
        fitted_columns=[str(n) for n in _field(doc, "fitted_columns", list, TABLE_SCHEMA)],
    )
    return binning


# -- a scorecard ---------------------------------------------------------------
def scorecard_to_dict(card: Scorecard) -> dict[str, Any]:
    """The document of a fitted scorecard: its scaling, the model's
    coefficients, the points of every row and the binning's document."""
    if card.binning is None or not card.variables:
        raise ValueError("only a fitted Scorecard can be written")
    return {
        "schema": SCORECARD_SCHEMA, "version": VERSION,
        "pdo": exact(card.pdo), "base_score": exact(card.base_score),
        "base_odds": exact(card.base_odds), "rounding": card.rounding,
        "selected": card.selected, "factor": exact(card.factor), "offset": exact(card.offset),
        "variables": list(card.variables),
        "coefficients": [exact(v) for v in card.coefficients],
        "intercept": exact(card.intercept),
        "points": {name: [exact(v) for v in card.points[name]] for name in card.variables},
        "binning": table_binning_to_dict(card.binning),
    }


def scorecard_from_dict(doc: Any) -> Scorecard:
    """The scorecard a document describes (without its estimator)."""
    from .scorecard import Scorecard

    _check_header(doc, SCORECARD_SCHEMA)
    w = SCORECARD_SCHEMA
    rounding = doc.get("rounding")
    if rounding is not None and (not isinstance(rounding, int) or isinstance(rounding, bool)):
        raise DocumentError(f"{w}: 'rounding' must be an integer or null")
    card = Scorecard(pdo=from_exact(doc.get("pdo"), f"{w} pdo"),
                     base_score=from_exact(doc.get("base_score"), f"{w} base_score"),
                     base_odds=from_exact(doc.get("base_odds"), f"{w} base_odds"),
                     rounding=rounding, selected=bool(doc.get("selected", True)))
    card.binning = table_binning_from_dict(_field(doc, "binning", dict, w))
    variables = [str(v) for v in _field(doc, "variables", list, w)]
    missing = [v for v in variables if v not in card.binning.tables]
    coefficients = [from_exact(v, f"{w} coefficients") for v in _field(doc, "coefficients", list, w)]
    if missing or len(coefficients) != len(variables):
        raise DocumentError(f"{w}: the variables, their coefficients and the binning's tables "
                            "do not match")
    card.set_model(variables, coefficients, from_exact(doc.get("intercept"), f"{w} intercept"))
    card.factor = from_exact(doc.get("factor"), f"{w} factor")
    card.offset = from_exact(doc.get("offset"), f"{w} offset")
    points = _field(doc, "points", dict, w)
    card.points = {v: np.array([from_exact(p, f"{w} points") for p in _field(points, v, list, w)])
                   for v in variables}
    return card


# -- entry points ----------------------------------------------------------------
READERS: dict[str, Callable[[Any], Any]] = {
    BINNING_SCHEMA: binning_from_dict,
    TABLE_SCHEMA: table_binning_from_dict,
    SCORECARD_SCHEMA: scorecard_from_dict,
}


def from_json(text: str | bytes) -> BinningTable | TableBinning | Scorecard:
    """The object a tessaline JSON document describes (a `BinningTable`, a
    `TableBinning` or a `Scorecard`, by the document's schema)."""
    doc = _parse(text)
    schema = doc.get("schema") if isinstance(doc, dict) else None
    reader = READERS.get(schema) if isinstance(schema, str) else None
    if reader is None:
        raise DocumentError(f"not a tessaline document (schema {schema!r}); known schemas: "
                            f"{', '.join(READERS)}")
    result: BinningTable | TableBinning | Scorecard = reader(doc)
    return result


def read(text: str | bytes, expected: str) -> Any:
    doc = _parse(text)
    return READERS[expected](doc)
