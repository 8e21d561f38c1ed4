// ln(1 + v) per value, for blocks of changing length.

#include <gtest/gtest.h>

#include <cmath>

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
