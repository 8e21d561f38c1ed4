// The port-to-loop link (see the header).

#include "RunLoopSource.h"

#include "MessagePort.h"
#include "RunLoop.h"

namespace platform {

RunLoopSource::RunLoopSource(MessagePort* port) : _port(port), _loop(0), _valid(true) {}

RunLoopSource::~RunLoopSource() {
    invalidate();
    if (RunLoop* loop = _loop.load())
        loop->removeSource(this);
    if (MessagePort* port = _port.exchange(0))
        port->detachSource(this);
}

void RunLoopSource::invalidate() {
    _valid.store(false, std::memory_order_release);
}

void RunLoopSource::signal() {
    if (!isValid())
        return;
    if (RunLoop* loop = _loop.load(std::memory_order_acquire))
        loop->wake();
}

int RunLoopSource::perform() {
    if (!isValid())
        return 0;
    MessagePort* port = _port.load(std::memory_order_acquire);
    return port == 0 ? 0 : port->deliverPending();
}

void RunLoopSource::portGone() {
    _port.store(0, std::memory_order_release);
    invalidate();
}

} // namespace platform
