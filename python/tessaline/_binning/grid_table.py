"""The table of a two-variable binning: the cells of a grid of x intervals
and y intervals, each with its non-events and events, gathered into
rectangles (each cell its own in a product grid), each rectangle with its
event rate, WoE and IV, and the scoring of pairs by rectangle.

Cell (i, j) is the i-th x row and j-th y column; after the intervals come
a row per special value of x, then the row of the rows whose x is missing,
and likewise for the columns of y. `regions` gives each cell its rectangle,
numbered in order of their first cell, row by row; a rectangle spans cells
of intervals only, so every special-value and missing cell is one of its
own. Intervals are closed on the right: a value equal to a cut point falls
in the lower interval. WoE and IV follow `tessaline._woe` over all
rectangles (special-value and missing cells included), so an empty one has
WoE 0."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .._core import checks, printing
from .._core.arrays import FloatArray, IntArray
from .._formats import document
from .._formats.grid_sql import grid_sql
from .._woe import weight_of_evidence
from ..exceptions import DocumentError
from .grid_axis import GridAxis

GRID_SCHEMA = "tessaline.grid_binning"
OUTPUTS = ("woe", "index", "bin")


class GridBinningTable:
    """A fitted two-variable binning (see `tessaline.grid_binning`)."""

    def __init__(
        self,
        axis_x: GridAxis,
        axis_y: GridAxis,
        c0: npt.ArrayLike,
        c1: npt.ArrayLike,
        *,
        name_x: str | None = None,
        name_y: str | None = None,
        metadata: Mapping[str, Any] | None = None,
        regions: npt.ArrayLike | None = None,
    ):
        self.axis_x, self.axis_y = axis_x, axis_y
        self._c0, self._c1 = _frozen(c0), _frozen(c1)
        shape = (axis_x.n_slots, axis_y.n_slots)
        if self._c0.shape != self._c1.shape or self._c0.shape != shape:
            raise ValueError(f"the counts must be {shape[0]} rows of {shape[1]} cells")
        self.name_x, self.name_y = name_x, name_y
        self.metadata = dict(metadata or {})
        self._product = regions is None
        if regions is None:
            self._regions = np.arange(self._c0.size, dtype=np.int64).reshape(shape)
            woe, iv, total = weight_of_evidence(self._c0, self._c1)
            cell_woe, cell_iv = woe, iv
        else:
            self._regions = checked_regions(regions, axis_x, axis_y)
            flat = self._regions.ravel()
            n = int(flat.max()) + 1
            sums = [np.bincount(flat, weights=c.ravel(), minlength=n) for c in (self._c0, self._c1)]
            woe, iv, total = weight_of_evidence(*sums)
            # A rectangle's IV term in its first cell, so that the cells sum to it.
            first = np.zeros(flat.size, dtype=bool)
            first[np.unique(flat, return_index=True)[1]] = True
            cell_woe, cell_iv = woe[flat], np.where(first, iv[flat], 0.0)
        self._region_woe, self._region_iv = _frozen(woe), _frozen(iv)
        self._regions.setflags(write=False)
        self._woe = _frozen(cell_woe.reshape(shape))
        self._iv = _frozen(cell_iv.reshape(shape))
        self.information_value = total

    # -- the grid --------------------------------------------------------------
    @property
    def cuts_x(self) -> FloatArray:
        """The cut points of a numeric x (none for categories)."""
        return self.axis_x.cuts

    @property
    def cuts_y(self) -> FloatArray:
        return self.axis_y.cuts

    @property
    def groups_x(self) -> tuple[tuple[str, ...], ...] | None:
        """The categories of each group of a categorical x (None for numbers)."""
        return self.axis_x.groups

    @property
    def groups_y(self) -> tuple[tuple[str, ...], ...] | None:
        return self.axis_y.groups

    @property
    def c0(self) -> FloatArray:
        """Non-events per cell, (x rows + missing) by (y columns + missing)."""
        return self._c0

    @property
    def c1(self) -> FloatArray:
        """Events per cell, shaped as `c0`."""
        return self._c1

    @property
    def woe(self) -> FloatArray:
        """The WoE of each cell's rectangle."""
        return self._woe

    @property
    def iv(self) -> FloatArray:
        """Each cell's term of the information value (a rectangle's term in
        its first cell, 0 in its others)."""
        return self._iv

    @property
    def regions(self) -> IntArray:
        """The rectangle of each cell, shaped as `c0`: rectangles are numbered
        in order of their first cell, row by row (in a product grid each cell
        is its own, numbered x row * columns + y column)."""
        return self._regions

    @property
    def n_rectangles(self) -> int:
        return int(self._region_woe.size)

    @property
    def event_rate(self) -> FloatArray:
        rows = self._c0 + self._c1
        with np.errstate(invalid="ignore", divide="ignore"):
            return np.where(rows > 0, self._c1 / rows, np.nan)

    @property
    def labels_x(self) -> list[str]:
        return self.axis_x.labels

    @property
    def labels_y(self) -> list[str]:
        return self.axis_y.labels

    def cells(self) -> dict[str, Any]:
        """One entry per rectangle (per cell of a product grid), in order of
        their number: the labels of its x and y intervals, its counts, share
        of all rows, event rate, WoE and IV."""
        flat = self._regions.ravel()
        c0, c1 = (
            np.bincount(flat, weights=c.ravel(), minlength=self.n_rectangles)
            for c in (self._c0, self._c1)
        )
        rows = c0 + c1
        total = float(rows.sum())
        with np.errstate(invalid="ignore", divide="ignore"):
            rate = np.where(rows > 0, c1 / rows, np.nan)
        spans = region_spans(self._regions)
        return {
            "x": [self.axis_x.span_label(a, b) for a, b, _, _ in spans],
            "y": [self.axis_y.span_label(c, d) for _, _, c, d in spans],
            "c0": c0.astype(np.int64),
            "c1": c1.astype(np.int64),
            "share": rows / total if total else np.full(rows.size, np.nan),
            "event_rate": rate,
            "woe": self._region_woe.copy(),
            "iv": self._region_iv.copy(),
        }

    # -- scoring ---------------------------------------------------------------
    def cell_index(self, x: npt.ArrayLike, y: npt.ArrayLike) -> IntArray:
        """The flat cell of each pair: x row * columns + y column."""
        ix, iy = self.axis_x.index(x), self.axis_y.index(y)
        checks.same_length(("x", ix), ("y", iy))
        return np.asarray(ix * self._c0.shape[1] + iy, dtype=np.int64)

    def transform(
        self, x: npt.ArrayLike, y: npt.ArrayLike, output: Literal["woe", "index", "bin"] = "woe"
    ) -> npt.NDArray[Any]:
        """The WoE of each pair's rectangle, its number (`regions`; in a
        product grid the flat cell x row * columns + y column), or its label
        ("(-inf, 3] × (2, 5]")."""
        checks.one_of("output", output, OUTPUTS)
        index = self.cell_index(x, y)
        if output == "woe":
            return self._woe.ravel()[index]
        region = self._regions.ravel()[index]
        if output == "index":
            return region
        cells = self.cells()
        labels = np.array([f"{a} × {b}" for a, b in zip(cells["x"], cells["y"])])
        return labels[region]

    def to_sql(
        self,
        column_x: str | None = None,
        column_y: str | None = None,
        *,
        output: Literal["woe", "index"] = "woe",
        dialect: Literal["duckdb", "sqlite", "postgresql"] = "duckdb",
    ) -> str:
        """An SQL expression giving what `transform` gives for the columns
        `column_x` and `column_y` (default: the table's names); NaN WoE is NULL."""
        x = column_x if column_x is not None else self.name_x
        y = column_y if column_y is not None else self.name_y
        if x is None or y is None:
            raise ValueError(
                "to_sql: name the columns (column_x, column_y) of a table fitted without names"
            )
        regions = None if self._product else self._regions
        return grid_sql(self.axis_x, self.axis_y, self._woe, x, y, output, dialect, regions)

    def plot(self, ax: Any = None) -> Any:
        """A heat map of the WoE of the cells, each cell marked with its WoE and
        share of the rows (matplotlib)."""
        from .._plots.grid import plot_grid

        return plot_grid(self, ax)

    # -- documents -------------------------------------------------------------
    def to_dict(self) -> dict[str, Any]:
        return {
            **document.header(GRID_SCHEMA),
            "name_x": self.name_x,
            "name_y": self.name_y,
            "x": self.axis_x.to_doc(),
            "y": self.axis_y.to_doc(),
            "c0": [[int(v) for v in row] for row in self._c0],
            "c1": [[int(v) for v in row] for row in self._c1],
            "information_value": document.exact(self.information_value),
            "metadata": document.plain(self.metadata),
            **({} if self._product else {"regions": self._regions.tolist()}),
        }

    def to_json(self, indent: int | None = None) -> str:
        """The table as a JSON document (floats as exact hexadecimal strings)
        from which `from_json` rebuilds it bit for bit."""
        return document.dumps(self.to_dict(), indent)

    @classmethod
    def from_json(cls, text: str | bytes) -> GridBinningTable:
        return cls.from_dict(document.parse(text))

    @classmethod
    def from_dict(cls, doc: Any) -> GridBinningTable:
        """The table a document describes; one that no fit writes (cut points
        out of order, counts of the wrong shape, an IV its counts do not
        give) raises `DocumentError`."""
        document.check_header(doc, GRID_SCHEMA)
        where = GRID_SCHEMA
        with document.reading(where):
            axes = [GridAxis.from_doc(doc.get(k), f"{where} {k}") for k in ("x", "y")]
            shape = (axes[0].n_slots, axes[1].n_slots)
            counts = [_count_grid(doc, key, shape, where) for key in ("c0", "c1")]
            regions = None
            if "regions" in doc:
                regions = _count_grid(doc, "regions", shape, where).astype(np.int64)
            names = [doc.get(k) for k in ("name_x", "name_y")]
            if not all(n is None or isinstance(n, str) for n in names):
                raise DocumentError(f"{where}: name_x and name_y must be strings or null")
            table = cls(
                axes[0],
                axes[1],
                counts[0],
                counts[1],
                name_x=names[0],
                name_y=names[1],
                metadata=doc.get("metadata"),
                regions=regions,
            )
            stored = document.from_exact(doc.get("information_value"), f"{where} information_value")
            if not document.within_ulps(stored, table.information_value, 0):
                raise DocumentError(f"{where}: information_value is not the one its counts give")
            return table

    # -- printing --------------------------------------------------------------
    def _shown(self) -> tuple[npt.NDArray[np.bool_], npt.NDArray[np.bool_]]:
        """The x rows and y columns printed: all but a missing row or column
        that holds no rows."""
        rows = self._c0 + self._c1
        shown_x, shown_y = np.ones(rows.shape[0], bool), np.ones(rows.shape[1], bool)
        shown_x[-1], shown_y[-1] = rows[-1].any(), rows[:, -1].any()
        return shown_x, shown_y

    def title(self) -> str:
        x = f"'{self.name_x}'" if self.name_x is not None else "x"
        y = f"'{self.name_y}'" if self.name_y is not None else "y"
        proved = "optimum" if self.metadata.get("exact", True) else "local optimum"
        shown_x, shown_y = self._shown()
        special_x = f" + {len(self.axis_x.specials)} special" if self.axis_x.specials else ""
        special_y = f" + {len(self.axis_y.specials)} special" if self.axis_y.specials else ""
        inner = self._regions[: self.axis_x.n_bins, : self.axis_y.n_bins]
        rectangles = "" if self._product else f" in {np.unique(inner).size} rectangles"
        return (
            f"grid binning of {x} by {y}: {self.axis_x.n_bins}{special_x}"
            f"{' + missing' if shown_x[-1] else ''} x {self.axis_y.n_bins}{special_y}"
            f"{' + missing' if shown_y[-1] else ''} bins{rectangles}, "
            f"IV {printing.fixed(self.information_value, 4)} ({proved})"
        )

    def __str__(self) -> str:
        """The title, then the WoE of each cell: x intervals down, y across
        (a missing row or column only when it holds rows)."""
        shown_x, shown_y = self._shown()
        header = [f"{self.name_x or 'x'} \\ {self.name_y or 'y'}"]
        header += [label for label, shown in zip(self.labels_y, shown_y) if shown]
        rows = [
            [printing.printable(label), *(printing.fixed(w, 4) for w in woe[shown_y])]
            for label, woe, shown in zip(self.labels_x, self._woe, shown_x)
            if shown
        ]
        return self.title() + "\nWoE\n" + printing.text_table(header, rows)

    def __repr__(self) -> str:
        return f"<GridBinningTable {self.title()}>"


