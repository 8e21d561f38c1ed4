#pragma once
// Waits, off the main thread, until a named pipe has something to read, so that opening it never
// blocks the window. Opening a FIFO for reading blocks until a writer comes, and that writer may never
// come; here the pipe is opened without blocking and polled, a tenth of a second at a time, until data
// or a hang-up arrives or the wait is cancelled. `ready` is then emitted on the main thread.
//
// A writer that has written everything may already be gone when the recording is opened for real,
// and that open would block again: from `ready` until opened() (or two seconds, whichever is first)
// the waiter holds a write end of the pipe, so the real open returns at once and the data stay.

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class StreamWaiter : public QObject {
    Q_OBJECT
public:
    explicit StreamWaiter(QObject* parent = nullptr);
    ~StreamWaiter() override;

    // True when `path` names a FIFO, the kind of file whose opening can block.
    static bool mustWaitFor(const QString& path);

    // Starts waiting on `path`; false (with error()) when it cannot even be opened.
    bool start(const QString& path);
    // Stops waiting; `ready` will not come. Returns at once or after at most one poll period.
    void cancel();
    // The recording has been opened for real: the write end held for it is released.
    void opened();
    bool isWaiting() const { return _thread.joinable() && !_done.load(); }
    const QString& error() const { return _error; }

signals:
    void ready();

private:
    void run();
    void closeAll();

    QString _path;
    QString _error;
    int _readEnd = -1;
    int _writeEnd = -1;
    std::thread _thread;
    std::atomic<bool> _cancelled{false};
    std::atomic<bool> _done{false};
    std::mutex _mutex;
    std::condition_variable _openedSignal;
    bool _opened = false;
};
