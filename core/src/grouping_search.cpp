#include "grouping_search.hpp"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "large_buffer.hpp"

namespace tessaline::grouping {
namespace {

// Beyond this many states (12 bytes each) the table would not be reasonable.
constexpr std::size_t kMaxStates = std::size_t{1} << 24;

// A trend as the programme runs it: levels times sign must rise, then (with
// two phases) may fall; `free` drops the level condition.
struct Shape {
    double sign;
    bool free;
    int phases;
};

Shape shape_of(BinTrend trend, const char* who) {
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
            throw std::invalid_argument(std::string(who) + ": unknown trend");
    }
}

struct Programme {
    const Groups& t;
    const Limits& k;
    Shape shape;
    std::size_t layers;  // 1 when the count is free; else one per group count
    bool limited;
    Reach* reach;  // layers * phases * groups states, every one unreached at first

    // The states of one group lie together, every phase and group count, so
    // that a boundary's sweep, which visits each group once for all counts,
    // meets one stretch of memory per group instead of one per count.
    Reach& at(std::size_t layer, int phase, std::size_t g) {
        return reach[(g * static_cast<std::size_t>(shape.phases) +
                      static_cast<std::size_t>(phase)) *
                         layers +
                     layer];
    }
    double signed_level(std::size_t g) const { return shape.sign * t.level[g]; }
    // Whether a group of signed level `to` in `phase` may follow one of level `from` in
    // `from_phase`.
    bool may_follow(double from, int from_phase, double to, int phase) const {
        if (shape.free) return phase == 0 && from_phase == 0;
        if (phase == 0) return from_phase == 0 && from < to;
        return from > to;
    }
};

void join(Programme& p, std::size_t layer, int phase, const Reach& best, std::size_t g) {
    if (best.value == kUnreached) return;
    p.at(layer, phase, g) = {best.value + p.t.value[g], best.bins + 1};
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
    for (std::size_t g : after) {  // rising, or any level when free
        while (k < before.size() &&
               (p.shape.free || p.signed_level(before[k]) < p.signed_level(g))) {
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
        while (k > 0 && p.signed_level(before[k - 1]) > p.signed_level(*it)) {
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
    std::vector<char> allowed;
    p.k.neighbours(before, after, allowed);
    for (std::size_t layer = p.limited ? 1 : 0; layer < p.layers; ++layer) {
        const std::size_t from = p.limited ? layer - 1 : 0;
        for (std::size_t a = 0; a < after.size(); ++a) {
            const double to = p.signed_level(after[a]);
            for (int ph = 0; ph < p.shape.phases; ++ph) {
                Reach best;
                for (std::size_t b = 0; b < before.size(); ++b) {
                    if (!allowed[a * before.size() + b]) continue;
                    for (int q = 0; q < p.shape.phases; ++q) {
                        if (p.may_follow(p.signed_level(before[b]), q, to, ph))
                            fold(best, p.at(from, q, before[b]));
                    }
                }
                join(p, layer, ph, best, after[a]);
            }
        }
    }
}

std::vector<std::size_t> by_level(const Programme& p, std::vector<std::size_t> groups) {
    std::stable_sort(groups.begin(), groups.end(), [&](std::size_t a, std::size_t b) {
        return p.signed_level(a) < p.signed_level(b);
    });
    return groups;
}

void run_forward(Programme& p) {
    const std::size_t n = p.t.n;
    for (std::size_t last = 0; last < n; ++last) {
        const std::size_t g = tri(0, last);
        if (p.t.allowed[g]) p.at(0, 0, g) = {p.t.value[g], 1};
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
        if (p.k.neighbours) {
            join_pairs(p, before, after);
        } else if (p.shape.free) {
            // Every group before joins every group after: the order of the
            // fold changes no state (a state keeps a value and a count, and
            // ties between them are settled by those alone).
            sweep_boundary(p, before, after);
        } else {
            sweep_boundary(p, by_level(p, before), by_level(p, after));
        }
    }
}

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
        // Which of the groups ending before this one may be its neighbour.
        std::vector<std::size_t> before;
        for (std::size_t k = 0; k < first; ++k)
            if (p.t.allowed[tri(k, first - 1)]) before.push_back(tri(k, first - 1));
        std::vector<char> joins(before.size(), 1);
        if (p.k.neighbours) p.k.neighbours(before, {g}, joins);
        std::size_t k = 0, j = 0;
        for (; k < first && !(next[0] || next[1]); ++k) {
            const std::size_t h = tri(k, first - 1);
            if (!p.t.allowed[h] || !joins[j++]) continue;
            for (int ph = 0; ph < p.shape.phases; ++ph) {
                if (!phases[ph]) continue;
                const Reach& target = p.at(layer, ph, g);
                for (int q = 0; q < p.shape.phases; ++q) {
                    if (!p.may_follow(p.signed_level(h), q, p.signed_level(g), ph)) continue;
                    const Reach& r = p.at(from, q, h);
                    if (r.value != kUnreached && r.bins + 1 == target.bins &&
                        r.value + p.t.value[g] == target.value)
                        next[q] = true;
                }
            }
        }
        if (!(next[0] || next[1])) throw std::logic_error(std::string(p.k.who) + ": broken trace");
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

}  // namespace

Groups sized_groups(std::size_t n) {
    Groups t;
    t.n = n;
    const std::size_t size = n * (n + 1) / 2;
    t.value.resize(size);
    t.level.resize(size);
    t.allowed.resize(size);
    return t;
}

void check_trend(BinTrend trend, const char* who) {
    if (trend != BinTrend::automatic) shape_of(trend, who);
}

Trace best_grouping(const Groups& t, const Limits& k, BinTrend trend) {
    const Shape shape = shape_of(trend, k.who);
    const bool limited = k.max_bins != 0 && k.max_bins < t.n;
    const std::size_t layers = limited ? k.max_bins : 1;
    const std::size_t states = layers * static_cast<std::size_t>(shape.phases) * t.value.size();
    if (t.n > 4096 || states > kMaxStates) {
        throw std::invalid_argument(
            std::string(k.who) +
            ": too many pre-bins for this bin limit (merge pre-bins or lower max_bins)");
    }
    // Tens of megabytes for a thousand pre-bins, and every column searches
    // several trends: a block this thread has used before, when it has one.
    const Scratch<Reach> reach = large_scratch<Reach>(states);
    std::uninitialized_fill(reach.get(), reach.get() + states, Reach{});
    Programme p{t, k, shape, layers, limited, reach.get()};
    run_forward(p);
    return trace_back(p);
}

Trace best_grouping_of(const Groups& t, const Limits& k, BinTrend trend, BinTrend& met) {
    met = trend;
    if (trend != BinTrend::automatic) return best_grouping(t, k, trend);
    Trace chosen = best_grouping(t, k, BinTrend::ascending);
    Trace falling = best_grouping(t, k, BinTrend::descending);
    met = BinTrend::ascending;
    if (better(falling.best.value, falling.best.bins, chosen.best)) {
        chosen = std::move(falling);
        met = BinTrend::descending;
    }
    return chosen;
}

}  // namespace tessaline::grouping
