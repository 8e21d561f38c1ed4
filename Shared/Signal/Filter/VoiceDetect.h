#pragma once
// Decides per mel frame whether it is silent relative to the last 64 frames and keeps a decaying voice
// level that rises only on frames whose band shape and silence rhythm look like speech. Per frame it
// passes on [voice level, silent/non-silent transitions, low, middle and high group energies].
// Histories are fixed-capacity rings made in the constructor; filtering allocates nothing.

#include "Base.h"
#include "src/brel_array.h"
#include "src/brel_circular.h"

namespace Signal {
namespace Filter {

class VoiceDetect : public Base {
public:
    // Frames remembered; at least 2.
    static constexpr int HISTORY = 64;

    explicit VoiceDetect(int spectrumSize);
    ~VoiceDetect() override;

    // Audio thread: dataLen must equal spectrumSize.
    void filter(const Sample* data, int dataLen) override;

    float calcAvgPower() const;
    int countSilentTransitions() const;

private:
    int _spectrumSize;
    int _windowLen;
    int _windowStep;
    brel::array<float> _window;
    float _windowSum;
    float _voiceLevel;
    brel::circular_buffer<float> _powerHistory;
    brel::circular_buffer<bool> _silentHistory;
    // countSilentTransitions() of the current history, kept up to date frame by frame.
    int _transitions;
};

} // namespace Filter
} // namespace Signal
