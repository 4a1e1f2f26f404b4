"""PMML documents run in a real evaluator (the JPMML evaluator, on Java): the
score, reason codes and WoE of every row equal the package's own, bit for
bit, on German credit and on a hostile table; and what cannot be written."""

import os
import shutil
import warnings

import numpy as np
import pandas as pd
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl

# The hostile frames feed values training never met on purpose.
pytestmark = pytest.mark.filterwarnings("ignore::tessaline.exceptions.UnseenValueWarning")

GERMAN = pd.read_csv(ROOT / "examples" / "data" / "germancredit.csv")
ODD_NAME = ' a "quoted" \\ <&> '


def training_frame(n=3000, seed=3):
    """Numbers with missing values, infinities and a special code; categories
    with rare ones (pooled), an empty name, one that XML must escape, and
    missing values; booleans with missing values."""
    rng = np.random.default_rng(seed)
    x = rng.normal(size=n)
    frame = pd.DataFrame(
        {
            "x": np.where(rng.random(n) < 0.05, np.nan, x),
            "code": np.where(rng.random(n) < 0.1, -999.0, rng.integers(0, 40, n).astype(float)),
            "region": rng.choice(
                ["north", "south", "east", "west", "isle", "", ODD_NAME, None],
                n,
                p=[0.3, 0.28, 0.2, 0.15, 0.02, 0.02, 0.01, 0.02],
            ),
        }
    )
    frame["flag"] = pd.Series(rng.random(n) < 0.5, dtype=object).where(rng.random(n) < 0.95)
    frame.loc[:9, "x"] = np.inf
    frame.loc[10:19, "x"] = -np.inf
    return frame, (rng.random(n) < 1 / (1 + np.exp(-x - (frame["region"] == "north")))).astype(int)


def hostile_frame(binning):
    """Every cut point and special value with its neighbours either side,
    NaN, +-inf, signed zeros and extremes, against categories seen, pooled,
    unseen, empty, escaped and missing."""
    numbers = [np.nan, np.inf, -np.inf, 0.0, -0.0, 1e308, -1e308, 5e-324]
    for table in (binning.tables["x"], binning.tables["code"]):
        for point in (*table.splits, *table.special_values):
            numbers += [point, np.nextafter(point, -np.inf), np.nextafter(point, np.inf)]
    names = ["north", "isle", "atlantis", tl._core.categories.OTHER, "", ODD_NAME, None, "North"]
    flags = [True, False, None, np.nan, "True", "False"]
    return pd.DataFrame(
        {
            "x": numbers,
            "code": numbers[::-1],
            "region": [names[i % len(names)] for i in range(len(numbers))],
            "flag": [flags[i % len(flags)] for i in range(len(numbers))],
        }
    )


def hostile(fill=None, **options):
    frame, y = training_frame()
    frame["region"] = frame["region"].fillna(fill) if fill is not None else frame["region"]
    binning = tl.TableBinning(special_values={"code": [-999]}, **options).fit(frame, y)
    return binning, (frame, y), [frame, hostile_frame(binning)]


@pytest.fixture(scope="module", params=["german", "pooled", "unpooled", "clipped"])
def case(request):
    """A fitted binning, its training data and target, and the frames to score."""
    if request.param == "german":
        binning = tl.TableBinning(event="bad").fit(GERMAN, "creditability")
        return binning, (GERMAN, "creditability"), [GERMAN.drop(columns="creditability")]
    # Rare categories pooled in an "other" group; or none pooled and none
    # missing, so that an unseen category falls in no bin (WoE 0).
    if request.param == "pooled":
        return hostile(min_share=0.05)
    if request.param == "clipped":
        # Raw values beyond the bounds score where their clipped ones would.
        return hostile(min_share=0.05, clip=(0.1, 0.9))
    return hostile("south", min_share=0.0)


@pytest.fixture(scope="module")
def evaluate():
    """Loads a document in the evaluator's strict mode and scores a frame,
    NaN passed as NaN in columns of numbers and a missing category as
    missing (a string field reads NaN as the text "NaN", a category); any
    warning the evaluator prints fails the test."""
    if "asan" in os.environ.get("LD_PRELOAD", ""):
        # The JVM does not start under the preloaded sanitizer runtime; the
        # documents' rules are the ones the SQL tests check against transform.
        pytest.skip("the PMML evaluator's JVM does not run under the sanitizer runtime")
    if shutil.which("java") is None and not os.environ.get("JAVA_HOME"):
        pytest.skip("the PMML evaluator needs Java")
    jpmml = pytest.importorskip("jpmml_evaluator")

    def run(document, frame, capfd):
        evaluator = jpmml.make_evaluator(document, lax=False).verify()
        frame = pd.DataFrame(
            {
                name: c if c.dtype.kind == "f" else c.astype(object).where(c.notna(), None)
                for name, c in frame.items()
            }
        )
        results, errors = evaluator.evaluateAll(frame, nan_as_missing=False, error_col=None)
        assert errors is None and capfd.readouterr().err == ""
        # The binning's model predicts nothing: its unnamed target (a column
        # named NaN) is not one of the document's outputs.
        return results[[c for c in results if isinstance(c, str)]]

    return run


