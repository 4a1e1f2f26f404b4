#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

using tessaline::Boundary;
using tessaline::MdlpFullResult;
using tessaline::Segment;
using tessaline::SortedView;
using tessaline::SplitResult;
using tessaline::TessalineParams;

constexpr double kInf = std::numeric_limits<double>::infinity();

TessalineParams params(int64_t minobs = 0, int32_t monotonicity = 0, int32_t mono_dir = 0,
                       double alpha = 1.0, double beta = 1.0, bool force = false) {
    TessalineParams p;
    p.alpha_pos = alpha;
    p.beta_struct = beta;
    p.minobs = minobs;
    p.mono_dir = mono_dir;
    p.monotonicity = monotonicity;
    p.force_first_split = force;
    return p;
}

SplitResult evaluate(const std::vector<Boundary>& B, std::size_t L, std::size_t R,
                     const TessalineParams& p) {
    return tessaline::evaluate_segment(B, tessaline::make_segment(B, L, R), p);
}

void expect_empty(const SplitResult& r) {
    EXPECT_FALSE(r.found);
    EXPECT_FALSE(r.has_candidate);
    EXPECT_EQ(r.pto, 0.0);
    EXPECT_EQ(r.gain, 0.0);
    EXPECT_EQ(r.cost_pos, 0.0);
    EXPECT_EQ(r.cost_struct, 0.0);
    EXPECT_EQ(r.cost, 0.0);
    EXPECT_EQ(r.idx, 0u);
}

// Tables of the worked examples: x = 1..4 with labels 0,0,1,1 and 1,1,0,0,
// and x = 1..3 with labels 0,1,0.
const std::vector<Boundary> kRising{{1, 0, 0}, {2.5, 2, 0}, {4, 2, 2}};
const std::vector<Boundary> kFalling{{1, 0, 0}, {2.5, 0, 2}, {4, 2, 2}};
const std::vector<Boundary> kTie{{1, 0, 0}, {1.5, 1, 0}, {2.5, 1, 1}, {3, 2, 1}};

TEST(MakeSegment, CountsInsideAndBefore) {
    const Segment s = tessaline::make_segment(kTie, 1, 3);
    EXPECT_EQ(s.L, 1u);
    EXPECT_EQ(s.R, 3u);
    EXPECT_EQ(s.c0_start, 1);
    EXPECT_EQ(s.c1_start, 0);
    EXPECT_EQ(s.c0_seg, 1);
    EXPECT_EQ(s.c1_seg, 1);
    for (const auto& [L, R] : {std::pair<std::size_t, std::size_t>{2, 2}, {3, 1}, {0, 4}}) {
        const Segment bad = tessaline::make_segment(kTie, L, R);
        EXPECT_EQ(bad.L, L);
        EXPECT_EQ(bad.R, R);
        EXPECT_EQ(bad.c0_start | bad.c1_start | bad.c0_seg | bad.c1_seg, 0);
    }
}

TEST(EvaluateSegment, AcceptedCleanSplit) {
    const SplitResult r = evaluate(kRising, 0, 2, params());
    EXPECT_TRUE(r.found);
    EXPECT_TRUE(r.has_candidate);
    EXPECT_EQ(r.idx, 1u);
    EXPECT_EQ(r.pto, 2.5);
    EXPECT_EQ(r.gain, 1.0);
    EXPECT_EQ(r.cost_pos, 0.396240625180289);
    EXPECT_EQ(r.cost_pos, std::log2(3.0) / 4.0);
    EXPECT_EQ(r.cost_struct, 0.20183873051440104);
    EXPECT_EQ(r.cost, 0.5980793556946901);
}

