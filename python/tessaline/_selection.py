"""Choosing the variables of a model on their WoE columns, as a validator
wants to see it done: their correlations (Pearson and Spearman), variance
inflation factors, and a stepwise selection with a logistic regression whose
every step is recorded.

The logistic regression is fitted by Newton's method (iteratively reweighted
least squares) with an intercept; standard errors come from the inverse of
the information matrix at the optimum and p-values from the Wald test, AIC =
2k - 2 log L and BIC = k ln n - 2 log L for k coefficients, intercept
included. A WoE grows with the risk, so a coefficient of a WoE column that
is not positive runs against its bins: a sign of collinearity, which
`LogisticFit.contradicting` names.

With sample weights each row's terms of the log-likelihood, its gradient and
its information count by the row's weight, and n (for BIC) is the sum of the
weights: whole weights fit what repeating each row that many times fits.

The VIF of a column is 1 / (1 - R^2) of the least-squares regression of it on
the other columns with an intercept.
"""

from __future__ import annotations

import contextlib
import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from ._core import checks, distributions, printing
from ._core.arrays import FloatArray, as_float_array

Columns = Mapping[str, npt.ArrayLike]
_MAX_ITERATIONS = 100
_STEP_TOLERANCE = 1e-12


@dataclass(frozen=True)
class LogisticFit:
    """A logistic regression of the event on `variables`: the intercept and
    coefficients (`coefficients[0]` is the intercept), their standard errors
    and Wald p-values, the log-likelihood and the rows it was fitted on (the
    sum of their weights when weighted)."""

    variables: tuple[str, ...]
    coefficients: FloatArray
    std_errors: FloatArray
    pvalues: FloatArray
    log_likelihood: float
    n_rows: float

    @property
    def aic(self) -> float:
        return 2.0 * self.coefficients.size - 2.0 * self.log_likelihood

    @property
    def bic(self) -> float:
        return self.coefficients.size * math.log(self.n_rows) - 2.0 * self.log_likelihood

    @property
    def contradicting(self) -> tuple[str, ...]:
        """Variables whose coefficient is not positive: their points would run
        against their WoE."""
        return tuple(v for v, b in zip(self.variables, self.coefficients[1:]) if not b > 0)

    def __str__(self) -> str:
        rows = [
            [
                name,
                printing.fixed(float(b), 4),
                printing.fixed(float(s), 4),
                f"{float(p):.3g}",
                "contradicts WoE" if name in self.contradicting else "",
            ]
            for name, b, s, p in zip(
                ("(intercept)", *self.variables), self.coefficients, self.std_errors, self.pvalues
            )
        ]
        rows[0][-1] = ""
        return (
            f"logistic regression on {printing.count(self.n_rows)} rows: log-likelihood "
            f"{self.log_likelihood:.4f}, AIC {self.aic:.4f}, BIC {self.bic:.4f}\n"
            + printing.text_table(
                ("variable", "coefficient", "std error", "p-value", "sign"), rows, (0, 4)
            )
        )


def _design(columns: Columns, variables: Sequence[str], n: int) -> FloatArray:
    return np.column_stack([np.ones(n), *(as_float_array(columns[v]) for v in variables)])


def _labels(y: npt.ArrayLike) -> FloatArray:
    labels = as_float_array(y)
    if not np.all((labels == 0.0) | (labels == 1.0)):
        raise ValueError("y must hold only 0 and 1 (1 = event), without missing values")
    return labels


