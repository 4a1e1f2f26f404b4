#include <cfloat>

#include "reference.hpp"

namespace {

using namespace ref;

// Fields in order: alpha_pos, beta_struct, minobs, mono_dir, monotonicity, force_first_split.
using Params = TessalineParams;
SplitResult evaluate(const std::vector<Boundary>& B, std::size_t L, std::size_t R,
                     const TessalineParams& p) {
    return evaluate_segment(B, make_segment(B, L, R), p);
}
SortedView view_of(const Values& x, const std::vector<int32_t>& y) {
    return {x.data(), y.data(), x.size()};
}

// The table of x = 1..3 with labels 0,1,0.
const std::vector<Boundary> kTie{{1, 0, 0}, {1.5, 1, 0}, {2.5, 1, 1}, {3, 2, 1}};

TEST(EvaluateSegment, WorkedExamplesFiltersAndNothingToEvaluate) {
    const TessalineParams p = Params{};
    // A tie goes to the lowest row; here it is rejected.
    EXPECT_EQ(digest(evaluate(kTie, 0, 3, p)),
              digest(SplitResult{false, true, 1.5, 0.2516291673878229, 1.0 / 3.0,
                                 0.9902544179828751, 1.3235877513162084, 1}));
    // Zero weights accept any candidate with a positive gain.
    EXPECT_TRUE(evaluate(kTie, 0, 3, Params{0.0, 0.0}).found);
    // No side above minobs, no inner row, L >= R, R beyond the table, no table, one record.
    EXPECT_EQ(digest(evaluate(kTie, 0, 3, Params{1.0, 1.0, 1})), digest(SplitResult{}));
    const std::tuple<std::vector<Boundary>, std::size_t, std::size_t> nothing[] = {
        {kTie, 0, 1}, {kTie, 2, 2}, {kTie, 3, 1},
        {kTie, 0, 4}, {{}, 0, 1},   {{{1, 0, 0}, {2, 1, 0}, {3, 1, 0}}, 0, 2}};
    for (const auto& [B, L, R] : nothing) {
        const Segment bad = make_segment(B, L, R);
        EXPECT_TRUE(bad.L == L && bad.R == R &&
                    ((L < R && R < B.size()) ||
                     (bad.c0_start | bad.c1_start | bad.c0_seg | bad.c1_seg) == 0));
        EXPECT_EQ(digest(evaluate(B, L, R, p)), digest(SplitResult{})) << L << R;
    }
    // A segment built by hand for another table is still bounds-checked.
    EXPECT_EQ(digest(evaluate_segment(kTie, Segment{0, 9, 0, 0, 2, 2}, p)), digest(SplitResult{}));
    // Equal rates on both sides pass in either direction (gain 0, rejected).
    const std::vector<Boundary> even{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}};
    for (int32_t dir : {-1, 1})
        EXPECT_TRUE(evaluate(even, 0, 2, Params{1.0, 1.0, 0, dir, 1}).has_candidate);
    // With a negative minobs a side may be empty: its rate is 0/0 and the
    // comparison fails, so the filter drops the row; unfiltered it stands.
    const std::vector<Boundary> empty_left{{0, 0, 0}, {1, 0, 0}, {2, 1, 1}};
    EXPECT_FALSE(evaluate(empty_left, 0, 2, Params{1.0, 1.0, -1, 1, 3}).has_candidate);
    EXPECT_TRUE(evaluate(empty_left, 0, 2, Params{1.0, 1.0, -1, 1, 2}).has_candidate);
}

TEST(ComputeSplits, WorkedExamplesAndNothingToSplit) {
    // x = 1..50 with labels in blocks of 5 zeros, 20 ones, 20 zeros, 5 ones.
    Values x;
    std::vector<int32_t> y;
    for (int i = 1; i <= 50; ++i)
        x.push_back(i), y.push_back((i <= 5 || (i > 25 && i <= 45)) ? 0 : 1);
    for (bool force : {false, true}) {  // an accepted root is never forced
        Values cuts;
        for (const SplitResult& e : mdlp(view_of(x, y), Params{1.0, 1.0, 0, 0, 0, force}))
            cuts.push_back(e.found ? e.pto : kNaN);
        EXPECT_EQ(cuts, (Values{25.5, 5.5, 45.5}));
    }
    EXPECT_TRUE(compute_splits({}, Params{}).empty() &&
                compute_splits({{1, 0, 0}}, Params{}).empty() &&
                compute_splits({{1, 0, 0}, {1, 3, 1}}, Params{}).empty() &&
                mdlp({nullptr, nullptr, 0}, Params{}).empty());
    // The midpoint of these two adjacent doubles rounds onto the upper one;
    // the cut must still leave the first record in the first interval.
    const double lo = std::nextafter(1.0, 2.0);
    const Values xa{lo, std::nextafter(lo, 2.0)};
    EXPECT_EQ(
        digest(mdlp_full(view_of(xa, {0, 1}), Params{0.0, 0.0}).summary),
        digest(std::vector<SummaryInterval>{{-kInf, lo, 1, 0, 1, 0.0}, {lo, kInf, 0, 1, 1, 1.0}}));
}

