"""grid_rectangles: the partition of a table of pre-bin cells into
rectangles by cuts, checked against every partition of small random tables."""

import functools
import itertools

import numpy as np
import pytest
from test_grid_search import brute_best, groupings, random_cells

from tessaline import _native
from tessaline._woe import weight_of_evidence


def partitions(nx, ny):
    """Every partition of an nx by ny grid into rectangles (x0, x1, y0, y1),
    inclusive: the first free cell, row by row, starts each next one."""

    def fill(free, chosen):
        if not free:
            yield list(chosen)
            return
        x0, y0 = min(free)
        for x1 in range(x0, nx):
            for y1 in range(y0, ny):
                cells = {(i, j) for i in range(x0, x1 + 1) for j in range(y0, y1 + 1)}
                if cells <= free:
                    yield from fill(free - cells, [*chosen, (x0, x1, y0, y1)])

    yield from fill({(i, j) for i in range(nx) for j in range(ny)}, [])


def by_cuts(rects):
    """Whether cutting whole parts in two, again and again, makes `rects`."""

    @functools.cache
    def made(x0, x1, y0, y1):
        inside = [r for r in rects if x0 <= r[0] and r[1] <= x1 and y0 <= r[2] and r[3] <= y1]
        if inside == [(x0, x1, y0, y1)]:
            return True
        across_x = any(
            all(r[1] < c or r[0] >= c for r in inside)
            and made(x0, c - 1, y0, y1)
            and made(c, x1, y0, y1)
            for c in range(x0 + 1, x1 + 1)
        )
        return across_x or any(
            all(r[3] < c or r[2] >= c for r in inside)
            and made(x0, x1, y0, c - 1)
            and made(x0, x1, c, y1)
            for c in range(y0 + 1, y1 + 1)
        )

    xs, ys = max(r[1] for r in rects), max(r[3] for r in rects)
    return made(0, xs, 0, ys)


def counts_of(c0, c1, rects):
    a = np.array([c0[x0 : x1 + 1, y0 : y1 + 1].sum() for x0, x1, y0, y1 in rects])
    e = np.array([c1[x0 : x1 + 1, y0 : y1 + 1].sum() for x0, x1, y0, y1 in rects])
    return a, e


def allowed_iv(c0, c1, rects, max_cells, share):
    a, e = counts_of(c0, c1, rects)
    rows = a + e
    if len(rects) > max_cells or rows.min() == 0 or rows.min() < share * rows.sum():
        return -np.inf
    return weight_of_evidence(a, e)[2]


def found_rects(found):
    return list(zip(*(found[k].tolist() for k in ("x_first", "x_last", "y_first", "y_last"))))


@pytest.mark.parametrize("seed", range(3))
@pytest.mark.parametrize(
    ("shape", "bins", "share"),
    [((2, 5), (2, 2), 0.0), ((4, 3), (5, 1), 0.06), ((3, 4), (3, 4), 0.1), ((3, 3), (2, 3), 0.0)],
)
def test_the_search_finds_the_best_partition_by_cuts(seed, shape, bins, share):
    c0, c1 = random_cells(seed, *shape)
    max_cells = bins[0] * bins[1]
    found = _native.grid_rectangles(c0.ravel(), c1.ravel(), *shape, *bins, share, "none", "none")
    assert found["exact"] and found["message"] == ""
    rects = found_rects(found)
    # A partition by cuts, within the limits, its IV the one reported.
    assert sorted(rects, key=lambda r: (r[0], r[2])) == rects and by_cuts(rects)
    assert sum((b - a + 1) * (d - c + 1) for a, b, c, d in rects) == c0.size
    iv = allowed_iv(c0, c1, rects, max_cells, share)
    assert iv == pytest.approx(found["iv"], rel=1e-12)
    every = [(p, allowed_iv(c0, c1, p, max_cells, share)) for p in partitions(*shape)]
    best_by_cuts = max(v for p, v in every if by_cuts(p))
    assert iv == pytest.approx(best_by_cuts, rel=1e-12)
    # Two rows (or columns) admit no other partitions: the best of all.
    if min(shape) <= 2:
        assert iv == pytest.approx(max(v for _, v in every), rel=1e-12)


