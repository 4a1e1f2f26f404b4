#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "iv_bounds.hpp"
#include "tessaline/tessaline.hpp"

namespace {

using tessaline::BinTrend;

struct Table {
    std::vector<double> c0, c1, out0, out1;
};

// The table's IV of a grouping of the searched pre-bins, as the test counts it.
double table_iv(const Table& t, const tessaline::OptimalBinning& best) {
    double total0 = 0.0, total1 = 0.0;
    for (std::size_t i = 0; i < t.c0.size(); ++i) total0 += t.c0[i], total1 += t.c1[i];
    for (std::size_t i = 0; i < t.out0.size(); ++i) total0 += t.out0[i], total1 += t.out1[i];
    double iv = 0.0;
    for (const auto& g : best.groups) iv += tessaline::group_woe(g.c0, g.c1, total0, total1).iv;
    for (std::size_t i = 0; i < t.out0.size(); ++i)
        iv += tessaline::group_woe(t.out0[i], t.out1[i], total0, total1).iv;
    return iv;
}

// Pre-bins of 2 to 400 rows; `sparse` ones also empty or lacking a class.
Table random_table(std::mt19937_64& rng, bool outside, bool sparse) {
    std::uniform_int_distribution<int> size(1, 12), rows(2, 400), share(1, 99), kind(0, 9);
    Table t;
    const int k = size(rng);
    for (int i = 0; i < k; ++i) {
        const int n = rows(rng);
        double events = std::max(1, std::min(n - 1, n * share(rng) / 100));
        const int which = sparse ? kind(rng) : 9;
        if (which < 3) events = which == 0 ? 0.0 : which == 1 ? n : -1.0;
        t.c0.push_back(events < 0 ? 0.0 : n - events);
        t.c1.push_back(events < 0 ? 0.0 : events);
    }
    if (outside) t.out0 = {static_cast<double>(rows(rng)), 0.0}, t.out1 = {3.0, 5.0};
    return t;
}

// Limits of every kind on the bins, shares, counts and the test between
// neighbours, some of them loose enough to change nothing.
void limit_at_random(std::mt19937_64& rng, tessaline::OptimalBinningConstraints& limits) {
    std::uniform_int_distribution<int> bins(0, 5), coin(0, 1), least(0, 6);
    limits.max_bins = static_cast<std::size_t>(bins(rng));
    limits.min_bin_share = 0.1 * coin(rng);
    limits.min_events = least(rng);
    limits.min_non_events = least(rng) / 3;
    limits.max_pvalue = coin(rng) == 1 ? 0.2 : 1.0;
}

// The bounds never fall below the search's IV under any limits; without
// limits, sparse pre-bins or rows outside the search (whose totals then are
// the table's), the search attains them, so they are as tight as a bound of
// every grouping can be.
TEST(IvShapeBounds, AreNeverBelowTheSearchAndAttainedWithoutLimits) {
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<int> coin(0, 1);
    tessaline::iv_bounds::Scratch scratch;
    int bounded = 0, unlimited = 0;
    for (int draw = 0; draw < 3000; ++draw) {
        const bool limited = draw % 2 == 1;
        const Table t = random_table(rng, limited && coin(rng) == 1, limited && coin(rng) == 1);
        tessaline::OptimalBinningConstraints limits;
        if (limited) limit_at_random(rng, limits);
        const auto bounds =
            tessaline::iv_bounds::shape_bounds(t.c0, t.c1, t.out0, t.out1, limits, true, scratch);
        if (!bounds.valid) {
            ASSERT_TRUE(limited) << "draw " << draw;
            continue;
        }
        for (BinTrend shape :
             {BinTrend::ascending, BinTrend::descending, BinTrend::peak, BinTrend::valley}) {
            limits.trend = shape;
            const auto best =
                tessaline::optimal_binning(t.c0.data(), t.c1.data(), t.c0.size(), limits);
            if (best.status != tessaline::OptimalBinningStatus::optimal) continue;
            const double iv = table_iv(t, best),
                         bound = tessaline::iv_bounds::trend_bound(bounds, shape);
            ASSERT_LE(iv, bound * (1 + 1e-12)) << "draw " << draw << " shape " << int(shape);
            ++bounded;
            if (!limited) {
                ASSERT_NEAR(iv, bound, 1e-12 * bound) << "draw " << draw;
                ++unlimited;
            }
        }
    }
    EXPECT_GT(bounded, 8000);
    EXPECT_EQ(unlimited, 6000);
}

// Rates 0.1, 0.3, 0.2, 0.4 pool to 0.1 | 0.25 | 0.4 ascending (IV 0.358,
// below the 0.394 of the pre-bins apart) and to one group descending (IV 0);
// no peak or valley beats the ascending pools.
TEST(IvShapeBounds, WorkedTableAndAMissingClass) {
    const std::vector<double> c0{90, 70, 80, 60}, c1{10, 30, 20, 40}, none;
    tessaline::iv_bounds::Scratch scratch;
    const auto b = tessaline::iv_bounds::shape_bounds(c0, c1, none, none, {}, true, scratch);
    const auto term = [](double n0, double n1) {
        return tessaline::group_woe(n0, n1, 300.0, 100.0).iv;
    };
    EXPECT_DOUBLE_EQ(b.ascending, term(90, 10) + term(150, 50) + term(60, 40));
    EXPECT_NEAR(b.ascending, 0.35835189384561095, 1e-15);
    EXPECT_EQ(b.descending, 0.0);
    EXPECT_DOUBLE_EQ(b.peak, b.ascending);
    EXPECT_DOUBLE_EQ(b.valley, b.ascending);
    const std::vector<double> lacking{90, 0, 80, 60};
    EXPECT_FALSE(
        tessaline::iv_bounds::shape_bounds(c0, lacking, none, none, {}, true, scratch).valid);
    // Groups of at least 30% of the rows pool the first two pre-bins and the
    // last two, whose rates 0.2 and 0.3 ascend: two groups at most.
    tessaline::OptimalBinningConstraints wide;
    wide.min_bin_share = 0.3;
    const auto pooled =
        tessaline::iv_bounds::shape_bounds(c0, c1, none, none, wide, false, scratch);
    EXPECT_DOUBLE_EQ(pooled.ascending, term(160, 40) + term(140, 60));
    EXPECT_DOUBLE_EQ(pooled.descending, 0.0);
    EXPECT_EQ(pooled.peak, HUGE_VAL);  // not asked for
}

// The IV of the grouping the test compares, as it counts it: the best of
// the four shapes' picks with `all_shapes`, else the pick of the trend.
double picked_iv(const Table& t, tessaline::OptimalBinningConstraints limits, bool all_shapes) {
    const std::vector<BinTrend> shapes =
        all_shapes ? std::vector<BinTrend>{BinTrend::ascending, BinTrend::descending,
                                           BinTrend::peak, BinTrend::valley}
                   : std::vector<BinTrend>{limits.trend};
    double iv = -HUGE_VAL;
    for (BinTrend shape : shapes) {
        limits.trend = shape;
        const auto best = tessaline::optimal_binning(t.c0.data(), t.c1.data(), t.c0.size(), limits);
        if (best.status == tessaline::OptimalBinningStatus::optimal)
            iv = std::max(iv, table_iv(t, best));
    }
    return iv;
}

// The floor never claims more than the search's pick holds, on tables of
// every kind of limit, trend and rows outside the search, nor for a reach a
// few units of the last place either side of the pick's IV; and it is close
// where the monotone fit meets the limits.
TEST(IvPickedFloor, NeverAboveThePickEvenWithinUlpsOfIt) {
    std::mt19937_64 rng(29);
    std::uniform_int_distribution<int> coin(0, 1), trend(0, 4);
    const BinTrend trends[] = {BinTrend::ascending, BinTrend::descending, BinTrend::peak,
                               BinTrend::valley, BinTrend::automatic};
    tessaline::iv_bounds::Scratch scratch;
    tessaline::iv_bounds::FloorScratch floor_scratch;
    int floored = 0, close = 0;
    for (int draw = 0; draw < 4000; ++draw) {
        const bool limited = draw % 2 == 1;
        const Table t = random_table(rng, coin(rng) == 1, limited && coin(rng) == 1);
        tessaline::OptimalBinningConstraints limits;
        limits.trend = trends[trend(rng)];
        const bool all_shapes = limits.trend == BinTrend::automatic && coin(rng) == 1;
        if (limited) limit_at_random(rng, limits);
        const auto bounds =
            tessaline::iv_bounds::shape_bounds(t.c0, t.c1, t.out0, t.out1, limits, true, scratch);
        const double floor = tessaline::iv_bounds::picked_floor(t.c0, t.c1, t.out0, t.out1, limits,
                                                                bounds, floor_scratch);
        if (floor == -HUGE_VAL) continue;
        ++floored;
        const double iv = picked_iv(t, limits, all_shapes);
        double reach = iv;
        for (int ulps = 0; ulps < 4; ++ulps) reach = std::nextafter(reach, -HUGE_VAL);
        for (int ulps = -4; ulps <= 4; ++ulps, reach = std::nextafter(reach, HUGE_VAL)) {
            ASSERT_TRUE(floor < reach || iv >= reach) << "draw " << draw << " ulps " << ulps;
        }
        close += floor > iv - 1e-9 * iv - 2e-12;
    }
    EXPECT_GT(floored, 2500);
    EXPECT_GT(close, 1000);
}

// Noise as the permutation test deals it: 80 pre-bins of some 2,500 rows
// at one event rate, the default limits (8 bins, 5% of the rows, 5 of each
// class), the automatic trend and a missing-value row outside the search.
// The pooled fit has more spans than bins or spans too small, and the best
// runs of its spans are nearly always the search's own pick: the floor
// comes within 1% of the pick's IV (the outside rows hold 2% of either
// class) where merging the spans greedily left a third of the tables
// further below, and it is never above the pick.
TEST(IvPickedFloor, NearThePickOnNoise) {
    std::mt19937_64 rng(5);
    tessaline::OptimalBinningConstraints limits;
    limits.max_bins = 8, limits.min_bin_share = 0.05, limits.min_events = 5;
    limits.min_non_events = 5, limits.trend = BinTrend::automatic;
    tessaline::iv_bounds::Scratch scratch;
    tessaline::iv_bounds::FloorScratch floor_scratch;
    int near = 0;
    for (int draw = 0; draw < 200; ++draw) {
        Table t;
        for (int i = 0; i < 80; ++i) {
            const int n = 2000 + static_cast<int>(rng() % 1000);
            std::binomial_distribution<int> events(n, 0.3);
            const double e = events(rng);
            t.c0.push_back(n - e), t.c1.push_back(e);
        }
        t.out0 = {2800.0}, t.out1 = {1200.0};
        const auto bounds =
            tessaline::iv_bounds::shape_bounds(t.c0, t.c1, t.out0, t.out1, limits, false, scratch);
        const double floor = tessaline::iv_bounds::picked_floor(t.c0, t.c1, t.out0, t.out1, limits,
                                                                bounds, floor_scratch);
        const double iv = picked_iv(t, limits, false);
        ASSERT_LT(floor, iv) << "draw " << draw;
        near += floor > 0.99 * iv;
    }
    EXPECT_GE(near, 195);
}

// Rates 0.1, 0.3, 0.2, 0.4 pool to 0.1 | 0.25 | 0.4 rising, the pick of the
// search; with 40 rows outside it (10 events), the floor is the pick's sum
// over the searched rows' totals, times the smaller of the searched rows'
// shares of the events (100 / 110) and non-events (300 / 330, the same),
// plus the outside rows' IV (none: the same shares). With groups of at
// least 45% of the rows every grouping pools the first two pre-bins and the
// last two, and the floor is the search's pick 0.2 | 0.3 (merging the pools
// of the whole four instead, to meet the share, ended in one group of IV 0).
// With at most two bins, the floor is the better of the two runs of the
// three pools: 0.1 | 0.3 (0.270, against 0.196 for 0.2 | 0.4).
TEST(IvPickedFloor, WorkedTables) {
    const std::vector<double> c0{90, 70, 80, 60}, c1{10, 30, 20, 40}, none;
    tessaline::iv_bounds::Scratch scratch;
    tessaline::iv_bounds::FloorScratch floor_scratch;
    tessaline::OptimalBinningConstraints rising;
    rising.trend = BinTrend::ascending;
    const auto term = [](double n0, double n1, double t0, double t1) {
        return tessaline::group_woe(n0, n1, t0, t1).iv;
    };
    const double sum = term(90, 10, 300, 100) + term(150, 50, 300, 100) + term(60, 40, 300, 100);
    const auto bounds =
        tessaline::iv_bounds::shape_bounds(c0, c1, none, none, rising, false, scratch);
    EXPECT_EQ(tessaline::iv_bounds::picked_floor(c0, c1, none, none, rising, bounds, floor_scratch),
              sum - (1e-9 * sum + 1e-12));
    const std::vector<double> out0{30}, out1{10};
    const auto outside =
        tessaline::iv_bounds::shape_bounds(c0, c1, out0, out1, rising, false, scratch);
    EXPECT_NEAR(
        tessaline::iv_bounds::picked_floor(c0, c1, out0, out1, rising, outside, floor_scratch),
        sum * 300 / 330 + term(30, 10, 330, 110), 1e-9);  // the margin
    tessaline::OptimalBinningConstraints wide = rising;
    wide.min_bin_share = 0.45;
    const auto pooled =
        tessaline::iv_bounds::shape_bounds(c0, c1, none, none, wide, false, scratch);
    const double halves = term(160, 40, 300, 100) + term(140, 60, 300, 100);
    EXPECT_EQ(tessaline::iv_bounds::picked_floor(c0, c1, none, none, wide, pooled, floor_scratch),
              halves - (1e-9 * halves + 1e-12));
    tessaline::OptimalBinningConstraints two = rising;
    two.max_bins = 2;
    const auto pair = tessaline::iv_bounds::shape_bounds(c0, c1, none, none, two, false, scratch);
    const double kept = term(90, 10, 300, 100) + term(210, 90, 300, 100);
    EXPECT_EQ(tessaline::iv_bounds::picked_floor(c0, c1, none, none, two, pair, floor_scratch),
              kept - (1e-9 * kept + 1e-12));
}

}  // namespace