def logistic_fit(
    columns: Columns,
    y: npt.ArrayLike,
    variables: Sequence[str] | None = None,
    *,
    sample_weight: npt.ArrayLike | None = None,
) -> LogisticFit:
    """The logistic regression of the 0/1 target `y` on the named columns
    (all of `columns` by default), with an intercept; each row counted by its
    `sample_weight` when given (see the module)."""
    labels = _labels(y)
    weights = checks.sample_weights(sample_weight, labels.size)
    names = tuple(columns if variables is None else variables)
    x = _design(columns, names, labels.size)
    if weights is not None:
        # Rows of weight 0 add nothing; left out, they cannot make the
        # design look dependent either.
        kept = weights > 0
        x, labels, weights = x[kept], labels[kept], weights[kept]

    def weighed(v: FloatArray) -> FloatArray:
        return v if weights is None else weights * v

    if np.linalg.matrix_rank(x) < x.shape[1]:
        raise ValueError(
            f"the columns {', '.join(names)} and the intercept are linearly "
            "dependent (a constant column, or one the others determine)"
        )
    beta = np.zeros(x.shape[1])
    for _ in range(_MAX_ITERATIONS):
        p = 1.0 / (1.0 + np.exp(-(x @ beta)))
        information = x.T @ (x * weighed(p * (1.0 - p))[:, np.newaxis])
        try:
            step = np.linalg.solve(information, x.T @ weighed(labels - p))
        except np.linalg.LinAlgError:
            break
        beta = beta + step
        if np.max(np.abs(step)) < _STEP_TOLERANCE:
            break
    else:
        step = np.full(1, np.inf)
    if not np.max(np.abs(step)) < _STEP_TOLERANCE:
        raise ValueError(
            f"the logistic regression on {', '.join(names) or 'the intercept'} "
            "does not converge: the columns separate the classes"
        )
    eta = x @ beta
    p = 1.0 / (1.0 + np.exp(-eta))
    covariance = np.linalg.inv(x.T @ (x * weighed(p * (1.0 - p))[:, np.newaxis]))
    se = np.sqrt(np.diag(covariance))
    return LogisticFit(
        variables=names,
        coefficients=beta,
        std_errors=se,
        pvalues=np.array([2.0 * distributions.normal_sf(abs(b / s)) for b, s in zip(beta, se)]),
        log_likelihood=float(np.sum(weighed(labels * eta - np.logaddexp(0.0, eta)))),
        n_rows=int(labels.size) if weights is None else float(np.sum(weights)),
    )


def _ranks(values: FloatArray) -> FloatArray:
    """Ranks 1..n, tied values sharing their mean rank."""
    _, index, counts = np.unique(values, return_inverse=True, return_counts=True)
    first = np.cumsum(counts) - counts
    return (first + (counts + 1) / 2.0)[index]


def correlation(
    columns: Columns, method: Literal["pearson", "spearman"] = "pearson"
) -> tuple[tuple[str, ...], FloatArray]:
    """The names and the correlation matrix of the columns (Spearman's: the
    Pearson correlation of their ranks, ties at their mean rank)."""
    checks.one_of("method", method, ("pearson", "spearman"))
    names = tuple(columns)
    data = [as_float_array(columns[n]) for n in names]
    if method == "spearman":
        data = [_ranks(d) for d in data]
    return names, np.atleast_2d(np.corrcoef(np.vstack(data)))


def vif(columns: Columns) -> dict[str, float]:
    """The variance inflation factor of every column among the others. A
    column holding a missing or infinite value, or a constant one (whose
    factor has no meaning), is refused by name."""
    names = tuple(columns)
    for name in names:
        values = as_float_array(columns[name])
        bad = np.count_nonzero(~np.isfinite(values))
        if bad:
            raise ValueError(
                f"vif: column {name!r} holds {bad} missing or infinite value(s); "
                "drop or fill those rows first"
            )
        if values.size and np.all(values == values[0]):
            raise ValueError(
                f"vif: column {name!r} is constant, so its variance inflation factor is "
                "undefined; leave it out"
            )
    out: dict[str, float] = {}
    for name in names:
        target = as_float_array(columns[name])
        x = _design(columns, [n for n in names if n != name], target.size)
        fitted = x @ np.linalg.lstsq(x, target, rcond=None)[0]
        residual = float(np.sum((target - fitted) ** 2))
        total = float(np.sum((target - target.mean()) ** 2))
        out[name] = total / residual if residual > 0 else math.inf
    return out


@dataclass(frozen=True)
class Step:
    """One step of a selection: a variable added or removed, and the model's
    criterion value (AIC, BIC, or the variable's p-value) that decided it."""

    action: Literal["add", "remove"]
    variable: str
    value: float
    aic: float
    bic: float


