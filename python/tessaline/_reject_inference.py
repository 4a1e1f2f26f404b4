"""Reject inference: a scorecard fitted on accepted applicants only has never
seen how the rejected ones would have paid; these methods give each rejected
applicant an inferred outcome, so a card refitted on accepted plus rejected
rows describes the whole population that applies.

Each method starts from a card fitted on the accepted rows (the "known good
/ bad" card) and returns the augmented sample: the accepted rows with their
outcome and weight 1, then the rejected rows with an inferred outcome and a
weight; `Scorecard.fit` consumes it with ``sample_weight``. The outcome is
1 for a bad (the card's event) and 0 for a good.

- ``"hard_cutoff"``: every rejected applicant scoring at or below `cutoff`
  is a bad, every other one a good (one row each, weight 1). Without a
  `cutoff` it is the score that makes as many rejects bad as the card
  expects: the riskiest rejects, by score, until their count reaches the sum
  of their probabilities of a bad (times `inflation`).
- ``"fuzzy"``: every rejected applicant counts twice, as a bad with weight
  p and as a good with weight 1 - p, where p is the card's probability of a
  bad for it (times `inflation`, at most 1).
- ``"parcelling"``: the accepted applicants are cut into `n_bands` score
  bands of equal count; a rejected applicant in a band takes that band's
  observed bad rate r (times `inflation`, at most 1) and counts as a bad
  with weight r and a good with weight 1 - r (the bands are open at both
  ends, so a reject scoring below every accepted applicant takes the rate
  of the riskiest band). This is the expectation of
  the random parcelling of the rejects into goods and bads at the band's
  rate, without the draw, so the same data always give the same sample.

`inflation` (at least 1) says how much riskier than the card predicts the
analyst takes the rejects to be: the rejects were turned down on
information the card may not see. Every method reports, per score band of
the accepted, the accepted applicants' bad rate and the rejects' inferred
one (``bands``).
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Literal

import numpy as np

from ._core import checks, frames, native, printing
from ._core.arrays import FloatArray, as_float_array
from ._scorecard import Scorecard

Method = Literal["hard_cutoff", "fuzzy", "parcelling"]
METHODS = ("hard_cutoff", "fuzzy", "parcelling")


@dataclass(frozen=True)
class InferredBand:
    """One score band of the accepted applicants: its score interval
    (``low`` excluded, ``high`` included), the accepted count and bad rate
    there, and the rejects' count and inferred bad rate."""

    low: float
    high: float
    accepted: int
    accepted_bad_rate: float
    rejected: int
    inferred_bad_rate: float


@dataclass(frozen=True)
class AugmentedSample:
    """Accepted and rejected rows with outcomes (1: bad) and weights, ready
    for ``Scorecard(event=1).fit(s.data, s.y, sample_weight=s.sample_weight)``.
    ``data`` is a dict of NumPy arrays (the accepted rows first);
    ``rejected`` flags the rows of rejected applicants; ``cutoff`` is the
    hard cut-off used (NaN for the other methods)."""

    method: str
    data: dict[str, np.ndarray]
    y: np.ndarray
    sample_weight: FloatArray
    rejected: np.ndarray
    bands: tuple[InferredBand, ...]
    cutoff: float = math.nan

    def __str__(self) -> str:
        rows = [
            [
                f"({printing.fixed(b.low, 2)}, {printing.fixed(b.high, 2)}]",
                str(b.accepted),
                printing.fixed(b.accepted_bad_rate, 4),
                str(b.rejected),
                printing.fixed(b.inferred_bad_rate, 4),
            ]
            for b in self.bands
        ]
        head = ("score band", "accepted", "bad rate", "rejected", "inferred bad rate")
        return f"Reject inference ({self.method}):\n" + printing.text_table(head, rows, (0,))


def bad_probability(card: Scorecard, data: Any) -> FloatArray:
    """The fitted `card`'s probability of a bad (its event) for every row of
    `data`: the logistic of the intercept plus the coefficients times WoE."""
    assert card.binning is not None
    woe = card.binning.transform(data, output="woe", columns=card.variables)
    log_odds = np.full(len(np.asarray(woe[card.variables[0]])), card.intercept)
    for name, b in zip(card.variables, card.coefficients):
        log_odds = log_odds + b * np.asarray(woe[name], dtype=np.float64)
    return 1.0 / (1.0 + np.exp(-log_odds))


def _as_array(values: Any) -> np.ndarray:
    """A column as a NumPy array: numbers as floats, categories as objects."""
    if not frames.is_categorical(values):
        return as_float_array(values)
    for method in ("to_pylist", "to_list", "tolist"):
        if hasattr(values, method):
            return np.array(getattr(values, method)(), dtype=object)
    return np.array(list(values), dtype=object)


