// The number reads the level the indicator's own repaint reads.

#include "IndicatorReadout.h"

#include "views/LieIndicator.h"

#include <QPainter>

#include <cmath>

namespace {
const int gap = 6;
const int tickIntervalMs = 100;
} // namespace

IndicatorReadout::IndicatorReadout(LieIndicator* indicator, QWidget* parent)
    : ViewFrame(indicator, parent), _indicator(indicator) {
    setObjectName(QStringLiteral("lieIndicatorReadout"));
    setToolTip(tr("The current lie level (0 to 1)"));
    _tick.setInterval(tickIntervalMs);
    connect(&_tick, &QTimer::timeout, this, &IndicatorReadout::onTick);
    _tick.start();
    placeView();
}

QString IndicatorReadout::text() const {
    const double level = double(_indicator->lieLevel());
    // No "-0.00" for a level a hair under zero.
    return QString::number(std::abs(level) < 0.005 ? 0.0 : level, 'f', 2);
}

QFont IndicatorReadout::numberFont(int height) const {
    QFont number = font();
    number.setBold(true);
    const double points = number.pointSizeF() > 0 ? number.pointSizeF() : 9.0;
    // From the window's font size up to about half the indicator's height.
    number.setPointSizeF(qBound(points, height * 0.4, 3.0 * points));
    return number;
}

QMargins IndicatorReadout::marginsFor(const QSize& size) const {
    const QFontMetrics metrics(numberFont(size.height()));
    return QMargins(0, 0, metrics.horizontalAdvance(QStringLiteral("0.00")) + 2 * gap, 0);
}

void IndicatorReadout::onTick() {
    if (text() != _painted)
        update(QRect(viewRect().right() + 1, 0, width() - viewRect().right() - 1, height()));
}

void IndicatorReadout::paintEvent(QPaintEvent* event) {
    if (!labelsExposed(event))
        return;
    QPainter painter(this);
    painter.setFont(numberFont(height()));
    painter.setPen(palette().color(QPalette::WindowText));
    _painted = text();
    const QRect room(viewRect().right() + 1 + gap, 0, width() - viewRect().right() - 1 - gap, height());
    painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter, _painted);
}
