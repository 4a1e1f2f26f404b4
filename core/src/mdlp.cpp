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

// Weighted counts are plain sums of weights: they cannot wrap.
inline double count_sub(double a, double b) {
    return a - b;
}
inline double count_add(double a, double b) {
    return a + b;
}

// A segment of a table of weighted counts, as Segment is of rows.
struct WeightedSegment {
    std::size_t L;
    std::size_t R;
    double c0_start;
    double c1_start;
    double c0_seg;
    double c1_seg;
};

// The segment type of each boundary type.
template <typename Row>
struct SegmentOf;
template <>
struct SegmentOf<Boundary> {
    using type = Segment;
};
template <>
struct SegmentOf<WeightedBoundary> {
    using type = WeightedSegment;
};

// Base-2 entropy of two class counts (rows or weights), 0 for a pure or
// empty side. Each share is its own division (f1 is not 1 - f0), in this order.
template <typename C>
double entropy(C a, C b) {
    const C total = count_add(a, b);
    if (a == 0 || b == 0 || total == 0) return 0.0;
    const double t = static_cast<double>(total);
    const double f0 = static_cast<double>(a) / t;
    const double f1 = static_cast<double>(b) / t;
    return -(f0 * std::log2(f0) + f1 * std::log2(f1));
}

// Event rate of one side; 0/0 gives NaN, which fails either direction test.
template <typename C>
double event_rate(C ones, C size) {
    return static_cast<double>(ones) / static_cast<double>(size);
}

// Orders accepted rows by their cut point. Ties (and NaN cuts, possible only
// on unchecked unsorted input) fall back on the row index, so the order is a
// strict weak ordering whatever the table holds.
template <typename Row>
struct ByCutPoint {
    const std::vector<Row>& table;
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
    const double p1 = total > 0 ? static_cast<double>(c1) / static_cast<double>(total) : 0.0;
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

// Weighted entropy of one row and the entropies of its two sides.
struct RowScore {
    double e;
    double hl;
    double hr;
};

// The rows of one segment [L, R] as candidate cuts. The left part of row i
// holds rows L+1 .. i and the right part the rest of the segment; all counts
// come from the table by subtraction. Counts are rows (Boundary) or sums of
// weights (WeightedBoundary), read alike: an integer weight is that many rows.
template <typename Row>
struct SegmentRows {
    using C = decltype(Row::c0);
    const std::vector<Row>& B;
    const typename SegmentOf<Row>::type& s;
    const TessalineParams& p;
    double n;
    bool direction_filter;

    // The score of row i, or false when the row may not be cut.
    bool score(std::size_t i, RowScore& out) const {
        const C nl0 = count_sub(B[i].c0, s.c0_start);
        const C nl1 = count_sub(B[i].c1, s.c1_start);
        const C nr0 = count_sub(s.c0_seg, nl0);
        const C nr1 = count_sub(s.c1_seg, nl1);
        const C nl = count_add(nl0, nl1);
        const C nr = count_add(nr0, nr1);
        // Each side needs strictly more than minobs records (or weight).
        if (p.minobs >= std::min(nl, nr)) return false;
        // The direction test does not depend on the entropies, so it runs
        // first and spares the logarithms of rejected rows.
        if (direction_filter) {
            const double rate_left = event_rate(nl1, nl);
            const double rate_right = event_rate(nr1, nr);
            const bool keep = p.mono_dir > 0 ? rate_right >= rate_left : rate_left >= rate_right;
            if (!keep) return false;
        }
        out.hl = entropy(nl0, nl1);
        out.hr = entropy(nr0, nr1);
        out.e = (static_cast<double>(nl) * out.hl + static_cast<double>(nr) * out.hr) / n;
        return true;
    }

    // Weighted entropy of a split with these counts on each side.
    double weighted(C l0, C l1, C r0, C r1) const {
        return (static_cast<double>(l0 + l1) * entropy(l0, l1) +
                static_cast<double>(r0 + r1) * entropy(r0, r1)) /
               n;
    }

    // A lower bound of the weighted entropy of every row in [first, last],
    // valid when the table's counts are cumulative. A side of a0 + a1
    // records carries (a0 + a1) * H(a0, a1) bits, a concave function of the
    // counts. Moving from row `first` to a later row of the range hands
    // d0 <= D0 zeros and d1 <= D1 ones from the right side to the left, D
    // being the records between `first` and `last`; the bits of both sides
    // are a concave function of (d0, d1) on that box, so none of its points,
    // and no row of the range, carries fewer than the least of its corners.
    double lower_bound(std::size_t first, std::size_t last) const {
        const C l0 = B[first].c0 - s.c0_start;
        const C l1 = B[first].c1 - s.c1_start;
        const C d0 = B[last].c0 - B[first].c0;
        const C d1 = B[last].c1 - B[first].c1;
        const C r0 = s.c0_seg - l0 - d0;
        const C r1 = s.c1_seg - l1 - d1;
        return std::min(
            std::min(weighted(l0, l1, r0 + d0, r1 + d1), weighted(l0 + d0, l1 + d1, r0, r1)),
            std::min(weighted(l0 + d0, l1, r0, r1 + d1), weighted(l0, l1 + d1, r0 + d0, r1)));
    }
};

// The best row so far: the first one with the smallest weighted entropy. The
// test is strict, so a later row never displaces an equal one.
struct BestRow {
    std::size_t idx = 0;  // row 0 is never inner, so 0 means none
    RowScore score{std::numeric_limits<double>::infinity(), 0.0, 0.0};

