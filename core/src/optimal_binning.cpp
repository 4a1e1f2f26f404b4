// Optimal binning: the contiguous grouping of ordered pre-bins with the largest
// information value that meets a bin limit, a least share, least event and
// non-event counts, an event-rate trend and a limit on the test of equal
// rates between neighbouring groups. IV is additive over groups, so the
// grouping search (grouping_search.hpp) finds the optimum exactly.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "grouping_search.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

constexpr double kEmptyClassCount = 0.5;

using grouping::tri;

// Every contiguous group, with its counts summed left to right; the search
// reads its IV and event rate.
struct GroupTable {
    grouping::Groups search;
    std::vector<double> c0, c1;
};

GroupTable group_table(const double* c0, const double* c1, std::size_t n,
                       const OptimalBinningConstraints& k, double total_c0, double total_c1) {
    GroupTable t{grouping::sized_groups(n), {}, {}};
    t.c0.resize(t.search.value.size());
    t.c1.resize(t.search.value.size());
    const double total = total_c0 + total_c1;
    // A group starting at `first` may end before the next fixed start only.
    std::vector<std::size_t> end(n, n);
    for (std::size_t s : k.fixed_starts) end[s - 1] = s;
    for (std::size_t i = n - 1; i-- > 0;) end[i] = std::min(end[i], end[i + 1]);
    // The search reads the IV, level and counts of allowed groups only, so
    // the others keep the zeros and false of sized_groups: no logarithm is
    // taken for a group too small, nor for one across a fixed start.
    for (std::size_t first = 0; first < n; ++first) {
        double s0 = 0.0, s1 = 0.0;
        for (std::size_t last = first; last < end[first]; ++last) {
            s0 += c0[last];
            s1 += c1[last];
            const double rows = s0 + s1;
            // An empty group has no event rate, so it is never chosen.
            if (!(rows > 0.0 && s1 >= k.min_events && s0 >= k.min_non_events &&
                  rows / total >= k.min_bin_share))
                continue;
            const std::size_t g = tri(first, last);
            t.c0[g] = s0;
            t.c1[g] = s1;
            t.search.value[g] = group_woe(s0, s1, total_c0, total_c1).iv;
            t.search.level[g] = s1 / rows;
            t.search.allowed[g] = 1;
        }
    }
    return t;
}

void check_arguments(const double* c0, const double* c1, std::size_t n,
                     const OptimalBinningConstraints& k) {
    if (n == 0) throw std::invalid_argument("optimal_binning: no pre-bins");
    if (c0 == nullptr || c1 == nullptr)
        throw std::invalid_argument("optimal_binning: missing counts");
    for (std::size_t i = 0; i < n; ++i) {
        if (!(is_finite(c0[i]) && is_finite(c1[i]) && c0[i] >= 0.0 && c1[i] >= 0.0)) {
            throw std::invalid_argument(
                "optimal_binning: pre-bin counts must be finite and non-negative");
        }
    }
    if (!(k.min_bin_share >= 0.0 && k.min_bin_share <= 1.0)) {
        throw std::invalid_argument("optimal_binning: min_bin_share must be between 0 and 1");
    }
    if (!(is_finite(k.min_events) && k.min_events >= 0.0)) {
        throw std::invalid_argument("optimal_binning: min_events must be finite and non-negative");
    }
    if (!(is_finite(k.min_non_events) && k.min_non_events >= 0.0)) {
        throw std::invalid_argument(
            "optimal_binning: min_non_events must be finite and non-negative");
    }
    if (!(k.max_pvalue >= 0.0 && k.max_pvalue <= 1.0)) {
        throw std::invalid_argument("optimal_binning: max_pvalue must be between 0 and 1");
    }
    grouping::check_trend(k.trend, "optimal_binning");
    for (std::size_t i = 0; i < k.fixed_starts.size(); ++i) {
        if (k.fixed_starts[i] == 0 || k.fixed_starts[i] >= n ||
            (i > 0 && k.fixed_starts[i] <= k.fixed_starts[i - 1])) {
            throw std::invalid_argument(
                "optimal_binning: fixed starts must be increasing pre-bins after the first");
        }
    }
}

// Which limit the fixed starts break when no grouping meets them: the
// segments between them are the widest groups they allow, so a segment short
// of rows, events or non-events can be in no grouping; else there are more
// segments than bins allowed, or no grouping follows the trend.
OptimalBinningStatus fixed_cut_status(const double* c0, const double* c1, std::size_t n,
                                      const OptimalBinningConstraints& k, double total,
                                      std::size_t& segment) {
    std::vector<std::size_t> bounds = k.fixed_starts;
    bounds.push_back(n);
    std::size_t first = 0;
    for (segment = 0; segment < bounds.size(); ++segment) {
        double s0 = 0.0, s1 = 0.0;
        for (std::size_t i = first; i < bounds[segment]; ++i) s0 += c0[i], s1 += c1[i];
        if (!(s0 + s1 > 0.0 && (s0 + s1) / total >= k.min_bin_share))
            return OptimalBinningStatus::fixed_min_bin_share;
        if (s1 < k.min_events) return OptimalBinningStatus::fixed_min_events;
        if (s0 < k.min_non_events) return OptimalBinningStatus::fixed_min_non_events;
        first = bounds[segment];
    }
    segment = 0;
    if (k.max_bins != 0 && bounds.size() > k.max_bins) return OptimalBinningStatus::fixed_max_bins;
    return OptimalBinningStatus::fixed_trend;
}

}  // namespace

