// Soft membership of values in ordered representatives, and its aggregation
// against one number per column (piecewise-linear interpolation of those
// numbers at each value, optionally standardised).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace tessaline {

void membership_matrix_into(const double* x, std::size_t n, const double* representatives,
                            std::size_t k,
                            const std::function<double*(std::size_t, std::size_t)>& allocate) {
    if (k == 0) throw std::invalid_argument("membership: faltan representantes");
    // Read once: the checks below and the search over the rows must see the
    // same representatives, whatever another thread writes meanwhile.
    const std::vector<double> r(representatives, representatives + k);
    // A NaN among several representatives fails the comparison as well.
    for (std::size_t i = 1; i < k; ++i) {
        if (!(r[i] > r[i - 1])) {
            throw std::invalid_argument("membership: representantes deben ser crecientes y únicos");
        }
    }
    // An infinite representative among several leaves the values next to it
    // without meaningful weights: from -inf they are inf / inf, NaN rows that
    // do not sum to 1; toward +inf all the weight stays on the finite one. A
    // single representative is never divided by, so any value stays accepted.
    for (std::size_t i = 0; k > 1 && i < k; ++i) {
        if (std::isinf(r[i])) {
            throw std::invalid_argument("membership: representantes deben ser finitos");
        }
    }

    // One row per value: k weights, then the missing-value column.
    const std::size_t width = k + 1;
    // n * (k + 1) must not wrap around: a wrapped size would allocate too
    // little and the rows below would be written past its end.
    if (n != 0 && width > std::numeric_limits<std::size_t>::max() / n) throw std::bad_alloc();
    double* const m = allocate(n, width);

    const double lowest = r[0];
    const double highest = r[k - 1];
    for (std::size_t i = 0; i < n; ++i) {
        // Every slot of the row is written once: zeros, then its weights.
        double* row = m + i * width;
        std::fill(row, row + width, 0.0);
        const double v = x[i];
        if (std::isnan(v)) {
            row[k] = 1.0;
        } else if (k == 1 || v <= lowest) {
            row[0] = 1.0;
        } else if (v >= highest) {
            row[k - 1] = 1.0;
        } else {
            // First representative strictly above v, so 1 <= j <= k - 1 here and
            // a value equal to an interior representative gets all its weight.
            const std::size_t j =
                static_cast<std::size_t>(std::upper_bound(r.begin(), r.end(), v) - r.begin());
            const double t = (v - r[j - 1]) / (r[j] - r[j - 1]);
            row[j - 1] = 1.0 - t;
            row[j] = t;
        }
    }
}

std::vector<double> membership_matrix(const double* x, std::size_t n, const double* representatives,
                                      std::size_t k) {
    std::vector<double> m;
    membership_matrix_into(x, n, representatives, k, [&](std::size_t rows, std::size_t width) {
        m.resize(rows * width);
        return m.data();
    });
    return m;
}

std::vector<double> aggregate_membership(const double* membership, std::size_t n, std::size_t k,
                                         const double* values, bool standardize) {
    if (k == 0) throw std::invalid_argument("aggregate_membership: k debe ser positivo");
    std::vector<double> s(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double* row = membership + i * k;
        double sum = 0.0;
        for (std::size_t j = 0; j < k; ++j) sum += row[j] * values[j];
        s[i] = sum;
    }
    if (!standardize || n < 2) return s;

    const double count = static_cast<double>(n);
    double total = 0.0;
    for (double v : s) total += v;
    const double mean = total / count;
    double squares = 0.0;
    for (double v : s) {
        const double d = v - mean;
        squares += d * d;
    }
    // Sample standard deviation; zero or NaN leaves the aggregates as they are.
    const double sd = std::sqrt(squares / (count - 1.0));
    if (sd > 0.0) {
        for (double& v : s) v = (v - mean) / sd;
    }
    return s;
}

}  // namespace tessaline
