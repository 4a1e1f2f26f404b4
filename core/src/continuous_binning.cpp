// Continuous optimal binning: the contiguous grouping of ordered pre-bins
// whose group means explain most of the target's variance, under a bin
// limit, a least share of the weight, a least number of rows and a trend of
// the group means.
//
// The criterion, the between-group sum of squares sum_g W_g (mean_g - mean)^2
// with mean the overall mean, is a sum of one term per group, so a dynamic
// programme finds the optimum exactly, as for the binary target's
// information value (optimal_binning.cpp, whose search this one follows): a
// state is the last group so far, the number of groups when it is limited,
// and the phase of a peak or valley; for each boundary between pre-bins the
// groups ending before it and those starting at it are sorted by mean once,
// and a sweep with a running best joins them. O(n^2 log n + bins * n^2)
// time, O(bins * n^2) memory for n pre-bins. Terms are added left to right,
// one group at a time, so the criterion is bit for bit the sum of the chosen
// groups' terms.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

constexpr double kUnreached = -std::numeric_limits<double>::infinity();
constexpr std::size_t kMaxStates = std::size_t{1} << 24;

std::size_t tri(std::size_t first, std::size_t last) {
    return last * (last + 1) / 2 + first;
}

// Every contiguous group: its weight, sum, mean, criterion term and whether
// it meets the limits.
struct Groups {
    std::size_t n = 0;
    std::vector<double> weight, sum, mean, term;
    std::vector<char> allowed;
};

Groups group_table(const double* w, const double* s, const double* rows, std::size_t n,
                   const ContinuousBinningConstraints& k, double total_weight,
                   double overall_mean) {
    Groups t;
    t.n = n;
    const std::size_t size = n * (n + 1) / 2;
    t.weight.resize(size);
    t.sum.resize(size);
    t.mean.resize(size);
    t.term.resize(size);
    t.allowed.resize(size);
    for (std::size_t first = 0; first < n; ++first) {
        double gw = 0.0, gs = 0.0, gr = 0.0;
        for (std::size_t last = first; last < n; ++last) {
            gw += w[last];
            gs += s[last];
            gr += rows[last];
            const std::size_t g = tri(first, last);
            const double mean = gw > 0.0 ? gs / gw : 0.0;
            const double d = mean - overall_mean;
            t.weight[g] = gw;
            t.sum[g] = gs;
            t.mean[g] = mean;
            t.term[g] = gw * (d * d);
            t.allowed[g] = gw > 0.0 && gr >= k.min_rows && gw / total_weight >= k.min_bin_share;
        }
    }
    return t;
}

// A trend as the programme runs it: means times sign rise, then (with two
// phases) may fall; `free` drops the condition.
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
            throw std::invalid_argument("continuous_binning: unknown trend");
    }
}

struct Reach {
    double value = kUnreached;
    uint32_t bins = 0;
};

bool better(double value, uint32_t bins, const Reach& than) {
    return value > than.value || (value == than.value && bins < than.bins);
}

void fold(Reach& best, const Reach& r) {
    if (r.value != kUnreached && better(r.value, r.bins, best)) best = r;
}

struct Programme {
    const Groups& t;
    Shape shape;
    std::size_t layers;
    bool limited;
    std::vector<Reach> reach;

    Reach& at(std::size_t layer, int phase, std::size_t g) {
        return reach[(layer * static_cast<std::size_t>(shape.phases) +
                      static_cast<std::size_t>(phase)) *
                         t.term.size() +
                     g];
    }
    double signed_mean(std::size_t g) const { return shape.sign * t.mean[g]; }
    bool may_follow(double from, int from_phase, double to, int phase) const {
        if (shape.free) return phase == 0 && from_phase == 0;
        if (phase == 0) return from_phase == 0 && from < to;
        return from > to;
    }
};

void join(Programme& p, std::size_t layer, int phase, const Reach& best, std::size_t g) {
    if (best.value == kUnreached) return;
    p.at(layer, phase, g) = {best.value + p.t.term[g], best.bins + 1};
}

// Joins the groups ending at i - 1 (sorted by signed mean) to those starting at i.
void sweep_boundary(Programme& p, const std::vector<std::size_t>& before,
                    const std::vector<std::size_t>& after) {
    for (std::size_t layer = p.limited ? 1 : 0; layer < p.layers; ++layer) {
        const std::size_t from = p.limited ? layer - 1 : 0;
        Reach best;
        std::size_t k = 0;
        for (std::size_t g : after) {  // rising, or any mean when free
            while (k < before.size() &&
                   (p.shape.free || p.signed_mean(before[k]) < p.signed_mean(g))) {
                fold(best, p.at(from, 0, before[k++]));
            }
            join(p, layer, 0, best, g);
        }
        if (p.shape.phases < 2) continue;
        best = Reach{};
        k = before.size();
        for (auto it = after.rbegin(); it != after.rend(); ++it) {  // falling
            while (k > 0 && p.signed_mean(before[k - 1]) > p.signed_mean(*it)) {
                --k;
                fold(best, p.at(from, 0, before[k]));
                fold(best, p.at(from, 1, before[k]));
            }
            join(p, layer, 1, best, *it);
        }
    }
}

std::vector<std::size_t> by_mean(const Programme& p, std::vector<std::size_t> groups) {
    std::stable_sort(groups.begin(), groups.end(), [&](std::size_t a, std::size_t b) {
        return p.signed_mean(a) < p.signed_mean(b);
    });
    return groups;
}

