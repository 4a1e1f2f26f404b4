import math

import numpy as np
import pytest

import _tessaline as t

NAN = float("nan")
INF = float("inf")

X_MSG = "binning: x no contiene valores finitos"
BINS_MSG = "binning: n_bins debe ser al menos 1"
METHOD_MSG = "binning: method no reconocido"
RANGE_MSG = "range debe ser 'full', 'quantile' o 'iqr'"
BOUNDS_MSG = "binning: lower_quantile debe ser menor que upper_quantile"
K_MSG = "binning: k debe ser finito y no negativo"
DIM_MSG = "binning: los puntos de corte deben ser unidimensionales"
CUSTOM_MSG = "binning: los puntos de corte deben ser finitos, crecientes y únicos"
FINITE_MSG = "binning: los puntos de corte deben ser finitos"
LENGTH_MSG = "binning: x e y deben tener la misma longitud"
REP_MSG = "representative debe ser 'mean' o 'median'"
LABEL_MSG = "binning: y debe contener solo 0 y 1"


def splits(x, method, n_bins=4, range="full", lower=0.05, upper=0.95, k=1.5, custom=()):
    return t.binning_splits(np.asarray(x, dtype=float), method, n_bins, range, lower, upper,
                            k, np.asarray(custom, dtype=float))


def messy(rng, n):
    """Seeded data with ties, NaN and both infinities."""
    x = np.where(rng.random(n) < 0.5, rng.integers(-6, 7, n) * 0.5, rng.normal(0, 3, n))
    u = rng.random(n)
    x[u < 0.03] = NAN
    x[(u >= 0.03) & (u < 0.04)] = INF
    x[(u >= 0.04) & (u < 0.05)] = -INF
    return x


# ------------------------------------------------------------------ splits

@pytest.mark.parametrize("x, method, kwargs, expected", [
    ([0, 10], "equal_width", dict(n_bins=4), [2.5, 5.0, 7.5]),
    (np.arange(101.0), "equal_width", dict(n_bins=3, range="quantile"), [35.0, 65.0]),
    (list(range(1, 10)) + [100], "equal_width", dict(n_bins=2, range="iqr", k=1.5), [7.75]),
    ([1, 2, 3, 4, 5], "quantile", dict(n_bins=4), [2.0, 3.0, 4.0]),
    ([1, 1, 1, 1, 2], "quantile", dict(n_bins=4), [1.0]),
    ([1, 2, 2, 2, 2], "quantile", dict(n_bins=2), []),
    ([NAN, 3, INF, 3, -INF], "equal_width", dict(n_bins=5), []),
    ([NAN, 3, INF, 3, -INF], "quantile", dict(n_bins=5), []),
    ([1, 5, 9], "quantile", dict(n_bins=1), []),
    ([-1e308, 1e308], "equal_width", dict(n_bins=4), []),
    ([0, 5, 5, 5, 5, 5, 5, 20], "equal_width", dict(n_bins=4, range="iqr", k=3.0),
     [5.0, 10.0, 15.0]),
    (list(range(1, 10)) + [100], "equal_width", dict(n_bins=2, range="iqr", k=0.0), [5.5]),
    ([9, 1], "custom", dict(range="nonsense", n_bins=0, custom=[-2.0, 0.5, 7.0]),
     [-2.0, 0.5, 7.0]),
    ([], "custom", dict(custom=[]), []),
    ([1, 2, 3], "quantile", dict(range="nonsense"), [1.5, 2.0, 2.5]),
])
def test_splits_examples(x, method, kwargs, expected):
    got = splits(x, method, **kwargs)
    assert got.dtype == np.float64 and got.ndim == 1
    assert got.tolist() == expected


def test_quantile_range_with_full_bounds_equals_full_range():
    x = np.random.default_rng(3).normal(size=500)
    full = splits(x, "equal_width", n_bins=7)
    assert np.array_equal(splits(x, "equal_width", n_bins=7, range="quantile", lower=0.0,
                                 upper=1.0), full)