def _stacked(accepted: Any, rejected: Any, skip: str | None, times: int) -> dict[str, np.ndarray]:
    """The columns of `accepted` (but `skip`), its rows then `times` copies
    of the rows of `rejected`."""
    names = [n for n in frames.column_names(accepted) if n != skip]
    have = set(frames.column_names(rejected))
    missing = [n for n in names if n not in have]
    if missing:
        raise ValueError(f"the rejected rows lack the column(s) {', '.join(map(repr, missing))}")
    out = {}
    for name in names:
        left, right = (
            _as_array(frames.column(accepted, name)),
            _as_array(frames.column(rejected, name)),
        )
        if left.dtype != right.dtype:
            left, right = left.astype(object), right.astype(object)
        out[name] = np.concatenate([left, *([right] * times)])
    return out


def _band_cuts(scores: FloatArray, n_bands: int) -> FloatArray:
    """Cut points of `n_bands` equal-count bands of the accepted scores."""
    return native.binning_splits(scores, method="quantile", n_bins=n_bands)


def _hard_cutoff(scores: FloatArray, p: FloatArray) -> float:
    """The score of the k-th riskiest reject, k the expected count of bads
    among them rounded to a whole number (-inf when that is 0): rejects
    tied with it are bad too."""
    bads = min(round(float(np.sum(p))), len(scores))
    return -math.inf if bads == 0 else float(np.sort(scores)[bads - 1])


def reject_inference(
    card: Scorecard,
    accepted: Any,
    y: Any,
    rejected: Any,
    method: Method = "fuzzy",
    *,
    cutoff: float | None = None,
    n_bands: int = 10,
    inflation: float = 1.0,
) -> AugmentedSample:
    """The augmented sample of `accepted` (a table, with outcomes `y`: an
    array or the name of its column, read with the card's event) and
    `rejected` (a table of the same columns, without outcomes), by
    `method` (see the module docstring), using the `card` fitted on the
    accepted rows. Accepted rows without a known outcome are left out."""
    if method not in METHODS:
        raise ValueError(f"method must be one of {', '.join(METHODS)}, not {method!r}")
    inflation = checks.real_number("inflation", inflation, minimum=1.0)
    if isinstance(n_bands, bool) or not isinstance(n_bands, int) or n_bands < 1:
        raise ValueError(f"n_bands must be a whole number of at least 1, not {n_bands!r}")
    binning = card._check_fitted()
    flags = binning.event_flags(accepted, y)
    known = ~np.isnan(flags)
    target = frames.target_name(accepted, y)
    good_rows = frames.take_rows(accepted, np.flatnonzero(known))
    accepted_scores = card.score(good_rows)
    flags = flags[known]
    reject_scores = card.score(rejected)
    p = np.minimum(1.0, inflation * bad_probability(card, rejected))
    n_acc, n_rej = len(flags), len(reject_scores)
    cuts = _band_cuts(accepted_scores, n_bands)
    acc_band = native.binning_transform(accepted_scores, cuts)
    rej_band = native.binning_transform(reject_scores, cuts)
    bands = len(cuts) + 1
    acc_count = np.bincount(acc_band, minlength=bands)
    acc_rate = np.bincount(acc_band, weights=flags, minlength=bands) / np.maximum(acc_count, 1)
    used = math.nan
    if method == "hard_cutoff":
        if cutoff is None:
            used = _hard_cutoff(reject_scores, p)
        else:
            used = checks.real_number("cutoff", cutoff)
        inferred = (reject_scores <= used).astype(np.float64)
        data = _stacked(good_rows, rejected, target, 1)
        y_out = np.concatenate([flags, inferred]).astype(np.int64)
        weights = np.ones(n_acc + n_rej)
        flagged = np.concatenate([np.zeros(n_acc, bool), np.ones(n_rej, bool)])
    else:
        if method == "parcelling":
            inferred = np.minimum(1.0, inflation * acc_rate[rej_band])
        else:
            inferred = p
        data = _stacked(good_rows, rejected, target, 2)
        y_out = np.concatenate([flags, np.ones(n_rej), np.zeros(n_rej)]).astype(np.int64)
        weights = np.concatenate([np.ones(n_acc), inferred, 1.0 - inferred])
        flagged = np.concatenate([np.zeros(n_acc, bool), np.ones(2 * n_rej, bool)])
    report = _report(cuts, acc_count, acc_rate, rej_band, inferred)
    return AugmentedSample(method, data, y_out, weights, flagged, report, used)


def _report(
    cuts: FloatArray,
    acc_count: np.ndarray,
    acc_rate: FloatArray,
    rej_band: np.ndarray,
    inferred: FloatArray,
) -> tuple[InferredBand, ...]:
    """One `InferredBand` per score band: the accepted count and bad rate,
    and the rejects' count and mean inferred bad rate."""
    bands = len(cuts) + 1
    rej_count = np.bincount(rej_band, minlength=bands)
    rej_rate = np.bincount(rej_band, weights=inferred, minlength=bands) / np.maximum(rej_count, 1)
    edges = np.concatenate([[-math.inf], cuts, [math.inf]])
    return tuple(
        InferredBand(
            float(edges[b]),
            float(edges[b + 1]),
            int(acc_count[b]),
            float(acc_rate[b]) if acc_count[b] else math.nan,
            int(rej_count[b]),
            float(rej_rate[b]) if rej_count[b] else math.nan,
        )
        for b in range(bands)
    )
