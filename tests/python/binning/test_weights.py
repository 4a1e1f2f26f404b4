"""Sample weights: integer weights give, bit for bit, the tables of the rows
repeated that many times, and weight 0 the tables without those rows (every
method, numbers and categories, special, infinite and missing values, rows
and counts paths); bad weights are refused naming the row."""

import pickle
import re

import numpy as np
import pytest
from package_under_test import tessaline as tl

from tessaline._binning import column_counts as counted
from tessaline.exceptions import TargetError

SPECIAL = -9.0


def weighted_rows(seed, n=500):
    """Values on a grid of quarters (sums of them are exact, so means agree
    whatever the order of addition), NaN, infinities, a special value; a 0/1
    target with missing rows; categories with rare and missing ones; integer
    weights 0 to 3."""
    rng = np.random.default_rng(seed)
    x = rng.integers(0, 60, n) / 4.0
    x[rng.random(n) < 0.05] = np.nan
    x[rng.random(n) < 0.02] = np.inf
    x[rng.random(n) < 0.04] = SPECIAL
    y = (rng.random(n) < 0.15 + 0.04 * np.nan_to_num(x, posinf=15) / 4).astype(float)
    y[rng.random(n) < 0.03] = np.nan
    grade = np.array(list("ABCDEFG") + ["rare"], dtype=object)[
        np.minimum(rng.geometric(0.3, n) - 1, 7)
    ]
    grade[rng.random(n) < 0.05] = None
    return x, grade, y, rng.integers(0, 4, n).astype(float)


FITS = {
    "optimal": lambda x, y, **o: tl.optimal_binning(x, y, special_values=[SPECIAL], **o),
    "optimal_mean": lambda x, y, **o: tl.optimal_binning(x, y, representative="mean", **o),
    "optimal_fixed": lambda x, y, **o: tl.optimal_binning(x, y, **o).with_cuts([7.0], fixed=True),
    "mdlp": lambda x, y, **o: tl.mdlp_binning(x, y, special_values=[SPECIAL], minobs=3, **o),
    "mdlp_default": lambda x, y, **o: tl.mdlp_binning(x, y, **o),
    "mdlp_threshold": lambda x, y, **o: tl.mdlp_binning(x, y * 2 + 0.25, value=1.0, **o),
    "quantile": lambda x, y, **o: tl.quantile_binning(x, y, n_bins=7, **o),
    "width_full": lambda x, y, **o: tl.equal_width_binning(x, y, n_bins=6, **o),
    "width_iqr": lambda x, y, **o: tl.equal_width_binning(x, y, range="iqr", k=0.5, **o),
    "width_quantile": lambda x, y, **o: tl.equal_width_binning(
        x, y, range="quantile", special_values=[SPECIAL], **o
    ),
    "custom": lambda x, y, **o: tl.custom_binning(x, y, [2.0, 7.25], special_values=[SPECIAL], **o),
    "categorical": lambda x, y, **o: tl.categorical_binning(x, y, min_share=0.04, **o),
    "categorical_mdlp": lambda x, y, **o: tl.categorical_binning(x, y, method="mdlp", **o),
    "categorical_grouped": lambda x, y, **o: tl.grouped_binning(
        x, y, [["A", "D"], ["B"], ["C"]], pooled_group=2, **o
    ),
}


def assert_same_table(weighted, plain):
    """Every column but `rows`, the cut points, labels, categories and
    metadata alike (weights as floats against counts as integers)."""
    assert weighted.weighted and not plain.weighted
    for key in plain.columns:
        assert np.array_equal(weighted[key], plain[key], equal_nan=True), key
    assert np.array_equal(weighted.splits, plain.splits)
    assert weighted.labels == plain.labels
    assert weighted.bin_categories == plain.bin_categories
    assert weighted.metadata == plain.metadata
    assert weighted.gini == plain.gini or np.isnan(plain.gini)
    doc, plain_doc = weighted.to_dict(), plain.to_dict()
    for part in (doc, plain_doc):
        del part["rows"]
        part.pop("split_log", None)
        for edit in part.get("edits", ()):  # their digests cover the rows
            del edit["table_digest"], edit["digest"]
    assert doc == plain_doc


@pytest.mark.parametrize("seed", range(3))
@pytest.mark.parametrize("fit", FITS)
def test_integer_weights_are_the_rows_repeated_and_zero_weights_the_rows_left_out(fit, seed):
    x, grade, y, w = weighted_rows(seed)
    column = grade if fit.startswith("categorical") else x
    repeated = np.repeat(np.arange(x.size), w.astype(int))
    weighted = FITS[fit](column, y, sample_weight=w)
    assert_same_table(weighted, FITS[fit](column[repeated], y[repeated]))
    # The records: one per row of positive weight, in the same rows.
    present = w > 0
    alone = FITS[fit](column, y, sample_weight=present.astype(float))
    assert_same_table(alone, FITS[fit](column[present], y[present]))
    assert np.array_equal(alone["rows"], alone["count"])
    assert weighted["rows"].sum() == alone["rows"].sum()


