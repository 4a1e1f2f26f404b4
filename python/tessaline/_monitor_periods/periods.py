"""The period of every row: the labels of a period column as they are, or
dates bucketed by month ("2024-01") or quarter ("2024-Q1"), and the order in
which periods are shown: chronological for numbers, dates and text naming
months or dates, as first given for any other text."""

from __future__ import annotations

from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._core import checks, frames
from .._monitoring import _chronological

Frequency = Literal["month", "quarter"]
FREQUENCIES = ("month", "quarter")


def _months(values: Any) -> npt.NDArray[np.datetime64]:
    try:
        return np.asarray(values).astype("datetime64[M]")
    except (TypeError, ValueError):
        raise ValueError(
            "the period column must hold dates to be bucketed by month or quarter"
        ) from None


def period_labels(data: Any, period: str, frequency: Frequency | None) -> list[tuple[str, Any]]:
    """(label, rows of `data`) of every period of the column `period`, in
    time order (see the module)."""
    try:
        values = frames.column(data, period)
    except KeyError:
        raise ValueError(f"period names no column of the data: {period!r}") from None
    if frequency is None:
        labels = np.asarray(values, dtype=object)
        order = _chronological(list(dict.fromkeys(labels.tolist())))
        return [(str(v), frames.take_rows(data, np.flatnonzero(labels == v))) for v in order]
    checks.one_of("frequency", frequency, FREQUENCIES)
    months = _months(values)
    if np.any(np.isnat(months)):
        raise ValueError("the period column has rows without a date")
    month_index = months.astype(np.int64)  # months since 1970-01
    key = month_index if frequency == "month" else month_index // 3
    out = []
    for k in np.unique(key):
        rows = np.flatnonzero(key == k)
        if frequency == "month":
            label = str(months[rows[0]])
        else:
            label = f"{1970 + int(k) // 4}-Q{int(k) % 4 + 1}"
        out.append((label, frames.take_rows(data, rows)))
    return out
