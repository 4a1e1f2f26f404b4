// Quicksort of 64-bit keys in vector registers, in place: 512-bit registers
// of eight keys where the processor has them (AVX-512F), else 256-bit ones of
// four (AVX2). The algorithm (vector_quicksort.inc) is written once over the
// registers of either width; this file holds the 512-bit registers and their
// networks, vector_sort_avx2.inc the 256-bit ones. Keys that carry a payload
// (records of key and weight) are sorted by the same algorithm in pairs of
// registers of either width, one of keys and one of payloads
// (vector_records_avx512.inc, vector_records_avx2.inc).
//
// A partition reads the range from both ends and writes each register's keys,
// arranged by one permutation with those below the pivot first, to both ends
// at once: the front store keeps the lower keys, the back store the upper
// ones, and the lanes each store writes in passing fall in slots that later
// stores overwrite. The registers at both ends are read before anything is
// written, so each side has room to spare; the side with less room is read
// next, so neither store ever reaches a key not yet read. Eight registers are
// read per step, so their comparisons and permutations overlap, and whole
// registers are read from their own boundaries only.
//
// Ranges of up to kInRegisters keys are sorted inside as many registers as
// they fill (the last one partly, by masked loads and stores): blocks of as
// many registers as lanes sorted across their lanes and transposed (any other
// register by a network inside it), then runs of registers merged two by two
// by a bitonic network whose first layer pairs a run with the other one
// reversed, so the registers that a power of two would add past the end never
// take part.
//
// The pivot is the median of a sorted sample. When it is also the sample's
// smallest key, or no key falls below it, its equals are set apart in one
// partition that also finds the range's smallest key: a range of one value is
// then done, so a column of few distinct values costs no more than one of
// many. Past a depth of partitions that keep missing the middle, a range is
// sorted by comparisons instead. Keys already in order, or in reverse order,
// are found in one read. Where neither instruction set is present the caller
// uses the radix sort.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "sort_rows.hpp"
#include "vector_paths.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESSALINE_VECTOR_SORT 1
#include <immintrin.h>
#endif

