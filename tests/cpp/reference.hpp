// Shared by the C++ tests: results flattened to bits, the message check, seeded
// samples, and one plain reference per algorithm (slow, obvious, no tables).
#ifndef TESSALINE_TESTS_REFERENCE_HPP
#define TESSALINE_TESTS_REFERENCE_HPP

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace ref {

using namespace tessaline;
using Values = std::vector<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();

// A result flattened to the bits of its fields, in order: equal digests mean
// equal bits (-0.0 differs from 0.0), with every NaN taken as one value. A
// type of this namespace, so that calls on it find every overload below.
struct Digest : std::vector<uint64_t> {};
inline void put(Digest& d, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    d.push_back(std::isnan(v) ? 0x7ff8000000000000ull : bits);
}
template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
void put(Digest& d, T v) {
    d.push_back(uint64_t(int64_t(v)));
}
// Each record field by field, in declaration order.
template <typename... F>
void put_all(Digest& d, const F&... fields) {
    (put(d, fields), ...);
}
inline void put(Digest& d, const Boundary& b) {
    put_all(d, b.pto_corte, b.c0, b.c1);
}
inline void put(Digest& d, const SplitResult& r) {
    put_all(d, r.found, r.has_candidate, r.pto, r.gain, r.cost_pos, r.cost_struct, r.cost,
            uint64_t{r.idx});
}
inline void put(Digest& d, const SummaryInterval& s) {
    put_all(d, s.left, s.right, s.c0, s.c1, s.total, s.p1);
}
inline void put(Digest& d, const BinningSummary& s) {
    put_all(d, s.left, s.right, uint64_t{s.count}, s.percentage, uint64_t{s.c0}, uint64_t{s.c1},
            s.event_rate, s.representative);
}
inline void put(Digest& d, const ContinuousBinningSummary& s) {
    put_all(d, s.left, s.right, uint64_t{s.count}, s.percentage, s.representative, s.target_mean,
            s.target_p25, s.target_median, s.target_p75);
}
inline void put(Digest& d, const PsiBin& b) {
    put_all(d, b.count_reference, b.count_current, b.proportion_reference, b.proportion_current,
            b.cumulative_reference, b.cumulative_current, b.psi_bin);
}
inline void put(Digest& d, const LorenzPoint& p) {
    put_all(d, p.value, p.cumulative_non_event, p.cumulative_event);
}
template <typename T>
void put(Digest& d, const std::vector<T>& values) {
    d.push_back(values.size());
    for (const T& v : values) put(d, v);
}
inline void put(Digest& d, const DistributionComparison& r) {
    put_all(d, r.bins, r.psi, r.ks);
}
inline void put(Digest& d, const LorenzCurve& c) {
    put_all(d, c.points, c.auc, c.gini);
}
template <typename... T>
Digest digest(const T&... values) {
    Digest d;
    put_all(d, values...);
    return d;
}

// The message of the std::invalid_argument that fn throws.
template <typename Fn>
std::string message_of(Fn&& fn) {
    try {
        fn();
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "<no std::invalid_argument>";
}

// Seeded data with many ties (distinct levels), a few NaN and infinities.
inline Values messy_sample(std::mt19937_64& rng, std::size_t n, int distinct) {
    std::uniform_int_distribution<int> level(0, distinct - 1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Values x(n);
    for (double& v : x) {
        const double u = unit(rng);
        v = u < 0.03   ? kNaN
            : u < 0.04 ? kInf
            : u < 0.05 ? -kInf
            : u < 0.5  ? level(rng) * 0.25 - 3.0
                       : unit(rng) * 10 - 5;
    }
    return x;
}

// Positions of the rows kept by `keep`, in a stable comparison sort by `less`.
template <typename Keep, typename Less>
std::vector<std::size_t> stable_order(std::size_t n, Keep keep, Less less) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < n; ++i)
        if (keep(i)) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), less);
    return order;
}

// ------------------------------------------------------------- binning

// The bin of v: the number of cut points strictly below it; NaN has none.
inline int64_t bin_of(double v, const Values& cuts) {
    return std::isnan(v) ? -1
                         : std::count_if(cuts.begin(), cuts.end(), [v](double c) { return c < v; });
}

// Quantile cuts: sort the finite values, then drop cuts that are not finite,
// not inside [min, max), or not above the previous one.
inline Values quantile_cuts(const Values& x, std::size_t n_bins) {
    const Values s = sorted_finite_values(x.data(), x.size());
    Values want;
    for (std::size_t i = 1; i < n_bins && s.front() != s.back(); ++i) {
        const double q = linear_quantile(s, double(i) / double(n_bins));
        if (is_finite(q) && q >= s.front() && q < s.back() && (want.empty() || q > want.back()))
            want.push_back(q);
    }
    return want;
}

inline double mean_of(const Values& v) {
    return v.empty() ? kNaN : std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
}
inline double quantile_of(Values v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? kNaN : linear_quantile(v, p);
}

