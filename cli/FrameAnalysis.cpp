// Frames are counted on the spectrum output, which closes every frame; the lie level of the same frame
// has arrived just before it. The input level is measured as the app's level meter measures it: only
// samples at the rails count as clipped.

#include "FrameAnalysis.h"

FrameAnalysis::FrameAnalysis(CsvWriter* csv)
    : _csv(csv), _lieLevel(0.0f), _samples(0), _frames(0), _lieSum(0.0), _peak(0.0f), _high(0),
      _peakSample(0), _clipped(0) {
    typedef brel::callback2<void, const Signal::Sample*, int> Callback;
    _engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, Callback(this, &FrameAnalysis::onLieLevel));
    _engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, Callback(this, &FrameAnalysis::onSpectrum));
}

void FrameAnalysis::input(const short* samples, int count) {
    _samples += count;
    for (int i = 0; i < count; ++i) {
        const int value = samples[i];
        const int magnitude = value < 0 ? -value : value;
        if (magnitude > _peakSample)
            _peakSample = magnitude;
        _clipped += value == 32767 || value == -32768;
    }
    _engine.input(samples, count);
}

void FrameAnalysis::onLieLevel(const Signal::Sample* data, int dataLen) {
    if (dataLen > 0)
        _lieLevel = data[0];
}

void FrameAnalysis::onSpectrum(const Signal::Sample* data, int dataLen) {
    if (_csv)
        _csv->writeRow(_frames, _lieLevel, data, dataLen);
    if (_frames == 0 || _lieLevel > _peak)
        _peak = _lieLevel;
    _lieSum += _lieLevel;
    if (_lieLevel > HIGH_LEVEL)
        ++_high;
    ++_frames;
}
