// Reading the rows behind counts by distinct value as if they were sorted:
// the order statistics, medians and quantile cut points of rows counted
// (ValueCounts) or weighted (WeightedValueCounts). One code for both: a count
// is a number of rows or a sum of weights, and a position among the rows is
// read alike, so integer weights read exactly as the rows repeated.
// Not part of the public header.
#ifndef TESSALINE_COUNTED_ROWS_HPP
#define TESSALINE_COUNTED_ROWS_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

// Counts read in place from arrays that another owner keeps (the package's
// NumPy arrays), with the members the functions below read of a ValueCounts.
template <typename T>
struct CountSpan {
    const T* data;
    std::size_t length;
    std::size_t size() const { return length; }
    const T& operator[](std::size_t i) const { return data[i]; }
    const T* begin() const { return data; }
    const T* end() const { return data + length; }
};

struct ValueCountsView {
    CountSpan<double> value;
    CountSpan<int64_t> c0;
    CountSpan<int64_t> c1;
};

// Weighted counts read in place, with the records behind each value.
struct WeightedSpans {
    CountSpan<double> value;
    CountSpan<double> c0;
    CountSpan<double> c1;
    CountSpan<int64_t> rows;
};

inline WeightedSpans spans_of(const WeightedCountsView& counts) {
    return WeightedSpans{{counts.value, counts.size},
                         {counts.c0, counts.size},
                         {counts.c1, counts.size},
                         {counts.rows, counts.size}};
}

// The type of one count of a table: int64_t rows or double weights.
template <typename Counts>
using CountOf = std::decay_t<decltype(std::declval<const Counts&>().c0[0])>;

// The finite values of merged counts are one range of positions, [first,
// last): the infinite ones sort to its two ends.
struct FinitePositions {
    std::size_t first;
    std::size_t last;
};

template <typename Counts>
FinitePositions finite_positions(const Counts& counts) {
    std::size_t first = 0;
    std::size_t last = counts.value.size();
    while (first < last && !is_finite(counts.value[first])) ++first;
    while (last > first && !is_finite(counts.value[last - 1])) --last;
    return FinitePositions{first, last};
}

// The rows (or weight) of the values [from, to).
template <typename Counts>
CountOf<Counts> rows_of(const Counts& counts, std::size_t from, std::size_t to) {
    CountOf<Counts> rows = 0;
    for (std::size_t j = from; j < to; ++j) rows += counts.c0[j] + counts.c1[j];
    return rows;
}

// Reads the value at a position among the rows of the values [j, last) in
// ascending order. The positions asked of one cursor never decrease, so a
// whole sweep of them is one pass over the counts, with no table of row
// starts; a position past the last row reads the last value, one before the
// first row the first value.
template <typename Counts>
struct RowCursor {
    const Counts& counts;
    std::size_t j;
    std::size_t last;
    CountOf<Counts> before = 0;  // rows (weight) of the values before j
};

template <typename Counts, typename Position>
double value_at(RowCursor<Counts>& cursor, Position at) {
    const Counts& counts = cursor.counts;
    while (cursor.j + 1 < cursor.last &&
           at >= cursor.before + counts.c0[cursor.j] + counts.c1[cursor.j]) {
        cursor.before += counts.c0[cursor.j] + counts.c1[cursor.j];
        ++cursor.j;
    }
    return counts.value[cursor.j];
}

// The median of the `size` rows from position `first` on, by the quantile
// rule: a single value (or less than one row of weight) is itself,
// otherwise (hi - lo) * (pos - lo) + lo.
// value_at(position) reads the value at a position among the rows.
template <typename Count, typename ValueAt>
double median_at(Count first, Count size, ValueAt value_at) {
    if (size == 0) return std::numeric_limits<double>::quiet_NaN();
    if (size <= 1) return value_at(first);
    const double pos = static_cast<double>(size - 1) * 0.5;
    const auto lo = static_cast<int64_t>(std::floor(pos));
    const auto hi = static_cast<int64_t>(std::ceil(pos));
    const double at_lo = value_at(first + lo);
    const double at_hi = value_at(first + hi);
    return (at_hi - at_lo) * (pos - static_cast<double>(lo)) + at_lo;
}