def region_spans(regions: IntArray) -> list[tuple[int, int, int, int]]:
    """The first and last row and column of each rectangle, by number."""
    rows, cols = np.indices(regions.shape)
    flat = regions.ravel()
    n = int(flat.max()) + 1
    spans = []
    for bound in (rows, cols):
        lo = np.full(n, regions.size, dtype=np.int64)
        hi = np.full(n, -1, dtype=np.int64)
        np.minimum.at(lo, flat, bound.ravel())
        np.maximum.at(hi, flat, bound.ravel())
        spans.append((lo, hi))
    (x0, x1), (y0, y1) = spans
    return list(zip(x0.tolist(), x1.tolist(), y0.tolist(), y1.tolist()))


def checked_regions(regions: npt.ArrayLike, axis_x: GridAxis, axis_y: GridAxis) -> IntArray:
    """Rectangle numbers of the cells, checked: each number's cells fill the
    rectangle they span, numbers run 0, 1, ... in order of the first cell,
    row by row, and a special-value or missing cell is a rectangle alone."""
    shape = (axis_x.n_slots, axis_y.n_slots)
    array = np.array(regions, dtype=np.int64)
    if array.shape != shape:
        raise ValueError(f"regions must be {shape[0]} rows of {shape[1]} cells")
    flat = array.ravel()
    order = np.unique(flat, return_index=True)
    if flat.min() != 0 or not np.array_equal(order[0], np.arange(order[0].size)):
        raise ValueError("regions must number the rectangles 0, 1, ... without gaps")
    if not (np.diff(order[1]) > 0).all():
        raise ValueError("regions must number the rectangles in order of their first cell")
    sizes = np.bincount(flat)
    for k, (a, b, c, d) in enumerate(region_spans(array)):
        if sizes[k] != (b - a + 1) * (d - c + 1):
            raise ValueError(f"rectangle {k} of the regions is not a rectangle")
        outside = b >= axis_x.n_bins or d >= axis_y.n_bins
        if outside and sizes[k] != 1:
            raise ValueError("a special-value or missing cell must be a rectangle of its own")
    return array


def _frozen(values: npt.ArrayLike) -> FloatArray:
    array = np.array(values, dtype=np.float64)
    array.setflags(write=False)
    return array


def _count_grid(doc: Mapping[str, Any], key: str, shape: tuple[int, int], where: str) -> FloatArray:
    rows = document.field(doc, key, list, where)
    if len(rows) != shape[0] or not all(isinstance(r, list) and len(r) == shape[1] for r in rows):
        raise DocumentError(f"{where}: {key} must be {shape[0]} rows of {shape[1]} counts")
    values = [v for r in rows for v in r]
    if not all(isinstance(v, int) and not isinstance(v, bool) and v >= 0 for v in values):
        raise DocumentError(f"{where}: {key} must hold non-negative integers")
    return np.array(values, dtype=np.float64).reshape(shape)
