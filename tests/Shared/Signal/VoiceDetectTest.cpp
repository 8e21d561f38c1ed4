// Group energies, silence decisions, the transition count and the voice level's rise, clamp and decay.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "Collector.h"
#include "Shared/Signal/Filter/VoiceDetect.h"
#include "tests/support/assertion_capture.h"

using veraxo_test::AssertionCapture;
using veraxo_test::Collector;

namespace {

struct Detector {
    Detector() : vd(32) { vd.addOutput(&out); }
    const std::vector<float>& feed(const std::vector<float>& bands) {
        vd.filter(bands.data(), static_cast<int>(bands.size()));
        return out.blocks.back();
    }
    Signal::Filter::VoiceDetect vd;
    Collector out;
};

std::vector<float> flat(float v) {
    return std::vector<float>(32, v);
}

// Bands 0-7 at a, 8-23 at b, 24-31 at c: e0 = (a + b) / 2, e1 = b, e2 = (b + c) / 2 up to rounding.
std::vector<float> shaped(float a, float b, float c) {
    std::vector<float> x(32, b);
    for (int i = 0; i < 8; ++i) {
        x[i] = a;
        x[24 + i] = c;
    }
    return x;
}

const float VOICED_LEVEL = static_cast<float>(static_cast<double>(static_cast<float>(0.0 + 0.35)) * 0.89);

} // namespace

TEST(VoiceDetect, FirstFrameIsNeverSilentAndCannotRaiseTheLevel) {
    Detector d;
    const std::vector<float>& first = d.feed(shaped(4.0f, 0.1f, 1.0f));
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(first[0], 0.0f);
    EXPECT_EQ(first[1], 0.0f);
    EXPECT_NEAR(first[2], 2.05f, 1e-5);
    EXPECT_NEAR(first[3], 0.1f, 1e-6);
    EXPECT_NEAR(first[4], 0.55f, 1e-5);
}

TEST(VoiceDetect, ZeroAndOneBlocks) {
    Detector d;
    const std::vector<float> zero = d.feed(flat(0.0f));
    EXPECT_EQ(zero, (std::vector<float>{0, 0, 0, 0, 0}));
    // Zero power against a zero average is not silent, so a second zero frame is no transition.
    EXPECT_EQ(d.feed(flat(0.0f))[1], 0.0f);
    EXPECT_EQ(d.vd.calcAvgPower(), 0.0f);

    Detector ones;
    const std::vector<float> one = ones.feed(flat(1.0f));
    EXPECT_EQ(one[2], 1.0f);
    EXPECT_EQ(one[3], 1.0f);
    EXPECT_EQ(one[4], 1.0f);
    EXPECT_EQ(ones.vd.calcAvgPower(), 3.0f);
}

TEST(VoiceDetect, ConstantPowerIsNeverSilentAndTheLevelOnlyDecays) {
    Detector d;
    for (int i = 0; i < 100; ++i) {
        const std::vector<float>& b = d.feed(shaped(4.0f, 0.1f, 1.0f));
        EXPECT_EQ(b[1], 0.0f) << i;
        EXPECT_EQ(b[0], 0.0f) << i;
    }
    EXPECT_EQ(d.vd.countSilentTransitions(), 0);
}

namespace {

// Loud frames, then four silent frames each followed by a loud one, then `loudAfter` loud frames: with
// 55 the first silent frame is the oldest of the 64 remembered once one more frame comes in, so the
// history holds 7 transitions; with 56 it has just dropped out and 6 remain.
void rhythm(Detector& d, int loudAfter) {
    for (int i = 0; i < 64; ++i)
        d.feed(flat(1.0f));
    for (int q = 0; q < 4; ++q) {
        d.feed(flat(0.0f));
        d.feed(flat(1.0f));
    }
    for (int i = 0; i < loudAfter; ++i)
        d.feed(flat(1.0f));
}

} // namespace

TEST(VoiceDetect, LevelRisesWithMoreThanSixTransitionsInAFullHistory) {
    Detector seven;
    rhythm(seven, 55);
    const std::vector<float>& raised = seven.feed(shaped(4.0f, 0.1f, 1.0f));
    EXPECT_EQ(raised[1], 7.0f);
    EXPECT_EQ(raised[0], VOICED_LEVEL);
    EXPECT_NEAR(raised[0], 0.3115, 1e-4);

    Detector six;
    rhythm(six, 56);
    const std::vector<float>& kept = six.feed(shaped(4.0f, 0.1f, 1.0f));
    EXPECT_EQ(kept[1], 6.0f);
    EXPECT_EQ(kept[0], 0.0f);
}

