// The poll loop of the pipe waiter and the hand-over of its write end.

#include "StreamWaiter.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const int pollPeriodMs = 100;
const auto writeEndHold = std::chrono::seconds(2);
} // namespace

StreamWaiter::StreamWaiter(QObject* parent) : QObject(parent) {}

StreamWaiter::~StreamWaiter() {
    cancel();
}

bool StreamWaiter::mustWaitFor(const QString& path) {
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

bool StreamWaiter::start(const QString& path) {
    cancel();
    _path = path;
    _error.clear();
    _cancelled.store(false);
    _done.store(false);
    _opened = false;
    // Without O_NONBLOCK this open would wait for a writer.
    _readEnd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (_readEnd < 0) {
        _error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    _thread = std::thread(&StreamWaiter::run, this);
    return true;
}

void StreamWaiter::cancel() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _cancelled.store(true);
    }
    _openedSignal.notify_all();
    if (_thread.joinable())
        _thread.join();
}

void StreamWaiter::opened() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _opened = true;
    }
    _openedSignal.notify_all();
}

void StreamWaiter::run() {
    pollfd watched = {_readEnd, POLLIN, 0};
    while (!_cancelled.load()) {
        const int result = ::poll(&watched, 1, pollPeriodMs);
        // Data, a hang-up or an error: the real open tells which.
        if (result > 0 || (result < 0 && errno != EINTR))
            break;
    }
    if (!_cancelled.load()) {
        // A reader (our own end) exists, so this open neither blocks nor fails for want of one.
        _writeEnd = ::open(QFile::encodeName(_path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        _done.store(true);
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!_cancelled.load())
                    emit ready();
            },
            Qt::QueuedConnection);
        std::unique_lock<std::mutex> lock(_mutex);
        _openedSignal.wait_for(lock, writeEndHold, [this] { return _opened || _cancelled.load(); });
    }
    closeAll();
}

void StreamWaiter::closeAll() {
    if (_writeEnd >= 0)
        ::close(_writeEnd);
    if (_readEnd >= 0)
        ::close(_readEnd);
    _writeEnd = -1;
    _readEnd = -1;
}
