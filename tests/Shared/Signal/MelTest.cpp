// Mel scale, the engine's band layout and the filtering of right and wrong block lengths.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "Collector.h"
#include "Shared/Signal/Filter/Mel.h"
#include "tests/support/assertion_capture.h"

using Signal::Filter::Mel;
using veraxo_test::AssertionCapture;
using veraxo_test::Collector;

TEST(MelScale, GoldenValueAndRoundTrip) {
    EXPECT_NEAR(Mel::mel(700.0f), 1127.01048 * std::log(2.0), 1e-3);
    EXPECT_NEAR(Mel::mel(700.0f), 781.18, 0.01);
    for (float f : {0.0f, 200.0f, 1000.0f, 3400.0f})
        EXPECT_NEAR(Mel::melInv(Mel::mel(f)), f, 1e-6 * f + 1e-4) << f;
}

TEST(MelBands, EngineLayout) {
    const Mel mel(8000, 128, 200.0f, 3400.0f);
    const Mel::Bin& b0 = mel.getBin(0);
    EXPECT_EQ(b0.getStart(), 6);
    ASSERT_EQ(b0.getLength(), 2);
    EXPECT_NEAR(b0.getWeight(0), 0.5424, 1e-4);
    EXPECT_NEAR(b0.getWeight(1), 0.4576, 1e-4);

    const Mel::Bin& b1 = mel.getBin(1);
    EXPECT_EQ(b1.getStart(), 8);
    ASSERT_EQ(b1.getLength(), 1);
    EXPECT_EQ(b1.getWeight(0), 1.0f);

    const Mel::Bin& b11 = mel.getBin(11);
    EXPECT_EQ(b11.getStart(), 25);
    ASSERT_EQ(b11.getLength(), 3);
    EXPECT_NEAR(b11.getWeight(0), 0.3466, 1e-4);
    EXPECT_NEAR(b11.getWeight(1), 0.3333, 1e-4);
    EXPECT_NEAR(b11.getWeight(2), 0.3201, 1e-4);

    const Mel::Bin& b31 = mel.getBin(31);
    EXPECT_EQ(b31.getStart(), 100);
    EXPECT_EQ(b31.getLength(), 6);

    // Band edges in Hz from the same mel arithmetic the bands use.
    const float mLow = Mel::mel(200.0f);
    const float width = (Mel::mel(3400.0f) - mLow) * 0.03125f;
    EXPECT_NEAR(Mel::melInv(mLow + width * -0.5f), 178.93, 0.01);
    EXPECT_NEAR(Mel::melInv(mLow), 200.0, 0.01);
    EXPECT_NEAR(Mel::melInv(mLow + width * 0.5f), 221.58, 0.01);
    const float c31 = mLow + width * 31.0f;
    EXPECT_NEAR(Mel::melInv(c31), 3210.25, 0.01);
    EXPECT_NEAR(Mel::melInv(c31 + width * 0.5f), 3304.00, 0.01);

    // Bands cover bins 6 to 105, each 1 to 6 bins, in order, with weights summing to 1.
    int end = 0;
    for (int i = 0; i < 32; ++i) {
        const Mel::Bin& b = mel.getBin(i);
        EXPECT_GE(b.getLength(), 1) << i;
        EXPECT_LE(b.getLength(), 6) << i;
        EXPECT_GE(b.getStart(), end - 1) << i;
        end = b.getStart() + b.getLength();
        float sum = 0.0f;
        for (int j = 0; j < b.getLength(); ++j)
            sum += b.getWeight(j);
        EXPECT_NEAR(sum, 1.0f, 1e-6) << i;
    }
    EXPECT_EQ(end, 106);
}

TEST(MelFilter, ZerosAndOnes) {
    Mel mel(8000, 128, 200.0f, 3400.0f);
    Collector out;
    mel.addOutput(&out);
    std::vector<float> zeros(128, 0.0f), ones(128, 1.0f);
    mel.filter(zeros.data(), 128);
    mel.filter(ones.data(), 128);
    ASSERT_EQ(out.blocks.size(), 2u);
    ASSERT_EQ(out.lengths[0], 32);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(out.blocks[0][i], 0.0f);
        EXPECT_NEAR(out.blocks[1][i], 1.0f, 1e-6);
    }
}

TEST(MelFilter, BandValueIsTheWeightedSumOfItsBins) {
    Mel mel(8000, 128, 200.0f, 3400.0f);
    Collector out;
    mel.addOutput(&out);
    std::vector<float> x(128);
    for (int i = 0; i < 128; ++i)
        x[i] = static_cast<float>(i);
    mel.filter(x.data(), 128);
    ASSERT_EQ(out.blocks.size(), 1u);
    const Mel::Bin& b0 = mel.getBin(0);
    EXPECT_EQ(out.blocks[0][0], 0.0f + 6.0f * b0.getWeight(0) + 7.0f * b0.getWeight(1));
    EXPECT_EQ(out.blocks[0][1], 8.0f);
}

TEST(MelFilter, WrongLengthIsReportedAndOnlyFilteredWhenAllBandsFit) {
    Mel mel(8000, 128, 200.0f, 3400.0f);
    Collector out;
    mel.addOutput(&out);
    std::vector<float> x(129);
    for (int i = 0; i < 129; ++i)
        x[i] = static_cast<float>(i % 7);
    mel.filter(x.data(), 128);
    {
        AssertionCapture capture;
        mel.filter(x.data(), 127);
        mel.filter(x.data(), 129);
        EXPECT_EQ(capture.count(), 2u);
        EXPECT_TRUE(capture.contains("dataLen == _spectrumLen", "Shared/Signal/Filter/Mel", 114));
    }
    ASSERT_EQ(out.blocks.size(), 3u);
    EXPECT_EQ(out.blocks[1], out.blocks[0]);
    EXPECT_EQ(out.blocks[2], out.blocks[0]);

    // Too short to hold every band: reported, skipped, and nothing past the block is read.
    std::unique_ptr<float[]> shortBlock(new float[100]());
    AssertionCapture capture;
    mel.filter(shortBlock.get(), 100);
    EXPECT_EQ(capture.count("dataLen == _spectrumLen"), 1u);
    EXPECT_EQ(out.blocks.size(), 3u);
}

TEST(MelBands, BandsPastTheLastBinAreCutAtTheSpectrumEnd) {
    // The top bands reach beyond 3968.75 Hz, the last bin of a 128-value spectrum at 8000 Hz.
    Mel mel(8000, 128, 200.0f, 4500.0f);
    for (int i = 0; i < 32; ++i) {
        const Mel::Bin& b = mel.getBin(i);
        EXPECT_GE(b.getLength(), 0) << i;
        EXPECT_LE(b.getStart() + b.getLength(), 128) << i;
    }
    Collector out;
    mel.addOutput(&out);
    std::vector<float> ones(128, 1.0f);
    mel.filter(ones.data(), 128);
    ASSERT_EQ(out.blocks.size(), 1u);
}