TEST(EvaluateSegment, TieGoesToTheLowestRowAndIsRejected) {
    const SplitResult r = evaluate(kTie, 0, 3, params());
    EXPECT_FALSE(r.found);
    EXPECT_TRUE(r.has_candidate);
    EXPECT_EQ(r.idx, 1u);
    EXPECT_EQ(r.pto, 1.5);
    EXPECT_EQ(r.gain, 0.2516291673878229);
    EXPECT_EQ(r.cost_pos, 1.0 / 3.0);
    EXPECT_EQ(r.cost_struct, 0.9902544179828751);
    EXPECT_EQ(r.cost, 1.3235877513162084);

    expect_empty(evaluate(kTie, 0, 3, params(1)));
    // Zero weights accept any candidate with a positive gain.
    EXPECT_TRUE(evaluate(kTie, 0, 3, params(0, 0, 0, 0.0, 0.0)).found);
}

TEST(EvaluateSegment, NothingToEvaluate) {
    const TessalineParams p = params();
    expect_empty(evaluate(kTie, 0, 1, p));                    // no inner row
    expect_empty(evaluate(kTie, 2, 2, p));                    // L >= R
    expect_empty(evaluate(kTie, 3, 1, p));
    expect_empty(evaluate(kTie, 0, 4, p));                    // R beyond the table
    expect_empty(evaluate({}, 0, 1, p));                      // empty table
    expect_empty(evaluate({{1, 0, 0}, {2, 1, 0}, {3, 1, 0}}, 0, 2, p));  // one record
    // A segment built by hand for another table is still bounds-checked.
    expect_empty(tessaline::evaluate_segment(kTie, Segment{0, 9, 0, 0, 2, 2}, p));
}

TEST(EvaluateSegment, DirectionFilterInEveryMode) {
    // Left rate 1, right rate 0 on kFalling; the reverse on kRising.
    for (int32_t mode = 0; mode <= 3; ++mode) {
        for (int32_t dir = -1; dir <= 1; ++dir) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " dir " << dir);
            const bool filtered_mode = mode == 1 || mode == 3;
            const SplitResult falling = evaluate(kFalling, 0, 2, params(0, mode, dir));
            const SplitResult rising = evaluate(kRising, 0, 2, params(0, mode, dir));
            EXPECT_EQ(falling.has_candidate, !(filtered_mode && dir > 0));
            EXPECT_EQ(rising.has_candidate, !(filtered_mode && dir < 0));
            if (falling.has_candidate) {
                EXPECT_EQ(falling.idx, 1u);
                EXPECT_TRUE(falling.found);
            }
            // A mono_dir of any size counts only by its sign.
            const SplitResult far = evaluate(kFalling, 0, 2, params(0, mode, dir * 50));
            EXPECT_EQ(far.has_candidate, falling.has_candidate);
        }
    }
}

TEST(EvaluateSegment, DirectionFilterOnEqualAndUndefinedRates) {
    // Equal rates on both sides pass in either direction (gain 0, rejected).
    const std::vector<Boundary> even{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}};
    for (int32_t dir : {-1, 1}) {
        const SplitResult r = evaluate(even, 0, 2, params(0, 1, dir));
        EXPECT_TRUE(r.has_candidate);
        EXPECT_FALSE(r.found);
        EXPECT_EQ(r.gain, 0.0);
    }
    // With a negative minobs a side may be empty: its rate is 0/0 and the
    // comparison fails, so the filter drops the row; unfiltered it stands.
    const std::vector<Boundary> empty_left{{0, 0, 0}, {1, 0, 0}, {2, 1, 1}};
    EXPECT_FALSE(evaluate(empty_left, 0, 2, params(-1, 3, 1)).has_candidate);
    EXPECT_TRUE(evaluate(empty_left, 0, 2, params(-1, 2, 1)).has_candidate);
}

// x = 1..50 with labels in blocks of 5 zeros, 20 ones, 20 zeros, 5 ones.
SortedView blocks_view(std::vector<double>& x, std::vector<int32_t>& y) {
    for (int i = 1; i <= 50; ++i) {
        x.push_back(i);
        y.push_back((i <= 5 || (i > 25 && i <= 45)) ? 0 : 1);
    }
    return SortedView{x.data(), y.data(), x.size()};
}

