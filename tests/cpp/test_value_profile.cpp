// The column profile of the data overview, on counts worked by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ValueProfile, WorkedExample) {
    // Rows 1, 1, 2, 4, 4, 4 and one +inf (counted, not in the statistics).
    const std::vector<double> value{1.0, 2.0, 4.0, kInf};
    const std::vector<int64_t> count{2, 1, 3, 1};
    const auto p = tessaline::value_profile(value.data(), count.data(), value.size(),
                                            {0.0, 25.0, 50.0, 100.0}, 2);
    EXPECT_EQ(p.finite_rows, 6);
    // Positions (n - 1) p: 0, 1.25, 2.5, 5 among 1 1 2 4 4 4.
    EXPECT_EQ(p.quantiles, (std::vector<double>{1.0, 1.25, 3.0, 4.0}));
    EXPECT_EQ(p.mean, 16.0 / 6.0);
    // Squared deviations from the rounded mean, summed exactly.
    const double m = 16.0 / 6.0;
    const double ss = 2 * (1 - m) * (1 - m) + (2 - m) * (2 - m) + 3 * (4 - m) * (4 - m);
    EXPECT_NEAR(p.std, std::sqrt(ss / 5.0), 1e-15);
    EXPECT_EQ(p.top, (std::vector<std::size_t>{2, 0}));
}

TEST(ValueProfile, NoFiniteRowsGiveNaN) {
    const std::vector<double> value{-kInf};
    const std::vector<int64_t> count{3};
    const auto p = tessaline::value_profile(value.data(), count.data(), 1, {50.0}, 5);
    EXPECT_TRUE(std::isnan(p.quantiles[0]) && std::isnan(p.mean) && std::isnan(p.std));
    EXPECT_EQ(p.top, (std::vector<std::size_t>{0}));
}

TEST(ValueProfile, RefusesUnorderedValues) {
    const std::vector<double> value{2.0, 1.0};
    const std::vector<int64_t> count{1, 1};
    EXPECT_THROW(tessaline::value_profile(value.data(), count.data(), 2, {50.0}, 1),
                 std::invalid_argument);
}

TEST(TopPositions, TiesGoToTheEarlierPosition) {
    const std::vector<int64_t> count{1, 5, 5, 2};
    EXPECT_EQ(tessaline::top_positions(count.data(), 4, 3), (std::vector<std::size_t>{1, 2, 3}));
}

}  // namespace

namespace {

TEST(ValueProfile, MeanIsTheExactSumRoundedOnce) {
    // 1e16 + 1 + 1 loses both ones in plain sums from the left; exactly,
    // the sum is 1e16 + 2 and the mean of its four rows (one 0) a quarter.
    const std::vector<double> value{0.0, 1.0, 1e16};
    const std::vector<int64_t> count{1, 2, 1};
    const auto p = tessaline::value_profile(value.data(), count.data(), 3, {}, 0);
    EXPECT_EQ(p.mean, (1e16 + 2.0) / 4.0);
    EXPECT_TRUE(p.top.empty());
}

}  // namespace
