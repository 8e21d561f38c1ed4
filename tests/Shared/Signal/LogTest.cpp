// ln(1 + v) per value, for blocks of changing length.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Collector.h"
#include "Shared/Signal/Filter/Log.h"
#include "tests/support/assertion_capture.h"

using veraxo_test::AssertionCapture;
using veraxo_test::Collector;

TEST(Log, NaturalLogOfOnePlusValue) {
    Signal::Filter::Log log;
    Collector out;
    log.addOutput(&out);
    const float x[3] = {0.0f, 1.0f, 3.0f};
    log.filter(x, 3);
    ASSERT_EQ(out.blocks.size(), 1u);
    EXPECT_EQ(out.blocks[0][0], 0.0f);
    EXPECT_EQ(out.blocks[0][1], static_cast<float>(std::log(2.0)));
    EXPECT_EQ(out.blocks[0][2], static_cast<float>(std::log(4.0)));
    EXPECT_NEAR(out.blocks[0][1], 0.6931, 1e-4);
    EXPECT_NEAR(out.blocks[0][2], 1.3863, 1e-4);
}

TEST(Log, BlockLengthFollowsTheInput) {
    Signal::Filter::Log log;
    Collector out;
    log.addOutput(&out);
    float x[32];
    for (int i = 0; i < 32; ++i)
        x[i] = static_cast<float>(i);
    log.filter(x, 32);
    log.filter(x + 10, 5);
    ASSERT_EQ(out.lengths, (std::vector<int>{32, 5}));
    EXPECT_EQ(out.blocks[1][0], static_cast<float>(std::log(11.0)));
}

TEST(Log, EmptyBlockIsReportedAndPassedOnEmpty) {
    Signal::Filter::Log log;
    Collector out;
    log.addOutput(&out);
    AssertionCapture capture;
    log.filter(nullptr, 0);
    EXPECT_EQ(capture.count("0 <= i && i < _size"), 1u);
    ASSERT_EQ(out.lengths, (std::vector<int>{0}));
}

// Whatever form runs on this CPU, every value keeps the bits of the plain double formula: floats spread
// over every exponent and sign (NaN and infinity included), the values just above 0 where ln(1 + v) is
// nearly v, and integers, in blocks whose lengths leave every remainder of four.
TEST(Log, EveryValueHasThePlainFormulasBits) {
    std::vector<float> x;
    for (std::uint64_t bits = 0; bits < (1ull << 32); bits += 997) {
        const std::uint32_t b = static_cast<std::uint32_t>(bits);
        float v;
        std::memcpy(&v, &b, sizeof v);
        x.push_back(v);
    }
    for (float v = 1e-12f; v < 1e-3f; v *= 1.001f)
        x.push_back(v);
    for (int v = 0; v < 100000; ++v)
        x.push_back(static_cast<float>(v));
    Signal::Filter::Log log;
    Collector out;
    log.addOutput(&out);
    std::size_t at = 0;
    for (int length = 1; at < x.size(); length = length % 37 + 1) {
        const int n = static_cast<int>(std::min<std::size_t>(length, x.size() - at));
        log.filter(x.data() + at, n);
        at += static_cast<std::size_t>(n);
    }
    std::size_t k = 0, differ = 0;
    for (const std::vector<float>& block : out.blocks)
        for (float y : block) {
            const float want = static_cast<float>(std::log(static_cast<double>(x[k]) + 1.0));
            differ += std::memcmp(&y, &want, sizeof y) != 0 && !(std::isnan(y) && std::isnan(want)) ? 1 : 0;
            ++k;
        }
    EXPECT_EQ(k, x.size());
    EXPECT_EQ(differ, 0u);
}
