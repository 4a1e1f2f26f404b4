#include "grouping_search.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <stdexcept>
#include <string>
#include <utility>

#include "large_buffer.hpp"

namespace tessaline::grouping {
namespace {

// Beyond this many states (12 bytes each) the table would not be reasonable.
constexpr std::size_t kMaxStates = std::size_t{1} << 24;
constexpr const char* too_many =
    ": too many pre-bins for this bin limit (merge pre-bins or lower max_bins)";

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
    Reach* reach;                  // layers * phases * groups states, every one unreached at first
    std::vector<Reach> best = {};  // a boundary's running best of each layer

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

// The groups of one side of a boundary in ascending order of level, read
// backwards for a trend of falling levels, so that either way they come in
// ascending order of signed level.
struct Side {
    const std::size_t* groups;
    std::size_t size;
    bool backwards;
    std::size_t operator[](std::size_t k) const { return groups[backwards ? size - 1 - k : k]; }
};

// Joins the groups ending at i - 1 (source layer) to those starting at i.
// Every group count is swept at once, each with its own running best: the
// counts never read what another count writes at this boundary (the groups
// read end before it, those written start at it), so each count folds and
// joins exactly as it would alone. Groups of equal level are folded
// together, and a running best does not depend on the order of its folds
// (it keeps a value and a count, ties settled by those alone), so any order
// of equal levels gives the same states.
// The states of every layer a boundary folds or joins lie side by side:
// `count` running bests folded from, or joined into, one stretch of states.
void fold_layers(Reach* best, const Reach* states, std::size_t count) {
    for (std::size_t l = 0; l < count; ++l) fold(best[l], states[l]);
}

void join_layers(Reach* states, const Reach* best, double value, std::size_t count) {
    for (std::size_t l = 0; l < count; ++l) {
        if (best[l].value != kUnreached) states[l] = {best[l].value + value, best[l].bins + 1};
    }
}

// How many layers a boundary reads and writes when the count is limited:
// the pre-bins before boundary i make at most i groups, and a group starting
// at pre-bin `first` ends a grouping of at most first + 1 groups, so the
// layers past those hold unreached states only, which neither fold nor join.
std::size_t reachable_layers(std::size_t layers, std::size_t groups) {
    return std::min(layers, groups);
}

void sweep_boundary(Programme& p, const Side& before, const Side& after, std::size_t i) {
    // Layer l joins from layer l - 1 when the count is limited; the one
    // layer joins from itself when it is not.
    const std::size_t first_layer = p.limited ? 1 : 0;
    const std::size_t count = reachable_layers(p.layers - first_layer, i);
    // Groups before boundary i end at pre-bin i - 1: tri(first, i - 1).
    const std::size_t row = tri(0, i - 1);
    const auto folded = [&](std::size_t h) { return reachable_layers(count, h - row + 1); };
    Reach* best = p.best.data() + first_layer;
    std::fill(p.best.begin(), p.best.end(), Reach{});
    std::size_t k = 0;
    for (std::size_t a = 0; a < after.size; ++a) {  // rising, or any level when free
        const std::size_t g = after[a];
        while (k < before.size && (p.shape.free || p.signed_level(before[k]) < p.signed_level(g))) {
            fold_layers(best, &p.at(0, 0, before[k]), folded(before[k]));
            ++k;
        }
        join_layers(&p.at(first_layer, 0, g), best, p.t.value[g], count);
    }
    if (p.shape.phases < 2) return;
    std::fill(p.best.begin(), p.best.end(), Reach{});
    k = before.size;
    for (std::size_t a = after.size; a-- > 0;) {  // falling
        const std::size_t g = after[a];
        while (k > 0 && p.signed_level(before[k - 1]) > p.signed_level(g)) {
            --k;
            fold_layers(best, &p.at(0, 0, before[k]), folded(before[k]));
            fold_layers(best, &p.at(0, 1, before[k]), folded(before[k]));
        }
        join_layers(&p.at(first_layer, 1, g), best, p.t.value[g], count);
    }
}

// Joins every pair of groups across one boundary that the limit between
// neighbours allows (`allowed`, tested once for every trend and layer).
void join_pairs(Programme& p, const std::vector<std::size_t>& before,
                const std::vector<std::size_t>& after, const std::vector<char>& allowed,
                std::size_t i) {
    // Layer `layer` joins from layer - 1, reached by at most i groups.
    const std::size_t layers = p.limited ? reachable_layers(p.layers, i + 1) : p.layers;
    for (std::size_t layer = p.limited ? 1 : 0; layer < layers; ++layer) {
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

// The allowed groups on either side of every boundary, for every trend of a
// search to read: those ending just before it, those starting at it, each
// side in ascending order of level (ties by position) when a trend reads
// levels.
struct Boundaries {
    std::vector<std::size_t> before, after;        // the sides, boundary after boundary
    std::vector<std::size_t> before_at, after_at;  // where each boundary's side begins
};

// Sides up to this many groups are sorted by insertion: a side holds at most
// one group per pre-bin, and on the few dozen of a usual search insertion
// takes some 2.5 times less than a general sort, whose comparisons of
// random levels the processor mispredicts half the time; past it, the
// quadratic moves would cost more.
constexpr std::size_t kInsertionSide = 64;

// Each side sorted on its own: n sorts of at most n groups, cheaper than
// one sort of all of them. A side lists its groups in rising order (by
// first or last pre-bin), so a stable sort by level orders equal levels by
// group as the general sort of (level, group) pairs does: either sort gives
// the same sides.
void sort_sides_by_level(const Groups& t, std::vector<std::size_t>& groups,
                         const std::vector<std::size_t>& at) {
    std::vector<std::pair<double, std::size_t>> keyed;
    std::vector<double> levels;
    for (std::size_t i = 0; i + 1 < at.size(); ++i) {
        std::size_t* side = groups.data() + at[i];
        const std::size_t size = at[i + 1] - at[i];
        if (size <= kInsertionSide) {
            levels.resize(size);
            for (std::size_t j = 0; j < size; ++j) {
                const std::size_t g = side[j];
                const double level = t.level[g];
                std::size_t p = j;
                for (; p > 0 && levels[p - 1] > level; --p) {
                    levels[p] = levels[p - 1];
                    side[p] = side[p - 1];
                }
                levels[p] = level;
                side[p] = g;
            }
            continue;
        }
        keyed.clear();
        for (std::size_t j = 0; j < size; ++j) keyed.push_back({t.level[side[j]], side[j]});
        std::sort(keyed.begin(), keyed.end());
        for (std::size_t j = 0; j < size; ++j) side[j] = keyed[j].second;
    }
}

Boundaries boundaries_of(const Groups& t, bool by_level) {
    const std::size_t n = t.n;
    Boundaries out;
    out.before_at.assign(n + 1, 0);
    out.after_at.assign(n + 1, 0);
    // At most every group but those ending the table lies before a boundary,
    // and every one but those starting it after one: room for them all up
    // front spares the copies of a growing side, where that room is small.
    if (n <= 512) {
        out.before.reserve(n * (n - 1) / 2);
        out.after.reserve(n * (n - 1) / 2);
    }
    for (std::size_t i = 1; i < n; ++i) {
        for (std::size_t first = 0; first < i; ++first) {
            if (t.allowed[tri(first, i - 1)]) out.before.push_back(tri(first, i - 1));
        }
        for (std::size_t last = i; last < n; ++last) {
            if (t.allowed[tri(i, last)]) out.after.push_back(tri(i, last));
        }
        out.before_at[i + 1] = out.before.size();
        out.after_at[i + 1] = out.after.size();
    }
    if (by_level) {
        sort_sides_by_level(t, out.before, out.before_at);
        sort_sides_by_level(t, out.after, out.after_at);
    }
    return out;
}

void run_forward(std::vector<Programme>& programmes, const Groups& t, const Limits& k) {
    const std::size_t n = t.n;
    for (Programme& p : programmes) {
        p.best.resize(p.layers);
        for (std::size_t last = 0; last < n; ++last) {
            const std::size_t g = tri(0, last);
            if (t.allowed[g]) p.at(0, 0, g) = {t.value[g], 1};
        }
    }
    // Groups of equal level are folded together (see sweep_boundary) and a
    // trend of no shape folds every group before any join, so only trends
    // that read levels need the sides in order.
    const bool by_level = std::any_of(programmes.begin(), programmes.end(),
                                      [](const Programme& p) { return !p.shape.free; });
    const Boundaries sides = boundaries_of(t, by_level && !k.neighbours);
    std::vector<std::size_t> before, after;
    std::vector<char> allowed;
    for (std::size_t i = 1; i < n; ++i) {
        const std::size_t* b = sides.before.data() + sides.before_at[i];
        const std::size_t* a = sides.after.data() + sides.after_at[i];
        const std::size_t nb = sides.before_at[i + 1] - sides.before_at[i];
        const std::size_t na = sides.after_at[i + 1] - sides.after_at[i];
        if (nb == 0 || na == 0) continue;
        if (k.neighbours) {
            before.assign(b, b + nb);
            after.assign(a, a + na);
            k.neighbours(before, after, allowed);
            for (Programme& p : programmes) join_pairs(p, before, after, allowed, i);
            continue;
        }
        for (Programme& p : programmes) {
            const bool backwards = p.shape.sign < 0.0;
            sweep_boundary(p, Side{b, nb, backwards}, Side{a, na, backwards}, i);
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
    std::vector<std::size_t> before, group(1);
    std::vector<char> joins;
    while (first > 0) {
        const std::size_t g = tri(first, last);
        const std::size_t from = p.limited ? layer - 1 : 0;
        bool next[2] = {false, false};
        // Which of the groups ending before this one may be its neighbour.
        before.clear();
        for (std::size_t k = 0; k < first; ++k)
            if (p.t.allowed[tri(k, first - 1)]) before.push_back(tri(k, first - 1));
        joins.assign(before.size(), 1);
        group[0] = g;
        if (p.k.neighbours) p.k.neighbours(before, group, joins);
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

// Every state of a block unreached: the first one set, then the block
// copied onto its own end in doubling runs. A state is a 12-byte record
// padded to 16, which a fill stores field by field; the copies move it in
// the widest stores the library has, and the states of a search of some 80
// pre-bins (hundreds of kilobytes) took a tenth of its time filled one by one.
void unreached(Reach* states, std::size_t count) {
    static_assert(std::is_trivially_copyable<Reach>::value, "states are copied as bytes");
    if (count == 0) return;
    new (states) Reach{};
    for (std::size_t done = 1; done < count;) {
        const std::size_t run = std::min(done, count - done);
        std::memcpy(static_cast<void*>(states + done), states, run * sizeof(Reach));
        done += run;
    }
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

std::vector<Trace> best_groupings(const Groups& t, const Limits& k,
                                  const std::vector<BinTrend>& trends) {
    const bool limited = k.max_bins != 0 && k.max_bins < t.n;
    const std::size_t layers = limited ? k.max_bins : 1;
    std::vector<Shape> shapes;
    for (BinTrend trend : trends) shapes.push_back(shape_of(trend, k.who));
    std::vector<std::size_t> states;
    for (const Shape& shape : shapes) {
        states.push_back(layers * static_cast<std::size_t>(shape.phases) * t.value.size());
        if (t.n > 4096 || states.back() > kMaxStates)
            throw std::invalid_argument(std::string(k.who) + too_many);
    }
    // Tens of megabytes for a thousand pre-bins, and every column searches
    // several trends: blocks this thread has used before, when it has them.
    std::vector<Scratch<Reach>> reach;
    std::vector<Programme> programmes;
    for (std::size_t i = 0; i < trends.size(); ++i) {
        reach.push_back(large_scratch<Reach>(states[i]));
        unreached(reach[i].get(), states[i]);
        programmes.push_back(Programme{t, k, shapes[i], layers, limited, reach[i].get()});
    }
    run_forward(programmes, t, k);
    std::vector<Trace> out;
    for (Programme& p : programmes) out.push_back(trace_back(p));
    return out;
}

Trace best_grouping(const Groups& t, const Limits& k, BinTrend trend) {
    return std::move(best_groupings(t, k, {trend})[0]);
}

std::vector<Trace> best_groupings_of(const Groups& t, const Limits& k,
                                     const std::vector<BinTrend>& trends,
                                     std::vector<BinTrend>& met) {
    // Each trend searched once, automatic as ascending and descending.
    std::vector<BinTrend> searched;
    const auto search = [&searched](BinTrend trend) {
        if (std::find(searched.begin(), searched.end(), trend) == searched.end())
            searched.push_back(trend);
    };
    for (BinTrend trend : trends) {
        if (trend != BinTrend::automatic) {
            search(trend);
        } else {
            search(BinTrend::ascending);
            search(BinTrend::descending);
        }
    }
    const std::vector<Trace> found = best_groupings(t, k, searched);
    const auto of = [&](BinTrend trend) -> const Trace& {
        return found[static_cast<std::size_t>(std::find(searched.begin(), searched.end(), trend) -
                                              searched.begin())];
    };
    std::vector<Trace> out;
    met.clear();
    for (BinTrend trend : trends) {
        BinTrend chosen = trend;
        if (trend == BinTrend::automatic) {
            const Trace& falling = of(BinTrend::descending);
            chosen = better(falling.best.value, falling.best.bins, of(BinTrend::ascending).best)
                         ? BinTrend::descending
                         : BinTrend::ascending;
        }
        out.push_back(of(chosen));
        met.push_back(chosen);
    }
    return out;
}

Trace best_grouping_of(const Groups& t, const Limits& k, BinTrend trend, BinTrend& met) {
    std::vector<BinTrend> followed;
    Trace chosen = std::move(best_groupings_of(t, k, {trend}, followed)[0]);
    met = followed[0];
    return chosen;
}

}  // namespace tessaline::grouping
