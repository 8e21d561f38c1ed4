// Painting of the picture button: the held-down image while pressed, the normal image otherwise.

#include "ImageButton.h"

#include <QPainter>

ImageButton::ImageButton(QWidget* parent) : QAbstractButton(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ImageButton::setImage(const QImage& image, ControlState state) {
    (state == ControlStateHighlighted ? _highlighted : _normal) = image;
    update();
}

QImage ImageButton::image(ControlState state) const {
    return state == ControlStateHighlighted ? _highlighted : _normal;
}

QSize ImageButton::sizeHint() const {
    if (_normal.isNull())
        return QSize(64, 64);
    return (QSizeF(_normal.size()) / _normal.devicePixelRatio()).toSize();
}

void ImageButton::paintEvent(QPaintEvent*) {
    const QImage& picture = isDown() && !_highlighted.isNull() ? _highlighted : _normal;
    if (picture.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF natural = QSizeF(picture.size()) / picture.devicePixelRatio();
    const QSizeF fitted = natural.scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target(QPointF((width() - fitted.width()) / 2.0, (height() - fitted.height()) / 2.0),
                        fitted);
    painter.drawImage(target, picture);
    // The focus shows once the keyboard moves it, as with the style's own buttons.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5, Qt::DotLine));
        painter.drawRect(target.adjusted(1, 1, -1, -1));
    }
}
