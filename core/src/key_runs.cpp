// The keys of counts kept by batch, merged run by run: each batch's keys
// are already ascending, so merging them costs passes, not a sort.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "large_buffer.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

constexpr uint64_t kNaNKey = std::numeric_limits<uint64_t>::max();
constexpr uint64_t kSignBit = uint64_t{1} << 63;

// An unsigned key in the order of the doubles: both zeros one key, every NaN
// one key after +inf. Merges then compare integers, without branches.
uint64_t ordered_key(double x) {
    if (std::isnan(x)) return kNaNKey;
    if (x == 0.0) x = 0.0;
    uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits & kSignBit) != 0 ? ~bits : bits | kSignBit;
}

double value_of(uint64_t key) {
    if (key == kNaNKey) return std::numeric_limits<double>::quiet_NaN();
    const uint64_t bits = (key & kSignBit) != 0 ? key & ~kSignBit : ~key;
    double x = 0.0;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// The distinct keys of two ascending runs of distinct keys.
std::vector<uint64_t> union_of(const std::vector<uint64_t>& a, const std::vector<uint64_t>& b) {
    std::vector<uint64_t> out(a.size() + b.size());
    std::size_t i = 0;
    std::size_t j = 0;
    std::size_t o = 0;
    while (i < a.size() && j < b.size()) {
        const uint64_t x = a[i];
        const uint64_t y = b[j];
        out[o++] = x < y ? x : y;
        i += x <= y ? 1 : 0;
        j += y <= x ? 1 : 0;
    }
    for (; i < a.size(); ++i) out[o++] = a[i];
    for (; j < b.size(); ++j) out[o++] = b[j];
    out.resize(o);
    return out;
}

// Entries of counts by key, column by column: keys in the order of the
// doubles (NaN's last), with the rows, rows of known target and events of each.
struct CountColumns {
    uint64_t* key;
    int64_t* rows;
    int64_t* known;
    int64_t* ones;
};

// NaN's key inside a merge of counts: above every number's.
constexpr uint64_t kNaNCountKey = std::numeric_limits<uint64_t>::max();

// The entries of two ascending runs of distinct keys, a[0, na) and b[0, nb),
// written as one such run to out (which overlaps neither): equal keys become
// one entry with their counts added. Each step takes the smaller key and adds
// whatever of the other run holds it too, without a branch on the data.
// Returns the entries written.
std::size_t summed_union(const CountColumns& a, std::size_t na, const CountColumns& b,
                         std::size_t nb, const CountColumns& out) {
    std::size_t i = 0;
    std::size_t j = 0;
    std::size_t o = 0;
    while (i < na && j < nb) {
        const uint64_t x = a.key[i];
        const uint64_t y = b.key[j];
        const int64_t take_a = x <= y ? 1 : 0;
        const int64_t take_b = y <= x ? 1 : 0;
        out.key[o] = x < y ? x : y;
        out.rows[o] = take_a * a.rows[i] + take_b * b.rows[j];
        out.known[o] = take_a * a.known[i] + take_b * b.known[j];
        out.ones[o] = take_a * a.ones[i] + take_b * b.ones[j];
        i += static_cast<std::size_t>(take_a);
        j += static_cast<std::size_t>(take_b);
        ++o;
    }
    for (const auto& [from, at, end] : {std::tuple{&a, i, na}, std::tuple{&b, j, nb}}) {
        const std::size_t left = end - at;
        std::memcpy(out.key + o, from->key + at, left * sizeof(uint64_t));
        std::memcpy(out.rows + o, from->rows + at, left * sizeof(int64_t));
        std::memcpy(out.known + o, from->known + at, left * sizeof(int64_t));
        std::memcpy(out.ones + o, from->ones + at, left * sizeof(int64_t));
        o += left;
    }
    return o;
}

// n entries of scratch room, column by column.
struct CountScratch {
    Scratch<uint64_t> key;
    Scratch<int64_t> rows;
    Scratch<int64_t> known;
    Scratch<int64_t> ones;
    explicit CountScratch(std::size_t n)
        : key(large_scratch<uint64_t>(n)),
          rows(large_scratch<int64_t>(n)),
          known(large_scratch<int64_t>(n)),
          ones(large_scratch<int64_t>(n)) {}
    CountColumns at(std::size_t offset) const {
        return {key.get() + offset, rows.get() + offset, known.get() + offset, ones.get() + offset};
    }
};

// A run of entries: where its columns start and how many it holds.
struct CountRun {
    CountColumns columns;
    std::size_t size;
};

}  // namespace

