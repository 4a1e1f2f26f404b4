// LSD radix sort of 64-bit keys, two independent ranges at once: one counting
// pass takes the histograms of every digit of both ranges, then each digit
// that varies in either range moves both ranges to the other buffer. Digits
// that never vary (the sign and exponent of values of one sign and scale, the
// low mantissa bytes of rounded values) cost nothing. Short inputs use a
// comparison sort, where the fixed cost of the histograms does not pay.
#include "sort_rows.hpp"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace tessaline {
namespace {

constexpr std::size_t kRadixThreshold = 256;
constexpr int kDigitBits = 8;
constexpr int kDigits = (64 + kDigitBits - 1) / kDigitBits;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
constexpr uint64_t kDigitMask = kBuckets - 1;

// Histogram of every digit of one range, digit d at h[d * kBuckets ..].
void count_digits(const double* keys, std::size_t begin, std::size_t end, std::size_t* h) {
    for (std::size_t i = begin; i < end; ++i) {
        const uint64_t key = load_key(keys + i);
        for (int d = 0; d < kDigits; ++d) {
            ++h[static_cast<std::size_t>(d) * kBuckets + ((key >> (d * kDigitBits)) & kDigitMask)];
        }
    }
}

// A digit varies in a range unless one bucket holds the whole range.
bool digit_varies(const std::size_t* h, std::size_t size) {
    return size > 0 && std::find(h, h + kBuckets, size) == h + kBuckets;
}

// Moves keys [begin, end) of src to the same range of dst, ordered by one
// digit and stable, so the order of the lower digits is kept.
void scatter(const double* src, double* dst, std::size_t begin, std::size_t end,
             const std::size_t* h, int shift) {
    std::array<std::size_t, kBuckets> next;
    std::size_t at = begin;
    for (std::size_t v = 0; v < kBuckets; ++v) {
        next[v] = at;
        at += h[v];
    }
    for (std::size_t i = begin; i < end; ++i) {
        const uint64_t key = load_key(src + i);
        store_key(dst + next[(key >> shift) & kDigitMask]++, key);
    }
}

void sort_short_range(double* keys, std::size_t begin, std::size_t end) {
    std::vector<uint64_t> k(end - begin);
    for (std::size_t i = begin; i < end; ++i) k[i - begin] = load_key(keys + i);
    std::sort(k.begin(), k.end());
    for (std::size_t i = begin; i < end; ++i) store_key(keys + i, k[i - begin]);
}

}  // namespace

double* sort_key_ranges(double* a, double* b, std::size_t n, std::size_t n0) {
    if (n < kRadixThreshold) {
        sort_short_range(a, 0, n0);
        sort_short_range(a, n0, n);
        return a;
    }
    constexpr std::size_t kTable = static_cast<std::size_t>(kDigits) * kBuckets;
    std::vector<std::size_t> hist(2 * kTable, 0);
    std::size_t* h0 = hist.data();
    std::size_t* h1 = h0 + kTable;
    count_digits(a, 0, n0, h0);
    count_digits(a, n0, n, h1);

    // Both ranges take the same passes, so they end in the same buffer.
    double* src = a;
    double* dst = b;
    for (int d = 0; d < kDigits; ++d) {
        const std::size_t row = static_cast<std::size_t>(d) * kBuckets;
        if (!digit_varies(h0 + row, n0) && !digit_varies(h1 + row, n - n0)) continue;
        scatter(src, dst, 0, n0, h0 + row, d * kDigitBits);
        scatter(src, dst, n0, n, h1 + row, d * kDigitBits);
        std::swap(src, dst);
    }
    return src;
}

}  // namespace tessaline
