// Results rebuilt from rows counted by distinct value. Every result here is a
// function of how many rows of each class hold each value, so counts taken on
// separate parts of a data set and summed give the same bits as one pass over
// all rows. Two things are not functions of the counts: the sign of a zero
// (0.0 and -0.0 are one value, kept as 0.0 here, while a pass over rows keeps
// whichever came first) and a mean that the row-wise code sums in input order.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <numeric>
#include <stdexcept>
#include <string>

#include "count_index.hpp"
#include "counted_rows.hpp"
#include "numeric.hpp"
#include "raw_summary.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// One counted row of a merge: a value with its class counts.
struct CountedValue {
    double value;
    int64_t c0;
    int64_t c1;
};

// Sorts the entries by value and sums the runs of equal values into `out`;
// entries without rows are dropped. Sums that leave int64 are refused, the
// total over all values included, so that every function reading the merge
// can add its counts up.
ValueCounts sum_runs(std::vector<CountedValue>& entries) {
    constexpr const char* where = "merge_value_counts";
    const auto by_value = [](const CountedValue& a, const CountedValue& b) {
        return a.value < b.value;
    };
    // Counts merged before come in order: checking costs a read, not a sort.
    if (!std::is_sorted(entries.begin(), entries.end(), by_value)) {
        std::sort(entries.begin(), entries.end(), by_value);
    }
    ValueCounts out;
    out.value.reserve(entries.size());
    out.c0.reserve(entries.size());
    out.c1.reserve(entries.size());
    int64_t rows = 0;
    for (std::size_t i = 0; i < entries.size();) {
        std::size_t j = i;
        int64_t c0 = 0;
        int64_t c1 = 0;
        for (; j < entries.size() && entries[j].value == entries[i].value; ++j) {
            c0 = add_counts(c0, entries[j].c0, where);
            c1 = add_counts(c1, entries[j].c1, where);
        }
        rows = add_counts(rows, add_counts(c0, c1, where), where);
        if (c0 + c1 > 0) {
            // +0.0 for either zero, whatever order the parts came in.
            out.value.push_back(entries[i].value == 0.0 ? 0.0 : entries[i].value);
            out.c0.push_back(c0);
            out.c1.push_back(c1);
        }
        i = j;
    }
    return out;
}

// Every function below reads counts as a merge leaves them; anything else
// (unsorted or repeated values, NaN, negative counts, columns of different
// lengths, more rows than int64 counts) would make its positions
// meaningless, so it is refused. Returns the rows behind the counts: every
// partial sum of the counts is at most that, so none can overflow.
template <typename Counts>
int64_t require_merged(const Counts& counts, const char* where) {
    const std::size_t m = counts.value.size();
    if (counts.c0.size() != m || counts.c1.size() != m) {
        throw std::invalid_argument(std::string(where) +
                                    ": value, c0 and c1 must have the same length");
    }
    int64_t rows = 0;
    for (std::size_t j = 0; j < m; ++j) {
        const bool ascending =
            j == 0 ? !std::isnan(counts.value[0]) : counts.value[j - 1] < counts.value[j];
        if (!ascending || counts.c0[j] < 0 || counts.c1[j] < 0) {
            throw std::invalid_argument(
                std::string(where) +
                ": values must be ascending and distinct (not NaN) and counts not negative");
        }
        rows = add_counts(add_counts(rows, counts.c0[j], where), counts.c1[j], where);
    }
    return rows;
}

// The counters of the rows around the counts must describe them: the kept
// rows are the rows behind the counts, and the missing rows are split into
// their two classes (no more events than rows). Otherwise every share and
// event rate of the summary would be read over the wrong rows.
void require_counters_match(const PreprocessResult& counters, int64_t kept, const char* where) {
    std::size_t missing = 0;
    if (__builtin_add_overflow(counters.missing_c0, counters.missing_c1, &missing) ||
        missing != counters.missing_count) {
        throw std::invalid_argument(std::string(where) +
                                    ": missing_c0 and missing_c1 must add up to missing_count");
    }
    if (counters.n_used != static_cast<std::size_t>(kept)) {
        throw std::invalid_argument(std::string(where) +
                                    ": n_used must equal the rows behind the counts");
    }
    add_counts(kept, counters.missing_count, where);
}

