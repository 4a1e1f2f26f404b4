#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace {

using namespace tessaline;
using Values = std::vector<double>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Same bits (so NaN equals NaN and -0.0 differs from 0.0).
bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expect_same_values(const Values& got, const Values& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(same_bits(got[i], want[i])) << "at " << i << ": " << got[i] << " vs " << want[i];
    }
}

void expect_message(const std::function<void()>& call, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "expected std::invalid_argument: " << message;
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

Values equal_width(const Values& x, std::size_t n_bins, WidthRange range = WidthRange::Full,
                   double lower = 0.0, double upper = 1.0, double k = 1.5) {
    return equal_width_splits(x.data(), x.size(), n_bins, range, lower, upper, k);
}

Values quantiles(const Values& x, std::size_t n_bins) {
    return quantile_splits(x.data(), x.size(), n_bins);
}

Values iota(double first, double last) {
    Values v;
    for (double t = first; t <= last; t += 1.0) v.push_back(t);
    return v;
}

// Seeded data with many ties, a few NaN and infinities.
Values messy_sample(std::mt19937_64& rng, std::size_t n, int distinct) {
    std::uniform_int_distribution<int> level(0, distinct - 1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Values x(n);
    for (double& v : x) {
        const double u = unit(rng);
        if (u < 0.03) v = kNaN;
        else if (u < 0.04) v = kInf;
        else if (u < 0.05) v = -kInf;
        else if (u < 0.5) v = level(rng) * 0.25 - 3.0;
        else v = unit(rng) * 10.0 - 5.0;
    }
    return x;
}

// ------------------------------------------------------------ cut points

TEST(BinningSplits, WorkedExamples) {
    expect_same_values(equal_width({0, 10}, 4), {2.5, 5.0, 7.5});
    expect_same_values(equal_width(iota(0, 100), 3, WidthRange::Quantile, 0.05, 0.95),
                       {35.0, 65.0});
    Values skewed = iota(1, 9);
    skewed.push_back(100);
    expect_same_values(equal_width(skewed, 2, WidthRange::Iqr, 0, 1, 1.5), {7.75});
    expect_same_values(quantiles({1, 2, 3, 4, 5}, 4), {2.0, 3.0, 4.0});
    expect_same_values(quantiles({1, 1, 1, 1, 2}, 4), {1.0});
}

TEST(BinningSplits, FailureMessagesAndOrder) {
    const Values none = {kNaN, kInf};
    const std::string no_bins = "binning: n_bins debe ser al menos 1";
    const std::string no_finite = "binning: x no contiene valores finitos";
    // n_bins is tested before x, x before the range-specific checks.
    expect_message([&] { equal_width(none, 0); }, no_bins);
    expect_message([&] { quantiles(none, 0); }, no_bins);
    expect_message([&] { equal_width({}, 1); }, no_finite);
    expect_message([&] { quantiles({}, 1); }, no_finite);
    expect_message([&] { equal_width(none, 3, WidthRange::Quantile, 0.9, 0.1); }, no_finite);
    expect_message([&] { equal_width(none, 3, WidthRange::Iqr, 0, 1, -1); }, no_finite);
    const std::string bounds = "binning: lower_quantile debe ser menor que upper_quantile";
    const std::vector<std::pair<double, double>> bad_bounds = {
        {0.5, 0.5}, {0.6, 0.4}, {-0.1, 0.5}, {0.1, 1.1}, {kNaN, 0.5}, {0.1, kNaN}};
    for (const auto& limits : bad_bounds) {
        // Plain variables: a lambda may not capture structured bindings before C++20.
        const double lower = limits.first;
        const double upper = limits.second;
        expect_message([&] { equal_width({1, 2, 3}, 3, WidthRange::Quantile, lower, upper); },
                       bounds);
    }
    for (double k : {-0.5, kInf, kNaN}) {
        expect_message([&] { equal_width({1, 2, 3}, 3, WidthRange::Iqr, 0, 1, k); },
                       "binning: k debe ser finito y no negativo");
    }
    expect_message([] { linear_quantile({1.0, 2.0}, 1.5); },
                   "binning: los cuantiles deben estar entre 0 y 1");
}

TEST(BinningSplits, DegenerateRangesGiveNoCuts) {
    EXPECT_TRUE(equal_width({1, 5, 9}, 1).empty());
    EXPECT_TRUE(quantiles({1, 5, 9}, 1).empty());
    const Values flat = {kNaN, 4, kInf, 4, -kInf, 4};
    for (auto range : {WidthRange::Full, WidthRange::Quantile, WidthRange::Iqr}) {
        EXPECT_TRUE(equal_width(flat, 5, range).empty());
    }
    EXPECT_TRUE(quantiles(flat, 5).empty());
    EXPECT_TRUE(quantiles({7}, 5).empty());
    // The median equals the maximum and is dropped.
    EXPECT_TRUE(quantiles({1, 2, 2, 2, 2}, 2).empty());
    // Every candidate overflows.
    EXPECT_TRUE(equal_width({-1e308, 1e308}, 4).empty());
}

TEST(BinningSplits, RangesAgree) {
    const Values x = {3, -1, kNaN, 8, 2.5, 11, kInf, 0};
    expect_same_values(equal_width(x, 6, WidthRange::Quantile, 0.0, 1.0), equal_width(x, 6));
    // No spread between the quartiles: back to the full range.
    const Values tied = {0, 5, 5, 5, 5, 5, 5, 20};
    expect_same_values(equal_width(tied, 4, WidthRange::Iqr, 0, 1, 3.0), equal_width(tied, 4));
    // k = 0 with spread: exactly [q1, q3] = [3.25, 7.75].
    Values skewed = iota(1, 9);
    skewed.push_back(100);
    expect_same_values(equal_width(skewed, 2, WidthRange::Iqr, 0, 1, 0.0), {5.5});
}

TEST(BinningSplits, QuantileCutsMatchTheSortedDefinition) {
    std::mt19937_64 rng(20240611);
    for (std::size_t n : {1u, 2u, 3u, 17u, 100u, 1000u, 20000u}) {
        for (int distinct : {1, 3, 40}) {
            const Values x = messy_sample(rng, n, distinct);
            const bool any_finite = std::any_of(x.begin(), x.end(), is_finite);
            for (std::size_t n_bins : {1u, 2u, 4u, 10u, 100u, 1500u}) {
                if (!any_finite) {
                    EXPECT_THROW(quantiles(x, n_bins), std::invalid_argument);
                    continue;
                }
                // Reference: sort all finite values, then apply the collapsing rules.
                const Values s = sorted_finite_values(x.data(), x.size());
                Values want;
                for (std::size_t i = 1; i < n_bins && s.front() != s.back(); ++i) {
                    const double q = linear_quantile(s, double(i) / double(n_bins));
                    if (is_finite(q) && q >= s.front() && q < s.back() &&
                        (want.empty() || q > want.back())) {
                        want.push_back(q);
                    }
                }
                SCOPED_TRACE("n=" + std::to_string(n) + " bins=" + std::to_string(n_bins));
                expect_same_values(quantiles(x, n_bins), want);
            }
        }
    }
}

// Large inputs of several shapes: random, heavily tied, sorted either way,
// mostly missing, signed zeros, spread over hundreds of orders of magnitude,
// a tight cluster with a few far outliers, and the smallest subnormals.
std::vector<Values> large_samples() {
    std::mt19937_64 rng(555);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const std::size_t n = 120000;
    std::vector<Values> out;
    Values random(n), tied(n), ascending(n), mostly_missing(n), zeros(n), wide(n), cluster(n),
        subnormal(n);
    for (std::size_t i = 0; i < n; ++i) {
        random[i] = normal(rng);
        tied[i] = unit(rng) < 0.9 ? 1.5 : std::round(normal(rng) * 3.0);
        ascending[i] = double(i % 1000) * 1e-3 + double(i / 1000);
        mostly_missing[i] = unit(rng) < 0.6 ? (unit(rng) < 0.5 ? kNaN : kInf) : normal(rng);
        zeros[i] = unit(rng) < 0.5 ? (unit(rng) < 0.5 ? -0.0 : 0.0) : std::round(normal(rng));
        wide[i] = (unit(rng) < 0.5 ? -1.0 : 1.0) * std::pow(10.0, unit(rng) * 600.0 - 300.0);
        cluster[i] = unit(rng) < 0.001 ? normal(rng) * 1e12 : 1.0 + normal(rng) * 1e-9;
        subnormal[i] = unit(rng) < 0.01
                           ? 1.0
                           : static_cast<double>(rng() % 3) * std::numeric_limits<double>::denorm_min();
    }
    Values descending(ascending.rbegin(), ascending.rend());
    for (Values* v :
         {&random, &tied, &ascending, &descending, &mostly_missing, &zeros, &wide, &cluster,
          &subnormal}) {
        out.push_back(std::move(*v));
    }
    return out;
}

TEST(BinningSplits, LargeInputsMatchTheSortedDefinition) {
    for (const Values& x : large_samples()) {
        const Values s = sorted_finite_values(x.data(), x.size());
        for (std::size_t n_bins : {2u, 3u, 10u, 100u, 600u}) {
            Values want;
            for (std::size_t i = 1; i < n_bins && s.front() != s.back(); ++i) {
                const double q = linear_quantile(s, double(i) / double(n_bins));
                if (q >= s.front() && q < s.back() && (want.empty() || q > want.back())) {
                    want.push_back(q);
                }
            }
            SCOPED_TRACE("bins=" + std::to_string(n_bins));
            expect_same_values(quantiles(x, n_bins), want);
        }
    }
}

TEST(BinningSplits, CutsAreStrictlyIncreasingAndInsideTheData) {
    std::mt19937_64 rng(7);
    const Values x = messy_sample(rng, 5000, 12);
    const Values s = sorted_finite_values(x.data(), x.size());
    for (std::size_t n_bins : {2u, 7u, 64u, 999u}) {
        for (const Values& cuts : {quantiles(x, n_bins), equal_width(x, n_bins),
                                   equal_width(x, n_bins, WidthRange::Iqr, 0, 1, 0.5)}) {
            EXPECT_LE(cuts.size(), n_bins - 1);
            for (std::size_t i = 0; i < cuts.size(); ++i) {
                EXPECT_TRUE(is_finite(cuts[i]));
                EXPECT_GE(cuts[i], s.front());
                EXPECT_LT(cuts[i], s.back());
                if (i > 0) {
                    EXPECT_GT(cuts[i], cuts[i - 1]);
                }
            }
        }
    }
}

TEST(BinningSplits, NormalizeSplits) {
    const Values unordered = {3, 1, 3, 2};
    expect_same_values(normalize_splits(unordered.data(), unordered.size()), {1, 2, 3});
    EXPECT_TRUE(normalize_splits(nullptr, 0).empty());
    for (double bad : {kNaN, kInf, -kInf}) {
        const Values v = {1, bad};
        expect_message([&] { normalize_splits(v.data(), v.size()); },
                       "binning: los puntos de corte deben ser finitos");
    }
}

TEST(BinningSplits, ParseEnumerations) {
    EXPECT_EQ(parse_width_range("full"), WidthRange::Full);
    EXPECT_EQ(parse_width_range("quantile"), WidthRange::Quantile);
    EXPECT_EQ(parse_width_range("iqr"), WidthRange::Iqr);
    EXPECT_EQ(parse_summary_statistic("mean"), SummaryStatistic::Mean);
    EXPECT_EQ(parse_summary_statistic("median"), SummaryStatistic::Median);
    for (const char* bad : {"Full", " full", "IQR", ""}) {
        expect_message([&] { parse_width_range(bad); }, "range debe ser 'full', 'quantile' o 'iqr'");
    }
    for (const char* bad : {"Mean", "median ", "avg", ""}) {
        expect_message([&] { parse_summary_statistic(bad); },
                       "representative debe ser 'mean' o 'median'");
    }
}

// ------------------------------------------------------------ assignment

// Reference bin: the number of cut points strictly below v; NaN has none.
int64_t reference_bin(double v, const Values& cuts) {
    if (std::isnan(v)) return -1;
    return std::count_if(cuts.begin(), cuts.end(), [v](double c) { return c < v; });
}

TEST(BinningAssign, WorkedExampleAndEmptyCases) {
    const Values x = {1, 2, 2.5, 3, kNaN, kInf, -kInf};
    EXPECT_EQ(assign_bins(x.data(), x.size(), {2, 3}),
              (std::vector<int64_t>{0, 0, 1, 1, -1, 2, 0}));
    EXPECT_EQ(assign_bins(x.data(), x.size(), {}),
              (std::vector<int64_t>{0, 0, 0, 0, -1, 0, 0}));
    EXPECT_TRUE(assign_bins(nullptr, 0, {1.0}).empty());
}

TEST(BinningAssign, MatchesCountOfCutsBelowForEveryNumberOfCuts) {
    std::mt19937_64 rng(99);
    const Values x = messy_sample(rng, 4000, 25);
    for (std::size_t m = 0; m <= 70; ++m) {
        Values cuts(m);
        for (std::size_t j = 0; j < m; ++j) cuts[j] = -3.0 + 0.25 * double(j % 30);
        std::sort(cuts.begin(), cuts.end());  // repeats kept on purpose
        const std::vector<int64_t> bins = assign_bins(x.data(), x.size(), cuts);
        for (std::size_t i = 0; i < x.size(); ++i) {
            ASSERT_EQ(bins[i], reference_bin(x[i], cuts)) << "m=" << m << " x=" << x[i];
        }
    }
}

// ------------------------------------------------------------- summaries

// Reference representative: plain list of the bin's x values.
double reference_representative(Values v, SummaryStatistic stat) {
    if (v.empty()) return kNaN;
    if (stat == SummaryStatistic::Mean) {
        double sum = 0.0;
        for (double t : v) sum += t;
        return sum / double(v.size());
    }
    std::sort(v.begin(), v.end());
    return linear_quantile(v, 0.5);
}

std::vector<BinningSummary> reference_binary(const Values& x, const std::vector<int>& y,
                                             const Values& cuts, SummaryStatistic stat) {
    const std::size_t m = cuts.size();
    std::vector<Values> xs(m + 2);
    std::vector<std::size_t> c0(m + 2), c1(m + 2);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const int64_t b = reference_bin(x[i], cuts);
        const std::size_t slot = b < 0 ? m + 1 : std::size_t(b);
        if (b >= 0) xs[slot].push_back(x[i]);
        (y[i] == 1 ? c1 : c0)[slot]++;
    }
    std::vector<BinningSummary> rows;
    for (std::size_t b = 0; b < m + 2; ++b) {
        const std::size_t count = c0[b] + c1[b];
        if (b == m + 1 && count == 0) break;
        const bool miss = b == m + 1;
        rows.push_back({miss ? kNaN : (b == 0 ? -kInf : cuts[b - 1]),
                        miss ? kNaN : (b == m ? kInf : cuts[b]), count,
                        x.empty() ? 0.0 : double(count) / double(x.size()), c0[b], c1[b],
                        count == 0 ? 0.0 : double(c1[b]) / double(count),
                        miss ? kNaN : reference_representative(xs[b], stat)});
    }
    return rows;
}

void expect_same_rows(const std::vector<BinningSummary>& got,
                      const std::vector<BinningSummary>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t r = 0; r < got.size(); ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        const auto& g = got[r];
        const auto& w = want[r];
        EXPECT_TRUE(same_bits(g.left, w.left));
        EXPECT_TRUE(same_bits(g.right, w.right));
        EXPECT_EQ(g.count, w.count);
        EXPECT_TRUE(same_bits(g.percentage, w.percentage));
        EXPECT_EQ(g.c0, w.c0);
        EXPECT_EQ(g.c1, w.c1);
        EXPECT_TRUE(same_bits(g.event_rate, w.event_rate));
        EXPECT_TRUE(same_bits(g.representative, w.representative))
            << g.representative << " vs " << w.representative;
    }
}

