// The logarithm is natural and taken in double precision on the widened input; no floor or clamp.
// An empty block is passed on with length 0 after the array's check reports its missing first element.
//
// Where the CPU has AVX2 (checked at run time) four values go at a time through a logarithm of our own
// whose error is far below a float's rounding step: its result, rounded to float, is kept only when the
// whole band of doubles the library's logarithm could have returned rounds to that same float, so
// every value keeps the bits of the plain formula. The rare value near a rounding boundary, and any
// input outside [0, infinity), takes the library's logarithm itself.

#include "Log.h"

#include <cmath>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VERAXO_LOG_AVX2 1
#endif

namespace Signal {
namespace Filter {

namespace {

float plainLog(float v) {
    return static_cast<float>(std::log(static_cast<double>(v) + 1.0));
}

#if defined(VERAXO_LOG_AVX2)
bool cpuHasAvx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

// ln z for four z >= 1: z = 2^e m with m in [sqrt(1/2), sqrt(2)), ln m = 2 atanh(s) with
// s = (m - 1) / (m + 1), |s| < 0.172, summed to s^17. The relative error stays below 2^-48.
__attribute__((target("avx2"))) __m256d logFour(__m256d z) {
    const __m256i bits = _mm256_castpd_si256(z);
    const __m256i e = _mm256_srli_epi64(_mm256_sub_epi64(bits, _mm256_set1_epi64x(0x3FE6A09E667F3BCDLL)), 52);
    const __m256d m = _mm256_castsi256_pd(_mm256_sub_epi64(bits, _mm256_slli_epi64(e, 52)));
    // e is small and not negative: as the low bits of 2^52 it converts exactly.
    const __m256d two52 = _mm256_set1_pd(4503599627370496.0);
    const __m256d ed =
        _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(e, _mm256_castpd_si256(two52))), two52);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d s = _mm256_div_pd(_mm256_sub_pd(m, one), _mm256_add_pd(m, one));
    const __m256d s2 = _mm256_mul_pd(s, s);
    __m256d p = _mm256_set1_pd(2.0 / 17);
    for (double c : {2.0 / 15, 2.0 / 13, 2.0 / 11, 2.0 / 9, 2.0 / 7, 2.0 / 5, 2.0 / 3})
        p = _mm256_add_pd(_mm256_set1_pd(c), _mm256_mul_pd(s2, p));
    const __m256d lnM = _mm256_add_pd(_mm256_add_pd(s, s), _mm256_mul_pd(_mm256_mul_pd(s, s2), p));
    // ln 2 in two parts, the first short enough that e times it is exact.
    const __m256d ln2Hi = _mm256_set1_pd(6.93147180369123816490e-01);
    const __m256d ln2Lo = _mm256_set1_pd(1.90821492927058770002e-10);
    return _mm256_add_pd(_mm256_mul_pd(ed, ln2Hi), _mm256_add_pd(_mm256_mul_pd(ed, ln2Lo), lnM));
}

// The values of data up to the last whole group of four; returns how many were done.
__attribute__((target("avx2"))) int logWide(const float* data, float* out, int count) {
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d infinity = _mm256_set1_pd(HUGE_VAL);
    // Far wider than this logarithm's error and the library's (one unit in the last place) together.
    const __m256d margin = _mm256_set1_pd(0x1p-44);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d z = _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(data + i)), one);
        const __m256d y = logFour(z);
        const __m256d band = _mm256_mul_pd(y, margin);
        const __m128 low = _mm256_cvtpd_ps(_mm256_sub_pd(y, band));
        const __m128 high = _mm256_cvtpd_ps(_mm256_add_pd(y, band));
        const __m256d inRange =
            _mm256_and_pd(_mm256_cmp_pd(z, one, _CMP_GE_OQ), _mm256_cmp_pd(z, infinity, _CMP_LT_OQ));
        const int sure = _mm_movemask_ps(_mm_cmpeq_ps(low, high)) & _mm256_movemask_pd(inRange);
        _mm_storeu_ps(out + i, low);
        if (sure != 0xF) {
            for (int k = 0; k < 4; ++k)
                if (!(sure & (1 << k)))
                    out[i + k] = plainLog(data[i + k]);
        }
    }
    return i;
}
#endif

} // namespace

Log::Log() {
#if defined(VERAXO_LOG_AVX2)
    _wide = cpuHasAvx2();
#endif
}

Log::~Log() {}

void Log::filter(const Sample* data, int dataLen) {
    if (dataLen < 0)
        dataLen = 0;
    _buffer.resize(dataLen, 0.0f);
    int i = 0;
#if defined(VERAXO_LOG_AVX2)
    if (_wide && dataLen > 0)
        i = logWide(data, &_buffer[0], dataLen);
#endif
    for (; i < dataLen; ++i)
        _buffer[i] = plainLog(data[i]);
    output(&_buffer[0], dataLen);
}

} // namespace Filter
} // namespace Signal
