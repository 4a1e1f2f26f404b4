"""Column access to the tables analysts hold: pandas and polars DataFrames,
pyarrow Tables and dicts of arrays, each read through its own interface
(never converted through another library), and whether a column holds
categories or numbers."""

from __future__ import annotations

from collections import Counter
from collections.abc import Mapping
from typing import Any

import numpy as np

from . import checks
from .arrays import FloatArray, holds_decimals
from .dependencies import library_of, require

# dtype names (pandas, polars, pyarrow) of columns read as categories.
_CATEGORICAL_TYPES = (
    "category",
    "string",
    "str",
    "boolean",
    "bool",
    "utf8",
    "large_string",
    "large_utf8",
    "categorical",
    "enum",
    "dictionary",
)


def column_names(data: Any) -> list[str]:
    """The column names of a table, in its order; names that repeat (as
    text: the pandas columns 0 and "0" are both "0") are an error naming
    them, as no column could be told from the other."""
    if isinstance(data, Mapping):
        names = [str(name) for name in data]
    elif library_of(data) == "pyarrow" and hasattr(data, "column_names"):
        names = [str(n) for n in data.column_names]
    elif library_of(data) in ("pandas", "polars") and hasattr(data, "columns"):
        names = [str(n) for n in data.columns]
    else:
        raise TypeError(
            "expected a pandas or polars DataFrame, a pyarrow Table or a dict of "
            f"arrays, not {type(data).__name__}"
        )
    if len(set(names)) < len(names):
        repeated = [n for n, times in Counter(names).items() if times > 1]
        raise ValueError(
            f"the table has more than one column named "
            f"{', '.join(map(repr, repeated))}: rename them apart"
        )
    return names


def target_name(data: Any, y: Any) -> str | None:
    """The name of the column of `data` that `y` names (a column name, or
    the integer naming a column of a pandas DataFrame built from an array or
    a dict keyed by integers), None when `y` is the target itself."""
    if isinstance(y, bool) or not isinstance(y, (str, int, np.integer)):
        return None
    name = str(y)
    return name if name in column_names(data) else None


def column(data: Any, name: str) -> Any:
    """One column of a table, in the table's own form."""
    if isinstance(data, Mapping):
        for key in data:
            if str(key) == name:
                return data[key]
    library = library_of(data)
    if library == "pyarrow":
        return data.column(name)
    if library == "polars":
        return data.get_column(name)
    for key in data.columns:
        if str(key) == name:
            return data[key]
    raise KeyError(name)


def columns(data: Any, names: list[str]) -> dict[str, Any]:
    """The columns `names` of a table, in the table's own form, read in one
    pass over its columns (a lookup by name per column would cost a scan of
    the names each: quadratic on a table of thousands of columns)."""
    if isinstance(data, Mapping):
        by_name = {str(key): values for key, values in data.items()}
    elif library_of(data) == "pyarrow":
        by_name = dict(zip((str(n) for n in data.column_names), data.columns))
    elif library_of(data) == "polars":
        by_name = {str(series.name): series for series in data.get_columns()}
    else:
        by_name = {str(key): values for key, values in data.items()}
    return {name: by_name[name] for name in names}


def length(values: Any) -> int:
    return len(values) if hasattr(values, "__len__") else int(np.size(values))


def is_categorical(values: Any) -> bool:
    """Whether a column holds categories: strings, booleans, pandas
    ``category``, polars Categorical/Enum, pyarrow dictionary arrays. A
    column of Python decimals holds numbers, as the same data in a float,
    pyarrow decimal or polars Decimal column do."""
    dtype = getattr(values, "dtype", None)
    if isinstance(dtype, np.dtype) and dtype.kind in "fiuc":
        # NumPy's numbers (also behind a pandas Series): settled by the dtype.
        return False
    if holds_decimals(values):
        return False
    if isinstance(values, np.ma.MaskedArray):
        return values.dtype.kind in "OSUb"
    if dtype is None:
        dtype = getattr(values, "type", None)
    if dtype is None:
        return np.asarray(values).dtype.kind in "OSUb"
    kind = getattr(dtype, "kind", None)
    if isinstance(kind, str) and kind in "OSUb":
        return True
    text = str(dtype).lower()
    return any(
        text == t
        or text.startswith(t + "[")
        or text.startswith(t + "(")
        or text.startswith(t + "<")
        for t in _CATEGORICAL_TYPES
    )


def like_input(data: Any, columns: dict[str, Any]) -> Any:
    """The transformed columns in the form of the input table: a pandas or
    polars DataFrame for one, a dict of NumPy arrays otherwise."""
    library = library_of(data)
    if library in ("pandas", "polars"):
        # The input's own library, loaded since it made the input.
        frame = require(library, "transform").DataFrame
        return frame(columns, index=data.index) if library == "pandas" else frame(columns)
    return columns


def take_rows(data: Any, rows: Any) -> Any:
    """The rows at the positions `rows` of a table, in the table's own form."""
    positions = np.asarray(rows, dtype=np.int64)
    if isinstance(data, Mapping):
        return {
            key: (
                values.take(positions)
                if hasattr(values, "take") and not isinstance(values, np.ndarray)
                else np.asarray(values)[positions]
            )
            for key, values in data.items()
        }
    library = library_of(data)
    if library == "pandas":
        return data.iloc[positions]
    if library == "pyarrow":
        return data.take(positions)
    if library == "polars":
        return data[positions]
    raise TypeError(f"cannot take rows of {type(data).__name__}")


def weight_column(data: Any, sample_weight: Any) -> tuple[Any, str | None]:
    """The weights `sample_weight` gives (None without): its column of `data`
    when it names one, with that name, or itself."""
    name = target_name(data, sample_weight) if sample_weight is not None else None
    if isinstance(sample_weight, str) and name is None:
        raise ValueError(f"sample_weight names no column of the data: {sample_weight!r}")
    return (column(data, name) if name is not None else sample_weight), name


def weights_of(data: Any, sample_weight: Any, n_rows: int) -> tuple[FloatArray | None, str | None]:
    """The checked weights of the rows (None without), and the name of the
    column of `data` holding them when `sample_weight` names one."""
    given, name = weight_column(data, sample_weight)
    return checks.sample_weights(given, n_rows), name


def checked_weights_of(
    data: Any, sample_weight: Any, n_rows: int
) -> tuple[checks.CheckedWeights | None, str | None]:
    """`weights_of`, the weights marked for the columns of one fit
    (`checks.checked_once`)."""
    given, name = weight_column(data, sample_weight)
    return checks.checked_once(given, n_rows), name
