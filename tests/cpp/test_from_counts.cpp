// Results from counts merged over random partitions equal the row-wise ones.
#include "reference.hpp"

namespace {

using namespace ref;

struct Partitioned {
    Values x, y;
    std::vector<ValueCounts> kept, all;  // per part: rows preprocessing keeps; every non-NaN x
    PreprocessResult counters;           // summed over the parts
};

// Rows split into parts of random sizes, with an empty part and a part that
// holds only rows whose x is missing; the parts come in random order.
Partitioned partitioned(uint64_t seed, std::size_t n, int distinct) {
    std::mt19937_64 rng(seed);
    Partitioned p;
    p.x = messy_sample(rng, n, distinct);
    p.y.resize(n);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double u = unit(rng);
        p.y[i] = u < 0.02 ? kNaN : double(u < 0.3 + 0.04 * std::min(std::fabs(p.x[i]), 10.0));
    }
    for (std::size_t i = 0; i < 5; ++i) p.x.push_back(kNaN), p.y.push_back(double(i % 2));
    std::vector<std::size_t> edges{0, 0, n};
    for (int k = 0; k < 4; ++k)
        edges.push_back(std::uniform_int_distribution<std::size_t>(0, n)(rng));
    std::sort(edges.begin(), edges.end());
    edges.push_back(p.x.size());
    std::vector<std::size_t> order(edges.size() - 1);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), rng);
    for (std::size_t part : order) {
        const std::size_t a = edges[part], len = edges[part + 1] - a;
        const PreprocessResult r =
            preprocess_data(p.x.data() + a, p.y.data() + a, len, std::nullopt, 50.0);
        p.kept.push_back(count_values(r.x.data(), r.y.data(), r.x.size()));
        std::vector<int32_t> labels;
        Values xs;
        for (std::size_t i = a; i < a + len; ++i) {
            if (!std::isnan(p.y[i])) xs.push_back(p.x[i]), labels.push_back(int32_t(p.y[i]));
        }
        p.all.push_back(count_values(xs.data(), labels.data(), xs.size()));
        for (auto [sum, part_counter] : {std::pair{&p.counters.n_input, r.n_input},
                                         {&p.counters.n_used, r.n_used},
                                         {&p.counters.n_missing_x, r.n_missing_x},
                                         {&p.counters.n_missing_y, r.n_missing_y},
                                         {&p.counters.n_missing_both, r.n_missing_both},
                                         {&p.counters.n_non_finite, r.n_non_finite},
                                         {&p.counters.missing_count, r.missing_count},
                                         {&p.counters.missing_c0, r.missing_c0},
                                         {&p.counters.missing_c1, r.missing_c1}}) {
            *sum += part_counter;
        }
    }
    return p;
}

// The rows whose target is known, as x and 0/1 labels.
std::pair<Values, std::vector<int>> labelled(const Partitioned& p) {
    std::pair<Values, std::vector<int>> rows;
    for (std::size_t i = 0; i < p.x.size(); ++i) {
        if (!std::isnan(p.y[i])) rows.first.push_back(p.x[i]), rows.second.push_back(int(p.y[i]));
    }
    return rows;
}

class FromCounts : public ::testing::TestWithParam<std::tuple<uint64_t, std::size_t, int>> {
  protected:
    Partitioned p =
        partitioned(std::get<0>(GetParam()), std::get<1>(GetParam()), std::get<2>(GetParam()));
};

TEST_P(FromCounts, MdlpFullEqualsTheRawPipeline) {
    const ValueCounts merged = merge_value_counts(p.kept);
    const PreprocessResult whole =
        preprocess_data(p.x.data(), p.y.data(), p.x.size(), std::nullopt, 50.0);
    EXPECT_EQ(
        digest(boundaries_from_counts(merged)),
        digest(compute_boundaries(SortedView{whole.x.data(), whole.y.data(), whole.x.size()})));
    for (auto stat : {SummaryStatistic::Median, SummaryStatistic::Mean}) {
        for (int64_t minobs : {0, 40}) {
            TessalineParams params;
            params.minobs = minobs;
            const MdlpFullRawResult local = fit_mdlp_full_from_raw(
                p.x.data(), p.y.data(), p.x.size(), params, std::nullopt, 50.0, stat);
            const MdlpFullRawResult counted =
                fit_mdlp_full_from_counts(merged, p.counters, params, stat);
            EXPECT_EQ(digest(counted.mdlp, counted.intervals, counted.summary, counted.n_input,
                             counted.n_used, counted.n_missing_x, counted.n_missing_y,
                             counted.n_missing_both, counted.n_non_finite),
                      digest(local.mdlp, local.intervals, local.summary, local.n_input,
                             local.n_used, local.n_missing_x, local.n_missing_y,
                             local.n_missing_both, local.n_non_finite));
        }
    }
}

