// Twiddle angles are accumulated in single precision and evaluated with sinf/cosf, row by row across
// the whole table, because the golden spectra depend on exactly those roundings. The vector butterflies
// use plain multiplies, adds and subtracts (no fused operations), so they match the scalar ones bit for
// bit. The first two stages, with one and two butterflies per group, are regrouped so that four
// independent butterflies share a vector; without SSE2 every stage runs the scalar form.
//
// The AVX2 form (sizes of 64 and more) windows, reorders and runs the first three stages in one pass: with
// eight groups of eight side by side, one per lane, the bit reversal turns into eight contiguous loads
// and those stages into butterflies between whole vectors; a transpose puts the groups back in place.
// The last stage computes only the real parts of the lower half, the only values kept.

#include "DFFT.h"

#include <cmath>
#include <cstring>
#include <new>

#include "Shared/Signal/Utils.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VERAXO_DFFT_AVX2 1
#endif

namespace Signal {
namespace Filter {

namespace {

// Sizes outside the design (not a power of two, or below 2) are brought down to the nearest power of
// two of at least 2, so the transform never indexes past its buffers.
int supportedSize(int size) {
    int p = 2;
    while (p <= size / 2)
        p *= 2;
    return p;
}

#if defined(__SSE2__)
// Four butterflies side by side, lane by lane exactly the scalar ones: (a, x) becomes
// (t + a, a - t) with t = w * x, the complex product written out without fused operations.
inline void butterfly4(__m128 wr, __m128 wi, __m128& ar, __m128& ai, __m128& xr, __m128& xi) {
    const __m128 tr = _mm_sub_ps(_mm_mul_ps(wr, xr), _mm_mul_ps(wi, xi));
    const __m128 ti = _mm_add_ps(_mm_mul_ps(wi, xr), _mm_mul_ps(wr, xi));
    xr = _mm_sub_ps(ar, tr);
    xi = _mm_sub_ps(ai, ti);
    ar = _mm_add_ps(tr, ar);
    ai = _mm_add_ps(ti, ai);
}
#endif

#if defined(VERAXO_DFFT_AVX2)
#define AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

// The check includes the operating system's support for the wide registers. The explicit
// initialisation makes it safe even from another object's static constructor.
bool cpuHasAvx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

// butterfly4 on eight lanes.
AVX2_INLINE void butterfly8(__m256 wr, __m256 wi, __m256& ar, __m256& ai, __m256& xr, __m256& xi) {
    const __m256 tr = _mm256_sub_ps(_mm256_mul_ps(wr, xr), _mm256_mul_ps(wi, xi));
    const __m256 ti = _mm256_add_ps(_mm256_mul_ps(wi, xr), _mm256_mul_ps(wr, xi));
    xr = _mm256_sub_ps(ar, tr);
    xi = _mm256_sub_ps(ai, ti);
    ar = _mm256_add_ps(tr, ar);
    ai = _mm256_add_ps(ti, ai);
}

// Row e, lane t becomes row t, lane e.
AVX2_INLINE void transpose8(__m256* r) {
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    r[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
    r[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
    r[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
    r[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
    r[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
    r[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
    r[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
    r[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

// The whole transform for size >= 64, ending with the absolute real parts of the lower half in raw
// and their averages with the previous frame's in out.
// Position 8m + e after bit reversal holds source rev3(e) * size/8 + rev(m), so for the eight groups m
// whose reversed indices are 8q .. 8q + 7, element e of all of them is one contiguous run of the frame.
__attribute__((target("avx2"))) void transformAvx2(const float* frame, const float* window,
                                                   const int* reversed, const float* cosTable,
                                                   const float* sinTable, int size, int log2Size, float* re,
                                                   float* im, float* raw, float* out) {
    const int eighth = size / 8;
    static const int rev3[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    const __m256 zero = _mm256_setzero_ps();
    const __m256 c0 = _mm256_set1_ps(cosTable[0]), s0 = _mm256_set1_ps(sinTable[0]);
    const __m256 c10 = _mm256_set1_ps(cosTable[size]), s10 = _mm256_set1_ps(sinTable[size]);
    const __m256 c11 = _mm256_set1_ps(cosTable[size + 1]), s11 = _mm256_set1_ps(sinTable[size + 1]);
    const float* cos2 = cosTable + 2 * size;
    const float* sin2 = sinTable + 2 * size;
    __m256 c2[4], s2[4];
    for (int j = 0; j < 4; ++j) {
        c2[j] = _mm256_set1_ps(cos2[j]);
        s2[j] = _mm256_set1_ps(sin2[j]);
    }
    for (int q = 0; q < eighth; q += 8) {
        __m256 r[8], i[8];
        for (int e = 0; e < 8; ++e) {
            const int from = rev3[e] * eighth + q;
            r[e] = _mm256_mul_ps(_mm256_loadu_ps(frame + from), _mm256_loadu_ps(window + from));
            i[e] = zero;
        }
        for (int e = 0; e < 8; e += 2)
            butterfly8(c0, s0, r[e], i[e], r[e + 1], i[e + 1]);
        for (int e = 0; e < 8; e += 4) {
            butterfly8(c10, s10, r[e], i[e], r[e + 2], i[e + 2]);
            butterfly8(c11, s11, r[e + 1], i[e + 1], r[e + 3], i[e + 3]);
        }
        for (int j = 0; j < 4; ++j)
            butterfly8(c2[j], s2[j], r[j], i[j], r[j + 4], i[j + 4]);
        transpose8(r);
        transpose8(i);
        for (int t = 0; t < 8; ++t) {
            const int at = 8 * (reversed[q + t] >> 3);
            _mm256_storeu_ps(re + at, r[t]);
            _mm256_storeu_ps(im + at, i[t]);
        }
    }

    int half = 8;
    for (int s = 3; s < log2Size - 1; ++s) {
        const int span = 2 * half;
        const float* cosRow = cosTable + s * size;
        const float* sinRow = sinTable + s * size;
        for (int g = 0; g < size; g += span) {
            float* rk = re + g;
            float* ik = im + g;
            float* rl = rk + half;
            float* il = ik + half;
            for (int j = 0; j < half; j += 8) {
                __m256 ar = _mm256_loadu_ps(rk + j), ai = _mm256_loadu_ps(ik + j);
                __m256 xr = _mm256_loadu_ps(rl + j), xi = _mm256_loadu_ps(il + j);
                butterfly8(_mm256_loadu_ps(cosRow + j), _mm256_loadu_ps(sinRow + j), ar, ai, xr, xi);
                _mm256_storeu_ps(rk + j, ar);
                _mm256_storeu_ps(ik + j, ai);
                _mm256_storeu_ps(rl + j, xr);
                _mm256_storeu_ps(il + j, xi);
            }
        }
        half = span;
    }

    // Last stage: tr + re[j] for the lower half, then its absolute value and its average with the
    // previous frame's.
    const float* cosRow = cosTable + (log2Size - 1) * size;
    const float* sinRow = sinTable + (log2Size - 1) * size;
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    const __m256 half8 = _mm256_set1_ps(0.5f);
    for (int j = 0; j < half; j += 8) {
        const __m256 wr = _mm256_loadu_ps(cosRow + j), wi = _mm256_loadu_ps(sinRow + j);
        const __m256 xr = _mm256_loadu_ps(re + half + j), xi = _mm256_loadu_ps(im + half + j);
        const __m256 tr = _mm256_sub_ps(_mm256_mul_ps(wr, xr), _mm256_mul_ps(wi, xi));
        const __m256 r = _mm256_and_ps(_mm256_add_ps(tr, _mm256_loadu_ps(re + j)), magnitude);
        _mm256_storeu_ps(raw + j, r);
        _mm256_storeu_ps(out + j, _mm256_mul_ps(_mm256_add_ps(r, _mm256_loadu_ps(out + j)), half8));
    }
}
#endif

} // namespace

DFFT::DFFT(int requestedSize, Path path)
    : _pos(0), _frameSize(supportedSize(requestedSize)), _log2Size(log2(_frameSize)), _wide(false) {
#if defined(VERAXO_DFFT_AVX2)
    _wide = path == Path::Auto && _frameSize >= 64 && cpuHasAvx2();
#else
    (void)path;
#endif
    const int size = _frameSize;
    _sinTable.reset(
        brel::out_of_memory_if_null(new (std::nothrow) float[static_cast<unsigned long>(_log2Size) * size]));
    _cosTable.reset(
        brel::out_of_memory_if_null(new (std::nothrow) float[static_cast<unsigned long>(_log2Size) * size]));
    const int half = size / 2;
    _window.resize(size, 0.0f);
    _rawSpectrum.resize(half, 0.0f);
    _outSpectrum.resize(half, 0.0f);
    _frame.resize(size, 0.0f);
    _nextFrame.resize(size, 0.0f);
    _re.resize(size, 0.0f);
    _im.resize(size, 0.0f);
    _reversed.resize(size, 0);
    precalculate();
}

DFFT::~DFFT() {}

int DFFT::log2(int value) {
    int result = 0;
    if (value & 0xFFFF0000)
        result += 16;
    if (value & 0xFF00FF00)
        result += 8;
    if (value & 0xF0F0F0F0)
        result += 4;
    if (value & 0xCCCCCCCC)
        result += 2;
    if (value & 0xAAAAAAAA)
        result += 1;
    return result;
}

void DFFT::bitReverse(float* data, int n) {
    int j = 0;
    for (int i = 1; i < n - 1; ++i) {
        int k = n / 2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
        if (i < j) {
            const float t = data[i];
            data[i] = data[j];
            data[j] = t;
        }
    }
}

void DFFT::precalculate() {
    const int size = _frameSize;
    for (int s = 0; s < _log2Size; ++s) {
        const int span = 1 << (s + 1);
        const float step = static_cast<float>(-6.283185307179586 / span);
        float angle = 0.0f;
        for (int j = 0; j < size; ++j) {
            _sinTable[s * size + j] = sinf(angle);
            _cosTable[s * size + j] = cosf(angle);
            angle += step;
        }
    }
    for (int i = 0; i < size / 2; ++i)
        _outSpectrum[i] = 0.0f;
    for (int i = 0; i < size; ++i) {
        _nextFrame[i] = 0.0f;
        _frame[i] = 0.0f;
    }
    Utils::calcHannWindow(size, &_window[0]);

    // Indices are exact in float for any supported size, so the reordering itself yields the map.
    for (int i = 0; i < size; ++i)
        _re[i] = static_cast<float>(i);
    bitReverse(&_re[0], size);
    for (int i = 0; i < size; ++i) {
        _reversed[i] = static_cast<int>(_re[i]);
        _re[i] = 0.0f;
    }
}

void DFFT::filter(const Sample* data, int dataLen) {
    const int half = _frameSize / 2;
    int n = 0;
    while (n < dataLen) {
        // The current hop goes into the second half of this frame and the first half of the next.
        const int take = half - _pos < dataLen - n ? half - _pos : dataLen - n;
        float* current = _frame.data() + half + _pos;
        float* next = _nextFrame.data() + _pos;
        std::memcpy(current, data + n, static_cast<std::size_t>(take) * sizeof(float));
        std::memcpy(next, data + n, static_cast<std::size_t>(take) * sizeof(float));
        n += take;
        _pos += take;
        if (_pos == half) {
            processSamples();
            _frame.swap(_nextFrame);
            _pos = 0;
        }
    }
}

void DFFT::processSamples() {
    calculateDFFT();
    const int half = _frameSize / 2;
    const float* raw = &_rawSpectrum[0];
    float* out = &_outSpectrum[0];
    // The wide form has averaged already.
    if (!_wide) {
        for (int i = 0; i < half; ++i)
            out[i] = (raw[i] + out[i]) * 0.5f;
    }
    output(out, half);
    _rawSpectrum.swap(_outSpectrum);
}

void DFFT::calculateDFFT() {
#if defined(VERAXO_DFFT_AVX2)
    if (_wide) {
        transformAvx2(&_frame[0], &_window[0], &_reversed[0], &_cosTable[0], &_sinTable[0], _frameSize,
                      _log2Size, &_re[0], &_im[0], &_rawSpectrum[0], &_outSpectrum[0]);
        return;
    }
#endif
    const int size = _frameSize;
    float* re = &_re[0];
    float* im = &_im[0];
    const float* frame = &_frame[0];
    const float* window = &_window[0];
    const int* reversed = &_reversed[0];

    // Windowing followed by the bit-reversal permutation of the real parts; the imaginary parts are
    // all zero, so they need no reordering.
    for (int i = 0; i < size; ++i) {
        const int from = reversed[i];
        re[i] = frame[from] * window[from];
        im[i] = 0.0f;
    }

    int s = 0;
    int half = 1;
#if defined(__SSE2__)
    if (size >= 8) {
        // The first two stages have one and two butterflies per group: regroup eight values at a time so
        // the four lanes hold four independent butterflies.
        const __m128 wr0 = _mm_set1_ps(_cosTable[0]);
        const __m128 wi0 = _mm_set1_ps(_sinTable[0]);
        for (int g = 0; g < size; g += 8) {
            const __m128 ra = _mm_loadu_ps(re + g), rb = _mm_loadu_ps(re + g + 4);
            const __m128 ia = _mm_loadu_ps(im + g), ib = _mm_loadu_ps(im + g + 4);
            __m128 kr = _mm_shuffle_ps(ra, rb, _MM_SHUFFLE(2, 0, 2, 0));
            __m128 lr = _mm_shuffle_ps(ra, rb, _MM_SHUFFLE(3, 1, 3, 1));
            __m128 ki = _mm_shuffle_ps(ia, ib, _MM_SHUFFLE(2, 0, 2, 0));
            __m128 li = _mm_shuffle_ps(ia, ib, _MM_SHUFFLE(3, 1, 3, 1));
            butterfly4(wr0, wi0, kr, ki, lr, li);
            _mm_storeu_ps(re + g, _mm_unpacklo_ps(kr, lr));
            _mm_storeu_ps(re + g + 4, _mm_unpackhi_ps(kr, lr));
            _mm_storeu_ps(im + g, _mm_unpacklo_ps(ki, li));
            _mm_storeu_ps(im + g + 4, _mm_unpackhi_ps(ki, li));
        }
        const float* cos1 = &_cosTable[size];
        const float* sin1 = &_sinTable[size];
        const __m128 wr1 = _mm_setr_ps(cos1[0], cos1[1], cos1[0], cos1[1]);
        const __m128 wi1 = _mm_setr_ps(sin1[0], sin1[1], sin1[0], sin1[1]);
        for (int g = 0; g < size; g += 8) {
            const __m128 ra = _mm_loadu_ps(re + g), rb = _mm_loadu_ps(re + g + 4);
            const __m128 ia = _mm_loadu_ps(im + g), ib = _mm_loadu_ps(im + g + 4);
            __m128 kr = _mm_shuffle_ps(ra, rb, _MM_SHUFFLE(1, 0, 1, 0));
            __m128 lr = _mm_shuffle_ps(ra, rb, _MM_SHUFFLE(3, 2, 3, 2));
            __m128 ki = _mm_shuffle_ps(ia, ib, _MM_SHUFFLE(1, 0, 1, 0));
            __m128 li = _mm_shuffle_ps(ia, ib, _MM_SHUFFLE(3, 2, 3, 2));
            butterfly4(wr1, wi1, kr, ki, lr, li);
            _mm_storeu_ps(re + g, _mm_shuffle_ps(kr, lr, _MM_SHUFFLE(1, 0, 1, 0)));
            _mm_storeu_ps(re + g + 4, _mm_shuffle_ps(kr, lr, _MM_SHUFFLE(3, 2, 3, 2)));
            _mm_storeu_ps(im + g, _mm_shuffle_ps(ki, li, _MM_SHUFFLE(1, 0, 1, 0)));
            _mm_storeu_ps(im + g + 4, _mm_shuffle_ps(ki, li, _MM_SHUFFLE(3, 2, 3, 2)));
        }
        s = 2;
        half = 4;
    }
#endif
    for (; s < _log2Size; ++s) {
        const int span = 2 * half;
        const float* cosRow = &_cosTable[s * size];
        const float* sinRow = &_sinTable[s * size];
        for (int g = 0; g < size; g += span) {
            float* rk = re + g;
            float* ik = im + g;
            float* rl = rk + half;
            float* il = ik + half;
            int j = 0;
#if defined(__SSE2__)
            for (; j + 4 <= half; j += 4) {
                __m128 ar = _mm_loadu_ps(rk + j), ai = _mm_loadu_ps(ik + j);
                __m128 xr = _mm_loadu_ps(rl + j), xi = _mm_loadu_ps(il + j);
                butterfly4(_mm_loadu_ps(cosRow + j), _mm_loadu_ps(sinRow + j), ar, ai, xr, xi);
                _mm_storeu_ps(rk + j, ar);
                _mm_storeu_ps(ik + j, ai);
                _mm_storeu_ps(rl + j, xr);
                _mm_storeu_ps(il + j, xi);
            }
#endif
            for (; j < half; ++j) {
                const float wr = cosRow[j];
                const float wi = sinRow[j];
                const float tr = wr * rl[j] - wi * il[j];
                const float ti = wi * rl[j] + wr * il[j];
                rl[j] = rk[j] - tr;
                il[j] = ik[j] - ti;
                rk[j] = tr + rk[j];
                ik[j] = ti + ik[j];
            }
        }
        half = span;
    }

    float* raw = &_rawSpectrum[0];
    for (int i = 0; i < size / 2; ++i) {
        re[i] = std::fabs(re[i]);
        raw[i] = re[i];
    }
}

} // namespace Filter
} // namespace Signal
