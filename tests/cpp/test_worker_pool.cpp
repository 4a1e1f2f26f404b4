// The kept worker threads serve callers on several threads at once and
// callers inside a shared task, each part of every task done once; and a
// process forked while other threads count (holding the locks of the kept
// vectors and laws, sharing work with the workers) finishes its own counts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "column_threads.hpp"
#include "hypergeometric_laws.hpp"
#include "tessaline/recycled_vectors.hpp"
#include "tessaline/tessaline.hpp"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

// The sanitizers' runtimes do not follow a child that starts threads after
// a multi-threaded parent forked it: under ThreadSanitizer it is reported,
// under AddressSanitizer the child waits on the runtime's own locks.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define TESSALINE_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define TESSALINE_UNDER_SANITIZER 1
#endif
#endif

namespace {

using tessaline::for_each_column_on_threads;

TEST(WorkerPool, EveryPartOfNestedAndConcurrentTasksIsDoneOnce) {
    constexpr std::size_t callers = 4, columns = 40, inner = 7;
    std::vector<std::atomic<int>> done(callers * columns * inner);
    std::vector<std::thread> threads;
    for (std::size_t c = 0; c < callers; ++c) {
        threads.emplace_back([&, c] {
            for_each_column_on_threads(columns, 3, [&](std::size_t i) {
                for_each_column_on_threads(
                    inner, 2, [&](std::size_t j) { ++done[(c * columns + i) * inner + j]; });
            });
        });
    }
    for (std::thread& t : threads) t.join();
    for (std::size_t k = 0; k < done.size(); ++k) ASSERT_EQ(done[k].load(), 1) << "part " << k;
}

#if !defined(_WIN32)

// A test long enough to share its draws among threads, laws built by inversion.
tessaline::IvPermutationTest long_test(std::size_t threads) {
    const std::vector<int64_t> c0{900, 850, 800, 870, 910, 880}, c1{100, 120, 110, 95, 105, 98};
    tessaline::OptimalBinningConstraints limits;
    limits.trend = tessaline::BinTrend::ascending;
    tessaline::IvPermutationOptions options;
    options.max_draws = 400;
    options.seed = 5;
    options.threads = threads;
    return tessaline::iv_permutation_test(c0.data(), c1.data(), c0.size(), nullptr, nullptr, 0,
                                          limits, options);
}

// Waits up to `seconds` for the child; kills it if it has not ended.
int exit_status(pid_t child, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

TEST(WorkerPool, ForkedChildFinishesItsCountsWhileTheParentCounts) {
#if defined(TESSALINE_UNDER_SANITIZER)
    GTEST_SKIP() << "a child of a threaded parent starting threads, under a sanitizer";
#endif
    const tessaline::IvPermutationTest expected = long_test(1);
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int t = 0; t < 2; ++t) {
        busy.emplace_back([&] {
            while (!stop) long_test(2);
        });
    }
    // Threads that hold the locks of the kept vectors and of the kept laws
    // most of the time.
    busy.emplace_back([&] {
        while (!stop) {
            std::vector<double> v;
            tessaline::reserve_recycled(v, tessaline::kRecycledMinBytes / sizeof(double));
            tessaline::recycle(std::move(v));
        }
    });
    busy.emplace_back([&] {
        bool built = false;
        while (!stop) tessaline::hypergeometric::LawCache(100).locate(0, 100, built);
    });
    for (int fork_number = 0; fork_number < 12; ++fork_number) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::vector<double> v;
            tessaline::reserve_recycled(v, tessaline::kRecycledMinBytes / sizeof(double));
            tessaline::recycle(std::move(v));
            const tessaline::IvPermutationTest got = long_test(2);
            _exit(got.draws == expected.draws && got.exceedances == expected.exceedances ? 0 : 1);
        }
        EXPECT_EQ(exit_status(child, 20), 0) << "fork " << fork_number;
    }
    stop = true;
    for (std::thread& t : busy) t.join();
}

#endif

}  // namespace
