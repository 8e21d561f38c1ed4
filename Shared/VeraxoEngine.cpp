// Every filter is held by an owner at each step of the construction, so a failed allocation leaves
// nothing behind. Objects come from the nothrow new, so that running out of memory raises
// brel::xout_of_memory here as it does inside the filters and containers, never std::bad_alloc.
// Members are destroyed in reverse order: terminators, then the voice chain, then the spectrum chain.

#include "VeraxoEngine.h"

#include "Shared/Signal/Filter/DFFT.h"
#include "Shared/Signal/Filter/Log.h"
#include "Shared/Signal/Filter/Mel.h"
#include "Shared/Signal/Filter/Verdict.h"
#include "Shared/Signal/Filter/VoiceDetect.h"

#include <new>

using Signal::Filter::Base;

namespace {

// The object built by `new (std::nothrow)`, or xout_of_memory when there was no memory for it.
template <class T> T* made(T* p) {
    return brel::out_of_memory_if_null(p);
}

} // namespace

VeraxoEngine::VeraxoEngine() : _input(0), _spectrumOutput(0), _lieOutput(0) {
    _voiceProcessor.reset(made(new (std::nothrow) Signal::Processor));
    _spectrumProcessor.reset(made(new (std::nothrow) Signal::Processor));

    Signal::Filter::ConvertToFloat* convert = made(new (std::nothrow) Signal::Filter::ConvertToFloat);
    brel::auto_ptr<Base> convertFilter(convert);
    brel::auto_ptr<Base> dfft(made(new (std::nothrow) Signal::Filter::DFFT(256)));
    brel::auto_ptr<Base> mel(made(new (std::nothrow) Signal::Filter::Mel(8000, 128, 200.0f, 3400.0f)));
    brel::auto_ptr<Base> log(made(new (std::nothrow) Signal::Filter::Log));
    brel::auto_ptr<Base> voiceDetect(made(new (std::nothrow) Signal::Filter::VoiceDetect(32)));
    brel::auto_ptr<Base> verdict(made(new (std::nothrow) Signal::Filter::Verdict));

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

void VeraxoEngine::input(const short* samples, int count) {
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
    brel::auto_ptr<Signal::Filter::Terminator> terminator(
        made(new (std::nothrow) Signal::Filter::Terminator(callback)));
    Signal::Filter::Terminator* attached = terminator.get();
    _terminators.push_back(terminator);
    target->addOutput(attached);
    return true;
}
