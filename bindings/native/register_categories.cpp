// Categorical variables: counts per category code, their order by event
// rate, and the lookup of a value per code.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <stdexcept>

#include "common.hpp"

namespace tessaline::native {
namespace {

py::dict count_categories(const b::Int64Array& codes, const b::DoubleArray& labels, std::size_t k) {
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

// Whether every value of a target that is not NaN is 0 or 1.
bool is_binary_target(const b::DoubleArray& y) {
    const auto ys = b::flat_view(y);
    py::gil_scoped_release release;
    return tessaline::read_binary_target(ys.data, ys.size).binary;
}

// (labels, known) of a 0/1 target: the int32 labels of the rows whose target
// is not NaN (-1 for a value other than 0 and 1), and which rows those are
// (None when all are).
py::tuple target_labels(const b::DoubleArray& y) {
    const auto ys = b::flat_view(y);
    std::size_t missing = 0;
    {
        py::gil_scoped_release release;
        missing = tessaline::read_binary_target(ys.data, ys.size).missing;
    }
    py::array_t<int32_t> labels(static_cast<py::ssize_t>(ys.size - missing));
    py::object known = py::none();
    bool* known_rows = nullptr;
    if (missing > 0) {
        py::array_t<bool> flags(static_cast<py::ssize_t>(ys.size));
        known_rows = flags.mutable_data();
        known = flags;
    }
    int32_t* label_rows = labels.mutable_data();
    {
        py::gil_scoped_release release;
        tessaline::binary_labels(ys.data, ys.size, label_rows, known_rows);
    }
    return py::make_tuple(labels, known);
}

}  // namespace

void register_categories(py::module_& m) {
    m.def("count_categories", &count_categories, py::arg("codes"), py::arg("labels"), py::arg("k"),
          "Non-events and events per category code (code -1: missing value; label NaN: "
          "row left out and counted).");
    m.def("event_rate_order", &event_rate_order, py::arg("c0"), py::arg("c1"),
          "Codes holding rows, by ascending event rate, equal rates by code.");
    m.def("is_binary_target", &is_binary_target, py::arg("y"),
          "Whether every value of the target `y` that is not NaN is 0 or 1.");
    m.def("target_labels", &target_labels, py::arg("y"),
          "(labels, known) of a 0/1 target: int32 labels of the rows whose target is not NaN "
          "(-1 for a value other than 0 and 1), and which rows those are (None when all are).");
    m.def("lookup_codes", &lookup_codes<double>, py::arg("codes"), py::arg("table"),
          py::arg("missing"), "table[code] per row; `missing` for code -1.");
    m.def("lookup_codes_int", &lookup_codes<int64_t>, py::arg("codes"), py::arg("table"),
          py::arg("missing"), "table[code] per row (int64); `missing` for code -1.");
}

}  // namespace tessaline::native
