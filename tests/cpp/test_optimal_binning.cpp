#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

using tessaline::BinTrend;
using tessaline::OptimalBinningConstraints;
using tessaline::OptimalBinningStatus;

struct Pick {
    bool found = false;
    double iv = 0.0;
    std::vector<std::size_t> firsts;  // first pre-bin of each group
};

bool follows(const std::vector<double>& rates, BinTrend trend) {
    const double sign = (trend == BinTrend::descending || trend == BinTrend::valley) ? -1.0 : 1.0;
    bool falling = false;
    for (std::size_t g = 1; g < rates.size(); ++g) {
        const double a = sign * rates[g - 1], b = sign * rates[g];
        if (trend == BinTrend::none) continue;
        if (b > a && !falling) continue;
        if (b < a && (trend == BinTrend::peak || trend == BinTrend::valley)) {
            falling = true;
            continue;
        }
        return false;
    }
    return true;
}

// Better: larger IV, then fewer groups, then earlier starts read from the last group back.
bool better(const Pick& a, const Pick& b) {
    if (!b.found) return true;
    if (a.iv != b.iv) return a.iv > b.iv;
    if (a.firsts.size() != b.firsts.size()) return a.firsts.size() < b.firsts.size();
    return std::lexicographical_compare(a.firsts.rbegin(), a.firsts.rend(), b.firsts.rbegin(),
                                        b.firsts.rend());
}

// Every contiguous grouping, one bit per gap between pre-bins.
Pick brute_force(const std::vector<double>& c0, const std::vector<double>& c1,
                 const OptimalBinningConstraints& k, BinTrend trend) {
    const std::size_t n = c0.size();
    double t0 = 0.0, t1 = 0.0;
    for (std::size_t i = 0; i < n; ++i) t0 += c0[i], t1 += c1[i];
    unsigned fixed = 0;  // bit i: a group starts at pre-bin i + 1
    for (std::size_t s : k.fixed_starts) fixed |= 1u << (s - 1);
    Pick best;
    for (unsigned mask = 0; mask < (1u << (n - 1)); ++mask) {
        if ((mask & fixed) != fixed) continue;
        Pick p{true, 0.0, {}};
        std::vector<double> rates;
        double g0 = 0.0, g1 = 0.0;  // the previous group's counts
        bool ok = true;
        for (std::size_t first = 0; first < n && ok;) {
            std::size_t last = first;
            while (last + 1 < n && !(mask >> last & 1u)) ++last;
            double s0 = 0.0, s1 = 0.0;
            for (std::size_t j = first; j <= last; ++j) s0 += c0[j], s1 += c1[j];
            ok = s0 + s1 > 0 && s1 >= k.min_events && s0 >= k.min_non_events &&
                 (s0 + s1) / (t0 + t1) >= k.min_bin_share;
            p.iv += tessaline::group_woe(s0, s1, t0, t1).iv;
            p.firsts.push_back(first);
            rates.push_back(s1 / (s0 + s1));
            ok = ok &&
                 (first == 0 || tessaline::equal_rates_test(g0, g1, s0, s1).pvalue <= k.max_pvalue);
            g0 = s0, g1 = s1;
            first = last + 1;
        }
        ok = ok && (k.max_bins == 0 || p.firsts.size() <= k.max_bins) && follows(rates, trend);
        if (ok && better(p, best)) best = p;
    }
    return best;
}

class OptimalBinningTrend : public ::testing::TestWithParam<BinTrend> {};

