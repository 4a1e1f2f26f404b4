// Python face of the diagnostics area. These wrappers keep the interpreter
// lock for the whole call.
#include <stdexcept>
#include <vector>

#include "tessaline/tessaline.hpp"
#include "wrappers.hpp"

namespace tessaline::bindings {

py::dict compare_distributions_native(const DoubleArray& reference, const DoubleArray& current,
                                      const DoubleArray& splits, double epsilon) {
    const auto ref = flat_view(reference);
    const auto cur = flat_view(current);
    const auto cuts = flat_view(splits);
    const std::vector<double> cut_points(cuts.data, cuts.data + cuts.size);
    const DistributionComparison r =
        compare_distributions(ref.data, ref.size, cur.data, cur.size, cut_points, epsilon);
    return py::dict(py::arg("count_reference") = column(r.bins, &PsiBin::count_reference),
                    py::arg("count_current") = column(r.bins, &PsiBin::count_current),
                    py::arg("proportion_reference") = column(r.bins, &PsiBin::proportion_reference),
                    py::arg("proportion_current") = column(r.bins, &PsiBin::proportion_current),
                    py::arg("cumulative_reference") = column(r.bins, &PsiBin::cumulative_reference),
                    py::arg("cumulative_current") = column(r.bins, &PsiBin::cumulative_current),
                    py::arg("psi_bin") = column(r.bins, &PsiBin::psi_bin), py::arg("psi") = r.psi,
                    py::arg("ks") = r.ks);
}

py::dict lorenz_curve_native(const DoubleArray& x, const Int32Array& y) {
    const auto xs = flat_view(x);
    const auto ys = flat_view(y);
    require_same_length(xs, ys, "lorenz_curve");
    // The columns are made with room for a point per record and written once
    // by the core, then trimmed to the points there are; pages never written
    // are never touched.
    const auto room = static_cast<py::ssize_t>(xs.size);
    py::array_t<double> value(room);
    py::array_t<double> non_event(room);
    py::array_t<double> event(room);
    const LorenzSummary c = lorenz_curve_into(
        xs.data, ys.data, xs.size,
        LorenzColumns{value.mutable_data(), non_event.mutable_data(), event.mutable_data()});
    for (py::array_t<double>* column : {&value, &non_event, &event}) {
        column->resize({static_cast<py::ssize_t>(c.points)}, false);
    }
    return py::dict(py::arg("value") = value, py::arg("cumulative_non_event") = non_event,
                    py::arg("cumulative_event") = event, py::arg("auc") = c.auc,
                    py::arg("gini") = c.gini);
}

py::array_t<double> membership_native(const DoubleArray& x, const DoubleArray& representatives) {
    const auto xs = flat_view(x);
    const auto reps = flat_view(representatives);
    // The core writes the (n, k + 1) C-ordered result in place, once.
    py::array_t<double> out;
    membership_matrix_into(
        xs.data, xs.size, reps.data, reps.size, [&](std::size_t rows, std::size_t width) {
            out = py::array_t<double>(
                {static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(width)});
            return out.mutable_data();
        });
    return out;
}

py::array_t<double> aggregate_membership_native(const DoubleArray& membership,
                                                const DoubleArray& values, bool standardize) {
    const auto vals = flat_view(values);
    // Only the column count is compared with values; its shape is not examined.
    if (membership.ndim() != 2 || static_cast<std::size_t>(membership.shape(1)) != vals.size) {
        throw std::invalid_argument("aggregate_membership: dimensiones incompatibles");
    }
    const std::vector<double> s =
        aggregate_membership(membership.data(), static_cast<std::size_t>(membership.shape(0)),
                             static_cast<std::size_t>(membership.shape(1)), vals.data, standardize);
    return array_from_vector(s);
}

}  // namespace tessaline::bindings
