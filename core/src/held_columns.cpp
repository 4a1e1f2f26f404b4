// The counts held by batch read for a fit, many columns in one call, the
// columns shared among threads: each column's runs merged into its groups,
// and the counts its search reads pre-binned from those groups as counts
// merged elsewhere are, without a copy of the groups through the
// interpreter in between.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "column_threads.hpp"
#include "count_index.hpp"
#include "counted_rows.hpp"
#include "large_buffer.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// The numbers among merged groups (not NaN) that hold rows of known target,
// with their non-events and events (either zero as 0.0, as a merge of counts
// gives it) and their index, made in one pass; returns their rows. The
// groups come merged (ascending, distinct): nothing checks them again. On
// advised pages: fresh room of millions of entries costs more in faults of
// small pages than the pass that fills it.
int64_t searched_counts(const double* keys, const int64_t* known, const int64_t* ones,
                        std::size_t m, ValueCounts& counts, CountIndex& index) {
    reserve_large(counts.value, m);
    reserve_large(counts.c0, m);
    reserve_large(counts.c1, m);
    index.c0_before.reserve(index_entries(m));
    index.c1_before.reserve(index_entries(m));
    int64_t rows0 = 0;
    int64_t rows1 = 0;
    for (std::size_t i = 0; i < m; ++i) {
        if (std::isnan(keys[i]) || known[i] <= 0) continue;
        if (counts.value.size() % kIndexStride == 0) {
            index.c0_before.push_back(rows0);
            index.c1_before.push_back(rows1);
        }
        counts.value.push_back(keys[i] == 0.0 ? 0.0 : keys[i]);
        counts.c0.push_back(known[i] - ones[i]);
        counts.c1.push_back(ones[i]);
        rows0 += known[i] - ones[i];
        rows1 += ones[i];
    }
    finish_index(index, counts.value.size(), rows0, rows1);
    return rows0 + rows1;
}

// The number of leading groups whose values and events the search reads as
// they are: every number (all but a NaN, which comes last) has rows of known
// target, and none is -0.0, which the search reads as 0.0. Zero when they
// are not the searched counts.
std::size_t searched_in_place(const double* keys, const int64_t* known, std::size_t m) {
    const std::size_t numbers = m > 0 && std::isnan(keys[m - 1]) ? m - 1 : m;
    bool fit = true;
    for (std::size_t i = 0; i < numbers; ++i) {
        fit &= (known[i] > 0) & !(keys[i] == 0.0 && std::signbit(keys[i]));
    }
    return fit ? numbers : 0;
}

// searched_counts of groups whose first k are the searched counts: only the
// non-events are written (the values and events are read where the groups
// are), the index made in the same pass; returns their rows.
int64_t searched_non_events(const int64_t* known, const int64_t* ones, std::size_t k,
                            std::vector<int64_t>& c0, CountIndex& index) {
    reserve_large(c0, k);
    c0.resize(k);
    index.c0_before.reserve(index_entries(k));
    index.c1_before.reserve(index_entries(k));
    int64_t rows0 = 0;
    int64_t rows1 = 0;
    for (std::size_t i = 0; i < k; ++i) {
        if (i % kIndexStride == 0) {
            index.c0_before.push_back(rows0);
            index.c1_before.push_back(rows1);
        }
        c0[i] = known[i] - ones[i];
        rows0 += c0[i];
        rows1 += ones[i];
    }
    finish_index(index, k, rows0, rows1);
    return rows0 + rows1;
}

MergedHeldRuns merged_column(const HeldRuns& column, std::size_t n_prebins,
                             std::size_t max_class_parts, double min_class_share) {
    MergedHeldRuns out;
    out.size =
        merge_count_runs_into(column.runs, column.keys, column.rows, column.known, column.ones);
    if (!column.prebinned) return out;
    CountedPrebins& searched = out.searched;
    CountIndex index;
    // Most columns' searched counts are their groups less the missing
    // values: read in place, a copy of two of the three would cost more in
    // fresh pages than the search that reads them.
    out.searched_in_groups = searched_in_place(column.keys, column.known, out.size);
    try {
        const std::size_t k = out.searched_in_groups;
        if (k > 0) {
            const int64_t rows =
                searched_non_events(column.known, column.ones, k, searched.counts.c0, index);
            const ValueCountsView view{
                {column.keys, k}, {searched.counts.c0.data(), k}, {column.ones, k}};
            searched.prebins =
                indexed_prebins(view, index, rows, n_prebins, max_class_parts, min_class_share);
        } else {
            const int64_t rows = searched_counts(column.keys, column.known, column.ones, out.size,
                                                 searched.counts, index);
            searched.prebins = indexed_prebins(searched.counts, index, rows, n_prebins,
                                               max_class_parts, min_class_share);
        }
        out.prebinned = true;
    } catch (const std::invalid_argument&) {
        // Counts no search can read (no number of known target): the search
        // itself refuses them, or skips the column, as it does any column's.
    }
    searched.index_c0 = std::move(index.c0_before);
    searched.index_c1 = std::move(index.c1_before);
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
