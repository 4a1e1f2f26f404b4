// Bin of a value among ascending cut points, shared by the binning functions
// and the distribution comparison: the number of cut points strictly below
// the value, so a value equal to a cut point falls in the lower bin.
#ifndef TESSALINE_BIN_SEARCH_HPP
#define TESSALINE_BIN_SEARCH_HPP

#include <cstddef>

namespace tessaline {

// Number of cut points strictly below v (0 for NaN), by a lower-bound search
// over the m ascending cuts. The loop runs a number of times that depends
// only on m and each step is a conditional move, so the data never steer a
// branch.
inline std::size_t count_below(const double* cuts, std::size_t m, double v) {
    if (m == 0) return 0;
    const double* base = cuts;
    std::size_t length = m;
    while (length > 1) {
        const std::size_t half = length / 2;
        base = (base[half] < v) ? base + half : base;
        length -= half;
    }
    return static_cast<std::size_t>(base - cuts) + static_cast<std::size_t>(*base < v);
}

// The bin of every value of x[0..n), in order: sink(i, count_below(cuts, m,
// x[i])). Searches run in blocks of sixteen values that take each step
// together, so the sixteen independent chains of loads and conditional moves
// overlap instead of each waiting for the one before.
constexpr std::size_t kSearchBlock = 16;

template <typename Sink>
void for_each_bin(const double* x, std::size_t n, const double* cuts, std::size_t m, Sink&& sink) {
    std::size_t i = 0;
    if (m > 1) {
        for (; i + kSearchBlock <= n; i += kSearchBlock) {
            const double* base[kSearchBlock];
            double v[kSearchBlock];
            for (std::size_t j = 0; j < kSearchBlock; ++j) {
                base[j] = cuts;
                v[j] = x[i + j];
            }
            for (std::size_t length = m; length > 1;) {
                const std::size_t half = length / 2;
                for (std::size_t j = 0; j < kSearchBlock; ++j) {
                    base[j] = (base[j][half] < v[j]) ? base[j] + half : base[j];
                }
                length -= half;
            }
            for (std::size_t j = 0; j < kSearchBlock; ++j) {
                sink(i + j, static_cast<std::size_t>(base[j] - cuts) +
                                static_cast<std::size_t>(*base[j] < v[j]));
            }
        }
    }
    for (; i < n; ++i) sink(i, count_below(cuts, m, x[i]));
}

}  // namespace tessaline

#endif  // TESSALINE_BIN_SEARCH_HPP
