// summarize_binary and summarize_continuous against a plain per-bin
// re-derivation (counts, shares, event rates, means, medians, quartiles), bit
// for bit, over short inputs and inputs large enough for the sampled medians.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz_input.hpp"
#include "tessaline/tessaline.hpp"

namespace {

using namespace fuzz;
using namespace tessaline;

const char* const kLabels = "binning: y debe contener solo 0 y 1";

double fraction(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

double representative(const std::vector<double>& values, double sum, SummaryStatistic stat) {
    if (values.empty()) return kNaN;
    if (stat == SummaryStatistic::Mean) return sum / static_cast<double>(values.size());
    std::vector<double> sorted(values);
    std::sort(sorted.begin(), sorted.end());
    return reference_quantile(sorted, 0.5);
}

void check_edges(double left, double right, const std::vector<double>& cuts, std::size_t b) {
    FUZZ_CHECK(same(left, b == 0 ? -kInf : cuts[b - 1]));
    FUZZ_CHECK(same(right, b == cuts.size() ? kInf : cuts[b]));
}

void binary(const std::vector<double>& x, const std::vector<int>& y,
            const std::vector<double>& cuts, SummaryStatistic stat) {
    const bool labels_ok = std::all_of(y.begin(), y.end(), [](int v) { return v == 0 || v == 1; });
    const auto rows = guarded(labels_ok ? nullptr : kLabels, [&] {
        return summarize_binary(x.data(), y.data(), x.size(), cuts, stat);
    });
    if (!rows) return;

    const std::size_t m = cuts.size();
    std::vector<std::vector<double>> values(m + 2);
    std::vector<double> sums(m + 2, 0.0);
    std::vector<std::size_t> count(m + 2, 0), ones(m + 2, 0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const std::size_t b = std::isnan(x[i]) ? m + 1 : reference_bin(cuts, x[i]);
        ++count[b];
        ones[b] += static_cast<std::size_t>(y[i]);
        if (b <= m) {
            values[b].push_back(x[i]);
            sums[b] += x[i];
        }
    }
    const bool missing = count[m + 1] > 0;
    FUZZ_CHECK(rows->size() == m + 1 + (missing ? 1 : 0));
    double shares = 0.0;
    std::size_t total = 0;
    for (std::size_t b = 0; b < rows->size(); ++b) {
        const BinningSummary& r = (*rows)[b];
        if (b <= m) {
            check_edges(r.left, r.right, cuts, b);
            FUZZ_CHECK_MSG(same(r.representative, representative(values[b], sums[b], stat)),
                           "bin " + std::to_string(b));
        } else {
            FUZZ_CHECK(std::isnan(r.left) && std::isnan(r.right) && std::isnan(r.representative));
        }
        FUZZ_CHECK(r.count == count[b] && r.c1 == ones[b] && r.c0 + r.c1 == r.count);
        FUZZ_CHECK(same(r.percentage, fraction(r.count, x.size())));
        FUZZ_CHECK(same(r.event_rate, fraction(r.c1, r.count)));
        shares += r.percentage;
        total += r.count;
    }
    FUZZ_CHECK(total == x.size());
    if (!x.empty()) FUZZ_CHECK(close(shares, 1.0, 1e-9));
}

void continuous(const std::vector<double>& x, const std::vector<double>& y,
                const std::vector<double>& cuts, SummaryStatistic stat) {
    const std::vector<ContinuousBinningSummary> rows =
        summarize_continuous(x.data(), y.data(), x.size(), cuts, stat);

    const std::size_t m = cuts.size();
    std::vector<std::vector<double>> xs(m + 2), ys(m + 2);
    std::vector<double> sums(m + 2, 0.0);
    std::size_t used = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::isnan(y[i])) continue;
        ++used;
        const std::size_t b = std::isnan(x[i]) ? m + 1 : reference_bin(cuts, x[i]);
        ys[b].push_back(y[i]);
        if (b <= m) {
            xs[b].push_back(x[i]);
            sums[b] += x[i];
        }
    }
    const bool missing = !ys[m + 1].empty();
    FUZZ_CHECK(rows.size() == m + 1 + (missing ? 1 : 0));
    double shares = 0.0;
    std::size_t total = 0;
    for (std::size_t b = 0; b < rows.size(); ++b) {
        const ContinuousBinningSummary& r = rows[b];
        std::vector<double>& t = ys[b];
        std::sort(t.begin(), t.end());
        if (b <= m) {
            check_edges(r.left, r.right, cuts, b);
            FUZZ_CHECK_MSG(same(r.representative, representative(xs[b], sums[b], stat)),
                           "bin " + std::to_string(b));
        } else {
            FUZZ_CHECK(std::isnan(r.left) && std::isnan(r.right) && std::isnan(r.representative));
        }
        FUZZ_CHECK(r.count == t.size());
        FUZZ_CHECK(same(r.percentage, fraction(r.count, used)));
        double sum = 0.0;
        for (double v : t) sum += v;
        if (t.empty()) {
            FUZZ_CHECK(std::isnan(r.target_mean) && std::isnan(r.target_p25) &&
                       std::isnan(r.target_median) && std::isnan(r.target_p75));
        } else {
            FUZZ_CHECK(same(r.target_mean, sum / static_cast<double>(t.size())));
            FUZZ_CHECK(same(r.target_p25, reference_quantile(t, 0.25)));
            FUZZ_CHECK(same(r.target_median, reference_quantile(t, 0.5)));
            FUZZ_CHECK(same(r.target_p75, reference_quantile(t, 0.75)));
        }
        shares += r.percentage;
        total += r.count;
    }
    FUZZ_CHECK(total == used);
    if (used > 0) FUZZ_CHECK(close(shares, 1.0, 1e-9));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.byte();
    const SummaryStatistic stat = mode & 1 ? SummaryStatistic::Mean : SummaryStatistic::Median;
    std::vector<double> x;
    if (mode >= 224) {
        // Above the size where bin medians come from a sample of the data
        // (one run in eight: these are slow).
        x = synthesise(in, 38000 + in.size(6000));
    } else {
        x = in.reals(in.size(1024));
    }
    std::vector<double> cuts;
    if (mode & 4 && !x.empty()) {
        // Cut points taken from the data, so that the bins are populated.
        const std::size_t m = in.size(400);
        for (std::size_t j = 0; j < m; ++j) cuts.push_back(x[(in.u64() >> 3) % x.size()]);
    } else {
        cuts = in.reals(in.size(64));
    }
    cuts = clean_cuts(cuts);

    if (mode & 8) {
        std::vector<double> y(x.size());
        for (double& v : y) v = mode & 16 ? static_cast<double>(in.byte() % 4) : in.real();
        continuous(x, y, cuts, stat);
    } else {
        std::vector<int> y(x.size());
        for (int& v : y) v = mode & 16 ? static_cast<int>(in.byte() & 1) : in.label();
        binary(x, y, cuts, stat);
    }
    return 0;
}
