// One batch of a numeric column counted for the counts kept between batches:
// by distinct value (ascending, the missing values last as one key), the
// rows, the rows of known target and the events, in one call. The rows of
// known target are counted as a fit counts its rows; those of unknown target
// (a batch may hold some) apart, then merged in.
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "column_threads.hpp"
#include "count_runs.hpp"
#include "large_buffer.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

CountRunsUnion count_batch(const double* x, const double* flags, std::size_t n) {
    // Labels of the rows of known target; the other rows' values set apart.
    // Scratch and results on advised pages: their first touch of fresh small
    // pages would cost more than the passes that fill them.
    const auto label_room = large_scratch<int32_t>(n);
    int32_t* const labels = label_room.get();
    std::vector<double> unknown_x;
    int64_t nan_rows = 0;
    int64_t nan_known = 0;
    int64_t nan_ones = 0;
    std::size_t unknown = 0;
    // One pass of arithmetic on comparisons, no branch on the data; a flag
    // other than 0, 1 and NaN is looked for only once one is known to be there.
    bool refused = false;
    for (std::size_t i = 0; i < n; ++i) {
        const double flag = flags[i];
        const bool missing_x = x[i] != x[i];
        const bool known = flag == flag;
        const bool one = flag == 1.0;
        refused |= known & !one & (flag != 0.0);
        nan_rows += missing_x;
        nan_known += missing_x & known;
        nan_ones += missing_x & one;
        labels[i] = one;
        unknown += !known;
    }
    for (std::size_t i = 0; refused && i < n; ++i) {
        const double flag = flags[i];
        if (flag != 0.0 && flag != 1.0 && !std::isnan(flag)) refuse_event_flag(flag, i);
    }
    ValueCounts counted;
    if (unknown == 0) {
        counted = count_values(x, labels, n);
    } else {
        // The rows of known target packed to the front, the others' values apart.
        std::vector<double> known_x;
        known_x.reserve(n - unknown);
        unknown_x.reserve(unknown);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (std::isnan(flags[i])) {
                if (!std::isnan(x[i])) unknown_x.push_back(x[i]);
            } else {
                known_x.push_back(x[i]);
                labels[kept++] = labels[i];
            }
        }
        counted = count_values(known_x.data(), labels, known_x.size());
    }
    const std::size_t m = counted.value.size();
    // Each value's rows added up where its non-events were: no fresh room.
    std::vector<int64_t> rows = std::move(counted.c0);
    for (std::size_t i = 0; i < m; ++i) rows[i] += counted.c1[i];
    CountRunsUnion out;
    if (unknown_x.empty()) {
        out.keys = std::move(counted.value);
        reserve_large(out.known, m + 1);
        out.known.assign(rows.begin(), rows.end());
        out.rows = std::move(rows);
        out.ones = std::move(counted.c1);
    } else {
        // Rows of unknown target: counted alone (as one class) and merged in.
        const std::vector<int32_t> none(unknown_x.size(), 0);
        const ValueCounts rest = count_values(unknown_x.data(), none.data(), unknown_x.size());
        const std::size_t k = rest.value.size();
        std::vector<double> keys(counted.value);
        keys.insert(keys.end(), rest.value.begin(), rest.value.end());
        std::vector<int64_t> all_rows(rows);
        all_rows.insert(all_rows.end(), rest.c0.begin(), rest.c0.end());
        std::vector<int64_t> all_known(rows);
        all_known.resize(m + k, 0);
        std::vector<int64_t> all_ones(counted.c1);
        all_ones.resize(m + k, 0);
        const std::vector<int64_t> ends{static_cast<int64_t>(m), static_cast<int64_t>(m + k)};
        out = merge_count_runs(keys.data(), all_rows.data(), all_known.data(), all_ones.data(),
                               ends.data(), ends.size());
    }
    if (nan_rows > 0) {
        // NaN comes after every number: appended, not merged.
        out.keys.push_back(std::numeric_limits<double>::quiet_NaN());
        out.rows.push_back(nan_rows);
        out.known.push_back(nan_known);
        out.ones.push_back(nan_ones);
    }
    return out;
}

std::vector<CountRunsUnion> count_batch_columns(const std::vector<FlaggedColumn>& columns,
                                                std::size_t n_threads) {
    std::vector<CountRunsUnion> out(columns.size());
    for_each_column_on_threads(columns.size(), n_threads, [&](std::size_t i) {
        out[i] = count_batch(columns[i].x, columns[i].flags, columns[i].n);
    });
    return out;
}

}  // namespace tessaline
