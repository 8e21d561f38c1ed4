// One thread feeds the views as the audio thread does while this thread draws them, as the main
// thread does. Every frame must see whole lines in the order they were written; under ThreadSanitizer
// the run must also be free of data races.

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Shared/SpectrumHistory.h"
#include "views/GraphView.h"
#include "views/LevelHandover.h"
#include "views/LieIndicator.h"

using namespace SpectrumConstants;

namespace {

float valueOf(int k) {
    return 0.001f * static_cast<float>(k);
}

} // namespace

namespace {

// Empty when every line of the frame is whole and the lines run oldest to newest; else what is wrong.
std::string checkFrame(const SpectrumFrame& frame) {
    float previous = 0.0f;
    for (int i = 0; i < LINES; ++i) {
        const int base = ((frame.head + i) % LINES) * SAMPLES;
        const float v = frame.data[base + 1];
        Color4u colour = {16, 16, 32, 255};
        if (v != 0.0f)
            mapColor(v, colour);
        for (int j = 1; j < SAMPLES; ++j)
            if (frame.data[base + j] != v || !(frame.imgData[base + j] == colour))
                return "half-written line";
        // Each written line follows the one before; the counter wraps from 1000 to 1.
        if (previous > 0.0f && v != valueOf(1) && std::abs((v - previous) - valueOf(1)) > 1e-6f)
            return "lines out of order";
        previous = v;
    }
    return "";
}

} // namespace

TEST(ViewsThreads, SpectrumFramesSeeWholeLinesInOrder) {
    SpectrumHistory history;
    const int blocks = 20000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        float block[SAMPLES];
        for (int k = 1; k <= blocks; ++k) {
            for (float& v : block)
                v = valueOf(k % 1000 + 1);
            history.newData(block, SAMPLES);
        }
        done = true;
    });
    SpectrumFrame frame;
    int frames = 0;
    std::string problem;
    while ((!done || frames == 0) && problem.empty()) {
        history.snapshot(frame);
        ++frames;
        problem = checkFrame(frame);
    }
    writer.join();
    EXPECT_EQ(problem, "") << "in frame " << frames;
    EXPECT_GT(frames, 0);
}

TEST(ViewsThreads, HandoverDeliversValuesInOrderWithoutTearing) {
    LevelHandover handover;
    const int values = 200000;
    std::thread writer([&] {
        for (int k = 1; k <= values; ++k)
            handover.push(static_cast<float>(k));
    });
    std::vector<float> out(LevelHandover::CAPACITY);
    float last = 0.0f;
    bool inOrder = true;
    while (last < values && inOrder) {
        const int n = handover.take(out.data(), LevelHandover::CAPACITY);
        for (int i = 0; i < n && inOrder; ++i) {
            // Values may be lost when the reader falls a whole ring behind, never torn or reordered.
            inOrder = out[i] > last && (i == 0 || out[i] == out[i - 1] + 1.0f);
            last = out[i];
        }
    }
    writer.join();
    EXPECT_TRUE(inOrder) << "after " << last;
    EXPECT_EQ(last, static_cast<float>(values));
}

TEST(ViewsThreads, GraphAndIndicatorPaintWhileFed) {
    GraphView graph;
    graph.resize(320, 80);
    LieIndicator indicator;
    indicator.resize(200, 20);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int k = 0; k < 20000; ++k) {
            const float value = static_cast<float>(k % 100) / 100.0f;
            indicator.newData(&value, 1);
            graph.newData(&value, 1);
        }
        done = true;
    });
    int paints = 0;
    while (!done || paints == 0) {
        EXPECT_FALSE(graph.grab().isNull());
        EXPECT_FALSE(indicator.grab().isNull());
        ++paints;
    }
    writer.join();
    EXPECT_EQ(graph.bufferCount(), 20000);
    EXPECT_GE(indicator.lieLevel(), 0.0f);
    EXPECT_LE(indicator.lieLevel(), 1.0f);
}
