// Shared pieces of the libFuzzer harnesses: a decoder that turns the fuzzer's
// bytes into doubles, labels and sizes biased toward the values that break
// numeric code, the expected-failure guard, and small reference helpers.
#ifndef TESSALINE_FUZZ_INPUT_HPP
#define TESSALINE_FUZZ_INPUT_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fuzz {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();

// A failed invariant: print what broke and abort, so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* file, int line, const std::string& what) {
    std::fprintf(stderr, "\n%s:%d: invariant broken: %s\n", file, line, what.c_str());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(cond) \
    do { \
        if (!(cond)) ::fuzz::fail(__FILE__, __LINE__, #cond); \
    } while (0)

#define FUZZ_CHECK_MSG(cond, msg) \
    do { \
        if (!(cond)) ::fuzz::fail(__FILE__, __LINE__, std::string(#cond) + ": " + (msg)); \
    } while (0)

// A double in hexadecimal, every bit shown, for failure messages.
inline std::string hex(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", v);
    return text;
}

inline bool finite_value(double v) { return std::fabs(v) <= kMax; }

// Same value: identical bits, or both NaN (NaN payloads and signs differ
// between a constant and the result of inf - inf).
inline bool same(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline bool same(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!same(a[i], b[i])) return false;
    }
    return true;
}

inline bool close(double a, double b, double tolerance) {
    return std::fabs(a - b) <= tolerance * std::max(1.0, std::max(std::fabs(a), std::fabs(b)));
}

// Runs `call`, which must either return normally (expected == nullptr) or
// throw std::invalid_argument with exactly the message `expected`. Any other
// outcome aborts; any other exception type escapes and libFuzzer reports it.
// Returns the result, or nothing when the expected failure happened.
template <typename Call>
auto guarded(const char* expected, Call&& call) -> std::optional<decltype(call())> {
    try {
        auto result = call();
        if (expected != nullptr) {
            fail(__FILE__, __LINE__, std::string("expected failure did not happen: ") + expected);
        }
        return result;
    } catch (const std::invalid_argument& e) {
        if (expected == nullptr) {
            fail(__FILE__, __LINE__, std::string("unexpected std::invalid_argument: ") + e.what());
        }
        if (std::strcmp(e.what(), expected) != 0) {
            fail(__FILE__, __LINE__,
                 std::string("wrong message: \"") + e.what() + "\" instead of \"" + expected + "\"");
        }
        return std::nullopt;
    }
}

// Values that break numeric code: NaN (both signs), infinities, signed
// zeros, subnormals, the extremes of the finite range, values whose sums or
// midpoints overflow or round, and small integers that make ties.
inline const std::vector<double>& special_values() {
    static const std::vector<double> values = {
        kNaN, -kNaN, kInf, -kInf, 0.0, -0.0,
        std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min(), -std::numeric_limits<double>::min(),
        2.2250738585072009e-308,  // largest subnormal
        kMax, -kMax, 1e308, -1e308, 8.98846567431158e307, -8.98846567431158e307,
        1e300, -1e300, 1e-300, 0.1, 0.2, 0.3, 0.5, 1.0 / 3.0, 1.0, -1.0, 2.0, 1e16,
        9007199254740993.0, 1.0000000000000002, 0.9999999999999999, 4.9e-324, 1e-12,
    };
    return values;
}

// Decodes the fuzzer's bytes front to back; past the end every read gives 0.
class Reader {
public:
    Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    uint64_t u64() {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = (v << 8) | byte();
        return v;
    }

    bool flag() { return (byte() & 1) != 0; }

    // A size in [0, limit], small values most likely.
    std::size_t size(std::size_t limit) {
        const uint8_t b = byte();
        std::size_t v;
        if (b < 150) {
            v = b % 16;
        } else if (b < 230) {
            v = static_cast<std::size_t>(b - 150) + 16;
        } else {
            v = static_cast<std::size_t>(byte()) << 8 | byte();
        }
        return std::min(v, limit);
    }

    // One double: small integers (ties), special values, repeats of earlier
    // values, or eight raw bytes (anything, NaN payloads and subnormals
    // included).
    double real() {
        const uint8_t b = byte();
        double v;
        if (b < 80) {
            v = static_cast<double>(static_cast<int>(b % 10) - 3);
        } else if (b < 120) {
            const auto& s = special_values();
            v = s[byte() % s.size()];
        } else if (b < 150 && !seen_.empty()) {
            v = seen_[byte() % seen_.size()];
        } else if (b < 190) {
            v = static_cast<double>(static_cast<int8_t>(byte())) / 4.0;
        } else {
            const uint64_t bits = u64();
            std::memcpy(&v, &bits, sizeof v);
        }
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
        const uint8_t b = byte();
        if (b < 120) return 0;
        if (b < 240) return 1;
        static const int others[] = {-1, 2, 3, -2, std::numeric_limits<int>::min(),
                                     std::numeric_limits<int>::max(), 255, 256};
        return others[b % 8];
    }

    // An int64 near zero or at the extremes of its range.
    int64_t integer() {
        const uint8_t b = byte();
        if (b < 200) return static_cast<int64_t>(b % 12) - 3;
        static const int64_t extremes[] = {std::numeric_limits<int64_t>::min(),
                                           std::numeric_limits<int64_t>::max(),
                                           std::numeric_limits<int64_t>::min() + 1,
                                           std::numeric_limits<int64_t>::max() - 1,
                                           int64_t{1} << 40, -(int64_t{1} << 40)};
        if (b < 230) return extremes[b % 6];
        return static_cast<int64_t>(u64());
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::vector<double> seen_;
};

// splitmix64: a deterministic stream for synthesised large inputs.
inline uint64_t next_random(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A large input that the fuzzer's few kilobytes cannot spell out: n values
// drawn from a seed, mixing a pool of `distinct` tied levels, spread values,
// and a share of NaN and infinities. Large inputs reach the code paths that
// only run above a size threshold (radix sorting, order statistics through
// value buckets, sampled medians, blocked bin searches, bounded split search).
inline std::vector<double> synthesise(Reader& in, std::size_t n) {
    uint64_t state = in.u64();
    const std::size_t distinct = 1 + in.size(4000);
    const unsigned nan_per_256 = in.byte() % 32;
    const unsigned inf_per_256 = in.byte() % 8;
    const double scale = std::ldexp(1.0, static_cast<int>(in.byte() % 64) - 20);
    std::vector<double> x(n);
    for (double& v : x) {
        const uint64_t r = next_random(state);
        const unsigned kind = r & 0xFF;
        if (kind < nan_per_256) {
            v = kNaN;
        } else if (kind < nan_per_256 + inf_per_256) {
            v = (r >> 8) & 1 ? kInf : -kInf;
        } else if (kind < 160) {
            v = static_cast<double>((r >> 16) % distinct) * scale;
        } else {
            v = (static_cast<double>(r >> 11) * 0x1.0p-53 - 0.5) * scale * 1e3;
        }
    }
    return x;
}

// The quantile rule shared by the binning code, written out plainly on an
// ascending, non-empty vector: position (size - 1) * p, interpolated as
// (v[hi] - v[lo]) * (pos - lo) + v[lo].
inline double reference_quantile(const std::vector<double>& v, double p) {
    if (v.size() == 1) return v[0];
    const double pos = static_cast<double>(v.size() - 1) * p;
    const std::size_t lo = static_cast<std::size_t>(std::floor(pos));
    const std::size_t hi = static_cast<std::size_t>(std::ceil(pos));
    return (v[hi] - v[lo]) * (pos - static_cast<double>(lo)) + v[lo];
}

// Number of cut points strictly below v in the ascending vector cuts, by the
// standard library's lower bound.
inline std::size_t reference_bin(const std::vector<double>& cuts, double v) {
    return static_cast<std::size_t>(std::lower_bound(cuts.begin(), cuts.end(), v) - cuts.begin());
}

// Cut points as the binding layer hands them to the core: finite, sorted
// ascending, repeats merged.
inline std::vector<double> clean_cuts(std::vector<double> raw) {
    raw.erase(std::remove_if(raw.begin(), raw.end(), [](double v) { return !finite_value(v); }),
              raw.end());
    std::sort(raw.begin(), raw.end());
    raw.erase(std::unique(raw.begin(), raw.end()), raw.end());
    return raw;
}

}  // namespace fuzz

#endif  // TESSALINE_FUZZ_INPUT_HPP
