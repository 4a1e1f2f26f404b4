// Preprocessing and the key ordering behind it and the Lorenz curve: keys
// against the numeric order, the two-range radix sort against std::sort.
#include "reference.hpp"
#include "sort_rows.hpp"

namespace {

using namespace ref;

PreprocessResult run(const Values& x, const Values& y, std::optional<double> value = std::nullopt,
                     double percentile = 50.0) {
    return preprocess_data(x.data(), y.data(), x.size(), value, percentile);
}
// The counters in order: missing rows and their labels, then the outcome of every row.
std::vector<std::size_t> counters(const PreprocessResult& r) {
    return {r.missing_count, r.missing_c0, r.missing_c1, r.n_input, r.n_used,
            r.n_missing_x, r.n_missing_y, r.n_missing_both, r.n_non_finite};
}

TEST(Preprocess, ClassificationOfEveryRow) {
    const PreprocessResult none = preprocess_data(nullptr, nullptr, 0, std::nullopt, 50.0);
    EXPECT_TRUE(none.x.empty() && none.y.empty() && none.target_was_binary && none.threshold == 0.0);
    EXPECT_EQ(counters(none), std::vector<std::size_t>(9, 0));
    struct Case {
        double x, y;
        std::size_t PreprocessResult::*counter;
    };
    const Case cases[] = {
        {1.0, 1.0, &PreprocessResult::n_used},         {1.0, kNaN, &PreprocessResult::n_missing_y},
        {1.0, kInf, &PreprocessResult::n_non_finite},  {1.0, -kInf, &PreprocessResult::n_non_finite},
        {kNaN, 0.0, &PreprocessResult::n_missing_x},   {kNaN, kNaN, &PreprocessResult::n_missing_both},
        {kNaN, kInf, &PreprocessResult::n_non_finite}, {kInf, 1.0, &PreprocessResult::n_non_finite},
        {-kInf, kNaN, &PreprocessResult::n_non_finite}, {kInf, kInf, &PreprocessResult::n_non_finite},
    };
    for (const auto& c : cases) {
        const PreprocessResult r = run({c.x}, {c.y});
        const auto n = counters(r);
        EXPECT_EQ(r.*(c.counter), 1u) << "x=" << c.x << " y=" << c.y;
        EXPECT_EQ(n[3], 1u);
        EXPECT_EQ(n[4] + n[5] + n[6] + n[7] + n[8], 1u) << "x=" << c.x << " y=" << c.y;
    }
    // Missing-x rows of a binary target label by truncation; of another, by the threshold.
    EXPECT_EQ(counters(run({kNaN, kNaN, kNaN, kNaN, 1.0}, {0.7, 1.0, 2.0, -3.0, 0.0})),
              (std::vector<std::size_t>{2, 1, 1, 5, 1, 4, 0, 0, 0}));
    EXPECT_EQ(counters(run({kNaN, kNaN, 1.0, 2.0, 3.0}, {9.0, 0.0, 1.0, 2.0, 3.0})),
              (std::vector<std::size_t>{2, 1, 1, 5, 3, 2, 0, 0, 0}));
}

TEST(Preprocess, Thresholds) {
    for (auto value : {std::optional<double>{}, std::optional<double>{0.5}}) {
        const PreprocessResult r = run({1, 2, 3, 4}, {0, 1, 1, 0}, value, 150.0);  // binary: both ignored
        EXPECT_TRUE(r.target_was_binary && r.threshold == 0.0 && r.y == (std::vector<int32_t>{0, 1, 1, 0}));
    }
    struct Case {
        Values y;
        std::optional<double> value;
        double percentile, threshold;
        std::vector<int32_t> labels;
    };
    const Case cases[] = {
        {{0, 1, 2}, std::nullopt, 50.0, 1.0, {0, 0, 1}},     {{1, 2, 3, 4}, std::nullopt, 50.0, 2.5, {0, 0, 1, 1}},
        {{4, 2, 3, 1}, std::nullopt, 0.0, 1.0, {1, 1, 1, 0}}, {{4, 2, 3, 1}, std::nullopt, 100.0, 4.0, {0, 0, 0, 0}},
        {{0.2, 0.5, 0.9}, 0.5, 50.0, 0.5, {0, 0, 1}},        {{7.5}, std::nullopt, 50.0, 7.5, {0}},
    };
    for (const auto& c : cases) {
        Values x(c.y.size());
        std::iota(x.begin(), x.end(), 0.0);
        const PreprocessResult r = run(x, c.y, c.value, c.percentile);
        EXPECT_TRUE(!r.target_was_binary && r.threshold == c.threshold && r.y == c.labels) << c.threshold;
    }
    // A percentile outside [0, 100] fails only when it is used.
    for (double p : {-1.0, 100.5, kNaN}) {
        EXPECT_EQ(message_of([&] { run({1, 2}, {1, 3}, std::nullopt, p); }),
                  "preprocess_data: percentile debe estar entre 0 y 100");
        EXPECT_NO_THROW(run({1, 2}, {0, 1}, std::nullopt, p));        // binary target
        EXPECT_NO_THROW(run({1, 2}, {1, 3}, 2.0, p));                 // fixed threshold
        EXPECT_NO_THROW(run({kNaN, kNaN}, {1, 3}, std::nullopt, p));  // nothing kept
    }
}

// Short inputs take the comparison sort, long ones radix passes over the keys
// of each label apart: both order by value then label like a stable
// comparison sort, so -0.0 and 0.0 keep their input order. The shapes make
// every digit vary, few of them, or none.
TEST(Preprocess, OrderMatchesAStableComparisonSort) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal(0.0, 1.0);
    const std::function<double()> shapes[] = {
        [&] { const int v = int(rng() % 41); return v == 0 ? -0.0 : v == 1 ? 0.0 : v == 2 ? -kInf : (v - 20) * 0.25; },
        [&] { return (rng() % 2 ? -1.0 : 1.0) * std::pow(10.0, double(rng() % 600) - 300.0) * normal(rng); },
        [&] { return std::round(normal(rng) * 1e4); },
        [&] { return double(rng() % 5); },
        [&] { return 4.0; },
        // Only two far-apart bits vary: the digits between them never do.
        [&] { return value_of_key(ordered_key(2.0) | (rng() & 0x0100000000000008ull)); },
    };
    for (std::size_t n : {1u, 3u, 60u, 255u, 256u, 1000u, 70000u}) {
        for (const auto& draw : shapes) {
            for (unsigned share : {0u, 1u, 3u}) {  // label 1 for none, a third, or all of the rows
                Values x(n), y(n);
                for (std::size_t i = 0; i < n; ++i) x[i] = draw(), y[i] = share == 0 ? 0.0 : double(rng() % share == 0);
                const PreprocessResult r = run(x, y);
                const auto order = stable_order(n, [&](std::size_t i) { return std::isfinite(x[i]); },
                                                [&](std::size_t a, std::size_t b) {
                                                    return x[a] < x[b] || (x[a] == x[b] && y[a] < y[b]);
                                                });
                Values want_x;
                std::vector<int32_t> want_y;
                for (std::size_t i : order) want_x.push_back(x[i]), want_y.push_back(int32_t(y[i]));
                ASSERT_EQ(digest(r.x, r.y), digest(want_x, want_y)) << n << " " << share;
            }
        }
    }
}

TEST(OrderedKey, FollowsTheNumericOrderAndRoundTrips) {
    const double tiny = std::numeric_limits<double>::denorm_min();
    const Values ascending = {-kInf, -1e308, -2.5, -1.0, -tiny, 0.0, tiny, 1e-300, 1.0, 2.5, 1e308, kInf};
    for (std::size_t i = 0; i < ascending.size(); ++i) {
        EXPECT_EQ(value_of_key(ordered_key(ascending[i])), ascending[i]);
        EXPECT_TRUE(i == 0 || ordered_key(ascending[i - 1]) < ordered_key(ascending[i])) << ascending[i];
    }
    // The two zeros are one value: one key, which gives back 0.0.
    EXPECT_EQ(ordered_key(-0.0), ordered_key(0.0));
    EXPECT_FALSE(std::signbit(value_of_key(ordered_key(-0.0))));
}

}  // namespace
