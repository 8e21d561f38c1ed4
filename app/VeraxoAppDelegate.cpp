// Building and showing the main window, its menus and keyboard shortcuts, and switching sources.

#include "VeraxoAppDelegate.h"

#include "AboutVeraxo.h"
#include "DeviceMenu.h"
#include "Globals.h"
#include "ImageButton.h"
#include "MainWindow.h"
#include "NavigationController.h"
#include "PipeRelay.h"
#include "PlaySoundAction.h"
#include "PositionBar.h"
#include "RecentFilesMenu.h"
#include "SessionStore.h"
#include "StatusBar.h"
#include "UserSettings.h"
#include "VeraxoViewController.h"

#include "platform/PortAudioUnit.h"
#include "sndfile/AudioFileReader.h"

#include <sndfile.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

const QSize VeraxoAppDelegate::defaultWindowSize(320, 480);
const QSize VeraxoAppDelegate::minimumWindowSize(320, 420);

namespace {

const QString deviceKey = QStringLiteral("input/microphone");
const QString geometryKey = QStringLiteral("window/geometry");
const QString exportFolderKey = QStringLiteral("export/folder");

// The file chooser's filter: every extension of the formats libsndfile reads, with their usual aliases.
QString recordingFilter() {
    std::set<std::string> extensions = {"raw"};
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info = {};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 && info.extension)
            extensions.insert(info.extension);
    }
    const std::pair<const char*, const char*> aliases[] = {
        {"aiff", "aif"}, {"oga", "ogg"}, {"oga", "opus"}, {"au", "snd"}, {"sf", "ircam"}};
    for (const auto& alias : aliases)
        if (extensions.count(alias.first))
            extensions.insert(alias.second);
    QStringList patterns;
    for (const std::string& extension : extensions)
        patterns << QStringLiteral("*.%1").arg(QString::fromStdString(extension));
    return QCoreApplication::translate("VeraxoAppDelegate", "Recordings (%1);;All files (*)")
        .arg(patterns.join(QLatin1Char(' ')));
}

// Samples per analysed frame: seeks land on a frame's start, so the frames' times stay on the grid.
constexpr long long frameSamples = 128;

QString formatDuration(long long frames) {
    const long long seconds = frames * frameSamples / 8000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

VeraxoAppDelegate::VeraxoAppDelegate(const Bundle* bundle, QObject* parent)
    : QObject(parent), _window(new MainWindow), _mainViewController(nullptr), _store(new SessionStore(this)),
      _microphone(platform::PortAudioUnit::component()) {
    const Bundle& resources = bundle ? *bundle : Bundle::mainBundle();
    _mainViewController = new VeraxoViewController(QStringLiteral("MainWindow"), &resources, this);
    _navCon = new NavigationController(_mainViewController);
    _store->attach(*globals->engine);
    connect(_mainViewController, &VeraxoViewController::captureStarting, this,
            &VeraxoAppDelegate::onCaptureStarting);
    connect(_mainViewController, &VeraxoViewController::onScreenChanged, this, [this](bool shown) {
        _mainShown = shown;
        updateSeeking();
    });

    _window->setObjectName(QStringLiteral("window"));
    _window->setWindowTitle(QStringLiteral("Veraxo"));
    const QImage icon = resources.imageNamed(QStringLiteral("Icon.png"));
    if (!icon.isNull())
        _window->setWindowIcon(QIcon(QPixmap::fromImage(icon)));
    _window->resize(defaultWindowSize);
    _window->setMinimumSize(minimumWindowSize);
    connect(_window, &MainWindow::fileDropped, this, &VeraxoAppDelegate::openRecording);
    buildMenus();

    // The program has this one window: its keys work whenever it has the keyboard.
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), _window);
    space->setContext(Qt::ApplicationShortcut);
    connect(space, &QShortcut::activated, this, &VeraxoAppDelegate::onSpace);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), _window);
    help->setContext(Qt::ApplicationShortcut);
    connect(help, &QShortcut::activated, this, &VeraxoAppDelegate::onHelpKey);
    auto* back = new QShortcut(QKeySequence(Qt::Key_Escape), _window);
    back->setContext(Qt::ApplicationShortcut);
    connect(back, &QShortcut::activated, this, &VeraxoAppDelegate::onEscape);
}

VeraxoAppDelegate::~VeraxoAppDelegate() {
    // Before the session store and the screen go, no block may reach them.
    _mainViewController->releaseCore();
    if (_shown && _window && _rememberGeometry)
        UserSettings::setValue(geometryKey, _window->saveGeometry());
    delete _navCon;
    delete _window;
}