template <typename Counts>
double median_of_rows(RowCursor<Counts>& cursor, CountOf<Counts> first, CountOf<Counts> size) {
    return median_at(first, size, [&](auto at) { return value_at(cursor, at); });
}

// The linear quantile p of the `size` rows read by `cursor` (positions from
// 0), as linear_quantile reads a sorted vector.
template <typename Counts>
double quantile_of_rows(RowCursor<Counts>& cursor, CountOf<Counts> size, double p) {
    const double pos = std::max(static_cast<double>(size - 1) * p, 0.0);
    const auto lo = static_cast<int64_t>(std::floor(pos));
    const auto hi = static_cast<int64_t>(std::ceil(pos));
    const double at_lo = value_at(cursor, lo);
    return (value_at(cursor, hi) - at_lo) * (pos - static_cast<double>(lo)) + at_lo;
}

// Quantile cut points i / n_bins of the `size` finite rows behind checked
// counts, their values from `lowest` to `highest`; below(pos) and above(pos)
// read the value at a position among those rows, each at rising positions.
template <typename Count, typename Lower, typename Upper>
std::vector<double> cuts_at_quantiles(std::size_t n_bins, Count size, double lowest, double highest,
                                      Lower below, Upper above) {
    std::vector<double> cuts;
    if (n_bins == 1 || lowest == highest) return cuts;
    // More cuts than a vector can hold is short of memory, as from rows.
    if (n_bins - 1 > cuts.max_size()) throw std::bad_alloc();
    cuts.reserve(n_bins - 1);
    for (std::size_t i = 1; i < n_bins; ++i) {
        const double p = static_cast<double>(i) / static_cast<double>(n_bins);
        // A position below the first row (less than one row of weight) reads
        // the smallest value; with rows it never is.
        const double pos = std::max(static_cast<double>(size - 1) * p, 0.0);
        const auto lo = static_cast<int64_t>(std::floor(pos));
        const auto hi = static_cast<int64_t>(std::ceil(pos));
        const double at_lo = below(lo);
        const double q = (above(hi) - at_lo) * (pos - static_cast<double>(lo)) + at_lo;
        // Repeated quantiles collapse, and one equal to the maximum is no cut.
        if (is_finite(q) && q >= lowest && q < highest && (cuts.empty() || q > cuts.back())) {
            cuts.push_back(q);
        }
    }
    return cuts;
}

// The checks of quantile cut points over counts, in this order: n_bins at
// least 1, then finite rows (`size`) to cut.
inline void check_n_bins(std::size_t n_bins) {
    if (n_bins == 0) throw std::invalid_argument("binning: n_bins debe ser al menos 1");
}

template <typename Count>
void check_finite_rows(Count size) {
    if (!(size > 0)) throw std::invalid_argument("binning: x no contiene valores finitos");
}

// Quantile cut points i / n_bins of the finite values behind checked counts.
template <typename Counts>
std::vector<double> quantile_cuts(const Counts& counts, std::size_t n_bins) {
    check_n_bins(n_bins);
    const FinitePositions finite = finite_positions(counts);
    const CountOf<Counts> size = rows_of(counts, finite.first, finite.last);
    check_finite_rows(size);
    // The lower and the upper order statistics each rise with the quantile,
    // though an upper one can pass the next lower one: a cursor for each.
    RowCursor<Counts> lower{counts, finite.first, finite.last};
    RowCursor<Counts> upper{counts, finite.first, finite.last};
    return cuts_at_quantiles(
        n_bins, size, counts.value[finite.first], counts.value[finite.last - 1],
        [&](int64_t at) { return value_at(lower, at); },
        [&](int64_t at) { return value_at(upper, at); });
}

