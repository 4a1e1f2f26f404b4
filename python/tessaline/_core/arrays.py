"""Turning what analysts hold (lists, NumPy arrays, pandas Series, nullable
pandas columns) into the flat float64 and int32 arrays the native module reads."""

from __future__ import annotations

import types
from collections.abc import Mapping
from dataclasses import dataclass
from decimal import Decimal
from typing import Any, ClassVar

import numpy as np
import numpy.typing as npt

from . import native
from .dependencies import library_of, require
from .pickle_state import SlotState
from .result_frames import FrameKind, columns_frame

FloatArray = npt.NDArray[np.float64]
IntArray = npt.NDArray[np.int64]


# How the dtypes of dates, times and durations are written (NumPy, pandas,
# polars, pyarrow), in lower case.
_TIME_TYPES = ("datetime", "date", "timestamp", "time", "duration", "timedelta")
# Why a column of dates, times or durations is not binned, in any engine.
TIMES_REFUSED = (
    "the column holds dates or times, whose numbers depend on their unit: convert "
    "it to a number first (days since a reference date, or a number of months, say)"
)


def dtype_of(values: Any) -> Any:
    """The dtype of a NumPy, pandas or polars column, the type of a pyarrow one."""
    dtype = getattr(values, "dtype", None)
    return getattr(values, "type", None) if dtype is None else dtype


def holds_times(values: Any) -> bool:
    """Whether a column holds dates, times or durations (by its dtype)."""
    dtype = dtype_of(values)
    if dtype is None:
        return False
    kind = getattr(dtype, "kind", None)
    return (isinstance(kind, str) and kind in "Mm") or str(dtype).lower().startswith(_TIME_TYPES)


def _missing_object(value: Any) -> bool:
    """None, a float NaN or pandas' NA."""
    return (
        value is None
        or (isinstance(value, float) and value != value)
        or type(value).__name__ == "NAType"
    )


def holds_decimals(values: Any) -> bool:
    """Whether a column of Python objects holds decimals (what SQL drivers
    and pyarrow's ``to_pandas`` give for NUMERIC) and missing values only,
    with at least one decimal: such a column holds numbers."""
    if isinstance(values, np.ma.MaskedArray):
        values = values.compressed()
    dtype = dtype_of(values)
    if dtype is None:
        values = np.asarray(values)
        dtype = values.dtype
    if getattr(dtype, "kind", None) != "O" or str(dtype) in ("str", "string"):
        return False  # pandas text columns hold no decimal
    categories = getattr(dtype, "categories", None)
    if categories is not None and (
        getattr(categories.dtype, "kind", None) != "O"
        or str(categories.dtype) in ("str", "string")
        or not any(isinstance(v, Decimal) for v in categories)
    ):
        # A pandas category column whose categories hold no decimal: settled
        # by its dtype, without a look at its rows.
        return False
    cat = getattr(values, "cat", None)
    if cat is not None and hasattr(cat, "codes") and hasattr(cat, "categories"):
        # A pandas category column holds the categories its codes use: look
        # at those (only objects can be decimals), not at every row.
        codes = np.asarray(cat.codes)
        used = np.bincount(codes[codes >= 0], minlength=len(cat.categories)) > 0
        values = np.asarray(cat.categories, dtype=object)[used]
        if not used.any():
            return False
    objects = np.ravel(np.asarray(values, dtype=object))
    # The first present value settles a column of strings at once.
    first = next((v for v in objects if not _missing_object(v)), None)
    return isinstance(first, Decimal) and all(
        isinstance(v, Decimal) or _missing_object(v) for v in objects.tolist()
    )


