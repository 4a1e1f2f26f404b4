// Reading positions among weighted rows without walking every value. A walk
// value by value (RowCursor) keeps the running weight before its value and
// steps on while the position is at least that weight plus the value's two
// classes, added in that order; fractional weights give those sums exact
// bits only in that one order, so no table of other sums can stand in for
// them. A walk that also sums the values records, every kStrideValues
// values, the running weight after them and the largest threshold the
// cursor would compare with among them: a position at least that largest
// one passes the whole stride, and the cursor takes the recorded weight,
// the very bits it would have added up. Not part of the public header.
#ifndef TESSALINE_WEIGHT_STRIDES_HPP
#define TESSALINE_WEIGHT_STRIDES_HPP

#include <algorithm>
#include <cstddef>
#include <limits>
#include <vector>

#include "counted_rows.hpp"

namespace tessaline {

constexpr std::size_t kStrideValues = 64;

// The strides of the values from `origin` on: stride k holds the values
// [origin + 64k, origin + 64(k + 1)); `after[k]` is the running weight at its
// end, `most[k]` the largest threshold within it. Only whole strides.
struct WeightStrides {
    std::vector<double> after;
    std::vector<double> most;
};

// A walk that records strides sums the values a chunk at a time, a chunk
// never beyond its stride, and holds its running weight and the stride's
// largest threshold in its own variables, in a function of its own: kept in
// an object that records them, passed by reference, or inlined into a
// larger caller, they went through memory, a store and a load in the chain
// of every value.
//
//     std::size_t stop = chunk_end(from, j, to);
//     for (; j < stop; ++j) {
//         most = largest_threshold(c0[j], c1[j], before, most);
//         before += c0[j] + c1[j];
//     }
//     if (stride_done(from, j)) most = record_stride(strides, from, j, before, most);

// Room for the whole strides of the values [from, to).
inline void size_strides(WeightStrides& strides, std::size_t from, std::size_t to) {
    strides.after.resize((to - from) / kStrideValues);
    strides.most.resize((to - from) / kStrideValues);
}

// The end of the chunk of value j of a walk from `from`, its values ending at `to`.
inline std::size_t chunk_end(std::size_t from, std::size_t j, std::size_t to) {
    return std::min(to, j + (kStrideValues - (j - from) % kStrideValues));
}

// The threshold a cursor compares with at a value (the running weight
// before it plus its classes, added in that order), if above `most`.
inline double largest_threshold(double c0, double c1, double before, double most) {
    const double threshold = (before + c0) + c1;
    return most < threshold ? threshold : most;
}

// Whether the chunk ending before value j ends a stride of a walk from `from`.
inline bool stride_done(std::size_t from, std::size_t j) {
    return j > from && (j - from) % kStrideValues == 0;
}

// Records the stride ending before value j; the next stride's largest
// threshold starts below any.
inline double record_stride(WeightStrides& strides, std::size_t from, std::size_t j, double before,
                            double most) {
    const std::size_t k = (j - from) / kStrideValues - 1;
    strides.after[k] = before;
    strides.most[k] = most;
    return -std::numeric_limits<double>::infinity();
}

// A cursor over the values [origin, last) of weighted counts, its running
// weight from `origin`, which passes whole strides where it can: the value
// at each position is the one RowCursor reads, for positions that never
// decrease.
template <typename Counts>
struct StrideCursor {
    const Counts& counts;
    const WeightStrides& strides;
    std::size_t origin;
    std::size_t last;
    std::size_t j = origin;
    double before = 0.0;
};

template <typename Counts, typename Position>
double value_at(StrideCursor<Counts>& cursor, Position position) {
    const Counts& counts = cursor.counts;
    const auto at = static_cast<double>(position);
    for (;;) {
        const std::size_t offset = cursor.j - cursor.origin;
        if (offset % kStrideValues == 0) {
            // Every value of a stride that the position passes is passed.
            std::size_t k = offset / kStrideValues;
            while (cursor.j + kStrideValues < cursor.last && k < cursor.strides.most.size() &&
                   at >= cursor.strides.most[k]) {
                cursor.before = cursor.strides.after[k];
                cursor.j += kStrideValues;
                ++k;
            }
        }
        if (!(cursor.j + 1 < cursor.last &&
              at >= cursor.before + counts.c0[cursor.j] + counts.c1[cursor.j])) {
            return counts.value[cursor.j];
        }
        cursor.before += counts.c0[cursor.j] + counts.c1[cursor.j];
        ++cursor.j;
    }
}

}  // namespace tessaline

#endif  // TESSALINE_WEIGHT_STRIDES_HPP
