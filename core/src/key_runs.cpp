// The keys of counts kept by batch, merged run by run: each batch's keys
// are already ascending, so merging them costs passes, not a sort.
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// NaN after every number, as the runs order it.
bool key_below(double a, double b) {
    if (std::isnan(a)) return false;
    return std::isnan(b) || a < b;
}

// The distinct keys of two ascending runs of distinct keys; a key of both
// keeps the form (0.0 or -0.0) it has in `a`, the earlier run.
std::vector<double> union_of(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> out;
    out.reserve(a.size() + b.size());
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (key_below(b[j], a[i])) {
            out.push_back(b[j++]);
        } else {
            if (!key_below(a[i], b[j])) ++j;  // the same key in both
            out.push_back(a[i++]);
        }
    }
    out.insert(out.end(), a.begin() + static_cast<std::ptrdiff_t>(i), a.end());
    out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(j), b.end());
    return out;
}

}  // namespace

KeyRunsUnion merge_key_runs(const double* keys, const int64_t* ends, std::size_t n_runs) {
    std::vector<std::vector<double>> level;
    level.reserve(n_runs);
    std::size_t start = 0;
    for (std::size_t r = 0; r < n_runs; ++r) {
        const auto end = static_cast<std::size_t>(ends[r]);
        if (ends[r] < 0 || end < start) {
            throw std::invalid_argument("merge_key_runs: run ends must not decrease");
        }
        for (std::size_t i = start + 1; i < end; ++i) {
            if (!key_below(keys[i - 1], keys[i])) {
                throw std::invalid_argument("merge_key_runs: run " + std::to_string(r) +
                                            " is not ascending and distinct at entry " +
                                            std::to_string(i));
            }
        }
        level.emplace_back(keys + start, keys + end);
        start = end;
    }
    // Neighbouring runs merged two by two, the earlier one first, so that each
    // key passes through a merge once per level: log2(n_runs) passes.
    while (level.size() > 1) {
        std::vector<std::vector<double>> next;
        next.reserve((level.size() + 1) / 2);
        for (std::size_t r = 0; r + 1 < level.size(); r += 2) {
            next.push_back(union_of(level[r], level[r + 1]));
        }
        if (level.size() % 2 == 1) next.push_back(std::move(level.back()));
        level.swap(next);
    }
    KeyRunsUnion out;
    if (!level.empty()) out.keys = std::move(level.front());
    // Each run walks the union alongside: both ascend.
    out.place.resize(start);
    std::size_t run_start = 0;
    for (std::size_t r = 0; r < n_runs; ++r) {
        const auto end = static_cast<std::size_t>(ends[r]);
        std::size_t at = 0;
        for (std::size_t i = run_start; i < end; ++i) {
            while (key_below(out.keys[at], keys[i])) ++at;
            out.place[i] = static_cast<int64_t>(at);
        }
        run_start = end;
    }
    return out;
}

}  // namespace tessaline