// ------------------------------------------------------ boundary table

// Whole tables are checked against the plain one in the split search below;
// here the cut of the single inner row of a two-record table with distinct labels.
double cut_of(double lower, double upper) {
    const double x[] = {lower, upper};
    const int32_t y[] = {0, 1};
    const auto B = compute_boundaries(SortedView{x, y, 2});
    EXPECT_EQ(B.size(), 3u);
    return B.size() == 3 ? B[1].pto_corte : kNaN;
}

TEST(BoundaryCut, MidpointUnlessItFailsToSeparate) {
    // The sum of two adjacent doubles whose lower one has an odd last bit
    // rounds up to even: their midpoint lands on the upper value.
    const double odd = std::nextafter(1.0, 2.0), below_max = std::nextafter(DBL_MAX, 0.0);
    ASSERT_EQ((odd + std::nextafter(odd, 2.0)) * 0.5, std::nextafter(odd, 2.0));
    std::vector<std::pair<double, double>> pairs = {
        {1.0, 2.0},       {-3.0, 5.0},  {0.1, 0.2},      {-7.25, -7.0},
        {1e-300, 3e-300}, {0.0, 1e-10}, {-1e308, 1e308}, {123456.789, 123456.790}};
    for (double v : {odd, 1.0, 0.1, -1.0, 1e300, -1e-300, 0.0, DBL_MIN, 3.0e15, DBL_TRUE_MIN,
                     4503599627370497.0}) {
        pairs.emplace_back(v, std::nextafter(v, kInf));
    }
    // A finite plain midpoint is the cut when it lies below the upper value;
    // otherwise the lower value is.
    for (const auto& [lo, hi] : pairs)
        EXPECT_EQ(cut_of(lo, hi), (lo + hi) * 0.5 < hi ? (lo + hi) * 0.5 : lo) << lo;
    const double exact[][3] = {
        // Large values do not overflow.
        {DBL_MAX * 0.5, DBL_MAX, DBL_MAX * 0.25 + DBL_MAX * 0.5},
        {-DBL_MAX, -DBL_MAX * 0.75, -DBL_MAX * 0.5 + -DBL_MAX * 0.375},
        // Only the unchecked sorted path hands these in: pairs that are not
        // ascending keep the plain midpoint, infinities stay below the upper value.
        {3.0, 1.0, 2.0},
        {DBL_MAX, DBL_MAX * 0.75, kInf},
        {kNaN, 1.0, kNaN},
        {1.0, kInf, 1.0},
        {-kInf, 1.0, -kInf}};
    for (const auto& c : exact)
        EXPECT_EQ(digest(cut_of(c[0], c[1])), digest(c[2])) << c[0] << " " << c[1];
    for (const auto& [lo, hi] : {std::pair<double, double>{below_max, DBL_MAX},
                                 {-DBL_MAX, -below_max},
                                 {1e308, 1.5e308},
                                 {-1.7e308, -1.6e308}}) {
        const double cut = cut_of(lo, hi);
        EXPECT_TRUE(std::isfinite(cut) && lo <= cut && cut < hi) << lo << " " << hi;
    }
}

// Tables from raw data are the tables of the prepared records (checked beside
// the raw split search); nothing to prepare gives none, a bad percentile fails.
TEST(BoundariesFromRaw, EmptyAndFailing) {
    EXPECT_TRUE(compute_boundaries_from_raw(nullptr, nullptr, 0, std::nullopt, 50.0).empty());
    const Values x{3, kNaN, 1}, y{0.5, 2.0, 7.0};
    EXPECT_EQ(message_of(
                  [&] { compute_boundaries_from_raw(x.data(), y.data(), 3, std::nullopt, 101.0); }),
              "preprocess_data: percentile debe estar entre 0 y 100");
}

// ---------------------------------------------------------- split search

