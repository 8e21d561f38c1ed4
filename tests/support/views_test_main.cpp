// Test entry for the tests of the views and the shell: a QApplication with the relief's GL format as
// the default, on Qt's offscreen platform unless the tests show widgets on screen (DISPLAY_TESTS_ON_SCREEN:
// the relief, which is not drawn on the offscreen platform, or the shell's windows).

#include <cstdlib>

#include <QApplication>
#include <QSettings>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "Shared/SpectrumView.h"
#include "pin_libraries.h"

#if defined(__SANITIZE_ADDRESS__)
// Mesa unloads its software driver when the last GL context goes, taking the names of its own
// allocations with it: LeakSanitizer then reports them as an unknown module's, which no suppression can
// name. Under ASan nothing is unloaded, so the driver's leaks keep their module and lsan.supp holds them.
extern "C" int dlclose(void*) {
    return 0;
}
#endif

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no display: answer before Qt connects to one.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
#ifdef DISPLAY_TESTS_ON_SCREEN
    const bool offscreen = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
#else
    // Painting and headless GL need no display; Qt's X connection would only add threads and
    // libraries of its own that the sanitizers cannot see into.
    const bool offscreen = true;
#endif
    if (offscreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QSurfaceFormat::setDefaultFormat(SpectrumView::defaultSurfaceFormat());
    QApplication app(argc, argv);
    // The shell remembers the window and the microphone: keep that out of the user's own settings.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    const int result = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
    veraxo_test::pin_loaded_libraries();
#endif
    return result;
}
