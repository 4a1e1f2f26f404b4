"""Malformed and extreme input for every function: strings, complex numbers,
0-d and zero-size arrays, mismatched lengths, out-of-range integers, NaN and
infinite scalars, and allocation failure. Each gets its specified error or a
clear TypeError / ValueError / MemoryError, never a crash."""
import math
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import _tessaline as t

NAN = float("nan")
INF = float("inf")
X4 = [1.0, 2.0, 3.0, 4.0]
Y4 = [0.0, 0.0, 1.0, 1.0]
L4 = [0, 0, 1, 1]
YC = [0.5, 1.5, 2.5, 3.5]  # a continuous target: the percentile is used
SEARCH = [0, 0, 0, 1.0, 1.0, False]

# AddressSanitizer's allocator treats a failed allocation as a fatal error
# instead of letting operator new throw, so allocation failures are only
# provoked without it.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
needs_plain_allocator = pytest.mark.skipif(UNDER_ASAN, reason="allocation failure is fatal under ASan")

# A valid call of every function, and the positions of its array arguments.
CALLS = {
    "compute_boundaries": (t.compute_boundaries, [X4, L4], [0, 1]),
    "compute_boundaries_raw": (t.compute_boundaries_raw, [X4, Y4], [0, 1]),
    "evaluate_segment": (t.evaluate_segment,
                         [[1.0, 2.5, 4.0], [0, 2, 2], [0, 0, 2], 0, 2, 0, 0, 0, 1.0, 1.0], [0, 1, 2]),
    "mdlp_full": (t.mdlp_full, [X4, L4] + SEARCH, [0, 1]),
    "mdlp": (t.mdlp, [X4, L4] + SEARCH, [0, 1]),
    "mdlp_raw": (t.mdlp_raw, [X4, Y4] + SEARCH, [0, 1]),
    "mdlp_full_raw": (t.mdlp_full_raw, [X4, Y4] + SEARCH, [0, 1]),
    "preprocess_data_native": (t.preprocess_data_native, [X4, Y4], [0, 1]),
    "binning_splits": (t.binning_splits, [X4, "custom", 3, "full", 0.0, 1.0, 1.5, [2.5]], [0, 7]),
    "binning_transform": (t.binning_transform, [X4, [2.5]], [0, 1]),
    "binning_summary_binary": (t.binning_summary_binary, [X4, L4, [2.5]], [0, 1, 2]),
    "binning_summary_continuous": (t.binning_summary_continuous, [X4, Y4, [2.5]], [0, 1, 2]),
    "compare_distributions_native": (t.compare_distributions_native, [X4, X4[::-1], [2.5]],
                                     [0, 1, 2]),
    "lorenz_curve_native": (t.lorenz_curve_native, [X4, L4], [0, 1]),
    "membership_native": (t.membership_native, [X4, [0.0, 5.0]], [0, 1]),
    "aggregate_membership_native": (t.aggregate_membership_native,
                                    [[[1.0, 0.0], [0.5, 0.5]], [1.0, 2.0]], [0, 1]),
}
ARRAY_ARGS = [(name, pos) for name, (_, _, positions) in CALLS.items() for pos in positions]


def replaced(args, pos, value):
    args = list(args)
    args[pos] = value
    return args


def outcome(fn, args):
    try:
        return "ok", fn(*args)
    except (TypeError, ValueError, MemoryError, RuntimeError) as e:
        return type(e).__name__, str(e)


