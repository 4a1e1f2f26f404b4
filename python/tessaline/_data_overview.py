"""A data overview before binning: per column of a table its kind, missing
rows, distinct values, most frequent values, quantiles, mean and deviation
and, against a target, the event rate of its missing and present rows.

Each column is read once and counted by distinct value with the native
counting kernel (one sort of its values); everything else is read from
those counts, so an engine that counts the same groups (`engines.overview`)
gives the same overview bit for bit::

    import tessaline as tl
    print(tl.overview(applicants, target="bad"))
"""

from __future__ import annotations

import functools
import math
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from ._column_profile import (
    DEFAULT_TOP,
    QUANTILE_NAMES,
    ColumnProfile,
    TargetCounts,
    category_profile,
    date_profile,
    numeric_profile,
)
from ._core import categories, frames, native, printing, threads
from ._core.arrays import as_float_array, dtype_of, holds_times
from ._core.result_frames import FrameKind, rows_frame
from ._core.target import event_flags
from ._formats.html_table import binning_table_html

FloatArray = npt.NDArray[np.float64]


@dataclass(frozen=True)
class DataOverview:
    """The overview of a table: one `ColumnProfile` per column in the
    table's order, the target's name (None without one), and the columns
    left out with the reason."""

    columns: list[ColumnProfile]
    target: str | None = None
    skipped: dict[str, str] = field(default_factory=dict)

    HEADER = ("column", "kind", "missing", "distinct", "min", "median", "max", "mean", "top value")
    TARGET_HEADER = ("rate missing", "rate present")
    TEXT_COLUMNS = (0, 1, 8)

    def __getitem__(self, name: str) -> ColumnProfile:
        for profile in self.columns:
            if profile.name == name:
                return profile
        raise KeyError(name)

    @property
    def header(self) -> tuple[str, ...]:
        return self.HEADER + (self.TARGET_HEADER if self.target is not None else ())

    def title(self) -> str:
        rows = self.columns[0].rows if self.columns else 0
        against = f" against {self.target!r}" if self.target is not None else ""
        return f"Overview of {len(self.columns)} columns, {rows} rows{against}"

    def rows(self) -> list[list[str]]:
        """One printed row per column."""
        out = []
        for p in self.columns:
            numeric = p.kind == "numeric"
            stats = (
                [printing.number(p.quantiles[i]) for i in (0, 4, 8)] + [printing.number(p.mean)]
                if numeric and p.quantiles and not math.isnan(p.mean)
                else ["-"] * 4
            )
            top = f"{_clipped_text(_shown(p.top[0][0]))} ({p.top[0][1]})" if p.top else "-"
            row = [
                printing.printable(p.name),
                p.kind,
                printing.percent(p.missing_share),
                str(p.distinct),
                *stats,
                top,
            ]
            if self.target is not None:
                row += [
                    printing.percent(p.missing_event_rate),
                    printing.percent(p.present_event_rate),
                ]
            out.append(row)
        return out

    def __str__(self) -> str:
        table = printing.text_table(self.header, self.rows(), self.TEXT_COLUMNS)
        skipped = "".join(
            f"\nskipped {printing.printable(n)}: {reason}" for n, reason in self.skipped.items()
        )
        return f"{self.title()}\n{table}{skipped}"

    def _repr_html_(self) -> str:
        return self.to_html()

    def to_html(self) -> str:
        """The printed table as HTML (as notebooks show it)."""
        return binning_table_html(_Printed(self))

    def to_dict(self) -> dict[str, Any]:
        """The overview as plain JSON types."""
        return {
            "target": self.target,
            "columns": [p.to_dict() for p in self.columns],
            "skipped": dict(self.skipped),
        }

    def to_frame(self, kind: FrameKind = "pandas") -> Any:
        """One row per column: every count, share, quantile and rate, and the
        top values as text ("value (rows), ...")."""
        rows = []
        for p in self.columns:
            quantiles = p.quantiles or (math.nan,) * len(QUANTILE_NAMES)
            row: dict[str, Any] = {
                "column": p.name,
                "kind": p.kind,
                "rows": p.rows,
                "missing": p.missing,
                "missing_share": p.missing_share,
                "distinct": p.distinct,
                "infinite": p.infinite,
                **dict(zip(QUANTILE_NAMES, quantiles)),
                "mean": p.mean,
                "std": p.std,
                "top_values": ", ".join(f"{_shown(v)} ({n})" for v, n in p.top),
            }
            if self.target is not None:
                row |= {
                    "events": p.events,
                    "event_rate_missing": p.missing_event_rate,
                    "event_rate_present": p.present_event_rate,
                }
            rows.append(row)
        return rows_frame(rows, None, kind, "DataOverview.to_frame")


@dataclass(frozen=True)
class _Printed:
    """The overview as the HTML table reads a printed table."""

    overview: DataOverview

    @property
    def HEADER(self) -> tuple[str, ...]:
        return self.overview.header

    TEXT_COLUMNS = DataOverview.TEXT_COLUMNS

    def rows(self) -> list[list[str]]:
        return self.overview.rows()

    def title(self) -> str:
        return self.overview.title()


def _shown(value: Any) -> str:
    return printing.number(value) if isinstance(value, float) else str(value)


# Characters of a top value in the printed table, which stays narrow.
SHOWN_CHARACTERS = 20


def _clipped_text(text: str) -> str:
    text = printing.printable(text)
    return text if len(text) <= SHOWN_CHARACTERS else text[: SHOWN_CHARACTERS - 3] + "..."


