// The angle is computed in double and deliberately rounded to float before the double cosine; the
// filters' golden outputs depend on that rounding.

#include "Utils.h"

#include <cmath>

namespace Signal {
namespace Utils {

void calcHannWindow(int n, float* w) {
    for (int i = 0; i < n; ++i) {
        const float angle = static_cast<float>(i * 6.283185307179586 / (n - 1));
        w[i] = static_cast<float>(0.5 * (1.0 - std::cos(static_cast<double>(angle))));
    }
}

} // namespace Utils
} // namespace Signal
