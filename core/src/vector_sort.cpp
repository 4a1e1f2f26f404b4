// Quicksort of 64-bit keys in 512-bit vector registers, where the processor
// has them (AVX-512F), in place.
//
// A partition reads the range from both ends and writes each register's keys,
// arranged by one permutation with those below the pivot first, to both ends
// at once: the front store keeps the lower keys, the back store the upper
// ones, and the lanes each store writes in passing fall in slots that later
// stores overwrite. The registers at both ends are read before anything is
// written, so each side has room to spare; the side with less room is read
// next, so neither store ever reaches a key not yet read. Eight registers are
// read per step, so their comparisons and permutations overlap, and whole
// registers are read from 64-byte boundaries only.
//
// Ranges of up to kInRegisters keys are sorted inside as many registers as
// they fill (the last one partly, by masked loads and stores): blocks of eight
// registers sorted across their lanes and transposed (any other register by a
// network inside it), then runs of registers merged two by two by a bitonic
// network whose first layer pairs a run with the other one reversed, so the
// registers that a power of two would add past the end never take part.
//
// The pivot is the median of a sorted sample. When it is also the sample's
// smallest key, or no key falls below it, its equals are set apart in one
// partition that also finds the range's smallest key: a range of one value is
// then done, so a column of few distinct values costs no more than one of
// many. Past a depth of partitions that keep missing the middle, a range is
// sorted by comparisons instead. Keys already in order, or in reverse order,
// are found in one read. Where the vector instructions are missing the caller
// uses the radix sort.
#include <algorithm>
#include <array>
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

#define TESSALINE_AVX512 __attribute__((target("avx512f,popcnt")))
#define TESSALINE_AVX512_INLINE __attribute__((target("avx512f,popcnt"), always_inline)) inline

// Loops over registers are unrolled so that the registers never go through
// memory (clang unrolls such loops of known length by itself).
#if defined(__clang__)
#define TESSALINE_UNROLL
#else
#define TESSALINE_UNROLL _Pragma("GCC unroll 32")
#endif

using Keys = __m512i;

// Ranges up to this size are sorted in registers (up to 16 registers of 8):
// a partition costs less per key than one more merge of registers.
constexpr std::size_t kInRegisters = 128;
constexpr std::size_t kMaxRegisters = kInRegisters / 8;
// Registers read per step of a partition.
constexpr std::size_t kUnroll = 8;
constexpr std::size_t kStep = 8 * kUnroll;
// A partition holds a step of keys at each end of a range longer than this.
static_assert(kInRegisters >= 2 * kStep, "a partition needs more keys than it holds");
// The lanes past the end of a partly filled register: no key is larger, so
// they sort after every key, and they are never stored.
constexpr uint64_t kPadding = ~uint64_t{0};

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

// Sorts the keys of registers r[0, N) as one sequence, as if registers of
// padding followed up to a power of two. Runs of `width` sorted registers are
// merged two by two: the first layer compares key k of the pair with key
// 16 * width - 1 - k, the next ones at halving distances, so every comparison
// with a register past N would leave both sides as they are and is skipped.
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

