"""The client's share of a fit's memory: the distinct values it brings from
the engine, each costing about `BYTES_PER_VALUE`, must fit in the memory
the caller gave; the columns with the most values are merged into cells
(with ``approximate=K``) until they do, or the fit is refused."""

from __future__ import annotations

import re
from collections.abc import Mapping, Sequence
from dataclasses import dataclass

# What the client holds per distinct value brought, while the values are
# read and binned: the fetched arrays, the counts kept for the fit and the
# fit's merged copies (about 85 bytes measured).
BYTES_PER_VALUE = 100

_UNITS = {"b": 1, "kb": 10**3, "mb": 10**6, "gb": 10**9, "tb": 10**12}
_UNITS |= {"kib": 2**10, "mib": 2**20, "gib": 2**30, "tib": 2**40}
_SIZE = re.compile(r"\s*(\d+(?:\.\d*)?|\.\d+)\s*([a-z]*)\s*", re.IGNORECASE)


@dataclass(frozen=True)
class Limits:
    """What the client may hold of a fit's counts: at most `max_distinct`
    distinct values of a column, and all of them in `budget` bytes (None:
    unbounded)."""

    max_distinct: int
    budget: int | None = None

    def exceeded(self, distinct: Sequence[int]) -> bool:
        """Whether columns of these distinct values go beyond the limits."""
        return max(distinct, default=0) > self.max_distinct or (
            self.budget is not None and sum(distinct) * BYTES_PER_VALUE > self.budget
        )


def size_in_bytes(text: str) -> int | None:
    """A size as DuckDB writes one ("300MB", "1.5 GiB"), in bytes; None
    for any other text."""
    found = _SIZE.fullmatch(text)
    if found is None or found[2].lower() not in _UNITS:
        return None
    return int(float(found[1]) * _UNITS[found[2].lower()])


def merged_within(
    columns: Sequence[str],
    distinct: Mapping[int, int],
    categorical: Sequence[str],
    merged: Sequence[int],
    approximate: int | None,
    budget: int,
) -> list[int]:
    """The positions of the columns to merge into `approximate` cells so that
    the values brought (a merged column's cells, every other column's
    distinct values) take at most `budget` bytes in the client: `merged`,
    then the numeric columns with the most values first."""
    chosen = set(merged)

    def brought() -> int:
        return sum(
            min(approximate or 0, distinct.get(i, 0)) if i in chosen else distinct.get(i, 0)
            for i in range(len(columns))
        )

    largest = sorted(
        (i for i in range(len(columns)) if i not in chosen and columns[i] not in categorical),
        key=lambda i: -distinct.get(i, 0),
    )
    for i in largest:
        if approximate is None or brought() * BYTES_PER_VALUE <= budget:
            break
        chosen.add(i)
    if brought() * BYTES_PER_VALUE > budget:
        most = max(range(len(columns)), key=lambda i: distinct.get(i, 0) if i not in chosen else -1)
        raise ValueError(
            f"the {brought()} distinct values to bring to the client take about "
            f"{brought() * BYTES_PER_VALUE / 1e6:.0f} MB there, more than memory_limit allows "
            f"({budget / 1e6:.0f} MB; column {columns[most]!r} has "
            f"{distinct.get(most, 0)}): give approximate=K to merge the values of the largest "
            f"columns into K cells, or a larger memory_limit"
        )
    return sorted(chosen)
