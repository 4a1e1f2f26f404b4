#include "reference.hpp"

namespace {

using namespace ref;

TessalineParams params(int64_t minobs = 0, int32_t monotonicity = 0, int32_t mono_dir = 0,
                       double alpha = 1.0, double beta = 1.0, bool force = false) {
    TessalineParams p;
    p.alpha_pos = alpha, p.beta_struct = beta, p.minobs = minobs;
    p.mono_dir = mono_dir, p.monotonicity = monotonicity, p.force_first_split = force;
    return p;
}
SplitResult evaluate(const std::vector<Boundary>& B, std::size_t L, std::size_t R,
                     const TessalineParams& p) {
    return evaluate_segment(B, make_segment(B, L, R), p);
}
SortedView view_of(const Values& x, const std::vector<int32_t>& y) { return {x.data(), y.data(), x.size()}; }

// Tables of x = 1..4 with labels 0,0,1,1, and of x = 1..3 with labels 0,1,0.
const std::vector<Boundary> kRising{{1, 0, 0}, {2.5, 2, 0}, {4, 2, 2}};
const std::vector<Boundary> kTie{{1, 0, 0}, {1.5, 1, 0}, {2.5, 1, 1}, {3, 2, 1}};

TEST(EvaluateSegment, WorkedExamplesAndNothingToEvaluate) {
    const Segment s = make_segment(kTie, 1, 3);
    EXPECT_EQ((std::vector<int64_t>{int64_t(s.L), int64_t(s.R), s.c0_start, s.c1_start, s.c0_seg, s.c1_seg}),
              (std::vector<int64_t>{1, 3, 1, 0, 1, 1}));
    for (const auto& [L, R] : {std::pair<std::size_t, std::size_t>{2, 2}, {3, 1}, {0, 4}}) {
        const Segment bad = make_segment(kTie, L, R);
        EXPECT_TRUE(bad.L == L && bad.R == R && (bad.c0_start | bad.c1_start | bad.c0_seg | bad.c1_seg) == 0);
    }
    const TessalineParams p = params();
    EXPECT_EQ(digest(evaluate(kRising, 0, 2, p)),
              digest(SplitResult{true, true, 2.5, 1.0, 0.396240625180289, 0.20183873051440104,
                                 0.5980793556946901, 1}));
    EXPECT_EQ(std::log2(3.0) / 4.0, 0.396240625180289);
    // A tie goes to the lowest row; here it is rejected.
    EXPECT_EQ(digest(evaluate(kTie, 0, 3, p)),
              digest(SplitResult{false, true, 1.5, 0.2516291673878229, 1.0 / 3.0,
                                 0.9902544179828751, 1.3235877513162084, 1}));
    // Zero weights accept any candidate with a positive gain.
    EXPECT_TRUE(evaluate(kTie, 0, 3, params(0, 0, 0, 0.0, 0.0)).found);
    const Digest nothing = digest(SplitResult{});
    EXPECT_EQ(digest(evaluate(kTie, 0, 3, params(1))), nothing);  // no side above minobs
    EXPECT_EQ(digest(evaluate(kTie, 0, 1, p)), nothing);           // no inner row
    EXPECT_EQ(digest(evaluate(kTie, 2, 2, p)), nothing);           // L >= R
    EXPECT_EQ(digest(evaluate(kTie, 3, 1, p)), nothing);
    EXPECT_EQ(digest(evaluate(kTie, 0, 4, p)), nothing);           // R beyond the table
    EXPECT_EQ(digest(evaluate({}, 0, 1, p)), nothing);
    EXPECT_EQ(digest(evaluate({{1, 0, 0}, {2, 1, 0}, {3, 1, 0}}, 0, 2, p)), nothing);  // one record
    // A segment built by hand for another table is still bounds-checked.
    EXPECT_EQ(digest(evaluate_segment(kTie, Segment{0, 9, 0, 0, 2, 2}, p)), nothing);
}

TEST(EvaluateSegment, DirectionFilterOnEqualAndUndefinedRates) {
    // Equal rates on both sides pass in either direction (gain 0, rejected).
    const std::vector<Boundary> even{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}};
    for (int32_t dir : {-1, 1}) {
        const SplitResult r = evaluate(even, 0, 2, params(0, 1, dir));
        EXPECT_TRUE(r.has_candidate && !r.found && r.gain == 0.0);
    }
    // With a negative minobs a side may be empty: its rate is 0/0 and the
    // comparison fails, so the filter drops the row; unfiltered it stands.
    const std::vector<Boundary> empty_left{{0, 0, 0}, {1, 0, 0}, {2, 1, 1}};
    EXPECT_FALSE(evaluate(empty_left, 0, 2, params(-1, 3, 1)).has_candidate);
    EXPECT_TRUE(evaluate(empty_left, 0, 2, params(-1, 2, 1)).has_candidate);
}

