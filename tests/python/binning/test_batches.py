"""Counts kept by batch: however the rows are split, and whenever the held
batches are merged, the merged counts are those of all the rows at once."""

import numpy as np
import pytest
from package_under_test import tessaline as tl

batches = tl._binning.batches


def rows(seed, n=1000):
    """Repeated values, both zeros, infinities, NaN values and NaN targets."""
    rng = np.random.default_rng(seed)
    x = rng.choice([-np.inf, -1.5, -0.0, 0.0, 0.25, 2.0, np.inf, np.nan], n)
    x = np.where(rng.random(n) < 0.5, np.round(rng.normal(size=n), 1), x)
    flags = (rng.random(n) < 0.3).astype(np.float64)
    flags[rng.random(n) < 0.05] = np.nan
    return x, flags, rng.random(n) * 2.0


@pytest.mark.parametrize("weighted", [False, True])
@pytest.mark.parametrize("floor", [1, 64, 1 << 16])  # merged at almost every batch, or at the read
def test_counts_merged_from_batches_are_those_of_all_the_rows(monkeypatch, weighted, floor):
    monkeypatch.setattr(batches, "SETTLE_FLOOR", floor)
    monkeypatch.setattr(batches, "HELD_ROWS", 0)
    x, flags, w = rows(7)
    kept = batches.Batches(["x"])
    for part in np.array_split(np.arange(x.size), 23):
        kept.add({"x": x[part]}, flags[part], w[part] if weighted else None, 1)
    merged = kept.merged_groups(1)["x"]
    whole = batches.batch_groups(x, flags, w if weighted else None)
    np.testing.assert_array_equal(merged.keys, whole.keys)
    for name in ("rows", "known", "ones"):
        np.testing.assert_array_equal(getattr(merged, name), getattr(whole, name))
    if weighted:
        for a, b in zip(merged.weights, whole.weights):
            np.testing.assert_array_equal(a.sums(), b.sums())


@pytest.mark.parametrize("unknown", [0.0, 0.05], ids=["targets known", "some unknown"])
def test_categories_counted_by_batch_are_those_of_all_the_rows(unknown):
    # Batches whose targets are all known are counted in one pass of the
    # core, the others by NumPy: both as the rows of all batches together.
    rng = np.random.default_rng(3)
    names = ["a", "b", "c", "d"]
    codes = rng.integers(-1, len(names), 2000).astype(np.int32)
    codes[codes == 2] = 3  # a name no row holds
    flags = (rng.random(codes.size) < 0.3).astype(np.float64)
    flags[rng.random(codes.size) < unknown] = np.nan
    column = tl._core.categories.Encoded(codes, names)
    kept = batches.Batches(["g"])
    for part in np.array_split(np.arange(codes.size), 9):
        kept.add({"g": tl._core.categories.Encoded(codes[part], names)}, flags[part], None, 1)
    merged = kept.merged_groups(1)["g"]
    whole = batches.batch_groups(column, flags)
    assert merged.keys.tolist() == whole.keys.tolist() == [None, "a", "b", "d"]
    for name in ("rows", "known", "ones"):
        np.testing.assert_array_equal(getattr(merged, name), getattr(whole, name))


def test_rows_held_between_batches_are_not_the_callers():
    # The caller may reuse its arrays for the next batch: what was held must not change.
    x, flags, _ = rows(3)
    kept = batches.Batches(["x"])
    values, labels = x.copy(), flags.copy()
    kept.add({"x": values}, labels, None, 1)
    values[:], labels[:] = 0.5, 1.0
    merged = kept.merged_groups(1)["x"]
    whole = batches.batch_groups(x, flags)
    np.testing.assert_array_equal(merged.keys, whole.keys)
    np.testing.assert_array_equal(merged.ones, whole.ones)


@pytest.mark.parametrize("distinct", [False, True])
def test_what_is_held_between_batches_stays_within_a_few_times_the_distinct_values(
    monkeypatch, distinct
):
    monkeypatch.setattr(batches, "SETTLE_FLOOR", 16)
    monkeypatch.setattr(batches, "HELD_ROWS", 0)
    x, flags, _ = rows(5, 4000)
    if distinct:
        x = np.random.default_rng(5).random(x.size)
    kept = batches.Batches(["x"])
    for end in range(100, x.size + 1, 100):
        kept.add({"x": x[end - 100 : end]}, flags[end - 100 : end], None, 1)
        seen = np.unique(x[:end]).size  # NaN values apart, each its own
        held = sum(g.keys.size for g in kept.groups["x"]) + sum(v.size for v, _ in kept.rows["x"])
        assert held <= (1 + batches.SETTLE_FACTOR) * max(seen, batches.SETTLE_FLOOR)


def test_rows_held_uncounted_share_one_room_among_the_columns(monkeypatch):
    # Three columns of at most 101 values share 3000 rows: nothing is counted
    # while every row fits, and what is held uncounted never passes the room
    # by more than a batch.
    monkeypatch.setattr(batches, "SETTLE_FLOOR", 16)
    monkeypatch.setattr(batches, "HELD_ROWS", 3000)
    x = np.round(np.random.default_rng(2).random((3, 4000)), 2)
    flags = (x[0] < 0.3).astype(np.float64)
    kept = batches.Batches(["a", "b", "c"])
    for end in range(100, 4001, 100):
        part = slice(end - 100, end)
        kept.add({"a": x[0, part], "b": x[1, part], "c": x[2, part]}, flags[part], None, 1)
        uncounted = sum(v.size for name in "abc" for v, _ in kept.rows[name])
        assert uncounted <= 3000 + 3 * 100
        assert any(kept.groups[name] for name in "abc") == (3 * end > 3000)


@pytest.mark.parametrize("floor", [1, 1 << 16])  # runs held apart, or rows held uncounted
def test_searched_counts_read_where_held_are_those_of_the_merged_groups(monkeypatch, floor):
    monkeypatch.setattr(batches, "SETTLE_FLOOR", floor)
    monkeypatch.setattr(batches, "HELD_ROWS", 0)
    x, flags, _ = rows(11, 3000)
    kept = batches.Batches(["x"])
    for part in np.array_split(np.arange(x.size), 7):
        kept.add({"x": x[part]}, flags[part], None, 1)
    held = [id(g) for g in kept.groups["x"]] + [id(r) for r in kept.rows["x"]]
    read = batches.column_counts(kept.merged_groups(2, ["x"])["x"], categorical=False)
    # Nothing held changed.
    assert [id(g) for g in kept.groups["x"]] + [id(r) for r in kept.rows["x"]] == held
    whole = batches.column_counts(batches.batch_groups(x, flags), categorical=False)
    np.testing.assert_array_equal(read.rows, whole.rows)
    np.testing.assert_array_equal(read.events, whole.events)
    assert read.finite_range == whole.finite_range
    counts = tl._binning.column_counts
    searched = [counts.KEPT, counts.INF_KNOWN]
    for key, values in whole.values(searched).items():
        np.testing.assert_array_equal(read.prebinned[key], values)
    # Every kind's counts, whether or not they lie in one stretch of the read.
    for kinds in ([counts.KEPT], [counts.INF_KNOWN], [counts.SPECIAL], searched):
        for key, values in whole.values(kinds).items():
            np.testing.assert_array_equal(read.values(kinds)[key], values)
