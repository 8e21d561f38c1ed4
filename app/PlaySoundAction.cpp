// The sound switch and its setting.

#include "PlaySoundAction.h"

#include <QSettings>

#include "platform/FileAudioUnit.h"
#include "platform/PortAudioOutput.h"

namespace {
const char* const playSoundKey = "output/playSound";

QSettings* userSettings() {
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("veraxo"),
                         QStringLiteral("veraxo"));
}
} // namespace

PlaySoundAction::PlaySoundAction(QObject* parent)
    : QAction(tr("Play &Sound"), parent), _maker(&platform::PortAudioOutput::make) {
    setObjectName(QStringLiteral("playSoundAction"));
    setCheckable(true);
    setShortcut(QKeySequence(Qt::Key_M));
    setToolTip(tr("Hear a recording while it is analysed (M)"));
    QSettings* settings = userSettings();
    setChecked(settings->value(QLatin1String(playSoundKey), true).toBool());
    delete settings;
    connect(this, &QAction::toggled, this, [this](bool on) {
        if (_remember) {
            QSettings* settings = userSettings();
            settings->setValue(QLatin1String(playSoundKey), on);
            delete settings;
        }
        apply();
    });
    apply();
}

void PlaySoundAction::setSoundOutput(platform::SoundOutput::Maker maker) {
    _maker = maker;
    apply();
}

void PlaySoundAction::muteForThisRun() {
    _remember = false;
    setChecked(false);
    _remember = true;
    apply();
}

void PlaySoundAction::apply() {
    platform::FileAudioUnit::setSoundOutput(isChecked() ? _maker : nullptr);
}
