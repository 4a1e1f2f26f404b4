"""One column of the data overview, built from its counts alone: rows per
distinct value (or category) and its missing rows, with, against a target,
the rows of known target and the events among the missing and the present
rows. Rows read locally and groups counted by an engine give the same
counts, and so the same profile, bit for bit."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from ._core import native

# The order statistics of every numeric column: the percentiles 0 to 100
# read by linear interpolation at position (n - 1) p / 100 among the finite
# values sorted (the lowest and highest value at 0 and 100).
PERCENTILES = (0.0, 1.0, 5.0, 25.0, 50.0, 75.0, 95.0, 99.0, 100.0)
QUANTILE_NAMES = ("min", "p1", "p5", "p25", "p50", "p75", "p95", "p99", "max")
DEFAULT_TOP = 5


@dataclass(frozen=True)
class TargetCounts:
    """Rows of known target and events among them, of the rows whose value
    is missing and of the others."""

    known_missing: int = 0
    events_missing: int = 0
    known_present: int = 0
    events_present: int = 0


@dataclass(frozen=True)
class ColumnProfile:
    """What one column holds: its kind, rows, missing rows, distinct values
    (missing not counted), the `top` values held by the most rows with their
    rows (ties: the smaller value, or the category first by name), and for
    numbers the rows of infinite values and the quantiles (`QUANTILE_NAMES`),
    mean and sample standard deviation of the finite ones (NaN where there
    are none, the deviation under two). Against a target, `target` holds
    its counts on the missing and present rows."""

    name: str
    kind: str
    rows: int
    missing: int
    distinct: int
    top: tuple[tuple[Any, int], ...] = ()
    infinite: int = 0
    quantiles: tuple[float, ...] = ()
    mean: float = math.nan
    std: float = math.nan
    target: TargetCounts | None = None

    @property
    def missing_share(self) -> float:
        return self.missing / self.rows if self.rows else math.nan

    @property
    def missing_event_rate(self) -> float:
        """The share of events among the rows of known target whose value is missing."""
        t = self.target
        return t.events_missing / t.known_missing if t and t.known_missing else math.nan

    @property
    def present_event_rate(self) -> float:
        """The share of events among the rows of known target whose value is present."""
        t = self.target
        return t.events_present / t.known_present if t and t.known_present else math.nan

    @property
    def events(self) -> int | None:
        """The events of the column's rows (None without a target)."""
        t = self.target
        return None if t is None else t.events_missing + t.events_present

    def to_dict(self) -> dict[str, Any]:
        """The profile as plain JSON types (NaN as None)."""
        out: dict[str, Any] = {
            "name": self.name,
            "kind": self.kind,
            "rows": self.rows,
            "missing": self.missing,
            "distinct": self.distinct,
            "top": [[_json_value(v), n] for v, n in self.top],
        }
        if self.kind == "numeric":
            out["infinite"] = self.infinite
            out["quantiles"] = dict(zip(QUANTILE_NAMES, map(_plain, self.quantiles)))
            out["mean"], out["std"] = _plain(self.mean), _plain(self.std)
        if self.target is not None:
            out["target"] = {
                "known_missing": self.target.known_missing,
                "events_missing": self.target.events_missing,
                "known_present": self.target.known_present,
                "events_present": self.target.events_present,
            }
        return out


def _json_value(value: Any) -> Any:
    """A top value for JSON, which has no infinities: "inf" and "-inf"."""
    if isinstance(value, float) and math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return value


def _plain(value: float) -> float | None:
    return None if math.isnan(value) else value


def numeric_profile(
    name: str,
    value: npt.NDArray[np.float64],
    count: npt.NDArray[np.int64],
    missing: int,
    target: TargetCounts | None,
    top: int = DEFAULT_TOP,
) -> ColumnProfile:
    """The profile of a numeric column from its rows by distinct value
    (`value` ascending and distinct, NaN left out: the `missing` rows)."""
    profile = native.value_profile(value, count, PERCENTILES, top)
    held = count > 0
    infinite = int(count[np.isinf(value)].sum())
    return ColumnProfile(
        name,
        "numeric",
        int(count.sum()) + missing,
        missing,
        int(np.count_nonzero(held)),
        tuple((float(value[j]), int(count[j])) for j in profile["top"] if count[j] > 0),
        infinite,
        tuple(float(q) for q in profile["quantiles"]),
        float(profile["mean"]),
        float(profile["std"]),
        target,
    )


def category_profile(
    name: str,
    kind: str,
    names: Sequence[str],
    count: npt.NDArray[np.int64],
    missing: int,
    target: TargetCounts | None,
    top: int = DEFAULT_TOP,
) -> ColumnProfile:
    """The profile of a column of categories from its rows per category
    (`names` ascending, as the local encoding names them)."""
    positions = native.top_positions(count, top)
    return ColumnProfile(
        name,
        kind,
        int(count.sum()) + missing,
        missing,
        int(np.count_nonzero(count)),
        tuple((names[j], int(count[j])) for j in positions if count[j] > 0),
        target=target,
    )


def date_profile(
    name: str, rows: int, missing: int, distinct: int, target: TargetCounts | None
) -> ColumnProfile:
    """The profile of a column of dates or times: its rows, missing rows and
    distinct values (each engine writes a date in its own way, so no value
    is shown)."""
    return ColumnProfile(name, "date", rows, missing, distinct, target=target)
