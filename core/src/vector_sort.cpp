// Quicksort of 64-bit keys in 512-bit vector registers, where the processor
// has them (AVX-512F). A partition step compares eight keys at once with the
// pivot and compresses the smaller ones to the front of the second buffer and
// the others to its back, so every step is one streaming pass with no branch
// on the data; the two buffers take turns, and a range reaches the buffer
// asked for at the step that finishes it, so no step copies back. Ranges of
// up to 128 keys are sorted inside registers by a sorting network. Keys equal
// to a pivot that is the smallest key of its range are set apart at once, so
// a column of few distinct values costs no more than one of many. Where the
// vector instructions are missing the caller uses the radix sort instead.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sort_rows.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESSALINE_VECTOR_SORT 1
#include <immintrin.h>
#endif

namespace tessaline {

#if defined(TESSALINE_VECTOR_SORT)
namespace {

#define TESSALINE_AVX512 __attribute__((target("avx512f,popcnt")))

using Keys = __m512i;

// Ranges up to this size are sorted in registers (sixteen registers of eight).
constexpr std::size_t kInRegisters = 128;
// Larger than every key of a value (see count_values): the padding of a
// partly filled register sorts after every key, and is never stored.
constexpr uint64_t kPadding = ~uint64_t{0};

TESSALINE_AVX512 inline Keys lanes(const int64_t (&index)[8]) {
    return _mm512_loadu_si512(index);
}

// The plain forms of these three read an undefined register that GCC warns
// of; with every lane selected the zero-masking forms are the same operation.
constexpr __mmask8 kAll = 0xFF;
TESSALINE_AVX512 inline Keys permuted(Keys index, Keys v) {
    return _mm512_maskz_permutexvar_epi64(kAll, index, v);
}
TESSALINE_AVX512 inline Keys smaller(Keys a, Keys b) {
    return _mm512_maskz_min_epu64(kAll, a, b);
}
TESSALINE_AVX512 inline Keys larger(Keys a, Keys b) {
    return _mm512_maskz_max_epu64(kAll, a, b);
}

// One layer of a sorting network inside a register: lane i meets lane
// partner[i]; the lanes in `upper` keep the larger key of their pair.
TESSALINE_AVX512 inline Keys layer(Keys v, const Keys partner, __mmask8 upper) {
    const Keys other = permuted(partner, v);
    return _mm512_mask_blend_epi64(upper, smaller(v, other), larger(v, other));
}

// The eight keys of a register in ascending order: Batcher's odd-even merge
// network of 19 comparators in six layers.
TESSALINE_AVX512 inline Keys sort8(Keys v) {
    static const int64_t l1[8] = {1, 0, 3, 2, 5, 4, 7, 6};
    static const int64_t l2[8] = {2, 3, 0, 1, 6, 7, 4, 5};
    static const int64_t l3[8] = {0, 2, 1, 3, 4, 6, 5, 7};
    static const int64_t l4[8] = {4, 5, 6, 7, 0, 1, 2, 3};
    static const int64_t l5[8] = {0, 1, 4, 5, 2, 3, 6, 7};
    static const int64_t l6[8] = {0, 2, 1, 4, 3, 6, 5, 7};
    v = layer(v, lanes(l1), 0xAA);
    v = layer(v, lanes(l2), 0xCC);
    v = layer(v, lanes(l3), 0x44);
    v = layer(v, lanes(l4), 0xF0);
    v = layer(v, lanes(l5), 0x30);
    return layer(v, lanes(l6), 0x54);
}

// A register holding a bitonic sequence, in ascending order: comparators at
// distances 4, 2 and 1.
TESSALINE_AVX512 inline Keys merge8(Keys v) {
    static const int64_t d4[8] = {4, 5, 6, 7, 0, 1, 2, 3};
    static const int64_t d2[8] = {2, 3, 0, 1, 6, 7, 4, 5};
    static const int64_t d1[8] = {1, 0, 3, 2, 5, 4, 7, 6};
    v = layer(v, lanes(d4), 0xF0);
    v = layer(v, lanes(d2), 0xCC);
    return layer(v, lanes(d1), 0xAA);
}

TESSALINE_AVX512 inline Keys reversed(Keys v) {
    static const int64_t back[8] = {7, 6, 5, 4, 3, 2, 1, 0};
    return permuted(lanes(back), v);
}

// Sorts the keys of `count` registers (1, 2, 4, 8 or 16) as one sequence: each
// register alone, then runs of registers merged two by two, the second run
// reversed so that the pair is bitonic.
TESSALINE_AVX512 void sort_registers(Keys* r, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) r[i] = sort8(r[i]);
    for (std::size_t width = 1; width < count; width *= 2) {
        for (std::size_t start = 0; start < count; start += 2 * width) {
            Keys* run = r + start;
            std::reverse(run + width, run + 2 * width);
            for (std::size_t i = width; i < 2 * width; ++i) run[i] = reversed(run[i]);
            for (std::size_t d = width; d >= 1; d /= 2) {
                for (std::size_t i = 0; i < 2 * width; ++i) {
                    if ((i & d) != 0) continue;
                    const Keys low = smaller(run[i], run[i + d]);
                    run[i + d] = larger(run[i], run[i + d]);
                    run[i] = low;
                }
            }
            for (std::size_t i = 0; i < 2 * width; ++i) run[i] = merge8(run[i]);
        }
    }
}

// Sorts the n <= kInRegisters keys at `from` into `to` (which may be `from`).
TESSALINE_AVX512 void sort_few(const double* from, double* to, std::size_t n) {
    alignas(64) uint64_t buffer[kInRegisters];
    std::fill(buffer, buffer + kInRegisters, kPadding);
    std::memcpy(buffer, from, n * sizeof(uint64_t));
    std::size_t count = 1;
    while (count * 8 < n) count *= 2;
    Keys r[kInRegisters / 8];
    for (std::size_t i = 0; i < count; ++i) r[i] = _mm512_load_si512(buffer + 8 * i);
    sort_registers(r, count);
    for (std::size_t i = 0; i < count; ++i) _mm512_store_si512(buffer + 8 * i, r[i]);
    std::memcpy(to, buffer, n * sizeof(uint64_t));
}

// The median of 16 keys spread evenly over the n > kInRegisters keys at `from`.
TESSALINE_AVX512 uint64_t pivot_of(const double* from, std::size_t n) {
    alignas(64) uint64_t sample[16];
    for (std::size_t i = 0; i < 16; ++i) sample[i] = load_key(from + (2 * i + 1) * n / 32);
    Keys r[2] = {_mm512_load_si512(sample), _mm512_load_si512(sample + 8)};
    sort_registers(r, 2);
    _mm512_store_si512(sample, r[0]);
    return sample[7];
}

// Moves the n keys at `from` to `to`: those below the pivot (at or below it
// when `inclusive`) to the front, in the order met, the others to the back.
// Returns how many went to the front. At every step the keys still to move
// are as many as the free slots between the two fronts, so the full-width
// store of the compressed lower keys never reaches a key already placed.
template <bool inclusive>
TESSALINE_AVX512 std::size_t partition(const double* from, double* to, std::size_t n,
                                       uint64_t pivot) {
    const Keys p = _mm512_set1_epi64(static_cast<long long>(pivot));
    std::size_t low = 0;
    std::size_t high = n;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const Keys v = _mm512_loadu_si512(from + i);
        const __mmask8 below =
            inclusive ? _mm512_cmple_epu64_mask(v, p) : _mm512_cmplt_epu64_mask(v, p);
        const auto taken = static_cast<std::size_t>(__builtin_popcount(below));
        _mm512_storeu_si512(to + low, _mm512_maskz_compress_epi64(below, v));
        low += taken;
        // The other keys, reversed into the top lanes, go to the eight slots
        // below `high` by a masked store of only those lanes.
        const auto top = static_cast<__mmask8>(0xFF00u >> (8 - taken));
        const Keys rest = _mm512_maskz_compress_epi64(static_cast<__mmask8>(~below), v);
        _mm512_mask_storeu_epi64(to + high - 8, top, reversed(rest));
        high -= 8 - taken;
    }
    for (; i < n; ++i) {
        const uint64_t key = load_key(from + i);
        if (inclusive ? key <= pivot : key < pivot) {
            store_key(to + low++, key);
        } else {
            store_key(to + --high, key);
        }
    }
    return low;
}

