// Python face of the mdlp area.
#include "tessaline/tessaline.hpp"
#include "wrappers.hpp"

namespace tessaline::bindings {}  // namespace tessaline::bindings
