#pragma once
// The user's settings: veraxo/veraxo.conf under the user's configuration folder. Without a usable home
// (HOME unset, empty or not an absolute folder, and no absolute XDG_CONFIG_HOME) the configuration
// folder would resolve to the file system's root, so the settings then live in memory for the run and
// nothing is written anywhere.

#include <QString>
#include <QVariant>

class UserSettings {
public:
    static QVariant value(const QString& key, const QVariant& fallback = QVariant());
    static void setValue(const QString& key, const QVariant& value);
    static void remove(const QString& key);
    // True when the settings are kept in the user's configuration folder, false when in memory.
    static bool isPersistent();
};
