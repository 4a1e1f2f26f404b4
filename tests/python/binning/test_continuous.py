"""continuous_binning: the bins of a continuous target, their table, and its
transform, documents and SQL."""

import itertools
import math
import pickle
from fractions import Fraction

import numpy as np
import pandas as pd
import pytest
from package_under_test import ROOT
from sql_engines import ENGINES

import tessaline as tl
from tessaline.exceptions import DocumentError
from tessaline.report._dataset import read_dataset


def test_a_worked_example_gives_exact_values():
    # Bins {1..4} (mean 2.5) and {5, 6} (mean 10) of an overall mean 5:
    # between 4 * 2.5^2 + 2 * 5^2 = 75, within 5 + 0, so R^2 = 75 / 80.
    t = tl.continuous_binning(
        [1, 2, 3, 4, 5, 6], [1, 3, 2, 4, 10, 10], max_bins=2, min_bin_share=0, trend="none"
    )
    np.testing.assert_array_equal(t.splits, [4.0])
    assert list(t["count"]) == [4, 2] and list(t["weight"]) == [4, 2]
    assert list(t["sum"]) == [10, 20] and list(t["mean"]) == [2.5, 10]
    assert list(t["std"]) == [math.sqrt(1.25), 0] and list(t["min"]) == [1, 10]
    assert list(t["max"]) == [4, 10] and list(t["mean_deviation"]) == [-2.5, 5]
    assert (t.between_ss, t.total_ss, t.r_squared, t.overall_mean) == (75, 80, 0.9375, 5)
    # A value equal to a cut falls in the lower bin; a missing one, with no
    # missing-value row, gets the overall mean.
    np.testing.assert_array_equal(t.transform([0, 4, 4.5, np.nan]), [2.5, 2.5, 10, 5])
    np.testing.assert_array_equal(t.transform([0, 4, 4.5, np.nan], output="index"), [0, 0, 1, -1])
    assert list(t.transform([0, 4.5, np.nan], output="label")) == [
        "(-inf, 4]",
        "(4, +inf)",
        "missing",
    ]


def _exact_columns(index, y, w, n_bins):
    """Per bin the std, and R², in rationals from the rows themselves."""
    y, w = [Fraction(v) for v in y], [Fraction(v) for v in w]
    total_w, total_s = sum(w), sum(a * b for a, b in zip(w, y))
    stds, between, total = [], Fraction(0), Fraction(0)
    for b in range(n_bins):
        rows = [(wi, yi) for i, (wi, yi) in enumerate(zip(w, y)) if index[i] == b]
        bw = sum(wi for wi, _ in rows)
        mean = sum(wi * yi for wi, yi in rows) / bw
        stds.append(math.sqrt(sum(wi * (yi - mean) ** 2 for wi, yi in rows) / bw))
        between += bw * (mean - total_s / total_w) ** 2
    total = sum(wi * (yi - total_s / total_w) ** 2 for wi, yi in zip(w, y))
    return stds, float(between / total)


@pytest.mark.parametrize("shift", [0.0, 1e9, -1e9])
def test_a_target_far_from_zero_keeps_its_spread_and_bins(shift):
    # y on a grid of eighths, so y + shift is exact and every statistic but
    # the means is that of y; the reference is worked out in rationals. R²
    # rests on the bin means, which a double holds to half a unit in the
    # last place of the shift (6e-8 here).
    rng = np.random.default_rng(5)
    x = rng.integers(0, 8, 300).astype(float)
    y = np.round(rng.normal(x, 1.0) * 8) / 8
    w = rng.integers(1, 4, 300).astype(float)
    base = tl.continuous_binning(x, y, sample_weight=w, max_bins=4, min_bin_share=0.05)
    table = tl.continuous_binning(x, y + shift, sample_weight=w, max_bins=4, min_bin_share=0.05)
    np.testing.assert_array_equal(table.splits, base.splits)
    stds, r2 = _exact_columns(table.transform(x, output="index"), y + shift, w, table.n_bins)
    np.testing.assert_allclose(table["std"], stds, rtol=1e-12)
    assert table.r_squared == pytest.approx(r2, rel=1e-6 if shift else 1e-12)


