"""The tessaline package's binning tables: the native numbers, weight of evidence
and information value by their stated formula, transform, frames and
printing."""

import math
import subprocess
import sys

import numpy as np
import pytest
from package_under_test import subprocess_env
from package_under_test import tessaline as tl

import _tessaline as t
from tessaline._binning.binning_table import SUMMARY_COLUMNS

X4, Y4 = [1.0, 2.0, 3.0, 4.0], [0.0, 0.0, 1.0, 1.0]


def credit_like(n=2000, seed=7):
    """A variable whose event rate rises in steps, with some missing values."""
    rng = np.random.default_rng(seed)
    x = rng.normal(50.0, 15.0, n).round(1)
    y = (rng.random(n) < np.where(x < 40, 0.1, np.where(x < 60, 0.3, 0.6))).astype(np.float64)
    x[rng.random(n) < 0.05] = np.nan
    return x, y


def assert_same_summary(table, summary):
    assert list(table.columns) == [*SUMMARY_COLUMNS, "woe", "iv"]
    for key in SUMMARY_COLUMNS:
        np.testing.assert_array_equal(table[key], summary[key], strict=True)


@pytest.mark.parametrize(
    "options, native_args",
    [
        ({}, (100, 0, 0, 1.0, 1.0, False)),
        (
            {
                "minobs": 10,
                "monotonicity": 1,
                "mono_dir": 1,
                "force_first_split": True,
                "alpha_pos": 0.5,
                "beta_struct": 2.0,
                "representative": "mean",
            },
            (10, 1, 1, 0.5, 2.0, True, None, 50.0, "mean"),
        ),
        ({"minobs": 20, "percentile": 75.0}, (20, 0, 0, 1.0, 1.0, False, None, 75.0)),
        ({"minobs": 20, "value": 1.0}, (20, 0, 0, 1.0, 1.0, False, 1.0)),
    ],
)
def test_mdlp_binning_equals_mdlp_full_raw(options, native_args):
    x, y = credit_like()
    if "value" in options or "percentile" in options:
        y = 3 * np.nan_to_num(x - 50) / 15 + np.random.default_rng(3).normal(size=x.size)
    table = tl.mdlp_binning(x, y, **options)
    native = t.mdlp_full_raw(x, y, *native_args)
    assert_same_summary(table, native["summary"])
    assert table.metadata == native["metadata"]
    for key, values in native["mdlp"].items():
        np.testing.assert_array_equal(table.split_log[key], values, strict=True)
    np.testing.assert_array_equal(
        table.splits, np.sort(native["mdlp"]["pto"][native["mdlp"]["found"]])
    )
    assert table.method == "mdlp" and table.has_missing_row


@pytest.mark.parametrize(
    "make, native_args",
    [
        (lambda x, y: tl.quantile_binning(x, y, n_bins=5), ("quantile", 5, "full", 0.0, 1.0, 0.0)),
        (
            lambda x, y: tl.equal_width_binning(x, y, n_bins=4),
            ("equal_width", 4, "full", 0.05, 0.95, 1.5),
        ),
        (
            lambda x, y: tl.equal_width_binning(
                x, y, n_bins=6, range="quantile", lower_quantile=0.1, upper_quantile=0.9
            ),
            ("equal_width", 6, "quantile", 0.1, 0.9, 1.5),
        ),
        (
            lambda x, y: tl.equal_width_binning(x, y, n_bins=3, range="iqr", k=0.5),
            ("equal_width", 3, "iqr", 0.05, 0.95, 0.5),
        ),
        (
            lambda x, y: tl.custom_binning(x, y, [30.0, 45.5, 70.0], representative="mean"),
            ("custom", 0, "full", 0.0, 1.0, 0.0, [30.0, 45.5, 70.0], "mean"),
        ),
    ],
)
def test_unsupervised_tables_equal_the_native_splits_and_summary(make, native_args):
    x, y = credit_like()
    table = make(x, y)
    splits = t.binning_splits(x, *native_args[:6], native_args[6] if len(native_args) > 6 else [])
    np.testing.assert_array_equal(table.splits, splits)
    assert_same_summary(
        table, t.binning_summary_binary(x, y.astype(np.int32), splits, *native_args[7:])
    )
    assert table.method == native_args[0] and table.n_bins == len(splits) + 1


def test_labels_and_rows_without_a_target():
    x, y = credit_like()
    assert tl.custom_binning(x, y, [30.0, 45.5, 70.0]).labels == [
        "(-inf, 30]",
        "(30, 45.5]",
        "(45.5, 70]",
        "(70, +inf)",
        "missing",
    ]
    table = tl.custom_binning(np.arange(1, 7.0), [0, 1, np.nan, 0, np.nan, 1], [3.5])
    assert table["count"].tolist() == [2, 2] and table["c1"].tolist() == [1, 1]


