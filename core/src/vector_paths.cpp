// The run-time choice of vector paths: what the processor has, and whether
// the caller has allowed them.
#include "vector_paths.hpp"

#include <atomic>

#include "tessaline/tessaline.hpp"

namespace tessaline {

namespace {
// Read without ordering: the switch is set before any work starts, and a
// reader that sees the old value still computes the same bits.
std::atomic<bool> vector_paths_on{true};
}  // namespace

void allow_vector_paths(bool allowed) {
    vector_paths_on.store(allowed, std::memory_order_relaxed);
}

bool vector_paths_allowed() {
    return vector_paths_on.load(std::memory_order_relaxed);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
bool use_avx2() {
    static const bool available = __builtin_cpu_supports("avx2") != 0;
    return available && vector_paths_allowed();
}

bool use_avx512f() {
    static const bool available = __builtin_cpu_supports("avx512f") != 0;
    return available && vector_paths_allowed();
}
#else
bool use_avx2() {
    return false;
}

bool use_avx512f() {
    return false;
}
#endif

}  // namespace tessaline
