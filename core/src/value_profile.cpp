// The profile of a column read from its rows counted by distinct value: the
// order statistics, the mean and standard deviation of its finite values,
// and the values held by the most rows. The same counts give the same bits
// however they were taken (a pass over the rows, groups of an engine).
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "exact_sum.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool finite(double v) {
    return std::fabs(v) <= std::numeric_limits<double>::max();
}

}  // namespace

std::vector<std::size_t> top_positions(const int64_t* count, std::size_t n, std::size_t k) {
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    const std::size_t kept = std::min(k, n);
    // More rows first; among equal rows the earlier position (the smaller
    // value, or the category first by name), so that ties never depend on
    // the order in which the counts were taken.
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(kept), order.end(),
                      [count](std::size_t a, std::size_t b) {
                          return count[a] != count[b] ? count[a] > count[b] : a < b;
                      });
    order.resize(kept);
    return order;
}

ValueProfile value_profile(const double* value, const int64_t* count, std::size_t n,
                           const std::vector<double>& percentiles, std::size_t top) {
    ValueCounts finite_counts;
    for (std::size_t j = 0; j < n; ++j) {
        if (std::isnan(value[j]) || (j > 0 && !(value[j - 1] < value[j]))) {
            throw std::invalid_argument(
                "value_profile: the values must be ascending, distinct and not NaN");
        }
        if (count[j] < 0) throw std::invalid_argument("value_profile: a count is negative");
        if (!finite(value[j]) || count[j] == 0) continue;
        finite_counts.value.push_back(value[j]);
        finite_counts.c0.push_back(count[j]);
        finite_counts.c1.push_back(0);
    }
    ValueProfile p;
    for (const int64_t c : finite_counts.c0) p.finite_rows += c;
    p.top = top_positions(count, n, top);
    if (p.finite_rows == 0) {
        p.quantiles.assign(percentiles.size(), kNaN);
        p.mean = p.std = kNaN;
        return p;
    }
    for (const double q : percentiles)
        p.quantiles.push_back(percentile_from_counts(finite_counts, q));
    // The mean is the exact sum of value times rows, rounded once, over the
    // rows; the deviations from that mean are squared and summed exactly.
    ExactSum sum;
    for (std::size_t j = 0; j < finite_counts.value.size(); ++j) {
        sum.add_product(finite_counts.value[j], static_cast<double>(finite_counts.c0[j]));
    }
    const auto rows = static_cast<double>(p.finite_rows);
    p.mean = sum.value() / rows;
    if (p.finite_rows < 2) {
        p.std = kNaN;
        return p;
    }
    ExactSum squares;
    for (std::size_t j = 0; j < finite_counts.value.size(); ++j) {
        squares.add_weighted_square(static_cast<double>(finite_counts.c0[j]),
                                    finite_counts.value[j] - p.mean);
    }
    p.std = std::sqrt(squares.value() / (rows - 1.0));
    return p;
}

}  // namespace tessaline