template <std::size_t N>
TESSALINE_AVX512_INLINE void sort_registers(Keys* r) {
    TESSALINE_UNROLL
    for (std::size_t i = 0; i + 8 <= N; i += 8) sort8x8(r + i);
    TESSALINE_UNROLL
    for (std::size_t i = N / 8 * 8; i < N; ++i) r[i] = sort8(r[i]);
    TESSALINE_UNROLL
    for (std::size_t width = 1; width < N; width *= 2) {
        TESSALINE_UNROLL
        for (std::size_t start = 0; start < N; start += 2 * width) {
            TESSALINE_UNROLL
            for (std::size_t k = 0; k < width; ++k) {
                const std::size_t i = start + k;
                const std::size_t j = start + 2 * width - 1 - k;
                if (j >= N) continue;
                // r[j] keeps its lanes in reverse order: the later layers
                // pair its lanes with those of a register in the same order,
                // and sort its keys whatever their order.
                const Keys mirrored = reversed(r[j]);
                r[j] = larger(r[i], mirrored);
                r[i] = smaller(r[i], mirrored);
            }
            TESSALINE_UNROLL
            for (std::size_t d = width / 2; d >= 1; d /= 2) {
                TESSALINE_UNROLL
                for (std::size_t i = start; i < start + 2 * width; ++i) {
                    if (((i - start) & d) != 0 || i + d >= N) continue;
                    const Keys low = smaller(r[i], r[i + d]);
                    r[i + d] = larger(r[i], r[i + d]);
                    r[i] = low;
                }
            }
            TESSALINE_UNROLL
            for (std::size_t i = start; i < start + 2 * width; i += 2) {
                if (i + 1 < N) {
                    merge8x2(r[i], r[i + 1]);
                } else if (i < N) {
                    r[i] = merge8(r[i]);
                }
            }
        }
    }
}

// Sorts the n keys at `keys`, 8 * (N - 1) < n <= 8 * N, in N registers.
template <std::size_t N>
TESSALINE_AVX512 void sort_in_registers(double* keys, std::size_t n) {
    const auto last = static_cast<__mmask8>(0xFFu >> (8 * N - n));
    const Keys padding = _mm512_set1_epi64(static_cast<long long>(kPadding));
    Keys r[N];
    TESSALINE_UNROLL
    for (std::size_t i = 0; i + 1 < N; ++i) r[i] = _mm512_loadu_si512(keys + 8 * i);
    r[N - 1] = _mm512_mask_loadu_epi64(padding, last, keys + 8 * (N - 1));
    sort_registers<N>(r);
    TESSALINE_UNROLL
    for (std::size_t i = 0; i + 1 < N; ++i) _mm512_storeu_si512(keys + 8 * i, r[i]);
    _mm512_mask_storeu_epi64(keys + 8 * (N - 1), last, r[N - 1]);
}

using SortInRegisters = void (*)(double*, std::size_t);

template <std::size_t... I>
constexpr auto in_register_sorts(std::index_sequence<I...>) {
    return std::array<SortInRegisters, sizeof...(I)>{&sort_in_registers<I + 1>...};
}

