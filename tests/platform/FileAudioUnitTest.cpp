// The file backend behind a voice unit: a 16-bit mono 8 kHz recording arrives sample for sample, as fast
// as possible or paced in real time, and an unreadable file fails initialize with a reason.

#include "platform/FileAudioUnit.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Shared/VoiceUnit.h"
#include "platform/RunLoop.h"

namespace {

using platform::FileAudioUnit;
using Clock = std::chrono::steady_clock;

std::vector<short> testSignal(int n) {
    std::vector<short> v(static_cast<size_t>(n));
    unsigned state = 12345;
    for (int i = 0; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        v[size_t(i)] = short(int(8000.0 * std::sin(i * 0.05)) + int((state >> 16) % 512) - 256);
    }
    return v;
}

std::string writeWav(const std::vector<short>& samples, const char* tag) {
    std::string path = ::testing::TempDir() + "capture_" + tag + "_" + std::to_string(getpid()) + ".wav";
    SF_INFO info = {};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    if (f != nullptr) {
        sf_write_short(f, samples.data(), sf_count_t(samples.size()));
        sf_close(f);
    }
    return path;
}

struct Collector {
    std::mutex mutex;
    std::vector<short> samples;
    std::vector<std::pair<double, size_t>> arrivals; // seconds since start, samples so far
    Clock::time_point origin = Clock::now();
    void take(const short* p, int n) {
        std::lock_guard<std::mutex> lock(mutex);
        samples.insert(samples.end(), p, p + n);
        arrivals.push_back({std::chrono::duration<double>(Clock::now() - origin).count(), samples.size()});
    }
};

class FileAudioUnitTest : public ::testing::Test {
protected:
    void SetUp() override { platform::selectAudioComponent(FileAudioUnit::component()); }
    void TearDown() override {
        unit.dispose();
        platform::selectAudioComponent(nullptr);
        for (const std::string& p : files)
            unlink(p.c_str());
    }
    void prepare() {
        unit.ioFlags = VoiceUnit::IO_RECORD;
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_SEPARATION),
                            VoiceUnit::PropertyValue(0));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&collector, &Collector::take));
    }
    FileAudioUnit* file() { return static_cast<FileAudioUnit*>(unit.audioUnitInstance()); }
    bool waitFinished(double seconds) {
        const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                         std::chrono::duration<double>(seconds));
        // The voice unit tells the end of the recording as its backend does.
        while (!unit.inputEnded() && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return unit.inputEnded() && file()->finished();
    }

    VoiceUnit unit;
    Collector collector;
    std::vector<std::string> files;
};

TEST_F(FileAudioUnitTest, AsFastAsPossibleDeliversTheFileSampleForSample) {
    const std::vector<short> signal = testSignal(80000 + 77);
    files.push_back(writeWav(signal, "fast"));
    FileAudioUnit::setSource(files.back(), FileAudioUnit::AS_FAST_AS_POSSIBLE, 300);
    prepare();
    ASSERT_TRUE(unit.initialize()) << unit.lastErrorReason();
    EXPECT_FALSE(unit.inputEnded());
    const Clock::time_point started = Clock::now();
    ASSERT_TRUE(unit.start());
    ASSERT_TRUE(waitFinished(20.0));
    const double took = std::chrono::duration<double>(Clock::now() - started).count();
    ASSERT_TRUE(unit.stop());
    std::lock_guard<std::mutex> lock(collector.mutex);
    EXPECT_EQ(collector.samples, signal);
    EXPECT_LT(took, 5.0);
    EXPECT_EQ(collector.arrivals.size(), (signal.size() + 299) / 300);
}

TEST_F(FileAudioUnitTest, RealTimePacingHoldsOverTenSeconds) {
    const std::vector<short> signal = testSignal(80000);
    files.push_back(writeWav(signal, "paced"));
    FileAudioUnit::setSource(files.back(), FileAudioUnit::REAL_TIME, 256);
    prepare();
    ASSERT_TRUE(unit.initialize()) << unit.lastErrorReason();
    collector.origin = Clock::now();
    ASSERT_TRUE(unit.start());
    ASSERT_TRUE(waitFinished(15.0));
    ASSERT_TRUE(unit.stop());
    std::lock_guard<std::mutex> lock(collector.mutex);
    EXPECT_EQ(collector.samples, signal);
    ASSERT_FALSE(collector.arrivals.empty());
    EXPECT_NEAR(collector.arrivals.back().first, 10.0, 0.5);
    // No block arrives before all its samples would have been heard.
    for (const std::pair<double, size_t>& a : collector.arrivals)
        ASSERT_GE(a.first + 0.002, double(a.second) / 8000.0) << a.second;
    // Halfway through, the delivered time stays within 5 % of the elapsed time.
    const std::pair<double, size_t>& mid = collector.arrivals[collector.arrivals.size() / 2];
    EXPECT_NEAR(double(mid.second) / 8000.0, mid.first, 0.05 * mid.first);
}

