// Counting without a sort: the counts of count_values (signed zeros, infinite
// values, labels other than 0 and 1), or none past the limit of distinct values.
#include <set>

#include "reference.hpp"

namespace {

using namespace ref;

class CountAtMost : public ::testing::TestWithParam<std::tuple<uint64_t, std::size_t, int>> {};

TEST_P(CountAtMost, EqualsTheSortedCountUpToItsLimit) {
    const auto [seed, n, levels] = GetParam();
    std::mt19937_64 rng(seed);
    Values x = messy_sample(rng, n, levels);
    std::vector<int32_t> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (i % 7 == 3) x[i] = -0.0;
        y[i] = static_cast<int32_t>(rng() % 3);  // 2 is class 1, as 1 is
    }
    const ValueCounts sorted = count_values(x.data(), y.data(), x.size());
    std::set<double> distinct;  // -0.0 and 0.0 are one value
    for (double v : x)
        if (!std::isnan(v)) distinct.insert(v);
    const std::size_t d = distinct.size();
    ASSERT_EQ(sorted.value.size(), d);
    for (std::size_t limit : {std::size_t{0}, d / 2, d, d + 1, 4 * d + 9}) {
        const auto counted = count_values_at_most(x.data(), y.data(), x.size(), limit);
        ASSERT_EQ(counted.has_value(), d <= limit) << "limit " << limit;
        if (counted) {
            EXPECT_EQ(digest(counted->value, counted->c0, counted->c1),
                      digest(sorted.value, sorted.c0, sorted.c1));
        }
    }
}

// The table grows as values come: doubling where values repeat before new
// ones come (each value's rows together here), at once where most rows hold
// new ones.
TEST(CountAtMostGrowing, EqualsTheSortedCountAsTheTableGrows) {
    for (const std::size_t repeats : {std::size_t{2}, std::size_t{10}}) {
        std::vector<double> x;
        std::vector<int32_t> y;
        for (std::size_t i = 0; i < 30000; ++i) {
            x.push_back(static_cast<double>(i / repeats) * 0.5);
            y.push_back(static_cast<int32_t>(i % 3 == 0));
        }
        const ValueCounts sorted = count_values(x.data(), y.data(), x.size());
        const std::size_t d = sorted.value.size();
        for (std::size_t limit : {d - 1, d, 4 * d}) {
            const auto counted = count_values_at_most(x.data(), y.data(), x.size(), limit);
            ASSERT_EQ(counted.has_value(), d <= limit) << repeats << " " << limit;
            if (counted) {
                EXPECT_EQ(digest(counted->value, counted->c0, counted->c1),
                          digest(sorted.value, sorted.c0, sorted.c1));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, CountAtMost,
                         ::testing::Combine(::testing::Values(uint64_t{1}, uint64_t{2}),
                                            ::testing::Values(std::size_t{0}, std::size_t{1},
                                                              std::size_t{60}, std::size_t{20000}),
                                            ::testing::Values(3, 40)));

}  // namespace