QWidget* VeraxoAppDelegate::window() const {
    return _window;
}

void VeraxoAppDelegate::buildMenus() {
    QMenuBar* bar = _window->menuBar();
    // The bar wears the navigation bar's colours, so the window stays one dark piece.
    QPalette barPalette = bar->palette();
    barPalette.setColor(QPalette::Window, QColor(28, 30, 38));
    barPalette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    barPalette.setColor(QPalette::ButtonText, QColor(235, 235, 240));
    bar->setPalette(barPalette);
    bar->setAutoFillBackground(true);
    _fileMenu = bar->addMenu(tr("&File"));
    _fileMenu->setObjectName(QStringLiteral("fileMenu"));
    QAction* open = _fileMenu->addAction(tr("&Open\u2026"), this, &VeraxoAppDelegate::onOpen);
    open->setObjectName(QStringLiteral("openAction"));
    open->setShortcut(QKeySequence::Open);
    _recentMenu = new RecentFilesMenu(_fileMenu);
    _fileMenu->addMenu(_recentMenu);
    connect(_recentMenu, &RecentFilesMenu::fileChosen, this, &VeraxoAppDelegate::openRecording);
    // Space is an application-wide shortcut; the entry only names it.
    QAction* listen = _fileMenu->addAction(tr("&Listen or Pause\tSpace"));
    listen->setObjectName(QStringLiteral("listenAction"));
    connect(listen, &QAction::triggered, _mainViewController, &VeraxoViewController::onRecord);
    QAction* restartAction = _fileMenu->addAction(tr("&Restart"), this, &VeraxoAppDelegate::restart);
    restartAction->setObjectName(QStringLiteral("restartAction"));
    restartAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    _fileMenu->addSeparator();
    _exportCsvAction = _fileMenu->addAction(tr("Export &CSV\u2026"), this, &VeraxoAppDelegate::onExportCsv);
    _exportCsvAction->setObjectName(QStringLiteral("exportCsvAction"));
    _exportCsvAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    _exportPictureAction =
        _fileMenu->addAction(tr("Export Report &Picture\u2026"), this, &VeraxoAppDelegate::onExportPicture);
    _exportPictureAction->setObjectName(QStringLiteral("exportPictureAction"));
    _exportPictureAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    // Nothing to export until a frame has been analysed since the source was opened.
    _exportCsvAction->setEnabled(_store->hasFrames());
    _exportPictureAction->setEnabled(_store->hasFrames());
    connect(_store, &SessionStore::hasFramesChanged, _exportCsvAction, &QAction::setEnabled);
    connect(_store, &SessionStore::hasFramesChanged, _exportPictureAction, &QAction::setEnabled);
    _fileMenu->addSeparator();
    QAction* quitAction = _fileMenu->addAction(tr("&Quit"), this, &VeraxoAppDelegate::quit);
    quitAction->setObjectName(QStringLiteral("quitAction"));
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* viewMenu = bar->addMenu(tr("&View"));
    viewMenu->setObjectName(QStringLiteral("viewMenu"));
    _playSound = new PlaySoundAction(this);
    viewMenu->addAction(_playSound);
    connect(_playSound, &QAction::toggled, this, &VeraxoAppDelegate::onSoundSwitched);
    // Live only while the main screen is shown: on the help page the arrows and Home scroll it.
    viewMenu->addSeparator();
    const auto addSeek = [&](const QString& text, const char* name, Qt::Key key, auto slot) {
        QAction* action = viewMenu->addAction(text, this, slot);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(QKeySequence(key));
        _seekActions << action;
    };
    addSeek(tr("&Back 5 Seconds"), "seekBackAction", Qt::Key_Left, [this] { seekBy(-5.0); });
    addSeek(tr("&Forward 5 Seconds"), "seekForwardAction", Qt::Key_Right, [this] { seekBy(5.0); });
    addSeek(tr("Back to the &Start"), "seekStartAction", Qt::Key_Home, [this] { seekTo(0); });
    connect(_mainViewController->positionBar(), &PositionBar::seekRequested, this,
            &VeraxoAppDelegate::seekTo);
    updateSeeking();

    _deviceMenu = new DeviceMenu(bar);
    bar->addMenu(_deviceMenu);
    connect(_deviceMenu, &DeviceMenu::deviceChosen, this, &VeraxoAppDelegate::chooseDevice);
    connect(_deviceMenu, &DeviceMenu::listed, this, &VeraxoAppDelegate::updateTitle);

    // F1 is an application-wide shortcut; the entry only names it.
    QMenu* helpMenu = bar->addMenu(tr("&Help"));
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    QAction* help = helpMenu->addAction(tr("Veraxo &Help\tF1"));
    help->setObjectName(QStringLiteral("helpAction"));
    connect(help, &QAction::triggered, this, &VeraxoAppDelegate::onHelpKey);
    helpMenu->addSeparator();
    QAction* about = helpMenu->addAction(tr("&About Veraxo"), this, [this] { AboutVeraxo::show(_window); });
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setMenuRole(QAction::AboutRole);
}

