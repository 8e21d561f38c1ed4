#pragma once
// The "Play Sound" entry (M): whether a recording is heard while it is analysed. It is checked unless
// the user turned it off, which the settings remember; muteForThisRun (--mute) turns it off without
// remembering. Its state goes straight to the file backend, whose next instance plays through the
// speakers given here, or in silence. The microphone is never played back, whatever the entry says.

#include <QAction>

#include "platform/SoundOutput.h"

class PlaySoundAction : public QAction {
    Q_OBJECT
public:
    explicit PlaySoundAction(QObject* parent = nullptr);

    // The speakers used while checked (PortAudio's default output unless a test gives another).
    void setSoundOutput(platform::SoundOutput::Maker maker);
    void muteForThisRun();

private:
    void apply();

    platform::SoundOutput::Maker _maker;
    bool _remember = true;
};