@pytest.mark.parametrize("x, method, kwargs, exc, message", [
    # Custom cut points are checked before anything else.
    ([], "custom", dict(n_bins=0, custom=[[1.0, 2.0]]), ValueError, DIM_MSG),
    ([], "custom", dict(n_bins=0, custom=[1, 2, 2]), ValueError, CUSTOM_MSG),
    ([1], "custom", dict(custom=[2, 1]), ValueError, CUSTOM_MSG),
    ([1], "custom", dict(custom=[1, NAN]), ValueError, CUSTOM_MSG),
    ([1], "custom", dict(custom=[-INF, 1]), ValueError, CUSTOM_MSG),
    # Then the method string.
    ([], "Equal_width", dict(n_bins=0, range="bad"), ValueError, METHOD_MSG),
    ([], "", dict(n_bins=0), ValueError, METHOD_MSG),
    # Then the range string, n_bins, x and the range-specific checks.
    ([], "equal_width", dict(n_bins=0, range="Full"), ValueError, RANGE_MSG),
    ([], "equal_width", dict(n_bins=0), ValueError, BINS_MSG),
    ([], "quantile", dict(n_bins=0), ValueError, BINS_MSG),
    ([NAN, INF], "equal_width", dict(n_bins=1), ValueError, X_MSG),
    ([], "quantile", dict(n_bins=1), ValueError, X_MSG),
    ([NAN], "equal_width", dict(range="quantile", lower=0.9, upper=0.1), ValueError, X_MSG),
    ([NAN], "equal_width", dict(range="iqr", k=-1), ValueError, X_MSG),
    ([1, 2], "equal_width", dict(range="quantile", lower=0.5, upper=0.5), ValueError,
     BOUNDS_MSG),
    ([1, 2], "equal_width", dict(range="quantile", lower=NAN, upper=0.5), ValueError,
     BOUNDS_MSG),
    ([1, 2], "equal_width", dict(range="quantile", lower=0.0, upper=1.5), ValueError,
     BOUNDS_MSG),
    ([1, 2], "equal_width", dict(range="iqr", k=INF), ValueError, K_MSG),
    ([1, 2], "equal_width", dict(range="iqr", k=NAN), ValueError, K_MSG),
    # Argument conversion.
    ([1, 2], "quantile", dict(n_bins=-1), TypeError, None),
    ([1, 2], "quantile", dict(n_bins=2.0), TypeError, None),
])
def test_splits_failures_in_order(x, method, kwargs, exc, message):
    with pytest.raises(exc) as info:
        splits(x, method, **kwargs)
    if message is not None:
        assert str(info.value) == message


def test_splits_requires_all_eight_arguments():
    with pytest.raises(TypeError):
        t.binning_splits(np.array([1.0]), "quantile", 2, "full", 0.0, 1.0, 1.5)


def test_custom_splits_ignored_by_other_methods():
    got = splits([0, 10], "equal_width", n_bins=2, custom=[[NAN, 1], [3, 2]])
    assert got.tolist() == [5.0]


@pytest.mark.parametrize("seed, n", [(0, 20_000), (1, 20_000), (2, 150_000)])
@pytest.mark.parametrize("n_bins", [2, 5, 10, 100])
def test_quantile_cuts_follow_numpy_quantile(seed, n, n_bins):
    x = messy(np.random.default_rng(seed), n)
    finite = x[np.isfinite(x)]
    qs = np.quantile(finite, np.arange(1, n_bins) / n_bins, method="linear")
    expected = []
    for q in qs:
        if finite.min() <= q < finite.max() and (not expected or q > expected[-1]):
            expected.append(q)
    got = splits(x, "quantile", n_bins=n_bins)
    assert len(got) == len(expected)
    np.testing.assert_allclose(got, expected, rtol=1e-14, atol=0)


# --------------------------------------------------------------- transform

def test_transform_example():
    x = np.array([1, 2, 2.5, 3, NAN, INF, -INF])
    got = t.binning_transform(x, np.array([2.0, 3.0]))
    assert got.dtype == np.int64
    assert got.tolist() == [0, 0, 1, 1, -1, 2, 0]
    assert t.binning_transform(x, np.array([3.0, 2.0, 2.0])).tolist() == got.tolist()
    assert t.binning_transform(x, np.array([])).tolist() == [0, 0, 0, 0, -1, 0, 0]


def test_transform_shapes_and_empty_input():
    x = np.array([[1.0, 5.0, NAN], [3.0, -1.0, 4.0]])
    assert t.binning_transform(x, [2.0, 4.0]).tolist() == [0, 2, -1, 1, 0, 1]
    empty = t.binning_transform(np.array([]), [1.0])
    assert empty.dtype == np.int64 and empty.shape == (0,)


@pytest.mark.parametrize("bad", [INF, -INF, NAN])
def test_transform_rejects_non_finite_cut_even_for_empty_x(bad):
    with pytest.raises(ValueError, match=f"^{FINITE_MSG}$"):
        t.binning_transform(np.array([]), np.array([1.0, bad]))


