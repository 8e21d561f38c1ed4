// The relief's data: colour ramp, line storage, bars, ring order, clearing and bad block lengths.

#include <gtest/gtest.h>

#include "Shared/SpectrumHistory.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/assertion_capture.h"

using namespace SpectrumConstants;

namespace {

Color4u colourOf(float v) {
    Color4u c;
    mapColor(v, c);
    return c;
}

void feed(SpectrumHistory& history, float value, int blocks = 1) {
    float block[SAMPLES];
    for (float& v : block)
        v = value;
    for (int i = 0; i < blocks; ++i)
        history.newData(block, SAMPLES);
}

// The line written k blocks before the newest (0 = newest).
const float* lineBack(const SpectrumFrame& f, int k) {
    return f.data + ((f.head - 1 - k + 2 * LINES) % LINES) * SAMPLES;
}

} // namespace

TEST(MapColor, RampExamples) {
    EXPECT_EQ(colourOf(0.0625f), (Color4u{8, 135, 24, 255}));
    EXPECT_EQ(colourOf(0.3125f), (Color4u{127, 255, 0, 255}));
    EXPECT_EQ(colourOf(0.5625f), (Color4u{255, 127, 0, 255}));
    EXPECT_EQ(colourOf(-1.0f), (Color4u{16, 16, 48, 255}));
    EXPECT_EQ(colourOf(0.0f), (Color4u{16, 16, 48, 255}));
    EXPECT_EQ(colourOf(0.1875f), (Color4u{0, 255, 0, 255}));
    EXPECT_EQ(colourOf(0.4375f), (Color4u{255, 255, 0, 255}));
    // x clamps at 6: the last entry, without reading past the table.
    EXPECT_EQ(colourOf(0.75f), (Color4u{255, 0, 0, 255}));
    EXPECT_EQ(colourOf(1000.0f), (Color4u{255, 0, 0, 255}));
}

TEST(SpectrumHistory, FirstBandIsAlwaysZeroAndColoursFollowTheValues) {
    SpectrumHistory history;
    float block[SAMPLES];
    for (int i = 0; i < SAMPLES; ++i)
        block[i] = 0.01f * static_cast<float>(i + 1);
    history.newData(block, SAMPLES);
    SpectrumFrame f;
    history.snapshot(f);
    EXPECT_EQ(f.head, 1);
    EXPECT_EQ(f.data[0], 0.0f);
    EXPECT_EQ(f.imgData[0], (Color4u{16, 16, 48, 255}));
    for (int i = 1; i < SAMPLES; ++i) {
        EXPECT_EQ(f.data[i], block[i]);
        EXPECT_EQ(f.imgData[i], colourOf(block[i]));
    }
    // The next line is still cleared.
    EXPECT_EQ(f.imgData[SAMPLES], (Color4u{16, 16, 32, 255}));
}

TEST(SpectrumHistory, BarsFollowTheirBandGroupsAndClampAtOne) {
    SpectrumHistory history;
    feed(history, 1.0f);
    SpectrumFrame f;
    history.snapshot(f);
    // Three updates for most bars, four for bar 5 (bands 16-19).
    float three = 0.0f;
    for (int i = 0; i < 3; ++i)
        three = static_cast<float>(0.93 * three + 0.22 * 1.0);
    const float four = static_cast<float>(0.93 * three + 0.22 * 1.0);
    for (int b = 0; b < BARS; ++b)
        EXPECT_EQ(f.bars[b], b == 5 ? four : three) << "bar " << b;
    EXPECT_NEAR(f.bars[0], 0.6149, 1e-4);
    EXPECT_NEAR(f.bars[5], 0.7918, 1e-4);

    feed(history, 1.0f, 3);
    history.snapshot(f);
    for (float bar : f.bars)
        EXPECT_EQ(bar, 1.0f);
    feed(history, 1.0f, 5);
    history.snapshot(f);
    for (float bar : f.bars)
        EXPECT_EQ(bar, 1.0f);
}

TEST(SpectrumHistory, RingWrapsAfterLinesBlocks) {
    SpectrumHistory history;
    for (int k = 0; k < LINES; ++k)
        feed(history, 0.001f * static_cast<float>(k + 1));
    SpectrumFrame f;
    history.snapshot(f);
    EXPECT_EQ(f.head, 0);
    EXPECT_EQ(lineBack(f, 0)[5], 0.001f * LINES);
    feed(history, 0.5f);
    history.snapshot(f);
    EXPECT_EQ(f.head, 1);
    EXPECT_EQ(f.data[5], 0.5f);
    EXPECT_EQ(f.data[SAMPLES + 5], 0.002f);
}

TEST(SpectrumHistory, ClearDataTakesEffectAtOnceAndTheNextBlockStartsAtHeadZero) {
    SpectrumHistory history;
    feed(history, 1.0f, 10);
    history.clearData();
    SpectrumFrame f;
    history.snapshot(f);
    EXPECT_EQ(f.head, 0);
    EXPECT_EQ(f.bars[0], 0.0f);
    EXPECT_EQ(f.data[SAMPLES * 3 + 4], 0.0f);
    EXPECT_EQ(f.imgData[SAMPLES * 3 + 4], (Color4u{16, 16, 32, 255}));

    feed(history, 1.0f);
    history.snapshot(f);
    EXPECT_EQ(f.head, 1);
    EXPECT_EQ(f.data[4], 1.0f);
    EXPECT_EQ(f.data[SAMPLES * 3 + 4], 0.0f);
    EXPECT_NEAR(f.bars[0], 0.6149, 1e-4);
}

TEST(SpectrumHistory, WrongLengthIsReportedAndStaysInsideOneLine) {
    veraxo_test::AssertionCapture capture;
    SpectrumHistory history;
    float block[64];
    for (float& v : block)
        v = 1.0f;
    history.newData(block, 31);
    history.newData(block, 33);
    history.newData(block, 64);
    history.newData(nullptr, 32);
    EXPECT_EQ(capture.count("length == SAMPLES"), 3u);
    for (const auto& r : capture.reports())
        EXPECT_EQ(r.file, "Shared/SpectrumView");

    SpectrumFrame f;
    history.snapshot(f);
    EXPECT_EQ(f.head, 4);
    // 31 values: the missing last one is 0.
    EXPECT_EQ(f.data[30], 1.0f);
    EXPECT_EQ(f.data[31], 0.0f);
    // 33 and 64 values: one whole line, nothing beyond it.
    EXPECT_EQ(f.data[SAMPLES + 31], 1.0f);
    EXPECT_EQ(f.data[2 * SAMPLES + 31], 1.0f);
    EXPECT_EQ(f.data[2 * SAMPLES], 0.0f);
    // No data at all: a line of zeros.
    for (int j = 0; j < SAMPLES; ++j)
        EXPECT_EQ(f.data[3 * SAMPLES + j], 0.0f);
    EXPECT_EQ(f.data[4 * SAMPLES + 1], 0.0f);
}

TEST(SpectrumHistory, NewDataDoesNotAllocate) {
    SpectrumHistory history;
    history.clearData();
    float block[SAMPLES] = {};
    veraxo_test::AllocationCount count;
    for (int i = 0; i < 200; ++i)
        history.newData(block, SAMPLES);
    EXPECT_EQ(count.total(), 0);
}
