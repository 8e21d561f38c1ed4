#pragma once
// Reads a named pipe for the file backend, off the main thread, so that neither opening it nor a
// writer that stalls can block the program. Opening a FIFO for reading blocks until a writer comes,
// and reading it blocks while the writer is silent; the backend's reader thread would wait there, and
// stopping capture, which joins that thread, with it. Instead the relay opens the FIFO without
// blocking, polls it a tenth of a second at a time, and copies what arrives into a pipe of its own,
// whose reading end the backend opens (readPath()). `ready` is emitted on the main thread once the
// first data (or a hang-up) has arrived. cancel() closes the relay's writing end, so the backend's
// reader sees the end of the stream at once and capture stops without waiting for the writer.

#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

class PipeRelay : public QObject {
    Q_OBJECT
public:
    explicit PipeRelay(QObject* parent = nullptr);
    ~PipeRelay() override;

    // True when `path` names a FIFO, the kind of file whose opening and reading can block.
    static bool mustRelay(const QString& path);

    // Starts waiting on the FIFO at `path`; false (with error()) when it cannot be opened.
    bool start(const QString& path);
    // Stops waiting and relaying; `ready` will not come. Returns after at most one poll period.
    void cancel();
    // Started and not yet ready.
    bool isWaiting() const { return _thread.joinable() && !_ready.load(); }
    // Started and not cancelled: the reading end is open.
    bool isActive() const { return _thread.joinable(); }
    // The name under which the backend opens the relay's reading end.
    QString readPath() const;
    const QString& error() const { return _error; }

signals:
    void ready();

private:
    void run();
    void closeAll();

    QString _error;
    int _fifo = -1;
    int _readEnd = -1;
    int _writeEnd = -1;
    std::thread _thread;
    std::atomic<bool> _cancelled{false};
    std::atomic<bool> _ready{false};
};
