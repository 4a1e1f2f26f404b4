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

// The cut points of the boundary table (boundaries_from_counts) of the
// finite values [from, to) of checked counts, with class 0 and class 1 as
// given or swapped, read straight from the counts; `more` is set, and the
// reading stops, once they hold more than `limit` distinct points, so that
// any union with them does too.
struct BoundaryCuts {
    std::vector<double> cuts;
    bool more = false;
};

BoundaryCuts boundary_cuts(const ValueCounts& counts, std::size_t from, std::size_t to,
                           bool swapped, std::size_t limit) {
    BoundaryCuts out;
    if (from == to) return out;
    const std::vector<int64_t>& zeros = swapped ? counts.c1 : counts.c0;
    const std::vector<int64_t>& ones = swapped ? counts.c0 : counts.c1;
    // The points ascend (each cut lies between its two values), so the
    // distinct ones are those unlike the one before.
    std::size_t distinct = 0;
    const auto add = [&](double cut) {
        if (distinct == 0 || cut != out.cuts.back()) ++distinct;
        out.cuts.push_back(cut);
        out.more = distinct > limit;
        return !out.more;
    };
    if (!add(counts.value[from])) return out;
    for (std::size_t j = from + 1; j < to; ++j) {
        if (class_changes_at(zeros, ones, j) &&
            !add(cut_between(counts.value[j - 1], counts.value[j]))) {
            return out;
        }
    }
    add(counts.value[to - 1]);
    return out;
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
        const FinitePositions finite = finite_positions(out.counts);
        // A sample with many class changes keeps its quantiles, which either
        // table alone may show before the union is made.
        const BoundaryCuts first =
            boundary_cuts(out.counts, finite.first, finite.last, false, max_boundaries);
        if (!first.more) {
            const BoundaryCuts second =
                boundary_cuts(out.counts, finite.first, finite.last, true, max_boundaries);
            if (!second.more) {
                std::vector<double> joined = splits;
                joined.insert(joined.end(), first.cuts.begin(), first.cuts.end());
                joined.insert(joined.end(), second.cuts.begin(), second.cuts.end());
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
