// The permutation test of the search of largest IV.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common.hpp"

namespace tessaline::native {
namespace {

// The test of the grouping of largest IV over ordered pre-bins (`c0`, `c1`)
// beside the rows outside the search, under the search's limits.
py::dict iv_permutation_test(const b::Int64Array& c0, const b::Int64Array& c1,
                             const b::Int64Array& outside_c0, const b::Int64Array& outside_c1,
                             std::size_t max_bins, double min_bin_share, double min_events,
                             double min_non_events, const std::string& trend, double max_pvalue,
                             std::size_t max_draws, const b::Int64Array& checks,
                             const b::Int64Array& below, const b::Int64Array& above,
                             double sure_pvalue, uint64_t seed, bool rate_order,
                             std::size_t threads, const py::object& observed_firsts,
                             tessaline::SpareThreads* spare) {
    const auto a = b::flat_view(c0), e = b::flat_view(c1);
    const auto oa = b::flat_view(outside_c0), oe = b::flat_view(outside_c1);
    if (a.size != e.size || oa.size != oe.size) {
        throw std::invalid_argument("iv_permutation_test: c0 and c1 must have the same length");
    }
    tessaline::IvPermutationOptions options;
    options.all_shapes = trend == "auto_all";
    const tessaline::OptimalBinningConstraints limits = grouping_limits(
        max_bins, min_bin_share, min_events, min_non_events,
        options.all_shapes ? tessaline::BinTrend::automatic : tessaline::parse_bin_trend(trend),
        max_pvalue);
    options.max_draws = max_draws;
    const auto at = b::flat_view(checks), low = b::flat_view(below), high = b::flat_view(above);
    for (std::size_t j = 0; j < at.size; ++j) {
        if (at.data[j] < 1) {
            throw std::invalid_argument(
                "iv_permutation_test: checks must rise from 1, each with a below and an above "
                "bound");
        }
        options.checks.push_back(static_cast<std::size_t>(at.data[j]));
    }
    options.below.assign(low.data, low.data + low.size);
    options.above.assign(high.data, high.data + high.size);
    options.sure_pvalue = sure_pvalue;
    options.seed = seed;
    options.rate_order = rate_order;
    options.threads = threads;
    options.spare = spare;
    // The groupings a fit's own search found on these pre-bins, one per shape
    // searched: read in place of searching the observed table again.
    if (!observed_firsts.is_none()) {
        options.has_observed = true;
        for (const py::handle grouping : observed_firsts) {
            b::Int64Array given;
            try {
                given = grouping.cast<b::Int64Array>();
            } catch (const std::exception&) {  // not an array, or values numpy cannot convert
                throw std::invalid_argument(
                    "iv_permutation_test: each observed grouping must be an array of integers");
            }
            const auto first = b::flat_view(given);
            std::vector<std::size_t> starts;
            for (std::size_t j = 0; j < first.size; ++j) {
                if (first.data[j] < 0) {
                    throw std::invalid_argument(
                        "iv_permutation_test: an observed grouping must start at pre-bin 0 and "
                        "rise below the number of pre-bins");
                }
                starts.push_back(static_cast<std::size_t>(first.data[j]));
            }
            options.observed_firsts.push_back(std::move(starts));
        }
    }
    tessaline::IvPermutationTest test;
    {
        py::gil_scoped_release release;
        test = tessaline::iv_permutation_test(a.data, e.data, a.size, oa.data, oe.data, oa.size,
                                              limits, options);
    }
    py::dict out;
    out["observed_iv"] = test.observed_iv;
    out["pvalue"] = test.pvalue;
    out["draws"] = static_cast<int64_t>(test.draws);
    out["exceedances"] = static_cast<int64_t>(test.exceedances);
    return out;
}

}  // namespace

void register_significance(py::module_& m) {
    py::class_<tessaline::SpareThreads>(
        m, "SpareThreads",
        "Threads a pool has left idle, lent to the permutation tests it runs (see "
        "iv_permutation_test's spare).")
        .def(py::init<>())
        .def("give", &tessaline::SpareThreads::give, py::arg("count"),
             "Counts `count` more threads idle.")
        .def("take", &tessaline::SpareThreads::take, py::arg("most"),
             "Takes up to `most` of the idle threads; returns how many.")
        .def_property_readonly("idle", &tessaline::SpareThreads::idle,
                               "Threads idle and not lent now.");
    m.def("iv_permutation_test", &iv_permutation_test, py::arg("c0"), py::arg("c1"),
          py::arg("outside_c0"), py::arg("outside_c1"), py::arg("max_bins"),
          py::arg("min_bin_share"), py::arg("min_events"), py::arg("min_non_events"),
          py::arg("trend"), py::arg("max_pvalue"), py::arg("max_draws"), py::arg("checks"),
          py::arg("below"), py::arg("above"), py::arg("sure_pvalue"), py::arg("seed"),
          py::arg("rate_order"), py::arg("threads") = 1, py::arg("observed_firsts") = py::none(),
          py::arg("spare") = nullptr,
          "Permutation p-value of the IV of the best grouping of ordered pre-bins.");
}

}  // namespace tessaline::native
