// The scale follows the graph's own arithmetic (the trace stands 2 points above the foot and rises
// 0.7 of the height per unit of level); the ruler picks the smallest step of 1, 2, 5, 10, 15, 30 or
// 60 seconds whose labels do not crowd each other.

#include "GraphScales.h"

#include "views/GraphView.h"

#include <QPainter>

#include <cmath>

namespace {
const int tickLength = 4;
const int tickIntervalMs = 100;

QString clockText(double seconds, bool relative) {
    const long long whole = std::llround(seconds);
    if (relative)
        return whole == 0 ? QStringLiteral("0 s") : QStringLiteral("\u2212%1 s").arg(-whole);
    if (whole < 60)
        return QStringLiteral("%1 s").arg(whole);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

GraphScales::GraphScales(GraphView* graph, QWidget* parent) : ViewFrame(graph, parent) {
    setObjectName(QStringLiteral("lieGraphScales"));
    _tick.setInterval(tickIntervalMs);
    connect(&_tick, &QTimer::timeout, this, &GraphScales::onTick);
    placeView();
}

void GraphScales::setClock(Clock clock) {
    _clock = std::move(clock);
    _tick.start();
    update();
}

void GraphScales::onTick() {
    const double now = _clock ? _clock() : NAN;
    const bool same = std::isnan(now) ? std::isnan(_paintedTime) : now == _paintedTime;
    if (!same)
        update(QRect(0, viewRect().bottom() + 1, width(), height() - viewRect().bottom() - 1));
}

QMargins GraphScales::marginsFor(const QSize&) const {
    const QFontMetrics metrics(labelFont());
    return QMargins(metrics.horizontalAdvance(QStringLiteral("0.7")) + tickLength + 4, 0, 0,
                    metrics.height() + tickLength);
}

double GraphScales::levelY(double level) const {
    const double h = viewRect().height();
    return (h - 2.0) - 0.7 * h * level;
}

QList<QPair<int, QString>> GraphScales::rulerLabels() const {
    QList<QPair<int, QString>> labels;
    const QRect graph = viewRect();
    const int points = graph.width();
    if (points < 2)
        return labels;
    const double now = _clock ? _clock() : NAN;
    const bool relative = std::isnan(now);
    const double newest = relative ? 0.0 : now;
    const QFontMetrics metrics(labelFont());
    const double room = metrics.horizontalAdvance(clockText(relative ? -88.0 : 888.0, relative)) + 12.0;
    const double span = points * SECONDS_PER_POINT;
    double step = 60.0;
    for (const double candidate : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0})
        if (candidate / SECONDS_PER_POINT >= room) {
            step = candidate;
            break;
        }
    // From the newest whole step back to the oldest point shown; a recording has no time before 0.
    const double oldest = std::max(newest - span, relative ? -1e9 : 0.0);
    for (double t = std::floor(newest / step) * step; t >= oldest; t -= step) {
        const int x = graph.left() + int(std::lround((points - 1) - (newest - t) / SECONDS_PER_POINT));
        labels.prepend({x, clockText(t, relative)});
    }
    return labels;
}

void GraphScales::paintEvent(QPaintEvent* event) {
    if (!labelsExposed(event))
        return;
    QPainter painter(this);
    painter.setFont(labelFont());
    const QFontMetrics metrics(painter.font());
    const QRect graph = viewRect();
    const QColor colour = labelColor();

    // The level scale: 0 at the trace's foot, 1 on the reference line, the 0.7 of the summaries marked.
    const int right = graph.left() - 1;
    for (const double level : {0.0, 0.5, 0.7, 1.0}) {
        const int y = graph.top() + int(std::lround(levelY(level)));
        if (y < graph.top() || y > graph.bottom())
            continue;
        const bool threshold = level == 0.7;
        painter.setPen(threshold ? QColor(255, 170, 60) : colour);
        painter.drawLine(right - tickLength, y, right, y);
        const QString text = level == 0.0   ? QStringLiteral("0")
                             : level == 1.0 ? QStringLiteral("1")
                                            : QString::number(level, 'f', 1);
        const QRect box(0, y - metrics.height() / 2, right - tickLength - 2, metrics.height());
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, text);
    }

    // The ruler.
    _paintedTime = _clock ? _clock() : NAN;
    painter.setPen(colour);
    const int top = graph.bottom() + 1;
    for (const auto& label : rulerLabels()) {
        painter.drawLine(label.first, top, label.first, top + tickLength - 1);
        const int width = metrics.horizontalAdvance(label.second);
        // Labels stay inside the frame: the newest hugs the right-hand edge.
        const int left = std::clamp(label.first - width / 2, graph.left(),
                                    width > graph.width() ? 0 : graph.right() - width);
        painter.drawText(QRect(left, top + tickLength, width, metrics.height()), Qt::AlignCenter,
                         label.second);
    }
}
