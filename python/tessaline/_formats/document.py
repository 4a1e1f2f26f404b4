"""The one document form of every fitted model: a JSON object that names its
schema and version, with exact floats. Each model class writes and reads its
own fields with the helpers here; `tessaline._serialize.from_json` picks the
class by the schema.

Every float that decides a result (cut points, special values, the columns
of each row, WoE and IV) is written as a hexadecimal float string
(``float.hex``: "0x1.8000000000000p+1" is 3.0, "-inf", "nan"), which names
the double exactly and is read back bit for bit in any language (C's
``strtod``, Java's ``Double.parseDouble``, Python's ``float.fromhex``).
Only that exact form is read: decimal text such as "1.5" is refused rather
than taken for hexadecimal digits. Counts are JSON integers. The
preprocessing counters and the log of the search, which are for reading
only, are plain JSON with missing numbers as null. A reader refuses a
schema it does not know or a version newer than its own.
"""

from __future__ import annotations

import contextlib
import json
import math
import re
from collections.abc import Iterator, Mapping
from typing import Any

import numpy as np

from .._version import __version__
from ..exceptions import DocumentError

BINNING_SCHEMA = "tessaline.binning"
TABLE_SCHEMA = "tessaline.table_binning"
SCORECARD_SCHEMA = "tessaline.scorecard"
CONTINUOUS_SCHEMA = "tessaline.continuous_binning"
CONTINUOUS_TABLE_SCHEMA = "tessaline.continuous_table_binning"
MULTICLASS_SCHEMA = "tessaline.multiclass_binning"
MULTICLASS_TABLE_SCHEMA = "tessaline.multiclass_table_binning"
# The newest version this release reads. Version 2 documents carry an edit
# log (field 'edits'), version 3 ones a log whose records are chained by
# their digests; a document without a log is still written as version 1,
# which every release reads.
VERSION = 3
EDITED = 2
CHAINED = 3


# Which release wrote a document: for the reader only, never checked, so that
# a validator can name the build behind a model.
WRITER = f"tessaline {__version__}"


def header(schema: str, version: int = 1) -> dict[str, Any]:
    """The first fields of a document of `schema`."""
    return {"schema": schema, "version": version, "written_by": WRITER}


def writer_of(doc: Any) -> str | None:
    """The release that wrote `doc` ("tessaline 0.1.0"), None when it does
    not say (a document of a release before 0.1.0 or written by hand)."""
    found = doc.get("written_by") if isinstance(doc, Mapping) else None
    return found if isinstance(found, str) else None


# -- values ------------------------------------------------------------------
def exact(value: float) -> str:
    """A double as its hexadecimal float string."""
    return float(value).hex()


# What `exact` writes: a signed hexadecimal significand with a binary exponent,
# or one of the three non-finite names. `float.fromhex` alone would also read
# "20" (as 32.0) and " 0x1p+0 ".
_EXACT = re.compile(
    r"[+-]?0[xX](?:[0-9a-fA-F]+\.?[0-9a-fA-F]*|\.[0-9a-fA-F]+)[pP][+-]?[0-9]+"
    r"|-?inf|nan"
)


def from_exact(text: Any, where: str) -> float:
    """The double a hexadecimal float string of `exact` names."""
    if not isinstance(text, str):
        raise DocumentError(f"{where}: expected a hexadecimal float string, got {text!r}")
    if _EXACT.fullmatch(text) is None:
        raise DocumentError(f"{where}: {text!r} is not a hexadecimal float")
    try:
        return float.fromhex(text)
    except OverflowError:
        raise DocumentError(f"{where}: {text!r} is beyond the range of a double") from None


def finite(text: Any, where: str) -> float:
    """A finite double of `exact`."""
    value = from_exact(text, where)
    if not math.isfinite(value):
        raise DocumentError(f"{where}: {text!r} must be finite")
    return value


def floats(doc: Mapping[str, Any], key: str, where: str) -> list[float]:
    """The list field `key` of `doc`, of doubles of `exact`."""
    return [from_exact(v, f"{where} {key}") for v in field(doc, key, list, where)]


