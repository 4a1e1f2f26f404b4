// The keys of counts kept by batch, merged run by run: each batch's keys
// are already ascending, so merging them costs passes, not a sort.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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

}  // namespace

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
