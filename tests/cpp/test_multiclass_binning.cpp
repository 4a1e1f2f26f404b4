#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

using tessaline::BinTrend;
using tessaline::MulticlassBinningConstraints;

struct Pick {
    bool found = false;
    double iv = 0.0;
    std::vector<std::size_t> firsts;
};

bool better(const Pick& a, const Pick& b) {
    if (!b.found) return true;
    if (a.iv != b.iv) return a.iv > b.iv;
    if (a.firsts.size() != b.firsts.size()) return a.firsts.size() < b.firsts.size();
    return std::lexicographical_compare(a.firsts.rbegin(), a.firsts.rend(), b.firsts.rbegin(),
                                        b.firsts.rend());
}

// Every contiguous grouping of the n x k counts, one bit per gap.
Pick brute_force(const std::vector<double>& c, std::size_t n, std::size_t k,
                 const MulticlassBinningConstraints& lim) {
    std::vector<double> total(k, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < k; ++j) total[j] += c[i * k + j];
    double all = 0.0;
    for (double t : total) all += t;
    Pick best;
    for (unsigned mask = 0; mask < (1u << (n - 1)); ++mask) {
        Pick p{true, 0.0, {}};
        std::vector<double> previous;
        bool ok = true;
        for (std::size_t first = 0; first < n && ok;) {
            std::size_t last = first;
            while (last + 1 < n && !(mask >> last & 1u)) ++last;
            std::vector<double> s(k, 0.0);
            for (std::size_t i = first; i <= last; ++i)
                for (std::size_t j = 0; j < k; ++j) s[j] += c[i * k + j];
            double rows = 0.0, value = 0.0, js = 0.0;
            for (double v : s) rows += v;
            for (std::size_t j = 0; j < k; ++j) {
                ok = ok && s[j] >= lim.min_class_count;
                value += tessaline::group_woe(rows - s[j], s[j], all - total[j], total[j]).iv;
                if (lim.objective == tessaline::MulticlassObjective::js && s[j] > 0)
                    js += s[j] / all * std::log((s[j] / total[j]) / (rows / all));
            }
            ok = ok && rows > 0 && rows / all >= lim.min_bin_share;
            for (std::size_t j = 0; j < lim.trends.size() && ok && !previous.empty(); ++j) {
                const double from = previous[j], to = s[j] / rows;
                if (lim.trends[j] == BinTrend::ascending) ok = from < to;
                if (lim.trends[j] == BinTrend::descending) ok = from > to;
            }
            previous.assign(k, 0.0);
            for (std::size_t j = 0; j < k; ++j) previous[j] = s[j] / rows;
            p.iv += lim.objective == tessaline::MulticlassObjective::js ? js : value;
            p.firsts.push_back(first);
            first = last + 1;
        }
        ok = ok && (lim.max_bins == 0 || p.firsts.size() <= lim.max_bins);
        if (ok && better(p, best)) best = p;
    }
    return best;
}

// Trends of the classes: none, one class's, two classes' in opposite directions.
class MulticlassTrends : public ::testing::TestWithParam<std::vector<BinTrend>> {};

