// Rows counted by distinct value and class at the cost of one sort of the
// column. The key of every row (its value as an ordered 64-bit integer, both
// zeros on one key) goes to one buffer, class 0 from the front and class 1
// from the back; the two classes are sorted on their own as bare keys, so no
// row record is ever moved, and a merge of the two sorted classes then meets
// the rows in ascending order, each group of equal keys in one run. The merge
// writes its groups to a block small enough to stay in the core's own cache
// and appends every full block to the result, whose room (one entry per row,
// the most there can be) is reserved at the start but touched only as far as
// the groups reach: every byte of the result is written once, straight from
// the cache, and no larger buffer of groups is ever written and read back.
// That room is taken from the counts of freed tables where one fits, whose
// pages are already mapped (see recycled_vectors.hpp).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

#include "count_index.hpp"
#include "large_buffer.hpp"
#include "sort_rows.hpp"
#include "vector_paths.hpp"
#include "tessaline/recycled_vectors.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// No key of a value that is not NaN has every bit set (+inf's is below it),
// so it stands before the first group and after an exhausted class.
constexpr uint64_t kNoKey = ~uint64_t{0};

// Where the pass that files each row's key under its class has got to: keys
// of class 0 fill the buffer from the front, those of class 1 from the back.
struct KeyPass {
    std::size_t front;
    std::size_t back;
    std::size_t rows_of_one;  // rows of label other than 0, x NaN or not
    uint32_t above_one;       // a bit above the lowest: a label other than 0 and 1
    bool negative_zero;       // a row whose x is -0.0, which the counts read as 0.0
};

// Files one row. Both slots are written and one cursor moves, so the label
// steers no branch; a slot written in passing is overwritten later. A row
// whose x is NaN takes no slot, and the cursors never cross: after i rows at
// most i slots are taken. Every label is read as a class (0 or not) and
// checked in passing (one above 1 as unsigned leaves a bit above the lowest).
inline void split_key(double xi, int32_t yi, double* keys, KeyPass& pass) {
    const auto label = static_cast<uint32_t>(yi);
    pass.above_one |= label >> 1;
    const std::size_t one = static_cast<std::size_t>(label != 0);
    pass.rows_of_one += one;
    pass.negative_zero |= xi == 0.0 && std::signbit(xi);
    if (std::isnan(xi)) return;
    const uint64_t key = ordered_key(xi);
    store_key(&keys[pass.front], key);
    store_key(&keys[pass.back - 1], key);
    pass.front += 1 - one;
    pass.back -= one;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Eight rows at a time in 512-bit registers where the processor has them:
// the keys made as ordered_key makes them, and those of each class
// compressed to its end of the buffer. Returns the rows filed (0 where the
// vector instructions are missing); the caller files the rest one by one.
__attribute__((target("avx512f,avx2,popcnt"))) std::size_t split_keys_in_registers(
    const double* x, const int32_t* y, std::size_t n, double* keys, KeyPass& pass) {
    const __m512i sign = _mm512_set1_epi64(static_cast<long long>(uint64_t{1} << 63));
    const __m256i zero_labels = _mm256_setzero_si256();
    __m256i above = _mm256_setzero_si256();
    __mmask8 negative_zeros = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m512d values = _mm512_loadu_pd(x + i);
        const __m256i labels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + i));
        above = _mm256_or_si256(above, _mm256_srli_epi32(labels, 1));
        const auto zero_label = static_cast<__mmask8>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(labels, zero_labels))));
        const __mmask8 kept = _mm512_cmp_pd_mask(values, values, _CMP_ORD_Q);
        // Negative values have every bit flipped, the others the sign bit;
        // -0.0 takes the key of 0.0. (The plain shift reads an undefined
        // register that GCC warns of; with every lane selected the zero-masking
        // form is the same operation.)
        __m512i bits = _mm512_castpd_si512(values);
        const __mmask8 negative_zero = _mm512_cmpeq_epi64_mask(bits, sign);
        negative_zeros |= negative_zero;
        bits = _mm512_mask_mov_epi64(bits, negative_zero, _mm512_setzero_si512());
        const __m512i key =
            _mm512_xor_si512(bits, _mm512_or_si512(_mm512_maskz_srai_epi64(0xFF, bits, 63), sign));
        const auto zeros = static_cast<__mmask8>(kept & zero_label);
        const auto ones = static_cast<__mmask8>(kept & ~zero_label);
        pass.rows_of_one += static_cast<std::size_t>(__builtin_popcount(~zero_label & 0xFFu));
        // Each class is compressed in the register and stored from there:
        // a compressing store to memory is microcoded on some processors
        // (several times slower on AMD's). Class 0's eight lanes are stored
        // whole, those past its own landing on free slots (eight rows still
        // to file leave at least eight between the cursors); class 1's are
        // masked to its own, which end where the rows of class 1 begin.
        _mm512_storeu_si512(keys + pass.front, _mm512_maskz_compress_epi64(zeros, key));
        pass.front += static_cast<std::size_t>(__builtin_popcount(zeros));
        const auto n_ones = static_cast<unsigned>(__builtin_popcount(ones));
        pass.back -= n_ones;
        _mm512_mask_storeu_epi64(keys + pass.back, static_cast<__mmask8>((1u << n_ones) - 1u),
                                 _mm512_maskz_compress_epi64(ones, key));
    }
    alignas(32) uint32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), above);
    for (const uint32_t lane : lanes) pass.above_one |= lane;
    pass.negative_zero |= negative_zeros != 0;
    return i;
}

