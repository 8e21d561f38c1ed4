// Runs the widget tests inside one QApplication, which Qt needs before any widget exists.

#include "SpectrumView.h"

#include <gtest/gtest.h>

#include "support/pin_libraries.h"

#include <QApplication>
#include <QSettings>
#include <QSurfaceFormat>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(SpectrumView::defaultSurfaceFormat());
    QApplication application(argc, argv);
    // The shell remembers the window and the microphone: keep that out of the user's own settings.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
    veraxo_test::pin_loaded_libraries();
#endif
    return result;
}
