// Significance of the grouping of largest IV by permutation: the IV the same
// search finds on tables whose events are dealt among the pre-bins at random.
// The draws use a fixed generator and plain arithmetic only (no library
// distributions, no exp or log), so a seed gives the same tables everywhere;
// only the bound that skips the draws reads exp and log, and it decides only
// far from its limit.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "column_threads.hpp"
#include "hypergeometric_laws.hpp"
#include "iv_bounds.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

uint64_t SplitMix64::below(uint64_t m) {
    // Values under 2^64 mod m would make the low residues likelier.
    const uint64_t skip = (0 - m) % m;
    uint64_t r = next();
    while (r < skip) r = next();
    return r % m;
}

namespace {

// A table's totals over the searched pre-bins and the rows outside the
// search, and the IV of those rows.
struct TableTotals {
    double total0 = 0.0, total1 = 0.0, searched0 = 0.0, searched1 = 0.0, outside_iv = 0.0;
};

TableTotals table_totals(const std::vector<double>& c0, const std::vector<double>& c1,
                         const std::vector<double>& out0, const std::vector<double>& out1) {
    TableTotals t;
    for (std::size_t i = 0; i < c0.size(); ++i) t.total0 += c0[i], t.total1 += c1[i];
    t.searched0 = t.total0, t.searched1 = t.total1;
    for (std::size_t i = 0; i < out0.size(); ++i) t.total0 += out0[i], t.total1 += out1[i];
    for (std::size_t i = 0; i < out0.size(); ++i) {
        if (out0[i] + out1[i] > 0.0)
            t.outside_iv += group_woe(out0[i], out1[i], t.total0, t.total1).iv;
    }
    return t;
}

// The table's IV with the searched pre-bins grouped as `best`.
double grouped_iv(const OptimalBinning& best, const TableTotals& t) {
    double iv = 0.0;
    for (const auto& g : best.groups) iv += group_woe(g.c0, g.c1, t.total0, t.total1).iv;
    return iv + t.outside_iv;
}

// The table's IV of the best grouping of the searched pre-bins (none found:
// one group of them all), beside the rows outside the search.
double searched_iv(const std::vector<double>& c0, const std::vector<double>& c1,
                   const std::vector<double>& out0, const std::vector<double>& out1,
                   const OptimalBinningConstraints& limits, bool all_shapes) {
    const TableTotals t = table_totals(c0, c1, out0, out1);
    double best_iv = -1.0;
    const std::vector<BinTrend> shapes =
        all_shapes ? std::vector<BinTrend>{BinTrend::ascending, BinTrend::descending,
                                           BinTrend::peak, BinTrend::valley}
                   : std::vector<BinTrend>{limits.trend};
    for (BinTrend shape : shapes) {
        OptimalBinningConstraints these = limits;
        these.trend = shape;
        const OptimalBinning best = optimal_binning(c0.data(), c1.data(), c0.size(), these);
        if (best.status == OptimalBinningStatus::optimal)
            best_iv = std::max(best_iv, grouped_iv(best, t));
    }
    if (best_iv < 0.0)
        best_iv = group_woe(t.searched0, t.searched1, t.total0, t.total1).iv + t.outside_iv;
    return best_iv;
}

// The table's IV of the groupings the search found (see
// IvPermutationOptions::observed_firsts), as searched_iv makes it: the
// largest over the shapes of those that met the limits, else one group of
// all the pre-bins.
double given_iv(const std::vector<double>& c0, const std::vector<double>& c1,
                const std::vector<double>& out0, const std::vector<double>& out1,
                const std::vector<std::vector<std::size_t>>& firsts) {
    const TableTotals t = table_totals(c0, c1, out0, out1);
    double best_iv = -1.0;
    for (const std::vector<std::size_t>& first : firsts) {
        if (first.empty()) continue;
        double iv = 0.0;
        for (std::size_t j = 0; j < first.size(); ++j) {
            const std::size_t end = j + 1 < first.size() ? first[j + 1] : c0.size();
            double g0 = 0.0, g1 = 0.0;
            for (std::size_t i = first[j]; i < end; ++i) g0 += c0[i], g1 += c1[i];
            iv += group_woe(g0, g1, t.total0, t.total1).iv;
        }
        best_iv = std::max(best_iv, iv + t.outside_iv);
    }
    if (best_iv < 0.0)
        best_iv = group_woe(t.searched0, t.searched1, t.total0, t.total1).iv + t.outside_iv;
    return best_iv;
}

// The pre-bins' counts as the search reads them: in event-rate order for categories.
void searched_counts(const int64_t* c0, const int64_t* c1, std::size_t k, bool rate_order,
                     std::vector<double>& s0, std::vector<double>& s1) {
    s0.clear();
    s1.clear();
    if (!rate_order) {
        for (std::size_t i = 0; i < k; ++i) {
            s0.push_back(static_cast<double>(c0[i]));
            s1.push_back(static_cast<double>(c1[i]));
        }
        return;
    }
    for (int64_t i : event_rate_order(c0, c1, k)) {
        s0.push_back(static_cast<double>(c0[i]));
        s1.push_back(static_cast<double>(c1[i]));
    }
}

// The IV of the table row by row, an upper bound of the IV of any grouping
// of its pre-bins when every row holds both classes (each row's term is
// convex and grows in proportion to the row, so a merged row's term is at
// most the sum of its parts); infinite when a row lacks a class, as the
// half count standing in for it breaks the bound.
double ungrouped_iv(const std::vector<int64_t>& c0, const std::vector<int64_t>& c1,
                    const std::vector<double>& out0, const std::vector<double>& out1) {
    double total0 = 0.0, total1 = 0.0;
    for (std::size_t i = 0; i < c0.size(); ++i) {
        // An empty row is in no group of its own and adds nothing to one.
        if (c0[i] == 0 && c1[i] == 0) continue;
        if (c0[i] == 0 || c1[i] == 0) return HUGE_VAL;
        total0 += static_cast<double>(c0[i]), total1 += static_cast<double>(c1[i]);
    }
    for (std::size_t i = 0; i < out0.size(); ++i) {
        if ((out0[i] == 0.0) != (out1[i] == 0.0)) return HUGE_VAL;
        total0 += out0[i], total1 += out1[i];
    }
    double iv = 0.0;
    for (std::size_t i = 0; i < c0.size(); ++i) {
        iv += group_woe(static_cast<double>(c0[i]), static_cast<double>(c1[i]), total0, total1).iv;
    }
    for (std::size_t i = 0; i < out0.size(); ++i) {
        if (out0[i] > 0.0) iv += group_woe(out0[i], out1[i], total0, total1).iv;
    }
    return iv;
}

// The bounds and the search sum the same terms in another order.
bool may_reach(double bound, double reach) {
    return bound * (1.0 + 1e-9) >= reach;
}

// The largest bound of the shapes searched.
double largest_bound(const iv_bounds::ShapeBounds& bounds, BinTrend trend, bool all_shapes) {
    if (all_shapes) {
        return std::max({bounds.ascending, bounds.descending, bounds.peak, bounds.valley});
    }
    return iv_bounds::trend_bound(bounds, trend);
}

// Whether the automatic search reaches `reach`: it picks the better of the
// rising and the falling grouping by the search's own sum, whose totals
// leave out the rows outside the search, and the table's IV of that one is
// what must reach. Where the bound of one shape only may reach, that shape
// is searched alone: the other one falls short, so when this one does too
// the pick does; and where the other one's sum is sure to be smaller
// (bounded over the searched rows alone, as the search sums), this one is
// the pick. Else, and where both may reach, both are searched.
bool automatic_reaches(const std::vector<double>& c0, const std::vector<double>& c1,
                       const std::vector<double>& out0, const std::vector<double>& out1,
                       const OptimalBinningConstraints& limits,
                       const iv_bounds::ShapeBounds& bounds, double reach,
                       iv_bounds::Scratch& scratch) {
    const bool rising = may_reach(bounds.ascending, reach);
    const bool falling = may_reach(bounds.descending, reach);
    if (!rising && !falling) return false;
    if (rising != falling) {
        OptimalBinningConstraints these = limits;
        these.trend = rising ? BinTrend::ascending : BinTrend::descending;
        const OptimalBinning best = optimal_binning(c0.data(), c1.data(), c0.size(), these);
        if (best.status == OptimalBinningStatus::optimal) {
            if (grouped_iv(best, table_totals(c0, c1, out0, out1)) < reach) return false;
            const std::vector<double> none;
            const iv_bounds::ShapeBounds sums =
                iv_bounds::shape_bounds(c0, c1, none, none, limits, false, scratch);
            const double other = rising ? sums.descending : sums.ascending;
            if (sums.valid && other * (1.0 + 1e-9) < best.iv) return true;
        }
    }
    return searched_iv(c0, c1, out0, out1, limits, false) >= reach;
}

// Whether the search reaches `reach` on a table whose shapes' IVs are at
// most `bounds`: only the shapes whose bound reaches it are searched, the
// largest bound first, until one does.
bool reaches(const std::vector<double>& c0, const std::vector<double>& c1,
             const std::vector<double>& out0, const std::vector<double>& out1,
             const OptimalBinningConstraints& limits, bool all_shapes,
             const iv_bounds::ShapeBounds& bounds, double reach, iv_bounds::Scratch& scratch) {
    if (!all_shapes) {
        if (limits.trend == BinTrend::automatic)
            return automatic_reaches(c0, c1, out0, out1, limits, bounds, reach, scratch);
        const double bound = iv_bounds::trend_bound(bounds, limits.trend);
        return may_reach(bound, reach) && searched_iv(c0, c1, out0, out1, limits, false) >= reach;
    }
    std::pair<double, BinTrend> shapes[] = {{bounds.ascending, BinTrend::ascending},
                                            {bounds.descending, BinTrend::descending},
                                            {bounds.peak, BinTrend::peak},
                                            {bounds.valley, BinTrend::valley}};
    // Stable: equal bounds keep the order above.
    std::stable_sort(std::begin(shapes), std::end(shapes),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [bound, shape] : shapes) {
        if (!may_reach(bound, reach)) break;
        OptimalBinningConstraints these = limits;
        these.trend = shape;
        if (searched_iv(c0, c1, out0, out1, these, false) >= reach) return true;
    }
    return false;
}

// A bound of the chance that the null search reaches `observed_iv`, or
// infinity where it does not hold. The null's searched IV is at most its IV
// row by row (see ungrouped_iv), and that IV times events * non-events /
// rows is a two-sample divergence statistic whose law under independence
// tends to chi-square on (rows with anything) - 1 df. The Chernoff bound of
// that tail, P(X >= x) <= (x / df)^(df / 2) e^((df - x) / 2) for x > df,
// holds for any df; the limit law is trusted only when every row expects at
// least 5 of each class, and the caller asks for a bound far below the
// level, which leaves room for the approximation.
double chi_square_bound(const std::vector<int64_t>& rows, int64_t events, double observed_iv) {
    int64_t total = 0;
    for (int64_t r : rows) total += r;
    const double n = static_cast<double>(total), e = static_cast<double>(events);
    double df = -1.0;
    for (int64_t r : rows) {
        if (r == 0) continue;
        const double expected_events = static_cast<double>(r) * e / n;
        if (expected_events < 5.0 || static_cast<double>(r) - expected_events < 5.0) {
            return HUGE_VAL;
        }
        df += 1.0;
    }
    const double x = observed_iv * e * (n - e) / n;
    if (df < 1.0 || !(x > df)) return HUGE_VAL;
    return std::exp(0.5 * (df * std::log(x / df) + df - x));
}

void check_counts(const int64_t* c0, const int64_t* c1, std::size_t k) {
    for (std::size_t i = 0; i < k; ++i) {
        if (c0[i] < 0 || c1[i] < 0) {
            throw std::invalid_argument("iv_permutation_test: counts must not be negative");
        }
    }
}

// Checkpoints rising from 1, each with its two bounds.
void check_stops(const IvPermutationOptions& options) {
    const auto& checks = options.checks;
    bool rising = !checks.empty() ? checks.front() > 0 : true;
    for (std::size_t j = 1; j < checks.size(); ++j) rising = rising && checks[j] > checks[j - 1];
    if (!rising || options.below.size() != checks.size() || options.above.size() != checks.size()) {
        throw std::invalid_argument(
            "iv_permutation_test: checks must rise from 1, each with a below and an above bound");
    }
}

// One grouping per shape searched, each starting at the first pre-bin and
// rising below the k pre-bins (or empty).
void check_observed(const IvPermutationOptions& options, std::size_t k) {
    if (!options.has_observed) return;
    if (options.observed_firsts.size() != (options.all_shapes ? 4u : 1u)) {
        throw std::invalid_argument(
            "iv_permutation_test: observed_firsts must hold one grouping per shape searched");
    }
    for (const std::vector<std::size_t>& first : options.observed_firsts) {
        bool rising = first.empty() || (first.front() == 0 && first.back() < k);
        for (std::size_t j = 1; j < first.size(); ++j) rising = rising && first[j] > first[j - 1];
        if (!rising) {
            throw std::invalid_argument(
                "iv_permutation_test: an observed grouping must start at pre-bin 0 and rise "
                "below the number of pre-bins");
        }
    }
}

// A test's draws go to at most this many threads, each dealing at least
// MIN_SEGMENT tables of a stretch between checkpoints: fewer would cost more
// in starting threads than they save.
constexpr std::size_t MAX_THREADS = 16;
constexpr std::size_t MIN_SEGMENT = 16;

// Threads borrowed from a caller's spare ones, given back when done with,
// whatever ends the draws.
struct Lent {
    SpareThreads* spare = nullptr;
    std::size_t count = 0;
    Lent() = default;
    Lent(const Lent&) = delete;
    Lent& operator=(const Lent&) = delete;
    ~Lent() {
        if (count > 0) spare->give(count);
    }
};

// What judging a null table reads: the table's rows (the searched pre-bins,
// then the rows outside the search), the search's limits and the IV to reach.
struct NullSearch {
    const std::vector<int64_t>& rows;
    std::size_t k, n_outside;
    const OptimalBinningConstraints& limits;
    const IvPermutationOptions& options;
    double reach;
    bool bounded;  // every shape's search keeps a group of all the pre-bins
    bool turns;    // peaks or valleys are searched
};

// Whether the search reaches the observed IV on drawn tables, with buffers
// reused from table to table: the verdict depends on the table alone.
class DrawJudge {
  public:
    explicit DrawJudge(const NullSearch& search)
        : search_(search),
          n0_(search.k),
          n1_(search.k),
          out0_(search.n_outside),
          out1_(search.n_outside) {}

