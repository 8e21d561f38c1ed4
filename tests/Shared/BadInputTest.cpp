// Malformed input at each entrance of the analysis and capture paths, beyond what the component tests
// try: blocks of negative, empty, single-sample and very large lengths into the engine; capture
// settings no device accepts and oversized captured blocks into the voice unit; audio headers with
// impossible rates or channel counts, odd raw lengths and foreign bytes into the file reader. Each
// must end in a clear refusal or in correct output, never in a crash or a read outside storage, and
// whatever comes after must work as if the bad input had never been.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Shared/VeraxoEngine.h"
#include "Shared/VoiceUnit.h"
#include "platform/RunLoop.h"
#include "platform/TestAudioUnit.h"
#include "sndfile/AudioFileReader.h"
#include "tests/support/assertion_capture.h"

namespace {

using platform::TestAudioUnit;

struct Frames {
    std::vector<float> spectra;
    std::vector<float> lies;
    void spectrum(const Signal::Sample* p, int n) { spectra.insert(spectra.end(), p, p + n); }
    void lie(const Signal::Sample* p, int n) { lies.insert(lies.end(), p, p + n); }
    void attach(VeraxoEngine& e) {
        e.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM,
                       brel::callback2<void, const Signal::Sample*, int>(this, &Frames::spectrum));
        e.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL,
                       brel::callback2<void, const Signal::Sample*, int>(this, &Frames::lie));
    }
};

std::vector<short> voiceLike(int n) {
    std::vector<short> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = static_cast<short>((static_cast<long long>(i) * 7919 % 6000) - 3000 +
                                                            (i % 40 < 20 ? 4000 : -4000));
    return v;
}

TEST(EngineBadBlocks, NegativeAndEmptyBlocksAreReportedOrIgnoredAndChangeNothing) {
    const std::vector<short> x = voiceLike(128 * 12);
    Frames reference;
    {
        VeraxoEngine engine;
        reference.attach(engine);
        engine.input(x.data(), static_cast<int>(x.size()));
    }
    Frames messed;
    veraxo_test::AssertionCapture reports;
    {
        VeraxoEngine engine;
        messed.attach(engine);
        engine.input(x.data(), -5);
        engine.input(nullptr, 0);
        engine.input(x.data(), 0);
        EXPECT_TRUE(messed.spectra.empty());
        // Each empty block is reported once, as the array's missing first element.
        EXPECT_EQ(reports.count(), 3u);
        EXPECT_EQ(reports.count("0 <= i && i < _size"), 3u);
        engine.input(x.data(), 700);
        engine.input(x.data() + 700, -1);
        engine.input(x.data() + 700, static_cast<int>(x.size()) - 700);
    }
    EXPECT_EQ(messed.spectra, reference.spectra);
    EXPECT_EQ(messed.lies, reference.lies);
    EXPECT_EQ(messed.spectra.size(), 12u * 32u);
}

TEST(EngineBadBlocks, SingleSamplesAndOneMillionSampleBlockGiveTheSameFrames) {
    const std::vector<short> x = voiceLike(1000000);
    Frames whole;
    Frames single;
    {
        VeraxoEngine engine;
        whole.attach(engine);
        engine.input(x.data(), static_cast<int>(x.size()));
    }
    {
        VeraxoEngine engine;
        single.attach(engine);
        for (int i = 0; i < 128 * 40 + 3; ++i)
            engine.input(&x[static_cast<std::size_t>(i)], 1);
    }
    ASSERT_EQ(whole.spectra.size(), 1000000u / 128u * 32u);
    ASSERT_EQ(single.lies.size(), 40u);
    EXPECT_TRUE(std::equal(single.spectra.begin(), single.spectra.end(), whole.spectra.begin()));
    EXPECT_TRUE(std::equal(single.lies.begin(), single.lies.end(), whole.lies.begin()));
}

class Recorder {
public:
    void take(const short* p, int n) {
        std::lock_guard<std::mutex> lock(_mutex);
        _blocks.emplace_back(p, p + n);
        _threads.push_back(std::this_thread::get_id());
    }
    std::vector<std::vector<short>> blocks() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _blocks;
    }
    std::vector<std::thread::id> threads() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _threads;
    }

private:
    mutable std::mutex _mutex;
    std::vector<std::vector<short>> _blocks;
    std::vector<std::thread::id> _threads;
};

class VoiceUnitBadSettings : public ::testing::Test {
protected:
    void SetUp() override {
        platform::selectAudioComponent(&script.component);
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&recorder, &Recorder::take));
    }
    void TearDown() override {
        unit.dispose();
        platform::selectAudioComponent(nullptr);
        EXPECT_EQ(script.instancesMade, script.instancesDisposed);
    }
    void set(const char* key, int value) {
        unit.properties.set(VoiceUnit::PropertyKey(key), VoiceUnit::PropertyValue(value));
    }

    TestAudioUnit::Script script;
    Recorder recorder;
    VoiceUnit unit;
};

