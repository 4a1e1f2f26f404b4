// The counts held by batch read for a fit, many columns in one call, the
// columns shared among threads: each column's runs merged into its groups,
// and the counts its search reads pre-binned from those groups as counts
// merged elsewhere are, without a copy of the groups through the
// interpreter in between.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <thread>

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
    std::vector<std::exception_ptr> failed(columns.size());
    std::atomic<std::size_t> next{0};
    // Each thread takes the next column not yet taken, so a long column does
    // not hold back the short ones behind it.
    auto work = [&]() {
        for (std::size_t i = next++; i < columns.size(); i = next++) {
            try {
                out[i] = merged_column(columns[i], n_prebins, max_class_parts, min_class_share);
            } catch (...) {
                failed[i] = std::current_exception();
            }
        }
    };
    const std::size_t helpers = std::min(std::max<std::size_t>(n_threads, 1), columns.size());
    std::vector<std::thread> threads;
    threads.reserve(helpers > 0 ? helpers - 1 : 0);
    try {
        for (std::size_t t = 1; t < helpers; ++t) threads.emplace_back(work);
    } catch (...) {
        // No thread to spare: the threads already started and this one
        // share the columns.
    }
    work();
    for (std::thread& thread : threads) thread.join();
    // The error of the first column that failed, as a loop over the columns
    // would raise it.
    for (const std::exception_ptr& error : failed) {
        if (error) std::rethrow_exception(error);
    }
    return out;
}

}  // namespace tessaline
