"""Optimal binning in the package: the limits met on real columns, the same
bins with the classes swapped, and errors that name what cannot be met."""

import numpy as np
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl

from tessaline.report.dataset import read_dataset

CREDIT = read_dataset(ROOT / "examples" / "data" / "germancredit.csv", "creditability", "bad")


@pytest.mark.parametrize("name", sorted(CREDIT.numeric))
@pytest.mark.parametrize("trend", ["auto", "peak", "none"])
def test_german_credit_bins_meet_their_limits_whichever_class_is_the_event(name, trend):
    x, y = CREDIT.numeric[name], CREDIT.target
    table = tl.optimal_binning(x, y, max_bins=5, min_bin_share=0.1, trend=trend)
    rows = table.to_frame()
    assert 1 <= table.n_bins <= 5 and table.method == "optimal"
    # By default every bin holds at least 5 events and 5 non-events.
    assert (rows["percentage"] >= 0.1).all() and (rows["c0"] >= 5).all() and (rows["c1"] >= 5).all()
    steps = np.sign(np.diff(rows["event_rate"]))
    if trend == "auto":
        assert abs(steps.sum()) == len(steps)  # strictly monotone
    # Swapping the classes mirrors the event rate: a peak becomes a valley.
    mirrored = {"peak": "valley"}.get(trend, trend)
    swapped = tl.optimal_binning(x, 1.0 - y, max_bins=5, min_bin_share=0.1, trend=mirrored)
    assert np.array_equal(swapped.splits, table.splits)


def test_auto_notes_a_much_better_valley_that_auto_all_chooses():
    x, y = CREDIT.numeric["credit_amount"], CREDIT.target
    auto, every = (tl.optimal_binning(x, y, trend=t) for t in ("auto", "auto_all"))
    assert auto.metadata["trend"] == "ascending" and every.metadata["trend"] == "valley"
    assert auto.metadata["shape_note"] == (
        f"a valley fits better (IV {every.information_value:.4f} against "
        f"{auto.information_value:.4f}): trend='auto_all'"
    )
    assert "shape_note" not in every.metadata and every.information_value > 0.24
    fitted = tl.TableBinning().fit({"credit_amount": x, "age": CREDIT.numeric["age_in_years"]}, y)
    assert fitted.summary[0].note == auto.metadata["shape_note"]
    assert "a valley fits better" in str(fitted)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (
            {"min_events": 301},
            "optimal binning of x: the column holds fewer events than min_events",
        ),
        ({"min_non_events": 701}, "fewer non-events than min_non_events"),
        ({"trend": "up"}, "trend"),
    ],
)
def test_unmet_limits_are_named(kwargs, message):
    with pytest.raises(ValueError, match=message):
        tl.optimal_binning(CREDIT.numeric["age_in_years"], CREDIT.target, **kwargs)


def test_categories_are_grouped_optimally_in_event_rate_order():
    table = tl.categorical_binning(
        CREDIT.categorical["purpose"],
        CREDIT.target,
        method="optimal",
        limits={"max_bins": 4, "min_bin_share": 0.1},
    )
    rows = table.to_frame()
    assert table.method == "optimal" and table.n_bins <= 4 and (rows["percentage"] >= 0.1).all()
    assert (np.diff(rows["event_rate"]) > 0).all()
    assert sorted(c for names in table.bin_categories for c in names) == sorted(
        {c for c in CREDIT.categorical["purpose"] if c is not None} - set(table.pooled_categories)
    )


def test_the_whole_table_passes_its_limits_to_every_column():
    columns = {**CREDIT.numeric, **CREDIT.categorical}
    fitted = tl.TableBinning(
        max_bins=3, min_bin_share=0.2, columns={"age_in_years": {"max_bins": 2}}
    ).fit(columns, CREDIT.target)
    for name, table in fitted.tables.items():
        assert table.n_bins <= (2 if name == "age_in_years" else 3), name
        assert (table["percentage"][: table.n_bins] >= 0.2).all(), name
