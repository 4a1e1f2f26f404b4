#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

using tessaline::BinTrend;
using tessaline::GridBinningConstraints;

struct Table {
    std::vector<double> c0, c1;
};

Table random_table(unsigned seed, std::size_t cells) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> rows(1, 30);
    Table t;
    for (std::size_t i = 0; i < cells; ++i) {
        const int n = rows(gen);
        const int events = std::uniform_int_distribution<int>(0, n)(gen);
        t.c0.push_back(n - events);
        t.c1.push_back(events);
    }
    return t;
}

// One column of pre-bins is the binning of one variable: the grid search and
// the optimal binning of x must choose the same groups, to the bit.
class OneColumn : public ::testing::TestWithParam<unsigned> {};

TEST_P(OneColumn, IsTheOptimalBinningOfX) {
    const Table t = random_table(GetParam(), 12);
    for (BinTrend trend : {BinTrend::none, BinTrend::ascending, BinTrend::descending}) {
        GridBinningConstraints grid;
        grid.max_bins_x = 4;
        grid.min_cell_share = 0.05;
        grid.trend_x = trend;
        tessaline::OptimalBinningConstraints one;
        one.max_bins = 4;
        one.min_bin_share = 0.05;
        one.trend = trend;
        const auto found = tessaline::grid_binning(t.c0.data(), t.c1.data(), 12, 1, grid);
        const auto best = tessaline::optimal_binning(t.c0.data(), t.c1.data(), 12, one);
        std::vector<std::size_t> firsts;
        for (const auto& g : best.groups) firsts.push_back(g.first);
        EXPECT_TRUE(found.exact);
        EXPECT_EQ(found.x_starts, firsts);
        EXPECT_EQ(found.y_starts, std::vector<std::size_t>{0});
        EXPECT_EQ(found.iv, best.iv);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, OneColumn, ::testing::Values(1u, 2u, 3u, 4u));

// Rectangles of one column are groups of x too, with or without a trend
// (one stripe): the same groups as the optimal binning of x, to the bit.
TEST_P(OneColumn, RectanglesOfOneColumnAreTheOptimalBinningOfX) {
    const Table t = random_table(GetParam(), 12);
    for (BinTrend trend : {BinTrend::none, BinTrend::ascending, BinTrend::descending}) {
        tessaline::GridRectanglesConstraints k;
        k.max_bins_x = trend == BinTrend::none ? 2 : 4;
        k.max_bins_y = 2;  // at most 4 rectangles without a trend, 4 per stripe with one
        k.min_cell_share = 0.05;
        k.trend_x = trend;
        tessaline::OptimalBinningConstraints one;
        one.max_bins = 4;
        one.min_bin_share = 0.05;
        one.trend = trend;
        const auto found = tessaline::grid_rectangles(t.c0.data(), t.c1.data(), 12, 1, k);
        const auto best = tessaline::optimal_binning(t.c0.data(), t.c1.data(), 12, one);
        ASSERT_EQ(found.rectangles.size(), best.groups.size());
        for (std::size_t g = 0; g < best.groups.size(); ++g) {
            EXPECT_EQ(found.rectangles[g].x_first, best.groups[g].first);
            EXPECT_EQ(found.rectangles[g].x_last, best.groups[g].last);
        }
        EXPECT_TRUE(found.exact);
        EXPECT_EQ(found.iv, best.iv);
        EXPECT_EQ(found.trend_x, trend);
    }
}

TEST(GridBinning, AlternatingSearchNeverLosesToTheExactOneOnASmallTable) {
    const Table t = random_table(7, 6 * 7);
    GridBinningConstraints k;
    k.max_bins_x = 3;
    k.max_bins_y = 3;
    k.min_cell_share = 0.02;
    const auto exact = tessaline::grid_binning(t.c0.data(), t.c1.data(), 6, 7, k);
    k.max_exhaustive = 0;
    const auto local = tessaline::grid_binning(t.c0.data(), t.c1.data(), 6, 7, k);
    EXPECT_TRUE(exact.exact);
    EXPECT_FALSE(local.exact);
    EXPECT_LE(local.iv, exact.iv);
    EXPECT_GT(local.iv, 0.0);
}

TEST(GridBinning, RefusesWhatIsNoTable) {
    const std::vector<double> ones(4, 1.0);
    GridBinningConstraints k;
    const auto message = [&](std::size_t nx, std::size_t ny, const GridBinningConstraints& c) {
        try {
            tessaline::grid_binning(ones.data(), ones.data(), nx, ny, c);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(message(0, 4, k), "grid_binning: no pre-bins");
    EXPECT_EQ(message(4097, 1, k), "grid_binning: at most 4096 pre-bins per axis");
    k.trend_y = BinTrend::valley;
    EXPECT_EQ(message(2, 2, k),
              "grid_binning: a trend must be one of none, ascending, descending, auto");
}

}  // namespace
