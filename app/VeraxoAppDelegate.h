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
class QAction;
class QMenu;
class QSettings;
class QWidget;
class SessionStore;
class VeraxoViewController;

class VeraxoAppDelegate : public QObject {
    Q_OBJECT
public:
    // The window's size in points when it first opens: a portrait handset screen.
    static const QSize defaultWindowSize;

    explicit VeraxoAppDelegate(const Bundle* bundle = nullptr, QObject* parent = nullptr);
    ~VeraxoAppDelegate() override;

    void applicationDidFinishLaunching();

    QWidget* window() const;
    MainWindow* mainWindow() const { return _window; }
    NavigationController* navCon() const { return _navCon; }
    VeraxoViewController* mainViewController() const { return _mainViewController; }
    DeviceMenu* deviceMenu() const { return _deviceMenu; }
    SessionStore* sessionStore() const { return _store; }
    QMenu* fileMenu() const { return _fileMenu; }

    // The microphone backend (PortAudio's unless a test gives another).
    void setMicrophoneComponent(platform::AudioComponent component) { _microphone = component; }
    // How recordings are played in (in real time unless a test asks for speed).
    void setRecordingPacing(platform::FileAudioUnit::Pacing pacing) { _pacing = pacing; }

    // Analyses the recording at path from its start, at once.
    void openRecording(const QString& path);
    // Listens to the microphone: the remembered one unless keepChosenDevice (--device chose it already).
    void useMicrophone(bool keepChosenDevice);
    // Starts the current source over in a new session.
    void restart();
    // Switches capture to the input device with this index and remembers it.
    void chooseDevice(int index);
    // Stops capture, keeps the window's place and ends the program with status 0.
    void quit();

    // Write the session through veraxo-analyze's writers. False with the reason in message; true with
    // message saying what the file lacks (frames older than the last hour), or empty.
    bool exportCsv(const QString& path, QString& message);
    bool exportPicture(const QString& path, QString& message);

    // The recording analysed, or an empty string while the microphone is the source.
    const QString& recordingPath() const { return _recordingPath; }
    // What the window's title names: the recording's file name or the microphone's name.
    QString sourceName() const;

private:
    void buildMenus();
    void onSpace();
    void onHelpKey();
    void onEscape();
    void onCaptureStarting();
    void onOpen();
    void onExportCsv();
    void onExportPicture();
    bool isCapturing() const;
    void stopCapture();
    void updateTitle();
    QString exportName(const QString& suffix) const;
    QString droppedNote() const;
    void showExportResult(bool written, const QString& path, const QString& message);

    QPointer<MainWindow> _window;
    QPointer<NavigationController> _navCon;
    VeraxoViewController* _mainViewController;
    SessionStore* _store;
    DeviceMenu* _deviceMenu = nullptr;
    QMenu* _fileMenu = nullptr;
    platform::AudioComponent _microphone;
    platform::FileAudioUnit::Pacing _pacing = platform::FileAudioUnit::REAL_TIME;
    QString _recordingPath;
    // A session is under way (the next start continues it), and the engine has not analysed anything
    // yet (the first session needs no new one).
    bool _sessionOpen = false;
    bool _engineFresh = true;
    bool _shown = false;
};
