#pragma once
// Scheduling of the audio thread. A thread is either time-shared or fixed-priority, and carries a
// precedence from 0 to 63. On Linux fixed priority is SCHED_FIFO, with the precedence spread over a
// moderate part of the FIFO range (see fifoPriorityForPrecedence); time-shared is SCHED_OTHER, where the
// precedence has no level to map onto and is left alone. Policy and priority change in one call, so a
// refused change (no real-time privilege) leaves the thread as it was. On macOS the Mach policy calls
// are made directly.

namespace helpers {

// `thread` 0 means the calling thread; otherwise a Mach thread port on macOS and a kernel thread id on
// Linux. Failures are not reported.
void rescheduleStdThread(unsigned int thread, int precedence, int isTimeshare);

// The highest SCHED_FIFO priority a precedence maps onto. The thread runs the whole analysis: it stays
// below the sound servers (commonly 70 to 95) and the kernel's interrupt threads (50).
constexpr int fifoPriorityCeiling = 40;

// The SCHED_FIFO priority a precedence maps onto: 0 → the lowest, 63 → fifoPriorityCeiling, capped at
// the process's RLIMIT_RTPRIO when that allows any real-time priority at all (a limit of 0 leaves the
// decision to the thread's privilege). Values outside 0…63 are clamped.
int fifoPriorityForPrecedence(int precedence);
// The same for a given RLIMIT_RTPRIO soft limit; a negative limit means unlimited.
int fifoPriorityForPrecedence(int precedence, long rtprioLimit);

} // namespace helpers