TEST_P(MulticlassTrends, MatchesEveryGroupingOnRandomTables) {
    const std::vector<BinTrend> trends = GetParam();
    const std::size_t k = trends.empty() ? 4 : trends.size();
    std::mt19937 rng(20261209u + static_cast<unsigned>(trends.size()));
    std::uniform_int_distribution<int> size(1, 9), count(0, 9), pick(0, 3);
    const double shares[] = {0.0, 0.05, 0.15, 0.3};
    for (int table = 0; table < 200; ++table) {
        const std::size_t n = static_cast<std::size_t>(size(rng));
        std::vector<double> c(n * k);
        for (auto& v : c) v = count(rng);
        for (std::size_t j = 0; j < k; ++j) c[j] += 1.0;  // every class present
        MulticlassBinningConstraints lim;
        lim.max_bins = static_cast<std::size_t>(pick(rng));
        lim.min_bin_share = shares[pick(rng)];
        lim.min_class_count = pick(rng) / 2;
        lim.trends = trends;
        lim.objective =
            table % 2 ? tessaline::MulticlassObjective::js : tessaline::MulticlassObjective::iv;
        const auto got = tessaline::multiclass_binning(c.data(), n, k, lim);
        const Pick want = brute_force(c, n, k, lim);
        if (!want.found) {
            EXPECT_NE(got.status, tessaline::MulticlassBinningStatus::optimal);
            continue;
        }
        ASSERT_EQ(got.status, tessaline::MulticlassBinningStatus::optimal) << "table " << table;
        EXPECT_EQ(got.value, want.iv) << "table " << table;
        std::vector<std::size_t> firsts;
        for (const auto& g : got.groups) firsts.push_back(g.first);
        EXPECT_EQ(firsts, want.firsts) << "table " << table;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Trends, MulticlassTrends,
    ::testing::Values(std::vector<BinTrend>{},
                      std::vector<BinTrend>{BinTrend::none, BinTrend::ascending, BinTrend::none},
                      std::vector<BinTrend>{BinTrend::ascending, BinTrend::none,
                                            BinTrend::descending, BinTrend::none}));

TEST(MulticlassBinning, TwoClassesGroupAsTheBinarySearch) {
    std::mt19937 rng(47u);
    std::uniform_int_distribution<int> size(2, 12), count(1, 400), pick(0, 4);
    for (int table = 0; table < 200; ++table) {
        const std::size_t n = static_cast<std::size_t>(size(rng));
        std::vector<double> c0(n), c1(n), both(2 * n);
        for (std::size_t i = 0; i < n; ++i) {
            c0[i] = both[2 * i] = count(rng);
            c1[i] = both[2 * i + 1] = count(rng) / (1 + pick(rng));
        }
        tessaline::OptimalBinningConstraints binary;
        binary.max_bins = static_cast<std::size_t>(pick(rng));
        binary.min_bin_share = 0.05 * pick(rng);
        MulticlassBinningConstraints lim;
        lim.max_bins = binary.max_bins;
        lim.min_bin_share = binary.min_bin_share;
        const auto want = tessaline::optimal_binning(c0.data(), c1.data(), n, binary);
        const auto got = tessaline::multiclass_binning(both.data(), n, 2, lim);
        ASSERT_EQ(got.groups.size(), want.groups.size()) << "table " << table;
        for (std::size_t g = 0; g < got.groups.size(); ++g) {
            EXPECT_EQ(got.groups[g].first, want.groups[g].first) << "table " << table;
        }
        EXPECT_NEAR(got.value, 2 * want.iv, 1e-12 * want.iv);
    }
}

TEST(MulticlassBinning, WorkedExampleOfTheColumns) {
    // Two rows of three classes: (1, 0, 3) and (3, 2, 1), totals (4, 2, 4) of 10.
    const double counts[] = {1, 0, 3, 3, 2, 1};
    const auto t = tessaline::multiclass_columns(counts, 2, 3);
    EXPECT_EQ(t.share, (std::vector<double>{0.4, 0.6}));
    // Class 0 in row 0: 1/4 of its rows, 3/6 of the others'.
    EXPECT_EQ(t.woe[0], std::log(0.25 / 0.5));
    EXPECT_EQ(t.iv[0], (0.25 - 0.5) * std::log(0.25 / 0.5));
    // Class 1 holds no row in row 0: it counts 0.5 of its 2 rows.
    EXPECT_EQ(t.woe[1], std::log(0.25 / 0.5));
    EXPECT_EQ(t.woe[5], std::log((1.0 / 4) / (5.0 / 6)));
    EXPECT_EQ(t.row_iv[0], t.iv[0] + t.iv[1] + t.iv[2]);
    EXPECT_EQ(t.class_iv[2], t.iv[2] + t.iv[5]);
    EXPECT_EQ(t.iv_total, t.row_iv[0] + t.row_iv[1]);
    const double js0 =
        1.0 / 10 * std::log((1.0 / 4) / (4.0 / 10)) + 3.0 / 10 * std::log((3.0 / 4) / (4.0 / 10));
    EXPECT_EQ(t.js[0], js0);
    // The divergence is the mutual information of row and class: H(class) - H(class | row).
    const auto h = [](std::vector<double> p) {
        double s = 0.0;
        for (double v : p) s -= v > 0 ? v * std::log(v) : 0.0;
        return s;
    };
    EXPECT_NEAR(t.js_total,
                h({0.4, 0.2, 0.4}) - 0.4 * h({0.25, 0, 0.75}) - 0.6 * h({0.5, 1.0 / 3, 1.0 / 6}),
                1e-15);
}

TEST(MulticlassBinning, Refusals) {
    const double counts[] = {1, 0, 3, 3, 0, 1};
    MulticlassBinningConstraints lim;
    EXPECT_EQ(tessaline::multiclass_binning(counts, 2, 3, lim).status,
              tessaline::MulticlassBinningStatus::empty_class);
    lim.min_class_count = 5;
    EXPECT_EQ(tessaline::multiclass_binning(counts, 2, 3, lim).status,
              tessaline::MulticlassBinningStatus::min_class_count_not_met);
    lim.min_class_count = 0;
    lim.trends = {BinTrend::peak, BinTrend::ascending, BinTrend::none};
    EXPECT_THROW(tessaline::multiclass_binning(counts, 2, 3, lim), std::invalid_argument);
    lim.trends = {BinTrend::none};
    EXPECT_THROW(tessaline::multiclass_binning(counts, 2, 3, lim), std::invalid_argument);
}

TEST(MulticlassCounts, CountsByValueAndClass) {
    const double x[] = {2.0, -0.0, NAN, 0.0, 2.0, 5.0, 1.0};
    const int32_t y[] = {1, 0, 2, 2, 1, -1, 0};
    const auto c = tessaline::count_class_values(x, y, 7, 3);
    EXPECT_EQ(c.value, (std::vector<double>{0.0, 1.0, 2.0}));
    EXPECT_FALSE(std::signbit(c.value[0]));
    EXPECT_EQ(c.counts, (std::vector<int64_t>{1, 0, 1, 1, 0, 0, 0, 2, 0}));
    EXPECT_EQ(c.missing, (std::vector<int64_t>{0, 0, 1}));
    EXPECT_EQ(c.n_missing_target, 1);
    // A value equal to a cut falls in the lower interval.
    EXPECT_EQ(tessaline::class_interval_counts(c.value.data(), c.counts.data(), 3, 3, {1.0}),
              (std::vector<int64_t>{2, 0, 1, 0, 2, 0}));
    const int32_t bad[] = {3};
    EXPECT_THROW(tessaline::count_class_values(x, bad, 1, 3), std::invalid_argument);
}

}  // namespace
