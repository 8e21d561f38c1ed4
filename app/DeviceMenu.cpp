// Building the device menu from the current list.

#include "DeviceMenu.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QRegularExpression>

DeviceMenu::DeviceMenu(QWidget* parent)
    : QMenu(tr("&Microphone"), parent), _lister(&platform::PortAudioUnit::listInputDevices),
      _group(new QActionGroup(this)) {
    setObjectName(QStringLiteral("deviceMenu"));
    _group->setExclusive(true);
    // The list is taken when the menu first opens, so starting with a recording never touches the
    // audio system.
    connect(this, &QMenu::aboutToShow, this, &DeviceMenu::ensureListed);
    rebuild();
}

void DeviceMenu::setLister(Lister lister) {
    _lister = std::move(lister);
    refresh();
}

void DeviceMenu::refresh() {
    _devices = _lister();
    _listed = true;
    rebuild();
    emit listed();
}

void DeviceMenu::ensureListed() {
    if (!_listed)
        refresh();
}

void DeviceMenu::setCurrent(int index) {
    _current = index;
    bool currentListed = false;
    for (const DeviceInfo& device : _devices)
        currentListed = currentListed || device.index == _current;
    for (QAction* action : _group->actions()) {
        const int shown = action->data().toInt();
        action->setChecked(currentListed ? shown == _current : indexIsDefault(shown));
    }
}

bool DeviceMenu::indexIsDefault(int index) const {
    for (const DeviceInfo& device : _devices)
        if (device.index == index)
            return device.isDefaultInput;
    return false;
}

int DeviceMenu::indexNamed(const QString& name) const {
    for (const DeviceInfo& device : _devices)
        if (QString::fromStdString(device.name) == name)
            return device.index;
    // A card plugged into another socket keeps its description but not its "(hw:N,M)".
    const QString known = label({-1, name.toStdString(), std::string(), 0, 0.0, false});
    for (const DeviceInfo& device : _devices)
        if (label(device) == known)
            return device.index;
    return -1;
}

QString DeviceMenu::label(const DeviceInfo& device) {
    QString name = QString::fromStdString(device.name).trimmed();
    // ALSA's plug-in names and its "card: device (hw:N,M)" names, as people know them.
    static const QRegularExpression hardware(QStringLiteral("\\s*\\((plug)?hw:[^)]*\\)$"));
    name.remove(hardware);
    const struct {
        const char* alsa;
        const char* shown;
    } known[] = {{"default", "Default"},    {"sysdefault", "System default"},
                 {"pulse", "PulseAudio"},   {"pipewire", "PipeWire"},
                 {"jack", "JACK"},          {"dmix", "Mixer"},
                 {"dsnoop", "Shared input"}};
    for (const auto& entry : known)
        if (name.compare(QLatin1String(entry.alsa), Qt::CaseInsensitive) == 0)
            return QCoreApplication::translate("DeviceMenu", entry.shown);
    return name;
}

QString DeviceMenu::labelOf(int index) const {
    for (const DeviceInfo& device : _devices)
        if (index < 0 ? device.isDefaultInput : device.index == index)
            return label(device);
    return QString();
}

QString DeviceMenu::nameOf(int index) const {
    for (const DeviceInfo& device : _devices)
        if (index < 0 ? device.isDefaultInput : device.index == index)
            return QString::fromStdString(device.name);
    return QString();
}

void DeviceMenu::rebuild() {
    clear();
    for (QAction* action : _group->actions())
        _group->removeAction(action);
    if (_listed && _devices.empty()) {
        QAction* none = addAction(tr("No microphone found"));
        none->setObjectName(QStringLiteral("noDevice"));
        none->setEnabled(false);
    }
    // The audio system's name is shown only when there are several to tell apart.
    bool severalSystems = false;
    for (const DeviceInfo& device : _devices)
        severalSystems = severalSystems || device.hostApi != _devices.front().hostApi;
    for (const DeviceInfo& device : _devices) {
        QString label = DeviceMenu::label(device);
        if (severalSystems && !device.hostApi.empty())
            label += QStringLiteral(" (%1)").arg(QString::fromStdString(device.hostApi));
        if (device.isDefaultInput && label != tr("Default"))
            label += tr(" \u2014 default");
        // An ampersand in a device's name is shown, not taken for a mnemonic.
        QAction* action = addAction(label.replace(QLatin1Char('&'), QStringLiteral("&&")));
        action->setCheckable(true);
        action->setData(device.index);
        _group->addAction(action);
        const int index = device.index;
        connect(action, &QAction::triggered, this, [this, index] { emit deviceChosen(index); });
    }
    if (!actions().isEmpty())
        addSeparator();
    QAction* refreshAction = addAction(tr("&Refresh"));
    refreshAction->setObjectName(QStringLiteral("refreshDevices"));
    // Queued: refreshing deletes the entry that asked for it.
    connect(refreshAction, &QAction::triggered, this, &DeviceMenu::refresh, Qt::QueuedConnection);
    setCurrent(_current);
}
