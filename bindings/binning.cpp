// Python face of the binning area.
#include "tessaline/tessaline.hpp"
#include "wrappers.hpp"

namespace tessaline::bindings {}  // namespace tessaline::bindings
