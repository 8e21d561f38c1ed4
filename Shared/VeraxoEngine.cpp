// Every filter is held by an owner at each step of the construction, so a failed allocation leaves
// nothing behind. Members are destroyed in reverse order: terminators, then the voice chain, then the
// spectrum chain.

#include "VeraxoEngine.h"

#include "Shared/Signal/Filter/DFFT.h"
#include "Shared/Signal/Filter/Log.h"
#include "Shared/Signal/Filter/Mel.h"
#include "Shared/Signal/Filter/Verdict.h"
#include "Shared/Signal/Filter/VoiceDetect.h"

using Signal::Filter::Base;

VeraxoEngine::VeraxoEngine() : _input(0), _spectrumOutput(0), _lieOutput(0) {
    _voiceProcessor.reset(new Signal::Processor);
    _spectrumProcessor.reset(new Signal::Processor);

    Signal::Filter::ConvertToFloat* convert = new Signal::Filter::ConvertToFloat;
    brel::auto_ptr<Base> convertFilter(convert);
    brel::auto_ptr<Base> dfft(new Signal::Filter::DFFT(256));
    brel::auto_ptr<Base> mel(new Signal::Filter::Mel(8000, 128, 200.0f, 3400.0f));
    brel::auto_ptr<Base> log(new Signal::Filter::Log);
    brel::auto_ptr<Base> voiceDetect(new Signal::Filter::VoiceDetect(32));
    brel::auto_ptr<Base> verdict(new Signal::Filter::Verdict);

    _voiceProcessor->appendFilter(voiceDetect);
    _voiceProcessor->appendFilter(verdict);

    _input = convert;
    _spectrumProcessor->appendFilter(convertFilter);
    _spectrumProcessor->appendFilter(dfft);
    _spectrumProcessor->appendFilter(mel);

    _spectrumProcessor->getBackFilter()->addOutput(_voiceProcessor->getFrontFilter());
    _spectrumProcessor->appendFilter(log);

    _spectrumOutput = _spectrumProcessor->getBackFilter();
    _lieOutput = _voiceProcessor->getBackFilter();
}

VeraxoEngine::~VeraxoEngine() {}

void VeraxoEngine::input(const short* samples, int count) noexcept {
    _input->convert(samples, count);
}

bool VeraxoEngine::attachOutput(OutputType type, brel::callback2<void, const Signal::Sample*, int> callback) {
    Base* target = 0;
    switch (type) {
    case OUTPUT_SIGNAL:
        target = _input;
        break;
    case OUTPUT_SPECTRUM:
        target = _spectrumOutput;
        break;
    case OUTPUT_LIE_LEVEL:
        target = _lieOutput;
        break;
    }
    if (!target)
        return false;
    brel::auto_ptr<Signal::Filter::Terminator> terminator(new Signal::Filter::Terminator(callback));
    Signal::Filter::Terminator* attached = terminator.get();
    _terminators.push_back(terminator);
    target->addOutput(attached);
    return true;
}
