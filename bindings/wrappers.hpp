// The wrappers behind the module's functions, one source per core area.
#ifndef TESSALINE_BINDINGS_WRAPPERS_HPP
#define TESSALINE_BINDINGS_WRAPPERS_HPP

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "convert.hpp"

namespace tessaline::bindings {

// preprocess.cpp
py::dict preprocess_data_native(const DoubleArray& x, const DoubleArray& y, const py::object& value,
                                double percentile);

// boundaries.cpp
py::dict compute_boundaries(const DoubleArray& x, const Int32Array& y, bool sorted);
py::dict compute_boundaries_raw(const DoubleArray& x, const DoubleArray& y, const py::object& value,
                                double percentile);

// mdlp.cpp
py::dict evaluate_segment(const DoubleArray& pto_corte, const Int64Array& c0, const Int64Array& c1,
                          std::size_t L, std::size_t R, int64_t minobs, int monotonicity,
                          int mono_dir, double alpha_pos, double beta_struct);
py::dict mdlp_full(const DoubleArray& x, const Int32Array& y, int64_t minobs, int monotonicity,
                   int mono_dir, double alpha_pos, double beta_struct, bool force_first_split);
py::dict mdlp(const DoubleArray& x, const Int32Array& y, int64_t minobs, int monotonicity,
              int mono_dir, double alpha_pos, double beta_struct, bool force_first_split);
py::dict mdlp_raw(const DoubleArray& x, const DoubleArray& y, int64_t minobs, int monotonicity,
                  int mono_dir, double alpha_pos, double beta_struct, bool force_first_split,
                  const py::object& value, double percentile);
py::dict mdlp_full_raw(const DoubleArray& x, const DoubleArray& y, int64_t minobs, int monotonicity,
                       int mono_dir, double alpha_pos, double beta_struct, bool force_first_split,
                       const py::object& value, double percentile,
                       const std::string& representative);

// binning.cpp
py::array_t<double> binning_splits(const DoubleArray& x, const std::string& method,
                                   std::size_t n_bins, const std::string& range,
                                   double lower_quantile, double upper_quantile, double k,
                                   const DoubleArray& custom_splits);
py::array_t<int64_t> binning_transform(const DoubleArray& x, const DoubleArray& splits);
py::dict binning_summary_binary(const DoubleArray& x, const Int32Array& y,
                                const DoubleArray& splits, const std::string& representative);
py::dict binning_summary_continuous(const DoubleArray& x, const DoubleArray& y,
                                    const DoubleArray& splits, const std::string& representative);

// diagnostics.cpp
py::dict compare_distributions_native(const DoubleArray& reference, const DoubleArray& current,
                                      const DoubleArray& splits, double epsilon);
py::dict lorenz_curve_native(const DoubleArray& x, const Int32Array& y);
py::array_t<double> membership_native(const DoubleArray& x, const DoubleArray& representatives);
py::array_t<double> aggregate_membership_native(const DoubleArray& membership,
                                                const DoubleArray& values, bool standardize);

}  // namespace tessaline::bindings

#endif  // TESSALINE_BINDINGS_WRAPPERS_HPP
