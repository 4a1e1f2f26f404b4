#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

using tessaline::BinningSummary;
using tessaline::MdlpFullRawResult;
using tessaline::SummaryStatistic;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

MdlpFullRawResult fit(const std::vector<double>& x, const std::vector<double>& y,
                      SummaryStatistic stat = SummaryStatistic::Median, double alpha = 1.0,
                      double beta = 1.0) {
    tessaline::TessalineParams p;
    p.minobs = 0;
    p.alpha_pos = alpha;
    p.beta_struct = beta;
    return tessaline::fit_mdlp_full_from_raw(x.data(), y.data(), x.size(), p, std::nullopt, 50.0,
                                             stat);
}

void expect_row(const BinningSummary& r, double left, double right, std::size_t count,
                double percentage, std::size_t c0, std::size_t c1, double event_rate,
                double representative) {
    auto same = [](double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; };
    EXPECT_TRUE(same(r.left, left)) << r.left;
    EXPECT_TRUE(same(r.right, right)) << r.right;
    EXPECT_EQ(r.count, count);
    EXPECT_DOUBLE_EQ(r.percentage, percentage);
    EXPECT_EQ(r.c0, c0);
    EXPECT_EQ(r.c1, c1);
    EXPECT_DOUBLE_EQ(r.event_rate, event_rate);
    EXPECT_TRUE(same(r.representative, representative)) << r.representative;
}

TEST(MdlpFullRaw, WorkedExampleWithAMissingRow) {
    const MdlpFullRawResult r = fit({1, 2, 3, 4, kNaN}, {0, 0, 1, 1, 1});
    ASSERT_EQ(r.mdlp.size(), 1u);
    EXPECT_TRUE(r.mdlp[0].found);
    EXPECT_EQ(r.mdlp[0].idx, 1u);
    ASSERT_EQ(r.intervals.size(), 2u);
    ASSERT_EQ(r.summary.size(), 3u);
    expect_row(r.summary[0], -kInf, 2.5, 2, 0.4, 2, 0, 0.0, 1.5);
    expect_row(r.summary[1], 2.5, kInf, 2, 0.4, 0, 2, 1.0, 3.5);
    expect_row(r.summary[2], kNaN, kNaN, 1, 0.2, 0, 1, 1.0, kNaN);
    EXPECT_EQ(r.n_input, 5u);
    EXPECT_EQ(r.n_used, 4u);
    EXPECT_EQ(r.n_missing_x, 1u);
    EXPECT_TRUE(r.target_was_binary);
}

TEST(MdlpFullRaw, DegenerateInputs) {
    const MdlpFullRawResult only_missing = fit({kNaN, kNaN}, {0, 1});
    EXPECT_TRUE(only_missing.mdlp.empty());
    ASSERT_EQ(only_missing.summary.size(), 1u);
    expect_row(only_missing.summary[0], kNaN, kNaN, 2, 1.0, 1, 1, 0.5, kNaN);

    const MdlpFullRawResult nothing = fit({kInf, kNaN}, {1, kNaN});
    EXPECT_TRUE(nothing.summary.empty());
    EXPECT_EQ(nothing.n_non_finite, 1u);
    EXPECT_EQ(nothing.n_missing_both, 1u);

    const MdlpFullRawResult no_split = fit({1, 2, 3}, {0, 1, 0}, SummaryStatistic::Mean);
    ASSERT_EQ(no_split.summary.size(), 1u);
    expect_row(no_split.summary[0], -kInf, kInf, 3, 1.0, 2, 1, 1.0 / 3.0, 2.0);
}

// Neighbouring doubles and values near the largest double used to give cuts
// that did not separate their two records; every record must still be counted.
TEST(MdlpFullRaw, AdjacentAndHugeValuesKeepCountsConsistent) {
    const double big = std::numeric_limits<double>::max();
    for (double start : {1.0, big / 2, -big, 4.9e-324}) {
        std::vector<double> x;
        std::vector<double> y;
        double v = start;
        for (int i = 0; i < 64; ++i) {
            x.push_back(v);
            y.push_back(i % 2);
            v = std::nextafter(v, kInf);
        }
        const MdlpFullRawResult r = fit(x, y, SummaryStatistic::Median, 0.0, 0.0);
        std::size_t total = 0;
        for (const BinningSummary& row : r.summary) total += row.count;
        EXPECT_EQ(total, x.size()) << start;
        EXPECT_GT(r.summary.size(), 1u) << start;
    }
}

}  // namespace
