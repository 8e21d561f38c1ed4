// Twiddle angles are accumulated in single precision and evaluated with sinf/cosf, row by row across
// the whole table, because the golden spectra depend on exactly those roundings. The vector butterflies
// use plain multiplies, adds and subtracts (no fused operations), so they match the scalar ones bit for
// bit. The first two stages, with one and two butterflies per group, are regrouped so that four
// independent butterflies share a vector; without SSE2 every stage runs the scalar form.

#include "DFFT.h"

#include <cmath>

#include "Shared/Signal/Utils.h"

#if defined(__SSE2__)
#include <emmintrin.h>
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

} // namespace

DFFT::DFFT(int requestedSize)
    : _pos(0), _frameSize(supportedSize(requestedSize)), _log2Size(log2(_frameSize)) {
    const int size = _frameSize;
    _sinTable.reset(new float[static_cast<unsigned long>(_log2Size) * size]);
    _cosTable.reset(new float[static_cast<unsigned long>(_log2Size) * size]);
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

void DFFT::filter(const Sample* data, int dataLen) noexcept {
    const int half = _frameSize / 2;
    int n = 0;
    while (n < dataLen) {
        // The current hop goes into the second half of this frame and the first half of the next.
        const int take = half - _pos < dataLen - n ? half - _pos : dataLen - n;
        float* current = _frame.data() + half + _pos;
        float* next = _nextFrame.data() + _pos;
        for (int i = 0; i < take; ++i) {
            current[i] = data[n + i];
            next[i] = data[n + i];
        }
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
    for (int i = 0; i < half; ++i)
        out[i] = (raw[i] + out[i]) * 0.5f;
    output(out, half);
    _rawSpectrum.swap(_outSpectrum);
}

void DFFT::calculateDFFT() {
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
