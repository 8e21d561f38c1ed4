// Attachment points, callback order and the network's wiring, checked against the filters chained by
// hand.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Shared/Signal/Filter/ConvertToFloat.h"
#include "Shared/Signal/Filter/DFFT.h"
#include "Shared/Signal/Filter/Log.h"
#include "Shared/Signal/Filter/Mel.h"
#include "Shared/Signal/Filter/Verdict.h"
#include "Shared/Signal/Filter/VoiceDetect.h"
#include "Shared/VeraxoEngine.h"
#include "tests/Shared/Signal/Collector.h"

namespace {

typedef brel::callback2<void, const Signal::Sample*, int> SampleCallback;

struct Log {
    std::vector<std::string> calls;
};

// One attachable receiver that records its name and every block it is given.
struct Receiver {
    Receiver(std::string name, Log* log) : name(name), log(log) {}
    void take(const Signal::Sample* data, int dataLen) {
        log->calls.push_back(name);
        blocks.emplace_back(data, data + dataLen);
    }
    SampleCallback callback() { return SampleCallback(this, &Receiver::take); }
    std::string name;
    Log* log;
    std::vector<std::vector<float>> blocks;
};

std::vector<short> noise(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    std::vector<short> x(n);
    for (short& v : x)
        v = static_cast<short>(dist(rng));
    return x;
}

} // namespace

TEST(VeraxoEngine, UnknownOutputTypeAttachesNothing) {
    VeraxoEngine engine;
    Log log;
    Receiver r("r", &log);
    EXPECT_FALSE(engine.attachOutput(static_cast<VeraxoEngine::OutputType>(3), r.callback()));
    EXPECT_FALSE(engine.attachOutput(static_cast<VeraxoEngine::OutputType>(-1), r.callback()));
    const std::vector<short> x = noise(1024, 1);
    engine.input(x.data(), 1024);
    EXPECT_TRUE(log.calls.empty());
}

TEST(VeraxoEngine, LieLevelComesBeforeSpectrumAndCallbacksInAttachmentOrder) {
    VeraxoEngine engine;
    Log log;
    Receiver spectrum("spectrum", &log), lie1("lie1", &log), lie2("lie2", &log);
    ASSERT_TRUE(engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, spectrum.callback()));
    ASSERT_TRUE(engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, lie1.callback()));
    ASSERT_TRUE(engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, lie2.callback()));

    const std::vector<short> x = noise(128 * 3, 2);
    engine.input(x.data(), 127);
    EXPECT_TRUE(log.calls.empty());
    engine.input(x.data() + 127, 128 * 3 - 127);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"lie1", "lie2", "spectrum", "lie1", "lie2", "spectrum",
                                                   "lie1", "lie2", "spectrum"}));
    for (const std::vector<float>& b : lie1.blocks)
        EXPECT_EQ(b.size(), 1u);
    EXPECT_EQ(lie1.blocks, lie2.blocks);
    for (const std::vector<float>& b : spectrum.blocks)
        EXPECT_EQ(b.size(), 32u);
}

TEST(VeraxoEngine, SignalOutputGetsEveryBlockConvertedAfterTheAnalysis) {
    VeraxoEngine engine;
    Log log;
    Receiver signal("signal", &log), lie("lie", &log);
    ASSERT_TRUE(engine.attachOutput(VeraxoEngine::OUTPUT_SIGNAL, signal.callback()));
    ASSERT_TRUE(engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, lie.callback()));
    const short x[3] = {32767, 0, -32768};
    engine.input(x, 3);
    std::vector<short> hop(128, 100);
    engine.input(hop.data(), 128);
    ASSERT_EQ(signal.blocks.size(), 2u);
    EXPECT_EQ(signal.blocks[0], (std::vector<float>{1.0f, 0.0f, -32768.0f / 32767.0f}));
    EXPECT_EQ(signal.blocks[1].size(), 128u);
    EXPECT_EQ(signal.blocks[1][0], 100.0f / 32767.0f);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"signal", "lie", "signal"}));
}

TEST(VeraxoEngine, MatchesTheFiltersChainedByHand) {
    VeraxoEngine engine;
    Log log;
    Receiver spectrum("spectrum", &log), lie("lie", &log);
    engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, spectrum.callback());
    engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, lie.callback());

    Signal::Filter::ConvertToFloat convert;
    Signal::Filter::DFFT fft(256);
    Signal::Filter::Mel mel(8000, 128, 200.0f, 3400.0f);
    Signal::Filter::Log logFilter;
    Signal::Filter::VoiceDetect detect(32);
    Signal::Filter::Verdict verdict;
    veraxo_test::Collector spectrumOut, lieOut;
    convert.addOutput(&fft);
    fft.addOutput(&mel);
    mel.addOutput(&detect);
    mel.addOutput(&logFilter);
    detect.addOutput(&verdict);
    verdict.addOutput(&lieOut);
    logFilter.addOutput(&spectrumOut);

    // Bursts of noise and silence, so the voice chain sees changing powers.
    std::vector<short> x = noise(8000 * 3, 3);
    for (std::size_t i = 0; i < x.size(); ++i)
        if ((i / 2000) % 2)
            x[i] = static_cast<short>(x[i] / 200);
    for (std::size_t pos = 0; pos < x.size(); pos += 500) {
        const int n = static_cast<int>(std::min<std::size_t>(500, x.size() - pos));
        engine.input(x.data() + pos, n);
        convert.convert(x.data() + pos, n);
    }
    ASSERT_EQ(spectrum.blocks.size(), x.size() / 128);
    EXPECT_EQ(spectrum.blocks, spectrumOut.blocks);
    EXPECT_EQ(lie.blocks, lieOut.blocks);
}
