"""Another thread writing a call's input arrays without the interpreter lock
(here NumPy's copy loop, which releases it) may give garbage results or a
stated ValueError, but never a crash or a write outside the call's buffers.
The race is deliberate; under make sanitize any stray access is reported."""

import contextlib
import threading
import time

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

import _tessaline as t

N = 1 << 16  # past every sampled and bucketed path of the kernels
HOSTILE = [np.nan, np.inf, -np.inf, -1e300, 1e300, -0.0, 0.0, 1.0, 2.0, -1.0, 0.5]


def inputs():
    i = np.arange(N)
    return {
        "x": np.sin(i) * 100.0,
        "y": (i % 3 == 0).astype(np.float64),
        "labels": (i % 2).astype(np.int32),
        "reps": np.array([-1.0, 0.0, 1.0, 2.0]),
        "cuts": np.linspace(-50.0, 50.0, 33),
    }


CALLS = {
    "preprocess_data_native": lambda a: t.preprocess_data_native(a["x"], a["y"]),
    "compute_boundaries_raw": lambda a: t.compute_boundaries_raw(a["x"], a["x"], percentile=30.0),
    "mdlp_raw": lambda a: t.mdlp_raw(a["x"], a["y"], 100, 0, 0, 1.0, 1.0, False),
    "mdlp_full_raw": lambda a: t.mdlp_full_raw(a["x"], a["y"], 100, 0, 0, 1.0, 1.0, False),
    "binning_splits": lambda a: t.binning_splits(
        a["x"], "quantile", 10, "full", 0.0, 1.0, 1.5, a["reps"]
    ),
    "binning_splits custom": lambda a: t.binning_splits(
        a["x"], "custom", 0, "full", 0.0, 1.0, 1.5, a["cuts"]
    ),
    "binning_transform": lambda a: t.binning_transform(a["x"], a["cuts"]),
    "binning_summary_binary": lambda a: t.binning_summary_binary(a["x"], a["labels"], a["cuts"]),
    "binning_summary_continuous": lambda a: t.binning_summary_continuous(a["x"], a["y"], a["cuts"]),
    "compare_distributions_native": lambda a: t.compare_distributions_native(
        a["x"], a["y"], a["cuts"]
    ),
    "lorenz_curve_native": lambda a: t.lorenz_curve_native(a["x"], a["labels"]),
    "membership_native": lambda a: t.membership_native(a["x"], a["reps"]),
}


def writer(arrays, stop):
    """Rewrites every input many times per call, in native loops that run
    without the interpreter lock."""
    rng = np.random.default_rng(7)
    patterns = {
        name: rng.choice(
            np.array(HOSTILE, dtype=a.dtype)
            if a.dtype.kind == "f"
            else np.array([-1, 0, 1, 2, 7], dtype=a.dtype),
            size=(8, a.size),
        )
        for name, a in arrays.items()
    }
    while not stop.is_set():
        for name, a in arrays.items():
            np.copyto(as_strided(a, shape=(8, a.size), strides=(0, a.itemsize)), patterns[name])


@pytest.mark.parametrize("name", sorted(CALLS))
def test_inputs_rewritten_during_the_call(name):
    arrays = inputs()
    stop = threading.Event()
    thread = threading.Thread(target=writer, args=(arrays, stop))
    thread.start()
    try:
        until = time.monotonic() + 0.3
        while time.monotonic() < until:
            with contextlib.suppress(ValueError):  # a stated error of what the call read
                CALLS[name](arrays)
    finally:
        stop.set()
        thread.join()
