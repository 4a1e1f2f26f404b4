#include "reference.hpp"

namespace {

using namespace ref;

DistributionComparison psi(const Values& r, const Values& c, const Values& splits,
                           double eps = 1e-12) {
    return compare_distributions(r.data(), r.size(), c.data(), c.size(), splits, eps);
}
LorenzCurve curve(const Values& x, const std::vector<int>& y) {
    return lorenz_curve(x.data(), y.data(), x.size());
}
Values members(const Values& x, const Values& reps) {
    return membership_matrix(x.data(), x.size(), reps.data(), reps.size());
}

TEST(CompareDistributions, WorkedExampleInvalidArgumentsAndPlainComputation) {
    const DistributionComparison r = psi({1, 2, 3, 4}, {1, 1, 1, 4}, {2.5});
    const double psi0 = -0.25 * std::log(0.5 / 0.75), psi1 = 0.25 * std::log(0.5 / 0.25);
    EXPECT_EQ(digest(r), digest(DistributionComparison{{{2, 3, 0.5, 0.75, 0.5, 0.75, psi0},
                                                        {2, 1, 0.5, 0.25, 1.0, 1.0, psi1}},
                                                       psi0 + psi1,
                                                       0.25}));
    EXPECT_EQ(r.psi, 0.27465307216702745);
    // Invalid arguments, in the order they are checked.
    const std::string bad_input = "compare_distributions: muestras vacías o epsilon inválido";
    const Values s = {1, 2};
    // The sample check runs first.
    for (const Values& r : {Values{}, s})
        EXPECT_EQ(message_of([&] { psi(r, r == s ? Values{} : s, {2, 1}); }), bad_input);
    for (double eps : {0.0, -0.0, -1e-12, kNaN, kInf, -kInf})
        EXPECT_EQ(message_of([&] { psi(s, s, {}, eps); }), bad_input);
    for (const Values& splits :
         std::vector<Values>{{kNaN}, {1, kInf}, {-kInf, 1}, {1, 1}, {2, 1}, {0, 1, kNaN}}) {
        EXPECT_EQ(message_of([&] { psi(s, s, splits); }),
                  "compare_distributions: splits deben ser finitos, crecientes y únicos");
    }
    // Special values, values on the cuts, NaN in either sample, bins empty in one
    // or both samples, and a floor that matters.
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<int> grid(-30, 30);
    const Values special = {-kInf, kInf, -0.0, 0.0};
    for (std::size_t k = 0; k <= 37; ++k) {
        Values splits, r, c;
        for (std::size_t i = 0; i < k; ++i) splits.push_back(double(i) - 15.0);
        for (int i = 0; i < 400; ++i) r.push_back(i < 4 ? special[i] : grid(rng) * 0.5);
        for (int i = 0; i < 300; ++i) c.push_back(grid(rng) * (k % 4 == 0 ? 0.25 : 0.5));
        if (k % 2 == 0) r[5] = kNaN;
        if (k % 3 == 0) c[0] = kNaN;
        for (double eps : {1e-12, 0.01})
            EXPECT_EQ(digest(psi(r, c, splits, eps)), digest(compare(r, c, splits, eps))) << k;
    }
}

TEST(LorenzCurve, WorkedExampleInvalidInputPlainComputationAndColumns) {
    EXPECT_EQ(digest(curve({1, 2, 3, 4}, {0, 1, 0, 1})),
              digest(LorenzCurve{{{1, 0.5, 0}, {2, 0.5, 0.5}, {3, 1, 0.5}, {4, 1, 1}}, 0.75, 0.5}));
    // A NaN score's label is dropped with it, even one that is not 0 or 1.
    EXPECT_EQ(curve({kNaN, 1, 2}, {5, 0, 1}).auc, 1.0);
    const std::string bad_label = "lorenz_curve: y debe contener solo 0 y 1",
                      one = "lorenz_curve: se necesitan ambas clases";
    const std::tuple<std::vector<int>, Values, std::string> cases[] = {
        {{0, -1}, {1, 2}, bad_label},
        {{2, 1}, {1, 2}, bad_label},
        {{1, 7}, {1, 2}, bad_label},  // labels first
        {{}, {}, one},
        {{1, 1}, {1, 2}, one},
        {{1, 0}, {1, kNaN}, one},
        {{0, 1}, {kNaN, kNaN}, one}};
    for (const auto& [y, x, message] : cases)
        EXPECT_EQ(message_of([x = x, y = y] { curve(x, y); }), message);
    // Short inputs take the comparison sort, long ones the radix passes; the
    // column writer gives the same points, written only as far as they go.
    std::mt19937_64 rng(5);
    for (std::size_t n : {3u, 40u, 300u, 5000u, 20000u}) {
        Values x(n);
        std::vector<int> y(n);
        for (std::size_t i = 0; i < n; ++i) {
            const int v = int(rng() % 300);
            x[i] = i % 97 == 5 ? kNaN
                   : v == 0    ? -0.0
                   : v == 1    ? 0.0
                   : v == 2    ? kInf
                   : v == 3    ? -kInf
                               : (v - 150) * 0.125;
            y[i] = int(i != 1 && (rng() % 4 == 0 || i == 0));  // both classes
        }
        const LorenzCurve want = lorenz(x, y);
        EXPECT_EQ(digest(curve(x, y)), digest(want)) << n;
        // The area is the share of (event, non-event) pairs in order, a tie counting a half.
        double pairs = 0.0, c0 = 0.0, c1 = 0.0;
        for (const TieGroup& g : tie_groups(x, y))
            pairs += g.ones * (c0 + g.zeros * 0.5), c0 += g.zeros, c1 += g.ones;
        EXPECT_NEAR(want.auc, pairs / (c0 * c1), 1e-12);
        Values value(n + 1, -7.0), f0(n + 1, -7.0), f1(n + 1, -7.0);  // -7: not a point's value
        const auto got =
            lorenz_curve_into(x.data(), y.data(), n, {value.data(), f0.data(), f1.data()});
        LorenzCurve columns{{}, got.auc, got.gini};
        for (std::size_t i = 0; i < got.points; ++i)
            columns.points.push_back({value[i], f0[i], f1[i]});
        EXPECT_EQ(digest(columns), digest(want));
        EXPECT_EQ(value[got.points], -7.0);
    }
}

TEST(Membership, WorkedExamplesErrorsAndPlainComputation) {
    const Values m = members({-5, 0, 2.5, 10, 12, kNaN}, {0, 10});
    EXPECT_EQ(m, (Values{1, 0, 0, 1, 0, 0, 0.75, 0.25, 0, 0, 1, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_TRUE(members({1}, {kNaN}) == (Values{1, 0}) && members({1}, {kInf}) == (Values{1, 0}) &&
                members({}, {1, 2}).empty());
    const double vals[] = {8, 4, -3}, one_two_three[] = {1, 2, 3}, same[] = {5, 5, 5};
    EXPECT_EQ(aggregate_membership(m.data(), 6, 3, vals, false), (Values{8, 8, 7, 4, 4, -3}));
    const double identity[] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    EXPECT_EQ(aggregate_membership(identity, 3, 3, one_two_three, true), (Values{-1, 0, 1}));
    EXPECT_EQ(aggregate_membership(identity, 3, 3, same, true), (Values{5, 5, 5}));
    // A single row is never standardised; NaN aggregates leave all unchanged.
    EXPECT_EQ(aggregate_membership(identity, 1, 3, one_two_three, true), (Values{1}));
    const double nan_row[] = {1, 0, 0, kNaN, 0, 0, 0, 0, 1};
    EXPECT_EQ(digest(aggregate_membership(nan_row, 3, 3, one_two_three, true)),
              digest(Values{1, kNaN, 3}));
    EXPECT_TRUE(aggregate_membership(nullptr, 0, 1, one_two_three, true).empty());
    const std::string order = "membership: representantes deben ser crecientes y únicos";
    const std::string finite = "membership: representantes deben ser finitos";
    const std::pair<Values, std::string> bad[] = {{{}, "membership: faltan representantes"},
                                                  {{1, 1}, order},
                                                  {{2, 1}, order},
                                                  {{0, kNaN}, order},
                                                  {{0, kInf}, finite},
                                                  {{-kInf, 0}, finite}};
    for (const auto& [reps, message] : bad)
        EXPECT_EQ(message_of([reps = reps] { members({1}, reps); }), message);
    EXPECT_EQ(message_of([] { aggregate_membership(nullptr, 3, 0, nullptr, false); }),
              "aggregate_membership: k debe ser positivo");
    std::mt19937_64 rng(3);
    for (std::size_t k = 1; k <= 12; ++k) {
        Values reps;
        for (std::size_t j = 0; j < k; ++j)
            reps.push_back((reps.empty() ? -4.0 : reps.back()) + double(1 + rng() % 8) * 0.375);
        const Values x = messy_sample(rng, 600, 30);
        const Values m = members(x, reps);
        EXPECT_EQ(digest(m), digest(membership(x, reps))) << k;
        // Rows sum to one, and aggregating them interpolates linearly between the
        // representatives (flat outside them); a NaN takes the last value.
        Values vals(k + 1);
        for (double& v : vals) v = double(rng() % 100) * 0.1 - 5.0;
        const Values agg = aggregate_membership(m.data(), x.size(), k + 1, vals.data(), false);
        for (std::size_t i = 0, j = 1; i < x.size(); ++i, j = 1) {
            EXPECT_NEAR(std::accumulate(&m[i * (k + 1)], &m[i * (k + 1)] + k + 1, 0.0), 1.0, 1e-12);
            while (j + 1 < k && reps[j] < x[i]) ++j;
            const double t =
                k == 1 ? 0.0 : std::clamp((x[i] - reps[j - 1]) / (reps[j] - reps[j - 1]), 0.0, 1.0);
            EXPECT_NEAR(agg[i],
                        std::isnan(x[i]) ? vals[k]
                        : k == 1         ? vals[0]
                                         : vals[j - 1] + t * (vals[j] - vals[j - 1]),
                        1e-12);
        }
    }
}

}  // namespace