// Per-bin lists of the x and y of the rows kept, the rows with NaN x last.
struct Groups {
    std::vector<Values> xs, ys;
    std::size_t used = 0;
};
inline Groups group(const Values& x, const Values& y, const Values& cuts, bool skip_nan_y) {
    Groups g{std::vector<Values>(cuts.size() + 2), std::vector<Values>(cuts.size() + 2)};
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (skip_nan_y && std::isnan(y[i])) continue;
        const int64_t b = bin_of(x[i], cuts);
        const std::size_t slot = b < 0 ? cuts.size() + 1 : std::size_t(b);
        g.xs[slot].push_back(x[i]), g.ys[slot].push_back(y[i]), ++g.used;
    }
    return g;
}

inline std::vector<ContinuousBinningSummary> continuous_summary(const Values& x, const Values& y,
                                                                const Values& cuts,
                                                                SummaryStatistic stat) {
    const Groups g = group(x, y, cuts, true);
    std::vector<ContinuousBinningSummary> rows;
    for (std::size_t b = 0; b < cuts.size() + 2; ++b) {
        const Values& v = g.ys[b];
        const bool miss = b == cuts.size() + 1;
        if (miss && v.empty()) break;  // a row for missing values only where there are some
        const double rep = miss                             ? kNaN
                           : stat == SummaryStatistic::Mean ? mean_of(g.xs[b])
                                                            : quantile_of(g.xs[b], 0.5);
        rows.push_back({miss     ? kNaN
                        : b == 0 ? -kInf
                                 : cuts[b - 1],
                        miss               ? kNaN
                        : b == cuts.size() ? kInf
                                           : cuts[b],
                        v.size(), g.used ? double(v.size()) / double(g.used) : 0.0, rep, mean_of(v),
                        quantile_of(v, 0.25), quantile_of(v, 0.5), quantile_of(v, 0.75)});
    }
    return rows;
}

// Any label but 0 is an event; a 0/1 target's mean is its event rate (0 in an
// empty bin).
template <typename Label>
std::vector<BinningSummary> binary_summary(const Values& x, const std::vector<Label>& y,
                                           const Values& cuts, SummaryStatistic stat) {
    std::vector<BinningSummary> rows;
    Values ones;
    for (Label v : y) ones.push_back(v != 0);
    for (const auto& r : continuous_summary(x, ones, cuts, stat)) {
        const auto c1 = std::size_t(std::llround(r.count ? r.target_mean * double(r.count) : 0.0));
        rows.push_back({r.left, r.right, r.count, r.percentage, r.count - c1, c1,
                        r.count ? r.target_mean : 0.0, r.representative});
    }
    return rows;
}

// ---------------------------------------------------------- diagnostics

inline DistributionComparison compare(const Values& r, const Values& c, const Values& cuts,
                                      double eps) {
    const Groups gr = group(r, r, cuts, false), gc = group(c, c, cuts, false);
    const std::size_t rows =
        cuts.size() + 1 + (gr.ys.back().empty() && gc.ys.back().empty() ? 0 : 1);
    DistributionComparison out;
    double cr = 0.0, cc = 0.0;
    for (std::size_t b = 0; b < rows; ++b) {
        const double pr = double(gr.ys[b].size()) / double(r.size()),
                     pc = double(gc.ys[b].size()) / double(c.size());
        const double psi = (pr - pc) * std::log(std::max(pr, eps) / std::max(pc, eps));
        cr += pr, cc += pc, out.psi += psi;
        out.bins.push_back(
            {int64_t(gr.ys[b].size()), int64_t(gc.ys[b].size()), pr, pc, cr, cc, psi});
        out.ks = std::max(out.ks, std::fabs(cr - cc));
    }
    return out;
}

// The distinct non-NaN scores in ascending order, each the first of its group
// in input order (so the sign of a zero too), with its counts of labels 0 and 1.
struct TieGroup {
    double value, zeros, ones;
};
inline std::vector<TieGroup> tie_groups(const Values& x, const std::vector<int>& y) {
    const auto order = stable_order(
        x.size(), [&](std::size_t i) { return !std::isnan(x[i]); },
        [&](std::size_t a, std::size_t b) { return x[a] < x[b]; });
    std::vector<TieGroup> groups;
    for (std::size_t i = 0, j = 0; i < order.size(); i = j) {
        groups.push_back({x[order[i]], 0.0, 0.0});
        for (; j < order.size() && x[order[j]] == x[order[i]]; ++j)
            (y[order[j]] ? groups.back().ones : groups.back().zeros) += 1;
    }
    return groups;
}

// One point per group; the area under the curve by trapezoids.
inline LorenzCurve lorenz(const Values& x, const std::vector<int>& y) {
    const std::vector<TieGroup> groups = tie_groups(x, y);
    double n0 = 0.0, n1 = 0.0, c0 = 0.0, c1 = 0.0, f0_prev = 0.0, f1_prev = 0.0, area = 0.0;
    for (const TieGroup& g : groups) n0 += g.zeros, n1 += g.ones;
    LorenzCurve c;
    for (const TieGroup& g : groups) {
        c0 += g.zeros, c1 += g.ones;
        const double f0 = c0 / n0, f1 = c1 / n1;
        c.points.push_back({g.value, f0, f1});
        area += ((f0 - f0_prev) * (f1_prev + f1)) * 0.5;
        f0_prev = f0, f1_prev = f1;
    }
    c.auc = 1.0 - area;
    c.gini = (c.auc + c.auc) - 1.0;
    return c;
}

