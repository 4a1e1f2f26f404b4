// One-call pipeline of the full MDLP from raw arrays: preprocessing, the split
// search with its intervals, then one summary row per interval (share of all
// usable records, representative x) closed by a row for the records whose x is
// missing, plus the preprocessing counters.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "numeric.hpp"
#include "raw_summary.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// Representative of the sorted records x[s..e).
double representative_of_sorted(const std::vector<double>& x, std::size_t s, std::size_t e,
                                SummaryStatistic stat) {
    const std::size_t k = e - s;
    if (k == 0) return std::numeric_limits<double>::quiet_NaN();
    if (stat == SummaryStatistic::Mean) {
        double sum = 0.0;
        for (std::size_t i = s; i < e; ++i) sum += x[i];
        return sum / static_cast<double>(k);
    }
    const std::size_t mid = s + k / 2;
    if (k % 2 == 1) return x[mid];
    return x[mid - 1] + (x[mid] - x[mid - 1]) * 0.5;
}

}  // namespace

MdlpFullRawResult fit_mdlp_full_from_raw(const double* x, const double* y, std::size_t n,
                                         const TessalineParams& params, std::optional<double> value,
                                         double percentile, SummaryStatistic representative) {
    const PreprocessResult prepared = preprocess_data(x, y, n, value, percentile);
    const SortedView view{prepared.x.data(), prepared.y.data(), prepared.x.size()};
    MdlpFullResult full = mdlp_full(view, params);

    MdlpFullRawResult r;
    r.mdlp = std::move(full.mdlp);
    r.intervals = std::move(full.summary);

    // Every percentage shares one denominator, the usable records with and
    // without x, so that all rows of the summary add up to 1.
    const std::size_t denominator = prepared.n_used + prepared.missing_count;
    const std::vector<double>& sorted_x = prepared.x;
    const std::size_t n_used = sorted_x.size();

    r.summary.reserve(r.intervals.size() + (prepared.missing_count > 0 ? 1 : 0));
    std::size_t start = 0;
    for (const SummaryInterval& interval : r.intervals) {
        // A record equal to `right` belongs to this interval: the interval ends
        // at the first record strictly above it.
        std::size_t end = n_used;
        if (is_finite(interval.right)) {
            end = static_cast<std::size_t>(
                std::upper_bound(sorted_x.begin() + static_cast<std::ptrdiff_t>(start),
                                 sorted_x.end(), interval.right) -
                sorted_x.begin());
        }
        if (static_cast<int64_t>(end - start) != interval.total) {
            throw std::logic_error("fit_mdlp_full: el resumen no coincide con los segmentos MDLP");
        }
        BinningSummary row;
        row.left = interval.left;
        row.right = interval.right;
        row.count = static_cast<std::size_t>(interval.total);
        row.percentage = share(row.count, denominator);
        row.c0 = static_cast<std::size_t>(interval.c0);
        row.c1 = static_cast<std::size_t>(interval.c1);
        row.event_rate = interval.p1;
        row.representative = representative_of_sorted(sorted_x, start, end, representative);
        r.summary.push_back(row);
        start = end;
    }

    close_raw_summary(prepared, r);
    return r;
}

void close_raw_summary(const PreprocessResult& counters, MdlpFullRawResult& r) {
    if (counters.missing_count > 0) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        BinningSummary row;
        row.left = nan;
        row.right = nan;
        row.count = counters.missing_count;
        row.percentage = share(counters.missing_count, counters.n_used + counters.missing_count);
        row.c0 = counters.missing_c0;
        row.c1 = counters.missing_c1;
        row.event_rate =
            static_cast<double>(counters.missing_c1) / static_cast<double>(counters.missing_count);
        row.representative = nan;
        r.summary.push_back(row);
    }
    r.n_input = counters.n_input;
    r.n_used = counters.n_used;
    r.n_missing_x = counters.n_missing_x;
    r.n_missing_y = counters.n_missing_y;
    r.n_missing_both = counters.n_missing_both;
    r.n_non_finite = counters.n_non_finite;
    r.target_was_binary = counters.target_was_binary;
    r.threshold = counters.threshold;
}

}  // namespace tessaline