TEST_P(FromCounts, QuantileSummaryAndLorenzEqualTheRowWiseOnes) {
    const ValueCounts merged = merge_value_counts(p.all);
    const auto [xs, labels] = labelled(p);
    int64_t missing[2] = {0, 0};
    for (std::size_t i = 0; i < xs.size(); ++i) missing[labels[i]] += std::isnan(xs[i]);
    for (std::size_t n_bins : {1, 4, 10}) {
        const Values cuts = quantile_splits_from_counts(merged, n_bins);
        EXPECT_EQ(cuts, quantile_splits(xs.data(), xs.size(), n_bins));
        // The median is an order statistic; the row-wise mean sums in input order.
        EXPECT_EQ(digest(summarize_binary_from_counts(merged, missing[0], missing[1], cuts,
                                                      SummaryStatistic::Median)),
                  digest(summarize_binary(xs.data(), labels.data(), xs.size(), cuts,
                                          SummaryStatistic::Median)));
    }
    EXPECT_EQ(digest(lorenz_curve_from_counts(merged)),
              digest(lorenz_curve(xs.data(), labels.data(), xs.size())));
}

INSTANTIATE_TEST_SUITE_P(Samples, FromCounts,
                         ::testing::Values(std::tuple{1u, 3000u, 12}, std::tuple{2u, 20000u, 400},
                                           std::tuple{3u, 50u, 3}));

TEST(FromCountsErrors, NameTheirCause) {
    const ValueCounts bad{{1.0, 2.0}, {1}, {0, 1}};
    EXPECT_EQ(message_of([&] { merge_value_counts({bad}); }),
              "merge_value_counts: value, c0 and c1 must have the same length");
    EXPECT_EQ(message_of([&] { merge_value_counts({ValueCounts{{kNaN}, {1}, {0}}}); }),
              "merge_value_counts: values must not be NaN and counts not negative");
    EXPECT_EQ(message_of([] { quantile_splits_from_counts(ValueCounts{{kInf}, {1}, {0}}, 2); }),
              "binning: x no contiene valores finitos");
    EXPECT_EQ(message_of([] { lorenz_curve_from_counts(ValueCounts{{1.0}, {3}, {0}}); }),
              "lorenz_curve: se necesitan ambas clases");
    // Counts that no merge leaves: a value out of order, repeated, NaN, a negative count.
    const std::string unmerged =
        ": values must be ascending and distinct (not NaN) and counts not negative";
    for (const ValueCounts& counts :
         {ValueCounts{{2.0, 1.0}, {1, 1}, {0, 0}}, ValueCounts{{1.0, 1.0}, {1, 1}, {0, 0}},
          ValueCounts{{kNaN}, {1}, {0}}, ValueCounts{{1.0, 2.0}, {1, -1}, {0, 0}}}) {
        EXPECT_EQ(message_of([&] { boundaries_from_counts(counts); }),
                  "boundaries_from_counts" + unmerged);
        EXPECT_EQ(message_of([&] { percentile_from_counts(counts, 50.0); }),
                  "percentile_from_counts" + unmerged);
        EXPECT_EQ(message_of([&] { quantile_splits_from_counts(counts, 2); }),
                  "quantile_splits_from_counts" + unmerged);
        EXPECT_EQ(message_of([&] {
                      summarize_binary_from_counts(counts, 0, 0, {}, SummaryStatistic::Median);
                  }),
                  "summary_binary_from_counts" + unmerged);
        EXPECT_EQ(message_of([&] { lorenz_curve_from_counts(counts); }),
                  "lorenz_curve_from_counts" + unmerged);
    }
    const int64_t rows[3] = {1, 2, 0}, negative[3] = {1, -1, 0};
    EXPECT_EQ(message_of([&] { compare_distributions_from_counts(rows, negative, {1.0}, 1e-12); }),
              "compare_distributions_from_counts: counts must not be negative");
    EXPECT_EQ(message_of([&] { percentile_from_counts(bad, 50.0); }),
              "percentile_from_counts: value, c0 and c1 must have the same length");
}

