#pragma once
// The checks every live view's repaint timer passes: one timer, ten ticks a second, started once however
// often redrawing resumes, stopped and kept when it is suspended; and a tick repaints only a view whose
// data changed.

#include <QEvent>
#include <QTest>
#include <QTimer>
#include <QWidget>
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

namespace detail {

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace detail

// Shown with its timer running, the view paints what it has, then nothing through three ticks;
// change() gives it new data, after which a tick paints again.
template <class View, class Change> void expectTicksRepaintOnlyAfterAChange(View& view, Change change) {
    detail::PaintCounter counter;
    view.installEventFilter(&counter);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.resumeRedraw();
    // What it had not shown yet may take a tick or two on a loaded machine: settle first.
    for (int settle = 0; settle < 12; ++settle) {
        counter.paints = 0;
        QTest::qWait(250);
        if (counter.paints == 0)
            break;
    }
    counter.paints = 0;
    QTest::qWait(350);
    EXPECT_EQ(counter.paints, 0) << "ticks repainted a view whose data did not change";
    change();
    EXPECT_TRUE(QTest::qWaitFor([&]() { return counter.paints > 0; }, 2000)) << "no tick painted the change";
    view.suspendRedraw();
    view.removeEventFilter(&counter);
}

} // namespace veraxo_test
