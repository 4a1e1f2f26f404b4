import math

import numpy as np
import pytest

import _tessaline as t

NAN = float("nan")
INF = float("inf")

PSI_KEYS = ["count_reference", "count_current", "proportion_reference", "proportion_current",
            "cumulative_reference", "cumulative_current", "psi_bin", "psi", "ks"]
BAD_SAMPLE = "compare_distributions: muestras vacías o epsilon inválido"
BAD_SPLITS = "compare_distributions: splits deben ser finitos, crecientes y únicos"


# ------------------------------------------------------------ distributions

def test_compare_two_bin_worked_example():
    r = t.compare_distributions_native([1, 2, 3, 4], [1, 1, 1, 4], [2.5])
    assert list(r) == PSI_KEYS
    assert r["count_reference"].dtype == np.int64 and r["psi_bin"].dtype == np.float64
    assert r["count_reference"].tolist() == [2, 2]
    assert r["count_current"].tolist() == [3, 1]
    assert r["proportion_current"].tolist() == [0.75, 0.25]
    assert r["psi_bin"] == pytest.approx([0.101366, 0.173287], abs=1e-6)
    assert r["psi"] == pytest.approx(0.274653, abs=1e-6)
    assert type(r["psi"]) is float and r["ks"] == 0.25


@pytest.mark.parametrize("epsilon", [0.0, -1e-9, NAN, INF, -INF])
def test_invalid_epsilon_is_rejected(epsilon):
    with pytest.raises(ValueError) as e:
        t.compare_distributions_native([1.0, 2.0], [1.0], [1.5], epsilon)
    assert str(e.value) == BAD_SAMPLE


@pytest.mark.parametrize("reference, current, splits, message", [
    ([], [1.0], [], BAD_SAMPLE),
    ([1.0], [], [], BAD_SAMPLE),
    ([1.0], [1.0], [1.0, 1.0], BAD_SPLITS),
    ([1.0], [1.0], [NAN], BAD_SPLITS),
    ([1.0], [1.0], [0.0, INF], BAD_SPLITS),
])
def test_compare_errors(reference, current, splits, message):
    with pytest.raises(ValueError) as e:
        t.compare_distributions_native(reference, current, splits)
    assert str(e.value) == message


def numpy_psi_ks(ref, cur, splits, eps=1e-12):
    """PSI and KS from searchsorted + bincount, NaN in a last bin of its own."""
    k = len(splits)
    def counts(v):
        b = np.where(np.isnan(v), k + 1, np.searchsorted(splits, v, side="left"))
        return np.bincount(b, minlength=k + 2)
    c_ref, c_cur = counts(ref), counts(cur)
    if c_ref[-1] == 0 and c_cur[-1] == 0:
        c_ref, c_cur = c_ref[:-1], c_cur[:-1]
    p_ref, p_cur = c_ref / ref.size, c_cur / cur.size
    psi_bin = (p_ref - p_cur) * np.log(np.maximum(p_ref, eps) / np.maximum(p_cur, eps))
    ks = np.max(np.abs(np.cumsum(p_ref) - np.cumsum(p_cur)))
    return c_ref, c_cur, psi_bin, ks


@pytest.mark.parametrize("seed, k, nan_share", [(0, 0, 0.0), (1, 1, 0.0), (2, 10, 0.05),
                                               (3, 33, 0.0), (4, 10, 0.5)])
def test_compare_matches_numpy(seed, k, nan_share):
    rng = np.random.default_rng(seed)
    ref = np.round(rng.normal(0, 1, 5000), 1)
    cur = np.round(rng.normal(0.3, 1.2, 3000), 1)
    ref[rng.random(ref.size) < nan_share] = np.nan
    ref[:2] = [-np.inf, np.inf]
    splits = np.round(np.linspace(-2, 2, k), 1) if k else np.array([])
    r = t.compare_distributions_native(ref, cur, splits)
    c_ref, c_cur, psi_bin, ks = numpy_psi_ks(ref, cur, splits)
    assert r["count_reference"].tolist() == c_ref.tolist()
    assert r["count_current"].tolist() == c_cur.tolist()
    np.testing.assert_allclose(r["psi_bin"], psi_bin, rtol=1e-12, atol=1e-15)
    assert r["psi"] == pytest.approx(psi_bin.sum(), rel=1e-12)
    assert r["ks"] == pytest.approx(ks, rel=1e-12)
    assert r["cumulative_reference"][-1] == pytest.approx(1.0)


# ------------------------------------------------------------------ lorenz

def test_lorenz_worked_example():
    r = t.lorenz_curve_native([1, 2, 3, 4], [0, 1, 0, 1])
    assert list(r) == ["value", "cumulative_non_event", "cumulative_event", "auc", "gini"]
    assert r["value"].tolist() == [1, 2, 3, 4]
    assert r["cumulative_non_event"].tolist() == [0.5, 0.5, 1, 1]
    assert r["cumulative_event"].tolist() == [0, 0.5, 0.5, 1]
    assert (r["auc"], r["gini"]) == (0.75, 0.5)


