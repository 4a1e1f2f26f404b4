"""Categorical values as integer codes: each distinct value gets its name (the
text shown in tables) and a code, the position of that name in ascending name
order; a missing value gets code -1. Strings, booleans, integer codes, pandas
``category`` columns, pyarrow arrays, polars Series and masked arrays are read
without a round trip through Python objects where the library allows it.

A value's category is its name, which the value alone decides, never the
values beside it in the column: True is "True" and 1 is "1" (two categories,
though Python finds them equal), while 1, 1.0 and "1" are one category. A
list that mixes booleans with numbers, or text with other values, is
therefore read value by value rather than converted to one type, and
booleans among other objects are not merged with the numbers they equal."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from decimal import Decimal
from typing import Any

import numpy as np
import numpy.typing as npt

from . import native
from .dependencies import installed, require

CodeArray = npt.NDArray[np.int64]


@dataclass(frozen=True)
class Encoded:
    codes: CodeArray  # one per row, -1 for a missing value
    names: list[str]  # ascending; codes index into it


def category_name(value: Any) -> str:
    """The name of one category: integral floats print as integers (a code
    read as 2.0 and one read as 2 are the same category); a decimal is named
    as its nearest float (2.50 as 2.5), as a decimal column read as floats is;
    a boolean is "True" or "False"."""
    if isinstance(value, np.generic):
        value = value.item()
    if isinstance(value, Decimal):
        value = float(value)
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value)


def _by_name(raw_codes: CodeArray, uniques: Any) -> Encoded:
    """Renumber codes so that they follow name order, merging values whose
    names coincide."""
    # Text is its own name: a column of strings is named without a call per value.
    raw_names = (
        uniques if all(type(u) is str for u in uniques) else [category_name(u) for u in uniques]
    )
    names = sorted(set(raw_names))
    if names == raw_names:
        # Already distinct and in name order (a pandas category column, np.unique).
        return Encoded(np.ascontiguousarray(raw_codes, dtype=np.int64), names)
    position = {name: i for i, name in enumerate(names)}
    renumber = np.array([position[n] for n in raw_names], dtype=np.int64)
    codes = native.lookup_int(np.ascontiguousarray(raw_codes, dtype=np.int64), renumber, -1)
    return Encoded(codes, names)


def _is_category_value(value: Any) -> bool:
    return value is None or isinstance(value, (str, bytes, int, float, bool, np.generic))


def _missing_of_objects(values: npt.NDArray[Any]) -> npt.NDArray[np.bool_]:
    # None, NaN, pandas' NA and NaT: everything that does not equal itself or is None.
    return np.fromiter((v is None or v != v for v in values), dtype=bool, count=values.size)


def _encode_numpy(array: npt.NDArray[Any], missing: npt.NDArray[np.bool_] | None) -> Encoded:
    array = np.ravel(array)
    if array.dtype.kind == "f":
        nan = np.isnan(array)
        missing = nan if missing is None else missing | nan
    elif array.dtype.kind == "O":
        pandas = installed("pandas")
        if pandas is not None:
            try:
                raw, uniques = pandas.factorize(array, use_na_sentinel=True)
                if _may_hide_booleans(uniques):
                    named = _booleans_named(array)
                    if named is not array:
                        raw, uniques = pandas.factorize(named, use_na_sentinel=True)
            except TypeError:
                odd = next(v for v in array.tolist() if not _is_category_value(v))
                raise TypeError(
                    f"a category argument must be a string or a number, not {type(odd).__name__}"
                ) from None
            raw = raw.astype(np.int64)
            if missing is not None:
                raw[missing] = -1
            return _by_name(raw, list(uniques))
        array = _booleans_named(array)
        none = _missing_of_objects(array)
        missing = none if missing is None else missing | none
    codes = np.full(array.size, -1, dtype=np.int64)
    present = slice(None) if missing is None else ~missing
    uniques, inverse = np.unique(array[present], return_inverse=True)
    codes[present] = inverse
    return _by_name(codes, list(uniques))


def _may_hide_booleans(uniques: Sequence[Any]) -> bool:
    """Whether the distinct values a hash table found may have merged a
    boolean with a number it equals (True with 1, False with 0.0, either way
    round): never in a column of text."""
    return any(
        isinstance(u, (bool, np.bool_, int, float, Decimal, np.number)) and (u == 0 or u == 1)
        for u in uniques
    )


def _booleans_named(array: npt.NDArray[Any]) -> npt.NDArray[Any]:
    """An array of objects with its booleans among other values replaced by
    their names: a hash table, or a sort, takes True for 1 and False for 0,
    and would name the category by whichever came first."""
    pandas_types = installed("pandas.api.types")
    # One pass in C tells a column of booleans alone, or of numbers alone.
    if pandas_types is not None and pandas_types.infer_dtype(array, skipna=True) not in (
        "mixed",
        "mixed-integer",
    ):
        return array
    flags = np.fromiter(
        (isinstance(v, (bool, np.bool_)) for v in array.flat), dtype=bool, count=array.size
    )
    if flags.all() or not flags.any():
        return array
    named = np.array(array, dtype=object, copy=True)
    named[flags] = [category_name(v) for v in named[flags]]
    return named


def _as_array(values: Any) -> npt.NDArray[Any]:
    """A sequence as an array; one that mixes booleans with numbers, or text
    with anything else, as objects, since NumPy would make True the number 1
    and 0.0 the text "0.0"."""
    array = np.asarray(values)
    kind = array.dtype.kind
    if isinstance(values, (list, tuple)) and kind in "iufUS":
        types = set(map(type, values))
        if kind in "iuf":
            mixed = any(issubclass(t, (bool, np.bool_)) for t in types)
        else:
            mixed = not all(issubclass(t, str if kind == "U" else bytes) for t in types)
        if mixed:
            return np.asarray(values, dtype=object)
    return array


def encode(values: Any) -> Encoded:
    """The codes and names of a column of categories."""
    if isinstance(values, np.ma.MaskedArray):
        return _encode_numpy(np.ma.getdata(values), np.ravel(np.ma.getmaskarray(values)))
    cat = getattr(values, "cat", None)
    if cat is not None:
        # A pandas category column: its codes already number its categories,
        # read from the Categorical behind it (the accessor's codes are a
        # Series built on every read, asked for only where that is missing).
        held: Any = getattr(values, "array", None)
        if not (hasattr(held, "codes") and hasattr(held, "categories")):
            held = cat if hasattr(cat, "codes") and hasattr(cat, "categories") else None
        if held is not None:
            return _by_name(np.asarray(held.codes, dtype=np.int64), held.categories.tolist())
    if hasattr(values, "dictionary_encode"):
        # pyarrow Array or ChunkedArray.
        return _encode_arrow(values)
    if _is_pandas_text(values):
        if getattr(values.dtype, "storage", None) == "pyarrow":
            # pandas' default string dtype keeps its text in pyarrow: read
            # there (without a copy), its hashing skips the work pandas'
            # factorize adds around the same dictionary encoding.
            return _encode_arrow(_pandas_arrow(values))
        # pandas' string dtype of Python strings: its own factorize numbers
        # its missing values -1.
        raw, uniques = values.factorize(use_na_sentinel=True)
        return _by_name(raw.astype(np.int64, copy=False), uniques.tolist())
    to_numpy = getattr(values, "to_numpy", None)
    if to_numpy is not None:
        # pandas (object, string, nullable boolean) and polars Series.
        return _encode_numpy(
            np.asarray(to_numpy(), dtype=object)
            if _is_nullable(values)
            else np.asarray(to_numpy()),
            None,
        )
    return _encode_numpy(_as_array(values), None)


def _encode_arrow(values: Any) -> Encoded:
    """The codes and names of a pyarrow Array or ChunkedArray: its dictionary
    encoding (the strings hashed where they are stored, the interpreter's
    lock released), its nulls numbered -1."""
    pa = require("pyarrow", "reading a pyarrow column")
    encoded = values.dictionary_encode()
    if isinstance(encoded, pa.ChunkedArray):
        encoded = (
            encoded.combine_chunks()
            if encoded.num_chunks
            else pa.array([], type=pa.dictionary(pa.int32(), values.type))
        )
    indices = encoded.indices.fill_null(-1).to_numpy(zero_copy_only=False)
    return _by_name(indices.astype(np.int64), encoded.dictionary.to_pylist())


def _pandas_arrow(values: Any) -> Any:
    """The pyarrow array behind a pandas column (Series or array) of text
    stored in pyarrow, shared rather than copied."""
    held = getattr(values, "array", values)
    return held.__arrow_array__()


def _is_pandas_text(values: Any) -> bool:
    """Whether a column is a pandas Series or array of its string dtype."""
    dtype = getattr(values, "dtype", None)
    if type(dtype).__module__.split(".")[0] != "pandas" or not hasattr(values, "factorize"):
        return False
    return isinstance(dtype, require("pandas", "a text column").StringDtype)


def _is_nullable(values: Any) -> bool:
    """Whether a pandas or polars column may hold missing values that its plain
    NumPy form would turn into something else (False for a boolean with NA)."""
    null_count = getattr(values, "null_count", None)
    if callable(null_count):
        return bool(null_count())
    hasnans = getattr(values, "hasnans", None)
    return bool(hasnans) and getattr(values.dtype, "kind", "O") != "f"


# Name of the group that pools the categories below the minimum share.
OTHER = "other"
