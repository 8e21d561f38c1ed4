#pragma once
// Turns the voice detector's five-value block into one lie level per frame: the low and high band
// energies, raised by each silent/non-silent transition beyond five, capped through the middle energy,
// plus a share of the voice level, smoothed exponentially over frames. The value is passed on
// unclamped; limiting it to a display range is the display's business.

#include "Base.h"

namespace Signal {
namespace Filter {

class Verdict : public Base {
public:
    // Values of the voice detector's block this filter reads.
    static constexpr int INPUT_LEN = 5;

    Verdict();
    ~Verdict() override;

    // Audio thread: a block shorter than INPUT_LEN is ignored; no value goes out and the smoothed level
    // is kept.
    void filter(const Sample* data, int dataLen) override;

private:
    float _smoothedLevel;
};

} // namespace Filter
} // namespace Signal
