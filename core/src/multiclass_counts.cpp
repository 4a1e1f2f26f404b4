// Rows of a multiclass target counted per class by distinct value, and the
// rows of each class in the intervals of cut points.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "sort_rows.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

ClassValueCounts count_class_values(const double* x, const int32_t* labels, std::size_t n,
                                    std::size_t k) {
    if (k == 0) throw std::invalid_argument("count_class_values: no class");
    if (n > 0 && (x == nullptr || labels == nullptr))
        throw std::invalid_argument("count_class_values: missing rows");
    ClassValueCounts out;
    out.k = k;
    out.missing.assign(k, 0);
    // Each class's keys sorted on their own, then walked together: rows of
    // one class with one key are alike, so no payload travels with a key.
    std::vector<std::vector<uint64_t>> keys(k);
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t c = labels[i];
        if (c == -1) {
            ++out.n_missing_target;
            continue;
        }
        if (c < 0 || static_cast<std::size_t>(c) >= k) {
            throw std::invalid_argument("count_class_values: row " + std::to_string(i) +
                                        " has a class code outside [0, k)");
        }
        if (std::isnan(x[i])) {
            ++out.missing[c];
        } else {
            keys[c].push_back(ordered_key(x[i]));
        }
    }
    for (auto& v : keys) std::sort(v.begin(), v.end());
    std::vector<std::size_t> at(k, 0);
    for (;;) {
        bool any = false;
        uint64_t least = 0;
        for (std::size_t c = 0; c < k; ++c) {
            if (at[c] < keys[c].size() && (!any || keys[c][at[c]] < least)) {
                least = keys[c][at[c]];
                any = true;
            }
        }
        if (!any) break;
        out.value.push_back(value_of_key(least));
        for (std::size_t c = 0; c < k; ++c) {
            std::size_t j = at[c];
            while (j < keys[c].size() && keys[c][j] == least) ++j;
            out.counts.push_back(static_cast<int64_t>(j - at[c]));
            at[c] = j;
        }
    }
    return out;
}

std::vector<int64_t> class_interval_counts(const double* value, const int64_t* counts,
                                           std::size_t m, std::size_t k,
                                           const std::vector<double>& splits) {
    for (std::size_t i = 0; i < splits.size(); ++i) {
        if (std::isnan(splits[i]) || (i > 0 && !(splits[i - 1] < splits[i])))
            throw std::invalid_argument("class_interval_counts: cut points must ascend");
    }
    std::vector<int64_t> out((splits.size() + 1) * k, 0);
    std::size_t interval = 0;
    for (std::size_t i = 0; i < m; ++i) {
        if (i > 0 && !(value[i - 1] < value[i]))
            throw std::invalid_argument("class_interval_counts: values must ascend");
        while (interval < splits.size() && value[i] > splits[interval]) ++interval;
        for (std::size_t c = 0; c < k; ++c) {
            if (counts[i * k + c] < 0)
                throw std::invalid_argument("class_interval_counts: counts must not be negative");
            out[interval * k + c] += counts[i * k + c];
        }
    }
    return out;
}

}  // namespace tessaline
