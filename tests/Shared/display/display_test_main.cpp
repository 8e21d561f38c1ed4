// Test entry for the display tests: a QApplication (Qt's offscreen platform when there is no display,
// or when the test asks for it; GL widgets are unavailable there) with the relief's GL format as the
// default.

#include <cstdlib>

#include <QApplication>
#include <QSurfaceFormat>
#include <gtest/gtest.h>

#include "SpectrumView.h"

int main(int argc, char** argv) {
#ifdef DISPLAY_TESTS_OFFSCREEN
    // Painting only: Qt's X connection would add a thread of its own that the sanitizer cannot see into.
    const bool offscreen = true;
#else
    const bool offscreen = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
#endif
    if (offscreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QSurfaceFormat::setDefaultFormat(SpectrumView::defaultSurfaceFormat());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
