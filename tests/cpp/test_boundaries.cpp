#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

using tessaline::Boundary;
using tessaline::compute_boundaries;
using tessaline::compute_boundaries_from_raw;
using tessaline::SortedView;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<Boundary> table_of(const std::vector<double>& x, const std::vector<int32_t>& y) {
    return compute_boundaries(SortedView{x.data(), y.data(), x.size()});
}

void expect_rows(const std::vector<Boundary>& got, const std::vector<Boundary>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].pto_corte, want[i].pto_corte) << "row " << i;
        EXPECT_EQ(got[i].c0, want[i].c0) << "row " << i;
        EXPECT_EQ(got[i].c1, want[i].c1) << "row " << i;
    }
}

struct TableCase {
    const char* name;
    std::vector<double> x;
    std::vector<int32_t> y;
    std::vector<Boundary> rows;
};

TEST(Boundaries, WorkedTables) {
    const TableCase cases[] = {
        {"empty", {}, {}, {}},
        {"one record of class 0", {4.0}, {0}, {{4.0, 0, 0}, {4.0, 1, 0}}},
        {"one record of class 1", {4.0}, {1}, {{4.0, 0, 0}, {4.0, 0, 1}}},
        {"all values equal", {2, 2, 2, 2}, {0, 1, 0, 1}, {{2, 0, 0}, {2, 2, 2}}},
        {"all labels equal", {1, 2, 3, 4}, {1, 1, 1, 1}, {{1, 0, 0}, {4, 0, 4}}},
        {"alternating", {1, 2, 3}, {0, 1, 0}, {{1, 0, 0}, {1.5, 1, 0}, {2.5, 1, 1}, {3, 2, 1}}},
        {"value change without label change", {1, 1, 2}, {0, 1, 1}, {{1, 0, 0}, {2, 1, 2}}},
        {"order inside a run of equal values", {1, 1, 2}, {1, 0, 1},
         {{1, 0, 0}, {1.5, 1, 1}, {2, 1, 2}}},
        {"labels 1 and 2 differ but both count as class 1", {1, 2, 3}, {1, 2, 0},
         {{1, 0, 0}, {1.5, 0, 1}, {2.5, 0, 2}, {3, 1, 2}}},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.name);
        expect_rows(table_of(c.x, c.y), c.rows);
    }
}

TEST(Boundaries, AlternatingLabelsGiveEveryCut) {
    std::vector<double> x;
    std::vector<int32_t> y;
    for (int i = 0; i < 9; ++i) {
        x.push_back(i);
        y.push_back(i % 2);
    }
    const auto B = table_of(x, y);
    ASSERT_EQ(B.size(), x.size() + 1);
    for (std::size_t i = 0; i < B.size(); ++i) EXPECT_EQ(B[i].c0 + B[i].c1, int64_t(i));
}

TEST(Boundaries, InvariantsOnRandomSortedData) {
    std::mt19937_64 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        const std::size_t n = 1 + rng() % 80;
        std::vector<double> x(n);
        std::vector<int32_t> y(n);
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = static_cast<double>(rng() % 20) * 0.25;
            y[i] = static_cast<int32_t>(rng() % 2);
        }
        std::sort(x.begin(), x.end());
        const auto B = table_of(x, y);
        int64_t ones = 0;
        for (int32_t v : y) ones += v;
        ASSERT_GE(B.size(), 2u);
        ASSERT_LE(B.size(), n + 1);
        EXPECT_EQ(B.front().pto_corte, x.front());
        EXPECT_EQ(B.back().pto_corte, x.back());
        EXPECT_EQ(B.back().c0, int64_t(n) - ones);
        EXPECT_EQ(B.back().c1, ones);
        for (std::size_t r = 1; r < B.size(); ++r) {
            EXPECT_GT(B[r].c0 + B[r].c1, B[r - 1].c0 + B[r - 1].c1);
            EXPECT_GE(B[r].c0, B[r - 1].c0);
            EXPECT_GE(B[r].c1, B[r - 1].c1);
            EXPECT_GE(B[r].pto_corte, B[r - 1].pto_corte);
        }
        // Every inner cut separates the two records it stands between.
        for (std::size_t r = 1; r + 1 < B.size(); ++r) {
            const std::size_t i = static_cast<std::size_t>(B[r].c0 + B[r].c1);
            EXPECT_LE(x[i - 1], B[r].pto_corte);
            EXPECT_LT(B[r].pto_corte, x[i]);
        }
    }
}

// The cut of the single inner row of a two-record table with distinct labels.
double cut_of(double lower, double upper) {
    const auto B = table_of({lower, upper}, {0, 1});
    EXPECT_EQ(B.size(), 3u);
    return B.size() == 3 ? B[1].pto_corte : kNaN;
}

