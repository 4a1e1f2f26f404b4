// The keys of counts kept by batch, merged run by run.
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

}  // namespace
