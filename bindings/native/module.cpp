// tessaline._native: the package's own hot paths over the core library, kept
// apart from the fixed function table of _tessaline. Each function converts,
// checks, releases the interpreter lock around the core call and builds its
// result; the numerics live in core/. Each area of the core registers its
// functions from its own register_*.cpp.
#include <pybind11/pybind11.h>

#include <cstdlib>
#include <cstring>

#include "common.hpp"

PYBIND11_MODULE(_native, m, py::multiple_interpreters::not_supported()) {
    // TESSALINE_DISABLE_SIMD (anything but "" or "0") keeps the package's
    // kernels on the plain path, so that a machine with vector units tests
    // the bits that a machine without them computes.
    if (const char* v = std::getenv("TESSALINE_DISABLE_SIMD"); v && *v && std::strcmp(v, "0") != 0)
        tessaline::allow_vector_paths(false);
    m.doc() = "Native hot paths of the tessaline package (categorical variables)";
    tessaline::native::register_categories(m);
    tessaline::native::register_optimal(m);
    tessaline::native::register_counts(m);
    tessaline::native::register_from_counts(m);
    tessaline::native::register_weights(m);
    tessaline::native::register_validation(m);
    tessaline::native::register_continuous(m);
    tessaline::native::register_profile(m);
    tessaline::native::register_grid(m);
    tessaline::native::register_multiclass(m);
    tessaline::native::register_batches(m);
    tessaline::native::register_significance(m);
    tessaline::native::register_prebins(m);
}
