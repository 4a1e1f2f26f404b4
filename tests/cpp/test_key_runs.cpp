// The keys of counts kept by batch, merged run by run.
#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "reference.hpp"

namespace {

using namespace ref;

TEST(KeyRuns, MergeRunsIntoTheirDistinctKeysWithEachEntrysPlace) {
    // Three runs, ascending with NaN last; -0.0 of the first run is the key
    // the 0.0 of the third joins; an empty run is no run.
    const Values keys{-1.0, -0.0, 2.0, kNaN, 0.5, 2.0, 0.0, 3.0, kNaN};
    const std::vector<int64_t> ends{4, 6, 6, 9};
    const KeyRunsUnion merged = merge_key_runs(keys.data(), ends.data(), ends.size());
    ASSERT_EQ(merged.keys.size(), 6u);
    EXPECT_EQ(Values(merged.keys.begin(), merged.keys.end() - 1),
              (Values{-1.0, 0.0, 0.5, 2.0, 3.0}));
    EXPECT_TRUE(std::signbit(merged.keys[1]));
    EXPECT_TRUE(std::isnan(merged.keys[5]));
    EXPECT_EQ(merged.place, (std::vector<int64_t>{0, 1, 3, 5, 2, 3, 1, 4, 5}));
}

TEST(KeyRuns, RefuseARunThatIsNotAscendingAndDistinct) {
    const Values keys{1.0, 2.0, 2.0};
    const std::vector<int64_t> ends{1, 3};
    EXPECT_EQ(message_of([&] { merge_key_runs(keys.data(), ends.data(), ends.size()); }),
              "merge_key_runs: run 1 is not ascending and distinct at entry 2");
}

TEST(KeyRuns, ManySmallRunsBesideALargeOneFindTheirPlaces) {
    // A large run, then small ones whose keys fall anywhere in it or beyond:
    // every entry's place holds its key, and the keys are those of all runs.
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<int> level(-5000, 5000);
    Values keys;
    std::vector<int64_t> ends;
    std::set<double> all;
    for (std::size_t size : {std::size_t{4000}, std::size_t{3}, std::size_t{1}, std::size_t{40}}) {
        for (int repeat = 0; repeat < (size == 4000 ? 1 : 30); ++repeat) {
            std::set<double> run;
            while (run.size() < size) run.insert(level(rng) * 0.5);
            keys.insert(keys.end(), run.begin(), run.end());
            all.insert(run.begin(), run.end());
            ends.push_back(static_cast<int64_t>(keys.size()));
        }
    }
    const KeyRunsUnion merged = merge_key_runs(keys.data(), ends.data(), ends.size());
    EXPECT_EQ(merged.keys, Values(all.begin(), all.end()));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        ASSERT_EQ(merged.keys[static_cast<std::size_t>(merged.place[i])], keys[i]) << i;
    }
}

// Counts by key of every entry of some runs, summed one entry at a time
// (NaN one key after every number, both zeros one key): what a merge of the
// runs must give.
std::map<double, std::array<int64_t, 3>> summed_by_key(const Values& keys,
                                                       const std::vector<int64_t>& rows,
                                                       const std::vector<int64_t>& known,
                                                       const std::vector<int64_t>& ones) {
    std::map<double, std::array<int64_t, 3>> sums;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        auto& sum = sums[std::isnan(keys[i]) ? kMax : keys[i] + 0.0];
        sum[0] += rows[i];
        sum[1] += known[i];
        sum[2] += ones[i];
    }
    return sums;
}

