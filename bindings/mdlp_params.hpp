// Pieces shared by the MDLP wrappers: the search parameters read from the
// Python arguments, and the dict of the split log that every MDLP function
// returns.
#ifndef TESSALINE_BINDINGS_MDLP_PARAMS_HPP
#define TESSALINE_BINDINGS_MDLP_PARAMS_HPP

#include <pybind11/pybind11.h>

#include <cstdint>
#include <vector>

#include "convert.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline::bindings {

// The six search arguments as a TessalineParams; a monotonicity outside 0..3
// (negative values included) throws std::invalid_argument.
TessalineParams search_params(int64_t minobs, int monotonicity, int mono_dir, double alpha_pos,
                              double beta_struct, bool force_first_split);

// One array per reported SplitResult field, one element per evaluated segment:
// "found", "pto", "gain", "cost_pos", "cost_struct", "cost", "idx".
py::dict split_log_dict(const std::vector<SplitResult>& log);

}  // namespace tessaline::bindings

#endif  // TESSALINE_BINDINGS_MDLP_PARAMS_HPP
