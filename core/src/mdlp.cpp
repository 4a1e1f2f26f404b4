#include "tessaline/tessaline.hpp"

namespace tessaline {}  // namespace tessaline
