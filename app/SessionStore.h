#pragma once
// Every frame analysed in the current session (since a recording was opened, or since listening began
// from the stopped state), kept so the session can be exported exactly as veraxo-analyze writes a file:
// the same CSV and the same report picture, through the same writers.
//
// The engine's outputs arrive on the audio thread. There the store only copies each frame into a
// preallocated single-producer, single-consumer ring; it never allocates, locks or waits. The main
// thread moves the frames from the ring into the session ten times a second. The session keeps the
// last hour: older frames are dropped, and so are frames the ring had no room for should the main
// thread stall for minutes; both are counted, so an export can say what it lacks.

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <deque>
#include <memory>

#include "Shared/Signal/Sample.h"

class VeraxoEngine;

class SessionStore : public QObject {
    Q_OBJECT
public:
    static constexpr int BANDS = 32;
    // One frame: its lie level and its spectrum, as the engine delivered them.
    struct Frame {
        // The frame's place in the session, counted from 0, and in the recording (the frame whose end
        // is its time): the same until a seek moves the recording on.
        long long index;
        long long at;
        float lieLevel;
        float spectrum[BANDS];
        int bands;
    };
    // An hour of frames at one frame per 128 samples at 8000 Hz.
    static constexpr long long MAX_FRAMES = 3600LL * 8000 / 128;
    // Two minutes of frames between the audio thread and the main thread.
    static constexpr int RING_FRAMES = 8192;

    explicit SessionStore(QObject* parent = nullptr);
    ~SessionStore() override;

    // Hangs the store on the engine's lie-level and spectrum outputs.
    void attach(VeraxoEngine& engine);

    // Audio thread: the engine's outputs; each frame's lie level comes before its spectrum.
    void onLieLevel(const Signal::Sample* data, int length) noexcept;
    void onSpectrum(const Signal::Sample* data, int length) noexcept;

    // Main thread: starts a new, empty session. No frame may be arriving meanwhile (capture stopped).
    void clear();
    // Main thread, no frame arriving: the frames that follow lie in the recording from frame `at` on
    // (a seek). The session goes on; only the frames' times jump.
    void continueAt(long long at);
    // Main thread: moves the frames waiting in the ring into the session.
    void collect();

    // Frames analysed in the session, the dropped ones included.
    long long frameCount() const { return _produced.load(std::memory_order_acquire); }
    // Frames kept for export.
    long long keptFrames() const { return static_cast<long long>(_frames.size()); }
    // Frames not kept: older than the last hour, or lost because the ring was full.
    long long droppedFrames() const { return frameCount() - keptFrames(); }
    const std::deque<Frame>& frames() const { return _frames; }
    // The session holds a frame to export.
    bool hasFrames() const { return !_frames.empty(); }

    // Writes the session as veraxo-analyze's CSV, replacing path only once it is complete. False, with a
    // reason in error, when it cannot be written.
    bool writeCsv(const QString& path, QString& error);
    // Writes the session's report picture (PNG) under title. A warning says what the picture lacks.
    bool writePicture(const QString& path, const QString& title, QString& warning, QString& error);

signals:
    // The session gained its first frame, or became empty.
    void hasFramesChanged(bool hasFrames);

private:
    void announce();

    std::unique_ptr<Frame[]> _ring;
    // Frames put into the ring by the audio thread and taken out by the main thread.
    std::atomic<long long> _written{0};
    std::atomic<long long> _taken{0};
    // Frames the engine delivered in this session, whether the ring had room for them or not.
    std::atomic<long long> _produced{0};
    // Audio thread: the lie level of the frame under way.
    float _lieLevel = 0.0f;
    // Set while no frame arrives: the recording's frame of the session's frame _stretchFirst.
    long long _stretchAt = 0;
    long long _stretchFirst = 0;

    // Main thread: the session's newest frames, oldest first.
    std::deque<Frame> _frames;
    bool _announcedEmpty = true;
    QTimer _collector;
};