// The Lorenz curve of scores counted (or weighted) by class, checked by the caller.
template <typename Counts>
LorenzCurve lorenz_of_counts(const Counts& counts) {
    using Count = CountOf<Counts>;
    const Count n0 = std::accumulate(counts.c0.begin(), counts.c0.end(), Count{0});
    const Count n1 = std::accumulate(counts.c1.begin(), counts.c1.end(), Count{0});
    if (n0 == 0 || n1 == 0) throw std::invalid_argument("lorenz_curve: se necesitan ambas clases");
    LorenzCurve curve;
    curve.points.reserve(counts.value.size());
    const double total0 = static_cast<double>(n0);
    const double total1 = static_cast<double>(n1);
    Count c0 = 0;
    Count c1 = 0;
    double f0_prev = 0.0;
    double f1_prev = 0.0;
    double area = 0.0;
    for (std::size_t j = 0; j < counts.value.size(); ++j) {
        if (counts.c0[j] + counts.c1[j] == 0) continue;
        c0 += counts.c0[j];
        c1 += counts.c1[j];
        const double f0 = static_cast<double>(c0) / total0;
        const double f1 = static_cast<double>(c1) / total1;
        curve.points.push_back(LorenzPoint{counts.value[j], f0, f1});
        // The trapezoid under the step from the previous point.
        area += ((f0 - f0_prev) * (f1_prev + f1)) * 0.5;
        f0_prev = f0;
        f1_prev = f1;
    }
    curve.auc = 1.0 - area;
    curve.gini = (curve.auc + curve.auc) - 1.0;
    return curve;
}

// The boundary table (Boundary of rows, WeightedBoundary of weights) of
// merged counts, which the caller has checked.
template <typename Row, typename Counts>
std::vector<Row> boundary_table(const Counts& counts) {
    std::vector<Row> table;
    const std::size_t m = counts.value.size();
    if (m == 0) return table;
    using Count = CountOf<Counts>;
    table.push_back(Row{counts.value[0], Count{0}, Count{0}});
    // Sorted rows hold label 0 before label 1 within a value, so a value ends
    // on class 1 when it has any, and starts on class 0 when it has any; a
    // cut goes between two values exactly where those two labels differ.
    Count zeros = 0;
    Count ones = 0;
    for (std::size_t j = 0; j < m; ++j) {
        if (j > 0) {
            const bool ends_on_one = counts.c1[j - 1] > 0;
            const bool starts_on_one = counts.c0[j] == 0;
            if (ends_on_one != starts_on_one) {
                table.push_back(
                    Row{cut_between(counts.value[j - 1], counts.value[j]), zeros, ones});
            }
        }
        zeros += counts.c0[j];
        ones += counts.c1[j];
    }
    table.push_back(Row{counts.value[m - 1], zeros, ones});
    return table;
}

// The mean of the values [from, to): each value added once per row, in
// ascending order, over the rows (NaN without rows). Rows counted in a
// ValueCounts or a view of one; weighted rows have their own overload.
template <typename Counts>
double mean_of_rows(const Counts& counts, std::size_t from, std::size_t to) {
    double sum = 0.0;
    int64_t rows = 0;
    for (std::size_t j = from; j < to; ++j) {
        const int64_t c = counts.c0[j] + counts.c1[j];
        for (int64_t r = 0; r < c; ++r) sum += counts.value[j];
        rows += c;
    }
    return rows == 0 ? std::numeric_limits<double>::quiet_NaN() : sum / static_cast<double>(rows);
}

// The same of weighted rows (owned or read in place): each value times its
// weight, in ascending order, over the weight.
template <typename Weighted>
double weighted_mean_of_rows(const Weighted& counts, std::size_t from, std::size_t to) {
    double sum = 0.0;
    double weight = 0.0;
    for (std::size_t j = from; j < to; ++j) {
        const double w = counts.c0[j] + counts.c1[j];
        sum += counts.value[j] * w;
        weight += w;
    }
    return weight == 0.0 ? std::numeric_limits<double>::quiet_NaN() : sum / weight;
}

// The records behind the values [from, to): the rows, or those of positive
// weight.
template <typename Counts>
int64_t records_of(const Counts& counts, std::size_t from, std::size_t to) {
    return rows_of(counts, from, to);
}

template <typename Weighted>
int64_t weighted_records_of(const Weighted& counts, std::size_t from, std::size_t to) {
    int64_t records = 0;
    for (std::size_t j = from; j < to; ++j) records += counts.rows[j];
    return records;
}

inline double mean_of_rows(const WeightedValueCounts& counts, std::size_t from, std::size_t to) {
    return weighted_mean_of_rows(counts, from, to);
}

