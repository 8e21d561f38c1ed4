// Runs the widget tests inside one QApplication, which Qt needs before any widget exists.

#include "Shared/SpectrumView.h"

#include <gtest/gtest.h>

#include "tests/support/pin_libraries.h"

#include <QApplication>
#include <QSurfaceFormat>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no display: answer before Qt connects to one.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    QSurfaceFormat::setDefaultFormat(SpectrumView::defaultSurfaceFormat());
    QApplication application(argc, argv);
    const int result = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
    veraxo_test::pin_loaded_libraries();
#endif
    return result;
}
