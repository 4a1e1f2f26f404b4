"""Score and drift diagnostics with small result objects that print well:
the population stability index between two samples, and the Gini coefficient
of a score with its Lorenz curve.

The population stability index (PSI) over bins i with shares e_i
(reference) and a_i (current) is::

    PSI = sum_i (e_i - a_i) * ln(e_i / a_i)

A bin that holds no row of one sample would make the logarithm infinite.
The rule of the package (``empty_bins="floor"``, computed by the core): a
share below `epsilon` (1e-12) is raised to it inside the logarithm only, so
an empty bin adds its other share times ln(share / epsilon), a large amount
that flags a bin the other sample never fills. The option
``empty_bins="half"`` counts an empty bin of one sample as half a row
instead, as for the weight of evidence (share 0.5 / rows of that sample): a
gentler amount that grows with the sample size, about its other share times
ln(2 * rows * share). Either way a bin empty in both samples adds nothing.
`tl.psi` and `tl.stability` (monitoring) apply the same two rules.

Sample weights: with `sample_weight` every row counts by its weight (a
finite, non-negative number), so the counts of a bin are sums of weights and
the shares, the Lorenz curve, AUC, Gini and KS are read over them. A row of
whole weight w gives exactly what w copies of it give, a row of weight 0 what
leaving it out gives (but for the sign of a zero score, which the weighted
curve reads as 0.0, as curves from counts do); under ``empty_bins="half"`` an
empty bin counts as half a unit of weight."""

from __future__ import annotations

import math
import types
from collections.abc import Mapping
from typing import TYPE_CHECKING, Any, ClassVar, Literal, get_args

import numpy as np
import numpy.typing as npt

from ._binning.bin_rows import frozen
from ._binning.binning_table import BinningTable
from ._core import checks, native, printing, target
from ._core.arrays import ColumnTable, FloatArray, as_float_array
from ._core.pickle_state import SlotState
from ._core.result_frames import FrameKind, columns_frame
from ._core.score_direction import HigherIs, checked_direction, directed_auc
from ._plots.binning import plot_lorenz

if TYPE_CHECKING:
    from matplotlib.axes import Axes

# How a bin empty in one sample counts: the core's floor, or half a row.
EmptyBins = Literal["floor", "half"]
EMPTY_BINS: tuple[str, ...] = get_args(EmptyBins)
DEFAULT_EPSILON = 1e-12
# Count standing in for an empty bin of one sample under the "half" rule.
EMPTY_BIN_COUNT = 0.5

PSI_COLUMNS = (
    "count_reference",
    "count_current",
    "proportion_reference",
    "proportion_current",
    "cumulative_reference",
    "cumulative_current",
    "psi_bin",
)
# With sample weights the counts are weights, and these hold the records
# (rows of positive weight) behind them.
ROWS_COLUMNS = ("rows_reference", "rows_current")


def psi_reading(psi: float) -> str:
    """The usual reading of a population stability index."""
    if psi != psi:
        return "undefined"
    if psi < 0.1:
        return "stable"
    if psi < 0.25:
        return "moderate shift"
    return "significant shift"


class PSIResult(ColumnTable):
    """Population stability index and Kolmogorov-Smirnov distance of a current
    sample against a reference one, with the per-bin table.

    Rows: one per interval of the cut points, then one for missing values when
    either sample has any. Per row, with p_ref and p_cur the two proportions
    (under the default rule for empty bins; see the module)::

        psi_bin = (p_ref - p_cur) * ln(max(p_ref, eps) / max(p_cur, eps))

    ``psi`` is the sum of the rows and ``ks`` the largest gap between the two
    cumulative proportions. With sample weights the counts are sums of weights,
    and ``rows_reference`` and ``rows_current`` the rows of positive weight.
    """

    __slots__ = ("psi", "ks", "splits", "_columns")
    _length_column = "psi_bin"

    def __init__(self, result: Mapping[str, Any], splits: npt.ArrayLike) -> None:
        self.psi: float = float(result["psi"])
        self.ks: float = float(result["ks"])
        self.splits: FloatArray = frozen(np.asarray(splits, dtype=np.float64))
        names = PSI_COLUMNS + tuple(k for k in ROWS_COLUMNS if k in result)
        self._columns = types.MappingProxyType({k: frozen(result[k]) for k in names})

    @property
    def labels(self) -> list[str]:
        edges = [-math.inf, *(float(s) for s in self.splits), math.inf]
        labels = [printing.interval(edges[i], edges[i + 1]) for i in range(len(edges) - 1)]
        return labels + ["missing"] * (len(self) - len(labels))

    def to_frame(self, kind: FrameKind = "pandas") -> Any:
        """The per-bin table as a DataFrame of `kind` ("pandas", "polars" or
        "arrow"), with a ``bin`` label column."""
        return columns_frame({"bin": self.labels, **self._columns}, kind, "PSIResult.to_frame")

    def __str__(self) -> str:
        c = self._columns
        rows = [
            [
                label,
                printing.count(c["count_reference"][i]),
                printing.count(c["count_current"][i]),
                printing.percent(float(c["proportion_reference"][i])),
                printing.percent(float(c["proportion_current"][i])),
                printing.fixed(float(c["psi_bin"][i]), 4),
            ]
            for i, label in enumerate(self.labels)
        ]
        header = ("interval", "reference", "current", "ref share", "cur share", "PSI")
        return (
            f"PSI {self.psi:.4f} ({psi_reading(self.psi)}), KS {self.ks:.4f}\n"
            + printing.text_table(header, rows)
        )

    def __repr__(self) -> str:
        return f"<PSIResult psi={self.psi:.4f} ({psi_reading(self.psi)}) ks={self.ks:.4f}>"