std::vector<BinningSummary> binary(const Values& x, const std::vector<int>& y, const Values& cuts,
                                   SummaryStatistic stat = SummaryStatistic::Median) {
    return summarize_binary(x.data(), y.data(), x.size(), cuts, stat);
}

std::vector<ContinuousBinningSummary> continuous(const Values& x, const Values& y,
                                                 const Values& cuts,
                                                 SummaryStatistic stat = SummaryStatistic::Median) {
    return summarize_continuous(x.data(), y.data(), x.size(), cuts, stat);
}

TEST(BinningSummary, BinaryWorkedExample) {
    expect_same_rows(binary({1, 2, 3, 4, kNaN}, {0, 1, 1, 0, 1}, {2.5}),
                     {{-kInf, 2.5, 2, 0.4, 1, 1, 0.5, 1.5},
                      {2.5, kInf, 2, 0.4, 1, 1, 0.5, 3.5},
                      {kNaN, kNaN, 1, 0.2, 0, 1, 1.0, kNaN}});
}

TEST(BinningSummary, ContinuousWorkedExample) {
    const auto rows = continuous({1, 2, 3, 4, 5}, {10, 20, kNaN, 40, 50}, {3});
    ASSERT_EQ(rows.size(), 2u);
    const double want[2][9] = {{-kInf, 3, 2, 0.5, 1.5, 15, 12.5, 15, 17.5},
                               {3, kInf, 2, 0.5, 4.5, 45, 42.5, 45, 47.5}};
    for (std::size_t r = 0; r < 2; ++r) {
        const auto& g = rows[r];
        const double got[9] = {g.left, g.right, double(g.count), g.percentage,
                               g.representative, g.target_mean, g.target_p25,
                               g.target_median, g.target_p75};
        for (int f = 0; f < 9; ++f) EXPECT_EQ(got[f], want[r][f]) << "row " << r << " field " << f;
    }
}

