#include "tessaline/tessaline.hpp"

namespace tessaline {

double suma(double a, double b) {
    return a + b;
}

}  // namespace tessaline
