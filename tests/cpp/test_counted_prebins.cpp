// The count of the default binning reads -0.0 as 0.0 and says whether it met
// one, wherever the row falls: in a block of eight rows filed at once (each
// lane) or among the rows filed one by one after the last block.
#include "reference.hpp"

namespace {

using namespace ref;

class NegativeZero : public ::testing::TestWithParam<std::size_t> {};

TEST_P(NegativeZero, IsNotedAtEveryPositionAndOnlyThere) {
    const std::size_t n = GetParam();
    for (std::size_t at = 0; at < n; ++at) {
        for (const double zero : {-0.0, 0.0}) {
            Values x(n);
            std::vector<int32_t> y(n);
            for (std::size_t i = 0; i < n; ++i) {
                x[i] = i % 5 == 4 ? kNaN : 1.0 + static_cast<double>(i % 3);
                y[i] = static_cast<int32_t>(i % 2);
            }
            x[at] = zero;
            const CountedPrebins counted = counted_prebins(x.data(), y.data(), n, 20, 64, 0.01);
            EXPECT_EQ(counted.negative_zero, std::signbit(zero)) << "row " << at << " of " << n;
            ASSERT_FALSE(counted.counts.value.empty());
            EXPECT_EQ(counted.counts.value[0], 0.0);
            EXPECT_FALSE(std::signbit(counted.counts.value[0]));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, NegativeZero,
                         ::testing::Values(std::size_t{3}, std::size_t{8}, std::size_t{19}));

}  // namespace
