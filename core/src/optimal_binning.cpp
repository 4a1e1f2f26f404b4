// Optimal binning: the contiguous grouping of ordered pre-bins with the largest
// information value that meets a bin limit, a least share, least event and
// non-event counts and an event-rate trend.
//
// IV is additive over groups, so a dynamic programme finds the optimum
// exactly. A state is the last group so far (first, last pre-bin), the number
// of groups when the count is limited, and the phase of a peak or valley
// (still rising, or falling). Values are summed left to right, one group at a
// time, as the package sums its table rows, so the total is bit for bit the
// sum of the chosen groups' IV. For one boundary between pre-bins, the groups
// ending before it and those starting at it are sorted by event rate once,
// and a sweep with a running best joins them: O(n^2 log n + bins * n^2) time
// and O(bins * n^2) memory for n pre-bins.
//
// A limit on the p-value of the test of equal rates between neighbouring
// groups is a condition on each pair of neighbours, which a running best over
// rates cannot carry: with that limit every pair across a boundary is joined
// on its own, O(bins * n^3), and the optimum stays exact under the limit.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "large_buffer.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

constexpr double kEmptyClassCount = 0.5;
constexpr double kUnreached = -std::numeric_limits<double>::infinity();
// Beyond this many states (12 bytes each) the table would not be reasonable.
constexpr std::size_t kMaxStates = std::size_t{1} << 24;

// Groups ending at the same pre-bin are adjacent in this triangular layout.
std::size_t tri(std::size_t first, std::size_t last) {
    return last * (last + 1) / 2 + first;
}

// Every contiguous group, with its counts summed left to right.
struct GroupTable {
    std::size_t n = 0;
    std::vector<double> c0, c1, iv, rate;
    std::vector<char> allowed;
};

GroupTable group_table(const double* c0, const double* c1, std::size_t n,
                       const OptimalBinningConstraints& k, double total_c0, double total_c1) {
    GroupTable t;
    t.n = n;
    const std::size_t size = n * (n + 1) / 2;
    t.c0.resize(size);
    t.c1.resize(size);
    t.iv.resize(size);
    t.rate.resize(size);
    t.allowed.resize(size);
    const double total = total_c0 + total_c1;
    // A group starting at `first` may end before the next fixed start only.
    std::vector<std::size_t> end(n, n);
    for (std::size_t s : k.fixed_starts) end[s - 1] = s;
    for (std::size_t i = n - 1; i-- > 0;) end[i] = std::min(end[i], end[i + 1]);
    for (std::size_t first = 0; first < n; ++first) {
        double s0 = 0.0, s1 = 0.0;
        for (std::size_t last = first; last < n; ++last) {
            s0 += c0[last];
            s1 += c1[last];
            const std::size_t g = tri(first, last);
            const double rows = s0 + s1;
            t.c0[g] = s0;
            t.c1[g] = s1;
            t.iv[g] = group_woe(s0, s1, total_c0, total_c1).iv;
            t.rate[g] = rows > 0.0 ? s1 / rows : 0.0;
            // An empty group has no event rate, so it is never chosen.
            t.allowed[g] = last < end[first] && rows > 0.0 && s1 >= k.min_events &&
                           s0 >= k.min_non_events && rows / total >= k.min_bin_share;
        }
    }
    return t;
}

// A trend as the programme runs it: rates times sign must rise, then (with two
// phases) may fall; `free` drops the rate condition.
struct Shape {
    double sign;
    bool free;
    int phases;
};

Shape shape_of(BinTrend trend) {
    switch (trend) {
        case BinTrend::none:
            return {1.0, true, 1};
        case BinTrend::ascending:
            return {1.0, false, 1};
        case BinTrend::descending:
            return {-1.0, false, 1};
        case BinTrend::peak:
            return {1.0, false, 2};
        case BinTrend::valley:
            return {-1.0, false, 2};
        default:
            throw std::invalid_argument("optimal_binning: unknown trend");
    }
}

// Best value and fewest groups reaching one state.
struct Reach {
    double value = kUnreached;
    uint32_t bins = 0;
};

bool better(double value, uint32_t bins, const Reach& than) {
    return value > than.value || (value == than.value && bins < than.bins);
}

struct Programme {
    const GroupTable& t;
    Shape shape;
    std::size_t layers;  // 1 when the count is free; else one per group count
    bool limited;
    Reach* reach;       // layers * phases * groups states, every one unreached at first
    double max_pvalue;  // 1: no limit between neighbours

