// Ordering of labelled values, shared by preprocessing and the Lorenz curve.
//
// Values are ordered through unsigned 64-bit keys whose order is the numeric
// order of the values. The rows of each label are sorted on their own, as keys
// only: two rows of one label with equal keys are indistinguishable (the one
// value that has two bit patterns, zero, is mapped to one key, and the callers
// restore the sign of zero themselves where it matters), so no stability and
// no row payload is needed, and walking the two sorted labels together gives
// the order by (value, label).
#ifndef TESSALINE_SORT_ROWS_HPP
#define TESSALINE_SORT_ROWS_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "large_buffer.hpp"

namespace tessaline {

// The key of a value that is not NaN: keys compare as the values do, and -0.0
// gets the key of 0.0. Negative values have every bit flipped (larger
// magnitude, smaller key), the others only the sign bit.
inline uint64_t ordered_key(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    constexpr uint64_t sign = uint64_t{1} << 63;
    bits = bits == sign ? 0 : bits;
    const uint64_t flip = (0 - (bits >> 63)) | sign;
    return bits ^ flip;
}

// The value of a key; the key of zero gives 0.0.
inline double value_of_key(uint64_t key) {
    constexpr uint64_t sign = uint64_t{1} << 63;
    const uint64_t flip = (key & sign) ? sign : ~uint64_t{0};
    const uint64_t bits = key ^ flip;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Key buffers are arrays of double storage that hold key bit patterns, so
// that the buffer a sort leaves free can receive the sorted values in place.
// Keys are only ever moved through these two functions, never as doubles.
inline uint64_t load_key(const double* at) {
    uint64_t key;
    std::memcpy(&key, at, sizeof key);
    return key;
}

inline void store_key(double* at, uint64_t key) {
    std::memcpy(at, &key, sizeof key);
}

// The digits of an LSD radix sort: `count` digits of `bits` bits each, digit d
// starting at bit shift[d].
struct Digits {
    int count = 0;
    int bits = 1;
    int shift[64] = {};
    std::size_t buckets() const { return std::size_t{1} << bits; }
};

// The fewest digits of at most 11 bits that cover the bits set in `varying`
// (those in which some keys differ).
Digits digits_over(uint64_t varying);

// Sorts the n records at `rows` with a 64-bit `key` member by key, stably,
// with an LSD radix over the bits in which keys differ (digits_over): one
// pass takes every digit's histogram, then each digit moves the records to
// the other buffer. `spare` has room for n records; returns whichever of
// `rows` and `spare` holds them sorted.
template <typename Row>
Row* radix_sort_records(Row* rows, Row* spare, std::size_t n) {
    if (n < 256) {
        std::stable_sort(rows, rows + n, [](const Row& a, const Row& b) { return a.key < b.key; });
        return rows;
    }
    uint64_t varying = 0;
    for (std::size_t i = 0; i < n; ++i) varying |= rows[i].key ^ rows[0].key;
    const Digits d = digits_over(varying);
    const std::size_t buckets = d.buckets();
    const uint64_t mask = buckets - 1;
    std::vector<std::size_t> hist(static_cast<std::size_t>(d.count) * buckets, 0);
    for (std::size_t i = 0; i < n; ++i) {
        for (int k = 0; k < d.count; ++k) {
            ++hist[static_cast<std::size_t>(k) * buckets + ((rows[i].key >> d.shift[k]) & mask)];
        }
    }
    for (int k = 0; k < d.count; ++k) {
        std::size_t* next = hist.data() + static_cast<std::size_t>(k) * buckets;
        std::size_t at = 0;
        for (std::size_t v = 0; v < buckets; ++v) {
            const std::size_t here = next[v];
            next[v] = at;
            at += here;
        }
        const int shift = d.shift[k];
        for (std::size_t i = 0; i < n; ++i) spare[next[(rows[i].key >> shift) & mask]++] = rows[i];
        std::swap(rows, spare);
    }
    return rows;
}

// The same over a vector, sorted in place.
template <typename Row>
void radix_sort_records(std::vector<Row>& rows) {
    const std::size_t n = rows.size();
    if (n < 256) {
        radix_sort_records(rows.data(), rows.data(), n);
        return;
    }
    std::vector<Row> spare = large_vector<Row>(n);
    if (radix_sort_records(rows.data(), spare.data(), n) != rows.data()) rows.swap(spare);
}

// The same, most significant digit first, for records too long to sort
// whole in the caches: one pass moves the records by their top varying bits
// into buckets of about kCachedRecords (a few, where the keys crowd), and each
// bucket is sorted on its own, in the caches, by its own varying bits. Two
// passes through memory, not one per digit. Stable, as every pass moves the
// records in their order (continuous counts rely on it). Each sorted bucket goes to
// `visit(run, size)` in ascending key order while it is still in the caches,
// at its own place (the records before it fill the places before) in either
// `rows` or `spare`; buckets part the keys by their top bits, so equal keys
// always fall in one.
template <typename Row, typename Visit>
void bucket_sort_runs(Row* rows, Row* spare, std::size_t n, Visit&& visit) {
    constexpr std::size_t kCachedRecords = 16384;
    constexpr int kMaxBits = 11;
    if (n <= kCachedRecords) {
        const Row* sorted = radix_sort_records(rows, spare, n);
        visit(sorted, n);
        return;
    }
    uint64_t varying = 0;
    for (std::size_t i = 0; i < n; ++i) varying |= rows[i].key ^ rows[0].key;
    if (varying == 0) {
        visit(static_cast<const Row*>(rows), n);
        return;
    }
    const int high = 63 - __builtin_clzll(varying);
    const int low = __builtin_ctzll(varying);
    int bits = 1;
    while (bits < kMaxBits && (n >> bits) > kCachedRecords) ++bits;
    bits = std::min(bits, high - low + 1);
    // The digit is the top `bits` varying bits: every key agrees above them.
    const int shift = high + 1 - bits;
    const uint64_t mask = (uint64_t{1} << bits) - 1;
    std::vector<std::size_t> start((std::size_t{1} << bits) + 1, 0);
    for (std::size_t i = 0; i < n; ++i) ++start[((rows[i].key >> shift) & mask) + 1];
    for (std::size_t v = 1; v < start.size(); ++v) start[v] += start[v - 1];
    std::vector<std::size_t> next(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < n; ++i) spare[next[(rows[i].key >> shift) & mask]++] = rows[i];
    for (std::size_t v = 0; v + 1 < start.size(); ++v) {
        const std::size_t size = start[v + 1] - start[v];
        if (size > 0) bucket_sort_runs(spare + start[v], rows + start[v], size, visit);
    }
}

// The sorted records of bucket_sort_runs gathered in `rows`, which it returns.
template <typename Row>
Row* bucket_sort_records(Row* rows, Row* spare, std::size_t n) {
    std::size_t at = 0;
    bucket_sort_runs(rows, spare, n, [&](const Row* run, std::size_t size) {
        if (run != rows + at) std::copy(run, run + size, rows + at);
        at += size;
    });
    return rows;
}

// Sorts the keys of a[0, n0) ascending and, separately, those of a[n0, n),
// with b (room for n keys) as the second buffer. Returns whichever of a and b
// then holds both sorted ranges; the other one is free.
double* sort_key_ranges(double* a, double* b, std::size_t n, std::size_t n0);

// The same by the radix sort alone, whatever the processor.
double* radix_sort_key_ranges(double* a, double* b, std::size_t n, std::size_t n0);

// Sorts the n keys at `keys` in place with the vector quicksort; `spare`
// (room for n keys) is left as it is, since the partitions work in place.
// False, with nothing done, where the processor lacks the vector instructions.
bool sort_keys_vectorized(double* keys, double* spare, std::size_t n);

// The same in registers of `bits` bits (512: AVX-512F, 256: AVX2) whatever
// the widest the processor has, so that each width can be checked on one
// machine; false, with nothing done, where the processor lacks them.
bool sort_keys_in_vectors(double* keys, std::size_t n, int bits);

// A key with 64 bits that travel with it (a weight, say). Aligned so that four
// records fill one cache line.
struct alignas(16) KeyedRecord {
    uint64_t key;
    double payload;
};

// Sorts the n records at `rows` by key in place with the vector quicksort
// (their order among equal keys is free); false, with nothing done, where the
// processor lacks AVX2. Records take 512-bit registers where the processor
// has AVX-512F (eight to a pair), else 256-bit ones (four to a pair).
// Every key must be below 2^64 - 1, which pads partly filled registers (the
// keys of values that are not NaN always are): a record of that key might
// trade places with the padding.
bool sort_records_vectorized(KeyedRecord* rows, std::size_t n);

// The same in registers of `bits` bits (512 or 256) whatever the widest the
// processor has, for the tests.
bool sort_records_in_vectors(KeyedRecord* rows, std::size_t n, int bits);

}  // namespace tessaline

#endif  // TESSALINE_SORT_ROWS_HPP
