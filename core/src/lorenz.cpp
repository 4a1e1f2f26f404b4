// Lorenz curve of a score against a binary target: the records are walked in
// ascending score order and, after each distinct score, the shares of all
// non-events and of all events seen so far make one point. The area under the
// curve gives the AUC (ties counting one half) and the Gini coefficient.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "large_buffer.hpp"
#include "sort_rows.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

namespace {

// The walk over the sorted scores, handing each point to `emit(point_index,
// value, f0, f1)`; `reserve(kept)` is told first how many points at most
// will come (one per scored record).
template <typename Reserve, typename Emit>
LorenzSummary walk_lorenz(const double* x, const int* y, std::size_t n, Reserve reserve,
                          Emit emit) {
    // Records with a NaN score are dropped before their label is looked at.
    std::size_t kept = 0;
    std::size_t n1 = 0;
    // -0.0 and 0.0 are one score; the point they close carries whichever of
    // the two came first in the input, as a stable sort by score alone would.
    bool seen_zero = false;
    double first_zero = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double xi = x[i];
        if (std::isnan(xi)) continue;
        // Taken as unsigned, a negative label is a large number and fails too.
        const unsigned label = static_cast<unsigned>(y[i]);
        if (label > 1u) throw std::invalid_argument("lorenz_curve: y debe contener solo 0 y 1");
        if (xi == 0.0 && !seen_zero) {
            seen_zero = true;
            first_zero = xi;
        }
        ++kept;
        n1 += label;
    }
    if (kept == n1 || n1 == 0)
        throw std::invalid_argument("lorenz_curve: se necesitan ambas clases");

    // Keys of the non-events from the front of the buffer, of the events from
    // its back; both slots are written and one cursor moves, without a branch
    // on the label. Another thread may have changed x or y since the first
    // pass: the buffers it sized bound this one, which stops when they are
    // full and takes any label other than 1 as 0.
    const auto keys = large_scratch<double>(kept);
    const auto spare = large_scratch<double>(kept);
    std::size_t front = 0;
    std::size_t back = kept;
    for (std::size_t i = 0; i < n && front != back; ++i) {
        const double xi = x[i];
        if (std::isnan(xi)) continue;
        const std::size_t one = static_cast<std::size_t>(y[i] == 1);
        const uint64_t key = ordered_key(xi);
        store_key(&keys[front], key);
        store_key(&keys[back - 1], key);
        front += 1 - one;
        back -= one;
    }
    if (front != back) {
        // Fewer scores than counted: the events move down next to the
        // non-events.
        std::copy(keys.get() + back, keys.get() + kept, keys.get() + front);
        kept -= back - front;
    }
    // The classes as written, which a change since the first pass may have moved.
    const std::size_t n0 = front;
    n1 = kept - n0;
    if (n0 == 0 || n1 == 0) throw std::invalid_argument("lorenz_curve: se necesitan ambas clases");
    // Each class sorted on its own; a group of equal scores is then the run
    // of its key at the head of either class.
    const double* sorted = sort_key_ranges(keys.get(), spare.get(), kept, n0);
    const double* non_events = sorted;
    const double* events = sorted + n0;

    reserve(kept);
    LorenzSummary summary;
    const double total0 = static_cast<double>(n0);
    const double total1 = static_cast<double>(n1);
    std::size_t c0 = 0;
    std::size_t c1 = 0;
    double f0_prev = 0.0;
    double f1_prev = 0.0;
    double area = 0.0;
    while (c0 < n0 || c1 < n1) {
        uint64_t key = c0 < n0 ? load_key(non_events + c0) : load_key(events + c1);
        if (c1 < n1) key = std::min(key, load_key(events + c1));
        while (c0 < n0 && load_key(non_events + c0) == key) ++c0;
        while (c1 < n1 && load_key(events + c1) == key) ++c1;

        const double group_x = value_of_key(key);
        const double f0 = static_cast<double>(c0) / total0;
        const double f1 = static_cast<double>(c1) / total1;
        emit(summary.points++, group_x == 0.0 ? first_zero : group_x, f0, f1);
        // Trapezoid under the segment from the previous point (the origin for
        // the first one); a tied group with both classes is one diagonal step.
        area += ((f0 - f0_prev) * (f1_prev + f1)) * 0.5;
        f0_prev = f0;
        f1_prev = f1;
    }
    summary.auc = 1.0 - area;
    summary.gini = (summary.auc + summary.auc) - 1.0;
    return summary;
}

}  // namespace

LorenzCurve lorenz_curve(const double* x, const int* y, std::size_t n) {
    LorenzCurve curve;
    const LorenzSummary summary = walk_lorenz(
        x, y, n, [&](std::size_t kept) { reserve_large(curve.points, kept); },
        [&](std::size_t, double value, double f0, double f1) {
            curve.points.push_back(LorenzPoint{value, f0, f1});
        });
    curve.auc = summary.auc;
    curve.gini = summary.gini;
    return curve;
}

LorenzSummary lorenz_curve_into(const double* x, const int* y, std::size_t n,
                                const LorenzColumns& out) {
    return walk_lorenz(
        x, y, n, [](std::size_t) {},
        [&](std::size_t i, double value, double f0, double f1) {
            out.value[i] = value;
            out.cumulative_non_event[i] = f0;
            out.cumulative_event[i] = f1;
        });
}

}  // namespace tessaline
