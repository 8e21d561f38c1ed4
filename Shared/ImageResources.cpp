// Look-up of the compiled-in pictures by name, with the denser variant for HiDPI.

#include "ImageResources.h"

#include <QFileInfo>

QString ImageResources::path(const QString& name) {
    return QStringLiteral(":/images/") + name;
}

QImage ImageResources::named(const QString& name, qreal devicePixelRatio) {
    if (devicePixelRatio > 1.0) {
        const QFileInfo info(name);
        const QString dense = info.completeBaseName() + QStringLiteral("@2x.") + info.suffix();
        QImage image(path(dense));
        if (!image.isNull()) {
            image.setDevicePixelRatio(2.0);
            return image;
        }
    }
    return QImage(path(name));
}
