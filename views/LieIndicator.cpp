// The lie-level bar: smoothing of the level and the QPainter drawing of picture and black cover.

#include "LieIndicator.h"

#include <QPainter>

#include "Shared/ImageResources.h"

LieIndicator::LieIndicator(QWidget* parent)
    // The dense picture is stretched over the view anyway, so it serves every screen.
    : QWidget(parent), _fullBars(ImageResources::named(QStringLiteral("lie_bar.png"), 2.0)),
      _timer(this, &LieIndicator::onTimer) {}

LieIndicator::~LieIndicator() = default;

void LieIndicator::clearData() {
    _lieLevel.store(0.0f, std::memory_order_relaxed);
}

void LieIndicator::newData(const Signal::Sample* data, int length) noexcept {
    if (!data || length < 1)
        return;
    const double value = static_cast<double>(data[0]);
    float level = _lieLevel.load(std::memory_order_relaxed);
    // Retried only when clearData lands between the load and the store.
    while (!_lieLevel.compare_exchange_weak(
        level, static_cast<float>(0.7 * static_cast<double>(level) + 0.3 * value),
        std::memory_order_relaxed)) {
    }
}

void LieIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    _paintedLevel = lieLevel();
    paintIndicator(painter, QRectF(rect()), _fullBars, _paintedLevel);
}

void LieIndicator::paintIndicator(QPainter& painter, const QRectF& bounds, const QImage& bars, float level) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!bars.isNull())
        painter.drawImage(bounds, bars);
    const float edge = static_cast<float>(bounds.x() + (0.9 * static_cast<double>(level)) * bounds.width());
    // Cover from the edge to the right-hand side, however far left of the view a negative level puts it.
    const qreal cover = qMax<qreal>(0.0, bounds.x() + bounds.width() - edge);
    painter.fillRect(QRectF(edge, bounds.y(), cover, bounds.height()), QColor::fromRgbF(0, 0, 0, 1));
    painter.restore();
}

void LieIndicator::onTimer() {
    // The same level would paint the same picture.
    if (lieLevel() != _paintedLevel)
        update();
}
