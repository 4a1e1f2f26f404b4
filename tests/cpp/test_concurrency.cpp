// Every core function called from several threads at once on shared,
// read-only inputs gives, in every thread, the bits of a serial call. Run
// under ThreadSanitizer (make tsan) this also shows that no call writes
// anything another call reads.
#include <functional>
#include <thread>

#include "reference.hpp"

namespace {

using namespace ref;

// Shared inputs: ties, NaN and infinities in x, a continuous target and 0/1
// labels (as int and as double), and sizes large enough for the sampled order
// statistics and the radix sort.
struct Inputs {
    Values x, y, y01, current, cuts{-2.0, 0.5, 1.0, 3.0}, reps{-3.0, 0.0, 1.0, 4.0},
        values{0.1, 0.3, 0.6, 0.9, 0.5};
    std::vector<int> labels;
    explicit Inputs(std::size_t n) {
        std::mt19937_64 rng(20240611);
        x = messy_sample(rng, n, 40);
        for (double v : x) {
            const double score = std::isnan(v) ? 0.0 : std::max(-5.0, std::min(v, 5.0));
            y.push_back(rng() % 50 == 0 ? kNaN : score + double(rng() % 30) * 0.1);
            labels.push_back(int(rng() % 10 < (score > 0 ? 7u : 3u))), y01.push_back(labels.back()),
                current.push_back(v * 1.1);
        }
    }
};

// Each job computes one function's result and returns its digest.
std::vector<std::function<Digest()>> jobs(const Inputs& in) {
    const double* x = in.x.data();
    const std::size_t n = in.x.size();
    const TessalineParams p{1.0, 1.0, 5};  // minobs 5
    const auto median = SummaryStatistic::Median;
    return {
        [=, &in] {
            const PreprocessResult r = preprocess_data(x, in.y.data(), n, std::nullopt, 40.0);
            return digest(r.x, r.y, uint64_t{r.missing_count}, r.threshold);
        },
        [=, &in] {
            return digest(compute_boundaries_from_raw(x, in.y01.data(), n, std::nullopt, 50.0),
                          fit_mdlp_from_raw(x, in.y.data(), n, p, 1.5, 50.0));
        },
        [=, &in] {
            const MdlpFullRawResult r =
                fit_mdlp_full_from_raw(x, in.y01.data(), n, p, std::nullopt, 50.0, median);
            return digest(r.mdlp, r.intervals, r.summary, uint64_t{r.n_used});
        },
        [=, &in] {
            return digest(equal_width_splits(x, n, 7, WidthRange::Full, 0, 1, 0),
                          quantile_splits(x, n, 10),
                          equal_width_splits(x, n, 7, WidthRange::Quantile, 0.05, 0.95, 0),
                          equal_width_splits(x, n, 7, WidthRange::Iqr, 0, 1, 1.5),
                          assign_bins(x, n, in.cuts));
        },
        [=, &in] {
            return digest(summarize_binary(x, in.labels.data(), n, in.cuts, median),
                          summarize_binary(x, in.labels.data(), n, in.cuts, SummaryStatistic::Mean),
                          summarize_continuous(x, in.y.data(), n, in.cuts, median));
        },
        [=, &in] {
            return digest(compare_distributions(x, n, in.current.data(), n, in.cuts, 1e-12),
                          lorenz_curve(x, in.labels.data(), n));
        },
        [=, &in] {
            const Values m = membership_matrix(x, n, in.reps.data(), in.reps.size());
            return digest(
                m, aggregate_membership(m.data(), n, in.reps.size() + 1, in.values.data(), true));
        },
    };
}

void expect_threads_agree(std::size_t n, std::size_t threads, int rounds) {
    const Inputs in(n);
    const auto all = jobs(in);
    std::vector<Digest> serial;
    for (const auto& job : all) serial.push_back(job());
    std::vector<int> mismatches(threads, 0);
    std::vector<std::thread> pool;
    for (std::size_t t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            // Threads start on different functions so that all of them overlap.
            for (std::size_t j = t; j < all.size() * std::size_t(rounds) + t; ++j) {
                mismatches[t] += all[j % all.size()]() != serial[j % all.size()];
            }
        });
    }
    for (std::thread& th : pool) th.join();
    EXPECT_EQ(mismatches, std::vector<int>(threads, 0));
}

// Eight threads on small inputs, then four past the sizes where sorting turns
// to radix passes and quantiles and medians to sampled order statistics.
TEST(Concurrency, ThreadsMatchSerialResults) {
    expect_threads_agree(600, 8, 20);
    expect_threads_agree(40000, 4, 1);
}

}  // namespace
