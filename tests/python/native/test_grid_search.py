"""grid_binning: the product grid of largest IV of a table of pre-bin
cells, checked against every product grid of small random tables."""

import itertools

import numpy as np
import pytest

from tessaline import _native
from tessaline._woe import weight_of_evidence


def random_cells(seed, nx, ny):
    rng = np.random.default_rng(seed)
    rate = rng.random((nx, 1)) * 0.5 + rng.random((1, ny)) * 0.4
    rows = rng.integers(1, 40, (nx, ny))
    c1 = rng.binomial(rows, rate).astype(float)
    return rows - c1, c1


def groupings(n, max_bins):
    for k in range(min(max_bins, n)):
        for cuts in itertools.combinations(range(1, n), k):
            yield [0, *cuts]


def grid(c0, c1, xs, ys):
    g0 = np.add.reduceat(np.add.reduceat(c0, xs, axis=0), ys, axis=1)
    g1 = np.add.reduceat(np.add.reduceat(c1, xs, axis=0), ys, axis=1)
    woe, _, total = weight_of_evidence(g0.ravel(), g1.ravel())
    return g0 + g1, woe.reshape(g0.shape), total


def meets(rows, woe, share, trend_x, trend_y):
    def follows(steps, trend):
        return trend == "none" or bool(np.all(steps > 0 if trend == "ascending" else steps < 0))

    return (
        rows.min() > 0
        and rows.min() >= share * rows.sum()
        and follows(np.diff(woe, axis=0), trend_x)
        and follows(np.diff(woe, axis=1), trend_y)
    )


def brute_best(c0, c1, bins, share, trend_x, trend_y):
    best = -np.inf
    trends_x = ["ascending", "descending"] if trend_x == "auto" else [trend_x]
    trends_y = ["ascending", "descending"] if trend_y == "auto" else [trend_y]
    for xs in groupings(c0.shape[0], bins[0]):
        for ys in groupings(c0.shape[1], bins[1]):
            rows, woe, iv = grid(c0, c1, xs, ys)
            if any(meets(rows, woe, share, tx, ty) for tx in trends_x for ty in trends_y):
                best = max(best, iv)
    return best


LIMITS = [
    ((3, 3), 0.0, "none", "none"),
    ((3, 4), 0.05, "none", "none"),
    ((4, 2), 0.08, "ascending", "none"),
    ((3, 3), 0.03, "none", "descending"),
    ((6, 6), 0.02, "auto", "auto"),
]


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize(("bins", "share", "trend_x", "trend_y"), LIMITS)
def test_the_search_finds_the_best_product_grid(seed, bins, share, trend_x, trend_y):
    c0, c1 = random_cells(seed, 5, 6)
    found = _native.grid_binning(c0.ravel(), c1.ravel(), 5, 6, *bins, share, trend_x, trend_y)
    assert found["exact"] and found["message"] == ""
    rows, woe, iv = grid(c0, c1, found["x_starts"], found["y_starts"])
    assert meets(rows, woe, share, found["trend_x"], found["trend_y"])
    assert len(found["x_starts"]) <= bins[0] and len(found["y_starts"]) <= bins[1]
    assert iv == pytest.approx(brute_best(c0, c1, bins, share, trend_x, trend_y), rel=1e-12)
    # The same grid with the axes swapped.
    swapped = _native.grid_binning(
        c0.T.ravel(), c1.T.ravel(), 6, 5, bins[1], bins[0], share, trend_y, trend_x
    )
    assert swapped["iv"] == pytest.approx(found["iv"], rel=1e-12)


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize(("bins", "share", "trend_x", "trend_y"), LIMITS[1:])
def test_the_alternating_search_meets_the_limits_and_beats_one_axis_alone(
    seed, bins, share, trend_x, trend_y
):
    # One grouping tried at most: the search alternates between the axes.
    c0, c1 = random_cells(seed, 12, 9)
    args = (*bins, share, trend_x, trend_y)
    found = _native.grid_binning(c0.ravel(), c1.ravel(), 12, 9, *args, max_exhaustive=1)
    assert not found["exact"]
    rows, woe, iv = grid(c0, c1, found["x_starts"], found["y_starts"])
    assert meets(rows, woe, share, found["trend_x"], found["trend_y"])
    assert iv == pytest.approx(found["iv"], rel=1e-12)
    # Never below the best grouping of x with y whole, nor of y with x whole.
    alone_x = brute_best(
        c0.sum(axis=1, keepdims=True),
        c1.sum(axis=1, keepdims=True),
        (bins[0], 1),
        share,
        trend_x,
        "none",
    )
    alone_y = brute_best(
        c0.sum(axis=0, keepdims=True),
        c1.sum(axis=0, keepdims=True),
        (1, bins[1]),
        share,
        "none",
        trend_y,
    )
    assert iv >= max(alone_x, alone_y) * (1 - 1e-12)


NO_LIMITS = (2, 2, 0.0, "none", "none")


@pytest.mark.parametrize(
    ("args", "message"),
    [
        ((np.zeros(4), np.ones(4), 2, 2, *NO_LIMITS), "the rows hold a single class"),
        (
            (np.ones(4), np.ones(3), 2, 2, *NO_LIMITS),
            "grid_binning: c0 and c1 must hold n_x * n_y cells",
        ),
        (
            (np.r_[1.0, -1, 1, 1], np.ones(4), 2, 2, *NO_LIMITS),
            "grid_binning: cell counts must be finite and non-negative",
        ),
        (
            (np.ones(4), np.ones(4), 2, 2, 2, 2, 0.0, "peak", "none"),
            "grid_binning: a trend must be one of none, ascending, descending, auto",
        ),
        (
            (np.ones(4), np.ones(4), 2, 2, 2, 2, 1.5, "none", "none"),
            "grid_binning: min_cell_share must be between 0 and 1",
        ),
    ],
)
def test_arguments_that_make_no_grid(args, message):
    try:
        found = _native.grid_binning(*args)
    except ValueError as error:
        assert str(error) == message
    else:
        assert found["message"].startswith(message) and np.isnan(found["iv"])


def test_a_tie_goes_to_fewer_cells():
    # Every cell at one event rate: every grid has IV 0, and one cell is kept.
    found = _native.grid_binning(np.full(12, 3.0), np.ones(12), 3, 4, 3, 4, 0.0, "none", "none")
    assert found["x_starts"].tolist() == [0] and found["y_starts"].tolist() == [0]
    assert found["iv"] == 0.0
