// The pre-bins of the default (optimal) binning of weighted counts in one
// call: the quantile cut points, the cut points that best separate the
// classes, and the weight of each class between them, read in place from the
// counts. Each step gives what the function of the same name on counts gives
// (quantile_splits_weighted, class_split_cuts, the summary's class weights),
// so a column pre-binned here and one pre-binned step by step get the same
// pre-bins, bit for bit.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "class_splits.hpp"
#include "count_index.hpp"
#include "counted_rows.hpp"
#include "numeric.hpp"
#include "weight_strides.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// The counts as a merge leaves them: values ascending and distinct (not NaN),
// weights finite and not negative, records not negative.
void require_merged(const WeightedCountsView& counts) {
    for (std::size_t j = 0; j < counts.size; ++j) {
        const bool ascending =
            j == 0 ? !std::isnan(counts.value[0]) : counts.value[j - 1] < counts.value[j];
        if (!ascending || !(is_finite(counts.c0[j]) && counts.c0[j] >= 0.0) ||
            !(is_finite(counts.c1[j]) && counts.c1[j] >= 0.0) || counts.rows[j] < 0) {
            throw std::invalid_argument(
                "prebins_from_weighted_counts: values must be ascending and distinct (not NaN), "
                "weights finite and not negative");
        }
    }
}

}  // namespace

std::vector<WeightedPrebin> weighted_prebins(const WeightedCountsView& counts,
                                             std::size_t n_prebins, std::size_t max_class_parts,
                                             double min_class_share) {
    require_merged(counts);
    std::vector<WeightedPrebin> prebins;
    if (whole_weighted_prebins(counts, n_prebins, max_class_parts, min_class_share, prebins)) {
        return prebins;
    }
    return merged_weighted_prebins(counts, n_prebins, max_class_parts, min_class_share);
}

// Whole weights whose total is below 2^53 are counts of rows: every sum of
// them is exact in any order, so the pre-bins of the rows repeated, read
// through an index of running sums, are the same bits. Each stride's sums
// run in doubles, exact for such weights, and become the index's counts only
// once the weights are known to be whole.
bool whole_weighted_prebins(const WeightedCountsView& counts, std::size_t n_prebins,
                            std::size_t max_class_parts, double min_class_share,
                            std::vector<WeightedPrebin>& out) {
    constexpr double kTwo52 = 4503599627370496.0;
    const auto whole = [](double w) { return w >= kTwo52 || (w + kTwo52) - kTwo52 == w; };
    const std::size_t m = counts.size;
    bool all_whole = true;
    double total = 0.0;
    for (std::size_t j = 0; j < m; ++j) {
        all_whole &= whole(counts.c0[j]) && whole(counts.c1[j]);
        total += counts.c0[j] + counts.c1[j];
    }
    if (!all_whole || !(total < 9007199254740992.0)) return false;
    CountIndex index;
    index.c0_before.reserve(index_entries(m));
    index.c1_before.reserve(index_entries(m));
    double sum0 = 0.0;
    double sum1 = 0.0;
    for (std::size_t from = 0; from < m; from += kIndexStride) {
        index.c0_before.push_back(static_cast<int64_t>(sum0));
        index.c1_before.push_back(static_cast<int64_t>(sum1));
        const std::size_t to = std::min(m, from + kIndexStride);
        for (std::size_t j = from; j < to; ++j) {
            sum0 += counts.c0[j];
            sum1 += counts.c1[j];
        }
    }
    const auto rows0 = static_cast<int64_t>(sum0);
    const auto rows1 = static_cast<int64_t>(sum1);
    finish_index(index, m, rows0, rows1);
    const WholeCountsView rows{{counts.value, m}, {counts.c0, m}, {counts.c1, m}};
    const std::vector<BinningSummary> bins =
        indexed_prebins(rows, index, rows0 + rows1, n_prebins, max_class_parts, min_class_share);
    out.clear();
    append_weighted_prebins(bins, out);
    return true;
}