// Sorts the 1 <= n <= kInRegisters keys at `keys`.
TESSALINE_AVX512 void sort_few(double* keys, std::size_t n) {
    static constexpr auto sorts = in_register_sorts(std::make_index_sequence<kMaxRegisters>());
    sorts[(n - 1) / 8](keys, n);
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

// The write ends of a partition: keys below the pivot go to [.., front),
// the others to [back, ..).
struct Ends {
    double* front;
    double* back;
};

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

// Puts the n > 2 * kStep keys at `keys` in two parts, those below `pivot` (at
// or below it when `inclusive`) first; returns the size of the first part.
// When `inclusive`, `least` receives the smallest key of the range.
template <bool inclusive>
TESSALINE_AVX512 std::size_t partition(double* keys, std::size_t n, uint64_t pivot_key,
                                       uint64_t* least) {
    const Keys pivot = _mm512_set1_epi64(static_cast<long long>(pivot_key));
    Keys smallest = _mm512_set1_epi64(static_cast<long long>(kPadding));
    // The registers at both ends wait until every other key is placed.
    Keys held[2 * kUnroll];
    for (std::size_t i = 0; i < kUnroll; ++i) {
        held[i] = _mm512_loadu_si512(keys + 8 * i);
        held[kUnroll + i] = _mm512_loadu_si512(keys + n - kStep + 8 * i);
    }
    // Keys not yet read: [left, right).
    double* left = keys + kStep;
    double* right = keys + n - kStep;
    Ends e{keys, keys + n};
    // The keys short of whole registers first, while both ends have room: at
    // the front up to a 64-byte boundary and at the back down to one, so that
    // the loads of whole registers never straddle two cache lines.
    const auto offset = [](const double* at) {
        return static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(at) % 64 / 8);
    };
    const std::size_t head = std::min<std::size_t>((8 - offset(left)) % 8, right - left);
    if (head != 0) {
        const Keys v = _mm512_maskz_loadu_epi64(static_cast<__mmask8>((1u << head) - 1), left);
        if (inclusive) smallest = _mm512_mask_min_epu64(smallest, (1u << head) - 1, smallest, v);
        place_part<inclusive>(e, v, pivot, static_cast<unsigned>(head));
        left += head;
    }
    const std::size_t tail = std::min<std::size_t>(offset(right), right - left);
    if (tail != 0) {
        right -= tail;
        const Keys v = _mm512_maskz_loadu_epi64(static_cast<__mmask8>((1u << tail) - 1), right);
        if (inclusive) smallest = _mm512_mask_min_epu64(smallest, (1u << tail) - 1, smallest, v);
        place_part<inclusive>(e, v, pivot, static_cast<unsigned>(tail));
    }
    // The free room at the ends, left - e.front and e.back - right, adds up to
    // 2 * kStep; the side with at most kStep is read, so both have room for
    // what one step writes.
    while (static_cast<std::size_t>(right - left) >= kStep) {
        Keys v[kUnroll];
        if (left - e.front <= e.back - right) {
            for (std::size_t i = 0; i < kUnroll; ++i) v[i] = _mm512_load_si512(left + 8 * i);
            left += kStep;
        } else {
            right -= kStep;
            for (std::size_t i = 0; i < kUnroll; ++i) v[i] = _mm512_load_si512(right + 8 * i);
        }
        for (std::size_t i = 0; i < kUnroll; ++i) {
            if (inclusive) smallest = smaller(smallest, v[i]);
            place<inclusive>(e, v[i], pivot);
        }
    }
    while (left != right) {
        Keys v;
        if (left - e.front <= e.back - right) {
            v = _mm512_load_si512(left);
            left += 8;
        } else {
            right -= 8;
            v = _mm512_load_si512(right);
        }
        if (inclusive) smallest = smaller(smallest, v);
        place<inclusive>(e, v, pivot);
    }
    for (std::size_t i = 0; i < 2 * kUnroll; ++i) {
        if (inclusive) smallest = smaller(smallest, held[i]);
        place_exactly<inclusive>(e, held[i], pivot);
    }
    if (inclusive) {
        alignas(64) uint64_t lanes[8];
        _mm512_store_si512(lanes, smallest);
        *least = *std::min_element(lanes, lanes + 8);
    }
    return static_cast<std::size_t>(e.front - keys);
}

struct Pivot {
    uint64_t key;
    bool smallest_of_sample;
};

// The median of a sorted sample of 8 * N keys spread evenly over the n keys.
// (Scalar loads: a gather of the sample costs more here.)
template <std::size_t N>
TESSALINE_AVX512 Pivot pivot_of(const double* keys, std::size_t n) {
    constexpr std::size_t size = 8 * N;
    const std::size_t spacing = n / size;
    alignas(64) uint64_t sample[size];
    for (std::size_t i = 0; i < size; ++i) sample[i] = load_key(keys + spacing / 2 + spacing * i);
    Keys r[N];
    for (std::size_t i = 0; i < N; ++i) r[i] = _mm512_load_si512(sample + 8 * i);
    sort_registers<N>(r);
    for (std::size_t i = 0; i < N; ++i) _mm512_store_si512(sample + 8 * i, r[i]);
    return {sample[size / 2], sample[size / 2] == sample[0]};
}

void sort_by_comparisons(double* keys, std::size_t n) {
    std::vector<uint64_t> k(n);
    for (std::size_t i = 0; i < n; ++i) k[i] = load_key(keys + i);
    std::sort(k.begin(), k.end());
    for (std::size_t i = 0; i < n; ++i) store_key(keys + i, k[i]);
}

