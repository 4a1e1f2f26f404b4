"""preprocess_data_native and the argument conversions every wrapper shares."""
import numpy as np
import pytest

from _tessaline import preprocess_data_native as prep

NAN, INF = np.nan, np.inf


def reference(x, y, value=None, percentile=50.0):
    """Plain reimplementation: keep finite rows, binarise, sort by (x, label)."""
    x = np.asarray(x, dtype=float).ravel()
    y = np.asarray(y, dtype=float).ravel()
    keep = np.isfinite(x) & np.isfinite(y)
    xk, yk = x[keep], y[keep]
    if np.all((yk == 0) | (yk == 1)):
        labels = (yk == 1).astype(np.int32)
    else:
        threshold = value if value is not None else np.percentile(yk, percentile)
        labels = (yk > threshold).astype(np.int32)
    order = np.lexsort((labels, xk))  # stable: x first, then label
    return xk[order], labels[order]


@pytest.mark.parametrize("x, y, kwargs, exp_x, exp_y", [
    ([2, 1, 2], [1, 0, 0], {}, [1, 2, 2], [0, 0, 1]),
    ([1, 2, 3], [0, 1, 2], {}, [1, 2, 3], [0, 0, 1]),
    ([1, 2, 3, 4], [1, 2, 3, 4], {}, [1, 2, 3, 4], [0, 0, 1, 1]),
    ([1, 2, 3], [0.2, 0.5, 0.9], {"value": 0.5}, [1, 2, 3], [0, 0, 1]),
    ([1, 2, 3, 4], [0, 1, 1, 0], {"value": 0.5, "percentile": 150}, [1, 2, 3, 4], [0, 1, 1, 0]),
    ([3, 1, 2], [5, 7, 9], {"percentile": 0}, [1, 2, 3], [1, 1, 0]),
    ([3, 1, 2], [5, 7, 9], {"percentile": 100}, [1, 2, 3], [0, 0, 0]),
    ([4.0], [7.5], {}, [4.0], [0]),
    ([1, NAN, INF, 2, 3], [NAN, 1, 0, INF, 1], {}, [3], [1]),
    ([], [], {}, [], []),
])
def test_worked_examples(x, y, kwargs, exp_x, exp_y):
    out = prep(x, y, **kwargs)
    assert list(out) == ["x", "y"]
    assert out["x"].dtype == np.float64 and out["y"].dtype == np.int32
    np.testing.assert_array_equal(out["x"], exp_x)
    np.testing.assert_array_equal(out["y"], exp_y)


@pytest.mark.parametrize("seed", range(20))
@pytest.mark.parametrize("target", ["binary", "continuous", "fixed"])
def test_matches_an_independent_computation(seed, target):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(1, 3000))
    x = rng.integers(-20, 20, n) * 0.5
    x[rng.random(n) < 0.05] = NAN
    x[rng.random(n) < 0.02] = rng.choice([INF, -INF])
    x[rng.random(n) < 0.05] = -0.0
    y = rng.integers(0, 2, n).astype(float) if target == "binary" else rng.normal(size=n).round(1)
    y[rng.random(n) < 0.05] = NAN
    value = 0.1 if target == "fixed" else None
    percentile = float(rng.uniform(0, 100))
    out = prep(x, y, value, percentile)
    exp_x, exp_y = reference(x, y, value, percentile)
    np.testing.assert_array_equal(out["x"], exp_x)
    np.testing.assert_array_equal(np.signbit(out["x"]), np.signbit(exp_x))
    np.testing.assert_array_equal(out["y"], exp_y)


@pytest.mark.parametrize("x, y", [
    ([[3.0, 1.0], [2.0, 0.0]], [[1, 0], [1, 0]]),                  # 2-D, row order
    (np.asfortranarray([[3.0, 1.0], [2.0, 0.0]]), [1, 0, 1, 0]),   # Fortran order
    (np.array([3.0, 9.0, 1.0, 9.0, 2.0, 9.0, 0.0])[::2], (1, 0, 1, 0)),  # strided
    (np.array([3, 1, 2, 0], dtype=np.int16), [True, False, True, False]),
])
def test_array_like_inputs_are_read_flat_in_c_order(x, y):
    # C-order reading of the 2-D and Fortran inputs gives x = [3, 1, 2, 0].
    out = prep(x, y)
    np.testing.assert_array_equal(out["x"], [0, 1, 2, 3])
    np.testing.assert_array_equal(out["y"], [0, 0, 1, 1])


def test_a_scalar_is_a_one_element_array():
    out = prep(2.5, 1)
    np.testing.assert_array_equal(out["x"], [2.5])
    np.testing.assert_array_equal(out["y"], [1])


@pytest.mark.parametrize("kwargs", [
    {"x": "abc", "y": [1.0]},
    {"x": [1.0], "y": [object()]},
    {"x": [1.0], "y": [1.0], "percentile": "75"},
    {"x": [1.0], "y": [1.0], "bogus": 1},
    {"x": [1.0]},
])
def test_unconvertible_arguments_raise_type_error(kwargs):
    with pytest.raises(TypeError):
        prep(**kwargs)


def test_percentile_int_and_positional_forms_are_the_same_call():
    x, y = [1.0, 2.0, 3.0, 4.0], [1.0, 5.0, 2.0, 8.0]
    a = prep(x, y, percentile=75)
    b = prep(x, y, None, 75)
    np.testing.assert_array_equal(a["y"], b["y"])
    np.testing.assert_array_equal(a["y"], [0, 0, 0, 1])


def test_value_zero_is_a_fixed_threshold():
    np.testing.assert_array_equal(prep([1, 2, 3], [-1.0, 0.0, 2.0], value=0)["y"], [0, 0, 1])


def test_length_check_comes_before_the_value_conversion():
    with pytest.raises(ValueError, match="^preprocess_data: x e y deben tener la misma longitud$"):
        prep([1.0, 2.0, 3.0], [0.0, 1.0, 0.0, 1.0], "0.5")
    with pytest.raises(RuntimeError, match="^Unable to cast Python instance of type "):
        prep([1.0, 2.0], [0.5, 1.5], "0.5")


@pytest.mark.parametrize("percentile", [-0.5, 100.5, NAN])
def test_bad_percentile_is_a_value_error(percentile):
    with pytest.raises(ValueError, match="^preprocess_data: percentile debe estar entre 0 y 100$"):
        prep([1.0, 2.0], [0.5, 1.5], percentile=percentile)


def test_inputs_are_untouched_and_results_are_new():
    x = np.array([3.0, NAN, 1.0, 2.0])
    y = np.array([0.0, 1.0, 1.0, 0.0])
    x0, y0 = x.copy(), y.copy()
    out = prep(x, y)
    np.testing.assert_array_equal(x, x0)
    np.testing.assert_array_equal(y, y0)
    for arr in out.values():
        assert arr.flags.c_contiguous and arr.flags.owndata and arr.ndim == 1
        assert not np.shares_memory(arr, x) and not np.shares_memory(arr, y)
    out["x"][:] = 0
    np.testing.assert_array_equal(x, x0)