TEST(ComputeSplits, WorkedExamples) {
    // x = 1..50 with labels in blocks of 5 zeros, 20 ones, 20 zeros, 5 ones.
    Values x;
    std::vector<int32_t> y;
    for (int i = 1; i <= 50; ++i) x.push_back(i), y.push_back((i <= 5 || (i > 25 && i <= 45)) ? 0 : 1);
    const auto B = compute_boundaries(view_of(x, y));
    ASSERT_EQ(B.size(), 5u);
    EXPECT_TRUE(B[1].pto_corte == 5.5 && B[2].pto_corte == 25.5 && B[3].pto_corte == 45.5);
    for (bool force : {false, true}) {  // an accepted root is never forced
        const auto log = compute_splits(B, params(0, 0, 0, 1.0, 1.0, force));
        ASSERT_EQ(log.size(), 3u);
        const double want[3][4] = {{2, 25.5, 0.278072, 0.186196}, {1, 5.5, 0.721928, 0.237938},
                                   {3, 45.5, 0.721928, 0.237938}};
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_TRUE(log[k].found && double(log[k].idx) == want[k][0] && log[k].pto == want[k][1]);
            EXPECT_NEAR(log[k].gain, want[k][2], 5e-7);
            EXPECT_NEAR(log[k].cost, want[k][3], 5e-7);
        }
        EXPECT_EQ(digest(mdlp(view_of(x, y), params(0, 0, 0, 1.0, 1.0, force))), digest(log));
    }
    EXPECT_TRUE(compute_splits({}, params()).empty());
    EXPECT_TRUE(compute_splits({{1, 0, 0}}, params()).empty());
    EXPECT_TRUE(compute_splits({{1, 0, 0}, {1, 3, 1}}, params()).empty());
    EXPECT_TRUE(mdlp(SortedView{nullptr, nullptr, 0}, params()).empty());
    // A rejected single root is forced; its halves are not searched.
    const auto forced = compute_splits(kTie, params(0, 0, 0, 1.0, 1.0, true));
    ASSERT_EQ(forced.size(), 1u);
    EXPECT_TRUE(forced[0].found && forced[0].idx == 1u);
}

TEST(MdlpFull, WorkedExampleAndCutBetweenAdjacentDoubles) {
    const Values x{1, 2, 3, 4};
    const std::vector<int32_t> y{0, 0, 1, 1};
    const MdlpFullResult r = mdlp_full(view_of(x, y), params());
    EXPECT_EQ(digest(r.summary), digest(std::vector<SummaryInterval>{{-kInf, 2.5, 2, 0, 2, 0.0},
                                                                     {2.5, kInf, 0, 2, 2, 1.0}}));
    // The midpoint of these two adjacent doubles rounds onto the upper one;
    // the cut must still leave the first record in the first interval.
    const double lo = std::nextafter(1.0, 2.0);
    const Values xa{lo, std::nextafter(lo, 2.0)};
    const std::vector<int32_t> ya{0, 1};
    EXPECT_EQ(digest(mdlp_full(view_of(xa, ya), params(0, 0, 0, 0.0, 0.0)).summary),
              digest(std::vector<SummaryInterval>{{-kInf, lo, 1, 0, 1, 0.0}, {lo, kInf, 0, 1, 1, 1.0}}));
}

struct RandomCase {
    Values x;
    std::vector<int32_t> y;
};

