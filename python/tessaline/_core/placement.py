"""Where a value of a column lands among the rows of its binning table, and
in which order the rules apply: the table's transform and every exporter
(SQL, PMML, Spark) read them here, so that they all place a value alike.

A number: a missing one (NaN, NULL) first, to the missing-value slot; then
each special value, to its own row; then the first cut point it does not
exceed, to that interval; else the last interval. A category: a missing one
first; then the bin that holds it (a pooled category: the pooled group's
bin); any other name goes to the pooled group's bin when training had one,
else to the missing-value slot."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, Literal

# The slot, and bin index, of a missing value.
MISSING_SLOT = -1


@dataclass(frozen=True)
class NumberRule:
    """One rule placing a number: `test` ("missing", "equal" to `value`, "at_most"
    `value`, or "else") sends the values it holds to `slot`."""

    test: Literal["missing", "equal", "at_most", "else"]
    value: float
    slot: int


def number_rules(
    splits: Sequence[float] | Any, special_values: Sequence[float], first_special: int
) -> list[NumberRule]:
    """The rules placing a number, in the order they apply: the intervals of
    `splits` are slots 0, 1, ..., the j-th special value slot `first_special` + j."""
    nan = float("nan")
    return [
        NumberRule("missing", nan, MISSING_SLOT),
        *(NumberRule("equal", float(v), first_special + j) for j, v in enumerate(special_values)),
        *(NumberRule("at_most", float(cut), i) for i, cut in enumerate(splits)),
        NumberRule("else", nan, len(splits)),
    ]


@dataclass(frozen=True)
class CategoryBins:
    """Each bin that some category name reaches, with those names in order
    (the pooled group's bin holds the pooled names too), and the bin of any
    other name: the pooled group's, else `MISSING_SLOT`."""

    members: tuple[tuple[int, tuple[str, ...]], ...]
    other: int

    @property
    def bin_of(self) -> dict[str, int]:
        """The bin of each name that `members` holds."""
        return {name: b for b, names in self.members for name in names}


def category_bins(
    bin_categories: Sequence[Sequence[str]],
    pooled_categories: Sequence[str] = (),
    pooled_bin: int | None = None,
) -> CategoryBins:
    """Where each category of a table goes (see `CategoryBins`)."""
    other = MISSING_SLOT if pooled_bin is None else pooled_bin
    pooled = set(pooled_categories)
    bins = (
        (b, tuple(sorted(set(names) | (pooled if b == other else set()))))
        for b, names in enumerate(bin_categories)
    )
    return CategoryBins(tuple((b, names) for b, names in bins if names), other)
