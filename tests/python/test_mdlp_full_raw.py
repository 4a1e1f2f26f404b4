"""mdlp_full_raw: the one-call MDLP pipeline with its summary and counters."""
import math

import numpy as np
import pytest

from _tessaline import mdlp_full_raw

NAN, INF = np.nan, np.inf
SUMMARY_KEYS = ["left", "right", "count", "percentage", "c0", "c1", "event_rate",
                "representative"]
METADATA_KEYS = ["n_input", "n_used", "n_missing_x", "n_missing_y", "n_missing_both",
                 "n_non_finite", "target_was_binary", "threshold"]


def run(x, y, minobs=0, monotonicity=0, mono_dir=0, alpha_pos=1.0, beta_struct=1.0,
        force_first_split=False, **kwargs):
    return mdlp_full_raw(np.asarray(x, dtype=float), np.asarray(y, dtype=float), minobs,
                         monotonicity, mono_dir, alpha_pos, beta_struct, force_first_split,
                         **kwargs)


def rows(summary):
    return [tuple(summary[k][i] for k in SUMMARY_KEYS) for i in range(len(summary["left"]))]


def assert_rows_equal(actual, expected):
    assert len(actual) == len(expected)
    for a, e in zip(actual, expected):
        for u, v in zip(a, e):
            assert (math.isnan(u) and math.isnan(v)) or u == pytest.approx(v, rel=1e-15), (a, e)


def test_worked_example():
    out = run([1, 2, 3, 4, NAN], [0, 0, 1, 1, 1])
    assert list(out) == ["mdlp", "summary", "metadata"]
    assert list(out["mdlp"]) == ["found", "pto", "gain", "cost_pos", "cost_struct", "cost", "idx"]
    assert list(out["summary"]) == SUMMARY_KEYS
    assert list(out["metadata"]) == METADATA_KEYS
    np.testing.assert_array_equal(out["mdlp"]["found"], [True])
    np.testing.assert_array_equal(out["mdlp"]["idx"], [1])
    np.testing.assert_array_equal(out["mdlp"]["pto"], [2.5])
    assert_rows_equal(rows(out["summary"]), [
        (-INF, 2.5, 2, 0.4, 2, 0, 0.0, 1.5),
        (2.5, INF, 2, 0.4, 0, 2, 1.0, 3.5),
        (NAN, NAN, 1, 0.2, 0, 1, 1.0, NAN),
    ])
    for key in ("count", "c0", "c1"):
        assert out["summary"][key].dtype == np.int64
    assert out["metadata"] == {"n_input": 5, "n_used": 4, "n_missing_x": 1, "n_missing_y": 0,
                               "n_missing_both": 0, "n_non_finite": 0,
                               "target_was_binary": True, "threshold": 0.0}
    assert type(out["metadata"]["n_input"]) is int
    assert type(out["metadata"]["threshold"]) is float


@pytest.mark.parametrize("representative, expected", [("median", 2.5), ("mean", 2.5)])
def test_no_split_gives_one_interval_over_every_kept_record(representative, expected):
    out = run([1, 2, 3, 4], [0, 1, 0, 1], representative=representative)
    assert_rows_equal(rows(out["summary"]), [(-INF, INF, 4, 1.0, 2, 2, 0.5, expected)])


def test_only_missing_x_rows_give_only_the_missing_row():
    out = run([NAN, NAN, NAN], [1, 0, 1])
    assert all(len(a) == 0 for a in out["mdlp"].values())
    assert_rows_equal(rows(out["summary"]), [(NAN, NAN, 3, 1.0, 1, 2, 2 / 3, NAN)])
    assert out["metadata"]["n_missing_x"] == 3 and out["metadata"]["n_used"] == 0


@pytest.mark.parametrize("x, y", [([], []), ([NAN, INF, 1.0], [NAN, 1.0, NAN])])
def test_no_usable_record_gives_empty_arrays_and_filled_metadata(x, y):
    out = run(x, y)
    assert all(len(a) == 0 for a in out["mdlp"].values())
    assert all(len(a) == 0 for a in out["summary"].values())
    assert out["metadata"]["n_input"] == len(x)


