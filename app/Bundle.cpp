// Resource look-up by name and type inside one root (a directory or a Qt resource prefix). Images
// prefer a double-density twin when the bundle has one.

#include "Bundle.h"

#include <QFileInfo>

Bundle::Bundle(const QString& root) : _root(root.endsWith('/') ? root : root + '/') {}

const Bundle& Bundle::mainBundle() {
    static const Bundle bundle(QStringLiteral(":/veraxo/"));
    return bundle;
}

QString Bundle::pathForResource(const QString& name, const QString& type) const {
    const QString path = _root + name + '.' + type;
    const QFileInfo info(path);
    return info.exists() && info.isFile() ? path : QString();
}

QImage Bundle::imageNamed(const QString& fileName) const {
    const QFileInfo info(fileName);
    // A double-density twin ("name@2x.png") keeps the picture crisp on high-density screens.
    const QString sharp = pathForResource(info.completeBaseName() + QStringLiteral("@2x"), info.suffix());
    if (!sharp.isEmpty()) {
        QImage image(sharp);
        image.setDevicePixelRatio(2.0);
        return image;
    }
    const QString path = pathForResource(info.completeBaseName(), info.suffix());
    return path.isEmpty() ? QImage() : QImage(path);
}
