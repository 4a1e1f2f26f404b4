// Running sums of counts by distinct value at every kIndexStride-th value, so
// that the rows before any value, or the value at any position among the
// rows, are read in at most kIndexStride steps instead of one pass over all
// values: the pre-bins of a column of a million distinct values then cost a
// few thousand reads of its counts. count_values fills the index while its
// groups are still in the cache. Not part of the public header.
#ifndef TESSALINE_COUNT_INDEX_HPP
#define TESSALINE_COUNT_INDEX_HPP

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "counted_rows.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

constexpr std::size_t kIndexStride = 64;

// c0_before[k] and c1_before[k]: the rows of each class of the values before
// value k * kIndexStride, for every k up to the number of values over the
// stride. Entries: vectors of an index built here, or spans of one that the
// package keeps.
template <typename Entries>
struct BasicCountIndex {
    Entries c0_before;
    Entries c1_before;
};
using CountIndex = BasicCountIndex<std::vector<int64_t>>;
using CountIndexView = BasicCountIndex<CountSpan<int64_t>>;

// The number of entries of the index of m values.
inline std::size_t index_entries(std::size_t m) {
    return m / kIndexStride + 1;
}

// Extends `index` over the k values at `c0`, `c1` that follow the `first`
// values already indexed (whose rows of each class are `rows0`, `rows1`,
// updated here).
inline void extend_index(CountIndex& index, const int64_t* c0, const int64_t* c1, std::size_t first,
                         std::size_t k, int64_t& rows0, int64_t& rows1) {
    // The sums run in locals, a stride at a time: sums kept in the callers'
    // variables would go through memory at every value.
    int64_t sum0 = rows0;
    int64_t sum1 = rows1;
    std::size_t j = 0;
    while (j < k) {
        const std::size_t into = (first + j) % kIndexStride;
        if (into == 0) {
            index.c0_before.push_back(sum0);
            index.c1_before.push_back(sum1);
        }
        const std::size_t end = std::min(k, j + (kIndexStride - into));
        for (; j < end; ++j) {
            sum0 += c0[j];
            sum1 += c1[j];
        }
    }
    rows0 = sum0;
    rows1 = sum1;
}

// Closes the index of m values: the rows before value m are indexed too
// when m is a multiple of the stride, so that every g up to m has its entry.
inline void finish_index(CountIndex& index, std::size_t m, int64_t rows0, int64_t rows1) {
    if (m % kIndexStride == 0) {
        index.c0_before.push_back(rows0);
        index.c1_before.push_back(rows1);
    }
}

// The rows of one column counted by distinct value (as count_values counts
// them) with their index, and what the labels were: the rows whose x is NaN
// by class, whether every label was 0 or 1, and whether some x was -0.0 (whose
// sign the counts, which read it as 0.0, do not keep).
struct CountedColumn {
    ValueCounts counts;
    CountIndex index;
    int64_t counted_c0 = 0;
    int64_t counted_c1 = 0;
    int64_t missing_c0 = 0;
    int64_t missing_c1 = 0;
    bool binary_labels = true;
    bool negative_zero = false;
};

CountedColumn count_column(const double* x, const int32_t* y, std::size_t n);

// Whether counts are as merge_value_counts leaves them (values ascending and
// distinct, not NaN, 0.0 for a zero; counts not negative, every value with
// rows, their sum within int64), so that they are their own merge.
bool is_merged(const ValueCounts& counts);

// The pre-bins of the default binning (as counted_prebins gives them) of
// merged counts with their index: `rows` rows behind them.
std::vector<BinningSummary> indexed_prebins(const ValueCounts& counts, const CountIndex& index,
                                            int64_t rows, std::size_t n_prebins,
                                            std::size_t max_class_parts, double min_class_share);
// The same pre-bins of counts read in place.
std::vector<BinningSummary> indexed_prebins(const ValueCountsView& counts, const CountIndex& index,
                                            int64_t rows, std::size_t n_prebins,
                                            std::size_t max_class_parts, double min_class_share);

// Weights read as rows: each a whole number below 2^53, so its int64 is
// the same number.
struct WholeSpan {
    const double* data;
    std::size_t length;
    std::size_t size() const { return length; }
    int64_t operator[](std::size_t i) const { return static_cast<int64_t>(data[i]); }
};

// Weighted counts of whole weights read in place as counts of rows.
struct WholeCountsView {
    CountSpan<double> value;
    WholeSpan c0;
    WholeSpan c1;
};

// The summary of bins of whole weights read as rows, as
// summarize_counted_bins gives it of the same bins of rows.
std::vector<BinningSummary> summarize_counted_bins(
    const std::vector<CountedBin<WholeCountsView>>& bins, int64_t counted);

