// Cost of the analysis per 128-sample hop: the whole network as the engine builds it, its transform
// alone, and the same two measured with an FFTW transform in its place, side by side in one run. The
// ratios at the end are what matters; absolute times depend on the machine.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "FftwDFFT.h"
#include "Shared/Signal/Filter/ConvertToFloat.h"
#include "Shared/Signal/Filter/DFFT.h"
#include "Shared/Signal/Filter/Log.h"
#include "Shared/Signal/Filter/Mel.h"
#include "Shared/Signal/Filter/Terminator.h"
#include "Shared/Signal/Filter/Verdict.h"
#include "Shared/Signal/Filter/VoiceDetect.h"
#include "Shared/VeraxoEngine.h"
#include "tests/support/speech_like.h"

namespace {

const int HOP = 128;
const int SIGNAL_LEN = 8000 * 4;

typedef brel::callback2<void, const Signal::Sample*, int> Callback;

// Four seconds of voiced-like sound with pauses, so every filter does its usual work.
const std::vector<short>& testSignal() {
    static std::vector<short> x = veraxo_test::speechLike(SIGNAL_LEN);
    return x;
}

const std::vector<float>& testSignalFloat() {
    static std::vector<float> x = [] {
        std::vector<float> f;
        for (short v : testSignal())
            f.push_back(static_cast<float>(v) / 32767.0f);
        return f;
    }();
    return x;
}

struct Sink {
    void take(const Signal::Sample* data, int dataLen) {
        if (dataLen > 0)
            last = data[0];
    }
    float last = 0.0f;
};

// The engine's network with the engine's transform replaced by the FFTW one.
class YardstickNetwork {
public:
    YardstickNetwork()
        : _fft(256), _mel(8000, 128, 200.0f, 3400.0f), _detect(32), _lieEnd(Callback(&_sink, &Sink::take)),
          _spectrumEnd(Callback(&_sink, &Sink::take)) {
        _convert.addOutput(&_fft);
        _fft.addOutput(&_mel);
        _mel.addOutput(&_detect);
        _mel.addOutput(&_log);
        _detect.addOutput(&_verdict);
        _verdict.addOutput(&_lieEnd);
        _log.addOutput(&_spectrumEnd);
    }
    void input(const short* samples, int count) { _convert.convert(samples, count); }

private:
    Sink _sink;
    Signal::Filter::ConvertToFloat _convert;
    FftwDFFT _fft;
    Signal::Filter::Mel _mel;
    Signal::Filter::Log _log;
    Signal::Filter::VoiceDetect _detect;
    Signal::Filter::Verdict _verdict;
    Signal::Filter::Terminator _lieEnd;
    Signal::Filter::Terminator _spectrumEnd;
};

template <class Network> void feedHops(benchmark::State& state, Network& network, int block) {
    const std::vector<short>& x = testSignal();
    int pos = 0;
    for (auto _ : state) {
        network.input(x.data() + pos, block);
        pos += block;
        if (pos + block > SIGNAL_LEN)
            pos = 0;
    }
    state.SetItemsProcessed(state.iterations() * block);
}

void BM_Network(benchmark::State& state) {
    VeraxoEngine engine;
    Sink sink;
    engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, Callback(&sink, &Sink::take));
    engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, Callback(&sink, &Sink::take));
    feedHops(state, engine, static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(sink.last);
}

void BM_NetworkFftw(benchmark::State& state) {
    YardstickNetwork network;
    feedHops(state, network, static_cast<int>(state.range(0)));
}

template <class Fft> void transformOnly(benchmark::State& state) {
    Fft fft(256);
    Sink sink;
    Signal::Filter::Terminator end((Callback(&sink, &Sink::take)));
    fft.addOutput(&end);
    const std::vector<float>& x = testSignalFloat();
    int pos = 0;
    for (auto _ : state) {
        fft.filter(x.data() + pos, HOP);
        pos += HOP;
        if (pos + HOP > SIGNAL_LEN)
            pos = 0;
    }
    benchmark::DoNotOptimize(sink.last);
    state.SetItemsProcessed(state.iterations() * HOP);
}

void BM_Fft(benchmark::State& state) {
    transformOnly<Signal::Filter::DFFT>(state);
}
void BM_FftFftw(benchmark::State& state) {
    transformOnly<FftwDFFT>(state);
}

// The engine's transform held to the build's baseline instructions, for the gain of the wider path.
struct BaselineDFFT : Signal::Filter::DFFT {
    explicit BaselineDFFT(int size) : DFFT(size, Path::Baseline) {}
};
void BM_FftBaseline(benchmark::State& state) {
    transformOnly<BaselineDFFT>(state);
}

BENCHMARK(BM_Network)->Arg(HOP)->Arg(512);
BENCHMARK(BM_NetworkFftw)->Arg(HOP)->Arg(512);
BENCHMARK(BM_Fft);
BENCHMARK(BM_FftFftw);
BENCHMARK(BM_FftBaseline);

// Keeps the CPU time per iteration of every benchmark for the ratios printed at the end: the median
// when repetitions are asked for, otherwise the single run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                cpuPerIteration[name] = run.GetAdjustedCPUTime();
            else if (run.run_type == Run::RT_Iteration && run.iterations > 0 && run.repetitions <= 1)
                cpuPerIteration[name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> cpuPerIteration;
};

void printRatio(const RatioReporter& r, const char* what, const std::string& ours,
                const std::string& yardstick) {
    const auto a = r.cpuPerIteration.find(ours);
    const auto b = r.cpuPerIteration.find(yardstick);
    if (a == r.cpuPerIteration.end() || b == r.cpuPerIteration.end() || b->second <= 0)
        return;
    std::printf("%-34s %8.1f ns vs %8.1f ns  ratio %.2f\n", what, a->second, b->second,
                a->second / b->second);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nCost against the FFTW yardstick (CPU time per call):\n");
    printRatio(reporter, "whole network per 128-sample hop", "BM_Network/128", "BM_NetworkFftw/128");
    printRatio(reporter, "whole network per 512-sample block", "BM_Network/512", "BM_NetworkFftw/512");
    printRatio(reporter, "transform alone per hop", "BM_Fft", "BM_FftFftw");
    printRatio(reporter, "baseline-path transform per hop", "BM_FftBaseline", "BM_FftFftw");
    benchmark::Shutdown();
    return 0;
}
