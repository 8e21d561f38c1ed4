// End to end through the real microphone path: a recording played into a PulseAudio null sink is
// captured by PortAudio from the sink's monitor, through the voice unit into the analysis engine. The
// captured samples are aligned with the recording by cross-correlation (the start offset is unknown),
// and the engine's frames are compared with those of an engine fed the recording directly at the same
// position. Needs a reachable PulseAudio server set up by scripts/pulse-null; skips without one.

#include "platform/PortAudioUnit.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Shared/VeraxoEngine.h"
#include "Shared/VoiceUnit.h"
#include "platform/RunLoop.h"
#include "sndfile/AudioFileReader.h"
#include "tests/support/pulse_null.h"

namespace {

using platform::PortAudioUnit;

struct FrameLog {
    std::vector<float> lie;
    std::vector<std::vector<float>> spectra;
    void lieLevel(const Signal::Sample* p, int n) { lie.insert(lie.end(), p, p + n); }
    void spectrum(const Signal::Sample* p, int n) { spectra.emplace_back(p, p + n); }
    void attach(VeraxoEngine& engine) {
        engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL,
                            brel::callback2<void, const Signal::Sample*, int>(this, &FrameLog::lieLevel));
        engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM,
                            brel::callback2<void, const Signal::Sample*, int>(this, &FrameLog::spectrum));
    }
};

struct Capture {
    std::mutex mutex;
    std::vector<short> samples;
    void take(const short* p, int n) {
        std::lock_guard<std::mutex> lock(mutex);
        samples.insert(samples.end(), p, p + n);
    }
};

std::vector<short> readRecording(const std::string& path) {
    AudioFileReader reader;
    std::vector<short> all;
    if (!reader.open(path))
        return all;
    short chunk[4096];
    int got;
    while ((got = reader.read(chunk, 4096)) > 0)
        all.insert(all.end(), chunk, chunk + got);
    return all;
}

bool writeWav(const std::string& path, const std::vector<short>& samples) {
    SF_INFO info = {};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr)
        return false;
    sf_write_short(f, samples.data(), sf_count_t(samples.size()));
    sf_close(f);
    return true;
}

TEST(PortAudioCapture, RecordingPlayedIntoTheNullSinkReachesTheEngineIntact) {
    SKIP_WITHOUT_PULSE_AUDIO();

    const std::vector<short> whole = readRecording(VERAXO_SOURCE_DIR "/resources/sample.wav");
    ASSERT_GE(whole.size(), 6u * 8000u) << "resources/sample.wav is missing or short";
    const std::vector<short> recording(whole.begin() + 2 * 8000, whole.begin() + 6 * 8000);
    const std::string path = ::testing::TempDir() + "capture_e2e_" + std::to_string(getpid()) + ".wav";
    // The monitor only carries sound while something plays: half a second of silence around the
    // recording lets capture settle before the recording starts.
    std::vector<short> played(4000, 0);
    played.insert(played.end(), recording.begin(), recording.end());
    played.insert(played.end(), 4000, 0);
    ASSERT_TRUE(writeWav(path, played));

    platform::selectAudioComponent(PortAudioUnit::component());
    VeraxoEngine engine;
    FrameLog live;
    live.attach(engine);
    Capture capture;
    {
        VoiceUnit unit;
        unit.ioFlags = VoiceUnit::IO_RECORD;
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_SEPARATION),
                            VoiceUnit::PropertyValue(0));
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_PRECEDENCE),
                            VoiceUnit::PropertyValue(63));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&engine, &VeraxoEngine::input));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&capture, &Capture::take));
        ASSERT_TRUE(unit.initialize()) << unit.lastErrorReason();
        ASSERT_TRUE(unit.start()) << unit.lastErrorReason();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::string play = "paplay '" + path + "'";
        EXPECT_EQ(std::system(play.c_str()), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(unit.state, VoiceUnit::STATE_RUNNING);
        EXPECT_TRUE(unit.stop());
        EXPECT_TRUE(unit.dispose());
    }
    platform::selectAudioComponent(nullptr);
    unlink(path.c_str());

    std::lock_guard<std::mutex> lock(capture.mutex);
    const std::vector<short>& got = capture.samples;
    ASSERT_GE(got.size(), recording.size()) << "captured " << got.size() << " samples";

    // Align on a loud stretch of the recording, then check the whole recording at that offset.
    size_t loud = 0;
    double loudest = 0;
    const size_t window = 2048;
    for (size_t s = 0; s + window <= recording.size(); s += 512) {
        double e = 0;
        for (size_t i = 0; i < window; ++i)
            e += double(recording[s + i]) * recording[s + i];
        if (e > loudest) {
            loudest = e;
            loud = s;
        }
    }
    const std::pair<long, double> found = veraxo_test::best_offset(got, recording.data() + loud, window);
    ASSERT_GT(found.second, 0.99) << "the recording was not found in the capture";
    const long offset = found.first - long(loud);
    ASSERT_GE(offset, 0);
    ASSERT_LE(size_t(offset) + recording.size(), got.size()) << "the capture ended before the recording";
    size_t equal = 0;
    for (size_t i = 0; i < recording.size(); ++i)
        equal += got[size_t(offset) + i] == recording[i];
    EXPECT_EQ(equal, recording.size()) << "samples changed on the way";

    // The same stream with the recording put in directly at the aligned position.
    std::vector<short> direct(got);
    std::copy(recording.begin(), recording.end(), direct.begin() + offset);
    VeraxoEngine reference;
    FrameLog expected;
    expected.attach(reference);
    for (size_t i = 0; i < direct.size(); i += 256)
        reference.input(direct.data() + i, int(std::min<size_t>(256, direct.size() - i)));

    ASSERT_EQ(live.lie.size(), expected.lie.size());
    ASSERT_EQ(live.spectra.size(), expected.spectra.size());
    ASSERT_GT(live.lie.size(), recording.size() / 128 - 2);
    for (size_t f = 0; f < live.lie.size(); ++f) {
        ASSERT_EQ(live.lie[f], expected.lie[f]) << "frame " << f;
        ASSERT_EQ(live.spectra[f], expected.spectra[f]) << "frame " << f;
    }
}

} // namespace