// The same pre-bins of whole weights read in place as rows.
std::vector<BinningSummary> indexed_prebins(const WholeCountsView& counts, const CountIndex& index,
                                            int64_t rows, std::size_t n_prebins,
                                            std::size_t max_class_parts, double min_class_share);

// weighted_prebins of counts known to be merged (counted here, not handed
// in), not checked again, read value by value whatever the weights: the
// same bits as through an index of whole counts.
std::vector<WeightedPrebin> merged_weighted_prebins(const WeightedCountsView& counts,
                                                    std::size_t n_prebins,
                                                    std::size_t max_class_parts,
                                                    double min_class_share);

// The pre-bins of merged counts whose weights are all whole, with a total
// below 2^53, read as rows through an index of running sums (a pass to
// check them and one to index them, then a few thousand reads): the bits of
// merged_weighted_prebins, which reads every value at every step. False
// where some weight is not whole or the total reaches 2^53, `out` then
// untouched.
bool whole_weighted_prebins(const WeightedCountsView& counts, std::size_t n_prebins,
                            std::size_t max_class_parts, double min_class_share,
                            std::vector<WeightedPrebin>& out);

// Pre-bins appended to `out` in the weighted form, their class rows as weights.
inline void append_weighted_prebins(const std::vector<BinningSummary>& bins,
                                    std::vector<WeightedPrebin>& out) {
    out.reserve(out.size() + bins.size());
    for (const BinningSummary& bin : bins) {
        out.push_back(WeightedPrebin{bin.left, bin.right, static_cast<double>(bin.c0),
                                     static_cast<double>(bin.c1)});
    }
}

// Rows of each class.
struct ClassRows {
    int64_t c0 = 0;
    int64_t c1 = 0;
};

// The rows of each class of the values before value g (g up to the number of
// values). Counts: a ValueCounts or a view of one.
template <typename Counts, typename Index>
ClassRows rows_before(const Counts& counts, const Index& index, std::size_t g) {
    const std::size_t k = g / kIndexStride;
    ClassRows rows{index.c0_before[k], index.c1_before[k]};
    for (std::size_t j = k * kIndexStride; j < g; ++j) {
        rows.c0 += counts.c0[j];
        rows.c1 += counts.c1[j];
    }
    return rows;
}

// The value that holds the row at `position` (from 0, over the rows of all
// values in ascending order): the first value g whose rows reach past it, or
// the number of values when the position is past the last row.
template <typename Counts, typename Index>
std::size_t value_at_row(const Counts& counts, const Index& index, int64_t position) {
    // The last indexed value with fewer rows before it than `position` + 1.
    std::size_t lo = 0;
    std::size_t hi = index.c0_before.size();
    while (hi - lo > 1) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (index.c0_before[mid] + index.c1_before[mid] <= position) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    int64_t before = index.c0_before[lo] + index.c1_before[lo];
    std::size_t g = lo * kIndexStride;
    const std::size_t m = counts.value.size();
    while (g < m && before + counts.c0[g] + counts.c1[g] <= position) {
        before += counts.c0[g] + counts.c1[g];
        ++g;
    }
    return g;
}

// The intervals of ascending cut points over indexed counts (as bins_at_cuts
// gives them), their rows read through the index. The representative is the
// median (read among the interval's own rows, at two positions through the
// index) or, with `median` false, left NaN.
template <typename Counts, typename Index>
std::vector<CountedBin<Counts>> indexed_bins(const Counts& counts, const Index& index,
                                             const std::vector<double>& splits, bool median) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    const std::size_t m = splits.size();
    std::vector<CountedBin<Counts>> bins;
    bins.reserve(m + 1);
    std::size_t from = 0;
    ClassRows before_from;
    for (std::size_t b = 0; b <= m; ++b) {
        const std::size_t to = interval_end(counts, splits, b, from);
        const ClassRows before_to = rows_before(counts, index, to);
        const int64_t zeros = before_to.c0 - before_from.c0;
        const int64_t ones = before_to.c1 - before_from.c1;
        double representative = kNaN;
        if (median) {
            // The value at a position among the interval's rows, as a cursor
            // over them reads it (a position past them reads the last value).
            const int64_t first = before_from.c0 + before_from.c1;
            representative = median_at(int64_t{0}, zeros + ones, [&](int64_t at) {
                return counts.value[std::min(value_at_row(counts, index, first + at), to - 1)];
            });
        }
        bins.push_back(CountedBin<Counts>{b == 0 ? -kInfinity : splits[b - 1],
                                          b == m ? kInfinity : splits[b], zeros, ones, zeros + ones,
                                          representative});
        from = to;
        before_from = before_to;
    }
    return bins;
}

}  // namespace tessaline

#endif  // TESSALINE_COUNT_INDEX_HPP