RandomCase random_case(std::mt19937_64& rng) {
    RandomCase c;
    const std::size_t n = rng() % 8 == 0 ? rng() % 400 : rng() % 70;
    const std::size_t distinct = 1 + rng() % 40;  // few distinct values: many ties
    for (std::size_t i = 0; i < n; ++i) c.x.push_back(double(rng() % distinct) * 0.5 - 4.0);
    std::sort(c.x.begin(), c.x.end());
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const int style = int(rng() % 3);
    const double p1 = u(rng), edge = u(rng) * 4.0 - 6.0;
    for (std::size_t i = 0; i < n; ++i) {
        double p = p1;
        if (style == 1) p = std::fmod(std::floor((c.x[i] + 4.0) / 3.0), 2.0) == 0 ? 0.05 : 0.95;
        if (style == 2) p = 1.0 / (1.0 + std::exp(-3.0 * (c.x[i] - edge - 4.0)));
        c.y.push_back(u(rng) < p ? (rng() % 10 == 0 ? 2 : 1) : 0);  // 2 is class 1 too
    }
    // Sometimes put label 0 first inside each run of equal values, as the
    // preprocessing does; otherwise keep the random order.
    if (rng() % 2 == 0) {
        const auto order = stable_order(n, [](std::size_t) { return true; }, [&](std::size_t a, std::size_t b) {
            return c.x[a] < c.x[b] || (c.x[a] == c.x[b] && c.y[a] < c.y[b]);
        });
        RandomCase s;
        for (std::size_t i : order) s.x.push_back(c.x[i]), s.y.push_back(c.y[i]);
        return s;
    }
    return c;
}

// The intervals cover the line in order and hold exactly the records whose
// value lies in (left, right].
void expect_intervals_match_records(const MdlpFullResult& r, const RandomCase& c) {
    ASSERT_EQ(r.summary.empty(), c.x.empty());
    if (c.x.empty()) return;
    EXPECT_TRUE(r.summary.front().left == -kInf && r.summary.back().right == kInf);
    for (std::size_t k = 0; k < r.summary.size(); ++k) {
        const auto& s = r.summary[k];
        EXPECT_TRUE(k == 0 || s.left == r.summary[k - 1].right);
        int64_t c0 = 0, c1 = 0;
        for (std::size_t i = 0; i < c.x.size(); ++i) {
            if (s.left < c.x[i] && c.x[i] <= s.right) (c.y[i] == 0 ? c0 : c1) += 1;
        }
        EXPECT_EQ(digest(s), digest(SummaryInterval{s.left, s.right, c0, c1, c0 + c1,
                                                    c0 + c1 > 0 ? double(c1) / double(c0 + c1) : 0.0}));
    }
}

TEST(MdlpDifferential, SameLogAsRecursiveReference) {
    std::mt19937_64 rng(20240611);
    const double weights[] = {0.0, 0.5, 1.0, 2.0};
    const int32_t dirs[] = {-1, 0, 1, -9, 9};  // only the sign of a direction counts
    std::size_t accepted = 0, longest = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const RandomCase c = random_case(rng);
        for (int variant = 0; variant < 3; ++variant) {
            const TessalineParams p = params(int64_t(rng() % 6), int32_t(rng() % 4), dirs[rng() % 5],
                                             weights[rng() % 4], weights[rng() % 4], rng() % 4 == 0);
            SCOPED_TRACE(testing::Message() << "trial " << trial << " n " << c.x.size() << " minobs "
                                            << p.minobs << " mode " << p.monotonicity << " dir " << p.mono_dir
                                            << " alpha " << p.alpha_pos << " beta " << p.beta_struct
                                            << " force " << p.force_first_split);
            const auto want = Search(c.x, c.y, p).run();
            const MdlpFullResult got = mdlp_full(view_of(c.x, c.y), p);
            ASSERT_EQ(digest(got.mdlp), digest(want));
            std::size_t found = 0;
            for (const auto& e : want) found += e.found;
            EXPECT_LE(want.size(), 2 * found + 1);
            expect_intervals_match_records(got, c);
            accepted += found;
            longest = std::max(longest, want.size());
        }
    }
    // The random cases reach deep split trees, not just single roots.
    EXPECT_GT(accepted, 500u);
    EXPECT_GE(longest, 10u);
}

