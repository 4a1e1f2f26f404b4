// The column profile of the data overview, from counts by distinct value.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <vector>

#include "common.hpp"

namespace tessaline::native {
namespace {

py::array_t<int64_t> positions_array(const std::vector<std::size_t>& positions) {
    std::vector<int64_t> out(positions.begin(), positions.end());
    return b::array_taking(std::move(out));
}

py::dict value_profile(const b::DoubleArray& value, const py::object& count,
                       const std::vector<double>& percentiles, std::size_t top) {
    const b::Int64Array count_array = counts_array(count, "value_profile", "count");
    const auto v = b::flat_view(value);
    const auto c = b::flat_view(count_array);
    b::require_same_length(v, c, "value_profile");
    tessaline::ValueProfile p;
    {
        py::gil_scoped_release release;
        p = tessaline::value_profile(v.data, c.data, v.size, percentiles, top);
    }
    py::dict out;
    out["quantiles"] = b::array_taking(std::move(p.quantiles));
    out["mean"] = p.mean;
    out["std"] = p.std;
    out["finite_rows"] = p.finite_rows;
    out["top"] = positions_array(p.top);
    return out;
}

py::array_t<int64_t> top_positions(const py::object& count, std::size_t k) {
    const b::Int64Array count_array = counts_array(count, "top_positions", "count");
    const auto c = b::flat_view(count_array);
    return positions_array(tessaline::top_positions(c.data, c.size, k));
}

}  // namespace

void register_profile(py::module_& m) {
    m.def("value_profile", &value_profile, py::arg("value"), py::arg("count"),
          py::arg("percentiles"), py::arg("top"),
          "Percentiles, mean, standard deviation and most frequent values of a column "
          "counted by distinct value.");
    m.def("top_positions", &top_positions, py::arg("count"), py::arg("k"),
          "Positions of the k largest counts, largest first, ties by position.");
}

}  // namespace tessaline::native