// Sorted records on a coarse grid (many ties; one record or none at times),
// labels 0, 1 or 2 (class 1 too, yet a change of label) at a constant rate, in
// alternating blocks or along a logistic edge; half of the cases put label 0
// first inside each run of equal values, as the preprocessing does.
std::pair<Values, std::vector<int32_t>> random_case(std::mt19937_64& rng) {
    const std::size_t n = rng() % 8 == 0 ? rng() % 400 : rng() % 70, distinct = 1 + rng() % 40;
    Values x;
    std::vector<int32_t> y;
    for (std::size_t i = 0; i < n; ++i) x.push_back(double(rng() % distinct) * 0.5 - 4.0);
    std::sort(x.begin(), x.end());
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const int style = int(rng() % 3);
    const double p1 = u(rng), edge = u(rng) * 4.0 - 6.0;
    for (double v : x) {
        const double blocks = std::fmod(std::floor((v + 4.0) / 3.0), 2.0) == 0 ? 0.05 : 0.95;
        const double p = style == 0   ? p1
                         : style == 1 ? blocks
                                      : 1.0 / (1.0 + std::exp(-3.0 * (v - edge - 4.0)));
        y.push_back(u(rng) < p ? (rng() % 10 == 0 ? 2 : 1) : 0);
    }
    const bool zeros_first = rng() % 2 == 0;
    for (std::size_t lo = 0, hi = 0; zeros_first && lo < n; lo = hi) {
        while (hi < n && x[hi] == x[lo]) ++hi;
        std::stable_sort(y.begin() + std::ptrdiff_t(lo), y.begin() + std::ptrdiff_t(hi));
    }
    return {x, y};
}

// Long sorted tables whose labels follow a smooth curve, repeat a short
// pattern so that many rows score exactly alike, or are noise: the search
// passes over ranges of rows that cannot beat the best row, and must log
// exactly what scoring every row logs.
std::pair<Values, std::vector<int32_t>> long_case(std::mt19937_64& rng, int style) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const std::size_t n = 500 + rng() % 20000, period = 2 + rng() % 5;
    Values x(n);
    std::vector<int32_t> y(n);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = double(i / (1 + rng() % 3));
        const double p1 = 1.0 / (1.0 + std::exp(-8.0 * (double(i) / double(n) - 0.4)));
        y[i] = style == 0 ? u(rng) < p1 : style == 1 ? (i % period) * 2 < period : u(rng) < 0.3;
    }
    std::sort(x.begin(), x.end());
    return {x, y};
}

TEST(MdlpDifferential, SameLogAsRecursiveReference) {
    std::mt19937_64 rng(20240611);
    const double weights[] = {0.0, 0.5, 1.0, 2.0};
    const int32_t dirs[] = {-1, 0, 1, -9, 9};  // only the sign of a direction counts
    std::size_t accepted = 0, deep = 0;
    for (int trial = 0; trial < 445; ++trial) {
        const auto [x, y] = trial < 45 ? long_case(rng, trial % 3) : random_case(rng);
        for (int variant = 0; variant < 3; ++variant) {
            const TessalineParams p = Params{
                weights[rng() % 4], weights[rng() % 4], int64_t(rng() % (trial < 45 ? 40 : 6)),
                dirs[rng() % 5],    int32_t(rng() % 4), rng() % 4 == 0};
            SCOPED_TRACE(testing::Message() << "trial " << trial << " variant " << variant);
            Search reference(x, y, p);
            const auto B = compute_boundaries(view_of(x, y));
            if (variant == 0) {
                EXPECT_EQ(digest(B), digest(reference.table()));
            }
            for (std::size_t k = 1; k < B.size(); ++k)
                EXPECT_TRUE(B[k].c0 >= B[k - 1].c0 && B[k].c1 >= B[k - 1].c1) << k;
            const auto want = reference.run();
            // Each range scored alone, every row of it, gives the same entry.
            for (std::size_t k = 0; k < want.size(); ++k) {
                SplitResult alone =
                    evaluate(B, reference.ranges[k].first, reference.ranges[k].second, p);
                alone.found = alone.found || (want.size() == 1 && p.force_first_split &&
                                              alone.has_candidate);  // forced
                ASSERT_EQ(digest(alone), digest(want[k])) << k;
            }
            const MdlpFullResult got = mdlp_full(view_of(x, y), p);
            ASSERT_EQ(digest(got.mdlp), digest(want));
            // The intervals are the plain grouping of the records by the accepted cuts.
            Values cuts;
            for (const auto& e : want)
                if (e.found) cuts.push_back(e.pto);
            std::sort(cuts.begin(), cuts.end());
            std::vector<SummaryInterval> intervals;
            for (const auto& r : binary_summary(x, y, cuts, SummaryStatistic::Mean)) {
                intervals.push_back({r.left, r.right, int64_t(r.c0), int64_t(r.c1),
                                     int64_t(r.count), r.event_rate});
            }
            EXPECT_EQ(digest(got.summary),
                      digest(x.empty() ? std::vector<SummaryInterval>{} : intervals));
            EXPECT_LE(want.size(), 2 * cuts.size() + 1);
            accepted += cuts.size(), deep += trial < 45 && want.size() >= 15;
        }
    }
    // The random cases reach deep split trees, not just single roots.
    EXPECT_TRUE(accepted > 500u && deep >= 10u) << accepted << " " << deep;
}

