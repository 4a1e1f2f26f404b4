// The key ordering behind preprocessing and the Lorenz curve: keys against the
// numeric order, the two-range radix sort against std::sort, and a long Lorenz
// curve (the radix path) against one built from a stable comparison sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "sort_rows.hpp"
#include "tessaline/tessaline.hpp"

namespace {

using tessaline::load_key;
using tessaline::ordered_key;
using tessaline::sort_key_ranges;
using tessaline::store_key;
using tessaline::value_of_key;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTiny = std::numeric_limits<double>::denorm_min();

TEST(OrderedKey, FollowsTheNumericOrderAndRoundTrips) {
    const std::vector<double> ascending = {-kInf, -1e308, -2.5, -1.0, -kTiny, 0.0,
                                           kTiny, 1e-300, 1.0, 2.5,  1e308, kInf};
    for (std::size_t i = 0; i < ascending.size(); ++i) {
        const double v = ascending[i];
        EXPECT_EQ(value_of_key(ordered_key(v)), v);
        if (i > 0) {
            EXPECT_LT(ordered_key(ascending[i - 1]), ordered_key(v)) << v;
        }
    }
    // The two zeros are one value: one key, which gives back 0.0.
    EXPECT_EQ(ordered_key(-0.0), ordered_key(0.0));
    EXPECT_FALSE(std::signbit(value_of_key(ordered_key(-0.0))));
}

// Sorts keys drawn by `draw` in two ranges and compares with std::sort.
template <typename Draw>
void expect_sorted_like_std(std::size_t n, std::size_t n0, Draw draw) {
    std::vector<uint64_t> keys(n);
    for (auto& k : keys) k = draw();
    std::vector<double> a(n), b(n);
    for (std::size_t i = 0; i < n; ++i) store_key(&a[i], keys[i]);
    const double* sorted = sort_key_ranges(a.data(), b.data(), n, n0);
    ASSERT_TRUE(sorted == a.data() || sorted == b.data());
    std::sort(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(n0));
    std::sort(keys.begin() + static_cast<std::ptrdiff_t>(n0), keys.end());
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(load_key(sorted + i), keys[i]) << i;
}

TEST(SortKeyRanges, MatchesStdSortOnBothRanges) {
    std::mt19937_64 rng(99);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (std::size_t n : {0u, 1u, 100u, 255u, 256u, 1000u, 70000u}) {
        for (std::size_t n0 : {std::size_t{0}, n / 3, n}) {
            SCOPED_TRACE(testing::Message() << "n " << n << " n0 " << n0);
            expect_sorted_like_std(n, n0, [&] { return rng(); });
            // Few distinct values: most digits never vary and are skipped.
            expect_sorted_like_std(n, n0, [&] { return ordered_key(double(rng() % 5)); });
            expect_sorted_like_std(n, n0, [&] { return ordered_key(std::round(normal(rng) * 1e4)); });
            // All equal, and only two far-apart bits varying: the digits
            // span the bits between them, most of which never vary.
            expect_sorted_like_std(n, n0, [] { return uint64_t{0x4010000000000000}; });
            expect_sorted_like_std(n, n0, [&] { return (rng() & 0x1000000000000008ull) | 0x40; });
        }
    }
}

TEST(LorenzCurve, LongInputMatchesAStableSortReference) {
    std::mt19937_64 rng(5);
    const std::size_t n = 20000;
    std::vector<double> x(n);
    std::vector<int> y(n);
    for (std::size_t i = 0; i < n; ++i) {
        const int v = static_cast<int>(rng() % 300);
        x[i] = v == 0 ? -0.0 : v == 1 ? 0.0 : v == 2 ? kInf : (v - 150) * 0.125;
        y[i] = static_cast<int>(rng() % 4 == 0);
    }
    const tessaline::LorenzCurve got = tessaline::lorenz_curve(x.data(), y.data(), n);

    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return x[a] < x[b];
    });
    std::size_t n1 = 0;
    for (int v : y) n1 += static_cast<std::size_t>(v);
    const double total0 = double(n - n1), total1 = double(n1);
    std::size_t c0 = 0, c1 = 0, point = 0;
    double f0_prev = 0.0, f1_prev = 0.0, area = 0.0;
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i;
        for (; j < n && x[order[j]] == x[order[i]]; ++j) (y[order[j]] ? c1 : c0) += 1;
        const double f0 = double(c0) / total0, f1 = double(c1) / total1;
        ASSERT_LT(point, got.points.size());
        const auto& p = got.points[point++];
        // The first value of the group in input order, so the sign of a zero too.
        EXPECT_EQ(std::signbit(p.value), std::signbit(x[order[i]]));
        EXPECT_EQ(p.value, x[order[i]]);
        EXPECT_EQ(p.cumulative_non_event, f0);
        EXPECT_EQ(p.cumulative_event, f1);
        area += ((f0 - f0_prev) * (f1_prev + f1)) * 0.5;
        f0_prev = f0;
        f1_prev = f1;
        i = j;
    }
    EXPECT_EQ(point, got.points.size());
    EXPECT_EQ(got.auc, 1.0 - area);
}

}  // namespace