@pytest.mark.parametrize("x, y, message", [
    ([1.0, 2.0], [0], "lorenz_curve: x e y deben tener la misma longitud"),
    ([1.0, 2.0], [0, -1], "lorenz_curve: y debe contener solo 0 y 1"),
    ([1.0, NAN], [1, 0], "lorenz_curve: se necesitan ambas clases"),
    ([], [], "lorenz_curve: se necesitan ambas clases"),
])
def test_lorenz_errors(x, y, message):
    with pytest.raises(ValueError) as e:
        t.lorenz_curve_native(x, y)
    assert str(e.value) == message


def mann_whitney_auc(x, y):
    """AUC from average ranks (ties share their mean rank, so count one half)."""
    keep = ~np.isnan(x)
    x, y = x[keep], y[keep]
    _, inverse, counts = np.unique(x, return_inverse=True, return_counts=True)
    first_rank = np.cumsum(counts) - counts + 1
    ranks = (first_rank + (counts - 1) / 2.0)[inverse]
    n1 = int(y.sum())
    n0 = y.size - n1
    return (ranks[y == 1].sum() - n1 * (n1 + 1) / 2.0) / (n0 * n1)


@pytest.mark.parametrize("seed, levels, n", [(0, 3, 200), (1, 12, 5000), (2, 1000, 20000)])
def test_lorenz_auc_equals_mann_whitney(seed, levels, n):
    rng = np.random.default_rng(seed)
    y = (rng.random(n) < 0.2).astype(np.int32)
    x = rng.integers(0, levels, n) + 0.7 * y
    x[rng.random(n) < 0.01] = np.nan
    r = t.lorenz_curve_native(x, y)
    assert r["auc"] == pytest.approx(mann_whitney_auc(x, y), abs=1e-12)
    assert r["gini"] == pytest.approx(2 * r["auc"] - 1, abs=1e-15)
    assert r["value"].tolist() == np.unique(x[~np.isnan(x)]).tolist()
    assert np.all(np.diff(r["cumulative_event"]) >= 0)
    assert (r["cumulative_non_event"][-1], r["cumulative_event"][-1]) == (1.0, 1.0)


# -------------------------------------------------------------- membership

def test_membership_worked_example_and_aggregation():
    m = t.membership_native([-5, 0, 2.5, 10, 12, NAN], [0, 10])
    assert m.shape == (6, 3) and m.dtype == np.float64 and m.flags.c_contiguous
    assert m.tolist() == [[1, 0, 0], [1, 0, 0], [0.75, 0.25, 0], [0, 1, 0], [0, 1, 0],
                          [0, 0, 1]]
    a, b, miss = 8.0, 4.0, -3.0
    s = t.aggregate_membership_native(m, [a, b, miss])
    assert s.tolist() == [a, a, 0.75 * a + 0.25 * b, b, b, miss]
    assert t.membership_native(10, [0, 10, 20]).tolist() == [[0, 1, 0, 0]]


def test_standardisation_and_empty_x():
    assert t.aggregate_membership_native(np.eye(3), [1, 2, 3], True).tolist() == [-1, 0, 1]
    assert t.aggregate_membership_native(np.eye(3), [1, 2, 3]).tolist() == [1, 2, 3]
    assert t.membership_native([], [1.0, 2.0]).shape == (0, 3)


def test_aggregation_matches_numpy_interp():
    rng = np.random.default_rng(5)
    reps = np.array([0.0, 1.5, 2.0, 6.0, 9.0])
    vals = rng.normal(size=reps.size + 1)
    x = rng.uniform(-3, 12, 1000)
    x[::50] = np.nan
    s = t.aggregate_membership_native(t.membership_native(x, reps), vals)
    want = np.where(np.isnan(x), vals[-1], np.interp(x, reps, vals[:-1]))
    np.testing.assert_allclose(s, want, rtol=1e-12, atol=1e-12)


@pytest.mark.parametrize("fn, args, message", [
    (t.membership_native, ([1.0], []), "membership: faltan representantes"),
    (t.membership_native, ([1.0], [1, 1]), "membership: representantes deben ser crecientes y únicos"),
    (t.aggregate_membership_native, ([1.0, 0.0], [1.0, 2.0]),
     "aggregate_membership: dimensiones incompatibles"),
    (t.aggregate_membership_native, (np.ones((2, 3)), [1.0, 2.0]),
     "aggregate_membership: dimensiones incompatibles"),
    (t.aggregate_membership_native, (np.ones((2, 0)), []),
     "aggregate_membership: k debe ser positivo"),
])
def test_membership_errors(fn, args, message):
    with pytest.raises(ValueError) as e:
        fn(*args)
    assert str(e.value) == message
