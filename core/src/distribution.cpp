// Drift between a reference and a current sample of one variable: both are
// counted into the same right-closed bins, NaN in a bin of its own, and the
// binned distributions are compared by the population stability index (PSI)
// and the Kolmogorov-Smirnov distance of their cumulative proportions.
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "bin_search.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// Adds the sample's values to counts (k + 2 entries, the last one for NaN).
void count_into_bins(const double* values, std::size_t n, const std::vector<double>& cuts,
                     std::vector<int64_t>& counts) {
    const std::size_t k = cuts.size();
    const double* c = cuts.data();
    int64_t* bins = counts.data();
    int64_t missing = 0;
    for_each_bin(values, n, c, k, [&](std::size_t i, std::size_t bin) {
        if (std::isnan(values[i])) {
            ++missing;
        } else {
            ++bins[bin];
        }
    });
    counts[k + 1] += missing;
}

// Empty samples, a floor that is not a positive finite number, or cut points
// that are not finite, increasing and distinct make no comparison.
void check_comparison(bool empty, const std::vector<double>& splits, double epsilon) {
    // The floor replaces empty proportions inside the logarithm, so it must be
    // a positive, finite number: NaN or +inf would turn the term of an empty
    // bin (and the total) into NaN or infinity.
    if (empty || !(epsilon > 0.0) || !is_finite(epsilon)) {
        throw std::invalid_argument("compare_distributions: muestras vacías o epsilon inválido");
    }
    for (std::size_t i = 0; i < splits.size(); ++i) {
        if (!is_finite(splits[i]) || (i > 0 && !(splits[i] > splits[i - 1]))) {
            throw std::invalid_argument(
                "compare_distributions: splits deben ser finitos, crecientes y únicos");
        }
    }
}

}  // namespace

DistributionComparison compare_distributions(const double* reference, std::size_t n_ref,
                                             const double* current, std::size_t n_cur,
                                             const std::vector<double>& splits, double epsilon) {
    check_comparison(n_ref == 0 || n_cur == 0, splits, epsilon);
    const std::size_t k = splits.size();
    std::vector<int64_t> count_ref(k + 2, 0);
    std::vector<int64_t> count_cur(k + 2, 0);
    count_into_bins(reference, n_ref, splits, count_ref);
    count_into_bins(current, n_cur, splits, count_cur);
    return compare_distributions_from_counts(count_ref.data(), count_cur.data(), splits, epsilon);
}

std::vector<double> weigh_into_bins(const double* values, const double* weights, std::size_t n,
                                    const std::vector<double>& splits) {
    const std::size_t k = splits.size();
    std::vector<double> sums(k + 2, 0.0);
    double* bins = sums.data();
    double missing = 0.0;
    for_each_bin(values, n, splits.data(), k, [&](std::size_t i, std::size_t bin) {
        if (std::isnan(values[i])) {
            missing += weights[i];
        } else {
            bins[bin] += weights[i];
        }
    });
    sums[k + 1] += missing;
    return sums;
}

DistributionComparison compare_distributions_from_counts(const int64_t* count_ref,
                                                         const int64_t* count_cur,
                                                         const std::vector<double>& splits,
                                                         double epsilon) {
    const std::size_t k = splits.size();
    int64_t n_ref = 0;
    int64_t n_cur = 0;
    for (std::size_t b = 0; b < k + 2; ++b) {
        if (count_ref[b] < 0 || count_cur[b] < 0) {
            throw std::invalid_argument(
                "compare_distributions_from_counts: counts must not be negative");
        }
        n_ref = add_counts(n_ref, count_ref[b], "compare_distributions_from_counts");
        n_cur = add_counts(n_cur, count_cur[b], "compare_distributions_from_counts");
    }
    check_comparison(n_ref == 0 || n_cur == 0, splits, epsilon);
    // Whole counts are whole weights: below 2^53 rows every sum of them is
    // exact as a double, so the weighted comparison gives the counts' bits.
    const std::vector<double> weight_ref(count_ref, count_ref + k + 2);
    const std::vector<double> weight_cur(count_cur, count_cur + k + 2);
    const WeightedDistributionComparison weighed =
        compare_distributions_from_weights(weight_ref.data(), weight_cur.data(), splits, epsilon);
    DistributionComparison result;
    result.bins.reserve(weighed.bins.size());
    for (std::size_t b = 0; b < weighed.bins.size(); ++b) {
        const WeightedPsiBin& w = weighed.bins[b];
        result.bins.push_back(PsiBin{count_ref[b], count_cur[b], w.proportion_reference,
                                     w.proportion_current, w.cumulative_reference,
                                     w.cumulative_current, w.psi_bin});
    }
    result.psi = weighed.psi;
    result.ks = weighed.ks;
    return result;
}

WeightedDistributionComparison compare_distributions_from_weights(const double* weight_ref,
                                                                  const double* weight_cur,
                                                                  const std::vector<double>& splits,
                                                                  double epsilon) {
    const std::size_t k = splits.size();
    // Sums in bin order, the order the cumulative shares are added in.
    double size_ref = 0.0;
    double size_cur = 0.0;
    for (std::size_t b = 0; b < k + 2; ++b) {
        if (!(weight_ref[b] >= 0.0 && is_finite(weight_ref[b])) ||
            !(weight_cur[b] >= 0.0 && is_finite(weight_cur[b]))) {
            throw std::invalid_argument(
                "compare_distributions_from_weights: weights must be finite and not negative");
        }
        size_ref += weight_ref[b];
        size_cur += weight_cur[b];
    }
    check_comparison(!(size_ref > 0.0) || !(size_cur > 0.0), splits, epsilon);
    if (!is_finite(size_ref) || !is_finite(size_cur)) {
        throw std::invalid_argument(
            "compare_distributions_from_weights: the weights of a sample add up past the "
            "largest double");
    }
    // The missing-value row appears for both samples as soon as either has weight there.
    const std::size_t n_rows =
        (weight_ref[k + 1] != 0.0 || weight_cur[k + 1] != 0.0) ? k + 2 : k + 1;

    WeightedDistributionComparison result;
    result.bins.reserve(n_rows);
    double cum_ref = 0.0;
    double cum_cur = 0.0;
    double psi = 0.0;
    double ks = 0.0;
    for (std::size_t b = 0; b < n_rows; ++b) {
        const double p_ref = weight_ref[b] / size_ref;
        const double p_cur = weight_cur[b] / size_cur;
        cum_ref += p_ref;
        cum_cur += p_cur;
        // The floor applies only inside the logarithm; the difference keeps
        // the raw proportions, so a bin empty in both samples adds exactly 0.
        const double f_ref = epsilon > p_ref ? epsilon : p_ref;
        const double f_cur = epsilon > p_cur ? epsilon : p_cur;
        const double psi_bin = (p_ref - p_cur) * std::log(f_ref / f_cur);
        psi += psi_bin;
        const double d = std::fabs(cum_ref - cum_cur);
        ks = d > ks ? d : ks;
        result.bins.push_back(
            WeightedPsiBin{weight_ref[b], weight_cur[b], p_ref, p_cur, cum_ref, cum_cur, psi_bin});
    }
    result.psi = psi;
    result.ks = ks;
    return result;
}

}  // namespace tessaline
