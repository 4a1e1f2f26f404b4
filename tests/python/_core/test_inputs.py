"""Columns bin the same whatever form they arrive in: decimals as numbers,
dates refused rather than read in their unit, column names as names."""

import decimal
import re

import numpy as np
import pytest
from package_under_test import tessaline as tl

from tessaline._core import categories

pandas = pytest.importorskip("pandas")


def sample(n=2000, seed=3):
    rng = np.random.default_rng(seed)
    x = np.round(rng.normal(size=n) * 10, 2)
    y = (x + rng.normal(size=n) * 5 > 0).astype(float)
    x[::41] = np.nan
    return x, y


def decimals(x):
    return [None if np.isnan(v) else decimal.Decimal(str(v)) for v in x]


DECIMAL_FORMS = {
    "pandas objects": lambda x: pandas.Series(decimals(x), dtype=object),
    "pandas objects, NaN missing": lambda x: pandas.Series(
        [np.nan if v is None else v for v in decimals(x)], dtype=object
    ),
    "pandas category": lambda x: pandas.Series(decimals(x), dtype="category"),
    "NumPy objects": lambda x: np.array(decimals(x), dtype=object),
    "list": decimals,
    "pyarrow decimal": lambda x: pytest.importorskip("pyarrow").array(
        decimals(x), type=pytest.importorskip("pyarrow").decimal128(12, 2)
    ),
    "polars Decimal": lambda x: pytest.importorskip("polars").Series(
        decimals(x), dtype=pytest.importorskip("polars").Decimal(12, 2)
    ),
}


@pytest.mark.parametrize("form", DECIMAL_FORMS)
def test_decimals_bin_as_the_same_numbers_as_floats(form):
    x, y = sample()
    column = DECIMAL_FORMS[form](x)
    expected = tl.TableBinning().fit({"x": x}, y)
    assert tl.TableBinning().fit({"x": column}, y).to_dict() == expected.to_dict()
    assert expected.tables["x"].kind == "numeric" and expected.selected == ["x"]
    table = expected.tables["x"]
    np.testing.assert_array_equal(
        table.transform(column, output="woe"), table.transform(x, output="woe")
    )
    # Declared categories are named as the floats are.
    codes = np.where(np.isnan(x), np.nan, np.round(np.abs(x) / 10) / 2)
    assert (
        tl.categorical_binning(DECIMAL_FORMS[form](codes), y, name="x").to_dict()
        == tl.categorical_binning(codes, y, name="x").to_dict()
    )
    # A target of decimals 0/1 is read as numbers too.
    assert (
        tl.mdlp_binning(x, DECIMAL_FORMS[form](y), name="x").to_dict()
        == tl.mdlp_binning(x, y, name="x").to_dict()
    )


@pytest.mark.parametrize(
    "form",
    [list, lambda v: np.array(v, dtype=object), lambda v: pandas.Series(v, dtype=object)],
    ids=["list", "NumPy objects", "pandas objects"],
)
@pytest.mark.parametrize(
    "values, names",
    [
        ([0, 1, False, True, 1.0], ["0", "1", "False", "True", "1"]),
        ([False, True, 0, 1.0], ["False", "True", "0", "1"]),
        ([True, "True", 1.5, np.False_, 0.0], ["True", "True", "1.5", "False", "0"]),
        ([0, np.nan, False], ["0", None, "False"]),
    ],
)
def test_a_value_names_its_category_whatever_its_neighbours(form, values, names):
    encoded = categories.encode(form(values))
    assert [encoded.names[c] if c >= 0 else None for c in encoded.codes] == names


@pytest.mark.parametrize("dtype", ["str", "string[python]", "string[pyarrow]"])
@pytest.mark.parametrize("missing", [None, np.nan])
@pytest.mark.parametrize("parts", [1, 2])
def test_text_of_every_pandas_string_dtype_is_encoded_as_the_objects(dtype, missing, parts):
    # Encoded where pandas keeps the strings (in one or several pieces), the
    # names and codes are those of the same text as Python objects, in the
    # order of Python's strings (accents and other scripts after ASCII); a
    # missing value is code -1.
    pytest.importorskip("pyarrow")
    values = ["b", missing, "a", "ab", "é", "b", "", missing, "B", "日本", "a"]
    column = pandas.concat(
        [pandas.Series(values[k::parts], dtype=dtype) for k in range(parts)], ignore_index=True
    )
    encoded = categories.encode(column)
    as_objects = categories.encode(pandas.Series(column.tolist(), dtype=object))
    assert encoded.names == as_objects.names == ["", "B", "a", "ab", "b", "é", "日本"]
    assert encoded.codes.dtype == np.int64
    assert encoded.codes.tolist() == as_objects.codes.tolist()
    assert sorted(encoded.codes.tolist()) == [-1, -1, 0, 1, 2, 2, 3, 4, 4, 5, 6]


def instants(n=2000):
    return np.datetime64("2020-01-01T00:00:00", "ns") + np.arange(n) * np.timedelta64(37, "h")


TIME_FORMS = {
    "datetime64[ns]": lambda t: t,
    "datetime64[us]": lambda t: t.astype("datetime64[us]"),
    "timedelta64[s]": lambda t: (t - t[0]).astype("timedelta64[s]"),
    "pandas tz-aware": lambda t: pandas.Series(t).dt.tz_localize("UTC"),
    "pandas dates as Arrow": lambda t: pandas.Series(t).astype("timestamp[ms][pyarrow]"),
    "pyarrow timestamp": lambda t: pytest.importorskip("pyarrow").array(t),
    "pyarrow date32": lambda t: pytest.importorskip("pyarrow").array(t.astype("datetime64[D]")),
    "polars Datetime": lambda t: pytest.importorskip("polars").Series(t),
    "polars Date": lambda t: pytest.importorskip("polars").Series(t).dt.date(),
}


@pytest.mark.parametrize("form", TIME_FORMS)
def test_dates_are_refused_with_what_to_do(form):
    _, y = sample()
    column = TIME_FORMS[form](instants())
    reason = (
        "the column holds dates or times, whose numbers depend on their unit: convert "
        "it to a number first (days since a reference date, or a number of months, say)"
    )
    with pytest.raises(TypeError, match=re.escape(reason)):
        tl.mdlp_binning(column, y)
    binning = tl.TableBinning().fit({"t": column, "x": sample()[0]}, y)
    assert binning.skipped == {"t": reason}
    with pytest.raises(TypeError, match=re.escape(reason)):
        binning.tables["x"].transform(column)


def test_an_integer_column_name_is_found_and_repeated_names_are_named():
    x, y = sample()
    frame = pandas.DataFrame(np.c_[y, x, -x])
    by_number = tl.TableBinning().fit(frame, 0)
    by_name = tl.TableBinning().fit({"1": x, "2": -x, "0": y}, "0")
    assert (
        by_number.tables.keys() == {"1", "2"}
        and by_number.tables["1"].to_dict() == by_name.tables["1"].to_dict()
    )
    assert list(tl.TableBinning().fit_transform(frame, 0)) == ["1", "2"]
    repeated = pandas.DataFrame(np.c_[y, x, -x, x], columns=["y", "a", "b", "a"])
    with pytest.raises(
        ValueError, match="the table has more than one column named 'a': rename them apart"
    ):
        tl.TableBinning().fit(repeated, "y")
    with pytest.raises(ValueError, match="more than one column named '0'"):
        tl.TableBinning().fit({0: x, "0": x, "y": y}, "y")
