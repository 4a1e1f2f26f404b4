// Preprocessing shared by the supervised pipelines: classify each row, turn the
// target into 0/1 labels and sort the kept rows by x, then by label.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "large_buffer.hpp"
#include "numeric.hpp"
#include "sort_rows.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// The percentile-th percentile of values (linear interpolation between the
// neighbouring order statistics at position (m - 1) * percentile / 100),
// found by selection on the caller's scratch copy rather than a full sort.
double percentile_by_selection(std::vector<double>& values, double percentile) {
    if (!(percentile >= 0.0 && percentile <= 100.0)) {
        throw std::invalid_argument("preprocess_data: percentile debe estar entre 0 y 100");
    }
    const std::size_t m = values.size();
    const double pos = (static_cast<double>(m - 1) * percentile) / 100.0;
    const std::size_t k = static_cast<std::size_t>(std::floor(pos));
    const double f = pos - static_cast<double>(k);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    const double a_k = values[k];
    if (f == 0.0 || k + 1 == m) return a_k;
    // After the selection every element past k is >= a[k]; the smallest of
    // them is the (k+1)-th order statistic.
    const double a_k1 =
        *std::min_element(values.begin() + static_cast<std::ptrdiff_t>(k) + 1, values.end());
    const double gap = a_k1 - a_k;
    // Two finite neighbours further apart than the largest double: their gap
    // overflows (and a_k + f * gap would be infinite, above every target), so
    // the weighted sum of the two, which cannot overflow, is taken instead.
    if (std::isinf(gap)) return (1.0 - f) * a_k + f * a_k1;
    return a_k + f * gap;
}

// Truncation toward zero of a 32-bit conversion gives 0 or 1 exactly when the
// truncated value is 0 or 1; testing the truncated double avoids the undefined
// conversion of values outside the int32 range.
int truncated_label(double y) {
    const double t = std::trunc(y);
    if (t == 0.0) return 0;
    if (t == 1.0) return 1;
    return -1;
}

}  // namespace