TEST(ComputeSplits, BlocksGiveThreeSplitsDepthFirst) {
    std::vector<double> x;
    std::vector<int32_t> y;
    const SortedView view = blocks_view(x, y);
    const auto B = tessaline::compute_boundaries(view);
    ASSERT_EQ(B.size(), 5u);
    EXPECT_EQ(B[1].pto_corte, 5.5);
    EXPECT_EQ(B[2].pto_corte, 25.5);
    EXPECT_EQ(B[3].pto_corte, 45.5);

    for (bool force : {false, true}) {  // an accepted root is never forced
        const auto log = tessaline::compute_splits(B, params(0, 0, 0, 1.0, 1.0, force));
        ASSERT_EQ(log.size(), 3u);
        const std::size_t idx[] = {2, 1, 3};
        const double pto[] = {25.5, 5.5, 45.5};
        const double gain[] = {0.278072, 0.721928, 0.721928};
        const double cost[] = {0.186196, 0.237938, 0.237938};
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_TRUE(log[k].found);
            EXPECT_EQ(log[k].idx, idx[k]);
            EXPECT_EQ(log[k].pto, pto[k]);
            EXPECT_NEAR(log[k].gain, gain[k], 5e-7);
            EXPECT_NEAR(log[k].cost, cost[k], 5e-7);
        }
        EXPECT_EQ(tessaline::mdlp(view, params(0, 0, 0, 1.0, 1.0, force)).size(), 3u);
    }
}

TEST(ComputeSplits, SmallTables) {
    EXPECT_TRUE(tessaline::compute_splits({}, params()).empty());
    EXPECT_TRUE(tessaline::compute_splits({{1, 0, 0}}, params()).empty());
    EXPECT_TRUE(tessaline::compute_splits({{1, 0, 0}, {1, 3, 1}}, params()).empty());
    const auto log = tessaline::compute_splits(kRising, params());
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].found);
    EXPECT_EQ(log[0].idx, 1u);
    EXPECT_TRUE(tessaline::mdlp(SortedView{nullptr, nullptr, 0}, params()).empty());
}

TEST(ComputeSplits, ForceFirstSplit) {
    // A rejected single root is forced.
    auto log = tessaline::compute_splits(kTie, params(0, 0, 0, 1.0, 1.0, true));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].found);
    EXPECT_EQ(log[0].idx, 1u);

    // x = 1..6, labels 0,0,1,1,0,0: the root is rejected, forced at row 1, and
    // its right half, which still holds a change of label, is not searched.
    const std::vector<double> x{1, 2, 3, 4, 5, 6};
    const std::vector<int32_t> y{0, 0, 1, 1, 0, 0};
    const SortedView view{x.data(), y.data(), x.size()};
    log = tessaline::mdlp(view, params());
    ASSERT_EQ(log.size(), 1u);
    EXPECT_FALSE(log[0].found);
    log = tessaline::mdlp(view, params(0, 0, 0, 1.0, 1.0, true));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].found);
    EXPECT_EQ(log[0].idx, 1u);
    EXPECT_EQ(log[0].pto, 2.5);

    // No admissible candidate: nothing to force.
    log = tessaline::mdlp(view, params(2, 0, 0, 1.0, 1.0, true));
    ASSERT_EQ(log.size(), 1u);
    expect_empty(log[0]);
}

TEST(MdlpFull, WorkedExample) {
    const std::vector<double> x{1, 2, 3, 4};
    const std::vector<int32_t> y{0, 0, 1, 1};
    const MdlpFullResult r = tessaline::mdlp_full({x.data(), y.data(), 4}, params());
    ASSERT_EQ(r.mdlp.size(), 1u);
    EXPECT_TRUE(r.mdlp[0].found);
    ASSERT_EQ(r.summary.size(), 2u);
    const auto& a = r.summary[0];
    const auto& b = r.summary[1];
    EXPECT_EQ(a.left, -kInf);
    EXPECT_EQ(a.right, 2.5);
    EXPECT_EQ(a.c0, 2);
    EXPECT_EQ(a.c1, 0);
    EXPECT_EQ(a.total, 2);
    EXPECT_EQ(a.p1, 0.0);
    EXPECT_EQ(b.left, 2.5);
    EXPECT_EQ(b.right, kInf);
    EXPECT_EQ(b.c0, 0);
    EXPECT_EQ(b.c1, 2);
    EXPECT_EQ(b.total, 2);
    EXPECT_EQ(b.p1, 1.0);
}

