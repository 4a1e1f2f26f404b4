#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "exact_sum.hpp"
#include "tessaline/tessaline.hpp"

namespace {

using tessaline::BinTrend;
using tessaline::ContinuousBinningConstraints;
using tessaline::ContinuousBinningStatus;

struct Pick {
    bool found = false;
    double value = 0.0;
    std::vector<std::size_t> firsts;
};

bool follows(const std::vector<double>& means, BinTrend trend) {
    const double sign = (trend == BinTrend::descending || trend == BinTrend::valley) ? -1.0 : 1.0;
    bool falling = false;
    for (std::size_t g = 1; g < means.size() && trend != BinTrend::none; ++g) {
        const double a = sign * means[g - 1], b = sign * means[g];
        if (b > a && !falling) continue;
        if (b < a && (trend == BinTrend::peak || trend == BinTrend::valley)) {
            falling = true;
            continue;
        }
        return false;
    }
    return true;
}

// Larger criterion, then fewer groups, then earlier starts read from the last group back.
bool better(const Pick& a, const Pick& b) {
    if (!b.found) return true;
    if (a.value != b.value) return a.value > b.value;
    if (a.firsts.size() != b.firsts.size()) return a.firsts.size() < b.firsts.size();
    return std::lexicographical_compare(a.firsts.rbegin(), a.firsts.rend(), b.firsts.rbegin(),
                                        b.firsts.rend());
}

// The sum of squared deviations of pre-bins first..last: theirs, plus each
// one's weight times its mean's squared distance from the group's.
double group_sum_sq_dev(const std::vector<double>& w, const std::vector<double>& s,
                        const std::vector<double>& dev, std::size_t first, std::size_t last,
                        double mean) {
    double d = 0.0;
    for (std::size_t j = first; j <= last; ++j) {
        d += dev[j];
        if (w[j] > 0.0) d += w[j] * (s[j] / w[j] - mean) * (s[j] / w[j] - mean);
    }
    return d;
}

// Every contiguous grouping, one bit per gap between pre-bins, with the
// criterion's terms summed as the search sums them; with `dev`, neighbours
// must differ at most at k.max_pvalue.
Pick brute_force(const std::vector<double>& w, const std::vector<double>& s,
                 const std::vector<double>& rows, const ContinuousBinningConstraints& k,
                 BinTrend trend, const std::vector<double>& dev = {}) {
    const std::size_t n = w.size();
    double tw = 0.0, ts = 0.0;
    for (std::size_t i = 0; i < n; ++i) tw += w[i], ts += s[i];
    const double mean = ts / tw;
    Pick best;
    for (unsigned mask = 0; mask < (1u << (n - 1)); ++mask) {
        Pick p{true, 0.0, {}};
        std::vector<double> means;
        bool ok = true;
        double before_w = 0.0, before_d = 0.0;
        for (std::size_t first = 0; first < n && ok;) {
            std::size_t last = first;
            while (last + 1 < n && !(mask >> last & 1u)) ++last;
            double gw = 0.0, gs = 0.0, gr = 0.0;
            for (std::size_t j = first; j <= last; ++j) gw += w[j], gs += s[j], gr += rows[j];
            ok = gw > 0.0 && gr >= k.min_rows && gw / tw >= k.min_bin_share;
            if (ok && !dev.empty()) {
                const double gd = group_sum_sq_dev(w, s, dev, first, last, gs / gw);
                ok = first == 0 ||
                     tessaline::equal_means_test(before_w, means.back(), before_d, gw, gs / gw, gd)
                             .pvalue <= k.max_pvalue;
                before_w = gw, before_d = gd;
            }
            const double d = gs / gw - mean;
            p.value += gw * (d * d);
            p.firsts.push_back(first);
            means.push_back(gs / gw);
            first = last + 1;
        }
        ok = ok && (k.max_bins == 0 || p.firsts.size() <= k.max_bins) && follows(means, trend);
        if (ok && better(p, best)) best = p;
    }
    return best;
}

class ContinuousBinningTrend : public ::testing::TestWithParam<BinTrend> {};

// Random tables of up to ten pre-bins searched under random limits, checked
// against every grouping; `tested` adds the pre-bins' squared deviations and
// a limit on the test between neighbours.
void matches_every_grouping(BinTrend trend, unsigned seed, bool tested) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> size(1, 10), pick(0, 3), count(0, 6);
    std::uniform_real_distribution<double> weight(0.0, 3.0), target(-2.0, 5.0);
    const double shares[] = {0.0, 0.05, 0.15, 0.3};
    const double pvalues[] = {1.0, 0.5, 0.2, 0.05};
    for (int table = 0; table < 300; ++table) {
        const std::size_t n = static_cast<std::size_t>(size(rng));
        std::vector<double> w(n), s(n), rows(n), dev;
        for (std::size_t i = 0; i < n; ++i) {
            rows[i] = count(rng);
            // Integer means now and then, so that equal means and ties occur.
            w[i] = rows[i] == 0 ? 0.0 : (pick(rng) == 0 ? rows[i] : weight(rng));
            s[i] = w[i] * (pick(rng) == 0 ? static_cast<double>(pick(rng)) : target(rng));
        }
        rows[0] += 1, w[0] += 1;  // some weight
        ContinuousBinningConstraints k;
        k.max_bins = static_cast<std::size_t>(pick(rng));
        k.min_bin_share = shares[pick(rng)];
        k.min_rows = pick(rng);
        k.trend = trend;
        if (tested) {
            for (std::size_t i = 0; i < n; ++i) dev.push_back(w[i] * weight(rng));
            k.max_pvalue = pvalues[pick(rng)];
        }
        const auto got = tessaline::continuous_binning(w.data(), s.data(), rows.data(), n, k,
                                                       tested ? dev.data() : nullptr);
        double total_rows = 0.0;
        for (double r : rows) total_rows += r;
        if (total_rows < k.min_rows) {
            EXPECT_EQ(got.status, ContinuousBinningStatus::min_rows_not_met);
            continue;
        }
        Pick want;
        if (trend == BinTrend::automatic) {
            want = brute_force(w, s, rows, k, BinTrend::ascending, dev);
            const Pick falling = brute_force(w, s, rows, k, BinTrend::descending, dev);
            const bool down =
                falling.value > want.value ||
                (falling.value == want.value && falling.firsts.size() < want.firsts.size());
            if (down) want = falling;
            EXPECT_EQ(got.trend, down ? BinTrend::descending : BinTrend::ascending);
        } else {
            want = brute_force(w, s, rows, k, trend, dev);
        }
        ASSERT_TRUE(want.found);
        ASSERT_EQ(got.status, ContinuousBinningStatus::optimal) << "table " << table;
        EXPECT_EQ(got.between_ss, want.value) << "table " << table;
        std::vector<std::size_t> firsts;
        for (const auto& g : got.groups) firsts.push_back(g.first);
        EXPECT_EQ(firsts, want.firsts) << "table " << table;
        EXPECT_EQ(got.groups.back().last, n - 1);
    }
}

