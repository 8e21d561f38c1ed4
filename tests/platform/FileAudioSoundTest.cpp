// A recording heard through the file backend, with the speakers played by a test double whose pulls the
// test makes itself: the analysis gets the decoder's samples whatever the pulls, pauses and mutes, the
// speakers get the source's own frames, an output that is missing, refuses to start, ends or freezes
// leaves the recording paced in silence with one notice, and a warm pull allocates nothing.

#include "platform/FileAudioUnit.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Shared/VeraxoEngine.h"
#include "Shared/VoiceUnit.h"
#include "platform/TestSoundOutput.h"
#include "sndfile/AudioFileReader.h"
#include "tests/support/alloc_counter.h"

namespace {

using platform::FileAudioUnit;
using platform::TestSoundOutput;
using Clock = std::chrono::steady_clock;

// A tone sweep with a different tone per channel, written as 16-bit PCM.
std::string writeRecording(int rate, int channels, double seconds, const char* tag) {
    const std::string path = ::testing::TempDir() + "sound_" + tag + "_" + std::to_string(getpid()) + ".wav";
    const int frames = int(rate * seconds);
    std::vector<short> data(size_t(frames) * size_t(channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            data[size_t(i * channels + c)] =
                short(9000.0 * std::sin(double(i) * (0.01 + 0.002 * c) * (1.0 + double(i) / frames)));
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    if (f != nullptr) {
        sf_writef_short(f, data.data(), frames);
        sf_close(f);
    }
    return path;
}

std::vector<short> decoded(const std::string& path) {
    AudioFileReader reader;
    std::vector<short> all;
    EXPECT_TRUE(reader.open(path)) << reader.errorText();
    short chunk[1000];
    for (int n; (n = reader.read(chunk, 1000)) > 0;)
        all.insert(all.end(), chunk, chunk + n);
    return all;
}

std::vector<float> sourceFrames(const std::string& path) {
    SF_INFO info = {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<float> all(size_t(info.frames) * size_t(info.channels));
    sf_readf_float(f, all.data(), info.frames);
    sf_close(f);
    return all;
}

struct Collector {
    std::mutex mutex;
    std::vector<short> samples;
    void take(const short* p, int n) {
        std::lock_guard<std::mutex> lock(mutex);
        samples.insert(samples.end(), p, p + n);
    }
    std::vector<short> all() {
        std::lock_guard<std::mutex> lock(mutex);
        return samples;
    }
};

class FileAudioSound : public ::testing::Test {
protected:
    void SetUp() override {
        platform::selectAudioComponent(FileAudioUnit::component());
        TestSoundOutput::use(&script);
        FileAudioUnit::setSoundOutput(&TestSoundOutput::make);
        FileAudioUnit::takeSilenceNotice();
        unit.ioFlags = VoiceUnit::IO_RECORD;
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_SEPARATION),
                            VoiceUnit::PropertyValue(0));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&collector, &Collector::take));
    }
    void TearDown() override {
        unit.dispose();
        FileAudioUnit::setSoundOutput(nullptr);
        TestSoundOutput::use(nullptr);
        platform::selectAudioComponent(nullptr);
        for (const std::string& p : files)
            unlink(p.c_str());
    }
    FileAudioUnit* file() { return static_cast<FileAudioUnit*>(unit.audioUnitInstance()); }
    bool listen() { return unit.initialize() && unit.start(); }
    bool waitEnded(double seconds) {
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(int(seconds * 1000));
        while (!unit.inputEnded() && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return unit.inputEnded();
    }
    // Pulls blocks of varying lengths until `frames` source frames were played or the recording ended;
    // what the speakers got is appended to heard. The analysis never runs ahead of the sound.
    void pullFor(long long frames, std::vector<float>& heard) {
        TestSoundOutput* out = script.current.load();
        ASSERT_NE(out, nullptr);
        const int channels = script.channels;
        const unsigned long blocks[] = {37, 512, 1000, 4096, 1};
        std::vector<float> buffer(4096 * size_t(channels));
        const long long until = file()->framesPlayed() + frames;
        for (int i = 0; file()->framesPlayed() < until && !file()->finished(); ++i) {
            const long long before = file()->framesPlayed();
            ASSERT_TRUE(out->pull(buffer.data(), std::min<unsigned long>(blocks[i % 5], until - before)));
            const long long played = file()->framesPlayed() - before;
            heard.insert(heard.end(), buffer.begin(), buffer.begin() + played * channels);
            if (!file()->finished()) {
                // Within a sample: a silent stretch before leaves its frame rounded down.
                ASSERT_LE(file()->position(), file()->framesPlayed() * 8000 / script.rate + 1);
            }
            if (played == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    TestSoundOutput::Script script;
    VoiceUnit unit;
    Collector collector;
    std::vector<std::string> files;
};

TEST_F(FileAudioSound, TheAnalysisTakesTheDecodersSamplesAndTheSpeakersTheSourceFramesAcrossPausesAndMutes) {
    for (const std::pair<int, int>& format :
         {std::make_pair(44100, 2), std::make_pair(8000, 1), std::make_pair(96000, 6)}) {
        SCOPED_TRACE(std::to_string(format.first) + " Hz, " + std::to_string(format.second) + " channels");
        files.push_back(writeRecording(format.first, format.second, 2.5, "whole"));
        const std::vector<float> source = sourceFrames(files.back());
        FileAudioUnit::setSource(files.back(), FileAudioUnit::REAL_TIME, 256);
        collector.samples.clear();

        // Heard for a while, paused.
        ASSERT_TRUE(listen()) << unit.lastErrorReason();
        EXPECT_TRUE(file()->playing());
        EXPECT_EQ(script.rate, format.first);
        EXPECT_EQ(script.channels, format.second);
        std::vector<float> heard;
        pullFor(format.first / 2, heard);
        ASSERT_TRUE(unit.dispose());
        ASSERT_EQ(heard.size(), size_t(format.first / 2 * format.second));
        EXPECT_TRUE(std::equal(heard.begin(), heard.end(), source.begin())) << "the file's own frames";

        // Muted for a while: paced as before, by the timer.
        FileAudioUnit::setSoundOutput(nullptr);
        ASSERT_TRUE(listen());
        EXPECT_FALSE(file()->playing());
        // Paced in real time once positioned, however slowly a sanitizer build gets there.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (file()->position() < 8000 * 6 / 10 + 256 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(unit.dispose());
        FileAudioUnit::setSoundOutput(&TestSoundOutput::make);

        // Heard to the end, from where the silence left off.
        ASSERT_TRUE(listen());
        const long long resumedAt = file()->framesPlayed();
        EXPECT_GT(resumedAt, format.first / 2 + format.first / 10);
        heard.clear();
        pullFor(format.first * 10LL, heard);
        ASSERT_TRUE(waitEnded(2.0));
        ASSERT_TRUE(unit.dispose());
        ASSERT_EQ(heard.size(), source.size() - size_t(resumedAt * format.second));
        EXPECT_TRUE(std::equal(heard.begin(), heard.end(), source.begin() + resumedAt * format.second));
        EXPECT_TRUE(collector.all() == decoded(files.back())) << "sample for sample, whatever the pauses";
        EXPECT_FALSE(FileAudioUnit::takeSilenceNotice());
    }

    // Shorter than one pull: heard and analysed whole, ended once the device's share was played too.
    files.push_back(writeRecording(8000, 1, 0.005, "short"));
    FileAudioUnit::setSource(files.back(), FileAudioUnit::REAL_TIME, 256);
    collector.samples.clear();
    ASSERT_TRUE(listen());
    std::vector<float> heard;
    pullFor(1 << 20, heard);
    EXPECT_TRUE(file()->finished());
    EXPECT_TRUE(heard == sourceFrames(files.back()));
    EXPECT_TRUE(collector.all() == decoded(files.back()));
}

TEST_F(FileAudioSound, AMissingFailingOrStuckOutputLeavesTheTimerAsTheClockAndSaysSoOnce) {
    files.push_back(writeRecording(8000, 1, 1.2, "fail"));
    const std::vector<short> expected = decoded(files.back());
    enum { MISSING, WONT_START, ENDS, FREEZES };
    for (int fault : {MISSING, WONT_START, ENDS, FREEZES}) {
        SCOPED_TRACE(fault);
        FileAudioUnit::setSource(files.back(), FileAudioUnit::REAL_TIME, 256);
        collector.samples.clear();
        script.failOpen = fault == MISSING;
        script.failStart = fault == WONT_START;
        const Clock::time_point started = Clock::now();
        ASSERT_TRUE(listen()) << unit.lastErrorReason();
        if (fault == ENDS || fault == FREEZES) {
            EXPECT_TRUE(file()->playing());
            std::vector<float> heard;
            pullFor(4000, heard);
            fault == ENDS ? script.current.load()->fail() : script.current.load()->freeze();
        }
        std::string reason;
        if (fault >= ENDS) {
            EXPECT_FALSE(FileAudioUnit::takeSilenceNotice()) << "not before it happens";
        }
        ASSERT_TRUE(waitEnded(5.0));
        EXPECT_FALSE(file()->playing());
        ASSERT_TRUE(unit.dispose());
        EXPECT_TRUE(collector.all() == expected) << "analysed whole, sample for sample";
        EXPECT_GT(std::chrono::duration<double>(Clock::now() - started).count(), 0.5) << "paced, not rushed";
        EXPECT_TRUE(FileAudioUnit::takeSilenceNotice(&reason));
        EXPECT_FALSE(reason.empty());
        EXPECT_FALSE(FileAudioUnit::takeSilenceNotice()) << "once";
    }
    // The device is back at the next listen.
    script.failOpen = script.failStart = false;
    FileAudioUnit::rewind();
    const int opened = script.opened.load();
    ASSERT_TRUE(listen());
    EXPECT_TRUE(file()->playing());
    EXPECT_EQ(script.opened.load(), opened + 1);
}

TEST_F(FileAudioSound, AWarmPullIntoTheAnalysisAllocatesNothing) {
    VeraxoEngine engine;
    struct Frames {
        long count = 0;
        void take(const Signal::Sample*, int) { ++count; }
    } frames;
    engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL,
                        brel::callback2<void, const Signal::Sample*, int>(&frames, &Frames::take));
    unit.callbacks.push_back(VoiceUnit::SampleCallback(&engine, &VeraxoEngine::input));
    collector.samples.reserve(60000);
    files.push_back(writeRecording(44100, 2, 5.0, "alloc"));
    FileAudioUnit::setSource(files.back(), FileAudioUnit::REAL_TIME, 256);
    ASSERT_TRUE(listen()) << unit.lastErrorReason();
    TestSoundOutput* out = script.current.load();
    std::vector<float> buffer(2 * 512);
    auto pull = [&](int times) {
        for (int i = 0; i < times; ++i) {
            ASSERT_TRUE(out->pull(buffer.data(), 512));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    pull(40);
    const long long delivered = file()->samplesDelivered();
    veraxo_test::AllocationCount count;
    pull(300);
    EXPECT_EQ(count.on_this_thread(), 0);
    EXPECT_GT(file()->samplesDelivered() - delivered, 300 * 512 * 8000 / 44100 - 256) << "the pulls analysed";
    EXPECT_GT(frames.count, 200);
}

} // namespace