// Long tables: the split search passes over ranges of rows that cannot beat
// the best row, so it must log exactly what a search scoring every row logs.
std::vector<SplitResult> every_row_search(const std::vector<Boundary>& B, const TessalineParams& p) {
    std::vector<SplitResult> log;
    std::vector<std::pair<std::size_t, std::size_t>> pending{{0, B.size() - 1}};
    while (!pending.empty()) {
        const auto [L, R] = pending.back();
        pending.pop_back();
        if (L + 1 >= R) continue;
        log.push_back(evaluate(B, L, R, p));
        if (log.back().found) pending.emplace_back(log.back().idx, R), pending.emplace_back(L, log.back().idx);
    }
    if (p.force_first_split && log.size() == 1 && log[0].has_candidate) log[0].found = true;
    return log;
}

TEST(ComputeSplits, LongTablesLogWhatEveryRowScanLogs) {
    std::mt19937_64 rng(20261206);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::size_t deep = 0;
    for (int trial = 0; trial < 60; ++trial) {
        // Labels follow a smooth curve (style 0), repeat a short pattern so
        // that many rows score exactly alike (style 1), or are noise (style 2).
        const int style = trial % 3;
        const std::size_t n = 500 + rng() % 20000, period = 2 + rng() % 5;
        Values x(n);
        std::vector<int32_t> y(n);
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = double(i / (1 + rng() % 3));
            const double p1 = 1.0 / (1.0 + std::exp(-8.0 * (double(i) / double(n) - 0.4)));
            y[i] = style == 0 ? u(rng) < p1 : style == 1 ? (i % period) * 2 < period : u(rng) < 0.3;
        }
        const auto B = compute_boundaries(view_of(x, y));
        const TessalineParams p = params(int64_t(rng() % 40), int32_t(rng() % 4), int32_t(rng() % 3) - 1,
                                         (rng() % 4) * 0.5, (rng() % 3) * 0.5, rng() % 4 == 0);
        SCOPED_TRACE(testing::Message() << "trial " << trial << " rows " << B.size());
        const auto want = every_row_search(B, p);
        ASSERT_EQ(digest(compute_splits(B, p)), digest(want));
        deep += want.size() >= 15;
    }
    EXPECT_GE(deep, 10u);
}

// ------------------------------------------------------------ from raw data

MdlpFullRawResult fit(const Values& x, const Values& y, TessalineParams p = params(),
                      SummaryStatistic stat = SummaryStatistic::Median) {
    return fit_mdlp_full_from_raw(x.data(), y.data(), x.size(), p, std::nullopt, 50.0, stat);
}

TEST(MdlpFullRaw, WorkedExamplesAndDegenerateInputs) {
    const MdlpFullRawResult r = fit({1, 2, 3, 4, kNaN}, {0, 0, 1, 1, 1});
    ASSERT_EQ(r.mdlp.size(), 1u);
    EXPECT_TRUE(r.mdlp[0].found && r.mdlp[0].idx == 1u && r.intervals.size() == 2u);
    EXPECT_EQ(digest(r.summary), digest(std::vector<BinningSummary>{{-kInf, 2.5, 2, 0.4, 2, 0, 0.0, 1.5},
                                                                    {2.5, kInf, 2, 0.4, 0, 2, 1.0, 3.5},
                                                                    {kNaN, kNaN, 1, 0.2, 0, 1, 1.0, kNaN}}));
    EXPECT_TRUE(r.n_input == 5 && r.n_used == 4 && r.n_missing_x == 1 && r.target_was_binary);
    const MdlpFullRawResult only_missing = fit({kNaN, kNaN}, {0, 1});
    EXPECT_TRUE(only_missing.mdlp.empty());
    EXPECT_EQ(digest(only_missing.summary), digest(std::vector<BinningSummary>{{kNaN, kNaN, 2, 1.0, 1, 1, 0.5, kNaN}}));
    const MdlpFullRawResult nothing = fit({kInf, kNaN}, {1, kNaN});
    EXPECT_TRUE(nothing.summary.empty() && nothing.n_non_finite == 1 && nothing.n_missing_both == 1);
    EXPECT_EQ(digest(fit({1, 2, 3}, {0, 1, 0}, params(), SummaryStatistic::Mean).summary),
              digest(std::vector<BinningSummary>{{-kInf, kInf, 3, 1.0, 2, 1, 1.0 / 3.0, 2.0}}));
}

