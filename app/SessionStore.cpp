// The session's frames: the hand-over from the audio thread, the bounded history and the two exports.
// The CSV goes through a save file, so an existing file is replaced only by a complete one.

#include "SessionStore.h"

#include "Shared/VeraxoEngine.h"

#include "report/CsvWriter.h"
#include "views/ReportPicture.h"

#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
const int collectIntervalMs = 100;
} // namespace

SessionStore::SessionStore(QObject* parent) : QObject(parent), _ring(new Frame[RING_FRAMES]) {
    _collector.setInterval(collectIntervalMs);
    connect(&_collector, &QTimer::timeout, this, &SessionStore::collect);
    _collector.start();
}

SessionStore::~SessionStore() = default;

void SessionStore::attach(VeraxoEngine& engine) {
    using Callback = brel::callback2<void, const Signal::Sample*, int>;
    engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, Callback(this, &SessionStore::onLieLevel));
    engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, Callback(this, &SessionStore::onSpectrum));
}

void SessionStore::onLieLevel(const Signal::Sample* data, int length) noexcept {
    if (data && length > 0)
        _lieLevel = data[0];
}

void SessionStore::onSpectrum(const Signal::Sample* data, int length) noexcept {
    const long long index = _produced.load(std::memory_order_relaxed);
    _produced.store(index + 1, std::memory_order_release);
    const long long written = _written.load(std::memory_order_relaxed);
    if (written - _taken.load(std::memory_order_acquire) >= RING_FRAMES)
        return;
    Frame& frame = _ring[static_cast<std::size_t>(written % RING_FRAMES)];
    frame.index = index;
    frame.at = _stretchAt + (index - _stretchFirst);
    frame.lieLevel = _lieLevel;
    frame.bands = data ? std::clamp(length, 0, BANDS) : 0;
    for (int i = 0; i < frame.bands; ++i)
        frame.spectrum[i] = data[i];
    _written.store(written + 1, std::memory_order_release);
}

void SessionStore::clear() {
    collect();
    _frames.clear();
    _lieLevel = 0.0f;
    _produced.store(0, std::memory_order_release);
    _stretchAt = 0;
    _stretchFirst = 0;
    announce();
}

void SessionStore::continueAt(long long at) {
    _stretchAt = at;
    _stretchFirst = _produced.load(std::memory_order_acquire);
}

void SessionStore::collect() {
    const long long written = _written.load(std::memory_order_acquire);
    long long taken = _taken.load(std::memory_order_relaxed);
    for (; taken < written; ++taken)
        _frames.push_back(_ring[static_cast<std::size_t>(taken % RING_FRAMES)]);
    _taken.store(taken, std::memory_order_release);
    while (static_cast<long long>(_frames.size()) > MAX_FRAMES)
        _frames.pop_front();
    announce();
}

void SessionStore::announce() {
    if (_frames.empty() == _announcedEmpty)
        return;
    _announcedEmpty = _frames.empty();
    emit hasFramesChanged(!_announcedEmpty);
}

bool SessionStore::writeCsv(const QString& path, QString& error) {
    collect();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    // The CSV writer writes to a stdio stream: give it one on the save file's descriptor.
    const int descriptor = ::dup(file.handle());
    std::FILE* out = descriptor < 0 ? nullptr : ::fdopen(descriptor, "wb");
    if (!out) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        if (descriptor >= 0)
            ::close(descriptor);
        file.cancelWriting();
        return false;
    }
    CsvWriter writer(out);
    writer.writeHeader(BANDS);
    for (const Frame& frame : _frames)
        writer.writeRow(frame.index, frame.at, frame.lieLevel, frame.spectrum, frame.bands);
    bool written = !writer.failed() && std::fflush(out) == 0;
    const int savedErrno = errno;
    written = std::fclose(out) == 0 && written;
    if (!written) {
        error = QString::fromLocal8Bit(std::strerror(savedErrno ? savedErrno : errno));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

bool SessionStore::writePicture(const QString& path, const QString& title, QString& warning, QString& error) {
    collect();
    ReportPicture picture(title.toStdString());
    for (const Frame& frame : _frames) {
        picture.onLieLevel(&frame.lieLevel, 1);
        picture.onSpectrum(frame.spectrum, frame.bands);
    }
    std::string why;
    std::string lacking;
    const bool written = picture.write(path.toStdString(), lacking, why);
    warning = QString::fromStdString(lacking);
    error = QString::fromStdString(why);
    return written;
}
