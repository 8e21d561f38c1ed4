#pragma once
// The repaint timer of a live view: ten ticks a second while the view is shown, each calling the view's
// tick handler on the thread that resumed it; resuming a running timer changes nothing, and a suspended
// timer is stopped and kept.

#include <QTimer>

class RedrawTimer : public QTimer {
public:
    template <class View> RedrawTimer(View* view, void (View::*onTick)()) : QTimer(view) {
        setInterval(100);
        connect(this, &QTimer::timeout, view, onTick);
    }

    void resume() {
        if (!isActive())
            start();
    }
    void suspend() { stop(); }
};