// Sorts the n keys at `keys`. Past `depth` partitions, the range is sorted by
// comparisons instead.
TESSALINE_AVX512 void quicksort(double* keys, std::size_t n, int depth) {
    while (n > kInRegisters) {
        if (depth == 0) {
            sort_by_comparisons(keys, n);
            return;
        }
        --depth;
        // Larger samples where a better split saves more than they cost.
        const Pivot p = n > 4096   ? pivot_of<8>(keys, n)
                        : n > 1024 ? pivot_of<2>(keys, n)
                                   : pivot_of<1>(keys, n);
        if (!p.smallest_of_sample) {
            const std::size_t low = partition<false>(keys, n, p.key, nullptr);
            if (low != 0) {
                // The smaller part by recursion, the larger one by the loop.
                if (low <= n - low) {
                    quicksort(keys, low, depth);
                    keys += low;
                    n -= low;
                } else {
                    quicksort(keys + low, n - low, depth);
                    n = low;
                }
                continue;
            }
        }
        // The pivot may have many equals: those go first, with any smaller key.
        uint64_t least = 0;
        const std::size_t low = partition<true>(keys, n, p.key, &least);
        if (low == n) {
            // The pivot is the largest key: the smaller keys go first, and its
            // equals, now last, are done.
            if (least == p.key) return;
            n = partition<false>(keys, n, p.key, nullptr);
            continue;
        }
        // Unless the pivot is the smallest key, the first part holds smaller ones.
        if (least != p.key) quicksort(keys, low, depth);
        keys += low;
        n -= low;
    }
    if (n > 0) sort_few(keys, n);
}

// Whether each of the n keys is at most the next one (`descending`: at least).
// Unsorted keys are usually found in the first registers.
template <bool descending>
TESSALINE_AVX512 bool in_order(const double* keys, std::size_t n) {
    std::size_t i = 0;
    for (; i + 33 <= n; i += 32) {
        __mmask8 out = 0;
        for (std::size_t j = i; j < i + 32; j += 8) {
            const Keys v = _mm512_loadu_si512(keys + j);
            const Keys next = _mm512_loadu_si512(keys + j + 1);
            out |= descending ? _mm512_cmplt_epu64_mask(v, next) : _mm512_cmpgt_epu64_mask(v, next);
        }
        if (out != 0) return false;
    }
    for (; i + 1 < n; ++i) {
        const uint64_t key = load_key(keys + i);
        const uint64_t next = load_key(keys + i + 1);
        if (descending ? key < next : key > next) return false;
    }
    return true;
}

TESSALINE_AVX512 void reverse(double* keys, std::size_t n) {
    double* low = keys;
    double* high = keys + n;
    for (; high - low >= 16; low += 8, high -= 8) {
        const Keys a = _mm512_loadu_si512(low);
        const Keys b = _mm512_loadu_si512(high - 8);
        _mm512_storeu_si512(low, reversed(b));
        _mm512_storeu_si512(high - 8, reversed(a));
    }
    for (; high - low >= 2; ++low, --high) {
        const uint64_t a = load_key(low);
        store_key(low, load_key(high - 1));
        store_key(high - 1, a);
    }
}

bool has_vector_sort() {
    return use_avx512f();
}

}  // namespace

bool sort_keys_vectorized(double* keys, double*, std::size_t n) {
    if (!has_vector_sort()) return false;
    int depth = 8;
    for (std::size_t m = n; m > 1; m /= 2) depth += 2;
    // Keys already in order, or in reverse order, cost one read.
    if (in_order<false>(keys, n)) return true;
    if (in_order<true>(keys, n)) {
        reverse(keys, n);
        return true;
    }
    quicksort(keys, n, depth);
    return true;
}

#else

bool sort_keys_vectorized(double*, double*, std::size_t) {
    return false;
}

#endif

}  // namespace tessaline