namespace tessaline {

#if defined(TESSALINE_VECTOR_SORT)
namespace {

// Loops over registers are unrolled so that the registers never go through
// memory (clang unrolls such loops of known length by itself).
#if defined(__clang__)
#define TESSALINE_UNROLL
#else
#define TESSALINE_UNROLL _Pragma("GCC unroll 32")
#endif

// The lanes past the end of a partly filled register: no key is larger, so
// they sort after every key, and they are never stored.
constexpr uint64_t kPadding = ~uint64_t{0};

// The write ends of a partition: keys below the pivot go to [.., front),
// the others to [back, ..).
template <typename Slot>
struct SlotEnds {
    Slot* front;
    Slot* back;
};

// A slot's key, and a slot moved: keys alone as bit patterns (never as
// doubles), records whole.
inline uint64_t key_of(const double* at) {
    return load_key(at);
}
inline uint64_t key_of(const KeyedRecord* at) {
    return at->key;
}
inline void copy_slot(double* to, const double* from) {
    store_key(to, load_key(from));
}
inline void copy_slot(KeyedRecord* to, const KeyedRecord* from) {
    *to = *from;
}

struct Pivot {
    uint64_t key;
    bool smallest_of_sample;
};

void sort_by_comparisons(double* keys, std::size_t n) {
    std::vector<uint64_t> k(n);
    for (std::size_t i = 0; i < n; ++i) k[i] = load_key(keys + i);
    std::sort(k.begin(), k.end());
    for (std::size_t i = 0; i < n; ++i) store_key(keys + i, k[i]);
}

void sort_by_comparisons(KeyedRecord* rows, std::size_t n) {
    std::sort(rows, rows + n,
              [](const KeyedRecord& a, const KeyedRecord& b) { return a.key < b.key; });
}

// 512-bit registers of eight keys, compared as unsigned integers.
namespace avx512 {

#define TESSALINE_AVX512 __attribute__((target("avx512f,popcnt")))
#define TESSALINE_AVX512_INLINE __attribute__((target("avx512f,popcnt"), always_inline)) inline

using Slot = double;
using Ends = SlotEnds<Slot>;
using Keys = __m512i;
constexpr std::size_t kLanes = 8;
// Ranges up to this size are sorted in registers (up to 16 registers of 8):
// a partition costs less per key than one more merge of registers.
constexpr std::size_t kInRegisters = 128;
// Registers read per step of a partition.
constexpr std::size_t kUnroll = 8;

// The plain forms of many operations here read an undefined register that GCC
// warns of; with every lane selected the zero-masking forms are the same
// operation, so those are used throughout.
constexpr __mmask8 kAll = 0xFF;
TESSALINE_AVX512_INLINE Keys permuted(Keys index, Keys v) {
    return _mm512_maskz_permutexvar_epi64(kAll, index, v);
}
TESSALINE_AVX512_INLINE Keys smaller(Keys a, Keys b) {
    return _mm512_maskz_min_epu64(kAll, a, b);
}
TESSALINE_AVX512_INLINE Keys larger(Keys a, Keys b) {
    return _mm512_maskz_max_epu64(kAll, a, b);
}
TESSALINE_AVX512_INLINE Keys reversed(Keys v) {
    return permuted(_mm512_set_epi64(0, 1, 2, 3, 4, 5, 6, 7), v);
}

// One layer of a sorting network inside a register: lane i meets lane
// partner[i] (`other` holds the partners' keys); the lanes in `upper` keep the
// larger key of their pair.
TESSALINE_AVX512_INLINE Keys layer(Keys v, Keys other, __mmask8 upper) {
    return _mm512_mask_max_epu64(smaller(v, other), upper, v, other);
}
// Partners at distance 1, 2 and 4 (lane i ^ d), and mirrored within groups of
// four lanes (i ^ 3).
TESSALINE_AVX512_INLINE Keys swap1(Keys v) {
    return _mm512_maskz_shuffle_epi32(0xFFFF, v, static_cast<_MM_PERM_ENUM>(0x4E));
}
TESSALINE_AVX512_INLINE Keys swap2(Keys v) {
    return _mm512_maskz_permutex_epi64(kAll, v, 0x4E);
}
TESSALINE_AVX512_INLINE Keys swap4(Keys v) {
    return _mm512_maskz_shuffle_i64x2(kAll, v, v, 0x4E);
}
TESSALINE_AVX512_INLINE Keys mirror4(Keys v) {
    return _mm512_maskz_permutex_epi64(kAll, v, 0x1B);
}

// The eight keys of a register in ascending order: a bitonic network of six
// layers (pairs, merged into fours, merged into eight).
TESSALINE_AVX512_INLINE Keys sort8(Keys v) {
    v = layer(v, swap1(v), 0xAA);
    v = layer(v, mirror4(v), 0xCC);
    v = layer(v, swap1(v), 0xAA);
    v = layer(v, reversed(v), 0xF0);
    v = layer(v, swap2(v), 0xCC);
    return layer(v, swap1(v), 0xAA);
}

// A register holding a bitonic sequence, in ascending order.
TESSALINE_AVX512_INLINE Keys merge8(Keys v) {
    v = layer(v, swap4(v), 0xF0);
    v = layer(v, swap2(v), 0xCC);
    return layer(v, swap1(v), 0xAA);
}

// Two registers each holding a bitonic sequence, each in ascending order: the
// same three layers as merge8, but each layer compares the keys of both
// registers in one pair of registers, so it takes two permutations and one
// minimum and one maximum for both.
TESSALINE_AVX512_INLINE void merge8x2(Keys& a, Keys& b) {
    // Distance 4: the lower halves of a and b against their upper halves.
    Keys x = _mm512_maskz_shuffle_i64x2(kAll, a, b, 0x44);
    Keys y = _mm512_maskz_shuffle_i64x2(kAll, a, b, 0xEE);
    Keys low = smaller(x, y);
    Keys high = larger(x, y);
    // low = a0-3 | b0-3, high = a4-7 | b4-7. Distance 2: lanes 0, 1 of each
    // group of four against lanes 2, 3.
    const Keys first = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
    const Keys second = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
    x = _mm512_maskz_permutex2var_epi64(kAll, low, first, high);
    y = _mm512_maskz_permutex2var_epi64(kAll, low, second, high);
    low = smaller(x, y);
    high = larger(x, y);
    // low = a0 a1 a4 a5 | b0 b1 b4 b5, high = a2 a3 a6 a7 | b2 b3 b6 b7.
    // Distance 1: even lanes against odd ones.
    x = _mm512_maskz_unpacklo_epi64(kAll, low, high);
    y = _mm512_maskz_unpackhi_epi64(kAll, low, high);
    low = smaller(x, y);
    high = larger(x, y);
    // low = a0 a2 a4 a6 | b0 b2 b4 b6, high = a1 a3 a5 a7 | b1 b3 b5 b7.
    a = _mm512_maskz_permutex2var_epi64(kAll, low, _mm512_set_epi64(11, 3, 10, 2, 9, 1, 8, 0),
                                        high);
    b = _mm512_maskz_permutex2var_epi64(kAll, low, _mm512_set_epi64(15, 7, 14, 6, 13, 5, 12, 4),
                                        high);
}

TESSALINE_AVX512_INLINE void order(Keys& a, Keys& b) {
    const Keys low = smaller(a, b);
    b = larger(a, b);
    a = low;
}

// The 8 x 8 keys of r[0, 8), transposed: lane j of r[i] moves to lane i of r[j].
TESSALINE_AVX512_INLINE void transpose8(Keys* r) {
    Keys t[8];
    for (std::size_t i = 0; i < 8; i += 2) {
        t[i] = _mm512_maskz_unpacklo_epi64(kAll, r[i], r[i + 1]);
        t[i + 1] = _mm512_maskz_unpackhi_epi64(kAll, r[i], r[i + 1]);
    }
    // Lanes 0, 1, 4, 5 and lanes 2, 3, 6, 7 of two registers.
    const Keys even = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
    const Keys odd = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
    Keys q[8];
    for (std::size_t h = 0; h < 8; h += 4) {
        q[h] = _mm512_maskz_permutex2var_epi64(kAll, t[h], even, t[h + 2]);
        q[h + 1] = _mm512_maskz_permutex2var_epi64(kAll, t[h], odd, t[h + 2]);
        q[h + 2] = _mm512_maskz_permutex2var_epi64(kAll, t[h + 1], even, t[h + 3]);
        q[h + 3] = _mm512_maskz_permutex2var_epi64(kAll, t[h + 1], odd, t[h + 3]);
    }
    // q[0] holds lanes 0 and 4 of r[0, 4), q[1] lanes 2 and 6, q[2] lanes 1
    // and 5, q[3] lanes 3 and 7; q[4, 8) the same of r[4, 8).
    const std::size_t lane_of[4] = {0, 2, 1, 3};
    for (std::size_t k = 0; k < 4; ++k) {
        r[lane_of[k]] = _mm512_maskz_shuffle_i64x2(kAll, q[k], q[k + 4], 0x44);
        r[lane_of[k] + 4] = _mm512_maskz_shuffle_i64x2(kAll, q[k], q[k + 4], 0xEE);
    }
}

// Eight registers, each in ascending order: every lane sorted across the
// registers by Batcher's network of 19 comparators, then the block transposed.
TESSALINE_AVX512_INLINE void sort8x8(Keys* r) {
    order(r[0], r[1]), order(r[2], r[3]), order(r[4], r[5]), order(r[6], r[7]);
    order(r[0], r[2]), order(r[1], r[3]), order(r[4], r[6]), order(r[5], r[7]);
    order(r[1], r[2]), order(r[5], r[6]);
    order(r[0], r[4]), order(r[1], r[5]), order(r[2], r[6]), order(r[3], r[7]);
    order(r[2], r[4]), order(r[3], r[5]);
    order(r[1], r[2]), order(r[3], r[4]), order(r[5], r[6]);
    transpose8(r);
}

// For each mask of the lanes below the pivot, the permutation that takes
// those lanes first and the others after them, each in lane order: the
// source lane of result lane j in bits 3j to 3j + 2.
struct Arrangements {
    uint64_t of[256] = {};
    constexpr Arrangements() {
        for (unsigned mask = 0; mask < 256; ++mask) {
            uint64_t packed = 0;
            unsigned at = 0;
            for (unsigned pass = 0; pass < 2; ++pass) {
                for (unsigned lane = 0; lane < 8; ++lane) {
                    if (((mask >> lane) & 1u) != pass) packed |= uint64_t{lane} << (3 * at++);
                }
            }
            of[mask] = packed;
        }
    }
};
constexpr Arrangements kArrangements;

// Keys below the pivot, or at or below it when `inclusive`.
template <bool inclusive>
TESSALINE_AVX512_INLINE __mmask8 below(Keys v, Keys pivot) {
    return inclusive ? _mm512_cmple_epu64_mask(v, pivot) : _mm512_cmplt_epu64_mask(v, pivot);
}

// The keys of v, those in `lower` first.
TESSALINE_AVX512_INLINE Keys arranged(Keys v, __mmask8 lower) {
    const Keys shifts = _mm512_set_epi64(21, 18, 15, 12, 9, 6, 3, 0);
    const Keys packed = _mm512_set1_epi64(static_cast<long long>(kArrangements.of[lower]));
    // The permutation reads only the low three bits of each lane's index.
    return permuted(_mm512_maskz_srlv_epi64(kAll, packed, shifts), v);
}

// Writes a register's keys to both ends, with room for a whole register at
// each, so both stores may write all eight lanes.
template <bool inclusive>
TESSALINE_AVX512_INLINE void place(Ends& e, Keys v, Keys pivot) {
    const __mmask8 lower = below<inclusive>(v, pivot);
    const Keys a = arranged(v, lower);
    const auto taken = static_cast<std::size_t>(__builtin_popcount(lower));
    _mm512_storeu_si512(e.front, a);
    _mm512_storeu_si512(e.back - 8, a);
    e.front += taken;
    e.back -= 8 - taken;
}

// The same where the room between the ends is only what the keys fill: each
// store writes only the lanes it keeps.
template <bool inclusive>
TESSALINE_AVX512_INLINE void place_exactly(Ends& e, Keys v, Keys pivot) {
    const __mmask8 lower = below<inclusive>(v, pivot);
    const Keys a = arranged(v, lower);
    const auto taken = static_cast<unsigned>(__builtin_popcount(lower));
    const auto kept = static_cast<__mmask8>((1u << taken) - 1);
    _mm512_mask_storeu_epi64(e.front, kept, a);
    _mm512_mask_storeu_epi64(e.back - 8, static_cast<__mmask8>(~kept), a);
    e.front += taken;
    e.back -= 8 - taken;
}

// The same for the keys in the lanes `valid` = [0, count) of v.
template <bool inclusive>
TESSALINE_AVX512_INLINE void place_part(Ends& e, Keys v, Keys pivot, unsigned count) {
    const auto valid = static_cast<__mmask8>((1u << count) - 1);
    const __mmask8 lower = below<inclusive>(v, pivot) & valid;
    const auto taken = static_cast<unsigned>(__builtin_popcount(lower));
    const unsigned rest = count - taken;
    const Keys upper = _mm512_maskz_compress_epi64(static_cast<__mmask8>(valid & ~lower), v);
    _mm512_mask_storeu_epi64(e.front, static_cast<__mmask8>((1u << taken) - 1), arranged(v, lower));
    _mm512_mask_storeu_epi64(e.back - rest, static_cast<__mmask8>((1u << rest) - 1), upper);
    e.front += taken;
    e.back -= rest;
}

TESSALINE_AVX512_INLINE Keys broadcast(uint64_t key) {
    return _mm512_set1_epi64(static_cast<long long>(key));
}
TESSALINE_AVX512_INLINE Keys load(const double* at) {
    return _mm512_loadu_si512(at);
}
TESSALINE_AVX512_INLINE Keys load_aligned(const double* at) {
    return _mm512_load_si512(at);
}
TESSALINE_AVX512_INLINE void store(double* at, Keys v) {
    _mm512_storeu_si512(at, v);
}
// The first `count` keys at `at`, padding in the other lanes.
TESSALINE_AVX512_INLINE Keys load_part(const double* at, unsigned count) {
    const auto valid = static_cast<__mmask8>((1u << count) - 1);
    return _mm512_mask_loadu_epi64(broadcast(kPadding), valid, at);
}
TESSALINE_AVX512_INLINE void store_part(double* at, unsigned count, Keys v) {
    _mm512_mask_storeu_epi64(at, static_cast<__mmask8>((1u << count) - 1), v);
}
TESSALINE_AVX512_INLINE Keys sort_one(Keys v) {
    return sort8(v);
}
TESSALINE_AVX512_INLINE Keys merge_one(Keys v) {
    return merge8(v);
}
TESSALINE_AVX512_INLINE void merge_pair(Keys& a, Keys& b) {
    merge8x2(a, b);
}
TESSALINE_AVX512_INLINE void sort_block(Keys* r) {
    sort8x8(r);
}
TESSALINE_AVX512_INLINE uint64_t least_lane(Keys v) {
    alignas(64) uint64_t lanes[8];
    _mm512_store_si512(lanes, v);
    return *std::min_element(lanes, lanes + 8);
}
template <bool descending>
TESSALINE_AVX512_INLINE bool disordered(Keys v, Keys next) {
    return (descending ? _mm512_cmplt_epu64_mask(v, next) : _mm512_cmpgt_epu64_mask(v, next)) != 0;
}

#define TESSALINE_SORT_TARGET TESSALINE_AVX512
#define TESSALINE_SORT_INLINE TESSALINE_AVX512_INLINE
#include "vector_quicksort.inc"
#undef TESSALINE_SORT_TARGET
#undef TESSALINE_SORT_INLINE

}  // namespace avx512

// 256-bit registers of four keys.
namespace avx2 {
#include "vector_sort_avx2.inc"

#define TESSALINE_SORT_TARGET TESSALINE_AVX2
#define TESSALINE_SORT_INLINE TESSALINE_AVX2_INLINE
#include "vector_quicksort.inc"
#undef TESSALINE_SORT_TARGET
#undef TESSALINE_SORT_INLINE

}  // namespace avx2

// 256-bit registers of four records, a register of keys and one of payloads.
namespace avx2_records {
#include "vector_records_avx2.inc"

#define TESSALINE_SORT_TARGET TESSALINE_AVX2
#define TESSALINE_SORT_INLINE TESSALINE_AVX2_INLINE
#include "vector_quicksort.inc"
#undef TESSALINE_SORT_TARGET
#undef TESSALINE_SORT_INLINE

}  // namespace avx2_records

// 512-bit registers of eight records, a register of keys and one of payloads.
namespace avx512_records {
#include "vector_records_avx512.inc"

#define TESSALINE_SORT_TARGET TESSALINE_AVX512
#define TESSALINE_SORT_INLINE TESSALINE_AVX512_INLINE
#include "vector_quicksort.inc"
#undef TESSALINE_SORT_TARGET
#undef TESSALINE_SORT_INLINE

}  // namespace avx512_records

}  // namespace

bool sort_keys_in_vectors(double* keys, std::size_t n, int bits) {
    if (bits == 512 && use_avx512f()) {
        avx512::sort_keys(keys, n);
        return true;
    }
    if (bits == 256 && use_avx2()) {
        avx2::sort_keys(keys, n);
        return true;
    }
    return false;
}

bool sort_records_in_vectors(KeyedRecord* rows, std::size_t n, int bits) {
    if (bits == 512 && use_avx512f()) {
        avx512_records::sort_keys(rows, n);
        return true;
    }
    if (bits == 256 && use_avx2()) {
        avx2_records::sort_keys(rows, n);
        return true;
    }
    return false;
}

#else

bool sort_keys_in_vectors(double*, std::size_t, int) {
    return false;
}

bool sort_records_in_vectors(KeyedRecord*, std::size_t, int) {
    return false;
}

#endif

bool sort_keys_vectorized(double* keys, double*, std::size_t n) {
    return sort_keys_in_vectors(keys, n, 512) || sort_keys_in_vectors(keys, n, 256);
}

bool sort_records_vectorized(KeyedRecord* rows, std::size_t n) {
    return sort_records_in_vectors(rows, n, 512) || sort_records_in_vectors(rows, n, 256);
}

}  // namespace tessaline
