// Counts kept by batch: the keys of each batch's counts merged run by run.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <stdexcept>

#include "common.hpp"

namespace tessaline::native {
namespace {

py::dict merge_key_runs(const b::DoubleArray& keys, const b::Int64Array& ends) {
    const auto k = b::flat_view(keys);
    const auto e = b::flat_view(ends);
    if (e.size > 0 && e.data[e.size - 1] != static_cast<int64_t>(k.size)) {
        throw std::invalid_argument("merge_key_runs: the last run must end with the keys");
    }
    tessaline::KeyRunsUnion merged;
    {
        py::gil_scoped_release release;
        merged = tessaline::merge_key_runs(k.data, e.data, e.size);
    }
    py::dict out;
    out["keys"] = b::array_taking(std::move(merged.keys));
    out["place"] = b::array_taking(std::move(merged.place));
    return out;
}

}  // namespace

void register_batches(py::module_& m) {
    m.def("merge_key_runs", &merge_key_runs, py::arg("keys"), py::arg("ends"),
          "The distinct keys of runs that are each ascending and distinct (NaN last), "
          "and each entry's place among them.");
}

}  // namespace tessaline::native
