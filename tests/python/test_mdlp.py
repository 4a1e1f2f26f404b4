import math

import numpy as np
import pytest

import _tessaline as t

LOG_KEYS = ["found", "pto", "gain", "cost_pos", "cost_struct", "cost", "idx"]
LOG_DTYPES = [np.bool_, np.float64, np.float64, np.float64, np.float64, np.float64, np.int64]
SUMMARY_KEYS = ["left", "right", "c0", "c1", "total", "p1"]
DEFAULT = (0, 0, 0, 1.0, 1.0, False)  # minobs, monotonicity, mono_dir, alpha, beta, force


def check_log(log):
    assert list(log) == LOG_KEYS
    assert [a.dtype for a in log.values()] == LOG_DTYPES
    assert len({a.size for a in log.values()}) == 1
    return log


def blocks():
    """Values 1..50 with labels in blocks of 5 zeros, 20 ones, 20 zeros, 5 ones."""
    x = np.arange(1, 51, dtype=np.float64)
    y = np.array([0] * 5 + [1] * 20 + [0] * 20 + [1] * 5, dtype=np.int32)
    return x, y


# --------------------------------------------------------------- evaluate_segment

RISING = ([1.0, 2.5, 4.0], [0, 2, 2], [0, 0, 2])
FALLING = ([1.0, 2.5, 4.0], [0, 0, 2], [0, 2, 2])
TIE = ([1.0, 1.5, 2.5, 3.0], [0, 1, 1, 2], [0, 0, 1, 1])


def test_evaluate_segment_clean_split():
    r = t.evaluate_segment(*RISING, 0, 2, 0, 0, 0, 1.0, 1.0)
    assert r == {
        "found": True,
        "pto": 2.5,
        "gain": 1.0,
        "cost_pos": 0.396240625180289,
        "cost_struct": 0.20183873051440104,
        "cost": 0.5980793556946901,
        "idx": 1,
    }
    assert list(r) == LOG_KEYS
    assert type(r["found"]) is bool and type(r["idx"]) is int


def test_evaluate_segment_tie_is_rejected_with_its_numbers():
    r = t.evaluate_segment(*TIE, 0, 3, 0, 0, 0, 1.0, 1.0)
    assert r == {
        "found": False,
        "pto": 1.5,
        "gain": 0.2516291673878229,
        "cost_pos": 1 / 3,
        "cost_struct": 0.9902544179828751,
        "cost": 1.3235877513162084,
        "idx": 1,
    }
    empty = t.evaluate_segment(*TIE, 0, 3, 1, 0, 0, 1.0, 1.0)
    assert empty == dict(zip(LOG_KEYS, [False, 0.0, 0.0, 0.0, 0.0, 0.0, 0]))
    assert t.evaluate_segment(*TIE, 0, 3, 0, 0, 0, 0.0, 0.0)["found"] is True


@pytest.mark.parametrize("monotonicity", [0, 1, 2, 3])
@pytest.mark.parametrize("mono_dir", [-1, 0, 1])
def test_evaluate_segment_direction_filter(monotonicity, mono_dir):
    r = t.evaluate_segment(*FALLING, 0, 2, 0, monotonicity, mono_dir, 1.0, 1.0)
    filtered = monotonicity in (1, 3) and mono_dir > 0
    assert r["found"] is (not filtered)
    assert r["idx"] == (0 if filtered else 1)


@pytest.mark.parametrize(
    "args, message",
    [
        (([1.0, 2.0], [0, 1, 1], [0, 0], 0, 1, 0, 9),
         "evaluate_segment: pto_corte, c0 y c1 deben tener la misma longitud"),
        (([], [], [], 0, 1, 0, 9), "evaluate_segment: no hay boundaries en B"),
        (([1.0, 2.0], [0, 1], [0, 0], 1, 1, 0, 9),
         "evaluate_segment: L y R deben cumplir L < R < length(B)"),
        (([1.0, 2.0], [0, 1], [0, 0], 0, 2, 0, 9),
         "evaluate_segment: L y R deben cumplir L < R < length(B)"),
        (([1.0, 2.0], [0, 1], [0, 0], 0, 1, 0, 4), "monotonicity debe estar en 0..3"),
        (([1.0, 2.0], [0, 1], [0, 0], 0, 1, 0, -1), "monotonicity debe estar en 0..3"),
    ],
)
def test_evaluate_segment_errors_in_check_order(args, message):
    pto, c0, c1, L, R, minobs, monotonicity = args
    with pytest.raises(ValueError) as info:
        t.evaluate_segment(pto, c0, c1, L, R, minobs, monotonicity, 0, 1.0, 1.0)
    assert str(info.value) == message