def _kind(values: Any) -> str:
    """What a local column holds, by its type."""
    if holds_times(values):
        return "date"
    if not frames.is_categorical(values):
        return "numeric"
    dtype = dtype_of(values)
    if dtype is None:
        dtype = np.asarray(values).dtype
    text = str(dtype).lower()
    if getattr(dtype, "kind", None) == "b" or text in ("bool", "boolean"):
        return "boolean"
    if text.startswith(("category", "categorical", "enum", "dictionary")):
        return "categorical"
    return "text"


def target_counts(missing: npt.NDArray[np.bool_], flags: FloatArray | None) -> TargetCounts | None:
    """The rows of known target and the events among the missing and the
    present rows of a column (`missing` per row)."""
    if flags is None:
        return None
    known = ~np.isnan(flags)
    events = flags == 1.0
    known_missing = int(np.count_nonzero(known & missing))
    events_missing = int(np.count_nonzero(events & missing))
    return TargetCounts(
        known_missing,
        events_missing,
        int(np.count_nonzero(known)) - known_missing,
        int(np.count_nonzero(events)) - events_missing,
    )


def _date_column(name: str, values: Any, flags: FloatArray | None) -> ColumnProfile:
    to_numpy = getattr(values, "to_numpy", None)
    if to_numpy is None:
        array = np.asarray(values)
    else:
        try:
            array = np.asarray(to_numpy())
        except TypeError:  # pyarrow asks for leave to copy
            array = np.asarray(to_numpy(zero_copy_only=False))
    array = np.ravel(array)
    if array.dtype.kind in "Mm":
        missing = np.isnat(array)
        distinct = np.unique(array[~missing].view(np.int64)).size
    else:
        missing = np.fromiter((v is None or v != v for v in array), dtype=bool, count=array.size)
        distinct = len(set(array[~missing].tolist()))
    return date_profile(
        name, array.size, int(missing.sum()), distinct, target_counts(missing, flags)
    )


def column_overview(
    name: str, values: Any, flags: FloatArray | None, top: int = DEFAULT_TOP
) -> ColumnProfile:
    """The profile of one local column, read once."""
    kind = _kind(values)
    if kind == "date":
        return _date_column(name, values, flags)
    if kind == "boolean" and getattr(dtype_of(values), "kind", None) == "b":
        # A plain column of booleans holds no missing value: its trues tell all.
        flags_of_rows = np.ravel(np.asarray(values))
        trues = int(np.count_nonzero(flags_of_rows))
        return category_profile(
            name,
            kind,
            ["False", "True"],
            np.array([flags_of_rows.size - trues, trues], dtype=np.int64),
            0,
            target_counts(np.zeros(flags_of_rows.size, dtype=bool), flags),
            top,
        )
    if kind != "numeric":
        encoded = categories.encode(values)
        present = encoded.codes >= 0
        count = np.bincount(encoded.codes[present], minlength=len(encoded.names))
        missing = ~present
        return category_profile(
            name,
            kind,
            encoded.names,
            count.astype(np.int64),
            int(np.count_nonzero(missing)),
            target_counts(missing, flags),
            top,
        )
    x = as_float_array(values)
    counted = native.count_values(x, np.zeros(x.size, dtype=np.int32))
    missing = np.isnan(x)
    return numeric_profile(
        name,
        counted["value"],
        counted["c0"],
        int(np.count_nonzero(missing)),
        target_counts(missing, flags),
        top,
    )


def overview(
    data: Any,
    target: Any = None,
    *,
    event: Any = None,
    value: float | None = None,
    percentile: float | None = None,
    columns: Sequence[str] | None = None,
    top: int = DEFAULT_TOP,
    n_jobs: int | None = None,
) -> DataOverview:
    """The overview of every column of `data` (a pandas or polars DataFrame,
    a pyarrow Table or a dict of arrays), or of `columns`, before binning.

    Numbers (and booleans and categories, by their types) are profiled as
    `ColumnProfile` says: the quantiles are the linear-interpolation
    percentiles 0, 1, 5, 25, 50, 75, 95, 99 and 100 of the finite values
    (position (n - 1) p / 100 among them sorted), exact and the same in
    every engine. With `target` (a column name or an array, read with
    `event`, `value` and `percentile` as `TableBinning` reads it), each
    column gets the event rate of its missing and of its present rows.
    Columns are counted side by side on `n_jobs` threads."""
    if not isinstance(top, int) or isinstance(top, bool) or top < 0:
        raise ValueError(f"top must be a whole number of values, at least 0, not {top!r}")
    names = frames.column_names(data)
    target_name = frames.target_name(data, target) if target is not None else None
    flags = None
    if target is not None:
        flags = event_flags(
            target if target_name is None else frames.column(data, target_name),
            event=event,
            value=value,
            percentile=percentile,
        )
    wanted = [n for n in names if n != target_name] if columns is None else list(columns)
    absent = [n for n in wanted if n not in names]
    if absent:
        raise ValueError(f"column(s) not in the table: {', '.join(map(repr, absent))}")
    held = frames.columns(data, wanted)
    if flags is not None:
        lengths = {n: frames.length(v) for n, v in held.items() if frames.length(v) != flags.size}
        if lengths:
            name, size = next(iter(lengths.items()))
            raise ValueError(f"column {name!r} has {size} rows, the target {flags.size}")
    profiles = threads.run_in_threads(
        [functools.partial(column_overview, n, v, flags, top) for n, v in held.items()], n_jobs
    )
    shown = target_name if target_name is not None else None if target is None else "target"
    return DataOverview(list(profiles), shown)