// ------------------------------------------------------------ from raw data

TEST(MdlpFullRaw, WorkedExamplesAndThePreparedSearch) {
    const auto fit = [](const Values& x, const Values& y) {
        return digest(fit_mdlp_full_from_raw(x.data(), y.data(), x.size(), Params{}, std::nullopt,
                                             50.0, SummaryStatistic::Median)
                          .summary);
    };
    EXPECT_EQ(fit({1, 2, 3, 4, kNaN}, {0, 0, 1, 1, 1}),
              digest(std::vector<BinningSummary>{{-kInf, 2.5, 2, 0.4, 2, 0, 0.0, 1.5},
                                                 {2.5, kInf, 2, 0.4, 0, 2, 1.0, 3.5},
                                                 {kNaN, kNaN, 1, 0.2, 0, 1, 1.0, kNaN}}));
    EXPECT_EQ(fit({kNaN, kNaN}, {0, 1}),
              digest(std::vector<BinningSummary>{{kNaN, kNaN, 2, 1.0, 1, 1, 0.5, kNaN}}));
    EXPECT_EQ(fit({kInf, kNaN}, {1, kNaN}), digest(std::vector<BinningSummary>{}));
    // The raw pipelines give the search on the prepared records, their counters,
    // and a summary that is the plain grouping of the kept records by the cuts.
    // The last cases hold neighbouring doubles and values near the largest one,
    // whose cuts once failed to separate their two records.
    std::mt19937_64 rng(11);
    const double starts[] = {1.0, DBL_MAX / 2, -DBL_MAX, DBL_TRUE_MIN};
    for (int trial = 0; trial < 64; ++trial) {
        Values x = messy_sample(rng, trial < 60 ? 50 + rng() % 3000 : 0, 1 + int(rng() % 30)),
               y(x.size());
        for (double v = starts[trial % 4]; trial >= 60 && x.size() < 64;
             v = std::nextafter(v, kInf))
            x.push_back(v);
        y.resize(x.size());
        // A 0/1 target, or a continuous one cut at a fixed value or at a percentile.
        const int style = trial < 60 ? trial % 3 : 0;
        const std::optional<double> value = style == 1 ? std::optional<double>(0.5) : std::nullopt;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double t = trial >= 60
                                 ? double(i % 2)
                                 : double(rng() % 100 < (is_finite(x[i]) && x[i] > 0 ? 70u : 30u));
            y[i] = rng() % 50 == 0 && trial < 60 ? kNaN
                   : style == 0                  ? t
                                                 : t + double(rng() % 7) * 0.1;
        }
        const TessalineParams p = trial >= 60 ? Params{0.0, 0.0}
                                              : Params{0.5, 0.5, int64_t(rng() % 5),
                                                       int32_t(rng() % 3) - 1, int32_t(rng() % 4)};
        const auto stat = rng() % 2 ? SummaryStatistic::Mean : SummaryStatistic::Median;
        const PreprocessResult prep = preprocess_data(x.data(), y.data(), x.size(), value, 40.0);
        const MdlpFullResult want = mdlp_full(view_of(prep.x, prep.y), p);
        const MdlpFullRawResult got =
            fit_mdlp_full_from_raw(x.data(), y.data(), x.size(), p, value, 40.0, stat);
        EXPECT_EQ(digest(got.mdlp, got.intervals), digest(want.mdlp, want.summary));
        EXPECT_EQ(digest(fit_mdlp_from_raw(x.data(), y.data(), x.size(), p, value, 40.0)),
                  digest(want.mdlp));
        EXPECT_EQ(digest(compute_boundaries_from_raw(x.data(), y.data(), x.size(), value, 40.0)),
                  digest(compute_boundaries(view_of(prep.x, prep.y))));
        const auto outcome = [](const auto& r) {
            return digest(std::vector<uint64_t>{r.n_input, r.n_used, r.n_missing_x, r.n_missing_y,
                                                r.n_missing_both, r.n_non_finite},
                          r.target_was_binary, r.threshold);
        };
        EXPECT_EQ(outcome(got), outcome(prep));
        // The kept records in their prepared order, so that means add up alike.
        Values cuts, kept_x = prep.x;
        std::vector<int32_t> kept_y = prep.y;
        for (std::size_t k = 0; k + 1 < want.summary.size(); ++k)
            cuts.push_back(want.summary[k].right);
        for (std::size_t i = 0; i < prep.missing_count; ++i)
            kept_x.push_back(kNaN), kept_y.push_back(i < prep.missing_c1);
        EXPECT_EQ(digest(got.summary), digest(binary_summary(kept_x, kept_y, cuts, stat))) << trial;
        EXPECT_TRUE(trial < 60 || got.summary.size() > 1u) << trial;
    }
}

}  // namespace