@dataclass(frozen=True)
class Selection:
    """The variables chosen, the steps that chose them and the final model."""

    direction: str
    criterion: str
    steps: tuple[Step, ...]
    model: LogisticFit
    candidates: tuple[str, ...]

    @property
    def selected(self) -> tuple[str, ...]:
        return self.model.variables

    def __str__(self) -> str:
        rows = [
            [str(i + 1), s.action, s.variable, f"{s.value:.6g}", f"{s.aic:.4f}", f"{s.bic:.4f}"]
            for i, s in enumerate(self.steps)
        ]
        return (
            f"{self.direction} selection by {self.criterion}: {len(self.selected)} of "
            f"{len(self.candidates)} variables\n"
            + printing.text_table(
                ("step", "action", "variable", self.criterion, "AIC", "BIC"), rows, (1, 2)
            )
            + "\n"
            + str(self.model)
        )


def _score(fit: LogisticFit, criterion: str) -> float:
    return fit.aic if criterion == "aic" else fit.bic


Move = tuple[Step, LogisticFit] | None


def _forward(
    columns: Columns,
    y: FloatArray,
    chosen: list[str],
    left: list[str],
    criterion: str,
    p_enter: float,
    current: LogisticFit,
    weights: FloatArray | None,
) -> Move:
    """The best variable to add, if it improves the model."""
    fits = {}
    for v in left:
        with contextlib.suppress(ValueError):  # a column the others determine adds nothing
            fit = logistic_fit(columns, y, [*chosen, v], sample_weight=weights)
            # A step never makes a coefficient run against its WoE.
            if not fit.contradicting:
                fits[v] = fit
    if not fits:
        return None
    if criterion == "pvalue":
        name = min(fits, key=lambda v: fits[v].pvalues[-1])
        value = float(fits[name].pvalues[-1])
        improves = value < p_enter
    else:
        name = min(fits, key=lambda v: _score(fits[v], criterion))
        value = _score(fits[name], criterion)
        improves = value < _score(current, criterion)
    fit = fits[name]
    return (Step("add", name, value, fit.aic, fit.bic), fit) if improves else None


def _backward(
    columns: Columns,
    y: FloatArray,
    chosen: list[str],
    criterion: str,
    p_remove: float,
    current: LogisticFit,
    weights: FloatArray | None,
) -> Move:
    """The worst variable to remove, if removing it improves the model."""
    if not chosen:
        return None
    if criterion == "pvalue":
        worst = int(np.argmax(current.pvalues[1:]))
        value = float(current.pvalues[1 + worst])
        name = chosen[worst]
        fit = logistic_fit(columns, y, [v for v in chosen if v != name], sample_weight=weights)
        improves = value > p_remove
    else:
        fits = {
            v: logistic_fit(columns, y, [c for c in chosen if c != v], sample_weight=weights)
            for v in chosen
        }
        name = min(fits, key=lambda v: _score(fits[v], criterion))
        fit = fits[name]
        value = _score(fit, criterion)
        improves = value < _score(current, criterion)
    return (Step("remove", name, value, fit.aic, fit.bic), fit) if improves else None


