// Named local ports in a fixed lock-free table (see the header).

#include "MessagePort.h"

#include <cstring>

#include "RunLoopSource.h"

namespace platform {

namespace {

std::atomic<MessagePort*> registry[MessagePort::maxPorts];

} // namespace

MessagePort::MessagePort(const char* name, Callback callback, void* info)
    : _callback(callback), _info(info), _valid(true), _pending(), _sent(0), _source(0) {
    for (std::atomic<int>& count : _pending)
        count.store(0);
    std::strncpy(_name, name, maxNameLength);
    _name[maxNameLength] = 0;
}

MessagePort* MessagePort::createLocal(const char* name, Callback callback, void* info) {
    if (name == 0 || std::strlen(name) > size_t(maxNameLength) || findRemote(name) != 0)
        return 0;
    MessagePort* port = new MessagePort(name, callback, info);
    for (std::atomic<MessagePort*>& slot : registry) {
        MessagePort* expected = 0;
        if (slot.compare_exchange_strong(expected, port, std::memory_order_acq_rel))
            return port;
    }
    delete port;
    return 0;
}

MessagePort* MessagePort::findRemote(const char* name) {
    if (name == 0)
        return 0;
    for (std::atomic<MessagePort*>& slot : registry) {
        MessagePort* port = slot.load(std::memory_order_acquire);
        if (port != 0 && port->isValid() && std::strcmp(port->_name, name) == 0)
            return port;
    }
    return 0;
}

MessagePort::~MessagePort() {
    invalidate();
    if (RunLoopSource* source = _source.exchange(0))
        source->portGone();
}

RunLoopSource* MessagePort::createRunLoopSource() {
    RunLoopSource* source = new RunLoopSource(this);
    if (RunLoopSource* old = _source.exchange(source))
        old->portGone();
    return source;
}

void MessagePort::invalidate() {
    if (!_valid.exchange(false, std::memory_order_acq_rel))
        return;
    for (std::atomic<MessagePort*>& slot : registry) {
        MessagePort* expected = this;
        slot.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
    }
    for (std::atomic<int>& count : _pending)
        count.store(0);
}

int MessagePort::sendOneWay(SInt32 msgid) {
    if (!isValid() || msgid < 0 || msgid > maxMessageId)
        return -1;
    _sent.fetch_add(1, std::memory_order_relaxed);
    _pending[msgid].fetch_add(1, std::memory_order_release);
    if (RunLoopSource* source = _source.load(std::memory_order_acquire))
        source->signal();
    return 0;
}

int MessagePort::deliverPending() {
    int delivered = 0;
    for (SInt32 id = 0; id <= maxMessageId; ++id) {
        while (isValid() && _pending[id].load(std::memory_order_acquire) > 0) {
            _pending[id].fetch_sub(1, std::memory_order_acq_rel);
            if (_callback != 0)
                _callback(this, id, _info);
            ++delivered;
        }
    }
    return delivered;
}

void MessagePort::detachSource(RunLoopSource* source) {
    RunLoopSource* expected = source;
    _source.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
}

} // namespace platform
