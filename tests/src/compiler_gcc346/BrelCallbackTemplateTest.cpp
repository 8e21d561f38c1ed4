#include "src/compiler_gcc346/brel_callback_template.h"

#include <gtest/gtest.h>
#include <type_traits>
#include <vector>

#include "tests/support/assertion_capture.h"

namespace {

struct Listener {
    virtual ~Listener() = default;
    virtual int heard(const short* samples, int count) {
        last = samples;
        lastCount = count;
        return count;
    }
    const short* last = nullptr;
    int lastCount = -1;
};

struct LoudListener : Listener {
    int heard(const short* samples, int count) override { return Listener::heard(samples, count) * 100; }
};

struct Padding {
    virtual ~Padding() = default;
    long pad[3] = {};
};

// The bound member lives in the second base, so calling it needs the object adjustment of the member
// pointer.
struct Recorder : Padding, Listener {
    std::vector<int> log;
    void record(const short* samples, int count) { log.push_back(samples[0] + count); }
};

using SampleCallback = brel::callback2<int, const short*, int>;

static_assert(std::is_trivially_copyable_v<SampleCallback>);

TEST(Callback, ArgumentsArriveInOrderAndTheResultIsReturned) {
    Listener listener;
    SampleCallback cb(&listener, &Listener::heard);
    const short block[4] = {1, 2, 3, 4};
    EXPECT_EQ(cb(block, 4), 4);
    EXPECT_EQ(listener.last, block);
    EXPECT_EQ(listener.lastCount, 4);
}

TEST(Callback, VirtualMemberCallsTheOverrideOfTheDynamicClass) {
    LoudListener loud;
    Listener* asBase = &loud;
    SampleCallback cb(asBase, &Listener::heard);
    const short sample = 0;
    EXPECT_EQ(cb(&sample, 3), 300);
    EXPECT_EQ(loud.lastCount, 3);
}

TEST(Callback, CopiesCallTheSameObject) {
    Listener first, second;
    SampleCallback a(&first, &Listener::heard);
    SampleCallback b(a);
    SampleCallback c;
    c = b;
    SampleCallback d(&second, &Listener::heard);
    const short sample = 0;
    c(&sample, 7);
    d(&sample, 9);
    EXPECT_EQ(first.lastCount, 7);
    EXPECT_EQ(second.lastCount, 9);
}

TEST(Callback, MemberOfASecondBaseReachesTheRightSubobject) {
    Recorder recorder;
    brel::callback2<void, const short*, int> cb(&recorder, &Recorder::record);
    SampleCallback viaBase(&recorder, &Listener::heard);
    const short sample = 5;
    cb(&sample, 2);
    EXPECT_EQ(viaBase(&sample, 6), 6);
    EXPECT_EQ(recorder.log, std::vector<int>{7});
    EXPECT_EQ(recorder.lastCount, 6);
}

TEST(Callback, UnboundCallIsReportedAndReturnsAValueInitialisedResult) {
    veraxo_test::AssertionCapture capture;
    SampleCallback unbound;
    EXPECT_FALSE(unbound.is_bound());
    const short sample = 1;
    EXPECT_EQ(unbound(&sample, 1), 0);
    brel::callback2<void, const short*, int> silent;
    silent(&sample, 1);
    EXPECT_EQ(capture.count(), 2u);
    EXPECT_TRUE(capture.contains("_call != 0", "src/compiler_gcc346/brel_callback_template", 51));
}

} // namespace
