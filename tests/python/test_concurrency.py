"""Eight threads call every function that releases the interpreter lock, 200
times each, on shared read-only inputs: every result equals the serial one."""
import math
import struct
import threading

import numpy as np
import pytest

import _tessaline as t

THREADS = 8
CALLS = 200


def readonly(a):
    a = np.ascontiguousarray(a)
    a.flags.writeable = False
    return a


def shared_inputs():
    rng = np.random.default_rng(8)
    n = 2000
    x = np.where(rng.random(n) < 0.5, rng.integers(0, 12, n) * 0.5, rng.normal(3.0, 2.0, n))
    x[rng.random(n) < 0.05] = np.nan
    x[:3] = [np.inf, -np.inf, -0.0]
    y_continuous = rng.normal(0.0, 1.0, n) + np.nan_to_num(x, posinf=9, neginf=-9) * 0.3
    y_continuous[rng.random(n) < 0.03] = np.nan
    labels = (rng.random(n) < 0.3 + 0.05 * np.clip(np.nan_to_num(x), 0, 6)).astype(np.int32)
    return {
        "x": readonly(x),
        "y_continuous": readonly(y_continuous),
        "y_binary": readonly(labels.astype(np.float64)),
        "labels": readonly(labels),
        "cuts": readonly(np.array([0.5, 2.0, 3.5, 5.0])),
        "none": readonly(np.array([])),
    }


def calls(d):
    search = (2, 1, 1, 1.0, 1.0, False)
    return {
        "compute_boundaries_raw": lambda: t.compute_boundaries_raw(d["x"], d["y_continuous"], None, 40.0),
        "mdlp_raw": lambda: t.mdlp_raw(d["x"], d["y_binary"], *search),
        "mdlp_full_raw": lambda: t.mdlp_full_raw(d["x"], d["y_continuous"], *search, 0.2, 50.0, "mean"),
        "binning_splits": lambda: [
            t.binning_splits(d["x"], "equal_width", 6, "iqr", 0.0, 1.0, 1.5, d["none"]),
            t.binning_splits(d["x"], "quantile", 8, "full", 0.0, 1.0, 0.0, d["none"]),
        ],
        "binning_transform": lambda: t.binning_transform(d["x"], d["cuts"]),
        "binning_summary_binary": lambda: t.binning_summary_binary(d["x"], d["labels"], d["cuts"]),
        "binning_summary_continuous": lambda: t.binning_summary_continuous(
            d["x"], d["y_continuous"], d["cuts"], "median"),
    }


def same(a, b):
    if isinstance(a, dict):
        return isinstance(b, dict) and list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return isinstance(b, list) and len(a) == len(b) and all(map(same, a, b))
    if isinstance(a, np.ndarray):
        return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()
    if isinstance(a, float):
        return struct.pack("<d", a) == struct.pack("<d", b) or (math.isnan(a) and math.isnan(b))
    return a == b


@pytest.mark.parametrize("name", list(calls(shared_inputs())))
def test_threads_see_the_serial_result(name):
    d = shared_inputs()
    call = calls(d)[name]
    serial = call()
    start = threading.Barrier(THREADS)
    mismatches = []
    errors = []

    def worker():
        try:
            start.wait()
            for _ in range(CALLS):
                if not same(call(), serial):
                    mismatches.append(1)
        except BaseException as e:  # reported below, in the main thread
            errors.append(e)

    threads = [threading.Thread(target=worker) for _ in range(THREADS)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert not errors
    assert not mismatches
    # The shared inputs are exactly as they were.
    assert same(shared_inputs(), d)


def test_all_functions_at_once():
    """Every thread runs every function in turn, from different starting
    points, so that different functions overlap as well."""
    d = shared_inputs()
    table = list(calls(d).items())
    serial = {name: call() for name, call in table}
    start = threading.Barrier(THREADS)
    bad = []

    def worker(offset):
        start.wait()
        for round_ in range(CALLS // 10):
            for j in range(len(table)):
                name, call = table[(j + offset) % len(table)]
                if not same(call(), serial[name]):
                    bad.append(name)

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert bad == []
