// The comparisons that gate the voice level are made in double precision on widened floats, the power
// average and the group energies in single precision; the clamp comes before the decay, so the level
// emitted never exceeds 2.0 x 0.89.
//
// A block of the wrong length is reported; a longer one is processed from its first spectrumSize
// values, a shorter one is skipped, so nothing outside the block is read.

#include "VoiceDetect.h"

#include "Shared/Signal/Utils.h"
#include "src/brel_memory.h"

namespace Signal {
namespace Filter {

VoiceDetect::VoiceDetect(int spectrumSize)
    : _spectrumSize(spectrumSize), _windowLen(spectrumSize / 2), _windowStep(_windowLen / 2),
      _windowSum(0.0f), _voiceLevel(0.0f), _powerHistory(HISTORY), _silentHistory(HISTORY), _transitions(0) {
    if (_windowLen > 0) {
        _window.resize(_windowLen, 0.0f);
        // A symmetric Hann window of one point divides by zero; the mean over one band is the band.
        if (_windowLen == 1)
            _window[0] = 1.0f;
        else
            Utils::calcHannWindow(_windowLen, &_window[0]);
    }
    for (int j = 0; j < _windowLen; ++j)
        _windowSum += _window[j];
}

VoiceDetect::~VoiceDetect() {}

float VoiceDetect::calcAvgPower() const {
    const int n = _powerHistory.size();
    if (n == 0)
        return 0.0f;
    // Summed afresh from the newest to the oldest every frame: a running sum would round differently.
    float sum = 0.0f;
    _powerHistory.for_each([&sum](float p) { sum += p; });
    return sum / static_cast<float>(n);
}

int VoiceDetect::countSilentTransitions() const {
    int transitions = 0;
    for (int i = 0; i + 1 < _silentHistory.size(); ++i) {
        if (_silentHistory.at(i) != _silentHistory.at(i + 1))
            ++transitions;
    }
    return transitions;
}

void VoiceDetect::filter(const Sample* data, int dataLen) {
    if (!(_spectrumSize == dataLen))
        brel::mac::assertion_failure("_spectrumSize==dataLen", "Shared/Signal/Filter/VoiceDetect", 68);
    if (dataLen < _spectrumSize || _windowLen == 0)
        return;

    float e[3];
    const float* window = &_window[0];
    for (int g = 0; g < 3; ++g) {
        const Sample* x = data + g * _windowStep;
        float sum = 0.0f;
        for (int j = 0; j < _windowLen; ++j)
            sum += x[j] * window[j];
        e[g] = sum / _windowSum;
    }
    const float e0 = e[0];
    const float e1 = e[1];
    const float e2 = e[2];
    const float power = (e0 + e1) + e2;

    _powerHistory.push_front(power);
    const float avg = calcAvgPower();
    const bool silent = avg > power + power;
    // The count follows the ring instead of recounting every flag each frame: a flag dropping out of
    // the full ring takes its transition with it, the new flag may add one.
    const int kept = _silentHistory.size();
    if (kept == HISTORY && _silentHistory.at(kept - 1) != _silentHistory.at(kept - 2))
        --_transitions;
    _silentHistory.push_front(silent);
    if (_silentHistory.size() > 1 && _silentHistory.at(0) != _silentHistory.at(1))
        ++_transitions;
    const int transitions = _transitions;

    if (!silent && static_cast<double>(e0) > 2.5 * static_cast<double>(e1) &&
        static_cast<double>(e2) > 1.2 * static_cast<double>(e1) && e0 > e2 &&
        transitions > _silentHistory.size() / 10)
        _voiceLevel = static_cast<float>(static_cast<double>(_voiceLevel) + 0.35);
    if (_voiceLevel > 2.0f)
        _voiceLevel = 2.0f;
    _voiceLevel = static_cast<float>(static_cast<double>(_voiceLevel) * 0.89);

    const float block[5] = {_voiceLevel, static_cast<float>(transitions), e0, e1, e2};
    output(block, 5);
}

} // namespace Filter
} // namespace Signal
