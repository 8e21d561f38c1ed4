// Long run of the whole capture path: a recording, looped to SOAK_SECONDS of audio, is pushed as fast
// as the consumer takes it through the scriptable audio unit, the voice unit (blocks delivered on the
// audio thread and through the run loop), the analysis engine and, in the build with the views, the
// three live views' newData (their timers running on the test thread's Qt event loop, the widgets never
// shown). After a warm-up it checks that
//   - resident memory stays flat (within 1 MB; not measured under sanitizers, whose bookkeeping grows),
//   - the input callback allocates nothing (with separation 0 it runs the engine and the views too),
//   - no sample is lost (one spectrum frame per completed hop) and every output is well formed,
//   - within one hand-over the consumer never waits on the queue longer than the producer's whole
//     input callback, which contains the queue's critical sections, plus a scheduling allowance,
//   - every audio unit and the port are gone at the end (leaks proper are left to LSan).
// VERAXO_SOAK_SECONDS in the environment overrides the length, for a quick local run.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Shared/VeraxoEngine.h"
#include "Shared/VoiceUnit.h"
#include "platform/MessagePort.h"
#include "platform/RunLoop.h"
#include "platform/TestAudioUnit.h"
#include "sndfile/AudioFileReader.h"
#include "tests/support/alloc_counter.h"

#ifdef VERAXO_SOAK_VIEWS
#include <QCoreApplication>

#include "Shared/SpectrumView.h"
#include "views/GraphView.h"
#include "views/LieIndicator.h"
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VERAXO_SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VERAXO_SOAK_SANITIZED 1
#endif
#endif

namespace {

using platform::TestAudioUnit;
typedef std::chrono::steady_clock Clock;

const int RATE = 8000;
const int BLOCK = 512;
const int BATCH = 8;
const int HOP = 128;
// Time the consumer may lose to the scheduler between two blocks on a loaded machine.
const double SCHEDULING_ALLOWANCE_S = 0.05;

long residentBytes() {
    long pages = 0;
    long resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return -1;
    const int got = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return got == 2 ? resident * sysconf(_SC_PAGESIZE) : -1;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Counts allocations and the duration of every input callback, on the audio thread.
struct Meter {
    long before = 0;
    Clock::time_point start;
    bool armed = false;
    long allocations = 0;
    long callbacks = 0;
    double longestCallback = 0.0;

    static void hook(bool after, void* context) {
        Meter* m = static_cast<Meter*>(context);
        if (!after) {
            m->before = veraxo_test::allocations_on_this_thread();
            m->start = Clock::now();
            return;
        }
        const double took = seconds(Clock::now() - m->start);
        if (!m->armed)
            return;
        m->allocations += veraxo_test::allocations_on_this_thread() - m->before;
        ++m->callbacks;
        if (took > m->longestCallback)
            m->longestCallback = took;
    }
};

#ifdef VERAXO_SOAK_VIEWS
struct Views {
    Views() {
        spectrum.resumeRedraw();
        graph.resumeRedraw();
        indicator.resumeRedraw();
    }
    SpectrumView spectrum;
    GraphView graph;
    LieIndicator indicator;
};
#endif

// The consumer: runs the engine on each block and checks what comes out.
class Consumer {
public:
    Consumer() {
        engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM,
                            brel::callback2<void, const Signal::Sample*, int>(this, &Consumer::spectrum));
        engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL,
                            brel::callback2<void, const Signal::Sample*, int>(this, &Consumer::lie));
    }

    void block(const short* samples, int count) {
        const Clock::time_point in = Clock::now();
        if (inHandOver) {
            const double gap = seconds(in - lastOut);
            if (gap > longestWait)
                longestWait = gap;
        }
        engine.input(samples, count);
        samplesIn += count;
        ++blocks;
        inHandOver = true;
        lastOut = Clock::now();
    }

    void spectrum(const Signal::Sample* data, int length) {
        bool ok = length == 32;
        for (int i = 0; ok && i < length; ++i)
            ok = std::isfinite(data[i]) && data[i] >= 0.0f;
        badOutputs += ok ? 0 : 1;
        ++frames;
#ifdef VERAXO_SOAK_VIEWS
        views.spectrum.newData(data, length);
#endif
    }

    void lie(const Signal::Sample* data, int length) {
        badOutputs += length == 1 && std::isfinite(data[0]) ? 0 : 1;
        lieSum += length == 1 ? data[0] : 0.0;
#ifdef VERAXO_SOAK_VIEWS
        views.graph.newData(data, length);
        views.indicator.newData(data, length);
#endif
    }

#ifdef VERAXO_SOAK_VIEWS
    Views views;
#endif

    VeraxoEngine engine;
    long samplesIn = 0;
    long blocks = 0;
    long frames = 0;
    long badOutputs = 0;
    double lieSum = 0.0;
    // Between two blocks of one hand-over the consumer only gives a block back and takes the next.
    bool inHandOver = false;
    Clock::time_point lastOut;
    double longestWait = 0.0;
};

std::vector<short> loadRecording() {
    AudioFileReader reader;
    std::vector<short> samples;
    if (!reader.open(VERAXO_SOAK_RECORDING))
        return samples;
    short chunk[4096];
    for (int got; (got = reader.read(chunk, 4096)) > 0;)
        samples.insert(samples.end(), chunk, chunk + got);
    return samples;
}

