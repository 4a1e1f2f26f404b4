// The run-time choice of vector paths, made once per process.
#include "vector_paths.hpp"

#include <cstdlib>
#include <cstring>

namespace tessaline {

bool vector_paths_allowed() {
    static const bool allowed = [] {
        const char* v = std::getenv("TESSALINE_DISABLE_SIMD");
        return v == nullptr || v[0] == '\0' || std::strcmp(v, "0") == 0;
    }();
    return allowed;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
bool use_avx2() {
    static const bool available = vector_paths_allowed() && __builtin_cpu_supports("avx2") != 0;
    return available;
}

bool use_avx512f() {
    static const bool available = vector_paths_allowed() && __builtin_cpu_supports("avx512f") != 0;
    return available;
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
