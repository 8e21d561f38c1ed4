// A recording heard for real: the file backend plays it through PortAudio into the PulseAudio null sink
// of scripts/pulse-null while a PortAudio input records the sink's monitor (8000 Hz mono). Aligned by
// cross-correlation, the monitor holds the recording as the decoder gives it (a 44.1 kHz stereo file and
// an 8 kHz mono one), the analysis got exactly the decoder's samples, and muted nothing is heard. The
// lag from the analysis taking a stretch to its sound reaching the monitor is printed with the output
// latency PortAudio reports. Skips without a reachable server.

#include "platform/PortAudioOutput.h"

#include <gtest/gtest.h>
#include <portaudio.h>
#include <sndfile.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Shared/VoiceUnit.h"
#include "platform/FileAudioUnit.h"
#include "platform/PortAudioUnit.h"
#include "sndfile/AudioFileReader.h"
#include "tests/support/pulse_null.h"

namespace {

using platform::FileAudioUnit;
using Clock = std::chrono::steady_clock;

// Three seconds of chirping bursts (each channel its own), all below 3.4 kHz so that the sink's 8 kHz
// keeps them, as 16-bit PCM; or, at 8000 Hz mono, an excerpt of the sample recording.
std::string writeRecording(int rate, int channels) {
    const std::string path =
        ::testing::TempDir() + "heard_" + std::to_string(rate) + "_" + std::to_string(getpid()) + ".wav";
    std::vector<short> data;
    if (rate == 8000) {
        AudioFileReader reader;
        EXPECT_TRUE(reader.open(VERAXO_SOURCE_DIR "/resources/sample.wav")) << reader.errorText();
        data.resize(3 * 8000);
        reader.read(data.data(), 3 * 8000);
    } else {
        const int frames = 3 * rate;
        data.resize(size_t(frames) * size_t(channels));
        for (int i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            const double envelope = std::fmod(t, 0.37) < 0.25 ? 1.0 : 0.05;
            for (int c = 0; c < channels; ++c) {
                const double f = 300.0 + 150.0 * c + 400.0 * t;
                data[size_t(i * channels + c)] =
                    short(envelope *
                          (6000.0 * std::sin(2 * M_PI * f * t) + 2500.0 * std::sin(2 * M_PI * 1.9 * f * t)));
            }
        }
    }
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr);
    sf_writef_short(f, data.data(), sf_count_t(data.size() / size_t(channels)));
    sf_close(f);
    return path;
}

std::vector<short> decoded(const std::string& path) {
    AudioFileReader reader;
    std::vector<short> all;
    EXPECT_TRUE(reader.open(path));
    short chunk[1000];
    for (int n; (n = reader.read(chunk, 1000)) > 0;)
        all.insert(all.end(), chunk, chunk + n);
    return all;
}

// The sink's monitor, recorded from the default input; when each sample was taken is estimated from
// the first callback.
struct Monitor {
    PaStream* stream = nullptr;
    std::mutex mutex;
    std::vector<short> samples;
    Clock::time_point start;

    static int callback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags, void* user) {
        Monitor* m = static_cast<Monitor*>(user);
        std::lock_guard<std::mutex> lock(m->mutex);
        if (m->samples.empty())
            m->start = Clock::now() - std::chrono::microseconds(long(frames) * 1000000 / 8000);
        const short* in = static_cast<const short*>(input);
        m->samples.insert(m->samples.end(), in, in + frames);
        return paContinue;
    }
    size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return samples.size();
    }
    bool open() {
        return Pa_OpenDefaultStream(&stream, 1, 0, paInt16, 8000, paFramesPerBufferUnspecified, &callback,
                                    this) == paNoError &&
               Pa_StartStream(stream) == paNoError;
    }
    void close() {
        Pa_StopStream(stream);
        Pa_CloseStream(stream);
    }
};

struct Analysis {
    std::mutex mutex;
    std::vector<short> samples;
    Clock::time_point first;
    void take(const short* p, int n) {
        std::lock_guard<std::mutex> lock(mutex);
        if (samples.empty())
            first = Clock::now();
        samples.insert(samples.end(), p, p + n);
    }
};

