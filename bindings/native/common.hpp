// What the areas of tessaline._native share: counts read from array
// arguments, the parameters of the MDLP search, and the result dicts that
// more than one area builds. Each area registers its functions through its
// register_* function, which the module calls in turn.
#ifndef TESSALINE_NATIVE_COMMON_HPP
#define TESSALINE_NATIVE_COMMON_HPP

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "../convert.hpp"
#include "../summary_dict.hpp"
#include "tessaline/recycled_vectors.hpp"
#include "tessaline/tessaline.hpp"

namespace py = pybind11;
namespace b = tessaline::bindings;

namespace tessaline::native {

void register_categories(py::module_& m);
void register_optimal(py::module_& m);
void register_counts(py::module_& m);
void register_from_counts(py::module_& m);
void register_weights(py::module_& m);
void register_validation(py::module_& m);
void register_continuous(py::module_& m);
void register_profile(py::module_& m);
void register_grid(py::module_& m);
void register_multiclass(py::module_& m);
void register_batches(py::module_& m);
void register_significance(py::module_& m);
void register_prebins(py::module_& m);

// Counts arrive as any array of integers (or of whole numbers); `where` names
// the function in the messages.
b::Int64Array counts_array(const py::object& counts, const char* where, const char* name);

// The class labels of the rows as int32, refused by name as counts are.
b::Int32Array labels_array(const py::object& labels, const char* where);

// Counts read in place (a fit's counts are as long as its rows): value, c0
// and c1 of one length, the count arrays converted only where they must be.
struct CountsInPlace {
    b::Int64Array c0_array;
    b::Int64Array c1_array;
    b::FlatView<double> value;
    b::FlatView<int64_t> c0;
    b::FlatView<int64_t> c1;
};

CountsInPlace counts_in_place(const b::DoubleArray& value, const py::object& c0_counts,
                              const py::object& c1_counts, const char* where,
                              const char* c0_name = "c0");

tessaline::ValueCounts value_counts(const b::DoubleArray& value, const py::object& c0_counts,
                                    const py::object& c1_counts, const char* where,
                                    const char* c0_name = "c0");

// The six arguments of the MDLP search as its parameters; `where` names the
// function in the message that refuses a monotonicity mode other than 0..3.
tessaline::TessalineParams search_params(const char* where, int64_t minobs, int monotonicity,
                                         int mono_dir, double alpha_pos, double beta_struct,
                                         bool force_first_split);

// The name a trend has in the arguments, for the trend a grouping met.
const char* trend_name(tessaline::BinTrend trend);

// The limits of an optimal grouping as the Python layer passes them.
tessaline::OptimalBinningConstraints grouping_limits(std::size_t max_bins, double min_bin_share,
                                                     double min_events, double min_non_events,
                                                     tessaline::BinTrend trend, double max_pvalue);

// "value", "cumulative_non_event", "cumulative_event", "auc" and "gini".
py::dict lorenz_dict(const tessaline::LorenzCurve& curve);

// The comparison's columns, "count_reference" and "count_current" read from
// the given members (row counts, or sums of weights).
template <typename Result, typename Bin, typename Count>
py::dict comparison_dict(const Result& r, Count Bin::* reference, Count Bin::* current) {
    return py::dict(py::arg("count_reference") = b::column(r.bins, reference),
                    py::arg("count_current") = b::column(r.bins, current),
                    py::arg("proportion_reference") = b::column(r.bins, &Bin::proportion_reference),
                    py::arg("proportion_current") = b::column(r.bins, &Bin::proportion_current),
                    py::arg("cumulative_reference") = b::column(r.bins, &Bin::cumulative_reference),
                    py::arg("cumulative_current") = b::column(r.bins, &Bin::cumulative_current),
                    py::arg("psi_bin") = b::column(r.bins, &Bin::psi_bin), py::arg("psi") = r.psi,
                    py::arg("ks") = r.ks);
}

// An array over v's own storage, as array_taking makes it, whose storage is
// kept for a later count of about the same size once the array is freed (as
// the counts of a fit are).
template <typename T>
py::array_t<T> array_recycling(std::vector<T>&& v) {
    auto owner = std::make_unique<std::vector<T>>(std::move(v));
    const py::capsule base(owner.get(), [](void* p) {
        std::unique_ptr<std::vector<T>> held(static_cast<std::vector<T>*>(p));
        tessaline::recycle(std::move(*held));
    });
    std::vector<T>* held = owner.release();
    return py::array_t<T>(static_cast<py::ssize_t>(held->size()), held->data(), base);
}

}  // namespace tessaline::native

#endif  // TESSALINE_NATIVE_COMMON_HPP
