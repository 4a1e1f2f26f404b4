#include "reference.hpp"
#include "sort_rows.hpp"

namespace {

using namespace ref;

PreprocessResult run(const Values& x, const Values& y, std::optional<double> value = std::nullopt,
                     double percentile = 50.0) {
    return preprocess_data(x.data(), y.data(), x.size(), value, percentile);
}
// The counters in order: missing rows and their labels, then the outcome of every row.
std::vector<std::size_t> counters(const PreprocessResult& r) {
    return {r.missing_count, r.missing_c0,  r.missing_c1,     r.n_input,     r.n_used,
            r.n_missing_x,   r.n_missing_y, r.n_missing_both, r.n_non_finite};
}

TEST(Preprocess, CountersThresholdsAndOrder) {
    const PreprocessResult none = preprocess_data(nullptr, nullptr, 0, std::nullopt, 50.0);
    EXPECT_TRUE(none.x.empty() && none.y.empty() && none.target_was_binary &&
                none.threshold == 0.0 && counters(none) == std::vector<std::size_t>(9, 0));
    // The counter of each pair: 4 used, 5 missing x, 6 missing y, 7 both, 8 not finite.
    const std::tuple<double, double, std::size_t> cases[] = {
        {1.0, 1.0, 4},   {1.0, kNaN, 6},  {1.0, kInf, 8}, {1.0, -kInf, 8},  {kNaN, 0.0, 5},
        {kNaN, kNaN, 7}, {kNaN, kInf, 8}, {kInf, 1.0, 8}, {-kInf, kNaN, 8}, {kInf, kInf, 8}};
    for (const auto& [x, y, counter] : cases) {
        const auto got = counters(run({x}, {y}));
        std::vector<std::size_t> want(6, 0);
        want[0] = want[counter - 3] = 1;
        EXPECT_EQ(std::vector<std::size_t>(got.begin() + 3, got.end()), want) << x << " " << y;
    }
    // Missing-x rows of a binary target label by truncation; of another, by the threshold.
    EXPECT_EQ(counters(run({kNaN, kNaN, kNaN, kNaN, 1.0}, {0.7, 1.0, 2.0, -3.0, 0.0})),
              (std::vector<std::size_t>{2, 1, 1, 5, 1, 4, 0, 0, 0}));
    EXPECT_EQ(counters(run({kNaN, kNaN, 1.0, 2.0, 3.0}, {9.0, 0.0, 1.0, 2.0, 3.0})),
              (std::vector<std::size_t>{2, 1, 1, 5, 3, 2, 0, 0, 0}));
    for (auto value : {std::optional<double>{}, std::optional<double>{0.5}}) {
        const PreprocessResult r =
            run({1, 2, 3, 4}, {0, 1, 1, 0}, value, 150.0);  // binary: both ignored
        EXPECT_TRUE(r.target_was_binary && r.threshold == 0.0 &&
                    r.y == (std::vector<int32_t>{0, 1, 1, 0}));
    }
    // Labels stay with their rows: 1 above the threshold, a value equal to it is 0.
    const std::tuple<Values, std::optional<double>, double, double, std::vector<int32_t>>
        thresholds[] = {{{4, 2, 3, 1}, std::nullopt, 0.0, 1.0, {1, 1, 1, 0}},
                        {{0.2, 0.5, 0.9}, 0.5, 50.0, 0.5, {0, 0, 1}},
                        {{7.5}, std::nullopt, 50.0, 7.5, {0}},
                        // Neighbours further apart than the largest double:
                        // 0.95 * -max + 0.05 * 1e300, not an infinite threshold.
                        {{-kMax, 1e300}, std::nullopt, 5.0, 0.95 * -kMax + 0.05 * 1e300, {0, 1}}};
    for (const auto& [y, value, percentile, threshold, labels] : thresholds) {
        Values x(y.size());
        std::iota(x.begin(), x.end(), 0.0);
        const PreprocessResult r = run(x, y, value, percentile);
        EXPECT_TRUE(!r.target_was_binary && r.threshold == threshold && r.y == labels) << threshold;
    }
    // Continuous targets: the threshold is the linear percentile of the kept
    // targets, the first two trials at the ends of the range.
    std::mt19937_64 rng(3);
    for (int trial = 0; trial < 40; ++trial) {
        const Values x = messy_sample(rng, 2 + rng() % 3000, 20);
        Values y(x.size()), kept;
        for (std::size_t i = 0; i < y.size(); ++i) {
            y[i] = i == 0 ? 0.5 : rng() % 20 == 0 ? kNaN : double(rng() % 41) * 0.1 - 2.0;
            if (is_finite(x[i]) && is_finite(y[i])) kept.push_back(y[i]);
        }
        const double percentile = trial < 2 ? 100.0 * trial : double(rng() % 1001) * 0.1;
        const PreprocessResult r = run(x, y, std::nullopt, percentile);
        const double threshold = quantile_of(kept, percentile / 100.0);
        EXPECT_TRUE(kept.empty() || r.threshold == threshold) << percentile;
        EXPECT_EQ(std::count(r.y.begin(), r.y.end(), 1),
                  std::count_if(kept.begin(), kept.end(), [&](double v) { return v > threshold; }));
    }
    // A percentile outside [0, 100] fails only when it is used.
    for (double p : {-1.0, 100.5, kNaN}) {
        EXPECT_EQ(message_of([&] { run({1, 2}, {1, 3}, std::nullopt, p); }),
                  "preprocess_data: percentile debe estar entre 0 y 100");
        EXPECT_NO_THROW(run({1, 2}, {1, 3}, 2.0, p));                 // fixed threshold
        EXPECT_NO_THROW(run({kNaN, kNaN}, {1, 3}, std::nullopt, p));  // nothing kept
    }
    // Short inputs take the comparison sort, long ones radix passes over the keys
    // of each label apart: both order by value then label like a stable
    // comparison sort, so -0.0 and 0.0 keep their input order. The shapes make
    // every digit of the keys vary, few of them, or none.
    std::normal_distribution<double> normal(0.0, 1.0);
    const Values special = {-0.0,          0.0,     -kInf,    DBL_TRUE_MIN,
                            -DBL_TRUE_MIN, DBL_MAX, -DBL_MAX, 1e-300};
    const std::function<double()> shapes[] = {
        [&] {
            const std::size_t v = rng() % 48;
            return v < 8 ? special[v] : (double(v) - 28) * 0.25;
        },
        [&] {
            return (rng() % 2 ? -1.0 : 1.0) * std::pow(10.0, double(rng() % 600) - 300.0) *
                   normal(rng);
        },
        [&] { return std::round(normal(rng) * 1e4); },
        [&] { return double(rng() % 5); },
        [&] { return 4.0; },
        // Only two far-apart bits vary: the digits between them never do.
        [&] { return value_of_key(ordered_key(2.0) | (rng() & 0x0100000000000008ull)); },
    };
    for (std::size_t n : {1u, 3u, 60u, 255u, 256u, 1000u, 70000u}) {
        for (const auto& draw : shapes) {
            for (unsigned share : {0u, 1u, 3u}) {  // label 1 for none, all, or a third of the rows
                Values x(n), y(n);
                for (std::size_t i = 0; i < n; ++i)
                    x[i] = draw(), y[i] = share == 0 ? 0.0 : double(rng() % share == 0);
                const PreprocessResult r = run(x, y);
                const auto by_value_then_label = [&](std::size_t a, std::size_t b) {
                    return x[a] < x[b] || (x[a] == x[b] && y[a] < y[b]);
                };
                Values want_x;
                std::vector<int32_t> want_y;
                for (std::size_t i : stable_order(
                         n, [&](std::size_t i) { return std::isfinite(x[i]); },
                         by_value_then_label)) {
                    want_x.push_back(x[i]), want_y.push_back(int32_t(y[i]));
                }
                ASSERT_EQ(digest(r.x, r.y), digest(want_x, want_y)) << n << " " << share;
            }
        }
    }
}

// Both sorts of two key ranges (the vector quicksort where the processor has
// it, and the radix sort) equal std::sort of each range, and so does the
// vector quicksort of the first range alone in registers of each width the
// processor has. The first range has every size up to 300 (partly filled
// registers of 4 and 8 keys, the sorts in registers up to 64 and 128 keys,
// the partitions' held keys and steps), then sizes around the pivot's larger
// samples past 1,024 and 4,096 keys and the radix sort's threshold; the
// second, one key longer, starts at each offset from a cache line. The shapes
// defeat a sampled pivot or an equal-key check: sorted, reversed, organ pipe,
// all equal, two values, nearly all the smallest or the largest key, and keys
// at both extremes (0 and all bits set).
TEST(SortKeys, BothKernelsEqualAComparisonSortOfEachRange) {
    std::mt19937_64 rng(11);
    std::normal_distribution<double> normal(0.0, 1.0);
    const auto key = [](double v) { return ordered_key(v); };
    const std::function<uint64_t(std::size_t, std::size_t)> shapes[] = {
        [&](std::size_t, std::size_t) { return key(normal(rng)); },
        [&](std::size_t, std::size_t) { return key(std::round(normal(rng) * 10.0) / 10.0); },
        [&](std::size_t, std::size_t) { return rng(); },
        [&](std::size_t i, std::size_t) { return key(double(i)); },
        [&](std::size_t i, std::size_t n) { return key(double(n - i)); },
        [&](std::size_t i, std::size_t n) { return key(double(std::min(i, n - i))); },
        [&](std::size_t, std::size_t) { return key(-0.0); },
        [&](std::size_t i, std::size_t) { return key(i % 2 ? -kInf : DBL_MAX); },
        [&](std::size_t i, std::size_t) { return uint64_t{i % 97 == 5 ? i : 0}; },
        [&](std::size_t i, std::size_t) { return i % 97 == 5 ? i : ~uint64_t{0}; },
        [&](std::size_t, std::size_t) {
            const uint64_t r = rng();
            return r % 3 == 0 ? 0 : r % 3 == 1 ? ~uint64_t{0} : r;
        },
    };
    std::vector<std::size_t> sizes = {511, 512, 513, 1024, 1025, 4096, 4097, 9000, 100003};
    for (std::size_t m = 0; m <= 300; ++m) sizes.push_back(m);
    for (std::size_t m : sizes) {
        const std::size_t n = 2 * m + 1;
        for (const auto& draw : shapes) {
            std::vector<uint64_t> keys(n);
            for (std::size_t i = 0; i < m; ++i) keys[i] = draw(i, m);
            for (std::size_t i = m; i < n; ++i) keys[i] = draw(i - m, m + 1);
            std::vector<uint64_t> want = keys;
            std::sort(want.begin(), want.begin() + std::ptrdiff_t(m));
            std::sort(want.begin() + std::ptrdiff_t(m), want.end());
            for (int bits : {256, 512}) {
                Values alone(m);
                for (std::size_t i = 0; i < m; ++i) store_key(&alone[i], keys[i]);
                if (!sort_keys_in_vectors(alone.data(), m, bits)) continue;
                for (std::size_t i = 0; i < m; ++i)
                    ASSERT_EQ(load_key(&alone[i]), want[i])
                        << m << " alone in " << bits << "-bit registers, shape "
                        << (&draw - shapes);
            }
            for (auto sort : {&sort_key_ranges, &radix_sort_key_ranges}) {
                Values a(n), b(n);
                for (std::size_t i = 0; i < n; ++i) store_key(&a[i], keys[i]);
                const double* sorted = sort(a.data(), b.data(), n, m);
                std::vector<uint64_t> got(n);
                for (std::size_t i = 0; i < n; ++i) got[i] = load_key(sorted + i);
                ASSERT_EQ(got, want) << m << (sort == &sort_key_ranges ? " vector" : " radix")
                                     << " shape " << (&draw - shapes);
            }
        }
    }
}

// Both sorts of records, the bucket sort and the vector quicksort (in
// registers of each width the processor has for it), keep every record and
// order them by key (their order among equal keys is free): every size up to
// 100 (partly filled registers, sorts in registers, a partition's held
// records), sizes on both sides of a bucket that is sorted in the caches, and
// keys that crowd into one bucket, that all share one value, that come in
// order or in reverse order, or that differ in the lowest or highest bit alone.
TEST(SortKeys, SortsOfRecordsArePermutationsOrderedByKey) {
    std::mt19937_64 rng(5);
    std::normal_distribution<double> normal(0.0, 1.0);
    const std::function<uint64_t(std::size_t)> shapes[] = {
        [&](std::size_t) { return ordered_key(normal(rng)); },
        [&](std::size_t) { return ordered_key(std::round(normal(rng) * 10.0) / 10.0); },
        [&](std::size_t) { return rng() >> 1; },
        [&](std::size_t i) { return ordered_key(i % 1000 == 0 ? 1e300 : normal(rng) * 1e-9); },
        [&](std::size_t) { return ordered_key(-0.0); },
        [&](std::size_t i) { return uint64_t{i % 2}; },
        [&](std::size_t i) { return (uint64_t{i % 2} << 63) | 7; },
        [&](std::size_t i) { return uint64_t{i}; },
        [&](std::size_t i) { return ~uint64_t{0} - 1 - i; },
    };
    std::vector<std::size_t> sizes = {255, 16384, 16385, 70001, 300000};
    for (std::size_t m = 0; m <= 100; ++m) sizes.push_back(m);
    for (std::size_t n : sizes) {
        for (const auto& draw : shapes) {
            std::vector<KeyedRecord> rows(n);
            for (std::size_t i = 0; i < n; ++i) rows[i] = KeyedRecord{draw(i), double(i)};
            const auto by_record = [](const KeyedRecord& a, const KeyedRecord& b) {
                return a.key < b.key || (a.key == b.key && a.payload < b.payload);
            };
            std::vector<KeyedRecord> want = rows;
            std::sort(want.begin(), want.end(), by_record);
            for (int bits : {0, 256, 512}) {
                std::vector<KeyedRecord> got = rows, spare(n);
                KeyedRecord* sorted = got.data();
                if (bits == 0) {
                    sorted = bucket_sort_records(got.data(), spare.data(), n);
                } else if (!sort_records_in_vectors(got.data(), n, bits)) {
                    continue;
                }
                const std::string where =
                    std::to_string(n) +
                    (bits == 0 ? " by buckets" : " in " + std::to_string(bits) + "-bit registers") +
                    ", shape " + std::to_string(&draw - shapes);
                ASSERT_TRUE(std::is_sorted(sorted, sorted + n, [](const auto& a, const auto& b) {
                    return a.key < b.key;
                })) << where;
                std::sort(sorted, sorted + n, by_record);
                for (std::size_t i = 0; i < n; ++i) {
                    ASSERT_EQ(sorted[i].key, want[i].key) << where;
                    ASSERT_EQ(sorted[i].payload, want[i].payload) << where;
                }
            }
        }
    }
}

}  // namespace