    // The states of one group lie together, every phase and group count, so
    // that a boundary's sweep, which visits each group once for all counts,
    // meets one stretch of memory per group instead of one per count.
    Reach& at(std::size_t layer, int phase, std::size_t g) {
        return reach[(g * static_cast<std::size_t>(shape.phases) +
                      static_cast<std::size_t>(phase)) *
                         layers +
                     layer];
    }
    double signed_rate(std::size_t g) const { return shape.sign * t.rate[g]; }
    // Whether a group of signed rate `to` in `phase` may follow one of rate `from` in `from_phase`.
    bool may_follow(double from, int from_phase, double to, int phase) const {
        if (shape.free) return phase == 0 && from_phase == 0;
        if (phase == 0) return from_phase == 0 && from < to;
        return from > to;
    }
    // Whether group g may follow group h under the limit on their test.
    bool may_join(std::size_t h, std::size_t g) const {
        return max_pvalue >= 1.0 ||
               equal_rates_test(t.c0[h], t.c1[h], t.c0[g], t.c1[g]).pvalue <= max_pvalue;
    }
};

void join(Programme& p, std::size_t layer, int phase, const Reach& best, std::size_t g) {
    if (best.value == kUnreached) return;
    p.at(layer, phase, g) = {best.value + p.t.iv[g], best.bins + 1};
}

void fold(Reach& best, const Reach& r) {
    if (r.value != kUnreached && better(r.value, r.bins, best)) best = r;
}

// Joins the groups ending at i - 1 (source layer) to those starting at i.
// Every group count is swept at once, each with its own running best: the
// counts never read what another count writes at this boundary (the groups
// read end before it, those written start at it), so each count folds and
// joins exactly as it would alone.
void sweep_boundary(Programme& p, const std::vector<std::size_t>& before,
                    const std::vector<std::size_t>& after) {
    const std::size_t first_layer = p.limited ? 1 : 0;
    const auto source = [&](std::size_t layer) { return p.limited ? layer - 1 : 0; };
    std::vector<Reach> best(p.layers);
    std::size_t k = 0;
    for (std::size_t g : after) {  // rising, or any rate when free
        while (k < before.size() && (p.shape.free || p.signed_rate(before[k]) < p.signed_rate(g))) {
            for (std::size_t layer = first_layer; layer < p.layers; ++layer)
                fold(best[layer], p.at(source(layer), 0, before[k]));
            ++k;
        }
        for (std::size_t layer = first_layer; layer < p.layers; ++layer)
            join(p, layer, 0, best[layer], g);
    }
    if (p.shape.phases < 2) return;
    std::fill(best.begin(), best.end(), Reach{});
    k = before.size();
    for (auto it = after.rbegin(); it != after.rend(); ++it) {  // falling
        while (k > 0 && p.signed_rate(before[k - 1]) > p.signed_rate(*it)) {
            --k;
            for (std::size_t layer = first_layer; layer < p.layers; ++layer) {
                fold(best[layer], p.at(source(layer), 0, before[k]));
                fold(best[layer], p.at(source(layer), 1, before[k]));
            }
        }
        for (std::size_t layer = first_layer; layer < p.layers; ++layer)
            join(p, layer, 1, best[layer], *it);
    }
}

// Joins every pair of groups across one boundary that the limit between
// neighbours allows, each test taken once for all layers.
void join_pairs(Programme& p, const std::vector<std::size_t>& before,
                const std::vector<std::size_t>& after) {
    std::vector<char> allowed(before.size() * after.size());
    for (std::size_t a = 0; a < after.size(); ++a)
        for (std::size_t b = 0; b < before.size(); ++b)
            allowed[a * before.size() + b] = p.may_join(before[b], after[a]);
    for (std::size_t layer = p.limited ? 1 : 0; layer < p.layers; ++layer) {
        const std::size_t from = p.limited ? layer - 1 : 0;
        for (std::size_t a = 0; a < after.size(); ++a) {
            const double to = p.signed_rate(after[a]);
            for (int ph = 0; ph < p.shape.phases; ++ph) {
                Reach best;
                for (std::size_t b = 0; b < before.size(); ++b) {
                    if (!allowed[a * before.size() + b]) continue;
                    for (int q = 0; q < p.shape.phases; ++q) {
                        if (p.may_follow(p.signed_rate(before[b]), q, to, ph))
                            fold(best, p.at(from, q, before[b]));
                    }
                }
                join(p, layer, ph, best, after[a]);
            }
        }
    }
}