    bool reached(const std::vector<int64_t>& drawn) {
        const NullSearch& q = search_;
        const std::vector<int64_t>& rows = q.rows;
        for (std::size_t i = 0; i < q.k; ++i) n1_[i] = drawn[i], n0_[i] = rows[i] - drawn[i];
        for (std::size_t i = 0; i < q.n_outside; ++i) {
            out1_[i] = static_cast<double>(drawn[q.k + i]);
            out0_[i] = static_cast<double>(rows[q.k + i] - drawn[q.k + i]);
        }
        // Merging rows never raises the IV, so a table whose rows each hold
        // both classes and whose IV row by row falls short needs no search.
        // (The pooled fits below bound tighter; for categories this spares the sort.)
        if ((!q.bounded || q.options.rate_order) &&
            ungrouped_iv(n0_, n1_, out0_, out1_) * (1.0 + 1e-9) < q.reach)
            return false;
        searched_counts(n0_.data(), n1_.data(), q.k, q.options.rate_order, s0_, s1_);
        const iv_bounds::ShapeBounds bounds =
            q.bounded ? iv_bounds::shape_bounds(s0_, s1_, out0_, out1_, q.limits, q.turns, scratch_)
                      : iv_bounds::ShapeBounds{};
        if (!bounds.valid) {
            return searched_iv(s0_, s1_, out0_, out1_, q.limits, q.options.all_shapes) >= q.reach;
        }
        // On noise most draws that may reach do: a grouping the search could
        // pick shows it without the search, and the search is left to the rest.
        if (may_reach(largest_bound(bounds, q.limits.trend, q.options.all_shapes), q.reach) &&
            iv_bounds::picked_floor(s0_, s1_, out0_, out1_, q.limits, bounds, floor_scratch_) >=
                q.reach)
            return true;
        return reaches(s0_, s1_, out0_, out1_, q.limits, q.options.all_shapes, bounds, q.reach,
                       scratch_);
    }

