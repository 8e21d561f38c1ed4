// Process entry of the desktop program. The two core objects are built before the event loop and
// published through `globals`; the window and its screens are built next and shown; the event loop
// runs until the window closes. On the way out capture is stopped before anything is destroyed (the
// audio thread calls into the engine and the views), then the window goes, then the engine and last
// the voice unit.

#include "Globals.h"
#include "LaunchOptions.h"
#include "RunLoopBridge.h"
#include "Shared/SpectrumView.h"
#include "VeraxoAppDelegate.h"
#include "VeraxoViewController.h"

#include "platform/AudioUnit.h"
#include "platform/FileAudioUnit.h"
#include "platform/PortAudioUnit.h"

#include <QApplication>
#include <QSurfaceFormat>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void print(const QString& text, bool error) {
    std::fputs(text.toLocal8Bit().constData(), error ? stderr : stdout);
    std::fflush(error ? stderr : stdout);
}

// Saves a picture of the window once the views have had time to fill, then ends the program.
void scheduleScreenshot(QWidget* window, const QString& path, int delayMs) {
    QTimer::singleShot(delayMs, window, [window, path] {
        const bool saved = window->grab().save(path, "PNG");
        if (!saved)
            print(QStringLiteral("veraxo: cannot write the picture '%1'\n").arg(path), true);
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

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
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
    if (!selectInput(options))
        return 1;
    if (!hasDisplay()) {
        print(QStringLiteral("veraxo: no display to show the window on (DISPLAY is not set)\n"), true);
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
        delegate.applicationDidFinishLaunching();
        if (options.windowSize().isValid())
            delegate.window()->resize(options.windowSize());
        if (!options.inputFile().isEmpty()) {
            // A pipe with no writer yet is waited for off the main thread: the window shows at once.
            delegate.openRecording(options.inputFile());
            if (delegate.mainViewController()->statusIsError())
                print(QStringLiteral("veraxo: %1\n").arg(delegate.mainViewController()->statusMessage()),
                      true);
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