TEST(VoiceDetect, ShapeConditionsGateTheRise) {
    // Each of these fails exactly one of: e0 > 2.5 e1, e2 > 1.2 e1, e0 > e2.
    const std::vector<float> shapes[] = {shaped(4.0f, 1.0f, 3.0f), shaped(4.0f, 0.1f, 0.12f),
                                         shaped(1.0f, 0.1f, 4.0f)};
    for (const std::vector<float>& shape : shapes) {
        Detector d;
        rhythm(d, 55);
        const std::vector<float>& b = d.feed(shape);
        EXPECT_EQ(b[1], 7.0f);
        EXPECT_EQ(b[0], 0.0f);
    }
}

TEST(VoiceDetect, LevelIsClampedBeforeTheDecay) {
    Detector d;
    for (int i = 0; i < 64; ++i) {
        d.feed(flat(0.0f));
        d.feed(shaped(4.0f, 0.1f, 1.0f));
    }
    float peak = 0.0f;
    for (int i = 0; i < 12; ++i) {
        const std::vector<float>& b = d.feed(shaped(4.0f, 0.1f, 1.0f));
        ASSERT_GT(b[1], 6.0f);
        peak = b[0] > peak ? b[0] : peak;
    }
    EXPECT_EQ(peak, 1.78f);
    EXPECT_NEAR(peak, 1.7799999714, 1e-10);
}

TEST(VoiceDetect, TransitionCountFollowsTheWholeHistory) {
    // Random loud, quiet and shaped frames for several times the history length: the count passed on
    // is always the count over every remembered flag.
    Detector d;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> pick(0, 5);
    int rises = 0;
    float previous = 0.0f;
    for (int i = 0; i < 400; ++i) {
        const int p = pick(rng);
        const std::vector<float>& b = d.feed(p < 2   ? flat(0.0f)
                                             : p < 4 ? flat(1.0f)
                                                     : shaped(4.0f, 0.1f, 1.0f));
        ASSERT_EQ(b[1], static_cast<float>(d.vd.countSilentTransitions())) << "frame " << i;
        rises += b[0] > previous ? 1 : 0;
        previous = b[0];
    }
    EXPECT_GT(rises, 0);
}

TEST(VoiceDetect, WrongLengthsAreReported) {
    Detector d;
    std::vector<float> longer = shaped(4.0f, 0.1f, 1.0f);
    longer.push_back(1000.0f);
    AssertionCapture capture;
    const std::vector<float> fromLonger = d.feed(longer);
    EXPECT_TRUE(capture.contains("_spectrumSize==dataLen", "Shared/Signal/Filter/VoiceDetect", 68));
    Detector reference;
    EXPECT_EQ(fromLonger, reference.feed(shaped(4.0f, 0.1f, 1.0f)));

    capture.clear();
    std::unique_ptr<float[]> shorter(new float[31]());
    d.vd.filter(shorter.get(), 31);
    EXPECT_EQ(capture.count("_spectrumSize==dataLen"), 1u);
    EXPECT_EQ(d.out.blocks.size(), 1u);
}

// Spectra too narrow for a real window still give finite blocks: with one band per group each group
// energy is that band, and no size yields NaN.
TEST(VoiceDetect, NarrowSpectraGiveFiniteEnergies) {
    for (int size : {2, 3}) {
        Signal::Filter::VoiceDetect vd(size);
        Collector out;
        vd.addOutput(&out);
        const std::vector<float> bands = {3.0f, 5.0f, 7.0f};
        vd.filter(bands.data(), size);
        vd.filter(bands.data(), size);
        ASSERT_EQ(out.blocks.size(), 2u) << size;
        EXPECT_EQ(out.blocks[0], (std::vector<float>{0, 0, 3.0f, 3.0f, 3.0f})) << size;
        EXPECT_EQ(vd.calcAvgPower(), 9.0f) << size;
    }
    for (int size = 0; size <= 40; ++size) {
        Signal::Filter::VoiceDetect vd(size);
        Collector out;
        vd.addOutput(&out);
        const std::vector<float> bands(static_cast<size_t>(size) + 1, 1.0f);
        AssertionCapture quiet;
        vd.filter(bands.data(), size);
        for (const std::vector<float>& block : out.blocks)
            for (float v : block)
                EXPECT_FALSE(std::isnan(v)) << size;
    }
}
