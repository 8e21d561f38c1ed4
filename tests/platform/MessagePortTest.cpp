// Named ports and the run loop: delivery on the loop's thread, per-id counts, invalidation, and the wake
// handler through which another event loop takes over the waiting.

#include "platform/MessagePort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"
#include "platform/RunLoopSource.h"

namespace {

using platform::MessagePort;
using platform::RunLoop;
using platform::RunLoopSource;

struct Received {
    std::vector<int> ids;
    std::vector<std::thread::id> threads;
    static void callback(MessagePort*, platform::SInt32 id, void* info) {
        Received* r = static_cast<Received*>(info);
        r->ids.push_back(id);
        r->threads.push_back(std::this_thread::get_id());
    }
};

TEST(MessagePort, NameIsTakenByOnePortAtATime) {
    Received r;
    MessagePort* a = MessagePort::createLocal("port-a", &Received::callback, &r);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(MessagePort::createLocal("port-a", &Received::callback, &r), nullptr);
    EXPECT_EQ(MessagePort::findRemote("port-a"), a);
    EXPECT_EQ(MessagePort::findRemote("port-b"), nullptr);
    a->invalidate();
    EXPECT_EQ(MessagePort::findRemote("port-a"), nullptr);
    EXPECT_EQ(a->sendOneWay(42), -1);
    MessagePort* again = MessagePort::createLocal("port-a", &Received::callback, &r);
    EXPECT_NE(again, nullptr);
    delete again;
    delete a;
    EXPECT_EQ(MessagePort::createLocal(std::string(100, 'x').c_str(), &Received::callback, &r), nullptr);
}

TEST(MessagePort, MessagesFromAnotherThreadRunOnTheLoopThread) {
    Received r;
    MessagePort* port = MessagePort::createLocal("port-loop", &Received::callback, &r);
    RunLoopSource* source = port->createRunLoopSource();
    RunLoop::current()->addSource(source);
    std::thread sender([] {
        MessagePort* remote = MessagePort::findRemote("port-loop");
        ASSERT_NE(remote, nullptr);
        EXPECT_EQ(remote->sendOneWay(42), 0);
        EXPECT_EQ(remote->sendOneWay(7), 0);
        EXPECT_EQ(remote->sendOneWay(42), 0);
        EXPECT_EQ(remote->sendOneWay(64), -1);
    });
    sender.join();
    EXPECT_TRUE(r.ids.empty());
    EXPECT_TRUE(RunLoop::current()->runUntil([&] { return r.ids.size() == 3; }, 2.0));
    EXPECT_EQ(r.ids, (std::vector<int>{7, 42, 42}));
    for (std::thread::id t : r.threads)
        EXPECT_EQ(t, std::this_thread::get_id());
    EXPECT_EQ(port->messagesSent(), 3);
    delete source;
    delete port;
}

TEST(MessagePort, MessagesSentBeforeTheSourceJoinsAreDeliveredAndInvalidationDropsTheRest) {
    Received r;
    MessagePort* port = MessagePort::createLocal("port-late", &Received::callback, &r);
    port->sendOneWay(42);
    RunLoopSource* source = port->createRunLoopSource();
    RunLoop::current()->addSource(source);
    EXPECT_EQ(RunLoop::current()->runOnce(0.5), 1);
    port->sendOneWay(42);
    source->invalidate();
    EXPECT_EQ(RunLoop::current()->runOnce(0.05), 0);
    EXPECT_EQ(r.ids.size(), 1u);
    RunLoop::current()->removeSource(source);
    delete source;
    delete port;
}

TEST(RunLoop, WakeHandlerTakesTheWakeUpsAndTheOwnerDeliversThem) {
    struct Wakes {
        std::atomic<int> count{0};
        static void handler(void* context) { ++static_cast<Wakes*>(context)->count; }
    } wakes;
    Received r;
    MessagePort* port = MessagePort::createLocal("port-wake", &Received::callback, &r);
    RunLoopSource* source = port->createRunLoopSource();
    RunLoop* loop = RunLoop::current();
    loop->setWakeHandler(&Wakes::handler, &wakes);
    loop->addSource(source);
    const int afterAdd = wakes.count.load();
    std::thread sender([] { MessagePort::findRemote("port-wake")->sendOneWay(42); });
    sender.join();
    EXPECT_EQ(wakes.count.load(), afterAdd + 1);
    EXPECT_TRUE(r.ids.empty());
    EXPECT_EQ(loop->performPending(), 1);
    EXPECT_EQ(r.ids, std::vector<int>{42});
    loop->setWakeHandler(nullptr, nullptr);
    delete source;
    delete port;
}

// An application's event loop only turns when woken: messages that wait in a port before its source joins
// the loop need the join itself to wake it, or they sit there until some unrelated wake-up.
TEST(RunLoop, JoiningSourceWakesTheLoopForMessagesSentBeforeAndTheNextTurnDeliversThem) {
    std::thread loopThread([] {
        struct Wakes {
            std::atomic<int> count{0};
            static void handler(void* context) { ++static_cast<Wakes*>(context)->count; }
        } wakes;
        Received r;
        RunLoop* loop = RunLoop::current();
        loop->setWakeHandler(&Wakes::handler, &wakes);
        MessagePort* port = MessagePort::createLocal("port-early", &Received::callback, &r);
        RunLoopSource* source = port->createRunLoopSource();
        std::thread sender([] {
            MessagePort::findRemote("port-early")->sendOneWay(42);
            MessagePort::findRemote("port-early")->sendOneWay(7);
        });
        sender.join();
        EXPECT_EQ(wakes.count.load(), 0) << "no loop to wake before the source joins";
        loop->addSource(source);
        EXPECT_EQ(wakes.count.load(), 1) << "the join does not wake the loop";
        EXPECT_TRUE(r.ids.empty()) << "delivered outside a turn of the loop";
        EXPECT_EQ(loop->performPending(), 2);
        EXPECT_EQ(r.ids, (std::vector<int>{7, 42}));
        for (std::thread::id t : r.threads)
            EXPECT_EQ(t, std::this_thread::get_id());
        delete source;
        delete port;
    });
    loopThread.join();
}

TEST(RunLoop, EachThreadHasItsOwnLoop) {
    RunLoop* mine = RunLoop::current();
    RunLoop* theirs = nullptr;
    std::thread other([&] { theirs = RunLoop::current(); });
    other.join();
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(mine, RunLoop::current());
}

} // namespace