void VeraxoAppDelegate::applicationDidFinishLaunching() {
    _window->setCentralWidget(_navCon);
    _window->setStatusBar(_mainViewController->statusBar());
    const QByteArray geometry = UserSettings::value(geometryKey).toByteArray();
    if (!geometry.isEmpty() && _window->restoreGeometry(geometry))
        fitWindowToScreen();
    _window->show();
    // Windowless platforms (pictures, tests) have no stacking and would only complain about it.
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        _window->raise();
    _window->activateWindow();
    // The record button has the keyboard first: Space is listening, whichever control Tab reaches.
    _mainViewController->recordButtton()->setFocus(Qt::OtherFocusReason);
    _shown = true;
}

void VeraxoAppDelegate::fitWindowToScreen() {
    // A saved place may come from a larger screen, or from a settings file made by hand: the window
    // never opens larger than the screen's free area, nor outside it.
    const QScreen* screen = _window->screen() ? _window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    QRect placed = _window->geometry();
    placed.setSize(placed.size().boundedTo(available.size()).expandedTo(_window->minimumSize()));
    placed.moveLeft(qBound(available.left(), placed.left(),
                           qMax(available.left(), available.right() - placed.width() + 1)));
    placed.moveTop(qBound(available.top(), placed.top(),
                          qMax(available.top(), available.bottom() - placed.height() + 1)));
    if (placed != _window->geometry())
        _window->setGeometry(placed);
}

void VeraxoAppDelegate::setWindowSize(const QSize& size) {
    // A size asked for one run is that run's alone: the place saved before stays for the next.
    _rememberGeometry = false;
    _window->resize(size);
}

void VeraxoAppDelegate::onSpace() {
    if (!_navCon || _navCon->topViewController() != _mainViewController)
        return;
    // Space presses a button the keyboard moved the focus to; otherwise it is the record button.
    auto* focused = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
    if (focused && focused->window() == _window && focused->isVisible() &&
        _window->testAttribute(Qt::WA_KeyboardFocusChange))
        focused->click();
    else
        _mainViewController->onRecord();
}

void VeraxoAppDelegate::onHelpKey() {
    if (_navCon && _navCon->topViewController() == _mainViewController)
        _mainViewController->onHelp();
}

void VeraxoAppDelegate::onEscape() {
    if (_navCon)
        _navCon->popViewControllerAnimated(true);
}

bool VeraxoAppDelegate::isCapturing() const {
    return globals->voiceUnit->state != VoiceUnit::STATE_UNINITIALIZED;
}

void VeraxoAppDelegate::stopCapture() {
    // A press also gives up waiting for a pipe's writer.
    if (isCapturing() || _mainViewController->isWaitingForInput())
        _mainViewController->onRecord();
}

void VeraxoAppDelegate::onCaptureStarting() {
    if (!_recordingPath.isEmpty() && platform::FileAudioUnit::sourceEnded()) {
        // A recording that was heard to its end starts over.
        platform::FileAudioUnit::rewind();
        _sessionOpen = false;
    }
    if (_sessionOpen)
        return;
    if (!_engineFresh) {
        _mainViewController->renewEngine();
        _store->attach(*globals->engine);
    }
    _store->clear();
    // A session may begin where a seek left the recording.
    if (!_recordingPath.isEmpty())
        _store->continueAt(platform::FileAudioUnit::sourcePosition() / frameSamples);
    _sessionOpen = true;
    _engineFresh = false;
}

void VeraxoAppDelegate::setSoundOutput(platform::SoundOutput::Maker maker) {
    _playSound->setSoundOutput(maker);
}

void VeraxoAppDelegate::onSoundSwitched() {
    // The backend's next instance plays or stays silent: a pause and a resume change over in place.
    if (_recordingPath.isEmpty() || globals->voiceUnit->state != VoiceUnit::STATE_RUNNING)
        return;
    _mainViewController->onRecord();
    _mainViewController->onRecord();
}