def test_a_document_without_squared_deviations_reads_as_written():
    # Tables written before they carried sum_sq_dev read their std from sum_sq.
    t = tl.continuous_binning(
        [1, 2, 3, 4, 5, 6], [1, 3, 2, 4, 10, 10], max_bins=2, min_bin_share=0, trend="none"
    )
    doc = t.to_dict()
    del doc["rows"]["sum_sq_dev"]
    assert tl.ContinuousBinningTable.from_dict(doc).to_json() == t.to_json()


def _between(x, y, cuts):
    mean = y.mean()
    bins = np.searchsorted(np.asarray(cuts), x, side="left")
    return [(y[bins == b].size, y[bins == b].mean()) for b in range(len(cuts) + 1)], mean


@pytest.mark.parametrize("seed", range(6))
def test_the_bins_are_the_best_of_every_grouping(seed):
    rng = np.random.default_rng(seed)
    x = rng.integers(0, 7, 40).astype(float)
    y = np.round(rng.normal(x % 3, 1.0, 40), 2)
    values = np.unique(x)[:-1]
    best = -1.0
    for k in range(0, 3):  # at most 3 bins
        for cuts in itertools.combinations(values, k):
            groups, mean = _between(x, y, cuts)
            if all(n >= 0.1 * x.size for n, _ in groups):
                best = max(best, sum(n * (m - mean) ** 2 for n, m in groups))
    t = tl.continuous_binning(x, y, max_bins=3, min_bin_share=0.1, trend="none")
    assert t.between_ss == pytest.approx(best, rel=1e-12)


def _rows(frame):
    return frame.loc[frame.index.repeat(frame["w"].astype(int))]


@pytest.mark.parametrize("categorical", [False, True])
def test_integer_weights_give_the_table_of_the_rows_repeated(categorical):
    rng = np.random.default_rng(3)
    n = 400
    x = rng.integers(0, 30, n).astype(float)
    x[:15], x[15:30] = np.nan, -999
    frame = pd.DataFrame(
        {"x": x, "y": rng.gamma(2.0, 1000.0, n) / 7, "w": rng.integers(0, 4, n).astype(float)}
    )
    if categorical:
        frame["x"] = frame["x"].map(lambda v: None if v != v else f"c{int(v) % 9}")
    options = {"special_values": [] if categorical else [-999], "max_bins": 5}
    weighted = tl.continuous_binning(frame.x, frame.y, sample_weight=frame.w, **options)
    repeated = _rows(frame)
    plain = tl.continuous_binning(repeated.x, repeated.y, **options)
    for key in weighted.columns:
        if key != "count":
            np.testing.assert_array_equal(weighted[key], plain[key], err_msg=key)
    np.testing.assert_array_equal(weighted["weight"], plain["count"])
    # Rows of weight 0 are left out, as if they were not there.
    kept = frame[frame.w > 0]
    unweighted = tl.continuous_binning(kept.x, kept.y, sample_weight=kept.w, **options)
    assert weighted.to_dict()["rows"] == unweighted.to_dict()["rows"]


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: tl.continuous_binning([1, 2, 3], [1, 2, 3], sample_weight=[1, -1, 1]),
            "sample_weight must be finite and non-negative: row 1 is -1.0",
        ),
        (
            lambda: tl.continuous_binning([1, 2, 3], [1, 2, 3], sample_weight=[1, 1, np.nan]),
            "sample_weight must be finite and non-negative: row 2 is nan",
        ),
        (
            lambda: tl.continuous_binning([1, 2, 3], [1, 2, 3], sample_weight=[1, 1]),
            "sample_weight must hold one weight per row: 2 weights for 3 rows",
        ),
        (
            lambda: tl.continuous_binning([1, 2], [1, np.inf]),
            "y must hold finite numbers or missing values (NaN): row 1 holds inf",
        ),
        (
            lambda: tl.continuous_binning([1, 2], [1, 2], min_rows=3),
            "continuous binning of x: the column holds fewer rows than min_rows",
        ),
        (
            lambda: tl.continuous_binning([1, 2], [1, 2], sample_weight=[0, 0]),
            "sample_weight is zero for every row: there is nothing to count",
        ),
        (
            lambda: tl.continuous_binning([1, 2], [1, 2], trend="auto_all"),
            "trend must be one of 'auto', 'ascending', 'descending', 'peak', 'valley', "
            "'none', not 'auto_all'",
        ),
        (
            lambda: tl.optimal_binning([1, 2], [0, 1], target="continuous"),
            "optimal_binning bins a binary target (target='binary'), not "
            "target='continuous': bin a continuous target with continuous_binning(x, y, ...)",
        ),
    ],
)
def test_bad_arguments_are_named(call, message):
    with pytest.raises(ValueError) as error:
        call()
    assert str(error.value) == message


