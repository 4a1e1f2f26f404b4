// With TESSALINE_DISABLE_SIMD set (to anything but "" or "0") the whole suite
// runs on the plain path: make test-cpp runs it once each way, so that the
// bits of a machine without AVX2 or AVX-512 are tested on one that has them.
#include <cstdlib>
#include <cstring>

#include "tessaline/tessaline.hpp"

namespace {

const bool plain_path_forced = [] {
    const char* v = std::getenv("TESSALINE_DISABLE_SIMD");
    const bool forced = v != nullptr && v[0] != '\0' && std::strcmp(v, "0") != 0;
    if (forced) tessaline::allow_vector_paths(false);
    return forced;
}();

}  // namespace
