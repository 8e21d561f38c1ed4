#pragma once
// A line graph of the recent lie level scrolling from right to left over a reference line at 70 % of
// the height, one history value per point of width, repainted ten times a second from a timer when
// something changed.
//
// newData may be called from the audio thread: it only pushes the value into a LevelHandover, never
// waits and never allocates. The history itself (a brel::circular_buffer) belongs to the widget's own
// thread, which moves the new values into it before each paint; so a paint always sees whole values,
// and the history can follow the widget's width when the layout resizes it (the newest values stay
// at the right-hand end). Until the first value arrives the history is all zeros at any width; room
// gained by widening after that is left undrawn rather than shown as a level of zero.

#include <atomic>
#include <memory>
#include <vector>

#include <QWidget>

#include "LevelHandover.h"
#include "Shared/RedrawTimer.h"
#include "Shared/Signal/Sample.h"
#include "src/brel_circular.h"

class GraphView : public QWidget {
    Q_OBJECT
public:
    explicit GraphView(QWidget* parent = nullptr);
    ~GraphView() override;

    // Refills the whole history with zeros.
    void clearData();
    // Audio thread: appends the block's first value to the history. Real-time safe.
    void newData(const Signal::Sample* data, int length) noexcept;
    void resumeRedraw() { _timer.resume(); }
    void suspendRedraw() { _timer.suspend(); }
    bool isRedrawing() const { return _timer.isActive(); }

    // Blocks received so far.
    int bufferCount() const { return _bufferCount.load(std::memory_order_relaxed); }
    // The history's length: the width in points, at least 1.
    int bufferSize() const { return _bufferSize; }

    // The reference line and the trace of history, oldest value at the left, drawn into rect.
    static void paintGraph(QPainter& painter, const QRectF& rect,
                           const brel::circular_buffer<Signal::Sample>& history);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onTimer();

private:
    void takeNewValues();
    void resizeHistory(int size);

    std::unique_ptr<brel::circular_buffer<Signal::Sample>> _buffer;
    int _modulo = 0;
    std::atomic<int> _bufferCount{0};
    RedrawTimer _timer;
    int _bufferSize = 0;
    LevelHandover _handover;
    // A value arrived since the last clear.
    bool _received = false;
    // The history changed on this thread (cleared, resized) since the last paint.
    bool _stale = true;
    std::vector<float> _incoming;
};
