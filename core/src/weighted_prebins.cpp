// The pre-bins of the default (optimal) binning of weighted counts in one
// call: the quantile cut points, the cut points that best separate the
// classes, and the weight of each class between them, read in place from the
// counts. Each step gives what the function of the same name on counts gives
// (quantile_splits_weighted, class_split_cuts, the summary's class weights),
// so a column pre-binned here and one pre-binned step by step get the same
// pre-bins, bit for bit.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "counted_rows.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// The members the functions on counts read, over arrays kept elsewhere.
struct WeightedSpans {
    CountSpan<double> value;
    CountSpan<double> c0;
    CountSpan<double> c1;
};

// The counts as a merge leaves them: values ascending and distinct (not NaN),
// weights finite and not negative, records not negative.
void require_merged(const WeightedCountsView& counts) {
    for (std::size_t j = 0; j < counts.size; ++j) {
        const bool ascending =
            j == 0 ? !std::isnan(counts.value[0]) : counts.value[j - 1] < counts.value[j];
        if (!ascending || !(is_finite(counts.c0[j]) && counts.c0[j] >= 0.0) ||
            !(is_finite(counts.c1[j]) && counts.c1[j] >= 0.0) || counts.rows[j] < 0) {
            throw std::invalid_argument(
                "prebins_from_weighted_counts: values must be ascending and distinct (not NaN), "
                "weights finite and not negative");
        }
    }
}

}  // namespace

std::vector<WeightedPrebin> weighted_prebins(const WeightedCountsView& counts,
                                             std::size_t n_prebins, std::size_t max_class_parts,
                                             double min_class_share) {
    require_merged(counts);
    const WeightedSpans spans{{counts.value, counts.size},
                              {counts.c0, counts.size},
                              {counts.c1, counts.size}};
    std::vector<double> splits = quantile_cuts(spans, n_prebins);
    const std::vector<double> informative = class_split_cuts(
        counts.value, counts.c0, counts.c1, counts.size, max_class_parts, min_class_share);
    // The union, sorted, its repeats dropped (0.0 and -0.0 are one point:
    // either parts the values alike).
    splits.insert(splits.end(), informative.begin(), informative.end());
    std::sort(splits.begin(), splits.end());
    splits.erase(std::unique(splits.begin(), splits.end()), splits.end());

    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const std::size_t m = splits.size();
    std::vector<WeightedPrebin> prebins;
    prebins.reserve(m + 1);
    std::size_t from = 0;
    for (std::size_t b = 0; b <= m; ++b) {
        const std::size_t to = interval_end(spans, splits, b, from);
        // Value by value from 0, as the summary of the same cut points adds them.
        double zeros = 0.0;
        double ones = 0.0;
        for (std::size_t j = from; j < to; ++j) {
            zeros += counts.c0[j];
            ones += counts.c1[j];
        }
        prebins.push_back(WeightedPrebin{b == 0 ? -kInfinity : splits[b - 1],
                                         b == m ? kInfinity : splits[b], zeros, ones});
        from = to;
    }
    return prebins;
}

}  // namespace tessaline
