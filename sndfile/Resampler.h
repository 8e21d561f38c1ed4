#pragma once
// Converts a stream of mono float samples from one rate to another, block by block, with libsoxr's
// high-quality recipe: a linear-phase low-pass flat within 0.01 dB up to 91 % of the lower Nyquist
// frequency (3.6 kHz at 8000 Hz out) and more than 120 dB down beyond it, in single precision. For
// 44.1 kHz to 8000 Hz it costs about a fiftieth of libsamplerate's medium sinc at better quality; the
// rate converter is then a small part of decoding a file. Callers mix channels down first: one channel
// costs a channel's share.
//
// The output is aligned with the input (the filter's delay is taken out), so n input samples give
// n * outputRate / inputRate output samples once the tail is flushed. prepare() allocates; process()
// may still grow the library's queues during the first blocks, so it is for a decoding thread, not
// for an audio callback.

#include <cstddef>
#include <string>

struct soxr;

class Resampler {
public:
    Resampler() = default;
    ~Resampler();

    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // True when the ratio is one the converter takes: up to 256 either way.
    static bool supports(double inputRate, double outputRate);

    // Sets up a fresh stream from inputRate to outputRate; false with errorText() when it cannot.
    bool prepare(double inputRate, double outputRate);
    // Forgets the stream so far (after a seek); the rates stay.
    void reset();
    void release();
    bool isPrepared() const { return _state != nullptr; }

    // Takes up to count samples of in (used says how many) and writes up to capacity samples into out
    // (produced says how many). All the input is taken unless out fills up. After the last block, call
    // with in == nullptr until produced is 0: that flushes the filter's tail. False on a converter
    // error, with errorText().
    bool process(const float* in, std::size_t count, std::size_t& used, float* out, std::size_t capacity,
                 std::size_t& produced);

    const std::string& errorText() const { return _error; }

private:
    soxr* _state = nullptr;
    std::string _error;
};