// Rows of weights: one at the nearest end outside the representatives, two
// linear weights between the pair around v, the last column for NaN.
inline Values membership(const Values& x, const Values& r) {
    const std::size_t k = r.size();
    Values m(x.size() * (k + 1), 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        double* row = &m[i * (k + 1)];
        std::size_t j = 1;
        while (j < k && !(x[i] < r[j])) ++j;
        if (std::isnan(x[i]) || k == 1 || x[i] <= r[0] || x[i] >= r[k - 1]) {
            row[std::isnan(x[i]) ? k : k == 1 || x[i] <= r[0] ? 0 : k - 1] = 1.0;
            continue;
        }
        const double t = (x[i] - r[j - 1]) / (r[j] - r[j - 1]);
        row[j - 1] = 1.0 - t, row[j] = t;
    }
    return m;
}

// ----------------------------------------------------------------- mdlp

// The split search done plainly: the records' positions of the candidate
// cuts (a change of both value and label), class counts from running totals
// over the records, every candidate scored, and the depth-first recursion.
struct Search {
    const Values& x;
    TessalineParams p;
    std::vector<std::size_t> at{0};
    std::vector<int64_t> ones_before{0};
    std::vector<SplitResult> log;
    std::vector<std::pair<std::size_t, std::size_t>> ranges;  // the rows L, R of each entry

    Search(const Values& xs, const std::vector<int32_t>& y, const TessalineParams& params)
        : x(xs), p(params) {
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (i > 0 && x[i] != x[i - 1] && y[i] != y[i - 1]) at.push_back(i);
            ones_before.push_back(ones_before.back() + (y[i] != 0));
        }
        at.push_back(x.size());
    }
    int64_t ones(std::size_t from, std::size_t to) const {
        return ones_before[to] - ones_before[from];
    }
    // The boundary table: the first and last value, and the midpoint before
    // each candidate, with the class counts of the records below it.
    std::vector<Boundary> table() const {
        std::vector<Boundary> B;
        for (std::size_t k = 0; k < at.size() && !x.empty(); ++k) {
            const int64_t c1 = ones(0, at[k]);
            B.push_back({k == 0               ? x.front()
                         : k + 1 == at.size() ? x.back()
                                              : (x[at[k] - 1] + x[at[k]]) * 0.5,
                         int64_t(at[k]) - c1, c1});
        }
        return B;
    }
    static double entropy(int64_t ones, int64_t n) {
        const double f0 = double(n - ones) / double(n), f1 = double(ones) / double(n);
        return ones == 0 || ones == n ? 0.0 : -(f0 * std::log2(f0) + f1 * std::log2(f1));
    }
    SplitResult evaluate(std::size_t L, std::size_t R) const {
        SplitResult best;
        const int64_t n = int64_t(at[R] - at[L]), n1 = ones(at[L], at[R]);
        const double h = entropy(n1, n);
        double best_e = kInf;
        for (std::size_t k = L + 1; k < R && n >= 2; ++k) {
            const int64_t nl = int64_t(at[k] - at[L]), nr = n - nl, l1 = ones(at[L], at[k]),
                          r1 = n1 - l1;
            const double hl = entropy(l1, nl), hr = entropy(r1, nr);
            const double e = (double(nl) * hl + double(nr) * hr) / double(n);
            const double rate_l = double(l1) / double(nl), rate_r = double(r1) / double(nr);
            const bool filtered = (p.monotonicity == 1 || p.monotonicity == 3) &&
                                  ((p.mono_dir > 0 && !(rate_r >= rate_l)) ||
                                   (p.mono_dir < 0 && !(rate_l >= rate_r)));
            if (!(nl > p.minobs && nr > p.minobs) || filtered || !(e < best_e)) continue;
            best_e = e;
            best = {false,
                    true,
                    (x[at[k] - 1] + x[at[k]]) * 0.5,
                    h - e,  // plain values: exact midpoints
                    std::log2(double(n - 1)) / double(n),
                    (std::log2(7.0) - 2.0 * (h - hl - hr)) / double(n),
                    0.0,
                    k};
            best.cost = p.alpha_pos * best.cost_pos + p.beta_struct * best.cost_struct;
        }
        best.found = best.has_candidate && best.gain > best.cost;
        return best;
    }
    void search(std::size_t L, std::size_t R) {
        if (L + 1 >= R) return;
        const SplitResult r = evaluate(L, R);
        log.push_back(r), ranges.emplace_back(L, R);
        if (r.found) search(L, r.idx), search(r.idx, R);
    }
    std::vector<SplitResult> run() {
        if (!x.empty()) search(0, at.size() - 1);
        if (p.force_first_split && log.size() == 1 && log[0].has_candidate) log[0].found = true;
        return log;
    }
};

}  // namespace ref

#endif  // TESSALINE_TESTS_REFERENCE_HPP
