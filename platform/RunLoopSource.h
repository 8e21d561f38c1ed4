#pragma once
// The link between a message port and the run loop that delivers its messages: added to a loop, it makes
// the port's messages wake that loop and run the port's callback on the loop's thread.

#include <atomic>

namespace platform {

class MessagePort;
class RunLoop;

class RunLoopSource {
public:
    ~RunLoopSource();
    RunLoopSource(const RunLoopSource&) = delete;
    RunLoopSource& operator=(const RunLoopSource&) = delete;

    // Stops deliveries; the source stays in its loop until removed.
    void invalidate();
    bool isValid() const { return _valid.load(std::memory_order_acquire); }
    RunLoop* loop() const { return _loop.load(std::memory_order_acquire); }

    // Any thread: a message is pending; wakes the loop if the source is in one.
    void signal();
    // Loop thread: delivers what is pending; returns the number of messages delivered.
    int perform();

private:
    friend class MessagePort;
    friend class RunLoop;

    explicit RunLoopSource(MessagePort* port);
    void portGone();

    std::atomic<MessagePort*> _port;
    std::atomic<RunLoop*> _loop;
    std::atomic<bool> _valid;
};

} // namespace platform
