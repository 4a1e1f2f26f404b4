// The decoder shared by the libFuzzer harnesses: it turns the fuzzer's bytes
// into doubles, labels and sizes biased toward the values that break numeric
// code, and synthesises inputs larger than the bytes could spell out. Beside
// it, the check macro and the guard that accepts only the stated failures.
#ifndef TESSALINE_FUZZ_INPUT_HPP
#define TESSALINE_FUZZ_INPUT_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fuzz {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();

// A failed invariant: say what broke and abort, so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* file, int line, const std::string& what) {
    std::fprintf(stderr, "\n%s:%d: invariant broken: %s\n", file, line, what.c_str());
    std::abort();
}

#define FUZZ_CHECK(cond)                                      \
    do {                                                      \
        if (!(cond)) ::fuzz::fail(__FILE__, __LINE__, #cond); \
    } while (0)

inline bool finite_value(double v) {
    return std::fabs(v) <= kMax;
}

// Same value: identical bits, or both NaN (NaN payloads and signs differ
// between a constant and the result of inf - inf).
inline bool same(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

inline bool same(const std::vector<double>& a, const std::vector<double>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](double u, double v) { return same(u, v); });
}

// Runs `call`, which must either return normally (expected == nullptr) or
// throw std::invalid_argument with exactly the message `expected`. Any other
// outcome aborts; any other exception type escapes and libFuzzer reports it.
// Returns the result, or nothing when the expected failure happened.
template <typename Call>
auto guarded(const char* expected, Call&& call) -> std::optional<decltype(call())> {
    try {
        auto result = call();
        if (!expected) return result;
        fail(__FILE__, __LINE__, std::string("expected failure did not happen: ") + expected);
    } catch (const std::invalid_argument& e) {
        if (expected && std::strcmp(e.what(), expected) == 0) return std::nullopt;
        fail(__FILE__, __LINE__, std::string("unexpected failure: \"") + e.what() + "\"");
    }
}

// Values that break numeric code: NaN (both signs), infinities, signed zeros,
// subnormals (the smallest and the largest), the extremes of the finite range,
// values whose sums or midpoints overflow or round, and ties. Seeds index this
// list, so its order stays.
inline const double kSpecial[] = {
    kNaN,
    -kNaN,
    kInf,
    -kInf,
    0.0,
    -0.0,
    4.9e-324,
    -4.9e-324,
    2.2250738585072014e-308,
    -2.2250738585072014e-308,
    2.2250738585072009e-308,
    kMax,
    -kMax,
    1e308,
    -1e308,
    8.98846567431158e307,
    -8.98846567431158e307,
    1e300,
    -1e300,
    1e-300,
    0.1,
    0.2,
    0.3,
    0.5,
    1.0 / 3.0,
    1.0,
    -1.0,
    2.0,
    1e16,
    9007199254740993.0,
    1.0000000000000002,
    0.9999999999999999,
    4.9e-324,
    1e-12,
};

inline double from_bits(uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Reads the fuzzer's bytes front to back; past the end every read gives 0.
class Reader {
  public:
    Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    uint64_t u64() {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = v << 8 | byte();
        return v;
    }

    // A size in [0, limit], small values most likely; two more bytes give any
    // size up to 65535.
    std::size_t size(std::size_t limit) {
        const uint8_t b = byte();
        std::size_t v = b < 150 ? b % 16 : b - 150u + 16;
        if (b >= 230)
            v = static_cast<std::size_t>(byte()) << 8 | byte();  // clang reads the high byte first
        return std::min(v, limit);
    }

    // One double: small integers (ties), special values, repeats of earlier
    // values, quarters, or eight raw bytes (NaN payloads and subnormals too).
    double real() {
        const uint8_t b = byte();
        const double v = b < 80    ? static_cast<double>(static_cast<int>(b % 10) - 3)
                         : b < 120 ? kSpecial[byte() % std::size(kSpecial)]
                         : b < 150 && !seen_.empty() ? seen_[byte() % seen_.size()]
                         : b < 190 ? static_cast<double>(static_cast<int8_t>(byte())) / 4.0
                                   : from_bits(u64());
        if (seen_.size() < 64) seen_.push_back(v);
        return v;
    }

    std::vector<double> reals(std::size_t n) {
        std::vector<double> v(n);
        for (double& e : v) e = real();
        return v;
    }

    // A class label: 0 or 1 most of the time, then other integers.
    int label() {
        static const int others[] = {-1, 2, 3, -2, INT32_MIN, INT32_MAX, 255, 256};
        const uint8_t b = byte();
        return b < 120 ? 0 : b < 240 ? 1 : others[b % 8];
    }

    // An int64 near zero or at the extremes of its range.
    int64_t integer() {
        static const int64_t extremes[] = {INT64_MIN,     INT64_MAX,        INT64_MIN + 1,
                                           INT64_MAX - 1, int64_t{1} << 40, -(int64_t{1} << 40)};
        const uint8_t b = byte();
        return b < 200   ? static_cast<int64_t>(b % 12) - 3
               : b < 230 ? extremes[b % 6]
                         : static_cast<int64_t>(u64());
    }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::vector<double> seen_;
};

// A large input that the fuzzer's few kilobytes cannot spell out: n values
// drawn (splitmix64) from a seed, mixing a pool of `distinct` tied levels,
// spread values, and a share of NaN and infinities. Large inputs reach the
// code paths that only run above a size threshold (radix sorting, order
// statistics through value buckets, sampled medians, blocked bin searches,
// bounded split search).
inline std::vector<double> synthesise(Reader& in, std::size_t n) {
    uint64_t state = in.u64();
    const std::size_t distinct = 1 + in.size(4000);
    const unsigned nan_per_256 = in.byte() % 32;
    const unsigned inf_per_256 = in.byte() % 8;
    const double scale = std::ldexp(1.0, in.byte() % 64 - 20);
    std::vector<double> x(n);
    for (double& v : x) {  // splitmix64
        uint64_t r = (state += 0x9E3779B97F4A7C15ull);
        r = (r ^ (r >> 30)) * 0xBF58476D1CE4E5B9ull;
        r = (r ^ (r >> 27)) * 0x94D049BB133111EBull;
        r ^= r >> 31;
        const unsigned kind = r & 0xFF;
        v = kind < nan_per_256                 ? kNaN
            : kind < nan_per_256 + inf_per_256 ? ((r >> 8) & 1 ? kInf : -kInf)
            : kind < 160 ? static_cast<double>((r >> 16) % distinct) * scale
                         : (static_cast<double>(r >> 11) * 0x1.0p-53 - 0.5) * scale * 1e3;
    }
    return x;
}

// Short inputs spelled out value by value, or long synthesised ones.
inline std::vector<double> sample(Reader& in, bool large, std::size_t short_limit,
                                  std::size_t large_limit) {
    return large ? synthesise(in, in.size(large_limit)) : in.reals(in.size(short_limit));
}

}  // namespace fuzz

#endif  // TESSALINE_FUZZ_INPUT_HPP
