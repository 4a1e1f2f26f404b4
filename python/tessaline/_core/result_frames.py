"""The one way a result object becomes a DataFrame: its columns, or its rows,
as a pandas or polars DataFrame or a pyarrow Table (``kind``). pandas is the
default of every ``to_frame``; each kind needs its library (an extra)."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any, Literal

import numpy as np

from .dependencies import require

FrameKind = Literal["pandas", "polars", "arrow"]
FRAME_KINDS = ("pandas", "polars", "arrow")
_LIBRARY = {"pandas": "pandas", "polars": "polars", "arrow": "pyarrow"}


def _library(kind: str, needed_by: str) -> Any:
    if kind not in FRAME_KINDS:
        raise ValueError(f"kind must be one of 'pandas', 'polars', 'arrow', not {kind!r}")
    return require(_LIBRARY[kind], f"{needed_by}(kind={kind!r})")


def columns_frame(columns: Mapping[str, Any], kind: str, needed_by: str) -> Any:
    """A table of `kind` holding `columns` (name to array or list, all of one
    length) in their order. Arrays are copied, so the table never shares
    memory with a result's read-only columns."""
    library = _library(kind, needed_by)
    held = {name: np.array(v) if isinstance(v, np.ndarray) else v for name, v in columns.items()}
    if kind == "pandas":
        return library.DataFrame(held, copy=False)
    if kind == "polars":
        return library.DataFrame(held)
    return library.table(held)


def rows_frame(rows: Sequence[Any], names: Sequence[str] | None, kind: str, needed_by: str) -> Any:
    """A table of `kind` whose rows are `rows`: each a sequence holding a
    value per column of `names`, or, with `names` None, a mapping of column
    names to values."""
    library = _library(kind, needed_by)
    if kind == "pandas":
        # pandas takes the rows as they are, with no transposing copy.
        return library.DataFrame(list(rows), columns=None if names is None else list(names))
    if names is None:
        names = list(dict.fromkeys(name for row in rows for name in row))
        held = {name: [row.get(name) for row in rows] for name in names}
    else:
        held = {name: [row[i] for row in rows] for i, name in enumerate(names)}
    if kind == "polars":
        return library.DataFrame(held, strict=False)
    return library.table(held)
