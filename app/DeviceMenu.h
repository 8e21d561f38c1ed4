#pragma once
// The menu of input devices: every device PortAudio offers for capture, the one in use checked (the
// system's default input while none was chosen), a Refresh entry that lists them again, and a disabled
// "No microphone found" entry when there is none. Choosing a device only announces it; whoever owns
// capture switches to it. Listing goes through a function, so tests can offer a list of their own.

#include <QMenu>

#include <functional>
#include <vector>

#include "platform/PortAudioUnit.h"

class QActionGroup;

class DeviceMenu : public QMenu {
    Q_OBJECT
public:
    using DeviceInfo = platform::PortAudioUnit::DeviceInfo;
    using Lister = std::function<std::vector<DeviceInfo>()>;

    explicit DeviceMenu(QWidget* parent = nullptr);

    // The list comes from lister from now on (PortAudio's own list by default); lists at once.
    void setLister(Lister lister);
    // Lists the devices again and rebuilds the menu.
    void refresh();
    // Lists the devices unless that was done already.
    void ensureListed();

    const std::vector<DeviceInfo>& devices() const { return _devices; }
    // Checks the device in use: the one with this index, or the default input when -1 or not listed.
    void setCurrent(int index);
    int current() const { return _current; }
    // The index of the device with exactly this name, else of one known by the same label, or -1.
    int indexNamed(const QString& name) const;
    // The name of the device with this index (-1: the default input), or an empty string.
    QString nameOf(int index) const;
    // The same device as people know it (label()), or an empty string.
    QString labelOf(int index) const;
    // A device's name as people know it: "Default" for ALSA's default, the card's description without
    // its "(hw:0,0)", the sound server's name for its plug-in.
    static QString label(const DeviceInfo& device);

signals:
    void deviceChosen(int index);
    // The list was taken (again).
    void listed();

private:
    void rebuild();
    bool indexIsDefault(int index) const;

    Lister _lister;
    std::vector<DeviceInfo> _devices;
    bool _listed = false;
    int _current = -1;
    QActionGroup* _group;
};
