#pragma once
// The windowed spectrum filter rebuilt on an FFTW real-to-complex plan: same framing (hop size/2),
// same window, same |Re| per bin averaged with the previous frame. It is a yardstick for the cost of
// the engine's own transform, not a replacement: its roundings differ.

#include <fftw3.h>

#include <vector>

#include "Shared/Signal/Filter/Base.h"

class FftwDFFT : public Signal::Filter::Base {
public:
    explicit FftwDFFT(int size);
    ~FftwDFFT() override;

    void filter(const Signal::Sample* data, int dataLen) override;

private:
    void processSamples();

    int _size;
    int _pos;
    std::vector<float> _window;
    std::vector<float> _frame;
    std::vector<float> _previous;
    std::vector<float> _out;
    float* _in;
    fftwf_complex* _spectrum;
    fftwf_plan _plan;
};