CountRunsUnion merge_count_runs(const double* keys, const int64_t* rows, const int64_t* known,
                                const int64_t* ones, const int64_t* ends, std::size_t n_runs) {
    std::size_t total = 0;
    for (std::size_t r = 0; r < n_runs; ++r) {
        if (ends[r] < 0 || static_cast<std::size_t>(ends[r]) < total) {
            throw std::invalid_argument("merge_count_runs: run ends must not decrease");
        }
        total = static_cast<std::size_t>(ends[r]);
    }
    // The keys in the order of the doubles; the counts are read where they are.
    Scratch<uint64_t> ordered = large_scratch<uint64_t>(total);
    // The form of zero (0.0 or -0.0) of the earliest run that holds one.
    double zero = 0.0;
    bool zero_seen = false;
    std::vector<CountRun> level;
    level.reserve(n_runs);
    std::size_t start = 0;
    for (std::size_t r = 0; r < n_runs; ++r) {
        const auto end = static_cast<std::size_t>(ends[r]);
        for (std::size_t i = start; i < end; ++i) {
            const uint64_t key = std::isnan(keys[i]) ? kNaNCountKey : ordered_key(keys[i]);
            if (i > start && ordered[i - 1] >= key) {
                throw std::invalid_argument("merge_count_runs: run " + std::to_string(r) +
                                            " is not ascending and distinct at entry " +
                                            std::to_string(i));
            }
            if (keys[i] == 0.0 && !zero_seen) {
                zero = keys[i];
                zero_seen = true;
            }
            ordered[i] = key;
        }
        if (end > start) {
            // Read only: the merges write to the scratch room.
            level.push_back(
                CountRun{{ordered.get() + start, const_cast<int64_t*>(rows + start),
                          const_cast<int64_t*>(known + start), const_cast<int64_t*>(ones + start)},
                         end - start});
        }
        start = end;
    }
    // Neighbouring runs merged two by two, level by level between two rooms,
    // each merge written where its first run starts: every entry passes
    // through log2(n_runs) merges, and no merge writes over a run it reads
    // or one still to be read.
    CountRunsUnion out;
    if (level.empty()) return out;
    // The last merge writes the counts where they are returned (room for
    // every entry, cut to the distinct keys after) and the keys to their own
    // room, converted to doubles after.
    std::size_t levels = 0;
    for (std::size_t runs = level.size(); runs > 1; runs = (runs + 1) / 2) ++levels;
    std::vector<CountScratch> rooms;
    for (std::size_t r = 0; r + 1 < levels && r < 2; ++r) rooms.emplace_back(total);
    Scratch<uint64_t> last_keys = large_scratch<uint64_t>(levels > 0 ? total : 0);
    if (levels > 0) {
        out.rows = large_vector<int64_t>(total);
        out.known = large_vector<int64_t>(total);
        out.ones = large_vector<int64_t>(total);
    }
    std::size_t room = 0;
    while (level.size() > 1) {
        const bool last = level.size() == 2;
        std::vector<CountRun> next;
        next.reserve((level.size() + 1) / 2);
        std::size_t offset = 0;
        for (std::size_t r = 0; r < level.size(); r += 2) {
            const CountColumns to = last ? CountColumns{last_keys.get(), out.rows.data(),
                                                        out.known.data(), out.ones.data()}
                                         : rooms[room].at(offset);
            std::size_t size = level[r].size;
            if (r + 1 < level.size()) {
                size = summed_union(level[r].columns, level[r].size, level[r + 1].columns,
                                    level[r + 1].size, to);
                offset += level[r].size + level[r + 1].size;
            } else {
                summed_union(level[r].columns, size, level[r].columns, 0, to);
                offset += size;
            }
            next.push_back(CountRun{to, size});
        }
        level.swap(next);
        room = 1 - room;
    }
    const CountRun& merged = level.front();
    const std::size_t m = merged.size;
    out.keys.resize(m);
    for (std::size_t i = 0; i < m; ++i) {
        const uint64_t key = merged.columns.key[i];
        const double x =
            key == kNaNCountKey ? std::numeric_limits<double>::quiet_NaN() : value_of(key);
        out.keys[i] = x == 0.0 ? zero : x;
    }
    if (levels == 0) {
        // One run: its counts as they are.
        out.rows.assign(merged.columns.rows, merged.columns.rows + m);
        out.known.assign(merged.columns.known, merged.columns.known + m);
        out.ones.assign(merged.columns.ones, merged.columns.ones + m);
    }
    for (std::vector<int64_t>* counts : {&out.rows, &out.known, &out.ones}) {
        counts->resize(m);
        // Runs of mostly equal keys leave room for many more entries: given back.
        if (2 * m < counts->capacity()) counts->shrink_to_fit();
    }
    return out;
}

