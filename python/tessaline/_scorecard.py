"""Scorecard: points per bin from a whole-table binning and a logistic
regression on its WoE columns.

Scaling. The regression gives the log-odds of an event (a bad) as
``b0 + sum_j b_j * WoE_j``. The score is the log-odds of a non-event (a good),
scaled so that `pdo` points double the odds and the score `base_score` has
good:bad odds of `base_odds`::

    factor = pdo / ln 2
    offset = base_score - factor * ln(base_odds)
    score  = offset + factor * ln(odds of a good)
           = offset - factor * (b0 + sum_j b_j * WoE_j)

so **higher points mean lower risk**. The intercept and offset are shared
equally among the k variables, giving each bin i of variable j::

    points_ij = -factor * (b_j * WoE_ij + b0 / k) + offset / k

and a row's score is the sum of its points over the variables, in the order
of `variables`. With ``intercept_points="separate"`` the intercept and offset
stay out of the bins as one base score, ``base_points = offset - factor * b0``,
each bin earns ``-factor * (b_j * WoE_ij)``, and a row's score is the base
plus its points in the order of `variables`. With `score_range` the factor and
offset are chosen instead so that the card's lowest and highest possible
scores are the ends of the range (`tessaline._score_scaling`). With `rounding`
(a number of decimals, 0 for whole points) each bin's points, and the base,
are rounded and the score is the sum of the rounded points;
`tessaline.rounding_effect` tells what the rounding costs in AUC.
"""

from __future__ import annotations

import inspect
import math
import warnings
from collections.abc import Mapping, Sequence
from typing import Any, ClassVar, Literal

import numpy as np
import numpy.typing as npt

from ._binning.binning_table import BinningTable
from ._binning.grid_table import GridBinningTable
from ._binning.table_pairs import cell_labels, indexed_woe
from ._core import checks, frames, printing
from ._core.arrays import FloatArray
from ._core.dependencies import require
from ._core.pickle_state import PlainState
from ._core.result_frames import FrameKind, rows_frame
from ._formats import document, pmml, sql
from ._performance import ScorePerformance, score_performance
from ._score_scaling import minmax_scaling
from ._score_scaling import score_range as checked_range
from ._selection import Decision, LogisticFit, decisions_text, logistic_fit
from ._table_binning import TableBinning, decision_dicts, decisions_of, monitor_door
from .exceptions import DocumentError, FewEventsWarning, NotFittedError


def scaling(pdo: float, base_score: float, base_odds: float) -> tuple[float, float]:
    """The factor and offset of the score (see the module docstring)."""
    checks.real_number("pdo", pdo, above=0)
    checks.real_number("base_score", base_score)
    checks.real_number("base_odds", base_odds, above=0)
    factor = pdo / math.log(2.0)
    return factor, base_score - factor * math.log(base_odds)


# Decimals a document may round the points to, either way.
MAX_ROUNDING = 300
# How far, in units in the last place, stored points may be from what the
# coefficients give here (another machine's logarithm may round apart).
POINTS_ULPS = 64


def _same_points(stored: FloatArray, computed: FloatArray, rounding: int | None) -> bool:
    """Whether stored points are the computed ones to a few units in the last
    place; rounded ones, the rounding of a value that close (near a half step
    it may round either way on another machine)."""
    if rounding is None or stored.shape != computed.shape:
        return document.within_ulps(stored, computed, POINTS_ULPS)
    wiggle = POINTS_ULPS * np.spacing(np.abs(computed))
    low, high = (np.round(computed + sign * wiggle, rounding) for sign in (-1.0, 1.0))
    return bool(np.all((stored == low) | (stored == high) | np.isnan(stored) & np.isnan(computed)))


def _default_estimator() -> Any:
    linear_model = require("sklearn.linear_model", "Scorecard without an estimator")
    return linear_model.LogisticRegression(max_iter=1000)


def _row_weights(data: Any, sample_weight: Any) -> FloatArray | None:
    """One weight per row of the table `data` (an array, or the name of a
    column of `data`), checked."""
    if sample_weight is None:
        return None
    names = frames.column_names(data)
    rows = frames.length(frames.column(data, names[0])) if names else 0
    return frames.weights_of(data, sample_weight, rows)[0]