@pytest.mark.parametrize("seed", range(3))
@pytest.mark.parametrize(("bins", "share"), [((3, 3), 0.0), ((2, 4), 0.04), ((4, 4), 0.03)])
def test_rectangles_reach_at_least_the_best_product_grid(seed, bins, share):
    c0, c1 = random_cells(seed, 6, 7)
    found = _native.grid_rectangles(c0.ravel(), c1.ravel(), 6, 7, *bins, share, "none", "none")
    grid = brute_best(c0, c1, bins, share, "none", "none")
    assert found["iv"] >= grid * (1 - 1e-12)
    assert len(found["x_first"]) <= bins[0] * bins[1]


def best_stripes(c0, c1, bins, share, trend):
    """The best stripes of y, each grouped along x with the WoE following
    `trend` strictly: every combination of groupings tried."""
    best, directions = -np.inf, ["ascending", "descending"] if trend == "auto" else [trend]
    for direction, ys in itertools.product(directions, groupings(c0.shape[1], bins[1])):
        ends = [*ys[1:], c0.shape[1]]
        stripes = list(zip(ys, ends))
        for xs in itertools.product(*[list(groupings(c0.shape[0], bins[0]))] * len(stripes)):
            rects = [
                (a, b - 1, y0, y1 - 1)
                for (y0, y1), starts in zip(stripes, xs)
                for a, b in zip(starts, [*starts[1:], c0.shape[0]])
            ]
            iv = allowed_iv(c0, c1, rects, len(rects), share)
            a, e = counts_of(c0, c1, rects)
            woe = weight_of_evidence(a, e)[0]
            steps = [np.diff(woe[[r[2] == y0 for r in rects]]) for y0, _ in stripes]
            rising = all(
                (d > 0).all() if direction == "ascending" else (d < 0).all() for d in steps
            )
            if rising:
                best = max(best, iv)
    return best


@pytest.mark.parametrize("seed", range(3))
@pytest.mark.parametrize(
    ("bins", "share", "trend"), [((3, 2), 0.0, "ascending"), ((2, 3), 0.05, "auto")]
)
def test_under_a_trend_the_search_finds_the_best_stripes(seed, bins, share, trend):
    c0, c1 = random_cells(seed, 4, 3)
    found = _native.grid_rectangles(c0.ravel(), c1.ravel(), 4, 3, *bins, share, trend, "none")
    rects = found_rects(found)
    assert found["trend_x"] in ("ascending", "descending") and found["trend_y"] == "none"
    assert found["iv"] == pytest.approx(best_stripes(c0, c1, bins, share, trend), rel=1e-12)
    # Never below the best product grid under that trend, nor when swapped.
    assert found["iv"] >= brute_best(c0, c1, bins, share, trend, "none") * (1 - 1e-12)
    swapped = _native.grid_rectangles(
        c0.T.ravel(), c1.T.ravel(), 3, 4, bins[1], bins[0], share, "none", trend
    )
    assert swapped["iv"] == pytest.approx(found["iv"], rel=1e-12)
    assert sorted((c, d, a, b) for a, b, c, d in found_rects(swapped)) == sorted(rects)


NONE = (5, 5, 0.0, "none", "none")


@pytest.mark.parametrize(
    ("args", "message"),
    [
        ((np.zeros(4), np.ones(4), 2, 2, *NONE), "the rows hold a single class"),
        ((np.ones(40**2), np.ones(40**2), 40, 40, *NONE), "too many pre-bins"),
        ((np.ones(4), np.ones(4), 2, 2, 0, 2, 0.0, "none", "none"), "grid_rectangles: max_bins_x"),
        ((np.ones(4), np.ones(4), 2, 2, 2, 2, -0.1, "none", "none"), "grid_rectangles: min_cell"),
        ((np.ones(4), np.ones(3), 2, 2, *NONE), "grid_rectangles: c0 and c1 must hold"),
        ((np.r_[1.0, np.nan, 1, 1], np.ones(4), 2, 2, *NONE), "grid_rectangles: cell counts"),
        (
            (np.ones(4), np.ones(4), 2, 2, 2, 2, 0.0, "auto", "ascending"),
            "grid_rectangles: a trend along one variable only",
        ),
    ],
)
def test_arguments_that_make_no_partition(args, message):
    try:
        found = _native.grid_rectangles(*args)
    except ValueError as error:
        assert str(error).startswith(message)
    else:
        assert found["message"].startswith(message) and np.isnan(found["iv"])
        assert not found["exact"] and found["x_first"].size == 0