  private:
    const NullSearch& search_;
    std::vector<int64_t> n0_, n1_;
    std::vector<double> out0_, out1_, s0_, s1_;
    iv_bounds::Scratch scratch_;
    iv_bounds::FloorScratch floor_scratch_;
};

// One thread's dealer and judge, and the outcome of the stretch it dealt
// last: its reached count.
struct Drawer {
    Drawer(const NullSearch& search, int64_t events, SplitMix64 rng, std::size_t max_laws)
        : deals(search.rows, events, rng, max_laws), judge(search) {}

    hypergeometric::TableDeals deals;
    DrawJudge judge;
    std::vector<int64_t> drawn;
    std::size_t exceedances = 0;
};

// The draws a stretch dealt in parallel settled, where the generator stands
// after them and the calls their last table took; `whole` when every
// thread's guess of where its tables start held.
struct SegmentsRun {
    std::size_t draws = 0, exceedances = 0, last_calls = 0;
    SplitMix64 end{0};
    bool whole = true;
};

// The next `count` tables from the generator `at`, split among the first
// `n` drawers in consecutive segments, each on a thread of its own. A
// segment starts where the generator would stand had every table before it
// taken `calls_per_table` calls, as tables nearly always take the same (one
// per law, one per row of an urn); the segments from the first that did not
// start where the one before it ended are dropped, so the draws settled are
// exactly the ones dealt one by one, whatever the number of threads.
SegmentsRun draw_segments(std::vector<std::unique_ptr<Drawer>>& drawers, std::size_t n,
                          SplitMix64 at, std::size_t calls_per_table, std::size_t count) {
    std::vector<std::size_t> sizes(n, count / n);
    for (std::size_t j = 0; j < count % n; ++j) ++sizes[j];
    std::vector<SplitMix64> starts(n, at);
    for (std::size_t j = 1; j < n; ++j) {
        starts[j] = starts[j - 1];
        starts[j].skip(sizes[j - 1] * calls_per_table);
    }
    for_each_column_on_threads(n, n, [&](std::size_t j) {
        Drawer& d = *drawers[j];
        d.deals.restart(starts[j]);
        d.exceedances = 0;
        for (std::size_t t = 0; t < sizes[j]; ++t) {
            d.deals.next(d.drawn);
            if (d.judge.reached(d.drawn)) ++d.exceedances;
        }
    });
    SegmentsRun run;
    std::size_t j = 0;
    for (; j < n; ++j) {
        if (j > 0 && !hypergeometric::same_state(drawers[j - 1]->deals.generator(), starts[j]))
            break;
        run.draws += sizes[j];
        run.exceedances += drawers[j]->exceedances;
    }
    run.whole = j == n;
    run.end = drawers[j - 1]->deals.generator();
    run.last_calls = drawers[j - 1]->deals.last_calls();
    return run;
}

}  // namespace

