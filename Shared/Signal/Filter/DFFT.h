#pragma once
// Windowed short-time spectrum. The sample stream is cut into frames of `size` samples overlapping by
// half; each frame is Hann-weighted and transformed by an in-place radix-2 FFT, and for the lower half
// of the bins the absolute real part (not the modulus) is averaged with the previous frame's and passed
// on, one block of size/2 values per hop. Nothing is normalised.
//
// All storage and the twiddle tables are made in the constructor; filtering allocates nothing, and
// the double buffers are exchanged by swapping the array headers, never their contents. The butterflies of
// one stage are independent, so they run four at a time with SSE2 where available, each element going through
// exactly the same single-precision operations in the same order as the scalar form. Where the CPU has
// AVX2 (checked at run time; the build itself targets the baseline) they run eight at a time instead.

#include <memory>

#include "Base.h"
#include "src/brel_array.h"

namespace Signal {
namespace Filter {

class DFFT : public Base {
public:
    // Auto takes the widest vectors the CPU runs; Baseline keeps to the build's own instruction set.
    // Both give the same bits; the choice exists so that each path can be checked on any machine.
    enum class Path { Auto, Baseline };

    // size is a power of two, at least 2; any other size is brought down to the power of two below it.
    explicit DFFT(int size, Path path = Path::Auto);
    ~DFFT() override;

    // Audio thread: any length, 0 included; one block goes out per completed hop of size/2 samples.
    void filter(const Sample* data, int dataLen) override;

    // True when this transform runs the AVX2 form.
    bool usesWideVectors() const { return _wide; }

private:
    static int log2(int value);
    static void bitReverse(float* data, int n);
    void precalculate();
    void calculateDFFT();
    void processSamples();

    brel::array<float> _window;
    brel::array<float> _rawSpectrum;
    brel::array<float> _outSpectrum;
    brel::array<float> _frame;
    brel::array<float> _nextFrame;
    brel::array<float> _re;
    brel::array<float> _im;
    // Source index of each position after bit reversal, so windowing and reordering are one pass.
    brel::array<int> _reversed;
    int _pos;
    std::unique_ptr<float[]> _sinTable;
    std::unique_ptr<float[]> _cosTable;
    int _frameSize;
    int _log2Size;
    bool _wide;
};

} // namespace Filter
} // namespace Signal