TEST_P(ContinuousBinningTrend, MatchesEveryGroupingOnRandomTables) {
    matches_every_grouping(GetParam(), 20261208u + static_cast<unsigned>(GetParam()), false);
}

TEST_P(ContinuousBinningTrend, MatchesEveryGroupingUnderATestBetweenNeighbours) {
    matches_every_grouping(GetParam(), 20261209u + static_cast<unsigned>(GetParam()), true);
}

INSTANTIATE_TEST_SUITE_P(Trends, ContinuousBinningTrend,
                         ::testing::Values(BinTrend::none, BinTrend::ascending,
                                           BinTrend::descending, BinTrend::peak, BinTrend::valley,
                                           BinTrend::automatic));

// Several trends in one pass, a test between neighbours shared among them:
// what each trend gives on its own, bit for bit (means tie often here).
TEST(ContinuousBinning, TrendsSearchedTogetherAsAlone) {
    const std::vector<BinTrend> trends = {BinTrend::automatic, BinTrend::none, BinTrend::peak,
                                          BinTrend::valley, BinTrend::descending};
    std::mt19937 rng(20261209u);
    std::uniform_int_distribution<int> size(1, 9), small(1, 4), pick(0, 3);
    const double pvalues[] = {1.0, 0.8, 0.3, 0.05};
    for (int table = 0; table < 200; ++table) {
        const std::size_t n = static_cast<std::size_t>(size(rng));
        std::vector<double> w(n), s(n), dev(n);
        for (std::size_t i = 0; i < n; ++i)
            w[i] = small(rng), s[i] = w[i] * pick(rng), dev[i] = pick(rng);
        ContinuousBinningConstraints k;
        k.max_bins = static_cast<std::size_t>(pick(rng));
        k.max_pvalue = pvalues[pick(rng)];
        const auto together =
            tessaline::continuous_binnings(w.data(), s.data(), w.data(), n, k, trends, dev.data());
        ASSERT_EQ(together.size(), trends.size());
        for (std::size_t t = 0; t < trends.size(); ++t) {
            k.trend = trends[t];
            const auto alone =
                tessaline::continuous_binning(w.data(), s.data(), w.data(), n, k, dev.data());
            EXPECT_EQ(together[t].trend, alone.trend) << "table " << table;
            EXPECT_EQ(together[t].between_ss, alone.between_ss) << "table " << table;
            ASSERT_EQ(together[t].groups.size(), alone.groups.size()) << "table " << table;
            for (std::size_t g = 0; g < alone.groups.size(); ++g)
                EXPECT_EQ(together[t].groups[g].first, alone.groups[g].first) << "table " << table;
        }
    }
}

