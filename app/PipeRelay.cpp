// The relay's thread: wait for the first data, then copy until the writer leaves or we are cancelled.

#include "PipeRelay.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const int pollPeriodMs = 100;
const int chunkBytes = 64 * 1024;

// Waits up to one poll period for `events` on `fd`; true when something happened.
bool waitFor(int fd, short events) {
    pollfd watched = {fd, events, 0};
    const int result = ::poll(&watched, 1, pollPeriodMs);
    return result > 0 || (result < 0 && errno != EINTR);
}
} // namespace

PipeRelay::PipeRelay(QObject* parent) : QObject(parent) {}

PipeRelay::~PipeRelay() {
    cancel();
}

bool PipeRelay::mustRelay(const QString& path) {
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

QString PipeRelay::readPath() const {
    return QStringLiteral("/dev/fd/%1").arg(_readEnd);
}

bool PipeRelay::start(const QString& path) {
    cancel();
    _error.clear();
    _cancelled.store(false);
    _ready.store(false);
    // Without O_NONBLOCK this open would wait for a writer.
    _fifo = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int ends[2];
    if (_fifo < 0 || ::pipe2(ends, O_CLOEXEC) != 0) {
        _error = QString::fromLocal8Bit(std::strerror(errno));
        closeAll();
        return false;
    }
    _readEnd = ends[0];
    _writeEnd = ends[1];
    ::fcntl(_writeEnd, F_SETFL, O_NONBLOCK);
    _thread = std::thread(&PipeRelay::run, this);
    return true;
}

void PipeRelay::cancel() {
    _cancelled.store(true);
    if (_thread.joinable())
        _thread.join();
    closeAll();
}

void PipeRelay::run() {
    // A reader that went away must end the copy, not the program.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    // Data, a hang-up or an error: the backend's open tells which.
    while (!_cancelled.load() && !waitFor(_fifo, POLLIN))
        ;
    if (_cancelled.load())
        return;
    _ready.store(true);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!_cancelled.load())
                emit ready();
        },
        Qt::QueuedConnection);

    std::vector<char> chunk(chunkBytes);
    std::size_t held = 0;
    std::size_t sent = 0;
    while (!_cancelled.load()) {
        if (sent == held) {
            if (!waitFor(_fifo, POLLIN))
                continue;
            const ssize_t got = ::read(_fifo, chunk.data(), chunk.size());
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (got <= 0)
                break;
            held = std::size_t(got);
            sent = 0;
            continue;
        }
        if (!waitFor(_writeEnd, POLLOUT))
            continue;
        const ssize_t put = ::write(_writeEnd, chunk.data() + sent, held - sent);
        if (put < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (put < 0)
            break;
        sent += std::size_t(put);
    }
    // The end of the stream for the backend: nothing more will come.
    ::close(_writeEnd);
    _writeEnd = -1;
}

void PipeRelay::closeAll() {
    for (int* fd : {&_fifo, &_readEnd, &_writeEnd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}
