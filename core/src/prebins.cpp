// The pre-bins of the default (optimal) binning of one column, from its
// labelled rows in one call: the rows counted by distinct value, the quantile
// cut points of those counts (joined, for a small sample, by the points where
// either class changes between neighbouring values) and the counts of each
// pre-bin. Each step is the function on counts that the package calls on
// merged counts, so a column binned here and one binned from its counts give
// the same pre-bins; here the counts are read in place instead of crossing the
// binding (and being copied) once per step.
#include <algorithm>
#include <utility>

#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// The cut points of the boundary table of the finite values behind the
// counts, with class 0 and class 1 as given or swapped.
void append_boundary_cuts(const ValueCounts& finite, bool swapped, std::vector<double>& cuts) {
    const std::vector<Boundary> table =
        swapped ? boundaries_from_counts(ValueCounts{finite.value, finite.c1, finite.c0})
                : boundaries_from_counts(finite);
    for (const Boundary& row : table) cuts.push_back(row.pto_corte);
}

}  // namespace

CountedPrebins counted_prebins(const double* x, const int32_t* y, std::size_t n,
                               std::size_t n_prebins, bool with_boundaries,
                               std::size_t max_boundaries) {
    CountedPrebins out;
    out.counts = count_values(x, y, n);
    std::vector<double> splits = quantile_splits_from_counts(out.counts, n_prebins);
    if (with_boundaries) {
        // Taken for both classes alike, so that swapping them gives the same
        // pre-bins; the union is sorted and its repeats dropped (0.0 and -0.0
        // are one point: either parts the values alike).
        ValueCounts finite;
        for (std::size_t j = 0; j < out.counts.value.size(); ++j) {
            if (!is_finite(out.counts.value[j])) continue;
            finite.value.push_back(out.counts.value[j]);
            finite.c0.push_back(out.counts.c0[j]);
            finite.c1.push_back(out.counts.c1[j]);
        }
        std::vector<double> joined = splits;
        append_boundary_cuts(finite, false, joined);
        append_boundary_cuts(finite, true, joined);
        std::sort(joined.begin(), joined.end());
        joined.erase(std::unique(joined.begin(), joined.end()), joined.end());
        joined.erase(
            std::remove_if(joined.begin(), joined.end(), [](double v) { return !is_finite(v); }),
            joined.end());
        if (joined.size() <= max_boundaries) splits = std::move(joined);
    }
    // Only the counts of the pre-bins are read: the cheaper representative.
    out.prebins = summarize_binary_from_counts(out.counts, 0, 0, splits, SummaryStatistic::Mean);
    return out;
}

}  // namespace tessaline