double share(int64_t part, int64_t whole) {
    // Counts are never negative, so the unsigned share reads them unchanged.
    return tessaline::share(static_cast<std::size_t>(part), static_cast<std::size_t>(whole));
}

}  // namespace

bool is_merged(const ValueCounts& counts) {
    const std::size_t m = counts.value.size();
    if (counts.c0.size() != m || counts.c1.size() != m) return false;
    int64_t rows = 0;
    for (std::size_t j = 0; j < m; ++j) {
        const double v = counts.value[j];
        // NaN fails the comparison; -0.0 is kept as 0.0 by a merge.
        const bool ascending = j == 0 ? !std::isnan(v) : counts.value[j - 1] < v;
        if (!ascending || (v == 0.0 && std::signbit(v)) || counts.c0[j] < 0 || counts.c1[j] < 0 ||
            __builtin_add_overflow(rows, counts.c0[j], &rows) ||
            __builtin_add_overflow(rows, counts.c1[j], &rows) || counts.c0[j] + counts.c1[j] == 0) {
            return false;
        }
    }
    return true;
}

ValueCounts merge_value_counts(const std::vector<ValueCounts>& parts) {
    // Counts merged before are their own merge: a read, not a sort and a copy
    // entry by entry.
    if (parts.size() == 1 && is_merged(parts[0])) return parts[0];
    std::size_t size = 0;
    for (const ValueCounts& p : parts) size += p.value.size();
    std::vector<CountedValue> entries;
    entries.reserve(size);
    for (const ValueCounts& p : parts) {
        if (p.c0.size() != p.value.size() || p.c1.size() != p.value.size()) {
            throw std::invalid_argument(
                "merge_value_counts: value, c0 and c1 must have the same length");
        }
        for (std::size_t j = 0; j < p.value.size(); ++j) {
            if (std::isnan(p.value[j]) || p.c0[j] < 0 || p.c1[j] < 0) {
                throw std::invalid_argument(
                    "merge_value_counts: values must not be NaN and counts not negative");
            }
            entries.push_back(CountedValue{p.value[j], p.c0[j], p.c1[j]});
        }
    }
    return sum_runs(entries);
}

std::vector<Boundary> boundaries_from_counts(const ValueCounts& counts) {
    require_merged(counts, "boundaries_from_counts");
    return boundary_table<Boundary>(counts);
}

MdlpFullRawResult fit_mdlp_full_from_counts(const ValueCounts& counts,
                                            const PreprocessResult& counters,
                                            const TessalineParams& params,
                                            SummaryStatistic representative) {
    constexpr const char* where = "mdlp_full_from_counts";
    require_counters_match(counters, require_merged(counts, where), where);
    MdlpFullRawResult r;
    const std::vector<Boundary> B = boundary_table<Boundary>(counts);
    if (!B.empty()) {
        r.mdlp = compute_splits(B, params);
        r.intervals = mdlp_intervals(B, r.mdlp);
    }
    RowCursor<ValueCounts> cursor{counts, 0, counts.value.size()};
    int64_t first = 0;  // rows before the interval
    const int64_t denominator = static_cast<int64_t>(counters.n_used + counters.missing_count);
    r.summary.reserve(r.intervals.size() + (counters.missing_count > 0 ? 1 : 0));
    std::size_t from = 0;
    for (const SummaryInterval& interval : r.intervals) {
        // A value equal to `right` belongs to this interval.
        std::size_t to = counts.value.size();
        if (is_finite(interval.right)) {
            to = static_cast<std::size_t>(
                std::upper_bound(counts.value.begin() + static_cast<std::ptrdiff_t>(from),
                                 counts.value.end(), interval.right) -
                counts.value.begin());
        }
        const int64_t rows = rows_of(counts, from, to);
        if (rows != interval.total) {
            throw std::logic_error("fit_mdlp_full: el resumen no coincide con los segmentos MDLP");
        }
        BinningSummary row;
        row.left = interval.left;
        row.right = interval.right;
        row.count = static_cast<std::size_t>(rows);
        row.percentage = share(rows, denominator);
        row.c0 = static_cast<std::size_t>(interval.c0);
        row.c1 = static_cast<std::size_t>(interval.c1);
        row.event_rate = interval.p1;
        if (representative == SummaryStatistic::Mean) {
            row.representative = mean_of_rows(counts, from, to);
        } else if (rows % 2 == 1) {
            // The middle row itself, as the row-wise median reads it.
            row.representative = value_at(cursor, first + rows / 2);
        } else if (rows > 0) {
            const double a = value_at(cursor, first + rows / 2 - 1);
            const double b = value_at(cursor, first + rows / 2);
            row.representative = a + (b - a) * 0.5;
        } else {
            row.representative = kNaN;
        }
        r.summary.push_back(row);
        from = to;
        first += rows;
    }
    close_raw_summary(counters, r);
    return r;
}

