// Weighted counts: the quantile rule on fractional weights, the exact order of
// weighted event rates, merges, a column counted and pre-binned in one call
// against the steps apart, and the refusal of bad weights. That integer
// weights give the results of the rows repeated is shown from Python.
#include <cstring>

#include "reference.hpp"

namespace {

using namespace ref;

// Weights 0.5, 1.5, 1, 1 at 1, 2, 3, 4: positions [0, .5), [.5, 2), [2, 3), [3, 4).
WeightedValueCounts four_values() {
    return WeightedValueCounts{
        {1.0, 2.0, 3.0, 4.0}, {0.5, 1.5, 1.0, 0.0}, {0.0, 0.0, 0.0, 1.0}, {1, 2, 1, 1}};
}

TEST(WeightedCounts, QuantilesAndMediansReadWeightsAsRows) {
    const WeightedValueCounts counts = four_values();
    // Quantile 1/2 of weight 4 sits at position 1.5, between 2 (at 1) and 3 (at 2).
    EXPECT_EQ(quantile_splits_weighted(counts, 2), Values{2.5});
    // Quartiles at positions 0.75 (between 1 and 2), 1.5 and 2.25 (between 3 and 4).
    EXPECT_EQ(quantile_splits_weighted(counts, 4), (Values{1.75, 2.5, 3.25}));
    const auto rows =
        summarize_binary_weighted(counts, 0.25, 0.5, 2, Values{2.0}, SummaryStatistic::Median);
    ASSERT_EQ(rows.size(), 3u);
    // (-inf, 2]: weight 2 at 1 (.5) and 2 (1.5): median at position .5, halfway.
    EXPECT_EQ(rows[0].count, 2.0);
    EXPECT_EQ(rows[0].rows, 3);
    EXPECT_EQ(rows[0].representative, 1.5);
    EXPECT_EQ(rows[1].representative, 3.5);
    EXPECT_EQ(rows[1].event_rate, 0.5);
    EXPECT_EQ(rows[2].count, 0.75);
    EXPECT_EQ(rows[2].rows, 2);
    EXPECT_EQ(rows[0].percentage, 2.0 / 4.75);
    // Less than one row of weight is its first value.
    const WeightedValueCounts light{{5.0, 6.0}, {0.25, 0.5}, {0.0, 0.0}, {1, 1}};
    EXPECT_EQ(
        summarize_binary_weighted(light, 0, 0, 0, {}, SummaryStatistic::Median)[0].representative,
        5.0);
    EXPECT_EQ(quantile_splits_weighted(light, 2), Values{5.0});
}

TEST(WeightedCounts, EventRatesOrderExactlyAndTieByCode) {
    // 1/3; a rate below 1/3 by less than a product's rounding (c1 * 3 rounds
    // to c0 + c1 = 1); 0; 1/3 again, which ties with the first by code.
    const double third = 0x1.5555555555555p-2;
    const Values c0{2.0, 0x1.5555555555556p-1, 1.0, 0.5};
    const Values c1{1.0, third, 0.0, 0.25};
    EXPECT_EQ(event_rate_order_weighted(c0.data(), c1.data(), 4),
              (std::vector<int64_t>{2, 1, 0, 3}));
}

TEST(WeightedCounts, RatesWhoseProductsRoundAlikeOrderByTheirErrorsInEitherListing) {
    // 1/3 exactly, and a rate below it whose cross products round to the same
    // double (1.0): only the products' rounding errors (0 and -2^-54) tell
    // them apart, whichever of the two is listed first.
    const double third = 0x1.5555555555555p-2;
    const double rest = 0x1.5555555555556p-1;
    for (const bool lower_first : {false, true}) {
        const Values c0 = lower_first ? Values{rest, 2.0} : Values{2.0, rest};
        const Values c1 = lower_first ? Values{third, 1.0} : Values{1.0, third};
        EXPECT_EQ(c1[0] * (c0[1] + c1[1]), c1[1] * (c0[0] + c1[0]));
        EXPECT_EQ(event_rate_order_weighted(c0.data(), c1.data(), 2),
                  lower_first ? (std::vector<int64_t>{0, 1}) : (std::vector<int64_t>{1, 0}));
    }
}

TEST(WeightedCounts, MergesAddWeightsAndRecordsByValue) {
    const WeightedValueCounts a{{-0.0, 1.0, 2.0}, {1.0, 0.0, 0.5}, {0.0, 0.0, 0.0}, {1, 0, 1}};
    const WeightedValueCounts b{{0.0, 2.0}, {0.0, 0.25}, {2.0, 1.0}, {1, 2}};
    const WeightedValueCounts m = merge_weighted_value_counts({a, b});
    EXPECT_EQ(m.value, (Values{0.0, 2.0}));
    EXPECT_FALSE(std::signbit(m.value[0]));
    EXPECT_EQ(m.c0, (Values{1.0, 0.75}));
    EXPECT_EQ(m.c1, (Values{2.0, 1.0}));
    EXPECT_EQ(m.rows, (std::vector<int64_t>{2, 3}));
}

// 1e16 + 1 rounds back to 1e16 (doubles are 2 apart there), so a running sum
// would depend on where the two 1s come; their exact sum, 1e16 + 2, does not.
TEST(WeightedCounts, WeightsAreSummedExactlyInAnyOrderOfRowsOrParts) {
    const Values x{5.0, 5.0, 5.0};
    const std::vector<int32_t> y{1, 1, 1};
    const std::vector<int64_t> codes{0, 0, 0};
    const Values labels{1.0, 1.0, 1.0};
    for (const Values& w : {Values{1e16, 1.0, 1.0}, Values{1.0, 1e16, 1.0}}) {
        EXPECT_EQ(count_values_weighted(x.data(), y.data(), w.data(), 3).c1, Values{1e16 + 2.0});
        EXPECT_EQ(count_categories_weighted(codes.data(), labels.data(), w.data(), 3, 1).c1,
                  Values{1e16 + 2.0});
    }
    const WeightedValueCounts big{{5.0}, {0.0}, {1e16}, {1}};
    const WeightedValueCounts one{{5.0}, {0.0}, {1.0}, {1}};
    EXPECT_EQ(merge_weighted_value_counts({big, one, one}).c1, Values{1e16 + 2.0});
    // A sum beyond the largest double is refused, not read as infinity.
    const Values huge{1e308, 1e308, 1.0};
    EXPECT_EQ(message_of([&] { count_values_weighted(x.data(), y.data(), huge.data(), 3); }),
              "count_values_weighted: sample_weight adds up beyond the largest double; divide "
              "the weights by a common factor");
}

// The weight of every row of a category is its own exact sum, not the sum of
// its classes' rounded sums: 1e16 + 0.75 rounds to 1e16 and 0.75 stays, which
// add to 1e16, while the rows' exact total, 1e16 + 1.5, rounds to 1e16 + 2.
// Alike whether some row's label is missing (in another category) or not.
TEST(WeightedCounts, EveryRowOfACategoryIsSummedExactlyOnce) {
    const std::vector<int64_t> codes{0, 0, 0, 1, -1};
    const Values w{1e16, 0.75, 0.75, 1.0, 0.5};
    for (const double other : {0.0, kNaN}) {
        const Values labels{0.0, 0.0, 1.0, other, 1.0};
        const auto counts =
            count_categories_weighted(codes.data(), labels.data(), w.data(), 5, 2, true);
        EXPECT_EQ(counts.c0[0] + counts.c1[0], 1e16);
        EXPECT_EQ(counts.every, (Values{1e16 + 2.0, 1.0}));
        EXPECT_EQ(counts.missing_every, 0.5);
    }
}

// Fractional weights within a few binades of one another are summed as whole
// multiples of the least one's ulp, the others as expansions: both round the
// exact sum once. Three weights of 1 + 2^-52 add up to 3 + 3 * 2^-52, half
// way between two doubles, which rounds to the even one, 3 + 2^-50; 2^12
// weights just below 2^11 hold multiples past 2^64 of the ulp of 1. A row of
// weight 2^-40 in a category of its own sends the same rows down the other
// path: every category's sums stay the same bits.
TEST(WeightedCounts, WeightsOfNearScalesSumAsTheirExpansionsDo) {
    const double e = std::ldexp(1.0, -52);
    const Values three(3, 1.0 + e);
    const std::vector<int64_t> zeros(3, 0);
    EXPECT_EQ(
        count_categories_weighted(zeros.data(), Values{0, 0, 0}.data(), three.data(), 3, 1).c0,
        Values{3.0 + std::ldexp(1.0, -50)});
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const double top : {2.0, 2047.0}) {
        const std::size_t n = 4096;
        std::vector<int64_t> codes(n + 1);
        Values labels(n + 1), w(n + 1);
        for (std::size_t i = 0; i < n; ++i) {
            codes[i] = static_cast<int64_t>(i % 3) - 1;
            labels[i] = i % 7 == 0 ? kNaN : static_cast<double>(i % 5 == 0);
            w[i] = 1.0 + unit(rng) * (top - 1.0);
        }
        codes[n] = 2;
        labels[n] = 1.0;
        w[n] = std::ldexp(1.0, -40);
        const auto scaled =
            count_categories_weighted(codes.data(), labels.data(), w.data(), n, 3, true);
        const auto expanded =
            count_categories_weighted(codes.data(), labels.data(), w.data(), n + 1, 3, true);
        for (std::size_t j = 0; j < 2; ++j) {
            EXPECT_EQ(scaled.c0[j], expanded.c0[j]) << top;
            EXPECT_EQ(scaled.c1[j], expanded.c1[j]) << top;
            EXPECT_EQ(scaled.every[j], expanded.every[j]) << top;
        }
        EXPECT_EQ(scaled.missing_c0, expanded.missing_c0);
        EXPECT_EQ(scaled.missing_every, expanded.missing_every);
        // The same rows by value, summed group by group.
        Values x(n + 1);
        std::vector<int32_t> y(n + 1);
        for (std::size_t i = 0; i <= n; ++i) {
            x[i] = static_cast<double>(codes[i]);
            y[i] = static_cast<int32_t>(labels[i] == 1.0);
        }
        const auto by_scale = count_values_weighted(x.data(), y.data(), w.data(), n);
        const auto by_expansion = count_values_weighted(x.data(), y.data(), w.data(), n + 1);
        EXPECT_EQ(by_scale.c0, Values(by_expansion.c0.begin(), by_expansion.c0.end() - 1));
        EXPECT_EQ(by_scale.c1, Values(by_expansion.c1.begin(), by_expansion.c1.end() - 1));
    }
}

