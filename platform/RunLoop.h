#pragma once
// A per-thread run loop that delivers message-port messages on its own thread. A plain loop of ours
// waits on an eventfd (tests, the command line); an application with its own event loop sets a wake
// handler instead, which is called from the sending thread and must only post a request to that event
// loop, whose handler then calls performPending on the loop's thread.

#include <atomic>
#include <functional>
#include <vector>

namespace platform {

class RunLoopSource;

class RunLoop {
public:
    typedef void (*WakeHandler)(void* context);

    // The calling thread's loop, made on first use and destroyed with the thread.
    static RunLoop* current();

    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Loop thread only.
    void addSource(RunLoopSource* source);
    void removeSource(RunLoopSource* source);
    // Delivers every pending message now; returns how many were delivered.
    int performPending();
    // Waits until a wake-up or the timeout, then delivers; returns how many messages were delivered.
    int runOnce(double timeoutSeconds);
    // Runs until `done` holds (checked after each delivery) or the timeout passes; returns `done()`.
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds);

    // Any thread, never waits.
    void wake();
    // Hands wake-ups to another event loop; null returns them to this loop's own wait. Set it on the
    // loop's thread before any port in the loop can receive messages.
    void setWakeHandler(WakeHandler handler, void* context);

private:
    RunLoop();

    int _eventFd;
    std::vector<RunLoopSource*> _sources;
    std::atomic<WakeHandler> _wakeHandler;
    std::atomic<void*> _wakeContext;
};

} // namespace platform
