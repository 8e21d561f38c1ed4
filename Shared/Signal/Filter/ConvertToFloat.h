#pragma once
// Entry of the network: turns 16-bit samples into Samples (divided by 32767, so 32767 maps to exactly
// 1.0 and -32768 to about -1.0000305) and pushes the converted block downstream. The buffer keeps its
// capacity, so blocks no longer than the longest seen so far cost no allocation.

#include "Base.h"

namespace Signal {
namespace Filter {

class ConvertToFloat : public Base {
public:
    ConvertToFloat();
    ~ConvertToFloat() override;

    void convert(const short* samples, int count);
    // Audio thread: never fed by another filter, so does nothing.
    void filter(const Sample* data, int dataLen) override;

private:
    brel::array<Sample> _buffer;
};

} // namespace Filter
} // namespace Signal
