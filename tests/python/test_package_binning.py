"""The tessaline package's binning tables: the same numbers as the native
functions, weight of evidence and information value by their stated formula,
transform, frames, and native errors passed through unchanged."""
import math
import subprocess
import sys

import numpy as np
import pytest

import _tessaline
from package_under_test import subprocess_env, tessaline as tl
from tessaline.binning import SUMMARY_COLUMNS


def credit_like(n=2000, seed=7):
    """A variable whose event rate rises in steps, with some missing values."""
    rng = np.random.default_rng(seed)
    x = rng.normal(50.0, 15.0, n).round(1)
    rate = np.where(x < 40, 0.1, np.where(x < 60, 0.3, 0.6))
    y = (rng.random(n) < rate).astype(np.float64)
    x[rng.random(n) < 0.05] = np.nan
    return x, y


def reference_woe(c0, c1):
    """WoE and IV per row written out plainly, row by row."""
    total0, total1 = sum(c0), sum(c1)
    woe, iv = [], []
    for a, b in zip(c0, c1):
        if a + b == 0:
            woe.append(0.0)
            iv.append(0.0)
            continue
        e = (b if b > 0 else 0.5) / total1
        g = (a if a > 0 else 0.5) / total0
        woe.append(math.log(e / g))
        iv.append((e - g) * math.log(e / g))
    return woe, iv


def assert_same_summary(table, summary):
    assert list(table.columns) == [*SUMMARY_COLUMNS, "woe", "iv"]
    for key in SUMMARY_COLUMNS:
        np.testing.assert_array_equal(table[key], summary[key], strict=True)


# -- same results as the native functions --------------------------------------------------

@pytest.mark.parametrize("options", [
    {}, {"minobs": 10, "monotonicity": 1, "mono_dir": 1},
    {"minobs": 0, "alpha_pos": 0.5, "beta_struct": 2.0, "representative": "mean"},
    {"minobs": 200, "force_first_split": True},
])
def test_mdlp_binning_equals_mdlp_full_raw(options):
    x, y = credit_like()
    table = tl.mdlp_binning(x, y, **options)
    args = {"minobs": int(0.05 * len(x)), "monotonicity": 0, "mono_dir": 0, "alpha_pos": 1.0,
            "beta_struct": 1.0, "force_first_split": False, "representative": "median"} | options
    native = _tessaline.mdlp_full_raw(
        x, y, args["minobs"], args["monotonicity"], args["mono_dir"], args["alpha_pos"],
        args["beta_struct"], args["force_first_split"], representative=args["representative"])
    assert_same_summary(table, native["summary"])
    assert table.metadata == native["metadata"]
    for key, values in native["mdlp"].items():
        np.testing.assert_array_equal(table.split_log[key], values, strict=True)
    found = native["mdlp"]["pto"][native["mdlp"]["found"]]
    np.testing.assert_array_equal(table.splits, np.sort(found))
    assert table.method == "mdlp" and table.has_missing_row


def test_mdlp_binning_binarises_a_continuous_target_like_the_native_function():
    rng = np.random.default_rng(3)
    x = rng.normal(size=500)
    amount = 3 * x + rng.normal(size=500)
    for kwargs in ({"percentile": 75.0}, {"value": 1.0}):
        table = tl.mdlp_binning(x, amount, minobs=20, **kwargs)
        native = _tessaline.mdlp_full_raw(x, amount, 20, 0, 0, 1.0, 1.0, False, **kwargs)
        assert_same_summary(table, native["summary"])
        assert not table.metadata["target_was_binary"]


