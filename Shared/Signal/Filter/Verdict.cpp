// Each step keeps its own mix of single and double precision (the 0.3 threshold, for one, is compared
// in double), because the golden lie levels depend on every rounding. A NaN in the input fails every
// comparison and stays in the smoothed level for good.

#include "Verdict.h"

namespace Signal {
namespace Filter {

Verdict::Verdict() : _smoothedLevel(0.0f) {}

Verdict::~Verdict() {}

void Verdict::filter(const Sample* data, int dataLen) {
    if (dataLen < INPUT_LEN)
        return;
    const float v = data[0];
    const float t = data[1];
    const float e0 = data[2];
    const float e1 = data[3];
    const float e2 = data[4];

    float s = (e0 + e2) * 0.5f;
    if (t > 5.0f)
        s = static_cast<float>(static_cast<double>(s) +
                               (static_cast<double>(t - 5.0f) * 0.45) * static_cast<double>(s));
    if (s < 0.0f)
        s = 0.0f;
    if (static_cast<double>(s) > 0.3)
        s = static_cast<float>(static_cast<double>(e1 / -10.0f) + 0.3);
    const float u = static_cast<float>(static_cast<double>(s) + static_cast<double>(v) * 0.35);
    _smoothedLevel =
        static_cast<float>(static_cast<double>(_smoothedLevel) * 0.3 + static_cast<double>(u) * 0.7);

    const float level = _smoothedLevel > 1.0f ? t / -50.0f + 1.0f : _smoothedLevel;
    output(&level, 1);
}

} // namespace Filter
} // namespace Signal
