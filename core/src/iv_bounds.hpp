// Upper bounds of the IV a trend-following search can find on a table, cheap
// enough to settle most of a permutation test's draws without the search.
//
// A group's IV term is n phi(r) of its rows n and event rate r, with phi
// convex when both classes are present (the term is convex in the counts and
// grows in proportion to the group). Among groupings whose rates ascend, the
// pool-adjacent-violators grouping (the isotonic fit of the rates) therefore
// has the largest IV: the isotonic fit leaves the least of the pre-bins' own
// sum of terms unexplained for every convex phi at once, and a grouping's
// unexplained part is that sum less its IV. A peak rises to a group and falls
// after it, so its IV is at most the best, over the boundaries m, of the
// ascending bound of the pre-bins before m plus the descending bound of those
// from m; a valley likewise. A search's limits (bins, shares, counts, the
// test between neighbours) only remove groupings, so the bounds hold under
// them. A group lacking a class puts a half count in place of the class,
// which breaks the convexity: no bound where the limits allow such a group.
// The limits also fix the ends: the first group holds every pre-bin up to
// the first stretch from the front that the limits allow as a group, so
// those are pooled before the fit (likewise at the back), which keeps the
// fit from isolating the few rows at either end that noise puts furthest
// from the mean. O(k) group terms for k
// pre-bins, against the search's O(k^2).
#ifndef TESSALINE_IV_BOUNDS_HPP
#define TESSALINE_IV_BOUNDS_HPP

#include <algorithm>
#include <cmath>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace tessaline::iv_bounds {

// The bound of each shape, the rows outside the search included; infinite
// and not `valid` where no bound holds.
struct ShapeBounds {
    bool valid = false;
    double ascending = HUGE_VAL, descending = HUGE_VAL, peak = HUGE_VAL, valley = HUGE_VAL;
};

// The bound of the groupings a search of trend `trend` may pick: the larger
// of the rising and the falling one for the automatic trend, which picks
// one of those; infinite for a trend no bound covers.
inline double trend_bound(const ShapeBounds& bounds, BinTrend trend) {
    switch (trend) {
        case BinTrend::ascending:
            return bounds.ascending;
        case BinTrend::descending:
            return bounds.descending;
        case BinTrend::peak:
            return bounds.peak;
        case BinTrend::valley:
            return bounds.valley;
        case BinTrend::automatic:
            return std::max(bounds.ascending, bounds.descending);
        default:
            return HUGE_VAL;
    }
}

// A pooled stretch of pre-bins: its counts, its IV term and the sum of the
// terms of the blocks up to it, from the first.
struct Block {
    double c0, c1, iv, running = 0.0;
};

// Buffers reused from table to table.
struct Scratch {
    std::vector<double> c0, c1;
    std::vector<Block> stack;
    std::vector<double> rising_front, falling_front, rising_back, falling_back;
};

// The bounds for the searched pre-bins (s0, s1, in the search's order) beside
// the rows outside the search (out0, out1), the table's totals over both,
// under the counts and share `limits` asks of a group; none with fixed cuts.
// Peaks and valleys are bounded with `turns` only (else left infinite).
ShapeBounds shape_bounds(const std::vector<double>& s0, const std::vector<double>& s1,
                         const std::vector<double>& out0, const std::vector<double>& out1,
                         const OptimalBinningConstraints& limits, bool turns, Scratch& scratch);

// A block of consecutive pre-bins [first, last] and what it holds.
struct Span {
    std::size_t first, last;
    double c0, c1;
};

// Buffers of the floor reused from table to table.
struct FloorScratch {
    std::vector<double> c0, c1;       // the pre-bins, their forced ends pooled
    std::vector<double> value, best;  // the programme's runs and states
    std::vector<std::size_t> start;
    std::vector<Span> spans, runs;
};

// A floor of the table's IV of the grouping a search under `limits` picks
// (with `all_shapes`, the best of the four shapes' picks), -infinity where
// none is known. A grouping the search could pick is built (the monotone fit
// of the rates, rising and falling, of the pre-bins with their forced ends
// pooled, its spans run together into the best groups that meet the limits:
// by an exact programme over up to 64 spans, by greedy merges past that)
// and its sum is the one the search maximises, over the searched rows'
// totals; the pick's sum is at least that. Over the table's totals a
// grouping's IV is u KL(p, q) + v KL(q, p) + (u - v) log(u / v) of the
// groups' shares p, q of the searched events and non-events, u and v the
// searched rows' shares of the table's events and non-events, and the
// search's sum is KL(p, q) + KL(q, p): so the pick's IV is at least
// min(u, v) times the candidate's sum, plus the outside rows' IV. That
// needs every group of the pick to hold both classes: `bounds` must be
// valid (no allowed group lacks a class). The floor leaves a margin wider
// than the rounding of either sum.
double picked_floor(const std::vector<double>& s0, const std::vector<double>& s1,
                    const std::vector<double>& out0, const std::vector<double>& out1,
                    const OptimalBinningConstraints& limits, const ShapeBounds& bounds,
                    FloorScratch& scratch);

}  // namespace tessaline::iv_bounds

#endif  // TESSALINE_IV_BOUNDS_HPP