TEST(MdlpFull, EmptyUnsplitAndForced) {
    const MdlpFullResult none = tessaline::mdlp_full({nullptr, nullptr, 0}, params());
    EXPECT_TRUE(none.mdlp.empty());
    EXPECT_TRUE(none.summary.empty());

    // Labels other than 0 are class 1.
    const std::vector<double> x{1, 2, 3};
    const std::vector<int32_t> y{0, 7, 0};
    const MdlpFullResult whole = tessaline::mdlp_full({x.data(), y.data(), 3}, params());
    ASSERT_EQ(whole.mdlp.size(), 1u);
    ASSERT_EQ(whole.summary.size(), 1u);
    EXPECT_EQ(whole.summary[0].left, -kInf);
    EXPECT_EQ(whole.summary[0].right, kInf);
    EXPECT_EQ(whole.summary[0].c0, 2);
    EXPECT_EQ(whole.summary[0].c1, 1);
    EXPECT_EQ(whole.summary[0].total, 3);
    EXPECT_EQ(whole.summary[0].p1, 1.0 / 3.0);

    const MdlpFullResult forced =
        tessaline::mdlp_full({x.data(), y.data(), 3}, params(0, 0, 0, 1.0, 1.0, true));
    ASSERT_EQ(forced.summary.size(), 2u);
    EXPECT_EQ(forced.summary[0].right, 1.5);
    EXPECT_EQ(forced.summary[0].total, 1);
    EXPECT_EQ(forced.summary[1].total, 2);
}

TEST(MdlpFull, CutBetweenAdjacentDoublesKeepsTheRecordsApart) {
    // The midpoint of these two adjacent doubles rounds onto the upper one;
    // the cut must still leave the first record in the first interval.
    const double lo = std::nextafter(1.0, 2.0);
    const std::vector<double> x{lo, std::nextafter(lo, 2.0)};
    const std::vector<int32_t> y{0, 1};
    const MdlpFullResult r =
        tessaline::mdlp_full({x.data(), y.data(), 2}, params(0, 0, 0, 0.0, 0.0));
    ASSERT_EQ(r.summary.size(), 2u);
    EXPECT_EQ(r.summary[0].right, lo);
    EXPECT_EQ(r.summary[0].c0, 1);
    EXPECT_EQ(r.summary[0].c1, 0);
    EXPECT_EQ(r.summary[1].c0, 0);
    EXPECT_EQ(r.summary[1].c1, 1);
}

TEST(FitMdlpFromRaw, SameLogAsOnPreparedData) {
    std::mt19937_64 rng(11);
    std::vector<double> x(500), y(500);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = static_cast<double>(rng() % 200) / 8.0;
        y[i] = x[i] + static_cast<double>(rng() % 100) / 10.0;  // continuous target
    }
    x[3] = std::numeric_limits<double>::quiet_NaN();
    const TessalineParams p = params(2, 0, 0, 0.5, 0.5);
    const auto prepared = tessaline::preprocess_data(x.data(), y.data(), x.size(), 15.0, 50.0);
    const auto want =
        tessaline::mdlp({prepared.x.data(), prepared.y.data(), prepared.x.size()}, p);
    const auto got = tessaline::fit_mdlp_from_raw(x.data(), y.data(), x.size(), p, 15.0, 50.0);
    ASSERT_EQ(got.size(), want.size());
    ASSERT_GT(got.size(), 1u);
    for (std::size_t k = 0; k < got.size(); ++k) {
        EXPECT_EQ(got[k].idx, want[k].idx);
        EXPECT_EQ(got[k].cost, want[k].cost);
    }
}

