// Lorenz curve of a score against a binary target: the records are walked in
// ascending score order and, after each distinct score, the shares of all
// non-events and of all events seen so far make one point. The area under the
// curve gives the AUC (ties counting one half) and the Gini coefficient.
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "sort_rows.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

LorenzCurve lorenz_curve(const double* x, const int* y, std::size_t n) {
    // Records with a NaN score are dropped before their label is looked at.
    std::vector<LabelledRow> rows;
    rows.reserve(n);
    std::size_t n0 = 0;
    std::size_t n1 = 0;
    // -0.0 and 0.0 are one score; the point they close carries whichever of
    // the two came first in the input, as a stable sort by score alone would.
    bool seen_zero = false;
    double first_zero = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double xi = x[i];
        if (std::isnan(xi)) continue;
        // Taken as unsigned, a negative label is a large number and fails too.
        const unsigned label = static_cast<unsigned>(y[i]);
        if (label > 1u) throw std::invalid_argument("lorenz_curve: y debe contener solo 0 y 1");
        if (xi == 0.0 && !seen_zero) {
            seen_zero = true;
            first_zero = xi;
        }
        rows.push_back(LabelledRow{xi, static_cast<int32_t>(label)});
        n1 += label;
    }
    n0 = rows.size() - n1;
    if (n0 == 0 || n1 == 0) throw std::invalid_argument("lorenz_curve: se necesitan ambas clases");

    // Ties are ordered by label as well; that cannot change the curve, since a
    // group of equal scores is only ever taken as a whole.
    sort_rows_by_value_then_label(rows);

    const std::size_t m = rows.size();
    std::size_t distinct = 1;
    for (std::size_t i = 1; i < m; ++i) distinct += (rows[i].x != rows[i - 1].x);

    LorenzCurve curve;
    curve.points.reserve(distinct);
    const double total0 = static_cast<double>(n0);
    const double total1 = static_cast<double>(n1);
    std::size_t c0 = 0;
    std::size_t c1 = 0;
    double f0_prev = 0.0;
    double f1_prev = 0.0;
    double area = 0.0;
    std::size_t i = 0;
    while (i < m) {
        const double group_x = rows[i].x;
        std::size_t ones = 0;
        std::size_t j = i;
        for (; j < m && rows[j].x == group_x; ++j) ones += static_cast<std::size_t>(rows[j].label);
        c1 += ones;
        c0 += (j - i) - ones;
        i = j;

        const double f0 = static_cast<double>(c0) / total0;
        const double f1 = static_cast<double>(c1) / total1;
        curve.points.push_back(LorenzPoint{group_x == 0.0 ? first_zero : group_x, f0, f1});
        // Trapezoid under the segment from the previous point (the origin for
        // the first one); a tied group with both classes is one diagonal step.
        area += ((f0 - f0_prev) * (f1_prev + f1)) * 0.5;
        f0_prev = f0;
        f1_prev = f1;
    }
    curve.auc = 1.0 - area;
    curve.gini = (curve.auc + curve.auc) - 1.0;
    return curve;
}

}  // namespace tessaline
