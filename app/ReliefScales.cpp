// The relief's front line lies at depth 20 - 95 x 5/12 in model space, turned -80 degrees about x and
// moved by (0, -1.7, -85); bands run from x = -10 (200 Hz) in steps of 0.625 on the mel scale; the
// projection has a 10 degree vertical field of view.

#include "ReliefScales.h"

#include <QPainter>

#include <cmath>

namespace {
const double lowHz = 200.0;
const double highHz = 3400.0;

double mel(double hz) {
    return 1127.01048 * std::log(1.0 + hz / 700.0);
}

// The front line's point at model x, in eye coordinates.
void frontPoint(double x, double& ex, double& ey, double& ez) {
    const double depth = 20.0 - 95.0 * 5.0 / 12.0;
    const double angle = -80.0 * M_PI / 180.0;
    ex = x;
    ey = depth * std::cos(angle) - 1.7;
    ez = depth * std::sin(angle) - 85.0;
}

double halfHeight() {
    return std::tan(10.0 / 360.0 * M_PI);
}
} // namespace

ReliefScales::ReliefScales(QWidget* relief, QWidget* parent) : ViewFrame(relief, parent) {
    setObjectName(QStringLiteral("spectrumScales"));
    placeView();
}

double ReliefScales::frontEdgeX(double hz, double aspect) {
    const double fraction = (mel(hz) - mel(lowHz)) / (mel(highHz) - mel(lowHz));
    double ex, ey, ez;
    frontPoint(-10.0 + 20.0 * fraction, ex, ey, ez);
    const double ndc = ex / -ez / (halfHeight() * aspect);
    return 0.5 * (1.0 + ndc);
}

double ReliefScales::frontEdgeY() {
    double ex, ey, ez;
    frontPoint(0.0, ex, ey, ez);
    const double ndc = ey / -ez / halfHeight();
    return 0.5 * (1.0 - ndc);
}

QMargins ReliefScales::marginsFor(const QSize&) const {
    const int line = QFontMetrics(labelFont()).height();
    return QMargins(0, line + 2, 0, line + 4);
}

void ReliefScales::paintEvent(QPaintEvent* event) {
    if (!labelsExposed(event))
        return;
    QPainter painter(this);
    painter.setFont(labelFont());
    painter.setPen(labelColor());
    const QFontMetrics metrics(painter.font());
    const QRect relief = viewRect();
    if (relief.width() < 2 || relief.height() < 2)
        return;
    painter.drawText(QRect(relief.left(), 0, relief.width(), relief.top() - 1), Qt::AlignCenter,
                     metrics.elidedText(tr("older at the back \u00b7 newest at the front"), Qt::ElideRight,
                                        relief.width()));

    const double aspect = double(relief.width()) / relief.height();
    const int top = relief.bottom() + 1;
    int nextFree = relief.left();
    for (const double hz : {lowHz, 1000.0, 2000.0, highHz}) {
        const int x = relief.left() + int(std::lround(frontEdgeX(hz, aspect) * relief.width()));
        const QString text = hz == highHz ? tr("%1 Hz").arg(hz) : QString::number(hz);
        const int width = metrics.horizontalAdvance(text);
        // Centred under its place, kept inside the frame and clear of the label before it.
        int left =
            hz == highHz ? x - width + metrics.horizontalAdvance(QString::number(hz)) / 2 : x - width / 2;
        left = std::clamp(left, nextFree, std::max(nextFree, relief.right() - width));
        painter.drawLine(x, top, x, top + 2);
        painter.drawText(QRect(left, top + 3, width, metrics.height()), Qt::AlignCenter, text);
        nextFree = left + width + 4;
    }
}
