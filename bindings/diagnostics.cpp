// Python face of the diagnostics area.
#include "tessaline/tessaline.hpp"
#include "wrappers.hpp"

namespace tessaline::bindings {}  // namespace tessaline::bindings