// 2^53 + 1 rounds to 2^53, so whole weights adding up to 2^53 may have lost a
// row on the way: only a total below 2^53 lets plain sums stand for exact ones.
// The weights are read four at a time where there are four, so both a short
// and a longer column are asked, the large weight in each place of a group.
TEST(WeightedCounts, WholeWeightsReachingTwoToThe53AreStillSummedExactly) {
    const double big = 9007199254740992.0;
    for (const std::size_t n : {3, 9}) {
        for (std::size_t at = 0; at < std::min<std::size_t>(n, 4); ++at) {
            const Values x(n, 5.0);
            const std::vector<int32_t> y(n, 1);
            const Values flags(n, 1.0);
            const std::vector<int64_t> codes(n, 0);
            Values w(n, 1.0);
            w[at] = big;
            const Values want{big + static_cast<double>(n - 1)};
            EXPECT_EQ(count_values_weighted(x.data(), y.data(), w.data(), n).c1, want) << n;
            EXPECT_EQ(count_column_weighted(x.data(), flags.data(), w.data(), n).counts.c1, want);
            EXPECT_EQ(count_categories_weighted(codes.data(), flags.data(), w.data(), n, 1).c1,
                      want);
        }
    }
}

// Weights all 1 take the count of rows where it says all the weighted count
// does: the same categories as with a row of weight 0 added, which the
// weighted count leaves out, with unknown labels and without, and the same
// refusal of a bad label.
TEST(WeightedCounts, CategoriesOfWeightsOfOneAreThoseOfTheWeightedCount) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const std::size_t n = 5000, k = 7;
    for (const bool unknown : {false, true}) {
        std::vector<int64_t> codes(n + 1);
        Values labels(n + 1);
        for (std::size_t i = 0; i <= n; ++i) {
            codes[i] = static_cast<int64_t>(unit(rng) * (k + 1)) - 1;
            labels[i] = unknown && unit(rng) < 0.05 ? kNaN : static_cast<double>(unit(rng) < 0.3);
        }
        Values w(n + 1, 1.0);
        w[n] = 0.0;
        for (const bool every : {false, true}) {
            const auto ones =
                count_categories_weighted(codes.data(), labels.data(), w.data(), n, k, every);
            const auto walked =
                count_categories_weighted(codes.data(), labels.data(), w.data(), n + 1, k, every);
            EXPECT_EQ(ones.c0, walked.c0);
            EXPECT_EQ(ones.c1, walked.c1);
            EXPECT_EQ(ones.rows, walked.rows);
            EXPECT_EQ(ones.missing_c0, walked.missing_c0);
            EXPECT_EQ(ones.missing_c1, walked.missing_c1);
            EXPECT_EQ(ones.missing_rows, walked.missing_rows);
            EXPECT_EQ(ones.every, walked.every);
            EXPECT_EQ(ones.missing_every, walked.missing_every);
        }
        // Labels next to 0 and 1 (a product with either would underflow
        // or round to them) and beyond any range are refused alike, under
        // whole and fractional weights; -0.0 is a label of 0.
        const Values fractional(n, 0.75);
        for (const double label : {2.0, kInf, -1.0, 1.0 + DBL_EPSILON, 1.0 - DBL_EPSILON / 2,
                                   DBL_TRUE_MIN, -DBL_TRUE_MIN}) {
            labels[n / 2] = label;
            for (const Values* weights : {static_cast<const Values*>(&w), &fractional}) {
                EXPECT_EQ(message_of([&] {
                              count_categories_weighted(codes.data(), labels.data(),
                                                        weights->data(), n, k);
                          }),
                          "count_categories: labels must be 0, 1 or NaN")
                    << label;
            }
        }
        labels[n / 2] = -0.0;
        EXPECT_EQ(
            count_categories_weighted(codes.data(), labels.data(), fractional.data(), n, k).rows,
            count_categories_weighted(codes.data(), labels.data(), w.data(), n, k).rows);
    }
}

