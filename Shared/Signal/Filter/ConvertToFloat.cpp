// The division is in single precision. An empty block still goes downstream with length 0; the
// array's check reports taking the address of its missing first element. With SSE2 four samples are
// widened and divided at a time: the conversion is exact and the division correctly rounded either
// way, so the vector form gives the scalar form's bits.

#include "ConvertToFloat.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
        int i = 0;
#if defined(__SSE2__)
        const __m128 scale = _mm_set1_ps(32767.0f);
        for (; i + 8 <= count; i += 8) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
            // Sign-extend each 16-bit half by pairing it with itself and shifting back.
            const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16);
            const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16);
            _mm_storeu_ps(out + i, _mm_div_ps(_mm_cvtepi32_ps(lo), scale));
            _mm_storeu_ps(out + i + 4, _mm_div_ps(_mm_cvtepi32_ps(hi), scale));
        }
#endif
        for (; i < count; ++i)
            out[i] = static_cast<float>(samples[i]) / 32767.0f;
    }
    output(&_buffer[0], count);
}

void ConvertToFloat::filter(const Sample*, int) {}

} // namespace Filter
} // namespace Signal