@pytest.fixture(scope="module")
def tables():
    rng = np.random.default_rng(11)
    x = np.round(rng.normal(50, 15, 600), 1)
    x[:20], x[20:35] = np.nan, -1
    loss = np.clip(0.02 * np.nan_to_num(x, nan=10) + rng.normal(0, 0.3, 600), 0, None)
    region = rng.choice(["north", "south", "east", "west", None], 600)
    return {
        "numeric": (tl.continuous_binning(x, loss, special_values=[-1], name="x"), x),
        "categorical": (tl.continuous_binning(region, loss + (region == "east"), name="x"), region),
    }


@pytest.mark.parametrize("kind", ["numeric", "categorical"])
def test_json_and_pickle_keep_the_table_exactly(tables, kind):
    table, x = tables[kind]
    for copy in (tl.from_json(table.to_json()), pickle.loads(pickle.dumps(table))):
        assert copy.to_json() == table.to_json()
        np.testing.assert_array_equal(copy.transform(x), table.transform(x))
    doc = table.to_dict()
    doc["rows"]["mean"][0] = (float.fromhex(doc["rows"]["mean"][0]) * 2 + 1).hex()
    with pytest.raises(DocumentError, match=r"rows\.mean is not what the rows' sums give"):
        tl.ContinuousBinningTable.from_dict(doc)


def test_the_chart_has_one_bar_per_row(tables):
    pytest.importorskip("matplotlib").use("Agg")
    table, _ = tables["numeric"]
    assert len(table.plot().patches) == len(table)


def test_an_unseen_category_gets_the_overall_mean(tables):
    table, _ = tables["categorical"]
    got = table.transform(np.array(["north", "mars", None], dtype=object))
    assert got[1] == table.overall_mean and got[2] == table["mean"][-1]


@ENGINES
@pytest.mark.parametrize("kind", ["numeric", "categorical"])
def test_sql_gives_what_transform_gives(tables, dialect, run, kind):
    table, x = tables[kind]
    values = np.append(x, np.array(["mars"], dtype=object) if kind == "categorical" else 1e9)
    for output in ("mean", "index"):
        got = run(
            f"SELECT {table.to_sql(output=output, dialect=dialect)} AS x FROM applicants",
            pd.DataFrame({"x": values}),
        )
        np.testing.assert_array_equal(
            got["x"].to_numpy(dtype=np.float64),
            table.transform(values, output=output).astype(np.float64),
        )


def test_auto_notes_a_peak_that_explains_clearly_more():
    credit = read_dataset(ROOT / "examples" / "data" / "germancredit.csv", "creditability", "bad")
    x, y = (
        credit.numeric["credit_amount"],
        credit.numeric["number_of_existing_credits_at_this_bank"],
    )
    auto, peak = tl.continuous_binning(x, y), tl.continuous_binning(x, y, trend="peak")
    note = (
        f"a peak fits better (R² {peak.r_squared:.4f} against {auto.r_squared:.4f}): trend='peak'"
    )
    assert auto.metadata["shape_note"] == note
    assert note.startswith("a peak fits better (R² 0.0188 against 0.0078)")
    # A monotone trend that fits, or a trend asked for, gets no note.
    duration = tl.continuous_binning(x, credit.numeric["duration_in_month"])
    assert "shape_note" not in duration.metadata and "shape_note" not in peak.metadata
    frame = {"amount": x, "credits": y}
    assert note in str(tl.TableBinning(target="continuous").fit(frame, "credits"))