def half_row_psi(
    expected: npt.ArrayLike, actual: npt.ArrayLike
) -> tuple[npt.NDArray[np.float64], float]:
    """Each bin's PSI term and their sum from the counts of the two samples
    (neither without rows), an empty bin of one sample counted as half a row
    (``empty_bins="half"``)."""
    e = np.asarray(expected, dtype=np.float64)
    a = np.asarray(actual, dtype=np.float64)
    e_total, a_total = float(e.sum()), float(a.sum())
    e_share = np.where(e > 0, e, EMPTY_BIN_COUNT) / e_total
    a_share = np.where(a > 0, a, EMPTY_BIN_COUNT) / a_total
    terms = (a_share - e_share) * np.log(a_share / e_share)
    terms[(e == 0) & (a == 0)] = 0.0
    return terms, float(sum(terms.tolist()))


def binned_psi(
    expected: npt.ArrayLike,
    actual: npt.ArrayLike,
    *,
    empty_bins: EmptyBins = "floor",
    epsilon: float = DEFAULT_EPSILON,
) -> tuple[npt.NDArray[np.float64], float]:
    """Each bin's PSI term and their sum from the counts of the two samples
    per bin (at least two bins, the last one for missing values; sums of
    weights when they are floats), under the rule `empty_bins`; NaN when a
    sample holds no row."""
    weighted = np.asarray(expected).dtype.kind == "f" or np.asarray(actual).dtype.kind == "f"
    kind = np.float64 if weighted else np.int64
    e = np.asarray(expected, dtype=kind)
    a = np.asarray(actual, dtype=kind)
    if not (e.sum() > 0 and a.sum() > 0):
        return np.full(e.shape, math.nan), math.nan
    if empty_bins == "half":
        return half_row_psi(e, a)
    # The core compares counts laid out as intervals, then missing values:
    # any increasing cut points of the right number stand for the bins.
    compare = native.compare_from_weights if weighted else native.compare_from_counts
    result = compare(e, a, np.arange(e.size - 2, dtype=np.float64), epsilon)
    terms = np.zeros(e.size)
    # Its missing-value row is left out when neither sample has one: it adds 0.
    terms[: len(result["psi_bin"])] = result["psi_bin"]
    return terms, float(result["psi"])


def sample_pair(
    sample_weight: Any, n_reference: int, n_current: int
) -> tuple[FloatArray, FloatArray] | None:
    """The weights of the reference and the current rows from the pair
    `sample_weight` (None: no weights; None in the pair: weight 1)."""
    if sample_weight is None:
        return None
    # A tuple only: a list of two numbers would read as the weights of two rows.
    if not isinstance(sample_weight, tuple) or len(sample_weight) != 2:
        raise TypeError(
            "sample_weight must be a pair (weights of the reference rows, weights of "
            f"the current rows), not {type(sample_weight).__name__}"
        )
    pair = []
    for name, given, n in zip(("reference", "current"), sample_weight, (n_reference, n_current)):
        try:
            weights = checks.sample_weights(given, n)
        except ValueError as error:
            raise ValueError(f"{error} (the {name} sample)") from None
        pair.append(np.ones(n) if weights is None else weights)
    return pair[0], pair[1]


