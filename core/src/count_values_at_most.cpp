// Rows counted by distinct value and class, as count_values counts them, but
// only for a column of few distinct values: the values go to a hash table,
// which gives up at the first value past the limit. A column of mostly
// distinct values (a score, an amount to the cent) thus costs about `limit`
// rows of hashing instead of a sort of all its rows, and a column of few
// costs one pass over its rows and a sort of its distinct values.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "large_buffer.hpp"
#include "sort_rows.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// No key of a value that is not NaN has every bit set, so it marks a free slot.
constexpr uint64_t kFree = ~uint64_t{0};

// The table's slot for a key: the high bits of its product with 2^64 / phi,
// which spreads keys that differ only in their low bits (nearby values).
inline std::size_t home_slot(uint64_t key, unsigned shift) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift);
}

}  // namespace

std::optional<ValueCounts> count_values_at_most(const double* x, const int32_t* y, std::size_t n,
                                                std::size_t limit) {
    // Rows that cannot hold more values than the limit are counted in full
    // by the sort, faster than a table of as many slots as rows.
    if (n <= limit) return count_values(x, y, n);
    // At most limit + 1 keys are ever stored; a table at most four fifths
    // full keeps the linear probes short.
    const std::size_t stored = std::min(n, limit) + 1;
    unsigned bits = 1;
    while ((std::size_t{1} << bits) < stored + stored / 4) ++bits;
    const std::size_t mask = (std::size_t{1} << bits) - 1;
    const unsigned shift = 64 - bits;
    std::vector<uint64_t> keys = large_vector<uint64_t>(mask + 1);
    std::fill(keys.begin(), keys.end(), kFree);
    std::vector<int64_t> c0 = large_vector<int64_t>(mask + 1);
    std::vector<int64_t> c1 = large_vector<int64_t>(mask + 1);

    std::size_t distinct = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double xi = x[i];
        if (std::isnan(xi)) continue;
        const uint64_t key = ordered_key(xi);
        std::size_t s = home_slot(key, shift);
        while (keys[s] != key && keys[s] != kFree) s = (s + 1) & mask;
        if (keys[s] == kFree) {
            if (distinct == limit) return std::nullopt;
            keys[s] = key;
            ++distinct;
        }
        // 0 is class 0, any other label class 1, as count_values reads them.
        if (y[i] != 0) {
            ++c1[s];
        } else {
            ++c0[s];
        }
    }

    // The distinct keys, each with its slot, sorted (keys are unique, so the
    // slots never decide).
    std::vector<std::pair<uint64_t, std::size_t>> used;
    used.reserve(distinct);
    for (std::size_t s = 0; s <= mask; ++s) {
        if (keys[s] != kFree) used.emplace_back(keys[s], s);
    }
    std::sort(used.begin(), used.end());
    ValueCounts counts;
    counts.value.reserve(distinct);
    counts.c0.reserve(distinct);
    counts.c1.reserve(distinct);
    for (const auto& [key, s] : used) {
        // The key of both zeros reads back as 0.0.
        counts.value.push_back(value_of_key(key));
        counts.c0.push_back(c0[s]);
        counts.c1.push_back(c1[s]);
    }
    return counts;
}

}  // namespace tessaline
