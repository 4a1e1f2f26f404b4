"""Realistic benchmark data: a score-like predictor with a smooth event-rate curve."""

from __future__ import annotations

import numpy as np


def score_and_target(n: int, missing: float = 0.0, seed: int = 0) -> tuple[np.ndarray, np.ndarray]:
    """x: a score with many distinct values (rounded to 4 decimals, as stored
    scores are); y: 1 with a logistic probability of x. A share `missing` of x
    is NaN."""
    rng = np.random.default_rng(seed)
    x = rng.normal(600.0, 50.0, n).round(4)
    p = 1.0 / (1.0 + np.exp((x - 560.0) / 25.0))
    y = (rng.random(n) < p).astype(np.float64)
    if missing:
        x[rng.random(n) < missing] = np.nan
    return x, y
