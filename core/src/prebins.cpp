// The pre-bins of the default (optimal) binning of one column, from its
// labelled rows in one call: the rows counted by distinct value, the quantile
// cut points of those counts (joined, for a small sample, by the points where
// either class changes between neighbouring values) and the counts of each
// pre-bin. Each step is the function on counts that the package calls on
// merged counts, so a column binned here and one binned from its counts give
// the same pre-bins; here the counts are read in place instead of crossing the
// binding (and being copied) once per step.
#include <algorithm>
#include <stdexcept>
#include <utility>

#include "counted_rows.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// The cut points of the boundary table of the finite values behind the
// counts, with class 0 and class 1 as given or swapped.
std::vector<double> boundary_cuts(const ValueCounts& finite, bool swapped) {
    const std::vector<Boundary> table =
        swapped ? boundaries_from_counts(ValueCounts{finite.value, finite.c1, finite.c0})
                : boundaries_from_counts(finite);
    std::vector<double> cuts;
    cuts.reserve(table.size());
    for (const Boundary& row : table) cuts.push_back(row.pto_corte);
    return cuts;
}

// Whether the ascending `cuts` alone hold more than `limit` distinct finite
// points, so that any union with them does too (false when they are not
// ascending: then only the union tells).
bool more_than(const std::vector<double>& cuts, std::size_t limit) {
    if (!std::is_sorted(cuts.begin(), cuts.end())) return false;
    std::size_t distinct = 0;
    double last = 0.0;
    for (const double cut : cuts) {
        if (!is_finite(cut) || (distinct > 0 && cut == last)) continue;
        ++distinct;
        last = cut;
    }
    return distinct > limit;
}

}  // namespace

CountedPrebins counted_prebins(const double* x, const int32_t* y, std::size_t n,
                               std::size_t n_prebins, bool with_boundaries,
                               std::size_t max_boundaries) {
    // One pass over the labels checks them and counts the events, of which
    // those not behind the counts are the rows whose x is NaN.
    int64_t rows_of_one = 0;
    bool labelled = true;
    for (std::size_t i = 0; i < n; ++i) {
        labelled &= static_cast<uint32_t>(y[i]) <= 1u;
        rows_of_one += y[i];
    }
    if (!labelled) throw std::invalid_argument("counted_prebins: labels must be 0 or 1");
    CountedPrebins out;
    out.counts = count_values(x, y, n);
    int64_t counted_zeros = 0;
    int64_t counted_ones = 0;
    for (std::size_t j = 0; j < out.counts.value.size(); ++j) {
        counted_zeros += out.counts.c0[j];
        counted_ones += out.counts.c1[j];
    }
    out.missing_c0 = static_cast<int64_t>(n) - rows_of_one - counted_zeros;
    out.missing_c1 = rows_of_one - counted_ones;
    std::vector<double> splits = quantile_cuts(out.counts, n_prebins);
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
        // A sample with many class changes keeps its quantiles, which either
        // table alone may show before the union is made.
        const std::vector<double> first = boundary_cuts(finite, false);
        if (!more_than(first, max_boundaries)) {
            const std::vector<double> second = boundary_cuts(finite, true);
            if (!more_than(second, max_boundaries)) {
                std::vector<double> joined = splits;
                joined.insert(joined.end(), first.begin(), first.end());
                joined.insert(joined.end(), second.begin(), second.end());
                std::sort(joined.begin(), joined.end());
                joined.erase(std::unique(joined.begin(), joined.end()), joined.end());
                joined.erase(std::remove_if(joined.begin(), joined.end(),
                                            [](double v) { return !is_finite(v); }),
                             joined.end());
                if (joined.size() <= max_boundaries) splits = std::move(joined);
            }
        }
    }
    // Only the counts of the pre-bins are read: the cheaper representative.
    out.prebins = summarize_checked_counts(out.counts, 0, 0, splits, SummaryStatistic::Mean);
    return out;
}

}  // namespace tessaline
