// A cursor that passes whole strides of weighted values reads the value a
// walk value by value reads, at every position, where fractional weights
// round their running sums apart from the thresholds the walk compares with.
#include "reference.hpp"
#include "weight_strides.hpp"

namespace {

using namespace ref;

// Weights whose running sums round, drawn at random.
WeightedValueCounts rounding_counts(std::size_t m, uint32_t seed) {
    const Values weights{0.75, 0.25, 0.5, 1.0, 1.5, 0.1, 4503599627370496.0, 0.0};
    std::mt19937 rng(seed);
    WeightedValueCounts counts;
    for (std::size_t j = 0; j < m; ++j) {
        counts.value.push_back(static_cast<double>(j) - 7.5);
        counts.c0.push_back(weights[rng() % weights.size()]);
        counts.c1.push_back(weights[rng() % weights.size()]);
        counts.rows.push_back(1);
    }
    return counts;
}

// A running weight S odd from 2^52 on (a whole ulp) at every odd value,
// which weighs 0.75 in each class: S + 0.75 + 0.75 rounds to S + 2, S +
// (0.75 + 0.75) to S + 1. So the last value of every stride is compared
// with a threshold one above the running weight after it. (Each even value
// weighs 0.5 in each class: S + 0.5 + 0.5 is S, S + 1 is odd again.)
WeightedValueCounts thresholds_above_sums(std::size_t m) {
    WeightedValueCounts counts{{0.0}, {4503599627370497.0}, {0.0}, {1}};
    for (std::size_t j = 1; j < m; ++j) {
        const double w = j % 2 == 1 ? 0.75 : 0.5;
        counts.value.push_back(static_cast<double>(j));
        counts.c0.push_back(w);
        counts.c1.push_back(w);
        counts.rows.push_back(2);
    }
    return counts;
}

// The strides of a walk from `from` over [from, to), as the walks of the
// pre-bins and the summary record them.
WeightStrides strides_of(const WeightedValueCounts& counts, std::size_t from, std::size_t to) {
    WeightStrides strides;
    size_strides(strides, from, to);
    double before = 0.0;
    double most = -kInf;
    for (std::size_t j = from; j < to;) {
        const std::size_t stop = chunk_end(from, j, to);
        for (; j < stop; ++j) {
            most = largest_threshold(counts.c0[j], counts.c1[j], before, most);
            before += counts.c0[j] + counts.c1[j];
        }
        if (stride_done(from, j)) most = record_stride(strides, from, j, before, most);
    }
    return strides;
}

// Every whole position next to a running sum or a threshold of the walk,
// rising, and some beyond either end.
std::vector<double> positions_near_sums(const WeightedValueCounts& counts, std::size_t from,
                                        std::size_t to) {
    std::vector<double> at{-1.0, 0.0};
    double before = 0.0;
    for (std::size_t j = from; j < to; ++j) {
        for (const double sum : {before, (before + counts.c0[j]) + counts.c1[j]}) {
            for (const double step : {-1.0, 0.0, 1.0}) at.push_back(std::floor(sum) + step);
            at.push_back(std::ceil(sum));
        }
        before += counts.c0[j] + counts.c1[j];
    }
    at.push_back(before + 1.0);
    at.push_back(kInf);
    std::sort(at.begin(), at.end());
    return at;
}

TEST(WeightStrides, ACursorPassingStridesReadsWhatAWalkValueByValueReads) {
    for (uint32_t seed = 0; seed <= 3; ++seed) {
        // Fewer values than a stride, exactly strides, strides and a part.
        for (const std::size_t m : {std::size_t{5}, std::size_t{128}, std::size_t{700}}) {
            const WeightedValueCounts counts =
                seed == 0 ? thresholds_above_sums(m) : rounding_counts(m, seed);
            for (const std::size_t from : {std::size_t{0}, std::size_t{3}}) {
                if (from >= m) continue;
                const WeightStrides strides = strides_of(counts, from, m);
                // Rising positions read by one cursor each, and each position
                // read by a cursor of its own, which passes every stride it can.
                RowCursor<WeightedValueCounts> walk{counts, from, m};
                StrideCursor<WeightedValueCounts> cursor{counts, strides, from, m};
                for (const double at : positions_near_sums(counts, from, m)) {
                    const double want = value_at(walk, at);
                    ASSERT_EQ(value_at(cursor, at), want)
                        << "seed " << seed << ", " << m << " values from " << from << ", at " << at;
                    StrideCursor<WeightedValueCounts> fresh{counts, strides, from, m};
                    ASSERT_EQ(value_at(fresh, at), want)
                        << "seed " << seed << ", " << m << " values from " << from << ", at " << at
                        << " from the first";
                }
            }
        }
    }
}

TEST(WeightStrides, SummariesAndPrebinsOfManyValuesReadTheirMediansAndQuantilesValueByValue) {
    const WeightedValueCounts counts = rounding_counts(1000, 7);
    const Values splits{-0.5, 130.5, 131.5, 600.5};
    const auto rows =
        summarize_binary_weighted(counts, 0.0, 0.0, 0, splits, SummaryStatistic::Median);
    ASSERT_EQ(rows.size(), splits.size() + 1);
    // Each bin's median walked value by value from its first value.
    std::size_t from = 0;
    for (std::size_t b = 0; b < rows.size(); ++b) {
        const std::size_t to =
            b == splits.size() ? counts.value.size() : static_cast<std::size_t>(splits[b] + 8.5);
        double zeros = 0.0;
        double ones = 0.0;
        for (std::size_t j = from; j < to; ++j) {
            zeros += counts.c0[j];
            ones += counts.c1[j];
        }
        RowCursor<WeightedValueCounts> walk{counts, from, to};
        EXPECT_EQ(rows[b].c0, zeros);
        EXPECT_EQ(rows[b].c1, ones);
        EXPECT_EQ(rows[b].representative, median_of_rows(walk, 0.0, zeros + ones)) << "bin " << b;
        from = to;
    }
    // The quantile cut points of the pre-bins, as those of the counts apart.
    const WeightedCountsView view{counts.value.data(), counts.c0.data(), counts.c1.data(),
                                  counts.rows.data(), counts.value.size()};
    const auto prebins = weighted_prebins(view, 40, 1, 0.0);
    const Values cuts = quantile_splits_weighted(counts, 40);
    ASSERT_EQ(prebins.size(), cuts.size() + 1);
    for (std::size_t b = 0; b < cuts.size(); ++b) EXPECT_EQ(prebins[b].right, cuts[b]);
}

}  // namespace
