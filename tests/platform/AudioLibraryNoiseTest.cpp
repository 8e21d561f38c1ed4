// Listing devices, looking one up and pressing record go through PortAudio's probing of ALSA and JACK;
// none of it may reach standard error, whether or not a microphone is present, and no JACK server may
// be started for it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Shared/VoiceUnit.h"
#include "platform/PortAudioUnit.h"

// ALSA's plug-ins, loaded and unloaded while PortAudio probes, keep allocations past their unloading;
// under the leak checker, unwind slowly enough to name the library that made them and leave them out.
extern "C" const char* __lsan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libasound.so\nleak:libjack.so\nleak:libportaudio.so\n";
}

namespace {

// Everything written to file descriptor 2 while `f` runs.
template <class F> std::string standardErrorOf(F f) {
    std::fflush(stderr);
    std::FILE* sink = std::tmpfile();
    if (sink == nullptr)
        return "cannot make a temporary file";
    const int saved = dup(2);
    dup2(fileno(sink), 2);
    f();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text;
    std::rewind(sink);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, sink)) > 0)
        text.append(buffer, n);
    std::fclose(sink);
    return text;
}

TEST(AudioLibraryNoise, ProbingTheAudioSystemPrintsNothing) {
    using platform::PortAudioUnit;
    bool listed = false;
    int found = 0;
    const std::string noise = standardErrorOf([&] {
        listed = !PortAudioUnit::listInputDevices().empty();
        found = PortAudioUnit::findInputDevice("no device has this name");
        platform::selectAudioComponent(PortAudioUnit::component());
        for (int press = 0; press < 2; ++press) {
            VoiceUnit unit;
            unit.ioFlags = VoiceUnit::IO_RECORD;
            if (unit.initialize() && unit.start())
                unit.stop();
            unit.dispose();
        }
        platform::selectAudioComponent(nullptr);
    });
    EXPECT_EQ(noise, "") << "devices listed: " << listed;
    EXPECT_EQ(found, -1);
    const char* noStart = std::getenv("JACK_NO_START_SERVER");
    ASSERT_NE(noStart, nullptr);
    EXPECT_STREQ(noStart, "1");
}

} // namespace