def _takes_sample_weight(estimator: Any) -> bool:
    """Whether the estimator's ``fit`` has a ``sample_weight`` parameter."""
    try:
        parameters = inspect.signature(estimator.fit).parameters
    except (AttributeError, TypeError, ValueError):
        return False
    return "sample_weight" in parameters or any(
        p.kind is inspect.Parameter.VAR_KEYWORD for p in parameters.values()
    )


# Events per variable below which a logistic regression's coefficients are
# unreliable: their signs and sizes move from sample to sample.
DEFAULT_MIN_EVENTS_PER_VARIABLE = 10.0


def events_per_variable_cap(
    names: Sequence[str], events: float, minimum: float
) -> tuple[list[str], list[Decision]]:
    """The first of `names` (the strongest first) that `events` events
    support at `minimum` events per variable (at least one), and the
    decisions that leave the others out."""
    limit = max(1, int(events // minimum))
    return list(names[:limit]), [
        Decision(
            n,
            "events_per_variable",
            events / (i + 1),
            minimum,
            detail=f"{events:g} events support {limit} variable(s)",
        )
        for i, n in enumerate(names)
        if i >= limit
    ]


class Scorecard(PlainState):
    """Points per bin of every selected variable of a `TableBinning`.

    `fit(data, y)` fits the binning when it is not fitted yet (a default
    `TableBinning` with `event` when none is given), then `estimator` (any
    object with ``fit`` and, after it, ``coef_`` and ``intercept_``; default
    scikit-learn's ``LogisticRegression(max_iter=1000)``) on the WoE of the
    selected variables (all binned ones with ``selected=False``) against the
    event flags. Scaling: `pdo` points double the good:bad odds, and
    `base_score` points mean odds of `base_odds` (default 600 points at 50:1,
    20 points to double the odds); formula in the module docstring. Or
    min-max: with ``score_range=(low, high)`` the riskiest possible applicant
    scores `low` and the safest `high` (pdo and base odds then follow from
    the fit). ``intercept_points="spread"`` (the default) shares the
    intercept equally among the variables' points; ``"separate"`` keeps it as
    one base score, ``base_points``, added to every row's points.

    A variable whose coefficient comes out negative would score against its
    own bins (its riskier bins, of higher WoE, would earn more points), which
    collinearity among the variables can cause. With ``signs="drop"`` (the
    default) the most negative such variable is dropped and the model
    refitted until every coefficient is positive; ``dropped`` names each
    dropped variable with its coefficient, and printing the card says so.
    ``signs="keep"`` keeps the estimator's coefficients as they come.

    A model of fewer events per variable than `min_events_per_variable`
    (default 10) is warned of (`FewEventsWarning`); with
    ``cap_variables=True`` the selection keeps no more of the strongest
    variables than the events support. ``selection_report`` lists every
    decision of the guard-rails, the binning's selection and the card's
    own, and printing the card shows them.

    With `sample_weight` (one finite, non-negative number per row of
    `data`, or the name of a column of `data` holding them, which is then
    not binned), `fit` bins the table by the weights (when it fits the binning)
    and passes them to the estimator's ``fit`` as ``sample_weight``, so the
    estimator must take it (scikit-learn's do, and so does
    `StepwiseLogistic`).

    After `fit`: ``variables`` (in the model's order), ``coefficients``,
    ``intercept``, ``factor``, ``offset``, ``dropped`` and ``points[name]``,
    the points of each row of that variable's binning table (its intervals
    or sets of categories, special values, missing row), or of each cell of
    a pair's grid (`TableBinning`'s `pairs`), x row by x row, missing last.
    """

    def __init__(
        self,
        binning: TableBinning | None = None,
        estimator: Any = None,
        *,
        event: Any = None,
        pdo: float = 20.0,
        base_score: float = 600.0,
        base_odds: float = 50.0,
        rounding: int | None = None,
        selected: bool = True,
        signs: Literal["drop", "keep"] = "drop",
        score_range: tuple[float, float] | None = None,
        intercept_points: Literal["spread", "separate"] = "spread",
        min_events_per_variable: float | None = DEFAULT_MIN_EVENTS_PER_VARIABLE,
        cap_variables: bool = False,
    ) -> None:
        if signs not in ("drop", "keep"):
            raise ValueError(f"signs must be 'drop' or 'keep', not {signs!r}")
        if intercept_points not in ("spread", "separate"):
            raise ValueError(
                f"intercept_points must be 'spread' or 'separate', not {intercept_points!r}"
            )
        self.score_range = None if score_range is None else checked_range(score_range)
        self.intercept_points = intercept_points
        self.base_points = 0.0
        if min_events_per_variable is not None:
            checks.real_number("min_events_per_variable", min_events_per_variable, above=0)
        self.min_events_per_variable = min_events_per_variable
        self.cap_variables = bool(cap_variables)
        self.decisions: list[Decision] = []
        self.binning = binning
        self.estimator = estimator
        self.event = event
        scaling(pdo, base_score, base_odds)  # a bad scaling fails here, before any fit
        self.pdo, self.base_score, self.base_odds = pdo, base_score, base_odds
        self.rounding = rounding
        self.selected = selected
        self.signs = signs
        self.dropped: dict[str, float] = {}
        self.variables: list[str] = []
        self.coefficients: FloatArray = np.empty(0)
        self.intercept = math.nan
        self.factor, self.offset = math.nan, math.nan
        self.points: dict[str, FloatArray] = {}
        # The development sample's monitoring counts (a monitoring state's
        # document), kept so that the card monitors without those rows.
        self.monitor_reference: dict[str, Any] | None = None

    # A card pickled before min-max scaling and a separate base score scaled
    # by pdo and spread its intercept; one pickled before the guard-rails of
    # its selection was fitted without them.
    _state_defaults: ClassVar[dict[str, Any]] = {
        "score_range": None,
        "intercept_points": "spread",
        "base_points": 0.0,
        "min_events_per_variable": None,
        "cap_variables": False,
        "decisions": [],
        "monitor_reference": None,
    }

    # -- fitting ---------------------------------------------------------------
    def fit(self, data: Any, y: Any, sample_weight: Any = None) -> Scorecard:
        binning = self.binning if self.binning is not None else TableBinning(event=self.event)
        estimator = self.estimator if self.estimator is not None else _default_estimator()
        weights = _row_weights(data, sample_weight)
        if weights is not None and not _takes_sample_weight(estimator):
            raise TypeError(
                f"the estimator {type(estimator).__name__} takes no sample_weight in its fit: "
                "give one that does, or fit without sample_weight"
            )
        if not binning.tables:
            binning.fit(data, y, sample_weight=sample_weight)
        self.binning = binning
        self.monitor_reference = None  # the counts of the card fitted before
        names = binning.selected if self.selected else [*binning.tables, *binning.pair_tables]
        if not names:
            raise ValueError(
                "no variable is selected by the binning: lower its min_iv, or give selected=False"
            )
        flags = binning.event_flags(data, y)
        known = ~np.isnan(flags)
        woe = binning.transform(data, output="woe", columns=names)
        columns = {n: np.asarray(woe[n], dtype=np.float64)[known] for n in names}
        labels = flags[known].astype(np.int64)
        fit_options = {} if weights is None else {"sample_weight": weights[known]}
        events = float(labels.sum() if weights is None else weights[known][labels == 1].sum())
        minimum = self.min_events_per_variable
        self.decisions = []
        if minimum is not None and self.cap_variables:
            by_iv = [r.column for r in binning.summary]
            capped, self.decisions = events_per_variable_cap(
                sorted(names, key=by_iv.index), events, minimum
            )
            names = [n for n in names if n in capped]
        kept, self.dropped = list(names), {}
        while True:
            estimator.fit(np.column_stack([columns[n] for n in kept]), labels, **fit_options)
            coefficients = np.ravel(np.asarray(estimator.coef_, dtype=np.float64))
            if coefficients.size != len(kept):
                raise ValueError(
                    f"the estimator gave {coefficients.size} coefficients for "
                    f"{len(kept)} variables: it must be a binary linear model"
                )
            # An estimator that selects (a stepwise one) names the variables it kept.
            support = getattr(estimator, "support_", None)
            if support is not None:
                chosen = np.asarray(support, dtype=bool)
                kept, coefficients = [n for n, c in zip(kept, chosen) if c], coefficients[chosen]
                if not kept:
                    raise ValueError(
                        "the estimator kept no variable: no column earns its place in the model"
                    )
            worst = int(np.argmin(coefficients))
            if self.signs == "keep" or coefficients[worst] >= 0.0:
                break
            if len(kept) == 1:
                raise ValueError(
                    f"the only variable left, {kept[0]!r}, has a negative "
                    "coefficient: its points would run against its WoE"
                )
            self.dropped[kept.pop(worst)] = float(coefficients[worst])
        self.estimator = estimator
        if minimum is not None and events / len(kept) < minimum:
            note = Decision(
                "(model)",
                "events_per_variable",
                events / len(kept),
                minimum,
                "note",
                f"{events:g} events for {len(kept)} variables: coefficients may not hold "
                "out of the sample; cap_variables=True keeps what the events support",
            )
            self.decisions.append(note)
            warnings.warn(str(note), FewEventsWarning, stacklevel=2)
        return self.set_model(
            kept, coefficients, float(np.ravel(np.asarray(estimator.intercept_))[0])
        )

    def set_model(
        self, variables: Sequence[str], coefficients: npt.ArrayLike, intercept: float
    ) -> Scorecard:
        """Points from given coefficients of the variables' WoE and intercept
        (log-odds of an event), on the fitted binning."""
        assert self.binning is not None
        self.variables = list(variables)
        self.coefficients = np.asarray(coefficients, dtype=np.float64)
        self.intercept = float(intercept)
        # Kept rather than recomputed at scoring: a logarithm may round
        # differently on another machine, and a saved card must score alike.
        if self.score_range is None:
            self.factor, self.offset = scaling(self.pdo, self.base_score, self.base_odds)
        else:
            self.factor, self.offset = minmax_scaling(
                self.score_range,
                self.coefficients,
                self.intercept,
                [self._row_woe(name) for name in self.variables],
            )
        self.base_points = 0.0
        if self.intercept_points == "separate":
            self.base_points = self._rounded(self.offset - self.factor * self.intercept)
        self.points = {name: self.points_of(name, self._row_woe(name)) for name in self.variables}
        return self

    def edit(
        self,
        column: str,
        operation: str | BinningTable,
        *args: Any,
        data: Any = None,
        y: Any = None,
        **kwargs: Any,
    ) -> Scorecard:
        """Edit the binning of `column` (`TableBinning.edit`, same arguments),
        then, with `data` and `y`, fit the regression again on the edited
        WoE; without them keep the coefficients and give each row of the
        edited table its points."""
        binning = self._check_fitted()
        binning.edit(column, operation, *args, **kwargs)
        if data is not None or y is not None:
            return self.fit(data, y)
        return self.set_model(self.variables, self.coefficients, self.intercept)

    def points_of(self, name: str, woe: npt.ArrayLike) -> FloatArray:
        """The points of variable `name` for the WoE values `woe`."""
        k = len(self.variables)
        b = self.coefficients[self.variables.index(name)]
        woe = np.asarray(woe, dtype=np.float64)
        points: FloatArray
        if self.intercept_points == "separate":
            points = -self.factor * (b * woe)
        else:
            points = -self.factor * (b * woe + self.intercept / k) + self.offset / k
        rounded: FloatArray = self._rounded(points)
        return rounded

    def _rounded(self, points: Any) -> Any:
        return points if self.rounding is None else np.round(points, self.rounding)

    def _row_woe(self, name: str) -> FloatArray:
        """The WoE of each row of the variable's table (each cell of a pair's
        grid, in flat index order)."""
        assert self.binning is not None
        table = self.binning.variable_table(name)
        if isinstance(table, GridBinningTable):
            return indexed_woe(table)
        return np.asarray(table["woe"], dtype=np.float64)

    # -- using -----------------------------------------------------------------
    def _check_fitted(self) -> TableBinning:
        if not self.variables or self.binning is None:
            raise NotFittedError("This Scorecard is not fitted yet: call fit before score")
        return self.binning

    def variable_points(self, data: Any) -> dict[str, FloatArray]:
        """Each variable's points for every row of `data` (columns by name)."""
        binning = self._check_fitted()
        woe = binning.transform(data, output="woe", columns=self.variables)
        return {name: self.points_of(name, np.asarray(woe[name])) for name in self.variables}

    def score(self, data: Any) -> FloatArray:
        """The score of every row: the sum of its points over the variables
        (after the base score, when the intercept is kept separate)."""
        total: FloatArray | None = None
        for points in self.variable_points(data).values():
            if total is None:
                total = (
                    points.copy()
                    if self.intercept_points == "spread"
                    else self.base_points + points
                )
            else:
                total = total + points
        assert total is not None
        return total

    def reason_codes(self, data: Any, n: int = 3) -> dict[str, npt.NDArray[np.object_]]:
        """For every row, the `n` variables that cost it most points: the gap
        between the variable's best points and the row's, largest first (ties
        in the order of `variables`); ``reason_1`` ... ``reason_n``."""
        per_variable = self.variable_points(data)
        names = np.array(self.variables, dtype=object)
        lost = np.column_stack([self.points[v].max() - per_variable[v] for v in self.variables])
        order = np.argsort(-lost, axis=1, kind="stable")[:, :n]
        return {f"reason_{i + 1}": names[order[:, i]] for i in range(order.shape[1])}

    def performance(
        self,
        data: Any,
        y: Any,
        n_bands: int = 10,
        sample_weight: Any = None,
    ) -> ScorePerformance:
        """AUC, Gini, KS and the gains table of the score on `data` against
        `y`, each row counted by its `sample_weight` when given."""
        binning = self._check_fitted()
        flags = binning.event_flags(data, y)
        return score_performance(
            self.score(data),
            flags,
            higher_is="good",
            n_bands=n_bands,
            sample_weight=_row_weights(data, sample_weight),
        )

    # The card's score, its variables, performance and calibration
    # monitored period by period.
    monitor = monitor_door

    def model_fit(self, data: Any, y: Any, sample_weight: Any = None) -> LogisticFit:
        """The unpenalised logistic regression of `y` on the WoE of the card's
        variables in `data` (each row counted by its `sample_weight` when
        given): coefficient p-values, AIC and BIC, and the variables whose
        coefficient runs against their WoE (``contradicting``), the evidence a
        validator asks for beside the card's own coefficients."""
        binning = self._check_fitted()
        flags = binning.event_flags(data, y)
        known = ~np.isnan(flags)
        weights = _row_weights(data, sample_weight)
        woe = binning.transform(data, output="woe", columns=self.variables)
        return logistic_fit(
            {n: np.asarray(woe[n], dtype=np.float64)[known] for n in self.variables},
            flags[known],
            self.variables,
            sample_weight=None if weights is None else weights[known],
        )

    # -- reading ---------------------------------------------------------------
    @property
    def selection_report(self) -> list[Decision]:
        """Every decision of the guard-rails: the binning's selection, then
        the card's own (events per variable)."""
        held = self.binning.selection_report if self.binning is not None else []
        return [*held, *self.decisions]

    def points_table(self, name: str | None = None) -> list[tuple[str, str, float, float]]:
        """(variable, bin label, WoE, points) for every row of every variable
        (or of `name`), in the model's order."""
        binning = self._check_fitted()
        rows = []
        for variable in [name] if name is not None else self.variables:
            table = binning.variable_table(variable)
            labels = cell_labels(table) if isinstance(table, GridBinningTable) else table.labels
            for label, woe, points in zip(labels, self._row_woe(variable), self.points[variable]):
                rows.append((variable, label, float(woe), float(points)))
        return rows

    def points_frame(self, kind: FrameKind = "pandas") -> Any:
        """The points table as a DataFrame of `kind` ("pandas", "polars" or "arrow")."""
        return rows_frame(
            self.points_table(), ("variable", "bin", "woe", "points"), kind, "points_frame"
        )

    def __str__(self) -> str:
        self._check_fitted()
        rows = [
            [v, label, printing.fixed(w, 3), printing.fixed(p, 2)]
            for v, label, w, p in self.points_table()
        ]
        if self.score_range is None:
            scale = (
                f"{self.pdo:g} points double the odds, "
                f"{self.base_score:g} points at odds {self.base_odds:g}:1"
            )
        else:
            scale = "scores from {:g} to {:g}".format(*self.score_range)
        head = f"Scorecard: {len(self.variables)} variables, {scale} (higher points, lower risk)"
        if self.intercept_points == "separate":
            head += f"\nbase score: {printing.fixed(self.base_points, 2)} points"
        if self.dropped:
            head += "\ndropped, as their coefficient ran against their WoE: " + ", ".join(
                f"{name} ({coefficient:.4g})" for name, coefficient in self.dropped.items()
            )
        decided = decisions_text(self.selection_report)
        if decided:
            head += "\nselection:\n" + decided
        return head + "\n" + printing.text_table(("variable", "bin", "WoE", "points"), rows, (0, 1))

    def __repr__(self) -> str:
        state = f"{len(self.variables)} variables" if self.variables else "not fitted"
        if self.score_range is not None:
            return "<Scorecard range={:g}..{:g}, ".format(*self.score_range) + f"{state}>"
        return (
            f"<Scorecard pdo={self.pdo:g} base={self.base_score:g}@{self.base_odds:g}:1, {state}>"
        )

    # -- keeping -----------------------------------------------------------------
    def to_json(self, indent: int | None = None) -> str:
        """The scorecard as one JSON document: its scaling, the model's
        coefficients and the binning's document (see `TableBinning.to_json`)."""
        return document.dumps(self.to_dict(), indent)

    @classmethod
    def from_json(cls, text: str | bytes) -> Scorecard:
        """The scorecard a document of `to_json` describes; it scores exactly
        as the original did (the estimator itself is not kept)."""
        return cls.from_dict(document.parse(text))

    def to_dict(self) -> dict[str, Any]:
        """The document of this fitted scorecard as a JSON-ready dict: its
        scaling, the model's coefficients, the points of every row and the
        binning's document."""
        if self.binning is None or not self.variables:
            raise ValueError("only a fitted Scorecard can be written")
        exact = document.exact
        return {
            **document.header(document.SCORECARD_SCHEMA),
            "pdo": exact(self.pdo),
            "base_score": exact(self.base_score),
            "base_odds": exact(self.base_odds),
            "rounding": self.rounding,
            "selected": self.selected,
            "signs": self.signs,
            "score_range": None
            if self.score_range is None
            else [exact(v) for v in self.score_range],
            "intercept_points": self.intercept_points,
            "base_points": exact(self.base_points),
            "dropped": {name: exact(c) for name, c in self.dropped.items()},
            "decisions": decision_dicts(self.decisions),
            "factor": exact(self.factor),
            "offset": exact(self.offset),
            "variables": list(self.variables),
            "coefficients": [exact(v) for v in self.coefficients],
            "intercept": exact(self.intercept),
            "points": {name: [exact(v) for v in self.points[name]] for name in self.variables},
            "binning": self.binning.to_dict(),
        } | self._kept_reference()

    def _kept_reference(self) -> dict[str, Any]:
        """The optional field of the development counts kept for monitoring."""
        kept = self.monitor_reference
        return {} if kept is None else {"monitor_reference": kept}

    @classmethod
    def from_dict(cls, doc: Any) -> Scorecard:
        """The scorecard a document's dict describes (without its estimator);
        one whose points are not those of its coefficients raises `DocumentError`."""
        w = document.SCORECARD_SCHEMA
        document.check_header(doc, w)
        with document.reading(w):
            return cls._from_checked_dict(doc, w)

    @classmethod
    def _from_checked_dict(cls, doc: Mapping[str, Any], w: str) -> Scorecard:
        rounding = doc.get("rounding")
        if rounding is not None and (
            not isinstance(rounding, int)
            or isinstance(rounding, bool)
            or abs(rounding) > MAX_ROUNDING
        ):
            raise DocumentError(
                f"{w}: field 'rounding' must be null or an integer from "
                f"{-MAX_ROUNDING} to {MAX_ROUNDING}"
            )
        # Documents written before the sign rule keep their variables as fitted.
        signs = doc.get("signs", "drop")
        if signs not in ("drop", "keep"):
            raise DocumentError(f"{w}: field 'signs' must be 'drop' or 'keep'")
        finite = document.finite
        # Documents written before min-max scaling and a separate base score
        # scale by pdo and spread the intercept.
        bounds = doc.get("score_range")
        if bounds is not None and not (isinstance(bounds, list) and len(bounds) == 2):
            raise DocumentError(f"{w}: field 'score_range' must be null or [low, high]")
        intercept_points = doc.get("intercept_points", "spread")
        if intercept_points not in ("spread", "separate"):
            raise DocumentError(f"{w}: field 'intercept_points' must be 'spread' or 'separate'")
        try:
            bounds = (
                None
                if bounds is None
                else checked_range([finite(v, f"{w} score_range") for v in bounds])
            )
        except ValueError as error:
            raise DocumentError(f"{w}: field 'score_range': {error}") from None
        card = cls(
            pdo=finite(doc.get("pdo"), f"{w} pdo"),
            base_score=finite(doc.get("base_score"), f"{w} base_score"),
            base_odds=finite(doc.get("base_odds"), f"{w} base_odds"),
            rounding=rounding,
            selected=document.flag(doc, "selected", w),
            signs=signs,
            score_range=bounds,
            intercept_points=intercept_points,
        )
        dropped = doc.get("dropped", {})
        if not isinstance(dropped, dict):
            raise DocumentError(f"{w}: field 'dropped' must map variables to their coefficients")
        card.dropped = {str(k): finite(v, f"{w} dropped") for k, v in dropped.items()}
        card.decisions = decisions_of(doc, w, "decisions")
        try:
            scaling(card.pdo, card.base_score, card.base_odds)
        except ValueError as error:
            raise DocumentError(f"{w}: fields 'pdo', 'base_score', 'base_odds': {error}") from None
        card.binning = TableBinning.from_dict(document.field(doc, "binning", dict, w))
        variables = document.names(doc, "variables", w)
        coefficients = [
            finite(v, f"{w} coefficients") for v in document.field(doc, "coefficients", list, w)
        ]
        if (
            not variables
            or any(
                v not in card.binning.tables and v not in card.binning.pair_tables
                for v in variables
            )
            or len(coefficients) != len(variables)
        ):
            raise DocumentError(
                f"{w}: the variables, their coefficients and the binning's tables do not match"
            )
        card.set_model(variables, coefficients, finite(doc.get("intercept"), f"{w} intercept"))
        # Documents written before monitoring kept no reference counts.
        kept = doc.get("monitor_reference")
        if kept is not None and not isinstance(kept, dict):
            raise DocumentError(f"{w}: field 'monitor_reference' must be null or an object")
        card.monitor_reference = kept
        # The stored factor, offset and points are the ones the card scored
        # with; they must be what its scaling and coefficients give here.
        for key in ("factor", "offset"):
            stored = finite(doc.get(key), f"{w} {key}")
            if not document.within_ulps(stored, getattr(card, key), POINTS_ULPS):
                given = "pdo, base_score and base_odds" if bounds is None else "score_range"
                raise DocumentError(f"{w}: field {key!r} is not what {given} gives")
            setattr(card, key, stored)
        if "base_points" in doc:
            stored = finite(doc.get("base_points"), f"{w} base_points")
            if not _same_points(np.array([stored]), np.array([card.base_points]), rounding):
                raise DocumentError(f"{w}: field 'base_points' is not what the intercept gives")
            card.base_points = stored
        points = document.field(doc, "points", dict, w)
        if set(points) != set(variables):
            raise DocumentError(f"{w}: field 'points' must hold the points of each variable")
        for v in variables:
            kept = np.array(document.floats(points, v, f"{w} points"), dtype=np.float64)
            if not _same_points(kept, card.points_of(v, card._row_woe(v)), rounding):
                raise DocumentError(f"{w}: points.{v} are not what the coefficients give")
            card.points[v] = kept
        return card

    def to_sql(
        self,
        source: str,
        *,
        dialect: sql.Dialect = "duckdb",
        keep: Sequence[str] = (),
        name: str = "score",
    ) -> str:
        """A SELECT over the table `source` that gives each row's points per
        variable and its score (column `name`) exactly as `score` does."""
        return sql.scorecard_sql(self, source, dialect=dialect, keep=keep, name=name)

    def to_pmml(self, *, name: str = "score", reasons: int = 3) -> str:
        """A PMML 4.4 Scorecard whose output `name` is each row's score exactly
        as `score` gives it, and ``reason_1`` ... its first `reasons` reason
        codes as `reason_codes(n=reasons)` names them (see
        `tessaline._formats.pmml` for the rules it follows)."""
        return pmml.scorecard_pmml(self, name=name, reasons=reasons)
