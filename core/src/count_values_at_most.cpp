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

// A value's key and its rows of class 0 and 1, side by side: a row reads one
// line of the table.
struct Slot {
    uint64_t key = kFree;
    int64_t rows[2] = {0, 0};
};

// The table's slot for a key: the high bits of its product with 2^64 / phi,
// which spreads keys that differ only in their low bits (nearby values),
// the high half folded into the low one first: the keys of whole numbers
// differ in their high bits only, and the product's high bits would see
// few of those.
inline std::size_t home_slot(uint64_t key, unsigned shift) {
    return static_cast<std::size_t>(((key ^ (key >> 32)) * 0x9E3779B97F4A7C15ull) >> shift);
}

// The slot of `key` in `table` (of 2^(64 - shift) slots): its own, or the
// free one where it goes.
inline std::size_t slot_of(const std::vector<Slot>& table, uint64_t key, unsigned shift) {
    const std::size_t mask = table.size() - 1;
    std::size_t s = home_slot(key, shift);
    while (table[s].key != key && table[s].key != kFree) s = (s + 1) & mask;
    return s;
}

// The table grown to 2^bits slots, with the same keys and counts.
void grow_table(std::vector<Slot>& table, unsigned bits, unsigned& shift) {
    std::vector<Slot> larger = large_vector<Slot>(std::size_t{1} << bits);
    shift = 64 - bits;
    for (const Slot& slot : table) {
        if (slot.key != kFree) larger[slot_of(larger, slot.key, shift)] = slot;
    }
    table.swap(larger);
}

}  // namespace

std::optional<ValueCounts> count_values_at_most(const double* x, const int32_t* y, std::size_t n,
                                                std::size_t limit) {
    // Rows that cannot hold more values than the limit are counted in full
    // by the sort, faster than a table of as many slots as rows.
    if (n <= limit) return count_values(x, y, n);
    // The table starts at 1024 slots (24 KiB), so that a column of a few
    // hundred values is counted in the first level of cache, and doubles
    // once four fifths full; past 8192 slots, or where most rows so far
    // held a value of their own, it takes at once the room of the most keys
    // it may hold (limit + 1, as many as four fifths of it), sparing a
    // column of many values a rehash at every doubling.
    unsigned bits = 10, most_bits = 1;
    while ((std::size_t{1} << most_bits) < (limit + 1) + (limit + 1) / 4) ++most_bits;
    bits = std::min(bits, most_bits);
    std::vector<Slot> table(std::size_t{1} << bits);
    unsigned shift = 64 - bits;
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double xi = x[i];
        if (std::isnan(xi)) continue;
        const uint64_t key = ordered_key(xi);
        std::size_t s = slot_of(table, key, shift);
        if (table[s].key == kFree) {
            if (distinct == limit) return std::nullopt;
            if (5 * (distinct + 1) > 4 * table.size() && bits < most_bits) {
                bits = bits < 13 && i >= 4 * distinct ? bits + 1 : most_bits;
                grow_table(table, bits, shift);
                s = slot_of(table, key, shift);
            }
            table[s].key = key;
            ++distinct;
        }
        // 0 is class 0, any other label class 1, as count_values reads them;
        // without a branch, as the classes of successive rows are a toss.
        ++table[s].rows[y[i] != 0];
    }

    // The distinct keys, each with its slot, sorted (keys are unique, so the
    // slots never decide).
    std::vector<std::pair<uint64_t, std::size_t>> used;
    used.reserve(distinct);
    for (std::size_t s = 0; s < table.size(); ++s) {
        if (table[s].key != kFree) used.emplace_back(table[s].key, s);
    }
    std::sort(used.begin(), used.end());
    ValueCounts counts;
    counts.value.reserve(distinct);
    counts.c0.reserve(distinct);
    counts.c1.reserve(distinct);
    for (const auto& [key, s] : used) {
        // The key of both zeros reads back as 0.0.
        counts.value.push_back(value_of_key(key));
        counts.c0.push_back(table[s].rows[0]);
        counts.c1.push_back(table[s].rows[1]);
    }
    return counts;
}

}  // namespace tessaline
