// The search both optimal binnings run: the contiguous grouping of ordered
// pre-bins with the largest sum of one value per group (the information
// value of a binary target, the between-group sum of squares of a continuous
// one), under a bin limit, the groups the caller allows, a strict trend of a
// level per group (the event rate, the mean) and a limit on the p-value of a
// test between neighbouring groups.
//
// The criterion is additive over groups, so a dynamic programme finds the
// optimum exactly. A state is the last group so far (first, last pre-bin),
// the number of groups when the count is limited, and the phase of a peak or
// valley (still rising, or falling). Values are summed left to right, one
// group at a time, as the package sums its table rows, so the total is bit
// for bit the sum of the chosen groups' values. For one boundary between
// pre-bins, the groups ending before it and those starting at it are sorted
// by level once, and a sweep with a running best joins them:
// O(n^2 log n + bins * n^2) time and O(bins * n^2) memory for n pre-bins.
//
// A limit on the test between neighbours is a condition on each pair of
// neighbours, which a running best over levels cannot carry: with that limit
// every pair across a boundary is joined on its own, O(bins * n^3), and the
// optimum stays exact under the limit.
#ifndef TESSALINE_GROUPING_SEARCH_HPP
#define TESSALINE_GROUPING_SEARCH_HPP

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace tessaline::grouping {

constexpr double kUnreached = -std::numeric_limits<double>::infinity();

// Groups ending at the same pre-bin are adjacent in this triangular layout.
inline std::size_t tri(std::size_t first, std::size_t last) {
    return last * (last + 1) / 2 + first;
}

// What the search reads of every contiguous group, at tri(first, last).
struct Groups {
    std::size_t n = 0;
    std::vector<double> value;  // the group's term of the criterion
    std::vector<double> level;  // what the trend orders: the event rate, the mean
    std::vector<char> allowed;  // whether the group meets the caller's limits
};

// Groups of n pre-bins, every one unset and not allowed.
Groups sized_groups(std::size_t n);

// Which groups may follow which across one boundary under the limit between
// neighbours: allowed[a * before.size() + b] for group before[b] followed by
// after[a].
using PairLimit =
    std::function<void(const std::vector<std::size_t>& before,
                       const std::vector<std::size_t>& after, std::vector<char>& allowed)>;

// The limit `pvalue(h, g) <= max_pvalue` of a test between neighbouring
// groups h and g: one call per boundary, the test inlined in its loop.
template <typename PValue>
PairLimit pair_limit(double max_pvalue, PValue pvalue) {
    return [max_pvalue, pvalue](const std::vector<std::size_t>& before,
                                const std::vector<std::size_t>& after, std::vector<char>& allowed) {
        allowed.resize(before.size() * after.size());
        for (std::size_t a = 0; a < after.size(); ++a)
            for (std::size_t b = 0; b < before.size(); ++b)
                allowed[a * before.size() + b] = pvalue(before[b], after[a]) <= max_pvalue;
    };
}

// What limits the search as a whole; `who` begins its messages.
struct Limits {
    std::size_t max_bins = 0;  // 0 sets no limit
    PairLimit neighbours;      // empty: no limit between neighbours
    const char* who = "";
};

// Best value and fewest groups reaching one state.
struct Reach {
    double value = kUnreached;
    uint32_t bins = 0;
};

// Inline: the sweeps call it for every state they fold, and a function of the
// shared library's own could be interposed, so it would not be inlined there.
inline bool better(double value, uint32_t bins, const Reach& than) {
    return value > than.value || (value == than.value && bins < than.bins);
}

// A traced grouping: its value (kUnreached when none meets the limits),
// group count and (first, last) pairs in order.
struct Trace {
    Reach best;
    std::vector<std::pair<std::size_t, std::size_t>> groups;
};

// The best grouping following `trend` (which is not automatic).
Trace best_grouping(const Groups& t, const Limits& k, BinTrend trend);

// The best grouping following `trend`, automatic being the better of
// ascending and descending (ascending on a tie); `met` is the trend followed.
Trace best_grouping_of(const Groups& t, const Limits& k, BinTrend trend, BinTrend& met);

// The best grouping following each trend of `trends` (none automatic), in
// one pass over the boundaries: the groups on either side of a boundary are
// ordered once for every trend, and tested once under a limit between
// neighbours. Each is the grouping `best_grouping` finds for its trend.
std::vector<Trace> best_groupings(const Groups& t, const Limits& k,
                                  const std::vector<BinTrend>& trends);

// `best_grouping_of` of each trend of `trends`, searched in one pass (an
// automatic one as ascending and descending, each trend once); `met` gets
// the trend each followed.
std::vector<Trace> best_groupings_of(const Groups& t, const Limits& k,
                                     const std::vector<BinTrend>& trends,
                                     std::vector<BinTrend>& met);

// Throws "<who>: unknown trend" unless `trend` is one the search runs.
void check_trend(BinTrend trend, const char* who);

}  // namespace tessaline::grouping

#endif  // TESSALINE_GROUPING_SEARCH_HPP
