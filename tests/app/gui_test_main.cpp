// Runs the widget tests inside one QApplication, which Qt needs before any widget exists.

#include "SpectrumView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSurfaceFormat>

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(SpectrumView::defaultSurfaceFormat());
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
