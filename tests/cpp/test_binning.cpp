#include "reference.hpp"

namespace {

using namespace ref;

Values equal_width(const Values& x, std::size_t n_bins, WidthRange range = WidthRange::Full,
                   double lower = 0.0, double upper = 1.0, double k = 1.5) {
    return equal_width_splits(x.data(), x.size(), n_bins, range, lower, upper, k);
}
Values quantiles(const Values& x, std::size_t n_bins) {
    return quantile_splits(x.data(), x.size(), n_bins);
}
auto binary(const Values& x, const std::vector<int>& y, const Values& cuts,
            SummaryStatistic stat = SummaryStatistic::Median) {
    return summarize_binary(x.data(), y.data(), x.size(), cuts, stat);
}
auto continuous(const Values& x, const Values& y, const Values& cuts,
                SummaryStatistic stat = SummaryStatistic::Median) {
    return summarize_continuous(x.data(), y.data(), x.size(), cuts, stat);
}

// Large inputs of several shapes: random, heavily tied, sorted either way,
// mostly missing, signed zeros, spread over hundreds of orders of magnitude,
// a tight cluster with a few far outliers, and the smallest subnormals; then
// small ones of every size and tie level.
constexpr std::size_t kLarge = 120000;
std::vector<Values> samples() {
    std::mt19937_64 rng(555);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Values> out(8, Values(kLarge));
    for (std::size_t i = 0; i < kLarge; ++i) {
        out[0][i] = normal(rng);
        out[1][i] = unit(rng) < 0.9 ? 1.5 : std::round(normal(rng) * 3.0);
        out[2][i] = double(i % 1000) * 1e-3 + double(i / 1000);
        out[3][i] = unit(rng) < 0.6 ? (unit(rng) < 0.5 ? kNaN : kInf) : normal(rng);
        out[4][i] = unit(rng) < 0.5 ? (unit(rng) < 0.5 ? -0.0 : 0.0) : std::round(normal(rng));
        out[5][i] = (unit(rng) < 0.5 ? -1.0 : 1.0) * std::pow(10.0, unit(rng) * 600.0 - 300.0);
        out[6][i] = unit(rng) < 0.001 ? normal(rng) * 1e12 : 1.0 + normal(rng) * 1e-9;
        out[7][i] =
            unit(rng) < 0.01 ? 1.0 : double(rng() % 3) * std::numeric_limits<double>::denorm_min();
    }
    out.emplace_back(out[2].rbegin(), out[2].rend());
    for (std::size_t n : {0u, 1u, 2u, 3u, 17u, 300u, 5000u, 20000u}) {
        for (int distinct : {1, 3, 9, 40}) out.push_back(messy_sample(rng, n, distinct));
    }
    return out;
}

TEST(BinningSplits, WorkedExamplesDegenerateRangesAndFailures) {
    Values hundred(101), skewed = {1, 2, 3, 4, 5, 6, 7, 8, 9, 100};
    std::iota(hundred.begin(), hundred.end(), 0.0);
    const Values tied = {0, 5, 5, 5, 5, 5, 5, 20}, flat = {kNaN, 4, kInf, 4, -kInf, 4};
    const Values mixed = {3, -1, kNaN, 8, 2.5, 11, kInf, 0};
    const std::pair<Values, Values> examples[] = {
        {equal_width({0, 10}, 4), {2.5, 5.0, 7.5}},
        {equal_width(hundred, 3, WidthRange::Quantile, 0.05, 0.95), {35.0, 65.0}},
        {equal_width(skewed, 2, WidthRange::Iqr, 0, 1, 1.5), {7.75}},
        {equal_width(skewed, 2, WidthRange::Iqr, 0, 1, 0.0), {5.5}},  // exactly [q1, q3]
        {equal_width(mixed, 6, WidthRange::Quantile, 0.0, 1.0), equal_width(mixed, 6)},
        // No spread between the quartiles: back to the full range.
        {equal_width(tied, 4, WidthRange::Iqr, 0, 1, 3.0), equal_width(tied, 4)},
        {quantiles({1, 2, 3, 4, 5}, 4), {2.0, 3.0, 4.0}},
        {quantiles({1, 1, 1, 1, 2}, 4), {1.0}},
        {quantiles({1, 2, 2, 2, 2}, 2), {}},  // the median equals the maximum
        {equal_width({1, 5, 9}, 1), {}},
        {quantiles({1, 5, 9}, 1), {}},
        {quantiles(flat, 5), {}},
        {quantiles({7}, 5), {}},
        {equal_width({-1e308, 1e308}, 4), {}},  // every candidate overflows
        {equal_width(flat, 5), {}},
        {equal_width(flat, 5, WidthRange::Quantile), {}},
        {equal_width(flat, 5, WidthRange::Iqr), {}}};
    for (const auto& [got, want] : examples) EXPECT_EQ(digest(got), digest(want));
    const Values none = {kNaN, kInf}, x = {1, 2, 3};
    const std::string no_bins = "binning: n_bins debe ser al menos 1";
    const std::string no_finite = "binning: x no contiene valores finitos",
                      bad_y = "binning: y debe contener solo 0 y 1";
    // n_bins is tested before x, x before the range-specific checks.
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { equal_width(none, 0); }, no_bins},
        {[&] { quantiles(none, 0); }, no_bins},
        {[&] { equal_width({}, 1); }, no_finite},
        {[&] { quantiles({}, 1); }, no_finite},
        {[&] { quantiles(none, 1); }, no_finite},
        {[&] { equal_width(none, 3, WidthRange::Quantile, 0.9, 0.1); }, no_finite},
        {[&] { equal_width(none, 3, WidthRange::Iqr, 0, 1, -1); }, no_finite},
        {[] { linear_quantile({1.0, 2.0}, 1.5); },
         "binning: los cuantiles deben estar entre 0 y 1"},
        {[] { binary({1, kNaN, 3}, {0, 2, 1}, {2}); }, bad_y},
        {[] { binary({1, kNaN, 3}, {0, -1, 1}, {2}); }, bad_y}};
    for (const auto& [call, message] : cases) EXPECT_EQ(message_of(call), message);
    const double ranges[][2] = {{0.5, 0.5}, {0.6, 0.4},  {-0.1, 0.5},
                                {0.1, 1.1}, {kNaN, 0.5}, {0.1, kNaN}};
    for (const auto& r : ranges) {
        EXPECT_EQ(message_of([&] { equal_width(x, 3, WidthRange::Quantile, r[0], r[1]); }),
                  "binning: lower_quantile debe ser menor que upper_quantile");
    }
    for (double k : {-0.5, kInf, kNaN}) {
        EXPECT_EQ(message_of([&] { equal_width(x, 3, WidthRange::Iqr, 0, 1, k); }),
                  "binning: k debe ser finito y no negativo");
    }
    for (const Values& cuts : {Values{1, kNaN}, Values{1, kInf}, Values{-kInf, 1}}) {
        EXPECT_EQ(message_of([&] { normalize_splits(cuts.data(), 2); }),
                  "binning: los puntos de corte deben ser finitos");
    }
    const Values unordered = {3, 1, 3, 2};
    EXPECT_TRUE(normalize_splits(unordered.data(), 4) == (Values{1, 2, 3}) &&
                normalize_splits(nullptr, 0).empty());
    // The messages of unknown names are the Python face's to check.
    EXPECT_TRUE(parse_width_range("full") == WidthRange::Full &&
                parse_width_range("quantile") == WidthRange::Quantile &&
                parse_width_range("iqr") == WidthRange::Iqr &&
                parse_summary_statistic("mean") == SummaryStatistic::Mean &&
                parse_summary_statistic("median") == SummaryStatistic::Median);
}