TEST(BinningSummary, EmptyBinsInputsAndSplits) {
    // An empty middle bin keeps its row.
    const auto rows = binary({1, 9}, {1, 0}, {2, 5}, SummaryStatistic::Mean);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].count, 0u);
    EXPECT_EQ(rows[1].percentage, 0.0);
    EXPECT_EQ(rows[1].event_rate, 0.0);
    EXPECT_TRUE(std::isnan(rows[1].representative));
    // n = 0: m + 1 rows of zeros, no missing row.
    const auto empty = binary({}, {}, {1, 2});
    ASSERT_EQ(empty.size(), 3u);
    for (const auto& r : empty) EXPECT_EQ(r.percentage, 0.0);
    // No cut points: one bin over the whole line.
    const auto one = binary({3, kNaN}, {1, 0}, {});
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(one[0].left, -kInf);
    EXPECT_EQ(one[0].right, kInf);
    const auto cont = continuous({1, 9, kNaN}, {1, kNaN, 4}, {2, 5});
    ASSERT_EQ(cont.size(), 4u);
    for (std::size_t b : {1u, 2u}) {
        EXPECT_EQ(cont[b].count, 0u);
        EXPECT_TRUE(std::isnan(cont[b].representative) && std::isnan(cont[b].target_mean) &&
                    std::isnan(cont[b].target_p25) && std::isnan(cont[b].target_p75));
    }
    // The missing-x row has target statistics but no representative.
    EXPECT_EQ(cont[3].count, 1u);
    EXPECT_EQ(cont[3].percentage, 0.5);
    EXPECT_EQ(cont[3].target_median, 4.0);
    EXPECT_TRUE(std::isnan(cont[3].representative) && std::isnan(cont[3].left));
}