// ------------------------------------------------------------------------
// Differential check against a plain recursive search that never builds a
// boundary table: it keeps the record position of every candidate cut and
// counts the classes of each side by scanning the records.

struct ReferenceSearch {
    const std::vector<double>& x;
    const std::vector<int32_t>& y;
    TessalineParams p;
    std::vector<std::size_t> at;  // record position of each candidate row
    std::vector<SplitResult> log;

    ReferenceSearch(const std::vector<double>& xs, const std::vector<int32_t>& ys,
                    const TessalineParams& params)
        : x(xs), y(ys), p(params) {
        at.push_back(0);
        for (std::size_t i = 1; i < x.size(); ++i) {
            if (x[i] != x[i - 1] && y[i] != y[i - 1]) at.push_back(i);
        }
        at.push_back(x.size());
    }

    int64_t count(std::size_t from, std::size_t to, bool class1) const {
        int64_t c = 0;
        for (std::size_t i = from; i < to; ++i) c += ((y[i] != 0) == class1);
        return c;
    }

    static double entropy(int64_t a, int64_t b) {
        if (a == 0 || b == 0) return 0.0;
        const double f0 = double(a) / double(a + b);
        const double f1 = double(b) / double(a + b);
        return -(f0 * std::log2(f0) + f1 * std::log2(f1));
    }

    double cut(std::size_t row) const {
        if (row == 0) return x.front();
        if (row + 1 == at.size()) return x.back();
        return (x[at[row] - 1] + x[at[row]]) * 0.5;  // plain values: exact midpoints
    }

    SplitResult evaluate(std::size_t L, std::size_t R) const {
        SplitResult best;
        const std::size_t lo = at[L];
        const std::size_t hi = at[R];
        const int64_t n0 = count(lo, hi, false);
        const int64_t n1 = count(lo, hi, true);
        const int64_t n = n0 + n1;
        if (n < 2) return best;
        const double h = entropy(n0, n1);
        double best_e = kInf;
        for (std::size_t k = L + 1; k < R; ++k) {
            const int64_t l0 = count(lo, at[k], false), l1 = count(lo, at[k], true);
            const int64_t r0 = count(at[k], hi, false), r1 = count(at[k], hi, true);
            const int64_t nl = l0 + l1, nr = r0 + r1;
            if (!(nl > p.minobs && nr > p.minobs)) continue;
            const double hl = entropy(l0, l1), hr = entropy(r0, r1);
            const double e = (double(nl) * hl + double(nr) * hr) / double(n);
            if ((p.monotonicity == 1 || p.monotonicity == 3) && p.mono_dir != 0) {
                const double rate_l = double(l1) / double(nl), rate_r = double(r1) / double(nr);
                if (p.mono_dir > 0 && !(rate_r >= rate_l)) continue;
                if (p.mono_dir < 0 && !(rate_l >= rate_r)) continue;
            }
            if (e < best_e) {
                best_e = e;
                best.has_candidate = true;
                best.idx = k;
                best.pto = cut(k);
                best.gain = h - e;
                best.cost_pos = std::log2(double(n - 1)) / double(n);
                best.cost_struct = (std::log2(7.0) - 2.0 * (h - hl - hr)) / double(n);
                best.cost = p.alpha_pos * best.cost_pos + p.beta_struct * best.cost_struct;
            }
        }
        best.found = best.has_candidate && best.gain > best.cost;
        return best;
    }

    void search(std::size_t L, std::size_t R) {
        if (L + 1 >= R) return;
        const SplitResult r = evaluate(L, R);
        log.push_back(r);
        if (r.found) {
            search(L, r.idx);
            search(r.idx, R);
        }
    }

    std::vector<SplitResult> run() {
        if (x.empty()) return {};
        search(0, at.size() - 1);
        if (p.force_first_split && log.size() == 1 && log[0].has_candidate) log[0].found = true;
        return log;
    }
};