GroupWoe group_woe(double c0, double c1, double total_c0, double total_c1) {
    if (total_c0 == 0.0 || total_c1 == 0.0) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan};
    }
    if (c0 + c1 == 0.0) return {0.0, 0.0};
    const double event_share = (c1 > 0.0 ? c1 : kEmptyClassCount) / total_c1;
    const double non_event_share = (c0 > 0.0 ? c0 : kEmptyClassCount) / total_c0;
    const double woe = std::log(event_share / non_event_share);
    return {woe, (event_share - non_event_share) * woe};
}

OptimalBinning optimal_binning(const double* c0, const double* c1, std::size_t n_prebins,
                               const OptimalBinningConstraints& constraints) {
    return std::move(optimal_binnings(c0, c1, n_prebins, constraints, {constraints.trend})[0]);
}

std::vector<OptimalBinning> optimal_binnings(const double* c0, const double* c1,
                                             std::size_t n_prebins,
                                             const OptimalBinningConstraints& constraints,
                                             const std::vector<BinTrend>& trends) {
    check_arguments(c0, c1, n_prebins, constraints);
    for (BinTrend trend : trends) grouping::check_trend(trend, "optimal_binning");
    double total_c0 = 0.0, total_c1 = 0.0;
    for (std::size_t i = 0; i < n_prebins; ++i) {
        total_c0 += c0[i];
        total_c1 += c1[i];
    }
    if (!is_finite(total_c0 + total_c1)) {
        throw std::invalid_argument("optimal_binning: pre-bin counts are too large");
    }
    std::vector<OptimalBinning> out(trends.size());
    OptimalBinningStatus status = OptimalBinningStatus::optimal;
    // One group holding every row meets every limit but the counts, so these
    // totals alone decide whether any grouping exists.
    if (total_c1 < constraints.min_events) {
        status = OptimalBinningStatus::min_events_not_met;
    } else if (total_c0 < constraints.min_non_events) {
        status = OptimalBinningStatus::min_non_events_not_met;
    } else if (total_c0 == 0.0 || total_c1 == 0.0) {
        status = OptimalBinningStatus::single_class;
    }
    for (std::size_t i = 0; i < trends.size(); ++i) {
        out[i].status = status;
        out[i].iv = std::numeric_limits<double>::quiet_NaN();
        out[i].trend = trends[i];
    }
    if (status != OptimalBinningStatus::optimal) return out;

    const GroupTable table = group_table(c0, c1, n_prebins, constraints, total_c0, total_c1);
    grouping::Limits limits;
    limits.max_bins = constraints.max_bins;
    if (constraints.max_pvalue < 1.0) {
        limits.neighbours =
            grouping::pair_limit(constraints.max_pvalue, [&table](std::size_t h, std::size_t g) {
                return equal_rates_test(table.c0[h], table.c1[h], table.c0[g], table.c1[g]).pvalue;
            });
    }
    limits.who = "optimal_binning";
    std::vector<BinTrend> met;
    const std::vector<grouping::Trace> chosen =
        grouping::best_groupings_of(table.search, limits, trends, met);
    for (std::size_t i = 0; i < trends.size(); ++i) {
        out[i].trend = met[i];
        if (chosen[i].best.value == grouping::kUnreached) {
            out[i].status = fixed_cut_status(c0, c1, n_prebins, constraints, total_c0 + total_c1,
                                             out[i].broken_segment);
            continue;
        }
        double iv = 0.0;
        for (const auto& [first, last] : chosen[i].groups) {
            const std::size_t g = tri(first, last);
            const GroupWoe w = group_woe(table.c0[g], table.c1[g], total_c0, total_c1);
            out[i].groups.push_back({first, last, table.c0[g], table.c1[g], w.woe, w.iv});
            iv += w.iv;
        }
        out[i].iv = iv;
    }
    return out;
}

BinTrend parse_bin_trend(const std::string& s) {
    if (s == "none") return BinTrend::none;
    if (s == "ascending") return BinTrend::ascending;
    if (s == "descending") return BinTrend::descending;
    if (s == "peak") return BinTrend::peak;
    if (s == "valley") return BinTrend::valley;
    if (s == "auto") return BinTrend::automatic;
    throw std::invalid_argument(
        "optimal_binning: trend must be one of none, ascending, descending, peak, valley, auto");
}

const char* optimal_binning_status_message(OptimalBinningStatus status) {
    switch (status) {
        case OptimalBinningStatus::optimal:
            return "";
        case OptimalBinningStatus::min_events_not_met:
            return "the column holds fewer events than min_events";
        case OptimalBinningStatus::min_non_events_not_met:
            return "the column holds fewer non-events than min_non_events";
        case OptimalBinningStatus::single_class:
            return "the column holds a single class, so its information value is undefined";
        case OptimalBinningStatus::fixed_min_bin_share:
            return "a fixed cut leaves a bin with a share of the rows below min_bin_share";
        case OptimalBinningStatus::fixed_min_events:
            return "a fixed cut leaves a bin with fewer events than min_events";
        case OptimalBinningStatus::fixed_min_non_events:
            return "a fixed cut leaves a bin with fewer non-events than min_non_events";
        case OptimalBinningStatus::fixed_max_bins:
            return "the fixed cuts make more bins than max_bins";
        case OptimalBinningStatus::fixed_trend:
            return "no grouping around the fixed cuts follows the trend";
    }
    return "";
}

}  // namespace tessaline