// Rows with NaN values, unknown targets and zero weights under weights of
// every kind the count tells apart (all 1, 1 but one, whole, fractional,
// whole beyond the weights it files by class and weight).
struct WeightedSample {
    Values x, flags, w;
};

WeightedSample weighted_sample(int kind) {
    std::mt19937_64 rng(11 + kind);
    const std::size_t n = 3000;
    WeightedSample s{messy_sample(rng, n, 40), Values(n), Values(n, 1.0)};
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double u = unit(rng);
        s.flags[i] = u < 0.05 ? kNaN : static_cast<double>(u < 0.3);
        if (kind == 1 && i == 7) s.w[i] = 2.0;
        if (kind == 2) s.w[i] = std::floor(unit(rng) * 4.0);
        if (kind == 3) s.w[i] = unit(rng) < 0.1 ? 0.0 : 0.1 + unit(rng) * 3.0;
        if (kind == 4) s.w[i] = std::floor(unit(rng) * 10.0);
    }
    return s;
}

TEST(WeightedCounts, AColumnCountedInOnePassIsItsRowsCountedApart) {
    for (int kind = 0; kind < 4; ++kind) {
        const WeightedSample s = weighted_sample(kind);
        Values known_x, known_w, nan_x, nan_w;
        std::vector<int32_t> known_y, nan_y;
        for (std::size_t i = 0; i < s.x.size(); ++i) {
            if (std::isnan(s.flags[i])) continue;
            const bool missing = std::isnan(s.x[i]);
            (missing ? nan_x : known_x).push_back(missing ? 0.0 : s.x[i]);
            (missing ? nan_y : known_y).push_back(static_cast<int32_t>(s.flags[i]));
            (missing ? nan_w : known_w).push_back(s.w[i]);
        }
        const WeightedValueCounts apart =
            count_values_weighted(known_x.data(), known_y.data(), known_w.data(), known_x.size());
        const WeightedValueCounts missing =
            count_values_weighted(nan_x.data(), nan_y.data(), nan_w.data(), nan_x.size());
        const WeightedCountedColumn column =
            count_column_weighted(s.x.data(), s.flags.data(), s.w.data(), s.x.size());
        EXPECT_EQ(column.counts.value, apart.value) << kind;
        EXPECT_EQ(column.counts.c0, apart.c0) << kind;
        EXPECT_EQ(column.counts.c1, apart.c1) << kind;
        EXPECT_EQ(column.counts.rows, apart.rows) << kind;
        ASSERT_EQ(missing.value.size(), 1u);
        EXPECT_EQ(column.missing_c0, missing.c0[0]) << kind;
        EXPECT_EQ(column.missing_c1, missing.c1[0]) << kind;
        EXPECT_EQ(column.missing_rows, missing.rows[0]) << kind;
    }
    // No finite value: no pre-bins, and no error before the limits are checked.
    const PrebinRequest request{20, 64, 0.01};
    const Values nan{kNaN, kNaN};
    EXPECT_FALSE(
        count_column_weighted(nan.data(), Values{0, 1}.data(), Values{1, 2}.data(), 2, &request)
            .has_prebins);
}

