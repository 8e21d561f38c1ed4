// The settings file, or a map for the run when there is no home to keep it in.

#include "UserSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVariantMap>

#include <memory>

namespace {

QVariantMap& memory() {
    static QVariantMap settings;
    return settings;
}

std::unique_ptr<QSettings> open() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("veraxo"), QStringLiteral("veraxo"));
}

} // namespace

bool UserSettings::isPersistent() {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.isEmpty() && QDir::isAbsolutePath(config))
        return true;
    const QString home = qEnvironmentVariable("HOME");
    return !home.isEmpty() && QDir::isAbsolutePath(home) && QFileInfo(home).isDir() &&
           QDir::cleanPath(home) != QDir::rootPath();
}

QVariant UserSettings::value(const QString& key, const QVariant& fallback) {
    if (!isPersistent())
        return memory().value(key, fallback);
    return open()->value(key, fallback);
}

void UserSettings::setValue(const QString& key, const QVariant& value) {
    if (!isPersistent()) {
        memory().insert(key, value);
        return;
    }
    open()->setValue(key, value);
}

void UserSettings::remove(const QString& key) {
    if (!isPersistent()) {
        memory().remove(key);
        return;
    }
    open()->remove(key);
}