TEST(ContinuousBinning, WorkedExampleAndStatuses) {
    // Means 1, 2, 10, 11 with weights 1, 1, 2, 2: overall mean 45 / 6 = 7.5;
    // two bins {1, 2} (mean 1.5) and {10, 11} (mean 10.5) give
    // 2 * 36 + 4 * 9 = 108, and splitting further adds 0.5 + 1 = 1.5.
    const std::vector<double> w = {1, 1, 2, 2}, s = {1, 2, 20, 22}, rows = {1, 1, 2, 2};
    ContinuousBinningConstraints k;
    k.max_bins = 2;
    const auto two = tessaline::continuous_binning(w.data(), s.data(), rows.data(), 4, k);
    ASSERT_EQ(two.groups.size(), 2u);
    EXPECT_EQ(two.groups[0].last, 1u);
    EXPECT_EQ(two.between_ss, 108.0);
    EXPECT_EQ(two.overall_mean, 7.5);
    k.max_bins = 0;
    EXPECT_EQ(tessaline::continuous_binning(w.data(), s.data(), rows.data(), 4, k).between_ss,
              109.5);
    k.min_rows = 7;
    EXPECT_EQ(tessaline::continuous_binning(w.data(), s.data(), rows.data(), 4, k).status,
              ContinuousBinningStatus::min_rows_not_met);
    const std::vector<double> zero = {0, 0};
    EXPECT_EQ(tessaline::continuous_binning(zero.data(), zero.data(), rows.data(), 2, {}).status,
              ContinuousBinningStatus::no_weight);
    const auto message = [&](const std::vector<double>& weights, ContinuousBinningConstraints c) {
        try {
            tessaline::continuous_binning(weights.data(), s.data(), rows.data(), weights.size(), c);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    ContinuousBinningConstraints share;
    share.min_bin_share = 2;
    EXPECT_EQ(message({1, -1}, {}),
              "continuous_binning: pre-bin weights and rows must be finite and non-negative, "
              "sums finite");
    EXPECT_EQ(message({1, 1}, share), "continuous_binning: min_bin_share must be between 0 and 1");
    EXPECT_EQ(message({}, {}), "continuous_binning: no pre-bins");
    ContinuousBinningConstraints tested;
    tested.max_pvalue = 1.5;
    EXPECT_EQ(message({1, 1}, tested), "continuous_binning: max_pvalue must be between 0 and 1");
    tested.max_pvalue = 0.05;
    EXPECT_EQ(message({1, 1}, tested),
              "continuous_binning: max_pvalue needs the pre-bins' sums of squared deviations");
    const std::vector<double> dev = {1, -1};
    try {
        tessaline::continuous_binning(w.data(), s.data(), rows.data(), 2, tested, dev.data());
        FAIL() << "a negative sum of squared deviations was accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(e.what()),
                  "continuous_binning: pre-bin sums of squared deviations must be finite and "
                  "non-negative");
    }
}

// A row of integer weight k sums exactly as k copies of it, in any order of the rows.
TEST(ContinuousCounts, IntegerWeightsAreRepeatedRowsInAnyOrder) {
    std::mt19937 rng(7u);
    std::uniform_int_distribution<int> value(0, 4), times(0, 4);
    std::uniform_real_distribution<double> target(-1e3, 1e3);
    std::vector<double> x, y, w, rx, ry;
    for (int i = 0; i < 200; ++i) {
        x.push_back(value(rng));
        y.push_back(target(rng) / 7.0);
        w.push_back(times(rng));
        for (int k = 0; k < static_cast<int>(w.back()); ++k)
            rx.push_back(x.back()), ry.push_back(y.back());
    }
    std::vector<std::size_t> order(rx.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<double> sx, sy;
    for (std::size_t i : order) sx.push_back(rx[i]), sy.push_back(ry[i]);
    const auto weighted =
        tessaline::count_continuous_values(x.data(), y.data(), w.data(), x.size());
    const auto repeated =
        tessaline::count_continuous_values(sx.data(), sy.data(), nullptr, sx.size());
    ASSERT_EQ(weighted.value, repeated.value);
    for (std::size_t i = 0; i < weighted.value.size(); ++i) {
        EXPECT_EQ(weighted.stats[i].weight, static_cast<double>(repeated.stats[i].rows));
        EXPECT_EQ(weighted.stats[i].sum, repeated.stats[i].sum);
        EXPECT_EQ(weighted.stats[i].sum_sq, repeated.stats[i].sum_sq);
        EXPECT_EQ(weighted.stats[i].min, repeated.stats[i].min);
        EXPECT_EQ(weighted.stats[i].max, repeated.stats[i].max);
    }
    EXPECT_EQ(tessaline::weighted_quantile_cuts(weighted, 3),
              tessaline::weighted_quantile_cuts(repeated, 3));
}

// The least and greatest y of a value whose rows hold both zeros are the
// zero of its first row: a column holding -0.0 is sorted keeping a value's
// rows in their order, also one long enough to be sorted bucket by bucket.
TEST(ContinuousCounts, ZerosOfAValueKeepTheSignOfItsFirstRow) {
    constexpr int kValues = 30000;
    std::vector<double> x, y;
    for (int i = 0; i < 2 * kValues; ++i) {
        const int v = (i * 7919) % kValues;  // each value once in each half, shuffled
        x.push_back(static_cast<double>(v));
        y.push_back((i < kValues) == (v % 2 == 0) ? -0.0 : 0.0);
    }
    const auto c = tessaline::count_continuous_columns(x.data(), y.data(), nullptr, x.size());
    ASSERT_EQ(c.value.size(), static_cast<std::size_t>(kValues));
    for (int v = 0; v < kValues; ++v) {
        ASSERT_EQ(c.value[v], static_cast<double>(v));
        EXPECT_EQ(std::signbit(c.min[v]), v % 2 == 0) << v;
        EXPECT_EQ(std::signbit(c.max[v]), v % 2 == 0) << v;
    }
}

// The counts as columns hold what the table of rows holds, each value's sums
// are the exact sums of its rows rounded once (checked against an expansion
// of every term), and the quantile cuts and interval sums read from the
// columns are those read from the rows: with and without weights, with ties,
// a missing x, both zeros and targets far from zero.
TEST(ContinuousCounts, ColumnsMatchRowsAndExactSums) {
    std::mt19937 rng(11u);
    std::uniform_int_distribution<int> value(-40, 40), times(0, 3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> x, y, w;
    for (int i = 0; i < 3000; ++i) {
        const int v = value(rng);
        x.push_back(v == 40 ? std::nan("") : v == 0 && i % 2 ? -0.0 : v / 4.0);
        y.push_back(i % 97 == 0 ? std::nan("") : (v % 3 == 0 ? 1e9 : 0.0) + unit(rng) / 3.0);
        w.push_back(times(rng) + (i % 5 == 0 ? 0.25 : 0.0));
    }
    const double* no_weights = nullptr;
    for (const double* weights : {no_weights, static_cast<const double*>(w.data())}) {
        const auto rows = tessaline::count_continuous_values(x.data(), y.data(), weights, x.size());
        const auto cols =
            tessaline::count_continuous_columns(x.data(), y.data(), weights, x.size());
        ASSERT_EQ(cols.value, rows.value);
        for (std::size_t i = 0; i < rows.value.size(); ++i) {
            const tessaline::ContinuousStats& r = rows.stats[i];
            EXPECT_EQ(cols.rows[i], r.rows);
            EXPECT_EQ(cols.weight[i], r.weight);
            EXPECT_EQ(cols.sum[i], r.sum);
            EXPECT_EQ(cols.sum_sq[i], r.sum_sq);
            EXPECT_EQ(cols.sum_sq_dev[i], r.sum_sq_dev);
            EXPECT_EQ(cols.min[i], r.min);
            EXPECT_EQ(cols.max[i], r.max);
            tessaline::ExactSum sum, sum_sq;
            for (std::size_t k = 0; k < x.size(); ++k) {
                const double wk = weights == nullptr ? 1.0 : weights[k];
                if (x[k] != rows.value[i] || std::isnan(y[k]) || wk == 0.0) continue;
                sum.add_product(wk, y[k]);
                sum_sq.add_weighted_square(wk, y[k]);
            }
            EXPECT_EQ(r.sum, sum.value());
            EXPECT_EQ(r.sum_sq, sum_sq.value());
        }
        EXPECT_EQ(cols.missing.rows, rows.missing.rows);
        EXPECT_EQ(cols.missing.sum, rows.missing.sum);
        EXPECT_EQ(cols.n_missing_target, rows.n_missing_target);
        EXPECT_EQ(cols.n_zero_weight, rows.n_zero_weight);
        const tessaline::ContinuousValueColumns view{
            cols.value.size(),      cols.value.data(), cols.rows.data(),
            cols.weight.data(),     cols.sum.data(),   cols.sum_sq.data(),
            cols.sum_sq_dev.data(), cols.min.data(),   cols.max.data()};
        const std::vector<double> cuts = tessaline::weighted_quantile_cuts(view, 7);
        ASSERT_EQ(cuts, tessaline::weighted_quantile_cuts(rows, 7));
        const auto by_rows = tessaline::continuous_interval_stats(rows, cuts);
        const auto by_columns = tessaline::continuous_interval_stats(view, cuts);
        ASSERT_EQ(by_columns.size(), by_rows.size());
        for (std::size_t g = 0; g < by_rows.size(); ++g) {
            // Each interval's sums are the exact sums of its values' sums,
            // rounded once.
            tessaline::ExactSum sum, sum_sq;
            for (std::size_t i = 0; i < rows.value.size(); ++i) {
                const double v = rows.value[i];
                if ((g == 0 || v > cuts[g - 1]) && (g == cuts.size() || v <= cuts[g])) {
                    sum.add(rows.stats[i].sum);
                    sum_sq.add(rows.stats[i].sum_sq);
                }
            }
            EXPECT_EQ(by_rows[g].sum, sum.value());
            EXPECT_EQ(by_rows[g].sum_sq, sum_sq.value());
            EXPECT_EQ(by_columns[g].rows, by_rows[g].rows);
            EXPECT_EQ(by_columns[g].weight, by_rows[g].weight);
            EXPECT_EQ(by_columns[g].sum, by_rows[g].sum);
            EXPECT_EQ(by_columns[g].sum_sq, by_rows[g].sum_sq);
            EXPECT_EQ(by_columns[g].sum_sq_dev, by_rows[g].sum_sq_dev);
            EXPECT_EQ(by_columns[g].min, by_rows[g].min);
            EXPECT_EQ(by_columns[g].max, by_rows[g].max);
        }
    }
}

// A cut is the value at which the running weight first reaches i/n of the
// total; a heavy first value takes the cuts that fall within it.
TEST(ContinuousCounts, WeightedQuantileCutsWorkedExample) {
    std::vector<double> x, y(10, 0.0), even(10, 1.0), heavy(10, 1.0);
    for (int i = 1; i <= 10; ++i) x.push_back(i);
    heavy[0] = 6.0;
    const auto flat = tessaline::count_continuous_values(x.data(), y.data(), even.data(), 10);
    const auto front = tessaline::count_continuous_values(x.data(), y.data(), heavy.data(), 10);
    EXPECT_EQ(tessaline::weighted_quantile_cuts(flat, 4), (std::vector<double>{3.0, 5.0, 8.0}));
    EXPECT_EQ(tessaline::weighted_quantile_cuts(front, 3), (std::vector<double>{1.0, 5.0}));
    EXPECT_EQ(tessaline::weighted_quantile_cuts(flat, 1), std::vector<double>{});
    // Far more pre-bins than values: every value but the greatest, at once.
    EXPECT_EQ(tessaline::weighted_quantile_cuts(flat, std::size_t{1} << 62),
              (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    std::vector<double> huge(10, 1e308);
    const auto over = tessaline::count_continuous_values(x.data(), y.data(), huge.data(), 10);
    EXPECT_THROW(tessaline::weighted_quantile_cuts(over, 4), std::invalid_argument);
}

// Each segment is summed on its own, exactly: 0.1 + 0.2 + 0.3 rounds to
// 0.6000000000000001 step by step, exactly to 0.6; 1e16 + 1 + 1 to 1e16
// step by step, exactly to 1e16 + 2; and its partials keep those sums.
TEST(ContinuousCounts, SegmentsAreSummedExactlyAndApart) {
    const std::vector<double> terms{1e16, 1.0, 1.0, 0.1, 0.2, 0.3, -1e100, 1.0, 1e100};
    const std::vector<int64_t> offsets{0, 3, 6, 6, 9};
    const std::vector<double> sums{1e16 + 2.0, 0.6, 0.0, 1.0};
    EXPECT_EQ(tessaline::exact_sums(terms.data(), terms.size(), offsets.data(), 4), sums);
    const auto kept = tessaline::exact_partials(terms.data(), terms.size(), offsets.data(), 4);
    ASSERT_EQ(kept.offsets.size(), 5u);
    EXPECT_LE(kept.terms.size(), 6u);
    EXPECT_EQ(tessaline::exact_sums(kept.terms.data(), kept.terms.size(), kept.offsets.data(), 4),
              sums);
}

// An exact sum in place is the sum of its terms rounded once, in every order
// of them: 1 + 2^-53 + 2^-106 lies just above the half-way point between 1
// and its successor (step by step it rounds down to 1), and 1e100 cancels.
TEST(ExactSum, InPlaceSumsRoundOnceInEveryOrder) {
    const double h = std::ldexp(1.0, -53);
    std::vector<double> terms{1.0, h, h * h, 1e100, -1e100};
    std::sort(terms.begin(), terms.end());
    do {
        std::vector<double> scratch = terms;
        EXPECT_EQ(tessaline::exact_sum_in_place(scratch.data(), scratch.size()), 1.0 + 2.0 * h);
    } while (std::next_permutation(terms.begin(), terms.end()));
    std::vector<double> none;
    EXPECT_EQ(tessaline::exact_sum_in_place(none.data(), 0), 0.0);
}

// Unweighted counts, whose rows come in any order to the sums where no target
// is -0.0, round their partials (kept in the rows' order): sums, squared
// deviations (a target far from zero takes the exact form) and least and
// greatest y, in a column long enough for any sort.
TEST(ContinuousCounts, UnweightedCountsRoundTheirPartials) {
    for (const double shift : {0.0, 1e9}) {
        std::mt19937 rng(5u);
        std::uniform_int_distribution<int> value(0, 199);
        std::uniform_real_distribution<double> target(0.0, 1.0);
        std::vector<double> x, y;
        for (int i = 0; i < 5000; ++i) {
            x.push_back(value(rng));
            y.push_back(shift + (i % 3 == 0 ? 0.0 : target(rng) / 3.0));
        }
        const auto c = tessaline::count_continuous_columns(x.data(), y.data(), nullptr, x.size());
        const auto p = tessaline::count_continuous_partials(x.data(), y.data(), nullptr, x.size());
        const std::size_t k = c.value.size();
        ASSERT_EQ(p.value.size(), k + 1);  // the NaN row last
        const auto segments = [](const std::vector<double>& terms,
                                 const std::vector<int64_t>& offsets) {
            return tessaline::PartialSegments{terms.data(), terms.size(), offsets.data()};
        };
        EXPECT_EQ(
            tessaline::exact_sums(p.sum_terms.data(), p.sum_terms.size(), p.sum_offset.data(), k),
            c.sum);
        EXPECT_EQ(tessaline::exact_sums(p.sum_sq_terms.data(), p.sum_sq_terms.size(),
                                        p.sum_sq_offset.data(), k),
                  c.sum_sq);
        EXPECT_EQ(tessaline::centred_square_sums(segments(p.weight_terms, p.weight_offset),
                                                 segments(p.sum_terms, p.sum_offset),
                                                 segments(p.sum_sq_terms, p.sum_sq_offset), k),
                  c.sum_sq_dev);
        EXPECT_EQ(std::vector<double>(p.min.begin(), p.min.end() - 1), c.min);
        EXPECT_EQ(std::vector<double>(p.max.begin(), p.max.end() - 1), c.max);
        if (shift == 0.0) continue;
        // Far from zero, every y - m is exact (y and the rounded mean m lie
        // within a factor 2), so sum (y - m)^2 - r^2 / W, r = sum (y - m),
        // each sum rounded once, is the exact form worked out independently.
        for (std::size_t i = 0; i < k; ++i) {
            const double m = c.sum[i] / c.weight[i];
            tessaline::ExactSum squares, gaps;
            for (std::size_t j = 0; j < x.size(); ++j) {
                if (x[j] != c.value[i]) continue;
                squares.add_weighted_square(1.0, y[j] - m);
                gaps.add(y[j] - m);
            }
            const double r = gaps.value();
            const double dev = squares.value() - r * (r / c.weight[i]);
            EXPECT_EQ(c.sum_sq_dev[i], c.min[i] == c.max[i] ? 0.0 : std::max(dev, 0.0)) << i;
        }
    }
}

// Value i's partials of one sum in part b, then those in part a.
std::vector<double> joined(const std::vector<double>& a_terms, const std::vector<int64_t>& a_off,
                           const std::vector<double>& b_terms, const std::vector<int64_t>& b_off,
                           std::size_t i) {
    std::vector<double> terms(b_terms.begin() + b_off[i], b_terms.begin() + b_off[i + 1]);
    terms.insert(terms.end(), a_terms.begin() + a_off[i], a_terms.begin() + a_off[i + 1]);
    return terms;
}

// Partials of two halves of the rows, added exactly, give the sums and the
// squared deviations of one pass, for a target near 0 or far from it.
TEST(ContinuousCounts, PartialsOfPartsAddUpToOnePass) {
    for (const double shift : {0.0, 1e9}) {
        std::mt19937 rng(11u);
        std::uniform_int_distribution<int> value(0, 3);
        std::uniform_real_distribution<double> target(-1e6, 1e6), weight(0.0, 5.0);
        std::vector<double> x, y, w;
        for (int i = 0; i < 300; ++i) {
            x.push_back(value(rng));
            y.push_back(shift + target(rng) / (shift == 0.0 ? 3.0 : 3e6));
            w.push_back(weight(rng));
        }
        const auto whole =
            tessaline::count_continuous_values(x.data(), y.data(), w.data(), x.size());
        const auto a = tessaline::count_continuous_partials(x.data(), y.data(), w.data(), 150);
        const auto b = tessaline::count_continuous_partials(x.data() + 150, y.data() + 150,
                                                            w.data() + 150, 150);
        ASSERT_EQ(a.value.size(), whole.value.size() + 1);  // the NaN row last
        for (std::size_t i = 0; i < whole.value.size(); ++i) {
            ASSERT_EQ(a.value[i], b.value[i]);
            const auto ws =
                joined(a.weight_terms, a.weight_offset, b.weight_terms, b.weight_offset, i);
            const auto ss = joined(a.sum_terms, a.sum_offset, b.sum_terms, b.sum_offset, i);
            const auto qs =
                joined(a.sum_sq_terms, a.sum_sq_offset, b.sum_sq_terms, b.sum_sq_offset, i);
            const std::vector<int64_t> wo = {0, static_cast<int64_t>(ws.size())},
                                       so = {0, static_cast<int64_t>(ss.size())},
                                       qo = {0, static_cast<int64_t>(qs.size())};
            EXPECT_EQ(tessaline::exact_sums(ss.data(), ss.size(), so.data(), 1)[0],
                      whole.stats[i].sum);
            EXPECT_EQ(tessaline::centred_square_sums({ws.data(), ws.size(), wo.data()},
                                                     {ss.data(), ss.size(), so.data()},
                                                     {qs.data(), qs.size(), qo.data()}, 1)[0],
                      whole.stats[i].sum_sq_dev);
        }
    }
}

}  // namespace
