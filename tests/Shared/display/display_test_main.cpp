// Test entry for the display tests: a QApplication with the relief's GL format as the default, on
// Qt's offscreen platform unless the test shows a GL widget (which the offscreen platform cannot).

#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <link.h>

#include <QApplication>
#include <QSurfaceFormat>
#include <gtest/gtest.h>

#include "SpectrumView.h"

int main(int argc, char** argv) {
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
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
    // The GL driver the widgets loaded is unloaded at exit, before the leak check, which would then
    // take the memory it still holds for leaks; pinned in memory, that memory stays reachable.
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
            if (std::strstr(info->dlpi_name, "_dri.so") || std::strstr(info->dlpi_name, "_mesa.so"))
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
#endif
    return result;
}