@pytest.mark.parametrize("make, method, n_bins, rng_mode, lo, hi, k", [
    (lambda x, y: tl.quantile_binning(x, y, n_bins=5), "quantile", 5, "full", 0.0, 1.0, 0.0),
    (lambda x, y: tl.equal_width_binning(x, y, n_bins=4), "equal_width", 4, "full", 0.05, 0.95, 1.5),
    (lambda x, y: tl.equal_width_binning(x, y, n_bins=6, range="quantile", lower_quantile=0.1,
                                         upper_quantile=0.9),
     "equal_width", 6, "quantile", 0.1, 0.9, 1.5),
    (lambda x, y: tl.equal_width_binning(x, y, n_bins=3, range="iqr", k=0.5),
     "equal_width", 3, "iqr", 0.05, 0.95, 0.5),
])
def test_unsupervised_tables_equal_the_native_splits_and_summary(make, method, n_bins, rng_mode,
                                                                 lo, hi, k):
    x, y = credit_like()
    table = make(x, y)
    splits = _tessaline.binning_splits(x, method, n_bins, rng_mode, lo, hi, k, [])
    np.testing.assert_array_equal(table.splits, splits)
    assert_same_summary(table, _tessaline.binning_summary_binary(x, y.astype(np.int32), splits))
    assert table.method == method and table.n_bins == len(splits) + 1


def test_custom_binning_keeps_the_given_cuts_and_the_missing_row():
    x, y = credit_like()
    table = tl.custom_binning(x, y, [30.0, 45.5, 70.0], representative="mean")
    native = _tessaline.binning_summary_binary(x, y.astype(np.int32), [30.0, 45.5, 70.0], "mean")
    assert_same_summary(table, native)
    assert table.labels == ["(-inf, 30]", "(30, 45.5]", "(45.5, 70]", "(70, +inf)", "missing"]


def test_rows_with_a_missing_target_are_left_out_of_unsupervised_tables():
    x = np.array([1.0, 2.0, 3.0, 4.0, 5.0, 6.0])
    y = np.array([0.0, 1.0, np.nan, 0.0, np.nan, 1.0])
    table = tl.custom_binning(x, y, [3.5])
    assert table["count"].tolist() == [2, 2]
    assert table["c1"].tolist() == [1, 1]


# -- weight of evidence and information value ----------------------------------------------

def test_woe_and_iv_on_a_hand_computed_table():
    # Bins (-inf, 1.5], (1.5, 2.5], (2.5, 10], (10, +inf): 50 goods and 5 bads at x = 1,
    # 30 goods and 10 bads at x = 2, 5 bads and no good at x = 3, nothing above 10.
    # C0 = 80 goods, C1 = 20 bads.
    x = np.repeat([1.0, 1.0, 2.0, 2.0, 3.0], [50, 5, 30, 10, 5])
    y = np.repeat([0.0, 1.0, 0.0, 1.0, 1.0], [50, 5, 30, 10, 5])
    table = tl.custom_binning(x, y, [1.5, 2.5, 10.0])
    assert table["c0"].tolist() == [50, 30, 0, 0] and table["c1"].tolist() == [5, 10, 5, 0]
    # ln((5/20) / (50/80)) = ln(0.4); ln((10/20) / (30/80)) = ln(4/3);
    # the third bin has no good: 0.5 stands in, ln((5/20) / (0.5/80)) = ln(40);
    # the fourth bin is empty: WoE 0 and IV 0.
    expected_woe = [math.log(0.4), math.log(4 / 3), math.log(40.0), 0.0]
    expected_iv = [(0.25 - 0.625) * math.log(0.4), (0.5 - 0.375) * math.log(4 / 3),
                   (0.25 - 0.00625) * math.log(40.0), 0.0]
    assert table["woe"].tolist() == pytest.approx(expected_woe, rel=1e-14)
    assert table["iv"].tolist() == pytest.approx(expected_iv, rel=1e-14)
    assert table.information_value == pytest.approx(1.2787336504, rel=1e-9)
    assert table.information_value == pytest.approx(sum(expected_iv), rel=1e-14)


def test_woe_matches_a_plain_reference_on_mdlp_tables_and_iv_is_never_negative():
    for seed in range(5):
        x, y = credit_like(seed=seed)
        table = tl.mdlp_binning(x, y, minobs=20)
        woe, iv = reference_woe(table["c0"].tolist(), table["c1"].tolist())
        assert table["woe"].tolist() == pytest.approx(woe, rel=1e-12)
        assert table["iv"].tolist() == pytest.approx(iv, rel=1e-12)
        assert (table["iv"] >= 0).all()
        # WoE moves with the event rate: riskier bins have larger WoE.
        order = np.argsort(table["event_rate"][:table.n_bins])
        assert (np.diff(table["woe"][:table.n_bins][order]) >= 0).all()