void run_forward(Programme& p) {
    const std::size_t n = p.t.n;
    for (std::size_t last = 0; last < n; ++last) {
        const std::size_t g = tri(0, last);
        if (p.t.allowed[g]) p.at(0, 0, g) = {p.t.term[g], 1};
    }
    for (std::size_t i = 1; i < n; ++i) {
        std::vector<std::size_t> before, after;
        for (std::size_t first = 0; first < i; ++first) {
            if (p.t.allowed[tri(first, i - 1)]) before.push_back(tri(first, i - 1));
        }
        for (std::size_t last = i; last < n; ++last) {
            if (p.t.allowed[tri(i, last)]) after.push_back(tri(i, last));
        }
        if (!before.empty() && !after.empty()) {
            sweep_boundary(p, by_mean(p, before), by_mean(p, after));
        }
    }
}

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
    std::size_t layer = p.limited ? out.best.bins - 1 : 0;
    std::size_t first = 0;
    bool phases[2] = {false, false};
    for (first = 0; first < n; ++first) {
        for (int ph = 0; ph < p.shape.phases; ++ph) {
            const Reach& r = p.at(layer, ph, tri(first, n - 1));
            phases[ph] =
                r.value != kUnreached && r.bins == out.best.bins && r.value == out.best.value;
        }
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
            if (!p.t.allowed[h]) continue;
            for (int ph = 0; ph < p.shape.phases; ++ph) {
                if (!phases[ph]) continue;
                const Reach& target = p.at(layer, ph, g);
                for (int q = 0; q < p.shape.phases; ++q) {
                    if (!p.may_follow(p.signed_mean(h), q, p.signed_mean(g), ph)) continue;
                    const Reach& r = p.at(from, q, h);
                    if (r.value != kUnreached && r.bins + 1 == target.bins &&
                        r.value + p.t.term[g] == target.value)
                        next[q] = true;
                }
            }
        }
        if (!(next[0] || next[1])) throw std::logic_error("continuous_binning: broken trace");
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

Trace best_grouping(const Groups& t, const ContinuousBinningConstraints& k, BinTrend trend) {
    const Shape shape = shape_of(trend);
    const bool limited = k.max_bins != 0 && k.max_bins < t.n;
    const std::size_t layers = limited ? k.max_bins : 1;
    const std::size_t states = layers * static_cast<std::size_t>(shape.phases) * t.term.size();
    if (t.n > 4096 || states > kMaxStates) {
        throw std::invalid_argument(
            "continuous_binning: too many pre-bins for this bin limit (merge pre-bins or lower "
            "max_bins)");
    }
    Programme p{t, shape, layers, limited, std::vector<Reach>(states)};
    run_forward(p);
    return trace_back(p);
}

void check_arguments(const double* w, const double* s, const double* rows, std::size_t n,
                     const ContinuousBinningConstraints& k) {
    if (n == 0) throw std::invalid_argument("continuous_binning: no pre-bins");
    if (w == nullptr || s == nullptr || rows == nullptr)
        throw std::invalid_argument("continuous_binning: missing pre-bins");
    for (std::size_t i = 0; i < n; ++i) {
        if (!(is_finite(w[i]) && w[i] >= 0.0 && is_finite(s[i]) && is_finite(rows[i]) &&
              rows[i] >= 0.0)) {
            throw std::invalid_argument(
                "continuous_binning: pre-bin weights and rows must be finite and non-negative, "
                "sums finite");
        }
    }
    if (!(k.min_bin_share >= 0.0 && k.min_bin_share <= 1.0)) {
        throw std::invalid_argument("continuous_binning: min_bin_share must be between 0 and 1");
    }
    if (!(is_finite(k.min_rows) && k.min_rows >= 0.0)) {
        throw std::invalid_argument("continuous_binning: min_rows must be finite and non-negative");
    }
    if (k.trend != BinTrend::automatic) shape_of(k.trend);
}

}  // namespace

ContinuousBinning continuous_binning(const double* weight, const double* sum, const double* rows,
                                     std::size_t n_prebins,
                                     const ContinuousBinningConstraints& constraints) {
    check_arguments(weight, sum, rows, n_prebins, constraints);
    double total_weight = 0.0, total_sum = 0.0, total_rows = 0.0;
    for (std::size_t i = 0; i < n_prebins; ++i) {
        total_weight += weight[i];
        total_sum += sum[i];
        total_rows += rows[i];
    }
    if (!is_finite(total_weight) || !is_finite(total_sum)) {
        throw std::invalid_argument("continuous_binning: pre-bin sums are too large");
    }
    ContinuousBinning out;
    out.between_ss = std::numeric_limits<double>::quiet_NaN();
    out.trend = constraints.trend;
    // One group of every row meets every limit but the rows, so these totals
    // alone decide whether any grouping exists.
    if (total_rows < constraints.min_rows) {
        out.status = ContinuousBinningStatus::min_rows_not_met;
        return out;
    }
    if (!(total_weight > 0.0)) {
        out.status = ContinuousBinningStatus::no_weight;
        return out;
    }
    out.overall_mean = total_sum / total_weight;
    const Groups table =
        group_table(weight, sum, rows, n_prebins, constraints, total_weight, out.overall_mean);
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
        throw std::logic_error("continuous_binning: no grouping though one group meets the limits");
    }
    double between = 0.0;
    for (const auto& [first, last] : chosen.groups) {
        const std::size_t g = tri(first, last);
        out.groups.push_back(
            {first, last, table.weight[g], table.sum[g], table.mean[g], table.term[g]});
        between += table.term[g];
    }
    out.between_ss = between;
    return out;
}

const char* continuous_binning_status_message(ContinuousBinningStatus status) {
    switch (status) {
        case ContinuousBinningStatus::optimal:
            return "";
        case ContinuousBinningStatus::min_rows_not_met:
            return "the column holds fewer rows than min_rows";
        case ContinuousBinningStatus::no_weight:
            return "the column's rows weigh nothing (every weight is 0)";
    }
    return "";
}

}  // namespace tessaline
