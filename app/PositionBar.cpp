// The position bar's drawing and its mouse handling.

#include "PositionBar.h"

#include "StatusBar.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {
const int inset = 1;
} // namespace

PositionBar::PositionBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("positionBar"));
    setAccessibleName(tr("Position"));
    setToolTip(tr("Click or drag to move in the recording (Left and Right: 5 seconds, Home: the start)"));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PositionBar::setLength(long long samples) {
    _length = std::max(0LL, samples);
    update();
}

void PositionBar::setPosition(long long samples) {
    if (samples == _position)
        return;
    _position = samples;
    update();
}

QString PositionBar::positionText() const {
    return tr("%1 / %2").arg(StatusBar::clockText(shown() / sampleRate),
                             StatusBar::clockText(_length / sampleRate));
}

long long PositionBar::sampleAt(int x) const {
    const int span = std::max(1, width() - 2 * inset);
    const double fraction = std::clamp(double(x - inset) / span, 0.0, 1.0);
    return static_cast<long long>(fraction * double(_length));
}

QSize PositionBar::sizeHint() const {
    return QSize(fontMetrics().horizontalAdvance(QStringLiteral("00:00 / 00:00")) * 3,
                 fontMetrics().height() + 4);
}

QSize PositionBar::minimumSizeHint() const {
    return QSize(fontMetrics().horizontalAdvance(QStringLiteral("00:00 / 00:00")) + 8, sizeHint().height());
}

void PositionBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect track = rect().adjusted(inset, inset, -inset - 1, -inset - 1);
    painter.fillRect(track, QColor(40, 40, 56));
    if (_length > 0) {
        const double fraction = std::clamp(double(shown()) / double(_length), 0.0, 1.0);
        painter.fillRect(QRect(track.left(), track.top(), int(track.width() * fraction), track.height() + 1),
                         _dragging ? QColor(90, 110, 170) : QColor(70, 86, 140));
    }
    painter.setPen(QColor(110, 110, 130));
    painter.drawRect(track);
    painter.setPen(QColor(235, 235, 240));
    painter.drawText(track, Qt::AlignCenter, positionText());
}

void PositionBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || _length <= 0)
        return QWidget::mousePressEvent(event);
    _dragging = true;
    _dragAt = sampleAt(event->position().toPoint().x());
    update();
}

void PositionBar::mouseMoveEvent(QMouseEvent* event) {
    if (!_dragging)
        return QWidget::mouseMoveEvent(event);
    _dragAt = sampleAt(event->position().toPoint().x());
    update();
}

void PositionBar::mouseReleaseEvent(QMouseEvent* event) {
    if (!_dragging || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    _dragging = false;
    _dragAt = sampleAt(event->position().toPoint().x());
    update();
    emit seekRequested(_dragAt);
}
