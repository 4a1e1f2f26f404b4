// Stable ordering of labelled rows, shared by preprocessing and the Lorenz curve.
#ifndef TESSALINE_SORT_ROWS_HPP
#define TESSALINE_SORT_ROWS_HPP

#include <cstdint>
#include <vector>

namespace tessaline {

struct LabelledRow {
    double x;
    int32_t label;
};

// Sorts stably by x ascending, rows of equal x by label ascending. -0.0 and 0.0
// are equal values and keep their input order. x must not be NaN.
void sort_rows_by_value_then_label(std::vector<LabelledRow>& rows);

}  // namespace tessaline

#endif  // TESSALINE_SORT_ROWS_HPP