std::vector<std::size_t> by_rate(const Programme& p, std::vector<std::size_t> groups) {
    std::stable_sort(groups.begin(), groups.end(), [&](std::size_t a, std::size_t b) {
        return p.signed_rate(a) < p.signed_rate(b);
    });
    return groups;
}

void run_forward(Programme& p) {
    const std::size_t n = p.t.n;
    for (std::size_t last = 0; last < n; ++last) {
        const std::size_t g = tri(0, last);
        if (p.t.allowed[g]) p.at(0, 0, g) = {p.t.iv[g], 1};
    }
    for (std::size_t i = 1; i < n; ++i) {
        std::vector<std::size_t> before, after;
        for (std::size_t first = 0; first < i; ++first) {
            if (p.t.allowed[tri(first, i - 1)]) before.push_back(tri(first, i - 1));
        }
        for (std::size_t last = i; last < n; ++last) {
            if (p.t.allowed[tri(i, last)]) after.push_back(tri(i, last));
        }
        if (before.empty() || after.empty()) continue;
        if (p.max_pvalue < 1.0) {
            join_pairs(p, before, after);
        } else if (p.shape.free) {
            // Every group before joins every group after: the order of the
            // fold changes no state (a state keeps a value and a count, and
            // ties between them are settled by those alone).
            sweep_boundary(p, before, after);
        } else {
            sweep_boundary(p, by_rate(p, before), by_rate(p, after));
        }
    }
}

// A traced grouping: its value, group count and (first, last) pairs in order.
struct Trace {
    Reach best;
    std::vector<std::pair<std::size_t, std::size_t>> groups;
};

// Walks back from the best final state, taking at each step the earliest
// start among the states on a best path (every phase that reaches it).
Trace trace_back(Programme& p) {
    const std::size_t n = p.t.n;
    Trace out;
    for (std::size_t l = 0; l < p.layers; ++l)
        for (int ph = 0; ph < p.shape.phases; ++ph)
            for (std::size_t first = 0; first < n; ++first)
                fold(out.best, p.at(l, ph, tri(first, n - 1)));
    if (out.best.value == kUnreached) return out;
    const auto on_path = [&](std::size_t l, int ph, std::size_t g, double value, uint32_t bins) {
        const Reach& r = p.at(l, ph, g);
        return r.value != kUnreached && r.bins == bins && r.value == value;
    };
    std::size_t layer = p.limited ? out.best.bins - 1 : 0;
    std::size_t first = 0;
    bool phases[2] = {false, false};
    for (first = 0; first < n; ++first) {
        for (int ph = 0; ph < p.shape.phases; ++ph)
            phases[ph] = on_path(layer, ph, tri(first, n - 1), out.best.value, out.best.bins);
        if (phases[0] || phases[1]) break;
    }
    std::size_t last = n - 1;
    out.groups.push_back({first, last});
    while (first > 0) {
        const std::size_t g = tri(first, last);
        const std::size_t from = p.limited ? layer - 1 : 0;
        bool next[2] = {false, false};
        std::size_t k = 0;
        for (; k < first && !(next[0] || next[1]); ++k) {
            const std::size_t h = tri(k, first - 1);
            if (!p.t.allowed[h] || !p.may_join(h, g)) continue;
            for (int ph = 0; ph < p.shape.phases; ++ph) {
                if (!phases[ph]) continue;
                const Reach& target = p.at(layer, ph, g);
                for (int q = 0; q < p.shape.phases; ++q) {
                    if (!p.may_follow(p.signed_rate(h), q, p.signed_rate(g), ph)) continue;
                    const Reach& r = p.at(from, q, h);
                    if (r.value != kUnreached && r.bins + 1 == target.bins &&
                        r.value + p.t.iv[g] == target.value)
                        next[q] = true;
                }
            }
        }
        if (!(next[0] || next[1])) throw std::logic_error("optimal_binning: broken trace");
        last = first - 1;
        first = k - 1;
        layer = from;
        phases[0] = next[0];
        phases[1] = next[1];
        out.groups.push_back({first, last});
    }
    std::reverse(out.groups.begin(), out.groups.end());
    return out;
}

