// Numeric helpers shared by the core sources (not part of the public header).
#ifndef TESSALINE_NUMERIC_HPP
#define TESSALINE_NUMERIC_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessaline {

// Finite means |v| is not above the largest finite double; NaN fails the test.
inline bool is_finite(double v) {
    return std::fabs(v) <= std::numeric_limits<double>::max();
}

// Sample quantile by linear interpolation at position (size - 1) * p between
// neighbouring order statistics of the ascending, non-empty vector v.
inline double linear_quantile(const std::vector<double>& v, double p) {
    if (!(p >= 0.0 && p <= 1.0)) {
        throw std::invalid_argument("binning: los cuantiles deben estar entre 0 y 1");
    }
    if (v.size() == 1) return v[0];
    const double pos = static_cast<double>(v.size() - 1) * p;
    const std::size_t lo = static_cast<std::size_t>(std::floor(pos));
    const std::size_t hi = static_cast<std::size_t>(std::ceil(pos));
    // (v[hi] - v[lo]) * (pos - lo) + v[lo], in exactly this order.
    return (v[hi] - v[lo]) * (pos - static_cast<double>(lo)) + v[lo];
}

// The finite values of x, ascending, duplicates kept.
inline std::vector<double> sorted_finite_values(const double* x, std::size_t n) {
    std::vector<double> s;
    s.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (is_finite(x[i])) s.push_back(x[i]);
    }
    if (s.empty()) throw std::invalid_argument("binning: x no contiene valores finitos");
    std::sort(s.begin(), s.end());
    return s;
}

// The cut between two adjacent distinct values lower < upper: their midpoint,
// unless that midpoint fails to separate them. For two large values the sum
// overflows (the halves are added instead), and for two adjacent doubles the
// midpoint can round onto upper (the cut is then lower itself, which still
// keeps lower on the left of a cut closed on the right). So for every
// ascending pair lower <= cut < upper, and the cut is finite when both values
// are. A pair that is not ascending, which only unchecked sorted input can
// hold, keeps the plain midpoint.
inline double cut_between(double lower, double upper) {
    double cut = (lower + upper) * 0.5;
    if (!(lower < upper)) return cut;
    if (!is_finite(cut) && is_finite(lower) && is_finite(upper)) {
        cut = lower * 0.5 + upper * 0.5;
    }
    if (cut >= upper) cut = lower;
    return cut;
}

// a + b for counts of rows, refused when the sum leaves int64: counts summed
// over many parts would otherwise wrap to a negative total and their rows
// would vanish from every result. Either operand may be a std::size_t.
// The refusal is kept out of line, so that the sum itself inlines into the
// loops over every value that call it.
[[noreturn]] __attribute__((noinline, cold)) inline void refuse_count_overflow(const char* where) {
    throw std::invalid_argument(std::string(where) +
                                ": counts add up to more rows than 9223372036854775807");
}

template <typename A, typename B>
inline int64_t add_counts(A a, B b, const char* where) {
    int64_t sum;
    if (__builtin_expect(__builtin_add_overflow(a, b, &sum), 0)) refuse_count_overflow(where);
    return sum;
}

}  // namespace tessaline

#endif  // TESSALINE_NUMERIC_HPP
