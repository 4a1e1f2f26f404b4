"""Counts and labels given to the functions on counts are integers: an array
that holds anything else is refused by name, never cast (2.5 would count 2).
Counters and numbers of bins beyond reach are refused as well."""

import os

import numpy as np
import pytest

from tessaline import _native

VALUE = np.array([1.0, 2.0])
ROWS = np.array([3, 1])
COUNTERS = {
    "missing_count": 0,
    "missing_c0": 0,
    "missing_c1": 0,
    "n_input": 8,
    "n_used": 8,
    "n_missing_x": 0,
    "n_missing_y": 0,
    "n_missing_both": 0,
    "n_non_finite": 0,
    "target_was_binary": True,
    "threshold": 0.0,
}
# (function, argument, dtype named in the message, call with that argument set to `a`)
CALLS = [
    ("merge_value_counts", "c0", "int64", lambda a: _native.merge_value_counts(VALUE, a, ROWS)),
    (
        "percentile_from_counts",
        "count",
        "int64",
        lambda a: _native.percentile_from_counts(VALUE, a, 50.0),
    ),
    (
        "quantile_splits_from_counts",
        "c1",
        "int64",
        lambda a: _native.quantile_splits_from_counts(VALUE, ROWS, a, 2),
    ),
    (
        "summary_binary_from_counts",
        "c0",
        "int64",
        lambda a: _native.summary_binary_from_counts(VALUE, a, ROWS, 0, 0, [1.5], "median"),
    ),
    (
        "lorenz_curve_from_counts",
        "c0",
        "int64",
        lambda a: _native.lorenz_curve_from_counts(VALUE, a, ROWS),
    ),
    (
        "mdlp_full_from_counts",
        "c1",
        "int64",
        lambda a: _native.mdlp_full_from_counts(
            VALUE, ROWS, a, COUNTERS, 0, 0, 0, 1.0, 1.0, False, "median"
        ),
    ),
    (
        "compare_distributions_from_counts",
        "count_current",
        "int64",
        lambda a: _native.compare_distributions_from_counts(
            [1, 2, 0], np.append(a, a[1:]), [1.5], 1e-4
        ),
    ),
    ("count_values", "labels", "int32", lambda a: _native.count_values(VALUE, a)),
]
BAD = [
    (np.array([2.5, 1.0]), "2.5"),
    (np.array([np.nan, 1.0]), "nan"),
    (np.array([2.0**63, 1.0]), "9.223372036854776e+18"),
    (np.array([2**63, 1], dtype=np.uint64), "9223372036854775808"),
    (np.array(["3", "1"]), "an array of dtype <U1"),
]


@pytest.mark.parametrize("function, argument, dtype, call", CALLS, ids=[c[0] for c in CALLS])
@pytest.mark.parametrize(
    "array, found", BAD, ids=["fraction", "nan", "float_2_63", "uint_2_63", "strings"]
)
def test_non_integer_counts_are_refused(function, argument, dtype, call, array, found):
    with pytest.raises(ValueError) as error:
        call(array)
    assert str(error.value) == f"{function}: {argument} must hold integers ({dtype}), not {found}"


@pytest.mark.parametrize("function, argument, dtype, call", CALLS, ids=[c[0] for c in CALLS])
def test_whole_floats_count_as_integers(function, argument, dtype, call):
    assert repr(call(np.array([3.0, 1.0]))) == repr(call(np.array([3, 1])))


@pytest.mark.parametrize("bad", [-1, 2.0, "6"])
def test_counters_are_counts_of_rows(bad):
    with pytest.raises(ValueError) as error:
        _native.mdlp_full_from_counts(
            VALUE, ROWS, ROWS, {**COUNTERS, "n_input": bad}, 0, 0, 0, 1.0, 1.0, False, "median"
        )
    assert (
        str(error.value)
        == f'mdlp_full_from_counts: counters["n_input"] must be a count of rows, not {bad!r}'
    )


# The MDLP search on counts names its function and the mode it refuses.
SEARCHES = [
    (
        "mdlp_full_from_counts",
        lambda mode: _native.mdlp_full_from_counts(
            VALUE, ROWS, ROWS, COUNTERS, 0, mode, 0, 1.0, 1.0, False, "median"
        ),
    ),
    (
        "mdlp_from_counts",
        lambda mode: _native.mdlp_splits_from_weighted_counts(
            VALUE, [3.0, 1.0], [3.0, 1.0], ROWS, 0, mode, 0, 1.0, 1.0, False
        ),
    ),
]


@pytest.mark.parametrize("function, call", SEARCHES, ids=[s[0] for s in SEARCHES])
@pytest.mark.parametrize("mode", [4, -1])
def test_monotonicity_outside_its_modes_is_refused(function, call, mode):
    with pytest.raises(ValueError) as error:
        call(mode)
    assert str(error.value) == f"{function}: monotonicity must be 0, 1, 2 or 3, not {mode}"


@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""), reason="allocation failure is fatal under ASan"
)
@pytest.mark.parametrize("n_bins", [2**62, 2**64 - 1])  # beyond memory, beyond any vector
def test_quantile_cuts_beyond_memory_raise_memory_error(n_bins):
    with pytest.raises(MemoryError):
        _native.quantile_splits_from_counts(VALUE, ROWS, ROWS, n_bins)
