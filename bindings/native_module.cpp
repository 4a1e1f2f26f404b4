// tessaline._native: the package's own hot paths over the core library, kept
// apart from the fixed function table of _tessaline. Each function converts,
// checks, releases the interpreter lock around the core call and builds its
// result; the numerics live in core/.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

#include "convert.hpp"
#include "tessaline/tessaline.hpp"

namespace py = pybind11;
namespace b = tessaline::bindings;

namespace {

py::dict count_categories(const b::Int64Array& codes, const b::DoubleArray& labels,
                          std::size_t k) {
    const auto c = b::flat_view(codes);
    const auto y = b::flat_view(labels);
    b::require_same_length(c, y, "count_categories");
    tessaline::CategoryCounts counts;
    {
        py::gil_scoped_release release;
        counts = tessaline::count_categories(c.data, y.data, c.size, k);
    }
    py::dict out;
    out["c0"] = b::array_from_vector(counts.c0);
    out["c1"] = b::array_from_vector(counts.c1);
    out["missing_c0"] = counts.missing_c0;
    out["missing_c1"] = counts.missing_c1;
    out["n_missing_target"] = counts.n_missing_target;
    return out;
}

py::array_t<int64_t> event_rate_order(const b::Int64Array& c0, const b::Int64Array& c1) {
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    if (a.size != e.size) {
        throw std::invalid_argument("event_rate_order: c0 and c1 must have the same length");
    }
    return b::array_from_vector(tessaline::event_rate_order(a.data, e.data, a.size));
}

// One lookup for both element types: the table's dtype is the result's.
template <typename T>
py::array_t<T> lookup_codes(const b::Int64Array& codes,
                            const py::array_t<T, py::array::c_style | py::array::forcecast>& table,
                            T missing) {
    const auto c = b::flat_view(codes);
    const auto t = b::flat_view(table);
    py::array_t<T> out(static_cast<py::ssize_t>(c.size));
    T* dst = out.mutable_data();
    {
        py::gil_scoped_release release;
        tessaline::lookup_codes(c.data, c.size, t.data, t.size, missing, dst);
    }
    return out;
}

// The best contiguous grouping of ordered pre-bins under the limits: the
// groups as first and last pre-bin, the trend met, and "message" naming the
// limit no grouping meets (empty when one was found).
py::dict optimal_binning(const b::DoubleArray& c0, const b::DoubleArray& c1, std::size_t max_bins,
                         double min_bin_share, double min_events, double min_non_events,
                         const std::string& trend) {
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    if (a.size != e.size) {
        throw std::invalid_argument("optimal_binning: c0 and c1 must have the same length");
    }
    tessaline::OptimalBinningConstraints limits;
    limits.max_bins = max_bins;
    limits.min_bin_share = min_bin_share;
    limits.min_events = min_events;
    limits.min_non_events = min_non_events;
    limits.trend = tessaline::parse_bin_trend(trend);
    tessaline::OptimalBinning best;
    {
        py::gil_scoped_release release;
        best = tessaline::optimal_binning(a.data, e.data, a.size, limits);
    }
    static const char* const trends[] = {"none", "ascending", "descending", "peak", "valley", "auto"};
    std::vector<int64_t> first, last;
    for (const auto& g : best.groups) {
        first.push_back(static_cast<int64_t>(g.first));
        last.push_back(static_cast<int64_t>(g.last));
    }
    py::dict out;
    out["message"] = best.status == tessaline::OptimalBinningStatus::optimal
                         ? std::string()
                         : std::string(tessaline::optimal_binning_status_message(best.status));
    out["trend"] = trends[static_cast<int>(best.trend)];
    out["first"] = b::array_from_vector(first);
    out["last"] = b::array_from_vector(last);
    out["iv"] = best.iv;
    return out;
}

}  // namespace

PYBIND11_MODULE(_native, m, py::multiple_interpreters::not_supported()) {
    m.doc() = "Native hot paths of the tessaline package (categorical variables)";
    m.def("count_categories", &count_categories, py::arg("codes"), py::arg("labels"),
          py::arg("k"),
          "Non-events and events per category code (code -1: missing value; label NaN: "
          "row left out and counted).");
    m.def("event_rate_order", &event_rate_order, py::arg("c0"), py::arg("c1"),
          "Codes holding rows, by ascending event rate, equal rates by code.");
    m.def("lookup_codes", &lookup_codes<double>, py::arg("codes"), py::arg("table"),
          py::arg("missing"), "table[code] per row; `missing` for code -1.");
    m.def("optimal_binning", &optimal_binning, py::arg("c0"), py::arg("c1"), py::arg("max_bins"),
          py::arg("min_bin_share"), py::arg("min_events"), py::arg("min_non_events"),
          py::arg("trend"),
          "Contiguous grouping of ordered pre-bins of largest IV under the limits.");
    m.def("lookup_codes_int", &lookup_codes<int64_t>, py::arg("codes"), py::arg("table"),
          py::arg("missing"), "table[code] per row (int64); `missing` for code -1.");
}
