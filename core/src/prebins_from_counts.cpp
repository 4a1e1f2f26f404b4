// The pre-bins of the default binning of counts merged elsewhere, in one call:
// the merge, the index of running sums the count of rows would have left, and
// the pre-bins read through it, so that counts from an engine take the steps
// of rows counted here, and give their bits.
#include <cstdint>
#include <utility>
#include <vector>

#include "count_index.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

CountedPrebins prebins_from_counts(std::vector<ValueCounts> parts, std::size_t n_prebins,
                                   std::size_t max_class_parts, double min_class_share) {
    CountedPrebins out;
    // One part merged before (an engine's groups, a stream's merged batches)
    // is taken as it is; anything else is merged, every part checked.
    if (parts.size() == 1 && is_merged(parts[0])) {
        out.counts = std::move(parts[0]);
    } else {
        out.counts = merge_value_counts(parts);
    }
    const ValueCounts& counts = out.counts;
    const std::size_t m = counts.value.size();
    CountIndex index;
    index.c0_before.reserve(index_entries(m));
    index.c1_before.reserve(index_entries(m));
    int64_t rows0 = 0;
    int64_t rows1 = 0;
    extend_index(index, counts.c0.data(), counts.c1.data(), 0, m, rows0, rows1);
    finish_index(index, m, rows0, rows1);
    out.prebins =
        indexed_prebins(counts, index, rows0 + rows1, n_prebins, max_class_parts, min_class_share);
    out.index_c0 = std::move(index.c0_before);
    out.index_c1 = std::move(index.c1_before);
    return out;
}

}  // namespace tessaline
