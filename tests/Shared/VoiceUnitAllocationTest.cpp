// Once the block pool is warm, capturing allocates nothing on the audio thread, whether the blocks are
// delivered there or handed to the initialising thread.

#include "Shared/VoiceUnit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/RunLoop.h"
#include "platform/TestAudioUnit.h"
#include "tests/support/alloc_counter.h"

namespace {

using platform::TestAudioUnit;

struct Meter {
    long before = 0;
    std::atomic<long> allocations{0};
    std::atomic<int> callbacks{0};

    static void hook(bool after, void* context) {
        Meter* m = static_cast<Meter*>(context);
        if (!after) {
            m->before = veraxo_test::allocations_on_this_thread();
            return;
        }
        m->allocations += veraxo_test::allocations_on_this_thread() - m->before;
        ++m->callbacks;
    }
};

struct Sink {
    long sum = 0;
    void take(const short* p, int n) {
        for (int i = 0; i < n; ++i)
            sum += p[i];
    }
};

void capture(int separation, int blocks, Meter& meter) {
    TestAudioUnit::Script script;
    platform::selectAudioComponent(&script.component);
    {
        VoiceUnit unit;
        Sink sink;
        unit.ioFlags = VoiceUnit::IO_RECORD;
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_SEPARATION),
                            VoiceUnit::PropertyValue(separation));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&sink, &Sink::take));
        ASSERT_TRUE(unit.initialize());
        ASSERT_TRUE(unit.start());
        const std::vector<short> block(256, 3);
        // Warm-up: the pool grows to the number of blocks in flight at once.
        for (int i = 0; i < 4; ++i) {
            script.current->push(block);
            ASSERT_TRUE(script.current->waitUntilIdle());
            platform::RunLoop::current()->runOnce(0.01);
        }
        script.inputHook = &Meter::hook;
        script.inputHookContext = &meter;
        for (int i = 0; i < blocks; ++i) {
            script.current->push(block);
            if (i % 2 == 1) {
                ASSERT_TRUE(script.current->waitUntilIdle());
                platform::RunLoop::current()->runOnce(0.01);
            }
        }
        ASSERT_TRUE(script.current->waitUntilIdle());
        script.inputHook = nullptr;
        EXPECT_GT(sink.sum, 0);
        unit.dispose();
    }
    platform::selectAudioComponent(nullptr);
}

TEST(VoiceUnitAllocation, DeliveryOnTheAudioThreadAllocatesNothing) {
    Meter meter;
    capture(0, 40, meter);
    EXPECT_EQ(meter.callbacks.load(), 40);
    EXPECT_EQ(meter.allocations.load(), 0);
}

TEST(VoiceUnitAllocation, HandOverToTheInitialisingThreadAllocatesNothingOnTheAudioThread) {
    Meter meter;
    capture(1, 40, meter);
    EXPECT_EQ(meter.callbacks.load(), 40);
    EXPECT_EQ(meter.allocations.load(), 0);
}

// Blocks pile up while the consumer is busy; the pool must already hold one for each block that can be
// out of it at once, from the very first callback, and a block the full queue refuses goes back to it.
TEST(VoiceUnitAllocation, ABacklogBeyondTheQueueLimitAllocatesNothingFromTheFirstBlock) {
    TestAudioUnit::Script script;
    platform::selectAudioComponent(&script.component);
    Meter meter;
    {
        VoiceUnit unit;
        Sink sink;
        int delivered = 0;
        unit.ioFlags = VoiceUnit::IO_RECORD;
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&sink, &Sink::take));
        ASSERT_TRUE(unit.initialize());
        ASSERT_TRUE(unit.start());
        script.inputHook = &Meter::hook;
        script.inputHookContext = &meter;
        const std::vector<short> block(512, 1);
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < 20; ++i)
                script.current->push(block);
            ASSERT_TRUE(script.current->waitUntilIdle());
            while (platform::RunLoop::current()->runOnce(0.01) > 0) {
            }
            delivered = int(sink.sum / 512);
            EXPECT_EQ(delivered, 16 * (round + 1)) << "the queue holds 16 blocks; the rest are refused";
        }
        script.inputHook = nullptr;
        EXPECT_EQ(meter.callbacks.load(), 60);
        EXPECT_EQ(meter.allocations.load(), 0);
        unit.dispose();
    }
    platform::selectAudioComponent(nullptr);
}

} // namespace