bool VeraxoAppDelegate::openRecording(const QString& path) {
    // The file is tried before anything changes: one that cannot be read leaves the recording that
    // was open as it was (a pipe cannot be tried without taking its sound; it is read when it comes).
    long long length = 0;
    if (!PipeRelay::mustRelay(path)) {
        AudioFileReader probe;
        if (!probe.open(QFile::encodeName(path).toStdString())) {
            _mainViewController->showError(
                VeraxoViewController::openFailureMessage(path, QString::fromStdString(probe.errorText())));
            return false;
        }
        length = std::max(0LL, probe.expectedSamples());
    }
    stopCapture();
    if (QFileInfo(path).isFile())
        _recentMenu->add(path);
    _store->clear();
    _recordingPath = path;
    platform::FileAudioUnit::setSource(QFile::encodeName(path).toStdString(), _pacing);
    platform::selectAudioComponent(platform::FileAudioUnit::component());
    _mainViewController->setInputFile(path);
    _recordingLength = length;
    updateSeeking();
    _sessionOpen = false;
    updateTitle();
    _mainViewController->onRecord();
    return true;
}

void VeraxoAppDelegate::useMicrophone(bool keepChosenDevice) {
    const QString remembered = UserSettings::value(deviceKey).toString();
    // The audio system is asked for its devices only when a name is needed; otherwise when the menu
    // first opens.
    if (keepChosenDevice || !remembered.isEmpty())
        _deviceMenu->ensureListed();
    if (!keepChosenDevice) {
        // A remembered device that is not plugged in now leaves the default input in use, and says so.
        const int index = remembered.isEmpty() ? -1 : _deviceMenu->indexNamed(remembered);
        platform::PortAudioUnit::selectDevice(index);
        if (!remembered.isEmpty() && index < 0)
            _mainViewController->showNotice(
                tr("The microphone '%1' is not connected: the default input is used.")
                    .arg(DeviceMenu::label({-1, remembered.toStdString(), std::string(), 0, 0.0, false})));
    }
    _deviceMenu->setCurrent(platform::PortAudioUnit::selectedDevice());
    if (!isCapturing())
        _store->clear();
    _recordingPath.clear();
    _mainViewController->setInputFile(QString());
    _recordingLength = 0;
    updateSeeking();
    platform::selectAudioComponent(_microphone);
    updateTitle();
}

void VeraxoAppDelegate::restart() {
    stopCapture();
    if (!_recordingPath.isEmpty())
        platform::FileAudioUnit::rewind();
    _mainViewController->statusBar()->resetElapsed();
    _mainViewController->clearViews();
    _sessionOpen = false;
    _mainViewController->onRecord();
}

void VeraxoAppDelegate::seekTo(long long sample) {
    if (_recordingLength <= 0)
        return;
    const bool wasRunning = globals->voiceUnit->state == VoiceUnit::STATE_RUNNING;
    // The control thread's handover, as for a pause: the unit stops (the sound is cut, not drained),
    // the reader is put at the new place, and a new instance starts there.
    stopCapture();
    const long long at = std::clamp(sample, 0LL, _recordingLength) / frameSamples * frameSamples;
    platform::FileAudioUnit::seek(at);
    _store->collect();
    _mainViewController->renewEngine();
    _store->attach(*globals->engine);
    _store->continueAt(at / frameSamples);
    _engineFresh = false;
    _mainViewController->movedTo(at);
    if (wasRunning)
        _mainViewController->onRecord();
}

void VeraxoAppDelegate::seekBy(double seconds) {
    if (_recordingLength <= 0)
        return;
    // Stopped first, the time heard is exactly where the recording stands.
    const bool wasRunning = globals->voiceUnit->state == VoiceUnit::STATE_RUNNING;
    if (wasRunning)
        stopCapture();
    const long long here = _mainViewController->statusBar()->samplesHeard();
    const long long step = std::llround(seconds * 8000.0);
    seekTo(here + step);
    if (wasRunning && globals->voiceUnit->state != VoiceUnit::STATE_RUNNING)
        _mainViewController->onRecord();
}

void VeraxoAppDelegate::updateSeeking() {
    _mainViewController->setRecordingLength(_recordingLength);
    for (QAction* action : _seekActions)
        action->setEnabled(_recordingLength > 0 && _mainShown);
}

void VeraxoAppDelegate::chooseDevice(int index) {
    const bool wasCapturing = isCapturing();
    stopCapture();
    platform::PortAudioUnit::selectDevice(index);
    _deviceMenu->setCurrent(index);
    const QString name = _deviceMenu->nameOf(index);
    if (!name.isEmpty())
        UserSettings::setValue(deviceKey, name);
    _store->clear();
    _recordingPath.clear();
    _mainViewController->setInputFile(QString());
    _recordingLength = 0;
    updateSeeking();
    platform::selectAudioComponent(_microphone);
    _sessionOpen = false;
    updateTitle();
    if (wasCapturing)
        _mainViewController->onRecord();
}

