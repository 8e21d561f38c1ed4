// Thread scheduling for the audio thread (see the header). Each call costs one or two system calls and
// never allocates, so it is safe at the start of every audio callback.

#include "ThreadPolicy.h"

#ifdef __APPLE__
#include <mach/mach.h>
#include <mach/thread_policy.h>
#else
#include <pthread.h>
#include <sched.h>
#endif

namespace helpers {

int fifoPriorityForPrecedence(int precedence) {
#ifdef __APPLE__
    return precedence;
#else
    if (precedence < 0)
        precedence = 0;
    if (precedence > 63)
        precedence = 63;
    int lo = sched_get_priority_min(SCHED_FIFO);
    int hi = sched_get_priority_max(SCHED_FIFO);
    return lo + (hi - lo) * precedence / 63;
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
    int policy = isTimeshare ? SCHED_OTHER : SCHED_FIFO;
    sched_param param = {};
    if (thread == 0) {
        int current;
        if (pthread_getschedparam(pthread_self(), &current, &param) != 0)
            return;
        // Keep the present priority when it fits the policy; the precedence step sets the real one.
        if (current != policy)
            param.sched_priority = sched_get_priority_min(policy);
        if (pthread_setschedparam(pthread_self(), policy, &param) != 0)
            return;
        if (policy == SCHED_FIFO)
            pthread_setschedprio(pthread_self(), fifoPriorityForPrecedence(precedence));
    } else {
        pid_t tid = pid_t(thread);
        int current = sched_getscheduler(tid);
        if (current < 0 || sched_getparam(tid, &param) != 0)
            return;
        if (current != policy)
            param.sched_priority = sched_get_priority_min(policy);
        if (sched_setscheduler(tid, policy, &param) != 0)
            return;
        if (policy == SCHED_FIFO) {
            param.sched_priority = fifoPriorityForPrecedence(precedence);
            sched_setparam(tid, &param);
        }
    }
}

#endif

} // namespace helpers
