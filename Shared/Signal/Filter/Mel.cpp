// Band geometry is computed once, in the mixed single/double precision the golden band layout depends
// on. Weights are placed by the bin's offset within its band, not by its own frequency; with the
// engine's parameters that makes each band value close to the mean of its bins.
//
// A block of the wrong length is reported; it is still filtered when it holds every bin the bands read,
// and skipped otherwise, so nothing outside the block is read.

#include "Mel.h"

#include <cmath>

#include "src/brel_memory.h"

namespace Signal {
namespace Filter {

Mel::Bin::Bin(float centre, float width, int sampleRate, int spectrumLen) : _start(-1), _length(-1) {
    const float fC = melInv(centre);
    const float fL = melInv(centre + width * -0.5f);
    const float fH = melInv(centre + width * 0.5f);
    const float df =
        static_cast<float>(static_cast<double>(static_cast<float>(sampleRate)) / (spectrumLen + spectrumLen));

    for (int k = 0; k < spectrumLen; ++k) {
        const float f = df * static_cast<float>(k);
        if (_start == -1 && fL <= f)
            _start = k;
        if (_start != -1 && fH < f) {
            _length = k - _start;
            break;
        }
    }
    // A band with no bin at or above its lower edge is empty; one that runs past the last bin is cut
    // there.
    if (_start == -1)
        _length = 0;
    else if (_length == -1)
        _length = spectrumLen - _start;

    _weights.resize(_length, 0.0f);
    const float up = 1.0f / (fC - fL);
    const float down = 1.0f / (fC - fH);
    float sum = 0.0f;
    for (int j = 0; j < _length; ++j) {
        const float f = df * static_cast<float>(j);
        const float w = fC > f ? up * (fC - f) : 1.0f - down * (f - fC);
        _weights[j] = w;
        sum += w;
    }
    for (int j = 0; j < _length; ++j)
        _weights[j] = _weights[j] / sum;
}

Mel::Mel(int sampleRate, int spectrumLen, float lowFreq, float highFreq)
    : _spectrumLen(spectrumLen), _bandsEnd(0) {
    const float mLow = mel(lowFreq);
    const float mHigh = mel(highFreq);
    const float width = (mHigh - mLow) * 0.03125f;
    _bins.reserve(BANDS);
    for (int i = 0; i < BANDS; ++i) {
        const float centre = mLow + width * static_cast<float>(i);
        _bins.push_back(Bin(centre, width, sampleRate, spectrumLen));
        const Bin& b = _bins[i];
        if (b._length > 0 && b._start + b._length > _bandsEnd)
            _bandsEnd = b._start + b._length;
    }
}

Mel::~Mel() {}

float Mel::mel(float hz) {
    return static_cast<float>(1127.01048 * std::log(1.0 + hz / 700.0));
}

float Mel::melInv(float mel) {
    return static_cast<float>(700.0 * (std::exp(mel / 1127.01048) - 1.0));
}

void Mel::filter(const Sample* data, int dataLen) {
    if (!(dataLen == _spectrumLen))
        brel::mac::assertion_failure("dataLen == _spectrumLen", "Shared/Signal/Filter/Mel", 114);
    if (dataLen < _bandsEnd)
        return;

    float value[BANDS];
    for (int i = 0; i < BANDS; ++i) {
        const Bin& b = _bins[i];
        float v = 0.0f;
        if (b._length > 0) {
            const Sample* x = data + b._start;
            const float* w = &b._weights[0];
            for (int j = 0; j < b._length; ++j)
                v += x[j] * w[j];
        }
        value[i] = v;
    }
    output(value, BANDS);
}

} // namespace Filter
} // namespace Signal
