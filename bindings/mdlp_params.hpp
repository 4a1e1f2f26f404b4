// The search parameters of the MDLP wrappers, read from the Python arguments.
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

}  // namespace tessaline::bindings

#endif  // TESSALINE_BINDINGS_MDLP_PARAMS_HPP