TEST(CountRuns, MergeRunsIntoTheirDistinctKeysWithTheirCountsAdded) {
    // merge_key_runs's worked example, with counts: -0.0 of the first run
    // and 0.0 of the third are one key in the first run's form.
    const Values keys{-1.0, -0.0, 2.0, kNaN, 0.5, 2.0, 0.0, 3.0, kNaN};
    const std::vector<int64_t> rows{1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::vector<int64_t> known{1, 2, 3, 0, 5, 6, 7, 8, 9};
    const std::vector<int64_t> ones{0, 1, 1, 0, 2, 3, 4, 0, 9};
    const std::vector<int64_t> ends{4, 6, 6, 9};
    const CountRunsUnion merged = merge_count_runs(keys.data(), rows.data(), known.data(),
                                                   ones.data(), ends.data(), ends.size());
    ASSERT_EQ(merged.keys.size(), 6u);
    EXPECT_EQ(Values(merged.keys.begin(), merged.keys.end() - 1),
              (Values{-1.0, 0.0, 0.5, 2.0, 3.0}));
    EXPECT_TRUE(std::signbit(merged.keys[1]));
    EXPECT_TRUE(std::isnan(merged.keys[5]));
    EXPECT_EQ(merged.rows, (std::vector<int64_t>{1, 9, 5, 9, 8, 13}));
    EXPECT_EQ(merged.known, (std::vector<int64_t>{1, 9, 5, 9, 8, 9}));
    EXPECT_EQ(merged.ones, (std::vector<int64_t>{0, 5, 2, 4, 0, 9}));
    EXPECT_EQ(message_of([&] {
                  merge_count_runs(keys.data(), rows.data(), known.data(), ones.data(),
                                   std::vector<int64_t>{2, 9}.data(), 2);
              }),
              "merge_count_runs: run 1 is not ascending and distinct at entry 4");
}

TEST(CountRuns, AnyNumberOfRunsSumsAsOneEntryAtATime) {
    // From one run to many, of sizes that leave odd runs at several levels
    // of the merge, against the counts summed one entry at a time.
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<int> level(-300, 300);
    std::uniform_int_distribution<int64_t> count(0, 9);
    for (const std::size_t n_runs : {1u, 2u, 3u, 7u, 16u, 33u}) {
        Values keys;
        std::vector<int64_t> rows, known, ones, ends;
        for (std::size_t r = 0; r < n_runs; ++r) {
            std::set<double> run;
            const std::size_t size = (r * 37) % 150;
            while (run.size() < size) run.insert(level(rng) * 0.25);
            keys.insert(keys.end(), run.begin(), run.end());
            if (r % 3 == 0) keys.push_back(kNaN);
            for (std::size_t i = rows.size(); i < keys.size(); ++i) {
                rows.push_back(count(rng) + 2);
                known.push_back(rows.back() - count(rng) % 2);
                ones.push_back(known.back() / 2);
            }
            ends.push_back(static_cast<int64_t>(keys.size()));
        }
        const CountRunsUnion merged = merge_count_runs(keys.data(), rows.data(), known.data(),
                                                       ones.data(), ends.data(), ends.size());
        std::map<double, std::array<int64_t, 3>> got;
        for (std::size_t i = 0; i < merged.keys.size(); ++i) {
            const double key = std::isnan(merged.keys[i]) ? kMax : merged.keys[i];
            ASSERT_TRUE(
                got.emplace(key, std::array{merged.rows[i], merged.known[i], merged.ones[i]})
                    .second)
                << n_runs;
            if (i > 0) {
                ASSERT_LT(merged.keys[i - 1], key) << n_runs;
            }
        }
        EXPECT_EQ(got, summed_by_key(keys, rows, known, ones)) << n_runs;
    }
}

TEST(CountRuns, HeldColumnsReadAsTheMergeOfTheirRunsAndRows) {
    // Columns of runs with both zeros, NaN, infinities and values of unknown
    // target only, some with rows held uncounted (one batch or three), on two
    // threads: each reads as the merged groups of its runs and of its rows
    // counted as one more run give it, searched as the numbers of known
    // target among them with their pre-bins; a column of no such number is
    // left to the search. Its smallest and largest finite value keep the
    // zero of the earliest run that holds one. Columns of rows only (counted
    // straight into what is searched) read the same.
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<int> level(-60, 60);
    std::uniform_int_distribution<int64_t> count(0, 4);
    const std::size_t n_columns = 8;
    std::vector<Values> keys(n_columns), xs(n_columns), flags(n_columns);
    std::vector<std::vector<int64_t>> rows(n_columns), known(n_columns), ones(n_columns);
    std::vector<std::vector<int64_t>> ends(n_columns);
    for (std::size_t c = 0; c < n_columns; ++c) {
        for (std::size_t r = 0; c < 5 && r < 1 + c % 3; ++r) {
            std::set<double> run;
            for (std::size_t i = 0; c != 4 && i < 90; ++i) run.insert(level(rng) * 0.5);
            if (c == 2) run.insert({-kInf, kInf});
            keys[c].insert(keys[c].end(), run.begin(), run.end());
            const auto start = keys[c].end() - static_cast<std::ptrdiff_t>(run.size());
            // The zero of every other run is -0.0.
            const auto zero = std::find(start, keys[c].end(), 0.0);
            if (zero != keys[c].end() && r % 2 == 0) *zero = -0.0;
            keys[c].push_back(kNaN);
            for (std::size_t i = rows[c].size(); i < keys[c].size(); ++i) {
                rows[c].push_back(count(rng) + 1);
                known[c].push_back(rows[c].back() - count(rng) % 2);
                ones[c].push_back(known[c].back() / 2);
            }
            ends[c].push_back(static_cast<int64_t>(keys[c].size()));
        }
        for (std::size_t i = 0; (c % 2 == 1 || c >= 5) && i < 400; ++i) {
            const double infinite = i % 2 == 0 ? kInf : -kInf;
            xs[c].push_back(i % 17 == 0       ? kNaN
                            : i % 29 == 0     ? infinite
                            : level(rng) == 0 ? -0.0
                                              : level(rng) * 0.25);
            // Column 6: no row of known target.
            flags[c].push_back(i % 11 == 0 || c == 6 ? kNaN : static_cast<double>(i % 3 == 0));
        }
    }
    std::vector<HeldColumn> held(n_columns);
    for (std::size_t c = 0; c < n_columns; ++c) {
        for (std::size_t r = 0, start = 0; r < ends[c].size(); start = ends[c][r++]) {
            held[c].runs.push_back(CountRun{keys[c].data() + start, rows[c].data() + start,
                                            known[c].data() + start, ones[c].data() + start,
                                            ends[c][r] - start});
        }
        // Columns 3 and 7 hold their rows as three batches, the others as one.
        for (std::size_t start = 0, size = c % 4 == 3 ? 150 : 400; start < xs[c].size();
             start += size) {
            held[c].rows.push_back({xs[c].data() + start, flags[c].data() + start,
                                    std::min(size, xs[c].size() - start)});
        }
    }
    const std::vector<HeldColumnRead> read = read_held_columns(held, 20, 64, 0.01, 2);
    for (std::size_t c = 0; c < n_columns; ++c) {
        std::vector<CountRun> runs = held[c].runs;
        const CountRunsUnion counted = count_batch(xs[c].data(), flags[c].data(), xs[c].size());
        runs.push_back(CountRun{counted.keys.data(), counted.rows.data(), counted.known.data(),
                                counted.ones.data(), counted.keys.size()});
        const CountRunsUnion merged = merge_count_runs(runs);
        ValueCounts searched;
        int64_t totals[3][3] = {};
        Values finite;
        for (std::size_t i = 0; i < merged.keys.size(); ++i) {
            const double x = merged.keys[i];
            const std::size_t kind = std::isnan(x) ? 1 : std::isinf(x) ? 2 : 0;
            for (std::size_t k = 0; k < 3; ++k) {
                totals[kind][k] += std::array{merged.rows[i], merged.known[i], merged.ones[i]}[k];
            }
            if (kind == 0) finite.push_back(x);
            if (kind == 1 || merged.known[i] == 0) continue;
            searched.value.push_back(x == 0.0 ? 0.0 : x);
            searched.c0.push_back(merged.known[i] - merged.ones[i]);
            searched.c1.push_back(merged.ones[i]);
        }
        for (std::size_t k = 0; k < 9; ++k) {
            EXPECT_EQ(read[c].totals[k / 3][k % 3], totals[k / 3][k % 3]) << c << " " << k;
        }
        ASSERT_EQ(read[c].finite, !finite.empty()) << c;
        if (!finite.empty()) {
            EXPECT_EQ(read[c].low, finite.front()) << c;
            EXPECT_EQ(std::signbit(read[c].low), std::signbit(finite.front())) << c;
            EXPECT_EQ(read[c].high, finite.back()) << c;
        }
        EXPECT_EQ(read[c].searched.counts.value, searched.value) << c;
        EXPECT_EQ(read[c].searched.counts.c0, searched.c0) << c;
        EXPECT_EQ(read[c].searched.counts.c1, searched.c1) << c;
        ASSERT_EQ(read[c].prebinned, !searched.value.empty()) << c;
        if (searched.value.empty()) continue;
        const CountedPrebins expected = prebins_from_counts({searched}, 20, 64, 0.01);
        EXPECT_EQ(read[c].searched.index_c0, expected.index_c0) << c;
        EXPECT_EQ(read[c].searched.index_c1, expected.index_c1) << c;
        ASSERT_EQ(read[c].searched.prebins.size(), expected.prebins.size()) << c;
        for (std::size_t b = 0; b < expected.prebins.size(); ++b) {
            EXPECT_EQ(read[c].searched.prebins[b].right, expected.prebins[b].right) << c;
            EXPECT_EQ(read[c].searched.prebins[b].c1, expected.prebins[b].c1) << c;
        }
    }
    // A flag other than 0, 1 and NaN is refused where held rows are read,
    // named by its row among all the batches' rows.
    const Values x{1.0, 2.0, 3.0};
    const Values good{0.0, 1.0};
    const Values bad{1.0, 0.5, 0.0};
    const HeldColumn refused{{}, {{x.data(), good.data(), 2}, {x.data(), bad.data(), 3}}};
    EXPECT_EQ(message_of([&] { read_held_columns({refused}, 20, 64, 0.01, 1); }),
              "count_batch: event flag 0.500000 at row 3 is neither 0, 1 nor NaN");
}

TEST(CountRuns, ABatchIsCountedAsItsRowsOneByOne) {
    // Rows of known and unknown target, missing values among both, both
    // zeros (one key): the batch's counts are those of its rows one at a time.
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<int> level(-40, 40);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (const double unknown_share : {0.0, 0.2}) {
        Values x, flags;
        std::vector<int64_t> rows, known, ones;
        for (int i = 0; i < 3000; ++i) {
            const double v = u(rng) < 0.05 ? kNaN : level(rng) == 0 ? -0.0 : level(rng) * 0.5;
            const double flag = u(rng) < unknown_share ? kNaN : u(rng) < 0.3 ? 1.0 : 0.0;
            x.push_back(v);
            flags.push_back(flag);
            rows.push_back(1);
            known.push_back(std::isnan(flag) ? 0 : 1);
            ones.push_back(flag == 1.0 ? 1 : 0);
        }
        const CountRunsUnion counted = count_batch(x.data(), flags.data(), x.size());
        std::map<double, std::array<int64_t, 3>> got;
        for (std::size_t i = 0; i < counted.keys.size(); ++i) {
            const double key = std::isnan(counted.keys[i]) ? kMax : counted.keys[i];
            got.emplace(key, std::array{counted.rows[i], counted.known[i], counted.ones[i]});
        }
        EXPECT_EQ(got, summed_by_key(x, rows, known, ones)) << unknown_share;
    }
    const Values bad{1.0, 2.0};
    EXPECT_EQ(message_of([&] { count_batch(bad.data(), Values{0.0, 2.0}.data(), 2); }),
              "count_batch: event flag 2.000000 at row 1 is neither 0, 1 nor NaN");
}

TEST(CountRuns, ColumnsCountedTogetherAreEachCountedAlone) {
    // More columns than threads, of different lengths (one empty): each is
    // its own count_batch, and a refused flag raises that column's error.
    std::mt19937_64 rng(5);
    std::normal_distribution<double> normal;
    std::vector<Values> xs, flags;
    for (const std::size_t n : {2000, 0, 700, 5000, 1}) {
        xs.emplace_back();
        flags.emplace_back();
        for (std::size_t i = 0; i < n; ++i) {
            xs.back().push_back(i % 13 == 0 ? kNaN : std::round(normal(rng) * 20.0) / 4.0);
            flags.back().push_back(i % 7 == 0 ? kNaN : static_cast<double>(i % 3 == 0));
        }
    }
    std::vector<FlaggedColumn> columns;
    for (std::size_t c = 0; c < xs.size(); ++c) {
        columns.push_back({xs[c].data(), flags[c].data(), xs[c].size()});
    }
    const std::vector<CountRunsUnion> together = count_batch_columns(columns, 2);
    ASSERT_EQ(together.size(), columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const CountRunsUnion alone = count_batch(xs[c].data(), flags[c].data(), xs[c].size());
        EXPECT_EQ(together[c].rows, alone.rows) << c;
        EXPECT_EQ(together[c].known, alone.known) << c;
        EXPECT_EQ(together[c].ones, alone.ones) << c;
        ASSERT_EQ(together[c].keys.size(), alone.keys.size()) << c;
        for (std::size_t i = 0; i < alone.keys.size(); ++i) {
            EXPECT_TRUE(together[c].keys[i] == alone.keys[i] ||
                        (std::isnan(alone.keys[i]) && std::isnan(together[c].keys[i])))
                << c << " " << i;
        }
    }
    flags[3][4] = 0.5;
    EXPECT_EQ(message_of([&] { count_batch_columns(columns, 2); }),
              "count_batch: event flag 0.500000 at row 4 is neither 0, 1 nor NaN");
}

}  // namespace
