// The proxy between the engine's callbacks and the views: it calls the bound member function with
// the arguments unchanged, and copying moves the call instead of sharing it.

#include "app/CallbackProxy2.h"

#include "src/compiler_gcc346/brel_callback_template.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Receiver {
    void newData(const float* data, int length) { calls.push_back({data, length}); }
    struct Call {
        const float* data;
        int length;
    };
    std::vector<Call> calls;
};

struct Doubler {
    int twice(int a, int b) { return 2 * (a + b); }
};

using Proxy = CallbackProxy2<void, const float*, int>;

TEST(CallbackProxy2, PerformPassesTheBlockAndItsLengthToTheTarget) {
    Receiver receiver;
    Proxy proxy(&receiver, &Receiver::newData);
    const float block[3] = {0.25f, 0.5f, 0.75f};
    proxy.perform(block, 3);
    ASSERT_EQ(receiver.calls.size(), 1u);
    EXPECT_EQ(receiver.calls[0].data, block);
    EXPECT_EQ(receiver.calls[0].length, 3);

    Doubler doubler;
    CallbackProxy2<int, int, int> bound(&doubler, &Doubler::twice);
    EXPECT_EQ(bound.perform(3, 4), 14);
}

TEST(CallbackProxy2, CopyingMovesTheCallAndEmptiesTheSource) {
    Receiver receiver;
    Proxy source(&receiver, &Receiver::newData);
    Proxy copy(source);
    EXPECT_TRUE(source.isEmpty());
    EXPECT_FALSE(copy.isEmpty());

    const float value = 1.0f;
    source.perform(&value, 1);
    EXPECT_TRUE(receiver.calls.empty()) << "an empty proxy calls nothing";
    CallbackProxy2<int, int, int> empty;
    EXPECT_EQ(empty.perform(1, 2), 0);
    copy.perform(&value, 1);
    EXPECT_EQ(receiver.calls.size(), 1u);
}

TEST(CallbackProxy2, AssigningATemporaryHandsItsCallToTheMember) {
    Receiver first;
    Receiver second;
    Proxy member;
    EXPECT_TRUE(member.isEmpty());
    member = Proxy(&first, &Receiver::newData);
    // Replacing the call releases the old one and calls only the new target.
    member = Proxy(&second, &Receiver::newData);
    const float value = 0.5f;
    member.perform(&value, 1);
    EXPECT_TRUE(first.calls.empty());
    EXPECT_EQ(second.calls.size(), 1u);

    const Proxy& alias = member;
    member = alias;
    member.perform(&value, 1);
    EXPECT_EQ(second.calls.size(), 2u);
}

TEST(CallbackProxy2, ACoreCallbackBoundToTheProxyReachesTheView) {
    Receiver receiver;
    Proxy proxy(&receiver, &Receiver::newData);
    brel::callback2<void, const float*, int> callback(&proxy, &Proxy::perform);
    const float block[32] = {};
    callback(block, 32);
    ASSERT_EQ(receiver.calls.size(), 1u);
    EXPECT_EQ(receiver.calls[0].data, block);
    EXPECT_EQ(receiver.calls[0].length, 32);
}

} // namespace
