// The counts held by batch read for a fit, many columns in one call, the
// columns shared among threads: each column's runs merged into its groups,
// and the counts its search reads pre-binned from those groups as counts
// merged elsewhere are, without a copy of the groups through the
// interpreter in between.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "column_threads.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// The numbers among merged groups (not NaN) that hold rows of known target,
// with their non-events and events; either zero as 0.0, as a merge of
// counts gives it.
ValueCounts searched_counts(const double* keys, const int64_t* known, const int64_t* ones,
                            std::size_t m) {
    ValueCounts out;
    out.value.reserve(m);
    out.c0.reserve(m);
    out.c1.reserve(m);
    for (std::size_t i = 0; i < m; ++i) {
        if (std::isnan(keys[i]) || known[i] <= 0) continue;
        out.value.push_back(keys[i] == 0.0 ? 0.0 : keys[i]);
        out.c0.push_back(known[i] - ones[i]);
        out.c1.push_back(ones[i]);
    }
    return out;
}

MergedHeldRuns merged_column(const HeldRuns& column, std::size_t n_prebins,
                             std::size_t max_class_parts, double min_class_share) {
    MergedHeldRuns out;
    out.size =
        merge_count_runs_into(column.runs, column.keys, column.rows, column.known, column.ones);
    if (!column.prebinned) return out;
    std::vector<ValueCounts> parts;
    parts.push_back(searched_counts(column.keys, column.known, column.ones, out.size));
    try {
        out.searched =
            prebins_from_counts(std::move(parts), n_prebins, max_class_parts, min_class_share);
        out.prebinned = true;
    } catch (const std::invalid_argument&) {
        // Counts no search can read (no number of known target): the search
        // itself refuses them, or skips the column, as it does any column's.
    }
    return out;
}

}  // namespace

std::vector<MergedHeldRuns> merge_held_columns(const std::vector<HeldRuns>& columns,
                                               std::size_t n_prebins, std::size_t max_class_parts,
                                               double min_class_share, std::size_t n_threads) {
    std::vector<MergedHeldRuns> out(columns.size());
    for_each_column_on_threads(columns.size(), n_threads, [&](std::size_t i) {
        out[i] = merged_column(columns[i], n_prebins, max_class_parts, min_class_share);
    });
    return out;
}

}  // namespace tessaline
