// membership_matrix and aggregate_membership: the specified failures, rows
// that each sum to 1 with one weight or two adjacent ones, and aggregates that
// interpolate the column values; aggregation of arbitrary matrices as well.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz_input.hpp"
#include "tessaline/tessaline.hpp"

namespace {

using namespace fuzz;

const char* const kNone = "membership: faltan representantes";
const char* const kOrder = "membership: representantes deben ser crecientes y únicos";
const char* const kFinite = "membership: representantes deben ser finitos";
const char* const kColumns = "aggregate_membership: k debe ser positivo";

void check_aggregate(const std::vector<double>& m, std::size_t n, std::size_t k,
                     const std::vector<double>& values, bool standardize) {
    const auto s = guarded(k == 0 ? kColumns : nullptr, [&] {
        return tessaline::aggregate_membership(m.data(), n, k, values.data(), standardize);
    });
    if (!s) return;
    FUZZ_CHECK(s->size() == n);
    std::vector<double> sums(n);
    for (std::size_t i = 0; i < n; ++i) {
        double sum = 0.0;
        for (std::size_t j = 0; j < k; ++j) sum += m[i * k + j] * values[j];
        sums[i] = sum;
    }
    if (!standardize || n < 2) {
        FUZZ_CHECK(same(*s, sums));
        return;
    }
    double total = 0.0;
    for (double v : sums) total += v;
    const double mean = total / static_cast<double>(n);
    double squares = 0.0;
    for (double v : sums) squares += (v - mean) * (v - mean);
    const double sd = std::sqrt(squares / static_cast<double>(n - 1));
    if (!(sd > 0.0)) {
        FUZZ_CHECK(same(*s, sums));
        return;
    }
    for (std::size_t i = 0; i < n; ++i) FUZZ_CHECK(same((*s)[i], (sums[i] - mean) / sd));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.byte();
    const bool standardize = mode & 1;

    if (mode & 2) {
        // Any matrix, any column count, any values.
        const std::size_t n = in.size(200);
        const std::size_t k = in.size(16);
        const std::vector<double> m = in.reals(n * k);
        const std::vector<double> values = in.reals(k);
        check_aggregate(m, n, k, values, standardize);
        return 0;
    }

    std::vector<double> reps = in.reals(in.size(40));
    if (mode & 4) reps = clean_cuts(reps);
    const std::vector<double> x = mode & 8 ? synthesise(in, in.size(5000)) : in.reals(in.size(1024));
    const std::size_t k = reps.size();
    const char* expected = nullptr;
    if (k == 0) {
        expected = kNone;
    } else if (k > 1) {
        for (std::size_t i = 1; i < k && !expected; ++i) {
            if (!(reps[i] > reps[i - 1])) expected = kOrder;
        }
        for (std::size_t i = 0; i < k && !expected; ++i) {
            if (!finite_value(reps[i])) expected = kFinite;
        }
    }
    const auto m = guarded(expected, [&] {
        return tessaline::membership_matrix(x.data(), x.size(), reps.data(), k);
    });
    if (!m) return 0;

    const std::size_t width = k + 1;
    FUZZ_CHECK(m->size() == x.size() * width);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double* row = m->data() + i * width;
        if (std::isnan(x[i])) {
            for (std::size_t j = 0; j < k; ++j) FUZZ_CHECK(row[j] == 0.0);
            FUZZ_CHECK(row[k] == 1.0);
            continue;
        }
        FUZZ_CHECK(row[k] == 0.0);
        // One weight, or two on adjacent representatives around the value.
        std::size_t first = k, last = 0;
        double sum = 0.0;
        for (std::size_t j = 0; j < k; ++j) {
            FUZZ_CHECK_MSG(row[j] >= 0.0 && row[j] <= 1.0, "row " + std::to_string(i));
            if (row[j] != 0.0) {
                first = std::min(first, j);
                last = std::max(last, j);
            }
            sum += row[j];
        }
        FUZZ_CHECK(first < k && last - first <= 1);
        FUZZ_CHECK_MSG(std::fabs(sum - 1.0) <= 1e-12, "row " + std::to_string(i));
        if (k > 1 && last > first) FUZZ_CHECK(reps[first] < x[i] && x[i] < reps[last]);
        if (k > 1 && x[i] <= reps[0]) FUZZ_CHECK(row[0] == 1.0);
        if (k > 1 && x[i] >= reps[k - 1]) FUZZ_CHECK(row[k - 1] == 1.0);
    }

    // Aggregating against one value per column: each row's value lies
    // between the values of its representatives.
    std::vector<double> values = in.reals(width);
    if (mode & 16) {
        for (double& v : values) v = finite_value(v) ? std::fmod(v, 1e6) : 1.0;
    }
    check_aggregate(*m, x.size(), width, values, standardize);
    return 0;
}
