#pragma once
// Compresses the dynamic range of a block for display: every value v becomes ln(1 + v). Works on blocks
// of any length; the result array keeps its storage, so after the first block of a given length no
// allocation happens.

#include "Base.h"
#include "src/brel_array.h"

namespace Signal {
namespace Filter {

class Log : public Base {
public:
    Log();
    ~Log() override;

    // Audio thread: the natural logarithm of each value.
    void filter(const Sample* data, int dataLen) override;

private:
    brel::array<float> _buffer;
    // True when the four-at-a-time form runs (the CPU has AVX2).
    bool _wide = false;
};

} // namespace Filter
} // namespace Signal
