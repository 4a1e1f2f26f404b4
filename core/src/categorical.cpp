// Categorical variables: class counts per category code, the order of the
// categories by event rate, and the gather of a per-code table at transform.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <string>

#include "tessaline/tessaline.hpp"

namespace tessaline {

namespace {

void check_code(int64_t code, std::size_t k, const char* operation) {
    if (code < -1 || (code >= 0 && static_cast<uint64_t>(code) >= k)) {
        throw std::invalid_argument(std::string(operation) + ": code " + std::to_string(code) +
                                    " outside -1.." + std::to_string(k) + " - 1");
    }
}

template <typename T>
void gather(const int64_t* codes, std::size_t n, const T* table, std::size_t k, T missing, T* out) {
    // Checked first, so that a bad code leaves `out` untouched.
    for (std::size_t i = 0; i < n; ++i) check_code(codes[i], k, "lookup_codes");
    for (std::size_t i = 0; i < n; ++i) out[i] = codes[i] < 0 ? missing : table[codes[i]];
}

}  // namespace

CategoryCounts count_categories(const int64_t* codes, const double* labels, std::size_t n,
                                std::size_t k) {
    CategoryCounts counts;
    counts.c0.assign(k, 0);
    counts.c1.assign(k, 0);
    for (std::size_t i = 0; i < n; ++i) {
        check_code(codes[i], k, "count_categories");
        const double label = labels[i];
        if (std::isnan(label)) {
            ++counts.n_missing_target;
            continue;
        }
        if (label != 0.0 && label != 1.0) {
            throw std::invalid_argument("count_categories: labels must be 0, 1 or NaN");
        }
        const bool event = label == 1.0;
        if (codes[i] < 0) {
            ++(event ? counts.missing_c1 : counts.missing_c0);
        } else {
            ++(event ? counts.c1 : counts.c0)[static_cast<std::size_t>(codes[i])];
        }
    }
    return counts;
}

std::vector<int64_t> event_rate_order(const int64_t* c0, const int64_t* c1, std::size_t k) {
    std::vector<int64_t> order;
    order.reserve(k);
    for (std::size_t j = 0; j < k; ++j) {
        if (c0[j] < 0 || c1[j] < 0) {
            throw std::invalid_argument("event_rate_order: counts must not be negative");
        }
        if (c0[j] + c1[j] > 0) order.push_back(static_cast<int64_t>(j));
    }
    // a1 / (a0 + a1) < b1 / (b0 + b1) compared as a1 * (b0 + b1) < b1 * (a0 + a1),
    // in 128 bits, so equal rates tie exactly and the code decides.
    std::stable_sort(order.begin(), order.end(), [&](int64_t a, int64_t b) {
        const __int128 left = static_cast<__int128>(c1[a]) * (c0[b] + c1[b]);
        const __int128 right = static_cast<__int128>(c1[b]) * (c0[a] + c1[a]);
        return left < right;
    });
    return order;
}

void lookup_codes(const int64_t* codes, std::size_t n, const double* table, std::size_t k,
                  double missing, double* out) {
    gather(codes, n, table, k, missing, out);
}

void lookup_codes(const int64_t* codes, std::size_t n, const int64_t* table, std::size_t k,
                  int64_t missing, int64_t* out) {
    gather(codes, n, table, k, missing, out);
}

}  // namespace tessaline
