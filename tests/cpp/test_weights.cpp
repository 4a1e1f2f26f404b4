// Weighted scores and samples: whole weights give the bits of the rows
// repeated, weight 0 those of the rows left out (zero read as 0.0, as from
// counts), whether the weights are few and small (counted by weight) or not.
#include "reference.hpp"

namespace {

using namespace ref;

struct Weighted {
    Values x, w, repeated_x, weighed_x;
    std::vector<int32_t> y, repeated_y, weighed_y;
};

// Rows with ties, NaN, infinities and both zeros (-0.0 first), whole weights
// 0 to `most`, the same rows each repeated its weight times, in order, and
// those of weight above 0 once each.
Weighted weighted(uint64_t seed, std::size_t n, int distinct, int most) {
    std::mt19937_64 rng(seed);
    Weighted s;
    s.x = messy_sample(rng, n, distinct);
    s.x[1] = -0.0, s.x[2] = 0.0;
    std::uniform_int_distribution<int> weight(0, most), label(0, 1);
    for (std::size_t i = 0; i < n; ++i) {
        s.y.push_back(label(rng));
        s.w.push_back(i == 0 ? 0.0 : weight(rng));  // a zero weight on the first row
        if (s.w[i] > 0.0) {
            s.weighed_x.push_back(s.x[i]);
            s.weighed_y.push_back(s.y[i]);
        }
        for (int r = 0; r < int(s.w[i]); ++r) {
            s.repeated_x.push_back(s.x[i]);
            s.repeated_y.push_back(s.y[i]);
        }
    }
    return s;
}

class Weights : public ::testing::TestWithParam<std::tuple<unsigned, std::size_t, int, int>> {};

TEST_P(Weights, WholeWeightsGiveTheRepeatedRows) {
    const auto [seed, n, distinct, most] = GetParam();
    const Weighted s = weighted(seed, n, distinct, most);
    const WeightedValueCounts weighed =
        count_values_weighted(s.x.data(), s.y.data(), s.w.data(), n);
    const ValueCounts repeated =
        count_values(s.repeated_x.data(), s.repeated_y.data(), s.repeated_x.size());
    // Each value's weights are the counts of its rows repeated, and its
    // records those of its rows of weight above 0.
    const ValueCounts records =
        count_values(s.weighed_x.data(), s.weighed_y.data(), s.weighed_x.size());
    ASSERT_EQ(weighed.value, repeated.value);
    ASSERT_EQ(records.value, repeated.value);
    for (std::size_t j = 0; j < weighed.value.size(); ++j) {
        EXPECT_EQ(weighed.c0[j], static_cast<double>(repeated.c0[j])) << j;
        EXPECT_EQ(weighed.c1[j], static_cast<double>(repeated.c1[j])) << j;
        EXPECT_EQ(weighed.rows[j], records.c0[j] + records.c1[j]) << j;
    }
    EXPECT_EQ(digest(lorenz_curve_weighted(weighed)), digest(lorenz_curve_from_counts(repeated)));
    for (std::size_t n_bins : {1, 4, 10}) {
        EXPECT_EQ(quantile_splits_weighted(weighed, n_bins),
                  quantile_splits(s.repeated_x.data(), s.repeated_x.size(), n_bins));
    }
    // The reference is the first half of the rows, the current one the rest.
    const std::size_t half = n / 2,
                      repeated_half =
                          std::size_t(std::accumulate(s.w.begin(), s.w.begin() + half, 0.0));
    const Values cuts{-2.0, 0.0, 1.5};
    const Values ref = weigh_into_bins(s.x.data(), s.w.data(), half, cuts);
    const Values cur = weigh_into_bins(s.x.data() + half, s.w.data() + half, n - half, cuts);
    const WeightedDistributionComparison got =
        compare_distributions_from_weights(ref.data(), cur.data(), cuts, 1e-12);
    const DistributionComparison want = compare_distributions(
        s.repeated_x.data(), repeated_half, s.repeated_x.data() + repeated_half,
        s.repeated_x.size() - repeated_half, cuts, 1e-12);
    DistributionComparison as_counts{{}, got.psi, got.ks};
    for (const WeightedPsiBin& b : got.bins) {
        as_counts.bins.push_back(PsiBin{int64_t(b.weight_reference), int64_t(b.weight_current),
                                        b.proportion_reference, b.proportion_current,
                                        b.cumulative_reference, b.cumulative_current, b.psi_bin});
    }
    EXPECT_EQ(digest(as_counts), digest(want));
}

INSTANTIATE_TEST_SUITE_P(Samples, Weights,
                         ::testing::Values(std::tuple{1u, 3000u, 12, 3},
                                           std::tuple{2u, 20000u, 400, 3},
                                           std::tuple{3u, 60u, 3, 3}, std::tuple{4u, 5000u, 1, 4},
                                           std::tuple{5u, 4000u, 40, 1},
                                           std::tuple{6u, 3000u, 25, 6}));

TEST(Weights, BadWeightsAreRefused) {
    const Values ok{1.0, 1.0};
    for (double bad : {-1.0, kNaN, kInf}) {
        const Values sums{1.0, bad, 0.0};
        EXPECT_EQ(message_of([&] {
                      compare_distributions_from_weights(sums.data(), ok.data(), {1.0}, 1e-12);
                  }),
                  "compare_distributions_from_weights: weights must be finite and not negative");
    }
    const Values none{0.0, 0.0, 0.0}, some{1.0, 0.0, 0.0};
    EXPECT_EQ(message_of([&] {
                  compare_distributions_from_weights(none.data(), some.data(), {1.0}, 1e-12);
              }),
              "compare_distributions: muestras vacías o epsilon inválido");
}

}  // namespace
