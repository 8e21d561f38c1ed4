#pragma once
// The check every live view's repaint timer passes: one timer, ten ticks a second, started once however
// often redrawing resumes, stopped and kept when it is suspended.

#include <QTimer>
#include <gtest/gtest.h>

namespace veraxo_test {

template <class View> void expectRedrawTimerStartsOnceAndStopsQuietly(View& view) {
    view.suspendRedraw();
    EXPECT_FALSE(view.isRedrawing());
    view.resumeRedraw();
    view.resumeRedraw();
    EXPECT_TRUE(view.isRedrawing());
    const auto timers = view.template findChildren<QTimer*>();
    ASSERT_EQ(timers.size(), 1);
    EXPECT_EQ(timers[0]->interval(), 100);
    EXPECT_TRUE(timers[0]->isActive());
    view.suspendRedraw();
    EXPECT_FALSE(view.isRedrawing());
    EXPECT_FALSE(timers[0]->isActive());
    EXPECT_EQ(view.template findChildren<QTimer*>().size(), 1);
}

} // namespace veraxo_test