@pytest.mark.parametrize("fit", FITS)
def test_weights_all_one_but_one_row_are_the_rows_with_that_row_twice(fit):
    """Weights of 1 are counted as rows and any other weight by weight: one
    row of 2 among them switches the count, not the table."""
    x, grade, y, _ = weighted_rows(0)
    column = grade if fit.startswith("categorical") else x
    w = np.ones(x.size)
    w[np.flatnonzero(np.isfinite(x) & (y == 1.0))[0]] = 2.0
    repeated = np.repeat(np.arange(x.size), w.astype(int))
    weighted = FITS[fit](column, y, sample_weight=w)
    assert_same_table(weighted, FITS[fit](column[repeated], y[repeated]))


def test_counts_of_weighted_groups_give_the_tables_of_the_rows():
    """An engine that sums a weight column beside its counts (records of
    positive weight only) gets the local weighted tables."""
    x, grade, y, w = weighted_rows(7, n=800)
    keep = w > 0

    def groups(keys):
        _, group = np.unique(keys.astype(str), return_inverse=True)
        first = np.unique(group, return_index=True)[1]
        sums = [np.bincount(group, weights=v) for v in (keep, keep & ~np.isnan(y), keep & (y == 1))]
        weights = [np.bincount(group, weights=w * m) for m in (1, y == 0, y == 1)]
        return keys[first], *(s.astype(np.int64) for s in sums), weights

    value, rows, known, ones, weights = groups(x)
    numbers = counted.ColumnCounts(value, rows, known, ones, [SPECIAL], weights=weights)
    for method in ("optimal", "mdlp", "quantile", "equal_width"):
        binning = tl.TableBinning(method=method, special_values=[SPECIAL], min_iv=0)
        table = binning.fit_counts({"x": numbers}, ["x"]).tables["x"]
        local = binning.fit({"x": x}, y, sample_weight=w).tables["x"]
        assert table.to_dict() == local.to_dict(), method
    with pytest.raises(ValueError, match=f"^{LIGHT} \\d+ rows .* {KEEP}$"):
        counted.ColumnCounts(value, rows, known, ones, weights=[v * 1e-10 for v in weights])
    names, rows, known, ones, weights = groups(grade)
    categories = counted.category_counts(list(names), rows, known, ones, weights=weights)
    assert (
        counted.category_table(categories, "grade").to_dict()
        == tl.categorical_binning(grade, y, sample_weight=w, name="grade").to_dict()
    )


def test_whole_table_and_discretizer_read_the_weights_as_repeated_rows():
    data = tl.datasets.german_credit()
    w = np.random.default_rng(3).integers(0, 3, len(data)).astype(float)
    repeated = data.loc[data.index.repeat(w.astype(int))].reset_index(drop=True)
    weighted = tl.TableBinning(event="bad").fit(
        data.assign(w=w), "creditability", sample_weight="w"
    )
    plain = tl.TableBinning(event="bad").fit(repeated, "creditability")
    assert list(weighted.tables) == list(plain.tables)
    for name, table in plain.tables.items():
        assert_same_table(weighted.tables[name], table)
    numeric = data[["duration_in_month", "credit_amount", "age_in_years"]]
    bad = data["creditability"] == "bad"
    fitted = tl.MDLPDiscretizer().fit(numeric, bad, sample_weight=w)
    expected = tl.MDLPDiscretizer().fit(
        repeated[numeric.columns], repeated["creditability"] == "bad"
    )
    for a, b in zip(fitted.splits_, expected.splits_):
        assert np.array_equal(a, b)


@pytest.mark.parametrize(
    "options",
    [
        {},
        {"method": "mdlp", "max_iv_pvalue": None},
        {"method": "quantile", "n_bins": 5},
        {"method": "equal_width", "n_bins": 4},
    ],
)
def test_a_table_weighted_all_one_is_the_table_weighted_by_weights(options):
    """Weights all 1 are counted as rows and the tables read as weights: the
    same tables, dtypes, edit counts and counters, bit for bit, as a row of
    weight 0 more (weighted, and as if absent) gives."""
    x, grade, y, _ = weighted_rows(1, n=900)
    data = {"x": x, "grade": grade, "t": y}
    extra = {k: np.append(v, v[:1]) for k, v in data.items()}
    binning = tl.TableBinning(special_values=[SPECIAL], min_iv=0, **options)
    ones = binning.fit(data, "t", sample_weight=np.ones(x.size))
    tables = dict(ones.tables)
    weighted = binning.fit(extra, "t", sample_weight=np.append(np.ones(x.size), 0.0))
    assert list(tables) == list(weighted.tables) == ["x", "grade"]
    for name, table in tables.items():
        assert table.weighted
        assert pickle.dumps(table) == pickle.dumps(weighted.tables[name]), name


