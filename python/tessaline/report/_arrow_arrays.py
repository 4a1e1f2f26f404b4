"""Arrow arrays as NumPy arrays, read straight from their buffers. pyarrow's
own conversion (to_numpy) imports pandas on its first call, which costs the
report's reader about a third of a second and 40 MB; these views do not."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from .._core.arrays import FloatArray


def _bits(buffer: Any, offset: int, n: int) -> npt.NDArray[np.bool_]:
    """`n` bits of an Arrow bitmap from bit `offset` (least significant first)."""
    if n == 0:
        return np.zeros(0, dtype=np.bool_)
    packed = np.frombuffer(buffer, dtype=np.uint8)
    return np.unpackbits(packed, count=offset + n, bitorder="little")[offset:].view(np.bool_)


def fixed_width(array: Any, dtype: type[np.generic]) -> np.ndarray:
    """The values of an Arrow array of fixed-width numbers as a read-only
    view of its buffer (a null's slot holds no defined value)."""
    if len(array) == 0:
        return np.zeros(0, dtype=dtype)
    size = np.dtype(dtype).itemsize
    return np.frombuffer(
        array.buffers()[1], dtype=dtype, count=len(array), offset=array.offset * size
    )


def float_values(array: Any) -> FloatArray:
    """An Arrow float64 array with NaN for a null: a view of its buffer
    when it holds no null."""
    values = fixed_width(array, np.float64)
    if array.null_count == 0:
        return values
    return np.where(_bits(array.buffers()[0], array.offset, len(array)), values, np.nan)


def flags(array: Any) -> npt.NDArray[np.bool_]:
    """An Arrow boolean array without nulls as NumPy booleans."""
    assert array.null_count == 0
    return _bits(array.buffers()[1], array.offset, len(array))
