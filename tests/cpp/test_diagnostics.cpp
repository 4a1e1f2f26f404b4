#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

using tessaline::DistributionComparison;
using tessaline::LorenzCurve;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <typename Fn>
std::string message_of(Fn&& fn) {
    try {
        fn();
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "<no std::invalid_argument>";
}

// ------------------------------------------------------------ distributions

DistributionComparison compare(const std::vector<double>& ref, const std::vector<double>& cur,
                               const std::vector<double>& splits, double epsilon = 1e-12) {
    return tessaline::compare_distributions(ref.data(), ref.size(), cur.data(), cur.size(),
                                            splits, epsilon);
}

TEST(CompareDistributions, TwoBinWorkedExample) {
    const auto r = compare({1, 2, 3, 4}, {1, 1, 1, 4}, {2.5});
    ASSERT_EQ(r.bins.size(), 2u);
    EXPECT_EQ(r.bins[0].count_reference, 2);
    EXPECT_EQ(r.bins[0].count_current, 3);
    EXPECT_EQ(r.bins[1].count_reference, 2);
    EXPECT_EQ(r.bins[1].count_current, 1);
    EXPECT_EQ(r.bins[0].proportion_reference, 0.5);
    EXPECT_EQ(r.bins[0].proportion_current, 0.75);
    EXPECT_EQ(r.bins[1].proportion_current, 0.25);
    EXPECT_EQ(r.bins[0].cumulative_current, 0.75);
    EXPECT_EQ(r.bins[1].cumulative_reference, 1.0);
    EXPECT_NEAR(r.bins[0].psi_bin, 0.101366, 1e-6);
    EXPECT_NEAR(r.bins[1].psi_bin, 0.173287, 1e-6);
    EXPECT_EQ(r.bins[0].psi_bin, -0.25 * std::log(0.5 / 0.75));
    EXPECT_NEAR(r.psi, 0.274653, 1e-6);
    EXPECT_EQ(r.ks, 0.25);
}

TEST(CompareDistributions, EmptyBinUsesTheFloorInsideTheLogarithm) {
    // Reference has half its values below the cut, current none.
    const auto r = compare({1, 3}, {3, 3}, {2});
    EXPECT_EQ(r.bins[0].count_current, 0);
    EXPECT_NEAR(r.bins[0].psi_bin, 13.469, 1e-3);
    EXPECT_EQ(r.bins[0].psi_bin, 0.5 * std::log(0.5 / 1e-12));
    EXPECT_TRUE(std::isfinite(r.psi));
}

TEST(CompareDistributions, BinOfSpecialValues) {
    struct Case {
        double v;
        std::size_t bin;
    };
    const std::vector<double> splits = {1, 2, 3};
    const Case cases[] = {{-kInf, 0}, {0.5, 0}, {1.0, 0}, {1.5, 1}, {2.0, 1},
                          {3.0, 2},   {3.01, 3}, {kInf, 3}, {-0.0, 0}, {kNaN, 4}};
    for (const Case& c : cases) {
        const auto r = compare({c.v}, {2.5}, splits);
        const bool nan = std::isnan(c.v);
        ASSERT_EQ(r.bins.size(), nan ? 5u : 4u) << c.v;
        EXPECT_EQ(r.bins[c.bin].count_reference, 1) << c.v;
    }
}

TEST(CompareDistributions, NanInOneSampleAddsTheRowForBoth) {
    const auto r = compare({1, kNaN}, {1, 2}, {1.5});
    ASSERT_EQ(r.bins.size(), 3u);
    EXPECT_EQ(r.bins[2].count_reference, 1);
    EXPECT_EQ(r.bins[2].count_current, 0);
    EXPECT_EQ(r.bins[2].proportion_reference, 0.5);
    EXPECT_EQ(r.bins[2].cumulative_reference, 1.0);
    EXPECT_EQ(r.bins[2].cumulative_current, 1.0);
    EXPECT_EQ(r.ks, 0.5);
}

TEST(CompareDistributions, IdenticalSamplesAndBinsEmptyInBoth) {
    const std::vector<double> s = {0.1, 0.2, 5, 7, 7, 9};
    const auto r = compare(s, s, {0, 1, 2, 3, 8});
    for (const auto& b : r.bins) EXPECT_EQ(b.psi_bin, 0.0);
    EXPECT_EQ(r.bins[0].count_reference, 0);  // empty in both samples
    EXPECT_EQ(r.psi, 0.0);
    EXPECT_EQ(r.ks, 0.0);
    // Without cut points every non-NaN value shares one row.
    const auto one = compare({-kInf, 1, kInf}, {5}, {});
    ASSERT_EQ(one.bins.size(), 1u);
    EXPECT_EQ(one.bins[0].count_reference, 3);
    EXPECT_EQ(one.psi, 0.0);
}

TEST(CompareDistributions, InvalidArgumentsAreRejected) {
    const std::string bad_input = "compare_distributions: muestras vacías o epsilon inválido";
    const std::string bad_splits =
        "compare_distributions: splits deben ser finitos, crecientes y únicos";
    const std::vector<double> s = {1, 2};
    EXPECT_EQ(message_of([&] { compare({}, s, {}); }), bad_input);
    EXPECT_EQ(message_of([&] { compare(s, {}, {}); }), bad_input);
    for (double eps : {0.0, -0.0, -1e-12, kNaN, kInf, -kInf}) {
        EXPECT_EQ(message_of([&] { compare(s, s, {}, eps); }), bad_input) << eps;
    }
    for (const std::vector<double>& splits : std::vector<std::vector<double>>{
             {kNaN}, {1, kInf}, {-kInf, 1}, {1, 1}, {2, 1}, {0, 1, kNaN}}) {
        EXPECT_EQ(message_of([&] { compare(s, s, splits); }), bad_splits);
    }
    // The sample check runs first.
    EXPECT_EQ(message_of([&] { compare({}, s, {2, 1}); }), bad_input);
}

TEST(CompareDistributions, CountsMatchAPlainLowerBound) {
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<int> grid(-30, 30);
    for (std::size_t k = 0; k <= 37; ++k) {
        std::vector<double> splits;
        for (std::size_t i = 0; i < k; ++i) splits.push_back(static_cast<double>(i) - 15.0);
        std::vector<double> ref, cur;
        for (int i = 0; i < 400; ++i) ref.push_back(grid(rng) * 0.5);
        for (int i = 0; i < 300; ++i) cur.push_back(grid(rng) * 0.5);
        ref[0] = kNaN;
        const auto r = compare(ref, cur, splits);
        std::vector<int64_t> want_ref(k + 2, 0), want_cur(k + 2, 0);
        auto bin = [&](double v) {
            if (std::isnan(v)) return k + 1;
            return static_cast<std::size_t>(std::lower_bound(splits.begin(), splits.end(), v) -
                                            splits.begin());
        };
        for (double v : ref) ++want_ref[bin(v)];
        for (double v : cur) ++want_cur[bin(v)];
        ASSERT_EQ(r.bins.size(), k + 2);
        double psi = 0.0;
        for (std::size_t b = 0; b < k + 2; ++b) {
            EXPECT_EQ(r.bins[b].count_reference, want_ref[b]) << "k=" << k << " b=" << b;
            EXPECT_EQ(r.bins[b].count_current, want_cur[b]) << "k=" << k << " b=" << b;
            psi += r.bins[b].psi_bin;
        }
        EXPECT_EQ(psi, r.psi);
        EXPECT_NEAR(r.bins.back().cumulative_reference, 1.0, 1e-12);
        EXPECT_NEAR(r.bins.back().cumulative_current, 1.0, 1e-12);
    }
}

// ------------------------------------------------------------------ lorenz

LorenzCurve lorenz(const std::vector<double>& x, const std::vector<int>& y) {
    return tessaline::lorenz_curve(x.data(), y.data(), x.size());
}

TEST(LorenzCurve, WorkedExample) {
    const auto c = lorenz({1, 2, 3, 4}, {0, 1, 0, 1});
    const double want[4][3] = {{1, 0.5, 0}, {2, 0.5, 0.5}, {3, 1, 0.5}, {4, 1, 1}};
    ASSERT_EQ(c.points.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(c.points[i].value, want[i][0]);
        EXPECT_EQ(c.points[i].cumulative_non_event, want[i][1]);
        EXPECT_EQ(c.points[i].cumulative_event, want[i][2]);
    }
    EXPECT_EQ(c.auc, 0.75);
    EXPECT_EQ(c.gini, 0.5);
}

TEST(LorenzCurve, PerfectReversedAndConstantScores) {
    struct Case {
        std::vector<double> x;
        double auc;
        double gini;
    };
    const std::vector<int> y = {0, 0, 1, 1};
    const Case cases[] = {{{1, 2, 3, 4}, 1.0, 1.0}, {{4, 3, 2, 1}, 0.0, -1.0},
                          {{7, 7, 7, 7}, 0.5, 0.0}};
    for (const Case& c : cases) {
        const auto r = lorenz(c.x, y);
        EXPECT_EQ(r.auc, c.auc);
        EXPECT_EQ(r.gini, c.gini);
        EXPECT_EQ(r.points.back().cumulative_non_event, 1.0);
        EXPECT_EQ(r.points.back().cumulative_event, 1.0);
    }
    EXPECT_EQ(lorenz({7, 7, 7, 7}, y).points.size(), 1u);
}

TEST(LorenzCurve, NanScoresAreDroppedAndInfinitiesKept) {
    const auto c = lorenz({kNaN, kInf, 0.5, -kInf, 0.5}, {5, 1, 0, 0, 1});
    ASSERT_EQ(c.points.size(), 3u);
    EXPECT_EQ(c.points[0].value, -kInf);
    EXPECT_EQ(c.points[1].value, 0.5);
    EXPECT_EQ(c.points[2].value, kInf);
    EXPECT_EQ(c.points[0].cumulative_non_event, 0.5);
}

TEST(LorenzCurve, SignedZerosAreOneScoreCarryingTheFirstSeen) {
    const auto c = lorenz({0.0, -0.0, 1.0}, {1, 0, 0});
    ASSERT_EQ(c.points.size(), 2u);
    EXPECT_FALSE(std::signbit(c.points[0].value));
    EXPECT_EQ(c.points[0].cumulative_non_event, 0.5);
    EXPECT_EQ(c.points[0].cumulative_event, 1.0);
    EXPECT_TRUE(std::signbit(lorenz({-0.0, 0.0, 1.0}, {1, 0, 0}).points[0].value));
}

TEST(LorenzCurve, InvalidInputIsRejected) {
    const std::string bad_label = "lorenz_curve: y debe contener solo 0 y 1";
    const std::string one_class = "lorenz_curve: se necesitan ambas clases";
    EXPECT_EQ(message_of([] { lorenz({1, 2}, {0, -1}); }), bad_label);
    EXPECT_EQ(message_of([] { lorenz({1, 2}, {2, 1}); }), bad_label);
    // The label check fires while collecting, before the class check.
    EXPECT_EQ(message_of([] { lorenz({1, 2}, {1, 7}); }), bad_label);
    EXPECT_EQ(message_of([] { lorenz({}, {}); }), one_class);
    EXPECT_EQ(message_of([] { lorenz({1, 2}, {1, 1}); }), one_class);
    EXPECT_EQ(message_of([] { lorenz({1, kNaN}, {1, 0}); }), one_class);
    EXPECT_EQ(message_of([] { lorenz({kNaN, kNaN}, {0, 1}); }), one_class);
}

// The column writer gives the points of the record-per-point curve, written
// only as far as the points go.
TEST(LorenzCurve, ColumnsHoldTheSamePoints) {
    std::mt19937_64 rng(11);
    std::vector<double> x(5000);
    std::vector<int> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = i % 97 == 0 ? kNaN : static_cast<double>(rng() % 700) - 350.0;
        y[i] = static_cast<int>(rng() % 3 == 0);
    }
    const LorenzCurve want = tessaline::lorenz_curve(x.data(), y.data(), x.size());
    const double untouched = -7.0;
    std::vector<double> value(x.size(), untouched), f0(x.size(), untouched),
        f1(x.size(), untouched);
    const auto got = tessaline::lorenz_curve_into(x.data(), y.data(), x.size(),
                                                  {value.data(), f0.data(), f1.data()});
    ASSERT_EQ(got.points, want.points.size());
    EXPECT_EQ(got.auc, want.auc);
    EXPECT_EQ(got.gini, want.gini);
    for (std::size_t i = 0; i < got.points; ++i) {
        EXPECT_EQ(value[i], want.points[i].value);
        EXPECT_EQ(f0[i], want.points[i].cumulative_non_event);
        EXPECT_EQ(f1[i], want.points[i].cumulative_event);
    }
    EXPECT_EQ(value[got.points], untouched);
}