Trace best_grouping(const GroupTable& t, const OptimalBinningConstraints& k, BinTrend trend) {
    const Shape shape = shape_of(trend);
    const bool limited = k.max_bins != 0 && k.max_bins < t.n;
    const std::size_t layers = limited ? k.max_bins : 1;
    const std::size_t states = layers * static_cast<std::size_t>(shape.phases) * t.iv.size();
    if (t.n > 4096 || states > kMaxStates) {
        throw std::invalid_argument(
            "optimal_binning: too many pre-bins for this bin limit (merge pre-bins or lower "
            "max_bins)");
    }
    // Tens of megabytes for a thousand pre-bins, and every column searches
    // several trends: a block this thread has used before, when it has one.
    const Scratch<Reach> reach = large_scratch<Reach>(states);
    std::uninitialized_fill(reach.get(), reach.get() + states, Reach{});
    Programme p{t, shape, layers, limited, reach.get(), k.max_pvalue};
    run_forward(p);
    return trace_back(p);
}

void check_arguments(const double* c0, const double* c1, std::size_t n,
                     const OptimalBinningConstraints& k) {
    if (n == 0) throw std::invalid_argument("optimal_binning: no pre-bins");
    if (c0 == nullptr || c1 == nullptr)
        throw std::invalid_argument("optimal_binning: missing counts");
    for (std::size_t i = 0; i < n; ++i) {
        if (!(is_finite(c0[i]) && is_finite(c1[i]) && c0[i] >= 0.0 && c1[i] >= 0.0)) {
            throw std::invalid_argument(
                "optimal_binning: pre-bin counts must be finite and non-negative");
        }
    }
    if (!(k.min_bin_share >= 0.0 && k.min_bin_share <= 1.0)) {
        throw std::invalid_argument("optimal_binning: min_bin_share must be between 0 and 1");
    }
    if (!(is_finite(k.min_events) && k.min_events >= 0.0)) {
        throw std::invalid_argument("optimal_binning: min_events must be finite and non-negative");
    }
    if (!(is_finite(k.min_non_events) && k.min_non_events >= 0.0)) {
        throw std::invalid_argument(
            "optimal_binning: min_non_events must be finite and non-negative");
    }
    if (!(k.max_pvalue >= 0.0 && k.max_pvalue <= 1.0)) {
        throw std::invalid_argument("optimal_binning: max_pvalue must be between 0 and 1");
    }
    if (k.trend != BinTrend::automatic) shape_of(k.trend);
    for (std::size_t i = 0; i < k.fixed_starts.size(); ++i) {
        if (k.fixed_starts[i] == 0 || k.fixed_starts[i] >= n ||
            (i > 0 && k.fixed_starts[i] <= k.fixed_starts[i - 1])) {
            throw std::invalid_argument(
                "optimal_binning: fixed starts must be increasing pre-bins after the first");
        }
    }
}

// Which limit the fixed starts break when no grouping meets them: the
// segments between them are the widest groups they allow, so a segment short
// of rows, events or non-events can be in no grouping; else there are more
// segments than bins allowed, or no grouping follows the trend.
OptimalBinningStatus fixed_cut_status(const double* c0, const double* c1, std::size_t n,
                                      const OptimalBinningConstraints& k, double total,
                                      std::size_t& segment) {
    std::vector<std::size_t> bounds = k.fixed_starts;
    bounds.push_back(n);
    std::size_t first = 0;
    for (segment = 0; segment < bounds.size(); ++segment) {
        double s0 = 0.0, s1 = 0.0;
        for (std::size_t i = first; i < bounds[segment]; ++i) s0 += c0[i], s1 += c1[i];
        if (!(s0 + s1 > 0.0 && (s0 + s1) / total >= k.min_bin_share))
            return OptimalBinningStatus::fixed_min_bin_share;
        if (s1 < k.min_events) return OptimalBinningStatus::fixed_min_events;
        if (s0 < k.min_non_events) return OptimalBinningStatus::fixed_min_non_events;
        first = bounds[segment];
    }
    segment = 0;
    if (k.max_bins != 0 && bounds.size() > k.max_bins) return OptimalBinningStatus::fixed_max_bins;
    return OptimalBinningStatus::fixed_trend;
}

}  // namespace

