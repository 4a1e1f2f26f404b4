"""One variable of a two-variable binning: numeric, cut into intervals closed
on the right (a value equal to a cut point falls in the lower interval), or
categorical, its categories gathered into groups. Either way each value has
an index, its interval or group; a numeric variable's special values (codes
such as -999) each the index of their own, after the intervals, in the order
given; and a missing value (or a category in no group: one not seen in
training, or seen only beside a missing value of the other variable) the
index after all those."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import native, printing
from .._core.arrays import FloatArray, IntArray, as_float_array
from .._core.categories import encode
from .._formats import document
from ..exceptions import DocumentError


@dataclass(frozen=True)
class GridAxis:
    cuts: FloatArray  # the cut points of a numeric variable (none for categories)
    groups: tuple[tuple[str, ...], ...] | None = None  # the categories of each group
    specials: tuple[float, ...] = ()  # a numeric variable's special values

    @property
    def n_bins(self) -> int:
        """The intervals or groups (special values and missing not counted)."""
        return len(self.groups) if self.groups is not None else self.cuts.size + 1

    @property
    def n_slots(self) -> int:
        """Every index a value can have: the bins, the special values, missing."""
        return self.n_bins + len(self.specials) + 1

    @property
    def labels(self) -> list[str]:
        """'(-inf, 2.5]', ..., '(7, +inf)' or 'A, B', 'C', ..., then
        'special -999', ..., then 'missing'."""
        return [self.span_label(i, i) for i in range(self.n_slots)]

    def span_label(self, first: int, last: int) -> str:
        """The label of the indices first..last together: one interval (or
        the groups' categories, group after group), or one special value or
        missing."""
        if first >= self.n_bins:
            k = first - self.n_bins
            return "missing" if k == len(self.specials) else self._special_label(k)
        if self.groups is not None:
            return ", ".join(name for group in self.groups[first : last + 1] for name in group)
        edges = [-math.inf, *self.cuts.tolist(), math.inf]
        return printing.interval(edges[first], edges[last + 1])

    def _special_label(self, k: int) -> str:
        return f"special {printing.number(self.specials[k])}"

    def index(self, values: Any) -> IntArray:
        """The index of each value: interval or group, special value, missing."""
        if self.groups is None:
            return self.index_of_numbers(as_float_array(values))
        encoded = encode(values)
        return self.index_of_codes(encoded.codes, encoded.names)

    def index_of_numbers(self, numbers: FloatArray) -> IntArray:
        found = native.binning_transform(numbers, self.cuts)
        found = np.where(found < 0, self.n_bins + len(self.specials), found)
        for k, value in enumerate(self.specials):
            found[numbers == value] = self.n_bins + k
        return found

    def index_of_codes(self, codes: IntArray, names: list[str]) -> IntArray:
        """The group of each category code (-1 missing) of the category `names`."""
        assert self.groups is not None
        group_of = {name: g for g, members in enumerate(self.groups) for name in members}
        table = np.array([group_of.get(name, -1) for name in names], dtype=np.int64)
        found = native.lookup_int(codes, table, -1)
        return np.where(found < 0, self.n_bins, found)

    def to_doc(self) -> dict[str, Any]:
        if self.groups is not None:
            return {"groups": [list(names) for names in self.groups]}
        doc = {"cuts": [document.exact(v) for v in self.cuts]}
        if self.specials:
            doc["specials"] = [document.exact(v) for v in self.specials]
        return doc

    @classmethod
    def from_doc(cls, doc: Any, where: str) -> GridAxis:
        """The axis a document's field describes: increasing finite cut
        points, or groups of distinct category names."""
        numeric = isinstance(doc, dict) and "cuts" in doc and doc.keys() <= {"cuts", "specials"}
        if not numeric and not (isinstance(doc, dict) and doc.keys() == {"groups"}):
            raise DocumentError(f"{where}: expected {{'cuts': [...]}} or {{'groups': [...]}}")
        if numeric:
            cuts = np.array(document.floats(doc, "cuts", where), dtype=np.float64)
            if not (np.isfinite(cuts).all() and (np.diff(cuts) > 0).all()):
                raise DocumentError(f"{where}: cut points must be finite and increasing")
            specials = document.floats(doc, "specials", where) if "specials" in doc else []
            if not all(math.isfinite(v) for v in specials) or len(set(specials)) != len(specials):
                raise DocumentError(f"{where}: special values must be distinct finite numbers")
            return numeric_axis(cuts, tuple(specials))
        groups = document.field(doc, "groups", list, where)
        names = [n for g in groups if isinstance(g, list) for n in g]
        if not groups or not all(isinstance(g, list) and g for g in groups):
            raise DocumentError(f"{where}: groups must be lists of category names")
        if not all(isinstance(n, str) for n in names) or len(set(names)) != len(names):
            raise DocumentError(f"{where}: every category must be a name in one group only")
        return GridAxis(np.empty(0), tuple(tuple(g) for g in groups))


def numeric_axis(cuts: npt.ArrayLike, specials: tuple[float, ...] = ()) -> GridAxis:
    values = np.array(cuts, dtype=np.float64)
    values.setflags(write=False)
    return GridAxis(values, None, specials)
