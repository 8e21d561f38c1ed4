// Process entry of the desktop program. The two core objects are built before the event loop and
// published through `globals`; the window and its screens are built next and shown; the event loop
// runs until the window closes. On the way out capture is stopped before anything is destroyed (the
// audio thread calls into the engine and the views), then the window goes, then the engine and last
// the voice unit.

#include "Globals.h"
#include "LaunchOptions.h"
#include "PlaySoundAction.h"
#include "RunLoopBridge.h"
#include "Shared/SpectrumView.h"
#include "VeraxoAppDelegate.h"
#include "VeraxoVersion.h"
#include "VeraxoViewController.h"

#include "platform/AudioUnit.h"
#include "platform/FileAudioUnit.h"
#include "platform/PortAudioUnit.h"
#include "report/OutputFile.h"

#include <QApplication>
#include <QBuffer>
#include <QSurfaceFormat>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef VERAXO_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace {

void print(const QString& text, bool error) {
    std::fputs(text.toLocal8Bit().constData(), error ? stderr : stdout);
    std::fflush(error ? stderr : stdout);
}

// Saves a picture of the window once the views have had time to fill, then ends the program. The
// picture goes through the same safe path as veraxo-analyze's: a temporary beside the file, renamed
// over it only when complete, so a full disk keeps the old picture.
void scheduleScreenshot(QWidget* window, const QString& path, int delayMs) {
    QTimer::singleShot(delayMs, window, [window, path] {
        QByteArray png;
        QBuffer buffer(&png);
        QString reason = QStringLiteral("cannot encode it as PNG");
        bool saved = buffer.open(QIODevice::WriteOnly) && window->grab().save(&buffer, "PNG");
        if (saved) {
            OutputFile file;
            saved = file.open(path.toStdString()) &&
                    std::fwrite(png.constData(), 1, static_cast<std::size_t>(png.size()), file.stream()) ==
                        static_cast<std::size_t>(png.size()) &&
                    file.commit();
            reason = QString::fromStdString(file.error().empty() ? std::strerror(errno) : file.error());
        }
        if (!saved)
            print(QStringLiteral("veraxo: cannot write the picture '%1' (%2)\n").arg(path, reason), true);
        QCoreApplication::exit(saved ? 0 : 1);
    });
}

int listDevices() {
    const std::vector<platform::PortAudioUnit::DeviceInfo> devices =
        platform::PortAudioUnit::listInputDevices();
    if (devices.empty()) {
        const std::string reason = platform::audioErrorReason();
        print(QStringLiteral("veraxo: no microphone found%1\n")
                  .arg(reason.empty() ? QString()
                                      : QStringLiteral(" (%1)").arg(QString::fromStdString(reason))),
              true);
        return 1;
    }
    for (const platform::PortAudioUnit::DeviceInfo& device : devices)
        print(QStringLiteral("%1%2: %3 (%4)\n")
                  .arg(device.isDefaultInput ? QStringLiteral("* ") : QStringLiteral("  "))
                  .arg(device.index)
                  .arg(QString::fromStdString(device.name), QString::fromStdString(device.hostApi)),
              false);
    return 0;
}

// Chooses where the sound comes from: the recording, the named device or the default microphone.
bool selectInput(const LaunchOptions& options) {
    if (!options.inputFile().isEmpty()) {
        platform::FileAudioUnit::setSource(options.inputFile().toStdString(),
                                           platform::FileAudioUnit::REAL_TIME);
        platform::selectAudioComponent(platform::FileAudioUnit::component());
        return true;
    }
    if (!options.device().isEmpty()) {
        const int index = platform::PortAudioUnit::findInputDevice(options.device().toStdString());
        if (index < 0) {
            print(QStringLiteral("veraxo: no input device matches '%1'; veraxo --list-devices lists them\n")
                      .arg(options.device()),
                  true);
            return false;
        }
        platform::PortAudioUnit::selectDevice(index);
    }
    platform::selectAudioComponent(platform::PortAudioUnit::component());
    return true;
}

void describeApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("veraxo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VERAXO_VERSION));
}

