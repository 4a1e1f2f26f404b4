"""Properties of every function over generated inputs: the invariants of each
result, identical results whatever the layout of the input (C order, Fortran
order, strided and reversed views, other dtypes, plain lists), inputs never
modified, and results that never share memory with an input or each other."""
import math
import struct

import numpy as np
import pytest

import _tessaline as t

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

NAN = float("nan")
INF = float("inf")
MAX = 1.7976931348623157e308

SETTINGS = settings(max_examples=30, deadline=None, derandomize=True, database=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

# Doubles that break numeric code, beside ordinary ones and small integers
# (which make ties).
SPECIAL = [0.0, -0.0, 0.5, 1.0, -1.0, 2.0, NAN, INF, -INF, 5e-324, 2.2250738585072014e-308,
           MAX, -MAX, 1e308, -1e308, 0.1, 1e-300]
REALS = st.one_of(st.integers(-3, 6).map(float), st.sampled_from(SPECIAL),
                  st.floats(allow_nan=True, allow_infinity=True))
LABELS = st.one_of(st.sampled_from([0, 1]), st.sampled_from([0, 1]), st.sampled_from([-1, 2]))
SIZES = st.integers(0, 24)


# ------------------------------------------------------------------ helpers

class Arr:
    """An array argument: its logical values and element type; `shaped` when
    the function checks its number of dimensions, so layouts keep its shape."""

    def __init__(self, values, dtype=np.float64, shaped=False):
        self.values = np.asarray(values, dtype=dtype)
        self.shaped = shaped


def layout(arg, kind):
    """The argument in one layout; every layout holds the same values in C order."""
    if not isinstance(arg, Arr):
        return arg
    a = arg.values
    if kind == "c":
        return a.copy()
    if kind == "list":
        # A list of no rows has lost its second dimension.
        return a.copy() if arg.shaped and a.shape[0] == 0 else a.tolist()
    if kind == "fortran":
        if arg.shaped:
            return np.asfortranarray(a)
        if a.size % 2 == 0 and a.size > 0:
            # Read flat in C order, this two-column array is a again.
            return np.asfortranarray(a.reshape(a.size // 2, 2))
        return a.copy()
    if kind == "strided":
        wide = np.zeros(a.shape[:-1] + (2 * a.shape[-1],), dtype=a.dtype)
        wide[..., ::2] = a
        return wide[..., ::2]
    if kind == "reversed":
        return a[..., ::-1].copy()[..., ::-1]
    if kind == "other_dtype":
        # Integers as float64 (converted back exactly), doubles in big-endian
        # byte order: both need a converted copy.
        return a.astype(np.float64) if a.dtype != np.float64 else a.astype(">f8")
    raise AssertionError(kind)


KINDS = ["c", "list", "fortran", "strided", "reversed", "other_dtype"]


def outcome(fn, args):
    try:
        return "ok", fn(*args)
    except (ValueError, TypeError, RuntimeError, MemoryError, OverflowError, IndexError) as e:
        return type(e).__name__, str(e)


def bits(v):
    return struct.pack("<d", v)


def same(a, b):
    if isinstance(a, dict):
        return isinstance(b, dict) and list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, np.ndarray):
        return (isinstance(b, np.ndarray) and a.dtype == b.dtype and a.shape == b.shape
                and a.tobytes() == b.tobytes())
    if isinstance(a, float):
        return isinstance(b, float) and (bits(a) == bits(b) or (math.isnan(a) and math.isnan(b)))
    return type(a) is type(b) and a == b


def arrays_in(result):
    if isinstance(result, dict):
        for v in result.values():
            yield from arrays_in(v)
    elif isinstance(result, np.ndarray):
        yield result


def snapshot(args):
    return [a.copy() if isinstance(a, np.ndarray) else (list(a) if isinstance(a, list) else a)
            for a in args]


def unchanged(before, after):
    for b, a in zip(before, after):
        if isinstance(b, np.ndarray):
            assert b.tobytes() == a.tobytes() and b.shape == a.shape
        elif isinstance(b, list):
            assert len(b) == len(a) and all(same(x, y) or x == y for x, y in zip(b, a))


def check_layouts(fn, args, invariant):
    """Calls fn with the arguments in every layout: same outcome each time,
    inputs untouched, fresh result arrays; the invariant holds on success."""
    reference = None
    for kind in KINDS:
        call_args = [layout(a, kind) for a in args]
        before = snapshot(call_args)
        status, result = outcome(fn, call_args)
        # Generated arguments always convert, and the internal consistency
        # check (RuntimeError) must never fire: only validation may fail.
        assert status in ("ok", "ValueError"), result
        unchanged(before, call_args)
        if status == "ok":
            results = list(arrays_in(result))
            for r in results:
                assert r.flags.owndata and r.flags.c_contiguous
                for a in call_args:
                    if isinstance(a, np.ndarray):
                        assert not np.shares_memory(r, a)
            for i, r in enumerate(results):
                for other in results[i + 1:]:
                    assert not np.shares_memory(r, other)
        if reference is None:
            reference = (status, result)
            if status == "ok":
                invariant(result)
        else:
            assert reference[0] == status, kind
            assert same(reference[1], result), kind
    return reference


def draw_pair(data, y_strategy):
    n = data.draw(SIZES)
    x = data.draw(st.lists(REALS, min_size=n, max_size=n))
    y = data.draw(st.lists(y_strategy, min_size=n, max_size=n))
    return x, y


def close_to_one(total):
    return abs(total - 1.0) <= 1e-9


# --------------------------------------------------------------- invariants

def preprocess_invariant(r):
    x, y = r["x"], r["y"]
    assert list(r) == ["x", "y"] and x.dtype == np.float64 and y.dtype == np.int32
    assert len(x) == len(y) and np.all(np.isfinite(x)) and set(y.tolist()) <= {0, 1}
    assert np.all(x[:-1] <= x[1:])
    ties = x[:-1] == x[1:]
    assert np.all(y[:-1][ties] <= y[1:][ties])


def boundary_invariant(r):
    c0, c1 = r["c0"], r["c1"]
    if len(c0) == 0:
        return
    assert len(c0) >= 2 and c0[0] == 0 and c1[0] == 0
    assert np.all(np.diff(c0) >= 0) and np.all(np.diff(c1) >= 0)
    assert np.all(np.diff(c0 + c1) > 0)


def log_invariant(log):
    assert list(log) == ["found", "pto", "gain", "cost_pos", "cost_struct", "cost", "idx"]
    assert len({len(v) for v in log.values()}) == 1
    assert np.all(log["idx"] >= 0)
    assert len(log["found"]) <= 2 * int(log["found"].sum()) + 1


def intervals_chain(left, right):
    assert left[0] == -INF and right[-1] == INF
    assert left[1:].tobytes() == right[:-1].tobytes()


def mdlp_full_invariant(r):
    log_invariant(r["mdlp"])
    s = r["summary"]
    if len(s["total"]) == 0:
        return
    intervals_chain(s["left"], s["right"])
    assert np.array_equal(s["total"], s["c0"] + s["c1"])


def mdlp_full_raw_invariant(r):
    log_invariant(r["mdlp"])
    s, meta = r["summary"], r["metadata"]
    assert sum(meta[k] for k in ["n_used", "n_missing_x", "n_missing_y", "n_missing_both",
                                 "n_non_finite"]) == meta["n_input"]
    assert np.array_equal(s["count"], s["c0"] + s["c1"])
    if len(s["count"]):
        assert close_to_one(float(s["percentage"].sum()))
    finite_rows = ~np.isnan(s["left"])
    assert int(s["count"][finite_rows].sum()) == meta["n_used"]
    if meta["n_used"]:
        intervals_chain(s["left"][finite_rows], s["right"][finite_rows])


def cuts_invariant(cuts):
    assert cuts.dtype == np.float64 and cuts.ndim == 1
    assert np.all(np.isfinite(cuts)) and np.all(np.diff(cuts) > 0)


def summary_invariant(r):
    assert np.array_equal(r["count"], r["c0"] + r["c1"])
    assert r["left"][0] == -INF
    if r["count"].sum():
        assert close_to_one(float(r["percentage"].sum()))


def continuous_invariant(r):
    assert r["left"][0] == -INF
    if r["count"].sum():
        assert close_to_one(float(r["percentage"].sum()))


def psi_invariant(r):
    assert close_to_one(float(r["cumulative_reference"][-1]))
    assert close_to_one(float(r["cumulative_current"][-1]))
    assert np.all(r["psi_bin"] >= 0) and 0.0 <= r["ks"] <= 1.0 + 1e-12
    assert r["psi"] == pytest.approx(float(r["psi_bin"].sum()), rel=1e-9, abs=1e-12)


def lorenz_invariant(r):
    assert np.all(np.diff(r["value"]) > 0)
    assert r["cumulative_non_event"][-1] == 1.0 and r["cumulative_event"][-1] == 1.0
    assert -1e-12 <= r["auc"] <= 1.0 + 1e-12 and r["gini"] == (r["auc"] + r["auc"]) - 1.0


def membership_invariant(m):
    assert m.ndim == 2
    assert np.all(np.abs(m.sum(axis=1) - 1.0) <= 1e-12)
    assert np.all((m >= 0.0) & (m <= 1.0))


# -------------------------------------------------------------- the sweep

@SETTINGS
@given(data=st.data())
def test_preprocess(data):
    x, y = draw_pair(data, st.one_of(LABELS.map(float), REALS))
    value = data.draw(st.one_of(st.none(), REALS))
    percentile = data.draw(st.one_of(st.integers(0, 100).map(float), REALS))
    check_layouts(t.preprocess_data_native, [Arr(x), Arr(y), value, percentile],
                  preprocess_invariant)


@SETTINGS
@given(data=st.data())
def test_boundaries(data):
    x, y = draw_pair(data, LABELS)
    check_layouts(t.compute_boundaries, [Arr(sorted(x)), Arr(y, np.int32)], boundary_invariant)
    x, y = draw_pair(data, st.one_of(LABELS.map(float), REALS))
    check_layouts(t.compute_boundaries_raw, [Arr(x), Arr(y), None, 50.0], boundary_invariant)


def search_args(data):
    minobs = data.draw(st.integers(-2, 4))
    mono = data.draw(st.integers(0, 3))
    direction = data.draw(st.integers(-1, 1))
    alpha = data.draw(st.one_of(st.just(1.0), REALS))
    beta = data.draw(st.one_of(st.just(1.0), REALS))
    return [minobs, mono, direction, alpha, beta]


@SETTINGS
@given(data=st.data())
def test_evaluate_segment(data):
    n = data.draw(st.integers(1, 12))
    pto = data.draw(st.lists(REALS, min_size=n, max_size=n))
    steps = data.draw(st.lists(st.tuples(st.integers(0, 3), st.integers(0, 3)), min_size=n, max_size=n))
    c0 = np.cumsum([a for a, _ in steps]) - steps[0][0]
    c1 = np.cumsum([b for _, b in steps]) - steps[0][1]
    left = data.draw(st.integers(0, n))
    right = data.draw(st.integers(0, n))

    def invariant(r):
        assert list(r) == ["found", "pto", "gain", "cost_pos", "cost_struct", "cost", "idx"]
        if r["idx"]:
            assert left < r["idx"] < right
            assert same(r["pto"], float(pto[r["idx"]]))
        assert r["found"] == (r["gain"] > r["cost"])

    check_layouts(t.evaluate_segment, [Arr(pto), Arr(c0, np.int64), Arr(c1, np.int64), left, right]
                  + search_args(data), invariant)


@SETTINGS
@given(data=st.data())
def test_mdlp_family(data):
    params = search_args(data) + [data.draw(st.booleans())]
    x, y = draw_pair(data, LABELS)
    x = sorted(x, key=lambda v: (math.isnan(v), v))
    check_layouts(t.mdlp, [Arr(x), Arr(y, np.int32)] + params, log_invariant)
    check_layouts(t.mdlp_full, [Arr(x), Arr(y, np.int32)] + params, mdlp_full_invariant)
    x, y = draw_pair(data, st.one_of(LABELS.map(float), REALS))
    value = data.draw(st.one_of(st.none(), st.just(0.5)))
    check_layouts(t.mdlp_raw, [Arr(x), Arr(y)] + params + [value, 50.0], log_invariant)
    representative = data.draw(st.sampled_from(["mean", "median"]))
    check_layouts(t.mdlp_full_raw, [Arr(x), Arr(y)] + params + [value, 50.0, representative],
                  mdlp_full_raw_invariant)


@SETTINGS
@given(data=st.data())
def test_binning_splits(data):
    x = data.draw(st.lists(REALS, max_size=30))
    method = data.draw(st.sampled_from(["equal_width", "quantile", "custom"]))
    n_bins = data.draw(st.integers(0, 12))
    range_ = data.draw(st.sampled_from(["full", "quantile", "iqr"]))
    bounds = data.draw(st.tuples(st.sampled_from([0.0, 0.1, 0.5, 0.9, 1.0]),
                                 st.sampled_from([0.0, 0.25, 0.9, 1.0])))
    k = data.draw(st.sampled_from([0.0, 1.5, 3.0]))
    custom = data.draw(st.lists(REALS, max_size=6))
    check_layouts(t.binning_splits, [Arr(x), method, n_bins, range_, *bounds, k, Arr(custom, shaped=True)],
                  cuts_invariant)


@SETTINGS
@given(data=st.data())
def test_binning_transform_and_summaries(data):
    x, y = draw_pair(data, st.sampled_from([0, 1]))
    cuts = data.draw(st.lists(st.one_of(st.integers(-3, 6).map(float), st.floats(-10, 10)),
                              max_size=5))

    def transform_invariant(bins):
        clean = np.unique(np.asarray(cuts, dtype=float))
        xs = np.asarray(x, dtype=float)
        want = np.where(np.isnan(xs), -1, np.searchsorted(clean, xs, side="left"))
        assert bins.dtype == np.int64 and np.array_equal(bins, want)

    check_layouts(t.binning_transform, [Arr(x), Arr(cuts)], transform_invariant)
    representative = data.draw(st.sampled_from(["mean", "median"]))
    check_layouts(t.binning_summary_binary, [Arr(x), Arr(y, np.int32), Arr(cuts), representative],
                  summary_invariant)
    x, y = draw_pair(data, REALS)
    check_layouts(t.binning_summary_continuous, [Arr(x), Arr(y), Arr(cuts), representative],
                  continuous_invariant)


@SETTINGS
@given(data=st.data())
def test_diagnostics(data):
    reference = data.draw(st.lists(REALS, max_size=20))
    current = data.draw(st.lists(REALS, max_size=20))
    cuts = sorted(set(data.draw(st.lists(st.integers(-3, 6).map(float), max_size=4))))
    epsilon = data.draw(st.sampled_from([1e-12, 1e-6, 0.1]))
    check_layouts(t.compare_distributions_native, [Arr(reference), Arr(current), Arr(cuts), epsilon],
                  psi_invariant)
    x, y = draw_pair(data, LABELS)
    check_layouts(t.lorenz_curve_native, [Arr(x), Arr(y, np.int32)], lorenz_invariant)


@SETTINGS
@given(data=st.data())
def test_membership(data):
    x = data.draw(st.lists(REALS, max_size=20))
    reps = sorted(set(data.draw(st.lists(st.integers(-3, 6).map(float), min_size=1, max_size=5))))
    status, m = check_layouts(t.membership_native, [Arr(x), Arr(reps)], membership_invariant)
    assert status == "ok"
    values = data.draw(st.lists(st.floats(-100, 100), min_size=len(reps) + 1,
                                max_size=len(reps) + 1))
    standardize = data.draw(st.booleans())

    def aggregate_invariant(s):
        assert s.shape == (len(x),)
        if not standardize:
            # Interpolation between the values of the neighbouring representatives.
            for row, v in zip(m, s):
                used = np.asarray(values)[row != 0.0]
                assert used.min() - 1e-9 <= v <= used.max() + 1e-9

    check_layouts(t.aggregate_membership_native, [Arr(m, shaped=True), Arr(values), standardize],
                  aggregate_invariant)
