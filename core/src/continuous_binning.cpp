// Continuous optimal binning: the contiguous grouping of ordered pre-bins
// whose group means explain most of the target's variance, under a bin
// limit, a least share of the weight, a least number of rows, a trend of the
// group means and a limit on the test of equal means between neighbouring
// groups.
//
// The criterion, the between-group sum of squares sum_g W_g (mean_g - mean)^2
// with mean the overall mean, is a sum of one term per group, so the
// grouping search (grouping_search.hpp) finds the optimum exactly, as it
// does the binary target's information value.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "grouping_search.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

using grouping::tri;

// The sum of squared deviations of rows of weight wa, sum sa and sum of
// squared deviations da joined by rows of wb, sb and db: each part's own
// plus what its mean's distance from the other's adds.
double joined_sum_sq_dev(double wa, double sa, double da, double wb, double sb, double db) {
    if (wa == 0.0) return db;
    if (wb == 0.0) return da;
    const double d = sa / wa - sb / wb;
    return da + db + wa * wb / (wa + wb) * (d * d);
}

// Every contiguous group: its weight, sum, mean and (for the test between
// neighbours) sum of squared deviations; the search reads its criterion
// term and mean.
struct Groups {
    grouping::Groups search;
    std::vector<double> weight, sum, sum_sq_dev;
};

Groups group_table(const double* w, const double* s, const double* rows, const double* dev,
                   std::size_t n, const ContinuousBinningConstraints& k, double total_weight,
                   double overall_mean) {
    Groups t{grouping::sized_groups(n), {}, {}, {}};
    const std::size_t size = t.search.value.size();
    t.weight.resize(size);
    t.sum.resize(size);
    if (dev != nullptr) t.sum_sq_dev.resize(size);
    for (std::size_t first = 0; first < n; ++first) {
        double gw = 0.0, gs = 0.0, gr = 0.0, gd = 0.0;
        for (std::size_t last = first; last < n; ++last) {
            if (dev != nullptr) gd = joined_sum_sq_dev(gw, gs, gd, w[last], s[last], dev[last]);
            gw += w[last];
            gs += s[last];
            gr += rows[last];
            const std::size_t g = tri(first, last);
            const double mean = gw > 0.0 ? gs / gw : 0.0;
            const double d = mean - overall_mean;
            t.weight[g] = gw;
            t.sum[g] = gs;
            if (dev != nullptr) t.sum_sq_dev[g] = gd;
            t.search.level[g] = mean;
            t.search.value[g] = gw * (d * d);
            t.search.allowed[g] =
                gw > 0.0 && gr >= k.min_rows && gw / total_weight >= k.min_bin_share;
        }
    }
    return t;
}

void check_arguments(const double* w, const double* s, const double* rows, const double* dev,
                     std::size_t n, const ContinuousBinningConstraints& k) {
    if (n == 0) throw std::invalid_argument("continuous_binning: no pre-bins");
    if (w == nullptr || s == nullptr || rows == nullptr)
        throw std::invalid_argument("continuous_binning: missing pre-bins");
    for (std::size_t i = 0; i < n; ++i) {
        if (!(is_finite(w[i]) && w[i] >= 0.0 && is_finite(s[i]) && is_finite(rows[i]) &&
              rows[i] >= 0.0)) {
            throw std::invalid_argument(
                "continuous_binning: pre-bin weights and rows must be finite and non-negative, "
                "sums finite");
        }
    }
    if (!(k.min_bin_share >= 0.0 && k.min_bin_share <= 1.0)) {
        throw std::invalid_argument("continuous_binning: min_bin_share must be between 0 and 1");
    }
    if (!(is_finite(k.min_rows) && k.min_rows >= 0.0)) {
        throw std::invalid_argument("continuous_binning: min_rows must be finite and non-negative");
    }
    if (!(k.max_pvalue >= 0.0 && k.max_pvalue <= 1.0)) {
        throw std::invalid_argument("continuous_binning: max_pvalue must be between 0 and 1");
    }
    if (k.max_pvalue < 1.0) {
        if (dev == nullptr) {
            throw std::invalid_argument(
                "continuous_binning: max_pvalue needs the pre-bins' sums of squared deviations");
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (!(is_finite(dev[i]) && dev[i] >= 0.0)) {
                throw std::invalid_argument(
                    "continuous_binning: pre-bin sums of squared deviations must be finite and "
                    "non-negative");
            }
        }
    }
    grouping::check_trend(k.trend, "continuous_binning");
}

}  // namespace

