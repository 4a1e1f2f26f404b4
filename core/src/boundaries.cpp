// The boundary table: candidate cut points with the cumulative class counts of
// every record before them. Built once per search; every later count between
// two cuts is the difference of two rows.
#include <vector>

#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// The cut between two adjacent distinct values lower < upper: their midpoint,
// unless that midpoint fails to separate them. For two large values the sum
// overflows (the halves are added instead), and for two adjacent doubles the
// midpoint can round onto upper (the cut is then lower itself, which still
// keeps lower on the left of a cut closed on the right). So for every
// ascending pair lower <= cut < upper, and the cut is finite when both values
// are. A pair that is not ascending, which only unchecked sorted input can
// hold, keeps the plain midpoint.
double cut_between(double lower, double upper) {
    double cut = (lower + upper) * 0.5;
    if (!(lower < upper)) return cut;
    if (!is_finite(cut) && is_finite(lower) && is_finite(upper)) {
        cut = lower * 0.5 + upper * 0.5;
    }
    if (cut >= upper) cut = lower;
    return cut;
}

}  // namespace

std::vector<Boundary> compute_boundaries(const SortedView& view) {
    std::vector<Boundary> table;
    const std::size_t n = view.n;
    if (n == 0) return table;
    const double* x = view.x;
    const int32_t* y = view.y;

    table.reserve(n);
    table.push_back(Boundary{x[0], 0, 0});
    // Class 0 is label 0, every other label is class 1; the change test below
    // compares the raw labels.
    int64_t zeros = y[0] == 0 ? 1 : 0;
    int64_t ones = 1 - zeros;
    for (std::size_t i = 1; i < n; ++i) {
        // != on doubles, so a NaN on either side counts as a change of value.
        if (x[i] != x[i - 1] && y[i] != y[i - 1]) {
            // The running counts cover records 0 .. i-1 only.
            table.push_back(Boundary{cut_between(x[i - 1], x[i]), zeros, ones});
        }
        if (y[i] == 0) {
            ++zeros;
        } else {
            ++ones;
        }
    }
    table.push_back(Boundary{x[n - 1], zeros, ones});
    return table;
}

std::vector<Boundary> compute_boundaries_from_raw(const double* x, const double* y,
                                                  std::size_t n, std::optional<double> value,
                                                  double percentile) {
    const PreprocessResult prepared = preprocess_data(x, y, n, value, percentile);
    const SortedView view{prepared.x.data(), prepared.y.data(), prepared.x.size()};
    return compute_boundaries(view);
}

}  // namespace tessaline
