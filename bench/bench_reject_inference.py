"""Reject inference on German credit under a synthetic credit policy.

An incumbent card (fitted on every applicant) stands for the lender's known
score. Each of `SPLITS` stratified halves is the development sample: its
riskiest 30% by that score are rejected and their outcomes hidden. Cards are
fitted on the accepted rows only, on each augmented sample of
`tessaline._reject_inference` (hard cut-off, fuzzy, parcelling), and on every
outcome of the half (the truth a lender never has); each is scored on the
other half, all applicants, by AUC. The mean over the splits is printed with
its standard error. None of the open peers offers reject inference, so the
comparison is with the accepted-only card and with the truth.

What it shows (20 splits): fuzzy and parcelling beat the accepted-only card
on held-out AUC on nearly every split and close about a third of its gap to
the truth; the hard cut-off does worse than accepting the bias, as it hands
the refit the accepted card's own ranking as certain outcomes. Every method
infers a bad rate near 0.39 for rejects whose true rate is near 0.62: the
accepted-only card cannot see how risky they are, which `inflation` is for.
"""

from __future__ import annotations

import math
import sys
import warnings

import numpy as np

import tessaline as tl

TARGET = "creditability"
REJECTED_SHARE = 0.30
SPLITS = 20


def halves(bad: np.ndarray, seed: int) -> tuple[np.ndarray, np.ndarray]:
    """A stratified half of the rows and the other half."""
    rng = np.random.default_rng(seed)
    first = np.zeros(len(bad), dtype=bool)
    for flag in (False, True):
        rows = np.flatnonzero(bad == flag)
        first[rng.permutation(rows)[: len(rows) // 2]] = True
    return np.flatnonzero(first), np.flatnonzero(~first)


def auc_on(card: tl.Scorecard, data, bad: np.ndarray) -> float:
    return tl.score_performance(card.score(data), bad.astype(int), higher_is="good").auc


def main(splits: int = SPLITS) -> None:
    data = tl.datasets.german_credit()
    bad = (data[TARGET] == "bad").to_numpy()
    incumbent = tl.Scorecard(event="bad").fit(data, TARGET).score(data)
    results: dict[str, list[float]] = {}
    inferred: dict[str, list[float]] = {}
    for seed in range(splits):
        train, test = halves(bad, seed)
        development, holdout = data.iloc[train], data.iloc[test]
        known = incumbent[train]
        rejected = known <= np.quantile(known, REJECTED_SHARE)
        accepted = development[~rejected]
        hidden = development[rejected].drop(columns=TARGET)
        base = tl.Scorecard(event="bad").fit(accepted, TARGET)
        cards = {"accepted only": base}
        for method in ("hard_cutoff", "fuzzy", "parcelling"):
            sample = tl.reject_inference(base, accepted, TARGET, hidden, method)
            cards[method] = tl.Scorecard(event=1).fit(
                sample.data, sample.y, sample_weight=sample.sample_weight
            )
            weights = sample.sample_weight[sample.rejected]
            bads = np.sum(weights[sample.y[sample.rejected] == 1])
            inferred.setdefault(method, []).append(bads / np.sum(weights))
        cards["truth (all outcomes)"] = tl.Scorecard(event="bad").fit(development, TARGET)
        inferred.setdefault("true bad rate of rejects", []).append(
            float(np.mean(bad[train][rejected]))
        )
        for name, card in cards.items():
            results.setdefault(name, []).append(auc_on(card, holdout, bad[test]))
    print(f"German credit, {splits} stratified halves, {REJECTED_SHARE:.0%} rejected")
    print(f"{'card':<24}{'held-out AUC':>14}{'std. error':>12}")
    for name, aucs in results.items():
        values = np.array(aucs)
        se = values.std(ddof=1) / math.sqrt(len(values)) if len(values) > 1 else math.nan
        print(f"{name:<24}{values.mean():>14.4f}{se:>12.4f}")
    for method in ("hard_cutoff", "fuzzy", "parcelling"):
        gains = np.array(results[method]) - np.array(results["accepted only"])
        print(f"{method} beats accepted-only on {np.sum(gains > 0)} of {splits} splits")
    print(f"{'bad rate of the rejects':<24}{'mean':>14}")
    for name, rates in inferred.items():
        print(f"{name:<24}{np.mean(rates):>14.4f}")


if __name__ == "__main__":
    warnings.simplefilter("ignore")
    main(int(sys.argv[1]) if len(sys.argv) > 1 else SPLITS)
