// Counts kept by batch: the keys of each batch's counts merged run by run.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <vector>

#include "common.hpp"
#include "tessaline/recycled_vectors.hpp"

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

// The arrays of runs given as four lists, one array per run, kept
// referenced while the core reads them where they are.
struct RunArrays {
    std::vector<b::DoubleArray> keys;
    std::vector<b::Int64Array> counts;
    std::vector<tessaline::CountRun> runs;
    std::size_t total = 0;
};

RunArrays run_arrays(const py::list& keys, const py::list& rows, const py::list& known,
                     const py::list& ones) {
    if (rows.size() != keys.size() || known.size() != keys.size() || ones.size() != keys.size()) {
        throw std::invalid_argument(
            "merge_count_runs: keys, rows, known and ones need one array per run");
    }
    RunArrays out;
    // Reserved so that no view moves while the runs point into them.
    out.keys.reserve(keys.size());
    out.counts.reserve(3 * keys.size());
    for (std::size_t r = 0; r < keys.size(); ++r) {
        out.keys.push_back(keys[r].cast<b::DoubleArray>());
        const auto k = b::flat_view(out.keys.back());
        const int64_t* counts[3] = {};
        for (std::size_t c = 0; c < 3; ++c) {
            const py::list& from = c == 0 ? rows : c == 1 ? known : ones;
            out.counts.push_back(from[r].cast<b::Int64Array>());
            const auto view = b::flat_view(out.counts.back());
            if (view.size != k.size) {
                throw std::invalid_argument(
                    "merge_count_runs: rows, known and ones need one entry per key");
            }
            counts[c] = view.data;
        }
        out.runs.push_back(tessaline::CountRun{k.data, counts[0], counts[1], counts[2], k.size});
        out.total += k.size;
    }
    return out;
}

// Room for the merged groups of runs of `total` entries, left unset until
// written: no page of the result is touched twice.
struct GroupArrays {
    py::array_t<double> keys;
    std::array<py::array_t<int64_t>, 3> counts;
    std::size_t total;
    explicit GroupArrays(std::size_t n)
        : keys(static_cast<py::ssize_t>(n)),
          counts{py::array_t<int64_t>(static_cast<py::ssize_t>(n)),
                 py::array_t<int64_t>(static_cast<py::ssize_t>(n)),
                 py::array_t<int64_t>(static_cast<py::ssize_t>(n))},
          total(n) {}

    // The first m groups; runs of mostly equal keys give the rest back.
    py::dict cut(std::size_t m) {
        const auto kept = static_cast<py::ssize_t>(m);
        auto part = [&](const py::array& array) -> py::object {
            py::object view = array[py::slice(0, kept, 1)];
            return 2 * m < total ? view.attr("copy")() : view;
        };
        py::dict out;
        out["keys"] = part(keys);
        out["rows"] = part(counts[0]);
        out["known"] = part(counts[1]);
        out["ones"] = part(counts[2]);
        return out;
    }
};

py::dict merge_count_runs(const py::list& keys, const py::list& rows, const py::list& known,
                          const py::list& ones) {
    const RunArrays runs = run_arrays(keys, rows, known, ones);
    GroupArrays merged(runs.total);
    double* k = merged.keys.mutable_data();
    int64_t* r = merged.counts[0].mutable_data();
    int64_t* n = merged.counts[1].mutable_data();
    int64_t* o = merged.counts[2].mutable_data();
    std::size_t m = 0;
    {
        py::gil_scoped_release release;
        m = tessaline::merge_count_runs_into(runs.runs, k, r, n, o);
    }
    return merged.cut(m);
}

// Each column's runs (a tuple of four lists, as merge_count_runs takes them)
// merged, on up to `n_threads` threads with the lock released once for all.
py::list merge_held_columns(const py::list& columns, std::size_t n_threads) {
    std::vector<RunArrays> arrays;
    std::vector<GroupArrays> rooms;
    std::vector<tessaline::HeldRuns> held;
    arrays.reserve(columns.size());
    rooms.reserve(columns.size());
    for (const py::handle column : columns) {
        const py::tuple runs = column.cast<py::tuple>();
        if (runs.size() != 4) {
            throw std::invalid_argument(
                "merge_held_columns: each column needs its keys, rows, known and ones");
        }
        arrays.push_back(run_arrays(runs[0].cast<py::list>(), runs[1].cast<py::list>(),
                                    runs[2].cast<py::list>(), runs[3].cast<py::list>()));
        rooms.emplace_back(arrays.back().total);
        GroupArrays& room = rooms.back();
        held.push_back(tessaline::HeldRuns{
            arrays.back().runs, room.keys.mutable_data(), room.counts[0].mutable_data(),
            room.counts[1].mutable_data(), room.counts[2].mutable_data()});
    }
    std::vector<std::size_t> sizes;
    {
        py::gil_scoped_release release;
        sizes = tessaline::merge_held_columns(held, n_threads);
    }
    py::list out;
    for (std::size_t c = 0; c < rooms.size(); ++c) out.append(rooms[c].cut(sizes[c]));
    return out;
}

// The batches' rows a column holds: its values and flags, one array of
// each per batch, kept referenced while the core reads them.
struct HeldRowArrays {
    std::vector<b::DoubleArray> arrays;
    std::vector<tessaline::FlaggedColumn> rows;
};

