// Test entry for the display tests: a QApplication (Qt's offscreen platform when there is no display,
// where GL widgets are unavailable) with the relief's GL format as the default.

#include <cstdlib>

#include <QApplication>
#include <QSurfaceFormat>
#include <gtest/gtest.h>

#include "SpectrumView.h"

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QSurfaceFormat::setDefaultFormat(SpectrumView::defaultSurfaceFormat());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
