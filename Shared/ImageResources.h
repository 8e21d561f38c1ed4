#pragma once
// The application's pictures, compiled into the program as Qt resources under ":/images/" (for
// example ":/images/texture.png", ":/images/button_start.png"). Each has a twice-as-dense variant
// named with "@2x" before the extension, which Qt's icon and pixmap loaders pick on HiDPI screens by
// themselves; named() picks it for a QImage. A picture that is missing gives a null image.

#include <QImage>
#include <QString>

class ImageResources {
public:
    // The resource path of a picture, e.g. ":/images/lie_bar.png" for "lie_bar.png".
    static QString path(const QString& name);
    // The picture called name; with a device pixel ratio above 1 its "@2x" variant when there is one,
    // marked with a device pixel ratio of 2.
    static QImage named(const QString& name, qreal devicePixelRatio = 1.0);
};