def test_a_single_class_table_has_undefined_woe_and_iv():
    table = tl.custom_binning([1.0, 2.0, 3.0], [0, 0, 0], [1.5])
    assert np.isnan(table["woe"]).all() and np.isnan(table["iv"]).all()
    assert math.isnan(table.information_value)
    assert np.isnan(table.transform([1.0, np.nan], output="woe")).all()
    assert "undefined" in str(table)


# -- transform, frames, printing -------------------------------------------------------------

def test_transform_gives_native_bin_indices_and_row_woe():
    x, y = credit_like()
    table = tl.mdlp_binning(x, y)
    new = np.array([-1e9, table.splits[0], np.nextafter(table.splits[0], np.inf), np.nan, np.inf])
    index = table.transform(new)
    np.testing.assert_array_equal(index, _tessaline.binning_transform(new, table.splits))
    assert index.tolist()[:2] == [0, 0] and index[2] == 1 and index[3] == -1
    woe = table.transform(new, output="woe")
    assert woe.tolist() == [table["woe"][0], table["woe"][0], table["woe"][1],
                            table["woe"][-1], table["woe"][table.n_bins - 1]]
    # Every training row gets its own row's WoE.
    rows = table.transform(x)
    expected = np.where(rows >= 0, table["woe"][np.maximum(rows, 0)], table["woe"][-1])
    np.testing.assert_array_equal(table.transform(x, output="woe"), expected)


def test_missing_values_get_zero_woe_when_the_table_had_none():
    table = tl.custom_binning([1.0, 2.0, 3.0, 4.0], [0, 1, 0, 1], [2.5])
    assert not table.has_missing_row
    assert table.transform([np.nan], output="woe").tolist() == [0.0]
    with pytest.raises(ValueError, match="output must be 'index' or 'woe'"):
        table.transform([1.0], output="bins")


def test_table_arrays_are_read_only_copies():
    x, y = credit_like()
    table = tl.custom_binning(x, y, [40.0])
    with pytest.raises(ValueError):
        table["count"][0] = 0
    with pytest.raises(ValueError):
        table.splits[0] = 1.0


def test_to_frame_holds_labels_and_every_column():
    pandas = pytest.importorskip("pandas")
    x, y = credit_like()
    table = tl.mdlp_binning(pandas.Series(x, name="age"), pandas.Series(y))
    frame = table.to_frame()
    assert table.name == "age"
    assert list(frame.columns) == ["bin", *table.columns]
    assert frame["bin"].tolist() == table.labels
    np.testing.assert_array_equal(frame["woe"].to_numpy(), table["woe"])
    frame.loc[0, "count"] = -5  # the frame is the caller's own copy
    assert table["count"][0] != -5


def test_nullable_pandas_columns_are_read_with_missing_values():
    pandas = pytest.importorskip("pandas")
    x = pandas.array([1.0, 2.0, None, 4.0, 5.0, 6.0], dtype="Float64")
    y = pandas.array([0, 0, 1, 1, None, 1], dtype="Int64")
    table = tl.custom_binning(x, y, [3.0])
    assert table["count"].tolist() == [2, 2, 1]
    assert table.labels[-1] == "missing"


def test_printed_table_reads_like_the_table():
    table = tl.custom_binning([1.0, 2.0, 3.0, np.nan], [0, 1, 1, 0], [1.5], name="score")
    text = str(table)
    assert text.splitlines()[0].startswith("custom binning of 'score': 2 bins + missing, IV ")
    assert "(-inf, 1.5]" in text and "(1.5, +inf)" in text and "missing" in text
    assert "<BinningTable custom binning of 'score'" in repr(table)
    assert "<table" in table._repr_html_()