KeyRunsUnion merge_key_runs(const double* keys, const int64_t* ends, std::size_t n_runs) {
    std::vector<std::vector<uint64_t>> level;
    level.reserve(n_runs);
    std::size_t start = 0;
    // The form of zero (0.0 or -0.0) of the earliest run that holds one.
    double zero = 0.0;
    bool zero_seen = false;
    for (std::size_t r = 0; r < n_runs; ++r) {
        const auto end = static_cast<std::size_t>(ends[r]);
        if (ends[r] < 0 || end < start) {
            throw std::invalid_argument("merge_key_runs: run ends must not decrease");
        }
        std::vector<uint64_t> run(end - start);
        for (std::size_t i = start; i < end; ++i) {
            run[i - start] = ordered_key(keys[i]);
            if (i > start && run[i - start - 1] >= run[i - start]) {
                throw std::invalid_argument("merge_key_runs: run " + std::to_string(r) +
                                            " is not ascending and distinct at entry " +
                                            std::to_string(i));
            }
            if (keys[i] == 0.0 && !zero_seen) {
                zero = keys[i];
                zero_seen = true;
            }
        }
        level.push_back(std::move(run));
        start = end;
    }
    // Neighbouring runs merged two by two, so that each key passes through
    // log2(n_runs) merges.
    while (level.size() > 1) {
        std::vector<std::vector<uint64_t>> next;
        next.reserve((level.size() + 1) / 2);
        for (std::size_t r = 0; r + 1 < level.size(); r += 2) {
            next.push_back(union_of(level[r], level[r + 1]));
        }
        if (level.size() % 2 == 1) next.push_back(std::move(level.back()));
        level.swap(next);
    }
    KeyRunsUnion out;
    std::vector<uint64_t> merged;
    if (!level.empty()) merged = std::move(level.front());
    out.keys.reserve(merged.size());
    for (const uint64_t key : merged) {
        const double x = value_of(key);
        out.keys.push_back(x == 0.0 ? zero : x);
    }
    // Each run finds its keys in the union from where its last key was, by
    // steps that double: a small run among many costs its own size times the
    // logarithm of the gaps, not a walk over the whole union.
    out.place.resize(start);
    std::size_t run_start = 0;
    for (std::size_t r = 0; r < n_runs; ++r) {
        const auto end = static_cast<std::size_t>(ends[r]);
        std::size_t at = 0;
        for (std::size_t i = run_start; i < end; ++i) {
            const uint64_t key = ordered_key(keys[i]);
            std::size_t past = at;
            for (std::size_t step = 1; past < merged.size() && merged[past] < key; step *= 2) {
                at = past + 1;
                past += step;
            }
            const auto first = merged.begin() + static_cast<std::ptrdiff_t>(at);
            const auto last =
                merged.begin() + static_cast<std::ptrdiff_t>(std::min(past, merged.size()));
            at = static_cast<std::size_t>(std::lower_bound(first, last, key) - merged.begin());
            out.place[i] = static_cast<int64_t>(at);
        }
        run_start = end;
    }
    return out;
}

}  // namespace tessaline
