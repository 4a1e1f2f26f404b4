// Categorical variables: class counts per category code, the order of the
// categories by event rate, and the gather of a per-code table at transform.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <string>

#include "tessaline/tessaline.hpp"
#include "vector_paths.hpp"

namespace tessaline {

namespace {

void check_code(int64_t code, std::size_t k, const char* operation) {
    if (code < -1 || (code >= 0 && static_cast<uint64_t>(code) >= k)) {
        throw std::invalid_argument(std::string(operation) + ": code " + std::to_string(code) +
                                    " outside -1.." + std::to_string(k) + " - 1");
    }
}

// Whether every code is -1 or a code of k categories (a pass with no branch
// on the data).
// The 256-bit variant compares four codes at once (the baseline's 128-bit
// vectors have no unsigned compare of 64-bit lanes); a column of a few
// categories is otherwise checked more slowly than it is counted.
TESSALINE_VECTOR_BODY bool codes_sound_plain(const int64_t* codes, std::size_t n, std::size_t k) {
    uint64_t outside = 0;
    for (std::size_t i = 0; i < n; ++i) {
        outside |= static_cast<uint64_t>(static_cast<uint64_t>(codes[i]) + 1 > k);
    }
    return outside == 0;
}
TESSALINE_VECTOR_VARIANTS(bool, codes_sound, (const int64_t* codes, std::size_t n, std::size_t k),
                          (codes, n, k))

template <typename T>
void gather(const int64_t* codes, std::size_t n, const T* table, std::size_t k, T missing, T* out) {
    // Checked first, so that a bad code leaves `out` untouched; the rows are
    // read again for the message only when one is bad.
    if (!codes_sound(codes, n, k)) {
        for (std::size_t i = 0; i < n; ++i) check_code(codes[i], k, "lookup_codes");
    }
    if (k == 0) {
        std::fill(out, out + n, missing);  // every code is -1
        return;
    }
    // A missing row reads slot 0 and takes `missing`: selected, not branched.
    for (std::size_t i = 0; i < n; ++i) {
        const int64_t code = codes[i];
        const T found = table[code < 0 ? 0 : static_cast<std::size_t>(code)];
        out[i] = code < 0 ? missing : found;
    }
}

}  // namespace

namespace {

// The first row's error, if any, in the order the rows are read: its code
// outside the table, then its label neither 0, 1 nor NaN.
void check_categories(const int64_t* codes, const double* labels, std::size_t n, std::size_t k) {
    for (std::size_t i = 0; i < n; ++i) {
        check_code(codes[i], k, "count_categories");
        const double label = labels[i];
        if (!std::isnan(label) && label != 0.0 && label != 1.0) {
            throw std::invalid_argument("count_categories: labels must be 0, 1 or NaN");
        }
    }
}

}  // namespace

CategoryCounts count_categories(const int64_t* codes, const double* labels, std::size_t n,
                                std::size_t k) {
    // Passes that only ask whether every row is sound, with no branch on the
    // data; the rows are read again for the message when one is not.
    if (!codes_sound(codes, n, k) || !read_binary_target(labels, n).binary) {
        check_categories(codes, labels, n, k);
    }
    // Slot 2 * (code + 1) + event of one of four tables, taken in turn, so
    // that rows of one category in a row do not wait on each other's
    // increment; a row of missing target counts in the last slot.
    const std::size_t slots = 2 * (k + 1) + 1;
    std::vector<int64_t> tables(4 * slots, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const double label = labels[i];
        const std::size_t known_slot =
            2 * static_cast<std::size_t>(codes[i] + 1) + static_cast<std::size_t>(label == 1.0);
        const std::size_t slot = label != label ? slots - 1 : known_slot;
        ++tables[(i & 3) * slots + slot];
    }
    std::vector<int64_t> total(slots, 0);
    for (std::size_t t = 0; t < 4; ++t) {
        for (std::size_t j = 0; j < slots; ++j) total[j] += tables[t * slots + j];
    }
    CategoryCounts counts;
    counts.c0.resize(k);
    counts.c1.resize(k);
    counts.missing_c0 = total[0];
    counts.missing_c1 = total[1];
    for (std::size_t j = 0; j < k; ++j) {
        counts.c0[j] = total[2 * (j + 1)];
        counts.c1[j] = total[2 * (j + 1) + 1];
    }
    counts.n_missing_target = total[slots - 1];
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
