// Python face of the boundary table.
#include <stdexcept>
#include <vector>

#include "tessaline/tessaline.hpp"
#include "wrappers.hpp"

namespace tessaline::bindings {
namespace {

py::dict boundary_dict(const std::vector<Boundary>& table) {
    return py::dict(py::arg("pto_corte") = column(table, &Boundary::pto_corte),
                    py::arg("c0") = column(table, &Boundary::c0),
                    py::arg("c1") = column(table, &Boundary::c1));
}

}  // namespace

py::dict compute_boundaries(const DoubleArray& x, const Int32Array& y, bool sorted) {
    const auto xs = flat_view(x);
    const auto ys = flat_view(y);
    require_same_length(xs, ys, "compute_boundaries");
    if (!sorted) {
        throw std::invalid_argument(
            "compute_boundaries: usa sorted=True (los datos deben venir ya limpios y "
            "ordenados)");
    }
    // The caller's arrays are read in place, unchecked, so the lock stays held.
    const SortedView view{xs.data, ys.data, xs.size};
    return boundary_dict(tessaline::compute_boundaries(view));
}

py::dict compute_boundaries_raw(const DoubleArray& x, const DoubleArray& y, const py::object& value,
                                double percentile) {
    const auto xs = flat_view(x);
    const auto ys = flat_view(y);
    require_same_length(xs, ys, "compute_boundaries");
    const std::optional<double> threshold = optional_from_object(value);
    std::vector<Boundary> table;
    {
        // The converted arrays stay alive until the wrapper returns.
        py::gil_scoped_release unlocked;
        table = compute_boundaries_from_raw(xs.data, ys.data, xs.size, threshold, percentile);
    }
    return boundary_dict(table);
}

}  // namespace tessaline::bindings
