#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

using tessaline::PreprocessResult;
using tessaline::preprocess_data;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

PreprocessResult run(const std::vector<double>& x, const std::vector<double>& y,
                     std::optional<double> value = std::nullopt, double percentile = 50.0) {
    return preprocess_data(x.data(), y.data(), x.size(), value, percentile);
}

std::size_t outcome_sum(const PreprocessResult& r) {
    return r.n_used + r.n_missing_x + r.n_missing_y + r.n_missing_both + r.n_non_finite;
}

TEST(Preprocess, EmptyInputGivesEmptyBinaryResult) {
    const PreprocessResult r = preprocess_data(nullptr, nullptr, 0, std::nullopt, 50.0);
    EXPECT_TRUE(r.x.empty());
    EXPECT_TRUE(r.y.empty());
    EXPECT_EQ(r.n_input, 0u);
    EXPECT_TRUE(r.target_was_binary);
    EXPECT_EQ(r.threshold, 0.0);
}

struct ClassificationCase {
    double x;
    double y;
    std::size_t PreprocessResult::*counter;
};

TEST(Preprocess, EveryRowOfTheClassificationTable) {
    const ClassificationCase cases[] = {
        {1.0, 1.0, &PreprocessResult::n_used},
        {1.0, kNaN, &PreprocessResult::n_missing_y},
        {1.0, kInf, &PreprocessResult::n_non_finite},
        {1.0, -kInf, &PreprocessResult::n_non_finite},
        {kNaN, 0.0, &PreprocessResult::n_missing_x},
        {kNaN, kNaN, &PreprocessResult::n_missing_both},
        {kNaN, kInf, &PreprocessResult::n_non_finite},
        {kInf, 1.0, &PreprocessResult::n_non_finite},
        {-kInf, kNaN, &PreprocessResult::n_non_finite},
        {kInf, kInf, &PreprocessResult::n_non_finite},
    };
    for (const auto& c : cases) {
        const PreprocessResult r = run({c.x}, {c.y});
        EXPECT_EQ(r.*(c.counter), 1u) << "x=" << c.x << " y=" << c.y;
        EXPECT_EQ(outcome_sum(r), 1u) << "x=" << c.x << " y=" << c.y;
    }
}

TEST(Preprocess, BinaryTargetIgnoresValueAndPercentile) {
    for (auto value : {std::optional<double>{}, std::optional<double>{0.5}}) {
        const PreprocessResult r = run({1, 2, 3, 4}, {0, 1, 1, 0}, value, 150.0);
        EXPECT_TRUE(r.target_was_binary);
        EXPECT_EQ(r.threshold, 0.0);
        EXPECT_EQ(r.y, (std::vector<int32_t>{0, 1, 1, 0}));
    }
}

struct ThresholdCase {
    std::vector<double> y;
    std::optional<double> value;
    double percentile;
    double threshold;
    std::vector<int32_t> labels;
};

TEST(Preprocess, NonBinaryThresholds) {
    const ThresholdCase cases[] = {
        {{0, 1, 2}, std::nullopt, 50.0, 1.0, {0, 0, 1}},
        {{1, 2, 3, 4}, std::nullopt, 50.0, 2.5, {0, 0, 1, 1}},
        {{4, 2, 3, 1}, std::nullopt, 0.0, 1.0, {1, 1, 1, 0}},
        {{4, 2, 3, 1}, std::nullopt, 100.0, 4.0, {0, 0, 0, 0}},
        {{0.2, 0.5, 0.9}, 0.5, 50.0, 0.5, {0, 0, 1}},
        {{7.5}, std::nullopt, 50.0, 7.5, {0}},
    };
    for (const auto& c : cases) {
        std::vector<double> x(c.y.size());
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
        const PreprocessResult r = run(x, c.y, c.value, c.percentile);
        EXPECT_FALSE(r.target_was_binary);
        EXPECT_DOUBLE_EQ(r.threshold, c.threshold);
        EXPECT_EQ(r.y, c.labels);
    }
}

TEST(Preprocess, PercentileOutsideRangeFailsOnlyWhenUsed) {
    for (double p : {-1.0, 100.5, kNaN}) {
        EXPECT_THROW(run({1, 2}, {1, 3}, std::nullopt, p), std::invalid_argument);
        EXPECT_NO_THROW(run({1, 2}, {0, 1}, std::nullopt, p));       // binary target
        EXPECT_NO_THROW(run({1, 2}, {1, 3}, 2.0, p));                // fixed threshold
        EXPECT_NO_THROW(run({kNaN, kNaN}, {1, 3}, std::nullopt, p)); // nothing kept
    }
}

TEST(Preprocess, SortsByValueThenLabel) {
    const PreprocessResult r = run({2, 1, 2}, {1, 0, 0});
    EXPECT_EQ(r.x, (std::vector<double>{1, 2, 2}));
    EXPECT_EQ(r.y, (std::vector<int32_t>{0, 0, 1}));
}

TEST(Preprocess, MissingXRowsOfABinaryTargetCountByTruncation) {
    const PreprocessResult r = run({kNaN, kNaN, kNaN, kNaN, 1.0}, {0.7, 1.0, 2.0, -3.0, 0.0});
    EXPECT_EQ(r.n_missing_x, 4u);
    EXPECT_EQ(r.missing_count, 2u);
    EXPECT_EQ(r.missing_c0, 1u);
    EXPECT_EQ(r.missing_c1, 1u);
}

TEST(Preprocess, MissingXRowsOfANonBinaryTargetAllCount) {
    const PreprocessResult r = run({kNaN, kNaN, 1.0, 2.0, 3.0}, {9.0, 0.0, 1.0, 2.0, 3.0});
    EXPECT_EQ(r.missing_count, r.n_missing_x);
    EXPECT_EQ(r.missing_c1, 1u);
    EXPECT_EQ(r.missing_c0, 1u);
}

// The radix path (long inputs) must give the same order as a stable
// comparison sort, including -0.0 versus 0.0 keeping their input order.
TEST(Preprocess, LongInputsMatchAStableComparisonSort) {
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<int> pick(0, 40);
    std::vector<double> x(5000), y(5000);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const int v = pick(rng);
        x[i] = v == 0 ? -0.0 : v == 1 ? 0.0 : v == 2 ? -kInf : (v - 20) * 0.25;
        y[i] = static_cast<double>(pick(rng) % 2);
    }
    const PreprocessResult r = run(x, y);
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::isfinite(x[i])) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return x[a] < x[b] || (x[a] == x[b] && y[a] < y[b]);
    });
    ASSERT_EQ(r.x.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(std::signbit(r.x[i]), std::signbit(x[order[i]])) << i;
        EXPECT_EQ(r.x[i], x[order[i]]) << i;
        EXPECT_EQ(r.y[i], static_cast<int32_t>(y[order[i]])) << i;
    }
    EXPECT_EQ(outcome_sum(r), r.n_input);
}

}  // namespace