// -------------------------------------------------------------- membership

std::vector<double> membership(const std::vector<double>& x, const std::vector<double>& reps) {
    return tessaline::membership_matrix(x.data(), x.size(), reps.data(), reps.size());
}

TEST(Membership, WorkedExampleRows) {
    const auto m = membership({-5, 0, 2.5, 10, 12, kNaN}, {0, 10});
    const std::vector<double> want = {1, 0, 0, 1, 0, 0, 0.75, 0.25, 0,
                                      0, 1, 0, 0, 1, 0, 0,    0,    1};
    EXPECT_EQ(m, want);
    EXPECT_EQ(membership({10}, {0, 10, 20}), (std::vector<double>{0, 1, 0, 0}));
    EXPECT_EQ(membership({-kInf, 3, kInf, kNaN}, {5}),
              (std::vector<double>{1, 0, 1, 0, 1, 0, 0, 1}));
    EXPECT_EQ(membership({kInf, -kInf}, {0, 1, 2}), (std::vector<double>{0, 0, 1, 0, 1, 0, 0, 0}));
    EXPECT_TRUE(membership({}, {1, 2}).empty());
}

TEST(Membership, InvalidRepresentatives) {
    const std::string order = "membership: representantes deben ser crecientes y únicos";
    EXPECT_EQ(message_of([] { membership({1}, {}); }), "membership: faltan representantes");
    EXPECT_EQ(message_of([] { membership({1}, {1, 1}); }), order);
    EXPECT_EQ(message_of([] { membership({1}, {2, 1}); }), order);
    EXPECT_EQ(message_of([] { membership({1}, {0, kNaN}); }), order);
    EXPECT_EQ(membership({1}, {kNaN}), (std::vector<double>{1, 0}));
}