TEST(BoundaryCut, OrdinaryPairsGiveExactlyTheMidpoint) {
    const std::pair<double, double> pairs[] = {
        {1.0, 2.0}, {-3.0, 5.0}, {0.1, 0.2}, {-7.25, -7.0}, {1e-300, 3e-300},
        {0.0, 1e-10}, {-1e308, 1e308}, {123456.789, 123456.790},
    };
    for (const auto& [lo, hi] : pairs) {
        EXPECT_EQ(cut_of(lo, hi), (lo + hi) * 0.5) << lo << " " << hi;
    }
}

TEST(BoundaryCut, AdjacentDoublesStaySeparated) {
    const double lows[] = {1.0, 0.1, -1.0, 1e300, -1e-300, 0.0, DBL_MIN, 3.0e15,
                           std::nextafter(0.0, 1.0), 4503599627370497.0};
    for (double lo : lows) {
        const double hi = std::nextafter(lo, kInf);
        const double cut = cut_of(lo, hi);
        EXPECT_LE(lo, cut) << lo;
        EXPECT_LT(cut, hi) << lo;
        // The plain midpoint is kept whenever it already separates the pair.
        const double mid = (lo + hi) * 0.5;
        if (mid < hi) {
            EXPECT_EQ(cut, mid) << lo;
        } else {
            EXPECT_EQ(cut, lo) << lo;
        }
    }
    // A midpoint that rounds up onto the upper value: the sum of two adjacent
    // doubles whose lower one has an odd last bit rounds up to even.
    const double lo = std::nextafter(1.0, 2.0);
    const double hi = std::nextafter(lo, 2.0);
    EXPECT_EQ((lo + hi) * 0.5, hi);
    EXPECT_EQ(cut_of(lo, hi), lo);
}

TEST(BoundaryCut, LargeValuesDoNotOverflow) {
    const double below_max = std::nextafter(DBL_MAX, 0.0);
    EXPECT_EQ(cut_of(DBL_MAX * 0.5, DBL_MAX), DBL_MAX * 0.25 + DBL_MAX * 0.5);
    EXPECT_EQ(cut_of(-DBL_MAX, -DBL_MAX * 0.75), -DBL_MAX * 0.5 + -DBL_MAX * 0.375);
    const std::pair<double, double> extremes[] = {
        {below_max, DBL_MAX}, {-DBL_MAX, -below_max}, {DBL_MAX * 0.5, DBL_MAX},
        {1e308, 1.5e308}, {-1.7e308, -1.6e308},
    };
    for (const auto& [lo, hi] : extremes) {
        const double cut = cut_of(lo, hi);
        EXPECT_TRUE(std::isfinite(cut)) << lo << " " << hi;
        EXPECT_LE(lo, cut) << lo << " " << hi;
        EXPECT_LT(cut, hi) << lo << " " << hi;
    }
}

TEST(BoundaryCut, PairsThatAreNotAscendingKeepThePlainMidpoint) {
    // Only the unchecked sorted path can hand these in.
    EXPECT_EQ(cut_of(3.0, 1.0), 2.0);
    EXPECT_EQ(cut_of(DBL_MAX, DBL_MAX * 0.75), kInf);
    EXPECT_TRUE(std::isnan(cut_of(kNaN, 1.0)));
}

TEST(BoundaryCut, InfiniteNeighboursStillSeparate) {
    // Unchecked sorted input may hold infinities; the cut stays below the upper value.
    EXPECT_EQ(cut_of(1.0, kInf), 1.0);
    EXPECT_EQ(cut_of(-kInf, 1.0), -kInf);
}

TEST(BoundariesFromRaw, PreparesThenTabulates) {
    // Preprocessing reorders the run of equal values to labels 0, 1, 1.
    const std::vector<double> x{1, 1, 2};
    const std::vector<double> y{1, 0, 1};
    expect_rows(compute_boundaries_from_raw(x.data(), y.data(), 3, std::nullopt, 50.0),
                {{1, 0, 0}, {2, 1, 2}});

    const std::vector<double> x2{3, kNaN, 1, 2, kInf};
    const std::vector<double> y2{0.2, 1.0, 0.9, 0.1, 1.0};
    expect_rows(compute_boundaries_from_raw(x2.data(), y2.data(), 5, 0.5, 50.0),
                {{1, 0, 0}, {1.5, 0, 1}, {3, 2, 1}});

    EXPECT_TRUE(compute_boundaries_from_raw(nullptr, nullptr, 0, std::nullopt, 50.0).empty());
}

TEST(BoundariesFromRaw, PreprocessingErrorsPropagate) {
    const std::vector<double> x{1, 2, 3};
    const std::vector<double> y{0.5, 2.0, 7.0};
    try {
        compute_boundaries_from_raw(x.data(), y.data(), 3, std::nullopt, 101.0);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "preprocess_data: percentile debe estar entre 0 y 100");
    }
}

}  // namespace
