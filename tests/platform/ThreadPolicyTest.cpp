// Mapping of the audio thread's scheduling settings onto Linux policies.

#include "platform/ThreadPolicy.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <sys/resource.h>

#include <atomic>
#include <thread>

namespace {

// The precedence spreads over a moderate FIFO range, never the kernel's maximum, and never above the
// RLIMIT_RTPRIO a user is given (audio groups commonly get 95, desktops often far less).
TEST(ThreadPolicy, PrecedenceSpreadsOverAModerateRangeCappedByTheLimit) {
    using helpers::fifoPriorityForPrecedence;
    const int lo = sched_get_priority_min(SCHED_FIFO);
    const int top = helpers::fifoPriorityCeiling;
    ASSERT_LT(top, sched_get_priority_max(SCHED_FIFO) - 30);
    for (long unlimited : {-1L, 95L, 99L, 0L}) {
        EXPECT_EQ(fifoPriorityForPrecedence(0, unlimited), lo) << unlimited;
        EXPECT_EQ(fifoPriorityForPrecedence(63, unlimited), top) << unlimited;
        EXPECT_EQ(fifoPriorityForPrecedence(-5, unlimited), lo) << unlimited;
        EXPECT_EQ(fifoPriorityForPrecedence(100, unlimited), top) << unlimited;
    }
    const int mid = fifoPriorityForPrecedence(31, -1);
    EXPECT_GT(mid, lo);
    EXPECT_LT(mid, top);
    for (long limit : {1L, 5L, 20L, 39L}) {
        int previous = 0;
        for (int precedence = 0; precedence <= 63; ++precedence) {
            const int p = fifoPriorityForPrecedence(precedence, limit);
            EXPECT_GE(p, lo);
            EXPECT_LE(p, limit);
            EXPECT_GE(p, previous);
            previous = p;
        }
        EXPECT_EQ(fifoPriorityForPrecedence(63, limit), limit);
    }
    rlimit actual = {};
    ASSERT_EQ(getrlimit(RLIMIT_RTPRIO, &actual), 0);
    const long soft = actual.rlim_cur == RLIM_INFINITY ? -1 : long(actual.rlim_cur);
    EXPECT_EQ(fifoPriorityForPrecedence(63), fifoPriorityForPrecedence(63, soft));
}

// Whether this process may use SCHED_FIFO decides which outcome is right.
bool fifoAllowed() {
    bool allowed = false;
    std::thread probe([&] {
        sched_param p = {};
        p.sched_priority = sched_get_priority_min(SCHED_FIFO);
        allowed = pthread_setschedparam(pthread_self(), SCHED_FIFO, &p) == 0;
    });
    probe.join();
    return allowed;
}

TEST(ThreadPolicy, FixedPriorityThreadGetsItsPrecedenceOrStaysAsItWas) {
    const bool allowed = fifoAllowed();
    int policy = -1;
    sched_param param = {};
    std::thread audio([&] {
        helpers::rescheduleStdThread(0, 63, 0);
        pthread_getschedparam(pthread_self(), &policy, &param);
    });
    audio.join();
    if (allowed) {
        EXPECT_EQ(policy, SCHED_FIFO);
        EXPECT_EQ(param.sched_priority, helpers::fifoPriorityForPrecedence(63));
    } else {
        EXPECT_EQ(policy, SCHED_OTHER);
        EXPECT_EQ(param.sched_priority, 0);
    }
}

TEST(ThreadPolicy, TimeShareReturnsAThreadToTheOrdinaryPolicy) {
    const bool allowed = fifoAllowed();
    int policy = -1;
    std::thread audio([&] {
        helpers::rescheduleStdThread(0, 10, 0);
        helpers::rescheduleStdThread(0, 10, 1);
        sched_param param = {};
        pthread_getschedparam(pthread_self(), &policy, &param);
    });
    audio.join();
    EXPECT_EQ(policy, SCHED_OTHER) << "fifo allowed: " << allowed;
}

// Drops the right to real-time scheduling from the calling thread alone.
bool dropRealTimeRight() {
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
    return syscall(SYS_capset, &header, data) == 0;
}

TEST(ThreadPolicy, RefusedPolicyLeavesTheThreadAsItWas) {
    rlimit limit = {};
    getrlimit(RLIMIT_RTPRIO, &limit);
    if (limit.rlim_cur != 0)
        GTEST_SKIP() << "real-time priorities are allowed to every thread here";
    bool dropped = false;
    int policy = -1;
    sched_param param = {};
    std::thread audio([&] {
        dropped = dropRealTimeRight();
        sched_param probe = {};
        probe.sched_priority = sched_get_priority_min(SCHED_FIFO);
        dropped = dropped && pthread_setschedparam(pthread_self(), SCHED_FIFO, &probe) != 0;
        helpers::rescheduleStdThread(0, 63, 0);
        pthread_getschedparam(pthread_self(), &policy, &param);
    });
    audio.join();
    if (!dropped)
        GTEST_SKIP() << "cannot take the real-time right away from a thread here";
    EXPECT_EQ(policy, SCHED_OTHER);
    EXPECT_EQ(param.sched_priority, 0);
}

TEST(ThreadPolicy, AnotherThreadIsNamedByItsKernelId) {
    if (!fifoAllowed())
        GTEST_SKIP() << "SCHED_FIFO is refused here; the refusal path is covered above";
    std::atomic<long> tid{0};
    std::atomic<bool> release{false};
    int policy = -1;
    std::thread target([&] {
        tid = syscall(SYS_gettid);
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sched_param param = {};
        pthread_getschedparam(pthread_self(), &policy, &param);
    });
    while (tid == 0)
        std::this_thread::yield();
    helpers::rescheduleStdThread(static_cast<unsigned int>(tid.load()), 0, 0);
    release = true;
    target.join();
    EXPECT_EQ(policy, SCHED_FIFO);
}

} // namespace