def test_evaluate_segment_negative_index_is_a_type_error():
    with pytest.raises(TypeError):
        t.evaluate_segment(*RISING, -1, 2, 0, 0, 0, 1.0, 1.0)


# ------------------------------------------------------------ mdlp and mdlp_raw

def test_blocks_give_three_splits_depth_first():
    x, y = blocks()
    log = check_log(t.mdlp(x, y, *DEFAULT))
    assert log["found"].tolist() == [True, True, True]
    assert log["idx"].tolist() == [2, 1, 3]
    assert log["pto"].tolist() == [25.5, 5.5, 45.5]
    np.testing.assert_allclose(log["gain"], [0.278072, 0.721928, 0.721928], atol=5e-7)
    np.testing.assert_allclose(log["cost"], [0.186196, 0.237938, 0.237938], atol=5e-7)
    # The root's numbers follow the criterion with unit weights.
    h = 1.0
    e = (25 * (-(0.2 * math.log2(0.2) + 0.8 * math.log2(0.8))) * 2) / 50
    assert log["gain"][0] == pytest.approx(h - e, abs=1e-15)
    assert log["cost_pos"][0] == math.log2(49) / 50


def test_raw_pipeline_gives_the_same_log():
    x, y = blocks()
    shuffled = np.random.default_rng(3).permutation(50)
    raw = check_log(t.mdlp_raw(x[shuffled], y[shuffled].astype(float), *DEFAULT))
    sorted_log = t.mdlp(x, y, *DEFAULT)
    for key in LOG_KEYS:
        np.testing.assert_array_equal(raw[key], sorted_log[key])


def test_raw_pipeline_binarises_with_value_or_percentile():
    x = np.arange(1, 9, dtype=float)
    y = np.array([0.1, 0.2, 0.3, 0.2, 5.0, 6.0, 7.0, 8.0])
    # The ninth positional argument is value, not percentile.
    by_value = t.mdlp_raw(x, y, 0, 0, 0, 1.0, 1.0, False, 0.5)
    by_percentile = t.mdlp_raw(x, y, 0, 0, 0, 1.0, 1.0, False, percentile=50.0)
    assert by_value["pto"].tolist() == [4.5] == by_percentile["pto"].tolist()
    assert by_value["found"].tolist() == [True]


@pytest.mark.parametrize(
    "x, y, force, found, idx",
    [
        ([1, 2, 3], [0, 1, 0], False, [False], [1]),
        ([1, 2, 3], [0, 1, 0], True, [True], [1]),
        ([1, 2, 3, 4, 5, 6], [0, 0, 1, 1, 0, 0], True, [True], [1]),
    ],
)
def test_force_first_split(x, y, force, found, idx):
    log = t.mdlp(np.array(x, float), np.array(y, np.int32), 0, 0, 0, 1.0, 1.0, force)
    assert log["found"].tolist() == found
    assert log["idx"].tolist() == idx


def test_force_first_split_without_candidate_or_after_acceptance():
    x = np.arange(1, 7, dtype=float)
    y = np.array([0, 0, 1, 1, 0, 0], np.int32)
    log = t.mdlp(x, y, 2, 0, 0, 1.0, 1.0, True)
    assert log["found"].tolist() == [False] and log["idx"].tolist() == [0]
    bx, by = blocks()
    assert t.mdlp(bx, by, 0, 0, 0, 1.0, 1.0, True)["found"].tolist() == [True] * 3


@pytest.mark.parametrize("x, y", [([], []), ([1.0, 2.0], [1, 1]), ([3.0, 3.0], [0, 1])])
def test_nothing_to_evaluate_gives_empty_arrays(x, y):
    log = check_log(t.mdlp(np.array(x, float), np.array(y, np.int32), *DEFAULT))
    assert all(a.size == 0 for a in log.values())
    raw = check_log(t.mdlp_raw(np.array(x, float), np.array(y, float), *DEFAULT))
    assert all(a.size == 0 for a in raw.values())


@pytest.mark.parametrize("fn", [t.mdlp, t.mdlp_full])
@pytest.mark.parametrize("monotonicity", [-1, 4, 2**31 - 1])
def test_bad_monotonicity(fn, monotonicity):
    with pytest.raises(ValueError, match=r"^monotonicity debe estar en 0\.\.3$"):
        fn([1.0, 2.0], np.array([0, 1], np.int32), 0, monotonicity, 0, 1.0, 1.0, False)


