#pragma once
// Builds the whole analysis network and owns it:
//
//     ConvertToFloat -> DFFT(256) -> Mel(8000, 128, 200, 3400) -> VoiceDetect(32) -> Verdict
//                                                               -> Log
//
// The voice chain is linked to the mel bank before the log filter, so for every frame the lie-level
// callbacks run before the spectrum callbacks. Callbacks hang on three points of the network through
// terminators the engine owns; they are attached before the first block and never detached. `input`
// runs the whole network, callbacks included, synchronously and without allocating once the blocks
// have reached their steady length.

#include "Shared/Signal/Filter/Base.h"
#include "Shared/Signal/Filter/ConvertToFloat.h"
#include "Shared/Signal/Filter/Terminator.h"
#include "Shared/Signal/Processor.h"
#include "src/brel_array.h"
#include "src/brel_memory.h"
#include "src/compiler_gcc346/brel_callback_template.h"

class VeraxoEngine {
public:
    enum OutputType { OUTPUT_SIGNAL = 0, OUTPUT_SPECTRUM = 1, OUTPUT_LIE_LEVEL = 2 };

    VeraxoEngine();
    ~VeraxoEngine();

    VeraxoEngine(const VeraxoEngine&) = delete;
    VeraxoEngine& operator=(const VeraxoEngine&) = delete;

    // Audio thread: runs the whole network on one block, callbacks included. Not noexcept: while the
    // blocks grow to their steady length it allocates, and may throw brel::xout_of_memory.
    void input(const short* samples, int count);
    // False, and nothing attached, when type names none of the three points.
    bool attachOutput(OutputType type, brel::callback2<void, const Signal::Sample*, int> callback);

private:
    brel::auto_ptr<Signal::Processor> _spectrumProcessor;
    brel::auto_ptr<Signal::Processor> _voiceProcessor;
    brel::auto_ptr_array<Signal::Filter::Terminator> _terminators;
    Signal::Filter::ConvertToFloat* _input;
    Signal::Filter::Base* _spectrumOutput;
    Signal::Filter::Base* _lieOutput;
};
