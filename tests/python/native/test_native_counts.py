"""A percentile of rows counted by distinct value equals NumPy's of the rows."""

import numpy as np
import pytest

from tessaline import _native


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("percentile", [0.0, 12.5, 33.3, 50.0, 87.9, 99.99, 100.0])
def test_equals_numpy_on_the_rows(seed, percentile):
    rng = np.random.default_rng(seed)
    rows = np.round(rng.lognormal(size=rng.integers(1, 400)), 1 + seed % 3)
    values, counts = np.unique(rows, return_counts=True)
    # Infinite values are counted and left out, as locally.
    values, counts = np.append(values, np.inf), np.append(counts, 5)
    assert _native.percentile_from_counts(values, counts, percentile) == np.percentile(
        rows, percentile
    )


def test_no_finite_row_gives_zero():
    assert _native.percentile_from_counts(np.array([-np.inf]), np.array([3]), 50.0) == 0.0
