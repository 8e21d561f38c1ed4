#pragma once
// Scheduling of the audio thread. A thread is either time-shared or fixed-priority, and carries a
// precedence from 0 to 63. On Linux fixed priority is SCHED_FIFO, with the precedence spread over the
// FIFO priority range; time-shared is SCHED_OTHER, where the precedence has no level to map onto and is
// left alone. When the policy change is refused (no real-time privilege) the precedence step is skipped,
// as it would be if the Mach policy call failed. On macOS the Mach policy calls are made directly.

namespace helpers {

// `thread` 0 means the calling thread; otherwise a Mach thread port on macOS and a kernel thread id on
// Linux. Failures are not reported.
void rescheduleStdThread(unsigned int thread, int precedence, int isTimeshare);

// The SCHED_FIFO priority a precedence maps onto: 0 → the lowest, 63 → the highest; values outside
// 0…63 are clamped.
int fifoPriorityForPrecedence(int precedence);

} // namespace helpers
