#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "hypergeometric_laws.hpp"
#include "tessaline/tessaline.hpp"

namespace {

// Groups both small (drawn row by row) and large (drawn by inversion).
struct Margins {
    std::vector<int64_t> rows;
    int64_t events;
};

class HypergeometricTable : public ::testing::TestWithParam<Margins> {};

TEST_P(HypergeometricTable, KeepsTheMarginsAndMatchesTheExpectation) {
    const Margins m = GetParam();
    int64_t total = 0;
    for (int64_t r : m.rows) total += r;
    tessaline::SplitMix64 rng(7);
    const int draws = 4000;
    std::vector<double> sum(m.rows.size(), 0.0);
    for (int d = 0; d < draws; ++d) {
        const auto t = tessaline::hypergeometric_table(m.rows.data(), m.rows.size(), m.events, rng);
        int64_t events = 0;
        for (std::size_t i = 0; i < t.size(); ++i) {
            ASSERT_GE(t[i], 0);
            ASSERT_LE(t[i], m.rows[i]);
            events += t[i];
            sum[i] += static_cast<double>(t[i]);
        }
        ASSERT_EQ(events, m.events);
    }
    for (std::size_t i = 0; i < m.rows.size(); ++i) {
        const double n = static_cast<double>(total), k = static_cast<double>(m.events);
        const double r = static_cast<double>(m.rows[i]);
        const double mean = r * k / n;
        const double sd = std::sqrt(r * (k / n) * (1 - k / n) * (n - r) / (n - 1));
        // Five standard errors of the mean of the draws.
        EXPECT_NEAR(sum[i] / draws, mean, 5 * sd / std::sqrt(draws) + 1e-12) << "group " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Groups, HypergeometricTable,
                         ::testing::Values(Margins{{3, 10, 0, 20}, 9},
                                           Margins{{500, 4000, 120, 37, 10000}, 4300},
                                           Margins{{250000, 750000, 1000}, 31000},
                                           Margins{{40, 60}, 100}));

TEST(HypergeometricTable, SameSeedSameTablesAndBadMarginsRefused) {
    const std::vector<int64_t> rows{100, 2000, 30};
    tessaline::SplitMix64 a(3), b(3);
    EXPECT_EQ(tessaline::hypergeometric_table(rows.data(), 3, 500, a),
              tessaline::hypergeometric_table(rows.data(), 3, 500, b));
    EXPECT_THROW(tessaline::hypergeometric_table(rows.data(), 3, 2131, a), std::invalid_argument);
}

// The laws a test keeps in part give the very tables the whole laws give,
// with as many laws as fit, past that limit and with none kept; tables
// whose generator calls vary (events running out) among them. Each trial's
// laws are built in the room the trials before it handed back, over their
// laws, and drawn both as just built and as kept.
class KeptLaws : public ::testing::TestWithParam<std::size_t> {};

TEST_P(KeptLaws, DrawTheTablesOfTheWholeLaws) {
    tessaline::SplitMix64 margins(11);
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<int64_t> rows(1 + margins.below(30));
        int64_t total = 0;
        for (int64_t& r : rows) {
            // Urns, small laws and laws of thousands of steps side by side.
            const uint64_t scale = uint64_t{1} << margins.below(17);
            r = static_cast<int64_t>(margins.below(scale + 1));
            total += r;
        }
        // A third with a few events, which run out at a different group
        // from one table to the next.
        const uint64_t most = trial % 3 == 0 ? std::min<uint64_t>(static_cast<uint64_t>(total), 6)
                                             : static_cast<uint64_t>(total);
        const auto events = static_cast<int64_t>(margins.below(most + 1));
        // Tables dealt several at a time from one generator, as one by one.
        tessaline::hypergeometric::TableDeals deals(rows, events, tessaline::SplitMix64(trial),
                                                    GetParam());
        tessaline::SplitMix64 whole(trial);
        std::vector<int64_t> drawn;
        for (int d = 0; d < 200; ++d) {
            deals.next(drawn);
            ASSERT_EQ(drawn,
                      tessaline::hypergeometric_table(rows.data(), rows.size(), events, whole))
                << "trial " << trial << " draw " << d;
        }
        EXPECT_LE(deals.cache().held(), GetParam());
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, KeptLaws,
                         ::testing::Values(tessaline::hypergeometric::LawCache::DEFAULT_MAX_LAWS,
                                           std::size_t{5}, std::size_t{0}));

// The margins of a law drawn by inversion, and the law whole into `whole`:
// laws from a few steps to thousands either side of the mode, skewed ones
// at either end of the support included.
struct LawMargins {
    int64_t total, events, n;
};

LawMargins random_law(tessaline::SplitMix64& margins, int trial,
                      tessaline::hypergeometric::Inversion& whole) {
    const auto total = static_cast<int64_t>(40 + margins.below(uint64_t{1} << (6 + trial % 18)));
    const auto events = static_cast<int64_t>(1 + margins.below(static_cast<uint64_t>(total - 1)));
    const auto n = static_cast<int64_t>(33 + margins.below(static_cast<uint64_t>(total - 33)));
    std::vector<double> weights;
    tessaline::hypergeometric::build_inversion(total, events, n, weights, whole);
    return {total, events, n};
}

// A law met once is walked from its mode only as far as its draw needs: the
// count is the one the whole law gives for the same uniform, on laws from a
// few steps to thousands either side of the mode, skewed ones at either end
// of the support included, and for a few of them every draw (the bounds of
// the sum then settle some draws late, near a step's end).
TEST(LawCache, DrawsOfLawsWalkedInPartAreTheWholeLaws) {
    tessaline::SplitMix64 margins(5);
    tessaline::hypergeometric::Inversion whole;
    for (int trial = 0; trial < 300; ++trial) {
        const auto [total, events, n] = random_law(margins, trial, whole);
        // No law kept: every draw walks its law.
        tessaline::hypergeometric::LawCache cache(events, 0);
        tessaline::SplitMix64 walked(trial), reference(trial);
        for (int d = 0; d < 50; ++d) {
            bool built = true;
            auto* law = cache.locate(0, events, built);
            ASSERT_EQ(law, nullptr);
            ASSERT_FALSE(built);
            ASSERT_EQ(cache.draw(law, total, events, n, walked.unit()),
                      tessaline::hypergeometric::invert(whole, reference))
                << "total " << total << " events " << events << " rows " << n << " draw " << d;
        }
        ASSERT_EQ(cache.draw(nullptr, total, events, n, 0.0), whole.mode);
        // Targets on and beside the ends of steps, where bounds of the sum
        // that did not hold would settle a draw on the wrong count.
        const std::size_t steps = whole.running.size();
        for (std::size_t j = 0; j < steps; j += 1 + steps / 8) {
            const double at = whole.running[j] / whole.sum;
            for (const double u : {std::nextafter(at, 0.0), at, std::nextafter(at, 1.0)}) {
                if (!(u < 1.0)) continue;
                ASSERT_EQ(cache.draw(nullptr, total, events, n, u),
                          tessaline::hypergeometric::invert(whole, u))
                    << "total " << total << " events " << events << " rows " << n << " u " << u;
            }
        }
    }
}

// A kept law is walked on from its stretch where a draw needs it: out far
// (the uniform near 1), back inside, out to both ends (the law then whole),
// with the counts the whole law gives, on laws from a few steps to
// thousands either side of the mode. A cache drawing from another's law
// walks on a copy of it (its own, or past its memory limit one set aside)
// and leaves the law it reads as it was.
TEST(LawCache, KeptLawsWalkedOnInAnyOrderDrawAsTheWholeLaws) {
    const std::vector<double> order{0.5,  1.0 - 0x1p-30, 0.25, 0.999,    1.0 - 0x1p-53,
                                    0.75, 1e-9,          0.0,  0.9999999};
    tessaline::SplitMix64 margins(9);
    tessaline::hypergeometric::Inversion whole;
    for (int trial = 0; trial < 200; ++trial) {
        const auto [total, events, n] = random_law(margins, trial, whole);
        tessaline::hypergeometric::LawCache own(events), reader(events, trial % 2);
        bool fresh = false;
        auto* law = own.locate(0, events, fresh);
        ASSERT_TRUE(fresh);
        ASSERT_EQ(own.draw_fresh(*law, total, events, n, 0.5),
                  tessaline::hypergeometric::invert(whole, 0.5));
        std::array<unsigned char, sizeof(*law)> read{};
        std::memcpy(read.data(), law, sizeof(*law));
        for (auto* cache : {&reader, &own}) {
            tessaline::SplitMix64 uniforms(trial);
            for (std::size_t d = 0; d < 40; ++d) {
                const double u = d < order.size() ? order[d] : uniforms.unit();
                const int64_t count = cache == &own
                                          ? own.draw(law, total, events, n, u)
                                          : reader.draw_shared(*law, 0, total, events, n, u);
                ASSERT_EQ(count, tessaline::hypergeometric::invert(whole, u))
                    << "total " << total << " events " << events << " rows " << n << " draw " << d
                    << (cache == &own ? " kept" : " read");
            }
            if (cache == &reader) {
                ASSERT_EQ(std::memcmp(read.data(), law, sizeof(*law)), 0);
            }
        }
    }
}

// A column far beyond noise is settled by the chi-square bound without a
// draw; rows expecting fewer than 5 of a class, or no bound asked for, draw.
struct BoundCase {
    std::vector<int64_t> c0, c1;
    double sure_pvalue;
    bool drawn;
};

class IvPermutationBound : public ::testing::TestWithParam<BoundCase> {};

TEST_P(IvPermutationBound, SkipsTheDrawsOnlyWhereTheBoundHolds) {
    const BoundCase& c = GetParam();
    tessaline::OptimalBinningConstraints limits;
    limits.trend = tessaline::BinTrend::ascending;
    tessaline::IvPermutationOptions options;
    options.max_draws = 20;
    options.sure_pvalue = c.sure_pvalue;
    const auto test = tessaline::iv_permutation_test(c.c0.data(), c.c1.data(), c.c0.size(), nullptr,
                                                     nullptr, 0, limits, options);
    EXPECT_EQ(test.draws > 0, c.drawn);
    if (c.drawn) return;
    double rows = 0.0, events = 0.0;
    for (std::size_t i = 0; i < c.c0.size(); ++i) rows += c.c0[i] + c.c1[i], events += c.c1[i];
    const double x = test.observed_iv * events * (rows - events) / rows, df = 2.0;
    const double chernoff = std::pow(x / df, df / 2) * std::exp((df - x) / 2);
    EXPECT_NEAR(test.pvalue, chernoff, 1e-12 * chernoff);
    EXPECT_LT(test.pvalue, c.sure_pvalue);
}

INSTANTIATE_TEST_SUITE_P(Tables, IvPermutationBound,
                         ::testing::Values(BoundCase{{400, 300, 200}, {50, 100, 150}, 1e-4, false},
                                           BoundCase{{400, 300, 200}, {50, 100, 150}, 0.0, true},
                                           BoundCase{{400, 300, 6}, {50, 100, 1}, 1e-4, true},
                                           BoundCase{{400, 300, 200}, {50, 60, 45}, 1e-4, true}));

// The draws stop at the first checkpoint whose bounds the count reached
// crosses: none of a strong column's nulls reaches it, all of a flat one's.
struct StopCase {
    std::vector<int64_t> c0, c1;
    std::size_t draws, exceedances;
};

class IvPermutationStops : public ::testing::TestWithParam<StopCase> {};

TEST_P(IvPermutationStops, AtTheFirstCheckpointCrossed) {
    const StopCase& c = GetParam();
    tessaline::OptimalBinningConstraints limits;
    limits.trend = tessaline::BinTrend::ascending;
    tessaline::IvPermutationOptions options;
    options.max_draws = 100;
    options.checks = {5, 9, 20};
    options.below = {-1, 0, 0};
    options.above = {6, 3, 3};
    const auto test = tessaline::iv_permutation_test(c.c0.data(), c.c1.data(), c.c0.size(), nullptr,
                                                     nullptr, 0, limits, options);
    EXPECT_EQ(test.draws, c.draws);
    EXPECT_EQ(test.exceedances, c.exceedances);
    options.checks = {5, 5, 20};
    EXPECT_THROW(tessaline::iv_permutation_test(c.c0.data(), c.c1.data(), c.c0.size(), nullptr,
                                                nullptr, 0, limits, options),
                 std::invalid_argument);
    // One draw is a test; no draw is refused.
    options.checks.clear();
    options.below.clear();
    options.above.clear();
    options.max_draws = 1;
    EXPECT_EQ(tessaline::iv_permutation_test(c.c0.data(), c.c1.data(), c.c0.size(), nullptr,
                                             nullptr, 0, limits, options)
                  .draws,
              1u);
    options.max_draws = 0;
    EXPECT_THROW(tessaline::iv_permutation_test(c.c0.data(), c.c1.data(), c.c0.size(), nullptr,
                                                nullptr, 0, limits, options),
                 std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(Tables, IvPermutationStops,
                         ::testing::Values(StopCase{{400, 300, 200}, {50, 100, 150}, 9, 0},
                                           StopCase{{100, 100}, {100, 100}, 9, 9}));

}  // namespace

// Draws split among threads are the draws dealt one by one, for every seed
// and number of threads: on tables whose tables take the same calls each
// (large groups) and on tables whose events run out at varying groups, so
// that a thread's guess of where its share starts fails now and then.
struct ThreadCase {
    std::vector<int64_t> c0, c1;
    tessaline::BinTrend trend;
};

class IvPermutationThreads : public ::testing::TestWithParam<ThreadCase> {};

TEST_P(IvPermutationThreads, SameDrawsForAnyNumberOfThreads) {
    const ThreadCase& c = GetParam();
    tessaline::OptimalBinningConstraints limits;
    limits.trend = c.trend;
    limits.max_bins = 4;
    tessaline::IvPermutationOptions options;
    options.max_draws = 1500;
    // A stretch too short to split, then long ones; the last may stop.
    options.checks = {100, 700, 1400};
    options.below = {-1, -1, -1};
    options.above = {101, 701, 10};
    const int64_t outside_c0[] = {30}, outside_c1[] = {3};
    for (uint64_t seed = 0; seed < 12; ++seed) {
        options.seed = seed;
        options.threads = 1;
        const auto serial = tessaline::iv_permutation_test(
            c.c0.data(), c.c1.data(), c.c0.size(), outside_c0, outside_c1, 1, limits, options);
        ASSERT_GE(serial.draws, 1400u);
        for (std::size_t threads : {2, 3, 9}) {
            options.threads = threads;
            const auto split = tessaline::iv_permutation_test(
                c.c0.data(), c.c1.data(), c.c0.size(), outside_c0, outside_c1, 1, limits, options);
            EXPECT_EQ(split.draws, serial.draws) << seed << " " << threads;
            EXPECT_EQ(split.exceedances, serial.exceedances) << seed << " " << threads;
            EXPECT_EQ(split.pvalue, serial.pvalue) << seed << " " << threads;
        }
        // A test on one thread that borrows the threads its caller left idle
        // gives them all back.
        for (std::size_t idle : {1, 8}) {
            tessaline::SpareThreads spare;
            spare.give(idle);
            options.threads = 1;
            options.spare = &spare;
            const auto lent = tessaline::iv_permutation_test(
                c.c0.data(), c.c1.data(), c.c0.size(), outside_c0, outside_c1, 1, limits, options);
            options.spare = nullptr;
            EXPECT_EQ(lent.draws, serial.draws) << seed << " " << idle;
            EXPECT_EQ(lent.exceedances, serial.exceedances) << seed << " " << idle;
            EXPECT_EQ(lent.pvalue, serial.pvalue) << seed << " " << idle;
            EXPECT_GT(spare.taken(), 0u) << seed << " " << idle;
            EXPECT_EQ(spare.idle(), idle) << seed << " " << idle;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, IvPermutationThreads,
    ::testing::Values(
        ThreadCase{{400, 380, 420, 390, 410, 405},
                   {40, 45, 38, 42, 41, 44},
                   tessaline::BinTrend::ascending},
        ThreadCase{{20, 300, 8, 250, 30, 12}, {1, 2, 0, 3, 1, 0}, tessaline::BinTrend::peak},
        ThreadCase{{200, 210, 190, 220}, {30, 25, 35, 28}, tessaline::BinTrend::automatic}));

// The count of null tables reaching the observed IV is the count a plain
// search finds on the tables dealt one by one from the same generator, each
// searched whole (every shape of `all_shapes`, both of the automatic trend)
// and judged by the table's IV, the rows outside the search included: the
// bounds and the shapes the test leaves unsearched change no verdict.
struct PlainCase {
    std::vector<int64_t> c0, c1, out0, out1;
    tessaline::BinTrend trend;
    bool all_shapes;
};

double plain_searched_iv(const std::vector<double>& c0, const std::vector<double>& c1,
                         const std::vector<double>& out0, const std::vector<double>& out1,
                         tessaline::OptimalBinningConstraints limits, bool all_shapes) {
    double total0 = 0.0, total1 = 0.0, outside = 0.0;
    for (std::size_t i = 0; i < c0.size(); ++i) total0 += c0[i], total1 += c1[i];
    const double searched0 = total0, searched1 = total1;
    for (std::size_t i = 0; i < out0.size(); ++i) total0 += out0[i], total1 += out1[i];
    for (std::size_t i = 0; i < out0.size(); ++i)
        if (out0[i] + out1[i] > 0.0)
            outside += tessaline::group_woe(out0[i], out1[i], total0, total1).iv;
    using tessaline::BinTrend;
    const std::vector<BinTrend> shapes =
        all_shapes ? std::vector<BinTrend>{BinTrend::ascending, BinTrend::descending,
                                           BinTrend::peak, BinTrend::valley}
                   : std::vector<BinTrend>{limits.trend};
    double best_iv = -1.0;
    for (BinTrend shape : shapes) {
        limits.trend = shape;
        const auto best = tessaline::optimal_binning(c0.data(), c1.data(), c0.size(), limits);
        if (best.status != tessaline::OptimalBinningStatus::optimal) continue;
        double iv = 0.0;
        for (const auto& g : best.groups) iv += tessaline::group_woe(g.c0, g.c1, total0, total1).iv;
        best_iv = std::max(best_iv, iv + outside);
    }
    return best_iv >= 0.0 ? best_iv
                          : tessaline::group_woe(searched0, searched1, total0, total1).iv + outside;
}

class IvPermutationPlain : public ::testing::TestWithParam<PlainCase> {};

TEST_P(IvPermutationPlain, CountsWhatAPlainSearchOfEveryTableCounts) {
    const PlainCase& c = GetParam();
    tessaline::OptimalBinningConstraints limits;
    limits.trend = c.trend;
    limits.max_bins = 4;
    limits.min_bin_share = 0.05;
    tessaline::IvPermutationOptions options;
    options.max_draws = 300;
    options.all_shapes = c.all_shapes;
    const std::size_t k = c.c0.size(), n_out = c.out0.size();
    std::vector<int64_t> rows;
    int64_t events = 0;
    for (std::size_t i = 0; i < k; ++i) rows.push_back(c.c0[i] + c.c1[i]), events += c.c1[i];
    for (std::size_t i = 0; i < n_out; ++i)
        rows.push_back(c.out0[i] + c.out1[i]), events += c.out1[i];
    std::size_t reached_some = 0;
    for (uint64_t seed = 0; seed < 6; ++seed) {
        options.seed = seed;
        const auto test = tessaline::iv_permutation_test(c.c0.data(), c.c1.data(), k, c.out0.data(),
                                                         c.out1.data(), n_out, limits, options);
        const double reach = test.observed_iv - 1e-12 * std::fabs(test.observed_iv);
        tessaline::SplitMix64 rng(seed);
        std::size_t reached = 0;
        for (std::size_t d = 0; d < options.max_draws; ++d) {
            const auto drawn =
                tessaline::hypergeometric_table(rows.data(), rows.size(), events, rng);
            std::vector<double> s0, s1, o0, o1;
            for (std::size_t i = 0; i < k; ++i)
                s0.push_back(rows[i] - drawn[i]), s1.push_back(drawn[i]);
            for (std::size_t i = k; i < rows.size(); ++i)
                o0.push_back(rows[i] - drawn[i]), o1.push_back(drawn[i]);
            if (plain_searched_iv(s0, s1, o0, o1, limits, c.all_shapes) >= reach) ++reached;
        }
        EXPECT_EQ(test.draws, options.max_draws);
        EXPECT_EQ(test.exceedances, reached) << seed;
        reached_some += reached > 0 && reached < options.max_draws;
    }
    EXPECT_GT(reached_some, 0u);  // the tables are neither beyond nor below every null
}

INSTANTIATE_TEST_SUITE_P(Tables, IvPermutationPlain,
                         ::testing::Values(PlainCase{{90, 85, 95, 80, 92, 88, 86, 91},
                                                     {12, 18, 10, 20, 14, 16, 19, 11},
                                                     {40, 25},
                                                     {9, 2},
                                                     tessaline::BinTrend::automatic,
                                                     false},
                                           PlainCase{{90, 85, 95, 80, 92, 88},
                                                     {10, 14, 12, 18, 13, 19},
                                                     {},
                                                     {},
                                                     tessaline::BinTrend::automatic,
                                                     false},
                                           PlainCase{{60, 70, 65, 75, 62, 68, 71},
                                                     {12, 9, 15, 8, 14, 10, 11},
                                                     {35},
                                                     {6},
                                                     tessaline::BinTrend::ascending,
                                                     false},
                                           PlainCase{{60, 70, 65, 75, 62, 68, 71},
                                                     {12, 9, 15, 8, 14, 10, 11},
                                                     {35},
                                                     {6},
                                                     tessaline::BinTrend::automatic,
                                                     true}));

// Groupings already found on the observed table stand in for its search:
// the very groupings of the search give its very test, a grouping of one
// group of all the pre-bins (IV 0 with no row outside) is reached by every
// null table, and a malformed one is refused.
struct ObservedCase {
    std::vector<int64_t> c0, c1, outside_c0, outside_c1;
    tessaline::BinTrend trend;
    bool all_shapes;
};

class IvPermutationObserved : public ::testing::TestWithParam<ObservedCase> {};

TEST_P(IvPermutationObserved, GivenGroupingsAreUsedAsGiven) {
    const ObservedCase& c = GetParam();
    const std::size_t k = c.c0.size(), n_outside = c.outside_c0.size();
    tessaline::OptimalBinningConstraints limits;
    limits.trend = c.trend;
    limits.max_bins = 4;
    tessaline::IvPermutationOptions options;
    options.max_draws = 300;
    options.all_shapes = c.all_shapes;
    options.seed = 11;
    const auto test = [&] {
        return tessaline::iv_permutation_test(c.c0.data(), c.c1.data(), k, c.outside_c0.data(),
                                              c.outside_c1.data(), n_outside, limits, options);
    };
    const auto searched = test();
    const std::vector<double> d0(c.c0.begin(), c.c0.end()), d1(c.c1.begin(), c.c1.end());
    const std::vector<tessaline::BinTrend> shapes =
        c.all_shapes ? std::vector<tessaline::BinTrend>{tessaline::BinTrend::ascending,
                                                        tessaline::BinTrend::descending,
                                                        tessaline::BinTrend::peak,
                                                        tessaline::BinTrend::valley}
                     : std::vector<tessaline::BinTrend>{c.trend};
    options.has_observed = true;
    for (const auto& best : tessaline::optimal_binnings(d0.data(), d1.data(), k, limits, shapes)) {
        std::vector<std::size_t> first;
        if (best.status == tessaline::OptimalBinningStatus::optimal) {
            for (const auto& g : best.groups) first.push_back(g.first);
        }
        options.observed_firsts.push_back(first);
    }
    const auto given = test();
    EXPECT_EQ(given.observed_iv, searched.observed_iv);
    EXPECT_EQ(given.pvalue, searched.pvalue);
    EXPECT_EQ(given.draws, searched.draws);
    EXPECT_EQ(given.exceedances, searched.exceedances);

    for (auto& first : options.observed_firsts) first = {0};
    const auto one_group = test();
    EXPECT_LT(one_group.observed_iv, searched.observed_iv);
    EXPECT_GT(one_group.pvalue, searched.pvalue);
    if (n_outside == 0) {
        EXPECT_EQ(one_group.observed_iv, 0.0);
        EXPECT_EQ(one_group.exceedances, one_group.draws);
        EXPECT_EQ(one_group.pvalue, 1.0);
    }

    const auto refused = [&](std::vector<std::vector<std::size_t>> firsts, const char* message) {
        options.observed_firsts = std::move(firsts);
        try {
            test();
            ADD_FAILURE() << "accepted: " << message;
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), message);
        }
    };
    const char* shape =
        "iv_permutation_test: an observed grouping must start at pre-bin 0 and rise below the "
        "number of pre-bins";
    const std::size_t n_shapes = shapes.size();
    refused(std::vector<std::vector<std::size_t>>(n_shapes + 1, {0}),
            "iv_permutation_test: observed_firsts must hold one grouping per shape searched");
    refused(std::vector<std::vector<std::size_t>>(n_shapes, {1}), shape);
    refused(std::vector<std::vector<std::size_t>>(n_shapes, {0, 2, 2}), shape);
    refused(std::vector<std::vector<std::size_t>>(n_shapes, {0, k}), shape);
}

INSTANTIATE_TEST_SUITE_P(Tables, IvPermutationObserved,
                         ::testing::Values(ObservedCase{{90, 85, 80, 75, 70, 65},
                                                        {8, 10, 13, 16, 20, 24},
                                                        {},
                                                        {},
                                                        tessaline::BinTrend::ascending,
                                                        false},
                                           ObservedCase{{90, 85, 80, 75, 70, 65},
                                                        {8, 10, 13, 16, 20, 24},
                                                        {40},
                                                        {9},
                                                        tessaline::BinTrend::automatic,
                                                        false},
                                           ObservedCase{{60, 70, 65, 75, 62, 68, 71},
                                                        {6, 12, 20, 22, 14, 9, 5},
                                                        {35, 12},
                                                        {6, 1},
                                                        tessaline::BinTrend::automatic,
                                                        true}));