namespace {

// What one walk over the finite values of merged counts gathers: their
// weight (value by value from 0, as quantile_cuts adds it), the candidate
// parts of the class splits when asked for (class_split_cuts' sums), and
// the strides of the quantile cursors. Each sum its own chain of additions
// in its own order, all in one pass over the values.
struct FiniteWalk {
    double size = 0.0;
    Candidates parts;
    WeightStrides strides;
};

// Not inlined: inlined, its running sums went through memory, a store and a
// load in the chain of every value.
__attribute__((noinline)) FiniteWalk walk_finite(const WeightedSpans& counts,
                                                 FinitePositions finite, bool with_parts) {
    FiniteWalk walk;
    const std::size_t n = finite.last - finite.first;
    // Without parts, one run of every finite value.
    const std::size_t runs = with_parts ? std::min(n, kMaxCandidates) : std::min(n, std::size_t{1});
    if (with_parts) {
        walk.parts.last.resize(runs);
        walk.parts.s0.assign(runs + 1, 0.0);
        walk.parts.s1.assign(runs + 1, 0.0);
    }
    size_strides(walk.strides, finite.first, finite.last);
    double before = 0.0;
    // The stride's largest threshold as the larger of two, over every other
    // value: the larger of numbers is exact in any order, and the two halves
    // do not wait on one another.
    constexpr double kBelowAny = -std::numeric_limits<double>::infinity();
    double most = kBelowAny;
    double most_other = kBelowAny;
    for (std::size_t g = 0; g < runs; ++g) {
        const std::size_t begin = finite.first + g * n / runs;
        const std::size_t end = finite.first + (g + 1) * n / runs;
        double a = 0.0;
        double b = 0.0;
        for (std::size_t j = begin; j < end;) {
            const std::size_t stop = chunk_end(finite.first, j, end);
            for (; j + 2 <= stop; j += 2) {
                const double zeros = counts.c0[j];
                const double ones = counts.c1[j];
                const double zeros2 = counts.c0[j + 1];
                const double ones2 = counts.c1[j + 1];
                a += zeros;
                a += zeros2;
                b += ones;
                b += ones2;
                most = largest_threshold(zeros, ones, before, most);
                before += zeros + ones;
                most_other = largest_threshold(zeros2, ones2, before, most_other);
                before += zeros2 + ones2;
            }
            if (j < stop) {
                const double zeros = counts.c0[j];
                const double ones = counts.c1[j];
                a += zeros;
                b += ones;
                most = largest_threshold(zeros, ones, before, most);
                before += zeros + ones;
                ++j;
            }
            if (stride_done(finite.first, j)) {
                record_stride(walk.strides, finite.first, j, before, std::max(most, most_other));
                most = most_other = kBelowAny;
            }
        }
        if (with_parts) {
            walk.parts.last[g] = counts.value[end - 1];
            walk.parts.s0[g + 1] = walk.parts.s0[g] + a;
            walk.parts.s1[g + 1] = walk.parts.s1[g] + b;
        }
    }
    walk.size = before;
    return walk;
}

// Pre-bins whose weights are summed in one loop: each pre-bin's sums are
// their own chains of additions, which do not wait on one another.
constexpr std::size_t kSummedTogether = 4;

// The weights of each class of the k (at most kSummedTogether) pre-bins of
// values [starts[l], starts[l + 1]), value by value from 0, as the summary of
// the same cut points adds them: in step over their common length, then each
// on to its end.
void sum_prebins(const WeightedCountsView& counts, const std::size_t* starts, std::size_t k,
                 double* zeros, double* ones) {
    std::size_t common = std::numeric_limits<std::size_t>::max();
    for (std::size_t l = 0; l < k; ++l) common = std::min(common, starts[l + 1] - starts[l]);
    double z[kSummedTogether] = {};
    double o[kSummedTogether] = {};
    if (k == kSummedTogether) {
        for (std::size_t j = 0; j < common; ++j) {
            for (std::size_t l = 0; l < kSummedTogether; ++l) {
                z[l] += counts.c0[starts[l] + j];
                o[l] += counts.c1[starts[l] + j];
            }
        }
    } else {
        common = 0;
    }
    for (std::size_t l = 0; l < k; ++l) {
        for (std::size_t j = starts[l] + common; j < starts[l + 1]; ++j) {
            z[l] += counts.c0[j];
            o[l] += counts.c1[j];
        }
        zeros[l] = z[l];
        ones[l] = o[l];
    }
}

}  // namespace

std::vector<WeightedPrebin> merged_weighted_prebins(const WeightedCountsView& counts,
                                                    std::size_t n_prebins,
                                                    std::size_t max_class_parts,
                                                    double min_class_share) {
    std::vector<WeightedPrebin> prebins;
    const WeightedSpans spans = spans_of(counts);
    // The quantile cut points (quantile_cuts) and the cut points that best
    // separate the classes (class_split_cuts), their checks in that order,
    // from one walk over the values.
    check_n_bins(n_prebins);
    const FinitePositions finite = finite_positions(spans);
    const bool with_parts = max_class_parts >= 2;
    const FiniteWalk walk = walk_finite(spans, finite, with_parts);
    check_finite_rows(walk.size);
    StrideCursor<WeightedSpans> lower{spans, walk.strides, finite.first, finite.last};
    StrideCursor<WeightedSpans> upper{spans, walk.strides, finite.first, finite.last};
    std::vector<double> splits = cuts_at_quantiles(
        n_prebins, walk.size, spans.value[finite.first], spans.value[finite.last - 1],
        [&](int64_t at) { return value_at(lower, at); },
        [&](int64_t at) { return value_at(upper, at); });
    check_min_share(min_class_share);
    const std::vector<double> informative =
        with_parts ? split_cuts(walk.parts, max_class_parts, min_class_share)
                   : std::vector<double>{};
    // The union, sorted, its repeats dropped (0.0 and -0.0 are one point:
    // either parts the values alike).
    splits.insert(splits.end(), informative.begin(), informative.end());
    std::sort(splits.begin(), splits.end());
    splits.erase(std::unique(splits.begin(), splits.end()), splits.end());

    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const std::size_t m = splits.size();
    std::vector<std::size_t> starts(m + 2, 0);
    for (std::size_t b = 0; b <= m; ++b) {
        starts[b + 1] = interval_end(spans, splits, b, starts[b]);
    }
    std::vector<double> zeros(m + 1, 0.0);
    std::vector<double> ones(m + 1, 0.0);
    for (std::size_t b = 0; b <= m; b += kSummedTogether) {
        sum_prebins(counts, starts.data() + b, std::min(kSummedTogether, m + 1 - b),
                    zeros.data() + b, ones.data() + b);
    }
    prebins.reserve(m + 1);
    for (std::size_t b = 0; b <= m; ++b) {
        prebins.push_back(WeightedPrebin{b == 0 ? -kInfinity : splits[b - 1],
                                         b == m ? kInfinity : splits[b], zeros[b], ones[b]});
    }
    return prebins;
}

}  // namespace tessaline
