// Process entry of the desktop program. The two core objects are built before the event loop and
// published through `globals`; the window and its screens are built next and shown; the event loop
// runs until the window closes. On the way out capture is stopped before anything is destroyed (the
// audio thread calls into the engine and the views), then the window goes, then the engine and last
// the voice unit.

#include "Globals.h"
#include "LaunchOptions.h"
#include "VeraxoAppDelegate.h"
#include "VeraxoViewController.h"

#include <QApplication>
#include <QSurfaceFormat>
#include <QTimer>

#include <cstdio>

namespace {

// The relief draws with the fixed-function pipeline: ask for a compatibility context everywhere.
void requestCompatibilityContext() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(16);
    QSurfaceFormat::setDefaultFormat(format);
}

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

} // namespace

int main(int argc, char* argv[]) {
    requestCompatibilityContext();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("veraxo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Veraxo"));
    QApplication::setApplicationVersion(QStringLiteral(VERAXO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("veraxo"));

    LaunchOptions options;
    if (!options.parse(QApplication::arguments())) {
        print(options.message(), options.messageIsError());
        return options.exitStatus();
    }

    Globals::setUp();
    int result = 0;
    {
        VeraxoAppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        if (!options.inputFile().isEmpty())
            delegate.mainViewController()->onRecord();
        if (!options.screenshotPath().isEmpty())
            scheduleScreenshot(delegate.window(), options.screenshotPath(), options.screenshotDelayMs());
        result = QApplication::exec();
        globals->voiceUnit->dispose();
    }
    Globals::tearDown();
    return result;
}