namespace {

TEST(PortAudioCapture, VanishingSourceEndsInFailedAndStopDisposeRecover) {
    SKIP_WITHOUT_PULSE_AUDIO();
    platform::selectAudioComponent(PortAudioUnit::component());
    Capture capture;
    VoiceUnit unit;
    unit.ioFlags = VoiceUnit::IO_RECORD;
    unit.callbacks.push_back(VoiceUnit::SampleCallback(&capture, &Capture::take));
    ASSERT_TRUE(unit.initialize()) << unit.lastErrorReason();
    ASSERT_TRUE(unit.start());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(std::system("pactl unload-module module-null-sink"), 0);
    const bool failed =
        platform::RunLoop::current()->runUntil([&] { return unit.state == VoiceUnit::STATE_FAILED; }, 5.0);
    std::system(
        "pactl load-module module-null-sink sink_name=veraxo_null rate=8000 channels=1 format=s16le "
        ">/dev/null && pactl set-default-sink veraxo_null && pactl set-default-source veraxo_null.monitor");
    EXPECT_TRUE(failed);
    EXPECT_FALSE(unit.lastErrorReason().empty());
    EXPECT_FALSE(unit.stop());
    EXPECT_TRUE(unit.dispose());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_UNINITIALIZED);
    platform::selectAudioComponent(nullptr);
}

} // namespace

namespace {

TEST(PortAudioCapture, InputDevicesAreFoundByIndexAndByName) {
    SKIP_WITHOUT_PULSE_AUDIO();
    const std::vector<PortAudioUnit::DeviceInfo> devices = PortAudioUnit::listInputDevices();
    ASSERT_FALSE(devices.empty());
    for (const PortAudioUnit::DeviceInfo& d : devices) {
        EXPECT_GE(d.maxInputChannels, 1) << d.name;
        EXPECT_EQ(PortAudioUnit::findInputDevice(std::to_string(d.index)), d.index) << d.name;
    }
    // Names may repeat; the name finds a device that carries it.
    const PortAudioUnit::DeviceInfo& last = devices.back();
    const int byName = PortAudioUnit::findInputDevice(last.name);
    auto named = std::find_if(devices.begin(), devices.end(),
                              [&](const PortAudioUnit::DeviceInfo& d) { return d.index == byName; });
    ASSERT_NE(named, devices.end());
    EXPECT_EQ(named->name, last.name);
    EXPECT_EQ(PortAudioUnit::findInputDevice("no device has this name"), -1);
    EXPECT_NE(platform::audioErrorReason().find("no device has this name"), std::string::npos);
}

} // namespace
