"""What the exporters and charts need to know of a model, as small
protocols, so that `formats/` and `plots/` read a model without importing
its class (the classes call down into them, never the reverse)."""
from __future__ import annotations

from collections.abc import Mapping
from typing import Any, Protocol

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]


class BinnedColumn(Protocol):
    """One variable's bins, as the SQL of `transform` needs them."""

    @property
    def name(self) -> str | None: ...
    @property
    def splits(self) -> FloatArray: ...
    @property
    def special_values(self) -> tuple[float, ...]: ...
    @property
    def bin_categories(self) -> tuple[tuple[str, ...], ...] | None: ...
    @property
    def pooled_categories(self) -> tuple[str, ...]: ...
    @property
    def pooled_bin(self) -> int | None: ...
    @property
    def n_bins(self) -> int: ...
    def woe_by_index(self) -> tuple[FloatArray, FloatArray, float]: ...


class BinnedTable(Protocol):
    """Every column's bins and the selection among them."""

    @property
    def tables(self) -> Mapping[str, BinnedColumn]: ...
    @property
    def selected(self) -> list[str]: ...


class PointsModel(Protocol):
    """A scorecard: its variables, in order, and their points."""

    @property
    def binning(self) -> BinnedTable | None: ...
    @property
    def variables(self) -> list[str]: ...
    @property
    def points(self) -> Mapping[str, FloatArray]: ...
    def points_of(self, name: str, woe: npt.ArrayLike) -> FloatArray: ...


class PrintedTable(Protocol):
    """A table as printed: title, header, cells."""

    @property
    def HEADER(self) -> tuple[str, ...]: ...  # noqa: N802  (the class constant it reads)
    @property
    def TEXT_COLUMNS(self) -> tuple[int, ...]: ...  # noqa: N802

    def title(self) -> str: ...
    def rows(self) -> list[list[str]]: ...


class ChartedTable(Protocol):
    """A binning table as charted: its rows' labels, counts and event rates."""

    @property
    def name(self) -> str | None: ...
    @property
    def labels(self) -> list[str]: ...
    @property
    def information_value(self) -> float: ...
    def __len__(self) -> int: ...
    def __getitem__(self, column: str) -> npt.NDArray[Any]: ...


class Curve(Protocol):
    """A Lorenz curve and its Gini."""

    @property
    def gini(self) -> float: ...
    @property
    def curve(self) -> Mapping[str, FloatArray]: ...


class ScoreCurves(Protocol):
    """A score's performance as its charts read it."""

    @property
    def auc(self) -> float: ...
    @property
    def gini(self) -> float: ...
    @property
    def ks(self) -> float: ...
    @property
    def ks_score(self) -> float: ...
    @property
    def event_share(self) -> float: ...
    @property
    def scores(self) -> FloatArray: ...
    @property
    def flagged_events(self) -> FloatArray: ...
    @property
    def flagged_non_events(self) -> FloatArray: ...

