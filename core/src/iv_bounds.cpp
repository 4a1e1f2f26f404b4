#include "iv_bounds.hpp"

#include <algorithm>

#include "tessaline/tessaline.hpp"

namespace tessaline::iv_bounds {
namespace {

// Whether group a's event rate is above group b's.
// A tie misjudged by rounding pools (or keeps apart) two groups of rates a
// rounding apart, which moves the sum by the square of that: far inside the
// margin the caller leaves.
bool rate_above(double a0, double a1, double b0, double b1) {
    return a1 * (b0 + b1) > b1 * (a0 + a1);
}

// Whether a group meets the counts and share asked of every group.
bool allowed(double c0, double c1, double searched, const OptimalBinningConstraints& limits) {
    const double rows = c0 + c1;
    return rows > 0.0 && c1 >= limits.min_events && c0 >= limits.min_non_events &&
           rows / searched >= limits.min_bin_share;
}

// The pre-bins as every allowed grouping sees them, into (c0, c1): empty
// ones left out (no allowed group is empty, so they change no group's
// counts), and the first pre-bins up to the first allowed group from the
// front, and the last ones from the back, each pooled into one, as the first
// and the last group hold them in every grouping. False when no group from
// the front is allowed.
bool forced_ends(const std::vector<double>& s0, const std::vector<double>& s1, double searched,
                 const OptimalBinningConstraints& limits, std::vector<double>& c0,
                 std::vector<double>& c1) {
    c0.clear();
    c1.clear();
    const std::size_t k = s0.size();
    std::size_t first = 0, last = k;  // the pre-bins between the pooled ends
    double f0 = 0.0, f1 = 0.0, b0 = 0.0, b1 = 0.0;
    while (first < k && !allowed(f0, f1, searched, limits))
        f0 += s0[first], f1 += s1[first], ++first;
    if (!allowed(f0, f1, searched, limits)) return false;
    while (last > first && !allowed(b0, b1, searched, limits))
        --last, b0 += s0[last], b1 += s1[last];
    if (!allowed(b0, b1, searched, limits)) {
        // The ends overlap: every allowed grouping is the one group of all.
        for (std::size_t i = first; i < last; ++i) f0 += s0[i], f1 += s1[i];
        c0.push_back(f0 + b0);
        c1.push_back(f1 + b1);
        return true;
    }
    c0.push_back(f0);
    c1.push_back(f1);
    for (std::size_t i = first; i < last; ++i) {
        if (s0[i] + s1[i] > 0.0) c0.push_back(s0[i]), c1.push_back(s1[i]);
    }
    c0.push_back(b0);
    c1.push_back(b1);
    return true;
}

// Whether an allowed group may lack a class, whose half count breaks the
// bound: some run of pre-bins lacking it is allowed as a group (a run's
// stretches hold fewer rows and counts than the run).
bool class_may_lack(const std::vector<double>& c0, const std::vector<double>& c1, double searched,
                    const OptimalBinningConstraints& limits) {
    for (const auto* lacking : {&c0, &c1}) {
        double r0 = 0.0, r1 = 0.0;
        for (std::size_t i = 0; i <= c0.size(); ++i) {
            if (i < c0.size() && (*lacking)[i] == 0.0) {
                r0 += c0[i], r1 += c1[i];
                continue;
            }
            if (allowed(r0, r1, searched, limits)) return true;
            r0 = r1 = 0.0;
        }
    }
    return false;
}

// The IV of the isotonic (`rising`) or antitonic fit of each stretch of the
// pre-bins: of the first m (from the front) or of the last m (from the back),
// m = 0..k, into `fit` (k + 1 values); with `whole_only`, of all k alone,
// into fit[k]. Each step pools the new pre-bin with the blocks before it
// that it would break the trend with, so the stack holds the fit of the
// stretch read so far.
void monotone_fits(const std::vector<double>& s0, const std::vector<double>& s1, bool from_back,
                   bool rising, double total0, double total1, bool whole_only,
                   std::vector<Block>& stack, std::vector<double>& fit) {
    const std::size_t k = s0.size();
    fit.assign(k + 1, 0.0);
    // Room for every block up front, each written field by field from the
    // pooled counts held apart: a block built whole and then copied in is
    // read back wider than it was written, which stalls every push.
    if (stack.size() < k) stack.resize(k);
    Block* const blocks = stack.data();
    std::size_t height = 0;
    // Read from the back, a rising fit of the pre-bins falls as read.
    const bool up = rising != from_back;
    for (std::size_t step = 0; step < k; ++step) {
        const std::size_t i = from_back ? k - 1 - step : step;
        double c0 = s0[i], c1 = s1[i];
        while (height > 0) {
            const Block& top = blocks[height - 1];
            const bool violates =
                up ? !rate_above(c0, c1, top.c0, top.c1) : !rate_above(top.c0, top.c1, c0, c1);
            if (!violates) break;
            c0 += top.c0, c1 += top.c1;
            --height;
        }
        Block& b = blocks[height];
        b.c0 = c0, b.c1 = c1;
        if (whole_only) {
            ++height;
            continue;
        }
        // A block lacking a class has no finite term (the half count standing
        // in for the class would understate it): no bound past it.
        b.iv = c0 > 0.0 && c1 > 0.0 ? group_woe(c0, c1, total0, total1).iv : HUGE_VAL;
        // The sum from the first block, as the blocks below keep theirs.
        b.running = (height == 0 ? 0.0 : blocks[height - 1].running) + b.iv;
        ++height;
        fit[step + 1] = b.running;
    }
    if (!whole_only) return;
    // The same terms summed in the same order as the blocks' running sums,
    // for the blocks left only: most of the blocks pushed are pooled later.
    double running = 0.0;
    for (std::size_t j = 0; j < height; ++j) {
        const Block& b = blocks[j];
        running += b.c0 > 0.0 && b.c1 > 0.0 ? group_woe(b.c0, b.c1, total0, total1).iv : HUGE_VAL;
    }
    fit[k] = running;
}

// The monotone fit of the rates, rising or falling, as spans of the
// pre-bins: each pre-bin pooled with the spans before it that it would
// break the trend with, an empty pre-bin joined to the span before it (the
// first span takes the empty ones before it).
void monotone_spans(const std::vector<double>& s0, const std::vector<double>& s1, bool rising,
                    std::vector<Span>& spans) {
    spans.clear();
    for (std::size_t i = 0; i < s0.size(); ++i) {
        if (s0[i] + s1[i] == 0.0) {
            if (!spans.empty()) spans.back().last = i;
            continue;
        }
        Span b{i, i, s0[i], s1[i]};
        while (!spans.empty()) {
            const Span& top = spans.back();
            const bool violates = rising ? !rate_above(b.c0, b.c1, top.c0, top.c1)
                                         : !rate_above(top.c0, top.c1, b.c0, b.c1);
            if (!violates) break;
            b.first = top.first, b.c0 += top.c0, b.c1 += top.c1;
            spans.pop_back();
        }
        spans.push_back(b);
    }
    if (!spans.empty()) spans.front().first = 0;
}

// What merging span j with span j + 1 takes from the search's sum.
double merge_loss(const std::vector<Span>& spans, std::size_t j, double total0, double total1) {
    const Span& a = spans[j];
    const Span& b = spans[j + 1];
    return group_woe(a.c0, a.c1, total0, total1).iv + group_woe(b.c0, b.c1, total0, total1).iv -
           group_woe(a.c0 + b.c0, a.c1 + b.c1, total0, total1).iv;
}

void merge_next(std::vector<Span>& spans, std::size_t j) {
    spans[j].last = spans[j + 1].last;
    spans[j].c0 += spans[j + 1].c0, spans[j].c1 += spans[j + 1].c1;
    spans.erase(spans.begin() + static_cast<std::ptrdiff_t>(j) + 1);
}

// Merges neighbouring spans until every one meets the counts and share of a
// group and there are no more than the bins allowed: a span short of them
// joins the neighbour it loses less with, then the pair that loses least
// joins while there are too many. Merging neighbours of a strict trend
// keeps it (the merged rate lies between theirs).
void merge_to_limits(std::vector<Span>& spans, double searched, double total0, double total1,
                     const OptimalBinningConstraints& limits) {
    while (spans.size() > 1) {
        std::size_t short_one = spans.size();
        for (std::size_t j = 0; j < spans.size() && short_one == spans.size(); ++j) {
            if (!allowed(spans[j].c0, spans[j].c1, searched, limits)) short_one = j;
        }
        if (short_one < spans.size()) {
            const bool with_next =
                short_one == 0 || (short_one + 1 < spans.size() &&
                                   merge_loss(spans, short_one, total0, total1) <=
                                       merge_loss(spans, short_one - 1, total0, total1));
            merge_next(spans, with_next ? short_one : short_one - 1);
            continue;
        }
        if (limits.max_bins == 0 || spans.size() <= limits.max_bins) return;
        std::size_t least = 0;
        double least_loss = HUGE_VAL;
        for (std::size_t j = 0; j + 1 < spans.size(); ++j) {
            const double loss = merge_loss(spans, j, total0, total1);
            if (loss < least_loss) least = j, least_loss = loss;
        }
        merge_next(spans, least);
    }
}

// Past this many spans of the monotone fit the best runs of them are not
// worked out (a quadratic number of group terms) but merged as above: noise
// pools into a few.
constexpr std::size_t kMaxRunSpans = 64;

// The runs of neighbouring spans with the largest search's sum among those
// of at most the bins allowed, each run allowed and holding both classes,
// into `runs` (empty when no such grouping exists). The spans of a strict
// trend keep it when run together (a run's rate lies between its spans'),
// so these are groupings the search could pick; the programme adds the runs
// left to right, as the search does. Running spans together never raises
// the sum (a group's term is convex and grows in proportion to the group),
// so spans that all meet the limits are the best runs.
void best_runs(const std::vector<Span>& spans, double searched, double total0, double total1,
               const OptimalBinningConstraints& limits, FloorScratch& scratch) {
    const std::size_t m = spans.size();
    const bool limited = limits.max_bins != 0 && limits.max_bins < m;
    std::vector<Span>& runs = scratch.runs;
    const auto fit = [&](const Span& g) {
        return allowed(g.c0, g.c1, searched, limits) && g.c0 > 0.0 && g.c1 > 0.0;
    };
    if (!limited && std::all_of(spans.begin(), spans.end(), fit)) {
        runs = spans;
        return;
    }
    const std::size_t layers = limited ? limits.max_bins : 1;
    // Whole counts below 2^53 add exactly in any order: a run's counts are
    // those the search's group of the same pre-bins holds.
    std::vector<double>& value = scratch.value;
    value.assign(m * m, -HUGE_VAL);
    for (std::size_t a = 0; a < m; ++a) {
        double c0 = 0.0, c1 = 0.0;
        for (std::size_t b = a; b < m; ++b) {
            c0 += spans[b].c0, c1 += spans[b].c1;
            if (allowed(c0, c1, searched, limits) && c0 > 0.0 && c1 > 0.0)
                value[a * m + b] = group_woe(c0, c1, total0, total1).iv;
        }
    }
    // best[l * (m + 1) + j]: the largest sum of spans 0..j-1 in l + 1 runs
    // (in any number of runs when the count is free), and where its last starts.
    std::vector<double>& best = scratch.best;
    std::vector<std::size_t>& start = scratch.start;
    best.assign(layers * (m + 1), -HUGE_VAL);
    start.assign(layers * (m + 1), 0);
    for (std::size_t j = 1; j <= m; ++j) {
        for (std::size_t a = 0; a < j; ++a) {
            const double v = value[a * m + j - 1];
            if (v == -HUGE_VAL) continue;
            for (std::size_t l = 0; l < layers; ++l) {
                double sum = v;
                if (a > 0) {
                    const std::size_t from = (limited ? l - 1 : 0) * (m + 1) + a;
                    if ((limited && l == 0) || best[from] == -HUGE_VAL) continue;
                    sum = best[from] + v;
                } else if (limited && l > 0) {
                    break;
                }
                if (sum > best[l * (m + 1) + j])
                    best[l * (m + 1) + j] = sum, start[l * (m + 1) + j] = a;
            }
        }
    }
    std::size_t layer = 0;
    for (std::size_t l = 1; l < layers; ++l)
        if (best[l * (m + 1) + m] > best[layer * (m + 1) + m]) layer = l;
    runs.clear();
    if (best[layer * (m + 1) + m] == -HUGE_VAL) return;
    for (std::size_t j = m; j > 0;) {
        const std::size_t a = start[layer * (m + 1) + j];
        Span run{spans[a].first, spans[j - 1].last, 0.0, 0.0};
        for (std::size_t i = a; i < j; ++i) run.c0 += spans[i].c0, run.c1 += spans[i].c1;
        runs.push_back(run);
        j = a;
        if (limited && layer > 0) --layer;
    }
    std::reverse(runs.begin(), runs.end());
}

// The search's sum over `spans` when it could pick them under `limits`
// following the trend `rising` or falling, else -infinity. Every condition
// is the search's own, on the same numbers: each group allowed and holding
// both classes, at most the bins allowed, rates strictly in the trend, the
// test between neighbours within its limit; and the sum left to right.
double searched_sum(const std::vector<Span>& spans, bool rising, double searched, double total0,
                    double total1, const OptimalBinningConstraints& limits) {
    if (spans.empty() || (limits.max_bins != 0 && spans.size() > limits.max_bins)) return -HUGE_VAL;
    double sum = 0.0, level_before = 0.0;
    for (std::size_t j = 0; j < spans.size(); ++j) {
        const Span& g = spans[j];
        if (!allowed(g.c0, g.c1, searched, limits) || g.c0 == 0.0 || g.c1 == 0.0) return -HUGE_VAL;
        const double level = g.c1 / (g.c0 + g.c1);
        if (j > 0) {
            if (rising ? !(level_before < level) : !(level_before > level)) return -HUGE_VAL;
            const Span& h = spans[j - 1];
            if (limits.max_pvalue < 1.0 &&
                !(equal_rates_test(h.c0, h.c1, g.c0, g.c1).pvalue <= limits.max_pvalue))
                return -HUGE_VAL;
        }
        level_before = level;
        sum += group_woe(g.c0, g.c1, total0, total1).iv;
    }
    return sum;
}

}  // namespace

double picked_floor(const std::vector<double>& s0, const std::vector<double>& s1,
                    const std::vector<double>& out0, const std::vector<double>& out1,
                    const OptimalBinningConstraints& limits, const ShapeBounds& bounds,
                    FloorScratch& scratch) {
    if (!bounds.valid || !limits.fixed_starts.empty() || limits.trend == BinTrend::none)
        return -HUGE_VAL;
    double searched0 = 0.0, searched1 = 0.0;
    for (std::size_t i = 0; i < s0.size(); ++i) searched0 += s0[i], searched1 += s1[i];
    if (searched0 == 0.0 || searched1 == 0.0) return -HUGE_VAL;
    const double searched = searched0 + searched1;
    // Every grouping the search may pick pools the ends the limits force on
    // it; the candidate is the monotone fit of those pooled pre-bins, its
    // spans run together at the least cost to meet the limits. Either trend
    // is a peak and a valley too (one part of it empty).
    std::vector<double>& c0 = scratch.c0;
    std::vector<double>& c1 = scratch.c1;
    if (!forced_ends(s0, s1, searched, limits, c0, c1)) return -HUGE_VAL;
    double best = -HUGE_VAL;
    for (const bool rising : {true, false}) {
        if (limits.trend == (rising ? BinTrend::descending : BinTrend::ascending)) continue;
        monotone_spans(c0, c1, rising, scratch.spans);
        std::vector<Span>* candidate = &scratch.spans;
        if (scratch.spans.size() > kMaxRunSpans) {
            merge_to_limits(scratch.spans, searched, searched0, searched1, limits);
        } else {
            best_runs(scratch.spans, searched, searched0, searched1, limits, scratch);
            candidate = &scratch.runs;
        }
        best = std::max(best,
                        searched_sum(*candidate, rising, searched, searched0, searched1, limits));
    }
    if (best == -HUGE_VAL) return best;
    double total0 = searched0, total1 = searched1, outside_iv = 0.0;
    for (std::size_t i = 0; i < out0.size(); ++i) total0 += out0[i], total1 += out1[i];
    for (std::size_t i = 0; i < out0.size(); ++i) {
        if (out0[i] + out1[i] > 0.0) outside_iv += group_woe(out0[i], out1[i], total0, total1).iv;
    }
    const double u = searched1 / total1, v = searched0 / total0;
    const double whole = u == v ? 0.0 : (u - v) * std::log(u / v);
    // Each sum is within some 1e-13 of its exact value: its terms' shares
    // add up to at most 2, and a WoE of counts below 2^53 is below 75.
    return std::min(u, v) * best + whole + outside_iv - (1e-9 * best + 1e-12);
}

ShapeBounds shape_bounds(const std::vector<double>& s0, const std::vector<double>& s1,
                         const std::vector<double>& out0, const std::vector<double>& out1,
                         const OptimalBinningConstraints& limits, bool turns, Scratch& scratch) {
    ShapeBounds bounds;
    if (!limits.fixed_starts.empty()) return bounds;
    double total0 = 0.0, total1 = 0.0;
    for (std::size_t i = 0; i < s0.size(); ++i) total0 += s0[i], total1 += s1[i];
    const double searched = total0 + total1;
    for (std::size_t i = 0; i < out0.size(); ++i) total0 += out0[i], total1 += out1[i];
    if (!forced_ends(s0, s1, searched, limits, scratch.c0, scratch.c1)) return bounds;
    if (class_may_lack(scratch.c0, scratch.c1, searched, limits)) return bounds;
    double outside_iv = 0.0;
    for (std::size_t i = 0; i < out0.size(); ++i) {
        if (out0[i] + out1[i] > 0.0) outside_iv += group_woe(out0[i], out1[i], total0, total1).iv;
    }
    const std::vector<double>& c0 = scratch.c0;
    const std::vector<double>& c1 = scratch.c1;
    const std::size_t k = c0.size();
    monotone_fits(c0, c1, false, true, total0, total1, !turns, scratch.stack, scratch.rising_front);
    monotone_fits(c0, c1, false, false, total0, total1, !turns, scratch.stack,
                  scratch.falling_front);
    bounds.valid = true;
    bounds.ascending = scratch.rising_front[k] + outside_iv;
    bounds.descending = scratch.falling_front[k] + outside_iv;
    if (!turns) return bounds;
    monotone_fits(c0, c1, true, true, total0, total1, false, scratch.stack, scratch.rising_back);
    monotone_fits(c0, c1, true, false, total0, total1, false, scratch.stack, scratch.falling_back);
    double peak = 0.0, valley = 0.0;
    for (std::size_t m = 0; m <= k; ++m) {
        peak = std::max(peak, scratch.rising_front[m] + scratch.falling_back[k - m]);
        valley = std::max(valley, scratch.falling_front[m] + scratch.rising_back[k - m]);
    }
    bounds.peak = peak + outside_iv;
    bounds.valley = valley + outside_iv;
    return bounds;
}

}  // namespace tessaline::iv_bounds
