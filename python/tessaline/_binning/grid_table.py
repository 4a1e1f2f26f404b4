"""The table of a two-variable binning: the cells of a product grid of x
intervals and y intervals, each with its non-events, events, event rate, WoE
and IV, and the scoring of pairs by cell.

Cell (i, j) is the i-th x row and j-th y column; the last row holds the rows
whose x is missing and the last column those whose y is missing. Intervals
are closed on the right: a value equal to a cut point falls in the lower
interval. WoE and IV follow `tessaline._woe` over all cells (a missing row or
column included), so an empty cell has WoE 0."""

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
    ):
        self.axis_x, self.axis_y = axis_x, axis_y
        self._c0, self._c1 = _frozen(c0), _frozen(c1)
        if self._c0.shape != self._c1.shape or self._c0.shape != (
            axis_x.n_bins + 1,
            axis_y.n_bins + 1,
        ):
            raise ValueError(
                f"the counts must be {axis_x.n_bins + 1} rows of {axis_y.n_bins + 1} cells"
            )
        self.name_x, self.name_y = name_x, name_y
        self.metadata = dict(metadata or {})
        woe, iv, total = weight_of_evidence(self._c0, self._c1)
        self._woe = _frozen(woe.reshape(self._c0.shape))
        self._iv = _frozen(iv.reshape(self._c0.shape))
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
        return self._woe

    @property
    def iv(self) -> FloatArray:
        """Each cell's term of the information value."""
        return self._iv

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
        """One entry per cell, x row by x row: the labels of its x and y
        intervals, its counts, share of all rows, event rate, WoE and IV."""
        rows = self._c0 + self._c1
        total = float(rows.sum())
        labels_x, labels_y = self.labels_x, self.labels_y
        return {
            "x": [lx for lx in labels_x for _ in labels_y],
            "y": [ly for _ in labels_x for ly in labels_y],
            "c0": self._c0.ravel().astype(np.int64),
            "c1": self._c1.ravel().astype(np.int64),
            "share": rows.ravel() / total if total else np.full(rows.size, np.nan),
            "event_rate": self.event_rate.ravel(),
            "woe": self._woe.ravel(),
            "iv": self._iv.ravel(),
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
        """The WoE of each pair's cell, its flat index (x row * columns + y
        column), or its label ("(-inf, 3] × (2, 5]")."""
        checks.one_of("output", output, OUTPUTS)
        index = self.cell_index(x, y)
        if output == "index":
            return index
        if output == "woe":
            return self._woe.ravel()[index]
        labels = np.array([f"{a} × {b}" for a in self.labels_x for b in self.labels_y])
        return labels[index]

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
        return grid_sql(self.axis_x, self.axis_y, self._woe, x, y, output, dialect)

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
            shape = (axes[0].n_bins + 1, axes[1].n_bins + 1)
            counts = [_count_grid(doc, key, shape, where) for key in ("c0", "c1")]
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
        return (
            f"grid binning of {x} by {y}: {self.axis_x.n_bins}"
            f"{' + missing' if shown_x[-1] else ''} x {self.axis_y.n_bins}"
            f"{' + missing' if shown_y[-1] else ''} bins, "
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
