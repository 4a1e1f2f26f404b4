"""One variable of a two-variable binning: numeric, cut into intervals closed
on the right (a value equal to a cut point falls in the lower interval), or
categorical, its categories gathered into groups. Either way each value has
an index, its interval or group, and a missing value (or a category in no
group: one not seen in training, or seen only beside a missing value of the
other variable) the index after the last one."""

from __future__ import annotations

import itertools
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

    @property
    def n_bins(self) -> int:
        return len(self.groups) if self.groups is not None else self.cuts.size + 1

    @property
    def labels(self) -> list[str]:
        """'(-inf, 2.5]', ..., '(7, +inf)' or 'A, B', 'C', ..., then 'missing'."""
        if self.groups is not None:
            return [", ".join(names) for names in self.groups] + ["missing"]
        edges = [-math.inf, *self.cuts.tolist(), math.inf]
        return [printing.interval(lo, hi) for lo, hi in itertools.pairwise(edges)] + ["missing"]

    def index(self, values: Any) -> IntArray:
        """The interval or group of each value; n_bins for a missing one."""
        if self.groups is None:
            return self.index_of_numbers(as_float_array(values))
        encoded = encode(values)
        return self.index_of_codes(encoded.codes, encoded.names)

    def index_of_numbers(self, numbers: FloatArray) -> IntArray:
        found = native.binning_transform(numbers, self.cuts)
        return np.where(found < 0, self.n_bins, found)

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
        return {"cuts": [document.exact(v) for v in self.cuts]}

    @classmethod
    def from_doc(cls, doc: Any, where: str) -> GridAxis:
        """The axis a document's field describes: increasing finite cut
        points, or groups of distinct category names."""
        if not isinstance(doc, dict) or len(doc) != 1 or not ({"cuts", "groups"} & doc.keys()):
            raise DocumentError(f"{where}: expected {{'cuts': [...]}} or {{'groups': [...]}}")
        if "cuts" in doc:
            cuts = np.array(document.floats(doc, "cuts", where), dtype=np.float64)
            if not (np.isfinite(cuts).all() and (np.diff(cuts) > 0).all()):
                raise DocumentError(f"{where}: cut points must be finite and increasing")
            return numeric_axis(cuts)
        groups = document.field(doc, "groups", list, where)
        names = [n for g in groups if isinstance(g, list) for n in g]
        if not groups or not all(isinstance(g, list) and g for g in groups):
            raise DocumentError(f"{where}: groups must be lists of category names")
        if not all(isinstance(n, str) for n in names) or len(set(names)) != len(names):
            raise DocumentError(f"{where}: every category must be a name in one group only")
        return GridAxis(np.empty(0), tuple(tuple(g) for g in groups))


def numeric_axis(cuts: npt.ArrayLike) -> GridAxis:
    values = np.array(cuts, dtype=np.float64)
    values.setflags(write=False)
    return GridAxis(values)
