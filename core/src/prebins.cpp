// The pre-bins of the default (optimal) binning of one column, from its
// labelled rows in one call: the rows counted by distinct value, the quantile
// cut points of those counts joined by the cut points that best separate the
// classes, and the counts of each pre-bin. Each step gives what the function
// on counts that the package calls on merged counts gives, so a column binned
// here and one binned from its counts get the same pre-bins; here the counts
// are read in place, through the index of running sums that the count leaves
// (a few thousand reads instead of a pass over every value per step).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <queue>
#include <stdexcept>
#include <utility>
#include <vector>

#include "class_splits.hpp"
#include "count_index.hpp"
#include "counted_rows.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// Values ascending: the finite ones lie between the -inf and +inf rows.
template <typename Count>
Candidates candidates(const double* value, const Count* c0, const Count* c1, std::size_t n) {
    std::size_t lo = 0, hi = n;
    while (lo < hi && !is_finite(value[lo])) ++lo;
    while (hi > lo && !is_finite(value[hi - 1])) --hi;
    const std::size_t finite = hi - lo;
    const std::size_t size = std::min(finite, kMaxCandidates);
    Candidates out;
    out.last.resize(size);
    out.s0.assign(size + 1, 0.0);
    out.s1.assign(size + 1, 0.0);
    for (std::size_t g = 0; g < size; ++g) {
        // Run g holds the values [begin, end) of the finite ones.
        const std::size_t begin = lo + g * finite / size, end = lo + (g + 1) * finite / size;
        Count a = 0, b = 0;
        for (std::size_t j = begin; j < end; ++j) {
            a += c0[j];
            b += c1[j];
        }
        out.last[g] = value[end - 1];
        out.s0[g + 1] = out.s0[g] + static_cast<double>(a);
        out.s1[g + 1] = out.s1[g] + static_cast<double>(b);
    }
    return out;
}

// Rows times the Gini impurity of a part, halved: a*b/(a+b), the same bits
// whichever class is named first.
double impurity(double a, double b) {
    const double rows = a + b;
    return rows > 0.0 ? a * b / rows : 0.0;
}

// The best split of the parts [lo, hi): the first part of the upper side and
// the fall in impurity; `at` is 0 when no split leaves `least` rows on both
// sides and lowers the impurity.
struct Split {
    double gain = 0.0;
    std::size_t lo = 0, hi = 0, at = 0;
};

bool before(const Split& a, const Split& b) {
    // The queue serves the largest fall first, and of equal falls the lowest.
    return a.gain < b.gain || (a.gain == b.gain && a.at > b.at);
}

Split best_split(const std::vector<double>& s0, const std::vector<double>& s1, std::size_t lo,
                 std::size_t hi, double least) {
    Split best;
    best.lo = lo;
    best.hi = hi;
    const double t0 = s0[hi] - s0[lo], t1 = s1[hi] - s1[lo];
    const double whole = impurity(t0, t1);
    double lowest = whole;
    for (std::size_t k = lo + 1; k < hi; ++k) {
        const double l0 = s0[k] - s0[lo], l1 = s1[k] - s1[lo];
        const double r0 = t0 - l0, r1 = t1 - l1;
        if (l0 + l1 < least) continue;
        if (r0 + r1 < least) break;
        const double parts = impurity(l0, l1) + impurity(r0, r1);
        if (parts < lowest) {
            lowest = parts;
            best.at = k;
        }
    }
    best.gain = whole - lowest;
    return best;
}

// The candidate parts of counted rows, their sums read through the index:
// the same parts as candidates() (the sums are whole numbers, exact in a
// double either way).
template <typename Counts>
Candidates indexed_candidates(const Counts& counts, const CountIndex& index) {
    const FinitePositions finite = finite_positions(counts);
    const std::size_t lo = finite.first;
    const std::size_t n = finite.last - finite.first;
    const std::size_t size = std::min(n, kMaxCandidates);
    Candidates out;
    out.last.resize(size);
    out.s0.assign(size + 1, 0.0);
    out.s1.assign(size + 1, 0.0);
    if (size == 0) return out;
    const ClassRows start = rows_before(counts, index, lo);
    // The rows before each part's end: summed on from the previous end when
    // that is the shorter walk (parts of a few values, as on a column of some
    // ten thousand distinct values, where the index's walks would read every
    // value several times over), else read through the index.
    ClassRows rows = start;
    std::size_t at = lo;
    // Part g ends at lo + (g + 1) * n / size, stepped on as a quotient and a
    // remainder (a division per part cost as much as the part's sums).
    const std::size_t step = n / size, step_left = n % size;
    std::size_t quotient = 0, left = 0;
    // Written through plain pointers: through the vectors, each store of a
    // double would have the compiler read their data pointers again.
    double* last = out.last.data();
    double* s0 = out.s0.data();
    double* s1 = out.s1.data();
    for (std::size_t g = 0; g < size; ++g) {
        quotient += step;
        left += step_left;
        if (left >= size) {
            left -= size;
            ++quotient;
        }
        const std::size_t end = lo + quotient;
        if (end - at <= end % kIndexStride) {
            for (; at < end; ++at) {
                rows.c0 += counts.c0[at];
                rows.c1 += counts.c1[at];
            }
        } else {
            rows = rows_before(counts, index, end);
            at = end;
        }
        last[g] = counts.value[end - 1];
        s0[g + 1] = static_cast<double>(rows.c0 - start.c0);
        s1[g + 1] = static_cast<double>(rows.c1 - start.c1);
    }
    return out;
}