def test_batches_of_weighted_rows_give_the_weighted_fit_of_all_rows():
    data = tl.datasets.german_credit()
    w = np.random.default_rng(5).integers(0, 4, len(data)).astype(float)
    data = data.assign(w=w)
    options = {"event": "bad", "special_values": [4.0], "method": "mdlp"}
    binning = tl.TableBinning(**options)
    for part in np.array_split(np.arange(len(data)), 3):
        binning.partial_fit(data.iloc[part], "creditability", sample_weight="w")
    whole = tl.TableBinning(**options).fit(data, "creditability", sample_weight="w")
    assert binning.to_dict() == whole.to_dict()
    with pytest.raises(ValueError, match="every batch needs sample_weight, or none"):
        binning.partial_fit(data, "creditability")


def test_a_weighted_table_reads_back_exactly_from_its_document_and_pickle():
    x, _, y, w = weighted_rows(4)
    table = tl.optimal_binning(x, y, sample_weight=w * 0.37, special_values=[SPECIAL])
    assert table["count"].dtype == np.float64 and table["rows"].dtype == np.int64
    assert table.header[-1] == "records" and len(table.rows()[0]) == len(table.header)
    for copy in (tl.BinningTable.from_json(table.to_json()), pickle.loads(pickle.dumps(table))):
        assert copy.to_dict() == table.to_dict()
        assert all(np.array_equal(copy[k], table[k], equal_nan=True) for k in table.columns)
        assert copy["rows"].dtype == np.int64


BEYOND = "adds up beyond the largest double: divide the weights by a common factor"
LIGHT = "sample_weight counts rows, but its"
REST = "less than half a row each: the bins' rules read counts of rows (events per bin, quantiles, the MDLP stopping rule), so multiply the weights by a common factor, such as"
KEEP = "to keep their proportions"


@pytest.mark.parametrize(
    "weights, message",
    [
        ([1.0, -1.0, 1.0, 1.0], "sample_weight must be finite and non-negative: row 1 is -1.0"),
        ([1.0, 1.0, np.nan, 1.0], "sample_weight must be finite and non-negative: row 2 is nan"),
        ([np.inf, 1.0, 1.0, 1.0], "sample_weight must be finite and non-negative: row 0 is inf"),
        ([1.0, 1.0, 1.0], "sample_weight must hold one weight per row: 3 weights for 4 rows"),
        ([0.0, 0.0, 0.0, 0.0], "sample_weight is zero for every row: there is nothing to count"),
        ([1e308, 1e308, 1.0, 1.0], f"sample_weight {BEYOND}"),
        # shares or tiny weights would meet rules that count rows
        (
            [0.25, 0.25, 0.0, 0.5],
            f"{LIGHT} 3 rows of positive weight weigh 1 in all, {REST} 3 / 1, {KEEP}",
        ),
        (
            [1e-10, 3e-10, 1e-10, 2e-10],
            f"{LIGHT} 4 rows of positive weight weigh 7e-10 in all, {REST} 4 / 7e-10, {KEEP}",
        ),
    ],
)
@pytest.mark.parametrize(
    "fit",
    [
        lambda w: tl.optimal_binning([1, 2, 3, 4], [0, 1, 0, 1], sample_weight=w),
        lambda w: tl.mdlp_binning([1, 2, 3, 4], [0, 1, 0, 1], sample_weight=w),
        lambda w: tl.custom_binning([1, 2, 3, 4], [0, 1, 0, 1], [2], sample_weight=w),
        lambda w: tl.categorical_binning(list("abab"), [0, 1, 0, 1], sample_weight=w),
        lambda w: tl.TableBinning().fit({"x": [1, 2, 3, 4]}, [0, 1, 0, 1], sample_weight=w),
    ],
)
def test_bad_weights_are_refused_naming_the_row(fit, weights, message):
    with pytest.raises(ValueError, match=f"^{re.escape(message)}$"):
        fit(weights)


ONE_CLASS_FITS = {
    "optimal": lambda x, y, **w: tl.optimal_binning(x, y, **w),
    "event": lambda x, y, **w: tl.optimal_binning(x, y, event="bad", **w),
    "categorical": lambda x, y, **w: tl.categorical_binning(x.astype(int).astype(str), y, **w),
    "table": lambda x, y, **w: tl.TableBinning().fit({"x": x}, y, **w),
}


@pytest.mark.parametrize("fit", ONE_CLASS_FITS)
def test_a_class_of_weight_zero_is_a_one_class_target(fit):
    """The events weigh 0: the error of the target without them."""
    x = np.arange(5.0)
    y = np.array(["good", "good", "bad", "good", "bad"], dtype=object)
    y = y if fit == "event" else (y == "bad").astype(float)
    w = np.array([1.0, 2.0, 0.0, 1.0, 0.0])
    with pytest.raises(ValueError) as weighted:
        ONE_CLASS_FITS[fit](x, y, sample_weight=w)
    with pytest.raises(ValueError) as plain:
        ONE_CLASS_FITS[fit](x[w > 0], y[w > 0])
    assert type(weighted.value) is type(plain.value)
    assert str(weighted.value) == str(plain.value)
    assert fit != "event" or isinstance(weighted.value, TargetError)