TEST_F(VoiceUnitBadSettings, SamplingRatesNoDeviceTakesAreRefusedAtInitialize) {
    for (int rate : {0, -8000, 400000}) {
        set(VoiceUnit::Properties::SAMPLING_RATE, rate);
        EXPECT_FALSE(unit.initialize()) << rate;
        EXPECT_EQ(unit.state, VoiceUnit::STATE_FAILED) << rate;
        EXPECT_EQ(unit.audioUnitInstance(), nullptr) << rate;
        EXPECT_TRUE(unit.dispose()) << rate;
    }
    set(VoiceUnit::Properties::SAMPLING_RATE, 8000);
    EXPECT_TRUE(unit.initialize());
    EXPECT_TRUE(unit.start());
}

TEST_F(VoiceUnitBadSettings, AnyNonZeroSeparationHandsBlocksToTheInitialisingThread) {
    set(VoiceUnit::Properties::THREAD_SEPARATION, -7);
    ASSERT_TRUE(unit.initialize());
    ASSERT_TRUE(unit.start());
    script.current->push(voiceLike(64));
    script.current->push(voiceLike(32));
    ASSERT_TRUE(script.current->waitUntilIdle());
    ASSERT_TRUE(platform::RunLoop::current()->runUntil([&] { return recorder.blocks().size() >= 2; }, 5.0));
    for (std::thread::id t : recorder.threads())
        EXPECT_EQ(t, std::this_thread::get_id());
}

TEST_F(VoiceUnitBadSettings, AnOversizedCapturedBlockArrivesWhole) {
    set(VoiceUnit::Properties::THREAD_SEPARATION, 0);
    ASSERT_TRUE(unit.initialize());
    ASSERT_TRUE(unit.start());
    const std::vector<short> big = voiceLike(200000);
    script.current->push(big);
    script.current->push(voiceLike(10));
    ASSERT_TRUE(script.current->waitUntilIdle());
    const std::vector<std::vector<short>> blocks = recorder.blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], big);
    EXPECT_EQ(blocks[1], voiceLike(10));
}

// A canonical 44-byte WAV header over 16-bit PCM, with whatever rate and channel count asked for.
std::string wavBytes(std::uint32_t rate, std::uint16_t channels, const std::vector<short>& samples) {
    auto u32 = [](std::string& s, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    auto u16 = [](std::string& s, std::uint16_t v) {
        s += static_cast<char>(v & 0xff);
        s += static_cast<char>(v >> 8);
    };
    const std::uint32_t data = static_cast<std::uint32_t>(samples.size() * 2);
    std::string s = "RIFF";
    u32(s, 36 + data);
    s += "WAVEfmt ";
    u32(s, 16);
    u16(s, 1);
    u16(s, channels);
    u32(s, rate);
    u32(s, rate * channels * 2);
    u16(s, static_cast<std::uint16_t>(channels * 2));
    u16(s, 16);
    s += "data";
    u32(s, data);
    for (short v : samples)
        u16(s, static_cast<std::uint16_t>(v));
    return s;
}

TEST(AudioFileBadHeaders, ImpossibleRatesAndChannelCountsAreRefusedWithAReason) {
    const std::vector<short> x = voiceLike(4000);
    const struct {
        std::uint32_t rate;
        std::uint16_t channels;
        const char* reason;
    } cases[] = {
        {1, 1, "unsupported sample rate 1 Hz"}, {0, 1, "not an audio file"}, {8000, 0, "not an audio file"}};
    for (const auto& c : cases) {
        const std::string bytes = wavBytes(c.rate, c.channels, x);
        AudioFileReader reader;
        EXPECT_FALSE(reader.openMemory(bytes.data(), bytes.size())) << c.rate << "/" << c.channels;
        EXPECT_NE(reader.errorText().find(c.reason), std::string::npos) << reader.errorText();
        short s;
        EXPECT_EQ(reader.read(&s, 1), -1);
    }
    const std::string good = wavBytes(8000, 1, x);
    AudioFileReader reader;
    ASSERT_TRUE(reader.openMemory(good.data(), good.size())) << reader.errorText();
    std::vector<short> back(5000);
    EXPECT_EQ(reader.read(back.data(), 0), 0);
    EXPECT_EQ(reader.read(back.data(), -3), 0);
    EXPECT_EQ(reader.read(back.data(), 5000), 4000);
    back.resize(4000);
    EXPECT_EQ(back, x);
}

TEST(AudioFileBadHeaders, OddRawLengthsDropTheHalfSampleAndForeignBytesAreNotAudio) {
    const unsigned char three[] = {0x34, 0x12, 0x7f};
    AudioFileReader raw;
    ASSERT_TRUE(raw.openMemory(three, sizeof three, true)) << raw.errorText();
    short out[4] = {0, 0, 0, 0};
    EXPECT_EQ(raw.read(out, 4), 1);
    EXPECT_EQ(out[0], 0x1234);
    EXPECT_EQ(raw.read(out, 4), 0);

    const unsigned char one[] = {0x55};
    AudioFileReader tiny;
    EXPECT_FALSE(tiny.openMemory(one, sizeof one, true));
    EXPECT_FALSE(tiny.errorText().empty());

    std::string noise;
    for (int i = 0; i < 3000; ++i)
        noise += static_cast<char>((i * 131 + 7) & 0xff);
    AudioFileReader foreign;
    EXPECT_FALSE(foreign.openMemory(noise.data(), noise.size()));
    EXPECT_NE(foreign.errorText().find("not an audio file"), std::string::npos) << foreign.errorText();
}

} // namespace
