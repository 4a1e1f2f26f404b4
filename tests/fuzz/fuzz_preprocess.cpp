// preprocess_data on arbitrary rows, checked against a plain re-derivation:
// the counters of every row class, the binary test, the threshold, the labels
// and the stable order of the kept rows.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "fuzz_input.hpp"
#include "tessaline/tessaline.hpp"

namespace {

using namespace fuzz;

const char* const kPercentile = "preprocess_data: percentile debe estar entre 0 y 100";

struct Row {
    double x;
    int32_t label;
    double y;
};

double reference_percentile(std::vector<double> a, double percentile) {
    std::sort(a.begin(), a.end());
    const std::size_t m = a.size();
    const double pos = (static_cast<double>(m - 1) * percentile) / 100.0;
    const std::size_t k = static_cast<std::size_t>(std::floor(pos));
    const double f = pos - static_cast<double>(k);
    if (f == 0.0 || k + 1 == m) return a[k];
    return a[k] + f * (a[k + 1] - a[k]);
}

void check(const double* x, const double* y, std::size_t n, std::optional<double> value,
           double percentile) {
    // Row classes, x tested first.
    std::size_t missing_x = 0, missing_y = 0, missing_both = 0, non_finite = 0;
    std::vector<Row> kept;
    std::vector<double> y_of_missing_x;
    for (std::size_t i = 0; i < n; ++i) {
        if (finite_value(x[i])) {
            if (finite_value(y[i])) {
                kept.push_back(Row{x[i], 0, y[i]});
            } else if (std::isnan(y[i])) {
                ++missing_y;
            } else {
                ++non_finite;
            }
        } else if (std::isnan(x[i])) {
            if (finite_value(y[i])) {
                ++missing_x;
                y_of_missing_x.push_back(y[i]);
            } else if (std::isnan(y[i])) {
                ++missing_both;
            } else {
                ++non_finite;
            }
        } else {
            ++non_finite;
        }
    }
    const bool binary =
        std::all_of(kept.begin(), kept.end(), [](const Row& r) { return r.y == 0.0 || r.y == 1.0; });
    const bool uses_percentile = !binary && !value.has_value() && !kept.empty();
    const bool bad_percentile = !(percentile >= 0.0 && percentile <= 100.0);

    const auto result = guarded(uses_percentile && bad_percentile ? kPercentile : nullptr,
                                [&] { return tessaline::preprocess_data(x, y, n, value, percentile); });
    if (!result) return;
    const tessaline::PreprocessResult& r = *result;

    FUZZ_CHECK(r.n_input == n);
    FUZZ_CHECK(r.n_used == kept.size());
    FUZZ_CHECK(r.n_missing_x == missing_x);
    FUZZ_CHECK(r.n_missing_y == missing_y);
    FUZZ_CHECK(r.n_missing_both == missing_both);
    FUZZ_CHECK(r.n_non_finite == non_finite);
    FUZZ_CHECK(r.n_input == r.n_used + r.n_missing_x + r.n_missing_y + r.n_missing_both +
                                r.n_non_finite);
    FUZZ_CHECK(r.x.size() == r.n_used && r.y.size() == r.n_used);
    FUZZ_CHECK(r.target_was_binary == binary);

    double threshold = 0.0;
    if (!binary) {
        threshold = value.has_value() ? *value : reference_percentile([&] {
            std::vector<double> ys;
            for (const Row& row : kept) ys.push_back(row.y);
            return ys;
        }(), percentile);
    }
    // -0.0 and 0.0 are tied order statistics; either may be the one read.
    FUZZ_CHECK_MSG(same(r.threshold, threshold) || (r.threshold == 0.0 && threshold == 0.0),
                   hex(r.threshold) + " instead of " + hex(threshold) + " at percentile " +
                       hex(percentile));

    // Missing-x rows: with a binary target only those whose y truncates to 0
    // or 1 count; otherwise all of them, split by the threshold.
    std::size_t count = 0, c0 = 0, c1 = 0;
    for (double v : y_of_missing_x) {
        if (binary) {
            const double t = std::trunc(v);
            if (t == 0.0) ++c0;
            if (t == 1.0) ++c1;
            count += (t == 0.0 || t == 1.0) ? 1 : 0;
        } else {
            ++count;
            if (v > threshold) ++c1; else ++c0;
        }
    }
    FUZZ_CHECK(r.missing_count == count && r.missing_c0 == c0 && r.missing_c1 == c1);
    FUZZ_CHECK(r.missing_count == r.missing_c0 + r.missing_c1);
    FUZZ_CHECK(r.missing_count <= r.n_missing_x);
    if (!binary) FUZZ_CHECK(r.missing_count == r.n_missing_x);

    // Labels, then a stable sort by (x, label) with -0.0 equal to 0.0.
    for (Row& row : kept) row.label = binary ? (row.y == 1.0 ? 1 : 0) : (row.y > threshold ? 1 : 0);
    std::stable_sort(kept.begin(), kept.end(), [](const Row& a, const Row& b) {
        return a.x < b.x || (a.x == b.x && a.label < b.label);
    });
    for (std::size_t i = 0; i < kept.size(); ++i) {
        FUZZ_CHECK_MSG(same(r.x[i], kept[i].x), "row " + std::to_string(i));
        FUZZ_CHECK_MSG(r.y[i] == kept[i].label, "row " + std::to_string(i));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.byte();
    std::optional<double> value;
    if (mode & 1) value = in.real();
    double percentile = in.real();
    if (mode & 2) percentile = static_cast<double>(in.byte() % 101);

    std::vector<double> x, y;
    if (mode & 4) {
        // Above the radix-sort threshold, with a binary or continuous target.
        const std::size_t n = 400 + in.size(4000);
        x = synthesise(in, n);
        y = synthesise(in, n);
        if (mode & 8) {
            for (double& v : y) v = std::isnan(v) ? v : (v > 0 ? 1.0 : 0.0);
        }
    } else {
        const std::size_t n = in.size(1024);
        x = in.reals(n);
        for (std::size_t i = 0; i < n; ++i) {
            // Mostly 0/1 targets, so that the binary path is common.
            y.push_back(mode & 8 ? static_cast<double>(in.label() & 1) : in.real());
        }
        if (mode & 16 && n > 0) y[in.byte() % n] = in.real();
    }
    check(x.data(), y.data(), x.size(), value, percentile);
    return 0;
}