// Faults that must not pass unnoticed: counts whose sum leaves int64 (the
// total would wrap negative and rows vanish), a percentile that is no
// percentage (NaN indexed outside the rows) and counters that do not
// describe the counted rows (more events than missing rows).
struct CountFault {
    std::string name;
    std::function<void()> call;
    std::string message;
};

std::vector<CountFault> count_faults() {
    constexpr int64_t half = int64_t{1} << 62;  // two of these leave int64
    const std::string overflow = ": counts add up to more rows than 9223372036854775807";
    const std::pair<std::string, std::function<void(const ValueCounts&)>> readers[] = {
        {"boundaries_from_counts", [](const ValueCounts& c) { boundaries_from_counts(c); }},
        {"percentile_from_counts", [](const ValueCounts& c) { percentile_from_counts(c, 50.0); }},
        {"quantile_splits_from_counts",
         [](const ValueCounts& c) { quantile_splits_from_counts(c, 4); }},
        {"summary_binary_from_counts",
         [](const ValueCounts& c) {
             summarize_binary_from_counts(c, 0, 0, {}, SummaryStatistic::Median);
         }},
        {"lorenz_curve_from_counts", [](const ValueCounts& c) { lorenz_curve_from_counts(c); }},
        {"mdlp_full_from_counts", [](const ValueCounts& c) {
             fit_mdlp_full_from_counts(c, {}, {}, SummaryStatistic::Median);
         }}};
    std::vector<CountFault> faults;
    for (const auto& [name, read] : readers) {
        for (const auto& [layout, counts] :
             {std::pair{"Values", ValueCounts{{1.0, 2.0}, {half, half}, {0, 0}}},
              std::pair{"Classes", ValueCounts{{1.0}, {half}, {half}}}}) {
            faults.push_back({name + "_overflow_over_" + layout,
                              [read = read, counts = counts] { read(counts); }, name + overflow});
        }
    }
    const ValueCounts one_half{{1.0}, {half}, {0}}, other_half{{2.0}, {half}, {0}};
    faults.push_back({"merge_overflow_at_one_value",
                      [=] { merge_value_counts({one_half, one_half}); },
                      "merge_value_counts" + overflow});
    faults.push_back({"merge_overflow_over_values",
                      [=] { merge_value_counts({one_half, other_half}); },
                      "merge_value_counts" + overflow});
    faults.push_back(
        {"summary_overflow_with_missing",
         [=] { summarize_binary_from_counts(one_half, half, 0, {}, SummaryStatistic::Median); },
         "summary_binary_from_counts" + overflow});
    faults.push_back({"compare_distributions_overflow",
                      [] {
                          const int64_t big[3] = {half, half, 0}, rows[3] = {1, 1, 0};
                          compare_distributions_from_counts(big, rows, {1.0}, 1e-12);
                      },
                      "compare_distributions_from_counts" + overflow});
    for (const auto& [name, p] :
         {std::pair{"nan", kNaN}, {"negative", -1.0}, {"above_100", 100.5}}) {
        faults.push_back({std::string("percentile_") + name,
                          [p = p, one_half] { percentile_from_counts(one_half, p); },
                          "percentile_from_counts: percentile must be between 0 and 100"});
    }
    PreprocessResult more_events;  // one missing row holding two events
    more_events.n_used = 3, more_events.missing_count = 1, more_events.missing_c1 = 2;
    PreprocessResult wrong_used;
    wrong_used.n_used = 4;
    const ValueCounts three{{1.0, 2.0}, {1, 1}, {0, 1}};
    faults.push_back(
        {"mdlp_more_events_than_missing_rows",
         [=] { fit_mdlp_full_from_counts(three, more_events, {}, SummaryStatistic::Median); },
         "mdlp_full_from_counts: missing_c0 and missing_c1 must add up to missing_count"});
    faults.push_back(
        {"mdlp_n_used_not_the_counted_rows",
         [=] { fit_mdlp_full_from_counts(three, wrong_used, {}, SummaryStatistic::Median); },
         "mdlp_full_from_counts: n_used must equal the rows behind the counts"});
    return faults;
}

void PrintTo(const CountFault& fault, std::ostream* os) {
    *os << fault.name;
}

class CountFaults : public ::testing::TestWithParam<CountFault> {};

TEST_P(CountFaults, AreRefusedWithTheirCause) {
    EXPECT_EQ(message_of(GetParam().call), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(FunctionsOnCounts, CountFaults, ::testing::ValuesIn(count_faults()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
