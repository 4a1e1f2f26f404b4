// MDLP segmentation: the two-class minimum-description-length test on one
// segment of the boundary table, the depth-first split search that drives it,
// and the final intervals between the accepted cuts.
//
// Every count comes from the boundary table by subtraction; no record is
// visited after the table is built.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "large_buffer.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// log2(3^k - 2) for k = 2 classes.
constexpr double kLog2Of7 = 2.807354922057604;

// Count arithmetic wraps instead of overflowing: the Python entry point hands
// in tables it does not check, and a nonsense table must give nonsense numbers,
// never undefined behaviour. On real tables no count comes near the limits.
inline int64_t count_sub(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

inline int64_t count_add(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

// Base-2 entropy of two class counts, 0 for a pure or empty side. Each share
// is its own division (f1 is not 1 - f0), in this order.
inline double entropy(int64_t a, int64_t b) {
    const int64_t total = count_add(a, b);
    if (a == 0 || b == 0 || total == 0) return 0.0;
    const double t = static_cast<double>(total);
    const double f0 = static_cast<double>(a) / t;
    const double f1 = static_cast<double>(b) / t;
    return -(f0 * std::log2(f0) + f1 * std::log2(f1));
}

// Event rate of one side; 0/0 gives NaN, which fails either direction test.
inline double event_rate(int64_t ones, int64_t size) {
    return static_cast<double>(ones) / static_cast<double>(size);
}

// Orders accepted rows by their cut point. Ties (and NaN cuts, possible only
// on unchecked unsorted input) fall back on the row index, so the order is a
// strict weak ordering whatever the table holds.
struct ByCutPoint {
    const std::vector<Boundary>& table;
    bool operator()(std::size_t a, std::size_t b) const {
        const double pa = table[a].pto_corte;
        const double pb = table[b].pto_corte;
        const bool nan_a = std::isnan(pa);
        const bool nan_b = std::isnan(pb);
        if (nan_a != nan_b) return nan_b;
        if (!nan_a && pa != pb) return pa < pb;
        return a < b;
    }
};

SummaryInterval interval_between(double left, double right, int64_t c0, int64_t c1) {
    const int64_t total = count_add(c0, c1);
    const double p1 =
        total > 0 ? static_cast<double>(c1) / static_cast<double>(total) : 0.0;
    return SummaryInterval{left, right, c0, c1, total, p1};
}

}  // namespace

Segment make_segment(const std::vector<Boundary>& B, std::size_t L, std::size_t R) {
    Segment s{L, R, 0, 0, 0, 0};
    if (L >= R || B.empty() || R >= B.size()) return s;
    s.c0_start = B[L].c0;
    s.c1_start = B[L].c1;
    s.c0_seg = count_sub(B[R].c0, B[L].c0);
    s.c1_seg = count_sub(B[R].c1, B[L].c1);
    return s;
}

namespace {

// Side entropies computed afresh at every row.
struct FreshSides {
    double left(std::size_t, int64_t a, int64_t b) const { return entropy(a, b); }
    double right(std::size_t, int64_t a, int64_t b) const { return entropy(a, b); }
};

// The evaluation of one segment. `sides` gives the entropy of the left part
// of row i (rows L+1 .. i, counts nl0, nl1) as sides.left(i, nl0, nl1) and
// that of the right part as sides.right(i, nr0, nr1).
template <typename Sides>
SplitResult evaluate_with(const std::vector<Boundary>& B, const Segment& s,
                          const TessalineParams& p, Sides& sides) {
    const SplitResult empty;
    if (B.empty() || s.L >= s.R || s.R >= B.size()) return empty;
    const int64_t n_seg = count_add(s.c0_seg, s.c1_seg);
    if (n_seg < 2 || s.R == s.L + 1) return empty;

    const double n = static_cast<double>(n_seg);
    const double h = entropy(s.c0_seg, s.c1_seg);
    const double cost_pos = std::log2(static_cast<double>(n_seg - 1)) / n;
    const bool direction_filter =
        (p.monotonicity == 1 || p.monotonicity == 3) && p.mono_dir != 0;

    // The best row is the first one with the smallest weighted entropy: the
    // test below is strict, so a later row never displaces an equal one.
    double best_e = std::numeric_limits<double>::infinity();
    std::size_t best_idx = 0;
    double best_hl = 0.0;
    double best_hr = 0.0;
    for (std::size_t i = s.L + 1; i < s.R; ++i) {
        const int64_t nl0 = count_sub(B[i].c0, s.c0_start);
        const int64_t nl1 = count_sub(B[i].c1, s.c1_start);
        const int64_t nr0 = count_sub(s.c0_seg, nl0);
        const int64_t nr1 = count_sub(s.c1_seg, nl1);
        const int64_t nl = count_add(nl0, nl1);
        const int64_t nr = count_add(nr0, nr1);
        // Each side needs strictly more than minobs records.
        if (p.minobs >= std::min(nl, nr)) continue;
        // The direction test does not depend on the entropies, so it runs
        // first and spares the logarithms of rejected rows.
        if (direction_filter) {
            const double rate_left = event_rate(nl1, nl);
            const double rate_right = event_rate(nr1, nr);
            const bool keep =
                p.mono_dir > 0 ? rate_right >= rate_left : rate_left >= rate_right;
            if (!keep) continue;
        }
        const double hl = sides.left(i, nl0, nl1);
        const double hr = sides.right(i, nr0, nr1);
        const double e =
            (static_cast<double>(nl) * hl + static_cast<double>(nr) * hr) / n;
        if (e < best_e) {
            best_e = e;
            best_idx = i;
            best_hl = hl;
            best_hr = hr;
        }
    }
    if (best_idx == 0) return empty;  // row 0 is never inner, so 0 means none

    SplitResult r;
    r.has_candidate = true;
    r.idx = best_idx;
    r.pto = B[best_idx].pto_corte;
    r.gain = h - best_e;
    r.cost_pos = cost_pos;
    r.cost_struct = (kLog2Of7 - 2.0 * (h - best_hl - best_hr)) / n;
    r.cost = p.alpha_pos * r.cost_pos + p.beta_struct * r.cost_struct;
    r.found = r.gain > r.cost;
    return r;
}

// Entropies of one side of the rows, remembered between the evaluations of
// one search. In a segment made from the table, the counts of the left part
// of row i depend only on i and L, and (in wrapping arithmetic) those of the
// right part only on i and R; so a value is reused whenever the segment edge
// it was computed for comes back. The depth-first search evaluates a segment
// right after its parent or after its left sibling's subtree, which stays
// inside the sibling, so the left child finds the left entropies of its
// parent and the right child the right ones. The results are the same bits,
// only computed once.
class SideEntropies {
public:
    explicit SideEntropies(std::size_t rows) : value_(large_vector<double>(rows)) {
        reserve_large(edge_, rows);
        edge_.assign(rows, kNoEdge);
    }

    bool known(std::size_t i, std::size_t edge) const {
        return edge_[i] == static_cast<Edge>(edge);
    }

    double get(std::size_t i, std::size_t edge, int64_t a, int64_t b) {
        if (!known(i, edge)) {
            value_[i] = entropy(a, b);
            edge_[i] = static_cast<Edge>(edge);
        }
        return value_[i];
    }

private:
    // Segment edges are row numbers of a table that has fewer rows than this.
    using Edge = uint32_t;
    static constexpr Edge kNoEdge = std::numeric_limits<Edge>::max();
    std::vector<double> value_;
    std::vector<Edge> edge_;
};

// Tables at least this long are searched without remembered entropies.
constexpr std::size_t kRememberedRowsLimit = std::numeric_limits<uint32_t>::max();

// Both sides of the rows of one segment [L, R], remembered.
struct RememberedSides {
    SideEntropies& left_of;
    SideEntropies& right_of;
    std::size_t L;
    std::size_t R;
    double left(std::size_t i, int64_t a, int64_t b) { return left_of.get(i, L, a, b); }
    double right(std::size_t i, int64_t a, int64_t b) { return right_of.get(i, R, a, b); }
};

}  // namespace

SplitResult evaluate_segment(const std::vector<Boundary>& B, const Segment& s,
                             const TessalineParams& p) {
    FreshSides fresh;
    return evaluate_with(B, s, p, fresh);
}

std::vector<SplitResult> compute_splits(const std::vector<Boundary>& B,
                                        const TessalineParams& p) {
    std::vector<SplitResult> log;
    if (B.size() <= 1) return log;

    const bool remember = B.size() < kRememberedRowsLimit;
    SideEntropies left(remember ? B.size() : 0);
    SideEntropies right(remember ? B.size() : 0);

    // Pending segments, last in first out. The left half of an accepted split
    // is pushed last, so the log comes out in depth-first pre-order, left
    // before right, without recursion.
    std::vector<std::pair<std::size_t, std::size_t>> pending;
    pending.emplace_back(0, B.size() - 1);
    while (!pending.empty()) {
        const auto [L, R] = pending.back();
        pending.pop_back();
        if (L + 1 >= R) continue;  // no inner row: not evaluated, not logged
        const Segment segment = make_segment(B, L, R);
        RememberedSides sides{left, right, L, R};
        const SplitResult r =
            remember ? evaluate_with(B, segment, p, sides) : evaluate_segment(B, segment, p);
        log.push_back(r);
        if (r.found) {
            pending.emplace_back(r.idx, R);
            pending.emplace_back(L, r.idx);
        }
    }

    // A single rejected root with a candidate may be forced; its halves are
    // not searched.
    if (p.force_first_split && log.size() == 1 && log[0].has_candidate && !log[0].found) {
        log[0].found = true;
    }
    return log;
}

std::vector<SplitResult> mdlp(const SortedView& view, const TessalineParams& p) {
    const std::vector<Boundary> B = compute_boundaries(view);
    if (B.size() <= 1) return {};
    return compute_splits(B, p);
}

std::vector<SplitResult> fit_mdlp_from_raw(const double* x, const double* y, std::size_t n,
                                           const TessalineParams& p,
                                           std::optional<double> value, double percentile) {
    const PreprocessResult prepared = preprocess_data(x, y, n, value, percentile);
    const SortedView view{prepared.x.data(), prepared.y.data(), prepared.x.size()};
    return mdlp(view, p);
}

MdlpFullResult mdlp_full(const SortedView& view, const TessalineParams& params) {
    MdlpFullResult result;
    const std::vector<Boundary> B = compute_boundaries(view);
    if (B.empty()) return result;
    result.mdlp = compute_splits(B, params);

    std::vector<std::size_t> cuts;
    for (const SplitResult& r : result.mdlp) {
        if (r.found) cuts.push_back(r.idx);
    }
    std::sort(cuts.begin(), cuts.end(), ByCutPoint{B});
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    const double inf = std::numeric_limits<double>::infinity();
    const Boundary& last = B.back();
    result.summary.reserve(cuts.size() + 1);
    // Interval counts are differences of cumulative rows, starting from a row
    // before every record.
    Boundary prev{-inf, 0, 0};
    for (std::size_t i : cuts) {
        const Boundary& row = B[i];
        result.summary.push_back(interval_between(prev.pto_corte, row.pto_corte,
                                                  count_sub(row.c0, prev.c0),
                                                  count_sub(row.c1, prev.c1)));
        prev = row;
    }
    result.summary.push_back(interval_between(prev.pto_corte, inf, count_sub(last.c0, prev.c0),
                                              count_sub(last.c1, prev.c1)));
    return result;
}

}  // namespace tessaline