// Kinds settled once for all the rows hold for any part of them: a part of
// weights 0 to 3 whose rows all weigh 1 or at most 2, or fractional weights
// narrower than the whole's, is counted to the same sums with the whole's
// kinds as with its own.
TEST(WeightedCounts, KindsOfAllTheRowsCountAnyPartAlike) {
    for (int kind = 0; kind < 4; ++kind) {
        const WeightedSample s = weighted_sample(kind);
        const WeightKinds whole = weight_kinds(s.w.data(), s.w.size());
        for (const double below : {1.5, 2.5, 10.0}) {
            Values x, flags, w;
            std::vector<int64_t> codes;
            for (std::size_t i = 0; i < s.x.size(); ++i) {
                if (!(s.w[i] > 0.0 && s.w[i] < below) && kind != 0) continue;
                x.push_back(s.x[i]);
                flags.push_back(s.flags[i]);
                w.push_back(s.w[i]);
                codes.push_back(std::isnan(s.x[i]) ? -1 : static_cast<int64_t>(i % 5));
            }
            const std::size_t n = x.size();
            const PrebinRequest request{20, 64, 0.01};
            const auto own = count_column_weighted(x.data(), flags.data(), w.data(), n, &request);
            const auto given =
                count_column_weighted(x.data(), flags.data(), w.data(), n, &request, &whole);
            EXPECT_EQ(given.counts.value, own.counts.value) << kind << " " << below;
            EXPECT_EQ(given.counts.c0, own.counts.c0) << kind << " " << below;
            EXPECT_EQ(given.counts.c1, own.counts.c1) << kind << " " << below;
            EXPECT_EQ(given.counts.rows, own.counts.rows) << kind << " " << below;
            EXPECT_EQ(given.missing_c0, own.missing_c0) << kind << " " << below;
            EXPECT_EQ(given.missing_c1, own.missing_c1) << kind << " " << below;
            ASSERT_EQ(given.prebins.size(), own.prebins.size()) << kind << " " << below;
            for (std::size_t b = 0; b < own.prebins.size(); ++b) {
                EXPECT_EQ(given.prebins[b].c0, own.prebins[b].c0) << kind << " " << b;
                EXPECT_EQ(given.prebins[b].c1, own.prebins[b].c1) << kind << " " << b;
            }
            const auto cats =
                count_categories_weighted(codes.data(), flags.data(), w.data(), n, 5, true);
            const auto cats_given =
                count_categories_weighted(codes.data(), flags.data(), w.data(), n, 5, true, &whole);
            EXPECT_EQ(cats_given.c0, cats.c0) << kind << " " << below;
            EXPECT_EQ(cats_given.c1, cats.c1) << kind << " " << below;
            EXPECT_EQ(cats_given.every, cats.every) << kind << " " << below;
            EXPECT_EQ(cats_given.missing_every, cats.missing_every) << kind << " " << below;
        }
    }
    // Kinds of other weights are refused where they would file a row out of bounds.
    const Values x{1.0, 2.0}, flags{0.0, 1.0}, light{1.0, 2.0}, heavy{1.0, 9.0};
    const WeightKinds small = weight_kinds(light.data(), 2);
    EXPECT_EQ(message_of([&] {
                  count_column_weighted(x.data(), flags.data(), heavy.data(), 2, nullptr, &small);
              }),
              "count_column_weighted: weights beyond the kinds given");
}

