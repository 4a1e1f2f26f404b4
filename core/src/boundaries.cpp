// The boundary table: candidate cut points with the cumulative class counts of
// every record before them. Built once per search; every later count between
// two cuts is the difference of two rows.
#include <vector>

#include "large_buffer.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

std::vector<Boundary> compute_boundaries(const SortedView& view) {
    std::vector<Boundary> table;
    const std::size_t n = view.n;
    if (n == 0) return table;
    const double* x = view.x;
    const int32_t* y = view.y;

    reserve_large(table, n);
    table.push_back(Boundary{x[0], 0, 0});
    // Class 0 is label 0, every other label is class 1; the change test below
    // compares the raw labels. The running count of zeros covers records
    // 0 .. i-1 only, and the ones are the rest of those i records.
    //
    // The scan only notes where a cut goes: each record writes its position
    // and count into the next free slot of a small stage, which it keeps when
    // both x and the label change (!= on doubles, so a NaN on either side
    // counts as a change of value). Whether a record makes a cut is as good
    // as random on real data, so it never steers a branch; the cut points are
    // computed when the stage is emptied into the table.
    constexpr std::size_t kStage = 256;
    std::size_t stage_at[kStage];
    int64_t stage_zeros[kStage];
    std::size_t staged = 0;
    auto empty_stage = [&] {
        for (std::size_t k = 0; k < staged; ++k) {
            const std::size_t i = stage_at[k];
            const int64_t zeros = stage_zeros[k];
            table.push_back(
                Boundary{cut_between(x[i - 1], x[i]), zeros, static_cast<int64_t>(i) - zeros});
        }
        staged = 0;
    };
    int64_t zeros = y[0] == 0 ? 1 : 0;
    for (std::size_t i = 1; i < n; ++i) {
        stage_at[staged] = i;
        stage_zeros[staged] = zeros;
        staged += static_cast<std::size_t>((x[i] != x[i - 1]) & (y[i] != y[i - 1]));
        zeros += static_cast<int64_t>(y[i] == 0);
        if (staged == kStage) empty_stage();
    }
    empty_stage();
    table.push_back(Boundary{x[n - 1], zeros, static_cast<int64_t>(n) - zeros});
    return table;
}

std::vector<Boundary> compute_boundaries_from_raw(const double* x, const double* y, std::size_t n,
                                                  std::optional<double> value, double percentile) {
    const PreprocessResult prepared = preprocess_data(x, y, n, value, percentile);
    const SortedView view{prepared.x.data(), prepared.y.data(), prepared.x.size()};
    return compute_boundaries(view);
}

}  // namespace tessaline
