// The per-thread run loop (see the header). Wake-ups go through an eventfd, which a sender writes without
// waiting (a counter that saturates is as good as a wake-up), unless an application's handler takes them.

#include "RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>

#include "RunLoopSource.h"

namespace platform {

RunLoop* RunLoop::current() {
    thread_local std::unique_ptr<RunLoop> loop(new RunLoop());
    return loop.get();
}

RunLoop::RunLoop() : _eventFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), _wakeHandler(0), _wakeContext(0) {}

RunLoop::~RunLoop() {
    for (RunLoopSource* source : _sources)
        source->_loop.store(0);
    if (_eventFd >= 0)
        close(_eventFd);
}

void RunLoop::addSource(RunLoopSource* source) {
    if (source == 0 || std::find(_sources.begin(), _sources.end(), source) != _sources.end())
        return;
    _sources.push_back(source);
    source->_loop.store(this, std::memory_order_release);
    // Messages sent before the source joined are delivered on the next turn.
    wake();
}

void RunLoop::removeSource(RunLoopSource* source) {
    auto it = std::find(_sources.begin(), _sources.end(), source);
    if (it == _sources.end())
        return;
    _sources.erase(it);
    source->_loop.store(0, std::memory_order_release);
}

int RunLoop::performPending() {
    int delivered = 0;
    // A callback may remove sources: walk by index over what is left.
    for (size_t i = 0; i < _sources.size(); ++i)
        delivered += _sources[i]->perform();
    return delivered;
}

int RunLoop::runOnce(double timeoutSeconds) {
    int delivered = performPending();
    if (delivered > 0)
        return delivered;
    if (_eventFd >= 0) {
        pollfd p = {_eventFd, POLLIN, 0};
        int ms = timeoutSeconds <= 0 ? 0 : int(timeoutSeconds * 1000.0 + 0.5);
        if (poll(&p, 1, ms) > 0) {
            std::uint64_t count;
            ssize_t got = read(_eventFd, &count, sizeof count);
            (void)got;
        }
    }
    return performPending();
}

bool RunLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (!done()) {
        double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return done();
        runOnce(std::min(left, 0.05));
    }
    return true;
}

void RunLoop::wake() {
    if (WakeHandler handler = _wakeHandler.load(std::memory_order_acquire)) {
        handler(_wakeContext.load(std::memory_order_acquire));
        return;
    }
    if (_eventFd >= 0) {
        std::uint64_t one = 1;
        ssize_t put = write(_eventFd, &one, sizeof one);
        (void)put;
    }
}

void RunLoop::setWakeHandler(WakeHandler handler, void* context) {
    _wakeContext.store(context, std::memory_order_release);
    _wakeHandler.store(handler, std::memory_order_release);
}

} // namespace platform