def stepwise(
    columns: Columns,
    y: npt.ArrayLike,
    *,
    direction: Literal["forward", "backward", "both"] = "both",
    criterion: Literal["aic", "bic", "pvalue"] = "aic",
    p_enter: float = 0.05,
    p_remove: float = 0.10,
    max_variables: int | None = None,
    sample_weight: npt.ArrayLike | None = None,
) -> Selection:
    """Stepwise selection of the columns (WoE columns, by name) for a logistic
    regression of the 0/1 target `y`. "forward" starts from no variable and
    adds, at each step, the one that lowers the criterion most (by "pvalue":
    the one of smallest p-value, if below `p_enter`); "backward" starts from
    all and removes the one whose removal lowers it most (by "pvalue": the one
    of largest p-value, if above `p_remove`); "both" goes forward and, after
    each addition, removes what no longer earns its place. It stops when no
    step improves the model, or at `max_variables`. With `sample_weight`
    every fit counts each row by its weight."""
    checks.one_of("direction", direction, ("forward", "backward", "both"))
    checks.one_of("criterion", criterion, ("aic", "bic", "pvalue"))
    checks.real_number("p_enter", p_enter, 0, 1)
    checks.real_number("p_remove", p_remove, 0, 1)
    labels = _labels(y)
    weights = checks.sample_weights(sample_weight, labels.size)
    names = list(columns)
    limit = (
        len(names)
        if max_variables is None
        else checks.whole_number("max_variables", max_variables, 1)
    )
    chosen = names if direction == "backward" else []
    current = logistic_fit(columns, labels, chosen, sample_weight=weights)
    steps: list[Step] = []
    # Every step strictly lowers AIC or BIC; by p-values a set of variables
    # already visited is never entered again, so the search ends.
    seen = {frozenset(chosen)}
    while True:
        # A removal first: after an addition, what no longer earns its place goes.
        moves = []
        if direction != "forward":
            moves.append(_backward(columns, labels, chosen, criterion, p_remove, current, weights))
        if direction != "backward" and len(chosen) < limit:
            moves.append(
                _forward(
                    columns,
                    labels,
                    chosen,
                    [v for v in names if v not in chosen],
                    criterion,
                    p_enter,
                    current,
                    weights,
                )
            )
        move = next((m for m in moves if m is not None and _after(chosen, m[0]) not in seen), None)
        if move is None:
            break
        chosen = sorted(_after(chosen, move[0]), key=names.index)
        current = logistic_fit(columns, labels, chosen, sample_weight=weights)
        seen.add(frozenset(chosen))
        steps.append(move[0])
    return Selection(
        direction=direction,
        criterion=criterion,
        steps=tuple(steps),
        model=current,
        candidates=tuple(names),
    )


def _after(chosen: list[str], step: Step) -> frozenset[str]:
    return (
        frozenset(chosen) | {step.variable}
        if step.action == "add"
        else frozenset(chosen) - {step.variable}
    )


class StepwiseLogistic:
    """An estimator for `Scorecard`: `stepwise` selection on the WoE columns,
    then the logistic regression of the chosen ones. After `fit`:
    ``support_`` (which columns were chosen, which `Scorecard` keeps),
    ``coef_`` and ``intercept_`` (zero for a column left out), and
    ``selection_``, the steps and the final model with its p-values.

    The selection needs the unpenalised fit (AIC, BIC and p-values are its
    measures), but a card's coefficients need not come from it: `refit`, an
    estimator with ``fit``, ``coef_`` and ``intercept_`` (the default card's
    ``LogisticRegression(max_iter=1000)``, say), is fitted on the chosen
    columns to give them, so that the stepwise card differs from the default
    one by its selection only. Without it the coefficients are the
    selection's own model's."""

    def __init__(
        self,
        direction: Literal["forward", "backward", "both"] = "both",
        criterion: Literal["aic", "bic", "pvalue"] = "aic",
        p_enter: float = 0.05,
        p_remove: float = 0.10,
        max_variables: int | None = None,
        refit: Any = None,
    ) -> None:
        self.direction, self.criterion = direction, criterion
        self.p_enter, self.p_remove, self.max_variables = p_enter, p_remove, max_variables
        self.refit = refit

    def fit(
        self, x: npt.ArrayLike, y: npt.ArrayLike, sample_weight: npt.ArrayLike | None = None
    ) -> StepwiseLogistic:
        data = np.asarray(x, dtype=np.float64)
        names = [f"x{j}" for j in range(data.shape[1])]
        self.selection_ = stepwise(
            {n: data[:, j] for j, n in enumerate(names)},
            y,
            direction=self.direction,
            criterion=self.criterion,
            p_enter=self.p_enter,
            p_remove=self.p_remove,
            max_variables=self.max_variables,
            sample_weight=sample_weight,
        )
        model = self.selection_.model
        self.support_ = np.array([n in model.variables for n in names])
        coefficients, intercept = model.coefficients[1:], model.coefficients[:1].copy()
        if self.refit is not None and self.support_.any():
            if sample_weight is None:
                self.refit.fit(data[:, self.support_], y)
            else:
                self.refit.fit(data[:, self.support_], y, sample_weight=sample_weight)
            coefficients = np.ravel(np.asarray(self.refit.coef_, dtype=np.float64))
            intercept = np.ravel(np.asarray(self.refit.intercept_, dtype=np.float64))[:1]
        self.coef_ = np.zeros((1, len(names)))
        self.coef_[0, self.support_] = coefficients
        self.intercept_ = intercept
        return self


