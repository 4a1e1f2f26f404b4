// The pre-bins of the default (optimal) binning of one column, from its
// labelled rows in one call: the rows counted by distinct value, the quantile
// cut points of those counts joined by the cut points that best separate the
// classes, and the counts of each pre-bin. Each step is the function on
// counts that the package calls on merged counts, so a column binned here and
// one binned from its counts give the same pre-bins; here the counts are read
// in place instead of crossing the binding (and being copied) once per step.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <queue>
#include <stdexcept>
#include <utility>
#include <vector>

#include "counted_rows.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// Beyond this many finite distinct values the splits are searched among the
// ends of this many runs of about equally many values: the search then costs
// the same at any size.
constexpr std::size_t kMaxCandidates = 4096;

// The finite distinct values as runs of candidate parts, with running sums of
// their classes from the left (s0[k], s1[k]: the first k parts): `last` is the
// last value of a part (a cut there keeps the part below).
struct Candidates {
    std::vector<double> last, s0, s1;
};

// Values ascending: the finite ones lie between the -inf and +inf rows.
template <typename Count>
Candidates candidates(const double* value, const Count* c0, const Count* c1, std::size_t n) {
    std::size_t lo = 0, hi = n;
    while (lo < hi && !is_finite(value[lo])) ++lo;
    while (hi > lo && !is_finite(value[hi - 1])) --hi;
    const std::size_t finite = hi - lo;
    const std::size_t size = std::min(finite, kMaxCandidates);
    Candidates out;
    out.last.resize(size);
    out.s0.assign(size + 1, 0.0);
    out.s1.assign(size + 1, 0.0);
    for (std::size_t g = 0; g < size; ++g) {
        // Run g holds the values [begin, end) of the finite ones.
        const std::size_t begin = lo + g * finite / size, end = lo + (g + 1) * finite / size;
        Count a = 0, b = 0;
        for (std::size_t j = begin; j < end; ++j) {
            a += c0[j];
            b += c1[j];
        }
        out.last[g] = value[end - 1];
        out.s0[g + 1] = out.s0[g] + static_cast<double>(a);
        out.s1[g + 1] = out.s1[g] + static_cast<double>(b);
    }
    return out;
}

// Rows times the Gini impurity of a part, halved: a*b/(a+b), the same bits
// whichever class is named first.
double impurity(double a, double b) {
    const double rows = a + b;
    return rows > 0.0 ? a * b / rows : 0.0;
}

// The best split of the parts [lo, hi): the first part of the upper side and
// the fall in impurity; `at` is 0 when no split leaves `least` rows on both
// sides and lowers the impurity.
struct Split {
    double gain = 0.0;
    std::size_t lo = 0, hi = 0, at = 0;
};

bool before(const Split& a, const Split& b) {
    // The queue serves the largest fall first, and of equal falls the lowest.
    return a.gain < b.gain || (a.gain == b.gain && a.at > b.at);
}

Split best_split(const std::vector<double>& s0, const std::vector<double>& s1, std::size_t lo,
                 std::size_t hi, double least) {
    Split best;
    best.lo = lo;
    best.hi = hi;
    const double t0 = s0[hi] - s0[lo], t1 = s1[hi] - s1[lo];
    const double whole = impurity(t0, t1);
    double lowest = whole;
    for (std::size_t k = lo + 1; k < hi; ++k) {
        const double l0 = s0[k] - s0[lo], l1 = s1[k] - s1[lo];
        const double r0 = t0 - l0, r1 = t1 - l1;
        if (l0 + l1 < least) continue;
        if (r0 + r1 < least) break;
        const double parts = impurity(l0, l1) + impurity(r0, r1);
        if (parts < lowest) {
            lowest = parts;
            best.at = k;
        }
    }
    best.gain = whole - lowest;
    return best;
}

template <typename Count>
std::vector<double> split_cuts(const double* value, const Count* c0, const Count* c1, std::size_t n,
                               std::size_t max_parts, double min_share) {
    if (!(min_share >= 0.0 && min_share <= 1.0)) {
        throw std::invalid_argument("class_split_cuts: min_share must be between 0 and 1");
    }
    std::vector<double> cuts;
    if (max_parts < 2 || n == 0) return cuts;
    const Candidates parts = candidates(value, c0, c1, n);
    const std::vector<double>& s0 = parts.s0;
    const std::vector<double>& s1 = parts.s1;
    const std::size_t m = parts.last.size();
    const double least = min_share * (s0[m] + s1[m]);
    std::priority_queue<Split, std::vector<Split>, decltype(&before)> queue(before);
    const auto offer = [&](std::size_t lo, std::size_t hi) {
        if (hi - lo < 2) return;
        const Split split = best_split(s0, s1, lo, hi, least);
        if (split.at != 0 && split.gain > 0.0) queue.push(split);
    };
    offer(0, m);
    while (!queue.empty() && cuts.size() + 1 < max_parts) {
        const Split split = queue.top();
        queue.pop();
        cuts.push_back(parts.last[split.at - 1]);
        offer(split.lo, split.at);
        offer(split.at, split.hi);
    }
    std::sort(cuts.begin(), cuts.end());
    return cuts;
}

}  // namespace

std::vector<double> class_split_cuts(const double* value, const double* c0, const double* c1,
                                     std::size_t n, std::size_t max_parts, double min_share) {
    return split_cuts(value, c0, c1, n, max_parts, min_share);
}

CountedPrebins counted_prebins(const double* x, const int32_t* y, std::size_t n,
                               std::size_t n_prebins, std::size_t max_class_parts,
                               double min_class_share) {
    // One pass over the labels checks them and counts the events, of which
    // those not behind the counts are the rows whose x is NaN. (A label above
    // 1 as unsigned leaves a bit above the lowest.)
    int64_t rows_of_one = 0;
    uint32_t above_one = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto label = static_cast<uint32_t>(y[i]);
        above_one |= label >> 1;
        rows_of_one += label;
    }
    if (above_one != 0) throw std::invalid_argument("counted_prebins: labels must be 0 or 1");
    CountedPrebins out;
    out.counts = count_values(x, y, n);
    const ValueCounts& counts = out.counts;
    int64_t counted_zeros = 0;
    int64_t counted_ones = 0;
    for (std::size_t j = 0; j < counts.value.size(); ++j) {
        counted_zeros += counts.c0[j];
        counted_ones += counts.c1[j];
    }
    out.missing_c0 = static_cast<int64_t>(n) - rows_of_one - counted_zeros;
    out.missing_c1 = rows_of_one - counted_ones;
    // The counts are merged as they come: no step checks them again.
    std::vector<double> splits = quantile_cuts(counts, n_prebins);
    if (max_class_parts > 1) {
        const std::vector<double> cuts =
            split_cuts(counts.value.data(), counts.c0.data(), counts.c1.data(), counts.value.size(),
                       max_class_parts, min_class_share);
        // The union, sorted, its repeats dropped (0.0 and -0.0 are one point:
        // either parts the values alike).
        splits.insert(splits.end(), cuts.begin(), cuts.end());
        std::sort(splits.begin(), splits.end());
        splits.erase(std::unique(splits.begin(), splits.end()), splits.end());
    }
    // Only the counts of the pre-bins are read: the cheaper representative.
    out.prebins = summarize_checked_counts(counts, counted_zeros + counted_ones, 0, 0, splits,
                                           SummaryStatistic::Mean);
    return out;
}

}  // namespace tessaline