@pytest.mark.parametrize(
    "fn, y, message",
    [
        (t.mdlp, np.array([0], np.int32), "mdlp: x e y deben tener la misma longitud"),
        (t.mdlp_raw, [0.0], "mdlp: x e y deben tener la misma longitud"),
        (t.mdlp_full, np.array([0], np.int32),
         "mdlp_with_summary: x e y deben tener la misma longitud"),
    ],
)
def test_length_check_comes_first(fn, y, message):
    with pytest.raises(ValueError) as info:
        fn([1.0, 2.0], y, 0, 9, 0, 1.0, 1.0, False)
    assert str(info.value) == message


def test_mdlp_raw_checks_monotonicity_before_value():
    with pytest.raises(ValueError, match="monotonicity"):
        t.mdlp_raw([1.0, 2.0], [0.0, 1.0], 0, 7, 0, 1.0, 1.0, False, "bad")
    with pytest.raises(RuntimeError, match="^Unable to cast Python instance of type "):
        t.mdlp_raw([1.0, 2.0], [0.0, 1.0], 0, 3, 0, 1.0, 1.0, False, "bad")


def test_minobs_float_is_a_type_error():
    with pytest.raises(TypeError):
        t.mdlp([1.0, 2.0], np.array([0, 1], np.int32), 2.0, 0, 0, 1.0, 1.0, False)


# ---------------------------------------------------------------- mdlp_full

def test_mdlp_full_worked_example():
    r = t.mdlp_full(np.array([1.0, 2, 3, 4]), np.array([0, 0, 1, 1], np.int32), *DEFAULT)
    assert list(r) == ["mdlp", "summary"]
    log = check_log(r["mdlp"])
    assert log["found"].tolist() == [True] and log["idx"].tolist() == [1]
    assert log["pto"].tolist() == [2.5]
    s = r["summary"]
    assert list(s) == SUMMARY_KEYS
    assert [a.dtype for a in s.values()] == [np.float64] * 2 + [np.int64] * 3 + [np.float64]
    assert s["left"].tolist() == [-np.inf, 2.5]
    assert s["right"].tolist() == [2.5, np.inf]
    assert s["c0"].tolist() == [2, 0]
    assert s["c1"].tolist() == [0, 2]
    assert s["total"].tolist() == [2, 2]
    assert s["p1"].tolist() == [0.0, 1.0]


def test_mdlp_full_empty_and_unsplit():
    r = t.mdlp_full(np.array([]), np.array([], np.int32), *DEFAULT)
    assert all(a.size == 0 for d in r.values() for a in d.values())
    r = t.mdlp_full(np.array([1.0, 2.0, 3.0]), np.array([0, 1, 0], np.int32), *DEFAULT)
    s = r["summary"]
    assert (s["left"].tolist(), s["right"].tolist()) == ([-np.inf], [np.inf])
    assert (s["c0"].tolist(), s["c1"].tolist(), s["total"].tolist()) == ([2], [1], [3])


@pytest.mark.parametrize("seed", range(15))
def test_mdlp_full_intervals_hold_their_records(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(50, 2000))
    x = np.sort(np.round(rng.normal(size=n), 2))
    y = (rng.random(n) < 1 / (1 + np.exp(-2 * x))).astype(np.int32)
    search = (int(rng.integers(0, 5)), int(rng.integers(0, 4)), int(rng.integers(-1, 2)),
              0.5, 0.5, False)
    r = t.mdlp_full(x, y, *search)
    s = r["summary"]
    found = r["mdlp"]["found"]
    assert s["left"].size == found.sum() + 1
    assert s["right"][:-1].tolist() == sorted(r["mdlp"]["pto"][found].tolist())
    np.testing.assert_array_equal(s["left"][1:], s["right"][:-1])
    for left, right, c0, c1 in zip(s["left"], s["right"], s["c0"], s["c1"]):
        inside = (x > left) & (x <= right)
        assert (c0, c1) == ((y[inside] == 0).sum(), (y[inside] != 0).sum())
    assert s["total"].sum() == n
    # The same search through mdlp gives the same log.
    log = t.mdlp(x, y, *search)
    for key in LOG_KEYS:
        np.testing.assert_array_equal(r["mdlp"][key], log[key])
