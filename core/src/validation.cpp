// Validation statistics: the chi-square test of equal event rates between two
// groups, and DeLong's AUC covariance of scores on the same rows.
//
// DeLong's estimate rests on each row's placement: for an event, the share of
// non-events scoring below it (ties count half); for a non-event, the share of
// events scoring above it. One sort of a score's rows gives every placement:
// rows of equal score form a group, and the placements of a group follow from
// the class counts before it, in it and after it. O(k n log n + k^2 n).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// Placements of the rows of one score: v10 per event, v01 per non-event, each
// in the rows' order within its class.
void placements(const double* score, const int32_t* labels, std::size_t n,
                const std::vector<std::size_t>& ordinal, double n1, double n0, double* v10,
                double* v01) {
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [score](std::size_t a, std::size_t b) { return score[a] < score[b]; });
    double non_events_below = 0.0, events_below = 0.0;
    for (std::size_t start = 0; start < n;) {
        std::size_t end = start;
        double e = 0.0, ne = 0.0;
        while (end < n && score[order[end]] == score[order[start]]) {
            (labels[order[end]] != 0 ? e : ne) += 1.0;
            ++end;
        }
        const double event_place = (non_events_below + 0.5 * ne) / n0;
        const double non_event_place = ((n1 - events_below - e) + 0.5 * e) / n1;
        for (std::size_t r = start; r < end; ++r) {
            const std::size_t row = order[r];
            if (labels[row] != 0) {
                v10[ordinal[row]] = event_place;
            } else {
                v01[ordinal[row]] = non_event_place;
            }
        }
        non_events_below += ne;
        events_below += e;
        start = end;
    }
}

// Sample covariance (divisor m - 1) of the placements of scores a and b about
// their AUCs; NaN for a single row.
double placement_covariance(const double* a, const double* b, std::size_t m, double auc_a,
                            double auc_b) {
    if (m < 2) return std::numeric_limits<double>::quiet_NaN();
    double s = 0.0;
    for (std::size_t i = 0; i < m; ++i) s += (a[i] - auc_a) * (b[i] - auc_b);
    return s / static_cast<double>(m - 1);
}

}  // namespace

RateTest equal_rates_test(double c0_a, double c1_a, double c0_b, double c1_b) {
    const double rows_a = c0_a + c1_a, rows_b = c0_b + c1_b;
    const double non_events = c0_a + c0_b, events = c1_a + c1_b;
    if (!(c0_a >= 0.0 && c1_a >= 0.0 && c0_b >= 0.0 && c1_b >= 0.0)) {
        throw std::invalid_argument("equal_rates_test: counts must be non-negative");
    }
    if (rows_a == 0.0 || rows_b == 0.0 || non_events == 0.0 || events == 0.0) return {0.0, 1.0};
    const double cross = c0_a * c1_b - c1_a * c0_b;
    const double statistic =
        (rows_a + rows_b) * (cross / rows_a) * (cross / rows_b) / non_events / events;
    return {statistic, std::erfc(std::sqrt(statistic / 2.0))};
}

DelongAuc delong_auc(const double* scores, std::size_t k, const int32_t* labels, std::size_t n) {
    if (k == 0) throw std::invalid_argument("delong_auc: no scores");
    std::vector<std::size_t> ordinal(n);
    std::size_t m = 0, m0 = 0;
    for (std::size_t i = 0; i < n; ++i) ordinal[i] = labels[i] != 0 ? m++ : m0++;
    if (m == 0 || m0 == 0) {
        throw std::invalid_argument("delong_auc: both classes must hold rows");
    }
    for (std::size_t i = 0; i < k * n; ++i) {
        if (std::isnan(scores[i])) throw std::invalid_argument("delong_auc: a score is NaN");
    }
    std::vector<double> v10(k * m), v01(k * m0);
    DelongAuc out;
    out.n_events = m;
    out.n_non_events = m0;
    for (std::size_t s = 0; s < k; ++s) {
        placements(scores + s * n, labels, n, ordinal, static_cast<double>(m),
                   static_cast<double>(m0), v10.data() + s * m, v01.data() + s * m0);
        double sum = 0.0;
        for (std::size_t i = 0; i < m; ++i) sum += v10[s * m + i];
        out.auc.push_back(sum / static_cast<double>(m));
    }
    out.covariance.resize(k * k);
    for (std::size_t a = 0; a < k; ++a) {
        for (std::size_t b = a; b < k; ++b) {
            const double c =
                placement_covariance(&v10[a * m], &v10[b * m], m, out.auc[a], out.auc[b]) /
                    static_cast<double>(m) +
                placement_covariance(&v01[a * m0], &v01[b * m0], m0, out.auc[a], out.auc[b]) /
                    static_cast<double>(m0);
            out.covariance[a * k + b] = c;
            out.covariance[b * k + a] = c;
        }
    }
    return out;
}

}  // namespace tessaline