def same(a, b):
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, np.ndarray):
        return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()
    if isinstance(a, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    return a == b


def raises(message, fn, *args, exception=ValueError):
    with pytest.raises(exception) as e:
        fn(*args)
    assert str(e.value) == message


# ------------------------------------------------------------ array content

@pytest.mark.parametrize("name, pos", ARRAY_ARGS)
@pytest.mark.parametrize("strings", [
    lambda shape: np.full(shape, "a", dtype=object),
    lambda shape: np.full(shape, "x"),
    lambda shape: np.full(shape, b"1.5x", dtype=object),
])
def test_strings_in_an_array_argument_raise_type_error(name, pos, strings):
    fn, args, _ = CALLS[name]
    bad = strings(np.asarray(args[pos]).shape)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        fn(*replaced(args, pos, bad))


@pytest.mark.parametrize("name, pos", ARRAY_ARGS)
def test_complex_arrays_are_cast_to_their_real_part(name, pos):
    # NumPy's unsafe cast drops the imaginary part, with its warning.
    fn, args, _ = CALLS[name]
    complex_arg = np.asarray(args[pos], dtype=float) + 3j
    with pytest.warns(np.exceptions.ComplexWarning):
        got = outcome(fn, replaced(args, pos, complex_arg))
    want = outcome(fn, args)
    assert got[0] == want[0] == "ok" and same(got[1], want[1])


@pytest.mark.parametrize("name", list(CALLS))
def test_zero_dimensional_arrays_are_one_element(name):
    fn, args, positions = CALLS[name]
    scalar_args = list(args)
    one_element = list(args)
    for pos in positions:
        first = np.asarray(args[pos]).ravel()[0]
        scalar_args[pos] = np.asarray(first)
        one_element[pos] = np.asarray([first])
    got = outcome(fn, scalar_args)
    if name == "binning_splits":
        assert got == ("ValueError", "binning: los puntos de corte deben ser unidimensionales")
    elif name == "aggregate_membership_native":
        assert got == ("ValueError", "aggregate_membership: dimensiones incompatibles")
    else:
        want = outcome(fn, one_element)
        assert got[0] == want[0] and same(got[1], want[1])


# ------------------------------------------------------------- empty input

E = np.array([])
E2 = np.empty((0, 3))  # zero-size with two dimensions reads as empty too


@pytest.mark.parametrize("empty", [E, E2, []])
@pytest.mark.parametrize("call, expected", [
    (lambda e: t.compute_boundaries(e, e), {"pto_corte": 0, "c0": 0, "c1": 0}),
    (lambda e: t.compute_boundaries_raw(e, e), {"pto_corte": 0, "c0": 0, "c1": 0}),
    (lambda e: t.evaluate_segment(e, e, e, 0, 1, 0, 0, 0, 1.0, 1.0),
     "evaluate_segment: no hay boundaries en B"),
    (lambda e: t.mdlp(e, e, *SEARCH)["idx"], 0),
    (lambda e: t.mdlp_raw(e, e, *SEARCH)["found"], 0),
    (lambda e: t.mdlp_full(e, e, *SEARCH)["summary"]["left"], 0),
    (lambda e: t.mdlp_full_raw(e, e, *SEARCH)["summary"]["count"], 0),
    (lambda e: t.preprocess_data_native(e, e), {"x": 0, "y": 0}),
    (lambda e: t.binning_splits(e, "equal_width", 3, "full", 0.0, 1.0, 1.5, e),
     "binning: x no contiene valores finitos"),
    (lambda e: t.binning_splits(e, "quantile", 3, "full", 0.0, 1.0, 1.5, e),
     "binning: x no contiene valores finitos"),
    (lambda e: t.binning_transform(e, e), 0),
    (lambda e: t.binning_summary_binary(e, np.array([], dtype=np.int32), e)["count"], 1),
    (lambda e: t.binning_summary_continuous(e, e, e)["count"], 1),
    (lambda e: t.compare_distributions_native(e, [1.0], e),
     "compare_distributions: muestras vacías o epsilon inválido"),
    (lambda e: t.compare_distributions_native([1.0], e, e),
     "compare_distributions: muestras vacías o epsilon inválido"),
    (lambda e: t.lorenz_curve_native(e, e), "lorenz_curve: se necesitan ambas clases"),
    (lambda e: t.membership_native(e, e), "membership: faltan representantes"),
    (lambda e: t.membership_native(e, [1.0, 2.0]).shape, (0, 3)),
])
def test_zero_size_arrays(call, expected, empty):
    if isinstance(expected, str):
        with pytest.raises(ValueError) as e:
            call(empty)
        assert str(e.value) == expected
        return
    result = call(empty)
    if isinstance(expected, dict):
        assert {k: len(v) for k, v in result.items()} == expected
    elif isinstance(expected, tuple):
        assert result == expected
    else:
        assert len(result) == expected


def test_zero_size_membership_matrices():
    raises("aggregate_membership: k debe ser positivo", t.aggregate_membership_native,
           np.empty((0, 0)), [])
    raises("aggregate_membership: k debe ser positivo", t.aggregate_membership_native,
           np.empty((3, 0)), [])
    assert t.aggregate_membership_native(np.empty((0, 2)), [1.0, 2.0], True).shape == (0,)
    raises("aggregate_membership: dimensiones incompatibles", t.aggregate_membership_native,
           np.empty((0, 2, 1)), [1.0, 2.0])


# --------------------------------------------------------- mismatched lengths

@pytest.mark.parametrize("call, message", [
    (lambda: t.compute_boundaries(X4, L4[:3]), "compute_boundaries: x e y deben tener la misma longitud"),
    (lambda: t.compute_boundaries_raw(X4, Y4 + [1.0]),
     "compute_boundaries: x e y deben tener la misma longitud"),
    (lambda: t.evaluate_segment([1.0, 2.0], [0, 1, 1], [0, 0], 0, 1, 0, 0, 0, 1.0, 1.0),
     "evaluate_segment: pto_corte, c0 y c1 deben tener la misma longitud"),
    (lambda: t.mdlp_full(X4, L4[:1], *SEARCH), "mdlp_with_summary: x e y deben tener la misma longitud"),
    (lambda: t.mdlp(X4[:2], L4, *SEARCH), "mdlp: x e y deben tener la misma longitud"),
    (lambda: t.mdlp_raw(X4, [], *SEARCH), "mdlp: x e y deben tener la misma longitud"),
    (lambda: t.mdlp_full_raw(X4, Y4[:3], *SEARCH), "mdlp_full: x e y deben tener la misma longitud"),
    (lambda: t.preprocess_data_native(X4[:3], Y4), "preprocess_data: x e y deben tener la misma longitud"),
    (lambda: t.binning_summary_binary(X4, L4[:2], []), "binning: x e y deben tener la misma longitud"),
    (lambda: t.binning_summary_continuous(X4[:1], Y4, []),
     "binning: x e y deben tener la misma longitud"),
    (lambda: t.lorenz_curve_native(X4, L4[:3]), "lorenz_curve: x e y deben tener la misma longitud"),
    (lambda: t.aggregate_membership_native([[1.0, 0.0]], [1.0, 2.0, 3.0]),
     "aggregate_membership: dimensiones incompatibles"),
])
def test_mismatched_lengths(call, message):
    with pytest.raises(ValueError) as e:
        call()
    assert str(e.value) == message


def test_lengths_are_element_counts_not_shapes():
    # A 2 x 2 x against four labels is four rows.
    flat = t.lorenz_curve_native(X4, L4)
    square = t.lorenz_curve_native(np.array(X4).reshape(2, 2), L4)
    assert same(flat, square)


# ----------------------------------------------------------------- integers

@pytest.mark.parametrize("call", [
    lambda: t.binning_splits(X4, "quantile", -1, "full", 0.0, 1.0, 1.5, []),
    lambda: t.binning_splits(X4, "quantile", 2**64, "full", 0.0, 1.0, 1.5, []),
    lambda: t.binning_splits(X4, "quantile", 2.0, "full", 0.0, 1.0, 1.5, []),
    lambda: t.evaluate_segment([1.0, 2.0], [0, 1], [0, 0], -1, 1, 0, 0, 0, 1.0, 1.0),
    lambda: t.evaluate_segment([1.0, 2.0], [0, 1], [0, 0], 0, 2**64, 0, 0, 0, 1.0, 1.0),
    lambda: t.mdlp(X4, L4, 2**63, 0, 0, 1.0, 1.0, False),
    lambda: t.mdlp(X4, L4, -2**63 - 1, 0, 0, 1.0, 1.0, False),
    lambda: t.mdlp_raw(X4, Y4, 0, 2**31, 0, 1.0, 1.0, False),
    lambda: t.mdlp_full(X4, L4, 0, 0, -2**31 - 1, 1.0, 1.0, False),
    lambda: t.mdlp_full_raw(X4, Y4, 0.0, 0, 0, 1.0, 1.0, False),
])
def test_integers_that_do_not_convert_raise_type_error(call):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call()


def test_integer_extremes_that_convert():
    # Any int64 minobs and int32 direction: the most negative lets every row
    # pass, the largest rejects all.
    loose = t.mdlp(X4, L4, -2**63, 0, -2**31, 1.0, 1.0, False)
    assert loose["found"].tolist() == [True]
    strict = t.mdlp(X4, L4, 2**63 - 1, 1, 2**31 - 1, 1.0, 1.0, False)
    assert strict["found"].tolist() == [False] and strict["idx"].tolist() == [0]
    for mode in (-1, 4, -2**31):
        raises("monotonicity debe estar en 0..3", t.mdlp, X4, L4, 0, mode, 0, 1.0, 1.0, False)
    # Indices beyond the table are a checked error, not an out-of-bounds read.
    raises("evaluate_segment: L y R deben cumplir L < R < length(B)", t.evaluate_segment,
           [1.0, 2.0], [0, 1], [0, 0], 0, 2**64 - 1, 0, 0, 0, 1.0, 1.0)
    # Labels far outside 0/1 are rejected where labels are checked.
    raises("binning: y debe contener solo 0 y 1", t.binning_summary_binary, X4, [0, 1, 2**31 - 1, 0], [])
    raises("lorenz_curve: y debe contener solo 0 y 1", t.lorenz_curve_native, X4, [0, 1, -2**31, 0])


@pytest.mark.parametrize("method", ["equal_width", "quantile"])
@pytest.mark.parametrize("n_bins", [2**62, 2**64 - 1])
def test_bin_counts_beyond_any_vector_fail_fast(method, n_bins):
    with pytest.raises(MemoryError):
        t.binning_splits(X4, method, n_bins, "full", 0.0, 1.0, 1.5, [])


@needs_plain_allocator
@pytest.mark.parametrize("method", ["equal_width", "quantile"])
def test_bin_counts_beyond_memory_raise_memory_error(method):
    with pytest.raises(MemoryError):
        t.binning_splits(X4, method, 2**45, "full", 0.0, 1.0, 1.5, [])


# ---------------------------------------------------- NaN and inf scalars

SPECIAL = [NAN, INF, -INF]
PERCENTILE_MSG = "preprocess_data: percentile debe estar entre 0 y 100"


@pytest.mark.parametrize("percentile", SPECIAL)
@pytest.mark.parametrize("call", [
    lambda y, p: t.preprocess_data_native(X4, y, None, p),
    lambda y, p: t.compute_boundaries_raw(X4, y, None, p),
    lambda y, p: t.mdlp_raw(X4, y, *SEARCH, None, p),
    lambda y, p: t.mdlp_full_raw(X4, y, *SEARCH, None, p),
])
def test_percentile_is_checked_where_it_is_used(call, percentile):
    raises(PERCENTILE_MSG, call, YC, percentile)
    # A binary target, or a fixed value, leaves the percentile unused.
    call(Y4, percentile)
    call(YC, 50.0)


@pytest.mark.parametrize("value", SPECIAL)
def test_fixed_threshold_is_used_unchanged(value):
    # No row has a target above NaN or +inf; every row is above -inf.
    r = t.mdlp_full_raw(X4, YC, *SEARCH, value)
    assert same(r["metadata"]["threshold"], value)
    labels = t.preprocess_data_native(X4, YC, value)["y"].tolist()
    assert labels == ([1, 1, 1, 1] if value == -INF else [0, 0, 0, 0])


@pytest.mark.parametrize("alpha, beta", [(a, 1.0) for a in SPECIAL] + [(1.0, b) for b in SPECIAL])
def test_cost_weights_give_consistent_decisions(alpha, beta):
    # A NaN or +inf cost never pays for a split; -inf always does. Every
    # logged decision is gain > cost.
    x = list(range(12))
    y = [0, 0, 0, 1, 1, 1, 0, 0, 1, 1, 1, 1]
    for r in (t.mdlp(x, y, 0, 0, 0, alpha, beta, False),
              t.mdlp_full(x, y, 0, 0, 0, alpha, beta, False)["mdlp"],
              t.mdlp_raw(x, y, 0, 0, 0, alpha, beta, False)):
        assert r["found"].tolist() == (r["gain"] > r["cost"]).tolist()
        assert r["found"][0] == (alpha == -INF or beta == -INF)
    segment = t.evaluate_segment([0.0, 2.5, 5.0, 7.5, 11.0], [0, 3, 3, 5, 5], [0, 0, 3, 3, 7],
                                 0, 4, 0, 0, 0, alpha, beta)
    assert segment["found"] == (segment["gain"] > segment["cost"])


@pytest.mark.parametrize("bound", SPECIAL)
def test_quantile_bounds(bound):
    msg = "binning: lower_quantile debe ser menor que upper_quantile"
    raises(msg, t.binning_splits, X4, "equal_width", 3, "quantile", bound, 1.0, 1.5, [])
    raises(msg, t.binning_splits, X4, "equal_width", 3, "quantile", 0.0, bound, 1.5, [])
    # Read only for the quantile range.
    assert t.binning_splits(X4, "equal_width", 3, "full", bound, bound, 1.5, []).tolist() == [2.0, 3.0]


@pytest.mark.parametrize("k", SPECIAL)
def test_iqr_factor(k):
    raises("binning: k debe ser finito y no negativo", t.binning_splits, X4, "equal_width", 3,
           "iqr", 0.0, 1.0, k, [])
    assert t.binning_splits(X4, "quantile", 3, "iqr", 0.0, 1.0, k, []).size == 2


@pytest.mark.parametrize("epsilon", SPECIAL)
def test_epsilon(epsilon):
    raises("compare_distributions: muestras vacías o epsilon inválido",
           t.compare_distributions_native, X4, X4, [2.5], epsilon)


def test_suma_follows_ieee():
    assert math.isnan(t.suma(NAN, 1.0)) and t.suma(INF, 1.0) == INF and math.isnan(t.suma(INF, -INF))


@pytest.mark.parametrize("representatives", [[-INF, 0.0], [0.0, INF], [-INF, INF], [1.0, 2.0, INF]])
def test_infinite_representatives_are_rejected(representatives):
    # Between an infinite and a finite representative the weight would be
    # inf / inf: NaN rows that do not sum to 1.
    raises("membership: representantes deben ser finitos", t.membership_native,
           [-5.0, 0.5, NAN], representatives)


def test_single_representative_and_nan_among_several():
    # One representative takes every value whatever it is; NaN among several
    # is an ordering error.
    for single in (INF, -INF, NAN):
        assert t.membership_native([1.0, NAN], [single]).tolist() == [[1.0, 0.0], [0.0, 1.0]]
    raises("membership: representantes deben ser crecientes y únicos", t.membership_native,
           [1.0], [NAN, INF])
    raises("membership: representantes deben ser crecientes y únicos", t.membership_native,
           [1.0], [INF, INF])


# -------------------------------------------------------- allocation failure

ALLOCATION_FAILURES = textwrap.dedent("""
    import resource
    import numpy as np
    import _tessaline as t

    rows = 4_000_000
    x = np.arange(rows, dtype=np.float64)
    y = (np.arange(rows) % 2).astype(np.float64)
    labels = y.astype(np.int32)
    with open("/proc/self/status") as status:
        in_use = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize"))
    # Room for small results only: every call below needs far more.
    resource.setrlimit(resource.RLIMIT_AS, (in_use + 48 * 2**20, resource.RLIM_INFINITY))
    calls = {
        "membership_native": lambda: t.membership_native(x[:100_000], np.arange(1000.0)),
        "binning_splits": lambda: t.binning_splits(x[:10], "equal_width", 10**8, "full", 0, 1, 0, []),
        "preprocess_data_native": lambda: t.preprocess_data_native(x, y),
        "mdlp_full_raw": lambda: t.mdlp_full_raw(x, y, 0, 0, 0, 1.0, 1.0, False),
        "lorenz_curve_native": lambda: t.lorenz_curve_native(x, labels),
        "binning_summary_continuous": lambda: t.binning_summary_continuous(x, y, [], "median"),
    }
    for name, call in calls.items():
        try:
            call()
            print(name, "ok")
        except MemoryError:
            print(name, "MemoryError")
    # The interpreter goes on working after every failure.
    print("after", t.suma(1, 2), t.binning_transform([1.0, 5.0], [2.0]).tolist())
""")


@needs_plain_allocator
@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/status")
def test_allocation_failure_is_a_memory_error():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", ALLOCATION_FAILURES], capture_output=True,
                          text=True, env=env, timeout=120)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[:-1] == [f"{name} MemoryError" for name in [
        "membership_native", "binning_splits", "preprocess_data_native", "mdlp_full_raw",
        "lorenz_curve_native", "binning_summary_continuous"]]
    assert lines[-1] == "after 3.0 [0, 1]"