def test_woe_and_iv_on_a_hand_computed_table():
    # 50 goods and 5 bads at x = 1, 30 goods and 10 bads at x = 2, 5 bads at
    # x = 3, nothing above 10: C0 = 80 goods, C1 = 20 bads.
    x = np.repeat([1.0, 1.0, 2.0, 2.0, 3.0], [50, 5, 30, 10, 5])
    y = np.repeat([0.0, 1.0, 0.0, 1.0, 1.0], [50, 5, 30, 10, 5])
    table = tl.custom_binning(x, y, [1.5, 2.5, 10.0])
    # The third bin has no good: 0.5 stands in, ln((5/20) / (0.5/80)) = ln(40);
    # the empty fourth bin has WoE 0 and IV 0.
    woe = [math.log(0.4), math.log(4 / 3), math.log(40.0), 0.0]
    iv = [(0.25 - 0.625) * woe[0], (0.5 - 0.375) * woe[1], (0.25 - 0.00625) * woe[2], 0.0]
    assert table["woe"].tolist() == pytest.approx(woe, rel=1e-14)
    assert table["iv"].tolist() == pytest.approx(iv, rel=1e-14)
    assert table.information_value == pytest.approx(1.2787336504, rel=1e-9)
    # WoE moves with the event rate, and IV is never negative, on MDLP tables too.
    for seed in range(3):
        table = tl.mdlp_binning(*credit_like(seed=seed), minobs=20)
        order = np.argsort(table["event_rate"][: table.n_bins])
        assert (np.diff(table["woe"][: table.n_bins][order]) >= 0).all() and (
            table["iv"] >= 0
        ).all()


def test_a_single_class_table_has_undefined_woe_and_iv():
    table = tl.custom_binning([1.0, 2.0, 3.0], [0, 0, 0], [1.5])
    assert np.isnan(table["woe"]).all() and np.isnan(table["iv"]).all()
    assert math.isnan(table.information_value) and "undefined" in str(table)
    assert np.isnan(table.transform([1.0, np.nan], output="woe")).all()


def test_transform_gives_native_bin_indices_and_row_woe():
    x, y = credit_like()
    table = tl.mdlp_binning(x, y)
    new = np.array([-1e9, table.splits[0], np.nextafter(table.splits[0], np.inf), np.nan, np.inf])
    np.testing.assert_array_equal(table.transform(new), t.binning_transform(new, table.splits))
    w = table["woe"]
    assert table.transform(new, output="woe").tolist() == [
        w[0],
        w[0],
        w[1],
        w[-1],
        w[table.n_bins - 1],
    ]
    # Missing values get zero WoE when the table had no missing row.
    plain = tl.custom_binning(X4, [0, 1, 0, 1], [2.5])
    with pytest.warns(tl.UnseenValueWarning, match=r"\(missing\)"):
        assert plain.transform([np.nan], output="woe").tolist() == [0.0]
    with pytest.raises(ValueError, match="output must be 'index' or 'woe'"):
        plain.transform([1.0], output="bins")
    with pytest.raises(
        ValueError, match=r"^unseen must be 'zero', 'riskiest' or a finite number, not 'worst'$"
    ):
        plain.transform([1.0], output="woe", unseen="worst")
    with pytest.raises(ValueError):
        plain["count"][0] = 0  # the table's arrays are read-only
    with pytest.raises(ValueError):
        plain.splits[0] = 1.0


def test_frames_and_nullable_pandas_columns():
    pandas = pytest.importorskip("pandas")
    x, y = credit_like()
    table = tl.mdlp_binning(pandas.Series(x, name="age"), pandas.Series(y))
    frame = table.to_frame()
    assert table.name == "age" and list(frame.columns) == ["bin", *table.columns]
    assert frame["bin"].tolist() == table.labels
    np.testing.assert_array_equal(frame["woe"].to_numpy(), table["woe"])
    frame.loc[0, "count"] = -5  # the frame is the caller's own copy
    assert table["count"][0] != -5
    nullable = tl.custom_binning(
        pandas.array([1.0, 2.0, None, 4.0, 5.0, 6.0], dtype="Float64"),
        pandas.array([0, 0, 1, 1, None, 1], dtype="Int64"),
        [3.0],
    )
    assert nullable["count"].tolist() == [2, 2, 1] and nullable.labels[-1] == "missing"


def test_printed_table_reads_like_the_table():
    table = tl.custom_binning([1.0, 2.0, 3.0, np.nan], [0, 1, 1, 0], [1.5], name="score")
    text = str(table)
    assert text.splitlines()[0].startswith("custom binning of 'score': 2 bins + missing, IV ")
    assert "(-inf, 1.5]" in text and "(1.5, +inf)" in text and "missing" in text
    assert "<BinningTable custom binning of 'score'" in repr(table)
    assert "<table" in table._repr_html_()


def test_optional_extras_are_loaded_only_when_used():
    code = (
        "import sys, tessaline as tl\n"
        "from tessaline._core.dependencies import EXTRAS, is_pandas_frame\n"
        "assert not is_pandas_frame({})\n"
        "print(sorted(m for m in EXTRAS if m in sys.modules))\n"
        "sys.modules['pandas'] = None\n"
        "try:\n    tl.custom_binning([1.0, 2.0], [0, 1], [1.5]).to_frame()\n"
        "except ImportError as e:\n    print(e)\n"
    )
    out = subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        check=True,
        env=subprocess_env(),
    ).stdout
    assert out.startswith("[]\n") and "pip install 'tessaline[pandas]'" in out


def test_a_fractional_target_is_rejected_not_truncated():
    # The int32 conversion alone would silently read 0.7 as 0.
    with pytest.raises(
        tl.TargetError, match=r"^the target is not 0/1 \(values found: 0, 0\.7, 1\)"
    ):
        tl.custom_binning(X4, [0.0, 0.7, 1.0, 1.0], [2.5])
