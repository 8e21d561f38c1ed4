// Thread scheduling for the audio thread (see the header). Each call costs at most three system calls and
// never allocates, so it is safe at the start of every audio callback.

#include "ThreadPolicy.h"

#ifdef __APPLE__
#include <mach/mach.h>
#include <mach/thread_policy.h>
#else
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#endif

namespace helpers {

int fifoPriorityForPrecedence(int precedence, long rtprioLimit) {
#ifdef __APPLE__
    (void)rtprioLimit;
    return precedence;
#else
    if (precedence < 0)
        precedence = 0;
    if (precedence > 63)
        precedence = 63;
    // Constants of the kernel: asked once, not on every callback.
    static const int lo = sched_get_priority_min(SCHED_FIFO);
    static const int max = sched_get_priority_max(SCHED_FIFO);
    int hi = max;
    if (hi > fifoPriorityCeiling)
        hi = fifoPriorityCeiling;
    // Above the limit the priority call is refused; a limit below the lowest priority allows none, and
    // only a privileged thread, which the limit does not bind, gets real-time scheduling at all.
    if (rtprioLimit >= lo && rtprioLimit < hi)
        hi = int(rtprioLimit);
    if (hi < lo)
        hi = lo;
    return lo + (hi - lo) * precedence / 63;
#endif
}

int fifoPriorityForPrecedence(int precedence) {
#ifdef __APPLE__
    return fifoPriorityForPrecedence(precedence, -1);
#else
    rlimit limit = {};
    long soft = -1;
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        soft = limit.rlim_cur > 1000 ? 1000 : long(limit.rlim_cur);
    return fifoPriorityForPrecedence(precedence, soft);
#endif
}

#ifdef __APPLE__

void rescheduleStdThread(unsigned int thread, int precedence, int isTimeshare) {
    thread_act_t target = thread;
    bool own = false;
    if (target == 0) {
        target = mach_thread_self();
        own = true;
    }
    thread_extended_policy_data_t extended;
    extended.timeshare = isTimeshare;
    if (thread_policy_set(target, THREAD_EXTENDED_POLICY, (thread_policy_t)&extended,
                          THREAD_EXTENDED_POLICY_COUNT) == KERN_SUCCESS) {
        thread_precedence_policy_data_t prec;
        prec.importance = precedence;
        thread_policy_set(target, THREAD_PRECEDENCE_POLICY, (thread_policy_t)&prec,
                          THREAD_PRECEDENCE_POLICY_COUNT);
    }
    if (own)
        mach_port_deallocate(mach_task_self(), target);
}

#else

void rescheduleStdThread(unsigned int thread, int precedence, int isTimeshare) {
    const int policy = isTimeshare ? SCHED_OTHER : SCHED_FIFO;
    sched_param wanted = {};
    wanted.sched_priority = policy == SCHED_FIFO ? fifoPriorityForPrecedence(precedence) : 0;
    sched_param param = {};
    if (thread == 0) {
        int current;
        if (pthread_getschedparam(pthread_self(), &current, &param) != 0)
            return;
        // Every callback reapplies the settings: a thread already scheduled so costs no further call.
        if (current == policy && param.sched_priority == wanted.sched_priority)
            return;
        pthread_setschedparam(pthread_self(), policy, &wanted);
    } else {
        pid_t tid = pid_t(thread);
        int current = sched_getscheduler(tid);
        if (current < 0 || sched_getparam(tid, &param) != 0)
            return;
        if (current == policy && param.sched_priority == wanted.sched_priority)
            return;
        sched_setscheduler(tid, policy, &wanted);
    }
}

#endif

} // namespace helpers
