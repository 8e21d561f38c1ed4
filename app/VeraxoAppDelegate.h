#pragma once
// The application's top level: the main window with its menu bar over the navigation controller, whose
// root is the main screen. Building the delegate builds the window and its screens; launching shows
// the window where it was last left (portrait at first). The keyboard drives the same actions as the
// controls: Space the record button (or the focused button), F1 help, Esc back; the menus carry the
// rest with their shortcuts.
//
// The delegate owns the choice of source. A recording (given at start, chosen with File > Open or
// dropped on the window) is analysed at once; pausing keeps its place, File > Restart starts it over.
// The microphone is chosen in the Microphone menu and remembered in the user's settings; --device
// overrides it for one run. A session begins when a recording is opened, when it starts over, or when
// listening begins from the stopped state; each session runs through a fresh engine, so its frames are
// those veraxo-analyze gives, and the session store keeps them for File > Export.
//
// A recording is heard while it is analysed unless View > Play Sound (M) is off; switching it while a
// recording plays carries on at the same place, heard or silent.
//
// A recording that can be sought (a file, not a pipe) is moved in with the position bar, or with Left
// and Right (5 s) and Home (the View menu's entries, live while the main screen is shown). A seek
// stops capture, starts a fresh engine at the new place (the history belongs to the old one), empties
// the views and goes on playing if it was; the session goes on, its frames keeping their times in the
// recording, which jump at the seek.

#include "Bundle.h"
#include "MainWindow.h"
#include "NavigationController.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

#include "platform/AudioUnit.h"
#include "platform/FileAudioUnit.h"

class DeviceMenu;
class PlaySoundAction;
class QAction;
class QMenu;
class QWidget;
class RecentFilesMenu;
class SessionStore;
class VeraxoViewController;

class VeraxoAppDelegate : public QObject {
    Q_OBJECT
public:
    // The window's size in points when it first opens: a narrow portrait window.
    static const QSize defaultWindowSize;
    // The smallest window that keeps every view usable (the relief and the graph about 100 points high).
    static const QSize minimumWindowSize;

    explicit VeraxoAppDelegate(const Bundle* bundle = nullptr, QObject* parent = nullptr);
    ~VeraxoAppDelegate() override;

    void applicationDidFinishLaunching();
    // Sizes the window for this run only (--window-size): the size saved before is kept for the next.
    void setWindowSize(const QSize& size);

    QWidget* window() const;
    MainWindow* mainWindow() const { return _window; }
    NavigationController* navCon() const { return _navCon; }
    VeraxoViewController* mainViewController() const { return _mainViewController; }
    DeviceMenu* deviceMenu() const { return _deviceMenu; }
    SessionStore* sessionStore() const { return _store; }
    QMenu* fileMenu() const { return _fileMenu; }
    RecentFilesMenu* recentMenu() const { return _recentMenu; }
    PlaySoundAction* playSoundAction() const { return _playSound; }

    // The microphone backend (PortAudio's unless a test gives another).
    void setMicrophoneComponent(platform::AudioComponent component) { _microphone = component; }
    // How recordings are played in (in real time unless a test asks for speed).
    void setRecordingPacing(platform::FileAudioUnit::Pacing pacing) { _pacing = pacing; }
    // The speakers recordings play through (PortAudio's default output unless a test gives another).
    void setSoundOutput(platform::SoundOutput::Maker maker);

    // Analyses the recording at path from its start, at once. A file that cannot be read is reported
    // and changes nothing: the source before it stays, as it was. False then.
    bool openRecording(const QString& path);
    // Listens to the microphone: the remembered one unless keepChosenDevice (--device chose it already).
    void useMicrophone(bool keepChosenDevice);
    // Starts the current source over in a new session.
    void restart();
    // Moves the recording to this sample (at 8000 Hz; the frame it falls in), heard at once if it was
    // playing; nothing for the microphone or a pipe. seekBy moves from where it stands.
    void seekTo(long long sample);
    void seekBy(double seconds);
    // Switches capture to the input device with this index and remembers it.
    void chooseDevice(int index);
    // Stops capture, keeps the window's place and ends the program with status 0.
    void quit();

    // Write the session through veraxo-analyze's writers. False with the reason in message; true with
    // message saying what the file lacks (frames older than the last hour), or empty.
    bool exportCsv(const QString& path, QString& message);
    bool exportPicture(const QString& path, QString& message);
    // Where the export dialogs start: the source's name with suffix, in the folder an export went to
    // last (else the recording's folder, or the home folder for the microphone).
    QString exportStart(const QString& suffix) const;

    // The recording analysed, or an empty string while the microphone is the source.
    const QString& recordingPath() const { return _recordingPath; }
    // What the window's title names: the recording's file name or the microphone's name.
    QString sourceName() const;

private:
    void buildMenus();
    void fitWindowToScreen();
    void onSpace();
    void onHelpKey();
    void onEscape();
    void onCaptureStarting();
    void onSoundSwitched();
    void onOpen();
    void onExportCsv();
    void onExportPicture();
    bool isCapturing() const;
    void stopCapture();
    void updateTitle();
    void updateSeeking();
    QString droppedNote() const;
    void showExportResult(bool written, const QString& path, const QString& message);

    QPointer<MainWindow> _window;
    QPointer<NavigationController> _navCon;
    VeraxoViewController* _mainViewController;
    SessionStore* _store;
    DeviceMenu* _deviceMenu = nullptr;
    QMenu* _fileMenu = nullptr;
    RecentFilesMenu* _recentMenu = nullptr;
    QAction* _exportCsvAction = nullptr;
    QAction* _exportPictureAction = nullptr;
    PlaySoundAction* _playSound = nullptr;
    QList<QAction*> _seekActions;
    // The recording's length (samples at 8000 Hz) when it can be sought, else 0.
    long long _recordingLength = 0;
    bool _mainShown = true;
    platform::AudioComponent _microphone;
    platform::FileAudioUnit::Pacing _pacing = platform::FileAudioUnit::REAL_TIME;
    QString _recordingPath;
    // A session is under way (the next start continues it), and the engine has not analysed anything
    // yet (the first session needs no new one).
    bool _sessionOpen = false;
    bool _engineFresh = true;
    bool _shown = false;
    bool _rememberGeometry = true;
};
