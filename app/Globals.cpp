// Construction, publication and ordered tear-down of the core objects.

#include "Globals.h"

Globals* globals = nullptr;

Globals::Globals() : voiceUnit(0), engine(0) {
    voiceUnit.reset(new VoiceUnit);
    engine.reset(new VeraxoEngine);
}

Globals* Globals::setUp() {
    globals = new Globals;
    return globals;
}

void Globals::tearDown() {
    if (globals) {
        // dispose stops a running unit first, so no block reaches the engine once it returns.
        if (globals->voiceUnit.get())
            globals->voiceUnit->dispose();
        globals->engine.reset(0);
        globals->voiceUnit.reset(0);
        delete globals;
    }
    globals = nullptr;
}
