// Rows counted by distinct value and class, and counts merged across parts.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "common.hpp"
#include "tessaline/recycled_vectors.hpp"

namespace tessaline::native {
namespace {

py::dict value_counts_dict(tessaline::ValueCounts&& counts) {
    py::dict out;
    out["value"] = array_recycling(std::move(counts.value));
    out["c0"] = array_recycling(std::move(counts.c0));
    out["c1"] = array_recycling(std::move(counts.c1));
    return out;
}

py::dict count_values(const b::DoubleArray& x, const py::object& labels) {
    const b::Int32Array label_array = labels_array(labels, "count_values");
    const auto xs = b::flat_view(x);
    const auto ys = b::flat_view(label_array);
    b::require_same_length(xs, ys, "count_values");
    tessaline::ValueCounts counts;
    {
        py::gil_scoped_release release;
        counts = tessaline::count_values(xs.data, ys.data, xs.size);
    }
    return value_counts_dict(std::move(counts));
}

// count_values of rows of at most `max_values` distinct x, or None.
py::object count_values_at_most(const b::DoubleArray& x, const py::object& labels,
                                std::size_t max_values) {
    const b::Int32Array label_array = labels_array(labels, "count_values_at_most");
    const auto xs = b::flat_view(x);
    const auto ys = b::flat_view(label_array);
    b::require_same_length(xs, ys, "count_values_at_most");
    std::optional<tessaline::ValueCounts> counts;
    {
        py::gil_scoped_release release;
        counts = tessaline::count_values_at_most(xs.data, ys.data, xs.size, max_values);
    }
    if (!counts) return py::none();
    return value_counts_dict(std::move(*counts));
}

// The rows counted by value and the pre-bins of the default binning, in one
// call with the lock released: {"value", "c0", "c1", "prebins": summary}.
py::dict counted_prebins_dict(tessaline::CountedPrebins&& counted) {
    py::dict out = value_counts_dict(std::move(counted.counts));
    out["prebins"] = b::binning_summary_dict(counted.prebins);
    out["missing_c0"] = counted.missing_c0;
    out["missing_c1"] = counted.missing_c1;
    out["negative_zero"] = counted.negative_zero;
    out["index_c0"] = b::array_taking(std::move(counted.index_c0));
    out["index_c1"] = b::array_taking(std::move(counted.index_c1));
    return out;
}

py::dict counted_prebins(const b::DoubleArray& x, const py::object& labels, std::size_t n_prebins,
                         std::size_t max_class_parts, double min_class_share) {
    const b::Int32Array label_array = labels_array(labels, "counted_prebins");
    const auto xs = b::flat_view(x);
    const auto ys = b::flat_view(label_array);
    b::require_same_length(xs, ys, "counted_prebins");
    tessaline::CountedPrebins counted;
    {
        py::gil_scoped_release release;
        counted = tessaline::counted_prebins(xs.data, ys.data, xs.size, n_prebins, max_class_parts,
                                             min_class_share);
    }
    return counted_prebins_dict(std::move(counted));
}

// counted_prebins of each pair of x and labels, the columns shared among
// `n_threads` threads with the lock released once for all of them.
py::list counted_prebins_columns(const py::list& xs, const py::list& labels, std::size_t n_prebins,
                                 std::size_t max_class_parts, double min_class_share,
                                 std::size_t n_threads) {
    if (xs.size() != labels.size()) {
        throw std::invalid_argument(
            "counted_prebins_columns: xs and labels must hold as many columns");
    }
    // The arrays stay referenced here while the threads read them.
    std::vector<b::DoubleArray> x_arrays;
    std::vector<b::Int32Array> label_arrays;
    std::vector<tessaline::LabelledColumn> columns;
    x_arrays.reserve(xs.size());
    label_arrays.reserve(xs.size());
    for (std::size_t i = 0; i < xs.size(); ++i) {
        x_arrays.push_back(xs[i].cast<b::DoubleArray>());
        label_arrays.push_back(labels_array(labels[i], "counted_prebins_columns"));
        const auto x = b::flat_view(x_arrays.back());
        const auto y = b::flat_view(label_arrays.back());
        b::require_same_length(x, y, "counted_prebins_columns");
        columns.push_back({x.data, y.data, x.size});
    }
    std::vector<tessaline::CountedPrebins> counted;
    {
        py::gil_scoped_release release;
        counted = tessaline::counted_prebins_columns(columns, n_prebins, max_class_parts,
                                                     min_class_share, n_threads);
    }
    py::list out;
    for (tessaline::CountedPrebins& column : counted)
        out.append(counted_prebins_dict(std::move(column)));
    return out;
}

py::dict merge_value_counts(const b::DoubleArray& value, const py::object& c0,
                            const py::object& c1) {
    const std::vector<tessaline::ValueCounts> parts{
        value_counts(value, c0, c1, "merge_value_counts")};
    tessaline::ValueCounts merged;
    {
        py::gil_scoped_release release;
        merged = tessaline::merge_value_counts(parts);
    }
    return value_counts_dict(std::move(merged));
}

}  // namespace

void register_counts(py::module_& m) {
    m.def("count_values", &count_values, py::arg("x"), py::arg("labels"),
          "Rows counted by distinct x (ascending) and class; NaN x left out.");
    m.def("count_values_at_most", &count_values_at_most, py::arg("x"), py::arg("labels"),
          py::arg("max_values"),
          "count_values of rows of at most max_values distinct x (found without a sort), "
          "else None.");
    m.def("counted_prebins", &counted_prebins, py::arg("x"), py::arg("labels"),
          py::arg("n_prebins"), py::arg("max_class_parts"), py::arg("min_class_share"),
          "Rows counted by distinct x and the pre-bins of the default binning.");
    m.def("counted_prebins_columns", &counted_prebins_columns, py::arg("xs"), py::arg("labels"),
          py::arg("n_prebins"), py::arg("max_class_parts"), py::arg("min_class_share"),
          py::arg("n_threads"),
          "counted_prebins of each pair of x and labels, in their order, on up to n_threads "
          "threads.");
    m.def("merge_value_counts", &merge_value_counts, py::arg("value"), py::arg("c0"), py::arg("c1"),
          "Counts summed by value, values ascending.");
}

}  // namespace tessaline::native
