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

#include "count_runs.hpp"
#include "large_buffer.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

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

double checked_runs_zero(const std::vector<CountRun>& runs) {
    double zero = 0.0;
    bool zero_seen = false;
    std::size_t total = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const double* x = runs[r].keys;
        for (std::size_t i = 0; i < runs[r].size; ++i) {
            // After a number, a larger one or NaN; nothing after NaN.
            if (i > 0 && (std::isnan(x[i - 1]) || !(x[i - 1] < x[i] || std::isnan(x[i])))) {
                throw std::invalid_argument("merge_count_runs: run " + std::to_string(r) +
                                            " is not ascending and distinct at entry " +
                                            std::to_string(total + i));
            }
            if (x[i] == 0.0 && !zero_seen) {
                zero = x[i];
                zero_seen = true;
            }
        }
        total += runs[r].size;
    }
    return zero;
}

CountRunsUnion merge_count_runs(const double* keys, const int64_t* rows, const int64_t* known,
                                const int64_t* ones, const int64_t* ends, std::size_t n_runs) {
    std::vector<CountRun> runs;
    runs.reserve(n_runs);
    std::size_t start = 0;
    for (std::size_t r = 0; r < n_runs; ++r) {
        if (ends[r] < 0 || static_cast<std::size_t>(ends[r]) < start) {
            throw std::invalid_argument("merge_count_runs: run ends must not decrease");
        }
        const auto end = static_cast<std::size_t>(ends[r]);
        runs.push_back(
            CountRun{keys + start, rows + start, known + start, ones + start, end - start});
        start = end;
    }
    return merge_count_runs(runs);
}

std::size_t merge_count_runs_into(const std::vector<CountRun>& runs, double* keys, int64_t* rows,
                                  int64_t* known, int64_t* ones) {
    const double zero = checked_runs_zero(runs);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // The entry written last: one before the first (wrapping) until then;
    // its counts so far held here, written again as each equal key adds to
    // them, so that the room is only written, never read.
    std::size_t o = static_cast<std::size_t>(0) - 1;
    uint64_t last = kDoneKey;
    int64_t sums[3] = {0, 0, 0};
    visit_runs_in_order(runs, [&](uint64_t key, const CountRun& run, std::size_t i) {
        const int64_t kept = key == last ? -1 : 0;
        o += static_cast<std::size_t>(kept + 1);
        last = key;
        const double x = run.keys[i];
        keys[o] = x == 0.0 ? zero : key == kNaNCountKey ? nan : x;
        sums[0] = (sums[0] & kept) + run.rows[i];
        sums[1] = (sums[1] & kept) + run.known[i];
        sums[2] = (sums[2] & kept) + run.ones[i];
        rows[o] = sums[0];
        known[o] = sums[1];
        ones[o] = sums[2];
    });
    return o + 1;
}

CountRunsUnion merge_count_runs(const std::vector<CountRun>& runs) {
    std::size_t total = 0;
    for (const CountRun& run : runs) total += run.size;
    CountRunsUnion out;
    out.keys = large_vector<double>(total);
    out.rows = large_vector<int64_t>(total);
    out.known = large_vector<int64_t>(total);
    out.ones = large_vector<int64_t>(total);
    const std::size_t m = merge_count_runs_into(runs, out.keys.data(), out.rows.data(),
                                                out.known.data(), out.ones.data());
    out.keys.resize(m);
    for (std::vector<int64_t>* counts : {&out.rows, &out.known, &out.ones}) {
        counts->resize(m);
        // Runs of mostly equal keys leave room for many more entries: given back.
        if (2 * m < counts->capacity()) counts->shrink_to_fit();
    }
    if (2 * m < out.keys.capacity()) out.keys.shrink_to_fit();
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
