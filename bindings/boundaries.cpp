// Python face of the boundaries area.
#include "tessaline/tessaline.hpp"
#include "wrappers.hpp"

namespace tessaline::bindings {}  // namespace tessaline::bindings