TEST(AggregateMembership, WorkedExampleAndStandardisation) {
    const auto m = membership({-5, 0, 2.5, 10, 12, kNaN}, {0, 10});
    const double vals[] = {8, 4, -3};
    EXPECT_EQ(tessaline::aggregate_membership(m.data(), 6, 3, vals, false),
              (std::vector<double>{8, 8, 7, 4, 4, -3}));

    const double identity[] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const double one_two_three[] = {1, 2, 3};
    EXPECT_EQ(tessaline::aggregate_membership(identity, 3, 3, one_two_three, true),
              (std::vector<double>{-1, 0, 1}));
    const double same[] = {5, 5, 5};
    EXPECT_EQ(tessaline::aggregate_membership(identity, 3, 3, same, true),
              (std::vector<double>{5, 5, 5}));
    // A single row is never standardised; NaN aggregates leave all unchanged.
    EXPECT_EQ(tessaline::aggregate_membership(identity, 1, 3, one_two_three, true),
              (std::vector<double>{1}));
    const double nan_row[] = {1, 0, 0, kNaN, 0, 0, 0, 0, 1};
    const auto s = tessaline::aggregate_membership(nan_row, 3, 3, one_two_three, true);
    EXPECT_EQ(s[0], 1.0);
    EXPECT_TRUE(std::isnan(s[1]));
    EXPECT_EQ(s[2], 3.0);
}

TEST(AggregateMembership, ZeroColumnsAndZeroRows) {
    EXPECT_EQ(message_of([] { tessaline::aggregate_membership(nullptr, 3, 0, nullptr, false); }),
              "aggregate_membership: k debe ser positivo");
    const double v[] = {1.0};
    EXPECT_TRUE(tessaline::aggregate_membership(nullptr, 0, 1, v, true).empty());
}

}  // namespace
