// The three cut-point generators against plain re-derivations: equal-width
// cuts over the full, quantile and IQR ranges, quantile cuts (also on inputs
// large enough for the order statistics found through value buckets), and
// normalize_splits. The
// failures must be exactly the specified ones, in their order.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz_input.hpp"
#include "tessaline/tessaline.hpp"

namespace {

using namespace fuzz;
using namespace tessaline;

const char* const kNoBins = "binning: n_bins debe ser al menos 1";
const char* const kNoFinite = "binning: x no contiene valores finitos";
const char* const kBounds = "binning: lower_quantile debe ser menor que upper_quantile";
const char* const kK = "binning: k debe ser finito y no negativo";
const char* const kNotFinite = "binning: los puntos de corte deben ser finitos";

std::vector<double> finite_sorted(const std::vector<double>& x) {
    std::vector<double> s;
    for (double v : x) {
        if (finite_value(v)) s.push_back(v);
    }
    std::sort(s.begin(), s.end());
    return s;
}

// A cut vector: finite, strictly increasing, at most n_bins - 1 long.
void check_cuts(const std::vector<double>& cuts, std::size_t n_bins) {
    FUZZ_CHECK(cuts.size() + 1 <= std::max<std::size_t>(n_bins, 1));
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        FUZZ_CHECK(finite_value(cuts[i]));
        if (i > 0) FUZZ_CHECK(cuts[i] > cuts[i - 1]);
    }
}

std::vector<double> reference_equal_width(const std::vector<double>& s, std::size_t n_bins,
                                          WidthRange range, double lq, double uq, double k) {
    double lo = s.front(), hi = s.back();
    if (range == WidthRange::Quantile) {
        lo = reference_quantile(s, lq);
        hi = reference_quantile(s, uq);
    } else if (range == WidthRange::Iqr) {
        const double q1 = reference_quantile(s, 0.25), q3 = reference_quantile(s, 0.75);
        const double iqr = q3 - q1;
        if (iqr > 0.0) {
            lo = std::max(q1 - k * iqr, s.front());
            hi = std::min(q3 + k * iqr, s.back());
        }
    }
    std::vector<double> cuts;
    if (n_bins == 1 || lo == hi) return cuts;
    const double width = (hi - lo) / static_cast<double>(n_bins);
    for (std::size_t i = 1; i < n_bins; ++i) {
        const double cut = static_cast<double>(i) * width + lo;
        if (finite_value(cut) && (cuts.empty() || cut > cuts.back())) cuts.push_back(cut);
    }
    return cuts;
}

std::vector<double> reference_quantile_cuts(const std::vector<double>& s, std::size_t n_bins) {
    std::vector<double> cuts;
    if (n_bins == 1 || s.front() == s.back()) return cuts;
    for (std::size_t i = 1; i < n_bins; ++i) {
        const double q = reference_quantile(s, static_cast<double>(i) / static_cast<double>(n_bins));
        if (finite_value(q) && q >= s.front() && q < s.back() && (cuts.empty() || q > cuts.back())) {
            cuts.push_back(q);
        }
    }
    return cuts;
}

double bound(Reader& in) {
    const uint8_t b = in.byte();
    if (b < 160) return static_cast<double>(b % 21) / 20.0;
    return in.real();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.byte();
    std::size_t n_bins = in.size(5000);
    if (mode & 8) n_bins = 1 + in.size(2000);
    std::vector<double> x;
    if (mode >= 248) {
        // Mostly missing: the buckets count and gather the finite values
        // only, among four times as many that are not.
        x = synthesise(in, 170000 + in.size(6000));
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (i % 5 != 0) x[i] = kNaN;
        }
    } else if (mode >= 224) {
        // Above the size where quantiles are found through value buckets
        // (one run in eight: these are slow).
        x = synthesise(in, 38000 + in.size(6000));
    } else {
        x = in.reals(in.size(2048));
    }
    const std::vector<double> s = finite_sorted(x);

    switch (mode % 4) {
        case 0:
        case 1: {
            const WidthRange range = static_cast<WidthRange>(in.byte() % 3);
            const double lq = bound(in);
            const double uq = bound(in);
            const uint8_t kb = in.byte();
            const double k = kb < 160 ? static_cast<double>(kb % 8) / 2.0 : in.real();
            const char* expected = nullptr;
            if (n_bins == 0) {
                expected = kNoBins;
            } else if (s.empty()) {
                expected = kNoFinite;
            } else if (range == WidthRange::Quantile && !(lq >= 0.0 && lq < uq && uq <= 1.0)) {
                expected = kBounds;
            } else if (range == WidthRange::Iqr && !(finite_value(k) && k >= 0.0)) {
                expected = kK;
            }
            const auto cuts = guarded(expected, [&] {
                return equal_width_splits(x.data(), x.size(), n_bins, range, lq, uq, k);
            });
            if (!cuts) break;
            check_cuts(*cuts, n_bins);
            FUZZ_CHECK(same(*cuts, reference_equal_width(s, n_bins, range, lq, uq, k)));
            break;
        }
        case 2: {
            const char* expected = n_bins == 0 ? kNoBins : s.empty() ? kNoFinite : nullptr;
            const auto cuts = guarded(expected, [&] {
                return quantile_splits(x.data(), x.size(), n_bins);
            });
            if (!cuts) break;
            check_cuts(*cuts, n_bins);
            for (double c : *cuts) FUZZ_CHECK(c >= s.front() && c < s.back());
            FUZZ_CHECK(same(*cuts, reference_quantile_cuts(s, n_bins)));
            break;
        }
        case 3: {
            const bool all_finite = std::all_of(x.begin(), x.end(), finite_value);
            const auto cuts = guarded(all_finite ? nullptr : kNotFinite, [&] {
                return normalize_splits(x.data(), x.size());
            });
            if (!cuts) break;
            check_cuts(*cuts, cuts->size() + 1);
            std::vector<double> want(x);
            std::sort(want.begin(), want.end());
            want.erase(std::unique(want.begin(), want.end()), want.end());
            FUZZ_CHECK(cuts->size() == want.size());
            for (std::size_t i = 0; i < want.size(); ++i) FUZZ_CHECK((*cuts)[i] == want[i]);
            break;
        }
    }
    return 0;
}
