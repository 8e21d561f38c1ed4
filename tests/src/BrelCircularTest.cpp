#include "src/brel_circular.h"

#include <gtest/gtest.h>
#include <vector>

#include "tests/support/assertion_capture.h"
#include "tests/support/heap_control.h"
#include "tracked.h"

namespace {

using brel_test::Tracked;

// The elements by position; walking the ring with for_each must give the same sequence.
std::vector<int> contents(const brel::circular_buffer<int>& ring) {
    std::vector<int> v, walked;
    for (int i = 0; i < ring.size(); ++i)
        v.push_back(ring.at(i));
    ring.for_each([&walked](int x) { walked.push_back(x); });
    EXPECT_EQ(walked, v);
    return v;
}

TEST(CircularBuffer, PushBackOnAFullRingDropsTheFront) {
    brel::circular_buffer<int> ring(3);
    for (int v : {1, 2, 3, 4})
        ring.push_back(v);
    EXPECT_EQ(ring.size(), 3);
    EXPECT_EQ(contents(ring), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(ring.front(), 2);
    for (int v : {5, 6, 7})
        ring.push_back(v);
    EXPECT_EQ(contents(ring), (std::vector<int>{5, 6, 7}));
}

TEST(CircularBuffer, PushFrontOnAFullRingDropsTheBack) {
    brel::circular_buffer<int> ring(3);
    for (int v : {1, 2, 3, 4})
        ring.push_front(v);
    EXPECT_EQ(ring.size(), 3);
    EXPECT_EQ(contents(ring), (std::vector<int>{4, 3, 2}));
    ring.push_front(5);
    ring.push_front(6);
    EXPECT_EQ(contents(ring), (std::vector<int>{6, 5, 4}));
}

TEST(CircularBuffer, MixedEndsOverwriteTheOppositeEnd) {
    brel::circular_buffer<int> ring(3);
    ring.push_back(1);
    ring.push_front(0);
    ring.push_back(2);
    EXPECT_EQ(contents(ring), (std::vector<int>{0, 1, 2}));
    ring.push_front(9);
    EXPECT_EQ(contents(ring), (std::vector<int>{9, 0, 1}));
    ring.push_back(3);
    EXPECT_EQ(contents(ring), (std::vector<int>{0, 1, 3}));
}

TEST(CircularBuffer, PopFrontThenPushBackContinuesTheRing) {
    brel::circular_buffer<int> ring(3);
    for (int v : {1, 2, 3, 4})
        ring.push_back(v);
    ring.pop_front();
    EXPECT_EQ(ring.size(), 2);
    EXPECT_EQ(ring.at(0), 3);
    ring.push_back(5);
    EXPECT_EQ(contents(ring), (std::vector<int>{3, 4, 5}));
    ring.pop_front();
    ring.pop_front();
    ring.pop_front();
    EXPECT_EQ(ring.size(), 0);
    ring.push_front(8);
    ring.push_back(9);
    EXPECT_EQ(contents(ring), (std::vector<int>{8, 9}));
}

TEST(CircularBuffer, ClearEmptiesAndTheRingStartsAgain) {
    brel::circular_buffer<int> ring(4);
    for (int v : {1, 2, 3, 4, 5})
        ring.push_back(v);
    ring.clear();
    EXPECT_EQ(ring.size(), 0);
    ring.push_back(7);
    EXPECT_EQ(ring.at(0), 7);
    EXPECT_EQ(ring.front(), 7);
}

TEST(CircularBuffer, CapacityOneHoldsTheLastValuePushedAtEitherEnd) {
    brel::circular_buffer<int> ring(1);
    ring.push_back(1);
    EXPECT_EQ(ring.front(), 1);
    ring.push_back(2);
    EXPECT_EQ(ring.at(0), 2);
    ring.push_front(3);
    EXPECT_EQ(ring.at(0), 3);
    EXPECT_EQ(ring.size(), 1);
    ring.pop_front();
    EXPECT_EQ(ring.size(), 0);
    ring.push_back(4);
    EXPECT_EQ(ring.front(), 4);
}

TEST(CircularBuffer, ElementsAreConstructedAndDestroyedExactlyOnce) {
    {
        brel::circular_buffer<Tracked> ring(3);
        for (int i = 0; i < 5; ++i)
            ring.push_back(Tracked(i));
        ring.push_front(Tracked(9));
        EXPECT_EQ(Tracked::live, 3);
        ring.pop_front();
        EXPECT_EQ(Tracked::live, 2);
        ring.clear();
        EXPECT_EQ(Tracked::live, 0);
        ring.push_back(Tracked(1));
        ring.push_back(Tracked(2));
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST(CircularBufferChecks, PositionPastTheBackIsReportedAndGivesAStandIn) {
    veraxo_test::AssertionCapture capture;
    brel::circular_buffer<int> ring(3);
    ring.push_back(5);
    ring.push_back(6);
    EXPECT_EQ(ring.at(2), 0);
    EXPECT_EQ(capture.count(), 0u);
    EXPECT_EQ(ring.at(3), 0);
    EXPECT_EQ(ring.at(-1), 0);
    const auto reports = capture.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].condition, "pos<=size()");
    EXPECT_EQ(reports[0].file, "src/brel_circular");
    EXPECT_EQ(reports[0].line, 76);
}

TEST(CircularBufferChecks, EmptyAndZeroCapacityRingsStayConsistent) {
    brel::circular_buffer<int> ring(2);
    EXPECT_EQ(ring.front(), 0);
    ring.pop_front();
    EXPECT_EQ(ring.size(), 0);
    ring.push_back(3);
    EXPECT_EQ(contents(ring), std::vector<int>{3});

    brel::circular_buffer<int> none(0);
    none.push_back(1);
    none.push_front(2);
    EXPECT_EQ(contents(none), std::vector<int>{});
    brel::circular_buffer<int> negative(-4);
    negative.push_back(1);
    EXPECT_EQ(negative.capacity(), 0);
    EXPECT_EQ(negative.size(), 0);
}

TEST(CircularBufferChecks, FailedAllocationThrowsOutOfMemory) {
    EXPECT_TRUE(brel_test::runs_out_of_memory(0, [] { brel::circular_buffer<short> ring(1400); }));
}

} // namespace