void VeraxoAppDelegate::quit() {
    _mainViewController->shutDown();
    globals->voiceUnit->dispose();
    if (_window)
        _window->close();
    QCoreApplication::exit(0);
}

QString VeraxoAppDelegate::sourceName() const {
    if (!_recordingPath.isEmpty())
        return QFileInfo(_recordingPath).fileName();
    const QString name = _deviceMenu->labelOf(platform::PortAudioUnit::selectedDevice());
    return name.isEmpty() ? tr("Microphone") : name;
}

void VeraxoAppDelegate::updateTitle() {
    _window->setWindowTitle(sourceName());
    if (_recordingPath.isEmpty())
        _mainViewController->setMicrophoneName(sourceName());
}

void VeraxoAppDelegate::onOpen() {
    const QString start = _recordingPath.isEmpty()
                              ? QStandardPaths::writableLocation(QStandardPaths::MusicLocation)
                              : QFileInfo(_recordingPath).absolutePath();
    const QString path =
        QFileDialog::getOpenFileName(_window, tr("Open Recording"), start, recordingFilter());
    if (!path.isEmpty())
        openRecording(path);
}

QString VeraxoAppDelegate::exportStart(const QString& suffix) const {
    // The folder used last, else the recording's (or the home folder for the microphone).
    const QString base = _recordingPath.isEmpty() ? QStringLiteral("veraxo-session")
                                                  : QFileInfo(_recordingPath).completeBaseName();
    const QString last = UserSettings::value(exportFolderKey).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return QDir(last).filePath(base + suffix);
    const QString folder =
        _recordingPath.isEmpty() ? QDir::homePath() : QFileInfo(_recordingPath).absolutePath();
    return QDir(folder).filePath(base + suffix);
}

QString VeraxoAppDelegate::droppedNote() const {
    const long long dropped = _store->droppedFrames();
    if (dropped <= 0)
        return QString();
    return tr("The session is longer than what is kept: its oldest %1 frames (%2) were dropped, and the "
              "export holds the last %3 frames (%4).")
        .arg(dropped)
        .arg(formatDuration(dropped))
        .arg(_store->keptFrames())
        .arg(formatDuration(_store->keptFrames()));
}

bool VeraxoAppDelegate::exportCsv(const QString& path, QString& message) {
    _store->collect();
    if (!_store->hasFrames()) {
        message = tr("nothing has been analysed since the source was opened");
        return false;
    }
    if (!_store->writeCsv(path, message))
        return false;
    UserSettings::setValue(exportFolderKey, QFileInfo(path).absolutePath());
    message = droppedNote();
    return true;
}

bool VeraxoAppDelegate::exportPicture(const QString& path, QString& message) {
    _store->collect();
    if (!_store->hasFrames()) {
        message = tr("nothing has been analysed since the source was opened");
        return false;
    }
    QString warning;
    const QString title = _recordingPath.isEmpty() ? tr("Veraxo report: microphone %1").arg(sourceName())
                                                   : tr("Veraxo report: %1").arg(sourceName());
    if (!_store->writePicture(path, title, warning, message))
        return false;
    UserSettings::setValue(exportFolderKey, QFileInfo(path).absolutePath());
    message = droppedNote();
    if (!warning.isEmpty())
        message = (message.isEmpty() ? QString() : message + QLatin1Char(' ')) +
                  tr("The picture lacks the relief: %1.").arg(warning);
    return true;
}

void VeraxoAppDelegate::showExportResult(bool written, const QString& path, const QString& message) {
    if (!written)
        QMessageBox::warning(_window, tr("Export"),
                             tr("Cannot write %1: %2.").arg(QDir::toNativeSeparators(path), message));
    else if (!message.isEmpty())
        QMessageBox::information(_window, tr("Export"), message);
}

void VeraxoAppDelegate::onExportCsv() {
    const QString path =
        QFileDialog::getSaveFileName(_window, tr("Export CSV"), exportStart(QStringLiteral(".csv")),
                                     tr("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QString message;
    const bool written = exportCsv(path, message);
    showExportResult(written, path, message);
}

void VeraxoAppDelegate::onExportPicture() {
    const QString path = QFileDialog::getSaveFileName(_window, tr("Export Report Picture"),
                                                      exportStart(QStringLiteral(".png")),
                                                      tr("PNG pictures (*.png);;All files (*)"));
    if (path.isEmpty())
        return;
    QString message;
    const bool written = exportPicture(path, message);
    showExportResult(written, path, message);
}
