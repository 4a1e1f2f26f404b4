// Preprocessing shared by the supervised pipelines: classify each row, turn the
// target into 0/1 labels and sort the kept rows by x.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "numeric.hpp"
#include "sort_rows.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// The percentile-th percentile of values (linear interpolation between the
// neighbouring order statistics at position (m - 1) * percentile / 100),
// found by selection on the caller's scratch copy rather than a full sort.
double percentile_by_selection(std::vector<double>& values, double percentile) {
    if (!(percentile >= 0.0 && percentile <= 100.0)) {
        throw std::invalid_argument("preprocess_data: percentile debe estar entre 0 y 100");
    }
    const std::size_t m = values.size();
    const double pos = (static_cast<double>(m - 1) * percentile) / 100.0;
    const std::size_t k = static_cast<std::size_t>(std::floor(pos));
    const double f = pos - static_cast<double>(k);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k),
                     values.end());
    const double a_k = values[k];
    if (f == 0.0 || k + 1 == m) return a_k;
    // After the selection every element past k is >= a[k]; the smallest of
    // them is the (k+1)-th order statistic.
    const double a_k1 = *std::min_element(values.begin() + static_cast<std::ptrdiff_t>(k) + 1,
                                          values.end());
    return a_k + f * (a_k1 - a_k);
}

// Truncation toward zero of a 32-bit conversion gives 0 or 1 exactly when the
// truncated value is 0 or 1; testing the truncated double avoids the undefined
// conversion of values outside the int32 range.
int truncated_label(double y) {
    const double t = std::trunc(y);
    if (t == 0.0) return 0;
    if (t == 1.0) return 1;
    return -1;
}

}  // namespace

PreprocessResult preprocess_data(const double* x, const double* y, std::size_t n,
                                 std::optional<double> value, double percentile) {
    PreprocessResult r;
    r.n_input = n;
    if (n == 0) return r;

    std::vector<LabelledRow> rows;
    rows.reserve(n);
    std::vector<double> work_y;  // y of the kept rows, in input order
    work_y.reserve(n);
    std::vector<double> missing_x_y;  // y of the rows whose x is NaN

    // One pass classifies every row; x is tested first.
    for (std::size_t i = 0; i < n; ++i) {
        const double xi = x[i];
        const double yi = y[i];
        if (is_finite(xi)) {
            if (is_finite(yi)) {
                rows.push_back(LabelledRow{xi, 0});
                work_y.push_back(yi);
            } else if (std::isnan(yi)) {
                ++r.n_missing_y;
            } else {
                ++r.n_non_finite;
            }
        } else if (std::isnan(xi)) {
            if (is_finite(yi)) {
                ++r.n_missing_x;
                missing_x_y.push_back(yi);
            } else if (std::isnan(yi)) {
                ++r.n_missing_both;
            } else {
                ++r.n_non_finite;
            }
        } else {
            ++r.n_non_finite;
        }
    }

    // -0.0 == 0.0, so a negative zero counts as a binary label.
    const bool binary = std::all_of(work_y.begin(), work_y.end(),
                                    [](double v) { return v == 0.0 || v == 1.0; });
    if (binary) {
        r.target_was_binary = true;
        r.threshold = 0.0;
        for (double v : missing_x_y) {
            const int label = truncated_label(v);
            if (label < 0) continue;
            ++r.missing_count;
            if (label == 0) {
                ++r.missing_c0;
            } else {
                ++r.missing_c1;
            }
        }
        for (std::size_t i = 0; i < rows.size(); ++i) {
            rows[i].label = work_y[i] == 1.0 ? 1 : 0;
        }
    } else {
        r.target_was_binary = false;
        double threshold;
        if (value.has_value()) {
            threshold = *value;
        } else {
            std::vector<double> scratch(work_y);
            threshold = percentile_by_selection(scratch, percentile);
        }
        r.threshold = threshold;
        for (double v : missing_x_y) {
            ++r.missing_count;
            if (v > threshold) {
                ++r.missing_c1;
            } else {
                ++r.missing_c0;
            }
        }
        for (std::size_t i = 0; i < rows.size(); ++i) {
            rows[i].label = work_y[i] > threshold ? 1 : 0;
        }
    }
    work_y = std::vector<double>();

    sort_rows_by_value_then_label(rows);

    r.x.resize(rows.size());
    r.y.resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        r.x[i] = rows[i].x;
        r.y[i] = rows[i].label;
    }
    r.n_used = rows.size();
    return r;
}

}  // namespace tessaline
