#pragma once
// Reduces each spectrum to 32 bands on the mel scale between two frequencies. A band is a run of
// consecutive spectrum bins with weights that sum to 1, fixed at construction; filtering is a weighted
// sum per band and allocates nothing. The first band is centred on the low frequency, so the top band
// ends a little below the high one.

#include "Base.h"
#include "src/brel_array.h"

namespace Signal {
namespace Filter {

class Mel : public Base {
public:
    // One band: its first spectrum bin, its bin count and a weight per bin.
    class Bin {
    public:
        // An empty band, as the arrays hand out after a failed index check.
        Bin() : _start(-1), _length(0) {}
        // centre and width in mel.
        Bin(float centre, float width, int sampleRate, int spectrumLen);

        int getStart() const { return _start; }
        int getLength() const { return _length; }
        float getWeight(int j) const { return _weights[j]; }

    private:
        friend class Mel;
        int _start;
        int _length;
        brel::array<float> _weights;
    };

    static constexpr int BANDS = 32;

    Mel(int sampleRate, int spectrumLen, float lowFreq, float highFreq);
    ~Mel() override;

    // Audio thread: dataLen must equal the spectrum length given at construction.
    void filter(const Sample* data, int dataLen) override;

    const Bin& getBin(int i) const { return _bins[i]; }

    static float mel(float hz);
    static float melInv(float mel);

private:
    brel::array<Bin> _bins;
    int _spectrumLen;
    // One past the highest spectrum bin any band reads.
    int _bandsEnd;
};

} // namespace Filter
} // namespace Signal
