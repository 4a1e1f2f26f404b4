#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

// Groups both small (drawn row by row) and large (drawn by inversion).
struct Margins {
    std::vector<int64_t> rows;
    int64_t events;
};

class HypergeometricTable : public ::testing::TestWithParam<Margins> {};

TEST_P(HypergeometricTable, KeepsTheMarginsAndMatchesTheExpectation) {
    const Margins m = GetParam();
    int64_t total = 0;
    for (int64_t r : m.rows) total += r;
    tessaline::SplitMix64 rng(7);
    const int draws = 4000;
    std::vector<double> sum(m.rows.size(), 0.0);
    for (int d = 0; d < draws; ++d) {
        const auto t = tessaline::hypergeometric_table(m.rows.data(), m.rows.size(), m.events, rng);
        int64_t events = 0;
        for (std::size_t i = 0; i < t.size(); ++i) {
            ASSERT_GE(t[i], 0);
            ASSERT_LE(t[i], m.rows[i]);
            events += t[i];
            sum[i] += static_cast<double>(t[i]);
        }
        ASSERT_EQ(events, m.events);
    }
    for (std::size_t i = 0; i < m.rows.size(); ++i) {
        const double n = static_cast<double>(total), k = static_cast<double>(m.events);
        const double r = static_cast<double>(m.rows[i]);
        const double mean = r * k / n;
        const double sd = std::sqrt(r * (k / n) * (1 - k / n) * (n - r) / (n - 1));
        // Five standard errors of the mean of the draws.
        EXPECT_NEAR(sum[i] / draws, mean, 5 * sd / std::sqrt(draws) + 1e-12) << "group " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Groups, HypergeometricTable,
                         ::testing::Values(Margins{{3, 10, 0, 20}, 9},
                                           Margins{{500, 4000, 120, 37, 10000}, 4300},
                                           Margins{{250000, 750000, 1000}, 31000},
                                           Margins{{40, 60}, 100}));

TEST(HypergeometricTable, SameSeedSameTablesAndBadMarginsRefused) {
    const std::vector<int64_t> rows{100, 2000, 30};
    tessaline::SplitMix64 a(3), b(3);
    EXPECT_EQ(tessaline::hypergeometric_table(rows.data(), 3, 500, a),
              tessaline::hypergeometric_table(rows.data(), 3, 500, b));
    EXPECT_THROW(tessaline::hypergeometric_table(rows.data(), 3, 2131, a), std::invalid_argument);
}

}  // namespace