def test_to_frame_without_pandas_says_how_to_get_it():
    code = ("import sys; sys.modules['pandas'] = None\n"
            "import tessaline as tl\n"
            "t = tl.custom_binning([1.0, 2.0], [0, 1], [1.5])\n"
            "try:\n    t.to_frame()\nexcept ImportError as e:\n    print(e)\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env=subprocess_env())
    assert "pip install 'tessaline[pandas]'" in out.stdout


def test_importing_the_package_loads_no_optional_extra():
    code = ("import sys, tessaline\n"
            "print(sorted(m for m in ('pandas', 'matplotlib', 'sklearn') if m in sys.modules))")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env=subprocess_env())
    assert out.stdout.strip() == "[]"


# -- native errors reach the caller unchanged --------------------------------------------------

def native_error(call):
    """The exception's type and first line (a binding error goes on to echo the
    arguments, which are arrays on one side and lists on the other)."""
    with pytest.raises(Exception) as info:
        call()
    return type(info.value), str(info.value).splitlines()[0]


X4 = [1.0, 2.0, 3.0, 4.0]
Y4 = [0.0, 0.0, 1.0, 1.0]


@pytest.mark.parametrize("ours, theirs", [
    (lambda: tl.mdlp_binning(X4, Y4[:3]),
     lambda: _tessaline.mdlp_full_raw(X4, Y4[:3], 0, 0, 0, 1.0, 1.0, False)),
    (lambda: tl.mdlp_binning(X4, Y4, monotonicity=4),
     lambda: _tessaline.mdlp_full_raw(X4, Y4, 0, 4, 0, 1.0, 1.0, False)),
    (lambda: tl.mdlp_binning(X4, Y4, representative="Median"),
     lambda: _tessaline.mdlp_full_raw(X4, Y4, 0, 0, 0, 1.0, 1.0, False, None, 50.0, "Median")),
    (lambda: tl.mdlp_binning(X4, [0.0, 1.0, 2.0, 3.0], percentile=150.0),
     lambda: _tessaline.mdlp_full_raw(X4, [0.0, 1.0, 2.0, 3.0], 0, 0, 0, 1.0, 1.0, False, None, 150.0)),
    (lambda: tl.mdlp_binning(X4, Y4, minobs=2.0),
     lambda: _tessaline.mdlp_full_raw(X4, Y4, 2.0, 0, 0, 1.0, 1.0, False)),
    (lambda: tl.quantile_binning(X4, Y4, n_bins=0),
     lambda: _tessaline.binning_splits(X4, "quantile", 0, "full", 0.0, 1.0, 0.0, [])),
    (lambda: tl.equal_width_binning(X4, Y4, range="tails"),
     lambda: _tessaline.binning_splits(X4, "equal_width", 3, "tails", 0.0, 1.0, 0.0, [])),
    (lambda: tl.custom_binning(X4, Y4, [2.0, 1.0]),
     lambda: _tessaline.binning_splits(X4, "custom", 0, "full", 0.0, 1.0, 0.0, [2.0, 1.0])),
    (lambda: tl.custom_binning(X4, Y4, [[1.0], [2.0]]),
     lambda: _tessaline.binning_splits(X4, "custom", 0, "full", 0.0, 1.0, 0.0, [[1.0], [2.0]])),
    (lambda: tl.custom_binning(X4, [0, 1, 2, 1], [2.5]),
     lambda: _tessaline.binning_summary_binary(X4, [0, 1, 2, 1], [2.5])),
    (lambda: tl.custom_binning(X4, Y4[:3], [2.5]),
     lambda: _tessaline.binning_summary_binary(X4, Y4[:3], [2.5])),
    (lambda: tl.custom_binning(X4, Y4, [2.5], representative="avg"),
     lambda: _tessaline.binning_summary_binary(X4, Y4, [2.5], "avg")),
])
def test_native_errors_reach_the_caller_unchanged(ours, theirs):
    assert native_error(ours) == native_error(theirs)


def test_a_fractional_target_is_rejected_not_truncated():
    # The int32 conversion alone would silently read 0.7 as 0.
    kind, message = native_error(lambda: tl.custom_binning(X4, [0.0, 0.7, 1.0, 1.0], [2.5]))
    assert (kind, message) == (ValueError, "binning: y debe contener solo 0 y 1")
