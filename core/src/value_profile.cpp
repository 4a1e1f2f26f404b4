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
    for (const double q : percentiles) {
        // NaN fails both comparisons.
        if (!(q >= 0.0 && q <= 100.0)) {
            throw std::invalid_argument("value_profile: percentiles must be between 0 and 100");
        }
    }
    for (std::size_t j = 0; j < n; ++j) {
        if (std::isnan(value[j]) || (j > 0 && !(value[j - 1] < value[j]))) {
            throw std::invalid_argument(
                "value_profile: the values must be ascending, distinct and not NaN");
        }
        if (count[j] < 0) throw std::invalid_argument("value_profile: a count is negative");
    }
    // The infinite values sort to the two ends.
    std::size_t first = 0;
    std::size_t last = n;
    while (first < last && !finite(value[first])) ++first;
    while (last > first && !finite(value[last - 1])) --last;
    // Rows up to and including each finite value: the k-th row (from 0) in
    // ascending order holds the first value whose running count exceeds k.
    std::vector<int64_t> running(last - first);
    int64_t size = 0;
    for (std::size_t j = first; j < last; ++j) running[j - first] = size += count[j];
    const auto value_at = [&](int64_t k) {
        const auto at = std::upper_bound(running.begin(), running.end(), k) - running.begin();
        return value[first + static_cast<std::size_t>(at)];
    };
    ValueProfile p;
    p.finite_rows = size;
    p.top = top_positions(count, n, top);
    if (size == 0) {
        p.quantiles.assign(percentiles.size(), kNaN);
        p.mean = p.std = kNaN;
        return p;
    }
    // Linear interpolation between the order statistics around position
    // (n - 1) * p / 100, in the order of operations of percentile_from_counts.
    for (const double percentile : percentiles) {
        const double q = percentile / 100.0;
        const double position = static_cast<double>(size - 1) * q;
        if (position >= static_cast<double>(size - 1)) {
            p.quantiles.push_back(value_at(size - 1));
            continue;
        }
        const auto below = static_cast<int64_t>(std::floor(position));
        const double gamma = position - static_cast<double>(below);
        const double a = value_at(below);
        const double b = value_at(below + 1);
        const double difference = b - a;
        p.quantiles.push_back(gamma >= 0.5 ? b - difference * (1.0 - gamma)
                                           : a + difference * gamma);
    }
    // The mean is the exact sum of value times rows, rounded once, over the
    // rows; the deviations from that mean are squared and summed exactly
    // (each product as its rounded value and its rounding error).
    RunningExactSum sum;
    const auto add_product = [](RunningExactSum& s, double a, double b) {
        const double product = a * b;
        s.add(product);
        s.add(std::fma(a, b, -product));
    };
    for (std::size_t j = first; j < last; ++j) {
        add_product(sum, value[j], static_cast<double>(count[j]));
    }
    const auto rows = static_cast<double>(size);
    p.mean = sum.value() / rows;
    if (size < 2) {
        p.std = kNaN;
        return p;
    }
    RunningExactSum squares;
    for (std::size_t j = first; j < last; ++j) {
        const double deviation = value[j] - p.mean;
        const double square = deviation * deviation;
        const auto rows_j = static_cast<double>(count[j]);
        add_product(squares, rows_j, square);
        add_product(squares, rows_j, std::fma(deviation, deviation, -square));
    }
    p.std = std::sqrt(squares.value() / (rows - 1.0));
    return p;
}

}  // namespace tessaline
