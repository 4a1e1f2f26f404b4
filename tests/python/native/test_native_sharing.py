"""What callers share with _tessaline: their arrays, never modified and never
aliased by a result, read the same whatever their layout or dtype; the
interpreter lock, released by the seven heavy functions, which stay correct
under threads; and memory, whose exhaustion is a MemoryError."""

import os
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest
from native_calls import CALLS, outcome, same

import _tessaline as t

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

NAN, INF, MAX = float("nan"), float("inf"), 1.7976931348623157e308
# Doubles that break numeric code, beside ordinary ones and small integers (ties).
SPECIAL = [
    0.0,
    -0.0,
    0.5,
    1.0,
    -1.0,
    2.0,
    NAN,
    INF,
    -INF,
    5e-324,
    2.2250738585072014e-308,
    MAX,
    -MAX,
    1e308,
    -1e308,
    0.1,
    1e-300,
]
REALS = st.one_of(st.integers(-3, 6).map(float), st.sampled_from(SPECIAL), st.floats())
LABELS = st.sampled_from([0, 1, 0, 1, -1, 2])
KINDS = ["c", "list", "fortran", "strided", "reversed", "other_dtype"]


class Arr:
    """An array argument; `shaped` when the function checks its dimensions."""

    def __init__(self, values, dtype=np.float64, shaped=False):
        self.values, self.shaped = np.asarray(values, dtype=dtype), shaped