# -- guard-rails of a selection ------------------------------------------------
@dataclass(frozen=True)
class Decision:
    """One decision of a guard-rail of the selection: the `column` it is
    about, the `rule` that made it, the `value` the rule read against its
    `threshold`, and what was done: "drop" (the column is left out) or
    "note" (kept, but worth a look); `detail` says the rest in words."""

    column: str
    rule: str
    value: float
    threshold: float
    action: Literal["drop", "note"] = "drop"
    detail: str = ""

    def __str__(self) -> str:
        text = f"{self.column}: {self.action} by {self.rule} "
        text += f"({self.value:.4g}; limit {self.threshold:g})"
        return f"{text}: {self.detail}" if self.detail else text


def decisions_text(decisions: Sequence[Decision]) -> str:
    """The decisions one per line, for a printed summary ('' without any)."""
    return "\n".join(f"  {d}" for d in decisions)


def bins_chi_square(c0: npt.ArrayLike, c1: npt.ArrayLike) -> tuple[float, int, float]:
    """Pearson's chi-square test of independence of the rows of a binning
    table (its bins, special and missing-value rows, holding `c0` non-events
    and `c1` events) and the target: the statistic, its degrees of freedom
    (rows holding records, less one) and the p-value. Rows without a record
    take no part; fewer than two of them, or one class only, is no evidence
    at all: statistic 0, p-value 1."""
    non_events, events = as_float_array(c0), as_float_array(c1)
    rows = non_events + events
    held = rows > 0
    non_events, events, rows = non_events[held], events[held], rows[held]
    total, total_events = float(rows.sum()), float(events.sum())
    if rows.size < 2 or total_events in (0.0, total):
        return 0.0, max(int(rows.size) - 1, 0), 1.0
    expected_events = rows * (total_events / total)
    expected_non_events = rows - expected_events
    statistic = float(
        np.sum((events - expected_events) ** 2 / expected_events)
        + np.sum((non_events - expected_non_events) ** 2 / expected_non_events)
    )
    df = int(rows.size) - 1
    return statistic, df, distributions.chi2_sf(statistic, df)


def collinear_drops(
    woe: Mapping[str, npt.ArrayLike],
    max_correlation: float | None,
    max_vif: float | None,
) -> list[Decision]:
    """The columns to leave out of `woe` (WoE columns on the same rows, the
    strongest first): the weaker of every pair whose Pearson correlation is
    above `max_correlation` in absolute value, then, one at a time, the
    column of largest VIF while it is above `max_vif` (on a tie the weaker)."""
    kept = list(woe)
    drops: list[Decision] = []
    if max_correlation is not None and len(kept) > 1:
        names, matrix = correlation({n: woe[n] for n in kept})
        for j, name in enumerate(names):
            stronger = [
                (abs(float(matrix[i, j])), names[i])
                for i in range(j)
                if names[i] in kept and abs(float(matrix[i, j])) > max_correlation
            ]
            if stronger:
                value, other = max(stronger)
                kept.remove(name)
                drops.append(
                    Decision(name, "correlation", value, max_correlation, detail=f"with {other}")
                )
    while max_vif is not None and len(kept) > 1:
        factors = vif({n: woe[n] for n in kept})
        worst = max(reversed(kept), key=lambda n: factors[n])
        if not factors[worst] > max_vif:
            break
        kept.remove(worst)
        drops.append(Decision(worst, "vif", factors[worst], max_vif))
    return drops
