// Output lists, fan-out order, terminators, conversion and chain linking.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Collector.h"
#include "Shared/Signal/Filter/ConvertToFloat.h"
#include "Shared/Signal/Filter/Terminator.h"
#include "Shared/Signal/Processor.h"
#include "tests/support/assertion_capture.h"

using Signal::Filter::Base;
using veraxo_test::AssertionCapture;
using veraxo_test::Collector;

namespace {

// Records which filter saw a block, in order, into a log shared by several instances.
class Named : public Base {
public:
    Named(std::string name, std::vector<std::string>* log) : _name(name), _log(log) {}
    void filter(const Signal::Sample* data, int dataLen) override {
        _log->push_back(_name);
        output(data, dataLen);
    }

private:
    std::string _name;
    std::vector<std::string>* _log;
};

struct Receiver {
    void take(const Signal::Sample* data, int dataLen) {
        calls++;
        lastData = data;
        lastLen = dataLen;
    }
    int calls = 0;
    const Signal::Sample* lastData = nullptr;
    int lastLen = -1;
};

} // namespace

TEST(FilterBase, OutputsAreIndexedAndRemovedEveryTime) {
    Collector a, f, g;
    EXPECT_EQ(a.getOutput(0), nullptr);
    a.addOutput(&f);
    a.addOutput(&g);
    a.addOutput(&f);
    a.addOutput(&f);
    EXPECT_EQ(a.getOutput(a.getOutputCount()), nullptr);
    EXPECT_EQ(a.removeOutput(&f), 3);
    ASSERT_EQ(a.getOutputCount(), 1);
    EXPECT_EQ(a.getOutput(0), &g);
    EXPECT_EQ(a.removeOutput(&f), 0);
    EXPECT_EQ(a.getOutputCount(), 1);
}

TEST(FilterBase, NegativeIndexIsReportedAndGivesNull) {
    Collector a, f;
    a.addOutput(&f);
    AssertionCapture capture;
    EXPECT_EQ(a.getOutput(-1), nullptr);
    EXPECT_TRUE(capture.contains("0 <= i && i < _size", "src/brel_array", 491));
}

TEST(FilterBase, FanOutIsDepthFirstInRegistrationOrder) {
    std::vector<std::string> log;
    Named root("root", &log), x("x", &log), y("y", &log), xChild("x.child", &log);
    root.addOutput(&x);
    root.addOutput(&y);
    x.addOutput(&xChild);
    const float v = 1.0f;
    root.filter(&v, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"root", "x", "x.child", "y"}));
}

TEST(Terminator, CallsOnlyItsCallbackEvenWithOutputs) {
    Receiver r;
    Signal::Filter::Terminator t(brel::callback2<void, const Signal::Sample*, int>(&r, &Receiver::take));
    Collector extra;
    t.addOutput(&extra);
    const float block[3] = {1, 2, 3};
    t.filter(block, 3);
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.lastData, block);
    EXPECT_EQ(r.lastLen, 3);
    EXPECT_TRUE(extra.blocks.empty());
}

TEST(ConvertToFloat, DividesBy32767) {
    Signal::Filter::ConvertToFloat convert;
    Collector out;
    convert.addOutput(&out);
    const short samples[3] = {32767, 0, -32768};
    convert.convert(samples, 3);
    ASSERT_EQ(out.blocks.size(), 1u);
    ASSERT_EQ(out.lengths[0], 3);
    EXPECT_EQ(out.blocks[0][0], 1.0f);
    EXPECT_EQ(out.blocks[0][1], 0.0f);
    EXPECT_EQ(out.blocks[0][2], -32768.0f / 32767.0f);
    EXPECT_NEAR(out.blocks[0][2], -1.0000305, 1e-7);
}

TEST(ConvertToFloat, EmptyBlockIsReportedAndPassedOnEmpty) {
    Signal::Filter::ConvertToFloat convert;
    Collector out;
    convert.addOutput(&out);
    AssertionCapture capture;
    convert.convert(nullptr, 0);
    EXPECT_EQ(capture.count("0 <= i && i < _size"), 1u);
    ASSERT_EQ(out.lengths.size(), 1u);
    EXPECT_EQ(out.lengths[0], 0);
}

TEST(Processor, AppendLinksBehindTheBackAndKeepsEarlierOutputsFirst) {
    Signal::Processor empty;
    EXPECT_EQ(empty.getFrontFilter(), nullptr);
    EXPECT_EQ(empty.getBackFilter(), nullptr);

    std::vector<std::string> log;
    Signal::Processor chain;
    Named* a = new Named("a", &log);
    chain.appendFilter(brel::auto_ptr<Base>(a));
    EXPECT_EQ(chain.getFrontFilter(), a);
    EXPECT_EQ(chain.getBackFilter(), a);
    EXPECT_EQ(a->getOutputCount(), 0);

    Named x("x", &log);
    a->addOutput(&x);
    Named* b = new Named("b", &log);
    EXPECT_TRUE(chain.appendFilter(brel::auto_ptr<Base>(b)));
    EXPECT_EQ(chain.getFrontFilter(), a);
    EXPECT_EQ(chain.getBackFilter(), b);
    ASSERT_EQ(a->getOutputCount(), 2);
    EXPECT_EQ(a->getOutput(0), &x);
    EXPECT_EQ(a->getOutput(1), b);

    const float v = 0.5f;
    a->filter(&v, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"a", "x", "b"}));
}