HeldRowArrays held_row_arrays(const py::list& xs, const py::list& flags) {
    if (xs.size() != flags.size()) {
        throw std::invalid_argument("read_held_columns: xs and flags need one array per batch");
    }
    HeldRowArrays out;
    out.arrays.reserve(2 * xs.size());
    for (std::size_t i = 0; i < xs.size(); ++i) {
        out.arrays.push_back(xs[i].cast<b::DoubleArray>());
        out.arrays.push_back(flags[i].cast<b::DoubleArray>());
        const auto x = b::flat_view(out.arrays[2 * i]);
        const auto f = b::flat_view(out.arrays[2 * i + 1]);
        if (x.size != f.size) {
            throw std::invalid_argument("read_held_columns: x and flags need one entry per row");
        }
        out.rows.push_back({x.data, f.data, x.size});
    }
    return out;
}

py::dict held_column_read_dict(tessaline::HeldColumnRead&& read) {
    tessaline::CountedPrebins& searched = read.searched;
    py::dict out;
    out["value"] = array_recycling(std::move(searched.counts.value));
    out["c0"] = array_recycling(std::move(searched.counts.c0));
    out["c1"] = array_recycling(std::move(searched.counts.c1));
    out["index_c0"] = b::array_taking(std::move(searched.index_c0));
    out["index_c1"] = b::array_taking(std::move(searched.index_c1));
    out["prebins"] = read.prebinned ? py::object(b::binning_summary_dict(searched.prebins))
                                    : py::object(py::none());
    py::array_t<int64_t> totals({3, 3});
    for (py::ssize_t k = 0; k < 3; ++k) {
        for (py::ssize_t c = 0; c < 3; ++c) totals.mutable_at(k, c) = read.totals[k][c];
    }
    out["totals"] = totals;
    out["low"] = read.finite ? py::object(py::float_(read.low)) : py::object(py::none());
    out["high"] = read.finite ? py::object(py::float_(read.high)) : py::object(py::none());
    return out;
}

// Each column (a tuple of its runs' keys, rows, known and ones, as
// merge_count_runs takes them, and its held batches' values and flags) read
// for a fit, on up to `n_threads` threads with the lock released once.
py::list read_held_columns(const py::list& columns, std::size_t n_prebins,
                           std::size_t max_class_parts, double min_class_share,
                           std::size_t n_threads) {
    std::vector<RunArrays> run_arrays_of;
    std::vector<HeldRowArrays> row_arrays_of;
    std::vector<tessaline::HeldColumn> held;
    run_arrays_of.reserve(columns.size());
    row_arrays_of.reserve(columns.size());
    for (const py::handle column : columns) {
        const py::tuple parts = column.cast<py::tuple>();
        if (parts.size() != 6) {
            throw std::invalid_argument(
                "read_held_columns: each column needs its keys, rows, known, ones, xs and flags");
        }
        run_arrays_of.push_back(run_arrays(parts[0].cast<py::list>(), parts[1].cast<py::list>(),
                                           parts[2].cast<py::list>(), parts[3].cast<py::list>()));
        row_arrays_of.push_back(
            held_row_arrays(parts[4].cast<py::list>(), parts[5].cast<py::list>()));
        held.push_back({run_arrays_of.back().runs, row_arrays_of.back().rows});
    }
    std::vector<tessaline::HeldColumnRead> read;
    {
        py::gil_scoped_release release;
        read = tessaline::read_held_columns(held, n_prebins, max_class_parts, min_class_share,
                                            n_threads);
    }
    py::list out;
    for (tessaline::HeldColumnRead& column : read) {
        out.append(held_column_read_dict(std::move(column)));
    }
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

// count_batch of each pair of values and flags, the columns shared among
// `n_threads` threads with the lock released once for all of them.
py::list count_batch_columns(const py::list& xs, const py::list& flags, std::size_t n_threads) {
    if (xs.size() != flags.size()) {
        throw std::invalid_argument("count_batch_columns: xs and flags must hold as many columns");
    }
    // The arrays stay referenced here while the threads read them.
    std::vector<b::DoubleArray> arrays;
    arrays.reserve(2 * xs.size());
    std::vector<tessaline::FlaggedColumn> columns;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        arrays.push_back(xs[i].cast<b::DoubleArray>());
        arrays.push_back(flags[i].cast<b::DoubleArray>());
        const auto x = b::flat_view(arrays[2 * i]);
        const auto f = b::flat_view(arrays[2 * i + 1]);
        if (x.size != f.size) {
            throw std::invalid_argument("count_batch_columns: x and flags need one entry per row");
        }
        columns.push_back({x.data, f.data, x.size});
    }
    std::vector<tessaline::CountRunsUnion> counted;
    {
        py::gil_scoped_release release;
        counted = tessaline::count_batch_columns(columns, n_threads);
    }
    py::list out;
    for (tessaline::CountRunsUnion& column : counted) out.append(counts_dict(std::move(column)));
    return out;
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
    m.def("merge_held_columns", &merge_held_columns, py::arg("columns"), py::arg("n_threads"),
          "merge_count_runs of each column's runs (keys, rows, known, ones: lists of one array "
          "per run), on up to n_threads threads.");
    m.def("read_held_columns", &read_held_columns, py::arg("columns"), py::arg("n_prebins"),
          py::arg("max_class_parts"), py::arg("min_class_share"), py::arg("n_threads"),
          "What a fit reads of each held column (runs as merge_count_runs takes them, then the "
          "held batches' values and flags): the searched counts of the numbers of known target "
          "with their index and pre-bins, the totals of finite, missing and infinite values, and "
          "the smallest and largest finite value; on up to n_threads threads.");
    m.def("count_batch", &count_batch, py::arg("x"), py::arg("flags"),
          "A batch's rows counted by distinct x (ascending, NaN last): rows, rows of known "
          "target (flag not NaN) and events (flag 1.0).");
    m.def("count_batch_columns", &count_batch_columns, py::arg("xs"), py::arg("flags"),
          py::arg("n_threads"),
          "count_batch of each column xs[i] with its flags[i], on up to n_threads threads.");
}

}  // namespace tessaline::native
