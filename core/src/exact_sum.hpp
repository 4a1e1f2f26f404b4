// Exact summation of doubles: the sum of any terms in any order, rounded once
// to the nearest double. The running sum is kept as non-overlapping partials
// (Shewchuk's expansions), which hold it without error; products are added
// exactly by splitting each into its rounded value and its rounding error.
#ifndef TESSALINE_EXACT_SUM_HPP
#define TESSALINE_EXACT_SUM_HPP

#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace tessaline {

// Adds x to the n non-overlapping partials at p (in rising magnitude): the
// partials that stay are written over the first `kept` places, the
// returned count, and x leaves holding the greatest, which the caller
// stores at p[kept]. Nothing is written at or after p[n].
inline std::size_t absorb_into_partials(double* p, std::size_t n, double& x) {
    std::size_t kept = 0;
    for (std::size_t j = 0; j < n; ++j) {
        double y = p[j];
        if (std::fabs(x) < std::fabs(y)) std::swap(x, y);
        const double hi = x + y;
        const double lo = y - (hi - x);
        if (lo != 0.0) p[kept++] = lo;
        x = hi;
    }
    return kept;
}

// The exact sum of the n non-overlapping partials at p (in rising
// magnitude) rounded to nearest, ties to even.
inline double rounded_partials(const double* p, std::size_t n) {
    if (n == 0) return 0.0;
    double hi = p[--n];
    double lo = 0.0;
    while (n > 0) {
        const double x = hi;
        const double y = p[--n];
        hi = x + y;
        lo = y - (hi - x);
        if (lo != 0.0) break;
    }
    // A half-way remainder rounds away from hi when the next partial
    // pushes the exact sum past the half.
    if (n > 0 && ((lo < 0.0 && p[n - 1] < 0.0) || (lo > 0.0 && p[n - 1] > 0.0))) {
        const double y = lo * 2.0;
        const double x = hi + y;
        if (y == x - hi) hi = x;
    }
    return hi;
}

// The exact sum of the n terms at t rounded once (ties to even), in any
// order: the terms are overwritten by the partials of the sum, which never
// outnumber the terms read so far, so no storage beyond them is needed.
inline double exact_sum_in_place(double* t, std::size_t n) {
    std::size_t partials = 0;
    for (std::size_t i = 0; i < n; ++i) {
        double x = t[i];
        const std::size_t kept = absorb_into_partials(t, partials, x);
        t[kept] = x;
        partials = kept + 1;
    }
    return rounded_partials(t, partials);
}

class ExactSum {
  public:
    void add(double x) {
        const std::size_t n = partials_.size();
        double* const p = partials_.data();
        const std::size_t kept = absorb_into_partials(p, n, x);
        // The expansion grows by at most one partial: it only allocates then.
        if (kept < n) {
            p[kept] = x;
            partials_.resize(kept + 1);
        } else {
            partials_.push_back(x);
        }
    }

    // a * b exactly: the rounded product and its error (fma rounds once).
    void add_product(double a, double b) {
        const double p = a * b;
        add(p);
        add(std::fma(a, b, -p));
    }

    // w * y * y exactly: y^2 as its rounded value and error, each times w.
    void add_weighted_square(double w, double y) {
        const double sq = y * y;
        const double err = std::fma(y, y, -sq);
        add_product(w, sq);
        add_product(w, err);
    }

    // Back to zero, keeping the storage.
    void clear() { partials_.clear(); }

    // The non-overlapping partials whose exact sum is the sum so far: adding
    // the partials of several sums gives their exact total.
    const std::vector<double>& partials() const { return partials_; }

    // The exact sum rounded to nearest, ties to even.
    double value() const { return rounded_partials(partials_.data(), partials_.size()); }

  private:
    std::vector<double> partials_;
};

// An exact sum of many terms, rounded once, for the cost of a few plain
// additions a term. Each term is added to a plain sum and the rounding error
// of that addition (TwoSum: exact) to a second plain sum; the expansion above
// sees the two sums once, at the end, and the errors only when their own sum
// would round. Errors lie far below the sum's last bit, so they rarely do.
class RunningExactSum {
  public:
    void add(double w) {
        const double sum = high_ + w;
        const double from_w = sum - high_;
        const double error = (high_ - (sum - from_w)) + (w - from_w);
        high_ = sum;
        if (error != 0.0) add_error(error);
    }
    // add(w) for terms whose additions round now and then, at random (sums
    // of targets, as against whole weights): the error, 0 or not, goes to
    // the running error without a branch on it that would often be guessed
    // wrong. An error of 0 leaves that sum as it is, so the sums are the same.
    void add_rounding(double w) {
        const double sum = high_ + w;
        const double from_w = sum - high_;
        const double error = (high_ - (sum - from_w)) + (w - from_w);
        high_ = sum;
        add_error(error);
    }
    // The exact sum rounded to nearest; the sum starts again from 0.
    double value() {
        exact_.add(high_);
        exact_.add(low_);
        const double sum = exact_.value();
        clear();
        return sum;
    }
    void clear() {
        high_ = low_ = 0.0;
        exact_.clear();
    }
    // The exact sum rounded to nearest; the sum is kept (as its expansion).
    double settled() {
        // With no partials yet, the exact sum is high + low, which one
        // addition rounds correctly: the expansion is made only when it holds
        // more than that.
        if (exact_.partials().empty()) return high_ + low_;
        exact_.add(high_);
        exact_.add(low_);
        high_ = low_ = 0.0;
        return exact_.value();
    }
    // How many terms terms() writes.
    std::size_t n_terms() const { return exact_.partials().size() + 2; }
    // Terms whose exact sum is the sum so far, without making its expansion:
    // its partials, the running sum and the running error (n_terms() of
    // them, at `out`).
    void terms(double* out) const {
        for (double p : exact_.partials()) *out++ = p;
        out[0] = high_;
        out[1] = low_;
    }
    // Adds the sum of `other`, exactly (each of its terms in turn).
    void absorb(const RunningExactSum& other) {
        for (const double p : other.exact_.partials()) add(p);
        add(other.high_);
        add(other.low_);
    }
    // The sum so far as an expansion in `out` (its storage reused); the sum
    // goes on.
    void expansion(ExactSum& out) const {
        out = exact_;
        out.add(high_);
        out.add(low_);
    }

  private:
    // low + e is exact when neither operand's difference from the sum rounds.
    void add_error(double e) {
        const double sum = low_ + e;
        if (sum - low_ == e && sum - e == low_) {
            low_ = sum;
            return;
        }
        exact_.add(low_);
        low_ = e;
    }

    double high_ = 0.0;
    double low_ = 0.0;
    ExactSum exact_;
};

}  // namespace tessaline

#endif  // TESSALINE_EXACT_SUM_HPP
