#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

using namespace tessaline;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Categorical, CountsPerCodeWithMissingValuesAndTargets) {
    const std::vector<int64_t> codes{0, 2, 2, -1, 1, 0, -1, 2};
    const std::vector<double> labels{1, 0, 1, 0, kNaN, 0, 1, 1};
    const auto counts = count_categories(codes.data(), labels.data(), codes.size(), 3);
    EXPECT_EQ(counts.c0, (std::vector<int64_t>{1, 0, 1}));
    EXPECT_EQ(counts.c1, (std::vector<int64_t>{1, 0, 2}));
    EXPECT_EQ(counts.missing_c0, 1);
    EXPECT_EQ(counts.missing_c1, 1);
    EXPECT_EQ(counts.n_missing_target, 1);
}

TEST(Categorical, BadCodesAndLabelsAreErrors) {
    const std::vector<int64_t> codes{0, 3};
    const std::vector<double> labels{0, 1};
    EXPECT_THROW(count_categories(codes.data(), labels.data(), 2, 3), std::invalid_argument);
    const std::vector<int64_t> fine{0, -2};
    EXPECT_THROW(count_categories(fine.data(), labels.data(), 2, 3), std::invalid_argument);
    const std::vector<double> fractional{0, 0.5};
    const std::vector<int64_t> ok{0, 1};
    EXPECT_THROW(count_categories(ok.data(), fractional.data(), 2, 3), std::invalid_argument);
    // A bad code leaves the output untouched.
    std::vector<double> out{7.0, 7.0};
    const std::vector<double> table{1.0, 2.0, 3.0};
    EXPECT_THROW(lookup_codes(codes.data(), 2, table.data(), 3, kNaN, out.data()),
                 std::invalid_argument);
    EXPECT_EQ(out, (std::vector<double>{7.0, 7.0}));
}

TEST(Categorical, OrderByExactEventRateThenCodeWithoutEmptyCodes) {
    // Rates: 1/3, 0, 2/6 (equal to code 0's), empty, 1/2, and two rates that
    // differ by less than a double can tell apart after division.
    const int64_t big = 1'000'000'000;
    const std::vector<int64_t> c0{2, 5, 4, 0, 1, big, big + 1};
    const std::vector<int64_t> c1{1, 0, 2, 0, 1, big - 1, big};
    const auto order = event_rate_order(c0.data(), c1.data(), c0.size());
    EXPECT_EQ(order, (std::vector<int64_t>{1, 0, 2, 5, 6, 4}));
}

TEST(Categorical, LookupGivesTheTableOrTheMissingValue) {
    const std::vector<int64_t> codes{2, -1, 0};
    const std::vector<int64_t> table{10, 11, 12};
    std::vector<int64_t> out(3);
    lookup_codes(codes.data(), codes.size(), table.data(), table.size(), int64_t{-1}, out.data());
    EXPECT_EQ(out, (std::vector<int64_t>{12, -1, 10}));
}

}  // namespace