inline double mean_of_rows(const WeightedSpans& counts, std::size_t from, std::size_t to) {
    return weighted_mean_of_rows(counts, from, to);
}

inline int64_t records_of(const WeightedValueCounts& counts, std::size_t from, std::size_t to) {
    return weighted_records_of(counts, from, to);
}

inline int64_t records_of(const WeightedSpans& counts, std::size_t from, std::size_t to) {
    return weighted_records_of(counts, from, to);
}

// One interval of a summary over cut points: its edges, the rows (weight) of
// each class in it, its records and its representative value.
template <typename Counts>
struct CountedBin {
    double left;
    double right;
    CountOf<Counts> zeros;
    CountOf<Counts> ones;
    int64_t records;
    double representative;
};

// The end of interval b of ascending cut points over counts (it holds the
// values above cut b - 1 up to cut b, that cut included), searched from
// `from`, the end of interval b - 1: the first value above cut b, or past the
// last value for the last interval.
template <typename Counts>
std::size_t interval_end(const Counts& counts, const std::vector<double>& splits, std::size_t b,
                         std::size_t from) {
    if (b == splits.size()) return counts.value.size();
    return static_cast<std::size_t>(
        std::upper_bound(counts.value.begin() + static_cast<std::ptrdiff_t>(from),
                         counts.value.end(), splits[b]) -
        counts.value.begin());
}

// The intervals of ascending cut points over checked counts: interval b
// holds the values above cut b - 1 up to cut b, that cut included. Each
// median is read among the interval's own rows, so that a sum of weights
// rounded apart from a running one never reads a neighbour's value.
template <typename Counts>
std::vector<CountedBin<Counts>> bins_at_cuts(const Counts& counts,
                                             const std::vector<double>& splits,
                                             SummaryStatistic stat) {
    using Count = CountOf<Counts>;
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const std::size_t m = splits.size();
    std::vector<CountedBin<Counts>> bins;
    bins.reserve(m + 1);
    std::size_t from = 0;
    for (std::size_t b = 0; b <= m; ++b) {
        const std::size_t to = interval_end(counts, splits, b, from);
        Count zeros = 0;
        Count ones = 0;
        // Rows counted (not weighted) are their own records, and their mean
        // adds each value once per row in the same pass.
        constexpr bool rows = std::is_same_v<Count, int64_t>;
        const bool mean_here = rows && stat == SummaryStatistic::Mean;
        double sum = 0.0;
        for (std::size_t j = from; j < to; ++j) {
            zeros += counts.c0[j];
            ones += counts.c1[j];
            if (mean_here) {
                const Count c = counts.c0[j] + counts.c1[j];
                for (Count r = 0; r < c; ++r) sum += counts.value[j];
            }
        }
        double representative = std::numeric_limits<double>::quiet_NaN();
        if (mean_here) {
            // As mean_of_rows reads them.
            if (zeros + ones > 0) representative = sum / static_cast<double>(zeros + ones);
        } else if (stat == SummaryStatistic::Mean) {
            representative = mean_of_rows(counts, from, to);
        } else if (to > from) {
            RowCursor<Counts> cursor{counts, from, to};
            representative = median_of_rows(cursor, Count{0}, zeros + ones);
        }
        int64_t records = 0;
        if constexpr (rows) {
            records = zeros + ones;
        } else {
            records = records_of(counts, from, to);
        }
        bins.push_back(CountedBin<Counts>{b == 0 ? -kInfinity : splits[b - 1],
                                          b == m ? kInfinity : splits[b], zeros, ones, records,
                                          representative});
        from = to;
    }
    return bins;
}

// The summary of bins over `counted` rows with no missing row, as
// summarize_binary_from_counts gives it of the same bins.
std::vector<BinningSummary> summarize_counted_bins(const std::vector<CountedBin<ValueCounts>>& bins,
                                                   int64_t counted);
std::vector<BinningSummary> summarize_counted_bins(
    const std::vector<CountedBin<ValueCountsView>>& bins, int64_t counted);

}  // namespace tessaline

#endif  // TESSALINE_COUNTED_ROWS_HPP