TEST_P(OptimalBinningTrend, MatchesEveryGroupingOnRandomTables) {
    std::mt19937 rng(20261207u + static_cast<unsigned>(GetParam()));
    // Up to 13 pre-bins and 7 bins: the early boundaries, where fewer groups
    // than the limit fit, are searched on fewer layers than the later ones.
    std::uniform_int_distribution<int> size(1, 13), count(0, 12), pick(0, 3), bins(0, 7);
    const double shares[] = {0.0, 0.05, 0.15, 0.3}, pvalues[] = {1.0, 0.5, 0.2, 0.05};
    for (int table = 0; table < 300; ++table) {
        const std::size_t n = static_cast<std::size_t>(size(rng));
        std::vector<double> c0(n), c1(n);
        for (std::size_t i = 0; i < n; ++i)
            c0[i] = count(rng), c1[i] = count(rng) / (1 + pick(rng));
        c0[0] += 1.0, c1[n - 1] += 1.0;  // both classes present
        OptimalBinningConstraints k;
        k.max_bins = static_cast<std::size_t>(bins(rng));
        k.min_bin_share = shares[pick(rng)];
        k.min_events = pick(rng);
        k.min_non_events = pick(rng);
        k.trend = GetParam();
        k.max_pvalue = pvalues[pick(rng)];
        for (std::size_t s = 1; s < n; ++s)
            if (pick(rng) == 0) k.fixed_starts.push_back(s);
        const auto got = tessaline::optimal_binning(c0.data(), c1.data(), n, k);
        double t0 = 0.0, t1 = 0.0;
        for (std::size_t i = 0; i < n; ++i) t0 += c0[i], t1 += c1[i];
        if (t1 < k.min_events || t0 < k.min_non_events) {
            EXPECT_NE(got.status, OptimalBinningStatus::optimal);
            continue;
        }
        Pick want;
        if (GetParam() == BinTrend::automatic) {
            want = brute_force(c0, c1, k, BinTrend::ascending);
            const Pick falling = brute_force(c0, c1, k, BinTrend::descending);
            const bool down = falling.iv > want.iv ||
                              (falling.iv == want.iv && falling.firsts.size() < want.firsts.size());
            if (down) want = falling;
            EXPECT_EQ(got.trend, down ? BinTrend::descending : BinTrend::ascending);
        } else {
            want = brute_force(c0, c1, k, GetParam());
        }
        if (!want.found) {  // only fixed starts can leave no grouping
            EXPECT_GE(static_cast<int>(got.status),
                      static_cast<int>(OptimalBinningStatus::fixed_min_bin_share));
            continue;
        }
        ASSERT_EQ(got.status, OptimalBinningStatus::optimal) << "table " << table;
        EXPECT_EQ(got.iv, want.iv) << "table " << table;
        std::vector<std::size_t> firsts;
        for (const auto& g : got.groups) firsts.push_back(g.first);
        EXPECT_EQ(firsts, want.firsts) << "table " << table;
        EXPECT_EQ(got.groups.back().last, n - 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Trends, OptimalBinningTrend,
                         ::testing::Values(BinTrend::none, BinTrend::ascending,
                                           BinTrend::descending, BinTrend::peak, BinTrend::valley,
                                           BinTrend::automatic));

// Several trends searched in one pass give, bit for bit, what each gives on
// its own (levels tie often in these small tables).
TEST(OptimalBinning, TrendsSearchedTogetherAsAlone) {
    const std::vector<BinTrend> trends = {BinTrend::peak,       BinTrend::none,
                                          BinTrend::automatic,  BinTrend::ascending,
                                          BinTrend::descending, BinTrend::valley};
    std::mt19937 rng(20261209u);
    std::uniform_int_distribution<int> size(1, 9), count(0, 6), pick(0, 3);
    const double pvalues[] = {1.0, 1.0, 0.5, 0.1};
    for (int table = 0; table < 200; ++table) {
        const std::size_t n = static_cast<std::size_t>(size(rng));
        std::vector<double> c0(n), c1(n);
        for (std::size_t i = 0; i < n; ++i) c0[i] = count(rng) + 1, c1[i] = count(rng);
        c1[n - 1] += 1.0;
        OptimalBinningConstraints k;
        k.max_bins = static_cast<std::size_t>(pick(rng));
        k.min_events = pick(rng) / 2;
        k.max_pvalue = pvalues[pick(rng)];
        if (n > 3 && pick(rng) == 0) k.fixed_starts = {2};
        const auto together = tessaline::optimal_binnings(c0.data(), c1.data(), n, k, trends);
        ASSERT_EQ(together.size(), trends.size());
        for (std::size_t t = 0; t < trends.size(); ++t) {
            k.trend = trends[t];
            const auto alone = tessaline::optimal_binning(c0.data(), c1.data(), n, k);
            const auto& got = together[t];
            EXPECT_EQ(got.status, alone.status) << "table " << table;
            EXPECT_EQ(got.trend, alone.trend) << "table " << table;
            EXPECT_EQ(got.groups.size(), alone.groups.size()) << "table " << table;
            for (std::size_t g = 0; g < std::min(got.groups.size(), alone.groups.size()); ++g)
                EXPECT_EQ(got.groups[g].first, alone.groups[g].first) << "table " << table;
            if (alone.status == OptimalBinningStatus::optimal) {
                EXPECT_EQ(got.iv, alone.iv) << "table " << table;
            }
        }
    }
}

TEST(OptimalBinning, NamesTheLimitNoGroupingMeets) {
    const std::vector<double> c0 = {5, 3}, c1 = {1, 2}, none = {0, 0};
    OptimalBinningConstraints k;
    k.min_events = 4;
    EXPECT_EQ(tessaline::optimal_binning(c0.data(), c1.data(), 2, k).status,
              OptimalBinningStatus::min_events_not_met);
    k = {};
    k.min_non_events = 9;
    EXPECT_EQ(tessaline::optimal_binning(c0.data(), c1.data(), 2, k).status,
              OptimalBinningStatus::min_non_events_not_met);
    const auto one = tessaline::optimal_binning(c0.data(), none.data(), 2, {});
    EXPECT_EQ(one.status, OptimalBinningStatus::single_class);
    EXPECT_TRUE(one.groups.empty());
    EXPECT_NE(one.iv, one.iv);
}

TEST(OptimalBinning, NamesTheLimitAFixedStartBreaks) {
    const std::vector<double> c0 = {5, 3, 4, 6}, c1 = {0, 2, 3, 1};
    const auto broken = [&](auto set, std::vector<std::size_t> starts) {
        OptimalBinningConstraints k;
        set(k);
        k.fixed_starts = std::move(starts);
        const auto got = tessaline::optimal_binning(c0.data(), c1.data(), 4, k);
        return std::make_pair(got.status, got.broken_segment);
    };
    using S = OptimalBinningStatus;
    EXPECT_EQ(broken([](auto& k) { k.min_events = 1; }, {1}),
              std::make_pair(S::fixed_min_events, 0ul));
    EXPECT_EQ(broken([](auto& k) { k.min_non_events = 4; }, {1, 2}),
              std::make_pair(S::fixed_min_non_events, 1ul));
    EXPECT_EQ(broken([](auto& k) { k.min_bin_share = 0.3; }, {3}),
              std::make_pair(S::fixed_min_bin_share, 1ul));
    EXPECT_EQ(broken([](auto& k) { k.max_bins = 2; }, {1, 2}),
              std::make_pair(S::fixed_max_bins, 0ul));
    EXPECT_EQ(broken([](auto& k) { k.trend = BinTrend::descending; }, {1}),
              std::make_pair(S::fixed_trend, 0ul));
    EXPECT_EQ(broken([](auto&) {}, {2}).first, S::optimal);
}

TEST(OptimalBinning, RejectsBadArguments) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> ok = {1, 2}, negative = {1, -1}, bad = {1, nan};
    const auto message = [](const std::vector<double>& c0, const OptimalBinningConstraints& k) {
        try {
            tessaline::optimal_binning(c0.data(), c0.data(), c0.size(), k);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    OptimalBinningConstraints share, events, non_events, trend, pvalue;
    share.min_bin_share = 1.5;
    events.min_events = -1;
    non_events.min_non_events = nan;
    trend.trend = static_cast<BinTrend>(42);
    pvalue.max_pvalue = nan;
    EXPECT_EQ(message({}, {}), "optimal_binning: no pre-bins");
    EXPECT_EQ(message(negative, {}),
              "optimal_binning: pre-bin counts must be finite and non-negative");
    EXPECT_EQ(message(bad, {}), "optimal_binning: pre-bin counts must be finite and non-negative");
    EXPECT_EQ(message(ok, share), "optimal_binning: min_bin_share must be between 0 and 1");
    EXPECT_EQ(message(ok, events), "optimal_binning: min_events must be finite and non-negative");
    EXPECT_EQ(message(ok, non_events),
              "optimal_binning: min_non_events must be finite and non-negative");
    EXPECT_EQ(message(ok, trend), "optimal_binning: unknown trend");
    EXPECT_EQ(message(ok, pvalue), "optimal_binning: max_pvalue must be between 0 and 1");
    OptimalBinningConstraints fixed;
    fixed.fixed_starts = {2};
    EXPECT_EQ(message(ok, fixed),
              "optimal_binning: fixed starts must be increasing pre-bins after the first");
    // Too many states for the table, though not too many pre-bins: 16 bins,
    // two phases and 1,500 pre-bins need 36 million.
    OptimalBinningConstraints wide;
    wide.max_bins = 16;
    wide.trend = BinTrend::peak;
    EXPECT_EQ(message(std::vector<double>(1500, 1.0), wide),
              "optimal_binning: too many pre-bins for this bin limit (merge pre-bins or lower "
              "max_bins)");
    EXPECT_EQ(tessaline::parse_bin_trend("auto"), BinTrend::automatic);
    EXPECT_THROW(tessaline::parse_bin_trend("up"), std::invalid_argument);
}

}  // namespace
