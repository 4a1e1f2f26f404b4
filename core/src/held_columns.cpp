// The counts held by batch, many columns in one call, the columns shared
// among threads: each column's runs merged into its groups, or read for a
// fit where they are. A fit's search reads only the numbers of known target,
// so those are merged straight from the runs (and the rows held uncounted)
// into the searched counts, their index and pre-bins, and the merged groups,
// four entries to every one searched, are never written: nothing held
// changes, and the fit writes what a fit of the rows themselves writes. A
// column that holds rows only is counted as a fit counts its rows, with no
// run to merge.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

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

// Rows of known target, `ones` of them events, added to one kind's totals.
void add_known(int64_t* totals, int64_t rows, int64_t ones) {
    totals[0] += rows;
    totals[1] += rows;
    totals[2] += ones;
}

// The read of a column that holds rows only, none counted yet: its rows of
// known target counted as a fit counts its rows, straight into the searched
// counts and their index, with no run written and merged again; the rows of
// unknown target add only to the totals by kind and to the finite range.
HeldColumnRead read_rows_only(const std::vector<FlaggedColumn>& rows, std::size_t n_prebins,
                              std::size_t max_class_parts, double min_class_share) {
    std::size_t n = 0;
    for (const FlaggedColumn& batch : rows) n += batch.n;
    const auto x_room = large_scratch<double>(n);
    const auto label_room = large_scratch<int32_t>(n);
    double* const known_x = x_room.get();
    int32_t* const labels = label_room.get();
    HeldColumnRead out;
    std::size_t kept = 0;
    std::size_t row = 0;
    bool unknown_finite = false;
    double low = 0.0;
    double high = 0.0;
    for (const FlaggedColumn& batch : rows) {
        for (std::size_t i = 0; i < batch.n; ++i, ++row) {
            const double x = batch.x[i];
            const double flag = batch.flags[i];
            if (flag == 0.0 || flag == 1.0) {
                known_x[kept] = x;
                labels[kept++] = flag == 1.0;
                continue;
            }
            if (!std::isnan(flag)) refuse_event_flag(flag, row);
            const std::size_t kind = std::isnan(x) ? kMissing : std::isinf(x) ? kInfinite : kFinite;
            out.totals[kind][0] += 1;
            if (kind != kFinite) continue;
            low = unknown_finite ? std::min(low, x) : x;
            high = unknown_finite ? std::max(high, x) : x;
            unknown_finite = true;
        }
    }
    CountedColumn counted = count_column(known_x, labels, kept);
    ValueCounts& counts = counted.counts;
    add_known(out.totals[kMissing], counted.missing_c0 + counted.missing_c1, counted.missing_c1);
    // The infinite values sort to either end of the counts, the finite ones
    // between; every value there holds rows of known target.
    const std::size_t m = counts.value.size();
    const double inf = std::numeric_limits<double>::infinity();
    std::size_t first = 0;
    std::size_t end = m;
    if (first < end && counts.value[first] == -inf) ++first;
    if (first < end && counts.value[end - 1] == inf) --end;
    int64_t infinite_rows = 0;
    int64_t infinite_ones = 0;
    auto add_infinite = [&](std::size_t i) {
        infinite_rows += counts.c0[i] + counts.c1[i];
        infinite_ones += counts.c1[i];
    };
    if (first == 1) add_infinite(0);
    if (end < m) add_infinite(m - 1);
    const int64_t known_rows = counted.counted_c0 + counted.counted_c1;
    add_known(out.totals[kInfinite], infinite_rows, infinite_ones);
    add_known(out.totals[kFinite], known_rows - infinite_rows, counted.counted_c1 - infinite_ones);
    if (end > first) {
        low = unknown_finite ? std::min(low, counts.value[first]) : counts.value[first];
        high = unknown_finite ? std::max(high, counts.value[end - 1]) : counts.value[end - 1];
    }
    if (end > first || unknown_finite) {
        out.low = low == 0.0 ? 0.0 : low;
        out.high = high == 0.0 ? 0.0 : high;
        out.finite = true;
    }
    try {
        out.searched.prebins = indexed_prebins(counts, counted.index, known_rows, n_prebins,
                                               max_class_parts, min_class_share);
        out.prebinned = true;
    } catch (const std::invalid_argument&) {
        // Counts no search can read, as below.
    }
    out.searched.counts = std::move(counts);
    out.searched.index_c0 = std::move(counted.index.c0_before);
    out.searched.index_c1 = std::move(counted.index.c1_before);
    return out;
}

HeldColumnRead read_column(const HeldColumn& column, std::size_t n_prebins,
                           std::size_t max_class_parts, double min_class_share) {
    const bool runs_empty = std::all_of(column.runs.begin(), column.runs.end(),
                                        [](const CountRun& run) { return run.size == 0; });
    if (runs_empty && !column.rows.empty()) {
        return read_rows_only(column.rows, n_prebins, max_class_parts, min_class_share);
    }
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
