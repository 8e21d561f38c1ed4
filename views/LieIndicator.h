#pragma once
// The current lie level as a bar: "lie_bar.png" stretched over the view with everything right of a
// level-dependent edge painted black, so a higher level uncovers more of the picture from the left.
// The level is smoothed exponentially as values arrive; a timer repaints it ten times a second when it
// changed.
//
// The level is one atomic float: newData (on the audio thread) folds a value in with a
// compare-and-swap and never waits; a paint reads whichever level is current.

#include <atomic>
#include <limits>

#include <QImage>
#include <QWidget>

#include "Shared/RedrawTimer.h"
#include "Shared/Signal/Sample.h"

class LieIndicator : public QWidget {
    Q_OBJECT
public:
    explicit LieIndicator(QWidget* parent = nullptr);
    ~LieIndicator() override;

    void clearData();
    // Audio thread: folds the block's first value into the level. Real-time safe.
    void newData(const Signal::Sample* data, int length) noexcept;
    void resumeRedraw() { _timer.resume(); }
    void suspendRedraw() { _timer.suspend(); }
    bool isRedrawing() const { return _timer.isActive(); }
    float lieLevel() const { return _lieLevel.load(std::memory_order_relaxed); }
    // False when "lie_bar.png" could not be loaded; the view then stays black.
    bool hasImage() const { return !_fullBars.isNull(); }

    // The bar picture stretched over bounds, uncovered from the left up to 0.9 x level of the width.
    static void paintIndicator(QPainter& painter, const QRectF& bounds, const QImage& bars, float level);

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void onTimer();

private:
    std::atomic<float> _lieLevel{0.0f};
    // The level the last paint showed; none before the first.
    float _paintedLevel = std::numeric_limits<float>::quiet_NaN();
    QImage _fullBars;
    RedrawTimer _timer;
};