PreprocessResult preprocess_data(const double* x, const double* y, std::size_t n,
                                 std::optional<double> value, double percentile) {
    PreprocessResult r;
    r.n_input = n;
    if (n == 0) return r;

    // The first pass classifies every row (x is tested first) and learns what
    // the labelling needs: whether every kept y is 0 or 1, and whether a kept
    // x is -0.0, whose sign the sort does not carry. Nothing is copied yet.
    std::vector<double> missing_x_y;  // y of the rows whose x is NaN
    std::size_t kept = 0;
    bool binary = true;
    bool negative_zero = false;
    for (std::size_t i = 0; i < n; ++i) {
        const double xi = x[i];
        const double yi = y[i];
        if (is_finite(xi)) {
            if (is_finite(yi)) {
                ++kept;
                // -0.0 == 0.0, so a negative zero counts as a binary label.
                binary &= (yi == 0.0) | (yi == 1.0);
                negative_zero |= (xi == 0.0) & std::signbit(xi);
            } else if (std::isnan(yi)) {
                ++r.n_missing_y;
            } else {
                ++r.n_non_finite;
            }
        } else if (std::isnan(xi)) {
            if (is_finite(yi)) {
                ++r.n_missing_x;
                missing_x_y.push_back(yi);
            } else if (std::isnan(yi)) {
                ++r.n_missing_both;
            } else {
                ++r.n_non_finite;
            }
        } else {
            ++r.n_non_finite;
        }
    }

    double threshold = 0.0;
    if (binary) {
        r.target_was_binary = true;
        for (double v : missing_x_y) {
            const int label = truncated_label(v);
            if (label < 0) continue;
            ++r.missing_count;
            if (label == 0) {
                ++r.missing_c0;
            } else {
                ++r.missing_c1;
            }
        }
    } else {
        r.target_was_binary = false;
        if (value.has_value()) {
            threshold = *value;
        } else {
            std::vector<double> kept_y;
            kept_y.reserve(kept);
            for (std::size_t i = 0; i < n; ++i) {
                const double yi = y[i];
                if (is_finite(x[i]) && is_finite(yi)) kept_y.push_back(yi);
            }
            // Empty only when another thread emptied the input since the
            // first pass; any threshold then labels the nothing that is left.
            threshold = kept_y.empty() ? 0.0 : percentile_by_selection(kept_y, percentile);
        }
        for (double v : missing_x_y) {
            ++r.missing_count;
            if (v > threshold) {
                ++r.missing_c1;
            } else {
                ++r.missing_c0;
            }
        }
    }
    r.threshold = threshold;

    // The second pass labels the kept rows and writes the key of each x, those
    // of label 0 from the front of the buffer and those of label 1 from its
    // back. Both slots are written and only one cursor moves, so the label
    // never steers a branch; a slot written in passing is overwritten later.
    // The caller's arrays may change under another thread between the two
    // passes, so the buffers sized by the first pass bound the second: it
    // stops when they are full, and a shortfall is closed up below.
    std::vector<double> keys = large_vector<double>(kept);
    std::vector<double> spare = large_vector<double>(kept);
    std::vector<char> zero_signs[2];  // sign of each kept zero per label, in input order
    std::size_t front = 0;
    std::size_t back = kept;
    for (std::size_t i = 0; i < n && front != back; ++i) {
        const double xi = x[i];
        const double yi = y[i];
        if (!(is_finite(xi) && is_finite(yi))) continue;
        const bool one = binary ? yi == 1.0 : yi > threshold;
        const uint64_t key = ordered_key(xi);
        store_key(&keys[front], key);
        store_key(&keys[back - 1], key);
        front += static_cast<std::size_t>(!one);
        back -= static_cast<std::size_t>(one);
        if (negative_zero && xi == 0.0) zero_signs[one].push_back(std::signbit(xi));
    }
    if (front != back) {
        // Fewer rows were kept than the first pass counted: the labels 1
        // move down next to the labels 0.
        std::copy(keys.begin() + static_cast<std::ptrdiff_t>(back), keys.end(),
                  keys.begin() + static_cast<std::ptrdiff_t>(front));
        kept -= back - front;
        keys.resize(kept);
        spare.resize(kept);
    }
    const std::size_t n0 = front;
    const std::size_t n1 = kept - n0;

    // Sorting each label on its own and walking the two together gives the
    // order by x, and by label among equal x: a tie goes to label 0.
    const double* sorted = sort_key_ranges(keys.data(), spare.data(), kept, n0);
    std::vector<double>& out = sorted == keys.data() ? spare : keys;
    reserve_large(r.y, kept);
    r.y.resize(kept);
    double* ox = out.data();
    int32_t* oy = r.y.data();
    const double* zeros_of = sorted;
    const double* ones_of = sorted + n0;
    std::size_t i0 = 0;
    std::size_t i1 = 0;
    std::size_t o = 0;
    while (i0 < n0 && i1 < n1) {
        const uint64_t k0 = load_key(zeros_of + i0);
        const uint64_t k1 = load_key(ones_of + i1);
        const bool take_one = k1 < k0;
        ox[o] = value_of_key(take_one ? k1 : k0);
        oy[o] = static_cast<int32_t>(take_one);
        i0 += static_cast<std::size_t>(!take_one);
        i1 += static_cast<std::size_t>(take_one);
        ++o;
    }
    for (; i0 < n0; ++i0, ++o) {
        ox[o] = value_of_key(load_key(zeros_of + i0));
        oy[o] = 0;
    }
    for (; i1 < n1; ++i1, ++o) {
        ox[o] = value_of_key(load_key(ones_of + i1));
        oy[o] = 1;
    }

    // Zeros came out as 0.0. The sort is stable within each label, so the
    // zeros of one label take that label's signs in input order.
    if (negative_zero) {
        const auto range = std::equal_range(ox, ox + kept, 0.0);
        std::size_t taken[2] = {0, 0};
        for (double* z = range.first; z != range.second; ++z) {
            const int32_t label = oy[z - ox];
            // Each zero written above recorded its sign, so taken never
            // passes the signs of its label.
            if (zero_signs[label][taken[label]++]) *z = -0.0;
        }
    }

    r.x = std::move(out);
    r.n_used = kept;
    return r;
}

}  // namespace tessaline
