// lorenz_curve on arbitrary scores and labels: the specified failures, one
// point per distinct score with shares that climb to (1, 1), and an AUC equal
// to the pair-counting definition (an event above a non-event, ties one half).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "fuzz_input.hpp"
#include "tessaline/tessaline.hpp"

using namespace fuzz;

namespace {

const char* const kLabels = "lorenz_curve: y debe contener solo 0 y 1";
const char* const kClasses = "lorenz_curve: se necesitan ambas clases";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.byte();
    const std::vector<double> x = mode & 1 ? synthesise(in, in.size(6000)) : in.reals(in.size(1024));
    std::vector<int> y(x.size());
    for (int& v : y) v = mode & 2 ? static_cast<int>(in.byte() & 1) : in.label();

    // Records with a NaN score leave before their label is looked at.
    std::vector<std::pair<double, int>> kept;
    bool bad_label = false;
    std::size_t n0 = 0, n1 = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::isnan(x[i])) continue;
        if (y[i] != 0 && y[i] != 1) bad_label = true;
        kept.emplace_back(x[i], y[i]);
        (y[i] == 0 ? n0 : n1) += 1;
    }
    const char* expected = bad_label ? kLabels : (n0 == 0 || n1 == 0) ? kClasses : nullptr;
    const auto curve = guarded(expected, [&] { return tessaline::lorenz_curve(x.data(), y.data(), x.size()); });
    if (!curve) return 0;

    // Groups of equal scores in ascending order; each point carries the score
    // of its group's first record in input order (-0.0 and 0.0 are one score).
    std::stable_sort(kept.begin(), kept.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto& points = curve->points;
    std::size_t group = 0, c0 = 0, c1 = 0;
    for (std::size_t i = 0; i < kept.size();) {
        std::size_t j = i;
        for (; j < kept.size() && kept[j].first == kept[i].first; ++j) (kept[j].second ? c1 : c0) += 1;
        FUZZ_CHECK(group < points.size());
        const tessaline::LorenzPoint& p = points[group];
        FUZZ_CHECK(same(p.value, kept[i].first));
        FUZZ_CHECK(same(p.cumulative_non_event, static_cast<double>(c0) / static_cast<double>(n0)));
        FUZZ_CHECK(same(p.cumulative_event, static_cast<double>(c1) / static_cast<double>(n1)));
        if (group > 0) {
            FUZZ_CHECK(p.value > points[group - 1].value);
            FUZZ_CHECK(p.cumulative_non_event >= points[group - 1].cumulative_non_event);
            FUZZ_CHECK(p.cumulative_event >= points[group - 1].cumulative_event);
        }
        ++group;
        i = j;
    }
    FUZZ_CHECK(group == points.size());
    FUZZ_CHECK(points.back().cumulative_non_event == 1.0 && points.back().cumulative_event == 1.0);

    // AUC by counting pairs: over the sorted records, every event scores
    // above the non-events of earlier groups and ties with those of its own.
    double above = 0.0;
    std::size_t earlier0 = 0;
    for (std::size_t i = 0; i < kept.size();) {
        std::size_t j = i, g0 = 0, g1 = 0;
        for (; j < kept.size() && kept[j].first == kept[i].first; ++j) (kept[j].second ? g1 : g0) += 1;
        above += static_cast<double>(g1) * (static_cast<double>(earlier0) + 0.5 * static_cast<double>(g0));
        earlier0 += g0;
        i = j;
    }
    const double auc = above / (static_cast<double>(n0) * static_cast<double>(n1));
    FUZZ_CHECK_MSG(std::fabs(curve->auc - auc) <= 1e-9,
                   std::to_string(curve->auc) + " vs " + std::to_string(auc));
    FUZZ_CHECK(curve->auc >= -1e-12 && curve->auc <= 1.0 + 1e-12);
    FUZZ_CHECK(same(curve->gini, (curve->auc + curve->auc) - 1.0));
    return 0;
}
