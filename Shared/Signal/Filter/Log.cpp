// The logarithm is natural and taken in double precision on the widened input; no floor or clamp.
// An empty block is passed on with length 0 after the array's check reports its missing first element.

#include "Log.h"

#include <cmath>

namespace Signal {
namespace Filter {

Log::Log() {}

Log::~Log() {}

void Log::filter(const Sample* data, int dataLen) {
    if (dataLen < 0)
        dataLen = 0;
    _buffer.resize(dataLen, 0.0f);
    for (int i = 0; i < dataLen; ++i)
        _buffer[i] = static_cast<float>(std::log(static_cast<double>(data[i]) + 1.0));
    output(&_buffer[0], dataLen);
}

} // namespace Filter
} // namespace Signal
