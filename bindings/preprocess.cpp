// Python face of preprocessing.
#include "tessaline/tessaline.hpp"
#include "wrappers.hpp"

namespace tessaline::bindings {

py::dict preprocess_data_native(const DoubleArray& x, const DoubleArray& y, const py::object& value,
                                double percentile) {
    const auto xs = flat_view(x);
    const auto ys = flat_view(y);
    require_same_length(xs, ys, "preprocess_data");
    const std::optional<double> threshold = optional_from_object(value);
    // The caller's arrays are read in place, so the lock stays held.
    const PreprocessResult r = preprocess_data(xs.data, ys.data, xs.size, threshold, percentile);
    return py::dict(py::arg("x") = array_from_vector(r.x), py::arg("y") = array_from_vector(r.y));
}

}  // namespace tessaline::bindings