def within_ulps(stored: Any, computed: Any, ulps: float) -> bool:
    """Whether every stored double is the computed one to `ulps` units in the
    last place (NaN where, and only where, the computed one is NaN)."""
    a = np.asarray(stored, dtype=np.float64)
    b = np.asarray(computed, dtype=np.float64)
    if a.shape != b.shape or not np.array_equal(np.isnan(a), np.isnan(b)):
        return False
    known = ~np.isnan(b)
    gap = np.abs(a[known] - b[known])
    return bool(np.all(gap <= ulps * np.spacing(np.maximum(np.abs(a[known]), np.abs(b[known])))))


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


def field(doc: Mapping[str, Any], key: str, kind: type, where: str) -> Any:
    """The field `key` of `doc`, which must be present and of type `kind`."""
    if key not in doc:
        raise DocumentError(f"{where}: missing field {key!r}")
    if not isinstance(doc[key], kind) or (kind is int and isinstance(doc[key], bool)):
        raise DocumentError(
            f"{where}: field {key!r} must be a {kind.__name__}, not {type(doc[key]).__name__}"
        )
    return doc[key]


def names(doc: Mapping[str, Any], key: str, where: str) -> list[str]:
    """The list field `key` of `doc`, of distinct strings."""
    values = field(doc, key, list, where)
    if not all(isinstance(v, str) for v in values) or len(set(values)) != len(values):
        raise DocumentError(f"{where}: field {key!r} must hold distinct names (strings)")
    return list(values)


def flag(doc: Mapping[str, Any], key: str, where: str) -> bool:
    """The field `key` of `doc`, true or false (not text, not a number)."""
    value: bool = field(doc, key, bool, where)
    return value


def check_header(doc: Any, schema: str) -> None:
    """Refuse anything but a document of `schema` of a version this reads."""
    if not isinstance(doc, Mapping):
        raise DocumentError(f"expected a JSON object, got {type(doc).__name__}")
    found = doc.get("schema")
    if found != schema:
        raise DocumentError(f"not a {schema!r} document (schema {found!r})")
    version = doc.get("version")
    if not isinstance(version, int) or isinstance(version, bool) or version < 1:
        raise DocumentError(f"{schema}: version must be a positive integer, not {version!r}")
    if version > VERSION:
        raise DocumentError(
            f"{schema} version {version} is newer than this tessaline reads "
            f"({VERSION}): upgrade tessaline to read it"
        )


def edit_log(doc: Mapping[str, Any], where: str) -> Any:
    """The field 'edits' of a document, which a document of version 2 or
    later holds and an older one does not (None when absent)."""
    edited = doc.get("version", 1) >= EDITED
    if edited != ("edits" in doc):
        raise DocumentError(
            f"{where}: a version {doc['version']} document must hold its edit log"
            if edited
            else f"{where}: only a document of version 2 or later holds an edit log"
        )
    return doc.get("edits")


def parse(text: str | bytes) -> Any:
    """The JSON value of a document's text."""
    try:
        return json.loads(text)
    except (ValueError, RecursionError) as error:
        # A decoding error, an integer of too many digits, nesting too deep.
        raise DocumentError(f"not valid JSON: {error}") from None


@contextlib.contextmanager
def reading(where: str) -> Iterator[None]:
    """A context in which any error of reading a document's fields (a value
    NumPy or a constructor refuses, too large, too deeply nested) becomes a
    `DocumentError` naming `where`."""
    try:
        yield
    except DocumentError:
        raise
    except (ValueError, TypeError, KeyError, OverflowError, RecursionError) as error:
        raise DocumentError(f"{where}: {error}") from None


def bins_fields(table: Any) -> dict[str, Any]:
    """The fields that place a binning table's rows, alike for a binary and a
    continuous target: its name, method and kind, cut points (exact), special
    values, whether it has a missing-value row, and its sets of categories."""
    return {
        "name": table.name,
        "method": table.method,
        "kind": table.kind,
        "splits": [exact(v) for v in table.splits],
        "special_values": [exact(v) for v in table.special_values],
        "has_missing_row": table.has_missing_row,
        "bin_categories": None
        if table.bin_categories is None
        else [list(names) for names in table.bin_categories],
    }


def dumps(doc: Mapping[str, Any], indent: int | None) -> str:
    return json.dumps(doc, indent=indent, allow_nan=False, ensure_ascii=False)
