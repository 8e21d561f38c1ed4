#pragma once
// The two long-lived core objects of the program, owned in one record and reached through the
// file-level pointer `globals`. The voice unit is built first and the engine second, so the engine
// goes first on the way out. Tear-down stops capture before anything is destroyed: the audio thread
// calls into the engine while the voice unit runs.

#include "Shared/VeraxoEngine.h"
#include "Shared/VoiceUnit.h"
#include "src/brel_memory.h"

struct Globals {
    Globals();

    // Builds the record and publishes it through `globals`.
    static Globals* setUp();
    // Stops capture, destroys the engine and then the voice unit, and clears `globals`.
    static void tearDown();

    brel::auto_ptr<VoiceUnit> voiceUnit;
    brel::auto_ptr<VeraxoEngine> engine;
};

extern Globals* globals;