long soakSeconds() {
    if (const char* env = std::getenv("VERAXO_SOAK_SECONDS"))
        return std::atol(env) > 0 ? std::atol(env) : VERAXO_SOAK_DEFAULT_SECONDS;
    return VERAXO_SOAK_DEFAULT_SECONDS;
}

class SoakTest : public ::testing::TestWithParam<int> {};

TEST_P(SoakTest, MemoryFlatNoAllocationNoLossNoLongWait) {
    const int separation = GetParam();
    const std::vector<short> recording = loadRecording();
    ASSERT_GT(recording.size(), static_cast<std::size_t>(RATE)) << "cannot read " << VERAXO_SOAK_RECORDING;

    const long totalBlocks = soakSeconds() * RATE / BLOCK;
    const long warmUpBlocks = totalBlocks / 10 > 0 ? totalBlocks / 10 : 1;
    TestAudioUnit::Script script;
    Meter meter;
    long armedAt = 0;
    long baseline = 0;
    long peak = 0;
    {
        platform::selectAudioComponent(&script.component);
        Consumer consumer;
        VoiceUnit unit;
        unit.ioFlags = VoiceUnit::IO_RECORD;
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_SEPARATION),
                            VoiceUnit::PropertyValue(separation));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&consumer, &Consumer::block));
        ASSERT_TRUE(unit.initialize());
        ASSERT_TRUE(unit.start());
        script.inputHook = &Meter::hook;
        script.inputHookContext = &meter;

        std::vector<short> block(BLOCK);
        std::size_t at = 0;
        long pushed = 0;
        while (pushed < totalBlocks) {
            for (int b = 0; b < BATCH && pushed < totalBlocks; ++b, ++pushed) {
                for (short& s : block) {
                    s = recording[at];
                    at = at + 1 < recording.size() ? at + 1 : 0;
                }
                script.current->push(block);
            }
            if (separation != 0) {
                // The consumer takes blocks while the audio thread is still adding them. A block that
                // arrives alone wakes nobody: once the audio thread is idle, the rest is fetched here.
                ASSERT_TRUE(platform::RunLoop::current()->runUntil(
                    [&] {
                        consumer.inHandOver = false;
                        if (consumer.blocks < pushed && script.current->waitUntilIdle(0.0))
                            unit.dispatchCallbacks();
                        consumer.inHandOver = false;
                        return consumer.blocks == pushed;
                    },
                    30.0));
            }
            ASSERT_TRUE(script.current->waitUntilIdle(30.0));
            ASSERT_EQ(consumer.blocks, pushed) << "blocks lost";
#ifdef VERAXO_SOAK_VIEWS
            QCoreApplication::processEvents();
#endif
            if (!meter.armed && pushed >= warmUpBlocks) {
                meter.armed = true;
                armedAt = pushed;
                baseline = residentBytes();
                peak = baseline;
            } else if (meter.armed && pushed % (BATCH * 16) == 0) {
                const long now = residentBytes();
                peak = now > peak ? now : peak;
            }
        }
        consumer.inHandOver = false;
        const long end = residentBytes();
        peak = end > peak ? end : peak;
        script.inputHook = nullptr;
        EXPECT_TRUE(unit.stop());
        EXPECT_TRUE(unit.dispose());
        platform::selectAudioComponent(nullptr);

        EXPECT_EQ(consumer.samplesIn, totalBlocks * BLOCK);
        EXPECT_EQ(consumer.frames, consumer.samplesIn / HOP) << "one spectrum frame per completed hop";
        EXPECT_EQ(consumer.badOutputs, 0);
        EXPECT_GT(consumer.lieSum, 0.0);
#ifdef VERAXO_SOAK_VIEWS
        EXPECT_EQ(consumer.views.graph.bufferCount(), consumer.frames);
        EXPECT_TRUE(std::isfinite(consumer.views.indicator.lieLevel()));
        EXPECT_GT(consumer.views.indicator.lieLevel(), 0.0f);
#endif
        EXPECT_EQ(meter.allocations, 0) << "allocations in " << meter.callbacks << " input callbacks";
        EXPECT_EQ(meter.callbacks, totalBlocks - armedAt);
        if (separation != 0) {
            EXPECT_LE(consumer.longestWait, meter.longestCallback + SCHEDULING_ALLOWANCE_S);
        }
        std::printf(
            "soak separation %d: %ld s of audio, %ld blocks, %ld frames; resident %.2f MB after warm-up, "
            "peak %.2f MB (growth %ld KB); %ld allocations in %ld measured input callbacks; longest "
            "input callback %.3f ms, longest consumer wait within a hand-over %.3f ms (only with "
            "separation)\n",
            separation, soakSeconds(), consumer.blocks, consumer.frames, baseline / 1048576.0,
            peak / 1048576.0, (peak - baseline) / 1024, meter.allocations, meter.callbacks,
            meter.longestCallback * 1e3, separation != 0 ? consumer.longestWait * 1e3 : 0.0);
    }
    EXPECT_EQ(script.instancesMade, script.instancesDisposed);
    EXPECT_EQ(platform::MessagePort::findRemote("VoiceUnit"), nullptr);
#ifndef VERAXO_SOAK_SANITIZED
    EXPECT_LE(peak - baseline, 1L << 20) << "resident memory grew after warm-up";
#endif
}

// Each length is a test binary of its own; the prefix keeps their test names apart.
INSTANTIATE_TEST_SUITE_P(VERAXO_SOAK_NAME, SoakTest, ::testing::Values(0, 1));

} // namespace