// Quantile cuts follow the sorted definition; cuts of equal width are fewer
// than the bins, strictly increasing and inside the data.
TEST(BinningSplits, QuantileAndWidthCutsOverEveryShape) {
    for (const Values& x : samples()) {
        if (std::none_of(x.begin(), x.end(), is_finite))
            continue;  // the message is checked with the other failures
        const Values s = sorted_finite_values(x.data(), x.size());
        for (std::size_t n_bins : {1u, 2u, 3u, 10u, 100u, 600u, 1500u}) {
            EXPECT_EQ(digest(quantiles(x, n_bins)), digest(quantile_cuts(x, n_bins)))
                << x.size() << " " << n_bins;
            for (const Values& cuts :
                 {equal_width(x, n_bins), equal_width(x, n_bins, WidthRange::Iqr, 0, 1, 0.5)}) {
                EXPECT_LE(cuts.size(), n_bins - 1);
                for (std::size_t i = 0; i < cuts.size(); ++i) {
                    EXPECT_TRUE(is_finite(cuts[i]) && cuts[i] >= s.front() && cuts[i] < s.back() &&
                                (i == 0 || cuts[i] > cuts[i - 1]));
                }
            }
        }
    }
}

TEST(BinningAssign, MatchesCountOfCutsBelowForEveryNumberOfCuts) {
    const Values w = {1, 2, 2.5, 3, kNaN, kInf, -kInf};
    EXPECT_EQ(assign_bins(w.data(), w.size(), {2, 3}),
              (std::vector<int64_t>{0, 0, 1, 1, -1, 2, 0}));
    EXPECT_TRUE(assign_bins(nullptr, 0, {1.0}).empty());
    std::mt19937_64 rng(99);
    const Values x = messy_sample(rng, 4000, 25);
    for (std::size_t m = 0; m <= 70; ++m) {
        Values cuts(m);
        for (std::size_t j = 0; j < m; ++j) cuts[j] = -3.0 + 0.25 * double(j % 30);
        std::sort(cuts.begin(), cuts.end());  // repeats kept on purpose
        const std::vector<int64_t> bins = assign_bins(x.data(), x.size(), cuts);
        for (std::size_t i = 0; i < x.size(); ++i)
            ASSERT_EQ(bins[i], bin_of(x[i], cuts)) << "m=" << m << " x=" << x[i];
    }
}