// The flags are read four at a time, in a pass of their own or, with the
// kinds of the weights given, in the pass that files the rows (of whole
// weights by level, of fractional ones as records): a refused flag is found
// in any lane and in the rows left over, and a NaN flag beside it does not
// hide it.
TEST(WeightedCounts, ARefusedFlagIsFoundAtEveryRow) {
    for (const double weight : {1.0, 2.0, 1.5}) {
        for (const bool given : {false, true}) {
            for (const double bad : {0.5, -1.0, kInf, 2.0}) {
                for (std::size_t n = 1; n <= 11; ++n) {
                    for (std::size_t at = 0; at < n; ++at) {
                        Values flags(n);
                        for (std::size_t i = 0; i < n; ++i) {
                            flags[i] = i % 3 == 2 ? kNaN : double(i % 2);
                        }
                        flags[at] = bad;
                        const Values x(n, 1.0);
                        const Values w(n, weight);
                        const WeightKinds kinds = weight_kinds(w.data(), n);
                        EXPECT_EQ(message_of([&] {
                                      count_column_weighted(x.data(), flags.data(), w.data(), n,
                                                            nullptr, given ? &kinds : nullptr);
                                  }),
                                  "count_column_weighted: flags must be 0, 1 or NaN")
                            << weight << " " << given << " " << bad << " " << n << " " << at;
                    }
                }
            }
        }
    }
}

