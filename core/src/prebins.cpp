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

#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// Beyond this many finite distinct values the splits are searched among the
// ends of this many groups of about equal rows: the search then costs the same
// at any size, and a group is at most 1/4096 of the rows, far below the least
// part.
constexpr std::size_t kMaxCandidates = 4096;

// The finite distinct values as runs of candidate parts: `last` is the last
// value of a part (a cut there keeps the part below), `c0` and `c1` its
// classes.
struct Candidates {
    std::vector<double> last, c0, c1;
};

Candidates candidates(const double* value, const double* c0, const double* c1, std::size_t n) {
    Candidates out;
    double total = 0.0;
    std::size_t finite = 0;
    for (std::size_t j = 0; j < n; ++j) {
        if (!is_finite(value[j])) continue;
        total += c0[j] + c1[j];
        ++finite;
    }
    const bool grouped = finite > kMaxCandidates;
    const std::size_t size = grouped ? kMaxCandidates : finite;
    out.last.reserve(size);
    out.c0.reserve(size);
    out.c1.reserve(size);
    double seen = 0.0, g0 = 0.0, g1 = 0.0;
    bool open = false;
    for (std::size_t j = 0; j < n; ++j) {
        if (!is_finite(value[j])) continue;
        g0 += c0[j];
        g1 += c1[j];
        seen += c0[j] + c1[j];
        open = true;
        // A group closes once it reaches its share of the rows seen so far.
        const double quota =
            total * static_cast<double>(out.last.size() + 1) / static_cast<double>(kMaxCandidates);
        if (!grouped || seen >= quota) {
            out.last.push_back(value[j]);
            out.c0.push_back(g0);
            out.c1.push_back(g1);
            g0 = g1 = 0.0;
            open = false;
        }
    }
    if (open) {
        out.last.push_back(out.last.empty() ? 0.0 : out.last.back());
        // The rows after the last closed group end at the largest finite value.
        for (std::size_t j = n; j-- > 0;) {
            if (is_finite(value[j])) {
                out.last.back() = value[j];
                break;
            }
        }
        out.c0.push_back(g0);
        out.c1.push_back(g1);
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

}  // namespace

std::vector<double> class_split_cuts(const double* value, const double* c0, const double* c1,
                                     std::size_t n, std::size_t max_parts, double min_share) {
    if (!(min_share >= 0.0 && min_share <= 1.0)) {
        throw std::invalid_argument("class_split_cuts: min_share must be between 0 and 1");
    }
    std::vector<double> cuts;
    if (max_parts < 2 || n == 0) return cuts;
    const Candidates parts = candidates(value, c0, c1, n);
    const std::size_t m = parts.last.size();
    // Running sums from the left, added in value order.
    std::vector<double> s0(m + 1, 0.0), s1(m + 1, 0.0);
    for (std::size_t j = 0; j < m; ++j) {
        s0[j + 1] = s0[j] + parts.c0[j];
        s1[j + 1] = s1[j] + parts.c1[j];
    }
    // At least one row (or the least weight of a row seen) on either side.
    const double least = std::max(min_share * (s0[m] + s1[m]), 0.0);
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

CountedPrebins counted_prebins(const double* x, const int32_t* y, std::size_t n,
                               std::size_t n_prebins, std::size_t max_class_parts,
                               double min_class_share) {
    CountedPrebins out;
    out.counts = count_values(x, y, n);
    std::vector<double> splits = quantile_splits_from_counts(out.counts, n_prebins);
    if (max_class_parts > 1) {
        const ValueCounts& counts = out.counts;
        const std::vector<double> c0(counts.c0.begin(), counts.c0.end());
        const std::vector<double> c1(counts.c1.begin(), counts.c1.end());
        const std::vector<double> cuts =
            class_split_cuts(counts.value.data(), c0.data(), c1.data(), counts.value.size(),
                             max_class_parts, min_class_share);
        // The union, sorted, its repeats dropped (0.0 and -0.0 are one point:
        // either parts the values alike).
        splits.insert(splits.end(), cuts.begin(), cuts.end());
        std::sort(splits.begin(), splits.end());
        splits.erase(std::unique(splits.begin(), splits.end()), splits.end());
    }
    // Only the counts of the pre-bins are read: the cheaper representative.
    out.prebins = summarize_binary_from_counts(out.counts, 0, 0, splits, SummaryStatistic::Mean);
    return out;
}

}  // namespace tessaline
