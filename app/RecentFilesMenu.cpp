// The list lives in the settings alone; the menu is rebuilt from it whenever it opens, so an entry
// greys as soon as its file disappears.

#include "RecentFilesMenu.h"

#include "UserSettings.h"

#include <QFileInfo>

namespace {
const QString recentKey = QStringLiteral("recent/files");
}

RecentFilesMenu::RecentFilesMenu(QWidget* parent) : QMenu(tr("Open &Recent"), parent) {
    setObjectName(QStringLiteral("recentMenu"));
    setToolTipsVisible(true);
    connect(this, &QMenu::aboutToShow, this, &RecentFilesMenu::rebuild);
    rebuild();
}

QStringList RecentFilesMenu::files() const {
    QStringList list = UserSettings::value(recentKey).toStringList();
    list.removeAll(QString());
    return list.mid(0, MAX_FILES);
}

void RecentFilesMenu::add(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList list = files();
    list.removeAll(absolute);
    list.prepend(absolute);
    UserSettings::setValue(recentKey, list.mid(0, MAX_FILES));
    rebuild();
}

void RecentFilesMenu::clearFiles() {
    UserSettings::remove(recentKey);
    rebuild();
}

void RecentFilesMenu::rebuild() {
    clear();
    const QStringList list = files();
    for (int i = 0; i < list.size(); ++i) {
        const QString& path = list[i];
        QString name = QFileInfo(path).fileName();
        // An ampersand in a name is shown, not taken for a mnemonic.
        name.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* action = addAction(i < 9 ? QStringLiteral("&%1 %2").arg(i + 1).arg(name) : name);
        action->setObjectName(QStringLiteral("recentFile"));
        action->setData(path);
        action->setToolTip(path);
        action->setEnabled(QFileInfo::exists(path));
        // Queued: opening the file rebuilds the menu, deleting the entry that asked for it.
        connect(
            action, &QAction::triggered, this, [this, path] { emit fileChosen(path); }, Qt::QueuedConnection);
    }
    addSeparator();
    QAction* clearAction = addAction(tr("&Clear Menu"));
    clearAction->setObjectName(QStringLiteral("clearRecent"));
    clearAction->setEnabled(!list.isEmpty());
    // Queued: clearing deletes the entry that asked for it.
    connect(clearAction, &QAction::triggered, this, &RecentFilesMenu::clearFiles, Qt::QueuedConnection);
}
