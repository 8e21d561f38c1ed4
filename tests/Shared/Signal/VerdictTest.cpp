// Lie-level sequences from the initial state, including the threshold compared in double precision.

#include <gtest/gtest.h>

#include <vector>

#include "Collector.h"
#include "Shared/Signal/Filter/Verdict.h"

using veraxo_test::Collector;

namespace {

struct Scorer {
    Scorer() { verdict.addOutput(&out); }
    float feed(float v, float t, float e0, float e1, float e2) {
        const float block[5] = {v, t, e0, e1, e2};
        verdict.filter(block, 5);
        EXPECT_EQ(out.lengths.back(), 1);
        return out.blocks.back()[0];
    }
    Signal::Filter::Verdict verdict;
    Collector out;
};

} // namespace

TEST(Verdict, GoldenSequences) {
    EXPECT_EQ(Scorer().feed(0, 0, 0, 0, 0), 0.0f);

    Scorer converging;
    const double expected[] = {0.14, 0.182, 0.1946, 0.19838};
    for (double e : expected)
        EXPECT_NEAR(converging.feed(0, 0, 0.2f, 0, 0.2f), e, 1e-6);

    EXPECT_NEAR(Scorer().feed(0, 7, 0.1f, 0, 0.1f), 0.133, 1e-6);
    EXPECT_NEAR(Scorer().feed(0, 5, 0.1f, 0, 0.1f), 0.07, 1e-6);
    EXPECT_NEAR(Scorer().feed(0, 0, 1, 2, 1), 0.07, 1e-6);
    EXPECT_NEAR(Scorer().feed(0, 0, 10, 10, 10), -0.49, 1e-6);

    Scorer voiced;
    EXPECT_NEAR(voiced.feed(1.78f, 0, 0.3f, 0, 0.3f), 0.6461, 1e-6);
    float level = 0.0f;
    for (int i = 0; i < 40; ++i)
        level = voiced.feed(1.78f, 0, 0.3f, 0, 0.3f);
    EXPECT_NEAR(level, 0.923, 1e-6);
}

TEST(Verdict, ThresholdIsComparedInDoublePrecision) {
    // 0.3f lies just above the double 0.3, so a score of exactly 0.3f is replaced by 0.3 - e1 / 10.
    EXPECT_NEAR(Scorer().feed(0, 0, 0.3f, 1.0f, 0.3f), 0.14, 1e-6);
}

TEST(Verdict, LevelAboveOneIsReplacedByTheTransitionTerm) {
    // Only reachable with a voice level far beyond the detector's range.
    Scorer s;
    EXPECT_EQ(s.feed(10.0f, 10.0f, 0, 0, 0), 10.0f / -50.0f + 1.0f);
    // The smoothed level itself keeps the smoothed value: 0.3 * 2.45 + 0.7 * 0 on the next frame.
    EXPECT_NEAR(s.feed(0, 0, 0, 0, 0), 0.735, 1e-6);
}

TEST(Verdict, ShortBlockIsIgnored) {
    Scorer s;
    s.feed(0, 0, 0.2f, 0, 0.2f);
    const float shortBlock[4] = {100, 100, 100, 100};
    s.verdict.filter(shortBlock, 4);
    EXPECT_EQ(s.out.blocks.size(), 1u);
    EXPECT_NEAR(s.feed(0, 0, 0.2f, 0, 0.2f), 0.182, 1e-6);
}