// Whole weights are pre-binned through an index of counts (the one their
// count builds as it merges, or one built from the counts), fractional ones
// value by value: either way the pre-bins are those of the steps on counts.
TEST(WeightedCounts, PrebinsInOneCallAreThoseOfTheStepsOnCounts) {
    for (int kind = 0; kind < 5; ++kind) {
        const WeightedSample s = weighted_sample(kind);
        const WeightedValueCounts counts =
            count_column_weighted(s.x.data(), s.flags.data(), s.w.data(), s.x.size()).counts;
        Values splits = quantile_splits_weighted(counts, 20);
        const Values informative = class_split_cuts(
            counts.value.data(), counts.c0.data(), counts.c1.data(), counts.value.size(), 64, 0.01);
        splits.insert(splits.end(), informative.begin(), informative.end());
        const auto want = summarize_binary_weighted(counts, 0.0, 0.0, 0,
                                                    normalize_splits(splits.data(), splits.size()),
                                                    SummaryStatistic::Median);
        const WeightedCountsView view{counts.value.data(), counts.c0.data(), counts.c1.data(),
                                      counts.rows.data(), counts.value.size()};
        const auto got = weighted_prebins(view, 20, 64, 0.01);
        // Made with the counts: through the count of rows for weights of 1.
        const PrebinRequest request{20, 64, 0.01};
        const WeightedCountedColumn column =
            count_column_weighted(s.x.data(), s.flags.data(), s.w.data(), s.x.size(), &request);
        ASSERT_TRUE(column.has_prebins);
        ASSERT_EQ(column.prebins.size(), got.size());
        for (std::size_t b = 0; b < got.size(); ++b) {
            EXPECT_EQ(column.prebins[b].right, got[b].right) << kind << " " << b;
            EXPECT_EQ(column.prebins[b].c0, got[b].c0) << kind << " " << b;
            EXPECT_EQ(column.prebins[b].c1, got[b].c1) << kind << " " << b;
        }
        ASSERT_EQ(got.size(), want.size()) << kind;
        for (std::size_t b = 0; b < got.size(); ++b) {
            EXPECT_EQ(got[b].left, want[b].left) << kind << " " << b;
            EXPECT_EQ(got[b].right, want[b].right) << kind << " " << b;
            EXPECT_EQ(got[b].c0, want[b].c0) << kind << " " << b;
            EXPECT_EQ(got[b].c1, want[b].c1) << kind << " " << b;
        }
    }
}