    template <typename Row>
    void consider(const SegmentRows<Row>& rows, std::size_t i) {
        RowScore candidate;
        if (rows.score(i, candidate) && candidate.e < score.e) {
            idx = i;
            score = candidate;
        }
    }
};

// Every row, in order.
template <typename Row>
void scan_every_row(const SegmentRows<Row>& rows, BestRow& best) {
    for (std::size_t i = rows.s.L + 1; i < rows.s.R; ++i) best.consider(rows, i);
}

// A computed weighted entropy lies within about 10 units in the last place
// of 1 (2.3e-15 bits) of its exact value, and so does a computed bound. A
// range is passed over only when its bound exceeds the best score by far
// more than both errors, so that no row scoring at or below the best, as
// computed, is ever passed over.
constexpr double kBoundSlack = 1e-12;
constexpr std::size_t kLeafRows = 16;
constexpr std::size_t kSampledRows = 64;

// Rows [first, last] in order, passing over every range whose rows all
// carry more bits than a row already scored (`ceiling` or the best so far).
template <typename Row>
void scan_bounded(const SegmentRows<Row>& rows, std::size_t first, std::size_t last, double ceiling,
                  BestRow& best) {
    const double limit = std::min(ceiling, best.score.e);
    if (rows.lower_bound(first, last) > limit + kBoundSlack) return;
    if (last - first < kLeafRows) {
        for (std::size_t i = first; i <= last; ++i) best.consider(rows, i);
        return;
    }
    const std::size_t middle = first + (last - first) / 2;
    scan_bounded(rows, first, middle, ceiling, best);
    scan_bounded(rows, middle + 1, last, ceiling, best);
}

// The same best row as scan_every_row, for tables whose counts are
// cumulative: a few evenly spaced rows are scored first, and the best of
// them bounds what the ordered scan must look at. Rows are still visited
// in order, so ties resolve exactly as in the full scan.
template <typename Row>
void scan_with_bounds(const SegmentRows<Row>& rows, BestRow& best) {
    const std::size_t first = rows.s.L + 1;
    const std::size_t last = rows.s.R - 1;
    const std::size_t count = last - first + 1;
    if (count <= kSampledRows) {
        scan_every_row(rows, best);
        return;
    }
    double ceiling = std::numeric_limits<double>::infinity();
    const std::size_t step = count / kSampledRows;
    for (std::size_t i = first + step / 2; i <= last; i += step) {
        RowScore sampled;
        if (rows.score(i, sampled)) ceiling = std::min(ceiling, sampled.e);
    }
    scan_bounded(rows, first, last, ceiling, best);
}

// The evaluation of one segment, its best row found by `find_best`.
template <typename Row, typename FindBest>
SplitResult evaluate_with(const std::vector<Row>& B, const typename SegmentOf<Row>::type& s,
                          const TessalineParams& p, FindBest find_best) {
    const SplitResult empty;
    if (B.empty() || s.L >= s.R || s.R >= B.size()) return empty;
    const auto n_seg = count_add(s.c0_seg, s.c1_seg);
    if (n_seg < 2 || s.R == s.L + 1) return empty;

    const double n = static_cast<double>(n_seg);
    const double h = entropy(s.c0_seg, s.c1_seg);
    const double cost_pos = std::log2(static_cast<double>(n_seg - 1)) / n;
    const bool direction_filter = (p.monotonicity == 1 || p.monotonicity == 3) && p.mono_dir != 0;

    const SegmentRows<Row> rows{B, s, p, n, direction_filter};
    BestRow best;
    find_best(rows, best);
    if (best.idx == 0) return empty;

    SplitResult r;
    r.has_candidate = true;
    r.idx = best.idx;
    r.pto = B[best.idx].pto_corte;
    r.gain = h - best.score.e;
    r.cost_pos = cost_pos;
    r.cost_struct = (kLog2Of7 - 2.0 * (h - best.score.hl - best.score.hr)) / n;
    r.cost = p.alpha_pos * r.cost_pos + p.beta_struct * r.cost_struct;
    r.found = r.gain > r.cost;
    return r;
}

// Counts are cumulative when they start at zero or above, never decrease and
// stay exact as doubles: the tables built from data always are, a table
// handed in from outside may not be.
template <typename Row>
bool counts_are_cumulative(const std::vector<Row>& B) {
    constexpr int64_t kExact = int64_t{1} << 52;
    if (B.empty() || B.front().c0 < 0 || B.front().c1 < 0) return false;
    if (B.back().c0 >= kExact || B.back().c1 >= kExact) return false;
    for (std::size_t i = 1; i < B.size(); ++i) {
        if (B[i].c0 < B[i - 1].c0 || B[i].c1 < B[i - 1].c1) return false;
    }
    return true;
}

}  // namespace

