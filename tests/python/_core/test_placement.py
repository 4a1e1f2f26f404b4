"""Where a value lands among a table's rows: the one set of rules that the
transform, SQL, PMML and Spark all read."""

import math

import pytest
from package_under_test import tessaline as tl  # noqa: F401  (the package under test first)

from tessaline._core.placement import MISSING_SLOT, category_bins, number_rules


@pytest.mark.parametrize(
    "pooled, pooled_bin, members, other",
    [
        ((), None, ((0, ("a", "b")), (1, ("c",))), MISSING_SLOT),
        (("z", "y"), 1, ((0, ("a", "b")), (1, ("c", "y", "z"))), 1),
    ],
    ids=["nothing pooled", "pooled group in bin 1"],
)
def test_each_category_goes_to_its_bin_and_any_other_to_the_pooled_group(
    pooled, pooled_bin, members, other
):
    bins = category_bins([("b", "a"), ("c",)], pooled, pooled_bin)
    assert (bins.members, bins.other) == (members, other)
    assert bins.bin_of == {n: b for b, names in members for n in names}


def test_a_bin_holding_only_the_pooled_group_keeps_it_and_an_empty_one_is_left_out():
    assert category_bins([(), ("c",)], ("p",), 0).members == ((0, ("p",)), (1, ("c",)))
    assert category_bins([(), ("c",)], (), 1).members == ((1, ("c",)),)


def test_a_number_meets_missing_then_special_values_then_cut_points():
    rules = number_rules([1.0, 2.0], [-9.0, 7.0], 5)
    assert [(r.test, r.slot) for r in rules] == [
        ("missing", MISSING_SLOT),
        ("equal", 5),
        ("equal", 6),
        ("at_most", 0),
        ("at_most", 1),
        ("else", 2),
    ]
    assert [r.value for r in rules[1:5]] == [-9.0, 7.0, 1.0, 2.0]
    assert math.isnan(rules[0].value) and math.isnan(rules[-1].value)
