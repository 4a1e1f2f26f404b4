"""count_values against an independent count: NumPy's unique over the rows
whose x is not NaN (0.0 and -0.0 one value, kept as 0.0; infinite values are
values), with the rows of any non-zero label in class 1."""

import math
from fractions import Fraction

import numpy as np
import pytest

from tessaline import _native
from tessaline._binning import optimal
from tessaline._core import native


def numpy_counts(x, labels):
    keep = ~np.isnan(x)
    # Adding 0.0 turns -0.0 into 0.0 and leaves every other value alone.
    value, group = np.unique(x[keep] + 0.0, return_inverse=True)
    rows = np.bincount(group, minlength=value.size)
    ones = np.bincount(group, weights=labels[keep] != 0, minlength=value.size).astype(np.int64)
    return value, rows - ones, ones


def sample(kind, n, rng):
    if kind == "continuous":
        x = rng.normal(size=n)
    elif kind == "ties":
        x = rng.integers(-3, 4, size=n) * 0.5
    elif kind == "scales":  # subnormals to the largest doubles, both signs
        x = rng.choice([5e-324, 1e-310, 1e-3, 1.0, 1e300, 1.7e308], n) * rng.choice([-1.0, 1.0], n)
    else:
        x = rng.normal(600.0, 50.0, n).round(1)
    special = rng.random(n)
    x[special < 0.05] = np.nan
    x[(special >= 0.05) & (special < 0.08)] = 0.0
    x[(special >= 0.08) & (special < 0.11)] = -0.0
    x[(special >= 0.11) & (special < 0.12)] = np.inf
    x[(special >= 0.12) & (special < 0.13)] = -np.inf
    return x


@pytest.mark.parametrize("kind", ["continuous", "ties", "scales", "scores"])
@pytest.mark.parametrize("n", [1, 17, 255, 256, 257, 5000, 300_000])
@pytest.mark.parametrize("events", [0.03, 0.6, 0.97])  # either class rare, or neither
def test_equals_numpy_unique(kind, n, events):
    rng = np.random.default_rng(n)
    x = sample(kind, n, rng)
    event_labels = rng.choice(np.array([1, -2, 7], dtype=np.int32), n)
    labels = np.where(rng.random(n) < events, event_labels, np.int32(0))
    x_before, labels_before = x.copy(), labels.copy()
    counted = _native.count_values(x, labels)
    value, c0, c1 = numpy_counts(x, labels)
    assert counted["value"].view(np.int64).tolist() == value.view(np.int64).tolist()
    assert counted["c0"].tolist() == c0.tolist() and counted["c1"].tolist() == c1.tolist()
    assert x.view(np.int64).tolist() == x_before.view(np.int64).tolist()
    assert (labels == labels_before).all()


@pytest.mark.parametrize(
    "x, labels, expected",
    [
        ([], [], ([], [], [])),
        ([np.nan, np.nan], [0, 1], ([], [], [])),
        ([-0.0], [1], ([0.0], [0], [1])),
        ([-0.0, 0.0, -0.0], [0, 1, 0], ([0.0], [2], [1])),
        (
            [np.inf, -np.inf, np.inf, 2.0],
            [1, 0, 0, 1],
            ([-np.inf, 2.0, np.inf], [1, 0, 1], [0, 1, 1]),
        ),
        ([5.0] * 300, [3] * 300, ([5.0], [0], [300])),
    ],
)
def test_edge_cases(x, labels, expected):
    counted = _native.count_values(np.array(x, dtype=np.float64), np.array(labels, dtype=np.int32))
    value, c0, c1 = expected
    assert counted["value"].tobytes() == np.array(value, dtype=np.float64).tobytes()
    assert counted["c0"].tolist() == c0 and counted["c1"].tolist() == c1