SplitResult evaluate_segment(const std::vector<Boundary>& B, const Segment& s,
                             const TessalineParams& p) {
    return evaluate_with(B, s, p, scan_every_row<Boundary>);
}

namespace {

// Segment L..R of a table of weighted counts, as make_segment of rows.
WeightedSegment make_segment(const std::vector<WeightedBoundary>& B, std::size_t L, std::size_t R) {
    WeightedSegment s{L, R, 0.0, 0.0, 0.0, 0.0};
    if (L >= R || B.empty() || R >= B.size()) return s;
    s.c0_start = B[L].c0;
    s.c1_start = B[L].c1;
    s.c0_seg = B[R].c0 - B[L].c0;
    s.c1_seg = B[R].c1 - B[L].c1;
    return s;
}

// The depth-first split search over a table of rows or of weights.
template <typename Row>
std::vector<SplitResult> search_splits(const std::vector<Row>& B, const TessalineParams& p) {
    std::vector<SplitResult> log;
    if (B.size() <= 1) return log;
    const bool bounded = counts_are_cumulative(B);

    // Pending segments, last in first out. The left half of an accepted split
    // is pushed last, so the log comes out in depth-first pre-order, left
    // before right, without recursion.
    std::vector<std::pair<std::size_t, std::size_t>> pending;
    pending.emplace_back(0, B.size() - 1);
    while (!pending.empty()) {
        const auto [L, R] = pending.back();
        pending.pop_back();
        if (L + 1 >= R) continue;  // no inner row: not evaluated, not logged
        const auto segment = make_segment(B, L, R);
        const SplitResult r = bounded ? evaluate_with(B, segment, p, scan_with_bounds<Row>)
                                      : evaluate_with(B, segment, p, scan_every_row<Row>);
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

}  // namespace

std::vector<SplitResult> compute_splits(const std::vector<Boundary>& B, const TessalineParams& p) {
    return search_splits(B, p);
}

std::vector<SplitResult> compute_splits_weighted(const std::vector<WeightedBoundary>& B,
                                                 const TessalineParams& p) {
    return search_splits(B, p);
}

std::vector<SplitResult> mdlp(const SortedView& view, const TessalineParams& p) {
    const std::vector<Boundary> B = compute_boundaries(view);
    if (B.size() <= 1) return {};
    return compute_splits(B, p);
}

std::vector<SplitResult> fit_mdlp_from_raw(const double* x, const double* y, std::size_t n,
                                           const TessalineParams& p, std::optional<double> value,
                                           double percentile) {
    const PreprocessResult prepared = preprocess_data(x, y, n, value, percentile);
    const SortedView view{prepared.x.data(), prepared.y.data(), prepared.x.size()};
    return mdlp(view, p);
}

std::vector<SummaryInterval> mdlp_intervals(const std::vector<Boundary>& B,
                                            const std::vector<SplitResult>& splits) {
    std::vector<SummaryInterval> summary;
    if (B.empty()) return summary;
    std::vector<std::size_t> cuts;
    for (const SplitResult& r : splits) {
        if (r.found) cuts.push_back(r.idx);
    }
    std::sort(cuts.begin(), cuts.end(), ByCutPoint<Boundary>{B});
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    const double inf = std::numeric_limits<double>::infinity();
    const Boundary& last = B.back();
    summary.reserve(cuts.size() + 1);
    // Interval counts are differences of cumulative rows, starting from a row
    // before every record.
    Boundary prev{-inf, 0, 0};
    for (std::size_t i : cuts) {
        const Boundary& row = B[i];
        summary.push_back(interval_between(prev.pto_corte, row.pto_corte,
                                           count_sub(row.c0, prev.c0), count_sub(row.c1, prev.c1)));
        prev = row;
    }
    summary.push_back(interval_between(prev.pto_corte, inf, count_sub(last.c0, prev.c0),
                                       count_sub(last.c1, prev.c1)));
    return summary;
}

MdlpFullResult mdlp_full(const SortedView& view, const TessalineParams& params) {
    MdlpFullResult result;
    const std::vector<Boundary> B = compute_boundaries(view);
    if (B.empty()) return result;
    result.mdlp = compute_splits(B, params);
    result.summary = mdlp_intervals(B, result.mdlp);
    return result;
}

}  // namespace tessaline
