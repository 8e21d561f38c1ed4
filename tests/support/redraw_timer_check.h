#pragma once
// The checks every live view's repaint timer passes: one timer, ten ticks a second, started once however
// often redrawing resumes, stopped and kept when it is suspended; and a tick repaints only a view whose
// data changed.

#include <QCoreApplication>
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
// change() gives it new data, after which a tick paints again. Time is counted in the view's own ticks,
// each followed by the repaint it asked for, so a late tick on a loaded machine cannot land its paint
// in the next period.
template <class View, class Change> void expectTicksRepaintOnlyAfterAChange(View& view, Change change) {
    detail::PaintCounter counter;
    view.installEventFilter(&counter);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const auto timers = view.template findChildren<QTimer*>();
    ASSERT_EQ(timers.size(), 1);
    int ticks = 0;
    // Connected after the view's own slot, so the count rises once the tick has asked for its repaint.
    const QMetaObject::Connection counting = QObject::connect(timers[0], &QTimer::timeout, [&] { ++ticks; });
    const auto waitTicks = [&](int n) {
        const int until = ticks + n;
        const bool ticked = QTest::qWaitFor([&] { return ticks >= until; }, 5000);
        QCoreApplication::sendPostedEvents(); // the repaint the last tick asked for
        return ticked;
    };
    view.resumeRedraw();
    // What it had not shown yet takes the first tick; a window system's late expose may add one.
    for (int settle = 0; settle < 12; ++settle) {
        counter.paints = 0;
        ASSERT_TRUE(waitTicks(2)) << "the timer does not tick";
        if (counter.paints == 0)
            break;
    }
    counter.paints = 0;
    ASSERT_TRUE(waitTicks(3));
    EXPECT_EQ(counter.paints, 0) << "ticks repainted a view whose data did not change";
    change();
    ASSERT_TRUE(waitTicks(1));
    EXPECT_GT(counter.paints, 0) << "the next tick did not paint the change";
    QObject::disconnect(counting);
    view.suspendRedraw();
    view.removeEventFilter(&counter);
}

} // namespace veraxo_test
