"""class_split_cuts: greedy splits of counted values by the largest fall in
Gini impurity, checked against a brute-force search of every cut."""

import itertools

import numpy as np
import pytest

from tessaline import _native


def impurity(a, b):
    rows = a + b
    return np.divide(a * b, rows, out=np.zeros_like(rows, dtype=float), where=rows > 0)


def brute_first_cut(value, c0, c1, min_share):
    """The cut of lowest impurity of the two sides, the lowest of equals."""
    l0, l1 = np.cumsum(c0)[:-1], np.cumsum(c1)[:-1]
    r0, r1 = c0.sum() - l0, c1.sum() - l1
    least = min_share * (c0.sum() + c1.sum())
    parts = impurity(l0, l1) + impurity(r0, r1)
    parts[(l0 + l1 < least) | (r0 + r1 < least)] = np.inf
    k = int(np.argmin(parts))
    whole = impurity(np.array([c0.sum()]), np.array([c1.sum()]))[0]
    return [value[k]] if parts[k] < whole else []


def random_counts(seed, n):
    rng = np.random.default_rng(seed)
    value = np.sort(rng.choice(np.arange(10 * n), n, replace=False)).astype(float)
    c0 = rng.integers(0, 6, n).astype(float)
    c1 = rng.integers(0, 3, n).astype(float) * (rng.random(n) < 0.5)
    c0[c0 + c1 == 0] = 1
    return value, c0, c1


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("min_share", [0.0, 0.05, 0.3])
def test_the_first_cut_is_the_best_single_cut(seed, min_share):
    value, c0, c1 = random_counts(seed, 60)
    cuts = _native.class_split_cuts(value, c0, c1, 2, min_share)
    assert cuts.tolist() == brute_first_cut(value, c0, c1, min_share)


@pytest.mark.parametrize("seed", range(4))
def test_cuts_are_nested_symmetric_and_parts_large_enough(seed):
    value, c0, c1 = random_counts(seed, 300)
    cuts = [_native.class_split_cuts(value, c0, c1, k, 0.02) for k in range(1, 12)]
    assert cuts[0].size == 0 and all(np.all(np.diff(c) > 0) for c in cuts)
    for fewer, more in itertools.pairwise(cuts):
        assert set(fewer) <= set(more) and more.size <= fewer.size + 1
    # The same bits whichever class is named first.
    assert _native.class_split_cuts(value, c1, c0, 11, 0.02).tobytes() == cuts[-1].tobytes()
    rows = np.add.reduceat(c0 + c1, np.searchsorted(value, np.r_[-np.inf, cuts[-1]], "right"))
    assert rows.min() >= 0.02 * (c0 + c1).sum()


def test_worked_example_and_what_is_left_out():
    value = np.array([-np.inf, 1.0, 2.0, 3.0, 4.0, np.inf])
    c0 = np.array([9.0, 5, 5, 0, 0, 9])
    c1 = np.array([9.0, 0, 0, 5, 5, 9])
    # Infinite values take no part; a pure split ends the search.
    assert _native.class_split_cuts(value, c0, c1, 64, 0.0).tolist() == [2.0]
    assert _native.class_split_cuts(value, c0, c0, 64, 0.0).tolist() == []


def test_many_values_are_split_among_runs_of_equal_rows():
    # 100,000 distinct values whose event rate jumps at 0.37: the cut falls
    # within a run (1/4096 of the values) of the jump.
    rng = np.random.default_rng(3)
    value = np.sort(rng.random(100_000))
    events = (rng.random(value.size) < np.where(value <= 0.37, 0.05, 0.6)).astype(float)
    (cut,) = _native.class_split_cuts(value, 1.0 - events, events, 2, 0.01)
    assert cut in value and abs(np.mean(value <= cut) - np.mean(value <= 0.37)) <= 2 / 4096


@pytest.mark.parametrize(
    "args, message",
    [
        (([1.0, 2.0], [1.0], [1.0, 1.0], 4, 0.0), "value, c0 and c1 must have the same length"),
        (
            ([1.0, 2.0], [1.0, -1.0], [1.0, 1.0], 4, 0.0),
            "c0 and c1 must be finite and non-negative",
        ),
        (([1.0, 2.0], [1.0, np.nan], [1.0, 1.0], 4, 0.0), "c0 and c1 must be finite"),
        (([1.0, 2.0], [1.0, 1.0], [1.0, 1.0], 4, 1.5), "min_share must be between 0 and 1"),
        (([2.0, 1.0], [1.0, 1.0], [1.0, 1.0], 4, 0.0), "value must be strictly ascending"),
        (([np.nan], [1.0], [1.0], 4, 0.0), "value must be strictly ascending"),
    ],
)
def test_bad_counts_are_refused(args, message):
    with pytest.raises(ValueError, match=message):
        _native.class_split_cuts(*(np.asarray(a) if isinstance(a, list) else a for a in args))