// Sorts the n keys at `from`, using the same range of `other` as the second
// buffer, and leaves them in `from` when `in_from`, else in `other`. Past
// `depth` partitions (pivots that keep missing the middle), the range is
// sorted by comparisons instead.
TESSALINE_AVX512 void quicksort(double* from, double* other, std::size_t n, bool in_from,
                                int depth) {
    while (true) {
        if (n <= kInRegisters) {
            sort_few(from, in_from ? from : other, n);
            return;
        }
        if (depth == 0) {
            std::vector<uint64_t> keys(n);
            std::memcpy(keys.data(), from, n * sizeof(uint64_t));
            std::sort(keys.begin(), keys.end());
            std::memcpy(in_from ? from : other, keys.data(), n * sizeof(uint64_t));
            return;
        }
        --depth;
        const uint64_t pivot = pivot_of(from, n);
        std::size_t low = partition<false>(from, other, n, pivot);
        // The keys are in `other` now: the buffers change roles.
        std::swap(from, other);
        in_from = !in_from;
        if (low == 0) {
            // The pivot is the smallest key: its equals are done, the larger
            // keys go on.
            low = partition<true>(from, other, n, pivot);
            std::swap(from, other);
            in_from = !in_from;
            if (!in_from) {
                for (std::size_t i = 0; i < low; ++i) store_key(other + i, pivot);
            }
        } else {
            quicksort(from, other, low, in_from, depth);
        }
        from += low;
        other += low;
        n -= low;
        if (n == 0) return;
    }
}

bool has_vector_sort() {
    static const bool available = __builtin_cpu_supports("avx512f") != 0;
    return available;
}

}  // namespace

bool sort_keys_vectorized(double* keys, double* spare, std::size_t n) {
    if (!has_vector_sort()) return false;
    int depth = 16;
    for (std::size_t m = n; m > 1; m /= 2) depth += 2;
    quicksort(keys, spare, n, true, depth);
    return true;
}

#else

bool sort_keys_vectorized(double*, double*, std::size_t) {
    return false;
}

#endif

}  // namespace tessaline
