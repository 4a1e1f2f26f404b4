// Which vector instructions the core's run-time dispatch may use. The wheel
// is built for the baseline x86-64 processor; the 256-bit (AVX2) and 512-bit
// (AVX-512F) paths are taken only where the processor has them and while
// allow_vector_paths has not switched them off (the package does so when the
// environment sets TESSALINE_DISABLE_SIMD, so that the tests run the plain
// path on any machine). Every path gives the same bits.
#ifndef TESSALINE_VECTOR_PATHS_HPP
#define TESSALINE_VECTOR_PATHS_HPP

namespace tessaline {

bool vector_paths_allowed();
bool use_avx2();
bool use_avx512f();

}  // namespace tessaline

// A loop over doubles compiled twice, for the baseline and for 256-bit
// vectors, the second taken when use_avx2() says so (the baseline's 128-bit
// vectors cannot compare 64-bit lanes into counts and masks). The loop is
// written once, as NAME##_plain, always inlined into both.
//   TESSALINE_VECTOR_BODY R f_plain(args) { ... }
//   TESSALINE_VECTOR_VARIANTS(R, f, (const double* x, std::size_t n), (x, n))
#if defined(__x86_64__) && defined(__GNUC__)
#define TESSALINE_VECTOR_BODY __attribute__((always_inline)) inline
#define TESSALINE_VECTOR_VARIANTS(result, name, params, args)                  \
    __attribute__((target("avx2"))) result name##_avx2 params {                \
        return name##_plain args;                                              \
    }                                                                          \
    result name params {                                                       \
        return ::tessaline::use_avx2() ? name##_avx2 args : name##_plain args; \
    }
#else
#define TESSALINE_VECTOR_BODY inline
#define TESSALINE_VECTOR_VARIANTS(result, name, params, args) \
    result name params {                                      \
        return name##_plain args;                             \
    }
#endif

#endif
