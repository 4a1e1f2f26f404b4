// A 0/1 target read as class labels in one pass over its values, where the
// package would otherwise take four or five passes of NumPy (a NaN mask, a
// compare with each class, an int32 copy and a check of what it changed).
#include <cstddef>
#include <cstdint>

#include "vector_paths.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

namespace {

// The loops below compare four values at once where the processor has 256-bit
// vectors (TESSALINE_VECTOR_VARIANTS).
TESSALINE_VECTOR_BODY BinaryTargetRead read_values_plain(const double* y, std::size_t n) {
    // No branch on the data (the rows of a random target would mispredict
    // one in two): both answers are gathered over every row.
    std::size_t missing = 0;
    uint64_t other = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = y[i];
        missing += static_cast<std::size_t>(v != v);
        other |= static_cast<uint64_t>(!((v == 0.0) | (v == 1.0) | (v != v)));
    }
    return BinaryTargetRead{missing, other == 0};
}
TESSALINE_VECTOR_VARIANTS(BinaryTargetRead, read_values, (const double* y, std::size_t n), (y, n))

// 0.0 and 1.0 (and -0.0) as themselves, anything else as -1, with no branch
// on the value (a random target would mispredict one row in two).
inline int32_t label_of(double v) {
    const bool zero = v == 0.0;
    const bool one = v == 1.0;
    return static_cast<int32_t>(one) - static_cast<int32_t>(!(zero | one));
}

TESSALINE_VECTOR_BODY void labels_of_all_plain(const double* y, std::size_t n, int32_t* labels) {
    for (std::size_t i = 0; i < n; ++i) labels[i] = label_of(y[i]);
}
TESSALINE_VECTOR_VARIANTS(void, labels_of_all, (const double* y, std::size_t n, int32_t* labels),
                          (y, n, labels))

}  // namespace

BinaryTargetRead read_binary_target(const double* y, std::size_t n) {
    return read_values(y, n);
}

void binary_labels(const double* y, std::size_t n, int32_t* labels, bool* known) {
    if (known == nullptr) {
        labels_of_all(y, n, labels);
        return;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = y[i];
        known[i] = v == v;
        if (v == v) labels[kept++] = label_of(v);
    }
}

}  // namespace tessaline
