// The eventfd between the run loop's senders and Qt's event loop.

#include "RunLoopBridge.h"

#include "platform/RunLoop.h"

#include <QSocketNotifier>

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

RunLoopBridge::RunLoopBridge(QObject* parent)
    : QObject(parent), _loop(platform::RunLoop::current()), _eventFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (_eventFd < 0)
        return;
    _notifier = new QSocketNotifier(_eventFd, QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &RunLoopBridge::deliver);
    _loop->setWakeHandler(&RunLoopBridge::wake, this);
}

RunLoopBridge::~RunLoopBridge() {
    if (_notifier)
        _loop->setWakeHandler(nullptr, nullptr);
    if (_eventFd >= 0)
        close(_eventFd);
}

void RunLoopBridge::wake(void* context) {
    const std::uint64_t one = 1;
    // A full counter already means "wake up": a failed write loses nothing.
    [[maybe_unused]] const ssize_t written =
        write(static_cast<RunLoopBridge*>(context)->_eventFd, &one, sizeof one);
}

void RunLoopBridge::deliver() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(_eventFd, &count, sizeof count);
    _loop->performPending();
}