// Why no window can be shown, or an empty string. Qt's X11 plugin aborts the process when DISPLAY
// names a display with no server behind it, so that one is tried first, as the plugin would.
QString displayProblem() {
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && !wayland && platform.isEmpty())
        return QStringLiteral("DISPLAY is not set");
#ifdef VERAXO_HAVE_XCB
    const bool x11 = platform.startsWith(QLatin1String("xcb")) || (platform.isEmpty() && !wayland);
    if (x11 && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        const bool failed = xcb_connection_has_error(connection) != 0;
        xcb_disconnect(connection);
        if (failed)
            return QStringLiteral("no X server answers at DISPLAY '%1'").arg(qEnvironmentVariable("DISPLAY"));
    }
#endif
    return QString();
}

} // namespace

int main(int argc, char* argv[]) {
    // Options are read before any window system is touched, so --help, --version and --list-devices
    // work without a display.
    LaunchOptions options;
    {
        QCoreApplication reader(argc, argv);
        describeApplication();
        if (!options.parse(QCoreApplication::arguments())) {
            print(options.message(), options.messageIsError());
            return options.exitStatus();
        }
        if (options.listDevices())
            return listDevices();
    }
    // The picture must never replace the recording it shows.
    if (!options.screenshotPath().isEmpty() && !options.inputFile().isEmpty() &&
        OutputFile::sameFile(options.screenshotPath().toStdString(), options.inputFile().toStdString())) {
        print(QStringLiteral("veraxo: --screenshot '%1' is the recording being opened; choose another "
                             "file for the picture\n")
                  .arg(options.screenshotPath()),
              true);
        return 2;
    }
    if (!selectInput(options))
        return 1;
    const QString noDisplay = displayProblem();
    if (!noDisplay.isEmpty()) {
        print(QStringLiteral("veraxo: no display to show the window on (%1)\n").arg(noDisplay), true);
        return 1;
    }

    // Without a GL driver, the EGL loader would explain its failure at length; our one line says it.
    if (qEnvironmentVariableIsEmpty("EGL_LOG_LEVEL"))
        qputenv("EGL_LOG_LEVEL", "fatal");
    // The relief draws with the fixed-function pipeline: every context is a compatibility one.
    QSurfaceFormat::setDefaultFormat(SpectrumView::defaultSurfaceFormat());
    QApplication application(argc, argv);
    describeApplication();
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Veraxo"));
    QGuiApplication::setDesktopFileName(QStringLiteral("veraxo"));
    // Asked before the window is built: a window holding the relief where no GL context can be made
    // fails on its first paint, so the relief's place then holds a placeholder instead.
    QString noOpenGL;
    if (!SpectrumView::canRender(&noOpenGL))
        print(QStringLiteral("veraxo: %1; the spectrum relief is not shown\n").arg(noOpenGL), true);
    RunLoopBridge runLoopBridge;
    Globals::setUp();
    int result = 0;
    {
        VeraxoAppDelegate delegate;
        if (options.mute())
            delegate.playSoundAction()->muteForThisRun();
        delegate.applicationDidFinishLaunching();
        if (options.windowSize().isValid())
            delegate.setWindowSize(options.windowSize());
        if (!options.inputFile().isEmpty()) {
            // A pipe with no writer yet is waited for off the main thread: the window shows at once.
            const bool opened = delegate.openRecording(options.inputFile());
            if (delegate.mainViewController()->statusIsError())
                print(QStringLiteral("veraxo: %1\n").arg(delegate.mainViewController()->statusMessage()),
                      true);
            // A file that cannot be read is not the source: the microphone is, as without one.
            if (!opened)
                delegate.useMicrophone(false);
        } else {
            delegate.useMicrophone(!options.device().isEmpty());
        }
        if (!options.screenshotPath().isEmpty())
            scheduleScreenshot(delegate.window(), options.screenshotPath(), options.screenshotDelayMs());
        result = QApplication::exec();
        delegate.mainViewController()->shutDown();
        globals->voiceUnit->dispose();
    }
    Globals::tearDown();
    return result;
}
