"""One valid call of every array-taking function of _tessaline, the positions of
its array arguments, and the comparison of results used across the suite."""

import math
import struct

import numpy as np

import _tessaline as t

X4 = [1.0, 2.0, 3.0, 4.0]
Y4 = [0.0, 0.0, 1.0, 1.0]
L4 = [0, 0, 1, 1]
SEARCH = [0, 0, 0, 1.0, 1.0, False]  # minobs, monotonicity, mono_dir, alpha, beta, force
SEGMENT = [[1.0, 2.5, 4.0], [0, 2, 2], [0, 0, 2]]

CALLS = {
    "compute_boundaries": (t.compute_boundaries, [X4, L4], [0, 1]),
    "compute_boundaries_raw": (t.compute_boundaries_raw, [X4, Y4], [0, 1]),
    "evaluate_segment": (t.evaluate_segment, SEGMENT + [0, 2, 0, 0, 0, 1.0, 1.0], [0, 1, 2]),
    "mdlp_full": (t.mdlp_full, [X4, L4] + SEARCH, [0, 1]),
    "mdlp": (t.mdlp, [X4, L4] + SEARCH, [0, 1]),
    "mdlp_raw": (t.mdlp_raw, [X4, Y4] + SEARCH, [0, 1]),
    "mdlp_full_raw": (t.mdlp_full_raw, [X4, Y4] + SEARCH, [0, 1]),
    "preprocess_data_native": (t.preprocess_data_native, [X4, Y4], [0, 1]),
    "binning_splits": (t.binning_splits, [X4, "custom", 3, "full", 0.0, 1.0, 1.5, [2.5]], [0, 7]),
    "binning_transform": (t.binning_transform, [X4, [2.5]], [0, 1]),
    "binning_summary_binary": (t.binning_summary_binary, [X4, L4, [2.5]], [0, 1, 2]),
    "binning_summary_continuous": (t.binning_summary_continuous, [X4, Y4, [2.5]], [0, 1, 2]),
    "compare_distributions_native": (
        t.compare_distributions_native,
        [X4, X4[::-1], [2.5]],
        [0, 1, 2],
    ),
    "lorenz_curve_native": (t.lorenz_curve_native, [X4, L4], [0, 1]),
    "membership_native": (t.membership_native, [X4, [0.0, 5.0]], [0, 1]),
    "aggregate_membership_native": (
        t.aggregate_membership_native,
        [[[1.0, 0.0], [0.5, 0.5]], [1.0, 2.0]],
        [0, 1],
    ),
}


def outcome(fn, args):
    try:
        return "ok", fn(*args)
    except (TypeError, ValueError, MemoryError, RuntimeError, OverflowError, IndexError) as e:
        return type(e).__name__, str(e)


def same(a, b):
    """Equal down to the dtype, the shape and every bit (NaN equals NaN)."""
    if isinstance(a, dict):
        return isinstance(b, dict) and list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, (list, tuple)):
        return type(a) is type(b) and len(a) == len(b) and all(map(same, a, b))
    if isinstance(a, np.ndarray):
        return (
            isinstance(b, np.ndarray)
            and a.dtype == b.dtype
            and a.shape == b.shape
            and a.tobytes() == b.tobytes()
        )
    if isinstance(a, float):
        return isinstance(b, float) and (
            struct.pack("<d", a) == struct.pack("<d", b) or (math.isnan(a) and math.isnan(b))
        )
    return type(a) is type(b) and a == b
