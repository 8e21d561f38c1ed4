#pragma once
// Runs the engine over a stream of samples and gathers what the command reports: one CSV row per
// spectrum frame (when a writer is given) and the lie-level statistics. The engine delivers each
// frame's lie level before its spectrum, so a row is complete when the spectrum arrives.

#include "Shared/VeraxoEngine.h"
#include "report/CsvWriter.h"

class FrameAnalysis {
public:
    static constexpr float HIGH_LEVEL = 0.7f;

    // csv may be null: statistics only.
    explicit FrameAnalysis(CsvWriter* csv);

    void input(const short* samples, int count);
    // For further listeners on the engine's outputs.
    VeraxoEngine& engine() { return _engine; }

    long long samples() const { return _samples; }
    long long frames() const { return _frames; }
    double meanLieLevel() const { return _frames ? _lieSum / static_cast<double>(_frames) : 0.0; }
    float peakLieLevel() const { return _peak; }
    // Frames whose lie level is above HIGH_LEVEL.
    long long highFrames() const { return _high; }
    // Largest magnitude of the samples (0 to 32768) and how many sat at the 16-bit rails.
    int peakSample() const { return _peakSample; }
    long long clippedSamples() const { return _clipped; }

private:
    void onLieLevel(const Signal::Sample* data, int dataLen);
    void onSpectrum(const Signal::Sample* data, int dataLen);

    VeraxoEngine _engine;
    CsvWriter* _csv;
    float _lieLevel;
    long long _samples;
    long long _frames;
    double _lieSum;
    float _peak;
    long long _high;
    int _peakSample;
    long long _clipped;
};
