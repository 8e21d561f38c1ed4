// Building and showing the main window, its menus and keyboard shortcuts, and switching sources.

#include "VeraxoAppDelegate.h"

#include "DeviceMenu.h"
#include "Globals.h"
#include "ImageButton.h"
#include "MainWindow.h"
#include "NavigationController.h"
#include "SessionStore.h"
#include "StatusBar.h"
#include "VeraxoViewController.h"

#include "platform/PortAudioUnit.h"

#include <sndfile.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>

#include <set>
#include <string>

const QSize VeraxoAppDelegate::defaultWindowSize(320, 480);

namespace {

const char* const deviceKey = "input/microphone";
const char* const geometryKey = "window/geometry";

// The user's settings: veraxo/veraxo.conf under the user's configuration folder.
QSettings* userSettings(QObject* parent) {
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("veraxo"),
                         QStringLiteral("veraxo"), parent);
}

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

QString formatDuration(long long frames) {
    const long long seconds = frames * 128 / 8000;
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

    _window->setObjectName(QStringLiteral("window"));
    _window->setWindowTitle(QStringLiteral("Veraxo"));
    const QImage icon = resources.imageNamed(QStringLiteral("Icon.png"));
    if (!icon.isNull())
        _window->setWindowIcon(QIcon(QPixmap::fromImage(icon)));
    _window->resize(defaultWindowSize);
    _window->setMinimumSize(defaultWindowSize * 3 / 4);
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
    if (_shown && _window) {
        QSettings* settings = userSettings(nullptr);
        settings->setValue(QLatin1String(geometryKey), _window->saveGeometry());
        delete settings;
    }
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
    // Space is an application-wide shortcut; the entry only names it.
    QAction* listen = _fileMenu->addAction(tr("&Listen or Pause\tSpace"));
    listen->setObjectName(QStringLiteral("listenAction"));
    connect(listen, &QAction::triggered, _mainViewController, &VeraxoViewController::onRecord);
    QAction* restartAction = _fileMenu->addAction(tr("&Restart"), this, &VeraxoAppDelegate::restart);
    restartAction->setObjectName(QStringLiteral("restartAction"));
    restartAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    _fileMenu->addSeparator();
    QAction* csv = _fileMenu->addAction(tr("Export &CSV\u2026"), this, &VeraxoAppDelegate::onExportCsv);
    csv->setObjectName(QStringLiteral("exportCsvAction"));
    csv->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    QAction* picture =
        _fileMenu->addAction(tr("Export Report &Picture\u2026"), this, &VeraxoAppDelegate::onExportPicture);
    picture->setObjectName(QStringLiteral("exportPictureAction"));
    picture->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    _fileMenu->addSeparator();
    QAction* quitAction = _fileMenu->addAction(tr("&Quit"), this, &VeraxoAppDelegate::quit);
    quitAction->setObjectName(QStringLiteral("quitAction"));
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

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
}

void VeraxoAppDelegate::applicationDidFinishLaunching() {
    _window->setCentralWidget(_navCon);
    _window->setStatusBar(_mainViewController->statusBar());
    QSettings* settings = userSettings(nullptr);
    const QByteArray geometry = settings->value(QLatin1String(geometryKey)).toByteArray();
    delete settings;
    if (!geometry.isEmpty())
        _window->restoreGeometry(geometry);
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
    _sessionOpen = true;
    _engineFresh = false;
}

void VeraxoAppDelegate::openRecording(const QString& path) {
    stopCapture();
    _recordingPath = path;
    platform::FileAudioUnit::setSource(QFile::encodeName(path).toStdString(), _pacing);
    platform::selectAudioComponent(platform::FileAudioUnit::component());
    _mainViewController->setInputFile(path);
    _sessionOpen = false;
    updateTitle();
    _mainViewController->onRecord();
}

void VeraxoAppDelegate::useMicrophone(bool keepChosenDevice) {
    QSettings* settings = userSettings(nullptr);
    const QString remembered = settings->value(QLatin1String(deviceKey)).toString();
    delete settings;
    // The audio system is asked for its devices only when a name is needed; otherwise when the menu
    // first opens.
    if (keepChosenDevice || !remembered.isEmpty())
        _deviceMenu->ensureListed();
    if (!keepChosenDevice) {
        // A remembered device that is not plugged in now leaves the default input in use.
        platform::PortAudioUnit::selectDevice(remembered.isEmpty() ? -1
                                                                   : _deviceMenu->indexNamed(remembered));
    }
    _deviceMenu->setCurrent(platform::PortAudioUnit::selectedDevice());
    _recordingPath.clear();
    _mainViewController->setInputFile(QString());
    platform::selectAudioComponent(_microphone);
    updateTitle();
}

void VeraxoAppDelegate::restart() {
    stopCapture();
    if (!_recordingPath.isEmpty())
        platform::FileAudioUnit::rewind();
    _mainViewController->statusBar()->resetElapsed();
    _sessionOpen = false;
    _mainViewController->onRecord();
}

void VeraxoAppDelegate::chooseDevice(int index) {
    const bool wasCapturing = isCapturing();
    stopCapture();
    platform::PortAudioUnit::selectDevice(index);
    _deviceMenu->setCurrent(index);
    const QString name = _deviceMenu->nameOf(index);
    if (!name.isEmpty()) {
        QSettings* settings = userSettings(nullptr);
        settings->setValue(QLatin1String(deviceKey), name);
        delete settings;
    }
    _recordingPath.clear();
    _mainViewController->setInputFile(QString());
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
    const QString name = _deviceMenu->nameOf(platform::PortAudioUnit::selectedDevice());
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

QString VeraxoAppDelegate::exportName(const QString& suffix) const {
    if (!_recordingPath.isEmpty()) {
        const QFileInfo recording(_recordingPath);
        return recording.absoluteDir().filePath(recording.completeBaseName() + suffix);
    }
    return QDir(QDir::homePath()).filePath(QStringLiteral("veraxo-session") + suffix);
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
    if (!_store->writeCsv(path, message))
        return false;
    message = droppedNote();
    return true;
}

bool VeraxoAppDelegate::exportPicture(const QString& path, QString& message) {
    _store->collect();
    QString warning;
    const QString title = _recordingPath.isEmpty() ? tr("Veraxo report: microphone %1").arg(sourceName())
                                                   : tr("Veraxo report: %1").arg(sourceName());
    if (!_store->writePicture(path, title, warning, message))
        return false;
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
        QFileDialog::getSaveFileName(_window, tr("Export CSV"), exportName(QStringLiteral(".csv")),
                                     tr("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QString message;
    const bool written = exportCsv(path, message);
    showExportResult(written, path, message);
}

void VeraxoAppDelegate::onExportPicture() {
    const QString path =
        QFileDialog::getSaveFileName(_window, tr("Export Report Picture"), exportName(QStringLiteral(".png")),
                                     tr("PNG pictures (*.png);;All files (*)"));
    if (path.isEmpty())
        return;
    QString message;
    const bool written = exportPicture(path, message);
    showExportResult(written, path, message);
}
