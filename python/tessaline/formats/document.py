"""The one document form of every fitted model: a JSON object that names its
schema and version, with exact floats. Each model class writes and reads its
own fields with the helpers here; `tessaline.serialize.from_json` picks the
class by the schema.

Every float that decides a result (cut points, special values, the columns
of each row, WoE and IV) is written as a hexadecimal float string
(``float.hex``: "0x1.8000000000000p+1" is 3.0, "-inf", "nan"), which names
the double exactly and is read back bit for bit in any language (C's
``strtod``, Java's ``Double.parseDouble``, Python's ``float.fromhex``).
Counts are JSON integers. The preprocessing counters and the log of the
search, which are for reading only, are plain JSON with missing numbers as
null. A reader refuses a schema it does not know or a version newer than
its own.
"""
from __future__ import annotations

import json
import math
from collections.abc import Mapping
from typing import Any

import numpy as np

from ..exceptions import DocumentError

BINNING_SCHEMA = "tessaline.binning"
TABLE_SCHEMA = "tessaline.table_binning"
SCORECARD_SCHEMA = "tessaline.scorecard"
VERSION = 1


def header(schema: str) -> dict[str, Any]:
    """The first fields of a document of `schema`."""
    return {"schema": schema, "version": VERSION}


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


def field(doc: Mapping[str, Any], key: str, kind: type, where: str) -> Any:
    """The field `key` of `doc`, which must be present and of type `kind`."""
    if key not in doc:
        raise DocumentError(f"{where}: missing field {key!r}")
    if not isinstance(doc[key], kind):
        raise DocumentError(f"{where}: field {key!r} must be a {kind.__name__}, "
                            f"not {type(doc[key]).__name__}")
    return doc[key]


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
        raise DocumentError(f"{schema} version {version} is newer than this tessaline reads "
                            f"({VERSION}): upgrade tessaline to read it")


def parse(text: str | bytes) -> Any:
    """The JSON value of a document's text."""
    try:
        return json.loads(text)
    except (json.JSONDecodeError, UnicodeDecodeError) as error:
        raise DocumentError(f"not valid JSON: {error}") from None


def dumps(doc: Mapping[str, Any], indent: int | None) -> str:
    return json.dumps(doc, indent=indent, allow_nan=False, ensure_ascii=False)
