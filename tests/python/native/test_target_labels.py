"""A 0/1 target read in one native pass: which values are labels, the int32
labels of the rows of known target, and which rows those are."""

import numpy as np
import pytest

from tessaline import _native


@pytest.mark.parametrize(
    "y, binary, labels, known",
    [
        ([], True, [], None),
        ([0.0, 1.0, -0.0, 1.0], True, [0, 1, 0, 1], None),
        ([np.nan, 1.0, np.nan, 0.0], True, [1, 0], [False, True, False, True]),
        ([0.5, np.inf, -1.0, 2.0, 1.0], False, [-1, -1, -1, -1, 1], None),
        ([np.nan, np.nan], True, [], [False, False]),
    ],
)
def test_worked_examples(y, binary, labels, known):
    ys = np.array(y, dtype=np.float64)
    assert _native.is_binary_target(ys) is binary
    got_labels, got_known = _native.target_labels(ys)
    assert got_labels.dtype == np.int32 and got_labels.tolist() == labels
    assert (got_known is None) if known is None else got_known.tolist() == known


@pytest.mark.parametrize("n", [1, 3, 4, 5, 8, 17, 1001])
def test_agrees_with_numpy_at_every_length(n):
    # Lengths around the vector widths; any value may sit in any lane.
    rng = np.random.default_rng(n)
    ys = rng.choice([0.0, 1.0, np.nan, 0.25, -0.0], size=n, p=[0.4, 0.4, 0.1, 0.05, 0.05])
    present = ys[~np.isnan(ys)]
    assert _native.is_binary_target(ys) == bool(np.isin(present, [0.0, 1.0]).all())
    ys[-1] = 0.25 if n % 2 else np.nan  # an odd value, or a missing one, in the last lane
    labels, known = _native.target_labels(ys)
    missing = np.isnan(ys)
    assert (known is None) == (not missing.any())
    if known is not None:
        assert known.tolist() == (~missing).tolist()
    expected = np.where(ys[~missing] == 1.0, 1, np.where(ys[~missing] == 0.0, 0, -1))
    assert labels.tolist() == expected.tolist()
    assert _native.is_binary_target(ys) == bool(np.isin(ys[~missing], [0.0, 1.0]).all())
