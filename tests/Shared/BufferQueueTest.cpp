// Order, recycling, refusal and clearing of the buffer queue.

#include "Shared/BufferQueue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

typedef brel::auto_ptr<brel::array<short>> Block;

Block blockOf(int n, short first) {
    Block b(new brel::array<short>());
    for (int i = 0; i < n; ++i)
        b->push_back(short(first + i));
    return b;
}

TEST(BufferQueue, NewQueueHasNoFullBufferAndHandsOutZeroedBuffers) {
    BufferQueue<short> q;
    EXPECT_EQ(q.getFull().get(), nullptr);
    Block b = q.getEmpty(5);
    ASSERT_NE(b.get(), nullptr);
    ASSERT_EQ(b->size(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ((*b)[i], 0);
    EXPECT_EQ(q.getEmpty(0)->size(), 0);
}

TEST(BufferQueue, FullBuffersComeOutOldestFirst) {
    BufferQueue<short> q;
    Block a = blockOf(1, 1), b = blockOf(1, 2), c = blockOf(1, 3);
    brel::array<short>* pa = a.get();
    brel::array<short>* pb = b.get();
    brel::array<short>* pc = c.get();
    EXPECT_EQ(q.addFull(a), 1);
    EXPECT_EQ(q.addFull(b), 2);
    EXPECT_EQ(q.addFull(c), 3);
    EXPECT_EQ(a.get(), nullptr);
    Block x = q.getFull(), y = q.getFull(), z = q.getFull();
    EXPECT_EQ(x.get(), pa);
    EXPECT_EQ(y.get(), pb);
    EXPECT_EQ(z.get(), pc);
    EXPECT_EQ(q.getFull().get(), nullptr);
}

TEST(BufferQueue, EmptyBuffersAreReusedInTheOrderGivenBack) {
    BufferQueue<short> q;
    Block a = blockOf(2, 1), b = blockOf(2, 5);
    brel::array<short>* pa = a.get();
    brel::array<short>* pb = b.get();
    q.addEmpty(a);
    q.addEmpty(b);
    EXPECT_EQ(a.get(), nullptr);
    Block first = q.getEmpty(2), second = q.getEmpty(2), third = q.getEmpty(2);
    EXPECT_EQ(first.get(), pa);
    EXPECT_EQ(second.get(), pb);
    EXPECT_NE(third.get(), pa);
    EXPECT_NE(third.get(), pb);
}

TEST(BufferQueue, SeventeenthFullBufferIsRefusedAndStaysWithTheCaller) {
    BufferQueue<short> q;
    std::vector<brel::array<short>*> queued;
    for (int i = 0; i < 16; ++i) {
        Block b = blockOf(1, short(i));
        queued.push_back(b.get());
        EXPECT_EQ(q.addFull(b), i + 1);
    }
    Block extra = blockOf(1, 99);
    brel::array<short>* pe = extra.get();
    EXPECT_EQ(q.addFull(extra), 16);
    EXPECT_EQ(extra.get(), pe);
    EXPECT_EQ((*extra)[0], 99);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(q.getFull().get(), queued[size_t(i)]) << i;
    EXPECT_EQ(q.getFull().get(), nullptr);
}

TEST(BufferQueue, RecycledBufferKeepsOldSamplesBelowTheNewLengthAndZeroesTheRest) {
    BufferQueue<short> q;
    Block b = blockOf(512, 1);
    q.addEmpty(b);
    Block shorter = q.getEmpty(256);
    ASSERT_EQ(shorter->size(), 256);
    EXPECT_EQ((*shorter)[0], 1);
    EXPECT_EQ((*shorter)[255], 256);

    Block full = blockOf(512, 1);
    q.addEmpty(full);
    Block longer = q.getEmpty(600);
    ASSERT_EQ(longer->size(), 600);
    EXPECT_EQ((*longer)[511], 512);
    for (int i = 512; i < 600; ++i)
        ASSERT_EQ((*longer)[i], 0) << i;
}

TEST(BufferQueue, ClearDropsBothListsAndTheQueueStillWorks) {
    BufferQueue<short> q;
    Block a = blockOf(3, 1), b = blockOf(3, 1);
    q.addFull(a);
    q.addEmpty(b);
    q.clear();
    EXPECT_EQ(q.getFull().get(), nullptr);
    Block fresh = q.getEmpty(3);
    EXPECT_EQ((*fresh)[0], 0);
    Block c = blockOf(1, 7);
    EXPECT_EQ(q.addFull(c), 1);
}

TEST(BufferQueue, ProducerAndConsumerThreadsLoseNothingBelowTheLimit) {
    BufferQueue<int> q;
    const int total = 5000;
    std::thread producer([&] {
        for (int i = 0; i < total; ++i) {
            brel::auto_ptr<brel::array<int>> b = q.getEmpty(1);
            (*b)[0] = i;
            while (q.addFull(b) == 16 && b.get() != 0)
                std::this_thread::yield();
        }
    });
    int expected = 0;
    while (expected < total) {
        brel::auto_ptr<brel::array<int>> b = q.getFull();
        if (b.get() == 0) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ((*b)[0], expected);
        ++expected;
        q.addEmpty(b);
    }
    producer.join();
}

} // namespace