TEST_F(FileAudioUnitTest, AnInstanceAfterAStopResumesWhereTheLastLeftOffAndRewindStartsOver) {
    const std::vector<short> signal = testSignal(24000 + 55);
    files.push_back(writeWav(signal, "resume"));
    FileAudioUnit::setSource(files.back(), FileAudioUnit::REAL_TIME, 256);
    prepare();
    ASSERT_TRUE(unit.initialize()) << unit.lastErrorReason();
    ASSERT_TRUE(unit.start());
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ASSERT_TRUE(unit.dispose());
    const long long pausedAt = FileAudioUnit::sourcePosition();
    {
        std::lock_guard<std::mutex> lock(collector.mutex);
        ASSERT_EQ(pausedAt, (long long)collector.samples.size()) << "the place is what was delivered";
    }
    EXPECT_GT(pausedAt, 2000);
    EXPECT_LT(pausedAt, 22000);
    EXPECT_FALSE(FileAudioUnit::sourceEnded());

    ASSERT_TRUE(unit.initialize()) << unit.lastErrorReason();
    ASSERT_TRUE(unit.start());
    EXPECT_GE(file()->position(), pausedAt);
    EXPECT_LT(file()->position(), pausedAt + 2048) << "it goes on from there";
    ASSERT_TRUE(waitFinished(10.0));
    ASSERT_TRUE(unit.dispose());
    {
        std::lock_guard<std::mutex> lock(collector.mutex);
        EXPECT_EQ(collector.samples, signal) << "neither a gap nor a repeat at the pause";
        collector.samples.clear();
    }
    EXPECT_TRUE(FileAudioUnit::sourceEnded());
    EXPECT_EQ(FileAudioUnit::sourcePosition(), (long long)signal.size());

    FileAudioUnit::rewind();
    EXPECT_FALSE(FileAudioUnit::sourceEnded());
    ASSERT_TRUE(unit.initialize());
    ASSERT_TRUE(unit.start());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(unit.dispose());
    {
        std::lock_guard<std::mutex> lock(collector.mutex);
        ASSERT_GT(collector.samples.size(), 256u);
        EXPECT_TRUE(std::equal(collector.samples.begin(), collector.samples.end(), signal.begin()))
            << "from the start again";
    }

    // An instance still playing when the source is rewound or replaced keeps its place to itself.
    for (const bool newSource : {false, true}) {
        ASSERT_TRUE(unit.initialize());
        ASSERT_TRUE(unit.start());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_GT(file()->position(), 0);
        if (newSource)
            FileAudioUnit::setSource(files.back(), FileAudioUnit::REAL_TIME, 256);
        else
            FileAudioUnit::rewind();
        ASSERT_TRUE(unit.dispose());
        EXPECT_EQ(FileAudioUnit::sourcePosition(), 0) << (newSource ? "new source" : "rewound");
        ASSERT_TRUE(unit.initialize());
        EXPECT_EQ(file()->position(), 0) << "the next instance starts at the beginning";
        ASSERT_TRUE(unit.dispose());
    }
}

TEST_F(FileAudioUnitTest, UnreadableFileFailsInitializeWithAReason) {
    const std::string missing = ::testing::TempDir() + "no_such_recording.wav";
    FileAudioUnit::setSource(missing);
    prepare();
    EXPECT_FALSE(unit.initialize());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_FAILED);
    EXPECT_EQ(unit.audioUnitInstance(), nullptr);
    EXPECT_NE(unit.lastErrorReason().find("no_such_recording.wav"), std::string::npos)
        << unit.lastErrorReason();
    EXPECT_TRUE(unit.dispose());

    const std::string text = ::testing::TempDir() + "not_audio_" + std::to_string(getpid()) + ".wav";
    files.push_back(text);
    FILE* f = fopen(text.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("this is not a recording\n", f);
    fclose(f);
    FileAudioUnit::setSource(text);
    EXPECT_FALSE(unit.initialize());
    EXPECT_FALSE(unit.lastErrorReason().empty());
    EXPECT_TRUE(unit.dispose());
}

// A recording whose header announces more than the file holds plays up to the break and ends normally,
// with one warning line on standard error naming the file and what is missing.
TEST_F(FileAudioUnitTest, CutShortRecordingPlaysUpToTheBreakWithAWarning) {
    const std::vector<short> signal = testSignal(24000);
    files.push_back(writeWav(signal, "cut"));
    ASSERT_EQ(truncate(files.back().c_str(), 44 + 2 * 10000), 0);
    FileAudioUnit::setSource(files.back(), FileAudioUnit::AS_FAST_AS_POSSIBLE, 256);
    prepare();
    ASSERT_TRUE(unit.initialize()) << unit.lastErrorReason();
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(unit.start());
    const bool finished = waitFinished(20.0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(unit.stop());
    EXPECT_NE(unit.state, VoiceUnit::STATE_FAILED);
    const std::string expected = "the recording \"" + files.back() +
                                 "\" is cut short (the header announces 48000 bytes of audio, the file holds "
                                 "20000); analysed up to the break";
    EXPECT_EQ(file()->warning(), expected);
    EXPECT_EQ(err, "veraxo: warning: " + expected + "\n");
    std::lock_guard<std::mutex> lock(collector.mutex);
    EXPECT_EQ(collector.samples, std::vector<short>(signal.begin(), signal.begin() + 10000));
}

TEST_F(FileAudioUnitTest, OtherCaptureRatesAreRefused) {
    files.push_back(writeWav(testSignal(100), "rate"));
    FileAudioUnit::setSource(files.back());
    prepare();
    unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::SAMPLING_RATE),
                        VoiceUnit::PropertyValue(16000));
    EXPECT_FALSE(unit.initialize());
    EXPECT_NE(unit.lastErrorReason().find("8000"), std::string::npos);
}

} // namespace
