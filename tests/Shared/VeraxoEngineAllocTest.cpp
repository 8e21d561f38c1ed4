// Real-time safety: once the first blocks have passed, feeding the engine allocates nothing.

#include <gtest/gtest.h>

#include <new>
#include <vector>

#include "Shared/VeraxoEngine.h"
#include "tests/support/alloc_counter.h"

namespace {

struct Sink {
    void take(const Signal::Sample* data, int dataLen) {
        for (int i = 0; i < dataLen; ++i)
            sum += data[i];
        ++calls;
    }
    double sum = 0;
    long calls = 0;
};

} // namespace

TEST(VeraxoEngineRealTime, SteadyStateFeedingAllocatesNothing) {
    VeraxoEngine engine;
    Sink spectrum, lie, signal;
    typedef brel::callback2<void, const Signal::Sample*, int> Callback;
    engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, Callback(&spectrum, &Sink::take));
    engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, Callback(&lie, &Sink::take));
    engine.attachOutput(VeraxoEngine::OUTPUT_SIGNAL, Callback(&signal, &Sink::take));

    std::vector<short> block(512);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<short>((i * 7919) % 20000 - 10000);
    // Warm-up: the first blocks size the buffers of the longest block.
    engine.input(block.data(), 512);
    engine.input(block.data(), 512);

    veraxo_test::AllocationCount count;
    for (int round = 0; round < 200; ++round) {
        engine.input(block.data(), 512);
        engine.input(block.data(), 37);
        engine.input(block.data(), 300);
    }
    EXPECT_EQ(count.total(), 0);
    EXPECT_GT(lie.calls, 1000);
    EXPECT_EQ(lie.calls, spectrum.calls);
}

// Running out of memory at any allocation while the engine is built or an output is attached raises
// brel::xout_of_memory, never std::bad_alloc, and a later attempt with memory succeeds.
TEST(VeraxoEngineRealTime, EveryFailedAllocationWhileBuildingRaisesOutOfMemory) {
    typedef brel::callback2<void, const Signal::Sample*, int> Callback;
    Sink lie;
    int outOfMemory = 0, badAlloc = 0;
    bool built = false;
    for (long allowed = 0; !built && allowed < 10000; ++allowed) {
        const char* failure = 0;
        {
            veraxo_test::FailingAllocations limit(allowed);
            try {
                VeraxoEngine engine;
                engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, Callback(&lie, &Sink::take));
                engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, Callback(&lie, &Sink::take));
                built = true;
            } catch (const brel::xout_of_memory&) {
                failure = "xout_of_memory";
            } catch (const std::bad_alloc&) {
                failure = "std::bad_alloc";
            }
        }
        if (failure != 0 && failure[0] == 'x')
            ++outOfMemory;
        else if (failure != 0)
            ++badAlloc;
    }
    EXPECT_TRUE(built);
    EXPECT_GT(outOfMemory, 20);
    EXPECT_EQ(badAlloc, 0);
}