std::size_t split_keys_vectorized(const double* x, const int32_t* y, std::size_t n, double* keys,
                                  KeyPass& pass) {
    return use_avx512f() ? split_keys_in_registers(x, y, n, keys, pass) : 0;
}
#else
std::size_t split_keys_vectorized(const double*, const int32_t*, std::size_t, double*, KeyPass&) {
    return 0;
}
#endif

// Groups merged between two appends to the result: the block's three
// arrays (384 KiB) stay in the core's cache.
constexpr std::size_t kBlockGroups = std::size_t{1} << 14;

// The two sorted classes zeros[0, n0) and ones[0, n1), and how far a merge
// of them has gone.
struct MergeCursor {
    const double* zeros;
    std::size_t n0;
    const double* ones;
    std::size_t n1;
    std::size_t i0 = 0;
    std::size_t i1 = 0;
    // Whether the merge runs through the rows of the common class between
    // those of the rare one (see merge_rows).
    bool minority_runs = false;
};

// The groups being merged: a block of them in the cache, and the open one,
// g (its value's key `last` and its rows so far by class).
struct GroupBlock {
    double* values;
    int64_t* zero_counts;
    int64_t* one_counts;
    std::size_t g = ~std::size_t{0};  // wraps to 0 at the first row
    int64_t c0 = 0;
    int64_t c1 = 0;
    uint64_t last = kNoKey;
};

// Merges up to `limit` further rows, in ascending key order (class 0 first
// among equal keys), into the groups of `block`; returns the rows merged (0
// at the end). One row per step and no branch on the data, which in a column
// of mostly distinct values would be mispredicted about once per row. The
// state lives in locals for the length of the call: in the block's members
// every step would wait for its own stores.
std::size_t merge_rows(MergeCursor& m, std::size_t limit, GroupBlock& block) {
    double* const values = block.values;
    int64_t* const zero_counts = block.zero_counts;
    int64_t* const one_counts = block.one_counts;
    std::size_t g = block.g;
    int64_t c0 = block.c0;
    int64_t c1 = block.c1;
    uint64_t last = block.last;
    // Every row rewrites its group's entry with the counts so far, which the
    // group's last row leaves complete.
    const auto visit = [&](uint64_t key, bool one) {
        const bool starts = key != last;
        last = key;
        g += static_cast<std::size_t>(starts);
        c0 = (starts ? 0 : c0) + static_cast<int64_t>(!one);
        c1 = (starts ? 0 : c1) + static_cast<int64_t>(one);
        // The key of both zeros reads back as 0.0.
        values[g] = value_of_key(key);
        zero_counts[g] = c0;
        one_counts[g] = c1;
    };
    std::size_t done = 0;
    std::size_t i0 = m.i0;
    std::size_t i1 = m.i1;
    if (m.minority_runs) {
        // One class is rare: the rows of the common one run in an inner loop
        // whose next row never waits on a comparison, and the branch that
        // leaves it is mispredicted once per rare row.
        if (m.n1 <= m.n0) {
            while (done < limit && i1 < m.n1) {
                const uint64_t k1 = load_key(m.ones + i1);
                for (; done < limit && i0 < m.n0 && load_key(m.zeros + i0) <= k1; ++done, ++i0) {
                    visit(load_key(m.zeros + i0), false);
                }
                if (done == limit) break;
                visit(k1, true);
                ++done, ++i1;
            }
        } else {
            while (done < limit && i0 < m.n0) {
                const uint64_t k0 = load_key(m.zeros + i0);
                for (; done < limit && i1 < m.n1 && load_key(m.ones + i1) < k0; ++done, ++i1) {
                    visit(load_key(m.ones + i1), true);
                }
                if (done == limit) break;
                visit(k0, false);
                ++done, ++i0;
            }
        }
    }
    for (; done < limit && i0 < m.n0 && i1 < m.n1; ++done) {
        const uint64_t k0 = load_key(m.zeros + i0);
        const uint64_t k1 = load_key(m.ones + i1);
        const bool one = k1 < k0;
        visit(one ? k1 : k0, one);
        i0 += static_cast<std::size_t>(!one);
        i1 += static_cast<std::size_t>(one);
    }
    for (; done < limit && i0 < m.n0; ++done, ++i0) visit(load_key(m.zeros + i0), false);
    for (; done < limit && i1 < m.n1; ++done, ++i1) visit(load_key(m.ones + i1), true);
    m.i0 = i0;
    m.i1 = i1;
    block.g = g;
    block.c0 = c0;
    block.c1 = c1;
    block.last = last;
    return done;
}

