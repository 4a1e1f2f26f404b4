// Work on many columns shared among threads, the calling thread among them:
// each thread takes the next column not yet taken, so a long column does not
// hold back the short ones behind it, and a column's error is raised after
// every thread has finished, the first column's that failed, as a loop over
// the columns would raise it. The other threads are the process's kept
// workers (worker_pool.hpp), not threads started for the call.
#ifndef TESSALINE_COLUMN_THREADS_HPP
#define TESSALINE_COLUMN_THREADS_HPP

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <vector>

#include "worker_pool.hpp"

namespace tessaline {

// work(i) for every i in [0, count) on up to `n_threads` threads.
template <typename Work>
void for_each_column_on_threads(std::size_t count, std::size_t n_threads, const Work& work) {
    std::vector<std::exception_ptr> failed(count);
    std::atomic<std::size_t> next{0};
    auto take = [&]() {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                work(i);
            } catch (...) {
                failed[i] = std::current_exception();
            }
        }
    };
    const std::size_t threads = std::min(std::max<std::size_t>(n_threads, 1), count);
    run_shared([](void* context) { (*static_cast<decltype(take)*>(context))(); }, &take,
               threads > 0 ? threads - 1 : 0);
    for (const std::exception_ptr& error : failed) {
        if (error) std::rethrow_exception(error);
    }
}

}  // namespace tessaline

#endif  // TESSALINE_COLUMN_THREADS_HPP