TEST(BinningSummary, BinaryRejectsLabelsOtherThanZeroAndOne) {
    for (int bad : {2, -1}) {
        expect_message([&] { binary({1, kNaN, 3}, {0, bad, 1}, {2}); },
                       "binning: y debe contener solo 0 y 1");
    }
}

TEST(BinningSummary, ValueOnACutFallsInTheLowerBin) {
    const auto b = binary({2, 2, 3}, {1, 1, 0}, {2, 3});
    EXPECT_EQ(b[0].count, 2u);
    EXPECT_EQ(b[1].count, 1u);
    EXPECT_EQ(b[2].count, 0u);
    const auto c = continuous({2, 3}, {5, 6}, {2, 3});
    EXPECT_EQ(c[0].count, 1u);
    EXPECT_EQ(c[1].count, 1u);
}

TEST(BinningSummary, QuartileOfTwoEqualInfinitiesIsNaN) {
    const auto rows = continuous({1, 1}, {kInf, kInf}, {});
    EXPECT_TRUE(std::isnan(rows[0].target_median));
    EXPECT_TRUE(std::isnan(rows[0].target_p25));
    const auto single = continuous({1}, {kInf}, {});
    EXPECT_EQ(single[0].target_p75, kInf);
}

TEST(BinningSummary, BinaryMatchesPlainGrouping) {
    std::mt19937_64 rng(31337);
    std::bernoulli_distribution event(0.3);
    for (std::size_t n : {0u, 1u, 5u, 300u, 5000u}) {
        const Values x = messy_sample(rng, n, 9);
        std::vector<int> y(n);
        for (int& v : y) v = event(rng);
        for (const Values& cuts : {Values{}, Values{0.0}, Values{-3.0, -2.75, 0.5, 4.0},
                                   quantiles({-4, -3, -2, -1, 0, 1, 2}, 6)}) {
            for (auto stat : {SummaryStatistic::Mean, SummaryStatistic::Median}) {
                const auto rows = binary(x, y, cuts, stat);
                expect_same_rows(rows, reference_binary(x, y, cuts, stat));
                if (n > 0) {
                    double total = 0.0;
                    for (const auto& r : rows) total += r.percentage;
                    EXPECT_NEAR(total, 1.0, 1e-12);
                }
            }
        }
    }
}