def assert_same_bits(got, want):
    """Equal doubles, bit for bit: -0.0 is not 0.0 here."""
    np.testing.assert_array_equal(
        got.to_numpy(dtype=np.float64).view(np.uint64),
        np.asarray(want, dtype=np.float64).view(np.uint64),
    )


def unwarned(call, *args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", tl.UnseenCategoryWarning)
        return call(*args, **kwargs)


@pytest.mark.parametrize(
    "rounding, reasons, scaling",
    [
        (None, 3, {}),
        (0, 5, {"intercept_points": "separate"}),
        (2, 0, {"score_range": (300, 850)}),
        (0, 1, {"score_range": (0, 1000), "intercept_points": "separate"}),
    ],
)
def test_the_scorecard_in_pmml_scores_and_gives_reasons_as_the_card(
    evaluate, case, capfd, rounding, reasons, scaling
):
    binning, training, frames = case
    card = tl.Scorecard(binning, rounding=rounding, selected=False, **scaling).fit(*training)
    document = card.to_pmml(reasons=reasons)
    for frame in frames:
        got = evaluate(document, frame, capfd)
        assert_same_bits(got["score"], unwarned(card.score, frame))
        want = unwarned(card.reason_codes, frame, n=reasons)
        assert list(got) == ["score", *want]
        for code, names in want.items():
            assert got[code].tolist() == names.tolist()


def test_a_score_of_minus_zero_points_stays_minus_zero(evaluate, capfd):
    # Zero coefficients and intercept, 0 points at odds 1:1 written as -0.0:
    # every variable's points are -0.0, and so is their sum; every variable
    # loses no points, so the reasons come in the order of the variables.
    binning, _, frames = hostile()
    card = tl.Scorecard(binning, base_score=-0.0, base_odds=1.0).set_model(
        ["code", "region", "x"], [0.0, 0.0, 0.0], 0.0
    )
    got = evaluate(card.to_pmml(), frames[1], capfd)
    assert np.signbit(card.score(frames[1])).all()
    assert_same_bits(got["score"], card.score(frames[1]))
    assert got["reason_1"].eq("code").all() and got["reason_3"].eq("x").all()


def test_awkward_doubles_reach_the_evaluator_unchanged(evaluate, capfd):
    # Cut points and special values at the extremes, subnormal, beyond 2^53 and
    # between decimals, each scored with its neighbours either side.
    cuts = [-1.7976931348623155e308, -2.2250738585072014e-308, 5e-324, 0.1 + 0.2, 2.0**60 + 256]
    specials = [0.3, 1e23, 2.2250738585072014e-308]
    points = np.array(cuts + specials)
    x = np.concatenate(
        [
            points,
            np.nextafter(points, -np.inf),
            np.nextafter(points, np.inf),
            [np.nan, np.inf, -np.inf, 0.0, -0.0],
        ]
    )
    table = tl.custom_binning(
        np.tile(x, 5), np.arange(5 * x.size) % 3 == 0, cuts, special_values=specials, name="a"
    )
    binning = tl.TableBinning()
    binning.restore(tables={"a": table}, skipped={}, summary=None, fitted_columns=["a"])
    card = tl.Scorecard(binning).set_model(["a"], [0.7071067811865476], -0.1)
    frame = pd.DataFrame({"a": x})
    assert_same_bits(evaluate(binning.to_pmml(), frame, capfd)["woe(a)"], table.transform(x, "woe"))
    assert_same_bits(evaluate(card.to_pmml(), frame, capfd)["score"], card.score(frame))


@pytest.mark.parametrize("selected", [False, True])
def test_the_binning_in_pmml_gives_the_woe_of_transform(evaluate, case, capfd, selected):
    binning, _, frames = case
    document = binning.to_pmml(selected=selected)
    for frame in frames:
        got = evaluate(document, frame, capfd)
        want = unwarned(binning.transform, frame, output="woe", selected=selected)
        assert list(got) == [f"woe({name})" for name in want]
        for name in want:
            assert_same_bits(got[f"woe({name})"], want[name])


@pytest.mark.parametrize(
    "write, message",
    [
        (lambda b: tl.Scorecard(b).to_pmml(), "only a fitted Scorecard can be written as PMML"),
        (lambda b: tl.TableBinning().to_pmml(), "only a fitted TableBinning with binned columns"),
        (
            lambda b: tl.Scorecard(b).set_model(["x"], [1.0], 0.0).to_pmml(name="x"),
            "the outputs' names must differ from each other and from the columns': x",
        ),
        (
            lambda b: (
                tl.Scorecard(b).set_model(["x", "code"], [1.0, 1.0], 0.0).to_pmml(name="reason_2")
            ),
            "must differ from each other and from the columns': reason_2",
        ),
        (
            lambda b: tl.Scorecard(b).set_model(["x"], [1.0], 0.0).to_pmml(reasons=-1),
            "reasons must be a whole number of at least 0, not -1",
        ),
    ],
)
def test_what_pmml_cannot_say_is_refused(write, message):
    binning, _, _ = hostile()
    with pytest.raises(ValueError, match=message.replace("(", "\\(").replace(")", "\\)")):
        write(binning)


def test_a_category_xml_cannot_carry_is_refused():
    frame = pd.DataFrame({"c": ["a", "b\x01"] * 20})
    binning = tl.TableBinning().fit(frame, np.arange(40) % 2)
    with pytest.raises(ValueError, match="the category 'b\\\\x01' holds a character that XML"):
        binning.to_pmml()


# Names an evaluator could read otherwise: line ends XML normalises, spaces it
# might trim, texts it might take for a missing value, a number or a boolean.
HOSTILE_NAMES = [
    "\r", "a\rb", "\r\n", "\n", "line\nbreak", "\t", " ", "  padded  ", "NaN", "nan", "None",
    "null", "NA", "N/A", "", "True", "1", "1.0", "-0", "INF", "é", "😀", "<&>", "'\"", "\\", "a b",
]  # fmt: skip


@pytest.mark.parametrize("nan_in_training", [True, False], ids=["NaN-pooled", "NaN-unseen"])
def test_every_category_name_scores_in_pmml_as_transform(evaluate, capfd, nan_in_training):
    # The first names are common enough for bins of their own, the others are
    # pooled; the text "NaN" is pooled, or met only when scoring.
    names = [n for n in HOSTILE_NAMES if nan_in_training or n != "NaN"]
    rng = np.random.default_rng(11)
    weights = np.r_[np.full(6, 8.0), np.ones(len(names) - 6)]
    x = rng.choice(np.array(names, dtype=object), 4000, p=weights / weights.sum())
    y = (rng.random(x.size) < np.where(np.isin(x, names[:6]), 0.1, 0.5)).astype(int)
    binning = tl.TableBinning(categorical=["c"], min_share=0.05).fit(pd.DataFrame({"c": x}), y)
    assert binning.tables["c"].pooled_bin is not None
    frame = pd.DataFrame({"c": [*HOSTILE_NAMES, "unseen", None]})
    card = tl.Scorecard(binning, selected=False).set_model(["c"], [-1.0], 0.25)
    assert_same_bits(
        evaluate(binning.to_pmml(), frame, capfd)["woe(c)"], unwarned(binning.transform, frame)["c"]
    )
    assert_same_bits(evaluate(card.to_pmml(), frame, capfd)["score"], unwarned(card.score, frame))


def test_a_pair_scores_and_bins_in_pmml_by_its_cells(evaluate, capfd):
    # A numeric pair and a categorical one, against values training never
    # met: infinities, missing values, unseen and missing categories.
    rng = np.random.default_rng(5)
    n = 2000
    frame = pd.DataFrame(
        {
            "x": np.where(rng.random(n) < 0.05, np.nan, rng.normal(size=n)),
            "u": rng.uniform(size=n),
            "region": rng.choice(["north", "south", "east", None], n),
        }
    )
    y = (rng.random(n) < np.where((frame["x"] > 0) ^ (frame["u"] > 0.5), 0.4, 0.1)).astype(int)
    binning = tl.TableBinning(pairs=[("x", "u"), ("region", "u")], max_iv_pvalue=None)
    card = tl.Scorecard(binning, selected=False).fit(frame, y)
    odd = frame.head(8).copy()
    odd["x"] = [
        np.inf,
        -np.inf,
        np.nan,
        0.0,
        -0.0,
        1e308,
        *card.binning.pair_tables["x × u"].cuts_x[:2],
    ]
    odd["region"] = ["west", None, "north", "", "south", "east", "North", None]
    for scored in (frame, odd):
        got = evaluate(card.to_pmml(), scored, capfd)
        assert_same_bits(got["score"], unwarned(card.score, scored))
        for code, names in unwarned(card.reason_codes, scored).items():
            assert got[code].tolist() == names.tolist()
        woe = evaluate(card.binning.to_pmml(), scored, capfd)
        for name, want in unwarned(card.binning.transform, scored).items():
            assert_same_bits(woe[f"woe({name})"], want)
