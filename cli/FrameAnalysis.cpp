// Frames are counted on the spectrum output, which closes every frame; the lie level of the same frame
// has arrived just before it.

#include "FrameAnalysis.h"

FrameAnalysis::FrameAnalysis(CsvWriter* csv)
    : _csv(csv), _lieLevel(0.0f), _samples(0), _frames(0), _lieSum(0.0), _peak(0.0f), _high(0) {
    typedef brel::callback2<void, const Signal::Sample*, int> Callback;
    _engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, Callback(this, &FrameAnalysis::onLieLevel));
    _engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, Callback(this, &FrameAnalysis::onSpectrum));
}

void FrameAnalysis::input(const short* samples, int count) {
    _samples += count;
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