GroupWoe group_woe(double c0, double c1, double total_c0, double total_c1) {
    if (total_c0 == 0.0 || total_c1 == 0.0) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan};
    }
    if (c0 + c1 == 0.0) return {0.0, 0.0};
    const double event_share = (c1 > 0.0 ? c1 : kEmptyClassCount) / total_c1;
    const double non_event_share = (c0 > 0.0 ? c0 : kEmptyClassCount) / total_c0;
    const double woe = std::log(event_share / non_event_share);
    return {woe, (event_share - non_event_share) * woe};
}

OptimalBinning optimal_binning(const double* c0, const double* c1, std::size_t n_prebins,
                               const OptimalBinningConstraints& constraints) {
    check_arguments(c0, c1, n_prebins, constraints);
    double total_c0 = 0.0, total_c1 = 0.0;
    for (std::size_t i = 0; i < n_prebins; ++i) {
        total_c0 += c0[i];
        total_c1 += c1[i];
    }
    if (!is_finite(total_c0 + total_c1)) {
        throw std::invalid_argument("optimal_binning: pre-bin counts are too large");
    }
    OptimalBinning out;
    out.iv = std::numeric_limits<double>::quiet_NaN();
    out.trend = constraints.trend;
    // One group holding every row meets every limit but the counts, so these
    // totals alone decide whether any grouping exists.
    if (total_c1 < constraints.min_events) {
        out.status = OptimalBinningStatus::min_events_not_met;
    } else if (total_c0 < constraints.min_non_events) {
        out.status = OptimalBinningStatus::min_non_events_not_met;
    } else if (total_c0 == 0.0 || total_c1 == 0.0) {
        out.status = OptimalBinningStatus::single_class;
    }
    if (out.status != OptimalBinningStatus::optimal) return out;

    const GroupTable table = group_table(c0, c1, n_prebins, constraints, total_c0, total_c1);
    Trace chosen;
    if (constraints.trend == BinTrend::automatic) {
        chosen = best_grouping(table, constraints, BinTrend::ascending);
        Trace falling = best_grouping(table, constraints, BinTrend::descending);
        out.trend = BinTrend::ascending;
        if (better(falling.best.value, falling.best.bins, chosen.best)) {
            chosen = std::move(falling);
            out.trend = BinTrend::descending;
        }
    } else {
        chosen = best_grouping(table, constraints, constraints.trend);
    }
    if (chosen.best.value == kUnreached) {
        out.status = fixed_cut_status(c0, c1, n_prebins, constraints, total_c0 + total_c1,
                                      out.broken_segment);
        return out;
    }
    double iv = 0.0;
    for (const auto& [first, last] : chosen.groups) {
        const std::size_t g = tri(first, last);
        const GroupWoe w = group_woe(table.c0[g], table.c1[g], total_c0, total_c1);
        out.groups.push_back({first, last, table.c0[g], table.c1[g], w.woe, w.iv});
        iv += w.iv;
    }
    out.iv = iv;
    return out;
}

BinTrend parse_bin_trend(const std::string& s) {
    if (s == "none") return BinTrend::none;
    if (s == "ascending") return BinTrend::ascending;
    if (s == "descending") return BinTrend::descending;
    if (s == "peak") return BinTrend::peak;
    if (s == "valley") return BinTrend::valley;
    if (s == "auto") return BinTrend::automatic;
    throw std::invalid_argument(
        "optimal_binning: trend must be one of none, ascending, descending, peak, valley, auto");
}

const char* optimal_binning_status_message(OptimalBinningStatus status) {
    switch (status) {
        case OptimalBinningStatus::optimal:
            return "";
        case OptimalBinningStatus::min_events_not_met:
            return "the column holds fewer events than min_events";
        case OptimalBinningStatus::min_non_events_not_met:
            return "the column holds fewer non-events than min_non_events";
        case OptimalBinningStatus::single_class:
            return "the column holds a single class, so its information value is undefined";
        case OptimalBinningStatus::fixed_min_bin_share:
            return "a fixed cut leaves a bin with a share of the rows below min_bin_share";
        case OptimalBinningStatus::fixed_min_events:
            return "a fixed cut leaves a bin with fewer events than min_events";
        case OptimalBinningStatus::fixed_min_non_events:
            return "a fixed cut leaves a bin with fewer non-events than min_non_events";
        case OptimalBinningStatus::fixed_max_bins:
            return "the fixed cuts make more bins than max_bins";
        case OptimalBinningStatus::fixed_trend:
            return "no grouping around the fixed cuts follows the trend";
    }
    return "";
}

}  // namespace tessaline