// The raw pipelines give the log of the search on the prepared records, and a
// summary that is the plain grouping of the kept records by the found cuts.
TEST(MdlpFullRaw, MatchesThePreparedSearchAndPlainGrouping) {
    std::mt19937_64 rng(11);
    for (int trial = 0; trial < 40; ++trial) {
        Values x = messy_sample(rng, 50 + rng() % 3000, 1 + int(rng() % 30)), y(x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            y[i] = rng() % 50 == 0 ? kNaN : double(rng() % 100 < (is_finite(x[i]) && x[i] > 0 ? 70u : 30u));
        }
        const TessalineParams p = params(int64_t(rng() % 5), int32_t(rng() % 4), int32_t(rng() % 3) - 1, 0.5, 0.5);
        const auto stat = rng() % 2 ? SummaryStatistic::Mean : SummaryStatistic::Median;
        const PreprocessResult prepared = preprocess_data(x.data(), y.data(), x.size(), std::nullopt, 50.0);
        const MdlpFullResult want = mdlp_full(view_of(prepared.x, prepared.y), p);
        const MdlpFullRawResult got = fit(x, y, p, stat);
        EXPECT_EQ(digest(got.mdlp), digest(want.mdlp));
        EXPECT_EQ(digest(got.intervals), digest(want.summary));
        EXPECT_EQ((std::vector<std::size_t>{got.n_input, got.n_used, got.n_missing_x, got.n_missing_y,
                                            got.n_missing_both, got.n_non_finite}),
                  (std::vector<std::size_t>{prepared.n_input, prepared.n_used, prepared.n_missing_x,
                                            prepared.n_missing_y, prepared.n_missing_both, prepared.n_non_finite}));
        // The kept records in their prepared order, so that means add up alike.
        Values cuts, kept_x = prepared.x;
        std::vector<int> kept_y(prepared.y.begin(), prepared.y.end());
        for (std::size_t k = 0; k + 1 < want.summary.size(); ++k) cuts.push_back(want.summary[k].right);
        for (std::size_t i = 0; i < prepared.missing_count; ++i) kept_x.push_back(kNaN), kept_y.push_back(i < prepared.missing_c1);
        EXPECT_EQ(digest(got.summary), digest(binary_summary(kept_x, kept_y, cuts, stat))) << trial;
    }
}

TEST(FitMdlpFromRaw, SameLogAsOnPreparedData) {
    std::mt19937_64 rng(11);
    Values x(500), y(500);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = double(rng() % 200) / 8.0;
        y[i] = x[i] + double(rng() % 100) / 10.0;  // continuous target
    }
    x[3] = kNaN;
    const TessalineParams p = params(2, 0, 0, 0.5, 0.5);
    const auto prepared = preprocess_data(x.data(), y.data(), x.size(), 15.0, 50.0);
    const auto want = mdlp(view_of(prepared.x, prepared.y), p);
    ASSERT_GT(want.size(), 1u);
    EXPECT_EQ(digest(fit_mdlp_from_raw(x.data(), y.data(), x.size(), p, 15.0, 50.0)), digest(want));
}

// Neighbouring doubles and values near the largest double used to give cuts
// that did not separate their two records; every record must still be counted.
TEST(MdlpFullRaw, AdjacentAndHugeValuesKeepCountsConsistent) {
    const double big = std::numeric_limits<double>::max();
    for (double start : {1.0, big / 2, -big, 4.9e-324}) {
        Values x, y;
        for (int i = 0; i < 64; ++i, start = std::nextafter(start, kInf)) x.push_back(start), y.push_back(i % 2);
        const MdlpFullRawResult r = fit(x, y, params(0, 0, 0, 0.0, 0.0));
        std::size_t total = 0;
        for (const BinningSummary& row : r.summary) total += row.count;
        EXPECT_EQ(total, x.size()) << start;
        EXPECT_GT(r.summary.size(), 1u) << start;
    }
}

}  // namespace
