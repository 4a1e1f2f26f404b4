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
void check_comparison(std::size_t n_ref, std::size_t n_cur, const std::vector<double>& splits,
                      double epsilon) {
    // The floor replaces empty proportions inside the logarithm, so it must be
    // a positive, finite number: NaN or +inf would turn the term of an empty
    // bin (and the total) into NaN or infinity.
    if (n_ref == 0 || n_cur == 0 || !(epsilon > 0.0) || !is_finite(epsilon)) {
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
    check_comparison(n_ref, n_cur, splits, epsilon);
    const std::size_t k = splits.size();
    std::vector<int64_t> count_ref(k + 2, 0);
    std::vector<int64_t> count_cur(k + 2, 0);
    count_into_bins(reference, n_ref, splits, count_ref);
    count_into_bins(current, n_cur, splits, count_cur);
    return compare_distributions_from_counts(count_ref.data(), count_cur.data(), splits, epsilon);
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
    check_comparison(static_cast<std::size_t>(n_ref), static_cast<std::size_t>(n_cur), splits,
                     epsilon);
    // The missing-value row appears for both samples as soon as either has a NaN.
    const std::size_t n_rows = (count_ref[k + 1] != 0 || count_cur[k + 1] != 0) ? k + 2 : k + 1;

    DistributionComparison result;
    result.bins.reserve(n_rows);
    const double size_ref = static_cast<double>(n_ref);
    const double size_cur = static_cast<double>(n_cur);
    double cum_ref = 0.0;
    double cum_cur = 0.0;
    double psi = 0.0;
    double ks = 0.0;
    for (std::size_t b = 0; b < n_rows; ++b) {
        const double p_ref = static_cast<double>(count_ref[b]) / size_ref;
        const double p_cur = static_cast<double>(count_cur[b]) / size_cur;
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
            PsiBin{count_ref[b], count_cur[b], p_ref, p_cur, cum_ref, cum_cur, psi_bin});
    }
    result.psi = psi;
    result.ks = ks;
    return result;
}

}  // namespace tessaline
