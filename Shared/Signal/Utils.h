#pragma once
// Helpers shared by the filters.

namespace Signal {
namespace Utils {

// Symmetric Hann window of n values into w: both ends are 0 and, for n = 256, the values sum to 127.5.
void calcHannWindow(int n, float* w);

} // namespace Utils
} // namespace Signal
