// LSD radix sort of 64-bit keys, two independent ranges at once, where the
// vector quicksort (vector_sort.cpp) cannot run. The digits
// cover only the bits in which some keys differ (the sign and exponent of
// values of one sign and scale never do, nor the low mantissa bits of
// rounded values), split into as few digits of at most 11 bits as cover
// them: 53 varying bits take 5 passes, all 64 take 6. One counting pass takes
// the histograms of every digit of both ranges, then each digit that varies
// in either range moves both ranges to the other buffer. Short inputs use a
// comparison sort, where the fixed cost of the histograms does not pay.
#include "sort_rows.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "large_buffer.hpp"

namespace tessaline {
namespace {

constexpr std::size_t kRadixThreshold = 256;
// 2048 buckets: their counts and cursors stay in the first-level caches.
constexpr int kMaxDigitBits = 11;

// Bits set where some key differs from the first.
uint64_t varying_bits(const double* keys, std::size_t n) {
    const uint64_t first = load_key(keys);
    uint64_t varying = 0;
    for (std::size_t i = 1; i < n; ++i) varying |= load_key(keys + i) ^ first;
    return varying;
}

// Histogram of every digit of one range, digit k at h[k * buckets ..].
void count_digits(const double* keys, std::size_t begin, std::size_t end, const Digits& d,
                  std::size_t* h) {
    const std::size_t buckets = d.buckets();
    const uint64_t mask = buckets - 1;
    for (std::size_t i = begin; i < end; ++i) {
        const uint64_t key = load_key(keys + i);
        for (int k = 0; k < d.count; ++k) {
            ++h[static_cast<std::size_t>(k) * buckets + ((key >> d.shift[k]) & mask)];
        }
    }
}

// A digit varies in a range unless one bucket holds the whole range.
bool digit_varies(const std::size_t* h, std::size_t buckets, std::size_t size) {
    return size > 0 && std::find(h, h + buckets, size) == h + buckets;
}

// Moves keys [begin, end) of src to the same range of dst, ordered by one
// digit and stable, so the order of the lower digits is kept. `next` has
// room for a cursor per bucket.
void scatter(const double* src, double* dst, std::size_t begin, std::size_t end,
             const std::size_t* h, std::size_t buckets, int shift, std::size_t* next) {
    const uint64_t mask = buckets - 1;
    std::size_t at = begin;
    for (std::size_t v = 0; v < buckets; ++v) {
        next[v] = at;
        at += h[v];
    }
    for (std::size_t i = begin; i < end; ++i) {
        const uint64_t key = load_key(src + i);
        store_key(dst + next[(key >> shift) & mask]++, key);
    }
}

void sort_short_range(double* keys, std::size_t begin, std::size_t end) {
    std::vector<uint64_t> k(end - begin);
    for (std::size_t i = begin; i < end; ++i) k[i - begin] = load_key(keys + i);
    std::sort(k.begin(), k.end());
    for (std::size_t i = begin; i < end; ++i) store_key(keys + i, k[i - begin]);
}

}  // namespace

Digits digits_over(uint64_t varying) {
    Digits d;
    if (varying == 0) return d;
    const int low = __builtin_ctzll(varying);
    const int high = 63 - __builtin_clzll(varying);
    const int width = high - low + 1;
    d.count = (width + kMaxDigitBits - 1) / kMaxDigitBits;
    d.bits = (width + d.count - 1) / d.count;
    for (int k = 0; k < d.count; ++k) d.shift[k] = low + k * d.bits;
    return d;
}

double* sort_key_ranges(double* a, double* b, std::size_t n, std::size_t n0) {
    // The vector quicksort sorts each range on its own, in place.
    if (n >= kRadixThreshold && sort_keys_vectorized(a, b, n0)) {
        sort_keys_vectorized(a + n0, b + n0, n - n0);
        return a;
    }
    return radix_sort_key_ranges(a, b, n, n0);
}

double* radix_sort_key_ranges(double* a, double* b, std::size_t n, std::size_t n0) {
    if (n < kRadixThreshold) {
        sort_short_range(a, 0, n0);
        sort_short_range(a, n0, n);
        return a;
    }
    const Digits d = digits_over(varying_bits(a, n));
    const std::size_t buckets = d.buckets();
    const std::size_t table = static_cast<std::size_t>(d.count) * buckets;
    // The histograms of a short column (a few hundred KiB of them, for two
    // ranges of 11-bit digits) cost more in fresh pages to fault in and zero
    // than in counting: they come from the thread's kept scratch instead.
    const auto hist = large_scratch<std::size_t>(2 * table + buckets);
    std::fill(hist.get(), hist.get() + 2 * table, std::size_t{0});
    std::size_t* h0 = hist.get();
    std::size_t* h1 = h0 + table;
    std::size_t* next = h1 + table;
    count_digits(a, 0, n0, d, h0);
    count_digits(a, n0, n, d, h1);

    // Both ranges take the same passes, so they end in the same buffer.
    double* src = a;
    double* dst = b;
    for (int k = 0; k < d.count; ++k) {
        const std::size_t row = static_cast<std::size_t>(k) * buckets;
        if (!digit_varies(h0 + row, buckets, n0) && !digit_varies(h1 + row, buckets, n - n0)) {
            continue;
        }
        scatter(src, dst, 0, n0, h0 + row, buckets, d.shift[k], next);
        scatter(src, dst, n0, n, h1 + row, buckets, d.shift[k], next);
        std::swap(src, dst);
    }
    return src;
}

}  // namespace tessaline
