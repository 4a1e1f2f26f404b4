// The counts held by batch, many columns in one call, the columns shared
// among threads: each column's runs merged into its groups, or read for a
// fit where they are. A fit's search reads only the numbers of known target,
// so those are merged straight from the runs (and the rows held uncounted)
// into the searched counts, their index and pre-bins, and the merged groups,
// four entries to every one searched, are never written: nothing held
// changes, and the fit writes what a fit of the rows themselves writes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "column_threads.hpp"
#include "count_index.hpp"
#include "count_runs.hpp"
#include "large_buffer.hpp"
#include "tessaline/recycled_vectors.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

// The rows a column holds uncounted, counted together as count_batch counts
// one batch: the batches' rows joined in scratch room first.
CountRunsUnion counted_held_rows(const std::vector<FlaggedColumn>& rows) {
    if (rows.size() == 1) return count_batch(rows[0].x, rows[0].flags, rows[0].n);
    std::size_t n = 0;
    for (const FlaggedColumn& batch : rows) n += batch.n;
    const auto x_room = large_scratch<double>(n);
    const auto flag_room = large_scratch<double>(n);
    std::size_t at = 0;
    for (const FlaggedColumn& batch : rows) {
        if (batch.n == 0) continue;
        std::memcpy(x_room.get() + at, batch.x, batch.n * sizeof(double));
        std::memcpy(flag_room.get() + at, batch.flags, batch.n * sizeof(double));
        at += batch.n;
    }
    return count_batch(x_room.get(), flag_room.get(), n);
}

// The kinds of key a column's totals are kept by.
enum KeyKind : std::size_t { kFinite = 0, kMissing = 1, kInfinite = 2 };

HeldColumnRead read_column(const HeldColumn& column, std::size_t n_prebins,
                           std::size_t max_class_parts, double min_class_share) {
    std::vector<CountRun> runs = column.runs;
    CountRunsUnion counted;
    if (!column.rows.empty()) {
        counted = counted_held_rows(column.rows);
        runs.push_back(CountRun{counted.keys.data(), counted.rows.data(), counted.known.data(),
                                counted.ones.data(), counted.keys.size()});
    }
    const double zero = checked_runs_zero(runs);
    std::size_t total = 0;
    for (const CountRun& run : runs) total += run.size;
    HeldColumnRead out;
    ValueCounts& counts = out.searched.counts;
    // Room from the counts of freed tables where one fits, as a fit's own
    // counts take it: pages already mapped rather than fresh ones.
    reserve_recycled(counts.value, total);
    reserve_recycled(counts.c0, total);
    reserve_recycled(counts.c1, total);
    CountIndex index;
    index.c0_before.reserve(index_entries(total));
    index.c1_before.reserve(index_entries(total));
    int64_t rows0 = 0;
    int64_t rows1 = 0;
    // The key met last with the counts of its entries so far: each key is
    // settled when the next one comes.
    uint64_t last = kDoneKey;
    double last_x = 0.0;
    int64_t sums[3] = {0, 0, 0};
    auto settle = [&]() {
        if (last == kDoneKey) return;
        const std::size_t kind = last == kNaNCountKey ? kMissing
                                 : std::isinf(last_x) ? kInfinite
                                                      : kFinite;
        for (std::size_t c = 0; c < 3; ++c) out.totals[kind][c] += sums[c];
        if (kind == kFinite && sums[0] > 0) {
            const double x = last_x == 0.0 ? zero : last_x;
            if (!out.finite) out.low = x;
            out.high = x;
            out.finite = true;
        }
        if (kind == kMissing || sums[1] <= 0) return;
        if (counts.value.size() % kIndexStride == 0) {
            index.c0_before.push_back(rows0);
            index.c1_before.push_back(rows1);
        }
        counts.value.push_back(last_x == 0.0 ? 0.0 : last_x);
        counts.c0.push_back(sums[1] - sums[2]);
        counts.c1.push_back(sums[2]);
        rows0 += sums[1] - sums[2];
        rows1 += sums[2];
    };
    visit_runs_in_order(runs, [&](uint64_t key, const CountRun& run, std::size_t i) {
        if (key != last) {
            settle();
            last = key;
            last_x = run.keys[i];
            sums[0] = sums[1] = sums[2] = 0;
        }
        sums[0] += run.rows[i];
        sums[1] += run.known[i];
        sums[2] += run.ones[i];
    });
    settle();
    finish_index(index, counts.value.size(), rows0, rows1);
    try {
        out.searched.prebins = indexed_prebins(counts, index, rows0 + rows1, n_prebins,
                                               max_class_parts, min_class_share);
        out.prebinned = true;
    } catch (const std::invalid_argument&) {
        // Counts no search can read (no number of known target): the search
        // itself refuses them, or skips the column, as it does any column's.
    }
    out.searched.index_c0 = std::move(index.c0_before);
    out.searched.index_c1 = std::move(index.c1_before);
    // The held rows' counts go back for the next column's room.
    recycle(std::move(counted.keys));
    recycle(std::move(counted.rows));
    recycle(std::move(counted.known));
    recycle(std::move(counted.ones));
    return out;
}

}  // namespace

std::vector<std::size_t> merge_held_columns(const std::vector<HeldRuns>& columns,
                                            std::size_t n_threads) {
    std::vector<std::size_t> out(columns.size());
    for_each_column_on_threads(columns.size(), n_threads, [&](std::size_t i) {
        const HeldRuns& column = columns[i];
        out[i] =
            merge_count_runs_into(column.runs, column.keys, column.rows, column.known, column.ones);
    });
    return out;
}

std::vector<HeldColumnRead> read_held_columns(const std::vector<HeldColumn>& columns,
                                              std::size_t n_prebins, std::size_t max_class_parts,
                                              double min_class_share, std::size_t n_threads) {
    std::vector<HeldColumnRead> out(columns.size());
    for_each_column_on_threads(columns.size(), n_threads, [&](std::size_t i) {
        out[i] = read_column(columns[i], n_prebins, max_class_parts, min_class_share);
    });
    return out;
}

}  // namespace tessaline
