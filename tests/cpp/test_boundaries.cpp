#include <cfloat>

#include "reference.hpp"

namespace {

using namespace ref;

std::vector<Boundary> table_of(const Values& x, const std::vector<int32_t>& y) {
    return compute_boundaries(SortedView{x.data(), y.data(), x.size()});
}

// Whole tables are checked against the plain one beside the split search.
// The cut of the single inner row of a two-record table with distinct labels.
double cut_of(double lower, double upper) {
    const auto B = table_of({lower, upper}, {0, 1});
    EXPECT_EQ(B.size(), 3u);
    return B.size() == 3 ? B[1].pto_corte : kNaN;
}

TEST(BoundaryCut, MidpointUnlessItFailsToSeparate) {
    // The sum of two adjacent doubles whose lower one has an odd last bit
    // rounds up to even: their midpoint lands on the upper value.
    const double odd = std::nextafter(1.0, 2.0), below_max = std::nextafter(DBL_MAX, 0.0);
    ASSERT_EQ((odd + std::nextafter(odd, 2.0)) * 0.5, std::nextafter(odd, 2.0));
    std::vector<std::pair<double, double>> pairs = {{1.0, 2.0}, {-3.0, 5.0}, {0.1, 0.2}, {-7.25, -7.0}, {1e-300, 3e-300},
                                                    {0.0, 1e-10}, {-1e308, 1e308}, {123456.789, 123456.790}};
    for (double v : {odd, 1.0, 0.1, -1.0, 1e300, -1e-300, 0.0, DBL_MIN, 3.0e15, DBL_TRUE_MIN, 4503599627370497.0}) {
        pairs.emplace_back(v, std::nextafter(v, kInf));
    }
    // A finite plain midpoint is the cut when it lies below the upper value;
    // otherwise the lower value is.
    for (const auto& [lo, hi] : pairs) EXPECT_EQ(cut_of(lo, hi), (lo + hi) * 0.5 < hi ? (lo + hi) * 0.5 : lo) << lo;
    const double exact[][3] = {
        // Large values do not overflow.
        {DBL_MAX * 0.5, DBL_MAX, DBL_MAX * 0.25 + DBL_MAX * 0.5}, {-DBL_MAX, -DBL_MAX * 0.75, -DBL_MAX * 0.5 + -DBL_MAX * 0.375},
        // Only the unchecked sorted path hands these in: pairs that are not
        // ascending keep the plain midpoint, infinities stay below the upper value.
        {3.0, 1.0, 2.0}, {DBL_MAX, DBL_MAX * 0.75, kInf}, {kNaN, 1.0, kNaN}, {1.0, kInf, 1.0}, {-kInf, 1.0, -kInf}};
    for (const auto& c : exact) EXPECT_EQ(digest(cut_of(c[0], c[1])), digest(c[2])) << c[0] << " " << c[1];
    for (const auto& [lo, hi] : {std::pair<double, double>{below_max, DBL_MAX}, {-DBL_MAX, -below_max}, {1e308, 1.5e308}, {-1.7e308, -1.6e308}}) {
        const double cut = cut_of(lo, hi);
        EXPECT_TRUE(std::isfinite(cut) && lo <= cut && cut < hi) << lo << " " << hi;
    }
}

// Tables from raw data are the tables of the prepared records (checked beside
// the raw split search); nothing to prepare gives none, a bad percentile fails.
TEST(BoundariesFromRaw, EmptyAndFailing) {
    EXPECT_TRUE(compute_boundaries_from_raw(nullptr, nullptr, 0, std::nullopt, 50.0).empty());
    const Values x{3, kNaN, 1}, y{0.5, 2.0, 7.0};
    EXPECT_EQ(message_of([&] { compute_boundaries_from_raw(x.data(), y.data(), 3, std::nullopt, 101.0); }),
              "preprocess_data: percentile debe estar entre 0 y 100");
}

}  // namespace
