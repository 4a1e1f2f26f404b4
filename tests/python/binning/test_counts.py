"""Tables from counts merged elsewhere equal the local functions on the same
rows, bit for bit: the counts are built here with NumPy, grouped by value (or
category) as an engine groups them."""

import numpy as np
import pytest
from package_under_test import tessaline as tl

from tessaline._binning import column_counts as counted
from tessaline._binning import optimal
from tessaline._core import native
from tessaline._core.categories import category_name

SPECIAL = -999.0


def rows(n=4000, seed=11):
    """Numbers with ties, NaN, infinities and a special value; categories with
    rare and missing ones; codes as floats; a 0/1 target with missing rows.
    No -0.0: an engine groups it with 0.0 (a documented difference)."""
    rng = np.random.default_rng(seed)
    x = np.round(rng.normal(size=n) * 3, 1) + 0.05
    x[rng.random(n) < 0.04] = np.nan
    x[rng.random(n) < 0.01] = np.inf
    x[rng.random(n) < 0.01] = -np.inf
    x[rng.random(n) < 0.03] = SPECIAL
    y = (rng.random(n) < 1 / (1 + np.exp(-np.nan_to_num(x, posinf=5, neginf=-5) / 3))).astype(float)
    y[rng.random(n) < 0.03] = np.nan
    grade = np.array(list("ABCDEFG") + ["rare"], dtype=object)[
        np.minimum(rng.geometric(0.35, n) - 1, 7)
    ]
    grade[rng.random(n) < 0.05] = None
    code = rng.integers(1, 5, n).astype(float)
    code[rng.random(n) < 0.02] = np.nan
    return {"x": x, "grade": grade, "code": code}, y


def grouped(keys, y):
    """Rows, rows of known target and events of each group of equal keys."""
    _, group = np.unique(keys, return_inverse=True)
    known = ~np.isnan(y)

    def total(weights):
        return np.bincount(group, weights=weights).astype(np.int64)

    return total(np.ones(y.size)), total(known), total(known & (y == 1.0))


def value_counts(x, y, special_values=()):
    """A numeric column's counts by value, NaN one group."""
    values = np.unique(x)
    n, known, ones = grouped(x, y)
    return counted.ColumnCounts(values, n, known, ones, special_values)


def category_counts(x, y):
    """A categorical column's counts by category name, missing ones (None,
    NaN) one group named None."""
    names = np.array(["" if v is None or v != v else category_name(v) for v in x])
    n, known, ones = grouped(names, y)
    return counted.category_counts([n or None for n in np.unique(names).tolist()], n, known, ones)


OPTIONS = {
    "mdlp": [
        {},
        {"representative": "mean", "minobs": 60, "special_values": [SPECIAL]},
        {"monotonicity": 1, "force_first_split": True},
    ],
    "optimal": [
        {},
        {"max_bins": 4, "trend": "peak", "special_values": [SPECIAL]},
        {"min_bin_share": 0.1, "min_events": 30},
    ],
    "quantile": [{"n_bins": 7}, {"n_bins": 5, "special_values": [SPECIAL]}],
    "equal_width": [{"n_bins": 4}, {"n_bins": 6, "special_values": [SPECIAL]}],
}


@pytest.mark.parametrize("method, options", [(m, o) for m, os in OPTIONS.items() for o in os])
def test_numeric_tables_from_counts_equal_the_local_ones(method, options):
    data, y = rows()
    counts = value_counts(data["x"], y, options.get("special_values", ()))
    remote = counted.numeric_table(counts, "x", method, **options)
    local = getattr(tl, f"{method}_binning")(data["x"], y, name="x", **options)
    assert remote.to_dict() == local.to_dict()
    # Both keep the same counts: an engine's table edits alike.
    assert remote.merge(0, 1).to_dict() == local.merge(0, 1).to_dict()


@pytest.mark.parametrize("options", [{}, {"n_prebins": 8}, {"max_pvalue": 0.05, "trend": "peak"}])
def test_optimal_tables_from_counts_with_their_prebins_equal_the_local_ones(options):
    # Counts that bring the pre-bins made as their rows were counted (a
    # stream's single batch) give the local table; other pre-bins are made anew.
    data, y = rows()
    counts = value_counts(data["x"], y)
    known = ~np.isnan(y)
    counts.prebinned = native.counted_prebins(
        data["x"][known],
        y[known].astype(np.int32),
        n_prebins=optimal.DEFAULT_N_PREBINS,
        max_class_parts=optimal.CLASS_PARTS,
        min_class_share=optimal.CLASS_PART_SHARE,
    )
    remote = counted.numeric_table(counts, "x", "optimal", **options)
    assert remote.to_dict() == tl.optimal_binning(data["x"], y, name="x", **options).to_dict()


