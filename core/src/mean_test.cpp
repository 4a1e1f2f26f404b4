// Welch's test of equal means between two groups of a continuous target, from
// each group's weight, mean and sum of squared deviations; its p-value is the
// two-sided tail of Student's t, the regularized incomplete beta function
// I_x(df / 2, 1 / 2) at x = df / (df + t^2), worked out by its continued
// fraction.
#include <cmath>
#include <limits>
#include <stdexcept>

#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// Terms of the continued fraction before it is taken as converged: it needs
// about sqrt(max(a, b)) of them, and a group of a billion rows would need 3e4.
constexpr int kMaxFractionTerms = 100000;

// The continued fraction of I_x(a, b) (modified Lentz), which converges fast
// for x < (a + 1) / (a + b + 2).
double beta_fraction(double a, double b, double x) {
    constexpr double tiny = 1e-300;
    const auto kept = [](double v) { return std::fabs(v) < tiny ? tiny : v; };
    double c = 1.0;
    double d = 1.0 / kept(1.0 - (a + b) * x / (a + 1.0));
    double h = d;
    for (int m = 1; m <= kMaxFractionTerms; ++m) {
        const double m2 = 2.0 * m;
        double term = m * (b - m) * x / ((a - 1.0 + m2) * (a + m2));
        d = 1.0 / kept(1.0 + term * d);
        c = kept(1.0 + term / c);
        h *= d * c;
        term = -(a + m) * (a + b + m) * x / ((a + m2) * (a + 1.0 + m2));
        d = 1.0 / kept(1.0 + term * d);
        c = kept(1.0 + term / c);
        const double step = d * c;
        h *= step;
        if (std::fabs(step - 1.0) < 1e-16) break;
    }
    return h;
}

// I_x(a, b), with y = 1 - x given apart so that neither loses digits.
double regularized_beta(double a, double b, double x, double y) {
    if (x <= 0.0) return 0.0;
    if (y <= 0.0) return 1.0;
    const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                                  a * std::log(x) + b * std::log(y));
    if (x < (a + 1.0) / (a + b + 2.0)) return front * beta_fraction(a, b, x) / a;
    return 1.0 - front * beta_fraction(b, a, y) / b;
}

}  // namespace

MeanTest equal_means_test(double weight_a, double mean_a, double sum_sq_dev_a, double weight_b,
                          double mean_b, double sum_sq_dev_b) {
    if (!(is_finite(weight_a) && weight_a >= 0.0 && is_finite(weight_b) && weight_b >= 0.0 &&
          is_finite(sum_sq_dev_a) && sum_sq_dev_a >= 0.0 && is_finite(sum_sq_dev_b) &&
          sum_sq_dev_b >= 0.0 && is_finite(mean_a) && is_finite(mean_b))) {
        throw std::invalid_argument(
            "equal_means_test: weights and sums of squared deviations must be finite and "
            "non-negative, means finite");
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (weight_a <= 1.0 || weight_b <= 1.0) return {0.0, nan, 1.0};
    const double var_a = sum_sq_dev_a / (weight_a - 1.0) / weight_a;
    const double var_b = sum_sq_dev_b / (weight_b - 1.0) / weight_b;
    const double var = var_a + var_b;
    const double difference = mean_a - mean_b;
    if (var == 0.0) {
        // Two constant groups: their means are equal or differ for certain.
        const double df = weight_a + weight_b - 2.0;
        if (difference == 0.0) return {0.0, df, 1.0};
        return {difference > 0.0 ? std::numeric_limits<double>::infinity()
                                 : -std::numeric_limits<double>::infinity(),
                df, 0.0};
    }
    // Welch-Satterthwaite degrees of freedom, over shares of the variance so
    // that a tiny variance's square does not underflow.
    const double share_a = var_a / var, share_b = var_b / var;
    const double df =
        1.0 / (share_a * share_a / (weight_a - 1.0) + share_b * share_b / (weight_b - 1.0));
    const double t = difference / std::sqrt(var);
    const double t2 = t * t;
    if (!is_finite(t2)) return {t, df, 0.0};
    const double pvalue = regularized_beta(df / 2.0, 0.5, df / (df + t2), t2 / (df + t2));
    return {t, df, pvalue};
}

}  // namespace tessaline
