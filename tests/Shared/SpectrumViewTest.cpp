// The relief widget on a real display: it renders into its own framebuffer and shows it in the
// widget, its ticks render only a changed history, and its repaint timer starts once and stops
// quietly. Skipped without a display.

#include <cmath>

#include <QGuiApplication>
#include <gtest/gtest.h>

#include "Shared/SpectrumView.h"
#include "tests/support/redraw_timer_check.h"

namespace {

bool haveDisplay() {
    return QGuiApplication::platformName() != QLatin1String("offscreen");
}

} // namespace

TEST(SpectrumView, ShowsTheRenderedReliefInTheWidget) {
    if (!haveDisplay())
        GTEST_SKIP() << "needs a display";
    SpectrumView view;
    view.resize(560, 300);
    view.show();
    const QImage before = view.grab().toImage();
    ASSERT_TRUE(view.isUsable());
    // Before any frame the view is black.
    EXPECT_EQ(before.pixelColor(280, 200), QColor(0, 0, 0));

    view.redraw();
    const QImage image = view.grab().toImage();
    const qreal ratio = view.devicePixelRatioF();
    // The centre of the flat relief, at model (0, 0, 0): ye = -1.7, ze = -85.
    const double ny = (-1.7 / 85.0) / std::tan(5.0 * M_PI / 180.0);
    const int row = static_cast<int>((1.0 - ny) / 2.0 * 300 * ratio);
    EXPECT_EQ(image.pixelColor(static_cast<int>(280 * ratio), row), QColor(16, 16, 32));
}

TEST(SpectrumView, TicksRenderOnlyAfterNewLines) {
    if (!haveDisplay())
        GTEST_SKIP() << "needs a display";
    SpectrumView view;
    view.resize(200, 120);
    const float line[SpectrumConstants::SAMPLES] = {0.5f};
    veraxo_test::expectTicksRepaintOnlyAfterAChange(view, [&]() { view.newData(line, SpectrumConstants::SAMPLES); });
    veraxo_test::expectTicksRepaintOnlyAfterAChange(view, [&]() { view.clearData(); });
}

TEST(SpectrumView, TimerStartsOnceAndStopsQuietly) {
    SpectrumView view;
    veraxo_test::expectRedrawTimerStartsOnceAndStopsQuietly(view);
}