@pytest.mark.parametrize("kind", ["continuous", "ties", "scales", "scores"])
@pytest.mark.parametrize("n, event_rate", [(40, 0.3), (5000, 0.02), (5000, 0.3), (300_000, 0.1)])
def test_counted_prebins_are_the_steps_on_counts(kind, n, event_rate):
    # One call gives what its steps give one by one on the counts: the
    # pre-bins of the default binning (quantiles joined by the class splits).
    rng = np.random.default_rng(n)
    x = sample(kind, n, rng)
    labels = (rng.random(n) < event_rate).astype(np.int32)
    counted = _native.counted_prebins(x, labels, 20, optimal.CLASS_PARTS, optimal.CLASS_PART_SHARE)
    counts = _native.count_values(x, labels)
    expected = native.summary_from_counts(
        counts,
        missing_c0=0,
        missing_c1=0,
        splits=optimal._prebins(counts, 20),
        representative="mean",
    )
    for key in counts:
        assert counted[key].tobytes() == counts[key].tobytes()
    missing = np.isnan(x)
    assert counted["negative_zero"] == ((x == 0) & np.signbit(x)).any()
    assert counted["missing_c0"] == np.count_nonzero(missing & (labels == 0))
    assert counted["missing_c1"] == np.count_nonzero(missing & (labels == 1))
    # Nothing reads a pre-bin's representative, which is left out.
    assert np.isnan(counted["prebins"].pop("representative")).all()
    expected.pop("representative")
    for key, column in expected.items():
        assert np.asarray(counted["prebins"][key]).tobytes() == np.asarray(column).tobytes(), key
    # Medians over any cut points read through the index as from the counts.
    x[: n // 7] = np.nan
    counted = _native.counted_prebins(x, labels, 20, optimal.CLASS_PARTS, optimal.CLASS_PART_SHARE)
    finite = counted["value"][np.isfinite(counted["value"])]
    splits = np.unique(rng.choice(finite, size=min(n, 9)))[:-1]
    by_index = native.median_summary_of_counted(counted, splits)
    by_counts = native.summary_from_counts(
        counted,
        missing_c0=counted["missing_c0"],
        missing_c1=counted["missing_c1"],
        splits=splits,
        representative="median",
    )
    for key, column in by_counts.items():
        assert np.asarray(by_index[key]).tobytes() == np.asarray(column).tobytes(), key


@pytest.mark.parametrize("kind", ["continuous", "ties", "scales", "scores"])
@pytest.mark.parametrize("n, parts", [(40, 1), (40, 2), (5000, 3), (300_000, 1), (300_000, 4)])
def test_prebins_from_counts_are_those_of_the_rows(kind, n, parts):
    # Counts of the rows' parts, taken apart, shuffled together and merged
    # in one call (or one part's, merged already), give what the rows' own
    # count gives, bit for bit.
    rng = np.random.default_rng(n)
    x = sample(kind, n, rng)
    labels = (rng.random(n) < 0.2).astype(np.int32)
    pieces = [
        _native.count_values(*p)
        for p in zip(np.array_split(x, parts), np.array_split(labels, parts))
    ]
    value, c0, c1 = (np.concatenate([p[k] for p in pieces]) for k in ("value", "c0", "c1"))
    if parts > 1:
        # -0.0 where a part holds 0.0, and a group without rows, change nothing.
        value = np.where(value == 0.0, -0.0, value)
        value, c0, c1 = np.r_[value, 7.5], np.r_[c0, 0], np.r_[c1, 0]
        order = rng.permutation(value.size)
        value, c0, c1 = value[order], c0[order], c1[order]
    got = _native.prebins_from_counts(value, c0, c1, 20, 64, 0.01)
    rows = _native.counted_prebins(x, labels, 20, 64, 0.01)
    for key in ("value", "c0", "c1", "index_c0", "index_c1"):
        assert got[key].tobytes() == rows[key].tobytes(), key
    for key, column in rows["prebins"].items():
        assert np.asarray(got["prebins"][key]).tobytes() == np.asarray(column).tobytes(), key


@pytest.mark.parametrize(
    "value, c0, message",
    [
        ([1.0, np.nan], [1, 1], "values must not be NaN and counts not negative"),
        ([1.0, 2.0], [1, -1], "values must not be NaN and counts not negative"),
        ([1.0, 2.0], [1], "value, c0 and c1 must have the same length"),
        ([np.inf, -np.inf], [1, 1], "binning: x no contiene valores finitos"),
    ],
)
def test_prebins_from_counts_refuse_counts_no_merge_reads(value, c0, message):
    with pytest.raises(ValueError, match=message):
        _native.prebins_from_counts(value, c0, np.ones(len(value), np.int64), 20, 64, 0.01)


def test_an_index_of_another_length_is_refused():
    counted = _native.count_values(np.arange(64.0), np.zeros(64, np.int32))
    with pytest.raises(ValueError, match=r"index must hold one entry per 64 values, and one more"):
        _native.summary_binary_from_indexed_counts(
            counted["value"], counted["c0"], counted["c1"], [0], [0], 0, 0, []
        )


def test_counted_prebins_refuse_a_label_other_than_0_or_1():
    with pytest.raises(ValueError, match=r"^counted_prebins: labels must be 0 or 1$"):
        _native.counted_prebins(
            np.arange(4.0), np.array([0, 1, 2, 0], np.int32), 20, optimal.CLASS_PARTS, 0.01
        )


def exact_by_value(x, labels, w):
    """Per distinct value (NaN and zero weights left out, -0.0 as 0.0): the
    weight of each class, each summed exactly (math.fsum), and the records."""
    keep = ~np.isnan(x) & (w > 0.0)
    value, group = np.unique(x[keep] + 0.0, return_inverse=True)
    # The rows of each (value, class) in a run of their own, each run summed.
    cell = 2 * group + (labels[keep] != 0)
    order = np.argsort(cell, kind="stable")
    starts = np.flatnonzero(np.diff(cell[order])) + 1
    sums = np.zeros(2 * value.size)
    for at, run in zip(cell[order][np.r_[0, starts]], np.split(w[keep][order], starts)):
        sums[at] = math.fsum(run)
    return value, sums[0::2], sums[1::2], np.bincount(group, minlength=value.size)


@pytest.mark.parametrize("kind", ["continuous", "ties", "scales"])
@pytest.mark.parametrize("weights", ["ones", "whole", "whole beyond 2^53", "fractional"])
@pytest.mark.parametrize("n", [255, 3000])  # the short sort, and the radix one
def test_weighted_counts_are_the_exact_sums_of_each_value(kind, weights, n):
    rng = np.random.default_rng(7)
    x = sample(kind, n, rng)
    labels = (rng.random(n) < 0.3).astype(np.int32)
    w = {
        "ones": np.ones(n),
        "whole": rng.integers(0, 4, n).astype(float),
        "whole beyond 2^53": rng.choice([0.0, 1.0, 2.0**53], n),
        "fractional": rng.random(n) * rng.choice([1e-3, 1.0, 1e9], n),
    }[weights]
    got = native.count_values_weighted(x, labels, w)
    value, c0, c1, rows = exact_by_value(x, labels, w)
    np.testing.assert_array_equal(got["value"], value)
    np.testing.assert_array_equal(got["c0"], c0)
    np.testing.assert_array_equal(got["c1"], c1)
    np.testing.assert_array_equal(got["rows"], rows)


def exact_continuous(x, y, w):
    """Per distinct finite-or-infinite x (-0.0 as 0.0): records, weight and the
    sums of w*y and w*y^2, each exact (fractions) and rounded once."""
    value, group = np.unique(x + 0.0, return_inverse=True)
    sums = {key: [Fraction(0)] * value.size for key in ("weight", "sum", "sum_sq")}
    for g, yi, wi in zip(group, y, w):
        wy = Fraction(wi) * Fraction(yi)
        for key, term in (("weight", Fraction(wi)), ("sum", wy), ("sum_sq", wy * Fraction(yi))):
            sums[key][g] += term
    # sum w (y - mean)^2 = Q - S^2 / W, exactly.
    spread = [q - s * s / w for w, s, q in zip(sums["weight"], sums["sum"], sums["sum_sq"])]
    rounded = {k: [float(s) for s in v] for k, v in sums.items()}
    return value, np.bincount(group), rounded, [float(d) for d in spread]


@pytest.mark.parametrize("kind", ["continuous", "ties"])
@pytest.mark.parametrize("weighted", [False, True])
def test_continuous_counts_are_the_exact_sums_of_each_value(kind, weighted):
    rng = np.random.default_rng(3)
    n = 2000  # beyond the short sort
    x = sample(kind, n, rng)
    x = x[~np.isnan(x)]
    # Squares down to subnormals unweighted; a weighted product's error is
    # exact only above them.
    tiny = 1e-100 if weighted else 1e-160
    y = rng.normal(0.0, 1.0, x.size) * rng.choice([tiny, 1e-3, 1.0, 1e150], x.size)
    # One value's targets far from 0: their spread cancels away in Q - S^2 / W.
    x[:50], y[:50] = 99.0, 1e6 + rng.normal(0.0, 1e-3, 50)
    y[rng.random(x.size) < 0.1] = -0.0
    w = rng.random(x.size) + 0.25 if weighted else np.ones(x.size)
    got = native.count_continuous(x, y, w if weighted else None)
    value, rows, sums, spread = exact_continuous(x, y, w)
    np.testing.assert_array_equal(got["value"], value)
    np.testing.assert_array_equal(got["rows"], rows)
    for key, expected in sums.items():
        np.testing.assert_array_equal(got[key], expected)
    # The spread is good to a few units in the last place, nothing of it lost
    # where the target's mean dwarfs it.
    np.testing.assert_allclose(got["sum_sq_dev"], spread, rtol=1e-14, atol=0.0)


@pytest.mark.parametrize("order", ["ascending", "shuffled"])
def test_merged_counts_in_order_or_not_add_up_as_numpy_counts(order):
    # Counts in order (a column's counts merged again) skip the sort: runs of
    # a value, both zeros among them, must still be added up.
    rng = np.random.default_rng(5)
    x = np.concatenate([rng.integers(-3, 4, 500) * 0.5, [0.0, -0.0, -0.0, 0.0]])
    labels = rng.integers(0, 2, x.size)
    x = np.sort(x) if order == "ascending" else rng.permutation(x)
    merged = _native.merge_value_counts(x, (labels == 0).astype(np.int64), labels.astype(np.int64))
    expected = numpy_counts(x, labels)
    for key, want in zip(("value", "c0", "c1"), expected):
        np.testing.assert_array_equal(merged[key], want)
    assert not np.signbit(merged["value"][merged["value"] == 0.0]).any()


@pytest.mark.parametrize("weights", ["ones", "fractional"])
def test_weighted_counts_made_in_freed_room_leave_held_counts_as_they_were(weights):
    """The arrays of a column's weighted counts give their room back once freed:
    a count made in it is the exact sums, and counts still held keep theirs."""
    rng = np.random.default_rng(5)
    n = 20_000  # arrays of 160 KiB, enough for their room to be kept
    flags = (rng.random(n) < 0.3).astype(float)
    w = np.ones(n) if weights == "ones" else rng.random(n) + 0.5
    held = native.count_column_weighted(sample("continuous", n, rng), flags, w)
    kept = {key: np.copy(held[key]) for key in ("value", "c0", "c1", "rows")}
    # Each count in the room of the one before, which held other values.
    for kind in ("continuous", "ties", "continuous"):
        x = sample(kind, n, rng)
        counts = native.count_column_weighted(x, flags, w)
        value, c0, c1, rows = exact_by_value(x, flags.astype(np.int32), w)
        for key, want in (("value", value), ("c0", c0), ("c1", c1), ("rows", rows)):
            np.testing.assert_array_equal(counts[key], want)
        del counts
    for key, array in kept.items():
        np.testing.assert_array_equal(held[key], array)
