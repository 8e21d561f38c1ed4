// A stop the user asks for is no device failure. PortAudio ends the stream on a requested stop as it
// does when the device vanishes, and calls the stream-finished callback in both cases; only the second
// may reach the failure listener. The stream comes from ALSA's null device made the default through a
// configuration of the test's own, so no sound server or hardware is needed: the test records, stops,
// records again and checks that no failure reaches the voice unit's port and that it stays running. (A
// vanishing source is covered through the PulseAudio null sink in PortAudioCaptureTest.)

#include "platform/PortAudioUnit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Shared/VoiceUnit.h"
#include "platform/MessagePort.h"
#include "platform/RunLoop.h"

extern "C" const char* __lsan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libasound.so\nleak:libportaudio.so\n";
}

namespace {

using platform::PortAudioUnit;

struct Counter {
    std::atomic<long> samples{0};
    void take(const short*, int n) { samples += n; }
};

// Waits until `n` more samples have arrived; false after five seconds.
bool captureSome(Counter& counter, long n) {
    const long target = counter.samples.load() + n;
    for (int i = 0; i < 500 && counter.samples.load() < target; ++i)
        usleep(10000);
    return counter.samples.load() >= target;
}

TEST(PortAudioStop, ARequestedStopReportsNoFailureAndCaptureResumes) {
    if (access("/usr/share/alsa/alsa.conf", R_OK) != 0)
        GTEST_SKIP() << "no ALSA configuration to build the null device on";
    char config[] = "/tmp/veraxo-alsa-null-XXXXXX";
    const int fd = mkstemp(config);
    ASSERT_GE(fd, 0);
    const std::string text = "</usr/share/alsa/alsa.conf>\npcm.!default {\n    type null\n}\n";
    ASSERT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
    close(fd);
    setenv("ALSA_CONFIG_PATH", config, 1);
    unsetenv("PULSE_SERVER");

    platform::selectAudioComponent(PortAudioUnit::component());
    {
        Counter counter;
        VoiceUnit unit;
        unit.ioFlags = VoiceUnit::IO_RECORD;
        // Blocks are delivered on the audio thread: the only message the port can carry is a failure.
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_SEPARATION),
                            VoiceUnit::PropertyValue(0));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&counter, &Counter::take));
        ASSERT_TRUE(unit.initialize()) << unit.lastErrorReason();
        platform::MessagePort* port = platform::MessagePort::findRemote("VoiceUnit");
        ASSERT_NE(port, nullptr);
        for (int round = 0; round < 3; ++round) {
            ASSERT_TRUE(unit.start()) << "round " << round << ": " << unit.lastErrorReason();
            EXPECT_TRUE(captureSome(counter, 2048)) << "round " << round << ": no sound arrives";
            // A failure reported by the previous stop would be delivered now and fail the unit.
            platform::RunLoop::current()->runOnce(0.05);
            EXPECT_EQ(unit.state, VoiceUnit::STATE_RUNNING) << "round " << round;
            ASSERT_TRUE(unit.stop()) << "round " << round;
            EXPECT_EQ(port->messagesSent(), 0) << "round " << round << ": the stop was reported as a failure";
            EXPECT_EQ(unit.lastErrorReason(), "") << "round " << round;
        }
        EXPECT_TRUE(unit.dispose());
    }
    platform::selectAudioComponent(nullptr);
    unlink(config);
}

} // namespace
