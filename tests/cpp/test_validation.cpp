#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

TEST(EqualRatesTest, WorkedTableAndEmptyMargins) {
    // 30/10 against 20/20: chi-square 80 * 400^2 / (40 * 40 * 50 * 30) = 16/3.
    const auto t = tessaline::equal_rates_test(30, 10, 20, 20);
    EXPECT_DOUBLE_EQ(t.statistic, 16.0 / 3.0);
    EXPECT_NEAR(t.pvalue, 0.020921335337794035, 1e-15);
    for (const auto& e :
         {tessaline::equal_rates_test(0, 0, 3, 4), tessaline::equal_rates_test(5, 0, 3, 0)}) {
        EXPECT_EQ(e.statistic, 0.0);
        EXPECT_EQ(e.pvalue, 1.0);
    }
    EXPECT_THROW(tessaline::equal_rates_test(-1, 2, 3, 4), std::invalid_argument);
}

TEST(DelongAuc, WorkedPlacementsWithATie) {
    // Events score 3 and 2, non-events 1, 2 and 0: placements 1 and 5/6 for
    // the events, 1, 3/4 and 1 for the non-events; AUC 11/12, variance
    // (1/72) / 2 + (1/48) / 3 = 1/72. A second score, the first reversed,
    // has AUC 1/12 and covariance -1/72 with it.
    const std::vector<double> scores = {3, 1, 2, 2, 0, -3, -1, -2, -2, -0.0};
    const std::vector<int32_t> labels = {1, 0, 1, 0, 0};
    const auto r = tessaline::delong_auc(scores.data(), 2, labels.data(), 5);
    EXPECT_EQ(r.n_events, 2u);
    EXPECT_EQ(r.n_non_events, 3u);
    EXPECT_DOUBLE_EQ(r.auc[0], 11.0 / 12.0);
    EXPECT_DOUBLE_EQ(r.auc[1], 1.0 / 12.0);
    EXPECT_DOUBLE_EQ(r.covariance[0], 1.0 / 72.0);
    EXPECT_DOUBLE_EQ(r.covariance[1], -1.0 / 72.0);
    EXPECT_EQ(r.covariance[1], r.covariance[2]);
    EXPECT_DOUBLE_EQ(r.covariance[3], 1.0 / 72.0);
}

TEST(DelongAuc, SingleRowClassHasNoVarianceAndBadInputIsRefused) {
    const std::vector<double> one = {0.5, 0.1, 0.7};
    const std::vector<int32_t> labels = {1, 0, 0}, no_events = {0, 0, 0};
    const auto r = tessaline::delong_auc(one.data(), 1, labels.data(), 3);
    EXPECT_DOUBLE_EQ(r.auc[0], 0.5);
    EXPECT_TRUE(std::isnan(r.covariance[0]));
    const auto message = [](const double* s, const int32_t* y, std::size_t k) {
        try {
            tessaline::delong_auc(s, k, y, 3);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    const std::vector<double> nan = {0.5, std::nan(""), 0.1};
    EXPECT_EQ(message(one.data(), no_events.data(), 1), "delong_auc: both classes must hold rows");
    EXPECT_EQ(message(nan.data(), labels.data(), 1), "delong_auc: a score is NaN");
    EXPECT_EQ(message(one.data(), labels.data(), 0), "delong_auc: no scores");
}

// Welch's test against scipy's ttest_ind_from_stats(equal_var=False), with
// std = sqrt(D / (W - 1)) and nobs = W; the last with df in the hundreds of
// thousands, where the continued fraction runs longest.
struct WelchCase {
    double wa, ma, da, wb, mb, db, statistic, df, pvalue;
};

class EqualMeansTest : public ::testing::TestWithParam<WelchCase> {};

TEST_P(EqualMeansTest, MatchesAnIndependentComputation) {
    const WelchCase c = GetParam();
    const auto t = tessaline::equal_means_test(c.wa, c.ma, c.da, c.wb, c.mb, c.db);
    EXPECT_NEAR(t.statistic, c.statistic, 1e-13 * std::fabs(c.statistic));
    EXPECT_NEAR(t.df, c.df, 1e-12 * c.df);
    EXPECT_NEAR(t.pvalue, c.pvalue, 1e-9 * c.pvalue);
}

INSTANTIATE_TEST_SUITE_P(
    Scipy, EqualMeansTest,
    ::testing::Values(WelchCase{10, 2.0, 18.0, 12, 3.5, 44.0, -2.0539595906443733,
                                19.555555555555557, 0.053594246487388884},
                      WelchCase{3, 1.0, 2.0, 50, 1.2, 49.0, -0.3364632924552265, 2.246869847695849,
                                0.765388055397153},
                      WelchCase{1000, 0.5, 999.0, 5, 4.0, 0.4, -24.1522945769824, 4.409955856297735,
                                7.436905994041207e-06},
                      WelchCase{2.5, 7.0, 1.5, 4.0, -1.0, 30.0, 4.697761756117628,
                                3.840182648401826, 0.010288536418996594},
                      WelchCase{2e5, 1.0, 2e5, 3e5, 1.01, 3e5, -3.4640941095749724,
                                428569.2040810495, 0.0005320723070101007}));

TEST(EqualMeansTest, GroupsWithoutAVarianceAndBadInput) {
    // A group of weight 1 has no variance to estimate: the means cannot be told apart.
    const auto single = tessaline::equal_means_test(1.0, 0.0, 0.0, 5.0, 9.0, 4.0);
    EXPECT_EQ(single.statistic, 0.0);
    EXPECT_TRUE(std::isnan(single.df));
    EXPECT_EQ(single.pvalue, 1.0);
    // Two constant groups: equal means, or means that differ for certain.
    EXPECT_EQ(tessaline::equal_means_test(3.0, 2.0, 0.0, 4.0, 2.0, 0.0).pvalue, 1.0);
    const auto apart = tessaline::equal_means_test(3.0, 2.0, 0.0, 4.0, 1.0, 0.0);
    EXPECT_EQ(apart.statistic, INFINITY);
    EXPECT_EQ(apart.df, 5.0);
    EXPECT_EQ(apart.pvalue, 0.0);
    try {
        tessaline::equal_means_test(3.0, NAN, 1.0, 4.0, 1.0, 1.0);
        FAIL() << "a NaN mean was accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(e.what()),
                  "equal_means_test: weights and sums of squared deviations must be finite and "
                  "non-negative, means finite");
    }
}

}  // namespace