struct RandomCase {
    std::vector<double> x;
    std::vector<int32_t> y;
};

RandomCase random_case(std::mt19937_64& rng) {
    RandomCase c;
    const std::size_t n = rng() % 8 == 0 ? rng() % 400 : rng() % 70;
    const std::size_t distinct = 1 + rng() % 40;  // few distinct values: many ties
    for (std::size_t i = 0; i < n; ++i) {
        c.x.push_back(static_cast<double>(rng() % distinct) * 0.5 - 4.0);
    }
    std::sort(c.x.begin(), c.x.end());
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const int style = static_cast<int>(rng() % 3);
    const double p1 = u(rng);
    const double edge = u(rng) * 4.0 - 6.0;
    for (std::size_t i = 0; i < n; ++i) {
        double p = p1;
        if (style == 1) p = std::fmod(std::floor((c.x[i] + 4.0) / 3.0), 2.0) == 0 ? 0.05 : 0.95;
        if (style == 2) p = 1.0 / (1.0 + std::exp(-3.0 * (c.x[i] - edge - 4.0)));
        const bool event = u(rng) < p;
        c.y.push_back(event ? (rng() % 10 == 0 ? 2 : 1) : 0);
    }
    // Sometimes put label 0 first inside each run of equal values, as the
    // preprocessing does; otherwise keep the random order.
    if (rng() % 2 == 0) {
        std::vector<std::size_t> order(n);
        for (std::size_t i = 0; i < n; ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return c.x[a] < c.x[b] || (c.x[a] == c.x[b] && c.y[a] < c.y[b]);
        });
        RandomCase s;
        for (std::size_t i : order) {
            s.x.push_back(c.x[i]);
            s.y.push_back(c.y[i]);
        }
        return s;
    }
    return c;
}

void expect_same_entry(const SplitResult& got, const SplitResult& want, std::size_t k) {
    EXPECT_EQ(got.found, want.found) << "entry " << k;
    EXPECT_EQ(got.has_candidate, want.has_candidate) << "entry " << k;
    EXPECT_EQ(got.pto, want.pto) << "entry " << k;
    EXPECT_EQ(got.gain, want.gain) << "entry " << k;
    EXPECT_EQ(got.cost_pos, want.cost_pos) << "entry " << k;
    EXPECT_EQ(got.cost_struct, want.cost_struct) << "entry " << k;
    EXPECT_EQ(got.cost, want.cost) << "entry " << k;
    EXPECT_EQ(got.idx, want.idx) << "entry " << k;
}

// The intervals cover the line in order and hold exactly the records whose
// value lies in (left, right].
void expect_intervals_match_records(const MdlpFullResult& r, const RandomCase& c) {
    if (c.x.empty()) {
        EXPECT_TRUE(r.summary.empty());
        return;
    }
    ASSERT_FALSE(r.summary.empty());
    EXPECT_EQ(r.summary.front().left, -kInf);
    EXPECT_EQ(r.summary.back().right, kInf);
    for (std::size_t k = 0; k < r.summary.size(); ++k) {
        const auto& s = r.summary[k];
        if (k > 0) {
            EXPECT_EQ(s.left, r.summary[k - 1].right);
        }
        int64_t c0 = 0, c1 = 0;
        for (std::size_t i = 0; i < c.x.size(); ++i) {
            if (s.left < c.x[i] && c.x[i] <= s.right) (c.y[i] == 0 ? c0 : c1) += 1;
        }
        EXPECT_EQ(s.c0, c0) << "interval " << k;
        EXPECT_EQ(s.c1, c1) << "interval " << k;
        EXPECT_EQ(s.total, c0 + c1);
        EXPECT_EQ(s.p1, s.total > 0 ? double(c1) / double(s.total) : 0.0);
    }
}

