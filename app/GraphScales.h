#pragma once
// The lie graph with its scales: the lie level's 0-1 scale at its left, with the 0.7 of the summaries
// marked, and a time ruler under it in seconds. The graph holds one frame (16 ms) per point, the
// newest at the right: the ruler counts back from 0 there while listening to the microphone, and
// shows the recording's own time while analysing a file. The trace puts the level 1 on the graph's
// reference line (at 70 % of its height), so the scale's 1 stands beside that line.
//
// Only the ruler changes, and only while a recording's time moves: it is repainted alone.

#include "ViewFrame.h"

#include <QTimer>

#include <functional>

class GraphView;

class GraphScales : public ViewFrame {
    Q_OBJECT
public:
    // Seconds of the recording at the graph's newest value, or NaN while the microphone is heard.
    using Clock = std::function<double()>;

    static constexpr double SECONDS_PER_POINT = 128.0 / 8000.0;

    explicit GraphScales(GraphView* graph, QWidget* parent = nullptr);

    void setClock(Clock clock);
    // The ruler's labels as drawn, left to right, with their x in the frame: for tests.
    QList<QPair<int, QString>> rulerLabels() const;

protected:
    QMargins marginsFor(const QSize& size) const override;
    void paintEvent(QPaintEvent* event) override;

private:
    void onTick();
    // The graph's height in points where a level is drawn, from the graph's top.
    double levelY(double level) const;

    Clock _clock;
    double _paintedTime = 0.0;
    QTimer _tick;
};