TEST(BinningSummary, MatchesPlainGrouping) {
    // Quartiles between two equal infinities are NaN; of one, the infinity.
    EXPECT_EQ(digest(continuous({1, 1, 5}, {kInf, kInf, kInf}, {3})),
              digest(std::vector<ContinuousBinningSummary>{
                  {-kInf, 3, 2, 2 / 3.0, 1, kInf, kNaN, kNaN, kNaN},
                  {3, kInf, 1, 1 / 3.0, 5, kInf, kInf, kInf, kInf}}));
    std::mt19937_64 rng(31337);
    std::bernoulli_distribution event(0.3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const Values& x : samples()) {
        std::vector<int> y(x.size());
        Values yc(x.size());
        for (std::size_t i = 0; i < x.size(); ++i)
            y[i] = event(rng), yc[i] = unit(rng) < 0.1 ? kNaN : std::round(unit(rng) * 20.0) - 5.0;
        const bool any_finite = std::any_of(x.begin(), x.end(), is_finite);
        const Values cut_sets[] = {{},
                                   {0.5},
                                   {-3.0, -2.75, 0.5, 4.0},
                                   {-2.5, 0.0, 0.0001, 3.0},
                                   {-1.0, 0.0, 1.5, 2.0, 60.0},
                                   quantiles({-4, -3, -2, -1, 0, 1, 2}, 6),
                                   any_finite ? quantiles(x, 50) : Values{0.0}};
        for (const Values& cuts : cut_sets) {
            for (auto stat : {SummaryStatistic::Median, SummaryStatistic::Mean}) {
                const auto got = binary(x, y, cuts, stat);
                EXPECT_EQ(digest(got), digest(binary_summary(x, y, cuts, stat)))
                    << x.size() << " " << cuts.size();
                double share = 0.0;
                for (const auto& row : got) share += row.percentage;
                EXPECT_NEAR(share, x.empty() ? 0.0 : 1.0, 1e-12);
                if (x.size() == kLarge) break;  // the large ones only for the binary medians
                EXPECT_EQ(digest(continuous(x, yc, cuts, stat)),
                          digest(continuous_summary(x, yc, cuts, stat)))
                    << x.size();
            }
        }
    }
}

}  // namespace
