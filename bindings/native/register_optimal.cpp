// The optimal grouping of ordered pre-bins of a binary target.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common.hpp"

namespace tessaline::native {
namespace {

// The limits of a search from its arguments, `trend` aside (the trends are
// searched together, each its own).
tessaline::OptimalBinningConstraints optimal_limits(std::size_t max_bins, double min_bin_share,
                                                    double min_events, double min_non_events,
                                                    double max_pvalue,
                                                    const b::Int64Array& fixed_starts) {
    tessaline::OptimalBinningConstraints limits = grouping_limits(
        max_bins, min_bin_share, min_events, min_non_events, tessaline::BinTrend::none, max_pvalue);
    const auto fixed = b::flat_view(fixed_starts);
    for (std::size_t i = 0; i < fixed.size; ++i) {
        if (fixed.data[i] < 0) {
            throw std::invalid_argument("optimal_binning: fixed starts must not be negative");
        }
        limits.fixed_starts.push_back(static_cast<std::size_t>(fixed.data[i]));
    }
    return limits;
}

// The groups as first and last pre-bin, the trend met, and "message" naming
// the limit no grouping meets (empty when one was found).
py::dict grouping_dict(const tessaline::OptimalBinning& best) {
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

// The best contiguous grouping of ordered pre-bins under the limits under
// each trend, one dict per trend.
py::list optimal_binnings(const b::DoubleArray& c0, const b::DoubleArray& c1, std::size_t max_bins,
                          double min_bin_share, double min_events, double min_non_events,
                          const py::list& trends, double max_pvalue,
                          const b::Int64Array& fixed_starts) {
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    if (a.size != e.size) {
        throw std::invalid_argument("optimal_binning: c0 and c1 must have the same length");
    }
    std::vector<tessaline::BinTrend> parsed;
    for (const py::handle trend : trends)
        parsed.push_back(tessaline::parse_bin_trend(trend.cast<std::string>()));
    const tessaline::OptimalBinningConstraints limits = optimal_limits(
        max_bins, min_bin_share, min_events, min_non_events, max_pvalue, fixed_starts);
    std::vector<tessaline::OptimalBinning> found;
    {
        py::gil_scoped_release release;
        found = tessaline::optimal_binnings(a.data, e.data, a.size, limits, parsed);
    }
    py::list out;
    for (const auto& best : found) out.append(grouping_dict(best));
    return out;
}

// optimal_binnings of each column's pre-bins (c0s[i], c1s[i]) under its own
// limits and trends, the columns shared among `n_threads` threads with the
// lock released once for all of them: one list of dicts per column.
py::list optimal_binnings_columns(const py::list& c0s, const py::list& c1s,
                                  const std::vector<std::size_t>& max_bins,
                                  const std::vector<double>& min_bin_share,
                                  const std::vector<double>& min_events,
                                  const std::vector<double>& min_non_events,
                                  const std::vector<std::vector<std::string>>& trends,
                                  const std::vector<double>& max_pvalue, std::size_t n_threads) {
    const std::size_t n = c0s.size();
    if (c1s.size() != n || max_bins.size() != n || min_bin_share.size() != n ||
        min_events.size() != n || min_non_events.size() != n || trends.size() != n ||
        max_pvalue.size() != n) {
        throw std::invalid_argument(
            "optimal_binnings_columns: every argument must hold one entry per column");
    }
    // The arrays stay referenced here while the threads read them.
    std::vector<b::DoubleArray> arrays;
    arrays.reserve(2 * n);
    std::vector<tessaline::PrebinSearch> searches(n);
    const b::Int64Array no_fixed_starts(0);
    for (std::size_t i = 0; i < n; ++i) {
        arrays.push_back(c0s[i].cast<b::DoubleArray>());
        arrays.push_back(c1s[i].cast<b::DoubleArray>());
        const auto a = b::flat_view(arrays[2 * i]);
        const auto e = b::flat_view(arrays[2 * i + 1]);
        if (a.size != e.size) {
            throw std::invalid_argument("optimal_binning: c0 and c1 must have the same length");
        }
        tessaline::PrebinSearch& s = searches[i];
        s.c0 = a.data;
        s.c1 = e.data;
        s.n_prebins = a.size;
        s.constraints = optimal_limits(max_bins[i], min_bin_share[i], min_events[i],
                                       min_non_events[i], max_pvalue[i], no_fixed_starts);
        for (const std::string& trend : trends[i])
            s.trends.push_back(tessaline::parse_bin_trend(trend));
    }
    std::vector<std::vector<tessaline::OptimalBinning>> found;
    {
        py::gil_scoped_release release;
        found = tessaline::optimal_binnings_columns(searches, n_threads);
    }
    py::list out;
    for (const auto& column : found) {
        py::list groupings;
        for (const auto& best : column) groupings.append(grouping_dict(best));
        out.append(groupings);
    }
    return out;
}

py::dict optimal_binning(const b::DoubleArray& c0, const b::DoubleArray& c1, std::size_t max_bins,
                         double min_bin_share, double min_events, double min_non_events,
                         const std::string& trend, double max_pvalue,
                         const b::Int64Array& fixed_starts) {
    py::list trends;
    trends.append(trend);
    return optimal_binnings(c0, c1, max_bins, min_bin_share, min_events, min_non_events, trends,
                            max_pvalue, fixed_starts)[0]
        .cast<py::dict>();
}

}  // namespace

void register_optimal(py::module_& m) {
    m.def("optimal_binning", &optimal_binning, py::arg("c0"), py::arg("c1"), py::arg("max_bins"),
          py::arg("min_bin_share"), py::arg("min_events"), py::arg("min_non_events"),
          py::arg("trend"), py::arg("max_pvalue") = 1.0,
          py::arg("fixed_starts") = py::array_t<int64_t>(0),
          "Contiguous grouping of ordered pre-bins of largest IV under the limits, every "
          "fixed start beginning a group.");
    m.def("optimal_binnings", &optimal_binnings, py::arg("c0"), py::arg("c1"), py::arg("max_bins"),
          py::arg("min_bin_share"), py::arg("min_events"), py::arg("min_non_events"),
          py::arg("trends"), py::arg("max_pvalue") = 1.0,
          py::arg("fixed_starts") = py::array_t<int64_t>(0),
          "optimal_binning under each of the trends, searched in one pass: one dict per trend.");
    m.def("optimal_binnings_columns", &optimal_binnings_columns, py::arg("c0s"), py::arg("c1s"),
          py::arg("max_bins"), py::arg("min_bin_share"), py::arg("min_events"),
          py::arg("min_non_events"), py::arg("trends"), py::arg("max_pvalue"), py::arg("n_threads"),
          "optimal_binnings of many columns' pre-bins, each under its own limits, on up to "
          "n_threads threads: one list of dicts per column.");
}

}  // namespace tessaline::native
