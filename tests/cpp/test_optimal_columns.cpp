// The searches of many columns made together on several threads give, column
// by column, the bits of a search per column, and the error of the first
// column that fails.
#include <stdexcept>

#include "reference.hpp"

namespace {

using namespace ref;

Digest digest_of(const std::vector<OptimalBinning>& found) {
    Digest d;
    for (const OptimalBinning& b : found) {
        put_all(d, static_cast<int>(b.status), static_cast<int>(b.trend), b.iv, b.broken_segment,
                b.groups.size());
        for (const OptimalBinningGroup& g : b.groups)
            put_all(d, g.first, g.last, g.c0, g.c1, g.woe, g.iv);
    }
    return d;
}

struct Prebins {
    std::vector<double> c0, c1;
};

// Columns of very different sizes and limits, so that threads finish out of
// order; some meet no grouping.
std::vector<Prebins> prebins_of_many_sizes() {
    std::mt19937_64 rng(20261209);
    std::vector<Prebins> out;
    for (const std::size_t n : {1, 83, 5, 40, 2, 120}) {
        Prebins p;
        for (std::size_t i = 0; i < n; ++i) {
            p.c0.push_back(static_cast<double>(rng() % 50));
            p.c1.push_back(static_cast<double>(rng() % 12));
        }
        out.push_back(std::move(p));
    }
    return out;
}

std::vector<PrebinSearch> searches_of(const std::vector<Prebins>& columns) {
    const std::vector<std::vector<BinTrend>> trends = {
        {BinTrend::automatic, BinTrend::none}, {BinTrend::peak}, {BinTrend::ascending}};
    std::vector<PrebinSearch> out;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        PrebinSearch s{columns[i].c0.data(), columns[i].c1.data(), columns[i].c0.size(), {}, {}};
        s.constraints.max_bins = i % 3 == 0 ? 8 : 0;
        s.constraints.min_bin_share = 0.05;
        s.constraints.min_events = static_cast<double>(i);
        s.constraints.max_pvalue = i == 3 ? 0.2 : 1.0;
        s.trends = trends[i % trends.size()];
        out.push_back(s);
    }
    return out;
}

class OptimalColumns : public ::testing::TestWithParam<std::size_t> {};

TEST_P(OptimalColumns, GiveTheBitsOfOneSearchPerColumn) {
    const std::vector<Prebins> columns = prebins_of_many_sizes();
    const std::vector<PrebinSearch> searches = searches_of(columns);
    const auto together = optimal_binnings_columns(searches, GetParam());
    ASSERT_EQ(together.size(), searches.size());
    for (std::size_t i = 0; i < searches.size(); ++i) {
        const PrebinSearch& s = searches[i];
        EXPECT_EQ(digest_of(together[i]),
                  digest_of(optimal_binnings(s.c0, s.c1, s.n_prebins, s.constraints, s.trends)))
            << "column " << i << " on " << GetParam() << " threads";
    }
}

TEST_P(OptimalColumns, RaiseTheErrorOfTheFirstColumnThatFails) {
    const std::vector<Prebins> columns = prebins_of_many_sizes();
    std::vector<PrebinSearch> searches = searches_of(columns);
    searches[4].constraints.min_bin_share = 2.0;
    searches[1].n_prebins = 0;
    EXPECT_EQ(message_of([&] { optimal_binnings_columns(searches, GetParam()); }),
              "optimal_binning: no pre-bins");
    EXPECT_TRUE(optimal_binnings_columns({}, GetParam()).empty());
}

INSTANTIATE_TEST_SUITE_P(Threads, OptimalColumns,
                         ::testing::Values(std::size_t{0}, std::size_t{1}, std::size_t{2},
                                           std::size_t{16}));

}  // namespace
