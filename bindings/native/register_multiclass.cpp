// Multiclass target: rows counted per class by value, the rows of each class
// per interval, the table's measures and the grouping of pre-bins.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common.hpp"

namespace tessaline::native {
namespace {

// An n x k table of counts as a new 2-D array.
template <typename T>
py::object class_table(const std::vector<T>& v, std::size_t k) {
    const py::ssize_t rows = k == 0 ? 0 : static_cast<py::ssize_t>(v.size() / k);
    return b::array_from_vector(v).attr("reshape")(rows, static_cast<py::ssize_t>(k));
}

// A 2-D array of counts: its rows and classes.
template <typename Array>
std::pair<std::size_t, std::size_t> counts_shape(const Array& a, const char* where) {
    if (a.ndim() != 2) {
        throw std::invalid_argument(std::string(where) +
                                    ": counts must be a 2-D array, one column per class");
    }
    return {static_cast<std::size_t>(a.shape(0)), static_cast<std::size_t>(a.shape(1))};
}

py::dict count_class_values(const b::DoubleArray& x, const py::object& labels, std::size_t k) {
    const b::Int32Array label_array = labels_array(labels, "count_class_values");
    const auto xs = b::flat_view(x);
    const auto ys = b::flat_view(label_array);
    if (xs.size != ys.size) {
        throw std::invalid_argument("count_class_values: x and labels must have the same length");
    }
    tessaline::ClassValueCounts c;
    {
        py::gil_scoped_release release;
        c = tessaline::count_class_values(xs.data, ys.data, xs.size, k);
    }
    return py::dict(py::arg("value") = b::array_from_vector(c.value),
                    py::arg("counts") = class_table(c.counts, k),
                    py::arg("missing") = b::array_from_vector(c.missing),
                    py::arg("n_missing_target") = c.n_missing_target);
}

py::object class_interval_counts(const b::DoubleArray& value, const py::object& counts,
                                 const b::DoubleArray& splits) {
    const b::Int64Array c = counts_array(counts, "class_interval_counts", "counts");
    const auto [m, k] = counts_shape(c, "class_interval_counts");
    if (static_cast<std::size_t>(value.size()) != m) {
        throw std::invalid_argument("class_interval_counts: one row of counts per value");
    }
    const auto s = b::flat_view(splits);
    const std::vector<double> cuts(s.data, s.data + s.size);
    std::vector<int64_t> out;
    {
        py::gil_scoped_release release;
        out = tessaline::class_interval_counts(value.data(), c.data(), m, k, cuts);
    }
    return class_table(out, k);
}

py::dict multiclass_columns(const b::DoubleArray& counts) {
    const auto [n, k] = counts_shape(counts, "multiclass_columns");
    const tessaline::MulticlassColumns c = tessaline::multiclass_columns(counts.data(), n, k);
    return py::dict(py::arg("share") = b::array_from_vector(c.share),
                    py::arg("woe") = class_table(c.woe, k), py::arg("iv") = class_table(c.iv, k),
                    py::arg("row_iv") = b::array_from_vector(c.row_iv),
                    py::arg("js") = b::array_from_vector(c.js),
                    py::arg("class_iv") = b::array_from_vector(c.class_iv),
                    py::arg("iv_total") = c.iv_total, py::arg("js_total") = c.js_total);
}

// The best grouping under the limits: the groups as first and last pre-bin,
// the trend each class met, and "message" naming the limit no grouping meets
// (empty when one was found).
py::dict multiclass_binning(const b::DoubleArray& counts, std::size_t max_bins,
                            double min_bin_share, double min_class_count, const py::list& trends,
                            const std::string& objective) {
    const auto [n, k] = counts_shape(counts, "multiclass_binning");
    tessaline::MulticlassBinningConstraints limits;
    limits.max_bins = max_bins;
    limits.min_bin_share = min_bin_share;
    limits.min_class_count = min_class_count;
    for (const auto& t : trends)
        limits.trends.push_back(tessaline::parse_bin_trend(py::cast<std::string>(t)));
    if (objective != "iv" && objective != "js")
        throw std::invalid_argument("multiclass_binning: objective must be 'iv' or 'js'");
    limits.objective =
        objective == "js" ? tessaline::MulticlassObjective::js : tessaline::MulticlassObjective::iv;
    tessaline::MulticlassBinning best;
    {
        py::gil_scoped_release release;
        best = tessaline::multiclass_binning(counts.data(), n, k, limits);
    }
    std::vector<int64_t> first, last;
    for (const auto& g : best.groups) {
        first.push_back(static_cast<int64_t>(g.first));
        last.push_back(static_cast<int64_t>(g.last));
    }
    py::list met;
    for (tessaline::BinTrend t : best.trends) met.append(trend_name(t));
    py::dict out;
    out["message"] = std::string(tessaline::multiclass_binning_status_message(best.status));
    out["trends"] = met;
    out["first"] = b::array_from_vector(first);
    out["last"] = b::array_from_vector(last);
    out["value"] = best.value;
    return out;
}

}  // namespace

void register_multiclass(py::module_& m) {
    m.def("count_class_values", &count_class_values, py::arg("x"), py::arg("labels"), py::arg("k"),
          "Rows counted by distinct x and class code (-1: a missing target).");
    m.def("class_interval_counts", &class_interval_counts, py::arg("value"), py::arg("counts"),
          py::arg("splits"), "Rows of each class per interval of the ascending cut points.");
    m.def("multiclass_columns", &multiclass_columns, py::arg("counts"),
          "Share, WoE and IV per class against the rest, and the Jensen-Shannon terms.");
    m.def("multiclass_binning", &multiclass_binning, py::arg("counts"), py::arg("max_bins"),
          py::arg("min_bin_share"), py::arg("min_class_count"), py::arg("trends"),
          py::arg("objective") = "iv",
          "Contiguous grouping of ordered pre-bins of largest multiclass IV (or Jensen-Shannon "
          "divergence) under the limits.");
}

}  // namespace tessaline::native
