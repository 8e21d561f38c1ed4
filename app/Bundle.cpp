// Resource look-up by name and type in a list of roots (directories or Qt resource prefixes). Images
// prefer a double-density twin when the bundle has one.

#include "Bundle.h"

#include <QFileInfo>

Bundle::Bundle(const QStringList& roots) {
    for (const QString& root : roots)
        _roots.append(root.endsWith('/') ? root : root + '/');
}

const Bundle& Bundle::mainBundle() {
    static const Bundle bundle(QStringList{QStringLiteral(":/veraxo/"), QStringLiteral(":/images/")});
    return bundle;
}

QString Bundle::pathForResource(const QString& name, const QString& type) const {
    for (const QString& root : _roots) {
        const QString path = root + name + '.' + type;
        const QFileInfo info(path);
        if (info.exists() && info.isFile())
            return path;
    }
    return QString();
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
