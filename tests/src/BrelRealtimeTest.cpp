// The operations the audio thread uses must not touch the heap once storage has reached its steady
// size; growth must be seen by the allocation counter, which watches both operator new and
// brel::allocate.

#include <gtest/gtest.h>

#include "src/brel_array.h"
#include "src/brel_assoc.h"
#include "src/brel_circular.h"
#include "src/brel_string2.h"
#include "src/compiler_gcc346/brel_callback_template.h"
#include "tests/support/alloc_counter.h"

namespace {

struct Sink {
    void take(const short* samples, int count) { total += samples[0] * count; }
    long total = 0;
};

struct Less {
    bool operator()(const char* a, const char* b) const { return a < b; }
};

struct Value {
    int number = 0;
    brel::string2 text;
};

TEST(RealTime, GrowthIsCountedThroughBothAllocationPaths) {
    brel::array<float> values;
    brel::ptr_array<int> pointers;
    veraxo_test::AllocationCount count;
    values.push_back(1.0f);
    EXPECT_EQ(count.total(), 1);
    int x = 0;
    pointers.push_back(&x);
    EXPECT_EQ(count.total(), 2);
    brel::string2 s("a string longer than sixteen characters");
    EXPECT_EQ(count.total(), 3);
}

TEST(RealTime, SteadyStateOperationsDoNotAllocate) {
    brel::array<float> buffer;
    buffer.resize(512, 0.0f);
    brel::circular_buffer<float> history(64);
    Sink sink;
    brel::array<brel::callback2<void, const short*, int>> callbacks;
    callbacks.push_back(brel::callback2<void, const short*, int>(&sink, &Sink::take));
    brel::assoc_array<const char*, Value, Less> table;
    static const char* const key = "KEY";
    table.set(key, Value{8000, {}});
    brel::string2 shared("a string longer than sixteen characters");

    veraxo_test::AllocationCount count;
    const short block[4] = {2, 0, 0, 0};
    for (int round = 0; round < 100; ++round) {
        buffer.resize(round % 2 ? 256 : 512, 0.0f);
        buffer[0] = 1.0f;
        history.push_front(buffer[0]);
        history.push_back(history.at(1));
        for (int i = 0; i < callbacks.size(); ++i)
            callbacks[i](block, 4);
        Value copy = table[key];
        EXPECT_EQ(copy.number, 8000);
        brel::string2 sharer(shared);
        EXPECT_EQ(sharer.c_str(), shared.c_str());
    }
    EXPECT_EQ(count.total(), 0);
    EXPECT_EQ(sink.total, 800);
    EXPECT_EQ(history.size(), 64);
}

} // namespace