def as_float_array(values: Any) -> FloatArray:
    """A flat float64 array of `values`; a missing value of a pandas, polars or
    pyarrow column (``pd.NA``, ``None``, null) and a masked entry of a NumPy
    masked array become NaN. Decimals become the nearest float.

    Dates, times and durations are refused: their numbers depend on the unit
    they arrive in (the same instant is 1000 times larger in nanoseconds than
    in microseconds), so cut points fitted in one unit would misplace every
    row given in another."""
    if holds_times(values):
        raise TypeError(TIMES_REFUSED)
    if isinstance(values, np.ma.MaskedArray):
        # Masked entries are missing values, whatever the data under the mask.
        return np.ravel(np.ma.filled(values.astype(np.float64), np.nan))
    library = library_of(values)
    if library == "polars":
        polars = require("polars", "reading a polars column")
        return np.ravel(values.cast(polars.Float64).to_numpy())
    if library == "pyarrow":
        pyarrow = require("pyarrow", "reading a pyarrow column")
        if pyarrow.types.is_decimal(values.type):
            # pyarrow's own cast of a decimal to float64 can miss the nearest
            # float by one unit in the last place; its text parses to it.
            values = values.cast(pyarrow.string())
        return np.ravel(
            np.asarray(
                values.cast(pyarrow.float64()).to_numpy(zero_copy_only=False), dtype=np.float64
            )
        )
    to_numpy = getattr(values, "to_numpy", None)
    if to_numpy is not None:
        # pandas Series, Index and extension arrays: their own conversion knows
        # how to turn pd.NA into NaN, NumPy's does not.
        array = to_numpy(dtype=np.float64, na_value=np.nan)
    else:
        array = np.asarray(values, dtype=np.float64)
    return np.ravel(array)


@dataclass(frozen=True)
class Labels:
    """A binary target read once for many columns: the rows of known target
    (None when every row's is known) and their int32 labels."""

    known: npt.NDArray[np.bool_] | None
    labels: npt.NDArray[np.int32]

    def rows(self, xs: FloatArray) -> FloatArray:
        """The values of the rows of known target."""
        return xs if self.known is None else xs[self.known]


def target_labels(y: Any) -> Labels:
    """The binary target `y` as int32 labels of its rows of known target
    (see `labelled_rows`)."""
    labels, known = native.target_labels(as_float_array(y))
    return Labels(known, labels)


def _int32_labels(ys: FloatArray) -> npt.NDArray[np.int32]:
    """0/1 values as int32 labels, any other value as -1."""
    # One int32 copy of the target and one pass to find what it changed: the
    # rows are many and every fresh byte is paid for on first touch.
    with np.errstate(invalid="ignore"):
        labels = ys.astype(np.int32)
    other = (labels.view(np.uint32) > 1) | (labels != ys)
    if other.any():
        labels[other] = -1
    return labels


def labelled_rows(x: Any, y: Any) -> tuple[FloatArray, npt.NDArray[np.int32]]:
    """`x` as float64 and the binary target `y` as int32 labels, without the
    rows whose target is missing (NaN).

    A target value other than 0 and 1 becomes -1 rather than being truncated
    toward zero by the int32 conversion (0.7 would silently turn into 0), so
    that the native function rejects it with its own message."""
    xs = as_float_array(x)
    ys = as_float_array(y)
    if xs.size != ys.size:
        # Left whole, for the native function to name the mismatch.
        return xs, _int32_labels(ys)
    target = target_labels(ys)
    return target.rows(xs), target.labels


def column_name(values: Any) -> str | None:
    """The name a pandas Series carries, if any."""
    name = getattr(values, "name", None)
    return None if name is None else str(name)


class ColumnTable(SlotState):
    """Named read-only columns of one length, by name and in table order; the
    class names the column whose length is the table's."""

    __slots__ = ()
    _columns: Mapping[str, npt.NDArray[Any]]
    _length_column: ClassVar[str]

    @property
    def columns(self) -> Mapping[str, npt.NDArray[Any]]:
        """All columns, read-only, in table order."""
        return self._columns

    def __getitem__(self, column: str) -> npt.NDArray[Any]:
        return self._columns[column]

    def __len__(self) -> int:
        return len(self._columns[self._length_column])


class PlainColumnTable(ColumnTable):
    """A `ColumnTable` over the given columns, each made read-only, that
    becomes a pandas DataFrame column for column."""

    __slots__ = ("_columns",)

    def __init__(self, columns: dict[str, npt.NDArray[Any]]) -> None:
        for array in columns.values():
            array.setflags(write=False)
        self._columns = types.MappingProxyType(columns)

    def to_frame(self, kind: FrameKind = "pandas") -> Any:
        """The columns as a DataFrame of `kind` ("pandas", "polars" or "arrow")."""
        return columns_frame(self._columns, kind, f"{type(self).__name__}.to_frame")
