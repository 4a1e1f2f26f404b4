// Running sums of counts by distinct value at every kIndexStride-th value, so
// that the rows before any value, or the value at any position among the
// rows, are read in at most kIndexStride steps instead of one pass over all
// values: the pre-bins of a column of a million distinct values then cost a
// few thousand reads of its counts. count_values fills the index while its
// groups are still in the cache. Not part of the public header.
#ifndef TESSALINE_COUNT_INDEX_HPP
#define TESSALINE_COUNT_INDEX_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace tessaline {

constexpr std::size_t kIndexStride = 64;

// c0_before[k] and c1_before[k]: the rows of each class of the values before
// value k * kIndexStride.
struct CountIndex {
    std::vector<int64_t> c0_before;
    std::vector<int64_t> c1_before;
};

// Extends `index` over the k values at `c0`, `c1` that follow the `first`
// values already indexed (whose rows of each class are `rows0`, `rows1`,
// updated here).
inline void extend_index(CountIndex& index, const int64_t* c0, const int64_t* c1, std::size_t first,
                         std::size_t k, int64_t& rows0, int64_t& rows1) {
    for (std::size_t j = 0; j < k; ++j) {
        if ((first + j) % kIndexStride == 0) {
            index.c0_before.push_back(rows0);
            index.c1_before.push_back(rows1);
        }
        rows0 += c0[j];
        rows1 += c1[j];
    }
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
// by class, and whether every label was 0 or 1.
struct CountedColumn {
    ValueCounts counts;
    CountIndex index;
    int64_t counted_c0 = 0;
    int64_t counted_c1 = 0;
    int64_t missing_c0 = 0;
    int64_t missing_c1 = 0;
    bool binary_labels = true;
};

CountedColumn count_column(const double* x, const int32_t* y, std::size_t n);

// Rows of each class.
struct ClassRows {
    int64_t c0 = 0;
    int64_t c1 = 0;
};

// The rows of each class of the values before value g (g up to the number of values).
inline ClassRows rows_before(const ValueCounts& counts, const CountIndex& index, std::size_t g) {
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
inline std::size_t value_at_row(const ValueCounts& counts, const CountIndex& index,
                                int64_t position) {
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

}  // namespace tessaline

#endif  // TESSALINE_COUNT_INDEX_HPP
