// Time from a block entering the voice unit's input callback to the last sample callback returning,
// with the scriptable audio unit feeding 256-sample blocks as fast as they are taken and delivery on
// the audio thread (as the application runs it). Measured on the audio thread itself around the input
// callback, so the stand-in's own hand-over is not counted. Reports the median and the 99th percentile;
// the budget is 1 % of a 256-sample period at 8000 Hz (320 µs).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "Shared/VeraxoEngine.h"
#include "Shared/VoiceUnit.h"
#include "platform/TestAudioUnit.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
    Clock::time_point started;
    std::vector<double> seconds;
    static void hook(bool after, void* context) {
        Timer* t = static_cast<Timer*>(context);
        if (!after)
            t->started = Clock::now();
        else
            t->seconds.push_back(std::chrono::duration<double>(Clock::now() - t->started).count());
    }
};

struct Sink {
    long sum = 0;
    void take(const short* p, int n) {
        if (n > 0)
            sum += p[0] + p[n - 1];
    }
};

void captureBlocks(benchmark::State& state, bool withEngine) {
    platform::TestAudioUnit::Script script;
    platform::selectAudioComponent(&script.component);
    VeraxoEngine engine;
    Sink sink;
    Timer timer;
    {
        VoiceUnit unit;
        unit.ioFlags = VoiceUnit::IO_RECORD;
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_SEPARATION),
                            VoiceUnit::PropertyValue(0));
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_IS_TIMESHARE),
                            VoiceUnit::PropertyValue(1));
        if (withEngine)
            unit.callbacks.push_back(VoiceUnit::SampleCallback(&engine, &VeraxoEngine::input));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&sink, &Sink::take));
        if (!unit.initialize() || !unit.start()) {
            state.SkipWithError("the voice unit did not start");
            return;
        }
        std::vector<short> block(256);
        unsigned seed = 1;
        for (short& s : block) {
            seed = seed * 1103515245u + 12345u;
            s = short(int((seed >> 16) % 16384) - 8192);
        }
        for (int i = 0; i < 32; ++i)
            script.current->push(block);
        script.current->waitUntilIdle();
        timer.seconds.reserve(1 << 20);
        script.inputHookContext = &timer;
        script.inputHook = &Timer::hook;
        for (auto _ : state) {
            const size_t before = timer.seconds.size();
            script.current->push(block);
            script.current->waitUntilIdle();
            state.SetIterationTime(timer.seconds.size() > before ? timer.seconds.back() : 0.0);
        }
        script.inputHook = nullptr;
        unit.dispose();
    }
    platform::selectAudioComponent(nullptr);
    std::vector<double> sorted(timer.seconds);
    std::sort(sorted.begin(), sorted.end());
    if (!sorted.empty()) {
        state.counters["p50_us"] = sorted[sorted.size() / 2] * 1e6;
        state.counters["p99_us"] = sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)] * 1e6;
        state.counters["p99_share_of_period_pct"] =
            sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)] / (256.0 / 8000.0) * 100.0;
    }
    benchmark::DoNotOptimize(sink.sum);
}

void BM_CaptureThroughQueueAndDispatch(benchmark::State& state) {
    captureBlocks(state, false);
}
void BM_CaptureIntoEngine(benchmark::State& state) {
    captureBlocks(state, true);
}

BENCHMARK(BM_CaptureThroughQueueAndDispatch)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(20000);
BENCHMARK(BM_CaptureIntoEngine)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(20000);

} // namespace

BENCHMARK_MAIN();
