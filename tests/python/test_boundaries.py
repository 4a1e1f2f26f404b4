import numpy as np
import pytest

import _tessaline as t

KEYS = ["pto_corte", "c0", "c1"]


def rows(table):
    assert list(table) == KEYS
    assert table["pto_corte"].dtype == np.float64
    assert table["c0"].dtype == np.int64 and table["c1"].dtype == np.int64
    return [(float(p), int(a), int(b)) for p, a, b in zip(*table.values())]


def reference_table(x, y):
    """The boundary table written out with NumPy: cuts where value and label both change."""
    x = np.asarray(x, dtype=np.float64)
    y = np.asarray(y, dtype=np.int32)
    if x.size == 0:
        return []
    ones = np.concatenate([[0], np.cumsum(y != 0)])
    zeros = np.arange(x.size + 1) - ones
    cut = np.flatnonzero((x[1:] != x[:-1]) & (y[1:] != y[:-1])) + 1
    out = [(x[0], 0, 0)]
    out += [((x[i - 1] + x[i]) * 0.5, zeros[i], ones[i]) for i in cut]
    out.append((x[-1], zeros[-1], ones[-1]))
    return [(float(p), int(a), int(b)) for p, a, b in out]


@pytest.mark.parametrize(
    "x, y, expected",
    [
        ([], [], []),
        ([4.0], [0], [(4.0, 0, 0), (4.0, 1, 0)]),
        ([4.0], [1], [(4.0, 0, 0), (4.0, 0, 1)]),
        ([1, 2, 3], [0, 1, 0], [(1, 0, 0), (1.5, 1, 0), (2.5, 1, 1), (3, 2, 1)]),
        ([1, 1, 2], [0, 1, 1], [(1, 0, 0), (2, 1, 2)]),
        ([1, 1, 2], [1, 0, 1], [(1, 0, 0), (1.5, 1, 1), (2, 1, 2)]),
        ([5, 5, 5], [0, 1, 0], [(5, 0, 0), (5, 2, 1)]),
        ([1, 2, 3], [1, 2, 0], [(1, 0, 0), (1.5, 0, 1), (2.5, 0, 2), (3, 1, 2)]),
    ],
)
def test_sorted_worked_tables(x, y, expected):
    assert rows(t.compute_boundaries(np.array(x, float), np.array(y, np.int32))) == expected


def test_raw_path_reorders_equal_values_first():
    # Preprocessing puts label 0 before label 1 inside the run of 1s.
    assert rows(t.compute_boundaries_raw([1.0, 1.0, 2.0], [1.0, 0.0, 1.0])) == [
        (1, 0, 0),
        (2, 1, 2),
    ]


def test_raw_path_drops_missing_and_binarises():
    x = np.array([3.0, np.nan, 1.0, 2.0, np.inf])
    y = np.array([0.2, 1.0, 0.9, 0.1, 1.0])
    assert rows(t.compute_boundaries_raw(x, y, 0.5)) == [(1, 0, 0), (1.5, 0, 1), (3, 2, 1)]


@pytest.mark.parametrize("seed", range(20))
def test_matches_numpy_reference_on_prepared_data(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(0, 300))
    x = rng.integers(0, 40, n) * 0.25
    y = (rng.random(n) < 0.4).astype(np.float64)
    prepared = t.preprocess_data_native(x, y)
    expected = reference_table(prepared["x"], prepared["y"])
    assert rows(t.compute_boundaries(prepared["x"], prepared["y"])) == expected
    assert rows(t.compute_boundaries_raw(x, y)) == expected


def test_cut_between_adjacent_doubles_separates_them():
    lo = np.nextafter(1.0, 2.0)
    hi = np.nextafter(lo, 2.0)
    assert (lo + hi) * 0.5 == hi  # the plain midpoint would not separate them
    table = t.compute_boundaries(np.array([lo, hi]), np.array([0, 1], np.int32))
    assert table["pto_corte"][1] == lo
    big = np.finfo(np.float64).max
    table = t.compute_boundaries(np.array([big * 0.5, big]), np.array([0, 1], np.int32))
    assert np.isfinite(table["pto_corte"][1]) and big * 0.5 <= table["pto_corte"][1] < big


def test_empty_inputs_give_empty_arrays():
    for table in (t.compute_boundaries([], np.array([], np.int32)),
                  t.compute_boundaries_raw([], [])):
        assert rows(table) == []


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: t.compute_boundaries([1.0, 2.0], np.array([0], np.int32), sorted=False),
         "compute_boundaries: x e y deben tener la misma longitud"),
        (lambda: t.compute_boundaries([1.0, 2.0], np.array([0, 1], np.int32), sorted=False),
         "compute_boundaries: usa sorted=True (los datos deben venir ya limpios y ordenados)"),
        (lambda: t.compute_boundaries_raw([1.0, 2.0], [0.0], "x"),
         "compute_boundaries: x e y deben tener la misma longitud"),
        (lambda: t.compute_boundaries_raw([1.0, 2.0], [0.5, 3.0], None, 120.0),
         "preprocess_data: percentile debe estar entre 0 y 100"),
    ],
)
def test_errors_in_check_order(call, message):
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == message


def test_unconvertible_value_fails_after_length_check():
    with pytest.raises(RuntimeError, match="^Unable to cast Python instance of type "):
        t.compute_boundaries_raw([1.0, 2.0], [0.0, 1.0], "0.5")
