// The plan is measured once at construction; filtering allocates nothing.

#include "FftwDFFT.h"

#include <cmath>
#include <cstring>

#include "Shared/Signal/Utils.h"

FftwDFFT::FftwDFFT(int size)
    : _size(size), _pos(0), _window(size), _frame(size, 0.0f), _previous(size / 2, 0.0f),
      _out(size / 2, 0.0f), _in(fftwf_alloc_real(size)), _spectrum(fftwf_alloc_complex(size / 2 + 1)),
      _plan(fftwf_plan_dft_r2c_1d(size, _in, _spectrum, FFTW_MEASURE)) {
    Signal::Utils::calcHannWindow(size, _window.data());
}

FftwDFFT::~FftwDFFT() {
    fftwf_destroy_plan(_plan);
    fftwf_free(_spectrum);
    fftwf_free(_in);
}

void FftwDFFT::filter(const Signal::Sample* data, int dataLen) {
    const int half = _size / 2;
    for (int n = 0; n < dataLen; ++n) {
        _frame[half + _pos] = data[n];
        if (++_pos == half) {
            processSamples();
            std::memmove(_frame.data(), _frame.data() + half, half * sizeof(float));
            _pos = 0;
        }
    }
}

void FftwDFFT::processSamples() {
    for (int i = 0; i < _size; ++i)
        _in[i] = _frame[i] * _window[i];
    fftwf_execute(_plan);
    const int half = _size / 2;
    for (int i = 0; i < half; ++i) {
        const float raw = std::fabs(_spectrum[i][0]);
        _out[i] = (raw + _previous[i]) * 0.5f;
        _previous[i] = raw;
    }
    output(_out.data(), half);
}