double percentile_from_counts(const ValueCounts& counts, double percentile) {
    // NaN fails both comparisons: its position would index no row.
    if (!(percentile >= 0.0 && percentile <= 100.0)) {
        throw std::invalid_argument("percentile_from_counts: percentile must be between 0 and 100");
    }
    require_merged(counts, "percentile_from_counts");
    const FinitePositions finite = finite_positions(counts);
    const int64_t size = rows_of(counts, finite.first, finite.last);
    if (size == 0) return 0.0;
    // Linear interpolation between the order statistics around position
    // (n - 1) * p / 100, in the order of operations of NumPy's percentile, so
    // that a threshold counted on a cluster equals the one of the rows.
    const double q = percentile / 100.0;
    const double position = static_cast<double>(size - 1) * q;
    if (position >= static_cast<double>(size - 1)) return counts.value[finite.last - 1];
    if (position < 0.0) return counts.value[finite.first];
    const auto below = static_cast<int64_t>(std::floor(position));
    const double gamma = position - static_cast<double>(below);
    RowCursor<ValueCounts> cursor{counts, finite.first, finite.last};
    const double a = value_at(cursor, below);
    const double b = value_at(cursor, below + 1);
    const double difference = b - a;
    return gamma >= 0.5 ? b - difference * (1.0 - gamma) : a + difference * gamma;
}

std::vector<double> quantile_splits_from_counts(const ValueCounts& counts, std::size_t n_bins) {
    require_merged(counts, "quantile_splits_from_counts");
    return quantile_cuts(counts, n_bins);
}

