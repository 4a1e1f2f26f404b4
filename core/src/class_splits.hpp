// The cut points that best separate the classes (class_split_cuts), in the
// steps a caller that walks the counts for other sums too can share: the
// candidate parts and their running sums, then the greedy splits of them.
// Not part of the public header.
#ifndef TESSALINE_CLASS_SPLITS_HPP
#define TESSALINE_CLASS_SPLITS_HPP

#include <cstddef>
#include <vector>

namespace tessaline {

// Beyond this many finite distinct values the splits are searched among the
// ends of this many runs of about equally many values: the search then costs
// the same at any size.
constexpr std::size_t kMaxCandidates = 4096;

// The finite distinct values as runs of candidate parts, with running sums of
// their classes from the left (s0[k], s1[k]: the first k parts): `last` is the
// last value of a part (a cut there keeps the part below). Part g of `finite`
// values from `first` holds [first + g * finite / parts, first + (g + 1) *
// finite / parts), its classes each summed from 0 value by value.
struct Candidates {
    std::vector<double> last, s0, s1;
};

// min_share must be a share, between 0 and 1.
void check_min_share(double min_share);

// The cut points of the greedy splits of the candidate parts, at most
// max_parts parts of at least min_share of the rows each, ascending.
std::vector<double> split_cuts(const Candidates& parts, std::size_t max_parts, double min_share);

}  // namespace tessaline

#endif  // TESSALINE_CLASS_SPLITS_HPP
