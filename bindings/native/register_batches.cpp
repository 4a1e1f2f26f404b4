// Counts kept by batch: the keys of each batch's counts merged run by run.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <stdexcept>
#include <vector>

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

py::dict counts_dict(tessaline::CountRunsUnion&& counts) {
    py::dict out;
    out["keys"] = b::array_taking(std::move(counts.keys));
    out["rows"] = b::array_taking(std::move(counts.rows));
    out["known"] = b::array_taking(std::move(counts.known));
    out["ones"] = b::array_taking(std::move(counts.ones));
    return out;
}

// Runs given as four lists of arrays, one entry per run: merged where they
// are, without joining them first.
py::dict merge_count_runs(const py::list& keys, const py::list& rows, const py::list& known,
                          const py::list& ones) {
    if (rows.size() != keys.size() || known.size() != keys.size() || ones.size() != keys.size()) {
        throw std::invalid_argument(
            "merge_count_runs: keys, rows, known and ones need one "
            "array per run");
    }
    // The arrays stay referenced here while the merge reads them.
    std::vector<b::DoubleArray> key_arrays;
    std::vector<b::Int64Array> count_arrays;
    std::vector<tessaline::CountRun> runs;
    key_arrays.reserve(keys.size());
    count_arrays.reserve(3 * keys.size());
    for (std::size_t r = 0; r < keys.size(); ++r) {
        key_arrays.push_back(keys[r].cast<b::DoubleArray>());
        const auto k = b::flat_view(key_arrays.back());
        const int64_t* counts[3] = {};
        for (std::size_t c = 0; c < 3; ++c) {
            const py::list& from = c == 0 ? rows : c == 1 ? known : ones;
            count_arrays.push_back(from[r].cast<b::Int64Array>());
            const auto view = b::flat_view(count_arrays.back());
            if (view.size != k.size) {
                throw std::invalid_argument(
                    "merge_count_runs: rows, known and ones need one entry per key");
            }
            counts[c] = view.data;
        }
        runs.push_back(tessaline::CountRun{k.data, counts[0], counts[1], counts[2], k.size});
    }
    std::size_t total = 0;
    for (const tessaline::CountRun& run : runs) total += run.size;
    // Written where they are returned, left unset until then: no page of
    // the result is touched twice.
    py::array_t<double> merged_keys(static_cast<py::ssize_t>(total));
    std::array<py::array_t<int64_t>, 3> counts{
        py::array_t<int64_t>(total), py::array_t<int64_t>(total), py::array_t<int64_t>(total)};
    double* k = merged_keys.mutable_data();
    int64_t* r = counts[0].mutable_data();
    int64_t* n = counts[1].mutable_data();
    int64_t* o = counts[2].mutable_data();
    std::size_t m = 0;
    {
        py::gil_scoped_release release;
        m = tessaline::merge_count_runs_into(runs, k, r, n, o);
    }
    py::dict out;
    const auto kept = static_cast<py::ssize_t>(m);
    // Cut to the distinct keys; runs of mostly equal keys give the rest back.
    auto cut = [&](py::array array) -> py::object {
        py::object part = array[py::slice(0, kept, 1)];
        return 2 * m < total ? part.attr("copy")() : part;
    };
    out["keys"] = cut(merged_keys);
    out["rows"] = cut(counts[0]);
    out["known"] = cut(counts[1]);
    out["ones"] = cut(counts[2]);
    return out;
}

py::dict count_batch(const b::DoubleArray& x, const b::DoubleArray& flags) {
    const auto xs = b::flat_view(x);
    const auto fs = b::flat_view(flags);
    if (xs.size != fs.size) {
        throw std::invalid_argument("count_batch: x and flags need one entry per row");
    }
    tessaline::CountRunsUnion counted;
    {
        py::gil_scoped_release release;
        counted = tessaline::count_batch(xs.data, fs.data, xs.size);
    }
    return counts_dict(std::move(counted));
}

}  // namespace

void register_batches(py::module_& m) {
    m.def("merge_key_runs", &merge_key_runs, py::arg("keys"), py::arg("ends"),
          "The distinct keys of runs that are each ascending and distinct (NaN last), "
          "and each entry's place among them.");
    m.def("merge_count_runs", &merge_count_runs, py::arg("keys"), py::arg("rows"), py::arg("known"),
          py::arg("ones"),
          "The distinct keys of runs (one array of each per run) that are each ascending and "
          "distinct (NaN last), "
          "with the rows, known and ones of equal keys added.");
    m.def("count_batch", &count_batch, py::arg("x"), py::arg("flags"),
          "A batch's rows counted by distinct x (ascending, NaN last): rows, rows of known "
          "target (flag not NaN) and events (flag 1.0).");
}

}  // namespace tessaline::native