namespace {

// The summary row of a bin among n rows.
template <typename Counts>
BinningSummary summary_row(const CountedBin<Counts>& bin, int64_t n) {
    const int64_t c = bin.zeros + bin.ones;
    return BinningSummary{bin.left,
                          bin.right,
                          static_cast<std::size_t>(c),
                          share(c, n),
                          static_cast<std::size_t>(bin.zeros),
                          static_cast<std::size_t>(bin.ones),
                          share(bin.ones, c),
                          bin.representative};
}

// The summary rows of bins among `counted` rows, with no missing row.
template <typename Counts>
std::vector<BinningSummary> summary_rows(const std::vector<CountedBin<Counts>>& bins,
                                         int64_t counted) {
    std::vector<BinningSummary> rows;
    rows.reserve(bins.size());
    for (const CountedBin<Counts>& bin : bins) rows.push_back(summary_row(bin, counted));
    return rows;
}

// The summary of bins of checked counts: `counted` rows behind them and the
// missing rows of each class; bins_of() gives the bins once the missing
// counts are known to be sound.
template <typename Bins>
std::vector<BinningSummary> summary_of_bins(int64_t counted, int64_t missing_c0, int64_t missing_c1,
                                            std::size_t n_splits, Bins bins_of) {
    constexpr const char* where = "summary_binary_from_counts";
    if (missing_c0 < 0 || missing_c1 < 0) {
        throw std::invalid_argument(
            "summary_binary_from_counts: missing counts must not be negative");
    }
    const int64_t n = add_counts(add_counts(counted, missing_c0, where), missing_c1, where);
    std::vector<BinningSummary> rows;
    rows.reserve(n_splits + 2);
    for (const auto& bin : bins_of()) rows.push_back(summary_row(bin, n));
    const int64_t missing = missing_c0 + missing_c1;
    if (missing > 0) {
        rows.push_back(BinningSummary{kNaN, kNaN, static_cast<std::size_t>(missing),
                                      share(missing, n), static_cast<std::size_t>(missing_c0),
                                      static_cast<std::size_t>(missing_c1),
                                      share(missing_c1, missing), kNaN});
    }
    return rows;
}

template <typename Counts>
std::vector<BinningSummary> summary_of_counts(const Counts& counts, int64_t counted,
                                              int64_t missing_c0, int64_t missing_c1,
                                              const std::vector<double>& splits,
                                              SummaryStatistic stat) {
    return summary_of_bins(counted, missing_c0, missing_c1, splits.size(),
                           [&] { return bins_at_cuts(counts, splits, stat); });
}

}  // namespace

std::vector<BinningSummary> summarize_binary_from_counts(const ValueCounts& counts,
                                                         int64_t missing_c0, int64_t missing_c1,
                                                         const std::vector<double>& splits,
                                                         SummaryStatistic stat) {
    const int64_t counted = require_merged(counts, "summary_binary_from_counts");
    return summary_of_counts(counts, counted, missing_c0, missing_c1, splits, stat);
}

std::vector<BinningSummary> summarize_binary_from_count_arrays(
    const double* value, const int64_t* c0, const int64_t* c1, std::size_t m, int64_t missing_c0,
    int64_t missing_c1, const std::vector<double>& splits, SummaryStatistic stat) {
    const ValueCountsView counts{{value, m}, {c0, m}, {c1, m}};
    const int64_t counted = require_merged(counts, "summary_binary_from_counts");
    return summary_of_counts(counts, counted, missing_c0, missing_c1, splits, stat);
}

std::vector<BinningSummary> summarize_binary_from_indexed_counts(
    const double* value, const int64_t* c0, const int64_t* c1, std::size_t m,
    const int64_t* index_c0, const int64_t* index_c1, std::size_t k, int64_t missing_c0,
    int64_t missing_c1, const std::vector<double>& splits) {
    if (k != index_entries(m)) {
        throw std::invalid_argument(
            "summary_binary_from_counts: the index must hold one entry per 64 values, and one "
            "more");
    }
    const ValueCountsView counts{{value, m}, {c0, m}, {c1, m}};
    const CountIndexView index{{index_c0, k}, {index_c1, k}};
    const ClassRows all = rows_before(counts, index, m);
    return summary_of_bins(all.c0 + all.c1, missing_c0, missing_c1, splits.size(),
                           [&] { return indexed_bins(counts, index, splits, true); });
}

std::vector<BinningSummary> summarize_counted_bins(const std::vector<CountedBin<ValueCounts>>& bins,
                                                   int64_t counted) {
    return summary_rows(bins, counted);
}

std::vector<BinningSummary> summarize_counted_bins(
    const std::vector<CountedBin<ValueCountsView>>& bins, int64_t counted) {
    return summary_rows(bins, counted);
}

std::vector<BinningSummary> summarize_counted_bins(
    const std::vector<CountedBin<WholeCountsView>>& bins, int64_t counted) {
    return summary_rows(bins, counted);
}

LorenzCurve lorenz_curve_from_counts(const ValueCounts& counts) {
    require_merged(counts, "lorenz_curve_from_counts");
    return lorenz_of_counts(counts);
}

}  // namespace tessaline
