// The optimal grouping of ordered pre-bins of a binary target.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common.hpp"

namespace tessaline::native {
namespace {

// The best contiguous grouping of ordered pre-bins under the limits: the
// groups as first and last pre-bin, the trend met, and "message" naming the
// limit no grouping meets (empty when one was found).
py::dict optimal_binning(const b::DoubleArray& c0, const b::DoubleArray& c1, std::size_t max_bins,
                         double min_bin_share, double min_events, double min_non_events,
                         const std::string& trend, double max_pvalue,
                         const b::Int64Array& fixed_starts) {
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    if (a.size != e.size) {
        throw std::invalid_argument("optimal_binning: c0 and c1 must have the same length");
    }
    tessaline::OptimalBinningConstraints limits =
        grouping_limits(max_bins, min_bin_share, min_events, min_non_events,
                        tessaline::parse_bin_trend(trend), max_pvalue);
    const auto fixed = b::flat_view(fixed_starts);
    for (std::size_t i = 0; i < fixed.size; ++i) {
        if (fixed.data[i] < 0) {
            throw std::invalid_argument("optimal_binning: fixed starts must not be negative");
        }
        limits.fixed_starts.push_back(static_cast<std::size_t>(fixed.data[i]));
    }
    tessaline::OptimalBinning best;
    {
        py::gil_scoped_release release;
        best = tessaline::optimal_binning(a.data, e.data, a.size, limits);
    }
    std::vector<int64_t> first, last;
    for (const auto& g : best.groups) {
        first.push_back(static_cast<int64_t>(g.first));
        last.push_back(static_cast<int64_t>(g.last));
    }
    py::dict out;
    out["message"] = best.status == tessaline::OptimalBinningStatus::optimal
                         ? std::string()
                         : std::string(tessaline::optimal_binning_status_message(best.status));
    out["trend"] = trend_name(best.trend);
    out["first"] = b::array_from_vector(first);
    out["last"] = b::array_from_vector(last);
    out["iv"] = best.iv;
    out["broken_segment"] = static_cast<int64_t>(best.broken_segment);
    return out;
}

}  // namespace

void register_optimal(py::module_& m) {
    m.def("optimal_binning", &optimal_binning, py::arg("c0"), py::arg("c1"), py::arg("max_bins"),
          py::arg("min_bin_share"), py::arg("min_events"), py::arg("min_non_events"),
          py::arg("trend"), py::arg("max_pvalue") = 1.0,
          py::arg("fixed_starts") = py::array_t<int64_t>(0),
          "Contiguous grouping of ordered pre-bins of largest IV under the limits, every "
          "fixed start beginning a group.");
}

}  // namespace tessaline::native