def psi(
    reference: npt.ArrayLike,
    current: npt.ArrayLike,
    splits: npt.ArrayLike | BinningTable,
    *,
    epsilon: float = DEFAULT_EPSILON,
    empty_bins: EmptyBins = "floor",
    sample_weight: tuple[npt.ArrayLike | None, npt.ArrayLike | None] | None = None,
) -> PSIResult:
    """Population stability index of `current` against `reference` over the
    cut points `splits` (finite, strictly increasing; or a `BinningTable`,
    whose cut points are used). Intervals are closed on the right; missing
    values get a row of their own. A bin empty in one sample counts under
    `empty_bins` (see the module): "floor", a proportion below `epsilon`
    raised to it inside the logarithm only, or "half", half a row. Both
    samples must hold a value; a bad argument is a ValueError or TypeError
    naming it.

    `sample_weight` is the tuple (weights of the reference rows, weights of
    the current rows), either None for rows of weight 1: the counts are then
    sums of weights.
    """
    ref, cur = as_float_array(reference), as_float_array(current)
    if ref.size == 0 or cur.size == 0:
        raise ValueError(
            f"reference and current must each hold at least one value, not "
            f"{ref.size} and {cur.size}"
        )
    checks.real_number("epsilon", epsilon, above=0)
    cuts = checks.cut_points(
        "splits", splits.splits if isinstance(splits, BinningTable) else splits
    )
    checks.one_of("empty_bins", empty_bins, EMPTY_BINS)
    weights = sample_pair(sample_weight, ref.size, cur.size)
    if weights is None:
        result = dict(native.compare_distributions(ref, cur, cuts, epsilon))
    else:
        sums = [native.weigh_into_bins(v, w, cuts) for v, w in zip((ref, cur), weights)]
        result = dict(native.compare_from_weights(sums[0], sums[1], cuts, epsilon))
        for key, values, w in zip(ROWS_COLUMNS, (ref, cur), weights):
            rows = native.weigh_into_bins(values, (w > 0).astype(np.float64), cuts)
            result[key] = rows[: len(result["psi_bin"])].astype(np.int64)
    if empty_bins == "half":
        result["psi_bin"], result["psi"] = half_row_psi(
            result["count_reference"], result["count_current"]
        )
    return PSIResult(result, cuts)


class GiniResult(SlotState):
    """Gini coefficient and AUC of a score against a binary target, read in
    the direction ``higher_is``, with the Lorenz curve: one point per
    distinct score, ascending, giving the shares of non-events
    (``cumulative_non_event``) and events (``cumulative_event``) at or below
    that score. Gini = 2 * AUC - 1, ties counting one half; it is positive
    when events score on the bad side (higher, under the default
    ``higher_is="bad"``).
    """

    __slots__ = ("gini", "auc", "higher_is", "_curve")
    _slot_defaults: ClassVar[dict[str, Any]] = {"higher_is": "bad"}

    def __init__(self, result: Mapping[str, Any], higher_is: HigherIs = "bad") -> None:
        self.higher_is: str = checked_direction(higher_is)
        self.auc: float = directed_auc(float(result["auc"]), higher_is)
        self.gini: float = float(result["gini"]) if higher_is == "bad" else 2.0 * self.auc - 1.0
        self._curve = types.MappingProxyType(
            {k: frozen(result[k]) for k in ("value", "cumulative_non_event", "cumulative_event")}
        )

    @property
    def curve(self) -> Mapping[str, FloatArray]:
        """The Lorenz curve's columns ``value``, ``cumulative_non_event``, ``cumulative_event``."""
        return self._curve

    def to_frame(self, kind: FrameKind = "pandas") -> Any:
        """The Lorenz curve as a DataFrame of `kind` ("pandas", "polars" or "arrow")."""
        return columns_frame(self._curve, kind, "GiniResult.to_frame")

    def plot(self, ax: Axes | None = None) -> Axes:
        """The Lorenz curve with the diagonal and the Gini in the title (needs matplotlib)."""
        return plot_lorenz(self, ax=ax)

    def __str__(self) -> str:
        n = len(self._curve["value"])
        text = (
            f"Gini {self.gini:+.4f} (AUC {self.auc:.4f}) over {n} distinct score "
            f"value{'s' if n != 1 else ''} (higher score is {self.higher_is})"
        )
        if self.gini < 0:
            # Most likely a score read the wrong way round.
            other = "good" if self.higher_is == "bad" else "bad"
            text += (
                f"; negative: events score on the good side, and read with "
                f"higher_is={other!r} the Gini is {-self.gini:+.4f}"
            )
        return text

    def __repr__(self) -> str:
        return f"<GiniResult gini={self.gini:+.4f} auc={self.auc:.4f} higher_is={self.higher_is!r}>"


def gini(
    score: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    higher_is: HigherIs = "bad",
    sample_weight: npt.ArrayLike | None = None,
) -> GiniResult:
    """Gini coefficient of `score` against the 0/1 target `y` (1 = event),
    read with a higher score as `higher_is` ("bad": risk rises with the
    score, as with a probability of default or a WoE; "good": scorecard
    points, as `score_performance` reads them by default), each row counted
    by its `sample_weight` when given (see the module).

    Records with a missing score or a missing target are left out. Arrays of
    different lengths are a ValueError; a target other than 0 and 1, or one
    holding a single class among the scored rows (of positive weight), is a
    `TargetError`.
    """
    checked_direction(higher_is)
    scores, labels, weights = target.scored_rows(score, y, sample_weight)
    if weights is None:
        return GiniResult(native.lorenz_curve(scores, labels), higher_is)
    counts = native.count_values_weighted(scores, labels, weights)
    return GiniResult(native.lorenz_from_counts(counts), higher_is)