def test_mean_and_median_representatives_of_small_intervals():
    # Blocks of one 0 then 2 ones: with no gain check the root split is forced.
    out = run([1.0, 5.0, 6.0], [0, 1, 1], alpha_pos=0.0, beta_struct=0.0)
    median = rows(out["summary"])
    assert [r[7] for r in median] == [1.0, 5.5]
    mean = rows(run([1.0, 5.0, 7.0], [0, 1, 1], alpha_pos=0.0, beta_struct=0.0,
                    representative="mean")["summary"])
    assert [r[7] for r in mean] == [1.0, 6.0]


@pytest.mark.parametrize("seed", range(25))
def test_invariants_on_random_data(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(50, 4000))
    x = rng.normal(size=n).round(int(rng.integers(0, 3)))
    y = (rng.random(n) < 1 / (1 + np.exp(-2 * x))).astype(float)
    x[rng.random(n) < 0.05] = NAN
    y[rng.random(n) < 0.02] = NAN
    out = run(x, y, minobs=int(rng.integers(0, 5)), monotonicity=int(rng.integers(0, 4)),
              mono_dir=int(rng.integers(-1, 2)),
              representative=str(rng.choice(["mean", "median"])))
    s, meta = out["summary"], out["metadata"]
    missing = int(np.sum(np.isnan(x) & ~np.isnan(y)))
    assert s["count"].sum() == meta["n_used"] + missing
    assert s["percentage"].sum() == pytest.approx(1.0)
    np.testing.assert_array_equal(s["c0"] + s["c1"], s["count"])
    np.testing.assert_allclose(s["event_rate"], s["c1"] / s["count"], rtol=1e-15)
    interval = ~np.isnan(s["left"])
    left, right = s["left"][interval], s["right"][interval]
    assert left[0] == -INF and right[-1] == INF
    np.testing.assert_array_equal(left[1:], right[:-1])
    kept = x[np.isfinite(x) & np.isfinite(y)]
    recount = [np.sum((kept > lo) & (kept <= hi)) for lo, hi in zip(left, right)]
    np.testing.assert_array_equal(s["count"][interval], recount)


@pytest.mark.parametrize("x", [
    np.nextafter(1.0, 2.0) ** np.arange(0, 200),            # adjacent doubles
    np.cumsum(np.full(200, np.nextafter(0, 1))),              # subnormals one ulp apart
    np.finfo(float).max * (1 - np.arange(200) * 1e-16),       # next to the largest double
    np.concatenate([-np.finfo(float).max * np.ones(10), np.finfo(float).max * np.ones(10)]),
])
def test_adjacent_and_huge_values_run_through(x):
    x = np.unique(np.concatenate([x, np.nextafter(x, 0.0)]))
    y = (np.arange(len(x)) % 2).astype(float)  # a label change between every neighbour
    out = run(x, y, alpha_pos=0.0, beta_struct=0.0)
    s = out["summary"]
    assert s["count"].sum() == len(x)
    assert np.all(np.isfinite(out["mdlp"]["pto"]))


@pytest.mark.parametrize("args, kwargs, exc, message", [
    (([1.0, 2.0], [0.0]), {}, ValueError, "^mdlp_full: x e y deben tener la misma longitud$"),
    (([1.0], [0.0, 1.0]), {"monotonicity": 4, "value": "a", "representative": "x"}, ValueError,
     "^mdlp_full: x e y deben tener la misma longitud$"),
    (([1.0], [0.0]), {"monotonicity": -1, "value": "a"}, ValueError,
     r"^monotonicity debe estar en 0\.\.3$"),
    (([1.0], [0.0]), {"value": "a", "representative": "x"}, RuntimeError,
     "^Unable to cast Python instance of type "),
    (([1.0], [0.0]), {"representative": "Median"}, ValueError,
     "^representative debe ser 'mean' o 'median'$"),
    (([1.0, 2.0], [0.5, 3.0]), {"percentile": 101.0, "representative": "mean"}, ValueError,
     "^preprocess_data: percentile debe estar entre 0 y 100$"),
])
def test_failures_come_in_order(args, kwargs, exc, message):
    with pytest.raises(exc, match=message):
        run(*args, **kwargs)