std::vector<int64_t> hypergeometric_table(const int64_t* rows, std::size_t k, int64_t events,
                                          SplitMix64& rng) {
    int64_t total = 0;
    for (std::size_t i = 0; i < k; ++i) {
        if (rows[i] < 0)
            throw std::invalid_argument("hypergeometric_table: rows must not be negative");
        total += rows[i];
    }
    if (events < 0 || events > total) {
        throw std::invalid_argument("hypergeometric_table: events must be between 0 and the rows");
    }
    std::vector<int64_t> drawn(k, 0);
    std::vector<double> weights;
    hypergeometric::Inversion law;
    for (std::size_t i = 0; i < k && events > 0; ++i) {
        if (!hypergeometric::settled(total, events, rows[i], rng, drawn[i])) {
            hypergeometric::build_inversion(total, events, rows[i], weights, law);
            drawn[i] = hypergeometric::invert(law, rng);
        }
        total -= rows[i];
        events -= drawn[i];
    }
    return drawn;
}

IvPermutationTest iv_permutation_test(const int64_t* c0, const int64_t* c1, std::size_t k,
                                      const int64_t* outside_c0, const int64_t* outside_c1,
                                      std::size_t n_outside,
                                      const OptimalBinningConstraints& limits,
                                      const IvPermutationOptions& options) {
    check_counts(c0, c1, k);
    check_counts(outside_c0, outside_c1, n_outside);
    if (k == 0) throw std::invalid_argument("iv_permutation_test: no pre-bin to search");
    if (options.max_draws == 0) {
        throw std::invalid_argument("iv_permutation_test: draws must be positive");
    }
    check_stops(options);
    check_observed(options, k);
    std::vector<int64_t> rows(k + n_outside);
    int64_t events = 0;
    for (std::size_t i = 0; i < k; ++i) rows[i] = c0[i] + c1[i], events += c1[i];
    for (std::size_t i = 0; i < n_outside; ++i) {
        rows[k + i] = outside_c0[i] + outside_c1[i];
        events += outside_c1[i];
    }
    std::vector<double> s0, s1;
    std::vector<double> out0(outside_c0, outside_c0 + n_outside);
    std::vector<double> out1(outside_c1, outside_c1 + n_outside);
    searched_counts(c0, c1, k, options.rate_order, s0, s1);
    IvPermutationTest test;
    // Whole counts below 2^53 add exactly in any order, so the given groups'
    // counts are those the search's own groups hold; beyond, it searches.
    int64_t searched_rows = 0;
    for (std::size_t i = 0; i < k; ++i) searched_rows += rows[i];
    test.observed_iv = options.has_observed && searched_rows < (int64_t{1} << 53)
                           ? given_iv(s0, s1, out0, out1, options.observed_firsts)
                           : searched_iv(s0, s1, out0, out1, limits, options.all_shapes);
    // A null IV within rounding of the observed one counts as reaching it.
    const double reach = test.observed_iv - 1e-12 * std::fabs(test.observed_iv);
    if (options.sure_pvalue > 0.0) {
        const double bound = chi_square_bound(rows, events, test.observed_iv);
        if (bound < options.sure_pvalue) {
            test.pvalue = bound;
            return test;
        }
    }
    // Every shape's search keeps at least one group of all the pre-bins when
    // the searched rows meet the counts asked of a group and no cut is fixed.
    double searched_events = 0.0, searched_non_events = 0.0;
    for (std::size_t i = 0; i < k; ++i) searched_non_events += s0[i], searched_events += s1[i];
    const NullSearch search{
        rows,
        k,
        n_outside,
        limits,
        options,
        reach,
        limits.fixed_starts.empty() && limits.trend != BinTrend::none &&
            searched_events >= limits.min_events && searched_non_events >= limits.min_non_events,
        options.all_shapes || limits.trend == BinTrend::peak || limits.trend == BinTrend::valley};
    std::size_t check = 0;  // the next checkpoint
    const auto sure = [&] {
        if (check == options.checks.size() || test.draws != options.checks[check]) return false;
        const auto reached = static_cast<int64_t>(test.exceedances);
        const bool settled = reached <= options.below[check] || reached >= options.above[check];
        ++check;
        return settled;
    };
    const std::size_t n_threads = std::clamp<std::size_t>(options.threads, 1, MAX_THREADS);
    Drawer serial(search, events, SplitMix64(options.seed),
                  hypergeometric::LawCache::DEFAULT_MAX_LAWS);
    // The threads read the laws the draws one by one kept (most of those a
    // table needs, and a single copy in cache), each keeping the others it
    // builds apart, and walking on its own copy of a law it reads where a
    // draw needs it further out, so that none writes in a cache another
    // reads.
    std::vector<std::unique_ptr<Drawer>> drawers;
    std::size_t calls_per_table = 0;
    std::size_t serial_check = options.checks.size() + 1;  // a stretch a guess failed in
    while (test.draws < options.max_draws && !sure()) {
        const std::size_t stop = check < options.checks.size()
                                     ? std::min(options.checks[check], options.max_draws)
                                     : options.max_draws;
        const std::size_t left = stop - test.draws;
        // A test drawing alone borrows the threads its caller left idle, for
        // the draws up to its next checkpoint (each thread at least a
        // segment's worth).
        Lent lent;
        if (n_threads < 2 && options.spare != nullptr && check != serial_check &&
            left >= 2 * MIN_SEGMENT && options.spare->idle() > 0) {
            lent.spare = options.spare;
            lent.count = options.spare->take(std::min(MAX_THREADS, left / MIN_SEGMENT) - 1);
        }
        const std::size_t n_now = n_threads + lent.count;
        if (n_now < 2 || check == serial_check || left < n_now * MIN_SEGMENT) {
            serial.deals.next(serial.drawn);
            ++test.draws;
            if (serial.judge.reached(serial.drawn)) ++test.exceedances;
            calls_per_table = serial.deals.last_calls();
            continue;
        }
        while (drawers.size() < n_now) {
            drawers.push_back(
                std::make_unique<Drawer>(search, events, SplitMix64(options.seed),
                                         hypergeometric::LawCache::DEFAULT_MAX_LAWS / n_now));
            drawers.back()->deals.share(&serial.deals.cache());
        }
        const SegmentsRun run =
            draw_segments(drawers, n_now, serial.deals.generator(), calls_per_table, left);
        test.draws += run.draws;
        test.exceedances += run.exceedances;
        calls_per_table = run.last_calls;
        serial.deals.restart(run.end);
        // Tables whose calls vary are dealt serially up to the next checkpoint.
        if (!run.whole) serial_check = check;
    }
    test.pvalue = static_cast<double>(1 + test.exceedances) / static_cast<double>(1 + test.draws);
    return test;
}

}  // namespace tessaline
