// Columns counted together on several threads give, column by column, the
// bits of a call per column, and the error of the first column that fails.
#include <stdexcept>

#include "reference.hpp"

namespace {

using namespace ref;

Digest digest_of(const CountedPrebins& c) {
    return digest(c.counts.value, c.counts.c0, c.counts.c1, c.index_c0, c.index_c1, c.prebins,
                  c.missing_c0, c.missing_c1, c.negative_zero);
}

struct Column {
    Values x;
    std::vector<int32_t> y;
};

// Columns of very different lengths (ties, NaN, infinities, many distinct
// values), so that threads finish out of order.
std::vector<Column> columns_of_many_lengths() {
    std::mt19937_64 rng(20261209);
    std::vector<Column> out;
    for (const std::size_t n : {9, 3000, 20000, 7, 50000, 400}) {
        Column c;
        c.x = messy_sample(rng, n, n % 2 ? 30 : 5000);
        c.x[0] = 1.5;  // one finite value at least
        for (std::size_t i = 0; i < n; ++i) c.y.push_back(static_cast<int32_t>(rng() % 5 == 0));
        out.push_back(std::move(c));
    }
    return out;
}

std::vector<LabelledColumn> views(const std::vector<Column>& columns) {
    std::vector<LabelledColumn> out;
    for (const Column& c : columns) out.push_back({c.x.data(), c.y.data(), c.x.size()});
    return out;
}

class CountedColumns : public ::testing::TestWithParam<std::size_t> {};

TEST_P(CountedColumns, GiveTheBitsOfOneCallPerColumn) {
    const std::vector<Column> columns = columns_of_many_lengths();
    const std::vector<CountedPrebins> together =
        counted_prebins_columns(views(columns), 20, 64, 0.01, GetParam());
    ASSERT_EQ(together.size(), columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        EXPECT_EQ(digest_of(together[i]),
                  digest_of(counted_prebins(c.x.data(), c.y.data(), c.x.size(), 20, 64, 0.01)))
            << "column " << i << " on " << GetParam() << " threads";
    }
}

TEST_P(CountedColumns, RaiseTheErrorOfTheFirstColumnThatFails) {
    const char* no_finite = "binning: x no contiene valores finitos";
    const char* not_binary = "counted_prebins: labels must be 0 or 1";
    for (const bool labels_first : {true, false}) {
        std::vector<Column> columns = columns_of_many_lengths();
        columns[labels_first ? 1 : 4].y[0] = 2;
        Values& missing = columns[labels_first ? 4 : 1].x;
        missing.assign(missing.size(), kNaN);
        try {
            counted_prebins_columns(views(columns), 20, 64, 0.01, GetParam());
            ADD_FAILURE() << "columns that cannot be counted were counted";
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), labels_first ? not_binary : no_finite);
        }
    }
    EXPECT_TRUE(counted_prebins_columns({}, 20, 64, 0.01, GetParam()).empty());
}

INSTANTIATE_TEST_SUITE_P(Threads, CountedColumns,
                         ::testing::Values(std::size_t{0}, std::size_t{1}, std::size_t{2},
                                           std::size_t{3}, std::size_t{16}));

}  // namespace
