// Many columns counted and pre-binned in one call, the columns shared among
// threads: a table of short columns spends less in starting each column than
// in a call per column, and no thread waits on another for the interpreter.
#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

#include "tessaline/tessaline.hpp"

namespace tessaline {

std::vector<CountedPrebins> counted_prebins_columns(const std::vector<LabelledColumn>& columns,
                                                    std::size_t n_prebins,
                                                    std::size_t max_class_parts,
                                                    double min_class_share, std::size_t n_threads) {
    std::vector<CountedPrebins> out(columns.size());
    std::vector<std::exception_ptr> failed(columns.size());
    std::atomic<std::size_t> next{0};
    // Each thread takes the next column not yet taken, so a long column does
    // not hold back the short ones behind it.
    auto work = [&]() {
        for (std::size_t i = next++; i < columns.size(); i = next++) {
            try {
                out[i] = counted_prebins(columns[i].x, columns[i].y, columns[i].n, n_prebins,
                                         max_class_parts, min_class_share);
            } catch (...) {
                failed[i] = std::current_exception();
            }
        }
    };
    const std::size_t helpers = std::min(std::max<std::size_t>(n_threads, 1), columns.size());
    std::vector<std::thread> threads;
    threads.reserve(helpers > 0 ? helpers - 1 : 0);
    try {
        for (std::size_t t = 1; t < helpers; ++t) threads.emplace_back(work);
    } catch (...) {
        // No thread to spare: the threads already started and this one
        // share the columns.
    }
    work();
    for (std::thread& thread : threads) thread.join();
    // The error of the first column that failed, as a loop over the columns
    // would raise it.
    for (const std::exception_ptr& error : failed) {
        if (error) std::rethrow_exception(error);
    }
    return out;
}

}  // namespace tessaline
