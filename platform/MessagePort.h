#pragma once
// A named local message port: the one-way wake-up from the audio thread to the thread that owns the
// port. Sending never waits and never allocates: it bumps a counter and wakes the run loop that holds the
// port's source, whose thread then calls the port's callback once per message. Names live in a small
// fixed table read without a lock, so the audio thread can look a port up by name; a name is taken by
// one valid port at a time.

#include <atomic>

#include "AudioUnit.h"

namespace platform {

class RunLoopSource;

class MessagePort {
public:
    typedef void (*Callback)(MessagePort* port, SInt32 msgid, void* info);

    enum : int { maxNameLength = 63, maxPorts = 16, maxMessageId = 63 };

    // A port registered under `name`, or null when the name is taken, too long or the table is full.
    static MessagePort* createLocal(const char* name, Callback callback, void* info);
    // The valid local port registered under `name`, or null; callable on any thread, never waits.
    static MessagePort* findRemote(const char* name);

    ~MessagePort();
    MessagePort(const MessagePort&) = delete;
    MessagePort& operator=(const MessagePort&) = delete;

    // A new run-loop source for this port, owned by the caller; the port keeps a link to it.
    RunLoopSource* createRunLoopSource();
    // Frees the name and stops deliveries; messages still pending are dropped.
    void invalidate();
    bool isValid() const { return _valid.load(std::memory_order_acquire); }
    const char* name() const { return _name; }

    // One-way message with no data and an id from 0 to maxMessageId; 0 on success, -1 when the port is no
    // longer valid or the id is out of range. Messages of one id arrive in order; ids are not ordered
    // among themselves.
    int sendOneWay(SInt32 msgid);
    // Messages sent since the port was created.
    long messagesSent() const { return _sent.load(std::memory_order_relaxed); }

private:
    friend class RunLoopSource;

    MessagePort(const char* name, Callback callback, void* info);
    // Loop thread: calls the callback for each pending message; returns how many.
    int deliverPending();
    void detachSource(RunLoopSource* source);

    char _name[maxNameLength + 1];
    Callback _callback;
    void* _info;
    std::atomic<bool> _valid;
    std::atomic<int> _pending[maxMessageId + 1];
    std::atomic<long> _sent;
    std::atomic<RunLoopSource*> _source;
};

} // namespace platform
