// compare_distributions on arbitrary samples, cut points and floors: the
// specified failures in their order, counts equal to a plain binning,
// proportions and cumulative columns that add up, PSI and KS as defined.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz_input.hpp"
#include "tessaline/tessaline.hpp"

namespace {

using namespace fuzz;

const char* const kEmpty = "compare_distributions: muestras vacías o epsilon inválido";
const char* const kSplits = "compare_distributions: splits deben ser finitos, crecientes y únicos";

std::vector<double> sample(Reader& in, bool large) {
    return large ? synthesise(in, in.size(20000)) : in.reals(in.size(1024));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.byte();
    static const double floors[] = {1e-12, 1e-6, 0.5, 1.0, 0.0, -1e-12, kNaN, kInf,
                                    4.9e-324, 2.2250738585072014e-308};
    const uint8_t e = in.byte();
    const double epsilon = e < 128 ? 1e-12 : e < 200 ? floors[e % 10] : in.real();
    std::vector<double> cuts = in.reals(in.size(64));
    if (mode & 1) cuts = clean_cuts(cuts);
    const std::vector<double> ref = sample(in, mode & 2);
    const std::vector<double> cur = sample(in, mode & 4);

    bool cuts_ok = true;
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        if (!finite_value(cuts[i]) || (i > 0 && !(cuts[i] > cuts[i - 1]))) cuts_ok = false;
    }
    const char* expected = nullptr;
    if (ref.empty() || cur.empty() || !(epsilon > 0.0) || !finite_value(epsilon)) {
        expected = kEmpty;
    } else if (!cuts_ok) {
        expected = kSplits;
    }
    const auto result = guarded(expected, [&] {
        return tessaline::compare_distributions(ref.data(), ref.size(), cur.data(), cur.size(),
                                                cuts, epsilon);
    });
    if (!result) return 0;

    const std::size_t k = cuts.size();
    std::vector<int64_t> count_ref(k + 2, 0), count_cur(k + 2, 0);
    for (double v : ref) ++count_ref[std::isnan(v) ? k + 1 : reference_bin(cuts, v)];
    for (double v : cur) ++count_cur[std::isnan(v) ? k + 1 : reference_bin(cuts, v)];
    const bool nan_row = count_ref[k + 1] > 0 || count_cur[k + 1] > 0;
    const auto& bins = result->bins;
    FUZZ_CHECK(bins.size() == k + 1 + (nan_row ? 1 : 0));

    double cum_ref = 0.0, cum_cur = 0.0, psi = 0.0, ks = 0.0;
    int64_t total_ref = 0, total_cur = 0;
    for (std::size_t b = 0; b < bins.size(); ++b) {
        const tessaline::PsiBin& r = bins[b];
        FUZZ_CHECK(r.count_reference == count_ref[b] && r.count_current == count_cur[b]);
        total_ref += r.count_reference;
        total_cur += r.count_current;
        const double p_ref = static_cast<double>(r.count_reference) / static_cast<double>(ref.size());
        const double p_cur = static_cast<double>(r.count_current) / static_cast<double>(cur.size());
        FUZZ_CHECK(same(r.proportion_reference, p_ref) && same(r.proportion_current, p_cur));
        cum_ref += p_ref;
        cum_cur += p_cur;
        FUZZ_CHECK(same(r.cumulative_reference, cum_ref) && same(r.cumulative_current, cum_cur));
        const double f_ref = std::max(epsilon, p_ref), f_cur = std::max(epsilon, p_cur);
        const double term = (p_ref - p_cur) * std::log(f_ref / f_cur);
        FUZZ_CHECK(same(r.psi_bin, term));
        // Each term has the sign of neither factor against the other: never
        // negative. It stays finite unless the floor is so small that the
        // ratio of the floored shares overflows.
        FUZZ_CHECK(r.psi_bin >= 0.0);
        if (epsilon >= std::numeric_limits<double>::min()) FUZZ_CHECK(finite_value(r.psi_bin));
        if (r.count_reference == 0 && r.count_current == 0) FUZZ_CHECK(r.psi_bin == 0.0);
        psi += term;
        ks = std::max(ks, std::fabs(cum_ref - cum_cur));
    }
    FUZZ_CHECK(total_ref == static_cast<int64_t>(ref.size()));
    FUZZ_CHECK(total_cur == static_cast<int64_t>(cur.size()));
    FUZZ_CHECK(close(cum_ref, 1.0, 1e-9) && close(cum_cur, 1.0, 1e-9));
    FUZZ_CHECK(same(result->psi, psi));
    FUZZ_CHECK(same(result->ks, ks));
    FUZZ_CHECK(result->ks >= 0.0 && result->ks <= 1.0 + 1e-9);
    return 0;
}