TEST(BinningSummary, LargeBinaryMatchesPlainGrouping) {
    std::mt19937_64 rng(8080);
    std::bernoulli_distribution event(0.2);
    for (const Values& x : large_samples()) {
        std::vector<int> y(x.size());
        for (int& v : y) v = event(rng);
        for (const Values& cuts : {Values{}, Values{0.5}, Values{-1.0, 0.0, 1.5, 2.0, 60.0},
                                   quantiles(x, 50)}) {
            expect_same_rows(binary(x, y, cuts), reference_binary(x, y, cuts,
                                                                  SummaryStatistic::Median));
        }
    }
}

TEST(BinningSummary, ContinuousMatchesPlainGrouping) {
    std::mt19937_64 rng(4242);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (std::size_t n : {0u, 1u, 6u, 400u, 5000u}) {
        const Values x = messy_sample(rng, n, 7);
        Values y(n);
        for (double& v : y) v = unit(rng) < 0.1 ? kNaN : std::round(unit(rng) * 20.0) - 5.0;
        const Values cuts = {-2.5, 0.0, 0.0001, 3.0};
        for (auto stat : {SummaryStatistic::Mean, SummaryStatistic::Median}) {
            const auto rows = continuous(x, y, cuts, stat);
            // Reference: per-bin lists of the rows with a target.
            std::vector<Values> xs(cuts.size() + 2), ys(cuts.size() + 2);
            std::size_t used = 0;
            for (std::size_t i = 0; i < n; ++i) {
                if (std::isnan(y[i])) continue;
                ++used;
                const int64_t b = reference_bin(x[i], cuts);
                const std::size_t slot = b < 0 ? cuts.size() + 1 : std::size_t(b);
                if (b >= 0) xs[slot].push_back(x[i]);
                ys[slot].push_back(y[i]);
            }
            const std::size_t want_rows = cuts.size() + 1 + (ys.back().empty() ? 0 : 1);
            ASSERT_EQ(rows.size(), want_rows);
            double total = 0.0;
            for (std::size_t b = 0; b < rows.size(); ++b) {
                SCOPED_TRACE("n=" + std::to_string(n) + " bin " + std::to_string(b));
                Values v = ys[b];
                std::sort(v.begin(), v.end());
                double sum = 0.0;
                for (double t : v) sum += t;
                const auto& r = rows[b];
                total += r.percentage;
                EXPECT_EQ(r.count, v.size());
                EXPECT_TRUE(same_bits(r.percentage, used ? double(v.size()) / double(used) : 0.0));
                EXPECT_TRUE(same_bits(r.representative,
                                      b == cuts.size() + 1 ? kNaN
                                                           : reference_representative(xs[b], stat)));
                EXPECT_TRUE(same_bits(r.target_mean, v.empty() ? kNaN : sum / double(v.size())));
                EXPECT_TRUE(same_bits(r.target_p25, v.empty() ? kNaN : linear_quantile(v, 0.25)));
                EXPECT_TRUE(same_bits(r.target_median, v.empty() ? kNaN : linear_quantile(v, 0.5)));
                EXPECT_TRUE(same_bits(r.target_p75, v.empty() ? kNaN : linear_quantile(v, 0.75)));
            }
            if (used > 0) {
                EXPECT_NEAR(total, 1.0, 1e-12);
            }
        }
    }
}

}  // namespace