@pytest.mark.parametrize("seed", [10, 11, 12])
@pytest.mark.parametrize("n_cuts", [0, 1, 2, 7, 10, 64, 100])
def test_transform_equals_numpy_searchsorted(seed, n_cuts):
    rng = np.random.default_rng(seed)
    x = messy(rng, 10_000)
    # Cut points drawn partly from the data's own ties, with repeats.
    raw = np.concatenate([rng.integers(-6, 7, n_cuts) * 0.5, rng.normal(0, 3, n_cuts)])[:n_cuts]
    x_before = x.copy()
    got = t.binning_transform(x, raw)
    unique = np.unique(raw)
    expected = np.searchsorted(unique, x, side="left")
    expected[np.isnan(x)] = -1
    assert np.array_equal(got, expected)
    assert np.array_equal(x, x_before, equal_nan=True)


# --------------------------------------------------------------- summaries

BINARY_KEYS = ["left", "right", "count", "percentage", "c0", "c1", "event_rate",
               "representative"]
CONTINUOUS_KEYS = ["left", "right", "count", "percentage", "representative", "target_mean",
                   "target_p25", "target_median", "target_p75"]


def rows_of(result):
    keys = list(result)
    return [tuple(result[k][i] for k in keys) for i in range(len(result[keys[0]]))]


def same(a, b):
    return len(a) == len(b) and all(
        len(r) == len(s) and all((math.isnan(u) and math.isnan(v)) or u == v
                                 for u, v in zip(r, s)) for r, s in zip(a, b))


def test_binary_summary_example_keys_and_dtypes():
    res = t.binning_summary_binary(np.array([1, 2, 3, 4, NAN]), np.array([0, 1, 1, 0, 1],
                                   dtype=np.int32), np.array([2.5]))
    assert list(res) == BINARY_KEYS
    for key in BINARY_KEYS:
        expected = np.int64 if key in ("count", "c0", "c1") else np.float64
        assert res[key].dtype == expected and res[key].ndim == 1
    assert same(rows_of(res), [(-INF, 2.5, 2, 0.4, 1, 1, 0.5, 1.5),
                               (2.5, INF, 2, 0.4, 1, 1, 0.5, 3.5),
                               (NAN, NAN, 1, 0.2, 0, 1, 1.0, NAN)])


def test_continuous_summary_example_keys_and_dtypes():
    res = t.binning_summary_continuous([1, 2, 3, 4, 5], [10, 20, NAN, 40, 50], [3])
    assert list(res) == CONTINUOUS_KEYS
    for key in CONTINUOUS_KEYS:
        assert res[key].dtype == (np.int64 if key == "count" else np.float64)
    assert same(rows_of(res), [(-INF, 3, 2, 0.5, 1.5, 15, 12.5, 15, 17.5),
                               (3, INF, 2, 0.5, 4.5, 45, 42.5, 45, 47.5)])


def test_summary_default_representative_is_median():
    x, y = [1.0, 2.0, 10.0], [0, 1, 1]
    default = t.binning_summary_binary(x, y, [])
    assert default["representative"].tolist() == [2.0]
    assert t.binning_summary_binary(x, y, [], "mean")["representative"].tolist() == [
        13.0 / 3.0]
    assert t.binning_summary_continuous(x, [1.0, 2.0, 3.0], [])["representative"].tolist() == [
        2.0]


@pytest.mark.parametrize("summary", [t.binning_summary_binary, t.binning_summary_continuous])
@pytest.mark.parametrize("x, y, cuts, rep, message", [
    # Lengths first, then the cut points, then the representative.
    ([1, 2], [0], [INF], "Mean", LENGTH_MSG),
    ([1, 2], [0, 1], [NAN], "Mean", FINITE_MSG),
    ([1, 2], [0, 1], [1.5], "Mean", REP_MSG),
    ([1, 2], [0, 1], [1.5], "", REP_MSG),
])
def test_summary_failures_in_order(summary, x, y, cuts, rep, message):
    with pytest.raises(ValueError) as info:
        summary(x, y, cuts, rep)
    assert str(info.value) == message


@pytest.mark.parametrize("label", [2, -1])
def test_binary_summary_rejects_other_labels_even_with_missing_x(label):
    with pytest.raises(ValueError, match=f"^{LABEL_MSG}$"):
        t.binning_summary_binary([1.0, NAN], np.array([0, label], dtype=np.int32), [])


def test_binary_labels_are_cast_to_int32():
    res = t.binning_summary_binary([1.0, 2.0, 3.0], np.array([0.0, 1.0, 0.7]), [])
    assert res["c1"].tolist() == [1] and res["c0"].tolist() == [2]