// The quantile cut points of counted rows (as quantile_cuts reads them),
// each position found through the index.
template <typename Counts>
std::vector<double> indexed_quantile_cuts(const Counts& counts, const CountIndex& index,
                                          std::size_t n_bins) {
    check_n_bins(n_bins);
    const FinitePositions finite = finite_positions(counts);
    const ClassRows start = rows_before(counts, index, finite.first);
    const ClassRows end = rows_before(counts, index, finite.last);
    const int64_t size = (end.c0 - start.c0) + (end.c1 - start.c1);
    check_finite_rows(size);
    // A position past the finite rows reads the last finite value.
    const auto value_at = [&](int64_t at) {
        const std::size_t g = value_at_row(counts, index, start.c0 + start.c1 + at);
        return counts.value[std::min(g, finite.last - 1)];
    };
    return cuts_at_quantiles(n_bins, size, counts.value[finite.first],
                             counts.value[finite.last - 1], value_at, value_at);
}

}  // namespace

void check_min_share(double min_share) {
    if (!(min_share >= 0.0 && min_share <= 1.0)) {
        throw std::invalid_argument("class_split_cuts: min_share must be between 0 and 1");
    }
}

// The cut points of the greedy splits of the candidate parts.
std::vector<double> split_cuts(const Candidates& parts, std::size_t max_parts, double min_share) {
    std::vector<double> cuts;
    const std::vector<double>& s0 = parts.s0;
    const std::vector<double>& s1 = parts.s1;
    const std::size_t m = parts.last.size();
    const double least = min_share * (s0[m] + s1[m]);
    std::priority_queue<Split, std::vector<Split>, decltype(&before)> queue(before);
    const auto offer = [&](std::size_t lo, std::size_t hi) {
        if (hi - lo < 2) return;
        const Split split = best_split(s0, s1, lo, hi, least);
        if (split.at != 0 && split.gain > 0.0) queue.push(split);
    };
    offer(0, m);
    while (!queue.empty() && cuts.size() + 1 < max_parts) {
        const Split split = queue.top();
        queue.pop();
        cuts.push_back(parts.last[split.at - 1]);
        offer(split.lo, split.at);
        offer(split.at, split.hi);
    }
    std::sort(cuts.begin(), cuts.end());
    return cuts;
}

std::vector<double> class_split_cuts(const double* value, const double* c0, const double* c1,
                                     std::size_t n, std::size_t max_parts, double min_share) {
    check_min_share(min_share);
    if (max_parts < 2 || n == 0) return {};
    return split_cuts(candidates(value, c0, c1, n), max_parts, min_share);
}

namespace {

// indexed_prebins of counts held in vectors or read in place.
template <typename Counts>
std::vector<BinningSummary> prebins_through_index(const Counts& counts, const CountIndex& index,
                                                  int64_t rows, std::size_t n_prebins,
                                                  std::size_t max_class_parts,
                                                  double min_class_share) {
    // The counts are merged as they come: no step checks them again.
    std::vector<double> splits = indexed_quantile_cuts(counts, index, n_prebins);
    if (max_class_parts > 1) {
        check_min_share(min_class_share);
        const std::vector<double> cuts =
            split_cuts(indexed_candidates(counts, index), max_class_parts, min_class_share);
        // The union, sorted, its repeats dropped (0.0 and -0.0 are one point:
        // either parts the values alike).
        splits.insert(splits.end(), cuts.begin(), cuts.end());
        std::sort(splits.begin(), splits.end());
        splits.erase(std::unique(splits.begin(), splits.end()), splits.end());
    }
    return summarize_counted_bins(indexed_bins(counts, index, splits, false), rows);
}

}  // namespace

std::vector<BinningSummary> indexed_prebins(const ValueCounts& counts, const CountIndex& index,
                                            int64_t rows, std::size_t n_prebins,
                                            std::size_t max_class_parts, double min_class_share) {
    return prebins_through_index(counts, index, rows, n_prebins, max_class_parts, min_class_share);
}

std::vector<BinningSummary> indexed_prebins(const ValueCountsView& counts, const CountIndex& index,
                                            int64_t rows, std::size_t n_prebins,
                                            std::size_t max_class_parts, double min_class_share) {
    return prebins_through_index(counts, index, rows, n_prebins, max_class_parts, min_class_share);
}

std::vector<BinningSummary> indexed_prebins(const WholeCountsView& counts, const CountIndex& index,
                                            int64_t rows, std::size_t n_prebins,
                                            std::size_t max_class_parts, double min_class_share) {
    return prebins_through_index(counts, index, rows, n_prebins, max_class_parts, min_class_share);
}

CountedPrebins counted_prebins(const double* x, const int32_t* y, std::size_t n,
                               std::size_t n_prebins, std::size_t max_class_parts,
                               double min_class_share) {
    CountedColumn column = count_column(x, y, n);
    if (!column.binary_labels) {
        throw std::invalid_argument("counted_prebins: labels must be 0 or 1");
    }
    CountedPrebins out;
    out.counts = std::move(column.counts);
    out.missing_c0 = column.missing_c0;
    out.missing_c1 = column.missing_c1;
    out.negative_zero = column.negative_zero;
    out.prebins = indexed_prebins(out.counts, column.index, column.counted_c0 + column.counted_c1,
                                  n_prebins, max_class_parts, min_class_share);
    out.index_c0 = std::move(column.index.c0_before);
    out.index_c1 = std::move(column.index.c1_before);
    return out;
}

}  // namespace tessaline