class PortAudioPlayback : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_PULSE_AUDIO();
        platform::PortAudioUnit::quietAudioLibraries();
        ASSERT_EQ(Pa_Initialize(), paNoError);
        platform::selectAudioComponent(FileAudioUnit::component());
        unit.ioFlags = VoiceUnit::IO_RECORD;
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_SEPARATION),
                            VoiceUnit::PropertyValue(0));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&analysis, &Analysis::take));
    }
    void TearDown() override {
        if (IsSkipped())
            return;
        unit.dispose();
        FileAudioUnit::setSoundOutput(nullptr);
        platform::selectAudioComponent(nullptr);
        Pa_Terminate();
    }
    // Plays the recording at path, whole or from sample `from` on, while the monitor records; what the
    // monitor heard.
    std::vector<short> playAndRecord(const std::string& path, long long from = 0) {
        FileAudioUnit::setSource(path, FileAudioUnit::REAL_TIME, 256);
        FileAudioUnit::seek(from);
        analysis.samples.clear();
        monitor.samples.clear();
        EXPECT_TRUE(monitor.open());
        // The monitor's stream takes a while to deliver its first samples; the sound waits for them.
        for (int i = 0; i < 300 && monitor.size() < 2400; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(unit.initialize() && unit.start()) << unit.lastErrorReason();
        latency = static_cast<FileAudioUnit*>(unit.audioUnitInstance())->outputLatency();
        const Clock::time_point end = Clock::now() + std::chrono::seconds(8);
        while (!unit.inputEnded() && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(unit.inputEnded());
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        unit.dispose();
        monitor.close();
        std::lock_guard<std::mutex> lock(monitor.mutex);
        return monitor.samples;
    }

    VoiceUnit unit;
    Analysis analysis;
    Monitor monitor;
    double latency = 0.0;
};

TEST_F(PortAudioPlayback, TheMonitorHearsTheRecordingAtItsOwnRateAndChannelsAndMutedNothing) {
    FileAudioUnit::setSoundOutput(&platform::PortAudioOutput::make);
    for (const std::pair<int, int>& format : {std::make_pair(8000, 1), std::make_pair(44100, 2)}) {
        SCOPED_TRACE(std::to_string(format.first) + " Hz, " + std::to_string(format.second) + " channels");
        const std::string path = writeRecording(format.first, format.second);
        const std::vector<short> expected = decoded(path);
        FileAudioUnit::takeSilenceNotice();
        const std::vector<short> heard = playAndRecord(path);
        EXPECT_FALSE(FileAudioUnit::takeSilenceNotice()) << "it played";
        EXPECT_TRUE(analysis.samples == expected) << "the analysis saw the decoder's samples";
        // The first two seconds, found in what the monitor heard.
        const std::vector<short> needle(expected.begin(), expected.begin() + 2 * 8000);
        const std::pair<long, double> best = veraxo_test::best_offset(heard, needle.data(), needle.size());
        EXPECT_GE(best.second, 0.9) << "at offset " << best.first << " of " << heard.size();
        const double lag = std::chrono::duration<double>(monitor.start - analysis.first).count() +
                           double(best.first) / 8000.0;
        std::printf("%d Hz, %d channels: correlation %.3f; sound reached the monitor %.0f ms after the "
                    "analysis took it; PortAudio reports an output latency of %.0f ms\n",
                    format.first, format.second, best.second, lag * 1000.0, latency * 1000.0);
        if (format.first == 44100) {
            // Sought one second in: the analysis and the speakers both start there, in step.
            const std::vector<short> later = playAndRecord(path, 8000);
            EXPECT_TRUE(analysis.samples == std::vector<short>(expected.begin() + 8000, expected.end()));
            const std::pair<long, double> found =
                veraxo_test::best_offset(later, expected.data() + 8000, std::size_t(2 * 8000));
            EXPECT_GE(found.second, 0.9) << "at offset " << found.first << " of " << later.size();
            std::printf("sought 1 s in: correlation %.3f, heard %.0f ms after the analysis took it\n",
                        found.second,
                        (std::chrono::duration<double>(monitor.start - analysis.first).count() +
                         double(found.first) / 8000.0) *
                            1000.0);
        }
        unlink(path.c_str());
    }

    FileAudioUnit::setSoundOutput(nullptr);
    const std::string path = writeRecording(8000, 1);
    const Clock::time_point started = Clock::now();
    const std::vector<short> heard = playAndRecord(path);
    EXPECT_GT(std::chrono::duration<double>(Clock::now() - started).count(), 3.0) << "paced as ever";
    EXPECT_TRUE(analysis.samples == decoded(path));
    ASSERT_GT(heard.size(), 8000u);
    int peak = 0;
    for (short v : heard)
        peak = std::max(peak, std::abs(int(v)));
    EXPECT_LT(peak, 64) << "muted, nothing is heard";
    unlink(path.c_str());
}

} // namespace