@pytest.mark.parametrize("column", ["grade", "code"])
@pytest.mark.parametrize(
    "options",
    [
        {},
        {"min_share": 0.05, "method": "optimal"},
        {"min_share": 0.0, "method": "mdlp", "force_first_split": True},
    ],
)
def test_category_tables_from_counts_equal_the_local_ones(column, options):
    data, y = rows()
    remote = counted.category_table(category_counts(data[column], y), column, **options)
    local = tl.categorical_binning(data[column], y, name=column, **options)
    assert remote.to_dict() == local.to_dict()
    assert (
        remote.move(local.bin_categories[0][0], None).to_dict()
        == local.move(local.bin_categories[0][0], None).to_dict()
    )


@pytest.mark.parametrize(
    "options",
    [
        {"method": "optimal"},
        {"method": "mdlp", "categorical": ["code"], "min_share": 0.05},
        {"method": "quantile", "n_bins": 5, "special_values": {"x": [SPECIAL]}},
        {
            "method": "equal_width",
            "columns": {
                "x": {"method": "optimal", "special_values": [SPECIAL]},
                "flat": {"method": "mdlp"},
            },
        },
    ],
)
def test_a_table_fitted_from_counts_equals_the_local_fit(options):
    data, y = rows()
    # One value beside missing ones: one bin and the missing row, alike.
    data["flat"] = np.where(np.isnan(data["x"]), np.nan, 1.0)
    data["one_grade"] = np.where(np.isnan(data["x"]), None, "A").astype(object)
    local = tl.TableBinning(**options).fit({**data, "y": y}, "y")
    counts = {}
    for name, values in data.items():
        plan = local.options_of(name, values.dtype == object)
        counts[name] = (
            category_counts(values, y)
            if plan["categorical"]
            else value_counts(values, y, plan["special_values"])
        )
    remote = tl.TableBinning(**options).fit_counts(counts, [*data, "y"])
    assert remote.to_dict() == local.to_dict()
    assert not local.skipped and {local.tables[n].n_bins for n in ("flat", "one_grade")} == {1}
    assert local.tables["flat"].has_missing_row and local.tables["one_grade"].has_missing_row


@pytest.mark.parametrize(
    "n, known, ones, message",
    [
        ([3, 4], [3, 4], [4, 1], "impossible: 4 events among 3 rows of known target"),
        ([3, 4], [3, 5], [1, 1], "impossible: 5 rows of known target among 4 rows"),
        ([-1, 4], [0, 4], [0, 1], "impossible: -1 rows"),
        ([3, 4], [3, 4], [0, -2], "impossible: -2 events"),
        ([3.0, 4.5], [3, 4], [1, 1], "rows must be whole numbers, not 4.5"),
        ([3, 4], [3, 4], [1.0, np.nan], "events must be whole numbers, not nan"),
        ([3, 4], [3, 4], [1], "2 groups, counts of lengths 2, 2, 1"),
    ],
)
def test_impossible_counts_are_refused(n, known, ones, message):
    with pytest.raises(ValueError, match=message):
        counted.ColumnCounts(np.array([1.0, 2.0]), n, known, ones)
    with pytest.raises(ValueError, match=message):
        counted.category_counts(["a", None], n, known, ones)
    if message.startswith("impossible: 4 events"):
        with pytest.raises(ValueError, match="the counts of the category 'a' are impossible"):
            counted.category_counts(["a", None], n, known, ones)


def test_groups_of_one_name_merge_and_whole_float_counts_are_integers():
    merged = counted.category_counts(
        ["b", None, "a", "b"], [2.0, 1.0, 3.0, 1.0], [2.0, 1.0, 3.0, 1.0], [1.0, 1.0, 0.0, 1.0]
    )
    assert merged.names == ["a", "b"] and (merged.missing_c0, merged.missing_c1) == (0, 1)
    assert merged.c0.tolist() == [3, 1] and merged.c1.tolist() == [0, 2]
    assert merged.c0.dtype == np.int64
