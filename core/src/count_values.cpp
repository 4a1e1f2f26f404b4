// Rows counted by distinct value and class at the cost of one sort of the
// column. The key of every row (its value as an ordered 64-bit integer, both
// zeros on one key) goes to one buffer, class 0 from the front and class 1
// from the back; the two classes are sorted on their own as bare keys, so no
// row record is ever moved, and a merge of the two sorted classes then meets
// the rows in ascending order, each group of equal keys in one run. The merge
// writes the groups to scratch room that a thread reuses from column to
// column (the sort's free buffer takes the values), and the result is copied
// out once at its size: fresh pages are touched once, by the copy, and never
// cleared first.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "large_buffer.hpp"
#include "sort_rows.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// No key of a value that is not NaN has every bit set (+inf's is below it),
// so it stands before the first group and after an exhausted class.
constexpr uint64_t kNoKey = ~uint64_t{0};

// Visits the rows of the sorted classes zeros[0, n0) and ones[0, n1) in
// ascending key order, class 0 first among equal keys: visit(key, one). One
// row per step and no branch on the data, which in a column of mostly
// distinct values would be mispredicted about once per row.
template <typename Visit>
void merge_classes(const double* zeros, std::size_t n0, const double* ones, std::size_t n1,
                   Visit visit) {
    std::size_t i0 = 0;
    std::size_t i1 = 0;
    while (i0 < n0 && i1 < n1) {
        const uint64_t k0 = load_key(zeros + i0);
        const uint64_t k1 = load_key(ones + i1);
        const bool one = k1 < k0;
        visit(one ? k1 : k0, one);
        i0 += static_cast<std::size_t>(!one);
        i1 += static_cast<std::size_t>(one);
    }
    for (; i0 < n0; ++i0) visit(load_key(zeros + i0), false);
    for (; i1 < n1; ++i1) visit(load_key(ones + i1), true);
}

// A vector holding the n elements at `from`, on advised pages, never cleared.
template <typename T>
std::vector<T> copied(const T* from, std::size_t n) {
    std::vector<T> v;
    reserve_large(v, n);
    v.assign(from, from + n);
    return v;
}

}  // namespace

ValueCounts count_values(const double* x, const int32_t* y, std::size_t n) {
    // Both slots are written and one cursor moves, so the label steers no
    // branch; a slot written in passing is overwritten later. Rows whose x is
    // NaN take no slot, and the cursors never cross: after i rows at most i
    // slots are taken.
    const auto keys = large_scratch<double>(n);
    std::size_t front = 0;
    std::size_t back = n;
    for (std::size_t i = 0; i < n; ++i) {
        const double xi = x[i];
        if (std::isnan(xi)) continue;
        const uint64_t key = ordered_key(xi);
        const std::size_t one = static_cast<std::size_t>(y[i] != 0);
        store_key(&keys[front], key);
        store_key(&keys[back - 1], key);
        front += 1 - one;
        back -= one;
    }
    // Rows of class 1 move down next to those of class 0 when NaN left a gap.
    const std::size_t n0 = front;
    const std::size_t n1 = n - back;
    std::copy(keys.get() + back, keys.get() + n, keys.get() + front);

    const auto spare = large_scratch<double>(n0 + n1);
    double* const zeros = sort_key_ranges(keys.get(), spare.get(), n0 + n1, n0);
    const double* ones = zeros + n0;
    // The buffer the sort left free takes the values of the groups; there
    // are at most as many groups as rows.
    double* const values = zeros == keys.get() ? spare.get() : keys.get();
    const auto class_counts = large_scratch<int64_t>(2 * (n0 + n1));
    int64_t* const zero_counts = class_counts.get();
    int64_t* const one_counts = zero_counts + (n0 + n1);
    // Every row rewrites its group's entry with the counts so far, which the
    // group's last row leaves complete. g wraps to 0 at the first row.
    std::size_t g = ~std::size_t{0};
    int64_t c0 = 0;
    int64_t c1 = 0;
    uint64_t last = kNoKey;
    merge_classes(zeros, n0, ones, n1, [&](uint64_t key, bool one) {
        const bool starts = key != last;
        last = key;
        g += static_cast<std::size_t>(starts);
        c0 = (starts ? 0 : c0) + static_cast<int64_t>(!one);
        c1 = (starts ? 0 : c1) + static_cast<int64_t>(one);
        // The key of both zeros reads back as 0.0.
        values[g] = value_of_key(key);
        zero_counts[g] = c0;
        one_counts[g] = c1;
    });
    const std::size_t groups = g + 1;  // 0 when there was no row
    ValueCounts counts{copied(values, groups), copied(zero_counts, groups),
                       copied(one_counts, groups)};
    return counts;
}

}  // namespace tessaline