def layout(arg, kind):
    """The argument in one layout; every layout holds the same values in C order."""
    if not isinstance(arg, Arr):
        return arg
    a = arg.values
    if kind == "list":  # a list of no rows has lost its second dimension
        return a.copy() if arg.shaped and a.shape[0] == 0 else a.tolist()
    if kind == "fortran" and arg.shaped:
        return np.asfortranarray(a)
    if kind == "fortran" and a.size % 2 == 0 and a.size:
        return np.asfortranarray(a.reshape(a.size // 2, 2))  # read flat in C order: a again
    if kind == "strided":
        wide = np.zeros(a.shape[:-1] + (2 * a.shape[-1],), dtype=a.dtype)
        wide[..., ::2] = a
        return wide[..., ::2]
    if kind == "reversed":
        return a[..., ::-1].copy()[..., ::-1]
    if kind == "other_dtype":  # both need a converted copy
        return a.astype(np.float64) if a.dtype != np.float64 else a.astype(">f8")
    return a.copy()


def arrays_in(result):
    if isinstance(result, dict):
        for v in result.values():
            yield from arrays_in(v)
    elif isinstance(result, np.ndarray):
        yield result


def check_layouts(fn, args):
    """Same outcome in every layout, inputs untouched, fresh result arrays."""
    reference = None
    for kind in KINDS:
        call_args = [layout(a, kind) for a in args]
        before = [a.copy() if isinstance(a, np.ndarray) else a for a in call_args]
        status, result = outcome(fn, call_args)
        # Generated arguments always convert, and the internal consistency
        # check (RuntimeError) never fires: only validation may fail.
        assert status in ("ok", "ValueError"), result
        for b, a in zip(before, call_args):
            assert not isinstance(b, np.ndarray) or (
                b.tobytes() == a.tobytes() and b.shape == a.shape
            )
        results = list(arrays_in(result)) if status == "ok" else []
        for i, r in enumerate(results):
            assert r.flags.owndata and r.flags.c_contiguous
            for other in results[i + 1 :] + [a for a in call_args if isinstance(a, np.ndarray)]:
                assert not np.shares_memory(r, other)
        reference = reference or (status, result)
        assert reference[0] == status and same(reference[1], result), kind


SEARCH = [st.integers(-2, 4), st.integers(0, 3), st.integers(-1, 1), REALS, REALS, st.booleans()]
# Scalar arguments drawn beside the arrays, by position.
SCALARS = {
    "compute_boundaries_raw": {2: st.one_of(st.none(), REALS), 3: REALS},
    "evaluate_segment": dict(enumerate([st.integers(0, 3)] * 2 + SEARCH[:5], 3)),
    "mdlp_full": dict(enumerate(SEARCH, 2)),
    "mdlp": dict(enumerate(SEARCH, 2)),
    "mdlp_raw": dict(enumerate(SEARCH + [st.one_of(st.none(), REALS), REALS], 2)),
    "mdlp_full_raw": dict(
        enumerate(
            SEARCH + [st.one_of(st.none(), REALS), REALS, st.sampled_from(["mean", "median"])], 2
        )
    ),
    "preprocess_data_native": {2: st.one_of(st.none(), REALS), 3: REALS},
    "binning_splits": dict(
        enumerate(
            [
                st.sampled_from(["equal_width", "quantile", "custom"]),
                st.integers(0, 12),
                st.sampled_from(["full", "quantile", "iqr"]),
                st.sampled_from([0.0, 0.1, 0.5, 0.9, 1.0]),
                st.sampled_from([0.0, 0.25, 0.9, 1.0]),
                st.sampled_from([0.0, 1.5, 3.0]),
            ],
            1,
        )
    ),
    "compare_distributions_native": {3: st.sampled_from([1e-12, 1e-6, 0.1])},
    "aggregate_membership_native": {2: st.booleans()},
}


CUT_ARGS = {
    ("binning_splits", 7),
    ("binning_transform", 1),
    ("binning_summary_binary", 2),
    ("binning_summary_continuous", 2),
    ("compare_distributions_native", 2),
    ("membership_native", 1),
}


def draw_args(name, draw):
    """Arrays of one length n, in the dtype of the valid call (2-D keeps its
    columns), with special doubles, ties and out-of-range labels."""
    _, args, positions = CALLS[name]
    n = draw(st.integers(0, 24))
    args = list(args) + [None] * (max(SCALARS.get(name, {0: 0})) + 1 - len(args))
    for pos in positions:
        template = np.asarray(args[pos])
        dtype = np.int32 if template.dtype.kind == "i" else np.float64
        if (name, pos) in CUT_ARGS:  # cut points and representatives: mostly valid ones
            args[pos] = Arr(
                sorted(set(draw(st.lists(st.integers(-3, 6).map(float), min_size=1, max_size=5)))),
                shaped=True,
            )
            continue
        rows = (
            np.shape(CALLS[name][1][0])[1]
            if (name, pos) == ("aggregate_membership_native", 1)
            else n
        )
        labels = st.sampled_from([0, 1]) if "binning" in name or "lorenz" in name else LABELS
        values = draw(
            st.lists(
                labels if dtype == np.int32 else st.one_of(LABELS.map(float), REALS),
                min_size=rows * template[0].size,
                max_size=rows * template[0].size,
            )
        )
        args[pos] = Arr(
            np.reshape(np.asarray(values, dtype), (rows,) + template.shape[1:]),
            dtype,
            shaped=template.ndim == 2 or name == "binning_splits",
        )
    for pos, strategy in SCALARS.get(name, {}).items():
        args[pos] = draw(strategy)
    return args


@pytest.mark.parametrize("name", list(CALLS))
@settings(
    max_examples=25,
    deadline=None,
    derandomize=True,
    database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
@given(data=st.data())
def test_inputs_are_read_alike_in_every_layout_and_left_untouched(name, data):
    check_layouts(CALLS[name][0], draw_args(name, data.draw))


# ------------------------------------------------------------------ threads


def readonly(a):
    a = np.ascontiguousarray(a)
    a.flags.writeable = False
    return a


def shared_inputs(n=2000):
    rng = np.random.default_rng(8)
    x = np.where(rng.random(n) < 0.5, rng.integers(0, 12, n) * 0.5, rng.normal(3.0, 2.0, n))
    x[rng.random(n) < 0.05] = np.nan
    x[:3] = [np.inf, -np.inf, -0.0]
    y = rng.normal(0.0, 1.0, n) + np.nan_to_num(x, posinf=9, neginf=-9) * 0.3
    y[rng.random(n) < 0.03] = np.nan
    labels = (rng.random(n) < 0.3 + 0.05 * np.clip(np.nan_to_num(x), 0, 6)).astype(np.int32)
    return {
        "x": readonly(x),
        "y": readonly(y),
        "binary": readonly(labels.astype(np.float64)),
        "labels": readonly(labels),
        "cuts": readonly(np.linspace(0.5, 5.0, 64)),
        "none": readonly(np.array([])),
    }


def releasing_calls(d):
    """The seven functions that release the interpreter lock."""
    search = (2, 1, 1, 1.0, 1.0, False)
    return {
        "compute_boundaries_raw": lambda: t.compute_boundaries_raw(d["x"], d["y"], None, 40.0),
        "mdlp_raw": lambda: t.mdlp_raw(d["x"], d["binary"], *search),
        "mdlp_full_raw": lambda: t.mdlp_full_raw(d["x"], d["y"], *search, 0.2, 50.0, "mean"),
        "binning_splits": lambda: t.binning_splits(
            d["x"], "quantile", 8, "iqr", 0.0, 1.0, 1.5, d["none"]
        ),
        "binning_transform": lambda: t.binning_transform(d["x"], d["cuts"]),
        "binning_summary_binary": lambda: t.binning_summary_binary(d["x"], d["labels"], d["cuts"]),
        "binning_summary_continuous": lambda: t.binning_summary_continuous(
            d["x"], d["y"], d["cuts"], "median"
        ),
    }


def test_threads_see_the_serial_results():
    """Eight threads run all seven functions in turn from different starting
    points, so that the same and different functions overlap."""
    d = shared_inputs()
    table = list(releasing_calls(d).items())
    serial = {name: call() for name, call in table}
    start, bad = threading.Barrier(8), []

    def worker(offset):
        try:
            start.wait()
            for i in range(40 * len(table)):
                name, call = table[(i + offset) % len(table)]
                if not same(call(), serial[name]):
                    bad.append(name)
        except BaseException as e:  # reported in the main thread
            bad.append(e)

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(8)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert bad == [] and same(shared_inputs(), d)


@pytest.fixture(scope="module")
def long_calls():
    return releasing_calls(shared_inputs(3_000_000))


def longest_pause_share(call) -> float:
    """The longest pause between two steps of this thread's Python while
    another thread makes `call`, as a share of the call's length."""
    done = threading.Event()
    worker = threading.Thread(target=lambda: (call(), done.set()))
    last = begin = time.perf_counter()
    longest = 0.0
    worker.start()
    while not done.is_set():
        now = time.perf_counter()
        longest, last = max(longest, now - last), now
    worker.join()
    return longest / (time.perf_counter() - begin)


@pytest.mark.parametrize("name", list(releasing_calls({})))
def test_the_lock_is_released_during_the_call(name, long_calls):
    # While one long call runs, this thread keeps running Python: no pause
    # between two of its steps comes near the call's own length, as it would
    # in every attempt if the call held the lock throughout. A busy machine
    # may stop this thread once for that long, hardly three times running.
    shares = []
    while len(shares) < 3 and (not shares or shares[-1] >= 0.5):
        shares.append(longest_pause_share(long_calls[name]))
    assert shares[-1] < 0.5, shares


# ----------------------------------------------------------------- memory

ALLOCATION_FAILURES = textwrap.dedent("""
    import resource
    import numpy as np
    import _tessaline as t

    x = np.arange(4_000_000, dtype=np.float64)
    y = x % 2
    with open("/proc/self/status") as status:
        in_use = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize"))
    # Room for small results only: every call below needs far more.
    resource.setrlimit(resource.RLIMIT_AS, (in_use + 48 * 2**20, resource.RLIM_INFINITY))
    for call in [lambda: t.membership_native(x[:100_000], np.arange(1000.0)),
                 lambda: t.binning_splits(x[:10], "equal_width", 10**8, "full", 0, 1, 0, []),
                 lambda: t.preprocess_data_native(x, y),
                 lambda: t.mdlp_full_raw(x, y, 0, 0, 0, 1.0, 1.0, False),
                 lambda: t.lorenz_curve_native(x, y.astype(np.int32)),
                 lambda: t.binning_summary_continuous(x, y, [], "median")]:
        try:
            call()
            print("ok")
        except MemoryError:
            print("MemoryError")
    # The interpreter goes on working after every failure.
    print(t.suma(1, 2), t.binning_transform([1.0, 5.0], [2.0]).tolist())
""")


@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""), reason="allocation failure is fatal under ASan"
)
@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/status")
def test_allocation_failure_is_a_memory_error():
    done = subprocess.run(
        [sys.executable, "-c", ALLOCATION_FAILURES],
        capture_output=True,
        text=True,
        env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)),
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["MemoryError"] * 6 + ["3.0 [0, 1]"]