// Appends the first k groups of a block to the result and its index, whose
// running sums by class are `rows0` and `rows1`.
void append_groups(CountedColumn& out, const double* values, const int64_t* zero_counts,
                   const int64_t* one_counts, std::size_t k, int64_t& rows0, int64_t& rows1) {
    ValueCounts& counts = out.counts;
    extend_index(out.index, zero_counts, one_counts, counts.value.size(), k, rows0, rows1);
    counts.value.insert(counts.value.end(), values, values + k);
    counts.c0.insert(counts.c0.end(), zero_counts, zero_counts + k);
    counts.c1.insert(counts.c1.end(), one_counts, one_counts + k);
}

// Gives back the room of a result that fills less than an eighth of it (few
// distinct values among many rows), where the copy is cheap. Otherwise the
// room stays: the pages past the groups were never touched and cost no
// memory, while a copy would write the whole result once more.
template <typename T>
void fit_room(std::vector<T>& v) {
    if (v.size() < v.capacity() / 8) v.shrink_to_fit();
}

}  // namespace

CountedColumn count_column(const double* x, const int32_t* y, std::size_t n) {
    const auto keys = large_scratch<double>(n);
    KeyPass pass{0, n, 0, 0, false};
    std::size_t i = split_keys_vectorized(x, y, n, keys.get(), pass);
    for (; i < n; ++i) split_key(x[i], y[i], keys.get(), pass);
    const std::size_t front = pass.front;
    const std::size_t back = pass.back;
    const std::size_t rows_of_one = pass.rows_of_one;
    const uint32_t above_one = pass.above_one;
    // Rows of class 1 move down next to those of class 0 when NaN left a gap.
    const std::size_t n0 = front;
    const std::size_t n1 = n - back;
    std::copy(keys.get() + back, keys.get() + n, keys.get() + front);
    CountedColumn out;
    out.counted_c0 = static_cast<int64_t>(n0);
    out.counted_c1 = static_cast<int64_t>(n1);
    out.missing_c1 = static_cast<int64_t>(rows_of_one - n1);
    out.missing_c0 = static_cast<int64_t>(n - rows_of_one - n0);
    out.binary_labels = above_one == 0;
    out.negative_zero = pass.negative_zero;

    const auto spare = large_scratch<double>(n0 + n1);
    double* const zeros = sort_key_ranges(keys.get(), spare.get(), n0 + n1, n0);
    ValueCounts& counts = out.counts;
    int64_t rows0 = 0;
    int64_t rows1 = 0;
    if (n0 + n1 == 0) {
        finish_index(out.index, 0, rows0, rows1);
        return out;
    }
    // One entry more than the groups there can be: a caller that appends the
    // missing values' entry (the counts kept by batch) does so in place.
    reserve_recycled(counts.value, n0 + n1 + 1);
    reserve_recycled(counts.c0, n0 + n1 + 1);
    reserve_recycled(counts.c1, n0 + n1 + 1);
    const auto block_values = large_scratch<double>(kBlockGroups);
    const auto block_counts = large_scratch<int64_t>(2 * kBlockGroups);
    GroupBlock block{block_values.get(), block_counts.get(), block_counts.get() + kBlockGroups};
    MergeCursor merge{zeros, n0, zeros + n0, n1};
    // Below a quarter of the rows in the rarer class, its rows' branch
    // mispredictions cost less than the branch-free merge's wait at every row
    // (at 1e6 rows, 2.5 of 12 ms less at 5% events, even at 25%).
    merge.minority_runs = 4 * std::min(n0, n1) < n0 + n1;
    // Each round adds at most kBlockGroups - 1 groups to the one still open
    // at slot 0; the groups before the open one are complete and go out.
    while (merge_rows(merge, kBlockGroups - 1, block) > 0) {
        const std::size_t g = block.g;
        append_groups(out, block.values, block.zero_counts, block.one_counts, g, rows0, rows1);
        block.values[0] = block.values[g];
        block.zero_counts[0] = block.zero_counts[g];
        block.one_counts[0] = block.one_counts[g];
        block.g = 0;
    }
    append_groups(out, block.values, block.zero_counts, block.one_counts, 1, rows0, rows1);
    finish_index(out.index, counts.value.size(), rows0, rows1);
    fit_room(counts.value);
    fit_room(counts.c0);
    fit_room(counts.c1);
    return out;
}

ValueCounts count_values(const double* x, const int32_t* y, std::size_t n) {
    return count_column(x, y, n).counts;
}

}  // namespace tessaline