def test_summaries_of_empty_input_and_empty_bins():
    res = t.binning_summary_binary(np.array([]), np.array([], dtype=np.int32), [1.0, 2.0])
    assert res["count"].tolist() == [0, 0, 0]
    assert res["percentage"].tolist() == [0.0, 0.0, 0.0]
    assert res["event_rate"].tolist() == [0.0, 0.0, 0.0]
    assert np.isnan(res["representative"]).all()
    cont = t.binning_summary_continuous([0.5, 9.0], [1.0, NAN], [1.0, 2.0])
    assert cont["count"].tolist() == [1, 0, 0]
    assert np.isnan(cont["target_mean"][1:]).all() and np.isnan(cont["target_p75"][1:]).all()


def test_value_on_a_cut_falls_in_lower_bin_everywhere():
    cuts = np.array([-1.0, 0.0, 2.5])
    x = np.array([-1.0, 0.0, 2.5, 2.5])
    assert t.binning_transform(x, cuts).tolist() == [0, 1, 2, 2]
    binary = t.binning_summary_binary(x, np.array([1, 0, 1, 1], dtype=np.int32), cuts)
    assert binary["count"].tolist() == [1, 1, 2, 0]
    cont = t.binning_summary_continuous(x, np.ones(4), cuts)
    assert cont["count"].tolist() == [1, 1, 2, 0]


def plain_sum(values):
    """Left-to-right sum from 0.0 (the built-in sum compensates rounding)."""
    total = 0.0
    for v in values:
        total += v
    return total


def reference_quantile(sorted_values, p):
    pos = (len(sorted_values) - 1) * p
    lo, hi = math.floor(pos), math.ceil(pos)
    if len(sorted_values) == 1:
        return sorted_values[0]
    return (sorted_values[hi] - sorted_values[lo]) * (pos - lo) + sorted_values[lo]


@pytest.mark.parametrize("seed, n", [(20, 3000), (21, 3000), (22, 100_000)])
@pytest.mark.parametrize("rep", ["mean", "median"])
def test_binary_summary_matches_independent_grouping(seed, n, rep):
    rng = np.random.default_rng(seed)
    x = messy(rng, n)
    y = (rng.random(n) < 0.25).astype(np.int32)
    cuts = np.array([2.0, -1.5, 0.0, 0.0, 4.5])
    res = t.binning_summary_binary(x, y, cuts, rep)
    unique = np.unique(cuts)
    bins = np.searchsorted(unique, x, side="left")
    bins[np.isnan(x)] = len(unique) + 1
    n_rows = len(unique) + 1 + int(np.isnan(x).any())
    assert len(res["count"]) == n_rows
    assert np.array_equal(res["count"], np.bincount(bins, minlength=n_rows)[:n_rows])
    assert np.array_equal(res["c1"], np.bincount(bins, weights=y, minlength=n_rows)[:n_rows])
    assert np.array_equal(res["c0"] + res["c1"], res["count"])
    assert math.isclose(res["percentage"].sum(), 1.0, rel_tol=1e-12)
    for b in range(len(unique) + 1):
        values = x[bins == b]
        if rep == "mean":
            expected = plain_sum(values.tolist()) / len(values)  # input order
        else:
            expected = reference_quantile(sorted(values.tolist()), 0.5)
        assert res["representative"][b] == expected or (
            math.isnan(expected) and math.isnan(res["representative"][b]))
        if len(values):
            assert res["event_rate"][b] == y[bins == b].sum() / len(values)
    assert np.isnan(res["representative"][-1]) and np.isnan(res["left"][-1])


@pytest.mark.parametrize("seed", [30, 31])
def test_continuous_summary_matches_independent_grouping(seed):
    rng = np.random.default_rng(seed)
    x = messy(rng, 3000)
    y = np.round(rng.normal(5, 4, 3000), 1)
    y[rng.random(3000) < 0.1] = NAN
    cuts = [-2.0, 0.0, 3.5]
    res = t.binning_summary_continuous(x, y, cuts, "median")
    keep = ~np.isnan(y)
    xs, ys = x[keep], y[keep]
    bins = np.searchsorted(cuts, xs, side="left")
    bins[np.isnan(xs)] = len(cuts) + 1
    assert math.isclose(res["percentage"].sum(), 1.0, rel_tol=1e-12)
    assert res["count"].sum() == keep.sum()
    for b in range(len(res["count"])):
        target = np.sort(ys[bins == b])
        assert res["count"][b] == len(target)
        assert res["target_mean"][b] == plain_sum(target.tolist()) / len(target)
        for key, p in [("target_p25", 0.25), ("target_median", 0.5), ("target_p75", 0.75)]:
            np.testing.assert_allclose(res[key][b], np.quantile(target, p), rtol=1e-14)
            assert res[key][b] == reference_quantile(target.tolist(), p)
        if b <= len(cuts):
            assert res["representative"][b] == reference_quantile(
                sorted(xs[bins == b].tolist()), 0.5)
