// The pre-bins of the default binning of counts merged elsewhere (an engine's,
// a stream's batches), in one call with the lock released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <utility>
#include <vector>

#include "common.hpp"

namespace tessaline::native {
namespace {

// {"value", "c0", "c1", "index_c0", "index_c1", "prebins"} of the counts
// merged, as counted_prebins gives them of rows.
py::dict prebins_from_counts(const b::DoubleArray& value, const py::object& c0,
                             const py::object& c1, std::size_t n_prebins,
                             std::size_t max_class_parts, double min_class_share) {
    std::vector<tessaline::ValueCounts> parts;
    parts.push_back(value_counts(value, c0, c1, "prebins_from_counts"));
    tessaline::CountedPrebins counted;
    {
        py::gil_scoped_release release;
        counted =
            tessaline::prebins_from_counts(parts, n_prebins, max_class_parts, min_class_share);
    }
    py::dict out;
    out["value"] = b::array_taking(std::move(counted.counts.value));
    out["c0"] = b::array_taking(std::move(counted.counts.c0));
    out["c1"] = b::array_taking(std::move(counted.counts.c1));
    out["index_c0"] = b::array_taking(std::move(counted.index_c0));
    out["index_c1"] = b::array_taking(std::move(counted.index_c1));
    out["prebins"] = b::binning_summary_dict(counted.prebins);
    return out;
}

}  // namespace

void register_prebins(py::module_& m) {
    m.def("prebins_from_counts", &prebins_from_counts, py::arg("value"), py::arg("c0"),
          py::arg("c1"), py::arg("n_prebins"), py::arg("max_class_parts"),
          py::arg("min_class_share"),
          "Counts merged by value with their index and the pre-bins of the default binning.");
}

}  // namespace tessaline::native