TEST(MdlpDifferential, SameLogAsRecursiveReference) {
    std::mt19937_64 rng(20240611);
    const double weights[] = {0.0, 0.5, 1.0, 2.0};
    std::size_t accepted = 0;
    std::size_t longest = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const RandomCase c = random_case(rng);
        for (int variant = 0; variant < 3; ++variant) {
            const TessalineParams p =
                params(static_cast<int64_t>(rng() % 6), static_cast<int32_t>(rng() % 4),
                       static_cast<int32_t>(rng() % 3) - 1, weights[rng() % 4],
                       weights[rng() % 4], rng() % 4 == 0);
            SCOPED_TRACE(testing::Message()
                         << "trial " << trial << " n " << c.x.size() << " minobs " << p.minobs
                         << " mode " << p.monotonicity << " dir " << p.mono_dir << " alpha "
                         << p.alpha_pos << " beta " << p.beta_struct << " force "
                         << p.force_first_split);
            const SortedView view{c.x.data(), c.y.data(), c.x.size()};
            const auto want = ReferenceSearch(c.x, c.y, p).run();
            const MdlpFullResult got = tessaline::mdlp_full(view, p);
            ASSERT_EQ(got.mdlp.size(), want.size());
            for (std::size_t k = 0; k < want.size(); ++k) {
                expect_same_entry(got.mdlp[k], want[k], k);
            }
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

// ------------------------------------------------------------------------
// Long tables: the split search passes over ranges of rows that cannot beat
// the best row, so it must log exactly what a search scoring every row logs.

std::vector<SplitResult> every_row_search(const std::vector<Boundary>& B,
                                          const TessalineParams& p) {
    std::vector<SplitResult> log;
    std::vector<std::pair<std::size_t, std::size_t>> pending{{0, B.size() - 1}};
    while (!pending.empty()) {
        const auto [L, R] = pending.back();
        pending.pop_back();
        if (L + 1 >= R) continue;
        log.push_back(evaluate(B, L, R, p));
        if (log.back().found) {
            pending.emplace_back(log.back().idx, R);
            pending.emplace_back(L, log.back().idx);
        }
    }
    if (p.force_first_split && log.size() == 1 && log[0].has_candidate) log[0].found = true;
    return log;
}

// Sorted records whose labels follow a smooth curve (style 0), repeat a short
// pattern so that many rows score exactly alike (style 1), or are pure noise
// (style 2).
std::vector<Boundary> long_table(std::mt19937_64& rng, int style, std::size_t n) {
    std::vector<double> x(n);
    std::vector<int32_t> y(n);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const std::size_t period = 2 + rng() % 5;
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = static_cast<double>(i / (1 + rng() % 3));
        const double p1 = 1.0 / (1.0 + std::exp(-8.0 * (double(i) / double(n) - 0.4)));
        if (style == 0) y[i] = u(rng) < p1;
        if (style == 1) y[i] = (i % period) * 2 < period;
        if (style == 2) y[i] = u(rng) < 0.3;
    }
    return tessaline::compute_boundaries({x.data(), y.data(), n});
}

TEST(ComputeSplits, LongTablesLogWhatEveryRowScanLogs) {
    std::mt19937_64 rng(20261206);
    std::size_t deep = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const int style = trial % 3;
        const std::size_t n = 500 + rng() % 20000;
        const auto B = long_table(rng, style, n);
        const TessalineParams p =
            params(static_cast<int64_t>(rng() % 40), static_cast<int32_t>(rng() % 4),
                   static_cast<int32_t>(rng() % 3) - 1, (rng() % 4) * 0.5, (rng() % 3) * 0.5,
                   rng() % 4 == 0);
        SCOPED_TRACE(testing::Message() << "trial " << trial << " style " << style << " rows "
                                        << B.size());
        const auto want = every_row_search(B, p);
        const auto got = tessaline::compute_splits(B, p);
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t k = 0; k < want.size(); ++k) expect_same_entry(got[k], want[k], k);
        deep += want.size() >= 15;
    }
    EXPECT_GE(deep, 10u);
}

}  // namespace