// Whole weights of at most 4 come with the index of their counts, and their
// median summary read through it is the one read value by value, bit for
// bit; an index of another length is refused.
TEST(WeightedCounts, ASummaryReadThroughTheCountsIndexIsTheSummaryOfTheCounts) {
    for (int kind = 1; kind <= 2; ++kind) {
        const WeightedSample s = weighted_sample(kind);
        const WeightedCountedColumn column =
            count_column_weighted(s.x.data(), s.flags.data(), s.w.data(), s.x.size());
        const WeightedValueCounts& counts = column.counts;
        const WeightedCountsView view{counts.value.data(), counts.c0.data(), counts.c1.data(),
                                      counts.rows.data(), counts.value.size()};
        const std::size_t k = column.index_c0.size();
        ASSERT_EQ(k, counts.value.size() / 64 + 1) << kind;
        ASSERT_EQ(column.index_rows.size(), k) << kind;
        for (const Values& splits : {Values{}, Values{-4.0, -1.0, 0.0, 0.5, 2.0, 4.9},
                                     Values{-kInf, -2.75}, Values{5.0, kInf}}) {
            const auto want = summarize_binary_weighted(counts, column.missing_c0, 1.5, 7, splits,
                                                        SummaryStatistic::Median);
            const auto got = summarize_binary_weighted_indexed(
                view, column.index_c0.data(), column.index_c1.data(), column.index_rows.data(), k,
                column.missing_c0, 1.5, 7, splits);
            ASSERT_EQ(got.size(), want.size()) << kind;
            for (std::size_t b = 0; b < got.size(); ++b) {
                EXPECT_EQ(got[b].count, want[b].count) << kind << " " << b;
                EXPECT_EQ(got[b].rows, want[b].rows) << kind << " " << b;
                EXPECT_EQ(got[b].percentage, want[b].percentage) << kind << " " << b;
                EXPECT_EQ(got[b].c0, want[b].c0) << kind << " " << b;
                EXPECT_EQ(got[b].c1, want[b].c1) << kind << " " << b;
                EXPECT_EQ(got[b].event_rate, want[b].event_rate) << kind << " " << b;
                EXPECT_EQ(
                    std::memcmp(&got[b].representative, &want[b].representative, sizeof(double)), 0)
                    << kind << " " << b;
            }
        }
        EXPECT_EQ(message_of([&] {
                      summarize_binary_weighted_indexed(
                          view, column.index_c0.data(), column.index_c1.data(),
                          column.index_rows.data(), k - 1, 0.0, 0.0, 0, {});
                  }),
                  "summary_binary_from_counts: the index must hold one entry per 64 values, and "
                  "one more");
    }
    // Fractional weights have no index.
    const WeightedSample s = weighted_sample(3);
    EXPECT_TRUE(
        count_column_weighted(s.x.data(), s.flags.data(), s.w.data(), s.x.size()).index_c0.empty());
}

TEST(WeightedCounts, BadWeightsNameTheirRow) {
    const Values x{1.0, 2.0, 3.0};
    const std::vector<int32_t> y{0, 1, 0};
    const Values w{1.0, 0.0, -1.0};
    EXPECT_EQ(message_of([&] { count_values_weighted(x.data(), y.data(), w.data(), 3); }),
              "sample_weight must be finite and non-negative: row 2 is -1");
    const Values nan{kNaN, 1.0, 1.0};
    const std::vector<int64_t> codes{0, 0, 0};
    EXPECT_EQ(
        message_of([&] { count_categories_weighted(codes.data(), x.data(), nan.data(), 3, 1); }),
        "sample_weight must be finite and non-negative: row 0 is nan");
    // A row of weight 0 is as if absent: not even a record.
    const WeightedValueCounts counts =
        count_values_weighted(x.data(), y.data(), Values{1, 0, 2}.data(), 3);
    EXPECT_EQ(counts.value, (Values{1.0, 3.0}));
    EXPECT_EQ(counts.rows, (std::vector<int64_t>{1, 1}));
}

}  // namespace