ContinuousBinning continuous_binning(const double* weight, const double* sum, const double* rows,
                                     std::size_t n_prebins,
                                     const ContinuousBinningConstraints& constraints,
                                     const double* sum_sq_dev) {
    return std::move(continuous_binnings(weight, sum, rows, n_prebins, constraints,
                                         {constraints.trend}, sum_sq_dev)[0]);
}

std::vector<ContinuousBinning> continuous_binnings(const double* weight, const double* sum,
                                                   const double* rows, std::size_t n_prebins,
                                                   const ContinuousBinningConstraints& constraints,
                                                   const std::vector<BinTrend>& trends,
                                                   const double* sum_sq_dev) {
    check_arguments(weight, sum, rows, sum_sq_dev, n_prebins, constraints);
    for (BinTrend trend : trends) grouping::check_trend(trend, "continuous_binning");
    double total_weight = 0.0, total_sum = 0.0, total_rows = 0.0;
    for (std::size_t i = 0; i < n_prebins; ++i) {
        total_weight += weight[i];
        total_sum += sum[i];
        total_rows += rows[i];
    }
    if (!is_finite(total_weight) || !is_finite(total_sum)) {
        throw std::invalid_argument("continuous_binning: pre-bin sums are too large");
    }
    std::vector<ContinuousBinning> out(trends.size());
    ContinuousBinningStatus status = ContinuousBinningStatus::optimal;
    // One group of every row meets every limit but the rows, so these totals
    // alone decide whether any grouping exists.
    if (total_rows < constraints.min_rows) {
        status = ContinuousBinningStatus::min_rows_not_met;
    } else if (!(total_weight > 0.0)) {
        status = ContinuousBinningStatus::no_weight;
    }
    for (std::size_t i = 0; i < trends.size(); ++i) {
        out[i] = {status, trends[i], {}, std::numeric_limits<double>::quiet_NaN(), 0.0};
    }
    if (status != ContinuousBinningStatus::optimal) return out;
    const double overall_mean = total_sum / total_weight;
    // The groups' sums of squared deviations only serve the test.
    const double* dev = constraints.max_pvalue < 1.0 ? sum_sq_dev : nullptr;
    const Groups table =
        group_table(weight, sum, rows, dev, n_prebins, constraints, total_weight, overall_mean);
    grouping::Limits limits;
    limits.max_bins = constraints.max_bins;
    if (dev != nullptr) {
        limits.neighbours =
            grouping::pair_limit(constraints.max_pvalue, [&table](std::size_t h, std::size_t g) {
                return equal_means_test(table.weight[h], table.search.level[h], table.sum_sq_dev[h],
                                        table.weight[g], table.search.level[g], table.sum_sq_dev[g])
                    .pvalue;
            });
    }
    limits.who = "continuous_binning";
    std::vector<BinTrend> met;
    const std::vector<grouping::Trace> chosen =
        grouping::best_groupings_of(table.search, limits, trends, met);
    for (std::size_t i = 0; i < trends.size(); ++i) {
        out[i].trend = met[i];
        out[i].overall_mean = overall_mean;
        if (chosen[i].best.value == grouping::kUnreached) {
            throw std::logic_error(
                "continuous_binning: no grouping though one group meets the limits");
        }
        double between = 0.0;
        for (const auto& [first, last] : chosen[i].groups) {
            const std::size_t g = tri(first, last);
            out[i].groups.push_back({first, last, table.weight[g], table.sum[g],
                                     table.search.level[g], table.search.value[g]});
            between += table.search.value[g];
        }
        out[i].between_ss = between;
    }
    return out;
}

const char* continuous_binning_status_message(ContinuousBinningStatus status) {
    // In the order of the statuses; optimal needs no message.
    static const char* const messages[] = {
        "",
        "the column holds fewer rows than min_rows",
        "the column's rows weigh nothing (every weight is 0)",
    };
    return messages[static_cast<int>(status)];
}

}  // namespace tessaline
